// SPDX-License-Identifier: GPL-3.0-or-later
// Locks between processes, on open file descriptions (fcntl F_OFD_*): a lock
// belongs to one open file, is released when that file is closed or its
// process ends (however it ends), tells two openers in one process apart,
// and also works on shared network folders.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error_codes.h"

namespace norvo {

enum class LockKind : std::uint8_t { kShared, kExclusive };

// Takes a lock on the bytes [start, start + length) of the open file `fd`
// (length 0: to the end, however the file grows). False when another open
// file holds a conflicting lock. An exclusive lock needs `fd` open for writing.
bool TryLockBytes(int fd, LockKind kind, std::int64_t start, std::int64_t length);
void UnlockBytes(int fd, std::int64_t start, std::int64_t length);

// True when some open file holds any lock on the file at `path`. A file that
// cannot be opened holds none.
bool AnyLockHeld(const std::string& path);

// True while a process of this number exists (it may belong to another user).
bool ProcessExists(long pid);

// Makes a folder's entries (created, renamed or deleted files) durable.
ErrorCode FlushFolder(const std::string& folder);

// A lock on a fixed byte range of a file, through a descriptor of its own
// that is used for nothing else. It is opened for writing when the file
// allows it, since only then can the lock be exclusive; otherwise for reading.
class RangeLock {
 public:
  RangeLock() = default;
  ~RangeLock() { close(); }
  RangeLock(const RangeLock&) = delete;
  RangeLock& operator=(const RangeLock&) = delete;
  RangeLock(RangeLock&& other) noexcept;
  RangeLock& operator=(RangeLock&& other) noexcept;

  // Opens `path` (a regular file) for locking the given range; nothing is
  // locked yet.
  ErrorCode open(const std::string& path, std::int64_t start, std::int64_t length);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  // Whether an exclusive lock is possible at all: the file could be opened
  // for writing.
  bool writable() const { return writable_; }

  // Takes, converts (shared <-> exclusive) or keeps the lock; retries for up
  // to `wait_ms` milliseconds while another file holds a conflicting one.
  // err::kOpenForWriting when it stays taken, err::kWritePermission when an exclusive lock is asked of a file
  // that is not writable.
  ErrorCode lock(LockKind kind, int wait_ms);
  void unlock();
  bool held() const { return held_; }
  LockKind kind() const { return kind_; }
  // Whether `path` still names the file this lock was opened on (it may
  // have been deleted or replaced since).
  bool refersTo(const std::string& path) const;
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
  bool writable_ = false;
  bool held_ = false;
  LockKind kind_ = LockKind::kShared;
  std::int64_t start_ = 0;
  std::int64_t length_ = 0;
};

}  // namespace norvo
