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
using Ids = std::vector<long long>;
using Texts = std::vector<std::string>;

class FindCliTest : public CliHarness {
 protected:
  Ids Order() {
    Ids ids;
    for (const Json& item : List(catalog_)) ids.push_back(item["id"].get<long long>());
    return ids;
  }
  // A catalog of pending items named as given, ids 1.. in that order.
  void MakeCatalog(const Texts& names) {
    Texts files;
    for (const std::string& name : names) {
      std::ofstream(dir_ / name) << name;  // sizes differ by name length
      files.push_back((dir_ / name).string());
    }
    NewCatalog(files);
  }
  Ids Found(const Texts& query) { return Numbers(JsonOf(Plus({"find", catalog_}, query))); }
  // The groups of an index, each as "name: id id ...".
  Texts Groups(const std::string& index) {
    Texts shown;
    for (const Json& group : JsonOf({"groups", catalog_, index})) {
      std::string line = group["name"].get<std::string>() + ":";
      for (const Json& id : group["items"]) line += " " + id.dump();
      shown.push_back(line);
    }
    return shown;
  }
};

TEST_F(FindCliTest, QuickSearchAndCriteriaGiveIdsInCatalogOrder) {
  MakeCatalog({"beach.jpg", "mountain.jpg", "city.jpg"});
  Ok({"annotate-item", catalog_, "1", "Author=JANE Doe", "Keywords=sea; Sand"});
  Ok({"annotate-item", catalog_, "3", "0x250=jane", "Caption=Caf\xC3\xA9 at night"});
  struct Case {
    Texts query;
    Ids want;
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
    EXPECT_EQ(Found(c.query), c.want);
    std::string lines;
    for (long long id : c.want) lines += std::to_string(id) + "\n";
    EXPECT_EQ(Ok(Plus({"find", catalog_}, c.query)), lines);
  }
}

TEST_F(FindCliTest, SortSavesOnlyWhenTheOrderChangesAndHiddenItemsStayLast) {
  MakeCatalog({"img10.jpg", "img2.jpg", "IMG1.jpg", "b.jpg"});
  Ok({"sort", catalog_, "File Name"});
  EXPECT_EQ(Order(), (Ids{4, 3, 1, 2}));  // plain order: IMG10 before IMG2
  Ok({"sort", catalog_, "0x2", "--natural"});
  EXPECT_EQ(Order(), (Ids{4, 3, 2, 1}));

  // Sorting again changes nothing, and the file is not written.
  auto stamp = fs::last_write_time(catalog_);
  std::string before = ReadAll(catalog_);
  Ok({"sort", catalog_, "File Name", "--natural"});
  EXPECT_EQ(ReadAll(catalog_), before);
  EXPECT_EQ(fs::last_write_time(catalog_), stamp);

  Ok({"hide", catalog_, "3", "4"});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (Ids{2, 1, 4, 3}));  // hidden ones behind, in their own order
  Ok({"show", catalog_, "4"});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (Ids{2, 1, 4, 3}));
  Ok({"show", catalog_});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (Ids{2, 1, 3, 4}));  // "IMG1." before "IMG10"
  Fails({"hide", catalog_, "9"}, 1);
}

TEST_F(FindCliTest, GroupsFollowAnnotationEditsAndSetCommands) {
  MakeCatalog({"a.jpg", "b.jpg", "c.jpg"});
  Ok({"annotate-item", catalog_, "1", "Keywords=snow, Alps"});
  EXPECT_EQ(Keys(JsonOf({"groups", catalog_, "Keywords"}).at(0)), (Texts{"name", "items", "level", "container"}));
  EXPECT_EQ(Groups("Keywords"), (Texts{"Alps: 1", "snow: 1"}));

  // From now on the catalog keeps the index: edits move items between groups.
  Ok({"annotate-item", catalog_, "2", "Keywords=SNOW"});
  Ok({"annotate-item", catalog_, "1", "Keywords=ice"});
  EXPECT_EQ(Groups("0x219"), (Texts{"ice: 1", "snow: 2"}));

  Ok({"set", catalog_, "new", "Trips", "--container"});
  Ok({"set", catalog_, "new", "Alps 2024", "--parent", "Trips"});
  Ok({"set", catalog_, "new", "Loose"});
  Ok({"set", catalog_, "add", "Trips", "1", "3"});
  Ok({"set", catalog_, "add", "Loose", "2"});
  Ok({"set", catalog_, "remove", "alps 2024", "3"});
  EXPECT_EQ(Groups("Catalog Sets"), (Texts{"Trips: 1 3", "Alps 2024: 1", "Loose: 2"}));
  Json sets = JsonOf({"groups", catalog_, "Catalog Sets"});
  EXPECT_TRUE(sets[0]["container"].get<bool>());
  EXPECT_EQ(sets[1]["level"], 1);
  // Set names are part of what the quick search sees.
  EXPECT_EQ(Found({"loose"}), Ids{2});
  EXPECT_EQ(Found({"--where", "Catalog Sets", "is", "alps 2024"}), Ids{1});

  Fails({"set", catalog_, "new", "trips"}, 1);
  Fails({"set", catalog_, "new", "x", "--parent", "Loose"}, 1);
  Fails({"set", catalog_, "add", "Nowhere", "1"}, 1);
  Ok({"set", catalog_, "delete", "Trips"});
  EXPECT_EQ(Groups("Catalog Sets"), Texts{"Loose: 2"});

  // Removing an item takes it out of the groups too; the set stays, empty.
  Ok({"remove", catalog_, "2"});
  EXPECT_EQ(Groups("Keywords"), Texts{"ice: 1"});
  EXPECT_EQ(Groups("Catalog Sets"), Texts{"Loose:"});
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
  EXPECT_EQ(Groups("Keywords"), (Texts{moskva + ": 2", privet + ": 1 5"}));
  EXPECT_EQ(Found({"--where", "Keywords", "is", moskva}), Ids{2});
  EXPECT_EQ(Found({"--where", "Keywords", "is", "\u043f\u0440\u0438\u0432\u0435\u0442"}), (Ids{1, 5}));
  EXPECT_EQ(Found({"caf\u00e9"}), (Ids{3, 4}));
  EXPECT_EQ(Found({"\u0451\u043b\u043a"}), Ids{2});

  Ok({"sort", catalog_, "File Name"});
  Ids latin, cyrillic;
  for (long long id : Order()) (id == 3 || id == 4 ? latin : cyrillic).push_back(id);
  EXPECT_EQ(latin, (Ids{4, 3}));         // Émile before Zoé
  EXPECT_EQ(cyrillic, (Ids{5, 2, 1}));   // Егор, Ёлка, Жанна

  const std::string trips = "\u041f\u0443\u0442\u0435\u0448\u0435\u0441\u0442\u0432\u0438\u044f";
  Ok({"set", catalog_, "new", trips});
  Ok({"set", catalog_, "add", "\u043f\u0443\u0442\u0435\u0448\u0435\u0441\u0442\u0432\u0438\u044f", "1"});
  EXPECT_EQ(Groups("Catalog Sets"), Texts{trips + ": 1"});
  EXPECT_EQ(Found({"\u041f\u0423\u0422\u0415\u0428"}), Ids{1});
}

TEST_F(FindCliTest, LabelsGroupAndAreFoundByColourName) {
  MakeCatalog({"a.jpg", "b.jpg"});
  Ok({"groups", catalog_, "Labels"});
  Ok({"annotate-item", catalog_, "2", "Labels=3"});
  EXPECT_EQ(Groups("Labels"), Texts{"3: 2"});
  EXPECT_EQ(Found({"blue"}), Ids{2});
}

// Saved queries outlive the store that saved them and are named in any case.
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
  EXPECT_EQ(norvo::fields::QueryNames(store), (Texts{"Lee's photos", "Other"}));
  auto back = norvo::fields::LoadQuery(store, "lee's PHOTOS");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->scope, norvo::fields::SearchScope::kFolder);
  ASSERT_EQ(back->criteria.size(), 1u);
  EXPECT_EQ(back->criteria[0].value, "Lee");
  EXPECT_EQ(norvo::fields::RemoveQuery(store, "Other"), norvo::err::kNone);
  EXPECT_NE(norvo::fields::RemoveQuery(store, "Other"), norvo::err::kNone);
}

}  // namespace
