// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/owned_temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_spec.h"

namespace norvo {
namespace {

constexpr std::string_view kTemporaryInfix = ".norvo-";
constexpr std::size_t kMkstempSuffix = 6;
// Names tried for a temporary file before giving up.
constexpr int kTemporaryNameAttempts = 100;
// A claim holds a path, nothing larger.
constexpr std::size_t kMaxClaimBytes = 8192;

bool MakeFolders(const std::string& folder) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    partial = folder.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The claim's pid from its name "PID-N".
long ClaimOwner(const std::string& name) {
  char* end = nullptr;
  long pid = std::strtol(name.c_str(), &end, 10);
  return end != nullptr && *end == '-' ? pid : 0;
}

bool ReadClaim(const std::string& path, std::string* temporary) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text(kMaxClaimBytes, '\0');
  ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  if (n <= 0) return false;
  text.resize(static_cast<std::size_t>(n));
  *temporary = text;
  return true;
}

}  // namespace

std::string TemporaryClaimFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data != nullptr && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.local/share";
  }
  return base + "/Norvo/Temporaries";
}

std::string TemporaryNameBeside(const std::string& path) {
  return JoinPath(ParentFolder(path), "." + LeafName(path) + std::string(kTemporaryInfix) + "XXXXXX");
}

int CreateClaimedTemporary(const std::string& target, unsigned mode, TemporaryClaim& claim, std::string* path,
                           ErrorCode* error) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
  const std::string pattern = TemporaryNameBeside(target);
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::string name = pattern;
    for (std::size_t i = name.size() - kMkstempSuffix; i < name.size(); ++i) name[i] = kLetters[pick(random)];
    claim.claim(name);
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd >= 0) {
      *path = name;
      return fd;
    }
    if (errno != EEXIST) {
      *error = ErrorFromErrno(errno);
      claim.release();
      return -1;
    }
  }
  *error = err::kDuplicateName;
  claim.release();
  return -1;
}

bool IsTemporaryName(const std::string& leaf) {
  if (leaf.size() < 1 + kTemporaryInfix.size() + kMkstempSuffix || leaf[0] != '.') return false;
  std::size_t at = leaf.size() - kMkstempSuffix - kTemporaryInfix.size();
  return leaf.compare(at, kTemporaryInfix.size(), kTemporaryInfix) == 0;
}

void TemporaryClaim::claim(const std::string& temporary_path) {
  release();
  static std::atomic<unsigned> counter{0};
  const std::string folder = TemporaryClaimFolder();
  if (!MakeFolders(folder)) return;
  claim_path_ = folder + "/" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  int fd = ::open(claim_path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    claim_path_.clear();
    return;
  }
  // Locked before the path is written: a sweep never takes a live claim
  // for an abandoned one.
  TryLockBytes(fd, LockKind::kExclusive, 0, 0);
  std::string_view text = temporary_path;
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ::close(fd);
    ::unlink(claim_path_.c_str());
    claim_path_.clear();
    return;
  }
  fd_ = fd;
}

void TemporaryClaim::release() {
  if (fd_ < 0) return;
  ::unlink(claim_path_.c_str());
  ::close(fd_);
  fd_ = -1;
  claim_path_.clear();
}

int SweepAbandonedTemporaries() {
  const std::string folder = TemporaryClaimFolder();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  int removed = 0;
  for (const std::string& name : names) {
    const std::string claim = folder + "/" + name;
    if (AnyLockHeld(claim) || ProcessExists(ClaimOwner(name))) continue;
    std::string temporary;
    if (ReadClaim(claim, &temporary) && IsTemporaryName(LeafName(temporary))) {
      struct stat st {};
      if (::lstat(temporary.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(temporary.c_str()) == 0) {
        ++removed;
      }
    }
    ::unlink(claim.c_str());
  }
  return removed;
}

}  // namespace norvo
