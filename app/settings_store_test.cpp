// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/test_environment.h"
#include "app/settings_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/byte_io.h"

namespace norvo::app {
namespace {

namespace fs = std::filesystem;
using Scope = SettingsStore::Scope;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void WriteFile(const std::string& path, const Bytes& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13 + i / 256);
  return b;
}
// Files in `folder` whose names begin with `prefix`.
std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path().string());
  }
  return found;
}

// Every test gets its own XDG folders (and home), so nothing touches the
// real ones.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.emplace("settings");
    root_ = env_->root();
  }
  void TearDown() override {
    env_.reset();
  }
  std::string userDb() const { return root_ + "/config/Norvo/Media2/settings.db"; }
  std::string machineDb() const { return root_ + "/xdg/Norvo/Media2/settings.db"; }
  // The machine-wide store is made the way an administrator would make it:
  // a database of the same schema, written by a store of its own.
  SettingsStore openAsUser(const std::string& path) const { return SettingsStore::Open(StorePaths{path, {}}); }

  std::string root_;
  std::optional<testing::IsolatedEnvironment> env_;
};

TEST_F(SettingsStoreTest, DefaultPathsFollowTheXdgVariables) {
  StorePaths paths = DefaultStorePaths();
  EXPECT_EQ(paths.user, userDb());
  ASSERT_GE(paths.machine.size(), 1u);
  EXPECT_EQ(paths.machine[0], machineDb());
  if (paths.machine.size() > 1) {
    EXPECT_EQ(fs::path(paths.machine[1]).filename(), "settings.db");
  }

  // Relative entries do not count; the first absolute one does.
  ::setenv("XDG_CONFIG_DIRS", ("relative/dir:" + root_ + "/first:" + root_ + "/second").c_str(), 1);
  EXPECT_EQ(DefaultStorePaths().machine[0], root_ + "/first/Norvo/Media2/settings.db");
  ::setenv("XDG_CONFIG_DIRS", "", 1);
  EXPECT_EQ(DefaultStorePaths().machine[0], "/etc/xdg/Norvo/Media2/settings.db");

  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(DefaultStorePaths().user, root_ + "/home/.config/Norvo/Media2/settings.db");
  ::setenv("XDG_CONFIG_HOME", "not/absolute", 1);
  EXPECT_EQ(DefaultStorePaths().user, root_ + "/home/.config/Norvo/Media2/settings.db");
}

TEST_F(SettingsStoreTest, TypedValuesPersistAcrossOpenings) {
  const Bytes blob = Pattern(5000, 7);
  {
    SettingsStore store = SettingsStore::Open();
    EXPECT_TRUE(store.warnings().empty());
    EXPECT_EQ(store.userPath(), userDb());
    EXPECT_EQ(store.putBinary("Preferences", "Preferences", blob), err::kNone);
    EXPECT_EQ(store.putBinary("Preferences", "Empty", Bytes()), err::kNone);
    EXPECT_EQ(store.putString("RecentFiles", "Recent1", "/home/jö/Ünterwegs.nrk"), err::kNone);
    EXPECT_EQ(store.putString("", "Blank", ""), err::kNone);
    EXPECT_EQ(store.putNumber("Counters", "Big", -9000000000123LL), err::kNone);
  }
  SettingsStore store = SettingsStore::Open();
  EXPECT_EQ(store.getBinary("Preferences", "Preferences"), blob);
  EXPECT_EQ(store.getBinary("Preferences", "Empty"), Bytes());
  EXPECT_EQ(store.getString("RecentFiles", "Recent1"), "/home/jö/Ünterwegs.nrk");
  EXPECT_EQ(store.getString("", "Blank"), "");
  EXPECT_EQ(store.getNumber("Counters", "Big"), -9000000000123LL);
  EXPECT_EQ(store.getBinary("Preferences", "Missing"), std::nullopt);
  EXPECT_EQ(store.getBinary("Elsewhere", "Preferences"), std::nullopt);
}

TEST_F(SettingsStoreTest, NamesIgnoreCaseValuesHaveOneTypeDeleteReportsAbsence) {
  SettingsStore store = SettingsStore::Open();
  ASSERT_EQ(store.putString("RecentFiles", "Recent1", "a.nrk"), err::kNone);
  // Registry names: case does not matter, and "\Key\" is "Key".
  EXPECT_EQ(store.getString("recentfiles", "RECENT1"), "a.nrk");
  EXPECT_EQ(store.getString("\\RecentFiles\\", "Recent1"), "a.nrk");
  ASSERT_EQ(store.putString("RECENTFILES", "recent1", "b.nrk"), err::kNone);
  EXPECT_EQ(store.getString("RecentFiles", "Recent1"), "b.nrk");
  EXPECT_EQ(store.getString("RecentFiles\\Sub", "Recent1"), std::nullopt);

  // Read as another type, a value is not there; written as another type, it
  // is replaced.
  EXPECT_EQ(store.getNumber("RecentFiles", "Recent1"), std::nullopt);
  EXPECT_EQ(store.getBinary("RecentFiles", "Recent1"), std::nullopt);
  ASSERT_EQ(store.putNumber("RecentFiles", "Recent1", 12), err::kNone);
  EXPECT_EQ(store.getNumber("RecentFiles", "Recent1"), 12);
  EXPECT_EQ(store.getString("RecentFiles", "Recent1"), std::nullopt);

  ASSERT_EQ(store.putNumber("RecentFiles", "Recent2", 2), err::kNone);
  EXPECT_EQ(store.deleteValue("RecentFiles", "Recent1"), err::kNone);
  EXPECT_EQ(store.getNumber("RecentFiles", "Recent1"), std::nullopt);
  EXPECT_EQ(store.getNumber("RecentFiles", "Recent2"), 2);
  EXPECT_EQ(store.deleteValue("RecentFiles", "Recent1"), err::kFileNotFound);
}

TEST_F(SettingsStoreTest, CodedStoreKeepsBlocksUnderCodeAndIndex) {
  const std::uint32_t expo = FourCC("EXPO");
  const Bytes fallback = {9, 8, 7};
  const Bytes block = Pattern(160, 3);
  SettingsStore store = SettingsStore::Open();

  EXPECT_EQ(GetSetting(store, expo, 3), std::nullopt);
  EXPECT_EQ(GetSetting(store, expo, 3, fallback), fallback);
  ASSERT_EQ(PutSetting(store, expo, 3, block), err::kNone);
  EXPECT_EQ(GetSetting(store, expo, 3, fallback), block);
  EXPECT_EQ(GetSetting(store, expo, 4), std::nullopt);
  EXPECT_EQ(GetSetting(store, FourCC("LOGO"), 3), std::nullopt);
  // Anyone reaches the same value by key and name.
  EXPECT_EQ(store.getBinary("Preferences\\EXPO", "3"), block);

  // No block: the value goes, and the default comes back.
  EXPECT_EQ(PutSetting(store, expo, 3, std::nullopt), err::kNone);
  EXPECT_EQ(GetSetting(store, expo, 3, fallback), fallback);
  EXPECT_EQ(PutSetting(store, expo, 3, std::nullopt), err::kNone);
}

TEST_F(SettingsStoreTest, MachineStoreAnswersWhatTheUserLacksAndIsNeverWritten) {
  {
    SettingsStore machine = openAsUser(machineDb());
    ASSERT_EQ(machine.putString("", "Path", "/opt/norvo"), err::kNone);
    ASSERT_EQ(machine.putNumber("Preferences", "Shared", 1), err::kNone);
    ASSERT_EQ(PutSetting(machine, FourCC("LABL"), 1, Bytes{1, 2, 3}), err::kNone);
  }
  const Bytes machine_bytes = ReadFile(machineDb());
  const fs::file_time_type machine_time = fs::last_write_time(machineDb());

  SettingsStore store = SettingsStore::Open();
  EXPECT_TRUE(store.warnings().empty());
  EXPECT_EQ(store.machinePath(), machineDb());
  EXPECT_EQ(store.getString("", "Path"), "/opt/norvo");
  EXPECT_EQ(GetSetting(store, FourCC("LABL"), 1), (Bytes{1, 2, 3}));
  EXPECT_EQ(store.getString("", "Path", Scope::kUser), std::nullopt);

  // The user's value hides the machine's; deleting it shows the machine's
  // again. Writes and deletions never reach the machine store.
  ASSERT_EQ(store.putNumber("Preferences", "Shared", 2), err::kNone);
  EXPECT_EQ(store.getNumber("Preferences", "Shared"), 2);
  EXPECT_EQ(store.getNumber("Preferences", "Shared", Scope::kMachine), 1);
  EXPECT_EQ(store.deleteValue("Preferences", "Shared"), err::kNone);
  EXPECT_EQ(store.getNumber("Preferences", "Shared"), 1);
  EXPECT_EQ(store.deleteValue("", "Path"), err::kFileNotFound);
  EXPECT_EQ(PutSetting(store, FourCC("LABL"), 1, std::nullopt), err::kNone);
  EXPECT_EQ(GetSetting(store, FourCC("LABL"), 1), (Bytes{1, 2, 3}));

  EXPECT_EQ(ReadFile(machineDb()), machine_bytes);
  EXPECT_EQ(fs::last_write_time(machineDb()), machine_time);
  EXPECT_TRUE(FilesStartingWith(fs::path(machineDb()).parent_path(), "settings.db-").empty());
}

TEST_F(SettingsStoreTest, MachineStoreCanSitBesideTheProgram) {
  const std::string beside = root_ + "/program/settings.db";
  fs::create_directories(root_ + "/program");
  openAsUser(beside).putString("", "Path", root_ + "/program");
  SettingsStore store = SettingsStore::Open(StorePaths{userDb(), {machineDb(), beside}});
  EXPECT_EQ(store.machinePath(), beside);
  EXPECT_EQ(store.getString("", "Path"), root_ + "/program");

  // With no machine store anywhere, reads simply find nothing.
  SettingsStore alone = SettingsStore::Open(StorePaths{userDb(), {machineDb()}});
  EXPECT_EQ(alone.machinePath(), "");
  EXPECT_EQ(alone.getString("", "Path"), std::nullopt);
  EXPECT_TRUE(alone.warnings().empty());
}

// Three kinds of damage, each met at start-up: the file is moved aside with
// its bytes intact, a warning names it, and a fresh store is used.
class BrokenDatabaseTest : public SettingsStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BrokenDatabaseTest, IsMovedAsideAndAFreshStoreUsed) {
  const std::string damage = GetParam();
  if (damage == "garbage") {
    WriteFile(userDb(), Pattern(3000, 0x5A));
  } else if (damage == "foreign schema") {
    fs::create_directories(fs::path(userDb()).parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(userDb().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE settings(a, b); INSERT INTO settings VALUES(1, 2)", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  } else {
    // A good store whose table pages are overwritten.
    {
      SettingsStore store = SettingsStore::Open();
      for (int i = 0; i < 12; ++i) ASSERT_EQ(store.putBinary("Bulk", std::to_string(i), Pattern(1000, 1)), err::kNone);
    }
    Bytes file = ReadFile(userDb());
    ASSERT_GT(file.size(), 3u * 4096);
    std::fill(file.begin() + 4096, file.begin() + 3 * 4096, 0xFF);
    WriteFile(userDb(), file);
  }
  const Bytes damaged = ReadFile(userDb());

  SettingsStore store = SettingsStore::Open();
  ASSERT_EQ(store.warnings().size(), 1u);
  EXPECT_NE(store.warnings()[0].find(userDb()), std::string::npos);
  EXPECT_EQ(store.userPath(), userDb());
  std::vector<std::string> moved = FilesStartingWith(fs::path(userDb()).parent_path(), "settings.db.broken-");
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(ReadFile(moved[0]), damaged);
  EXPECT_NE(store.warnings()[0].find(moved[0]), std::string::npos);

  EXPECT_EQ(store.getBinary("Bulk", "1"), std::nullopt);
  ASSERT_EQ(store.putNumber("Fresh", "Value", 5), err::kNone);
  EXPECT_EQ(SettingsStore::Open().getNumber("Fresh", "Value"), 5);
}

INSTANTIATE_TEST_SUITE_P(Damage, BrokenDatabaseTest, ::testing::Values("garbage", "foreign schema", "overwritten pages"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) c = c == ' ' ? '_' : c;
                           return name;
                         });

TEST_F(SettingsStoreTest, EmptyFileIsANewStoreNotABrokenOne) {
  WriteFile(userDb(), Bytes());
  SettingsStore store = SettingsStore::Open();
  EXPECT_TRUE(store.warnings().empty());
  EXPECT_EQ(store.putString("LastCatalog", "", "x.nrk"), err::kNone);
  EXPECT_TRUE(FilesStartingWith(fs::path(userDb()).parent_path(), "settings.db.broken").empty());
}

TEST_F(SettingsStoreTest, BrokenMachineStoreIsIgnoredAndLeftAlone) {
  WriteFile(machineDb(), Pattern(2048, 1));
  SettingsStore store = SettingsStore::Open();
  ASSERT_EQ(store.warnings().size(), 1u);
  EXPECT_NE(store.warnings()[0].find(machineDb()), std::string::npos);
  EXPECT_EQ(store.machinePath(), "");
  EXPECT_EQ(ReadFile(machineDb()), Pattern(2048, 1));
  EXPECT_EQ(store.putNumber("A", "B", 1), err::kNone);
  EXPECT_EQ(store.getNumber("A", "B"), 1);
}

TEST_F(SettingsStoreTest, UnusableFolderFallsBackToMemory) {
  // The configuration "folder" is a file: nothing can be created below it.
  fs::remove_all(root_ + "/config");
  WriteFile(root_ + "/config", Bytes{1});
  SettingsStore store = SettingsStore::Open();
  ASSERT_EQ(store.warnings().size(), 1u);
  EXPECT_EQ(store.userPath(), "");
  EXPECT_EQ(store.putString("LastCatalog", "", "x.nrk"), err::kNone);
  EXPECT_EQ(store.getString("LastCatalog", ""), "x.nrk");
  EXPECT_EQ(ReadFile(root_ + "/config"), Bytes{1});
}

// Value i of writer w: the three kinds of value in turn, half of them under
// a key both writers share.
ErrorCode WriteValue(SettingsStore& store, int w, int i) {
  const std::string name = std::to_string(w) + "-" + std::to_string(i);
  switch (i % 3) {
    case 0:
      return store.putNumber("Writer" + std::to_string(w), name, w * 100000 + i);
    case 1:
      return store.putString("Shared", name, name);
    default:
      return PutSetting(store, FourCC("TEST"), w * 1000 + i, Pattern(64, static_cast<std::uint8_t>(i)));
  }
}
bool HasValue(const SettingsStore& store, int w, int i) {
  const std::string name = std::to_string(w) + "-" + std::to_string(i);
  switch (i % 3) {
    case 0:
      return store.getNumber("Writer" + std::to_string(w), name) == std::optional<std::int64_t>(w * 100000 + i);
    case 1:
      return store.getString("Shared", name) == std::optional<std::string>(name);
    default:
      return GetSetting(store, FourCC("TEST"), w * 1000 + i) == std::optional<Bytes>(Pattern(64, static_cast<std::uint8_t>(i)));
  }
}

// Two processes that start together on a store that does not exist yet,
// each writing many values in separate transactions: afterwards every value
// of both is there. (Each commit waits for the disk, so the count is modest.)
TEST_F(SettingsStoreTest, TwoWriterProcessesLoseNothing) {
  constexpr int kWriters = 2;
  constexpr int kValuesEach = 90;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char c = 0;
      (void)!::read(gate[0], &c, 1);  // returns when the parent closes its end
      int failures = 0;
      SettingsStore store = SettingsStore::Open();
      failures += store.warnings().empty() ? 0 : 1;
      for (int i = 0; i < kValuesEach; ++i) failures += WriteValue(store, w, i) != err::kNone;
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer process failed, status " << status;
  }

  SettingsStore store = SettingsStore::Open();
  int missing = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValuesEach; ++i) missing += !HasValue(store, w, i);
  }
  EXPECT_EQ(missing, 0);
  EXPECT_TRUE(FilesStartingWith(fs::path(userDb()).parent_path(), "settings.db.broken").empty());
}

}  // namespace
}  // namespace norvo::app
