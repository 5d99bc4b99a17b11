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
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13 + i / 256);
  return b;
}
// Files beside `file` whose names begin with its name and `suffix`.
std::vector<std::string> Beside(const std::string& file, const std::string& suffix) {
  std::vector<std::string> found;
  const std::string prefix = fs::path(file).filename().string() + suffix;
  for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path())) {
    if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path().string());
  }
  return found;
}

// Every test gets its own XDG folders (and home), so nothing touches the
// real ones.
class SettingsStoreTest : public ::testing::Test {
 protected:
  std::string userDb() const { return root_ + "/config/Norvo/Media2/settings.db"; }
  std::string machineDb() const { return root_ + "/xdg/Norvo/Media2/settings.db"; }
  // The machine-wide store is made the way an administrator would make it:
  // a database of the same schema, written by a store of its own.
  static SettingsStore openAsUser(const std::string& path) { return SettingsStore::Open(StorePaths{path, {}}); }

  testing::IsolatedEnvironment env_{"settings"};
  std::string root_ = env_.root();
};

TEST_F(SettingsStoreTest, DefaultPathsFollowTheXdgVariables) {
  EXPECT_EQ(DefaultStorePaths().user, userDb());
  EXPECT_EQ(DefaultStorePaths().machine.at(0), machineDb());
  // Relative entries do not count; the first absolute one does.
  ::setenv("XDG_CONFIG_DIRS", ("relative/dir:" + root_ + "/first:" + root_ + "/second").c_str(), 1);
  EXPECT_EQ(DefaultStorePaths().machine.at(0), root_ + "/first/Norvo/Media2/settings.db");
  ::setenv("XDG_CONFIG_DIRS", "", 1);
  EXPECT_EQ(DefaultStorePaths().machine.at(0), "/etc/xdg/Norvo/Media2/settings.db");
  for (const char* home : {static_cast<const char*>(nullptr), "not/absolute"}) {
    home ? ::setenv("XDG_CONFIG_HOME", home, 1) : ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultStorePaths().user, root_ + "/home/.config/Norvo/Media2/settings.db");
  }
}

TEST_F(SettingsStoreTest, TypedValuesPersistNamesIgnoreCaseAndEachValueHasOneType) {
  const Bytes blob = Pattern(5000, 7);
  {
    SettingsStore store = SettingsStore::Open();
    EXPECT_EQ(store.putBinary("Preferences", "Preferences", blob), err::kNone);
    EXPECT_EQ(store.putBinary("Preferences", "Empty", Bytes()), err::kNone);
    EXPECT_EQ(store.putString("RecentFiles", "Recent1", "/home/jö/Ünterwegs.nrk"), err::kNone);
    EXPECT_EQ(store.putString("", "Blank", ""), err::kNone);
    EXPECT_EQ(store.putNumber("Counters", "Big", -9000000000123LL), err::kNone);
  }
  SettingsStore store = SettingsStore::Open();
  EXPECT_EQ(store.getBinary("Preferences", "Preferences"), blob);
  EXPECT_EQ(store.getBinary("Preferences", "Empty"), Bytes());
  EXPECT_EQ(store.getString("", "Blank"), "");
  EXPECT_EQ(store.getNumber("Counters", "Big"), -9000000000123LL);
  EXPECT_EQ(store.getBinary("Elsewhere", "Preferences"), std::nullopt);
  // Registry names: case does not matter, and "\Key\" is "Key".
  EXPECT_EQ(store.getString("\\recentfiles\\", "RECENT1"), "/home/jö/Ünterwegs.nrk");
  EXPECT_EQ(store.getString("RecentFiles\\Sub", "Recent1"), std::nullopt);

  // Read as another type, a value is not there; written as another type, it
  // is replaced.
  EXPECT_EQ(store.getBinary("RecentFiles", "Recent1"), std::nullopt);
  ASSERT_EQ(store.putNumber("RECENTFILES", "recent1", 12), err::kNone);
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
  EXPECT_EQ(GetSetting(store, expo, 3, fallback), fallback);
  ASSERT_EQ(PutSetting(store, expo, 3, block), err::kNone);
  EXPECT_EQ(GetSetting(store, expo, 3, fallback), block);
  EXPECT_EQ(GetSetting(store, expo, 4), std::nullopt);
  EXPECT_EQ(GetSetting(store, FourCC("LOGO"), 3), std::nullopt);
  // Anyone reaches the same value by key and name.
  EXPECT_EQ(store.getBinary("Preferences\\EXPO", "3"), block);

  // No block: the value goes, and the default comes back; absent already is fine.
  EXPECT_EQ(PutSetting(store, expo, 3, std::nullopt), err::kNone);
  EXPECT_EQ(GetSetting(store, expo, 3), std::nullopt);
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
  EXPECT_TRUE(Beside(machineDb(), "-").empty());

  // The first candidate that exists is used, e.g. one beside the program;
  // with none anywhere, reads simply find nothing.
  const std::string beside = root_ + "/program/settings.db";
  fs::create_directories(root_ + "/program");
  ASSERT_EQ(openAsUser(beside).putString("", "Path", "beside"), err::kNone);
  SettingsStore second = SettingsStore::Open(StorePaths{userDb(), {root_ + "/none.db", beside}});
  EXPECT_EQ(second.machinePath(), beside);
  EXPECT_EQ(second.getString("", "Path"), "beside");
  SettingsStore alone = SettingsStore::Open(StorePaths{userDb(), {root_ + "/none.db"}});
  EXPECT_EQ(alone.machinePath(), "");
  EXPECT_EQ(alone.getString("", "Path"), std::nullopt);
  EXPECT_TRUE(alone.warnings().empty());
}

// Three kinds of damage, each met at start-up: the file is moved aside with
// its bytes intact, a warning names it, and a fresh store is used.
TEST_F(SettingsStoreTest, BrokenDatabaseIsMovedAsideAndAFreshStoreUsed) {
  for (const std::string damage : {"garbage", "foreign schema", "overwritten pages"}) {
    SCOPED_TRACE(damage);
    fs::create_directories(fs::path(userDb()).parent_path());
    for (const std::string& old : Beside(userDb(), "")) fs::remove(old);
    if (damage == "garbage") {
      WriteFile(userDb(), Pattern(3000, 0x5A));
    } else if (damage == "foreign schema") {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(userDb().c_str(), &db), SQLITE_OK);
      EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE settings(a, b); INSERT INTO settings VALUES(1, 2)", nullptr, nullptr,
                             nullptr), SQLITE_OK);
      sqlite3_close(db);
    } else {  // a good store whose table pages are overwritten
      {
        SettingsStore store = SettingsStore::Open();
        for (int i = 0; i < 12; ++i) {
          ASSERT_EQ(store.putBinary("Bulk", std::to_string(i), Pattern(1000, 1)), err::kNone);
        }
      }
      Bytes file = ReadFile(userDb());
      ASSERT_GT(file.size(), 3u * 4096);
      std::fill(file.begin() + 4096, file.begin() + 3 * 4096, 0xFF);
      WriteFile(userDb(), file);
    }
    const Bytes damaged = ReadFile(userDb());

    SettingsStore store = SettingsStore::Open();
    ASSERT_EQ(store.warnings().size(), 1u);
    EXPECT_EQ(store.userPath(), userDb());
    std::vector<std::string> moved = Beside(userDb(), ".broken-");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(ReadFile(moved[0]), damaged);
    EXPECT_NE(store.warnings()[0].find(moved[0]), std::string::npos);
    EXPECT_NE(store.warnings()[0].find(userDb()), std::string::npos);
    EXPECT_EQ(store.getBinary("Bulk", "1"), std::nullopt);
    ASSERT_EQ(store.putNumber("Fresh", "Value", 5), err::kNone);
    EXPECT_EQ(SettingsStore::Open().getNumber("Fresh", "Value"), 5);
  }
}

TEST_F(SettingsStoreTest, EmptyFileIsNewBrokenMachineStoreIgnoredUnusableFolderFallsBackToMemory) {
  // An empty user file is a new store, not a broken one.
  WriteFile(userDb(), Bytes());
  // A broken machine store is ignored with a warning and left alone.
  WriteFile(machineDb(), Pattern(2048, 1));
  SettingsStore store = SettingsStore::Open();
  ASSERT_EQ(store.warnings().size(), 1u);
  EXPECT_NE(store.warnings()[0].find(machineDb()), std::string::npos);
  EXPECT_EQ(store.machinePath(), "");
  EXPECT_EQ(ReadFile(machineDb()), Pattern(2048, 1));
  EXPECT_EQ(store.putNumber("A", "B", 1), err::kNone);
  EXPECT_EQ(SettingsStore::Open(StorePaths{userDb(), {}}).getNumber("A", "B"), 1);
  EXPECT_TRUE(Beside(userDb(), ".broken").empty());

  // The configuration "folder" is a file: nothing can be created below it.
  fs::remove_all(root_ + "/config");
  WriteFile(root_ + "/config", Bytes{1});
  SettingsStore memory = SettingsStore::Open(StorePaths{userDb(), {}});
  ASSERT_EQ(memory.warnings().size(), 1u);
  EXPECT_EQ(memory.userPath(), "");
  EXPECT_EQ(memory.putString("LastCatalog", "", "x.nrk"), err::kNone);
  EXPECT_EQ(memory.getString("LastCatalog", ""), "x.nrk");
  EXPECT_EQ(ReadFile(root_ + "/config"), Bytes{1});
}

// Two processes that start together on a store that does not exist yet,
// each writing many values in separate transactions, half of them under a
// key both share: afterwards every value of both is there. (Each commit
// waits for the disk, so the count is modest.)
TEST_F(SettingsStoreTest, TwoWriterProcessesLoseNothing) {
  constexpr int kValuesEach = 90;
  const auto name = [](int w, int i) { return std::to_string(w) + "-" + std::to_string(i); };
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int w = 0; w < 2; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char c = 0;
      (void)!::read(gate[0], &c, 1);  // returns when the parent closes its end
      SettingsStore store = SettingsStore::Open();
      int failures = store.warnings().empty() ? 0 : 1;
      for (int i = 0; i < kValuesEach; ++i) {
        failures += (i % 2 ? store.putString("Shared", name(w, i), name(w, i))
                           : store.putNumber("Writer" + std::to_string(w), name(w, i), i)) != err::kNone;
      }
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
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kValuesEach; ++i) {
      missing += i % 2 ? store.getString("Shared", name(w, i)) != name(w, i)
                       : store.getNumber("Writer" + std::to_string(w), name(w, i)) != i;
    }
  }
  EXPECT_EQ(missing, 0);
  EXPECT_TRUE(Beside(userDb(), ".broken").empty());
}

}  // namespace
}  // namespace norvo::app
