// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli to find, sort, hide and group catalog items, and
// checks saved queries against the real settings store.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "metadata/find_sort.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A minimal JSON reader, enough to check norvo-cli output structurally.
struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  long long number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in output order

  const Json& operator[](std::string_view key) const {
    for (const auto& [k, v] : members) {
      if (k == key) return v;
    }
    throw std::runtime_error("no member " + std::string(key));
  }
  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    for (const auto& m : members) out.push_back(m.first);
    return out;
  }
};

class JsonParser {
 public:
  static Json Parse(std::string_view text) {
    JsonParser p{text};
    Json v = p.value();
    p.space();
    if (p.pos_ != text.size()) p.fail("trailing text");
    return v;
  }

 private:
  explicit JsonParser(std::string_view t) : t_(t) {}
  [[noreturn]] void fail(const std::string& why) { throw std::runtime_error("JSON: " + why); }
  void space() {
    while (pos_ < t_.size() && std::string_view(" \n\r\t").find(t_[pos_]) != std::string_view::npos) ++pos_;
  }
  bool take(std::string_view word) {
    if (t_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  void expect(char c) {
    space();
    if (pos_ >= t_.size() || t_[pos_] != c) fail(std::string("expected ") + c);
    ++pos_;
  }
  std::string string() {
    expect('"');
    std::string out;
    while (pos_ < t_.size() && t_[pos_] != '"') {
      char c = t_[pos_++];
      if (static_cast<unsigned char>(c) < 0x20) fail("control character in string");
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      char e = pos_ < t_.size() ? t_[pos_++] : '?';
      constexpr std::string_view kEscapes = "\"\\/ntr", kMeanings = "\"\\/\n\t\r";
      if (std::size_t k = kEscapes.find(e); k != std::string_view::npos) {
        out.push_back(kMeanings[k]);
        continue;
      }
      unsigned u = 0;
      auto [p, ec] = std::from_chars(t_.data() + pos_, t_.data() + std::min(pos_ + 4, t_.size()), u, 16);
      if (e != 'u' || ec != std::errc() || p != t_.data() + pos_ + 4) fail("bad escape");
      pos_ += 4;
      if (u < 0x80) {
        out.push_back(static_cast<char>(u));
      } else if (u < 0x800) {
        out += {static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F))};
      } else {
        out += {static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                static_cast<char>(0x80 | (u & 0x3F))};
      }
    }
    expect('"');
    return out;
  }
  Json value() {
    space();
    Json v;
    if (pos_ >= t_.size()) fail("unexpected end");
    char c = t_[pos_];
    if (take("null")) return v;
    if (take("true")) {
      v.kind = Json::Kind::kBool;
      v.boolean = true;
    } else if (take("false")) {
      v.kind = Json::Kind::kBool;
    } else if (c == '"') {
      v.kind = Json::Kind::kString;
      v.text = string();
    } else if (c == '[' || c == '{') {
      ++pos_;
      v.kind = c == '[' ? Json::Kind::kArray : Json::Kind::kObject;
      char close = c == '[' ? ']' : '}';
      space();
      if (pos_ < t_.size() && t_[pos_] == close) {
        ++pos_;
        return v;
      }
      do {
        if (c == '[') {
          v.items.push_back(value());
        } else {
          std::string k = string();
          expect(':');
          v.members.emplace_back(k, value());
        }
        space();
      } while (pos_ < t_.size() && t_[pos_] == ',' && ++pos_);
      expect(close);
    } else {
      v.kind = Json::Kind::kNumber;
      auto [p, ec] = std::from_chars(t_.data() + pos_, t_.data() + t_.size(), v.number);
      if (ec != std::errc()) fail("bad value");
      pos_ = static_cast<std::size_t>(p - t_.data());
    }
    return v;
  }

  std::string_view t_;
  std::size_t pos_ = 0;
};

struct CliResult {
  int status = -1;
  std::string out, err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class FindCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "norvo-find-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = fs::canonical(pattern);
    fs::create_directory(dir_ / "scratch");
    fs::create_directory(dir_ / "io");
    fs::create_directories(dir_ / "xdg");
    fs::permissions(dir_ / "xdg", fs::perms::owner_all);
    catalog_ = (dir_ / "test.nrk").string();
  }
  void TearDown() override {
    // Every run closed its catalog: no ScratchFile and no LockFile is left.
    EXPECT_TRUE(fs::is_empty(dir_ / "scratch"));
    for (const auto& e : fs::directory_iterator(dir_)) {
      EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    }
    fs::remove_all(dir_);
  }

  CliResult Run(std::vector<std::string> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string out_path = (dir_ / "io" / "out").string(), err_path = (dir_ / "io" / "err").string();
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    args.insert(args.begin(), NORVO_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Scratch files and settings stay in the test's own folder.
    std::vector<std::string> env_text = {"TMPDIR=" + (dir_ / "scratch").string(),
                                         "XDG_CONFIG_HOME=" + (dir_ / "xdg" / "config").string(),
                                         "XDG_CONFIG_DIRS=" + (dir_ / "xdg" / "system").string(),
                                         "XDG_DATA_HOME=" + (dir_ / "xdg" / "data").string(),
                                         "XDG_RUNTIME_DIR=" + (dir_ / "xdg").string()};
    for (char** e = environ; *e != nullptr; ++e) {
      std::string_view entry(*e);
      bool replaced = false;
      for (const auto& mine : env_text) replaced |= entry.starts_with(mine.substr(0, mine.find('=') + 1));
      if (!replaced) env_text.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    CliResult r;
    pid_t pid = 0;
    int wait_status = 0;
    if (posix_spawn(&pid, NORVO_CLI_PATH, &actions, nullptr, argv.data(), envp.data()) == 0 &&
        waitpid(pid, &wait_status, 0) == pid) {
      r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.out = ReadAll(out_path);
    r.err = ReadAll(err_path);
    return r;
  }
  std::string Ok(const std::vector<std::string>& args) {
    CliResult r = Run(args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r.out;
  }
  Json JsonOf(const std::vector<std::string>& args) { return JsonParser::Parse(Ok(args)); }
  static std::vector<long long> Numbers(const Json& array) {
    std::vector<long long> out;
    for (const Json& v : array.items) out.push_back(v.number);
    return out;
  }
  std::vector<long long> Order() {
    std::vector<long long> ids;
    for (const Json& item : JsonOf({"list", catalog_, "--json"}).items) ids.push_back(item["id"].number);
    return ids;
  }
  // A catalog of pending items named as given, ids 1.. in that order.
  void MakeCatalog(const std::vector<std::string>& names) {
    Ok({"new", catalog_});
    std::vector<std::string> add = {"add", catalog_};
    for (const std::string& name : names) {
      std::ofstream(dir_ / name) << name;  // sizes differ by name length
      add.push_back((dir_ / name).string());
    }
    Ok(add);
  }

  fs::path dir_;
  std::string catalog_;
};

TEST_F(FindCliTest, QuickSearchAndCriteriaGiveIdsInCatalogOrder) {
  MakeCatalog({"beach.jpg", "mountain.jpg", "city.jpg"});
  Ok({"annotate-item", catalog_, "1", "Author=JANE Doe", "Keywords=sea; Sand"});
  Ok({"annotate-item", catalog_, "3", "0x250=jane", "Caption=Caf\xC3\xA9 at night"});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "jane", "--json"})), (std::vector<long long>{1, 3}));
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "CAF\xC3\x89", "--json"})), std::vector<long long>{3});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "mountain", "--json"})), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Keywords", "is", "sand", "--json"})),
            std::vector<long long>{1});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Author", "ends with", "e", "--where", "File Name",
                            "starts with", "city", "--json"})),
            std::vector<long long>{3});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Author", "is", "jane", "--where", "Keywords", "is not empty", "",
                            "--any", "--json"})),
            (std::vector<long long>{1, 3}));
  EXPECT_TRUE(JsonOf({"find", catalog_, "--where", "Author", "is empty", "x", "--where", "0x219", "is empty", "",
                      "--where", "Labels", "equals", "0", "--json"})
                  .items.size() == 1);

  CliResult bad = Run({"find", catalog_, "--where", "Author", "is less than", "3", "--json"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("\"contains\""), std::string::npos);
  EXPECT_EQ(Run({"find", catalog_, "--where", "File Size", "equals", "many", "--json"}).status, 1);
  EXPECT_EQ(Run({"find", catalog_, "--where", "Nonsense", "is", "x", "--json"}).status, 1);
  EXPECT_EQ(Run({"find", catalog_, "x"}).status, 1);  // --json is required
}

TEST_F(FindCliTest, SortSavesOnlyWhenTheOrderChangesAndHiddenItemsStayLast) {
  MakeCatalog({"img10.jpg", "img2.jpg", "IMG1.jpg", "b.jpg"});
  Ok({"sort", catalog_, "File Name"});
  EXPECT_EQ(Order(), (std::vector<long long>{4, 3, 1, 2}));  // plain order: IMG10 before IMG2
  Ok({"sort", catalog_, "0x2", "--natural"});
  EXPECT_EQ(Order(), (std::vector<long long>{4, 3, 2, 1}));

  // Sorting again changes nothing, and the file is not written.
  auto stamp = fs::last_write_time(catalog_);
  std::string before = ReadAll(catalog_);
  Ok({"sort", catalog_, "File Name", "--natural"});
  EXPECT_EQ(ReadAll(catalog_), before);
  EXPECT_EQ(fs::last_write_time(catalog_), stamp);

  Ok({"hide", catalog_, "3", "4"});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (std::vector<long long>{2, 1, 4, 3}));  // hidden ones behind, in their own order
  Ok({"show", catalog_, "4"});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (std::vector<long long>{2, 1, 4, 3}));
  Ok({"show", catalog_});
  Ok({"sort", catalog_, "File Name", "--descending"});
  EXPECT_EQ(Order(), (std::vector<long long>{2, 1, 3, 4}));  // "IMG1." before "IMG10"
  EXPECT_EQ(Run({"hide", catalog_, "9"}).status, 1);
  EXPECT_EQ(Run({"sort", catalog_, "No Such Field"}).status, 1);
}

TEST_F(FindCliTest, GroupsFollowAnnotationEditsAndSetCommands) {
  MakeCatalog({"a.jpg", "b.jpg", "c.jpg"});
  Ok({"annotate-item", catalog_, "1", "Keywords=snow, Alps"});
  Json groups = JsonOf({"groups", catalog_, "Keywords", "--json"});
  ASSERT_EQ(groups.items.size(), 2u);
  EXPECT_EQ(groups.items[0].keys(), (std::vector<std::string>{"name", "items", "level", "container"}));
  EXPECT_EQ(groups.items[0]["name"].text, "Alps");

  // From now on the catalog keeps the index: edits move items between groups.
  Ok({"annotate-item", catalog_, "2", "Keywords=SNOW"});
  Ok({"annotate-item", catalog_, "1", "Keywords=ice"});
  groups = JsonOf({"groups", catalog_, "0x219", "--json"});
  ASSERT_EQ(groups.items.size(), 2u);
  EXPECT_EQ(groups.items[0]["name"].text, "ice");
  EXPECT_EQ(Numbers(groups.items[0]["items"]), std::vector<long long>{1});
  EXPECT_EQ(groups.items[1]["name"].text, "snow");
  EXPECT_EQ(Numbers(groups.items[1]["items"]), std::vector<long long>{2});

  Ok({"set", catalog_, "new", "Trips", "--container"});
  Ok({"set", catalog_, "new", "Alps 2024", "--parent", "Trips"});
  Ok({"set", catalog_, "new", "Loose"});
  Ok({"set", catalog_, "add", "Trips", "1", "3"});
  Ok({"set", catalog_, "add", "Loose", "2"});
  Ok({"set", catalog_, "remove", "alps 2024", "3"});
  Json sets = JsonOf({"groups", catalog_, "Catalog Sets", "--json"});
  ASSERT_EQ(sets.items.size(), 3u);
  EXPECT_TRUE(sets.items[0]["container"].boolean);
  EXPECT_EQ(sets.items[1]["name"].text, "Alps 2024");
  EXPECT_EQ(sets.items[1]["level"].number, 1);
  EXPECT_EQ(Numbers(sets.items[0]["items"]), (std::vector<long long>{1, 3}));
  EXPECT_EQ(Numbers(sets.items[1]["items"]), std::vector<long long>{1});
  // Set names are part of what the quick search sees.
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "loose", "--json"})), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "--where", "Catalog Sets", "is", "alps 2024", "--json"})),
            std::vector<long long>{1});

  EXPECT_EQ(Run({"set", catalog_, "new", "trips"}).status, 1);
  EXPECT_EQ(Run({"set", catalog_, "new", "x", "--parent", "Loose"}).status, 1);
  EXPECT_EQ(Run({"set", catalog_, "add", "Nowhere", "1"}).status, 1);
  Ok({"set", catalog_, "delete", "Trips"});
  sets = JsonOf({"groups", catalog_, "Catalog Sets", "--json"});
  ASSERT_EQ(sets.items.size(), 1u);
  EXPECT_EQ(sets.items[0]["name"].text, "Loose");

  // Removing an item takes it out of the groups too.
  Ok({"remove", catalog_, "2"});
  groups = JsonOf({"groups", catalog_, "Keywords", "--json"});
  ASSERT_EQ(groups.items.size(), 1u);
  EXPECT_EQ(groups.items[0]["name"].text, "ice");
  sets = JsonOf({"groups", catalog_, "Catalog Sets", "--json"});
  EXPECT_TRUE(sets.items[0]["items"].items.empty());  // the set stays, empty
}

TEST_F(FindCliTest, LabelsGroupAndTheGroupsOfAnUnknownFieldAreRefused) {
  MakeCatalog({"a.jpg", "b.jpg"});
  Ok({"groups", catalog_, "Labels", "--json"});
  Ok({"annotate-item", catalog_, "2", "Labels=3"});
  Json labels = JsonOf({"groups", catalog_, "Labels", "--json"});
  ASSERT_EQ(labels.items.size(), 1u);
  EXPECT_EQ(labels.items[0]["name"].text, "3");
  EXPECT_EQ(Numbers(labels.items[0]["items"]), std::vector<long long>{2});
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, "blue", "--json"})), std::vector<long long>{2});
  EXPECT_EQ(Run({"groups", catalog_, "Caption", "--json"}).status, 1);
  EXPECT_EQ(Run({"annotate-item", catalog_, "1", "File Size=3"}).status, 1);
}

TEST_F(FindCliTest, SavedQueriesLiveInTheSettingsStore) {
  norvo::app::StorePaths paths;
  paths.user = (dir_ / "xdg" / "settings.db").string();
  {
    norvo::app::SettingsStore store = norvo::app::SettingsStore::Open(paths);
    norvo::metadata::SavedQuery q;
    q.criteria = {{0x250, norvo::metadata::text_ops::kContains, "Lee"}};
    q.scope = norvo::metadata::SearchScope::kFolder;
    ASSERT_EQ(norvo::metadata::SaveQuery(store, "Lee's photos", q), norvo::err::kNone);
    ASSERT_EQ(norvo::metadata::SaveQuery(store, "Other", q), norvo::err::kNone);
  }
  norvo::app::SettingsStore store = norvo::app::SettingsStore::Open(paths);
  EXPECT_EQ(norvo::metadata::QueryNames(store), (std::vector<std::string>{"Lee's photos", "Other"}));
  auto back = norvo::metadata::LoadQuery(store, "lee's PHOTOS");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->scope, norvo::metadata::SearchScope::kFolder);
  ASSERT_EQ(back->criteria.size(), 1u);
  EXPECT_EQ(back->criteria[0].value, "Lee");
  EXPECT_EQ(norvo::metadata::RemoveQuery(store, "Other"), norvo::err::kNone);
  EXPECT_EQ(norvo::metadata::QueryNames(store), std::vector<std::string>{"Lee's photos"});
  EXPECT_NE(norvo::metadata::RemoveQuery(store, "Other"), norvo::err::kNone);
}

}  // namespace
