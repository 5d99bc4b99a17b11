// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests that run the built norvo-cli share: a minimal JSON reader
// for its output, and a fixture that runs it in a temporary folder with its
// own scratch, settings and runtime folders, so nothing touches the real home.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace norvo::cli_testing {

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

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class CliHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "norvo-cli-XXXXXX").string();
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
    // Scratch files and every settings or runtime folder stay in the test's
    // own folder: nothing touches the real home.
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
  // Runs a command that must succeed; returns its standard output.
  std::string Ok(const std::vector<std::string>& args) {
    CliResult r = Run(args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r.out;
  }

  fs::path dir_;
  std::string catalog_;
};

}  // namespace norvo::cli_testing
