// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/text_encoding.h"

namespace norvo::app {
namespace {

constexpr mode_t kOwnerOnly = 0600;

sem_t* AsSem(void* p) { return static_cast<sem_t*>(p); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool EndsWithCatalogExtension(std::string_view arg) {
  if (arg.size() < kCatalogExtension.size()) return false;
  return CompareText(arg.substr(arg.size() - kCatalogExtension.size()), kCatalogExtension, false) == 0;
}

}  // namespace

// Holds the semaphore for the length of one copy. A holder that died keeps
// the semaphore at 0 for good; after kCmdLineGuardWaitMs the guard is taken
// as abandoned and the copy goes ahead, and the release then leaves the
// semaphore at 1 again without ever raising it above 1.
class CmdLineMap::Guard {
 public:
  explicit Guard(void* sem) : sem_(AsSem(sem)) {
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += kCmdLineGuardWaitMs / 1000;
    deadline.tv_nsec += static_cast<long>(kCmdLineGuardWaitMs % 1000) * 1'000'000L;
    if (deadline.tv_nsec >= 1'000'000'000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1'000'000'000L;
    }
    int r = 0;
    do {
      r = ::sem_clockwait(sem_, CLOCK_MONOTONIC, &deadline);
    } while (r != 0 && errno == EINTR);
    abandoned_ = r != 0;
  }
  ~Guard() {
    int value = 0;
    if (abandoned_ && ::sem_getvalue(sem_, &value) == 0 && value > 0) return;
    ::sem_post(sem_);
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  sem_t* sem_;
  bool abandoned_ = false;
};

std::string PosixObjectName(std::string_view name) {
  std::string out = "/";
  for (char c : name) out.push_back(c == '/' ? '_' : c);
  out += '-';
  out += std::to_string(::getuid());
  return out;
}

ErrorCode CmdLineMap::create(std::string_view channel_name) {
  destroy();
  const std::string block_name = PosixObjectName(std::string(channel_name) + std::string(kCmdLineBlockSuffix));
  const std::string guard_name = PosixObjectName(std::string(channel_name) + std::string(kCmdLineGuardSuffix));
  // sem_open keeps its objects as "sem.NAME" in the same folder as shm_open.
  if (guard_name.size() + 4 > NAME_MAX || block_name.size() > NAME_MAX) return err::kBadName;

  sem_t* sem = ::sem_open(guard_name.c_str(), O_CREAT, kOwnerOnly, 1U);
  if (sem == SEM_FAILED) return ErrorFromErrno(errno);

  const int fd = ::shm_open(block_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kOwnerOnly);
  if (fd < 0) {
    const int e = errno;
    ::sem_close(sem);
    return ErrorFromErrno(e);
  }
  struct stat st {};
  ErrorCode result = err::kNone;
  if (::fstat(fd, &st) != 0) {
    result = ErrorFromErrno(errno);
  } else if (st.st_uid != ::geteuid()) {
    // Another user made an object of our name: sharing it would let them
    // feed command lines to this user's program.
    result = err::kPermission;
  } else if (static_cast<std::size_t>(st.st_size) < kCmdLineBlockSize) {
    Guard guard(sem);
    if (::ftruncate(fd, static_cast<off_t>(kCmdLineBlockSize)) != 0) result = ErrorFromErrno(errno);
  }
  void* block = MAP_FAILED;
  if (result == err::kNone) {
    block = ::mmap(nullptr, kCmdLineBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (block == MAP_FAILED) result = ErrorFromErrno(errno);
  }
  ::close(fd);  // the mapping keeps the block alive
  if (result != err::kNone) {
    ::sem_close(sem);
    return result;
  }
  block_ = block;
  guard_ = sem;
  Guard guard(guard_);
  std::memset(block_, 0, kCmdLineBlockSize);
  return err::kNone;
}

ErrorCode CmdLineMap::put(std::string_view utf8) {
  if (block_ == nullptr) return err::kBadFileNumber;
  if (utf8.find('\0') != std::string_view::npos) return err::kParam;
  const std::u16string wide = Utf8ToUtf16(utf8);
  if (wide.size() >= kMaxCmdLineUnits) return err::kParam;
  Guard guard(guard_);
  auto* bytes = static_cast<unsigned char*>(block_);
  std::memcpy(bytes, wide.data(), wide.size() * sizeof(char16_t));
  const char16_t terminator = 0;
  std::memcpy(bytes + wide.size() * sizeof(char16_t), &terminator, sizeof terminator);
  return err::kNone;
}

std::string CmdLineMap::get() const {
  if (block_ == nullptr) return {};
  std::u16string wide;
  {
    Guard guard(guard_);
    const auto* bytes = static_cast<const unsigned char*>(block_);
    // Another process writes this block: stop at the end of it even when it
    // holds no NUL.
    for (std::size_t i = 0; i < kMaxCmdLineUnits; ++i) {
      char16_t unit = 0;
      std::memcpy(&unit, bytes + i * sizeof(char16_t), sizeof unit);
      if (unit == 0) break;
      wide.push_back(unit);
    }
  }
  return Utf16ToUtf8(wide);
}

void CmdLineMap::destroy() {
  if (block_ != nullptr) ::munmap(block_, kCmdLineBlockSize);
  if (guard_ != nullptr) ::sem_close(AsSem(guard_));
  block_ = nullptr;
  guard_ = nullptr;
}

void CmdLineMap::removeNamedObjects(std::string_view channel_name) {
  ::shm_unlink(PosixObjectName(std::string(channel_name) + std::string(kCmdLineBlockSuffix)).c_str());
  ::sem_unlink(PosixObjectName(std::string(channel_name) + std::string(kCmdLineGuardSuffix)).c_str());
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::string current;
  bool in_argument = false;  // a quote pair starts an argument even when empty
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_argument = true;
    } else if (IsBlank(c) && !quoted) {
      if (in_argument) args.push_back(std::move(current));
      current.clear();
      in_argument = false;
    } else {
      current.push_back(c);
      in_argument = true;
    }
  }
  if (in_argument) args.push_back(std::move(current));
  return args;
}

std::optional<std::string> JoinCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (arg.find('"') != std::string::npos) return std::nullopt;
    if (!line.empty()) line.push_back(' ');
    const bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
    if (quote) line.push_back('"');
    line += arg;
    if (quote) line.push_back('"');
  }
  return line;
}

CommandLineRequest ClassifyCommandLine(const std::vector<std::string>& args) {
  CommandLineRequest request;
  if (args.size() < 2) return request;
  const std::string& first = args[1];
  std::error_code ec;
  if (EndsWithCatalogExtension(first) && std::filesystem::exists(first, ec)) {
    request.kind = CommandLineRequest::Kind::kOpenCatalog;
    request.paths.push_back(first);
    return request;
  }
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!args[i].empty()) request.paths.push_back(args[i]);
  }
  if (!request.paths.empty()) request.kind = CommandLineRequest::Kind::kAddFiles;
  return request;
}

}  // namespace norvo::app
