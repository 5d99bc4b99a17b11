// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_spec.h"

namespace norvo::output {
namespace {

constexpr std::size_t kCompareChunk = 1u << 20;

ErrorCode FromErrno() { return ErrorFromErrno(errno); }

// A file descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to `size` bytes at `offset`; the count read, or -1.
ssize_t ReadSome(int fd, std::uint8_t* data, std::size_t size, off_t offset) {
  for (;;) {
    ssize_t n = ::pread(fd, data, size, offset);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool SameFolder(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool SameFileOnDisk(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Renames without replacing, telling a move across file systems apart.
// *across is set when the two names are on different file systems.
ErrorCode RenameHere(const std::string& from, const std::string& to, Placement placement, bool* across) {
  *across = false;
  int r = placement == Placement::kReplace
              ? ::rename(from.c_str(), to.c_str())
              : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (r == 0) return err::kNone;
  if (errno == EXDEV) {
    *across = true;
    return err::kNone;
  }
  if (placement == Placement::kNewName && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
    // A file system without RENAME_NOREPLACE: the platform's fallbacks.
    if (!SameFileSystem(from, ParentFolder(to))) {
      *across = true;
      return err::kNone;
    }
    return RenameNoReplace(from, to);
  }
  return FromErrno();
}

// A fresh temporary name beside `to`, free when made.
ErrorCode TemporaryBeside(const std::string& to, std::string* out) {
  return MakeTemporaryName(ParentFolder(to), "." + LeafName(to).substr(0, 64) + ".norvo-", TemporaryFile::kDeleted,
                           out);
}

}  // namespace

TransferMode TransferModeFromByte(std::uint8_t stored) {
  switch (stored) {
    case 1: return TransferMode::kMove;
    case 2: return TransferMode::kDuplicate;
    default: return TransferMode::kCopy;
  }
}

bool RepointsItems(TransferMode mode) { return mode != TransferMode::kDuplicate; }

ErrorCode ReadFileFacts(const std::string& path, FileFacts* out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FromErrno();
  out->path = path;
  out->size = static_cast<std::uint64_t>(st.st_size);
  out->modified = st.st_mtim.tv_sec;
  return err::kNone;
}

bool SameFileSystem(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev;
}

ErrorCode CompareFiles(const std::string& a, const std::string& b) {
  Descriptor fa(::open(a.c_str(), O_RDONLY | O_CLOEXEC));
  if (fa.get() < 0) return FromErrno();
  Descriptor fb(::open(b.c_str(), O_RDONLY | O_CLOEXEC));
  if (fb.get() < 0) return FromErrno();
  struct stat sa {}, sb {};
  if (::fstat(fa.get(), &sa) != 0 || ::fstat(fb.get(), &sb) != 0) return FromErrno();
  if (sa.st_size != sb.st_size) return err::kIo;
  (void)::posix_fadvise(fa.get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint only
  (void)::posix_fadvise(fb.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<std::uint8_t> ba(kCompareChunk), bb(kCompareChunk);
  off_t at = 0;
  while (at < sa.st_size) {
    const ssize_t na = ReadSome(fa.get(), ba.data(), ba.size(), at);
    if (na < 0) return FromErrno();
    if (na == 0) return err::kIo;  // shorter than it said
    ssize_t got = 0;
    while (got < na) {
      const ssize_t nb = ReadSome(fb.get(), bb.data() + got, static_cast<std::size_t>(na - got), at + got);
      if (nb < 0) return FromErrno();
      if (nb == 0) return err::kIo;
      got += nb;
    }
    if (std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) return err::kIo;
    at += na;
  }
  return err::kNone;
}

ErrorCode CopyFileTo(const std::string& from, const std::string& to, Placement placement,
                     CopyDurability durability) {
  if (placement == Placement::kNewName) return CopyFileKeepingAttributes(from, to, durability);
  std::string temporary;
  if (ErrorCode e = TemporaryBeside(to, &temporary); e != err::kNone) return e;
  if (ErrorCode e = CopyFileKeepingAttributes(from, temporary, durability); e != err::kNone) return e;
  if (::rename(temporary.c_str(), to.c_str()) != 0) {
    const ErrorCode e = FromErrno();
    (void)::unlink(temporary.c_str());  // the old file stays as it was
    return e;
  }
  if (durability == CopyDurability::kFlushed) (void)FlushFolder(ParentFolder(to));  // the copy is whole already
  return err::kNone;
}

ErrorCode MoveFile(const std::string& from, const std::string& to, Placement placement, MoveKind* kind,
                   const std::function<ErrorCode()>& before_delete) {
  bool across = false;
  if (ErrorCode e = RenameHere(from, to, placement, &across); e != err::kNone) return e;
  if (!across) {
    *kind = MoveKind::kRenamed;
    if (before_delete) {
      if (ErrorCode e = before_delete(); e != err::kNone) {
        // The file goes back where it was; should even that fail, it keeps
        // its new name rather than be lost.
        (void)RenameNoReplace(to, from);
        return e;
      }
    }
    return err::kNone;
  }
  *kind = MoveKind::kCopiedAcross;
  // The copy is made, flushed and checked under a name of its own; only a
  // checked copy takes the target's name, and only then does the original go.
  std::string staged = to;
  if (placement == Placement::kReplace) {
    if (ErrorCode e = TemporaryBeside(to, &staged); e != err::kNone) return e;
  }
  if (ErrorCode e = CopyFileKeepingAttributes(from, staged, CopyDurability::kFlushed); e != err::kNone) return e;
  auto take_back = [&](ErrorCode e) {
    (void)::unlink((placement == Placement::kReplace && staged != to ? staged : to).c_str());  // the original stays
    return e;
  };
  if (ErrorCode e = CompareFiles(from, staged); e != err::kNone) return take_back(e);
  if (placement == Placement::kReplace) {
    if (::rename(staged.c_str(), to.c_str()) != 0) return take_back(FromErrno());
    staged = to;
    (void)FlushFolder(ParentFolder(to));  // the copy is flushed already
  }
  if (before_delete) {
    if (ErrorCode e = before_delete(); e != err::kNone) return take_back(e);
  }
  if (::unlink(from.c_str()) != 0) return take_back(FromErrno());
  (void)FlushFolder(ParentFolder(from));  // the copy is safe whatever the folder's state
  return err::kNone;
}

namespace {

class Transfer {
 public:
  Transfer(catalog::Catalog& catalog, const TransferRequest& request) : catalog_(catalog), r_(request) {}

  // Handles the item of `cell`; returns an error that ends the pass, or 0.
  ErrorCode item(int cell, TransferOutcome& o) {
    std::string path;
    if (ErrorCode e = catalog::FindItemFile(catalog_, cell, path); e != err::kNone) {
      if (e == err::kFileNotFound) return skipped(o, e);
      o.status = TransferStatus::kFailed;  // the catalog cannot be read
      o.error = e;
      return e;
    }
    if (CheckRegularFile(path) != err::kNone) return skipped(o, err::kFileNotFound);
    o.source = path;
    if (SameFolder(ParentFolder(path), r_.destination)) return skipped(o, err::kNone);
    o.target = JoinPath(r_.destination, LeafName(path));

    Placement placement = Placement::kNewName;
    struct stat existing {};
    if (::lstat(o.target.c_str(), &existing) == 0) {
      if (SameFileOnDisk(path, o.target)) return skipped(o, err::kNone);  // already there, under a second name
      switch (answer(cell, path, o.target)) {
        case ClashAnswer::kSkip: return skipped(o, err::kDuplicateName);
        case ClashAnswer::kStop:
          o.status = TransferStatus::kStopped;
          o.error = err::kDuplicateName;
          stopped_ = true;
          return err::kNone;
        case ClashAnswer::kReplace:
        case ClashAnswer::kReplaceAll: break;
      }
      if (!S_ISREG(existing.st_mode)) return skipped(o, err::kDuplicateName);  // only a file gives way
      placement = Placement::kReplace;
      o.replaced = true;
    }

    const ErrorCode e = r_.mode == TransferMode::kMove ? move(cell, path, o.target, placement)
                                                       : copy(cell, path, o.target, placement);
    if (e == err::kNone) {
      o.status = r_.mode == TransferMode::kMove ? TransferStatus::kMoved : TransferStatus::kCopied;
      return err::kNone;
    }
    // A name taken meanwhile, or a file gone meanwhile, skips the item.
    if (e == err::kDuplicateName || e == err::kFileNotFound) return skipped(o, e);
    o.status = TransferStatus::kFailed;
    o.error = e;
    return e;
  }

  bool stopped() const { return stopped_; }
  bool copiedSomething() const { return copied_; }

 private:
  static ErrorCode skipped(TransferOutcome& o, ErrorCode why) {
    o.status = TransferStatus::kSkipped;
    o.error = why;
    return err::kNone;
  }

  ClashAnswer answer(int cell, const std::string& incoming_path, const std::string& existing_path) {
    if (replace_all_) return ClashAnswer::kReplace;
    if (!r_.on_clash) return ClashAnswer::kSkip;
    FileFacts existing, incoming;
    (void)ReadFileFacts(existing_path, &existing);  // a file gone meanwhile shows as empty
    (void)ReadFileFacts(incoming_path, &incoming);
    catalog::ItemRecord record;
    if (catalog::GetItemRecord(catalog_, cell, catalog::kWithoutOptionalParts, record) == err::kNone) {
      incoming.width = record.width;
      incoming.height = record.height;
    }
    // The file in the destination may be an item of this catalog too.
    for (int other = 1; other <= catalog_.itemCount(); ++other) {
      if (other == cell || catalog::ItemPath(catalog_, other) != existing_path) continue;
      if (catalog::GetItemRecord(catalog_, other, catalog::kWithoutOptionalParts, record) == err::kNone) {
        existing.width = record.width;
        existing.height = record.height;
      }
      break;
    }
    const ClashAnswer a = r_.on_clash(existing, incoming);
    if (a == ClashAnswer::kReplaceAll) replace_all_ = true;
    return a;
  }

  ErrorCode repoint(int cell, const std::string& path) {
    if (!RepointsItems(r_.mode)) return err::kNone;
    return catalog::RepointItem(catalog_, cell, path);
  }

  ErrorCode copy(int cell, const std::string& from, const std::string& to, Placement placement) {
    // Flushed once at the end of the pass (syncfs), as the copies may be
    // many and a flush per file costs more than the copy of a photo.
    if (ErrorCode e = CopyFileTo(from, to, placement, CopyDurability::kCached); e != err::kNone) return e;
    copied_ = true;
    if (ErrorCode e = repoint(cell, to); e != err::kNone) {
      // The catalog cannot follow: a new copy goes again; a replaced file
      // was given up by the user's answer already.
      if (placement == Placement::kNewName) (void)::unlink(to.c_str());
      return e;
    }
    return err::kNone;
  }

  ErrorCode move(int cell, const std::string& from, const std::string& to, Placement placement) {
    bool pointed = false;
    MoveKind kind = MoveKind::kRenamed;
    const ErrorCode e = MoveFile(from, to, placement, &kind, [&]() -> ErrorCode {
      ErrorCode r = repoint(cell, to);
      pointed = r == err::kNone;
      return r;
    });
    if (e != err::kNone && pointed) {
      // The file is back at `from`: so is the item. Should the catalog not
      // take even that, the item points at a path that no longer holds it
      // and is found again by name.
      (void)catalog::RepointItem(catalog_, cell, from);
    }
    return e;
  }

  catalog::Catalog& catalog_;
  const TransferRequest& r_;
  bool replace_all_ = false;
  bool stopped_ = false;
  bool copied_ = false;
};

ErrorCode StopCode(int answer) {
  return answer < 0 && answer >= INT16_MIN ? ErrorCode(static_cast<std::int16_t>(answer)) : err::kUserCancelled;
}

}  // namespace

ErrorCode TransferItems(catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids,
                        const TransferRequest& request, const TransferProgress& progress,
                        std::vector<TransferOutcome>* outcomes) {
  outcomes->clear();
  struct stat folder {};
  if (request.destination.empty() || ::stat(request.destination.c_str(), &folder) != 0 ||
      !S_ISDIR(folder.st_mode)) {
    return err::kFolderNotFound;
  }
  if (request.mode != TransferMode::kDuplicate && catalog.read_only) return err::kWritePermission;

  // Catalog order; ids the catalog does not hold come last, as given.
  std::vector<std::pair<int, std::uint32_t>> order;
  std::set<std::uint32_t> seen;
  for (std::uint32_t id : item_ids) {
    if (!seen.insert(id).second) continue;
    const int cell = catalog.cellOf(id);
    order.emplace_back(cell == 0 ? INT_MAX : cell, id);
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  Transfer transfer(catalog, request);
  const int total = static_cast<int>(order.size());
  ErrorCode result = err::kNone;
  int done = 0;
  if (progress) {
    if (int answer = progress(ProgressPhase::kStart, 0, total); answer != 0) result = StopCode(answer);
  }
  for (const auto& [first_cell, id] : order) {
    if (result != err::kNone || transfer.stopped()) break;
    TransferOutcome o;
    o.item_id = id;
    // Looked up again: the progress callback may have changed the catalog.
    const int cell = catalog.cellOf(id);
    if (cell == 0) {
      o.error = err::kParam;
    } else {
      result = transfer.item(cell, o);
    }
    outcomes->push_back(std::move(o));
    ++done;
    if (result == err::kNone && !transfer.stopped() && progress) {
      if (int answer = progress(ProgressPhase::kStep, done, total); answer != 0) result = StopCode(answer);
    }
  }
  if (transfer.copiedSomething()) {
    // The copies reach the disk before anyone saves a catalog that points
    // at them.
    Descriptor d(::open(request.destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.get() < 0 || ::syncfs(d.get()) != 0) {
      if (result == err::kNone) result = FromErrno();
    }
  }
  if (progress) (void)progress(ProgressPhase::kEnd, done, total);  // the work is over; an answer changes nothing
  return result;
}

}  // namespace norvo::output
