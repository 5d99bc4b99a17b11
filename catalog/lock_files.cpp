// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/lock_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace norvo::catalog {
namespace {

constexpr std::size_t kLockMarkerSize = sizeof(kLockMarker) - 1;
// Tries at one slot whose new file another opener deleted under us.
constexpr int kSlotAttempts = 3;

// Deletes a LockFile that no open file locks. True when the slot's file is
// gone afterwards.
bool ClearStaleLock(const std::string& path) {
  if (AnyLockHeld(path)) return false;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

enum class SlotResult { kTaken, kBusy, kFailed };

SlotResult TrySlot(const std::string& path, RangeLock& lock, ErrorCode* error) {
  if (FileExists(path) && !ClearStaleLock(path)) return SlotResult::kBusy;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return SlotResult::kBusy;  // another opener took it just now
    // A folder that takes no new file (read-only disk, no permission) is
    // told apart from ten live slots (err::kPermission).
    *error = errno == EACCES || errno == EPERM || errno == EROFS ? err::kWritePermission : ErrorFromErrno(errno);
    return SlotResult::kFailed;
  }
  ::close(fd);
  if (ErrorCode e = lock.open(path, 0, 0); e != err::kNone) {
    *error = e;
    return SlotResult::kFailed;
  }
  // Between its creation and our lock, another opener may have found the
  // empty, unlocked file, taken it for stale and deleted it (and a third
  // may have made a new one): the slot is ours only if the name still
  // names the file we lock.
  if (lock.lock(LockKind::kExclusive, 0) != err::kNone || !lock.refersTo(path)) {
    lock.close();
    return SlotResult::kBusy;
  }
  ssize_t n = ::pwrite(lock.descriptor(), kLockMarker, kLockMarkerSize, 0);
  if (n != static_cast<ssize_t>(kLockMarkerSize)) {
    *error = n < 0 ? ErrorFromErrno(errno) : err::kDiskFull;
    ::unlink(path.c_str());
    lock.close();
    return SlotResult::kFailed;
  }
  return SlotResult::kTaken;
}

}  // namespace

std::string LockFilePath(const std::string& catalog_path, int slot) {
  std::string name = ".";
  name += LeafName(catalog_path);
  name += '_';
  name += static_cast<char>('0' + slot);
  return JoinPath(ParentFolder(catalog_path), name);
}

ErrorCode AcquireLock(Catalog& catalog) {
  if (!catalog.titled()) return err::kParam;
  for (int slot = 0; slot < kMaxLockSlots; ++slot) {
    const std::string path = LockFilePath(catalog.file_spec.path, slot);
    for (int attempt = 0; attempt < kSlotAttempts; ++attempt) {
      ErrorCode error = err::kNone;
      RangeLock lock;
      SlotResult result = TrySlot(path, lock, &error);
      if (result == SlotResult::kFailed) return error;
      if (result == SlotResult::kBusy && FileExists(path)) break;  // live: next slot
      if (result != SlotResult::kTaken) continue;                 // deleted under us: again
      catalog.lock_file = std::move(lock);
      catalog.lock_slot = slot;
      catalog.locked_catalog_path = catalog.file_spec.path;
      return err::kNone;
    }
  }
  return err::kPermission;
}

int CountLiveLocks(const std::string& catalog_path, int own_slot) {
  int count = 0;
  for (int slot = 0; slot < kMaxLockSlots; ++slot) {
    if (slot == own_slot) continue;
    const std::string path = LockFilePath(catalog_path, slot);
    if (!FileExists(path)) continue;
    if (AnyLockHeld(path)) {
      ++count;
    } else {
      ClearStaleLock(path);
    }
  }
  return count;
}

int CountOtherOpeners(Catalog& catalog) {
  if (catalog.lock_slot < 0 || !catalog.titled()) return 0;
  return CountLiveLocks(catalog.file_spec.path, catalog.lock_slot);
}

void ReleaseLock(Catalog& catalog) {
  if (catalog.lock_slot < 0) return;
  const std::string own = LockFilePath(catalog.locked_catalog_path, catalog.lock_slot);
  // Deleted while still locked, so that no other opener can take the slot
  // in between and lose its file.
  if (catalog.lock_file.refersTo(own)) ::unlink(own.c_str());
  catalog.lock_file.close();
  catalog.lock_slot = -1;
  for (int slot = 0; slot < kMaxLockSlots; ++slot) {
    const std::string path = LockFilePath(catalog.locked_catalog_path, slot);
    if (FileExists(path)) ClearStaleLock(path);
  }
  catalog.locked_catalog_path.clear();
}

ErrorCode TakeAccessLock(Catalog& catalog, const std::string& path, LockKind kind, int wait_ms) {
  // A save-as may have renamed a new file over this name while we waited:
  // the lock counts only on the file the name now holds.
  for (int attempt = 0; attempt < kSlotAttempts; ++attempt) {
    if (ErrorCode e = catalog.access.open(path, kAccessLockOffset, 1); e != err::kNone) return e;
    if (ErrorCode e = catalog.access.lock(kind, wait_ms); e != err::kNone) return e;
    if (catalog.access.refersTo(path)) return err::kNone;
  }
  return err::kOpenForWriting;
}

}  // namespace norvo::catalog
