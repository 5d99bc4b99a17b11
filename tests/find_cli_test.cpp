// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli to find, sort, hide and group catalog items, and
// checks saved queries against the real settings store.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "metadata/find_sort.h"
#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

class FindCliTest : public CliHarness {
 protected:
  Json JsonOf(const std::vector<std::string>& args) { return JsonParser::Parse(Ok(args)); }
  static std::vector<long long> Numbers(const Json& array) {
    std::vector<long long> out;
    for (const Json& v : array.items) out.push_back(v.number);
    return out;
  }
  std::vector<long long> Order() {
    std::vector<long long> ids;
    for (const Json& item : JsonOf({"list", catalog_, "--json"}).items) ids.push_back(item["id"].number);
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
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "jane", "--json"})), (std::vector<long long>{1, 3}));
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "CAF\xC3\x89", "--json"})), std::vector<long long>{3});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "mountain", "--json"})), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Keywords", "is", "sand", "--json"})),
            std::vector<long long>{1});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Author", "ends with", "e", "--where", "File Name",
                            "starts with", "city", "--json"})),
            std::vector<long long>{3});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Author", "is", "jane", "--where", "Keywords", "is not empty", "",
                            "--any", "--json"})),
            (std::vector<long long>{1, 3}));
  EXPECT_TRUE(JsonOf({"find", catalog_, "--where", "Author", "is empty", "x", "--where", "0x219", "is empty", "",
                      "--where", "Labels", "equals", "0", "--json"})
                  .items.size() == 1);

  CliResult bad = Run({"find", catalog_, "--where", "Author", "is less than", "3", "--json"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("\"contains\""), std::string::npos);
  EXPECT_EQ(Run({"find", catalog_, "--where", "File Size", "equals", "many", "--json"}).status, 1);
  EXPECT_EQ(Run({"find", catalog_, "--where", "Nonsense", "is", "x", "--json"}).status, 1);
  EXPECT_EQ(Run({"find", catalog_, "x"}).status, 1);  // --json is required
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
  EXPECT_EQ(Run({"sort", catalog_, "No Such Field"}).status, 1);
}

TEST_F(FindCliTest, GroupsFollowAnnotationEditsAndSetCommands) {
  MakeCatalog({"a.jpg", "b.jpg", "c.jpg"});
  Ok({"annotate-item", catalog_, "1", "Keywords=snow, Alps"});
  Json groups = JsonOf({"groups", catalog_, "Keywords", "--json"});
  ASSERT_EQ(groups.items.size(), 2u);
  EXPECT_EQ(groups.items[0].keys(), (std::vector<std::string>{"name", "items", "level", "container"}));
  EXPECT_EQ(groups.items[0]["name"].text, "Alps");

  // From now on the catalog keeps the index: edits move items between groups.
  Ok({"annotate-item", catalog_, "2", "Keywords=SNOW"});
  Ok({"annotate-item", catalog_, "1", "Keywords=ice"});
  groups = JsonOf({"groups", catalog_, "0x219", "--json"});
  ASSERT_EQ(groups.items.size(), 2u);
  EXPECT_EQ(groups.items[0]["name"].text, "ice");
  EXPECT_EQ(Numbers(groups.items[0]["items"]), std::vector<long long>{1});
  EXPECT_EQ(groups.items[1]["name"].text, "snow");
  EXPECT_EQ(Numbers(groups.items[1]["items"]), std::vector<long long>{2});

  Ok({"set", catalog_, "new", "Trips", "--container"});
  Ok({"set", catalog_, "new", "Alps 2024", "--parent", "Trips"});
  Ok({"set", catalog_, "new", "Loose"});
  Ok({"set", catalog_, "add", "Trips", "1", "3"});
  Ok({"set", catalog_, "add", "Loose", "2"});
  Ok({"set", catalog_, "remove", "alps 2024", "3"});
  Json sets = JsonOf({"groups", catalog_, "Catalog Sets", "--json"});
  ASSERT_EQ(sets.items.size(), 3u);
  EXPECT_TRUE(sets.items[0]["container"].boolean);
  EXPECT_EQ(sets.items[1]["name"].text, "Alps 2024");
  EXPECT_EQ(sets.items[1]["level"].number, 1);
  EXPECT_EQ(Numbers(sets.items[0]["items"]), (std::vector<long long>{1, 3}));
  EXPECT_EQ(Numbers(sets.items[1]["items"]), std::vector<long long>{1});
  // Set names are part of what the quick search sees.
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "loose", "--json"})), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Catalog Sets", "is", "alps 2024", "--json"})),
            std::vector<long long>{1});

  EXPECT_EQ(Run({"set", catalog_, "new", "trips"}).status, 1);
  EXPECT_EQ(Run({"set", catalog_, "new", "x", "--parent", "Loose"}).status, 1);
  EXPECT_EQ(Run({"set", catalog_, "add", "Nowhere", "1"}).status, 1);
  Ok({"set", catalog_, "delete", "Trips"});
  sets = JsonOf({"groups", catalog_, "Catalog Sets", "--json"});
  ASSERT_EQ(sets.items.size(), 1u);
  EXPECT_EQ(sets.items[0]["name"].text, "Loose");

  // Removing an item takes it out of the groups too.
  Ok({"remove", catalog_, "2"});
  groups = JsonOf({"groups", catalog_, "Keywords", "--json"});
  ASSERT_EQ(groups.items.size(), 1u);
  EXPECT_EQ(groups.items[0]["name"].text, "ice");
  sets = JsonOf({"groups", catalog_, "Catalog Sets", "--json"});
  EXPECT_TRUE(sets.items[0]["items"].items.empty());  // the set stays, empty
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
  Json groups = JsonOf({"groups", catalog_, "Keywords", "--json"});
  ASSERT_EQ(groups.items.size(), 2u);
  EXPECT_EQ(groups.items[0]["name"].text, moskva);
  EXPECT_EQ(Numbers(groups.items[0]["items"]), std::vector<long long>{2});
  EXPECT_EQ(groups.items[1]["name"].text, privet);
  EXPECT_EQ(Numbers(groups.items[1]["items"]), (std::vector<long long>{1, 5}));

  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Keywords", "is", moskva, "--json"})),
            std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Keywords", "is", "\u043f\u0440\u0438\u0432\u0435\u0442",
                            "--json"})),
            (std::vector<long long>{1, 5}));
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "caf\u00e9", "--json"})), (std::vector<long long>{3, 4}));
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "\u0451\u043b\u043a", "--json"})), std::vector<long long>{2});

  Ok({"sort", catalog_, "File Name"});
  std::vector<long long> latin, cyrillic;
  for (long long id : Order()) (id == 3 || id == 4 ? latin : cyrillic).push_back(id);
  EXPECT_EQ(latin, (std::vector<long long>{4, 3}));          // Émile before Zoé
  EXPECT_EQ(cyrillic, (std::vector<long long>{5, 2, 1}));   // Егор, Ёлка, Жанна

  const std::string trips = "\u041f\u0443\u0442\u0435\u0448\u0435\u0441\u0442\u0432\u0438\u044f";
  Ok({"set", catalog_, "new", trips});
  Ok({"set", catalog_, "add", "\u043f\u0443\u0442\u0435\u0448\u0435\u0441\u0442\u0432\u0438\u044f", "1"});
  Json sets = JsonOf({"groups", catalog_, "Catalog Sets", "--json"});
  ASSERT_EQ(sets.items.size(), 1u);
  EXPECT_EQ(sets.items[0]["name"].text, trips);
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "\u041f\u0423\u0422\u0415\u0428", "--json"})),
            std::vector<long long>{1});
}

TEST_F(FindCliTest, LabelsGroupAndTheGroupsOfAnUnknownFieldAreRefused) {
  MakeCatalog({"a.jpg", "b.jpg"});
  Ok({"groups", catalog_, "Labels", "--json"});
  Ok({"annotate-item", catalog_, "2", "Labels=3"});
  Json labels = JsonOf({"groups", catalog_, "Labels", "--json"});
  ASSERT_EQ(labels.items.size(), 1u);
  EXPECT_EQ(labels.items[0]["name"].text, "3");
  EXPECT_EQ(Numbers(labels.items[0]["items"]), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "blue", "--json"})), std::vector<long long>{2});
  EXPECT_EQ(Run({"groups", catalog_, "Caption", "--json"}).status, 1);
  EXPECT_EQ(Run({"annotate-item", catalog_, "1", "File Size=3"}).status, 1);
}

TEST_F(FindCliTest, SavedQueriesLiveInTheSettingsStore) {
  norvo::app::StorePaths paths;
  paths.user = (dir_ / "xdg" / "settings.db").string();
  {
    norvo::app::SettingsStore store = norvo::app::SettingsStore::Open(paths);
    norvo::metadata::SavedQuery q;
    q.criteria = {{0x250, norvo::metadata::text_ops::kContains, "Lee"}};
    q.scope = norvo::metadata::SearchScope::kFolder;
    ASSERT_EQ(norvo::metadata::SaveQuery(store, "Lee's photos", q), norvo::err::kNone);
    ASSERT_EQ(norvo::metadata::SaveQuery(store, "Other", q), norvo::err::kNone);
  }
  norvo::app::SettingsStore store = norvo::app::SettingsStore::Open(paths);
  EXPECT_EQ(norvo::metadata::QueryNames(store), (std::vector<std::string>{"Lee's photos", "Other"}));
  auto back = norvo::metadata::LoadQuery(store, "lee's PHOTOS");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->scope, norvo::metadata::SearchScope::kFolder);
  ASSERT_EQ(back->criteria.size(), 1u);
  EXPECT_EQ(back->criteria[0].value, "Lee");
  EXPECT_EQ(norvo::metadata::RemoveQuery(store, "Other"), norvo::err::kNone);
  EXPECT_EQ(norvo::metadata::QueryNames(store), std::vector<std::string>{"Lee's photos"});
  EXPECT_NE(norvo::metadata::RemoveQuery(store, "Other"), norvo::err::kNone);
}

}  // namespace
