// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/import.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "media/import_test_support.h"
#include "platform/byte_io.h"
#include "platform/dates.h"
#include "platform/fault_injection.h"

namespace norvo::media {
namespace {

using Strings = std::vector<std::string>;

// --- filters on their own ---------------------------------------------------------------

// Options with one filter enabled.
ImportSettings With(ImportFilter filter, std::uint8_t op) {
  ImportSettings s = ImportSettings::Defaults();
  s.enable(filter, true);
  s.setOp(filter, op);
  return s;
}

bool NamePasses(std::uint8_t op, const std::string& name, const std::string& text) {
  ImportSettings s = With(ImportFilter::kName, op);
  s.name_text.set(text);
  return MatchesImportFilters(0, FileFacts{name, 1, 0, 0, FourCC("JPEG")}, s);
}

TEST(MatchesImportFilters, NameOperators) {
  const struct {
    std::uint8_t op;
    const char* name;
    const char* text;
    bool passes;
  } cases[] = {
      {name_op::kIs, "a.jpg", "a.jpg", true},
      {name_op::kIs, "a.jpg", "A.jpg", false},  // byte by byte, case-sensitive
      {name_op::kIs, "a.jpg", "a.jp", false},
      {name_op::kContains, "holiday.jpg", "day", true},
      {name_op::kContains, "holiday.jpg", "DAY", false},
      {name_op::kDoesNotContain, "holiday.jpg", "day", false},
      {name_op::kDoesNotContain, "holiday.jpg", "night", true},
      {name_op::kStartsWith, "holiday.jpg", "holi", true},
      {name_op::kStartsWith, "holiday.jpg", "day", false},
      {name_op::kEndsWith, "x.jpg", ".jpg", true},
      // The first occurrence must be the one at the end.
      {name_op::kEndsWith, "x.jpg.jpg", ".jpg", false},
      {name_op::kEndsWith, "x.jpg", "x", false},
      // An empty text, or one longer than the name, is found nowhere.
      {name_op::kContains, "x.jpg", "", false},
      {name_op::kStartsWith, "x.jpg", "", false},
      {name_op::kEndsWith, "x.jpg", "", false},
      {name_op::kDoesNotContain, "x.jpg", "", true},
      {name_op::kContains, "x.jpg", "x.jpg.more", false},
      {name_op::kDoesNotContain, "x.jpg", "x.jpg.more", true},
      {name_op::kIsEmpty, "x.jpg", "anything", false},
      {name_op::kIsNotEmpty, "x.jpg", "", true},
      {name_op::kIsEmpty, "", "", true},
      // Operators outside the list fail.
      {0, "x.jpg", "x", false},
      {8, "x.jpg", "x", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NamePasses(c.op, c.name, c.text), c.passes)
        << "op " << int(c.op) << " name '" << c.name << "' text '" << c.text << "'";
  }
}

TEST(MatchesImportFilters, DatesCompareCalendarDaysOnly) {
  const std::uint32_t day = *ParseImportDate("2021-06-15");
  const std::uint32_t morning = day + 60;
  const std::uint32_t evening = day + 23 * 3600;
  auto passes = [](ImportFilter f, std::uint8_t op, std::uint32_t file_date, std::uint32_t filter_date) {
    ImportSettings s = With(f, op);
    s.created = s.modified = filter_date;
    FileFacts facts{"x.jpg", 1, 0, 0, FourCC("JPEG")};
    (f == ImportFilter::kCreated ? facts.created : facts.modified) = file_date;
    return MatchesImportFilters(0, facts, s);
  };
  for (ImportFilter f : {ImportFilter::kCreated, ImportFilter::kModified}) {
    EXPECT_TRUE(passes(f, date_op::kOn, evening, morning));
    EXPECT_FALSE(passes(f, date_op::kOn, evening + 3600, morning));  // the next day
    EXPECT_TRUE(passes(f, date_op::kBefore, day - 1, evening));
    EXPECT_FALSE(passes(f, date_op::kBefore, morning, evening));
    EXPECT_TRUE(passes(f, date_op::kAfter, day + 86400, day));
    EXPECT_FALSE(passes(f, date_op::kAfter, evening, day));
    // Unlike the other filters, a date filter with an unknown operator passes.
    EXPECT_TRUE(passes(f, 0, day, day + 10 * 86400));
    EXPECT_TRUE(passes(f, 4, day, day + 10 * 86400));
  }
  // The day key (year * 365 + month * 31 + day) ranks the last days of a
  // year after the first days of the next one.
  EXPECT_TRUE(passes(ImportFilter::kCreated, date_op::kAfter, *ParseImportDate("2020-12-31"),
                     *ParseImportDate("2021-01-01")));
}

TEST(MatchesImportFilters, SizeInWholeKilobytesAndLevelAwayFromTheTop) {
  auto size_passes = [](std::uint8_t op, std::uint64_t bytes, std::uint32_t kb) {
    ImportSettings s = With(ImportFilter::kSize, op);
    s.size_kb = kb;
    return MatchesImportFilters(0, FileFacts{"x.jpg", bytes, 0, 0, FourCC("JPEG")}, s);
  };
  EXPECT_TRUE(size_passes(number_op::kLess, 1023, 1));
  EXPECT_FALSE(size_passes(number_op::kLess, 1024, 1));
  EXPECT_TRUE(size_passes(number_op::kEquals, 2047, 1));  // rounded toward zero
  EXPECT_FALSE(size_passes(number_op::kEquals, 2048, 1));
  EXPECT_TRUE(size_passes(number_op::kGreater, 3072, 2));
  EXPECT_FALSE(size_passes(number_op::kGreater, 3071, 2));
  EXPECT_TRUE(size_passes(number_op::kLessOrEqual, 3071, 2));
  EXPECT_TRUE(size_passes(number_op::kGreaterOrEqual, 2048, 2));
  EXPECT_FALSE(size_passes(number_op::kGreaterOrEqual, 2047, 2));
  EXPECT_TRUE(size_passes(number_op::kGreater, 8ull << 30, 100));  // 8 GB: no 32-bit overflow
  EXPECT_FALSE(size_passes(0, 10, 0));
  EXPECT_FALSE(size_passes(6, 10, 0));

  auto level_passes = [](std::uint8_t op, int depth, std::uint32_t level) {
    ImportSettings s = With(ImportFilter::kLevel, op);
    s.level = level;
    return MatchesImportFilters(depth, FileFacts{"x.jpg", 1, 0, 0, FourCC("JPEG")}, s);
  };
  EXPECT_TRUE(level_passes(number_op::kEquals, 2, 2));
  EXPECT_FALSE(level_passes(number_op::kEquals, 1, 2));
  EXPECT_TRUE(level_passes(number_op::kLess, 1, 2));
  EXPECT_FALSE(level_passes(number_op::kGreater, 2, 2));
  // Depth 0 (top folder, single files) is not checked, even by a bad operator.
  EXPECT_TRUE(level_passes(number_op::kGreater, 0, 5));
  EXPECT_TRUE(level_passes(9, 0, 5));
  EXPECT_FALSE(level_passes(9, 1, 5));
}

TEST(MatchesImportFilters, TypeAndTheFirstFailingFilterDecides) {
  auto type_passes = [](std::uint8_t op, const char (&type)[5]) {
    ImportSettings s = With(ImportFilter::kType, op);  // filter code 'JPEG'
    return MatchesImportFilters(0, FileFacts{"x", 1, 0, 0, FourCC(type)}, s);
  };
  EXPECT_TRUE(type_passes(type_op::kIs, "JPEG"));
  EXPECT_FALSE(type_passes(type_op::kIs, "TIFF"));
  EXPECT_TRUE(type_passes(type_op::kIsNot, "TIFF"));
  EXPECT_FALSE(type_passes(type_op::kIsNot, "JPEG"));
  EXPECT_FALSE(type_passes(3, "JPEG"));

  // Disabled filters are not looked at, whatever their operator and value.
  ImportSettings s = ImportSettings::Defaults();
  for (int f = 0; f < kImportFilterCount; ++f) s.setOp(static_cast<ImportFilter>(f), 0);
  const FileFacts facts{"x.jpg", 5000, 0, 0, FourCC("TIFF")};
  EXPECT_TRUE(MatchesImportFilters(3, facts, s));
  // Every enabled filter must pass.
  s = With(ImportFilter::kType, type_op::kIs);
  s.type = FourCC("TIFF");
  s.enable(ImportFilter::kSize, true);
  s.setOp(ImportFilter::kSize, number_op::kGreater);
  s.size_kb = 3;
  EXPECT_TRUE(MatchesImportFilters(0, facts, s));
  s.size_kb = 4;  // 5000 bytes are 4 KB
  EXPECT_FALSE(MatchesImportFilters(0, facts, s));
}

// --- the walk ---------------------------------------------------------------------------

class WalkTest : public testing::ImportTestBase {};

TEST_F(WalkTest, VisitsDepthFirstInNameOrderAndObeysTheStatus) {
  Write("b.jpg");
  Write("a/inner/deep.jpg");
  Write("a/x.jpg");
  Write("c/skipped.jpg");
  Write("d/never.jpg");
  Link(At("a"), "e-link");
  Strings seen;
  Strings folders;
  ErrorCode e = WalkFolder(
      root_, 0,
      [&](const EntryInfo& entry, std::uint8_t& status, int depth) {
        seen.push_back(entry.path.substr(root_.size() + 1) + "@" + std::to_string(depth));
        if (entry.path.ends_with("/c")) status = walk_status::kSkipContents;
        if (entry.path.ends_with("/d")) status = walk_status::kStop;
      },
      [&](const EntryInfo& folder, int depth) {
        folders.push_back(folder.path.substr(root_.size() + 1) + "@" + std::to_string(depth));
      });
  EXPECT_EQ(e, err::kNone);
  EXPECT_EQ(seen, (Strings{"a@0", "a/inner@1", "a/inner/deep.jpg@2", "a/x.jpg@1", "b.jpg@0", "c@0", "d@0"}));
  EXPECT_EQ(folders, (Strings{"a@1", "a/inner@2"}));

  // A depth limit lists that many levels; a link to a folder is never entered.
  seen.clear();
  (void)WalkFolder(  // the listing is what this case checks
      root_, 2,
      [&](const EntryInfo& entry, std::uint8_t&, int depth) {
        seen.push_back(entry.path.substr(root_.size() + 1) + "@" + std::to_string(depth));
      },
      {});
  EXPECT_EQ(seen, (Strings{"a@0", "a/inner@1", "a/x.jpg@1", "b.jpg@0", "c@0", "c/skipped.jpg@1", "d@0",
                           "d/never.jpg@1", "e-link@0"}));
  EXPECT_NE(WalkFolder(At("missing"), 0, [](const EntryInfo&, std::uint8_t&, int) {}, {}), err::kNone);
}

TEST_F(WalkTest, EntryInfoFacts) {
  Write(".hidden", 3);
  MakeFolder("folder");
  Link(At(".hidden"), "link");
  EntryInfo info;
  ASSERT_EQ(GetEntryInfo(At(".hidden"), info), err::kNone);
  EXPECT_TRUE(info.invisible);
  EXPECT_FALSE(info.is_folder);
  EXPECT_EQ(info.data_size, 3u);
  EXPECT_EQ(info.resource_size, 0u);
  const std::uint32_t now = CurrentDateTime();
  EXPECT_LE(info.modified, now);
  EXPECT_GT(info.modified + 3600, now);
  ASSERT_EQ(GetEntryInfo(At("folder"), info), err::kNone);
  EXPECT_TRUE(info.is_folder);
  EXPECT_FALSE(info.invisible);
  ASSERT_EQ(GetEntryInfo(At("link"), info), err::kNone);
  EXPECT_TRUE(info.is_link);
  EXPECT_FALSE(info.invisible);  // the link's own name counts
  EXPECT_EQ(info.data_size, 0u);
}

// --- whole imports ----------------------------------------------------------------------

class ImportTest : public testing::ImportTestBase {};

TEST_F(ImportTest, FolderTreeBecomesPendingItemsInTheirFolders) {
  Write("a.jpg");
  Write("sub/b.JPG");
  Write("sub/c.tiff");
  Write("notes.txt");   // Text is not in the default class mask
  Write("readme");      // no extension
  Write("song.mp3", 0); // empty
  int added = -1;
  ImportCounters counters;
  EXPECT_EQ(Import({root_ + "/"}, {}, &added, &counters), err::kNone);
  EXPECT_EQ(Items(), (Strings{"a.jpg", "sub/b.JPG", "sub/c.tiff"}));
  EXPECT_EQ(PendingFlags(), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(catalog_->folders.folderOf(catalog_->cells[1].item_id), At("sub"));
  EXPECT_EQ(added, 3);
  EXPECT_EQ(counters.files_scanned, 6);
  EXPECT_EQ(counters.added_this_call, 3);

  // Counters carry on across calls; the second adds nothing new.
  EXPECT_EQ(Import({root_}, {}, &added, &counters), err::kNone);
  EXPECT_EQ(added, 0);
  EXPECT_EQ(counters.items_added, 3);
  EXPECT_EQ(counters.files_scanned, 12);
}

TEST_F(ImportTest, SingleFilesAndMissingEntries) {
  Write("deep/er/one.jpg");
  ImportSettings s = Settings();
  s.enable(ImportFilter::kLevel, true);
  s.setOp(ImportFilter::kLevel, number_op::kGreater);
  s.level = 5;
  Apply(s);
  // A file given directly is at level 0, which the level filter lets pass.
  EXPECT_EQ(Import({"deep/er/one.jpg", "gone.jpg"}), err::kNone);
  EXPECT_EQ(Items(), (Strings{"deep/er/one.jpg"}));
  // Walked, the same file is at level 2 and fails it.
  Write("deep/er/two.jpg");
  EXPECT_EQ(Import({"deep"}), err::kNone);
  EXPECT_EQ(Items(), (Strings{"deep/er/one.jpg"}));
}

TEST_F(ImportTest, ClassMask) {
  Write("a.jpg");
  Write("b.mp3");
  Write("c.txt");
  ImportSettings s = Settings();
  s.class_mask = ClassMaskBit(MediaClass::Audio);
  Apply(s);
  EXPECT_EQ(Import({root_}), err::kNone);
  EXPECT_EQ(Items(), (Strings{"b.mp3"}));
  s.class_mask = 0;  // every class
  Apply(s);
  EXPECT_EQ(Import({root_}), err::kNone);
  EXPECT_EQ(Items(), (Strings{"b.mp3", "a.jpg", "c.txt"}));
}

TEST_F(ImportTest, SymbolicLinks) {
  // Target outside the folder: catalogued once, under the target's path.
  const std::string target = Outside("target.jpg");
  std::ofstream(target) << "jpeg bytes";
  Link(target, "link-to-outside.jpg");
  Link(target, "second-link.jpg");
  // Target inside: the file and its link give one item.
  Write("inside.jpg");
  Link(At("inside.jpg"), "z-link-inside.jpg");
  // Links to a folder are not followed; dangling links are passed over.
  Write("elsewhere/hidden-from-link.jpg");
  Link(At("elsewhere"), "folder-link");
  Link(At("nothing.jpg"), "dangling.jpg");
  Write("file.lnk");
  Write("shortcut.jpg.lnk");

  int added = 0;
  EXPECT_EQ(Import({root_}, {}, &added), err::kNone);
  EXPECT_EQ(Items(), (Strings{"elsewhere/hidden-from-link.jpg", "inside.jpg", target}));
  EXPECT_EQ(catalog_->folders.folderOf(catalog_->cells[2].item_id), outside_root_);
  EXPECT_EQ(Import({root_}, {}, &added), err::kNone);
  EXPECT_EQ(added, 0);
}

TEST_F(ImportTest, LinksIgnoredOrLeadingToHiddenFiles) {
  std::ofstream(Outside(".secret.jpg")) << "jpeg bytes";
  std::ofstream(Outside("plain.jpg")) << "jpeg bytes";
  Link(Outside(".secret.jpg"), "to-secret.jpg");
  Link(Outside("plain.jpg"), "to-plain.jpg");
  ImportSettings s = Settings();
  s.ignore_invisible = 1;
  Apply(s);
  EXPECT_EQ(Import({root_}), err::kNone);
  EXPECT_EQ(Items(), (Strings{Outside("plain.jpg")}));

  CancelRunningTasks(*catalog_);
  s.ignore_invisible = 0;
  s.ignore_shortcuts = 1;
  Apply(s);
  EXPECT_EQ(Import({root_}), err::kNone);
  EXPECT_EQ(Items(), Strings{});
  // Given directly, a link is still a link.
  EXPECT_EQ(Import({"to-plain.jpg"}), err::kNone);
  EXPECT_EQ(Items(), Strings{});
}

TEST_F(ImportTest, DotFilesAndFolders) {
  Write(".a.jpg");
  Write(".cache/b.jpg");
  Write("c.jpg");
  ImportSettings s = Settings();
  s.ignore_invisible = 1;
  Apply(s);
  ImportCounters counters;
  EXPECT_EQ(Import({root_}, {}, nullptr, &counters), err::kNone);
  EXPECT_EQ(Items(), (Strings{"c.jpg"}));
  EXPECT_EQ(counters.files_scanned, 1);  // the hidden folder was not entered

  s.ignore_invisible = 0;
  Apply(s);
  EXPECT_EQ(Import({root_}), err::kNone);
  EXPECT_EQ(Items(), (Strings{"c.jpg", ".a.jpg", ".cache/b.jpg"}));
}

TEST_F(ImportTest, TemporaryInternetFilesAreNotEntered) {
  Write("Temporary Internet Files/cached.jpg");
  Write("x/Temporary Internet Files/cached.jpg");
  Write("Temporary Internet Files Old/kept.jpg");
  Write("temporary internet files/kept.jpg");  // the name is compared exactly
  EXPECT_EQ(Import({root_}), err::kNone);
  EXPECT_EQ(Items(), (Strings{"Temporary Internet Files Old/kept.jpg", "temporary internet files/kept.jpg"}));
}

TEST_F(ImportTest, DuplicatesArePathsEqualIgnoringCase) {
  Write("Photo.JPG");
  Write("photo.jpg");
  Write("caf\xC3\xA9.jpg");
  EXPECT_EQ(Import({root_}), err::kNone);
  // Two files on this file system, one path to the catalog.
  EXPECT_EQ(Items(), (Strings{"Photo.JPG", "caf\xC3\xA9.jpg"}));
  Write("CAF\xC3\x89.JPG");
  EXPECT_EQ(Import({"CAF\xC3\x89.JPG"}), err::kNone);
  EXPECT_EQ(catalog_->itemCount(), 2);
  EXPECT_EQ(FoldPathCase("/A/b\xC3\xBF"), FoldPathCase("/a/B\xC5\xB8"));
}

TEST_F(ImportTest, CancelKeepsWhatWasAddedAndCancellingTasksRemovesIt) {
  for (int i = 0; i < 10; ++i) Write("f" + std::to_string(i) + ".jpg");
  std::vector<ProgressPhase> phases;
  int added = 0;
  auto progress = [&](ProgressPhase phase, const ImportCounters& c, std::string_view) {
    phases.push_back(phase);
    return phase == ProgressPhase::kStep && c.added_this_call == 3 ? err::kUserCancelled : err::kNone;
  };
  EXPECT_EQ(Import({root_, root_}, progress, &added), err::kUserCancelled);
  EXPECT_EQ(added, 3);
  EXPECT_EQ(Items(), (Strings{"f0.jpg", "f1.jpg", "f2.jpg"}));
  using enum ProgressPhase;
  EXPECT_EQ(phases, (std::vector<ProgressPhase>{kStep, kStep, kStep, kEnd}));

  // A scanned item stays when the running tasks are cancelled.
  catalog::ItemRecord record;
  ASSERT_EQ(catalog::GetItemRecord(*catalog_, 2, catalog::kWholeRecord, record), err::kNone);
  ASSERT_EQ(catalog::ReplaceItemParts(*catalog_, 2, record, 0), err::kNone);
  EXPECT_TRUE(CancelRunningTasks(*catalog_));
  EXPECT_EQ(Items(), (Strings{"f1.jpg"}));
  EXPECT_FALSE(CancelRunningTasks(*catalog_));
}

TEST_F(ImportTest, ProgressRunsWhileNothingIsTaken) {
  for (int i = 0; i < 200; ++i) Write("n" + std::to_string(i) + ".none");
  Write("z.jpg");
  int calls = 0;
  ErrorCode e = Import({root_}, [&](ProgressPhase phase, const ImportCounters&, std::string_view) {
    return phase == ProgressPhase::kStep && ++calls == 2 ? err::kUserCancelled : err::kNone;
  });
  EXPECT_EQ(e, err::kUserCancelled);
  EXPECT_EQ(catalog_->itemCount(), 0);
}

TEST_F(ImportTest, FailedAppendEndsTheImportKeepingEarlierItems) {
  for (int i = 0; i < 5; ++i) Write("f" + std::to_string(i) + ".jpg");
  int added = 0;
  auto progress = [&](ProgressPhase phase, const ImportCounters& c, std::string_view) {
    if (phase == ProgressPhase::kStep && c.added_this_call == 2) faults::FailNthWrite(1, err::kDiskFull);
    return 0;
  };
  const ErrorCode e = Import({root_}, progress, &added);
  faults::Reset();
  EXPECT_EQ(e, err::kDiskFull);
  EXPECT_EQ(added, 2);
  EXPECT_EQ(Items(), (Strings{"f0.jpg", "f1.jpg"}));
}

}  // namespace
}  // namespace norvo::media
