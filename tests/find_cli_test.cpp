// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli to find, sort, hide and group catalog items, and
// checks saved queries against the real settings store.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "fields/find_sort.h"
#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

class FindCliTest : public CliHarness {
 protected:
  std::vector<long long> Order() {
    std::vector<long long> ids;
    for (const Json& item : List(catalog_)) ids.push_back(item["id"].get<long long>());
    return ids;
  }
  // A catalog of pending items named as given, ids 1.. in that order.
  void MakeCatalog(const std::vector<std::string>& names) {
    Ok({"new", catalog_});
    std::vector<std::string> add = {"add", catalog_};
    for (const std::string& name : names) {
      std::ofstream(dir_ / name) << name;  // sizes differ by name length
      add.push_back((dir_ / name).string());
    }
    Ok(add);
  }
};

TEST_F(FindCliTest, QuickSearchAndCriteriaGiveIdsInCatalogOrder) {
  MakeCatalog({"beach.jpg", "mountain.jpg", "city.jpg"});
  Ok({"annotate-item", catalog_, "1", "Author=JANE Doe", "Keywords=sea; Sand"});
  Ok({"annotate-item", catalog_, "3", "0x250=jane", "Caption=Caf\xC3\xA9 at night"});
  struct Case {
    std::vector<std::string> query;
    std::vector<long long> want;
  };
  const Case cases[] = {
      {{"jane"}, {1, 3}},
      {{"CAF\xC3\x89"}, {3}},
      {{"mountain"}, {2}},
      {{"--where", "Keywords", "is", "sand"}, {1}},
      {{"--where", "Author", "ends with", "e", "--where", "File Name", "starts with", "city"}, {3}},
      {{"--where", "Author", "is", "jane", "--where", "Keywords", "is not empty", "", "--any"}, {1, 3}},
      {{"--where", "Author", "is empty", "x", "--where", "0x219", "is empty", "", "--where", "Labels", "equals", "0"},
       {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query[0] + " " + (c.query.size() > 1 ? c.query[1] : ""));
    std::vector<std::string> args = {"find", catalog_};
    args.insert(args.end(), c.query.begin(), c.query.end());
    EXPECT_EQ(Numbers(JsonOf(args)), c.want);
    std::string lines;
    for (long long id : c.want) lines += std::to_string(id) + "\n";
    EXPECT_EQ(Ok(args), lines);
  }
}

TEST_F(FindCliTest, SortSavesOnlyWhenTheOrderChangesAndHiddenItemsStayLast) {
  MakeCatalog({"img10.jpg", "img2.jpg", "IMG1.jpg", "b.jpg"});
  Ok({"sort", catalog_, "File Name"});
  EXPECT_EQ(Order(), (std::vector<long long>{4, 3, 1, 2}));  // plain order: IMG10 before IMG2
  Ok({"sort", catalog_, "0x2", "--natural"});
  EXPECT_EQ(Order(), (std::vector<long long>{4, 3, 2, 1}));

  // Sorting again changes nothing, and the file is not written.
  auto stamp = fs::last_write_time(catalog_);
  std::string before = ReadAll(catalog_);
  Ok({"sort", catalog_, "File Name", "--natural"});
  EXPECT_EQ(ReadAll(catalog_), before);
  EXPECT_EQ(fs::last_write_time(catalog_), stamp);

  Ok({"hide", catalog_, "3", "4"});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (std::vector<long long>{2, 1, 4, 3}));  // hidden ones behind, in their own order
  Ok({"show", catalog_, "4"});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (std::vector<long long>{2, 1, 4, 3}));
  Ok({"show", catalog_});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (std::vector<long long>{2, 1, 3, 4}));  // "IMG1." before "IMG10"
  EXPECT_EQ(Run({"hide", catalog_, "9"}).status, 1);
}

TEST_F(FindCliTest, GroupsFollowAnnotationEditsAndSetCommands) {
  MakeCatalog({"a.jpg", "b.jpg", "c.jpg"});
  Ok({"annotate-item", catalog_, "1", "Keywords=snow, Alps"});
  Json groups = JsonOf({"groups", catalog_, "Keywords"});
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(Keys(groups[0]), (std::vector<std::string>{"name", "items", "level", "container"}));
  EXPECT_EQ(groups[0]["name"], "Alps");

  // From now on the catalog keeps the index: edits move items between groups.
  Ok({"annotate-item", catalog_, "2", "Keywords=SNOW"});
  Ok({"annotate-item", catalog_, "1", "Keywords=ice"});
  groups = JsonOf({"groups", catalog_, "0x219"});
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0]["name"], "ice");
  EXPECT_EQ(Numbers(groups[0]["items"]), std::vector<long long>{1});
  EXPECT_EQ(groups[1]["name"], "snow");
  EXPECT_EQ(Numbers(groups[1]["items"]), std::vector<long long>{2});

  Ok({"set", catalog_, "new", "Trips", "--container"});
  Ok({"set", catalog_, "new", "Alps 2024", "--parent", "Trips"});
  Ok({"set", catalog_, "new", "Loose"});
  Ok({"set", catalog_, "add", "Trips", "1", "3"});
  Ok({"set", catalog_, "add", "Loose", "2"});
  Ok({"set", catalog_, "remove", "alps 2024", "3"});
  Json sets = JsonOf({"groups", catalog_, "Catalog Sets"});
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_TRUE(sets[0]["container"].get<bool>());
  EXPECT_EQ(sets[1]["name"], "Alps 2024");
  EXPECT_EQ(sets[1]["level"], 1);
  EXPECT_EQ(Numbers(sets[0]["items"]), (std::vector<long long>{1, 3}));
  EXPECT_EQ(Numbers(sets[1]["items"]), std::vector<long long>{1});
  // Set names are part of what the quick search sees.
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "loose"})), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Catalog Sets", "is", "alps 2024"})),
            std::vector<long long>{1});

  EXPECT_EQ(Run({"set", catalog_, "new", "trips"}).status, 1);
  EXPECT_EQ(Run({"set", catalog_, "new", "x", "--parent", "Loose"}).status, 1);
  EXPECT_EQ(Run({"set", catalog_, "add", "Nowhere", "1"}).status, 1);
  Ok({"set", catalog_, "delete", "Trips"});
  sets = JsonOf({"groups", catalog_, "Catalog Sets"});
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0]["name"], "Loose");

  // Removing an item takes it out of the groups too.
  Ok({"remove", catalog_, "2"});
  groups = JsonOf({"groups", catalog_, "Keywords"});
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0]["name"], "ice");
  sets = JsonOf({"groups", catalog_, "Catalog Sets"});
  EXPECT_TRUE(sets[0]["items"].empty());  // the set stays, empty
}

TEST_F(FindCliTest, TextInEveryScriptIsFoundSortedAndGroupedApart) {
  const std::string zhanna = "\u0416\u0430\u043d\u043d\u0430", yolka = "\u0401\u043b\u043a\u0430",
                    yegor = "\u0415\u0433\u043e\u0440";
  MakeCatalog({zhanna + ".jpg", yolka + ".jpg", "Zo\u00e9.jpg", "\u00c9mile.jpg", yegor + ".jpg"});
  const std::string privet = "\u041f\u0440\u0438\u0432\u0435\u0442", moskva = "\u041c\u043e\u0441\u043a\u0432\u0430";
  Ok({"annotate-item", catalog_, "1", "Keywords=" + privet});
  Ok({"annotate-item", catalog_, "2", "Keywords=" + moskva});
  Ok({"annotate-item", catalog_, "5", "Keywords=\u041f\u0420\u0418\u0412\u0415\u0422"});
  Ok({"annotate-item", catalog_, "3", "Caption=Caf\u00e9 cr\u00e8me"});
  Ok({"annotate-item", catalog_, "4", "Caption=Cafe\u0301 au lait"});

  // Two groups, not one named "______"; the case variants share one.
  Json groups = JsonOf({"groups", catalog_, "Keywords"});
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0]["name"], moskva);
  EXPECT_EQ(Numbers(groups[0]["items"]), std::vector<long long>{2});
  EXPECT_EQ(groups[1]["name"], privet);
  EXPECT_EQ(Numbers(groups[1]["items"]), (std::vector<long long>{1, 5}));

  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Keywords", "is", moskva})),
            std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Keywords", "is", "\u043f\u0440\u0438\u0432\u0435\u0442"})),
            (std::vector<long long>{1, 5}));
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "caf\u00e9"})), (std::vector<long long>{3, 4}));
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "\u0451\u043b\u043a"})), std::vector<long long>{2});

  Ok({"sort", catalog_, "File Name"});
  std::vector<long long> latin, cyrillic;
  for (long long id : Order()) (id == 3 || id == 4 ? latin : cyrillic).push_back(id);
  EXPECT_EQ(latin, (std::vector<long long>{4, 3}));          // Émile before Zoé
  EXPECT_EQ(cyrillic, (std::vector<long long>{5, 2, 1}));   // Егор, Ёлка, Жанна

  const std::string trips = "\u041f\u0443\u0442\u0435\u0448\u0435\u0441\u0442\u0432\u0438\u044f";
  Ok({"set", catalog_, "new", trips});
  Ok({"set", catalog_, "add", "\u043f\u0443\u0442\u0435\u0448\u0435\u0441\u0442\u0432\u0438\u044f", "1"});
  Json sets = JsonOf({"groups", catalog_, "Catalog Sets"});
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0]["name"], trips);
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "\u041f\u0423\u0422\u0415\u0428"})),
            std::vector<long long>{1});
}

TEST_F(FindCliTest, LabelsGroupAndAreFoundByColourName) {
  MakeCatalog({"a.jpg", "b.jpg"});
  Ok({"groups", catalog_, "Labels"});
  Ok({"annotate-item", catalog_, "2", "Labels=3"});
  Json labels = JsonOf({"groups", catalog_, "Labels"});
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0]["name"], "3");
  EXPECT_EQ(Numbers(labels[0]["items"]), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "blue"})), std::vector<long long>{2});
}

TEST_F(FindCliTest, SavedQueriesLiveInTheSettingsStore) {
  norvo::app::StorePaths paths;
  paths.user = (dir_ / "xdg" / "settings.db").string();
  {
    norvo::app::SettingsStore store = norvo::app::SettingsStore::Open(paths);
    norvo::fields::SavedQuery q;
    q.criteria = {{0x250, norvo::fields::text_ops::kContains, "Lee"}};
    q.scope = norvo::fields::SearchScope::kFolder;
    ASSERT_EQ(norvo::fields::SaveQuery(store, "Lee's photos", q), norvo::err::kNone);
    ASSERT_EQ(norvo::fields::SaveQuery(store, "Other", q), norvo::err::kNone);
  }
  norvo::app::SettingsStore store = norvo::app::SettingsStore::Open(paths);
  EXPECT_EQ(norvo::fields::QueryNames(store), (std::vector<std::string>{"Lee's photos", "Other"}));
  auto back = norvo::fields::LoadQuery(store, "lee's PHOTOS");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->scope, norvo::fields::SearchScope::kFolder);
  ASSERT_EQ(back->criteria.size(), 1u);
  EXPECT_EQ(back->criteria[0].value, "Lee");
  EXPECT_EQ(norvo::fields::RemoveQuery(store, "Other"), norvo::err::kNone);
  EXPECT_EQ(norvo::fields::QueryNames(store), std::vector<std::string>{"Lee's photos"});
  EXPECT_NE(norvo::fields::RemoveQuery(store, "Other"), norvo::err::kNone);
}

}  // namespace
