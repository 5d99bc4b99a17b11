// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/batch_rename.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "output/catalog_folder_test_support.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;

// Names in other scripts, spelled out in UTF-8.
const std::string kThalassa = "\xCE\x98\xCE\x86\xCE\x9B\xCE\x91\xCE\xA3\xCE\xA3\xCE\x91";       // ΘΆΛΑΣΣΑ
const std::string kThalassaLower = "\xCE\xB8\xCE\xAC\xCE\xBB\xCE\xB1\xCF\x83\xCF\x83\xCE\xB1";  // θάλασσα
const std::string kShashin = "\xE5\x86\x99\xE7\x9C\x9F";                                       // 写真
const std::string kE = "\xE7\xB5\xB5";                                                         // 絵
const std::string kSunrise = "\xF0\x9F\x8C\x85";                                                // 🌅
const std::string kStrasse = "Stra\xC3\x9F" "e";                                                // Straße

RenameSettings Settings(RenameMode mode) {
  RenameSettings s;
  s.mode = mode;
  return s;
}

// --- the rules for one name ----------------------------------------------------

TEST(RenameNames, EachModeBuildsTheNameItsRuleSays) {
  struct Case {
    const char* name;
    std::string current;
    RenameSettings settings;
    std::string want;
  };
  auto numbered = [](std::uint32_t counter, std::uint32_t last, bool pad = true, bool keep = true) {
    RenameSettings s = Settings(RenameMode::kIncremental);
    s.base_text = "Trip";
    s.counter = counter;
    s.last_number = last;
    s.zero_pad = pad;
    s.keep_extension = keep;
    return s;
  };
  auto replace = [](std::string find, std::string with, bool exact) {
    RenameSettings s = Settings(RenameMode::kReplaceString);
    s.search_text = std::move(find);
    s.replacement_text = std::move(with);
    s.case_sensitive = exact;
    return s;
  };
  auto add = [](std::string text, AddPosition at) {
    RenameSettings s = Settings(RenameMode::kAddString);
    s.added_text = std::move(text);
    s.position = at;
    return s;
  };
  auto convert = [](NameCase to) {
    RenameSettings s = Settings(RenameMode::kConvert);
    s.name_case = to;
    return s;
  };
  const Case cases[] = {
      {"padded to the last number's width", "IMG_1.JPG", numbered(8, 12), "Trip08.JPG"},
      {"no padding once as wide", "IMG_1.JPG", numbered(10, 12), "Trip10.JPG"},
      {"padding off", "IMG_1.JPG", numbered(8, 12, false), "Trip8.JPG"},
      {"nine digits at most", "a.jpg", numbered(5, 1'000'000'500), "Trip000000005.jpg"},
      {"extension from the last dot", "archive.tar.gz", numbered(3, 3), "Trip3.gz"},
      {"no dot, no extension", "README", numbered(1, 1), "Trip1"},
      {"extension not kept", "a.jpg", numbered(1, 1, true, false), "Trip1"},
      {"first match only, ignoring case", "Banana.JPG", replace("a", "o", false), "Bonana.JPG"},
      {"a leading capital is the first match", "Apple.jpg", replace("a", "o", false), "opple.jpg"},
      {"exact case finds no capital", "Apple.jpg", replace("a", "o", true), "Apple.jpg"},
      {"exact case", "aAa.jpg", replace("A", "b", true), "aba.jpg"},
      {"empty search changes nothing", "Banana.JPG", replace("", "o", false), "Banana.JPG"},
      {"no match", "Banana.JPG", replace("x", "o", false), "Banana.JPG"},
      {"Greek ignoring case", kThalassa + ".jpg", replace("\xCF\x83\xCF\x83", "ss", false), "\xCE\x98\xCE\x86\xCE\x9B\xCE\x91ss\xCE\x91.jpg"},
      {"sharp s matches SS whole", kStrasse + ".png", replace("SS", "x", false), "Straxe.png"},
      {"S matches the first S, not half of sharp s", kStrasse + ".png", replace("s", "x", false), "xtra\xC3\x9F" "e.png"},
      {"Japanese", kShashin + ".jpg", replace("\xE7\x9C\x9F", kE, true), "\xE5\x86\x99" + kE + ".jpg"},
      {"after an emoji", kSunrise + " sunrise.jpg", replace("SUNRISE", "dawn", false), kSunrise + " dawn.jpg"},
      {"at start", "a.jpg", add("x_", AddPosition::kAtStart), "x_a.jpg"},
      {"at end", "a.jpg", add("_x", AddPosition::kAtEnd), "a.jpg_x"},
      {"before the last dot", "a.b.jpg", add("_x", AddPosition::kBeforeExtension), "a.b_x.jpg"},
      {"before extension without a dot appends", "README", add("_x", AddPosition::kBeforeExtension), "README_x"},
      {"an emoji added", "a.jpg", add(kSunrise, AddPosition::kBeforeExtension), "a" + kSunrise + ".jpg"},
      {"lower case", "IMG_0001.JPG", convert(NameCase::kLower), "img_0001.jpg"},
      {"upper case", "img_0001.jpg", convert(NameCase::kUpper), "IMG_0001.JPG"},
      {"Greek lower case", kThalassa + ".JPG", convert(NameCase::kLower), kThalassaLower + ".jpg"},
      {"sharp s upper-cases to SS", kStrasse + ".png", convert(NameCase::kUpper), "STRASSE.PNG"},
      {"dotted i stays in the root locale", "istanbul.jpg", convert(NameCase::kUpper), "ISTANBUL.JPG"},
      {"bytes that are not UTF-8 stay", "\xFF" "ABC.JPG", convert(NameCase::kLower), "\xFF" "abc.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NewName(c.current, c.settings), c.want);
  }
}

TEST(RenameNames, TextsAreCutToThirtyCharactersNotBytes) {
  std::string greek;
  for (int i = 0; i < 40; ++i) greek += "\xCE\xB1";  // α, two bytes each
  std::string emoji;
  for (int i = 0; i < 31; ++i) emoji += kSunrise;
  RenameSettings s;
  s.base_text = greek;
  s.search_text = emoji;
  s.replacement_text = std::string(30, 'r');
  s.added_text = "short";
  CutRenameTexts(s);
  EXPECT_EQ(s.base_text, greek.substr(0, 60));
  EXPECT_EQ(s.search_text, emoji.substr(0, 120));
  EXPECT_EQ(s.replacement_text, std::string(30, 'r'));
  EXPECT_EQ(s.added_text, "short");
}

TEST(RenameNames, StartNumbersBelowTwoAreOneAndLargeOnesAreCapped) {
  const std::pair<long long, std::uint32_t> cases[] = {
      {-5, 1}, {0, 1}, {1, 1}, {2, 2}, {999'999'999, 999'999'999}, {1'000'000'000, 1'000'000'000},
      {5'000'000'000'000LL, 1'000'000'000}};
  for (const auto& [typed, want] : cases) EXPECT_EQ(StartNumber(typed), want) << typed;
  RenameSettings s;
  StartNumbering(s, 8, 5);
  EXPECT_EQ(s.counter, 8u);
  EXPECT_EQ(s.last_number, 12u);
  StartNumbering(s, 0, 3);
  EXPECT_EQ(s.counter, 1u);
  EXPECT_EQ(s.last_number, 3u);
}

TEST(RenameNames, NamesNoFileCanHaveAreRefused) {
  for (std::string bad : {std::string(), std::string("."), std::string(".."), std::string("a/b.jpg"),
                          std::string("a\0b", 3), std::string(256, 'x')}) {
    EXPECT_EQ(CheckNewName(bad), err::kBadName) << bad;
  }
  for (std::string good : {std::string("..a"), std::string(255, 'x'), kSunrise + kShashin, std::string("a\\b")}) {
    EXPECT_EQ(CheckNewName(good), err::kNone) << good;
  }
}

// --- renaming files in a catalog ----------------------------------------------

class BatchRenameTest : public testing::CatalogFolderTest {
 protected:
  void SetUp() override {
    CatalogFolderTest::SetUp();
    fs::create_directory(dir_ + "/media");
  }

  std::string At(const std::string& leaf) const { return dir_ + "/media/" + leaf; }
  // Files with these names (each holding its own name) as pending items, in
  // this catalog order; their ids.
  std::vector<std::uint32_t> AddFiles(const std::vector<std::string>& names) {
    std::vector<std::uint32_t> ids;
    for (const std::string& name : names) {
      std::ofstream(At(name), std::ios::binary) << name;
      std::uint32_t id = 0;
      EXPECT_EQ(catalog::AddPendingItem(*catalog_, Spec(At(name)), &id), err::kNone) << name;
      ids.push_back(id);
    }
    return ids;
  }
  static std::string Read(const std::string& path) { return testing::ReadFile(path); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ + "/media")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Each item's file name, in catalog order.
  std::vector<std::string> ItemNames() const {
    std::vector<std::string> names;
    for (int cell = 1; cell <= catalog_->itemCount(); ++cell) {
      names.push_back(LeafName(catalog::ItemPath(*catalog_, cell).value_or("(none)")));
    }
    return names;
  }
  std::vector<std::string> NewNames(const std::vector<RenameOutcome>& outcomes) const {
    std::vector<std::string> names;
    for (const RenameOutcome& o : outcomes) names.push_back(o.new_name);
    return names;
  }
  ErrorCode Run(const std::vector<std::uint32_t>& ids, RenameSettings& s, std::vector<RenameOutcome>& out,
                RenameRun run = RenameRun::kForReal, const RenameProgress& progress = {}) {
    return BatchRename(*catalog_, ids, s, run, progress, &out);
  }
  // Saves, closes and opens the catalog again: every item whose file is
  // there finds it where the catalog says, without being pointed anew.
  void SaveAndReopen() {
    CatalogFolderTest::SaveAndReopen(dir_ + "/rename.nrk");
    for (int cell = 1; cell <= catalog_->itemCount(); ++cell) {
      std::string path;
      EXPECT_EQ(catalog::LocateItemFile(*catalog_, cell, path), err::kNone) << cell;
      EXPECT_EQ(std::optional<std::string>(path), catalog::ItemPath(*catalog_, cell));
    }
    EXPECT_FALSE(catalog_->changed());
  }
};

RenameSettings Numbered(const std::string& base, long long start, int count) {
  RenameSettings s = Settings(RenameMode::kIncremental);
  s.base_text = base;
  StartNumbering(s, start, count);
  return s;
}

TEST_F(BatchRenameTest, TripEightToTwelveInCatalogOrderEachWithItsExtension) {
  std::vector<std::uint32_t> ids = AddFiles({"e.jpg", "d.JPG", "c.png", "b", "a.mov"});
  RenameSettings s = Numbered("Trip", 8, 5);
  std::vector<RenameOutcome> out;
  // Given in another order: the catalog's order decides.
  ASSERT_EQ(Run({ids[4], ids[2], ids[0], ids[3], ids[1]}, s, out), err::kNone);
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"Trip08.jpg", "Trip09.JPG", "Trip10.png", "Trip11", "Trip12.mov"}));
  ASSERT_EQ(out.size(), 5u);
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].item_id, ids[i]);
    EXPECT_EQ(out[i].status, RenameStatus::kRenamed);
    EXPECT_EQ(out[i].folder, dir_ + "/media");
  }
  EXPECT_EQ(out[1].old_name, "d.JPG");
  EXPECT_EQ(Read(At("Trip09.JPG")), "d.JPG");
  EXPECT_EQ(s.counter, 13u);  // the record keeps where numbering stopped
  SaveAndReopen();
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"Trip08.jpg", "Trip09.JPG", "Trip10.png", "Trip11", "Trip12.mov"}));
}

TEST_F(BatchRenameTest, ATakenNumberIsPassedOverAndNothingIsReplaced) {
  std::vector<std::uint32_t> ids = AddFiles({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
  std::ofstream(At("Trip09.jpg")) << "someone else's";
  RenameSettings s = Numbered("Trip", 8, 5);
  std::vector<RenameOutcome> out;
  ASSERT_EQ(Run(ids, s, out), err::kNone);
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"Trip08.jpg", "Trip10.jpg", "Trip11.jpg", "Trip12.jpg", "Trip13.jpg"}));
  EXPECT_EQ(Read(At("Trip09.jpg")), "someone else's");
  EXPECT_EQ(s.last_number, 13u);
  SaveAndReopen();
}

// The dry run must foresee what the real run does, collisions inside the
// batch included, and touch nothing.
TEST_F(BatchRenameTest, DryRunForeseesTheRealRunAndTouchesNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> files;   // catalog order
    std::vector<std::string> others;  // files in the folder that are not items
    RenameSettings settings;
    std::vector<std::string> want;    // new names
    std::vector<RenameStatus> statuses;
  };
  RenameSettings replace_b = Settings(RenameMode::kReplaceString);
  replace_b.search_text = "b";
  replace_b.replacement_text = "a";
  RenameSettings lower = Settings(RenameMode::kConvert);
  RenameSettings drop_x = Settings(RenameMode::kReplaceString);
  drop_x.search_text = "x";
  using S = RenameStatus;
  const Case cases[] = {
      {"an earlier item takes the number of a later one's file", {"x.jpg", "Trip1.jpg"}, {}, Numbered("Trip", 1, 2),
       {"Trip2.jpg", "Trip3.jpg"}, {S::kRenamed, S::kRenamed}},
      {"a name given up earlier is free again", {"Trip2.jpg", "x.jpg"}, {}, Numbered("Trip", 1, 2),
       {"Trip1.jpg", "Trip2.jpg"}, {S::kRenamed, S::kRenamed}},
      {"names already right", {"1.jpg", "2.jpg"}, {}, Numbered("", 1, 2), {"1.jpg", "2.jpg"},
       {S::kUnchanged, S::kUnchanged}},
      {"a name taken inside the batch", {"a.jpg", "b.jpg"}, {}, replace_b, {"a.jpg", "a.jpg"},
       {S::kUnchanged, S::kFailed}},
      {"two items given the same new name", {"ax.jpg", "xa.jpg"}, {}, drop_x, {"a.jpg", "a.jpg"},
       {S::kRenamed, S::kFailed}},
      {"two names that lower-case alike", {"A.JPG", "a.JPG"}, {}, lower, {"a.jpg", "a.jpg"},
       {S::kRenamed, S::kFailed}},
      {"case only, and another file of the lower-case name", {"IMG_0001.JPG", "IMG_0002.JPG"}, {"img_0002.jpg"},
       lower, {"img_0001.jpg", "img_0002.jpg"}, {S::kRenamed, S::kFailed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    while (catalog_->itemCount() > 0) ASSERT_EQ(catalog::RemoveItem(*catalog_, 1), err::kNone);
    fs::remove_all(dir_ + "/media");
    fs::create_directory(dir_ + "/media");
    std::vector<std::uint32_t> ids = AddFiles(c.files);
    for (const std::string& other : c.others) std::ofstream(At(other)) << "other";
    const std::vector<std::string> files_before = Files();
    const std::vector<std::string> items_before = ItemNames();
    catalog_->modification_stamp = 0;

    RenameSettings dry_settings = c.settings;
    std::vector<RenameOutcome> dry;
    ASSERT_EQ(Run(ids, dry_settings, dry, RenameRun::kDryRun), err::kNone);
    EXPECT_EQ(Files(), files_before);
    EXPECT_EQ(ItemNames(), items_before);
    EXPECT_FALSE(catalog_->changed());
    EXPECT_EQ(dry_settings.counter, c.settings.counter);
    EXPECT_EQ(dry_settings.last_number, c.settings.last_number);

    RenameSettings real_settings = c.settings;
    std::vector<RenameOutcome> real;
    ASSERT_EQ(Run(ids, real_settings, real), err::kNone);
    EXPECT_EQ(NewNames(dry), c.want);
    EXPECT_EQ(NewNames(real), c.want);
    ASSERT_EQ(real.size(), c.statuses.size());
    for (std::size_t i = 0; i < real.size(); ++i) {
      EXPECT_EQ(dry[i].status, c.statuses[i]) << i;
      EXPECT_EQ(real[i].status, c.statuses[i]) << i;
      EXPECT_EQ(dry[i].error, real[i].error) << i;
      if (c.statuses[i] == S::kFailed) {
        EXPECT_EQ(real[i].error, err::kDuplicateName);
      }
    }
    // Failed items keep their names; the others file's content is intact.
    for (std::size_t i = 0; i < real.size(); ++i) {
      const std::string& now = c.statuses[i] == S::kFailed ? c.files[i] : c.want[i];
      EXPECT_EQ(ItemNames()[i], now);
      EXPECT_EQ(Read(At(now)), c.files[i]);
    }
    for (const std::string& other : c.others) EXPECT_EQ(Read(At(other)), "other");
  }
  SaveAndReopen();
}

TEST_F(BatchRenameTest, NamesInAnyScriptAreRenamedSavedAndFoundAgain) {
  std::vector<std::uint32_t> ids = AddFiles({kThalassa + ".JPG", kShashin + ".jpg", kSunrise + ".png", "IMG_0001.JPG"});
  RenameSettings lower = Settings(RenameMode::kConvert);
  std::vector<RenameOutcome> out;
  ASSERT_EQ(Run(ids, lower, out), err::kNone);
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{kThalassaLower + ".jpg", kShashin + ".jpg", kSunrise + ".png",
                                                    "img_0001.jpg"}));
  EXPECT_EQ(out[1].status, RenameStatus::kUnchanged);
  EXPECT_EQ(Files(), (std::vector<std::string>{"img_0001.jpg", kThalassaLower + ".jpg", kShashin + ".jpg",
                                                kSunrise + ".png"}));  // no temporary left

  RenameSettings add = Settings(RenameMode::kAddString);
  add.added_text = kSunrise + kE;
  add.position = AddPosition::kBeforeExtension;
  ASSERT_EQ(Run(ids, add, out), err::kNone);
  EXPECT_EQ(ItemNames()[1], kShashin + kSunrise + kE + ".jpg");
  SaveAndReopen();
  catalog::ItemRecord record;
  ASSERT_EQ(catalog::GetItemRecord(*catalog_, 2, catalog::kWholeRecord, record), err::kNone);
  EXPECT_EQ(catalog::ItemFileNameUtf8(record), kShashin + kSunrise + kE + ".jpg");
  EXPECT_EQ(record.true_display_name, kShashin + kSunrise + kE + ".jpg");
}

TEST_F(BatchRenameTest, MissingFilesAndItemsAreSkippedEvenWhenTheyVanishMidBatch) {
  std::vector<std::uint32_t> ids = AddFiles({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
  fs::remove(At("b.jpg"));
  RenameSettings s = Numbered("n", 1, 5);
  std::vector<RenameOutcome> out;
  // After the first item, c.jpg goes from the disk and b's item from the
  // catalog, which moves the later items up a cell.
  auto progress = [&](ProgressPhase phase, int done, int) {
    if (phase == ProgressPhase::kStep && done == 1) {
      fs::remove(At("c.jpg"));
      EXPECT_EQ(catalog::RemoveItem(*catalog_, catalog_->cellOf(ids[1])), err::kNone);
    }
    return 0;
  };
  ASSERT_EQ(Run({ids[0], ids[1], ids[2], ids[3], ids[4], 999}, s, out, RenameRun::kForReal, progress), err::kNone);
  ASSERT_EQ(out.size(), 6u);
  const std::vector<std::pair<RenameStatus, ErrorCode>> want = {
      {RenameStatus::kRenamed, err::kNone},       {RenameStatus::kSkipped, err::kParam},
      {RenameStatus::kSkipped, err::kFileNotFound}, {RenameStatus::kRenamed, err::kNone},
      {RenameStatus::kRenamed, err::kNone},       {RenameStatus::kSkipped, err::kParam}};
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(out[i].status, want[i].first) << i;
    EXPECT_EQ(out[i].error, want[i].second) << i;
  }
  EXPECT_EQ(out[5].item_id, 999u);
  EXPECT_EQ(NewNames(out), (std::vector<std::string>{"n1.jpg", "", "", "n2.jpg", "n3.jpg", ""}));  // numbers go to renamed files only
  EXPECT_EQ(Files(), (std::vector<std::string>{"n1.jpg", "n2.jpg", "n3.jpg"}));
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"n1.jpg", "c.jpg", "n2.jpg", "n3.jpg"}));
}

TEST_F(BatchRenameTest, CancellingStopsBeforeTheNextItem) {
  std::vector<std::uint32_t> ids = AddFiles({"a.jpg", "b.jpg", "c.jpg"});
  RenameSettings s = Numbered("n", 1, 3);
  std::vector<RenameOutcome> out;
  std::vector<ProgressPhase> phases;
  auto progress = [&](ProgressPhase phase, int done, int total) {
    phases.push_back(phase);
    EXPECT_EQ(total, 3);
    return phase == ProgressPhase::kStep && done == 2 ? 1 : 0;
  };
  EXPECT_EQ(Run(ids, s, out, RenameRun::kForReal, progress), err::kUserCancelled);
  EXPECT_EQ(out.size(), 2u);
  EXPECT_EQ(Files(), (std::vector<std::string>{"c.jpg", "n1.jpg", "n2.jpg"}));
  EXPECT_EQ(phases, (std::vector<ProgressPhase>{ProgressPhase::kStart, ProgressPhase::kStep, ProgressPhase::kStep,
                                                ProgressPhase::kEnd}));
  SaveAndReopen();
}

TEST_F(BatchRenameTest, NamesNoFileCanHaveLeaveTheirItemsAlone) {
  std::vector<std::uint32_t> ids = AddFiles({"a.jpg", "x.jpg", "b."});
  struct Case {
    const char* find;
    const char* with;
  };
  for (const Case& c : {Case{"a", "/"}, Case{"x.jpg", ""}, Case{"b", "."}}) {
    SCOPED_TRACE(c.find);
    RenameSettings s = Settings(RenameMode::kReplaceString);
    s.search_text = c.find;
    s.replacement_text = c.with;
    std::vector<RenameOutcome> out;
    ASSERT_EQ(Run(ids, s, out), err::kNone);
    EXPECT_EQ(std::count_if(out.begin(), out.end(),
                            [](const RenameOutcome& o) { return o.status == RenameStatus::kFailed && o.error == err::kBadName; }),
              1);
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.jpg", "b.", "x.jpg"}));
}

// When the catalog cannot record a rename, the file gets its name back and
// the batch stops; a catalog open for viewing renames nothing.
TEST_F(BatchRenameTest, ACatalogThatCannotFollowRenamesNothing) {
  std::vector<std::uint32_t> ids = AddFiles({"a.jpg", "b.jpg"});
  RenameSettings s = Numbered("n", 1, 2);
  std::vector<RenameOutcome> out;
  faults::FailNthWrite(1, err::kDiskFull);
  EXPECT_NE(Run(ids, s, out), err::kNone);
  faults::Reset();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].status, RenameStatus::kFailed);
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"a.jpg", "b.jpg"}));

  catalog_->read_only = true;
  EXPECT_EQ(Run(ids, s, out), err::kWritePermission);
  EXPECT_TRUE(out.empty());
  catalog_->read_only = false;
  RenameSettings wrong = s;
  wrong.mode = static_cast<RenameMode>(5);
  EXPECT_EQ(Run(ids, wrong, out), err::kParam);
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
}

TEST_F(BatchRenameTest, UndoGivesFilesAndItemsTheirOldNames) {
  std::vector<std::uint32_t> ids = AddFiles({"IMG_1.JPG", "b.jpg", "c.jpg"});
  RenameSettings s = Settings(RenameMode::kConvert);
  std::vector<RenameOutcome> out;
  ASSERT_EQ(Run(ids, s, out), err::kNone);
  EXPECT_EQ(Files(), (std::vector<std::string>{"b.jpg", "c.jpg", "img_1.jpg"}));
  ASSERT_EQ(UndoRenames(*catalog_, out), err::kNone);
  EXPECT_EQ(Files(), (std::vector<std::string>{"IMG_1.JPG", "b.jpg", "c.jpg"}));
  EXPECT_EQ(ItemNames(), (std::vector<std::string>{"IMG_1.JPG", "b.jpg", "c.jpg"}));
  SaveAndReopen();
}

}  // namespace
}  // namespace norvo::output
