// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/owned_temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  text.resize(std::min(text.size(), text.find('\0')));  // claims end with a NUL, older ones at the file's end
  if (text.empty()) return false;
  *temporary = text;
  return true;
}

// A claim file: open, locked, named "PID-N" after the process that made it.
struct ClaimFile {
  int fd = -1;
  std::string path;
};

bool NewClaimFile(ClaimFile* out) {
  static std::atomic<unsigned> counter{0};
  static std::atomic<bool> folder_made{false};
  const std::string folder = TemporaryClaimFolder();
  if (!folder_made.load(std::memory_order_relaxed)) {
    if (!MakeFolders(folder)) return false;
    folder_made.store(true, std::memory_order_relaxed);
  }
  std::string path = folder + "/" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 && errno == ENOENT && MakeFolders(folder)) {  // the folder went since it was made
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  if (fd < 0) return false;
  // Locked before any path is written: a sweep never takes a live claim for
  // an abandoned one.
  TryLockBytes(fd, LockKind::kExclusive, 0, 0);
  *out = ClaimFile{fd, std::move(path)};
  return true;
}

// The emptied claim files of a thread, kept for its next temporaries: a run
// that makes thousands of temporaries (a copy of a folder of photos) then
// creates and removes one claim file, not one per temporary. They go when
// the thread ends; a killed process leaves them empty, and the next sweep
// removes them. A child process after fork() shares its parent's files, so
// it drops what it inherited (closing, not removing) and makes its own.
class ClaimPool {
 public:
  ~ClaimPool() { drop(owner_ == ::getpid()); }
  bool take(ClaimFile* out) {
    if (owner_ != ::getpid()) {
      drop(false);
      owner_ = ::getpid();
    }
    // One whose folder is no longer the claim folder, or that was removed
    // meanwhile, would claim nothing that a sweep could find.
    const std::string folder = TemporaryClaimFolder() + "/";
    while (!free_.empty()) {
      ClaimFile f = std::move(free_.back());
      free_.pop_back();
      struct stat st {};
      if (f.path.starts_with(folder) && ::fstat(f.fd, &st) == 0 && st.st_nlink > 0) {
        *out = std::move(f);
        return true;
      }
      ::close(f.fd);
    }
    return false;
  }
  void give(ClaimFile file) {
    if (owner_ != ::getpid() || free_.size() >= kMaxPooledClaims) {
      ::unlink(file.path.c_str());
      ::close(file.fd);
      return;
    }
    free_.push_back(std::move(file));
  }

 private:
  static constexpr std::size_t kMaxPooledClaims = 4;
  void drop(bool remove) {
    for (ClaimFile& f : free_) {
      if (remove) ::unlink(f.path.c_str());
      ::close(f.fd);
    }
    free_.clear();
  }
  pid_t owner_ = ::getpid();
  std::vector<ClaimFile> free_;
};

ClaimPool& ThisThreadsClaims() {
  thread_local ClaimPool pool;
  return pool;
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
  ClaimFile file;
  if (!ThisThreadsClaims().take(&file) && !NewClaimFile(&file)) return;
  // The path and its end mark in one write: a kill leaves the old claim
  // (nothing, after a release) or the new one, never a mix.
  std::string text = temporary_path;
  text += '\0';
  if (::pwrite(file.fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    ::unlink(file.path.c_str());
    ::close(file.fd);
    return;
  }
  fd_ = file.fd;
  claim_path_ = std::move(file.path);
}

void TemporaryClaim::release() {
  if (fd_ < 0) return;
  // Emptied (an end mark first) and kept for this thread's next claim.
  if (::pwrite(fd_, "", 1, 0) == 1) {
    ThisThreadsClaims().give(ClaimFile{fd_, std::move(claim_path_)});
  } else {
    ::unlink(claim_path_.c_str());
    ::close(fd_);
  }
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
