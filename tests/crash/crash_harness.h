// SPDX-License-Identifier: GPL-3.0-or-later
// What the crash and concurrency tests share: running the built norvo-cli
// with its own scratch, settings and runtime folders and a time limit, with
// or without the fault library preloaded, and the folders and photos the
// runs work on.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

#if defined(__SANITIZE_ADDRESS__)
#define NORVO_TESTS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NORVO_TESTS_UNDER_ASAN 1
#endif
#endif
#ifndef NORVO_TESTS_UNDER_ASAN
#define NORVO_TESTS_UNDER_ASAN 0
#endif

namespace norvo::crash_testing {

namespace fs = std::filesystem;

const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";

inline std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "norvo-crash-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = fs::canonical(pattern);
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Copies a test photo to `to`, writable, so that tests may change it.
inline void CopyPhoto(const std::string& source, const fs::path& to) {
  fs::copy_file(kPhotos / source, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
}

struct CliRun {
  int status = -1;  // exit status, or 128 + signal
  bool timed_out = false;
  std::string out, err;

  bool killed() const { return status == 128 + SIGKILL && !timed_out; }
  std::string describe() const {
    std::string text = timed_out ? "timed out" : "exit status " + std::to_string(status);
    if (!err.empty()) text += ", stderr: " + err;
    return text;
  }
};

// Where a norvo-cli run keeps its scratch files, settings and runtime files:
// emptied before each run, so every run starts from the same state and
// nothing touches the real home.
inline void ResetHome(const fs::path& home) {
  std::error_code ec;
  fs::remove_all(home, ec);
  fs::create_directories(home / "scratch");
  fs::create_directories(home / "xdg");
  fs::permissions(home / "xdg", fs::perms::owner_all);
}

inline std::vector<std::string> CliEnvironment(const fs::path& home, const std::vector<std::string>& extra) {
  std::vector<std::string> env = {"TMPDIR=" + (home / "scratch").string(),
                                  "XDG_CONFIG_HOME=" + (home / "xdg" / "config").string(),
                                  "XDG_CONFIG_DIRS=" + (home / "xdg" / "system").string(),
                                  "XDG_DATA_HOME=" + (home / "xdg" / "data").string(),
                                  "XDG_RUNTIME_DIR=" + (home / "xdg").string()};
#if NORVO_TESTS_UNDER_ASAN
  // The fault library is preloaded ahead of the sanitizer's runtime, which
  // would otherwise refuse to start; the library intercepts only calls that
  // reach the runtime's own interceptors afterwards, so nothing is missed.
  std::string asan = "ASAN_OPTIONS=";
  if (const char* given = std::getenv("ASAN_OPTIONS"); given != nullptr && given[0] != '\0') {
    asan += std::string(given) + ":";
  }
  env.push_back(asan + "verify_asan_link_order=0");
#endif
  env.insert(env.end(), extra.begin(), extra.end());
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    if (entry.starts_with("LD_PRELOAD=") || entry.starts_with("NORVO_FAULT_")) continue;
    bool replaced = false;
    for (const std::string& mine : env) replaced = replaced || entry.starts_with(mine.substr(0, mine.find('=') + 1));
    if (!replaced) env.emplace_back(*e);
  }
  return env;
}

// The norvo-cli under test: the one built with the tests, or another build
// named by NORVO_TEST_CLI (to see how an older engine fares, say).
inline std::string CliPath() {
  const char* other = std::getenv("NORVO_TEST_CLI");
  return other != nullptr && other[0] != '\0' ? other : NORVO_CLI_PATH;
}

// Runs norvo-cli with `args` and the environment `env`; standard output and
// error are pipes, so the fault library never counts them. A run that
// outlives `limit` is killed and reported as timed out.
inline CliRun RunCli(std::vector<std::string> args, std::vector<std::string> env,
                     std::chrono::seconds limit = std::chrono::seconds(120)) {
  CliRun run;
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return run;
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  const std::string cli = CliPath();
  args.insert(args.begin(), cli);
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    run.err = "could not start " + cli;
    return run;
  }
  auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open_pipes = 2;
  while (open_pipes > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !run.timed_out) {
      ::kill(pid, SIGKILL);
      run.timed_out = true;
      deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);  // to drain what is left
      continue;
    }
    if (left.count() <= 0) break;  // something else holds the pipes open
    int ready = ::poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  // A process may close its output and still not end: the limit holds there too.
  int wait_status = 0;
  pid_t waited = 0;
  while ((waited = ::waitpid(pid, &wait_status, WNOHANG)) == 0) {
    if (std::chrono::steady_clock::now() >= deadline && !run.timed_out) {
      ::kill(pid, SIGKILL);
      run.timed_out = true;
    }
    ::usleep(2000);
  }
  if (waited == pid) {
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  }
  return run;
}

}  // namespace norvo::crash_testing
