// SPDX-License-Identifier: GPL-3.0-or-later
// What every benchmark shares: wall-clock timing, medians, and running a peer
// program with its output thrown away, as a shell runs `cmd > /dev/null`.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <set>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/file_spec.h"

extern char** environ;

namespace norvo::bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs a command with standard output (and, when asked, standard error) going
// to /dev/null and returns its wall time in milliseconds. A command that
// cannot start, or exits with a failure when `must_succeed` is set, throws.
inline double TimeCommand(const std::vector<std::string>& args, bool must_succeed = true, bool quiet = false) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int status = 0;
  const auto start = Clock::now();
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  if (rc == 0) ::waitpid(pid, &status, 0);
  const double ms = MsSince(start);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error(args[0] + " could not be started");
  if (must_succeed && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) throw std::runtime_error(args[0] + " failed");
  return ms;
}

// Runs a shell command with its output thrown away; its time in ms.
inline double TimeShell(const std::string& command) {
  const auto start = Clock::now();
  if (std::system((command + " > /dev/null 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + command);
  return MsSince(start);
}

// The files as single-quoted shell words, each after a blank.
inline std::string ShellWords(const std::vector<std::string>& files) {
  std::string text;
  for (const std::string& f : files) text += " '" + f + "'";
  return text;
}

// A failed engine step ends the benchmark with what failed.
inline void Check(ErrorCode e, const std::string& what) {
  if (e != err::kNone) throw std::runtime_error(what + " failed with error " + std::to_string(e));
}

// The FileSpec of a path that exists or is about to.
inline FileSpec Spec(const std::string& path) {
  FileSpec spec;
  if (!FileSpecFilled(MakeFileSpec(path, spec))) throw std::runtime_error("no file spec for " + path);
  return spec;
}

// Whether a program can be found on PATH.
inline bool HaveProgram(const std::string& name) {
  std::string command = "command -v '" + name + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A benchmark's command line: `--name VALUE` for the names in `valued`,
// `--name` for those in `flags`; anything else is a usage error (thrown).
class BenchArgs {
 public:
  BenchArgs(int argc, char** argv, std::set<std::string> valued, std::set<std::string> flags, std::string usage) {
    for (int i = 1; i < argc; ++i) {
      std::string a = argv[i];
      if (valued.contains(a) && i + 1 < argc) {
        values_[a] = argv[++i];
      } else if (flags.contains(a)) {
        flags_.insert(a);
      } else {
        throw std::runtime_error("usage: " + usage);
      }
    }
  }
  // The number given for `name`, at least `min`; `fallback` when absent.
  int number(const std::string& name, int fallback, int min) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : std::max(min, std::atoi(it->second.c_str()));
  }
  std::string text(const std::string& name) const {
    auto it = values_.find(name);
    return it == values_.end() ? std::string() : it->second;
  }
  bool flag(const std::string& name) const { return flags_.contains(name); }

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
};

// The options most benchmarks take: --runs N, how many files to make (under
// `count_option`: --photos, --movies ...), --dir DIR for the parent of the
// work folder, and --keep to leave the work folder behind.
struct RunOptions {
  int runs = 3;
  int count = 0;
  std::string base_dir;
  bool keep = false;
};
inline RunOptions ReadRunOptions(const BenchArgs& args, const std::string& count_option, int runs, int count,
                                 int min_count) {
  RunOptions o;
  o.runs = args.number("--runs", runs, 1);
  o.count = args.number(count_option, count, min_count);
  o.base_dir = args.text("--dir");
  o.keep = args.flag("--keep");
  return o;
}

// Stops the benchmark when one of `programs` (its peers) is not installed.
inline void RequirePrograms(std::initializer_list<const char*> programs) {
  for (const char* program : programs) {
    if (!HaveProgram(program)) throw std::runtime_error(std::string(program) + " is missing: run scripts/setup.sh");
  }
}

// A benchmark's own work folder, NAME-PID under `base` (the temporary
// folder when empty).
inline std::filesystem::path WorkFolder(const std::string& base, const std::string& name) {
  const std::filesystem::path parent = base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  return parent / (name + "-" + std::to_string(::getpid()));
}

}  // namespace norvo::bench
