// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/disc_image.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "platform/file_ops.h"
#include "platform/file_spec.h"

extern char** environ;

namespace norvo::output {
namespace {

constexpr std::string_view kXorriso = "xorriso";
constexpr std::string_view kDefaultLabel = "NORVO_BACKUP";
// The last message lines kept for the failure report.
constexpr std::size_t kMaxMessageBytes = 4096;
// How long one wait for output lasts before the cancel is asked again.
constexpr int kPollMs = 250;
// Output of `xorriso -devices` read at most.
constexpr std::size_t kMaxListingBytes = 1u << 20;

// "  45.67% done" in an UPDATE line; the whole percent.
std::optional<int> PercentIn(std::string_view line) {
  const std::size_t done = line.find("% done");
  if (done == std::string_view::npos) return std::nullopt;
  std::size_t start = done;
  while (start > 0 && (std::isdigit(static_cast<unsigned char>(line[start - 1])) || line[start - 1] == '.')) --start;
  if (start == done) return std::nullopt;
  const int whole = std::atoi(std::string(line.substr(start, done - start)).c_str());
  return std::clamp(whole, 0, 100);
}

struct RunResult {
  ErrorCode code = err::kNone;
  std::string out;       // standard output, when kept
  std::string messages;  // the end of standard error
};

// Runs xorriso with `args`, standard error read line by line for progress.
// Standard output is kept when `keep_output`, else thrown away.
RunResult RunXorriso(const std::vector<std::string>& args, const DiscProgress& progress, bool keep_output) {
  RunResult result;
  int err_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) return {ErrorFromErrno(errno), {}, {}};
  if (keep_output && ::pipe2(out_pipe, O_CLOEXEC) != 0) {
    ::close(err_pipe[0]);
    ::close(err_pipe[1]);
    return {ErrorFromErrno(errno), {}, {}};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (keep_output) {
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  std::vector<std::string> full{std::string(kXorriso)};
  full.insert(full.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : full) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(err_pipe[1]);
  if (keep_output) ::close(out_pipe[1]);
  if (spawned != 0) {
    ::close(err_pipe[0]);
    if (keep_output) ::close(out_pipe[0]);
    return {err::kNotAFile, {}, "xorriso could not be started"};
  }

  std::string pending;
  bool cancelled = false;
  int open_streams = keep_output ? 2 : 1;
  char buffer[4096];
  while (open_streams > 0) {
    pollfd fds[2] = {{err_pipe[0], POLLIN, 0}, {keep_output ? out_pipe[0] : -1, POLLIN, 0}};
    const int ready = ::poll(fds, keep_output ? 2 : 1, kPollMs);
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < (keep_output ? 2 : 1); ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        ::close(fds[i].fd);
        (i == 0 ? err_pipe[0] : out_pipe[0]) = -1;
        --open_streams;
        continue;
      }
      if (i == 1) {
        if (result.out.size() < kMaxListingBytes) result.out.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        if (auto percent = PercentIn(line); percent && progress && !cancelled && progress(*percent) != 0) {
          cancelled = true;
          ::kill(pid, SIGTERM);  // our own child
        }
        result.messages += line + "\n";
        if (result.messages.size() > kMaxMessageBytes) result.messages.erase(0, result.messages.size() - kMaxMessageBytes);
      }
    }
    if (!cancelled && progress && ready == 0 && progress(-1) != 0) {
      cancelled = true;
      ::kill(pid, SIGTERM);  // our own child
    }
  }
  if (err_pipe[0] >= 0) ::close(err_pipe[0]);
  if (out_pipe[0] >= 0) ::close(out_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (cancelled) {
    result.code = err::kUserCancelled;
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.code = err::kIo;
  }
  return result;
}

// The options both kinds of writing share: names for both worlds and a
// failure only for real failures (a name shortened for Joliet is not one).
std::vector<std::string> CommonOptions(std::string_view volume_label) {
  return {"-report_about", "UPDATE", "-abort_on", "FAILURE", "-return_with", "FAILURE", "32",
          "-rockridge", "on", "-joliet", "on", "-compliance", "joliet_long_names",
          "-volid", DiscVolumeLabel(volume_label)};
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string DiscVolumeLabel(std::string_view name) {
  std::string label;
  for (char c : name) {
    if (label.size() == kMaxJolietVolumeLabel) break;
    if (c >= 'a' && c <= 'z') {
      label += static_cast<char>(c - 'a' + 'A');
    } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      label += c;
    } else if ((static_cast<unsigned char>(c) & 0xC0) == 0x80) {
      continue;  // the rest of a UTF-8 character already given its "_"
    } else {
      label += '_';
    }
  }
  const bool empty = label.find_first_not_of('_') == std::string::npos;
  return empty ? std::string(kDefaultLabel) : label;
}

std::vector<DiscDrive> ParseDeviceList(std::string_view text) {
  // 0  -dev '/dev/sr0' rwrw-- :  'HL-DT-ST' 'DVDRAM GH24NSD1'
  std::vector<DiscDrive> drives;
  auto quoted = [](std::string_view line, std::size_t from, std::size_t* end) -> std::optional<std::string> {
    const std::size_t open = line.find('\'', from);
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t close = line.find('\'', open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    *end = close + 1;
    return std::string(line.substr(open + 1, close - open - 1));
  };
  for (std::size_t start = 0; start < text.size();) {
    std::size_t eol = text.find('\n', start);
    if (eol == std::string_view::npos) eol = text.size();
    const std::string_view line = text.substr(start, eol - start);
    start = eol + 1;
    const std::size_t dev = line.find("-dev '");
    if (dev == std::string_view::npos) continue;
    std::size_t at = dev;
    auto device = quoted(line, dev, &at);
    if (!device || device->empty()) continue;
    DiscDrive d;
    d.device = *device;
    const std::size_t colon = line.find(':', at);
    if (colon != std::string_view::npos) {
      if (auto vendor = quoted(line, colon, &at)) {
        d.vendor = *vendor;
        if (auto model = quoted(line, at, &at)) d.model = *model;
      }
    }
    drives.push_back(std::move(d));
  }
  return drives;
}

bool HaveXorriso() {
  std::vector<std::string> args = {"-version"};
  return RunXorriso(args, {}, true).code == err::kNone;
}

std::vector<DiscDrive> ListDiscDrives() {
  RunResult r = RunXorriso({"-report_about", "SORRY", "-devices"}, {}, true);
  return ParseDeviceList(r.out);  // "No drives found" fails the run and lists nothing
}

ErrorCode WriteDiscImage(const std::string& staging, const std::string& image, std::string_view volume_label,
                         const DiscProgress& progress, std::string* message) {
  if (!IsFolder(staging)) return err::kFolderNotFound;
  struct stat st {};
  if (::lstat(image.c_str(), &st) == 0) return err::kDuplicateName;
  std::string temporary;
  if (ErrorCode e = MakeTemporaryName(ParentFolder(image), "." + LeafName(image).substr(0, 64) + ".norvo-",
                                      TemporaryFile::kDeleted, &temporary);
      e != err::kNone) {
    return e;
  }
  std::vector<std::string> args = CommonOptions(volume_label);
  const std::vector<std::string> tail = {"-outdev", "stdio:" + temporary, "-map", staging, "/", "-commit"};
  args.insert(args.end(), tail.begin(), tail.end());
  RunResult r = RunXorriso(args, progress, false);
  if (message) *message = r.messages;
  if (r.code == err::kNone) r.code = RenameNoReplace(temporary, image);
  if (r.code != err::kNone) (void)::unlink(temporary.c_str());  // no half image stays
  return r.code;
}

ErrorCode BurnDisc(const std::string& staging, const std::string& drive, std::string_view volume_label,
                   const DiscProgress& progress, std::string* message) {
  if (!IsFolder(staging)) return err::kFolderNotFound;
  if (drive.empty()) return err::kNoSuchVolume;
  std::vector<std::string> args = CommonOptions(volume_label);
  const std::vector<std::string> tail = {"-outdev", drive, "-blank", "as_needed", "-map", staging, "/",
                                         "-commit", "-eject", "all"};
  args.insert(args.end(), tail.begin(), tail.end());
  RunResult r = RunXorriso(args, progress, false);
  if (message) *message = r.messages;
  return r.code;
}

}  // namespace norvo::output
