// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli to rename items' files. After every run the
// catalog checks clean and every item's file is where the catalog says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

const std::string kGreek = "\xCE\x98\xCE\x86\xCE\x9B\xCE\x91\xCE\xA3\xCE\xA3\xCE\x91";  // ΘΆΛΑΣΣΑ
const std::string kGreekLower = "\xCE\xB8\xCE\xAC\xCE\xBB\xCE\xB1\xCF\x83\xCF\x83\xCE\xB1";  // θάλασσα
const std::string kJapanese = "\xE5\x86\x99\xE7\x9C\x9F";  // 写真
const std::string kSunrise = "\xF0\x9F\x8C\x85";          // 🌅

class RenameCliTest : public CliHarness {
 protected:
  void SetUp() override {
    CliHarness::SetUp();
    fs::create_directory(dir_ / "media");
  }
  // A catalog of pending items for files with these names (each holding its
  // own name) in the media folder; ids 1.. in that order.
  void MakeCatalog(const std::vector<std::string>& names) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
      files.push_back((dir_ / "media" / name).string());
      std::ofstream(files.back(), std::ios::binary) << name;
    }
    NewCatalog(files);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "media")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Each item's file name, in catalog order; every one must be on disk where
  // the catalog says, and the catalog must check clean.
  std::vector<std::string> ItemFiles() {
    std::vector<std::string> names;
    for (const Json& item : List(catalog_)) {
      const std::string path = item["path"].get<std::string>();
      EXPECT_TRUE(fs::exists(path)) << path;
      EXPECT_EQ(fs::path(path).filename().string(), item["file_name"].get<std::string>());
      names.push_back(item["file_name"].get<std::string>());
    }
    EXPECT_EQ(Run({"check", catalog_}).status, 0);
    return names;
  }
  // Runs a rename with --json; the new names it reports.
  std::vector<std::string> Rename(const std::vector<std::string>& args) {
    std::vector<std::string> names;
    for (const Json& item : JsonOf(Plus({"rename", catalog_}, args))) {
      names.push_back(item["new_name"].is_null() ? "" : item["new_name"].get<std::string>());
    }
    return names;
  }
};

// The examples of each mode, one catalog each.
TEST_F(RenameCliTest, EachModeRenamesFilesAndItems) {
  struct Case {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::string> args;  // after CATALOG; ids are added
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"Trip08 to Trip12", {"a.jpg", "b.jpg", "c.JPG", "d.png", "e.jpg"}, {"--mode", "number", "--base", "Trip", "--start", "8"},
       {"Trip08.jpg", "Trip09.jpg", "Trip10.JPG", "Trip11.png", "Trip12.jpg"}},
      {"negative start counts from 1", {"a.jpg"}, {"--mode", "number", "--start", "-7", "--keep-extension", "no"}, {"1"}},
      {"no padding", {"a.jpg", "b.jpg"}, {"--mode", "number", "--base", "n", "--start", "9", "--no-pad"}, {"n9.jpg", "n10.jpg"}},
      {"first match, any case", {"Banana.JPG", "Apple.jpg"}, {"--mode", "replace", "--find", "a", "--with", "o"},
       {"Bonana.JPG", "opple.jpg"}},
      {"case-sensitive", {"Banana.JPG", "Apple.jpg"}, {"--mode", "replace", "--find", "a", "--with", "o", "--case-sensitive"},
       {"Bonana.JPG", "Apple.jpg"}},
      {"before the extension, or at the end without one", {"a.jpg", "README"},
       {"--mode", "add", "--text", "_v2", "--at", "before-extension"}, {"a_v2.jpg", "README_v2"}},
      {"at the start by default", {"a.jpg"}, {"--mode", "add", "--text", "2024 "}, {"2024 a.jpg"}},
      {"lower case", {"IMG_0001.JPG", "DSC_2.JPG"}, {"--mode", "case", "--to", "lower"}, {"img_0001.jpg", "dsc_2.jpg"}},
      {"Greek, Japanese and emoji names", {kGreek + ".JPG", kJapanese + ".JPG", kSunrise + ".JPG"},
       {"--mode", "case", "--to", "lower"}, {kGreekLower + ".jpg", kJapanese + ".jpg", kSunrise + ".jpg"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "media");
    fs::create_directory(dir_ / "media");
    fs::remove(catalog_);
    MakeCatalog(c.files);
    std::vector<std::string> ids;
    for (std::size_t id = 1; id <= c.files.size(); ++id) ids.push_back(std::to_string(id));
    EXPECT_EQ(Rename(Plus(ids, c.args)), c.want);
    EXPECT_EQ(ItemFiles(), c.want);
    const std::set<std::string> names(c.want.begin(), c.want.end());
    EXPECT_EQ(Files(), std::vector<std::string>(names.begin(), names.end()));  // no temporary or old name left
    // Each file kept its content under its new name.
    for (std::size_t i = 0; i < c.files.size(); ++i) EXPECT_EQ(ReadAll(dir_ / "media" / c.want[i]), c.files[i]);
  }
}

TEST_F(RenameCliTest, DryRunListsWhatARealRunDoesAndChangesNothing) {
  MakeCatalog({"x.jpg", "Trip1.jpg", "c.jpg"});
  std::ofstream(dir_ / "media" / "Trip3.jpg") << "not an item";
  const std::string catalog_before = ReadAll(catalog_);
  const std::vector<std::string> files_before = Files();
  const std::vector<std::string> args = {"rename", catalog_, "1", "2", "3", "--mode", "number", "--base", "Trip", "--json"};
  const std::string dry = Ok(Plus(args, {"--dry-run"}));
  EXPECT_EQ(ReadAll(catalog_), catalog_before);
  EXPECT_EQ(Files(), files_before);

  const std::string real = Ok(args);
  EXPECT_EQ(dry, real);
  // x.jpg found Trip1 taken by item 2 and Trip3 by a file outside the
  // catalog; nothing was replaced.
  EXPECT_EQ(ItemFiles(), (std::vector<std::string>{"Trip2.jpg", "Trip4.jpg", "Trip5.jpg"}));
  EXPECT_EQ(ReadAll(dir_ / "media" / "Trip3.jpg"), "not an item");
  EXPECT_NE(ReadAll(catalog_), catalog_before);

  // The text form lists the same names.
  const std::string text = Ok({"rename", catalog_, "1", "2", "3", "--mode", "case", "--to", "upper", "--dry-run"});
  EXPECT_NE(text.find("Trip2.jpg  TRIP2.JPG"), std::string::npos) << text;
  EXPECT_EQ(ItemFiles(), (std::vector<std::string>{"Trip2.jpg", "Trip4.jpg", "Trip5.jpg"}));
}

TEST_F(RenameCliTest, TakenNamesMissingFilesAndRefusedNamesAreReportedPerItem) {
  MakeCatalog({"IMG_1.JPG", "IMG_2.JPG", "gone.JPG", "a.jpg", "b.jpg"});
  std::ofstream(dir_ / "media" / "img_2.jpg") << "another photo";
  fs::remove(dir_ / "media" / "gone.JPG");
  Json out = JsonOf({"rename", catalog_, "1", "2", "3", "--mode", "case", "--to", "lower"});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ((Json{out[0]["result"], out[1]["result"], out[1]["error"], out[2]["result"], out[2]["error"]}),
            (Json{"renamed", "failed", -48, "skipped", -43}));
  EXPECT_TRUE(out[2]["new_name"].is_null());
  EXPECT_EQ(ReadAll(dir_ / "media" / "img_2.jpg"), "another photo");
  EXPECT_EQ(ReadAll(dir_ / "media" / "IMG_2.JPG"), "IMG_2.JPG");

  // Inside the batch: b.jpg would become a.jpg, which a.jpg still has; a
  // name with "/" is refused.
  out = JsonOf({"rename", catalog_, "4", "5", "--mode", "replace", "--find", "b", "--with", "a"});
  EXPECT_EQ((Json{out[0]["result"], out[1]["result"], out[1]["error"]}), (Json{"unchanged", "failed", -48}));
  out = JsonOf({"rename", catalog_, "4", "--mode", "replace", "--find", "a", "--with", "sub/a"});
  EXPECT_EQ((Json{out[0]["result"], out[0]["error"]}), (Json{"failed", -37}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"IMG_2.JPG", "a.jpg", "b.jpg", "img_1.jpg", "img_2.jpg"}));
}

// A renamed photo is still the item's file: the scan reads it.
TEST_F(RenameCliTest, ARenamedPhotoIsScannedUnderItsNewName) {
  Ok({"new", catalog_});
  Ok({"add", catalog_, Photo("Canon_40D.jpg", "media/IMG_0001.JPG")});
  EXPECT_EQ(Rename({"1", "--mode", "add", "--text", kGreek, "--at", "before-extension"}),
            std::vector<std::string>{"IMG_0001" + kGreek + ".JPG"});
  JsonOf({"scan", catalog_});
  Json item = List(catalog_)[0];
  EXPECT_FALSE(item["pending"].get<bool>());
  EXPECT_GT(item["width"].get<int>(), 0);
  EXPECT_EQ(item["display_name"], "IMG_0001" + kGreek + ".JPG");
}

TEST_F(RenameCliTest, WrongCommandLinesChangeNothing) {
  MakeCatalog({"a.jpg"});
  const std::string before = ReadAll(catalog_);
  struct Case {
    std::vector<std::string> args;  // after CATALOG 1
    std::string problem;
  };
  const Case cases[] = {
      {{}, "give --mode number, replace, add or case"},
      {{"--mode", "shuffle"}, "give --mode"},
      {{"--mode", "number", "--find", "a"}, "--find goes with --mode replace"},
      {{"--mode", "case", "--base", "a", "--to", "lower"}, "--base goes with --mode number"},
      {{"--mode", "replace"}, "--mode replace needs --find"},
      {{"--mode", "add"}, "--mode add needs --text"},
      {{"--mode", "case"}, "--mode case needs --to"},
      {{"--mode", "case", "--to", "title"}, "--to takes one of lower, upper"},
      {{"--mode", "add", "--text", "x", "--at", "middle"}, "--at takes one of"},
      {{"--mode", "number", "--start", "eight"}, "--start takes a whole number"},
      {{"--mode", "number", "--keep-extension", "maybe"}, "--keep-extension takes one of yes, no"},
      {{"--mode", "number", "--base", std::string(31, 'x')}, "--base takes at most 30 characters"},
  };
  for (const Case& c : cases) {
    Fails(Plus({"rename", catalog_, "1"}, c.args), 2, c.problem);
  }
  // Thirty characters in another script are fine.
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "\xCE\xB1";
  EXPECT_EQ(Run({"rename", catalog_, "1", "--mode", "number", "--base", thirty, "--dry-run"}).status, 0);
  Fails({"rename", catalog_, "7", "--mode", "case", "--to", "upper"}, 1, "(error -50)");
  EXPECT_EQ(ReadAll(catalog_), before);
  EXPECT_EQ(Files(), std::vector<std::string>{"a.jpg"});
}

}  // namespace
