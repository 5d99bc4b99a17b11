// SPDX-License-Identifier: GPL-3.0-or-later
// Two norvo-cli processes change one catalog at the same time, each running
// its commands one after the other: one imports photos (an import holds the
// catalog while it scans them, a wide window for the other to change it
// meanwhile), the other adds files and labels the items that were there. A
// command may be refused while the other holds the catalog, but one that
// reports success must have its change in the catalog at the end, and one
// that reports failure must have saved nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <latch>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/catalog_document.h"
#include "catalog/catalog.h"
#include "tests/crash/crash_harness.h"

namespace {

using namespace norvo;
using namespace norvo::crash_testing;

// Commands each process runs. Two commands clash only when the spans in
// which each holds the catalog overlap, a few pairs in every ten; with the
// catalog locks turned off, 50 rounds lost changes on every try, 20 on only
// some.
constexpr int kRounds = 50;
constexpr int kFirstItems = 4;  // ItemIds 1-4, there before the two start

struct Attempt {
  std::string command;   // "import", "add" or "label"
  std::string path;      // the file imported or added
  std::uint32_t id = 0;  // the item labelled, or the id add printed (0: not known)
  int label = 0;
  CliRun run;
};

class ConcurrentWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir() / "files");
    fs::create_directories(dir() / "engine" / "scratch");
    app::SetScratchFolder((dir() / "engine" / "scratch").string());
    ::setenv("XDG_DATA_HOME", (dir() / "engine" / "data").c_str(), 1);
  }
  const fs::path& dir() const { return root_.path(); }
  std::string catalog() const { return (dir() / "shared.nrk").string(); }

  // A small file to add as a pending item; its size tells it apart.
  std::string MakeFile(const std::string& name) const {
    fs::path path = dir() / "files" / name;
    std::ofstream(path) << name;
    return path.string();
  }

  CliRun Run(const std::string& who, const std::vector<std::string>& args) const {
    const fs::path home = dir() / ("home-" + who);
    ResetHome(home);
    return RunCli(args, CliEnvironment(home, {}));
  }

  Attempt Import(const std::string& who, const std::string& name) const {
    Attempt a;
    a.command = "import";
    a.path = (dir() / "files" / name).string();
    CopyPhoto("image00971.jpg", a.path);
    a.run = Run(who, {"import", catalog(), a.path, "--jobs", "1"});
    return a;
  }

  Attempt Add(const std::string& who, const std::string& name) const {
    Attempt a;
    a.command = "add";
    a.path = MakeFile(name);
    a.run = Run(who, {"add", catalog(), a.path});
    if (a.run.status == 0) a.id = static_cast<std::uint32_t>(std::stoul(a.run.out));
    return a;
  }

  Attempt Label(const std::string& who, std::uint32_t id, int label) const {
    Attempt a;
    a.command = "label";
    a.id = id;
    a.label = label;
    a.run = Run(who, {"label", catalog(), std::to_string(id), std::to_string(label)});
    return a;
  }

  TempFolder root_;
};

TEST_F(ConcurrentWriters, NoChangeThatSucceededIsLost) {
  ASSERT_EQ(Run("setup", {"new", catalog()}).status, 0);
  std::vector<std::string> first = {"add", catalog()};
  for (int i = 1; i <= kFirstItems; ++i) first.push_back(MakeFile("first" + std::to_string(i) + ".jpg"));
  CliRun setup = Run("setup", first);
  ASSERT_EQ(setup.status, 0) << setup.describe();

  std::vector<Attempt> importer, labeller;
  std::latch start(2);
  std::thread one([&] {
    start.arrive_and_wait();
    for (int i = 0; i < kRounds; ++i) importer.push_back(Import("importer", "photo" + std::to_string(i) + ".jpg"));
  });
  std::thread two([&] {
    start.arrive_and_wait();
    for (int i = 0; i < kRounds; ++i) {
      if (i % 2 == 0) {
        labeller.push_back(Add("labeller", "labeller" + std::to_string(i) + ".jpg"));
      } else {
        labeller.push_back(Label("labeller", static_cast<std::uint32_t>(1 + (i / 2) % kFirstItems), 1 + i % 9));
      }
    }
  });
  one.join();
  two.join();

  app::CatalogDocument doc;
  app::DocumentResult opened = doc.open(catalog(), std::nullopt);
  ASSERT_TRUE(opened.ok()) << "the catalog cannot be opened: " << opened.code << " " << opened.message;
  const catalog::Catalog& c = *doc;
  EXPECT_FALSE(c.report.sequential_scan || c.report.folder_tree_rebuilt || c.report.renumbered_item_ids != 0)
      << "the catalog needed repairs on open";
  std::map<std::string, std::vector<std::uint32_t>> ids_of_path;
  std::map<std::uint32_t, int> label_of_id;
  for (int cell = 1; cell <= c.itemCount(); ++cell) {
    const catalog::CatalogCell& cc = c.cells[static_cast<std::size_t>(cell - 1)];
    ids_of_path[catalog::ItemPath(c, cell).value_or("(none)")].push_back(cc.item_id);
    label_of_id[cc.item_id] = cc.label();
  }

  std::set<std::string> known;
  for (int i = 1; i <= kFirstItems; ++i) known.insert((dir() / "files" / ("first" + std::to_string(i) + ".jpg")).string());
  std::map<std::uint32_t, int> expected_label;  // the last label that succeeded on each item
  int succeeded = 0, refused = 0;
  std::map<std::string, int> refusals;  // by message
  for (const std::vector<Attempt>* attempts : {&importer, &labeller}) {
    for (const Attempt& a : *attempts) {
      EXPECT_FALSE(a.run.timed_out) << a.command << " hung";
      EXPECT_TRUE(a.run.status == 0 || a.run.status == 1) << a.command << ": " << a.run.describe();
      if (a.run.status == 0) {
        ++succeeded;
      } else {
        ++refused;
        ++refusals[a.run.err];
      }
      if (a.command != "label") {
        known.insert(a.path);
        auto it = ids_of_path.find(a.path);
        std::size_t copies = it == ids_of_path.end() ? 0 : it->second.size();
        if (a.run.status == 0) {
          EXPECT_EQ(copies, 1u) << a.command << " of " << a.path << " succeeded but the catalog holds it " << copies
                                << " times";
          if (copies == 1 && a.id != 0) {
            EXPECT_EQ(it->second.front(), a.id) << a.path;
          }
        } else {
          EXPECT_EQ(copies, 0u) << a.command << " of " << a.path << " failed (" << a.run.describe()
                                << ") yet was saved";
        }
      } else if (a.run.status == 0) {
        expected_label[a.id] = a.label;
      }
    }
  }
  for (std::uint32_t id = 1; id <= kFirstItems; ++id) {
    EXPECT_EQ(label_of_id[id], expected_label[id]) << "item " << id << " does not carry the last label set on it";
  }
  for (const auto& [path, ids] : ids_of_path) {
    EXPECT_TRUE(known.count(path)) << "the catalog holds an item nobody added: " << path;
    EXPECT_EQ(ids.size(), 1u) << path << " is in the catalog " << ids.size() << " times";
  }
  // With every command refused, nothing above would have been checked.
  EXPECT_GT(succeeded, 0) << "every command was refused";
  std::cout << "[ writers  ] " << succeeded << " commands succeeded, " << refused << " were refused\n";
  for (const auto& [message, count] : refusals) std::cout << "[ writers  ] refused " << count << "x: " << message;
  RecordProperty("succeeded", succeeded);
  RecordProperty("refused", refused);
  doc.close(catalog::CloseSettings::kLeave);
}

}  // namespace
