// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/file_spec.h"

#include "platform/fault_injection.h"
#include "platform/file_lock.h"
#include "platform/owned_temporaries.h"

namespace norvo {
namespace {

ErrorCode FromErrno() { return ErrorFromErrno(errno); }

ErrorCode WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  if (ErrorCode e = faults::BeforeWrite(); e != err::kNone) return e;
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno();
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return err::kNone;
}

}  // namespace

ErrorCode ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out) {
  // Non-blocking open and a regular-file check: a FIFO or device given as
  // a photo must not stall the program.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FromErrno();
  ErrorCode result = err::kNone;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return err::kNotAFile;
  }
  out->reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = FromErrno();
      break;
    }
    if (n == 0) break;
    out->insert(out->end(), buffer, buffer + n);
  }
  ::close(fd);
  return result;
}

ErrorCode ReplaceFileSafely(const std::string& path, std::span<const std::uint8_t> bytes) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return FromErrno();
  std::string target(resolved);
  struct stat original {};
  if (::stat(target.c_str(), &original) != 0) return FromErrno();
  if (!S_ISREG(original.st_mode)) return err::kNotAFile;
  if (!HasWritePermission(target, original)) return err::kFileLocked;

  const std::string folder = ParentFolder(target);
  // Claimed before it exists: if this process is killed from here on, the
  // next start removes the copy.
  TemporaryClaim claim;
  std::string temp;
  ErrorCode created = err::kNone;
  int fd = CreateClaimedTemporary(target, 0600, claim, &temp, &created);
  if (fd < 0) return created;
  ErrorCode result = WriteAll(fd, bytes);
  if (result == err::kNone && ::fsync(fd) != 0) result = FromErrno();
  if (result == err::kNone && ::fchmod(fd, original.st_mode & 07777) != 0) result = FromErrno();
  if (result == err::kNone) {
    // Only the owner may give a file away; keeping the group is worth a try.
    if (::fchown(fd, original.st_uid, original.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), original.st_gid);
    const struct timespec times[2] = {original.st_atim, original.st_mtim};
    if (::futimens(fd, times) != 0) result = FromErrno();
  }
  if (::close(fd) != 0 && result == err::kNone) result = FromErrno();
  if (result == err::kNone && ::rename(temp.c_str(), target.c_str()) != 0) result = FromErrno();
  if (result != err::kNone) {
    ::unlink(temp.c_str());
    return result;
  }
  // The rename has happened; a folder that cannot be flushed does not undo it.
  (void)FlushFolder(folder);
  return err::kNone;
}

bool HasWritePermission(const std::string& path, const struct stat& st) {
  // The administrator may write anything; a file that nobody may write is
  // still one the user has protected, and is left alone.
  if (::geteuid() == 0) return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  return ::access(path.c_str(), W_OK) == 0;
}

}  // namespace norvo
