// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_ops.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/file_spec.h"
#include "platform/owned_temporaries.h"

namespace norvo {
namespace {

namespace fs = std::filesystem;

class FileOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/norvo-fileops-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    // Claims of temporary copies go to the test's own folder, not the home.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr) saved_data_home_ = data;
    ::setenv("XDG_DATA_HOME", (dir_ + "/.data").c_str(), 1);
    fs::create_directory(dir_ + "/f");
  }
  void TearDown() override {
    faults::Reset();
    if (saved_data_home_) {
      ::setenv("XDG_DATA_HOME", saved_data_home_->c_str(), 1);
    } else {
      ::unsetenv("XDG_DATA_HOME");
    }
    fs::remove_all(dir_);
  }
  // A path in the work folder "f".
  std::string At(const std::string& leaf) const { return dir_ + "/f/" + leaf; }
  static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The names in the work folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ + "/f")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  std::optional<std::string> saved_data_home_;
};

using Rename = std::function<ErrorCode(const std::string&, const std::string&)>;
struct Strategy {
  const char* name;
  Rename rename;
};
const Strategy kStrategies[] = {
    {"renameat2", RenameNoReplace},
    {"link and unlink", RenameByLink},
    {"look, then rename", RenameAfterCheck},
};

// Every way of renaming moves a file to a free name, refuses a taken one
// without touching either file, and reports a missing source.
TEST_F(FileOpsTest, EveryRenameStrategyNeverReplaces) {
  for (const Strategy& s : kStrategies) {
    SCOPED_TRACE(s.name);
    fs::remove_all(dir_ + "/f");
    fs::create_directory(dir_ + "/f");
    Write(At("a.jpg"), "first");
    Write(At("b.jpg"), "second");

    EXPECT_EQ(s.rename(At("a.jpg"), At("b.jpg")), err::kDuplicateName);
    EXPECT_EQ(Read(At("a.jpg")), "first");
    EXPECT_EQ(Read(At("b.jpg")), "second");

    EXPECT_EQ(s.rename(At("a.jpg"), At("\xCE\xB1\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1.jpg")), err::kNone);  // αθήνα.jpg
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.jpg", "\xCE\xB1\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1.jpg"}));
    EXPECT_EQ(Read(At("\xCE\xB1\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1.jpg")), "first");

    EXPECT_EQ(s.rename(At("gone.jpg"), At("c.jpg")), err::kFileNotFound);
    EXPECT_EQ(s.rename(At("b.jpg"), dir_ + "/no-such-folder/b.jpg"), err::kFileNotFound);
    EXPECT_TRUE(fs::exists(At("b.jpg")));
  }
}

// A symbolic link is renamed as a link: the file it names stays where it is.
TEST_F(FileOpsTest, SymbolicLinksAreRenamedNotFollowed) {
  for (const Strategy& s : kStrategies) {
    SCOPED_TRACE(s.name);
    fs::remove_all(dir_ + "/f");
    fs::create_directory(dir_ + "/f");
    Write(At("target.jpg"), "photo");
    fs::create_symlink("target.jpg", At("link.jpg"));
    ASSERT_EQ(s.rename(At("link.jpg"), At("moved.jpg")), err::kNone);
    EXPECT_TRUE(fs::is_symlink(At("moved.jpg")));
    EXPECT_EQ(fs::read_symlink(At("moved.jpg")), "target.jpg");
    EXPECT_EQ(Names(), (std::vector<std::string>{"moved.jpg", "target.jpg"}));
  }
}

// Folders: plain rename() would put one over an empty folder of the new
// name; these never do. Hard links are not for folders.
TEST_F(FileOpsTest, FoldersAreNeverPutOverAnotherFolder) {
  fs::create_directory(At("old"));
  Write(At("old/inside.jpg"), "x");
  fs::create_directory(At("empty"));
  EXPECT_EQ(RenameNoReplace(At("old"), At("empty")), err::kDuplicateName);
  EXPECT_EQ(RenameAfterCheck(At("old"), At("empty")), err::kDuplicateName);
  EXPECT_EQ(RenameByLink(At("old"), At("new")), err::kParam);
  EXPECT_TRUE(fs::is_empty(At("empty")));
  EXPECT_EQ(RenameNoReplace(At("old"), At("new")), err::kNone);
  EXPECT_EQ(Read(At("new/inside.jpg")), "x");
}

TEST_F(FileOpsTest, CaseOnlyRenameGoesThroughATemporaryName) {
  struct Case {
    const char* from;
    const char* to;
  };
  const Case cases[] = {
      {"IMG_0001.JPG", "img_0001.jpg"},
      {"\xCE\x91\xCE\x98\xCE\x89\xCE\x9D\xCE\x91.JPG", "\xCE\xB1\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1.jpg"},  // ΑΘΉΝΑ / αθήνα
      {"stra\xC3\x9F" "e.png", "STRASSE.PNG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    fs::remove_all(dir_ + "/f");
    fs::create_directory(dir_ + "/f");
    Write(At(c.from), c.from);
    // The names the file is moved to, as the folder reports them.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, (dir_ + "/f").c_str(), IN_MOVED_TO), 0);
    ASSERT_EQ(RenameThroughTemporary(At(c.from), At(c.to)), err::kNone);
    std::vector<std::string> moved_to;
    alignas(struct inotify_event) char events[4096];
    const ssize_t n = ::read(watch, events, sizeof events);
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const struct inotify_event*>(events + at);
      moved_to.emplace_back(e->name);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
    }
    ::close(watch);
    ASSERT_EQ(moved_to.size(), 2u);
    EXPECT_TRUE(moved_to[0].starts_with("nrk")) << moved_to[0];
    EXPECT_EQ(moved_to[0].size(), 9u);
    EXPECT_EQ(moved_to[1], c.to);
    EXPECT_EQ(Names(), std::vector<std::string>{c.to});  // no temporary left behind
    EXPECT_EQ(Read(At(c.to)), c.from);
  }
  EXPECT_EQ(RenameThroughTemporary(At("STRASSE.PNG"), At("STRASSE.PNG")), err::kNone);
  EXPECT_EQ(Names(), std::vector<std::string>{"STRASSE.PNG"});
}

// On a file system that tells case apart, the lower-case name may belong to
// another file: it stays, and so does the one being renamed.
TEST_F(FileOpsTest, CaseOnlyRenameRefusesAnotherFileOfThatName) {
  Write(At("IMG_0001.JPG"), "upper");
  Write(At("img_0001.jpg"), "lower");
  EXPECT_EQ(RenameThroughTemporary(At("IMG_0001.JPG"), At("img_0001.jpg")), err::kDuplicateName);
  EXPECT_EQ(Names(), (std::vector<std::string>{"IMG_0001.JPG", "img_0001.jpg"}));
  EXPECT_EQ(Read(At("IMG_0001.JPG")), "upper");
  EXPECT_EQ(Read(At("img_0001.jpg")), "lower");

  EXPECT_EQ(RenameThroughTemporary(At("IMG_0001.JPG"), dir_ + "/IMG_0001.jpg"), err::kParam);
  EXPECT_EQ(RenameThroughTemporary(At("GONE.JPG"), At("gone.jpg")), err::kFileNotFound);
}

TEST_F(FileOpsTest, TemporaryNamesAreFreshAndKeptOnlyWhenAsked) {
  std::string a, b;
  ASSERT_EQ(MakeTemporaryName(dir_ + "/f", "nrk", TemporaryFile::kDeleted, &a), err::kNone);
  ASSERT_EQ(MakeTemporaryName(dir_ + "/f", "nrk", TemporaryFile::kKept, &b), err::kNone);
  EXPECT_NE(a, b);
  EXPECT_TRUE(LeafName(a).starts_with("nrk"));
  EXPECT_EQ(LeafName(a).size(), 9u);
  EXPECT_FALSE(fs::exists(a));
  EXPECT_TRUE(fs::exists(b));
  EXPECT_EQ(MakeTemporaryName(dir_ + "/missing", "nrk", TemporaryFile::kDeleted, &a), err::kFileNotFound);
}

// Claim files are reused from one temporary to the next: each live claim
// must still name its own temporary, nested claims must not share a file,
// and a forked child must neither take its parent's claims nor leave its
// own temporary behind when it dies without cleaning up.
TEST_F(FileOpsTest, ClaimsNameEachLiveTemporaryAndADeadChildsAreSwept) {
  const std::string claims = TemporaryClaimFolder();
  auto named = [&] {
    std::vector<std::string> paths;
    for (const auto& e : fs::directory_iterator(claims)) {
      std::string text = Read(e.path().string());
      text.resize(std::min(text.size(), text.find('\0')));
      if (!text.empty()) paths.push_back(text);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  TemporaryClaim a, b;
  a.claim(At(".a.norvo-aaaaaa"));
  b.claim(At(".b.norvo-bbbbbb"));
  EXPECT_EQ(named(), (std::vector<std::string>{At(".a.norvo-aaaaaa"), At(".b.norvo-bbbbbb")}));
  b.release();
  a.claim(At(".c.norvo-cccccc"));
  EXPECT_EQ(named(), std::vector<std::string>{At(".c.norvo-cccccc")});

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TemporaryClaim mine;
    std::string path;
    ErrorCode error = err::kNone;
    const int fd = CreateClaimedTemporary(At("photo.jpg"), 0600, mine, &path, &error);
    ::_exit(fd >= 0 ? 0 : 1);  // dies holding its claim, as a killed run would
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(Names().size(), 1u);  // the child's temporary
  EXPECT_TRUE(IsTemporaryName(Names()[0]));
  EXPECT_EQ(named().size(), 2u);
  EXPECT_EQ(SweepAbandonedTemporaries(), 1);
  EXPECT_TRUE(Names().empty());
  EXPECT_EQ(named(), std::vector<std::string>{At(".c.norvo-cccccc")});  // this process's claim lives on
}

TEST_F(FileOpsTest, CopyKeepsBytesTimesPermissionsAndUserAttributes) {
  std::string bytes;
  for (int i = 0; i < (3 << 20) + 17; ++i) bytes += static_cast<char>(i * 7 + i / 251);
  Write(At("photo.jpg"), bytes);
  ASSERT_EQ(::chmod(At("photo.jpg").c_str(), 0640), 0);
  const bool attributes = ::setxattr(At("photo.jpg").c_str(), "user.norvo.test", "JPEG", 4, 0) == 0;
  // A modification time in 2011, to the nanosecond.
  const struct timespec times[2] = {{1300000000, 123456789}, {1312345678, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, At("photo.jpg").c_str(), times, 0), 0);

  ASSERT_EQ(CopyFileKeepingAttributes(At("photo.jpg"), At("copy.jpg")), err::kNone);
  EXPECT_EQ(Read(At("copy.jpg")), bytes);
  struct stat st {};
  ASSERT_EQ(::stat(At("copy.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
  if (attributes) {
    char value[8] = {};
    EXPECT_EQ(::getxattr(At("copy.jpg").c_str(), "user.norvo.test", value, sizeof value), 4);
    EXPECT_EQ(std::string(value), "JPEG");
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"copy.jpg", "photo.jpg"}));

  // The cached form keeps the same attributes.
  ASSERT_EQ(CopyFileKeepingAttributes(At("photo.jpg"), At("copy2.jpg"), CopyDurability::kCached), err::kNone);
  ASSERT_EQ(::stat(At("copy2.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
}

TEST_F(FileOpsTest, CopyAppearsWholeOrNotAtAll) {
  Write(At("photo.jpg"), "photo");
  Write(At("taken.jpg"), "other");
  EXPECT_EQ(CopyFileKeepingAttributes(At("photo.jpg"), At("taken.jpg")), err::kDuplicateName);
  EXPECT_EQ(Read(At("taken.jpg")), "other");
  EXPECT_EQ(CopyFileKeepingAttributes(At("gone.jpg"), At("x.jpg")), err::kFileNotFound);
  fs::create_directory(At("folder"));
  EXPECT_EQ(CopyFileKeepingAttributes(At("folder"), At("x.jpg")), err::kNotAFile);

  // A name of 255 bytes, too long to be repeated in the temporary's name.
  std::string longest;
  while (longest.size() + 2 + 4 <= 255) longest += "\xCE\xB1";  // α
  longest += "x.jpg";
  ASSERT_EQ(longest.size(), 255u);
  EXPECT_EQ(CopyFileKeepingAttributes(At("photo.jpg"), At(longest)), err::kNone);
  EXPECT_EQ(Read(At(longest)), "photo");
  fs::remove(At(longest));

  // A disk that fills up during the copy leaves neither the copy nor its
  // temporary.
  faults::FailNthWrite(1, err::kDiskFull);
  EXPECT_EQ(CopyFileKeepingAttributes(At("photo.jpg"), At("x.jpg")), err::kDiskFull);
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "photo.jpg", "taken.jpg"}));
}

}  // namespace
}  // namespace norvo
