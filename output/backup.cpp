// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "catalog/save.h"
#include "output/transfer.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/text_encoding.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCatalogExtension = ".nrk";
constexpr std::string_view kReaderDataFolder = "Norvo/Readers";
// Folders walked up from a file's folder to find its mount point.
constexpr int kMaxFolderDepth = 4096;
// Files of the reader folder copied at most: it is a program and its parts.
constexpr int kMaxReaderFiles = 10000;

ErrorCode FromErrno() { return ErrorFromErrno(errno); }

ErrorCode StopCode(int answer) {
  return answer < 0 && answer >= INT16_MIN ? ErrorCode(static_cast<std::int16_t>(answer)) : err::kUserCancelled;
}

// Which message a failed step reads as.
BackupFailure FailureOf(ErrorCode e) {
  switch (e) {
    case err::kDiskFull:
    case err::kPermission:
    case err::kWritePermission:
    case err::kFileLocked:
    case err::kDuplicateName:
    case err::kBadName: return BackupFailure::kItemsNotAdded;
    case err::kFolderNotFound:
    case err::kNoSuchVolume: return BackupFailure::kDestinationNotFound;
    default: return BackupFailure::kIoError;
  }
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes `folder` and its missing parents.
ErrorCode MakeFolders(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return ErrorFromErrno(ec.value());
  return err::kNone;
}

// Whether the file at `target` is the one at `source` backed up before:
// same size and modification time.
bool SameBackup(const struct stat& source, const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return st.st_size == source.st_size && st.st_mtim.tv_sec == source.st_mtim.tv_sec &&
         st.st_mtim.tv_nsec == source.st_mtim.tv_nsec;
}

// Puts the file at `target`: a hard link when staging allows it and the
// two are on one file system, else a copy under a temporary name.
ErrorCode PlaceFile(const std::string& source, const std::string& target, BackupStaging staging) {
  if (staging == BackupStaging::kLinkWhereSameDisk) {
    if (::link(source.c_str(), target.c_str()) == 0) return err::kNone;
    if (errno == EEXIST) return err::kDuplicateName;
    // Another file system, or links refused: a copy does it.
  }
  return CopyFileTo(source, target, Placement::kNewName, CopyDurability::kCached);
}

// Copies `from` into `to` (made when missing), file by file; files already
// there with the same size and time are passed over.
ErrorCode CopyFolder(const std::string& from, const std::string& to, BackupStaging staging) {
  if (ErrorCode e = MakeFolders(to); e != err::kNone) return e;
  std::error_code ec;
  int files = 0;
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string rel = fs::relative(it->path(), from, ec).string();
    if (ec) break;
    const std::string target = JoinPath(to, rel);
    if (it->is_directory(ec)) {
      if (ErrorCode e = MakeFolders(target); e != err::kNone) return e;
      continue;
    }
    if (!it->is_regular_file(ec)) continue;  // links and devices have no place on a disc
    if (++files > kMaxReaderFiles) return err::kParam;
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0) return FromErrno();
    if (SameBackup(st, target)) continue;
    if (ErrorCode e = PlaceFile(it->path().string(), target, staging); e != err::kNone) return e;
  }
  if (ec) return ErrorFromErrno(ec.value());
  return err::kNone;
}

// Flushes the file system that holds `folder`.
ErrorCode SyncFileSystem(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FromErrno();
  const int r = ::syncfs(fd);
  const ErrorCode e = r == 0 ? err::kNone : FromErrno();
  ::close(fd);
  return e;
}

class Backup {
 public:
  Backup(catalog::Catalog& catalog, const BackupOptions& options, const BackupProgress& progress,
         BackupReport& report)
      : catalog_(catalog), o_(options), progress_(progress), report_(report) {}

  ErrorCode run() {
    if (o_.include_catalog && (!catalog_.titled() || catalog_.changed())) {
      return fail(BackupFailure::kNotSaved, err::kParam);
    }
    if (!IsFolder(o_.destination)) return fail(BackupFailure::kDestinationNotFound, err::kFolderNotFound);
    if (o_.reset_paths && catalog_.read_only) return fail(BackupFailure::kIoError, err::kWritePermission);
    if (ErrorCode e = prepare(); e != err::kNone) return e;
    if (ErrorCode e = transfer(); e != err::kNone) return e;
    if (o_.include_catalog) {
      if (ErrorCode e = catalogCopy(); e != err::kNone) return fail(FailureOf(e), e);
      if (ErrorCode e = reader(); e != err::kNone) return fail(FailureOf(e), e);
      if (ErrorCode e = autorun(); e != err::kNone) return fail(FailureOf(e), e);
    }
    // The copies reach the disk before the run reports success: the disk
    // may be taken out next.
    if (ErrorCode e = SyncFileSystem(o_.destination); e != err::kNone) return fail(BackupFailure::kIoError, e);
    return err::kNone;
  }

 private:
  struct Planned {
    std::uint32_t id;
    std::string source;
    std::uint64_t size;
  };

  ErrorCode fail(BackupFailure why, ErrorCode e) {
    report_.failure = why;
    return e;
  }

  int ask(BackupStage stage, ProgressPhase phase, int done, int total) {
    return progress_ ? progress_(stage, phase, done, total) : 0;
  }

  ErrorCode prepare() {
    std::vector<int> cells;
    for (int cell = 1; cell <= catalog_.itemCount(); ++cell) {
      if (o_.visible_only && catalog_.cells[static_cast<std::size_t>(cell - 1)].hidden()) continue;
      cells.push_back(cell);
    }
    const int total = static_cast<int>(cells.size());
    if (int a = ask(BackupStage::kPreparing, ProgressPhase::kStart, 0, total); a != 0) return StopCode(a);
    int done = 0;
    for (int cell : cells) {
      const std::uint32_t id = catalog_.cells[static_cast<std::size_t>(cell - 1)].item_id;
      std::string path;
      struct stat st {};
      if (catalog::FindItemFile(catalog_, cell, path) != err::kNone || ::stat(path.c_str(), &st) != 0 ||
          !S_ISREG(st.st_mode)) {
        report_.missing.push_back(id);
      } else {
        plan_.push_back({id, path, static_cast<std::uint64_t>(st.st_size)});
        report_.total_bytes += static_cast<std::uint64_t>(st.st_size);
      }
      if (int a = ask(BackupStage::kPreparing, ProgressPhase::kStep, ++done, total); a != 0) {
        (void)ask(BackupStage::kPreparing, ProgressPhase::kEnd, done, total);  // stopping either way
        return StopCode(a);
      }
    }
    (void)ask(BackupStage::kPreparing, ProgressPhase::kEnd, done, total);  // the step is over
    if (!report_.missing.empty()) return fail(BackupFailure::kFilesMissing, err::kFileNotFound);
    if (o_.staging == BackupStaging::kCopy) {
      std::uint64_t free_bytes = 0;
      if (FreeBytes(o_.destination, &free_bytes) == err::kNone && report_.total_bytes > free_bytes) {
        return fail(BackupFailure::kItemsNotAdded, err::kDiskFull);
      }
    }
    return err::kNone;
  }

  // The folder the file of `source_folder` goes to.
  ErrorCode targetFolder(const std::string& source_folder, std::string* out) {
    if (!o_.keep_folders) {
      *out = o_.destination;
      return err::kNone;
    }
    auto known = folders_.find(source_folder);
    if (known != folders_.end()) {
      *out = known->second;
      return err::kNone;
    }
    const std::string below = PathBelowMountPoint(source_folder);
    std::string folder = below.empty() ? o_.destination : JoinPath(o_.destination, below);
    if (ErrorCode e = MakeFolders(folder); e != err::kNone) return e;
    folders_[source_folder] = folder;
    *out = folder;
    return err::kNone;
  }

  ErrorCode transfer() {
    const int total = static_cast<int>(plan_.size());
    if (int a = ask(BackupStage::kTransferring, ProgressPhase::kStart, 0, total); a != 0) return StopCode(a);
    int done = 0;
    ErrorCode result = err::kNone;
    for (const Planned& p : plan_) {
      result = one(p);
      if (result != err::kNone) break;
      if (int a = ask(BackupStage::kTransferring, ProgressPhase::kStep, ++done, total); a != 0) {
        result = StopCode(a);
        break;
      }
    }
    (void)ask(BackupStage::kTransferring, ProgressPhase::kEnd, done, total);  // the step is over
    return result;
  }

  ErrorCode one(const Planned& p) {
    std::string folder;
    if (ErrorCode e = targetFolder(ParentFolder(p.source), &folder); e != err::kNone) return fail(FailureOf(e), e);
    BackupFile file{p.id, p.source, JoinPath(folder, LeafName(p.source)), p.size, false};
    struct stat source {};
    if (::stat(p.source.c_str(), &source) != 0) {
      const ErrorCode e = FromErrno();
      return fail(BackupFailure::kIoError, e);
    }
    struct stat existing {};
    if (::lstat(file.target.c_str(), &existing) == 0) {
      // The same file (a backup into the file's own folder, or a second
      // run) is there already; anything else of that name stays.
      const bool same_inode = existing.st_dev == source.st_dev && existing.st_ino == source.st_ino;
      if (!same_inode && !SameBackup(source, file.target)) return fail(BackupFailure::kItemsNotAdded, err::kDuplicateName);
      file.already_there = true;
    } else if (ErrorCode e = PlaceFile(p.source, file.target, o_.staging); e != err::kNone) {
      return fail(FailureOf(e), e);
    }
    if (o_.reset_paths) {
      const int cell = catalog_.cellOf(p.id);
      if (cell != 0) {
        if (ErrorCode e = catalog::RepointItem(catalog_, cell, file.target); e != err::kNone) {
          if (!file.already_there) (void)::unlink(file.target.c_str());  // the catalog did not follow
          return fail(BackupFailure::kIoError, e);
        }
      }
    }
    report_.files.push_back(std::move(file));
    return err::kNone;
  }

  ErrorCode catalogCopy() {
    const std::string source = catalog_.file_spec.path;
    const std::string target = JoinPath(o_.destination, LeafName(source));
    struct stat a {}, b {};
    if (::stat(source.c_str(), &a) == 0 && ::stat(target.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino) {
      return err::kDuplicateName;  // the destination is the catalog's own folder
    }
    // The saved file is the catalog as saved: a byte copy of it is a saved
    // copy, and the open catalog keeps its own file.
    if (ErrorCode e = CopyFileTo(source, target, Placement::kReplace, CopyDurability::kFlushed); e != err::kNone) {
      return e;
    }
    if (o_.reset_paths && !report_.files.empty()) {
      if (ErrorCode e = repointCopy(target); e != err::kNone) {
        (void)::unlink(target.c_str());  // a copy that points at the old files is no backup of this run
        return e;
      }
    }
    report_.catalog_copy = target;
    return err::kNone;
  }

  // Opens the copy and points its items at the backed-up files.
  ErrorCode repointCopy(const std::string& path) {
    FileSpec spec;
    if (ErrorCode e = MakeFileSpec(path, spec); e != err::kNone) return e;
    catalog::OpenOptions options;
    options.exclusive = true;
    options.wait_ms = 0;
    std::unique_ptr<catalog::Catalog> copy;
    const std::string password = catalog_.password;
    ErrorCode e = catalog::CreateCatalog(&spec, o_.copy_scratch, [&]() -> std::optional<std::string> { return password; },
                                         {}, copy, options);
    if (e != err::kNone) {
      if (copy) catalog::CloseCatalog(std::move(copy), catalog::CloseSettings::kLeave);
      return e;
    }
    for (const BackupFile& f : report_.files) {
      const int cell = copy->cellOf(f.item_id);
      if (cell == 0) continue;
      e = catalog::RepointItem(*copy, cell, f.target);
      if (e != err::kNone) break;
    }
    if (e == err::kNone) e = catalog::SaveCatalog(*copy, nullptr, {});
    catalog::CloseCatalog(std::move(copy), catalog::CloseSettings::kLeave);
    return e;
  }

  ErrorCode reader() {
    if (!o_.reader_folder) {
      report_.warnings.push_back("The reader program is not installed: the backup holds the catalog without it.");
      return err::kNone;
    }
    if (ErrorCode e = CopyFolder(*o_.reader_folder, JoinPath(o_.destination, std::string(kReadersFolder)), o_.staging);
        e != err::kNone) {
      return e;
    }
    report_.reader_copied = true;
    return err::kNone;
  }

  ErrorCode autorun() {
    const std::string text = AutorunText(CatalogName(catalog_.file_spec.path), LeafName(catalog_.file_spec.path));
    const std::string target = JoinPath(o_.destination, std::string(kAutorunFileName));
    // Written beside under a temporary name and renamed over an older one.
    std::string temporary;
    if (ErrorCode e = MakeTemporaryName(o_.destination, ".autorun.norvo-", TemporaryFile::kKept, &temporary);
        e != err::kNone) {
      return e;
    }
    File f;
    FileSpec spec;
    (void)MakeFileSpec(temporary, spec);  // it exists
    ErrorCode e = f.open(spec, Permission::kReadWrite);
    if (e == err::kNone) {
      e = f.writeAt(0, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    if (e == err::kNone) e = f.flush();
    f.close();
    if (e == err::kNone && ::chmod(temporary.c_str(), 0644) != 0) e = FromErrno();
    if (e == err::kNone && ::rename(temporary.c_str(), target.c_str()) != 0) e = FromErrno();
    if (e != err::kNone) (void)::unlink(temporary.c_str());  // the older file, if any, stays
    return e;
  }

  catalog::Catalog& catalog_;
  const BackupOptions& o_;
  const BackupProgress& progress_;
  BackupReport& report_;
  std::vector<Planned> plan_;
  std::map<std::string, std::string> folders_;
};

}  // namespace

std::string CatalogName(const std::string& catalog_path) {
  std::string leaf = LeafName(catalog_path);
  if (leaf.size() > kCatalogExtension.size()) {
    std::string tail = leaf.substr(leaf.size() - kCatalogExtension.size());
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (tail == kCatalogExtension) leaf.resize(leaf.size() - kCatalogExtension.size());
  }
  return leaf;
}

std::string AutorunText(std::string_view catalog_name, std::string_view catalog_file_name) {
  const std::string program = "\\readers\\win\\NorvoReader.exe";
  std::string text;
  text += "[autorun]\r\n";
  text += "icon = " + program + ",1\r\n";
  text += "label = " + std::string(catalog_name) + "\r\n";
  text += "open = " + program + " " + std::string(catalog_file_name) + "\r\n";
  text += "shell\\verb\\command = " + program + " " + std::string(catalog_file_name) + "\r\n";
  text += "shell\\verb = " + std::string(kRunCatalogVerb) + "\r\n";
  text += "shell = " + std::string(kRunCatalogVerb) + "\r\n";
  // Windows reads the file in its 8-bit code page; names it cannot hold
  // stay UTF-8 rather than be lost.
  bool lossless = false;
  std::string eight_bit = Utf8ToWindows1252(text, &lossless);
  return lossless ? eight_bit : text;
}

std::string PathBelowMountPoint(const std::string& folder) {
  struct stat st {};
  if (folder.empty() || folder[0] != '/' || ::stat(folder.c_str(), &st) != 0) {
    // Not there: the whole path below "/".
    std::string rel = folder;
    while (!rel.empty() && rel.front() == '/') rel.erase(rel.begin());
    return rel;
  }
  std::string top = folder;
  for (int depth = 0; depth < kMaxFolderDepth && top != "/"; ++depth) {
    const std::string parent = ParentFolder(top);
    struct stat up {};
    if (parent.empty() || ::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
    top = parent;
  }
  if (top == folder) return "";
  std::string rel = folder.substr(top == "/" ? 1 : top.size() + 1);
  return rel;
}

std::optional<std::string> FindReaderFolder(const std::vector<std::string>& roots) {
  for (const std::string& root : roots) {
    const std::string folder = JoinPath(root, std::string(kReaderDataFolder));
    if (CheckRegularFile(JoinPath(folder, std::string(kReaderProgram))) == err::kNone) return folder;
  }
  return std::nullopt;
}

ErrorCode RunBackup(catalog::Catalog& catalog, const BackupOptions& options, const BackupProgress& progress,
                    BackupReport* report) {
  *report = BackupReport{};
  Backup backup(catalog, options, progress, *report);
  return backup.run();
}

}  // namespace norvo::output
