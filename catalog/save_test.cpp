// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "catalog/catalog_file.h"
#include "catalog/rollback_journal.h"
#include "catalog/save.h"
#include "catalog/test_support.h"
#include "platform/byte_io.h"
#include "platform/fault_injection.h"

namespace norvo::catalog {
namespace {

using testing::ReadAll;
using testing::SampleRecord;
using testing::Spec;
using testing::TempDir;

using SaveTest = testing::SavedCatalogTest;
using testing::kEditedSeeds;

TEST_F(SaveTest, SaveInPlaceCompactsAndEmptiesTheScratchFile) {
  auto c = OpenAndEdit();
  const auto size_before = std::filesystem::file_size(path_);
  std::vector<std::array<int, 3>> calls;
  ASSERT_EQ(SaveCatalog(*c, nullptr, [&](ProgressPhase p, int d, int t) {
              calls.push_back({static_cast<int>(p), d, t});
              return 0;
            }),
            err::kNone);
  EXPECT_EQ(calls.front(), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(calls.back(), (std::array<int, 3>{2, 0, 0}));
  EXPECT_FALSE(c->changed());
  std::int64_t scratch_length = -1;
  ASSERT_EQ(c->scratch.endOfFile(&scratch_length), err::kNone);
  EXPECT_EQ(scratch_length, 0);
  for (int i = 0; i < c->itemCount(); ++i) EXPECT_FALSE(c->cells[static_cast<std::size_t>(i)].inScratch());
  testing::ExpectItems(*c, kEditedSeeds);

  // Records lie back to back from byte 8 up to the directory.
  std::uint64_t expected_area = 8;
  for (auto seed : kEditedSeeds) expected_area += SampleRecord(seed).storedSize();
  EXPECT_EQ(c->directory_offset, expected_area);
  EXPECT_EQ(std::filesystem::file_size(path_), size_before - SampleRecord(2).storedSize() +
                                                   SampleRecord(30).storedSize() - SampleRecord(3).storedSize() +
                                                   SampleRecord(5).storedSize());
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  c = testing::Open(dir_, path_);
  EXPECT_FALSE(c->report.sequential_scan);
  testing::ExpectItems(*c, kEditedSeeds);
  EXPECT_EQ(c->totals.total_record_bytes, static_cast<std::int32_t>(expected_area - 8));
}

// Names in the catalog's folder other than catalogs, LockFiles and the
// test's own files: what a failed save may have left behind.
std::vector<std::string> Leftovers(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    std::string name = entry.path().filename().string();
    if (name.find(".norvo-") != std::string::npos || name.ends_with("-journal")) out.push_back(name);
  }
  return out;
}

TEST_F(SaveTest, EverySaveAsWriteFailureKeepsAllRecordsAndTheOldFile) {
  const auto original = ReadAll(path_);
  const std::uint64_t writes = testing::WritesOfAnEditedSave(true);
  ASSERT_GT(writes, 3u);
  for (std::uint64_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    auto c = OpenAndEdit();
    FileSpec dest = Spec(dir_.file("copy" + std::to_string(n) + ".nrk"));
    faults::FailNthWrite(n, err::kDiskFull);
    ErrorCode e = SaveCatalog(*c, &dest, {});
    faults::Reset();
    EXPECT_EQ(Leftovers(dir_), std::vector<std::string>{});
    if (e != err::kNone) {
      // The failure is reported as it is; no destination and no temporary
      // file appear, the last saved state is untouched and nothing is lost.
      ASSERT_EQ(e, err::kDiskFull);
      EXPECT_FALSE(std::filesystem::exists(dest.path));
      EXPECT_TRUE(c->changed());
      testing::ExpectItems(*c, kEditedSeeds);
      EXPECT_EQ(ReadAll(path_), original);
      auto old = testing::Open(dir_, path_);
      testing::ExpectItems(*old, {1, 2, 3, 4});
      CloseCatalog(std::move(old), catalog::CloseSettings::kLeave);
      // The retry is not blocked by anything the failure left.
      ASSERT_EQ(SaveCatalog(*c, &dest, {}), err::kNone);
    }
    // Saved at once when the failed write (emptying the ScratchFile) came
    // after the new file was in place.
    CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
    auto reopened = testing::Open(dir_, dest.path);
    EXPECT_FALSE(reopened->report.sequential_scan);
    testing::ExpectItems(*reopened, kEditedSeeds);
  }
}

TEST_F(SaveTest, EverySaveInPlaceWriteFailureLeavesTheFileAsLastSaved) {
  const std::uint64_t writes = testing::WritesOfAnEditedSave(false);
  ASSERT_GT(writes, 3u);
  testing::MakeCatalogFile(dir_, path_ + ".tmp", 4);
  const auto original = ReadAll(path_ + ".tmp");
  for (std::uint64_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    testing::WriteAll(path_, original);
    auto c = OpenAndEdit();
    faults::FailNthWrite(n, err::kDiskFull);
    ErrorCode e = SaveCatalog(*c, nullptr, {});
    faults::Reset();
    if (e != err::kNone) {
      // The journal put every byte back: the file is the last saved one,
      // byte for byte, and the open catalog still holds every change.
      ASSERT_EQ(e, err::kDiskFull);
      EXPECT_EQ(ReadAll(path_), original);
      EXPECT_NE(InspectJournal(path_), JournalState::kHot);
      testing::ExpectItems(*c, kEditedSeeds);
      ASSERT_EQ(SaveCatalog(*c, nullptr, {}), err::kNone);
    }
    CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
    EXPECT_EQ(Leftovers(dir_), std::vector<std::string>{});  // the journal goes with the catalog
    auto reopened = testing::Open(dir_, path_);
    EXPECT_FALSE(reopened->report.sequential_scan);
    testing::ExpectItems(*reopened, kEditedSeeds);
  }
}

TEST_F(SaveTest, SpaceChecksRefuseBeforeWriting) {
  auto c = OpenAndEdit();
  const auto original = ReadAll(path_);
  faults::SetLengthBias(kMaxCatalogBytes / 2);  // catalog + scratch reach 2 GB
  EXPECT_EQ(SaveCatalog(*c, nullptr, {}), err::kFileTooLarge);
  faults::Reset();
  faults::SetFreeBytes(1000);
  EXPECT_EQ(SaveCatalog(*c, nullptr, {}), err::kDiskFull);
  faults::Reset();
  EXPECT_EQ(ReadAll(path_), original);
  EXPECT_EQ(faults::WriteCount(), 0u);

  auto untitled = testing::Open(dir_, "");
  EXPECT_EQ(SaveCatalog(*untitled, nullptr, {}), err::kParam);
}

TEST_F(SaveTest, TwoOpenersTakeTwoSlotsAndBlockSavesInPlace) {
  auto first = testing::Open(dir_, path_);
  auto second = testing::Open(dir_, path_);
  EXPECT_EQ(first->lock_slot, 0);
  EXPECT_EQ(second->lock_slot, 1);
  EXPECT_TRUE(std::filesystem::exists(dir_.file(".cat.nrk_1")));
  EXPECT_EQ(CountOtherOpeners(*first), 1);
  ASSERT_EQ(SetItemLabel(*first, 1, 2), err::kNone);
  EXPECT_EQ(SaveCatalog(*first, nullptr, {}), err::kOpenForWriting);
  EXPECT_EQ(SaveCatalog(*second, nullptr, {}), err::kOpenForWriting);
  auto third = testing::Open(dir_, "");
  FileSpec busy = Spec(path_);
  EXPECT_EQ(SaveCatalog(*third, &busy, {}), err::kOpenForWriting);  // not over an open catalog
  CloseCatalog(std::move(second), catalog::CloseSettings::kWriteBack);
  EXPECT_FALSE(std::filesystem::exists(dir_.file(".cat.nrk_1")));
  EXPECT_EQ(SaveCatalog(*first, nullptr, {}), err::kNone);
  CloseCatalog(std::move(first), catalog::CloseSettings::kLeave);
  EXPECT_FALSE(std::filesystem::exists(dir_.file(".cat.nrk_0")));
  auto again = testing::Open(dir_, path_);
  EXPECT_EQ(again->cells[0].label(), 2);
}

TEST_F(SaveTest, StaleLockFilesAreTakenOverAndTenLiveOnesRefuseAnEleventh) {
  // Left by instances that ended: one with the marker, one killed before it
  // wrote the marker (empty), one with other bytes. None is locked.
  testing::WriteAll(dir_.file(".cat.nrk_0"), {'N', 'O', 'R', 'V', 'O', ' ', 'L', 'O', 'C', 'K'});
  testing::WriteAll(dir_.file(".cat.nrk_1"), {});
  testing::WriteAll(dir_.file(".cat.nrk_2"), {'o', 't', 'h', 'e', 'r'});
  std::vector<std::unique_ptr<Catalog>> open;
  for (int i = 0; i < kMaxLockSlots; ++i) {
    open.push_back(testing::Open(dir_, path_));
    ASSERT_TRUE(open.back());
    EXPECT_EQ(open.back()->lock_slot, i);
    EXPECT_EQ(ReadAll(dir_.file(".cat.nrk_" + std::to_string(i))).size(), 10u);
  }
  ErrorCode e = err::kNone;
  auto refused = testing::Open(dir_, path_, &e);
  EXPECT_EQ(e, err::kPermission);
  EXPECT_FALSE(refused);
  EXPECT_EQ(CountOtherOpeners(*open[0]), 9);
  for (auto& c : open) CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  for (int i = 0; i < kMaxLockSlots; ++i) EXPECT_FALSE(std::filesystem::exists(dir_.file(".cat.nrk_" + std::to_string(i))));
}

TEST_F(SaveTest, CloseWritesSettingsBackWithoutTouchingTheModificationTime) {
  auto c = testing::Open(dir_, path_);
  c->settings.setNumber(0, 777);
  c->settings.setNumber(100, 999);  // beyond the written-back head
  struct stat before {};
  ::stat(path_.c_str(), &before);
  auto other = testing::Open(dir_, path_);
  CloseCatalog(std::move(c), catalog::CloseSettings::kWriteBack);  // another opener: nothing written
  c = testing::Open(dir_, path_);
  EXPECT_EQ(c->settings.number(0), 500u);
  CloseCatalog(std::move(other), catalog::CloseSettings::kLeave);

  c->settings.setNumber(0, 777);
  c->settings.setNumber(100, 999);
  CloseCatalog(std::move(c), catalog::CloseSettings::kWriteBack);
  struct stat after {};
  ::stat(path_.c_str(), &after);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  c = testing::Open(dir_, path_);
  EXPECT_EQ(c->settings.number(0), 777u);
  EXPECT_EQ(c->settings.number(100), 0u);
}

TEST_F(SaveTest, RevertDiscardsUnsavedChanges) {
  auto c = OpenAndEdit();
  std::string scratch = c->scratch_spec.path;
  ASSERT_EQ(RevertCatalog(c, {}, {}), err::kNone);
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->changed());
  testing::ExpectItems(*c, {1, 2, 3, 4});
  std::int64_t length = -1;
  ASSERT_EQ(c->scratch.endOfFile(&length), err::kNone);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(c->lock_slot, 0);

  auto untitled = testing::Open(dir_, "");
  EXPECT_EQ(RevertCatalog(untitled, {}, {}), err::kParam);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  EXPECT_FALSE(std::filesystem::exists(scratch));
}

TEST_F(SaveTest, SaveAsMovesTheCatalogToTheNewFileAndItsLock) {
  auto c = OpenAndEdit();
  FileSpec dest = Spec(dir_.file("moved.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &dest, {}), err::kNone);
  EXPECT_EQ(c->file_spec.path, dest.path);
  EXPECT_EQ(c->display_name, "moved.nrk");
  EXPECT_TRUE(std::filesystem::exists(dir_.file(".moved.nrk_0")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file(".cat.nrk_0")));
  ASSERT_EQ(SetItemLabel(*c, 4, 9), err::kNone);
  ASSERT_EQ(SaveCatalog(*c, nullptr, {}), err::kNone);  // now in place, in the new file
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  c = testing::Open(dir_, dest.path);
  testing::ExpectItems(*c, kEditedSeeds);
  EXPECT_EQ(c->cells[3].label(), 9);
  EXPECT_EQ(c->saved_by, kProductCode);
}

}  // namespace
}  // namespace norvo::catalog
