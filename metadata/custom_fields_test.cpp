// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/custom_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/save.h"
#include "metadata/catalog_fixture_test_support.h"

namespace norvo::metadata {
namespace {

using catalog::Catalog;

class CustomFieldsTest : public testing::CatalogFixture {
 protected:
  static std::vector<std::uint8_t> Annotations(const Catalog& c, int cell) {
    catalog::ItemRecord r;
    EXPECT_EQ(catalog::GetItemRecord(c, cell, catalog::kWithoutOptionalParts, r), err::kNone);
    return r.annotations;
  }
};

TEST_F(CustomFieldsTest, AddsUpToSixteenUniqueNames) {
  Catalog& c = Open();
  FieldId id = 0;
  ASSERT_EQ(AddCustomField(c, "Client", &id), err::kNone);
  EXPECT_EQ(id, 0x301u);
  EXPECT_TRUE(c.changed());
  EXPECT_EQ(FieldLabel(&c, 0x301), "Client");
  EXPECT_EQ(AddCustomField(c, "CLIENT"), err::kCustomFieldNameTaken);
  EXPECT_NE(CustomFieldMessage(err::kCustomFieldNameTaken), "");
  EXPECT_EQ(AddCustomField(c, ""), err::kParam);
  EXPECT_EQ(AddCustomField(c, std::string(256, 'x')), err::kParam);
  for (int i = 2; i <= 16; ++i) {
    ASSERT_EQ(AddCustomField(c, "Field " + std::to_string(i), &id), err::kNone);
    EXPECT_EQ(id, 0x300u + static_cast<FieldId>(i));
  }
  EXPECT_EQ(AddCustomField(c, "Seventeenth"), err::kTooManyCustomFields);
  EXPECT_NE(CustomFieldMessage(err::kTooManyCustomFields), "");
  EXPECT_EQ(CustomFieldCount(c), 16);
  EXPECT_EQ(FindCustomField(c, "field 9"), 0x309u);
  EXPECT_EQ(FindCustomField(c, "Nothing"), 0u);
}

TEST_F(CustomFieldsTest, RenameKeepsNamesUnique) {
  Catalog& c = Open();
  ASSERT_EQ(AddCustomField(c, "Client"), err::kNone);
  ASSERT_EQ(AddCustomField(c, "Job"), err::kNone);
  EXPECT_EQ(RenameCustomField(c, 0x302, "client"), err::kCustomFieldNameTaken);
  EXPECT_EQ(RenameCustomField(c, 0x301, "CLIENT"), err::kNone);  // its own name in other case
  EXPECT_EQ(RenameCustomField(c, 0x302, "Order"), err::kNone);
  EXPECT_EQ(FieldLabel(&c, 0x302), "Order");
  EXPECT_EQ(RenameCustomField(c, 0x303, "Unused"), err::kParam);
  EXPECT_EQ(RenameCustomField(c, 0x220, "Not custom"), err::kParam);
}

TEST_F(CustomFieldsTest, NamesInEveryScriptCompareIgnoringCase) {
  Catalog& c = Open();
  const std::string client = "\u041a\u043b\u0438\u0435\u043d\u0442";  // Клиент
  FieldId id = 0;
  ASSERT_EQ(AddCustomField(c, client, &id), err::kNone);
  ASSERT_EQ(AddCustomField(c, "Stra\u00dfe"), err::kNone);
  struct Case {
    const char* fault;
    const char* name;
    FieldId found;
  };
  const Case cases[] = {
      {"Cyrillic case counted", "\u041a\u041b\u0418\u0415\u041d\u0422", 0x301},
      {"sharp s apart from ss", "STRASSE", 0x302},
      {"a different Cyrillic name taken for it", "\u041a\u043b\u0438\u043a", 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.fault);
    EXPECT_EQ(FindCustomField(c, k.name), k.found);
    EXPECT_EQ(AddCustomField(c, k.name), k.found != 0 ? err::kCustomFieldNameTaken : err::kNone);
  }
  EXPECT_EQ(FieldLabel(&c, id), client);
  // 255 letters of two bytes each fit: the stored name holds one byte a letter.
  std::string longest;
  for (int i = 0; i < 255; ++i) longest += "\u044f";
  EXPECT_EQ(RenameCustomField(c, 0x303, longest), err::kNone);
  EXPECT_EQ(RenameCustomField(c, 0x303, longest + "\u044f"), err::kParam);
}

TEST_F(CustomFieldsTest, RemoveAsksThenClearsOnlyThatFieldInEveryItem) {
  Catalog& c = Open();
  for (const char* name : {"Client", "Job", "Invoice"}) ASSERT_EQ(AddCustomField(c, name), err::kNone);
  Add(c, {"a", {{0x278, "caption"}, {0x302, "job one"}, {0x301, "acme"}, {0x302, "again"}}});
  Add(c, {"b", {{0x303, "inv-7"}}});
  Add(c, {"c"});
  const auto before = Annotations(c, 1);
  const auto untouched = Annotations(c, 2);

  std::string asked;
  EXPECT_EQ(RemoveCustomField(c, 0x302, [&](std::string_view q) { asked = q; return false; }),
            err::kUserCancelled);
  EXPECT_FALSE(asked.empty());
  EXPECT_EQ(FieldLabel(&c, 0x302), "Job");
  EXPECT_EQ(Annotations(c, 1), before);

  ASSERT_EQ(RemoveCustomField(c, 0x302, [](std::string_view) { return true; }), err::kNone);
  std::vector<std::uint8_t> want = {0x1C, 2, 120, 0, 7, 'c', 'a', 'p', 't', 'i', 'o', 'n',
                                    0x1C, 3, 1,   0, 4, 'a', 'c', 'm', 'e'};
  EXPECT_EQ(Annotations(c, 1), want);
  EXPECT_EQ(Annotations(c, 2), untouched);
  EXPECT_TRUE(Annotations(c, 3).empty());
  // The later field keeps its id; the hole is what the next field takes.
  EXPECT_EQ(FieldLabel(&c, 0x302), "<?>");
  EXPECT_EQ(FieldLabel(&c, 0x303), "Invoice");
  EXPECT_EQ(CustomFieldCount(c), 2);
  FieldId id = 0;
  ASSERT_EQ(AddCustomField(c, "Job", &id), err::kNone);
  EXPECT_EQ(id, 0x302u);

  ASSERT_EQ(RemoveCustomField(c, 0x303, {}), err::kNone);
  EXPECT_EQ(c.custom_field_names.size(), 2u);
  EXPECT_TRUE(Annotations(c, 2).empty());
  EXPECT_EQ(RemoveCustomField(c, 0x303, {}), err::kParam);
}

TEST_F(CustomFieldsTest, NamesTravelInTheCatalogFile) {
  Catalog& c = Open();
  ASSERT_EQ(AddCustomField(c, "Client"), err::kNone);
  ASSERT_EQ(AddCustomField(c, "Job \u00e9t\u00e9"), err::kNone);
  ASSERT_EQ(AddCustomField(c, "Invoice"), err::kNone);
  ASSERT_EQ(RemoveCustomField(c, 0x302, {}), err::kNone);
  ASSERT_EQ(RenameCustomField(c, 0x301, "Customer"), err::kNone);
  FileSpec file = Spec("fields.nrk");
  ASSERT_EQ(catalog::SaveCatalog(c, &file, {}), err::kNone);

  Catalog& reopened = Open("fields.nrk");
  EXPECT_EQ(FieldLabel(&reopened, 0x301), "Customer");
  EXPECT_EQ(FieldLabel(&reopened, 0x302), "<?>");
  EXPECT_EQ(FieldLabel(&reopened, 0x303), "Invoice");
  EXPECT_EQ(FindCustomField(reopened, "invoice"), 0x303u);
}

TEST_F(CustomFieldsTest, ColourLabelKeepsTheLabelledCount) {
  Catalog& c = Open();
  Add(c, {"a"});
  Add(c, {"b"});
  std::vector<catalog::Notification> seen;
  c.notify = [&](catalog::Notification n, std::uint32_t) { seen.push_back(n); };

  ASSERT_EQ(SetColourLabel(c, 1, 3), err::kNone);
  EXPECT_EQ(c.cells[0].label(), 3);
  EXPECT_EQ(c.totals.labelled_count, 1);
  ASSERT_EQ(SetColourLabel(c, 1, 5), err::kNone);
  EXPECT_EQ(c.totals.labelled_count, 1);
  ASSERT_EQ(SetColourLabel(c, 2, 9), err::kNone);
  EXPECT_EQ(c.totals.labelled_count, 2);
  ASSERT_EQ(SetColourLabel(c, 1, 12), err::kNone);  // out of range: no label
  EXPECT_EQ(c.cells[0].label(), 0);
  EXPECT_EQ(c.totals.labelled_count, 1);
  ASSERT_EQ(SetColourLabel(c, 2, -1), err::kNone);
  EXPECT_EQ(c.totals.labelled_count, 0);
  EXPECT_EQ(seen.size(), 5u);
  ASSERT_EQ(SetColourLabel(c, 1, 15), err::kNone);  // already none: no change to report
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(SetColourLabel(c, 3, 1), err::kParam);
  EXPECT_EQ(ColourLabelName(10), "");
}

}  // namespace
}  // namespace norvo::metadata
