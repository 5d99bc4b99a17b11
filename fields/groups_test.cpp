// SPDX-License-Identifier: GPL-3.0-or-later
#include "fields/groups.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "fields/find_sort.h"
#include "metadata/catalog_fixture_test_support.h"
#include "platform/unicode_text.h"

namespace norvo::fields {
namespace {

// Field definitions, values and annotations of the layer below.
using metadata::CatalogSetsOf;
using metadata::DateTimeOfDay;
using metadata::FieldId;
using metadata::ItemFields;
namespace field_ids = metadata::field_ids;

constexpr FieldId kAuthor = 0x250;
constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCaption = 0x278;
constexpr FieldId kSets = field_ids::kCatalogSets;

std::vector<std::string> Names(const catalog::Catalog& c, FieldId id) {
  std::vector<std::string> out;
  for (int p = 1; p <= GroupCount(c, id); ++p) out.push_back(GroupAt(c, id, p)->name);
  return out;
}

TEST(OrganizerTable, EveryRowHasASlotOfItsOwn) {
  std::set<std::uint32_t> slots;
  for (const OrganizerRow& r : OrganizerTable()) EXPECT_TRUE(slots.insert(r.slot).second) << r.slot;
  EXPECT_EQ(OrganizerRowOf(kSets)->slot, catalog::kCatalogSetSlot);
  // Value groups the program computes can neither take items nor be renamed.
  for (FieldId id : {0x3u, 0x43u, 0x18u, 0xa1u}) {
    EXPECT_FALSE(CanAddToGroup(id)) << id;
    EXPECT_FALSE(CanRenameGroup(id)) << id;
  }
  for (FieldId id : {kSets, 0x205u, 0x219u, 0x310u}) EXPECT_TRUE(CanRenameGroup(id)) << id;
}

class GroupsTest : public metadata::testing::CatalogFixture {};

TEST_F(GroupsTest, NamesCompareWithoutCaseAndAPrefixFirst) {
  auto& c = Open();
  ASSERT_EQ(KeepGroupIndex(c, kAuthor), err::kNone);
  ASSERT_EQ(AddGroup(c, kAuthor, "apples"), err::kNone);
  ASSERT_EQ(AddGroup(c, kAuthor, "Banana"), err::kNone);
  int position = 0;
  ASSERT_EQ(AddGroup(c, kAuthor, "Apple", &position), err::kNone);
  EXPECT_EQ(position, 1);
  EXPECT_EQ(Names(c, kAuthor), (std::vector<std::string>{"Apple", "apples", "Banana"}));
  GroupPlace p = FindGroup(c, kAuthor, "BANANA");
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.position, 3);
  p = FindGroup(c, kAuthor, "cherry");
  EXPECT_FALSE(p.found);
  EXPECT_EQ(p.position, 4);
  EXPECT_EQ(AddGroup(c, kAuthor, "APPLE"), err::kDuplicateName);
  EXPECT_EQ(GroupIndexOf(c, kCaption), nullptr);
  EXPECT_EQ(GroupCount(c, kCaption), 0);
}

TEST_F(GroupsTest, ValuesInEveryScriptFormOneGroupPerFoldedValue) {
  const std::string privet = "\u041f\u0440\u0438\u0432\u0435\u0442";  // Привет
  const std::string moskva = "\u041c\u043e\u0441\u043a\u0432\u0430";  // Москва
  const std::string privet_upper = "\u041f\u0420\u0418\u0412\u0415\u0422";
  auto& c = Open();
  std::uint32_t a = Add(c, {"a", {{kKeywords, privet}}});
  std::uint32_t b = Add(c, {"b", {{kKeywords, moskva}}});
  std::uint32_t d = Add(c, {"d", {{kKeywords, privet_upper}}});
  ASSERT_EQ(KeepGroupIndex(c, kKeywords), err::kNone);
  // Not one group "______" (the 8-bit rendering of both): two, in the
  // alphabet's order, the case variants together.
  EXPECT_EQ(Names(c, kKeywords), (std::vector<std::string>{moskva, privet}));
  EXPECT_EQ(GroupAt(c, kKeywords, 1)->ids, std::vector<std::uint32_t>{b});
  EXPECT_EQ(GroupAt(c, kKeywords, 2)->ids, (std::vector<std::uint32_t>{a, d}));

  EXPECT_EQ(AddGroup(c, kKeywords, "\u043c\u043e\u0441\u043a\u0432\u0430"), err::kDuplicateName);
  int existing = 0;
  EXPECT_EQ(RenameGroup(c, kKeywords, 1, privet_upper, &existing), err::kDuplicateName);
  EXPECT_EQ(existing, 2);

  // Renaming rewrites the members' values in UTF-8: nothing is lost.
  const std::string tokyo = "\u6771\u4eac";
  ASSERT_EQ(RenameGroup(c, kKeywords, 2, tokyo), err::kNone);
  ItemFields item;
  ASSERT_EQ(item.read(c, 3), err::kNone);
  EXPECT_EQ(item.texts(kKeywords), std::vector<std::string>{tokyo});

  // Latin case and normalisation variants join too.
  auto& e = Open();
  std::uint32_t s1 = Add(e, {"s1", {{kKeywords, "Stra\u00dfe"}}});
  std::uint32_t s2 = Add(e, {"s2", {{kKeywords, "STRASSE"}}});
  std::uint32_t c1 = Add(e, {"c1", {{kKeywords, "Cafe\u0301"}}});
  std::uint32_t c2 = Add(e, {"c2", {{kKeywords, "CAF\u00c9"}}});
  ASSERT_EQ(KeepGroupIndex(e, kKeywords), err::kNone);
  ASSERT_EQ(GroupCount(e, kKeywords), 2);
  EXPECT_EQ(GroupAt(e, kKeywords, 1)->ids, (std::vector<std::uint32_t>{c1, c2}));
  EXPECT_EQ(GroupAt(e, kKeywords, 2)->ids, (std::vector<std::uint32_t>{s1, s2}));
}

TEST_F(GroupsTest, NamesAreCutAndCheckedByCharactersNotBytes) {
  auto& c = Open();
  const std::string ya = "\u044f";  // two bytes in UTF-8, one in the 8-bit rendering
  std::string longest;
  for (int i = 0; i < 255; ++i) longest += ya;
  ASSERT_EQ(KeepGroupIndex(c, kAuthor), err::kNone);
  EXPECT_EQ(AddGroup(c, kAuthor, longest), err::kNone);
  EXPECT_EQ(AddGroup(c, kAuthor, longest + ya), err::kParam);
  EXPECT_EQ(AddSet(c, longest, false, 0), err::kNone);

  // A longer value files under its first 255 characters, whole letters.
  auto& d = Open();
  Add(d, {"a", {{kKeywords, longest + "\u0436\u0436\u0436"}}});
  ASSERT_EQ(KeepGroupIndex(d, kKeywords), err::kNone);
  ASSERT_EQ(GroupCount(d, kKeywords), 1);
  EXPECT_EQ(GroupAt(d, kKeywords, 1)->name, longest);
}

TEST_F(GroupsTest, AnIndexInAnotherOrderStillFindsItsNames) {
  auto& c = Open();
  ASSERT_EQ(KeepGroupIndex(c, kAuthor), err::kNone);
  // As another program may have sorted it: halving from the middle misses "a".
  auto& index = catalog::GroupIndexesOf(c)[OrganizerRowOf(kAuthor)->slot];
  for (const char* name : {"b", "c", "a"}) {
    catalog::GroupEntry e;
    e.name = name;
    index.push_back(e);
  }
  GroupPlace place = FindGroup(c, kAuthor, "A");
  EXPECT_TRUE(place.found);
  EXPECT_EQ(place.position, 3);
  EXPECT_EQ(AddGroup(c, kAuthor, "a"), err::kDuplicateName);
  EXPECT_EQ(GroupCount(c, kAuthor), 3);
}

TEST_F(GroupsTest, ParentSetIsTheLastContainerOneLevelUp) {
  auto& c = Open();
  ASSERT_EQ(KeepGroupIndex(c, kSets), err::kNone);
  auto& sets = catalog::GroupIndexesOf(c)[catalog::kCatalogSetSlot];
  auto set = [](const char* name, std::uint8_t level, std::uint8_t container) {
    catalog::GroupEntry e;
    e.name = name;
    e.level = level;
    e.container = container;
    return e;
  };
  sets = {set("orphan", 2, 0), set("box", 1, 1), set("plain", 1, 0), set("deep", 2, 0), set("top", 0, 1)};
  EXPECT_EQ(ParentSet(c, 1), 0);  // no level-1 container before it
  EXPECT_EQ(ParentSet(c, 4), 2);  // the container, not the later plain set
  EXPECT_EQ(ParentSet(c, 5), 0);
  EXPECT_EQ(ParentSet(c, 9), 0);
}

TEST_F(GroupsTest, ContainersTakeItemsIntoTheirSubSetsAndDeleteWithThem) {
  auto& c = Open();
  std::uint32_t a = Add(c, {"a"});
  std::uint32_t b = Add(c, {"b"});
  int trips = 0, alps = 0, ski = 0, other = 0;
  ASSERT_EQ(AddSet(c, "Trips", true, 0, &trips), err::kNone);
  ASSERT_EQ(AddSet(c, "Other", false, 0, &other), err::kNone);
  ASSERT_EQ(AddSet(c, "Alps", true, trips, &alps), err::kNone);
  ASSERT_EQ(AddSet(c, "Ski", false, alps, &ski), err::kNone);
  EXPECT_EQ(Names(c, kSets), (std::vector<std::string>{"Trips", "Alps", "Ski", "Other"}));
  EXPECT_EQ(ParentSet(c, 3), 2);
  EXPECT_EQ(AddSet(c, "alps", false, 1), err::kDuplicateName);     // a sibling's name
  EXPECT_EQ(AddSet(c, "Alps", false, 0), err::kNone);              // same name elsewhere
  EXPECT_EQ(AddSet(c, "x", false, FindSet(c, "Other")), err::kParam);  // not a container
  ASSERT_EQ(AddItemsToGroup(c, kSets, 1, std::vector<std::uint32_t>{a}), err::kNone);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(GroupAt(c, kSets, p)->ids, std::vector<std::uint32_t>{a}) << p;
  EXPECT_TRUE(GroupAt(c, kSets, 4)->ids.empty());
  ASSERT_EQ(AddItemsToGroup(c, kSets, 4, std::vector<std::uint32_t>{b}), err::kNone);
  EXPECT_EQ(CatalogSetsOf(c, a), (std::vector<std::string>{"Trips", "Alps", "Ski"}));

  std::string copied = CopyGroupList(c, kSets);
  EXPECT_EQ(copied, "Trips\t\n\tAlps\t\n\t\tSki\nOther\nAlps\n");

  ASSERT_EQ(RemoveGroups(c, kSets, {2}, false, {}), err::kNone);
  EXPECT_EQ(Names(c, kSets), (std::vector<std::string>{"Trips", "Other", "Alps"}));
  EXPECT_EQ(c.itemCount(), 2);
  ASSERT_EQ(RemoveGroups(c, kSets, {1}, true, {}), err::kNone);
  EXPECT_EQ(c.itemCount(), 1);  // the content went with it
  EXPECT_EQ(RemoveAllSets(c, [](std::string_view) { return false; }), err::kUserCancelled);
  ASSERT_EQ(RemoveAllSets(c, {}), err::kNone);
  EXPECT_EQ(GroupCount(c, kSets), 0);

  // The copied list comes back as the same tree.
  ASSERT_EQ(PasteGroupList(c, kSets, copied), err::kNone);
  EXPECT_EQ(CopyGroupList(c, kSets), copied);
}

TEST_F(GroupsTest, EditsKeepValueGroupsAndLeaveSetsAlone) {
  auto& c = Open();
  std::uint32_t a = Add(c, {"a", {{kKeywords, "snow"}, {kKeywords, "Alps"}}});
  std::uint32_t b = Add(c, {"b", {{kKeywords, "SNOW"}}});
  ASSERT_EQ(KeepGroupIndex(c, kKeywords), err::kNone);
  ASSERT_EQ(KeepGroupIndex(c, field_ids::kLabels), err::kNone);
  EXPECT_EQ(Names(c, kKeywords), (std::vector<std::string>{"Alps", "snow"}));
  EXPECT_EQ(GroupAt(c, kKeywords, 2)->ids, (std::vector<std::uint32_t>{a, b}));
  int set = 0;
  ASSERT_EQ(AddSet(c, "Best", false, 0, &set), err::kNone);
  ASSERT_EQ(AddItemsToGroup(c, kSets, set, std::vector<std::uint32_t>{a}), err::kNone);

  // A caption edit touches neither the keyword groups nor the sets.
  AnnotationEdit caption{kCaption, {"A caption"}};
  ASSERT_EQ(EditItemAnnotations(c, 1, std::span(&caption, 1)), err::kNone);
  EXPECT_EQ(GroupAt(c, kSets, 1)->ids, std::vector<std::uint32_t>{a});
  EXPECT_EQ(Names(c, kKeywords), (std::vector<std::string>{"Alps", "snow"}));

  AnnotationEdit keywords{kKeywords, {"Ice"}};
  ASSERT_EQ(EditItemAnnotations(c, 1, std::span(&keywords, 1)), err::kNone);
  EXPECT_EQ(Names(c, kKeywords), (std::vector<std::string>{"Ice", "snow"}));  // "Alps" lost its only item
  EXPECT_EQ(GroupAt(c, kKeywords, 2)->ids, std::vector<std::uint32_t>{b});

  ASSERT_EQ(SetItemLabelWithGroups(c, 2, 4), err::kNone);
  EXPECT_EQ(Names(c, field_ids::kLabels), std::vector<std::string>{"4"});
  ASSERT_EQ(AddItemsToGroup(c, field_ids::kLabels, 1, std::vector<std::uint32_t>{a}), err::kNone);
  EXPECT_EQ(c.cells[0].label(), 4);

  // Removing a value group clears the value in its items.
  std::string asked;
  ItemFields item;
  ASSERT_EQ(RemoveGroups(c, kKeywords, {2}, false, [&asked](std::string_view q) {
              asked = std::string(q);
              return true;
            }),
            err::kNone);
  EXPECT_NE(asked.find("Remove group 'snow'?"), std::string::npos);
  ASSERT_EQ(item.read(c, 2), err::kNone);
  EXPECT_TRUE(item.texts(kKeywords).empty());
  EXPECT_EQ(Names(c, kKeywords), std::vector<std::string>{"Ice"});

  // Making sets from keywords: one set per group, with its items.
  ASSERT_EQ(MakeSetsFromField(c, kKeywords), err::kNone);
  int ice = FindSet(c, "ice", 0);
  ASSERT_NE(ice, 0);
  EXPECT_EQ(GroupAt(c, kSets, ice)->ids, std::vector<std::uint32_t>{a});
}

TEST_F(GroupsTest, DateFinderFilesItemsByMonth) {
  auto& c = Open();
  Add(c, {"a", {}, 0, DateTimeOfDay({2023, 12, 31}) + 3600});
  Add(c, {"b", {}, 0, DateTimeOfDay({2024, 1, 2})});
  Add(c, {"c", {}, 0, DateTimeOfDay({2023, 12, 1})});
  Add(c, {"d", {}, 0, 0});
  ASSERT_EQ(KeepGroupIndex(c, 0xa1), err::kNone);
  EXPECT_EQ(Names(c, 0xa1), (std::vector<std::string>{"2023-12", "2024-01"}));
  EXPECT_EQ(GroupAt(c, 0xa1, 1)->ids.size(), 2u);
}

// --- the model -------------------------------------------------------------

// What the indexes must show, kept the simple way: each item's keywords,
// author and label, and each set's members.
struct Model {
  struct Item {
    std::vector<std::string> keywords;
    std::string author;
    int label = 0;
  };
  std::map<std::uint32_t, Item> items;
  std::map<std::string, std::set<std::uint32_t>> sets;  // top-level plain sets by name

  // Values that differ only in case or composition are one group.
  static std::string Key(const std::string& s) { return SearchForm(s); }
  std::map<std::string, std::set<std::uint32_t>> Groups(FieldId id) const {
    std::map<std::string, std::set<std::uint32_t>> out;
    for (const auto& [item_id, item] : items) {
      if (id == kKeywords) {
        for (const auto& k : item.keywords) out[Key(k)].insert(item_id);
      } else if (id == kAuthor && !item.author.empty()) {
        out[Key(item.author)].insert(item_id);
      } else if (id == field_ids::kLabels && item.label != 0) {
        out[std::to_string(item.label)].insert(item_id);
      }
    }
    return out;
  }
};

void ExpectAgrees(const catalog::Catalog& c, const Model& model, int step) {
  for (FieldId id : {kKeywords, kAuthor, field_ids::kLabels}) {
    std::map<std::string, std::set<std::uint32_t>> shown;
    const catalog::GroupIndex* index = GroupIndexOf(c, id);
    ASSERT_NE(index, nullptr);
    for (std::size_t i = 0; i < index->size(); ++i) {
      const auto& e = (*index)[i];
      if (i > 0) {
        ASSERT_LT(CompareGroupNames((*index)[i - 1].name, e.name), 0) << "step " << step;
      }
      std::set<std::uint32_t> ids(e.ids.begin(), e.ids.end());
      ASSERT_EQ(ids.size(), e.ids.size()) << "an id twice, step " << step;
      ASSERT_FALSE(ids.empty()) << "an empty value group, step " << step;
      shown[Model::Key(e.name)] = ids;
    }
    ASSERT_EQ(shown, model.Groups(id)) << "field " << id << " step " << step;
  }
  std::map<std::string, std::set<std::uint32_t>> sets;
  if (const catalog::GroupIndex* index = GroupIndexOf(c, kSets)) {
    for (const auto& e : *index) sets[e.name] = std::set<std::uint32_t>(e.ids.begin(), e.ids.end());
  }
  ASSERT_EQ(sets, model.sets) << "sets, step " << step;
}

TEST_F(GroupsTest, IndexesAgreeWithTheItemsThroughLongRandomRuns) {
  const std::vector<std::string> words = {"snow",         "Snow",      "ice",     "Alps",  "alp", "sun", "beach",
                                          "Caf\u00e9",    "CAFE\u0301", "Stra\u00dfe", "STRASSE",
                                          "\u041f\u0440\u0438\u0432\u0435\u0442", "\u041f\u0420\u0418\u0412\u0415\u0422",
                                          "\u041c\u043e\u0441\u043a\u0432\u0430"};
  const std::vector<std::string> authors = {"Ann", "ann", "Bob", "Cy"};
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    auto& c = Open();
    Model model;
    std::mt19937 rng(seed);
    auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    for (FieldId id : {kKeywords, kAuthor, field_ids::kLabels, kSets}) ASSERT_EQ(KeepGroupIndex(c, id), err::kNone);
    auto random_item = [&]() -> std::uint32_t {
      auto it = model.items.begin();
      std::advance(it, static_cast<long>(pick(model.items.size())));
      return it->first;
    };
    for (int step = 0; step < 400; ++step) {
      int op = static_cast<int>(pick(10));
      if (model.items.size() < 3) op = 0;
      switch (op) {
        case 0: {  // a new item with random annotations, filed as the scan would
          metadata::testing::ItemSpec spec{"f" + std::to_string(step)};
          Model::Item item;
          for (std::size_t k = pick(3); k > 0; --k) {
            item.keywords.push_back(words[pick(words.size())]);
            spec.annotations.emplace_back(kKeywords, item.keywords.back());
          }
          std::uint32_t id = Add(c, spec);
          ASSERT_EQ(UpdateGroupsForItem(c, c.cellOf(id), true), err::kNone);
          model.items[id] = item;
          break;
        }
        case 1:
        case 2: {  // new keywords and maybe an author
          std::uint32_t id = random_item();
          std::vector<std::string> kw;
          for (std::size_t k = pick(4); k > 0; --k) kw.push_back(words[pick(words.size())]);
          std::string author = pick(3) == 0 ? std::string() : authors[pick(authors.size())];
          std::vector<AnnotationEdit> edits = {{kKeywords, kw}, {kAuthor, {author}}};
          ASSERT_EQ(EditItemAnnotations(c, c.cellOf(id), edits), err::kNone);
          // The block keeps each value once per entry; equal values (case
          // ignored) file the item once.
          model.items[id].keywords = kw;
          model.items[id].author = author;
          break;
        }
        case 3: {
          std::uint32_t id = random_item();
          int label = static_cast<int>(pick(11));
          ASSERT_EQ(SetItemLabelWithGroups(c, c.cellOf(id), label), err::kNone);
          model.items[id].label = label > 9 ? 0 : label;
          break;
        }
        case 4: {
          std::uint32_t id = random_item();
          ASSERT_EQ(RemoveItemWithGroups(c, c.cellOf(id)), err::kNone);
          model.items.erase(id);
          for (auto& [name, members] : model.sets) members.erase(id);
          break;
        }
        case 5: {  // a set, and items into it
          std::string name = "set" + std::to_string(pick(5));
          int position = 0;
          ErrorCode e = AddSet(c, name, false, 0, &position);
          ASSERT_TRUE(e == err::kNone || e == err::kDuplicateName);
          model.sets[name];
          std::vector<std::uint32_t> ids = {random_item(), random_item()};
          ASSERT_EQ(AddItemsToGroup(c, kSets, position, ids), err::kNone);
          model.sets[name].insert(ids.begin(), ids.end());
          break;
        }
        case 6: {
          if (model.sets.empty()) break;
          auto it = model.sets.begin();
          std::advance(it, static_cast<long>(pick(model.sets.size())));
          std::vector<std::uint32_t> ids = {random_item()};
          ASSERT_EQ(RemoveItemsFromGroup(c, kSets, FindSet(c, it->first, 0), ids, {}), err::kNone);
          it->second.erase(ids[0]);
          if (pick(4) == 0) {
            ASSERT_EQ(RemoveGroups(c, kSets, {FindSet(c, it->first, 0)}, false, {}), err::kNone);
            model.sets.erase(it);
          }
          break;
        }
        case 7: {  // rename a keyword group (refused when the name is taken)
          if (GroupCount(c, kKeywords) == 0) break;
          int position = static_cast<int>(pick(static_cast<std::size_t>(GroupCount(c, kKeywords)))) + 1;
          std::string from = GroupAt(c, kKeywords, position)->name;
          std::string to = words[pick(words.size())];
          ErrorCode e = RenameGroup(c, kKeywords, position, to);
          if (e == err::kDuplicateName) break;
          ASSERT_EQ(e, err::kNone);
          for (auto& [id, item] : model.items) {
            for (auto& k : item.keywords) {
              if (Model::Key(k) == Model::Key(from)) k = to;
            }
          }
          break;
        }
        case 8: {  // remove an author group: the value is cleared in its items
          if (GroupCount(c, kAuthor) == 0) break;
          int position = static_cast<int>(pick(static_cast<std::size_t>(GroupCount(c, kAuthor)))) + 1;
          std::string name = GroupAt(c, kAuthor, position)->name;
          ASSERT_EQ(RemoveGroups(c, kAuthor, {position}, false, {}), err::kNone);
          for (auto& [id, item] : model.items) {
            if (Model::Key(item.author) == Model::Key(name)) item.author.clear();
          }
          break;
        }
        case 9: {  // give a keyword group to an item
          if (GroupCount(c, kKeywords) == 0) break;
          int position = static_cast<int>(pick(static_cast<std::size_t>(GroupCount(c, kKeywords)))) + 1;
          std::string name = GroupAt(c, kKeywords, position)->name;
          std::uint32_t id = random_item();
          ASSERT_EQ(AddItemsToGroup(c, kKeywords, position, std::vector<std::uint32_t>{id}), err::kNone);
          auto& kw = model.items[id].keywords;
          if (std::none_of(kw.begin(), kw.end(), [&](const std::string& k) { return Model::Key(k) == Model::Key(name); })) {
            kw.push_back(name);
          }
          break;
        }
      }
      ExpectAgrees(c, model, step);
      if (HasFatalFailure()) return;
    }
    // And the whole state survives a save and a reopen.
    FileSpec out = Spec("model" + std::to_string(seed) + ".nrk");
    ASSERT_EQ(catalog::SaveCatalog(c, &out, {}), err::kNone);
    Close(c);
    auto& again = Open("model" + std::to_string(seed) + ".nrk");
    ExpectAgrees(again, model, -1);
    Close(again);
  }
}

}  // namespace
}  // namespace norvo::fields
