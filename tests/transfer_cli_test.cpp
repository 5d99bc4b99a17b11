// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli to transfer and back up items' files, with an
// ISO image read back with osirrox.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

const std::vector<std::string> kSources = {"DSCN0010.jpg", "Canon_40D.jpg", "Nikon_D70.jpg"};

// Every file below `root` (relative path -> bytes).
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) tree[fs::relative(e.path(), root).string()] = ReadAll(e.path());
  }
  return tree;
}

class TransferCliTest : public CliHarness {
 protected:
  // The test photos as items 1.. of a new catalog: the first in media/, the
  // others in media/2004/.
  void SetUp() override {
    CliHarness::SetUp();
    fs::create_directories(dir_ / "media" / "2004");
    fs::create_directory(dir_ / "dest");
    for (std::size_t i = 0; i < kSources.size(); ++i) {
      paths_.push_back((dir_ / "media" / (i == 0 ? "" : "2004") / kSources[i]).string());
      fs::copy_file(kPhotos / kSources[i], paths_.back());
    }
    NewCatalog(paths_);
  }
  void TearDown() override {
    if (!other_.empty()) fs::remove_all(other_);
    CliHarness::TearDown();
  }
  std::vector<std::string> Paths(const std::string& catalog) {
    std::vector<std::string> paths;
    for (const Json& item : List(catalog)) paths.push_back(item["path"].is_null() ? "" : item["path"].get<std::string>());
    return paths;
  }
  std::string dest() const { return (dir_ / "dest").string(); }

  std::vector<std::string> paths_;
  std::string other_;
};

TEST_F(TransferCliTest, MoveOntoATmpfsPointsTheSavedCatalogAtTheCopies) {
  struct stat shm {}, here {};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(dir_.c_str(), &here) != 0 || shm.st_dev == here.st_dev) {
    GTEST_SKIP() << "no tmpfs on another file system";
  }
  std::string pattern = "/dev/shm/norvo-cli-transfer-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  other_ = pattern;
  const Json moved = JsonOf({"transfer", catalog_, other_, "--mode", "move", "--ids", "3,1"});
  ASSERT_EQ(moved.size(), 2u);
  for (const Json& item : moved) {
    EXPECT_EQ(item["result"], "moved");
    EXPECT_EQ(Keys(item), (std::vector<std::string>{"id", "source", "target", "result", "replaced", "error"}));
  }
  // Item 2 was not asked for.
  EXPECT_EQ(Paths(catalog_),
            (std::vector<std::string>{other_ + "/" + kSources[0], paths_[1], other_ + "/" + kSources[2]}));
  EXPECT_FALSE(fs::exists(paths_[0]));
  for (int i : {0, 2}) EXPECT_EQ(ReadAll(other_ + "/" + kSources[i]), ReadAll(kPhotos / kSources[i]));
  Ok({"check", catalog_});
}

TEST_F(TransferCliTest, NameClashesFollowOnClash) {
  for (const std::string& name : kSources) std::ofstream(dir_ / "dest" / name) << "older";
  struct Case {
    const char* answer;
    const char* result;
    bool replaced;
  };
  // Each answer on item 1 (a copy), then the file in dest put back.
  const Case cases[] = {{"skip", "skipped", false}, {"replace", "copied", true}, {"replace-all", "copied", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    const Json r = JsonOf({"transfer", catalog_, dest(), "--mode", "duplicate", "--ids", "1", "--on-clash", c.answer});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0]["result"], c.result);
    EXPECT_EQ(r[0]["replaced"], c.replaced);
    EXPECT_EQ(ReadAll(dir_ / "dest" / kSources[0]) == "older", !c.replaced);
    std::ofstream(dir_ / "dest" / kSources[0]) << "older";
  }
  // The default never replaces; "stop" ends the pass at the first clash.
  EXPECT_EQ(JsonOf({"transfer", catalog_, dest(), "--mode", "move"})[0]["error"], -48);
  const Json stopped = JsonOf({"transfer", catalog_, dest(), "--mode", "move", "--on-clash", "stop"});
  ASSERT_EQ(stopped.size(), 1u);
  EXPECT_EQ(stopped[0]["result"], "stopped");
  EXPECT_EQ(Paths(catalog_), paths_);
  for (const std::string& p : paths_) EXPECT_TRUE(fs::exists(p)) << p;
}

TEST_F(TransferCliTest, DuplicateLeavesTheCatalogFileAsItWas) {
  const std::string before = ReadAll(catalog_);
  const std::string text = Ok({"transfer", catalog_, dest(), "--mode", "duplicate"});
  EXPECT_NE(text.find("copied"), std::string::npos);
  EXPECT_EQ(ReadAll(catalog_), before);
  EXPECT_EQ(Paths(catalog_), paths_);
  for (const std::string& name : kSources) EXPECT_EQ(ReadAll(dir_ / "dest" / name), ReadAll(kPhotos / name));
  // An item already in the destination is left alone; a copy points the
  // items at the copies.
  const Json here = JsonOf({"transfer", catalog_, (dir_ / "media" / "2004").string(), "--mode", "copy", "--ids", "2"});
  EXPECT_EQ(here[0]["result"], "skipped");
  EXPECT_TRUE(here[0]["error"].is_null());
  fs::create_directory(dir_ / "dest2");
  const Json copied = JsonOf({"transfer", catalog_, (dir_ / "dest2").string(), "--mode", "copy"});
  for (const Json& item : copied) EXPECT_EQ(item["result"], "copied");
  EXPECT_EQ(Paths(catalog_)[1], (dir_ / "dest2" / kSources[1]).string());
}

TEST_F(TransferCliTest, WrongCommandLinesAndDestinations) {
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"transfer", catalog_, dest()}, 2},
      {{"transfer", catalog_, dest(), "--mode", "teleport"}, 2},
      {{"transfer", catalog_, dest(), "--mode", "copy", "--on-clash", "maybe"}, 2},
      {{"transfer", catalog_, dest(), "--mode", "copy", "--ids", "1,x"}, 2},
      {{"transfer", catalog_, dest(), "--mode", "copy", "--ids", "1,99"}, 1},
      {{"transfer", catalog_, (dir_ / "none").string(), "--mode", "copy"}, 1},
      {{"backup", catalog_, (dir_ / "none").string()}, 1},
      {{"backup", catalog_}, 2},
  };
  for (const Case& c : cases) Fails(c.args, c.status);
  EXPECT_TRUE(fs::is_empty(dir_ / "dest"));
}

TEST_F(TransferCliTest, BackedUpCatalogOpensAndFindsItsFiles) {
  const Json r = JsonOf({"backup", catalog_, dest(), "--include-catalog", "--reset-paths", "--keep-folders"});
  EXPECT_EQ(Keys(r), (std::vector<std::string>{"files", "total_bytes", "catalog_copy", "reader", "image", "warnings"}));
  ASSERT_EQ(r["files"].size(), 3u);
  EXPECT_EQ(r["catalog_copy"], dest() + "/test.nrk");
  EXPECT_EQ(r["reader"], false);
  EXPECT_EQ(r["warnings"].size(), 1u);  // no reader installed here
  const std::string autorun = ReadAll(dir_ / "dest" / "autorun.inf");
  EXPECT_NE(autorun.find("open = \\readers\\win\\NorvoReader.exe test.nrk\r\n"), std::string::npos);
  EXPECT_NE(autorun.find("label = test\r\n"), std::string::npos);

  // The copy opens on its own and every item is on the backup disk, below
  // the path its folder has on its own disk.
  const std::string copy = dest() + "/test.nrk";
  Ok({"check", copy});
  const auto copied = Paths(copy);
  ASSERT_EQ(copied.size(), 3u);
  for (std::size_t i = 0; i < copied.size(); ++i) {
    EXPECT_TRUE(copied[i].starts_with(dest() + "/")) << copied[i];
    EXPECT_TRUE(copied[i].ends_with(paths_[i].substr(1))) << copied[i];  // the whole path from "/"
    EXPECT_EQ(ReadAll(copied[i]), ReadAll(paths_[i]));
  }
  // The open catalog was saved with the reset paths, in its own file.
  EXPECT_EQ(Paths(catalog_), copied);
}

TEST_F(TransferCliTest, BackupRefusesMissingFilesAndUnsavedCatalogs) {
  fs::remove(paths_[2]);
  Fails({"backup", catalog_, dest()}, 1, "because the catalog contains files not found in mounted volumes.");
  EXPECT_TRUE(fs::is_empty(dir_ / "dest"));
  // A second run onto a disk that has the files already copies nothing new.
  fs::copy_file(kPhotos / kSources[2], paths_[2]);
  JsonOf({"backup", catalog_, dest()});
  const Json again = JsonOf({"backup", catalog_, dest()});
  for (const Json& f : again["files"]) EXPECT_EQ(f["already_there"], true);
}

TEST_F(TransferCliTest, IsoImageReadBackMatchesTheStagingFolder) {
  if (!Have({"xorriso", "osirrox"})) GTEST_SKIP() << "xorriso is not installed";
  const std::string image = (dir_ / "backup.iso").string();
  const Json r = JsonOf({"backup", catalog_, dest(), "--include-catalog", "--keep-folders", "--iso", image});
  EXPECT_EQ(r["image"], image);
  const fs::path out = dir_ / "read-back";
  ASSERT_EQ(std::system(("osirrox -indev '" + image + "' -extract / '" + out.string() + "' >/dev/null 2>&1").c_str()),
            0);
  const auto staged = Tree(dir_ / "dest");
  EXPECT_EQ(staged.size(), 5u);  // three photos, the catalog and autorun.inf
  EXPECT_EQ(Tree(out), staged);
  Fails({"backup", catalog_, dest(), "--iso", image}, 1);  // never written over an existing file
  fs::remove_all(out);
}

}  // namespace
