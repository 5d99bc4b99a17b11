// SPDX-License-Identifier: GPL-3.0-or-later
//
// What holds at each step of a save.
//
// In place (SaveInPlace):
//   1. Nothing is written until the checks pass: the catalog is writable, no
//      other process has it open (LockFiles and the exclusive access lock),
//      and the disk has room. The access lock stays exclusive to the end.
//   2. The journal saves the header and the file's tail from the record-area
//      end, the first byte the save may change, and is durable before the
//      first write to the catalog file.
//   3. Records are moved down and appended, the directory written, the file
//      cut and flushed. The Catalog's cells are not touched: the new offsets
//      live in the SavePlan.
//   4. The journal is deleted: the new file counts from here. Only then are
//      the plan's cells adopted and the ScratchFile emptied.
//   On a failure in 2-4 the journal is played back, so the file and the
//   Catalog are again as before the save; only if that fails too is the
//   result err::kWriteFailedDuringSave, and the journal stays for the next open.
//
// To another file (SaveToNewFile):
//   1. The destination is not a catalog another process has open.
//   2. Everything goes to a new file with a temporary name in the
//      destination's folder (claimed, so that a crash leaves nothing behind
//      after the next start), which is flushed and renamed over the
//      destination; the folder is flushed.
//   3. Only then does the Catalog move to the new file and its locks.
//   On failure the temporary file is deleted; the destination and the
//   Catalog are as before.
#include "catalog/save.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "catalog/catalog_file.h"
#include "catalog/engine_settings.h"
#include "catalog/rollback_journal.h"
#include "platform/byte_io.h"
#include "platform/fault_injection.h"
#include "platform/owned_temporaries.h"

namespace norvo::catalog {
namespace {

constexpr std::size_t kSlackFieldOffset = 0x3E8;

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

// The cells as the save places them, kept apart from the Catalog until the
// new file counts.
struct SavePlan {
  std::vector<CatalogCell> cells;
  std::int64_t write_pos = kHeaderSize;
  std::uint32_t directory_offset = 0;
  int done = 0;
  int total = 0;
  ProgressCallback progress;

  void reportRecord() {
    ++done;
    if (progress) progress(ProgressPhase::kStep, done, total);
  }
};

ErrorCode CopyOldRecords(const File& old_file, File& out, SavePlan& plan) {
  // Runs of records that lie back to back in the old file go in one copy.
  std::int64_t run_start = -1;
  std::int64_t run_length = 0;
  auto flush = [&]() -> ErrorCode {
    if (run_length == 0) return err::kNone;
    ErrorCode e = out.copyFrom(old_file, run_start, run_length);
    run_length = 0;
    return e;
  };
  for (CatalogCell& cell : plan.cells) {
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
    plan.reportRecord();
  }
  return flush();
}

// Moves the records that lie at or after the record-area end down to close
// the gaps left by removed and replaced records, in order of position. Each
// is read whole before it is written, so a move onto itself is safe.
ErrorCode CompactInPlace(std::uint32_t record_area_end, File& out, std::int64_t file_length, SavePlan& plan) {
  plan.write_pos = record_area_end;
  std::vector<std::size_t> behind;
  for (std::size_t i = 0; i < plan.cells.size(); ++i) {
    if (!plan.cells[i].inScratch() && plan.cells[i].offset >= plan.write_pos) behind.push_back(i);
  }
  std::sort(behind.begin(), behind.end(),
            [&](std::size_t a, std::size_t b) { return plan.cells[a].offset < plan.cells[b].offset; });
  std::vector<std::uint8_t> record;
  for (std::size_t i : behind) {
    if (ErrorCode e = ReadStoredRecord(out, plan.cells[i].offset, file_length, record); e != err::kNone) return e;
    if (ErrorCode e = out.writeAt(plan.write_pos, record); e != err::kNone) return e;
    plan.cells[i].offset = static_cast<std::uint32_t>(plan.write_pos);
    plan.write_pos += static_cast<std::int64_t>(record.size());
    plan.reportRecord();
  }
  return out.setPosition(SeekMode::kFromStart, plan.write_pos);
}

ErrorCode CopyScratchRecords(const Catalog& catalog, File& out, SavePlan& plan) {
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
    plan.reportRecord();
  }
  return out.setPosition(SeekMode::kFromStart, plan.write_pos);
}

// The directory describes the cells as they will be after the save.
ErrorCode WriteDirectory(Catalog& catalog, File& out, SavePlan& plan) {
  std::swap(catalog.cells, plan.cells);
  ErrorCode e = WriteCatalogDirectory(catalog, out, &plan.directory_offset);
  std::swap(catalog.cells, plan.cells);
  return e;
}

// Room for the save: the catalog file and the ScratchFile together, with
// headroom, below 2 GB and below the destination's free space.
ErrorCode CheckRoom(const Catalog& catalog, const std::string& destination) {
  std::int64_t catalog_length = 0;
  std::int64_t scratch_length = 0;
  if (catalog.file.isOpen() && catalog.file.endOfFile(&catalog_length) != err::kNone) catalog_length = 0;
  if (catalog.scratch.endOfFile(&scratch_length) != err::kNone) scratch_length = 0;
  const std::int64_t needed = catalog_length + scratch_length + GetEngineSettings().save_reserve_bytes;
  if (needed >= kMaxCatalogBytes) return err::kFileTooLarge;
  std::uint64_t free_bytes = 0;
  if (ErrorCode e = FreeBytes(ParentFolder(destination), &free_bytes); e != err::kNone) return e;
  if (static_cast<std::uint64_t>(needed) >= free_bytes) return err::kDiskFull;
  return err::kNone;
}

// The Catalog takes the saved state: cells, an empty ScratchFile, the layout
// of the new file.
void AdoptSavedState(Catalog& catalog, const SavePlan& plan) {
  std::copy(plan.cells.begin(), plan.cells.end(), catalog.cells.begin());
  // A ScratchFile that keeps its old records only wastes space: nothing
  // refers to them any more.
  (void)catalog.scratch.setEndOfFile(0);
  catalog.scratch_end = 0;
  catalog.record_area_end = plan.directory_offset;
  catalog.directory_offset = plan.directory_offset;
  catalog.saved_item_count = static_cast<std::uint32_t>(plan.total);
  catalog.modification_stamp = 0;
  catalog.display_name = LeafName(catalog.file_spec.path);
}

LockKind KindToHold(const Catalog& catalog) {
  return catalog.options.exclusive ? LockKind::kExclusive : LockKind::kShared;
}

ErrorCode SaveInPlace(Catalog& catalog, SavePlan& plan) {
  const FileSpec target = catalog.file_spec;
  if (catalog.read_only) return err::kWritePermission;
  if (CountOtherOpeners(catalog) > 0) return err::kOpenForWriting;
  if (ErrorCode e = CheckRoom(catalog, target.path); e != err::kNone) return e;
  if (ErrorCode e = catalog.access.lock(LockKind::kExclusive, kSaveLockWaitMs); e != err::kNone) return e;
  struct RestoreAccess {
    Catalog& c;
    // Going back from exclusive to shared is a conversion that cannot wait.
    ~RestoreAccess() { (void)c.access.lock(KindToHold(c), 0); }
  } restore{catalog};

  // Write test: the file must take a write before anything is journaled.
  {
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

  if (plan.progress) plan.progress(ProgressPhase::kStart, 0, 0);
  File out;
  std::int64_t length = 0;
  ErrorCode e = out.open(target, Permission::kReadWrite);
  if (e == err::kNone) e = out.endOfFile(&length);
  RollbackJournal journal;
  if (e == err::kNone) {
    const ByteRange changed[] = {{0, static_cast<std::int64_t>(kHeaderSize)},
                                 {catalog.record_area_end, length - catalog.record_area_end}};
    e = journal.begin(target.path, out, changed);
  }
  if (e != err::kNone) {
    if (plan.progress) plan.progress(ProgressPhase::kEnd, 0, 0);
    return e;
  }
  if (length < catalog.totals.total_record_bytes) e = out.setEndOfFile(catalog.totals.total_record_bytes);
  if (e == err::kNone) e = out.writeAt(0, BuildHeader(static_cast<std::uint32_t>(plan.total)));
  if (e == err::kNone) {
    e = CompactInPlace(catalog.record_area_end, out, std::max<std::int64_t>(length, catalog.totals.total_record_bytes),
                       plan);
  }
  if (e == err::kNone) e = CopyScratchRecords(catalog, out, plan);
  if (e == err::kNone) e = WriteDirectory(catalog, out, plan);
  if (e == err::kNone) e = out.flush();
  if (e == err::kNone) e = journal.commit();
  if (e != err::kNone) {
    const ErrorCode undo = journal.rollback(out);
    if (plan.progress) plan.progress(ProgressPhase::kEnd, 0, 0);
    out.close();
    (void)ReopenReadOnly(catalog);  // a failure shows at the next read of a record
    return undo == err::kNone ? e : err::kWriteFailedDuringSave;
  }
  if (plan.progress) plan.progress(ProgressPhase::kEnd, 0, 0);
  out.close();
  // Still under the exclusive lock: nobody else can be starting a save.
  if (GetEngineSettings().journal == JournalKeeping::kEverySave) {
    (void)DiscardIdleJournal(target.path);  // an empty journal left behind is cold and harms nobody
  }
  AdoptSavedState(catalog, plan);
  return ReopenReadOnly(catalog);
}

// Makes a new, empty file with the catalog's type codes under a temporary
// name beside `target`, claimed before it exists.
ErrorCode CreateTemporaryBeside(const std::string& target, TemporaryClaim& claim, FileSpec& out) {
  std::string path;
  ErrorCode e = err::kNone;
  int fd = CreateClaimedTemporary(target, 0666, claim, &path, &e);
  if (fd < 0) return e;
  ::close(fd);
  (void)MakeFileSpec(path, out);  // it exists
  SetFileTypeAndCreator(out, FourCC(kCatalogCreator), FourCC(kCatalogFileType));
  return err::kNone;
}

ErrorCode SaveToNewFile(Catalog& catalog, const FileSpec& target, SavePlan& plan) {
  // Never replace a catalog file that another process has open.
  if (FileExists(target.path) && (CountLiveLocks(target.path, -1) > 0 || AnyLockHeld(target.path))) {
    return err::kOpenForWriting;
  }
  if (ErrorCode e = CheckRoom(catalog, target.path); e != err::kNone) return e;
  if (plan.progress) plan.progress(ProgressPhase::kStart, 0, 0);

  TemporaryClaim claim;
  FileSpec temporary;
  ErrorCode e = CreateTemporaryBeside(target.path, claim, temporary);
  File out;
  if (e == err::kNone) e = out.open(temporary, Permission::kReadWrite);
  if (e == err::kNone && out.endOfFile(&plan.write_pos) == err::kNone &&
      plan.write_pos < catalog.totals.total_record_bytes) {
    e = out.setEndOfFile(catalog.totals.total_record_bytes);  // pre-sized: a full disk shows now
  }
  plan.write_pos = kHeaderSize;
  if (e == err::kNone) e = out.writeAt(0, BuildHeader(static_cast<std::uint32_t>(plan.total)));
  if (e == err::kNone) e = out.setPosition(SeekMode::kFromStart, static_cast<std::int64_t>(kHeaderSize));
  if (e == err::kNone && catalog.file.isOpen()) e = CopyOldRecords(catalog.file, out, plan);
  if (e == err::kNone) e = CopyScratchRecords(catalog, out, plan);
  if (e == err::kNone) e = WriteDirectory(catalog, out, plan);
  if (e == err::kNone) e = out.flush();
  out.close();
  if (e == err::kNone) e = faults::BeforeWrite();
  if (e == err::kNone && ::rename(temporary.path.c_str(), target.path.c_str()) != 0) e = ErrorFromErrno(errno);
  if (plan.progress) plan.progress(ProgressPhase::kEnd, 0, 0);
  if (e != err::kNone) {
    if (!temporary.empty()) ::unlink(temporary.path.c_str());
    return e;
  }
  // The rename happened; a folder that cannot be flushed does not undo it.
  (void)FlushFolder(ParentFolder(target.path));

  // The Catalog moves to its new file, with a LockFile and access lock there.
  ReleaseLock(catalog);
  catalog.access.close();
  (void)MakeFileSpec(target.path, catalog.file_spec);  // it exists now
  AdoptSavedState(catalog, plan);
  ErrorCode reopened = ReopenReadOnly(catalog);
  const bool access = TakeAccessLock(catalog, target.path, KindToHold(catalog), 0) == err::kNone;
  const bool locked = AcquireLock(catalog) == err::kNone;
  // A folder where no LockFile can be made still leaves a catalog to view.
  catalog.read_only = !access || !locked || !catalog.access.writable();
  return reopened;
}

}  // namespace

ErrorCode SaveCatalog(Catalog& catalog, const FileSpec* destination, const ProgressCallback& progress) {
  if (!catalog.scratch.isOpen()) return err::kPermission;
  const bool in_place =
      destination == nullptr || (catalog.titled() && SamePath(destination->path, catalog.file_spec.path));
  const FileSpec target = destination == nullptr ? catalog.file_spec : *destination;
  if (!catalog.file.isOpen() && !catalog.scratch.isOpen()) return err::kBadName;
  if (target.empty()) return err::kParam;

  SavePlan plan;
  plan.total = catalog.totals.item_count;
  plan.cells.assign(catalog.cells.begin(), catalog.cells.begin() + plan.total);
  plan.progress = progress;
  ErrorCode e = in_place ? SaveInPlace(catalog, plan) : SaveToNewFile(catalog, target, plan);
  if (e == err::kNone) catalog.send(Notification::kCatalogChanged);
  return e;
}

namespace {

// Offset of the "PREF" chunk's data in the catalog file, or -1.
std::int64_t FindSettingsChunk(const File& f) {
  std::int64_t length = 0;
  ChunkDirectory directory;
  if (f.endOfFile(&length) != err::kNone || ReadChunkDirectory(f, length, directory) != err::kNone) return -1;
  ChunkWalker walk(directory);
  for (DirectoryChunk chunk; walk.next(chunk);) {
    if (chunk.tag == kSettingsChunkTag && chunk.data.size() == kSettingsSize) return chunk.file_offset;
  }
  return -1;
}

// Overwrites the head of the "PREF" chunk through the journal; the file's
// modification time is put back, so that this does not count as a change.
void WriteBackSettings(Catalog& catalog) {
  if (catalog.read_only || CountOtherOpeners(catalog) > 0) return;
  if (catalog.access.lock(LockKind::kExclusive, 0) != err::kNone) return;  // someone is reading it
  struct stat before {};
  File f;
  if (::stat(catalog.file_spec.path.c_str(), &before) != 0 ||
      f.open(catalog.file_spec, Permission::kReadWrite) != err::kNone) {
    return;
  }
  const std::int64_t at = FindSettingsChunk(f);
  if (at < 0) return;
  const ByteRange changed[] = {{at, static_cast<std::int64_t>(kSettingsWriteBackSize)}};
  RollbackJournal journal;
  if (journal.begin(catalog.file_spec.path, f, changed) != err::kNone) return;
  ErrorCode e = f.writeAt(at, std::span(catalog.settings.bytes).first(kSettingsWriteBackSize));
  if (e == err::kNone) e = f.flush();
  if (e == err::kNone) e = journal.commit();
  // Settings that cannot be written back are not worth a message at close:
  // the file is put back as it was, or the next open does it.
  if (e != err::kNone) (void)journal.rollback(f);
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  (void)::futimens(f.descriptor(), times);
}

}  // namespace

void CloseCatalog(std::unique_ptr<Catalog> catalog, CloseSettings settings) {
  if (!catalog) return;
  catalog->file.close();
  catalog->scratch.close();
  if (!catalog->scratch_spec.empty()) (void)DeleteFile(catalog->scratch_spec);  // a leftover is swept later
  if (settings == CloseSettings::kWriteBack && catalog->titled()) WriteBackSettings(*catalog);
  // The emptied journal of this session's saves goes while the access lock
  // still keeps anyone else from starting a save.
  if (catalog->titled() && !catalog->read_only && catalog->access.held()) {
    (void)DiscardIdleJournal(catalog->file_spec.path);  // a leftover is cold and harms nobody
  }
  ReleaseLock(*catalog);
  catalog->access.close();
}

ErrorCode RevertCatalog(std::unique_ptr<Catalog>& catalog, const PasswordCallback& password,
                        const ProgressCallback& progress) {
  if (!catalog || !catalog->titled()) return err::kParam;
  if (!catalog->changed()) return err::kNone;
  const FileSpec file = catalog->file_spec;
  const FileSpec scratch = catalog->scratch_spec;
  const OpenOptions options = catalog->options;
  NotificationCallback notify = catalog->notify;
  CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
  ErrorCode e = CreateCatalog(&file, scratch, password, progress, catalog, options);
  if (e == err::kNone) {
    catalog->notify = notify;
    catalog->send(Notification::kCatalogChanged);
  }
  return e;
}

}  // namespace norvo::catalog
