// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests that run the built norvo-cli share: a fixture that runs it
// in a temporary folder with its own scratch, settings and runtime folders,
// so nothing touches the real home, and exiftool's reading of files to
// compare with.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/test_shell.h"

extern char** environ;

namespace norvo::cli_testing {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using norvo::testing::CaptureCommand;

const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";

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

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A command line followed by more words.
inline std::vector<std::string> Plus(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// Whether every program named is on the PATH.
inline bool Have(std::initializer_list<const char*> programs) {
  for (const char* p : programs) {
    if (std::system((std::string("command -v ") + p + " >/dev/null 2>&1").c_str()) != 0) return false;
  }
  return true;
}

// The keys of a JSON object, in output order.
inline std::vector<std::string> Keys(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

// A JSON array of numbers (ItemIds) as a vector.
inline std::vector<long long> Numbers(const Json& array) { return array.get<std::vector<long long>>(); }

// An exiftool value as a list: a lone value is a string, several an array.
inline std::vector<std::string> Values(const Json& tags, const std::string& key) {
  if (!tags.contains(key)) return {};
  const Json& v = tags[key];
  if (v.is_array()) return v.get<std::vector<std::string>>();
  return {v.is_string() ? v.get<std::string>() : v.dump()};
}

// exiftool's JSON for the files with `options` (tags, -n, -G1, charsets), or
// an empty array when exiftool is not installed.
inline Json Exiftool(const std::string& options, const std::vector<std::string>& files) {
  std::string command = "exiftool -j " + options;
  for (const auto& f : files) command += " '" + f + "'";
  const std::string text = CaptureCommand(command);
  return text.empty() ? Json::array() : Json::parse(text);
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
  // Runs a command that must succeed with --json added; returns the JSON.
  Json JsonOf(std::vector<std::string> args) {
    args.push_back("--json");
    return Json::parse(Ok(args));
  }
  // Runs a command that must exit with `status` and name `problem` on its
  // standard error; returns what it printed.
  CliResult Fails(const std::vector<std::string>& args, int status, const std::string& problem = "") {
    CliResult r = Run(args);
    std::string command;
    for (const std::string& a : args) command += a + " ";
    EXPECT_EQ(r.status, status) << command << "\n" << r.err;
    EXPECT_NE(r.err.find(problem), std::string::npos) << r.err;
    return r;
  }
  Json List(const std::string& catalog) { return JsonOf({"list", catalog}); }
  // A new catalog with `files` added as pending items 1.. in that order.
  void NewCatalog(const std::vector<std::string>& files = {}) {
    Ok({"new", catalog_});
    if (!files.empty()) Ok(Plus({"add", catalog_}, files));
  }
#ifdef NORVO_GOLDEN_DIR
  // A golden file, with @DIR@ standing for the test's folder.
  std::string Golden(const std::string& name) {
    std::string want = ReadAll(fs::path(NORVO_GOLDEN_DIR) / name);
    EXPECT_FALSE(want.empty()) << name;
    for (std::size_t at = 0; (at = want.find("@DIR@", at)) != std::string::npos;) want.replace(at, 5, dir_.string());
    return want;
  }
#endif
  // Copies a test photo into the temporary folder under `name`, writable.
  std::string Photo(const std::string& source, const std::string& name) {
    fs::path to = dir_ / name;
    fs::copy_file(kPhotos / source, to);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    return to.string();
  }

  fs::path dir_;
  std::string catalog_;
};

}  // namespace norvo::cli_testing
