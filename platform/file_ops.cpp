// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string_view>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/file_lock.h"
#include "platform/file_spec.h"
#include "platform/owned_temporaries.h"
#include "platform/unicode_text.h"

namespace norvo {
namespace {

ErrorCode FromErrno() { return ErrorFromErrno(errno); }

constexpr int kTemporaryNameAttempts = 100;
constexpr std::size_t kRandomLetters = 6;
constexpr std::size_t kCopyChunk = 1u << 20;
// The longest part of a target's name that a temporary copy's name repeats;
// the rest of the 255 bytes is its dot, infix and random letters.
constexpr std::size_t kMaxTemporaryStem = 200;
// Extended attributes copied: the user's own space, where the type and
// creator codes live. Others (security., trusted., system.) are the
// system's business.
constexpr std::string_view kUserAttributePrefix = "user.";
constexpr std::size_t kMaxAttributeListBytes = 64 * 1024;
constexpr std::size_t kMaxAttributeValueBytes = 64 * 1024;

// Whether the error of renameat2 means the file system (or the kernel) does
// not know RENAME_NOREPLACE, rather than a problem with these names.
bool NoReplaceUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// Errors of link() that mean the file system refuses hard links here.
bool LinksRefused(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == EMLINK || error == EXDEV || error == ENOSYS;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Writes all of `data` to `fd`, through the write hook of the file services.
ErrorCode WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  if (ErrorCode e = faults::BeforeWrite(); e != err::kNone) return e;
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno();
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return err::kNone;
}

// Copies `size` bytes from `in` to `out`, both at their start: in the kernel
// (copy_file_range) where it can, else through a buffer.
ErrorCode CopyBytes(int in, int out, std::int64_t size) {
  std::int64_t done = 0;
  bool in_kernel = true;
  while (in_kernel && done < size) {
    if (ErrorCode e = faults::BeforeWrite(); e != err::kNone) return e;
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(size - done), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      // Across file systems on some kernels, or not offered at all: the
      // plain way, from where the kernel stopped.
      if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
        in_kernel = false;
        break;
      }
      return FromErrno();
    }
    if (n == 0) break;  // the source got shorter while being copied
    done += n;
  }
  if (in_kernel) return err::kNone;
  std::vector<std::uint8_t> buffer(kCopyChunk);
  for (;;) {
    ssize_t n = ::pread(in, buffer.data(), buffer.size(), done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno();
    }
    if (n == 0) return err::kNone;
    if (ErrorCode e = WriteAll(out, buffer.data(), static_cast<std::size_t>(n)); e != err::kNone) return e;
    done += n;
  }
}

// The "user." extended attributes of `in`, given to `out`; what cannot be
// read or written is passed over.
void CopyUserAttributes(int in, int out) {
  ssize_t listed = ::flistxattr(in, nullptr, 0);
  if (listed <= 0 || static_cast<std::size_t>(listed) > kMaxAttributeListBytes) return;
  std::vector<char> names(static_cast<std::size_t>(listed));
  listed = ::flistxattr(in, names.data(), names.size());
  if (listed <= 0) return;
  std::vector<char> value(kMaxAttributeValueBytes);
  for (std::size_t at = 0; at < static_cast<std::size_t>(listed);) {
    const std::string name(names.data() + at);
    at += name.size() + 1;
    if (!name.starts_with(kUserAttributePrefix)) continue;
    ssize_t size = ::fgetxattr(in, name.c_str(), value.data(), value.size());
    if (size < 0) continue;
    (void)::fsetxattr(out, name.c_str(), value.data(), static_cast<std::size_t>(size), 0);  // best-effort
  }
}

// Gives the file the second name `to`, then takes away `from`. *link_error
// is link()'s errno when the link failed, else 0.
ErrorCode LinkThenUnlink(const std::string& from, const std::string& to, int* link_error) {
  if (::link(from.c_str(), to.c_str()) != 0) {
    *link_error = errno;
    return FromErrno();
  }
  *link_error = 0;
  if (::unlink(from.c_str()) != 0) {
    const ErrorCode e = FromErrno();
    (void)::unlink(to.c_str());  // the second name goes again; the file keeps its first
    return e;
  }
  return err::kNone;
}

}  // namespace

ErrorCode RenameByLink(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return FromErrno();
  if (S_ISDIR(st.st_mode)) return err::kParam;
  int link_error = 0;
  return LinkThenUnlink(from, to, &link_error);
}

ErrorCode RenameAfterCheck(const std::string& from, const std::string& to) {
  struct stat source {};
  if (::lstat(from.c_str(), &source) != 0) return FromErrno();
  struct stat target {};
  if (::lstat(to.c_str(), &target) == 0) return err::kDuplicateName;
  if (errno != ENOENT) return FromErrno();
  if (::rename(from.c_str(), to.c_str()) != 0) return FromErrno();
  return err::kNone;
}

ErrorCode RenameNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return err::kBadName;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return err::kNone;
  if (!NoReplaceUnsupported(errno)) return FromErrno();
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return FromErrno();
  if (!S_ISDIR(st.st_mode)) {
    int link_error = 0;
    const ErrorCode linked = LinkThenUnlink(from, to, &link_error);
    if (link_error == 0 || !LinksRefused(link_error)) return linked;
  }
  return RenameAfterCheck(from, to);
}

ErrorCode MakeTemporaryName(const std::string& folder, const std::string& prefix, TemporaryFile keep,
                            std::string* out) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::string name = prefix;
    for (std::size_t i = 0; i < kRandomLetters; ++i) name += kLetters[pick(random)];
    const std::string path = JoinPath(folder, name);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return FromErrno();
    }
    ::close(fd);
    if (keep == TemporaryFile::kDeleted && ::unlink(path.c_str()) != 0) return FromErrno();
    *out = path;
    return err::kNone;
  }
  return err::kDuplicateName;
}

ErrorCode RenameThroughTemporary(const std::string& from, const std::string& to) {
  const std::string folder = ParentFolder(from);
  if (ParentFolder(to) != folder) return err::kParam;
  struct stat source {};
  if (::lstat(from.c_str(), &source) != 0) return FromErrno();
  struct stat existing {};
  if (::lstat(to.c_str(), &existing) == 0) {
    // The same file found under the new spelling: a file system that ignores
    // case. Anything else by that name is another file, which stays.
    if (!SameFile(source, existing)) return err::kDuplicateName;
    if (from == to) return err::kNone;
  } else if (errno != ENOENT) {
    return FromErrno();
  }
  // The fresh name is made free again just before the move; should another
  // process take it meanwhile, the no-replace rename refuses and another
  // name is tried.
  std::string temporary;
  ErrorCode moved = err::kDuplicateName;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && moved == err::kDuplicateName; ++attempt) {
    if (ErrorCode e = MakeTemporaryName(folder, "nrk", TemporaryFile::kDeleted, &temporary); e != err::kNone) {
      return e;
    }
    moved = RenameNoReplace(from, temporary);
  }
  if (moved != err::kNone) return moved;
  const ErrorCode named = RenameNoReplace(temporary, to);
  if (named == err::kNone) return err::kNone;
  // Back under its old name; should even that fail, the file keeps the
  // temporary name rather than be lost.
  if (RenameNoReplace(temporary, from) != err::kNone) return err::kIo;
  return named;
}

ErrorCode CopyFileKeepingAttributes(const std::string& from, const std::string& to, CopyDurability durability) {
  // Non-blocking: a FIFO given as a file must not stall the copy.
  int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return FromErrno();
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return err::kNotAFile;
  }
  struct stat existing {};
  if (::lstat(to.c_str(), &existing) == 0) {
    ::close(in);
    return err::kDuplicateName;
  }
  // Written under a claimed temporary name: a kill leaves nothing under `to`,
  // and the next start removes the temporary.
  // The temporary's name is made from the target's, which may be too long to
  // take its prefix and suffix: then from the start of it.
  const std::string leaf = LeafName(to);
  const std::string named_after =
      leaf.size() <= kMaxTemporaryStem ? to : JoinPath(ParentFolder(to), std::string(FirstBytes(leaf, kMaxTemporaryStem)));
  TemporaryClaim claim;
  std::string temporary;
  ErrorCode created = err::kNone;
  int out = CreateClaimedTemporary(named_after, 0600, claim, &temporary, &created);
  if (out < 0) {
    ::close(in);
    return created;
  }
  ErrorCode result = CopyBytes(in, out, st.st_size);
  if (result == err::kNone) {
    CopyUserAttributes(in, out);
    // Only the owner may give a file away; keeping the group is worth a try.
    if (::fchown(out, st.st_uid, st.st_gid) != 0) (void)::fchown(out, static_cast<uid_t>(-1), st.st_gid);
    if (::fchmod(out, st.st_mode & 07777) != 0) result = FromErrno();
  }
  if (result == err::kNone) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out, times) != 0) result = FromErrno();
  }
  if (result == err::kNone && durability == CopyDurability::kFlushed && ::fsync(out) != 0) result = FromErrno();
  // Without this the copies of a long pass sit in the cache until its final
  // flush, and the disk idles while they are made; a hint, so its failure
  // changes nothing.
  if (result == err::kNone && durability == CopyDurability::kCached) {
    (void)::sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  ::close(in);
  if (::close(out) != 0 && result == err::kNone) result = FromErrno();
  if (result == err::kNone) result = RenameNoReplace(temporary, to);
  if (result != err::kNone) {
    (void)::unlink(temporary.c_str());  // the partial copy goes; nothing else was touched
    return result;
  }
  if (durability == CopyDurability::kFlushed) (void)FlushFolder(ParentFolder(to));  // the copy is whole already
  return err::kNone;
}

}  // namespace norvo
