// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "output/catalog_folder_test_support.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;

using testing::TempRoot;
std::string Read(const std::string& path) { return testing::ReadFile(path); }
void Write(const std::string& path, const std::string& bytes) { testing::WriteFile(path, bytes); }

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Names in a folder, hidden ones (temporary names) included.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A folder on another file system than the temporary folder: a tmpfs such
// as /dev/shm. Empty when the machine has none to write to.
std::string OtherFileSystem() {
  for (const char* candidate : {"/dev/shm", "/run/shm"}) {
    std::string folder = std::string(candidate) + "/norvo-transfer-XXXXXX";
    if (::access(candidate, W_OK) != 0 || ::mkdtemp(folder.data()) == nullptr) continue;
    if (!SameFileSystem(folder, TempRoot())) return folder;
    fs::remove_all(folder);
  }
  return "";
}

class TransferTest : public testing::CatalogFolderTest {
 protected:
  void SetUp() override {
    CatalogFolderTest::SetUp();
    media_ = dir_ + "/media";
    dest_ = dir_ + "/dest";
    fs::create_directory(media_);
    fs::create_directory(dest_);
  }
  void TearDown() override {
    CatalogFolderTest::TearDown();
    if (!other_.empty()) fs::remove_all(other_);
  }

  // Files named `names` (each holding its name and some bulk) as items.
  std::vector<std::uint32_t> AddFiles(const std::vector<std::string>& names, std::size_t bulk = 3000) {
    std::vector<std::uint32_t> ids;
    for (const std::string& name : names) {
      Write(media_ + "/" + name, Content(name, bulk));
      std::uint32_t id = 0;
      EXPECT_EQ(catalog::AddPendingItem(*catalog_, Spec(media_ + "/" + name), &id), err::kNone);
      ids.push_back(id);
    }
    return ids;
  }
  static std::string Content(const std::string& name, std::size_t bulk) {
    std::string text = name + ":";
    for (std::size_t i = 0; text.size() < bulk; ++i) text += static_cast<char>('a' + (i * 7 + name.size()) % 26);
    return text;
  }
  std::string PathOf(std::uint32_t id) const {
    return catalog::ItemPath(*catalog_, catalog_->cellOf(id)).value_or("(none)");
  }
  ErrorCode Run(const std::vector<std::uint32_t>& ids, TransferMode mode, const std::string& dest,
                const ClashQuestion& ask = {}, const TransferProgress& progress = {}) {
    TransferRequest r;
    r.mode = mode;
    r.destination = dest;
    r.on_clash = ask;
    return TransferItems(*catalog_, ids, r, progress, &outcomes_);
  }

  std::string media_, dest_, other_;
  std::vector<TransferOutcome> outcomes_;
};

TEST_F(TransferTest, EachModeCopiesOrMovesAndPointsItemsAsItSays) {
  struct Case {
    const char* name;
    TransferMode mode;
    bool original_stays;
    bool item_follows;
    TransferStatus status;
  };
  const Case cases[] = {
      {"copy", TransferMode::kCopy, true, true, TransferStatus::kCopied},
      {"move", TransferMode::kMove, false, true, TransferStatus::kMoved},
      {"duplicate", TransferMode::kDuplicate, true, false, TransferStatus::kCopied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenEmpty();
    fs::remove_all(media_);
    fs::remove_all(dest_);
    fs::create_directory(media_);
    fs::create_directory(dest_);
    const auto ids = AddFiles({"a.jpg", "b.jpg"});
    const ino_t inode = Inode(media_ + "/a.jpg");
    ASSERT_EQ(Run(ids, c.mode, dest_), err::kNone);
    ASSERT_EQ(outcomes_.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const std::string name = i == 0 ? "a.jpg" : "b.jpg";
      EXPECT_EQ(outcomes_[i].status, c.status);
      EXPECT_EQ(outcomes_[i].target, dest_ + "/" + name);
      EXPECT_EQ(Read(dest_ + "/" + name), Content(name, 3000));
      EXPECT_EQ(fs::exists(media_ + "/" + name), c.original_stays);
      EXPECT_EQ(PathOf(ids[i]), (c.item_follows ? dest_ : media_) + "/" + name);
    }
    // A move on one file system renames: the file keeps its inode.
    if (c.mode == TransferMode::kMove) {
      EXPECT_EQ(Inode(dest_ + "/a.jpg"), inode);
    }
    if (c.mode == TransferMode::kCopy) {
      EXPECT_NE(Inode(dest_ + "/a.jpg"), inode);
    }
    EXPECT_EQ(Names(dest_), (std::vector<std::string>{"a.jpg", "b.jpg"}));  // nothing else left there
  }
}

TEST_F(TransferTest, MoveToAnotherFileSystemCopiesChecksAndDeletesAndTheSavedCatalogFindsTheCopies) {
  other_ = OtherFileSystem();
  if (other_.empty()) GTEST_SKIP() << "no second file system (tmpfs) to write to";
  const auto ids = AddFiles({"big.jpg", "small.png", "three.mov"}, 3 << 20);
  fs::last_write_time(media_ + "/big.jpg", fs::file_time_type::clock::now() - std::chrono::hours(48));
  const auto when = fs::last_write_time(media_ + "/big.jpg");
  ASSERT_EQ(Run(ids, TransferMode::kMove, other_), err::kNone);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::string name = LeafName(outcomes_[i].source);
    EXPECT_EQ(outcomes_[i].status, TransferStatus::kMoved) << name;
    EXPECT_FALSE(fs::exists(media_ + "/" + name)) << name;
    EXPECT_EQ(Read(other_ + "/" + name), Content(name, 3 << 20)) << name;
    EXPECT_EQ(PathOf(ids[i]), other_ + "/" + name);
  }
  EXPECT_EQ(fs::last_write_time(other_ + "/big.jpg"), when);  // the copy keeps the file's time
  EXPECT_EQ(Names(other_).size(), 3u);

  // Saved and opened again, the catalog finds each file where it was moved.
  SaveAndReopen(dir_ + "/moved.nrk");
  for (std::uint32_t id : ids) {
    std::string found;
    bool elsewhere = true;
    ASSERT_EQ(catalog::FindItemFile(*catalog_, catalog_->cellOf(id), found, &elsewhere), err::kNone);
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(ParentFolder(found), other_);
  }
}

TEST_F(TransferTest, ItemsWithoutFileOrAlreadyThereAreSkippedAndTheRestGoOn) {
  const auto ids = AddFiles({"gone.jpg", "here.jpg", "ok.jpg"});
  fs::remove(media_ + "/gone.jpg");
  // here.jpg already lies in the destination: the item moves there first.
  fs::rename(media_ + "/here.jpg", dest_ + "/here.jpg");
  ASSERT_EQ(catalog::RepointItem(*catalog_, catalog_->cellOf(ids[1]), dest_ + "/here.jpg"), err::kNone);
  const std::vector<std::uint32_t> asked = {ids[2], ids[0], 999, ids[1], ids[2]};
  ASSERT_EQ(Run(asked, TransferMode::kMove, dest_), err::kNone);
  ASSERT_EQ(outcomes_.size(), 4u);  // catalog order, the stranger last, the repeat once
  EXPECT_EQ(outcomes_[0].item_id, ids[0]);
  EXPECT_EQ(outcomes_[0].status, TransferStatus::kSkipped);
  EXPECT_EQ(outcomes_[0].error, err::kFileNotFound);
  EXPECT_EQ(outcomes_[1].status, TransferStatus::kSkipped);
  EXPECT_EQ(outcomes_[1].error, err::kNone);
  EXPECT_EQ(outcomes_[2].status, TransferStatus::kMoved);
  EXPECT_EQ(outcomes_[3].item_id, 999u);
  EXPECT_EQ(outcomes_[3].error, err::kParam);
  EXPECT_EQ(Read(dest_ + "/here.jpg"), Content("here.jpg", 3000));
  EXPECT_EQ(PathOf(ids[1]), dest_ + "/here.jpg");
}

TEST_F(TransferTest, NameClashesAskWithBothFilesFactsAndRememberTheAnswer) {
  const auto ids = AddFiles({"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"});
  for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"}) Write(dest_ + "/" + name, "old");
  struct Asked {
    FileFacts existing, incoming;
  };
  std::vector<Asked> asked;
  // 1 skipped, 2 replaced, 3 "replace all": 4 replaced without a question.
  std::vector<ClashAnswer> answers = {ClashAnswer::kSkip, ClashAnswer::kReplace, ClashAnswer::kReplaceAll};
  auto ask = [&](const FileFacts& existing, const FileFacts& incoming) {
    asked.push_back({existing, incoming});
    return answers[asked.size() - 1];
  };
  ASSERT_EQ(Run({ids[0], ids[1], ids[2], ids[3]}, TransferMode::kCopy, dest_, ask), err::kNone);
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].existing.path, dest_ + "/1.jpg");
  EXPECT_EQ(asked[0].existing.size, 3u);
  EXPECT_EQ(asked[0].incoming.path, media_ + "/1.jpg");
  EXPECT_EQ(asked[0].incoming.size, 3000u);
  EXPECT_GT(asked[0].incoming.modified, 0);
  EXPECT_EQ(Read(dest_ + "/1.jpg"), "old");
  EXPECT_EQ(outcomes_[0].status, TransferStatus::kSkipped);
  EXPECT_EQ(outcomes_[0].error, err::kDuplicateName);
  EXPECT_EQ(PathOf(ids[0]), media_ + "/1.jpg");
  for (int i : {1, 2, 3}) {
    const std::string name = std::to_string(i + 1) + ".jpg";
    EXPECT_EQ(Read(dest_ + "/" + name), Content(name, 3000)) << name;
    EXPECT_TRUE(outcomes_[static_cast<std::size_t>(i)].replaced);
    EXPECT_EQ(PathOf(ids[static_cast<std::size_t>(i)]), dest_ + "/" + name);
  }

  // "Stop" ends the pass at that item; items before it stay done.
  asked.clear();
  answers = {ClashAnswer::kStop};
  const auto more = AddFiles({"6.jpg"});
  ASSERT_EQ(Run({ids[4], more[0]}, TransferMode::kMove, dest_, ask), err::kNone);
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0].status, TransferStatus::kStopped);
  EXPECT_EQ(Read(dest_ + "/5.jpg"), "old");
  EXPECT_TRUE(fs::exists(media_ + "/5.jpg"));
  EXPECT_TRUE(fs::exists(media_ + "/6.jpg"));

  // Without a question a clash is skipped: nothing is ever replaced unasked.
  ASSERT_EQ(Run({ids[4]}, TransferMode::kMove, dest_), err::kNone);
  EXPECT_EQ(outcomes_[0].error, err::kDuplicateName);
  EXPECT_EQ(Read(dest_ + "/5.jpg"), "old");
}

TEST_F(TransferTest, ClashQuestionShowsDimensionsOfItemsTheCatalogKnows) {
  const auto ids = AddFiles({"p.jpg"});
  Write(dest_ + "/p.jpg", "other");
  std::uint32_t other_id = 0;
  ASSERT_EQ(catalog::AddPendingItem(*catalog_, Spec(dest_ + "/p.jpg"), &other_id), err::kNone);
  for (auto [id, w, h] : {std::tuple{ids[0], 640u, 480u}, std::tuple{other_id, 320u, 200u}}) {
    catalog::ItemRecord record;
    const int cell = catalog_->cellOf(id);
    ASSERT_EQ(catalog::GetItemRecord(*catalog_, cell, catalog::kWithoutOptionalParts, record), err::kNone);
    record.width = w;
    record.height = h;
    ASSERT_EQ(catalog::ReplaceItemParts(*catalog_, cell, record, 0), err::kNone);
  }
  FileFacts seen_existing, seen_incoming;
  ASSERT_EQ(Run(ids, TransferMode::kDuplicate, dest_,
                [&](const FileFacts& e, const FileFacts& i) {
                  seen_existing = e;
                  seen_incoming = i;
                  return ClashAnswer::kSkip;
                }),
            err::kNone);
  EXPECT_EQ(seen_incoming.width, 640u);
  EXPECT_EQ(seen_incoming.height, 480u);
  EXPECT_EQ(seen_existing.width, 320u);
  EXPECT_EQ(seen_existing.height, 200u);
}

TEST_F(TransferTest, CancelStopsBeforeTheNextItemAndKeepsWhatIsDone) {
  const auto ids = AddFiles({"a.jpg", "b.jpg", "c.jpg"});
  std::vector<std::pair<ProgressPhase, int>> calls;
  auto progress = [&](ProgressPhase phase, int done, int total) {
    EXPECT_EQ(total, 3);
    calls.emplace_back(phase, done);
    return phase == ProgressPhase::kStep && done == 1 ? 1 : 0;
  };
  EXPECT_EQ(Run(ids, TransferMode::kMove, dest_, {}, progress), err::kUserCancelled);
  EXPECT_EQ(calls.size(), 3u);  // start, after the first, end
  EXPECT_EQ(calls.back().first, ProgressPhase::kEnd);
  EXPECT_EQ(PathOf(ids[0]), dest_ + "/a.jpg");
  EXPECT_EQ(PathOf(ids[1]), media_ + "/b.jpg");
  EXPECT_TRUE(fs::exists(media_ + "/b.jpg"));
}

TEST_F(TransferTest, BadDestinationAndViewOnlyCatalogAreRefusedBeforeAnything) {
  const auto ids = AddFiles({"a.jpg"});
  EXPECT_EQ(Run(ids, TransferMode::kCopy, dir_ + "/nowhere"), err::kFolderNotFound);
  EXPECT_EQ(Run(ids, TransferMode::kCopy, media_ + "/a.jpg"), err::kFolderNotFound);
  catalog_->read_only = true;
  EXPECT_EQ(Run(ids, TransferMode::kMove, dest_), err::kWritePermission);
  EXPECT_EQ(Run(ids, TransferMode::kDuplicate, dest_), err::kNone);  // the catalog is not changed
  EXPECT_TRUE(fs::exists(dest_ + "/a.jpg"));
}

// A disk that fills up at any write of a transfer loses no file: every
// item's content is somewhere, the item points at a file that holds it, and
// no partial copy stays in the destination.
TEST_F(TransferTest, FullDiskAtAnyWriteLosesNothing) {
  other_ = OtherFileSystem();
  struct Case {
    const char* name;
    TransferMode mode;
    bool across;
  };
  const Case cases[] = {
      {"copy", TransferMode::kCopy, false},
      {"move across file systems", TransferMode::kMove, true},
      {"move on one file system", TransferMode::kMove, false},
  };
  const std::vector<std::string> names = {"a.jpg", "b.jpg", "c.jpg"};
  for (const Case& c : cases) {
    if (c.across && other_.empty()) continue;
    const std::string dest = c.across ? other_ : dest_;
    bool finished = false;
    int failed_runs = 0;
    for (std::uint64_t n = 1; n <= 200 && !finished; ++n) {
      SCOPED_TRACE(std::string(c.name) + ", write " + std::to_string(n));
      OpenEmpty();
      for (const std::string& folder : {media_, dest}) {
        fs::remove_all(folder);
        fs::create_directory(folder);
      }
      const auto ids = AddFiles(names, 200000);
      faults::FailNthWrite(n, err::kDiskFull);
      const ErrorCode e = Run(ids, c.mode, dest);
      faults::Reset();
      finished = e == err::kNone;
      if (!finished) {
        EXPECT_EQ(e, err::kDiskFull);
        ++failed_runs;
      }
      for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string want = Content(names[i], 200000);
        const std::string at = PathOf(ids[i]);
        EXPECT_EQ(Read(at), want) << names[i] << " at " << at;
        const bool in_media = fs::exists(media_ + "/" + names[i]);
        const bool in_dest = fs::exists(dest + "/" + names[i]);
        EXPECT_TRUE(in_media || in_dest) << names[i];
        if (in_dest) {
          EXPECT_EQ(Read(dest + "/" + names[i]), want);
        }
      }
      for (const std::string& left : Names(dest)) EXPECT_NE(left[0], '.') << "a partial copy stayed: " << left;
    }
    EXPECT_TRUE(finished) << c.name;
    EXPECT_GE(failed_runs, 3) << c.name << ": a write of each file failed once at least";
  }
}

// --- the file helpers --------------------------------------------------------

TEST_F(TransferTest, CompareFilesFindsADifferenceAnywhere) {
  const std::string a = dir_ + "/a", b = dir_ + "/b";
  std::string bytes(3 << 20, 'x');
  Write(a, bytes);
  Write(b, bytes);
  EXPECT_EQ(CompareFiles(a, b), err::kNone);
  for (std::size_t at : {std::size_t{0}, std::size_t{1} << 20, bytes.size() - 1}) {
    std::string changed = bytes;
    changed[at] = 'y';
    Write(b, changed);
    EXPECT_EQ(CompareFiles(a, b), err::kIo) << at;
  }
  Write(b, bytes + "z");
  EXPECT_EQ(CompareFiles(a, b), err::kIo);
  EXPECT_EQ(CompareFiles(a, dir_ + "/none"), err::kFileNotFound);
}

TEST_F(TransferTest, MoveThatTheCatalogCannotFollowPutsTheFileBack) {
  other_ = OtherFileSystem();
  for (const std::string& dest : {dest_, other_}) {
    if (dest.empty()) continue;
    SCOPED_TRACE(dest);
    Write(media_ + "/m.jpg", "moving");
    MoveKind kind = MoveKind::kRenamed;
    EXPECT_EQ(MoveFile(media_ + "/m.jpg", dest + "/m.jpg", Placement::kNewName, &kind,
                       [] { return ErrorCode(err::kDiskFull); }),
              err::kDiskFull);
    EXPECT_EQ(kind, dest == other_ ? MoveKind::kCopiedAcross : MoveKind::kRenamed);
    EXPECT_EQ(Read(media_ + "/m.jpg"), "moving");
    EXPECT_TRUE(Names(dest).empty());
  }
}

TEST_F(TransferTest, CopyToReplaceSwapsWholeFilesAndNewNameNeverReplaces) {
  Write(media_ + "/s", "new bytes");
  Write(dest_ + "/t", "old");
  EXPECT_EQ(CopyFileTo(media_ + "/s", dest_ + "/t", Placement::kNewName, CopyDurability::kCached),
            err::kDuplicateName);
  EXPECT_EQ(Read(dest_ + "/t"), "old");
  // A full disk during the replacing copy keeps the old file.
  faults::FailNthWrite(1, err::kDiskFull);
  EXPECT_EQ(CopyFileTo(media_ + "/s", dest_ + "/t", Placement::kReplace, CopyDurability::kCached), err::kDiskFull);
  faults::Reset();
  EXPECT_EQ(Read(dest_ + "/t"), "old");
  EXPECT_EQ(Names(dest_), std::vector<std::string>{"t"});
  EXPECT_EQ(CopyFileTo(media_ + "/s", dest_ + "/t", Placement::kReplace, CopyDurability::kFlushed), err::kNone);
  EXPECT_EQ(Read(dest_ + "/t"), "new bytes");
  EXPECT_EQ(Names(dest_), std::vector<std::string>{"t"});
}

}  // namespace
}  // namespace norvo::output
