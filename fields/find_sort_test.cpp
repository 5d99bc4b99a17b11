// SPDX-License-Identifier: GPL-3.0-or-later
#include "fields/find_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "fields/groups.h"
#include "metadata/catalog_fixture_test_support.h"
#include "metadata/custom_fields.h"

namespace norvo::fields {
namespace {

// Field definitions, values and annotations of the layer below.
using metadata::DateTimeOfDay;
using metadata::FieldCount;
using metadata::FieldId;
using metadata::FieldSearchKind;
using metadata::FieldSection;
using metadata::SearchKind;
using metadata::SetColourLabel;
namespace field_ids = metadata::field_ids;
namespace sections = metadata::sections;

using metadata::testing::ItemSpec;

constexpr FieldId kAuthor = 0x250;
constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCaption = 0x278;
constexpr FieldId kModified = 0xc;

SortKey Number(SortKeyType type, std::int64_t n, std::int64_t d = 0) {
  SortKey k;
  k.type = type;
  k.number = n;
  k.denominator = d;
  return k;
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

TEST(SortKeys, TextKeysCollateIgnoringCaseWithDigitRunsAsNumbersWhenNatural) {
  struct Case {
    const char* fault;
    std::string a;
    std::string b;
    bool natural;
    int sign;
  };
  const std::string long_prefix(kMaxSortKeyText - 1, 'x');
  const Case cases[] = {
      {"digit runs compared character by character in natural order", "IMG2", "IMG10", true, -1},
      {"digit runs read as numbers in plain order", "IMG10", "IMG2", false, -1},
      {"leading zeros change a number", "IMG02", "IMG2", true, 0},
      {"case counted", "abc", "ABC", false, 0},
      {"a prefix not first", "ABC", "ABCD", false, -1},
      {"an accented capital sorted after Z", "\u00c9mile", "Zo\u00e9", false, -1},
      {"an accented capital sorted before the E's", "Edgar", "\u00c9mile", false, -1},
      {"text past the key's length counted", long_prefix + "xa", long_prefix + "xb", false, 0},
      // 2-byte characters across the cut: the key must not end in half a letter.
      {"a character cut in half", long_prefix + "\u00e9a", long_prefix + "\u00e9b", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    EXPECT_EQ(Sign(CompareSortKeys(TextSortKey(c.a, c.natural), TextSortKey(c.b, c.natural))), c.sign);
    EXPECT_EQ(Sign(CompareSortKeys(TextSortKey(c.b, c.natural), TextSortKey(c.a, c.natural))), -c.sign);
  }
}

TEST(SortKeys, MissingFirstMixedTypesEqualRationalsByCrossProduct) {
  SortKey none;
  const SortKey a = TextSortKey("A", false);
  EXPECT_LT(CompareSortKeys(none, Number(SortKeyType::kByte, -5)), 0);
  EXPECT_GT(CompareSortKeys(a, none), 0);
  EXPECT_EQ(CompareSortKeys(none, none), 0);
  EXPECT_EQ(CompareSortKeys(a, Number(SortKeyType::kUnsigned, 3)), 0);
  EXPECT_LT(CompareSortKeys(Number(SortKeyType::kInt16, -2), Number(SortKeyType::kInt16, 1)), 0);
  EXPECT_LT(CompareSortKeys(Number(SortKeyType::kRational, 1, 3), Number(SortKeyType::kRational, 1, 2)), 0);
  EXPECT_EQ(CompareSortKeys(Number(SortKeyType::kRational, 2, 4), Number(SortKeyType::kRational, 1, 2)), 0);
}

class FindSortTest : public metadata::testing::CatalogFixture {};

TEST_F(FindSortTest, SortingPutsItemsWithoutTheValueFirstAscendingAndLastDescending) {
  auto& c = Open();
  std::uint32_t b = Add(c, {"b.jpg", {{kAuthor, "Bert"}}});
  std::uint32_t none1 = Add(c, {"n1.jpg", {}});
  std::uint32_t a = Add(c, {"a.jpg", {{kAuthor, "anna"}}});
  std::uint32_t none2 = Add(c, {"n2.jpg", {}});
  c.modification_stamp = 0;

  bool moved = false;
  ASSERT_EQ(SortItems(c, kAuthor, false, false, &moved), err::kNone);
  EXPECT_TRUE(moved);
  EXPECT_TRUE(c.changed());
  EXPECT_EQ(Ids(c), (std::vector<std::uint32_t>{none1, none2, a, b}));
  ASSERT_EQ(SortItems(c, kAuthor, true, false, &moved), err::kNone);
  EXPECT_EQ(Ids(c), (std::vector<std::uint32_t>{b, a, none1, none2}));  // equal keys keep their order

  c.modification_stamp = 0;
  ASSERT_EQ(SortItems(c, kAuthor, true, false, &moved), err::kNone);
  EXPECT_FALSE(moved);
  EXPECT_FALSE(c.changed());
}

TEST_F(FindSortTest, EqualKeysKeepTheirOrderAndHiddenItemsStayBehind) {
  auto& c = Open();
  std::uint32_t lower = Add(c, {"abc.jpg"});
  std::uint32_t hidden1 = Add(c, {"A.jpg"});
  std::uint32_t upper = Add(c, {"ABC.JPG"});
  std::uint32_t hidden2 = Add(c, {"0.jpg"});
  std::uint32_t img10 = Add(c, {"IMG10"});
  std::uint32_t img2 = Add(c, {"IMG2"});
  ASSERT_EQ(SetItemHidden(c, 2, true), err::kNone);
  ASSERT_EQ(SetItemHidden(c, 4, true), err::kNone);
  EXPECT_EQ(HiddenItemCount(c), 2);

  ASSERT_EQ(SortItems(c, field_ids::kFileName, false, false), err::kNone);
  // "abc.jpg" and "ABC.JPG" differ only in case: equal, they keep their order.
  EXPECT_EQ(Ids(c), (std::vector<std::uint32_t>{lower, upper, img10, img2, hidden1, hidden2}));
  ASSERT_EQ(SortItems(c, field_ids::kFileName, true, true), err::kNone);
  EXPECT_EQ(Ids(c), (std::vector<std::uint32_t>{img10, img2, lower, upper, hidden1, hidden2}));
}

// Manual order: the moved items keep their order among themselves, land
// before the target, and a target that is itself moved gives way to the
// next item that is not.
TEST_F(FindSortTest, MovedItemsStandTogetherBeforeTheTarget) {
  auto& c = Open();
  std::vector<std::uint32_t> id;
  for (const char* name : {"a", "b", "c", "d", "e"}) id.push_back(Add(c, {name}));
  const int everything = c.itemCount() + 1;
  struct Case {
    std::vector<int> cells;
    int before;
    std::vector<int> want;  // indexes into id
  };
  const Case cases[] = {
      {{4, 2}, 1, {1, 3, 0, 2, 4}},           // to the top, in their present order
      {{1, 3}, everything, {1, 3, 4, 0, 2}},  // to the bottom
      {{5}, 2, {0, 4, 1, 2, 3}},              // one item up
      {{1, 4}, 3, {1, 0, 3, 2, 4}},           // from both sides into the middle
      {{2, 3}, 3, {0, 1, 2, 3, 4}},           // before one of its own: before the next one not moved
      {{2, 3}, 4, {0, 1, 2, 3, 4}},           // already there: nothing changes
  };
  for (const Case& k : cases) {
    // Each case starts from a, b, c, d, e.
    ASSERT_EQ(SortItems(c, field_ids::kFileName, false, false), err::kNone);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(c.cells[static_cast<std::size_t>(i)].item_id, id[static_cast<std::size_t>(i)]);
    c.modification_stamp = 0;
    ASSERT_EQ(MoveItems(c, k.cells, k.before), err::kNone);
    std::vector<std::uint32_t> want;
    for (int i : k.want) want.push_back(id[static_cast<std::size_t>(i)]);
    EXPECT_EQ(Ids(c), want) << k.before;
    EXPECT_EQ(c.changed(), want != id) << k.before;
  }
  EXPECT_EQ(MoveItems(c, std::vector<int>{6}, 1), err::kParam);
  EXPECT_EQ(MoveItems(c, std::vector<int>{1}, everything + 1), err::kParam);
}

TEST_F(FindSortTest, NamesInEveryScriptSortInTheirOwnAlphabet) {
  auto& c = Open();
  // Added in reverse of each script's order; byte order would keep several
  // of them where they are (Ё before Е, katakana after hiragana, É after Z).
  std::uint32_t zoe = Add(c, {"Zo\u00e9.jpg"});
  std::uint32_t emile = Add(c, {"\u00c9mile.jpg"});
  std::uint32_t edgar = Add(c, {"edgar.jpg"});
  std::uint32_t zhanna = Add(c, {"\u0416\u0430\u043d\u043d\u0430.jpg"});
  std::uint32_t yolka = Add(c, {"\u0401\u043b\u043a\u0430.jpg"});
  std::uint32_t yegor = Add(c, {"\u0415\u0433\u043e\u0440.jpg"});
  std::uint32_t kitsune = Add(c, {"\u304d\u3064\u306d.jpg"});
  std::uint32_t kamera = Add(c, {"\u30ab\u30e1\u30e9.jpg"});
  std::uint32_t omega = Add(c, {"\u03a9\u03bc\u03ad\u03b3\u03b1.jpg"});
  std::uint32_t alpha = Add(c, {"\u03ac\u03bb\u03c6\u03b1.jpg"});
  std::uint32_t ta = Add(c, {"\u062a\u0641\u0627\u062d.jpg"});
  std::uint32_t ba = Add(c, {"\u0628\u0627\u0628.jpg"});
  std::uint32_t party = Add(c, {"\U0001F389 party.jpg"});
  std::uint32_t apple = Add(c, {"apple.jpg"});

  ASSERT_EQ(SortItems(c, field_ids::kFileName, false, false), err::kNone);
  // Scripts may come in another order in another locale; within each the
  // alphabet decides.
  auto order_of = [&c](std::vector<std::uint32_t> subset) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t id : Ids(c)) {
      if (std::find(subset.begin(), subset.end(), id) != subset.end()) out.push_back(id);
    }
    return out;
  };
  EXPECT_EQ(order_of({zoe, emile, edgar, apple}), (std::vector<std::uint32_t>{apple, edgar, emile, zoe}));
  EXPECT_EQ(order_of({zhanna, yolka, yegor}), (std::vector<std::uint32_t>{yegor, yolka, zhanna}));
  EXPECT_EQ(order_of({kitsune, kamera}), (std::vector<std::uint32_t>{kamera, kitsune}));
  EXPECT_EQ(order_of({omega, alpha}), (std::vector<std::uint32_t>{alpha, omega}));
  EXPECT_EQ(order_of({ta, ba}), (std::vector<std::uint32_t>{ba, ta}));
  // Symbols come before letters in every locale's collation.
  EXPECT_EQ(Ids(c).front(), party);

  // The same order by an annotation holding the names, and descending is
  // its mirror.
  auto& d = Open();
  std::vector<std::uint32_t> ids;
  for (const char* name : {"\u0416\u0430\u043d\u043d\u0430", "\u0401\u043b\u043a\u0430", "\u0415\u0433\u043e\u0440"}) {
    ids.push_back(Add(d, {"x.jpg", {{kAuthor, name}}}));
  }
  ASSERT_EQ(SortItems(d, kAuthor, true, false), err::kNone);
  EXPECT_EQ(Ids(d), ids);
  ASSERT_EQ(SortItems(d, kAuthor, false, false), err::kNone);
  EXPECT_EQ(Ids(d), (std::vector<std::uint32_t>{ids[2], ids[1], ids[0]}));
}

TEST_F(FindSortTest, SortingAgreesWithAStableSortOfTheKeysWhateverTheNamesShare) {
  // Names with long shared beginnings, names that begin others, case
  // variants, several scripts and items without a value: the sort ranks by
  // the key bytes after the shared part and must still order as the keys do.
  const std::vector<std::vector<std::string>> stem_sets = {
      {"DSC_000", "dsc_000", "DSC_0001", "DSC_00", ""},  // all keys share their first bytes
      {"DSC_000", "DSC_00", "\u00c9t\u00e9 ", "\u0424\u043e\u0442\u043e ", "\u5199\u771f", ""}};
  std::mt19937 rng(11);
  for (const auto& stems : stem_sets) {
    for (bool natural : {false, true}) {
      for (bool descending : {false, true}) {
        auto& c = Open();
        std::vector<std::pair<std::uint32_t, SortKey>> expected;
        for (int i = 0; i < 60; ++i) {
          std::string author = stems[rng() % stems.size()];
          if (!author.empty()) author += std::to_string(rng() % 12);
          std::uint32_t id = author.empty() ? Add(c, {"x"}) : Add(c, {"x", {{kAuthor, author}}});
          expected.emplace_back(id, author.empty() ? SortKey{} : TextSortKey(author, natural));
        }
        std::stable_sort(expected.begin(), expected.end(), [descending](const auto& a, const auto& b) {
          int r = CompareSortKeys(a.second, b.second);
          return descending ? r > 0 : r < 0;
        });
        std::vector<std::uint32_t> want;
        for (const auto& e : expected) want.push_back(e.first);
        ASSERT_EQ(SortItems(c, kAuthor, descending, natural), err::kNone);
        EXPECT_EQ(Ids(c), want) << stems[0] << " natural " << natural << " descending " << descending;
      }
    }
  }
}

TEST_F(FindSortTest, SortByNumberUsesTheStoredFixedField) {
  auto& c = Open();
  std::uint32_t big = Add(c, {"x", {}, 5000});
  std::uint32_t small = Add(c, {"y", {}, 20});
  std::uint32_t mid = Add(c, {"z", {}, 300});
  ASSERT_EQ(SortItems(c, field_ids::kFileSize, false, false), err::kNone);
  EXPECT_EQ(Ids(c), (std::vector<std::uint32_t>{small, mid, big}));
  EXPECT_EQ(SortItems(c, 0x2f2, false, false), err::kParam);
}

TEST_F(FindSortTest, QuickSearchIgnoresCaseAndSeesSetNamesAndLabels) {
  auto& c = Open();
  std::uint32_t author = Add(c, {"one.jpg", {{kAuthor, "JOHN SMITH"}}});
  std::uint32_t in_set = Add(c, {"two.jpg"});
  std::uint32_t labelled = Add(c, {"three.jpg"});
  Add(c, {"four.jpg", {{kCaption, "nothing here"}}});
  int set = 0;
  ASSERT_EQ(AddSet(c, "Smithsonian trip", false, 0, &set), err::kNone);
  ASSERT_EQ(AddItemsToGroup(c, field_ids::kCatalogSets, set, std::vector<std::uint32_t>{in_set}), err::kNone);
  ASSERT_EQ(SetColourLabel(c, 3, 7), err::kNone);  // Yellow

  EXPECT_EQ(QuickSearch(c, "smith"), (std::vector<std::uint32_t>{author, in_set}));
  EXPECT_EQ(QuickSearch(c, "yellow"), std::vector<std::uint32_t>{labelled});
  const std::vector<std::uint32_t> within = {in_set, labelled};
  EXPECT_EQ(QuickSearch(c, "smith", &within),
            std::vector<std::uint32_t>{in_set});
  EXPECT_TRUE(QuickSearch(c, "").empty());
  EXPECT_TRUE(ItemContainsText(c, 4, "HERE"));
  EXPECT_FALSE(ItemContainsText(c, 4, "smith"));
  EXPECT_FALSE(ItemContainsText(c, 9, "x"));
  // Go To walks forward from the current item without wrapping.
  EXPECT_EQ(GoTo(c, GoToChoice::kNextContaining, 0, "three"), 3);
  EXPECT_EQ(GoTo(c, GoToChoice::kNextContaining, 3, "three"), 0);
  EXPECT_EQ(GoTo(c, GoToChoice::kNextLabelled, 0, ""), 3);
  EXPECT_EQ(GoTo(c, GoToChoice::kItemWithId, 0, std::to_string(in_set)), 2);
}

// Items whose texts exercise every script and both annotation encodings:
// 8-bit (Windows-1252) where it can hold the text, UTF-8 where it cannot.
class UnicodeFindTest : public metadata::testing::CatalogFixture {
 protected:
  void SetUp() override {
    CatalogFixture::SetUp();
    catalog_ = &Open();
    auto& c = *catalog_;
    Add(c, {"i1.jpg", {{kCaption, "Caf\u00e9 cr\u00e8me"}}});                     // 8-bit in the block
    Add(c, {"i2.jpg", {{kCaption, "Cafe\u0301 au lait"}}});                         // a combining accent
    Add(c, {"i3.jpg", {{kKeywords, "\u041c\u043e\u0441\u043a\u0432\u0430"}}});  // Москва
    Add(c, {"i4.jpg", {{kKeywords, "\u041f\u0420\u0418\u0412\u0415\u0422"}}});  // ПРИВЕТ
    Add(c, {"i5.jpg", {{kCaption, "STRASSE 5"}}});
    Add(c, {"\u6771\u4eac\u30bf\u30ef\u30fc.jpg", {{kKeywords, "\U0001F642"}}});  // 東京タワー, 🙂
    Add(c, {"i7.jpg", {{kCaption, "\u039f\u0394\u03a5\u03a3\u03a3\u0395\u03a5\u03a3"}}});  // ΟΔΥΣΣΕΥΣ
    Add(c, {"i8.jpg", {{kCaption, "\ufeb3\ufefc\ufee1"}}});  // سلام in presentation forms
  }
  std::vector<int> Cells(const std::vector<std::uint32_t>& ids) const {
    std::vector<int> out;
    for (std::uint32_t id : ids) out.push_back(catalog_->cellOf(id));
    return out;
  }
  catalog::Catalog* catalog_ = nullptr;
};

TEST_F(UnicodeFindTest, QuickSearchAndGoToFoldCaseAndNormalisationInEveryScript) {
  struct Case {
    const char* fault;
    const char* text;
    std::vector<int> cells;
  };
  const Case cases[] = {
      {"an 8-bit caption not found by its lower-case word (the reported fault)", "caf\u00e9", {1, 2}},
      {"upper case not folded", "CAF\u00c9", {1, 2}},
      {"a decomposed needle not composed", "cafe\u0301", {1, 2}},
      {"accents ignored", "cafe", {}},
      {"Cyrillic case not folded", "\u043c\u043e\u0441\u043a\u0432\u0430", {3}},
      {"Cyrillic words merged", "\u043f\u0440\u0438\u0432\u0435\u0442", {4}},
      {"sharp s not expanded", "stra\u00dfe", {5}},
      {"a true name not searched", "\u6771\u4eac", {6}},
      {"the lossy 8-bit name searched", "__", {}},
      {"emoji lost", "\U0001F642", {6}},
      {"final sigma apart", "\u03bf\u03b4\u03c5\u03c3\u03c3\u03b5\u03c5\u03c2", {7}},
      {"presentation forms not normalised", "\u0633\u0644\u0627\u0645", {8}},
  };
  const auto& c = *catalog_;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.fault);
    EXPECT_EQ(Cells(QuickSearch(c, k.text)), k.cells);
    // One item at a time (Go To) reads the record another way: same answers.
    std::vector<int> one_by_one;
    for (int cell = 1; cell <= c.itemCount(); ++cell) {
      if (ItemContainsText(c, cell, k.text)) one_by_one.push_back(cell);
    }
    EXPECT_EQ(one_by_one, k.cells);
  }
  EXPECT_EQ(GoTo(c, GoToChoice::kNextContaining, 0, "\u041c\u041e\u0421\u041a\u0412\u0410"), 3);
  EXPECT_EQ(GoTo(c, GoToChoice::kNextContaining, 1, "CAF\u00c9"), 2);
}

TEST_F(UnicodeFindTest, CriteriaCompareSearchFormsInEveryScript) {
  struct Case {
    const char* fault;
    FieldId field;
    int op;
    const char* value;
    std::vector<int> cells;
  };
  const Case cases[] = {
      {"distinct Cyrillic values equal (the reported fault)", kKeywords, text_ops::kIs,
       "\u041c\u043e\u0441\u043a\u0432\u0430", {3}},
      {"Cyrillic case counted", kKeywords, text_ops::kIs, "\u041f\u0440\u0438\u0432\u0435\u0442", {4}},
      {"normalisation counted by is", kCaption, text_ops::kIs, "CAFE\u0301 CR\u00c8ME", {1}},
      {"decomposed text not found by contains", kCaption, text_ops::kContains, "caf\u00e9", {1, 2}},
      {"starts with blind to composition", kCaption, text_ops::kStartsWith, "CAF\u00c9", {1, 2}},
      {"ends with cut inside a letter", kCaption, text_ops::kEndsWith, "cr\u00e8me", {1}},
      {"final sigma at the end apart", kCaption, text_ops::kEndsWith, "\u03c5\u03c2", {7}},
      {"doesn't contain case-sensitive", kKeywords, text_ops::kDoesNotContain, "\u043f\u0440\u0438",
       {1, 2, 3, 5, 6, 7, 8}},
      {"a true file name not read", field_ids::kFileName, text_ops::kStartsWith, "\u6771\u4eac", {6}},
      {"sharp s in the criterion not expanded", kCaption, text_ops::kStartsWith, "stra\u00dfe", {5}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.fault);
    Criterion crit{k.field, k.op, k.value};
    std::vector<std::uint32_t> ids;
    ASSERT_EQ(FindItems(*catalog_, std::span(&crit, 1), false, ids), err::kNone);
    EXPECT_EQ(Cells(ids), k.cells);
  }
}

struct Case {
  FieldId field;
  std::string op;
  std::string value;
  std::vector<int> matches;  // item numbers from 1
};

TEST_F(FindSortTest, CriteriaOfEachSearchKind) {
  auto& c = Open();
  constexpr std::uint32_t kDay = 86400;
  const std::uint32_t mar5 = DateTimeOfDay({2024, 3, 5});
  Add(c, {"a", {{kKeywords, "red"}, {kKeywords, "Blue"}, {kAuthor, "Ann Lee"}}, 100, mar5 + 23 * 3600, FourCC("JPEG")});
  Add(c, {"b", {{kKeywords, "green"}}, 0x80000000u, mar5 + kDay, FourCC("jpeg")});
  Add(c, {"c", {{kAuthor, "Lee"}}, 50, mar5 - 1, FourCC("TIFF")});
  auto run = [&c](const Case& k) {
    Criterion crit{k.field, OperatorFromName(FieldSearchKind(k.field), k.op), k.value};
    std::vector<std::uint32_t> ids;
    EXPECT_EQ(FindItems(c, std::span(&crit, 1), false, ids), err::kNone) << k.op;
    std::vector<int> cells;
    for (std::uint32_t id : ids) cells.push_back(c.cellOf(id));
    return cells;
  };
  const Case cases[] = {
      {kAuthor, "is", "lee", {3}},
      {kAuthor, "contains", "LEE", {1, 3}},
      {kAuthor, "contains", "", {}},
      {kAuthor, "doesn't contain", "ann", {2, 3}},
      {kAuthor, "starts with", "ann", {1}},
      {kAuthor, "ends with", "lee", {1, 3}},
      {kAuthor, "is empty", "", {2}},
      {kAuthor, "is not empty", "", {1, 3}},
      // Lists: any value for "contains", every value for "doesn't contain",
      // the first value alone for "is empty"; an item without values is
      // judged on the empty text.
      {kKeywords, "is", "blue", {1}},
      {kKeywords, "doesn't contain", "re", {3}},
      {kKeywords, "is empty", "", {3}},
      {kKeywords, "is not empty", "", {1, 2}},
      {kKeywords, "is", "", {1, 2, 3}},
      // Numbers compare unsigned.
      {field_ids::kFileSize, "is greater than", "100", {2}},
      {field_ids::kFileSize, "is less than or equal", "100", {1, 3}},
      {field_ids::kFileSize, "equals", "0x80000000", {2}},
      // Dates by calendar day, the time of day ignored.
      {kModified, "on", "2024-03-05", {1}},
      {kModified, "before", "2024:03:05", {3}},
      {kModified, "after", "20240305", {2}},
      // Type codes with a-z made upper case.
      {field_ids::kFileType, "is", "jpeg", {1, 2}},
      {field_ids::kFileType, "is not", "JPEG", {3}},
  };
  for (const Case& k : cases) EXPECT_EQ(run(k), k.matches) << k.op << " " << k.value;

  std::vector<Criterion> both = {{kAuthor, text_ops::kContains, "lee"}, {field_ids::kFileSize, number_ops::kLess, "60"}};
  std::vector<std::uint32_t> ids;
  ASSERT_EQ(FindItems(c, both, false, ids), err::kNone);
  EXPECT_EQ(ids, std::vector<std::uint32_t>{c.cells[2].item_id});
  ASSERT_EQ(FindItems(c, both, true, ids), err::kNone);
  EXPECT_EQ(ids.size(), 2u);
  // Rows that cannot be evaluated are refused as a whole.
  EXPECT_EQ(FindItems(c, std::vector<Criterion>{{field_ids::kFileSize, 1, "ten"}}, false, ids), err::kParam);
  EXPECT_EQ(FindItems(c, std::vector<Criterion>{{0xa1, 1, "x"}}, false, ids), err::kParam);
  EXPECT_EQ(FindItems(c, std::vector<Criterion>{{kAuthor, 8, "x"}}, false, ids), err::kParam);
}

TEST(FieldLists, FindFieldAtWalksTheTableThroughThePurposeFilter) {
  auto collect = [](std::uint8_t section, FieldPurpose purpose) {
    std::vector<FieldId> out;
    for (int n = 0; FieldId id = FindFieldAt(n, section, purpose); ++n) out.push_back(id);
    return out;
  };
  std::vector<FieldId> find = collect(0, FieldPurpose::kFind);
  for (FieldId id : find) EXPECT_NE(FieldSearchKind(id), SearchKind::kNone) << id;
  EXPECT_EQ(find.front(), field_ids::kFileName);
  EXPECT_EQ(std::count(find.begin(), find.end(), field_ids::kCatalogSets), 0);  // tier 2
  for (FieldId id : collect(sections::kAnnotations, FieldPurpose::kAnnotation)) {
    EXPECT_EQ(FieldSection(id), sections::kAnnotations);
  }
  EXPECT_EQ(collect(sections::kPhotoExif, FieldPurpose::kAnnotation).size(), 0u);
  EXPECT_EQ(collect(0, FieldPurpose::kAny).size(), static_cast<std::size_t>(FieldCount()));
  EXPECT_EQ(FindFieldAt(-1, 0, FieldPurpose::kAny), 0u);
}

TEST(FieldLists, SortMenuNumbersEntriesByPositionAndDisablesHeaders) {
  auto menu = SortMenu(nullptr);
  ASSERT_FALSE(menu.empty());
  for (std::size_t i = 0; i < menu.size(); ++i) {
    EXPECT_EQ(menu[i].command, kFirstSortCommand + static_cast<int>(i));
    if (menu[i].field != 0) {
      EXPECT_TRUE(menu[i].enabled) << menu[i].text;
    }
  }
  EXPECT_FALSE(menu[0].enabled);  // a section header
  EXPECT_EQ(OperatorFromName(SearchKind::kDate, "AFTER"), date_ops::kAfter);
  EXPECT_EQ(OperatorFromName(SearchKind::kDate, "contains"), 0);
}

// A settings store held in memory, with the settings store's interface.
struct MemoryStore {
  using Key = std::pair<std::string, std::string>;
  std::map<Key, std::vector<std::uint8_t>> binary;
  std::map<Key, std::string> strings;
  template <class Map>
  static std::optional<typename Map::mapped_type> Get(const Map& map, std::string_view k, std::string_view n) {
    auto it = map.find({std::string(k), std::string(n)});
    return it == map.end() ? std::nullopt : std::optional(it->second);
  }
  auto getBinary(std::string_view k, std::string_view n) const { return Get(binary, k, n); }
  auto getString(std::string_view k, std::string_view n) const { return Get(strings, k, n); }
  ErrorCode putBinary(std::string_view k, std::string_view n, std::span<const std::uint8_t> v) {
    binary[{std::string(k), std::string(n)}].assign(v.begin(), v.end());
    return err::kNone;
  }
  ErrorCode putString(std::string_view k, std::string_view n, std::string_view v) {
    strings[{std::string(k), std::string(n)}] = std::string(v);
    return err::kNone;
  }
  ErrorCode deleteValue(std::string_view k, std::string_view n) {
    return binary.erase({std::string(k), std::string(n)}) ? err::kNone : err::kFileNotFound;
  }
};

TEST(SavedQueries, RoundTripAndKeepTheirNames) {
  SavedQuery q;
  q.any = true;
  q.scope = SearchScope::kRecent;
  q.criteria = {{kAuthor, text_ops::kContains, "Caf\xE9"}, {field_ids::kFileSize, number_ops::kGreater, "10"}};
  auto bytes = EncodeQuery(q);
  auto back = DecodeQuery(bytes);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->any);
  EXPECT_EQ(back->scope, SearchScope::kRecent);
  ASSERT_EQ(back->criteria.size(), 2u);
  EXPECT_EQ(back->criteria[0].value, "Caf\xE9");
  EXPECT_EQ(back->criteria[1].field, field_ids::kFileSize);
  EXPECT_EQ(back->criteria[1].op, number_ops::kGreater);
  bytes.pop_back();
  EXPECT_FALSE(DecodeQuery(bytes));
  bytes = EncodeQuery(q);
  bytes.push_back(0);
  EXPECT_FALSE(DecodeQuery(bytes));

  MemoryStore store;
  ASSERT_EQ(SaveQuery(store, "Big", q), err::kNone);
  ASSERT_EQ(SaveQuery(store, "Lee", q), err::kNone);
  ASSERT_EQ(SaveQuery(store, "big", q), err::kNone);  // same name, replaced
  EXPECT_EQ(QueryNames(store), (std::vector<std::string>{"Big", "Lee"}));
  EXPECT_TRUE(LoadQuery(store, "Lee"));
  EXPECT_EQ(RemoveQuery(store, "Lee"), err::kNone);
  EXPECT_FALSE(LoadQuery(store, "Lee"));
  EXPECT_EQ(QueryNames(store), std::vector<std::string>{"Big"});
  EXPECT_EQ(SaveQuery(store, "", q), err::kParam);
}

TEST_F(FindSortTest, OtherCatalogFilesAreOpenedSearchedAndClosed) {
  {
    auto& c = Open();
    Add(c, {"a", {{kAuthor, "Lee"}}});
    Add(c, {"b", {{kAuthor, "Kim"}}});
    FileSpec out = Spec("one.nrk");
    ASSERT_EQ(catalog::SaveCatalog(c, &out, {}), err::kNone);
    Close(c);
  }
  std::ofstream(Path("broken.nrk")) << "not a catalog";
  auto files = CatalogFilesInFolder(dir_);
  ASSERT_EQ(files, (std::vector<std::string>{Path("broken.nrk"), Path("one.nrk")}));
  std::vector<Criterion> crit = {{kAuthor, text_ops::kIs, "kim"}};
  auto found = FindInCatalogFiles(files, crit, false, dir_);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_NE(found[0].result, err::kNone);
  EXPECT_EQ(found[1].result, err::kNone);
  EXPECT_EQ(found[1].ids.size(), 1u);
  // Closed again: no lock file is left beside the catalog.
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find(".one.nrk_"), std::string::npos);
  }
}

}  // namespace
}  // namespace norvo::fields
