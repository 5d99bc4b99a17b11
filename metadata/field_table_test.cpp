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
  // Positions count from one.
  EXPECT_EQ(FieldIdAt(0), 0u);
  EXPECT_EQ(FieldIdAt(FieldCount() + 1), 0u);
}

TEST(FieldTableTest, LabelsIncludingCompositeCustomAndUnknown) {
  EXPECT_EQ(FieldLabel(nullptr, 0x3), FieldLabel(nullptr, 0x4));  // a composite shares its part's label
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

// IIM fields have their data set's limit, custom fields their names' 255
// bytes, other fields none.
TEST(FieldTableTest, MaximumLengths) {
  const std::pair<FieldId, int> cases[] = {{0x219, 63}, {0x302, 255}, {0x5, 0}, {0x311, 0}};
  for (auto [id, want] : cases) EXPECT_EQ(FieldMaxLength(id), want) << std::hex << id;
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
  catalog::EncodeFixedPart(r, catalog::NameText::kConverted, bytes);

  auto read = [&](FieldId id) -> std::uint64_t {
    std::size_t offset = 0, length = 0;
    EXPECT_TRUE(FieldStorage(id, offset, length)) << std::hex << id;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < length && i < 8; ++i) v = (v << 8) | bytes.at(offset + i);
    return v;
  };
  const std::pair<FieldId, std::uint64_t> cases[] = {
      {0x4, r.type_code},     {0x5, r.file_size},     {0x7, r.height},        {0x8, r.resolution},
      {0x10, r.duration},     {0x14, r.spatial_quality}, {0x16, r.compression}, {0x1f, 7u},
      {0x21, r.annotated},    {0x45, r.orientation},
  };
  for (auto [id, want] : cases) EXPECT_EQ(read(id), want) << std::hex << id;
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
