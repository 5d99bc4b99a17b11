// SPDX-License-Identifier: GPL-3.0-or-later
// Crash safety and sharing: saves killed at every write, journals found at
// open, read-only catalogs and the access lock between openers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>

#include "catalog/rollback_journal.h"
#include "catalog/save.h"
#include "catalog/test_support.h"
#include "platform/fault_injection.h"
#include "platform/owned_temporaries.h"

namespace norvo::catalog {
namespace {

using testing::ReadAll;
using testing::SampleRecord;
using testing::Spec;
using testing::TempDir;

class JournalTest : public testing::SavedCatalogTest {
 protected:
  void SetUp() override {
    SavedCatalogTest::SetUp();
    original_ = ReadAll(path_);
    ::setenv("XDG_DATA_HOME", dir_.file("data").c_str(), 1);
  }
  void TearDown() override {
    SavedCatalogTest::TearDown();
    ::unsetenv("XDG_DATA_HOME");
  }

  // Runs open, edit and save in a child process that dies just before its
  // n-th write (0: never). True when the child finished.
  bool SaveInChild(std::uint64_t kill_at, const FileSpec* destination) {
    pid_t pid = ::fork();
    if (pid == 0) {
      auto c = OpenAndEdit();
      if (!c) ::_exit(3);
      faults::KillAtNthWrite(kill_at);
      ErrorCode e = SaveCatalog(*c, destination, {});
      ::_exit(e == err::kNone ? 0 : 4);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // Which state the catalog at `path` is in: 0 before the edit, 1 after it.
  static int StateOf(const TempDir& dir, const std::string& path) {
    auto c = testing::Open(dir, path);
    if (!c || c->report.sequential_scan) return -1;
    std::vector<std::uint32_t> seeds;
    for (int cell = 1; cell <= c->itemCount(); ++cell) {
      ItemRecord r;
      if (GetItemRecord(*c, cell, kWholeRecord, r) != err::kNone) return -1;
      seeds.push_back(r.file_size - 1000);  // SampleRecord(seed) has file size 1000 + seed
    }
    const int label = c->cells[0].label();
    CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
    if (seeds == std::vector<std::uint32_t>{1, 2, 3, 4} && label == 0) return 0;
    if (seeds == testing::kEditedSeeds && label == 3) return 1;
    return -1;
  }

  // The folder's files, without the test's scratch and data folders and,
  // unless asked, without LockFiles (a killed opener's stays until the next
  // open of its catalog).
  std::vector<std::string> FolderNames(bool lock_files = true) const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      std::string name = e.path().filename().string();
      if (!lock_files && name.starts_with(".cat.nrk_")) continue;
      if (!name.starts_with("scratch") && name != "data") out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::vector<std::uint8_t> original_;
};

TEST_F(JournalTest, ASaveInPlaceKilledAtAnyWriteOpensAsBeforeOrAfter) {
  const std::uint64_t writes = testing::WritesOfAnEditedSave(false);
  ASSERT_GT(writes, 4u);
  int before = 0;
  for (std::uint64_t n = 1; n <= writes + 1; ++n) {
    SCOPED_TRACE("killed before write " + std::to_string(n));
    testing::WriteAll(path_, original_);
    const bool finished = SaveInChild(n, nullptr);
    const int state = StateOf(dir_, path_);
    ASSERT_NE(state, -1);
    EXPECT_EQ(state, finished ? 1 : state);
    before += state == 0;
    // The dead child's LockFile and the played-back journal are gone.
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"cat.nrk"});
  }
  EXPECT_GT(before, 0);
}

TEST_F(JournalTest, ASaveAsKilledAtAnyWriteLeavesNoHalfFile) {
  const FileSpec dest = Spec(dir_.file("copy.nrk"));
  const std::uint64_t writes = testing::WritesOfAnEditedSave(true);
  for (std::uint64_t n = 1; n <= writes + 1; ++n) {
    SCOPED_TRACE("killed before write " + std::to_string(n));
    std::filesystem::remove(dest.path);
    const bool finished = SaveInChild(n, &dest);
    EXPECT_EQ(ReadAll(path_), original_);
    // The destination appears whole or not at all (the child may die after
    // the rename, while it empties its ScratchFile).
    const bool exists = std::filesystem::exists(dest.path);
    if (finished) {
      EXPECT_TRUE(exists);
    }
    if (exists) {
      EXPECT_EQ(StateOf(dir_, dest.path), 1);
    }
    // What the killed child left under a temporary name goes at the next start.
    SweepAbandonedTemporaries();
    std::vector<std::string> expected{"cat.nrk"};
    if (exists) expected.push_back("copy.nrk");
    EXPECT_EQ(FolderNames(false), expected);
  }
}

TEST_F(JournalTest, JournalsThatNeverBecameHotAreDroppedAndHotOnesPlayedBack) {
  // Hot: bytes saved, then the file scribbled over as a dying save would.
  {
    File f;
    ASSERT_EQ(f.open(Spec(path_), Permission::kReadWrite), err::kNone);
    RollbackJournal journal;
    std::int64_t length = 0;
    ASSERT_EQ(f.endOfFile(&length), err::kNone);
    const ByteRange ranges[] = {{0, 8}, {length / 2, length}};
    ASSERT_EQ(journal.begin(path_, f, ranges), err::kNone);
    EXPECT_EQ(InspectJournal(path_), JournalState::kHot);
    ASSERT_EQ(f.setEndOfFile(length + 5000), err::kNone);
    std::vector<std::uint8_t> junk(length / 2, 0xEE);
    ASSERT_EQ(f.writeAt(0, std::span(junk).first(8)), err::kNone);
    ASSERT_EQ(f.writeAt(length / 2, junk), err::kNone);
  }  // the journal is left hot
  auto c = testing::Open(dir_, path_);
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->report.rolled_back_interrupted_save);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  EXPECT_EQ(ReadAll(path_), original_);
  EXPECT_EQ(InspectJournal(path_), JournalState::kNone);

  // Cold: a journal whose header was never written, and one whose bytes do
  // not match their CRC. The catalog was not touched; the journal goes.
  const std::string journal = JournalPath(path_);
  std::vector<std::uint8_t> incomplete(200, 0);
  incomplete[40] = 7;
  for (int variant = 0; variant < 2; ++variant) {
    {
      File f;
      ASSERT_EQ(f.open(Spec(path_), Permission::kReadWrite), err::kNone);
      RollbackJournal j;
      const ByteRange ranges[] = {{0, 100}};
      ASSERT_EQ(j.begin(path_, f, ranges), err::kNone);
    }
    auto bytes = ReadAll(journal);
    if (variant == 0) std::fill(bytes.begin(), bytes.begin() + 8, 0);  // no magic
    if (variant == 1) bytes.back() ^= 0xFF;                            // a torn range
    testing::WriteAll(journal, bytes);
    EXPECT_EQ(InspectJournal(path_), JournalState::kCold);
    c = testing::Open(dir_, path_);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->report.rolled_back_interrupted_save);
    CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
    EXPECT_FALSE(std::filesystem::exists(journal));
    EXPECT_EQ(ReadAll(path_), original_);
  }
}

TEST_F(JournalTest, AProtectedCatalogOpensForViewingOnly) {
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  auto c = testing::Open(dir_, path_);
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->read_only);
  testing::ExpectItems(*c, {1, 2, 3, 4});
  ASSERT_EQ(SetItemLabel(*c, 1, 2), err::kNone);
  EXPECT_EQ(SaveCatalog(*c, nullptr, {}), err::kWritePermission);
  // Save As elsewhere keeps the changes.
  FileSpec elsewhere = Spec(dir_.file("mine.nrk"));
  EXPECT_EQ(SaveCatalog(*c, &elsewhere, {}), err::kNone);
  EXPECT_FALSE(c->read_only);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  EXPECT_EQ(ReadAll(path_), original_);

  // Opened to change: refused at once.
  std::unique_ptr<Catalog> changer;
  OpenOptions change;
  change.exclusive = true;
  FileSpec file = Spec(path_);
  EXPECT_EQ(CreateCatalog(&file, Spec(dir_.file("scratchX")), {}, {}, changer, change), err::kWritePermission);

  // A hot journal beside a catalog that cannot be written: not opened, since
  // its bytes may be half-written.
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  {
    File f;
    ASSERT_EQ(f.open(file, Permission::kReadWrite), err::kNone);
    RollbackJournal j;
    const ByteRange ranges[] = {{0, 8}};
    ASSERT_EQ(j.begin(path_, f, ranges), err::kNone);
  }
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  ErrorCode e = err::kNone;
  EXPECT_FALSE(testing::Open(dir_, path_, &e));
  EXPECT_EQ(e, err::kWritePermission);
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  EXPECT_TRUE(testing::Open(dir_, path_));
}

TEST_F(JournalTest, AChangerHasTheCatalogToItselfUntilItCloses) {
  FileSpec file = Spec(path_);
  OpenOptions change;
  change.exclusive = true;
  change.wait_ms = 50;
  std::unique_ptr<Catalog> first;
  ASSERT_EQ(CreateCatalog(&file, Spec(dir_.file("scratchA")), {}, {}, first, change), err::kNone);
  // A second changer and a viewer both wait, then give up with err::kOpenForWriting.
  std::unique_ptr<Catalog> second;
  EXPECT_EQ(CreateCatalog(&file, Spec(dir_.file("scratchB")), {}, {}, second, change), err::kOpenForWriting);
  OpenOptions view;
  view.wait_ms = 50;
  EXPECT_EQ(CreateCatalog(&file, Spec(dir_.file("scratchC")), {}, {}, second, view), err::kOpenForWriting);
  ASSERT_EQ(SetItemLabel(*first, 2, 5), err::kNone);
  ASSERT_EQ(SaveCatalog(*first, nullptr, {}), err::kNone);
  CloseCatalog(std::move(first), catalog::CloseSettings::kLeave);
  // Now the second changer starts from the saved state: nothing is lost.
  ASSERT_EQ(CreateCatalog(&file, Spec(dir_.file("scratchB")), {}, {}, second, change), err::kNone);
  EXPECT_EQ(second->cells[1].label(), 5);
}

}  // namespace
}  // namespace norvo::catalog
