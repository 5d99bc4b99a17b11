// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/field_table.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

#include "catalog/catalog.h"
#include "catalog/item_record.h"
#include "metadata/string_table.h"

namespace norvo::metadata {
namespace {

TEST(FieldTableTest, PositionsCountFromOneInTableOrder) {
  EXPECT_EQ(FieldCount(), 110);
  EXPECT_EQ(FieldIdAt(0), 0u);
  EXPECT_EQ(FieldIdAt(1), 0x2u);
  EXPECT_EQ(FieldIdAt(2), 0x1u);
  EXPECT_EQ(FieldIdAt(3), FourCC("VNam"));
  EXPECT_EQ(FieldIdAt(5), 0x20au);
  EXPECT_EQ(FieldIdAt(47), 0xA96D616Bu);  // the first metadata text item
  EXPECT_EQ(FieldIdAt(51), 0xb4u);
  EXPECT_EQ(FieldIdAt(52), 0x65789000u);
  EXPECT_EQ(FieldIdAt(71), FourCC("ALTD"));
  EXPECT_EQ(FieldIdAt(72), 0x269u);
  EXPECT_EQ(FieldIdAt(94), 0x278u);
  EXPECT_EQ(FieldIdAt(95), 0x301u);
  EXPECT_EQ(FieldIdAt(110), 0x310u);
  EXPECT_EQ(FieldIdAt(111), 0u);
}

// Every definition must be reachable by its id and point at texts that
// exist: a wrong label index, unit or list number shows up as an empty text.
TEST(FieldTableTest, EveryDefinitionIsUniqueAndNamesExistingTexts) {
  std::set<FieldId> seen;
  for (int i = 1; i <= FieldCount(); ++i) {
    FieldId id = FieldIdAt(i);
    SCOPED_TRACE(testing::Message() << "position " << i << " id 0x" << std::hex << id);
    EXPECT_TRUE(seen.insert(id).second);
    const FieldDefinition* f = FindField(id);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->id, id);
    EXPECT_NE(FieldSectionName(id), "");
    EXPECT_NE(f->width, 0);
    if (f->label != 0) {
      EXPECT_NE(FieldLabel(nullptr, id), "");
    }
    if (f->unit != 0) {
      EXPECT_NE(FieldUnitLabel(id), "");
    }
    if (f->choice_list != 0) {
      EXPECT_GT(ListLength(strings::kChoiceListBase + f->choice_list), 0);
    }
    EXPECT_EQ(IsCustomField(id), f->label == kCustomLabel);
  }
}

TEST(FieldTableTest, LabelsIncludingCompositeCustomAndUnknown) {
  EXPECT_EQ(FieldLabel(nullptr, 0x2), "File Name");
  EXPECT_EQ(FieldLabel(nullptr, 0x3), "File Type");
  EXPECT_EQ(FieldLabel(nullptr, 0x4), "File Type");
  EXPECT_EQ(FieldLabel(nullptr, 0x6578829a), "Shutter Speed");
  EXPECT_EQ(FieldLabel(nullptr, 0x237), "Event Date");
  EXPECT_EQ(FieldLabel(nullptr, 0xb4), "Source-URL");

  std::string label = "stale";
  EXPECT_EQ(FieldLabel(nullptr, 0x44, label), err::kNone);  // in the table, without a label
  EXPECT_EQ(label, "");
  label = "stale";
  EXPECT_NE(FieldLabel(nullptr, 0x2f2, label), err::kNone);
  EXPECT_EQ(label, "");

  catalog::Catalog c;
  c.custom_field_names = {"Client", "Job", "Invoice"};
  EXPECT_EQ(FieldLabel(&c, 0x302), "Job");
  EXPECT_EQ(FieldLabel(&c, 0x305), "<?>");
  EXPECT_EQ(FieldLabel(nullptr, 0x301), "<?>");
  c.custom_field_names[0].clear();  // a removed field
  EXPECT_EQ(FieldLabel(&c, 0x301), "<?>");
}

TEST(FieldTableTest, WidthsMaximaAndAttributes) {
  EXPECT_EQ(DefaultColumnWidth(0x2), 120);
  EXPECT_EQ(DefaultColumnWidth(0x5), 60);
  EXPECT_EQ(DefaultColumnWidth(0x42), 90);
  EXPECT_EQ(DefaultColumnWidth(0x2f2), 90);

  EXPECT_EQ(FieldMaxLength(0x20a), 1);
  EXPECT_EQ(FieldMaxLength(0x20f), 3);
  EXPECT_EQ(FieldMaxLength(0x27a), 31);
  EXPECT_EQ(FieldMaxLength(0x265), 63);
  EXPECT_EQ(FieldMaxLength(0x276), 127);
  EXPECT_EQ(FieldMaxLength(0x237), 255);
  EXPECT_EQ(FieldMaxLength(0x310), 255);
  EXPECT_EQ(FieldMaxLength(0x278), 2000);
  EXPECT_EQ(FieldMaxLength(0x5), 0);
  EXPECT_EQ(FieldMaxLength(0x311), 0);

  EXPECT_TRUE(IsListField(0x219));
  EXPECT_TRUE(IsListField(0xa2));
  EXPECT_FALSE(IsListField(0x278));
  EXPECT_TRUE(IsLongTextField(0x278));
  EXPECT_TRUE(IsColumnField(0x2));
  EXPECT_FALSE(IsColumnField(0x4));   // find criterion only
  EXPECT_FALSE(IsColumnField(0x278)); // neither
  EXPECT_FALSE(IsColumnField(0x2f2));
  EXPECT_TRUE(IsMetadataTextField(0x43));
  EXPECT_EQ(FieldSearchKind(0x4), SearchKind::kTypeCode);
  EXPECT_EQ(FieldSearchKind(0xb), SearchKind::kDate);
  EXPECT_EQ(FieldSearchKind(0x42), SearchKind::kNone);
  EXPECT_EQ(FieldSearchKind(0x2f2), SearchKind::kNone);
  EXPECT_EQ(FieldSection(0x269), sections::kAnnotations);
  EXPECT_EQ(FieldSection(0x2f2), 0);
  EXPECT_TRUE(FieldGroups(0x25a));
  EXPECT_FALSE(FieldGroups(0x269));
  EXPECT_EQ(FieldUnitLabel(0x23), "FPS");
  EXPECT_EQ(FieldUnitLabel(0x2), "");
}

// The storage member must point at the bytes the catalog writes for the
// same fact: encode a record and read the value back at that place.
TEST(FieldTableTest, StorageLocatesTheValueInTheEncodedRecord) {
  catalog::ItemRecord r;
  r.type_code = FourCC("JPEG");
  r.file_size = 123456;
  r.width = 640;
  r.height = 480;
  r.resolution = 300;
  r.duration = 25;
  r.spatial_quality = 4;
  r.orientation = 0x4856;
  r.compression = 0x00020001;
  r.annotated = 3000000000u;
  r.encoding_name = {5, 'U', 'T', 'F', '-', '8'};
  r.annotations.assign(7, 0x1C);
  r.syncPartLengths();
  std::array<std::uint8_t, catalog::kFixedPartSize> bytes{};
  catalog::EncodeFixedPart(r, true, bytes);

  auto read = [&](FieldId id) -> std::uint64_t {
    std::size_t offset = 0, length = 0;
    EXPECT_TRUE(FieldStorage(id, offset, length)) << std::hex << id;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < length && i < 8; ++i) v = (v << 8) | bytes.at(offset + i);
    return v;
  };
  EXPECT_EQ(read(0x4), r.type_code);
  EXPECT_EQ(read(0x5), r.file_size);
  EXPECT_EQ(read(0x7), r.height);
  EXPECT_EQ(read(0x8), r.resolution);
  EXPECT_EQ(read(0x10), r.duration);
  EXPECT_EQ(read(0x14), r.spatial_quality);
  EXPECT_EQ(read(0x16), r.compression);
  EXPECT_EQ(read(0x1f), 7u);
  EXPECT_EQ(read(0x21), r.annotated);
  EXPECT_EQ(read(0x45), r.orientation);
  EXPECT_EQ(read(0x41), (std::uint64_t{640} << 32) | 480);
  std::size_t offset = 0, length = 0;
  ASSERT_TRUE(FieldStorage(0x17, offset, length));
  EXPECT_EQ(bytes.at(offset), 5);
  EXPECT_EQ(bytes.at(offset + 1), 'U');
  EXPECT_FALSE(FieldStorage(0x219, offset, length));
  EXPECT_EQ(length, 0u);
}

}  // namespace
}  // namespace norvo::metadata
