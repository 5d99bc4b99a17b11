// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/file_replace.h"

namespace norvo {
namespace {

struct flock RangeOf(short type, std::int64_t start, std::int64_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return lock;
}

// How long a waiting lock sleeps between tries.
constexpr auto kLockRetryInterval = std::chrono::milliseconds(10);

}  // namespace

bool TryLockBytes(int fd, LockKind kind, std::int64_t start, std::int64_t length) {
  struct flock lock = RangeOf(kind == LockKind::kExclusive ? F_WRLCK : F_RDLCK, start, length);
  while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void UnlockBytes(int fd, std::int64_t start, std::int64_t length) {
  struct flock lock = RangeOf(F_UNLCK, start, length);
  (void)::fcntl(fd, F_OFD_SETLK, &lock);  // unlocking a range we hold cannot fail
}

bool AnyLockHeld(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe = RangeOf(F_WRLCK, 0, 0);
  bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

bool ProcessExists(long pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

ErrorCode FlushFolder(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrorFromErrno(errno);
  ErrorCode e = err::kNone;
  if (::fsync(fd) != 0 && errno != EINVAL) e = ErrorFromErrno(errno);
  ::close(fd);
  return e;
}

RangeLock::RangeLock(RangeLock&& other) noexcept { *this = std::move(other); }

RangeLock& RangeLock::operator=(RangeLock&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    writable_ = other.writable_;
    held_ = std::exchange(other.held_, false);
    kind_ = other.kind_;
    start_ = other.start_;
    length_ = other.length_;
  }
  return *this;
}

ErrorCode RangeLock::open(const std::string& path, std::int64_t start, std::int64_t length) {
  close();
  // Non-blocking, so that a FIFO or device under the name never stalls us.
  // A file the user protected (no write permission) is opened for reading
  // even where the administrator could write it.
  struct stat named {};
  const bool protect = ::stat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode) && !HasWritePermission(path, named);
  int fd = protect ? -1 : ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  bool writable = fd >= 0;
  if (fd < 0 && (protect || errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd < 0) return errno == EISDIR ? err::kNotAFile : ErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return err::kNotAFile;
  }
  fd_ = fd;
  writable_ = writable;
  start_ = start;
  length_ = length;
  return err::kNone;
}

void RangeLock::close() {
  if (fd_ < 0) return;
  ::close(fd_);  // releases the lock
  fd_ = -1;
  held_ = false;
}

ErrorCode RangeLock::lock(LockKind kind, int wait_ms) {
  if (fd_ < 0) return err::kBadFileNumber;
  if (held_ && kind_ == kind) return err::kNone;
  if (kind == LockKind::kExclusive && !writable_) return err::kWritePermission;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    // Converting a held lock is one call: the range is never left unlocked.
    if (TryLockBytes(fd_, kind, start_, length_)) {
      held_ = true;
      kind_ = kind;
      return err::kNone;
    }
    if (std::chrono::steady_clock::now() >= deadline) return err::kOpenForWriting;
    std::this_thread::sleep_for(kLockRetryInterval);
  }
}

bool RangeLock::refersTo(const std::string& path) const {
  struct stat mine {}, named {};
  if (fd_ < 0 || ::fstat(fd_, &mine) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

void RangeLock::unlock() {
  if (fd_ < 0 || !held_) return;
  UnlockBytes(fd_, start_, length_);
  held_ = false;
}

}  // namespace norvo
