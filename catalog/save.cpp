// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "catalog/catalog_file.h"
#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

constexpr std::size_t kLockMarkerSize = sizeof(kLockMarker) - 1;
constexpr std::size_t kSlackFieldOffset = 0x3E8;

bool BeginsWithMarker(const std::string& path) {
  FileSpec spec;
  if (MakeFileSpec(path, spec) != err::kNone) return false;
  File f;
  if (f.open(spec, Permission::kRead) != err::kNone) return false;
  std::array<std::uint8_t, kLockMarkerSize> head{};
  if (f.readAt(0, head) != err::kNone) return false;
  return std::memcmp(head.data(), kLockMarker, kLockMarkerSize) == 0;
}

// A LockFile is live while some instance holds a write lock on it; the locks
// are per open file description, so they also tell two Catalogs of one
// process apart, and they work on shared network folders.
bool LockIsHeld(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;
  bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

// Deletes a LockFile left behind by an instance that ended without closing.
// True when the slot's file is gone afterwards.
bool ClearStaleLock(const std::string& path) {
  if (!BeginsWithMarker(path) || LockIsHeld(path)) return false;
  FileSpec spec;
  MakeFileSpec(path, spec);
  return DeleteFile(spec) == err::kNone;
}

bool TakeWriteLock(File& file) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return ::fcntl(file.descriptor(), F_OFD_SETLK, &lock) == 0;
}

// Reads a whole stored record (fixed part and parts) as it lies in the file.
ErrorCode ReadStoredRecord(const File& file, std::int64_t offset, std::int64_t file_length,
                           std::vector<std::uint8_t>& out) {
  std::uint64_t size = 0;
  if (ErrorCode e = ReadStoredSize(file, offset, &size); e != err::kNone) return e;
  if (size > static_cast<std::uint64_t>(file_length - offset)) return err::kEndOfFile;
  out.resize(static_cast<std::size_t>(size));
  return file.readAt(offset, out);
}

ErrorCode ReopenReadOnly(Catalog& catalog) {
  catalog.file.close();
  if (!catalog.titled()) return err::kNone;
  return catalog.file.open(catalog.file_spec, Permission::kRead);
}

bool SamePath(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The record-area writing of a save, kept apart from the Catalog until the
// whole save has succeeded, so that a failure leaves the cells as they were.
struct SavePlan {
  std::vector<CatalogCell> cells;
  std::int64_t write_pos = kHeaderSize;
  // In-place only: how far the records moved so far are valid in the file.
  std::int64_t moved_end = -1;
  std::vector<std::uint8_t> record_in_flight;  // a record being moved down
  int in_flight_cell = -1;
};

void Report(const ProgressCallback& progress, int done, int total) {
  if (progress) progress(1, done, total);
}

ErrorCode CopyOldRecords(const File& old_file, File& out, SavePlan& plan, const ProgressCallback& progress, int& done,
                         int total) {
  // Runs of records that lie back to back in the old file go in one copy.
  std::int64_t run_start = -1;
  std::int64_t run_length = 0;
  auto flush = [&]() -> ErrorCode {
    if (run_length == 0) return err::kNone;
    ErrorCode e = out.copyFrom(old_file, run_start, run_length);
    run_length = 0;
    return e;
  };
  for (std::size_t i = 0; i < plan.cells.size(); ++i) {
    CatalogCell& cell = plan.cells[i];
    if (cell.inScratch()) continue;
    std::uint64_t size = 0;
    if (ErrorCode e = ReadStoredSize(old_file, cell.offset, &size); e != err::kNone) return e;
    if (run_length > 0 && run_start + run_length == cell.offset) {
      run_length += static_cast<std::int64_t>(size);
    } else {
      if (ErrorCode f = flush(); f != err::kNone) return f;
      run_start = cell.offset;
      run_length = static_cast<std::int64_t>(size);
    }
    cell.offset = static_cast<std::uint32_t>(plan.write_pos);
    plan.write_pos += static_cast<std::int64_t>(size);
    Report(progress, ++done, total);
  }
  return flush();
}

ErrorCode CompactInPlace(const Catalog& catalog, File& out, std::int64_t file_length, SavePlan& plan,
                         const ProgressCallback& progress, int& done, int total) {
  plan.write_pos = catalog.record_area_end;
  plan.moved_end = plan.write_pos;
  std::vector<std::size_t> behind;  // cells whose records lie at or after the write position
  for (std::size_t i = 0; i < plan.cells.size(); ++i) {
    if (!plan.cells[i].inScratch() && plan.cells[i].offset >= plan.write_pos) behind.push_back(i);
  }
  std::sort(behind.begin(), behind.end(),
            [&](std::size_t a, std::size_t b) { return plan.cells[a].offset < plan.cells[b].offset; });
  for (std::size_t i : behind) {
    // Read whole before writing, so that a move onto itself is safe.
    if (ErrorCode e = ReadStoredRecord(out, plan.cells[i].offset, file_length, plan.record_in_flight);
        e != err::kNone) {
      return e;
    }
    plan.in_flight_cell = static_cast<int>(i);
    if (ErrorCode e = out.writeAt(plan.write_pos, plan.record_in_flight); e != err::kNone) return e;
    plan.in_flight_cell = -1;
    plan.cells[i].offset = static_cast<std::uint32_t>(plan.write_pos);
    plan.write_pos += static_cast<std::int64_t>(plan.record_in_flight.size());
    plan.moved_end = plan.write_pos;
    Report(progress, ++done, total);
  }
  return out.setPosition(SeekMode::kFromStart, plan.write_pos);
}

ErrorCode CopyScratchRecords(const Catalog& catalog, File& out, SavePlan& plan, const ProgressCallback& progress,
                             int& done, int total) {
  std::vector<std::uint8_t> record;
  for (auto& cell : plan.cells) {
    if (!cell.inScratch()) continue;
    if (ErrorCode e = ReadStoredRecord(catalog.scratch, cell.offset, catalog.scratch_end, record); e != err::kNone) {
      return e;
    }
    FixedBytes(record).setU32be(kSlackFieldOffset, 0);  // no slack in a catalog file
    if (ErrorCode e = out.writeAt(plan.write_pos, record); e != err::kNone) return e;
    cell.offset = static_cast<std::uint32_t>(plan.write_pos);
    cell.flags &= ~cell_flags::kInScratch;
    plan.write_pos += static_cast<std::int64_t>(record.size());
    Report(progress, ++done, total);
  }
  return out.setPosition(SeekMode::kFromStart, plan.write_pos);
}

// After a failed save in place: records already moved down are valid at
// their new places; the one caught in the middle of its move goes to the
// ScratchFile from memory. The ScratchFile's records were only read.
void KeepMovedRecords(Catalog& catalog, const SavePlan& plan) {
  if (plan.moved_end < 0) return;
  for (std::size_t i = 0; i < catalog.cells.size() && i < plan.cells.size(); ++i) {
    CatalogCell& cell = catalog.cells[i];
    if (cell.inScratch()) continue;
    if (static_cast<int>(i) == plan.in_flight_cell) {
      std::int64_t at = catalog.scratch_end;
      std::vector<std::uint8_t> padded = plan.record_in_flight;
      FixedBytes(padded).setU32be(kSlackFieldOffset, kScratchSlack);
      padded.resize(padded.size() + kScratchSlack, 0);
      if (catalog.scratch.writeAt(at, padded) == err::kNone) {
        cell.offset = static_cast<std::uint32_t>(at);
        cell.flags |= cell_flags::kInScratch;
        catalog.scratch_end = at + static_cast<std::int64_t>(padded.size());
      }
      continue;
    }
    if (plan.cells[i].offset < plan.moved_end && plan.cells[i].offset != cell.offset) {
      cell.offset = plan.cells[i].offset;
    }
  }
  // Everything below the last completed move is back to back again.
  catalog.record_area_end = static_cast<std::uint32_t>(plan.moved_end);
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
    if (FileExists(path) && !ClearStaleLock(path)) continue;
    FileSpec spec;
    MakeFileSpec(path, spec);
    ErrorCode e = CreateFile(spec, 0, 0);
    if (e == err::kDuplicateName) continue;  // another instance took it just now
    if (e != err::kNone) return e;
    File lock;
    if (e = lock.open(spec, Permission::kReadWrite); e != err::kNone) return e;
    if (!TakeWriteLock(lock)) continue;
    std::span<const std::uint8_t> marker(reinterpret_cast<const std::uint8_t*>(kLockMarker), kLockMarkerSize);
    if (e = lock.writeAt(0, marker); e != err::kNone) {
      lock.close();
      DeleteFile(spec);
      return e;
    }
    catalog.lock_file = std::move(lock);
    catalog.lock_spec = spec;
    catalog.lock_slot = slot;
    catalog.locked_catalog_path = catalog.file_spec.path;
    return err::kNone;
  }
  return err::kPermission;
}

namespace {

// Live LockFiles of a catalog file other than `own_slot`; stale ones are
// deleted on the way.
int CountLiveLocks(const std::string& catalog_path, int own_slot) {
  int count = 0;
  for (int slot = 0; slot < kMaxLockSlots; ++slot) {
    if (slot == own_slot) continue;
    const std::string path = LockFilePath(catalog_path, slot);
    if (!FileExists(path) || !BeginsWithMarker(path)) continue;
    if (LockIsHeld(path)) {
      ++count;
    } else {
      ClearStaleLock(path);
    }
  }
  return count;
}

}  // namespace

int CountOtherOpeners(Catalog& catalog) {
  if (catalog.lock_slot < 0 || !catalog.titled()) return 0;
  return CountLiveLocks(catalog.file_spec.path, catalog.lock_slot);
}

void ReleaseLock(Catalog& catalog) {
  if (catalog.lock_slot < 0) return;
  catalog.lock_file.close();
  catalog.lock_slot = -1;
  // Our own LockFile and any left behind by ended instances; live ones stay.
  for (int slot = 0; slot < kMaxLockSlots; ++slot) {
    const std::string path = LockFilePath(catalog.locked_catalog_path, slot);
    if (FileExists(path)) ClearStaleLock(path);
  }
  catalog.lock_spec = FileSpec{};
  catalog.locked_catalog_path.clear();
}

ErrorCode SaveCatalog(Catalog& catalog, const FileSpec* destination, const ProgressCallback& progress) {
  if (!catalog.scratch.isOpen()) return err::kPermission;
  bool in_place = destination == nullptr ||
                  (catalog.titled() && SamePath(destination->path, catalog.file_spec.path));
  const FileSpec target = destination == nullptr ? catalog.file_spec : *destination;
  if (in_place && CountOtherOpeners(catalog) > 0) return err::kOpenForWriting;
  // Never write over a catalog file that another instance has open.
  if (!in_place && !target.empty() && CountLiveLocks(target.path, -1) > 0) return err::kOpenForWriting;

  if (!catalog.file.isOpen() && !catalog.scratch.isOpen()) return err::kBadName;
  if (target.empty()) return err::kParam;
  std::int64_t catalog_length = 0;
  std::int64_t scratch_length = 0;
  if (catalog.file.isOpen() && catalog.file.endOfFile(&catalog_length) != err::kNone) catalog_length = 0;
  if (catalog.scratch.endOfFile(&scratch_length) != err::kNone) scratch_length = 0;
  const std::int64_t needed = catalog_length + scratch_length + kSaveHeadroom;
  if (needed >= kMaxCatalogBytes) return err::kFileTooLarge;
  std::uint64_t free_bytes = 0;
  if (ErrorCode e = FreeBytes(ParentFolder(target.path), &free_bytes); e != err::kNone) return e;
  if (static_cast<std::uint64_t>(needed) >= free_bytes) return err::kDiskFull;

  if (in_place) {
    // Write test: the file must take a write before we start moving records.
    catalog.file.close();
    File test;
    ErrorCode e = test.open(target, Permission::kReadWrite);
    std::array<std::uint8_t, 1> first{};
    if (e == err::kNone) e = test.readAt(0, first);
    if (e == err::kNone) e = test.writeAt(0, first);
    test.close();
    if (catalog.file.open(target, Permission::kRead) != err::kNone) return err::kWriteFailedDuringSave;
    if (e != err::kNone) return e;
  }

  if (progress) progress(0, 0, 0);
  const int total = catalog.totals.item_count;
  int done = 0;
  SavePlan plan;
  plan.cells.assign(catalog.cells.begin(), catalog.cells.begin() + total);
  File old_file = std::move(catalog.file);
  File out;
  ErrorCode e = err::kNone;
  if (!in_place && !FileExists(target.path)) {
    e = CreateFile(target, FourCC(kCatalogCreator), FourCC(kCatalogFileType));
  }
  if (e == err::kNone) {
    if (in_place) old_file.close();
    e = out.open(target, Permission::kReadWrite);
  }
  std::int64_t length = 0;
  if (e == err::kNone) e = out.endOfFile(&length);
  if (e == err::kNone && length < catalog.totals.total_record_bytes) e = out.setEndOfFile(catalog.totals.total_record_bytes);
  if (e == err::kNone) e = out.writeAt(0, BuildHeader(static_cast<std::uint32_t>(total)));
  if (e == err::kNone) {
    if (in_place) {
      e = CompactInPlace(catalog, out, std::max(length, std::int64_t{catalog.totals.total_record_bytes}), plan,
                         progress, done, total);
    } else {
      e = out.setPosition(SeekMode::kFromStart, static_cast<std::int64_t>(kHeaderSize));
      if (e == err::kNone && old_file.isOpen()) e = CopyOldRecords(old_file, out, plan, progress, done, total);
    }
  }
  if (e == err::kNone) e = CopyScratchRecords(catalog, out, plan, progress, done, total);
  std::uint32_t directory_offset = 0;
  if (e == err::kNone) {
    // The directory describes the cells as they will be after the save.
    std::swap(catalog.cells, plan.cells);
    e = WriteCatalogDirectory(catalog, out, &directory_offset);
    std::swap(catalog.cells, plan.cells);
  }
  if (e == err::kNone) e = out.flush();
  if (progress) progress(2, 0, 0);
  out.close();
  old_file.close();

  if (e != err::kNone) {
    if (in_place) KeepMovedRecords(catalog, plan);
    ReopenReadOnly(catalog);
    return err::kWriteFailedDuringSave;
  }

  // Success: the cells now point into the new file.
  std::copy(plan.cells.begin(), plan.cells.end(), catalog.cells.begin());
  catalog.scratch.setEndOfFile(0);
  catalog.scratch_end = 0;
  const bool new_file = !catalog.titled() || !in_place;
  if (new_file) ReleaseLock(catalog);
  catalog.file_spec = target;
  MakeFileSpec(target.path, catalog.file_spec);
  ReopenReadOnly(catalog);
  if (new_file) AcquireLock(catalog);  // an unlockable folder still leaves a usable catalog
  catalog.record_area_end = directory_offset;
  catalog.directory_offset = directory_offset;
  catalog.saved_item_count = static_cast<std::uint32_t>(total);
  catalog.modification_stamp = 0;
  catalog.display_name = LeafName(target.path);
  catalog.send(Notification::kCatalogChanged);
  return err::kNone;
}

void CloseCatalog(std::unique_ptr<Catalog> catalog, bool write_back_settings) {
  if (!catalog) return;
  catalog->file.close();
  catalog->scratch.close();
  if (!catalog->scratch_spec.empty()) DeleteFile(catalog->scratch_spec);
  if (write_back_settings && catalog->titled() && CountOtherOpeners(*catalog) == 0) {
    // Overwrite the head of the "PREF" chunk; the file's modification time is
    // put back so that this does not count as a change of the file.
    File f;
    struct stat before {};
    if (::stat(catalog->file_spec.path.c_str(), &before) == 0 &&
        f.open(catalog->file_spec, Permission::kReadWrite) == err::kNone) {
      std::int64_t length = 0;
      std::array<std::uint8_t, 8> head{};
      if (f.endOfFile(&length) == err::kNone && length >= 16 && f.readAt(length - 4, std::span(head).first(4)) == err::kNone) {
        std::int64_t pos = ByteReader(std::span(head).first(4)).u32be();
        for (int guard = 0; guard < 4096 && pos + 8 <= length - 8; ++guard) {
          if (f.readAt(pos, head) != err::kNone) break;
          ByteReader r(head);
          std::uint32_t tag = r.u32be();
          std::uint32_t n = r.u32be();
          if (tag == kFileMagic) break;
          if (tag == FourCC("PREF") && n == kSettingsSize && pos + 8 + static_cast<std::int64_t>(n) <= length) {
            f.writeAt(pos + 8, std::span(catalog->settings.bytes).first(kSettingsWriteBackSize));
            break;
          }
          pos += 8 + static_cast<std::int64_t>(n);
        }
      }
      struct timespec times[2] = {before.st_atim, before.st_mtim};
      ::futimens(f.descriptor(), times);
      f.close();
    }
  }
  ReleaseLock(*catalog);
}

ErrorCode RevertCatalog(std::unique_ptr<Catalog>& catalog, const PasswordCallback& password,
                        const ProgressCallback& progress) {
  if (!catalog || !catalog->titled()) return err::kParam;
  if (!catalog->changed()) return err::kNone;
  const FileSpec file = catalog->file_spec;
  const FileSpec scratch = catalog->scratch_spec;
  NotificationCallback notify = catalog->notify;
  CloseCatalog(std::move(catalog), false);
  ErrorCode e = CreateCatalog(&file, scratch, password, progress, catalog);
  if (e == err::kNone) {
    catalog->notify = notify;
    catalog->send(Notification::kCatalogChanged);
  }
  return e;
}

}  // namespace norvo::catalog
