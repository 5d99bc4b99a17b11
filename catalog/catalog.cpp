// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/catalog.h"

#include <algorithm>
#include <chrono>

#include "catalog/catalog_file.h"
#include "catalog/engine_settings.h"
#include "catalog/lock_files.h"
#include "catalog/rollback_journal.h"
#include "catalog/save.h"
#include "platform/alias.h"
#include "platform/dates.h"
#include "platform/short_name.h"
#include "platform/text_encoding.h"

namespace norvo::catalog {
namespace {

bool ValidCell(const Catalog& catalog, int cell) { return cell >= 1 && cell <= catalog.totals.item_count; }

CatalogCell& CellAt(Catalog& catalog, int cell) { return catalog.cells[static_cast<std::size_t>(cell - 1)]; }
const CatalogCell& CellAt(const Catalog& catalog, int cell) { return catalog.cells[static_cast<std::size_t>(cell - 1)]; }

const File& RecordFile(const Catalog& catalog, const CatalogCell& cell) {
  return cell.inScratch() ? catalog.scratch : catalog.file;
}

// Subtracts without going below zero, as the totals never do.
template <class T>
T FlooredSub(T total, T amount) {
  return total > amount ? static_cast<T>(total - amount) : T{0};
}

// Keeps (or forgets) the item's true names beside its record.
void RememberTrueNames(Catalog& catalog, std::uint32_t item_id, const ItemRecord& record) {
  if (record.true_file_name.empty() && record.true_display_name.empty()) {
    catalog.item_true_names.erase(item_id);
  } else {
    catalog.item_true_names[item_id] = {record.true_file_name, record.true_display_name};
  }
}

// Adds a record as a new item: appends it to the ScratchFile with its slack,
// then takes the next cell. Nothing changes when the append fails.
ErrorCode AppendNewItem(Catalog& catalog, const ItemRecord& record, const std::string& folder_path,
                        std::uint32_t extra_flags, std::uint32_t* item_id) {
  if (!catalog.scratch.isOpen()) return err::kPermission;
  if (catalog.totals.item_count >= kMaxCatalogItems - catalog.totals.reserved_slots) return err::kCatalogFull;
  std::uint32_t stored = 0;
  std::int64_t offset = catalog.scratch_end;
  if (offset + static_cast<std::int64_t>(record.storedSize()) + kScratchSlack > 0xFFFFFFFFll) return err::kDiskFull;
  if (WriteItemRecord(record, catalog.scratch, offset, kScratchSlack, SlackBytes::kWritten, &stored) != err::kNone) {
    return err::kDiskFull;
  }
  catalog.scratch_end = offset + stored + kScratchSlack;

  CatalogCell cell;
  cell.offset = static_cast<std::uint32_t>(offset);
  cell.item_id = catalog.next_item_id++;
  cell.flags = InitialsFromDisplayName(record.display_name.text()) | cell_flags::kAdded | cell_flags::kInScratch |
               extra_flags;
  catalog.cells.push_back(cell);

  auto& t = catalog.totals;
  t.item_count += 1;
  t.total_media_bytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(t.total_media_bytes) + record.file_size);
  t.total_record_bytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(t.total_record_bytes) + stored);
  catalog.media_bytes += record.file_size;

  if (!folder_path.empty()) catalog.folders.assign(cell.item_id, folder_path);
  RememberTrueNames(catalog, cell.item_id, record);
  catalog.markChanged();
  if (item_id) *item_id = cell.item_id;
  catalog.send(Notification::kItemAdded, cell.item_id);
  catalog.send(Notification::kCatalogChanged, cell.item_id);
  return err::kNone;
}

}  // namespace

int Catalog::cellOf(std::uint32_t item_id) const {
  for (int i = 0; i < totals.item_count; ++i) {
    if (cells[static_cast<std::size_t>(i)].item_id == item_id) return i + 1;
  }
  return 0;
}

void Catalog::markChanged() {
  modification_stamp = CurrentDateTime();
  if (modification_stamp == 0) modification_stamp = 1;
}

void Catalog::send(Notification n, std::uint32_t item_id) const {
  if (notify) notify(n, item_id);
}

std::uint32_t InitialsFromDisplayName(const std::string& display_name) {
  std::uint32_t first = display_name.size() > 0 ? static_cast<std::uint8_t>(display_name[0]) : 0;
  std::uint32_t second = display_name.size() > 1 ? static_cast<std::uint8_t>(display_name[1]) : 0;
  return (first << 8) | (second << 16);
}

namespace {

// How long an opener that found a hot journal tries for the exclusive lock
// before it looks again whether another opener has played it back.
constexpr int kRecoveryLockTryMs = 50;

// Errors of a LockFile that say the folder or disk cannot take one, after
// which the catalog can still be viewed.
bool CannotWriteBeside(ErrorCode e) {
  return e == err::kWritePermission || e == err::kDiskFull;
}

}  // namespace

int OpenOptions::waitMs() const { return wait_ms >= 0 ? wait_ms : GetEngineSettings().busy_wait_ms; }

namespace {

ErrorCode OpenForUse(Catalog& catalog, const FileSpec& file, const PasswordCallback& password,
                     const ProgressCallback& progress) {
  const OpenOptions& options = catalog.options;
  const LockKind kind = options.exclusive ? LockKind::kExclusive : LockKind::kShared;
  if (ErrorCode e = TakeAccessLock(catalog, file.path, kind, options.waitMs()); e != err::kNone) return e;
  // A save that was interrupted is undone before anyone reads: under the
  // exclusive lock, since no other process may read the file while it is
  // put back. Two openers may find the same hot journal: the lock is let go
  // before waiting for the exclusive one, so that one of them gets it and
  // the other then finds the journal cold.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.waitMs());
  while (InspectJournal(file.path) == JournalState::kHot) {
    // Hot, and the file cannot be written: its bytes may be half-written.
    if (!catalog.access.writable()) return err::kWritePermission;
    catalog.access.unlock();
    if (catalog.access.lock(LockKind::kExclusive, kRecoveryLockTryMs) == err::kNone) {
      bool rolled_back = false;
      if (ErrorCode e = RecoverCatalogFile(file.path, &rolled_back); e != err::kNone) return e;
      catalog.report.rolled_back_interrupted_save = rolled_back;
    }
    if (ErrorCode e = catalog.access.lock(kind, options.waitMs()); e != err::kNone) return e;
    if (std::chrono::steady_clock::now() > deadline) return err::kOpenForWriting;
  }
  // A journal left empty by an earlier opener, or cut short by a crash in
  // the middle of being written, goes once nobody else can be saving.
  if (kind == LockKind::kExclusive) (void)DiscardIdleJournal(file.path);  // a leftover harms nobody

  catalog.file_spec = file;
  ErrorCode lock = AcquireLock(catalog);
  catalog.file_spec = FileSpec{};
  if (lock != err::kNone && !(CannotWriteBeside(lock) && !options.exclusive)) return lock;
  catalog.read_only = lock != err::kNone || !catalog.access.writable();
  return OpenCatalogFile(catalog, file, password, progress);
}

}  // namespace

ErrorCode CreateCatalog(const FileSpec* catalog_file, const FileSpec& scratch, const PasswordCallback& password,
                        const ProgressCallback& progress, std::unique_ptr<Catalog>& out,
                        const OpenOptions& options) {
  out.reset();
  auto catalog = std::make_unique<Catalog>();
  catalog->cells.reserve(kMaxCatalogItems);
  catalog->options = options;
  if (catalog_file) {
    if (ErrorCode e = OpenForUse(*catalog, *catalog_file, password, progress); e != err::kNone) {
      CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
      return e;
    }
  }
  // A fresh ScratchFile: whatever was left at that name goes first. It is
  // locked for its life, which tells a later sweep that it is in use.
  ErrorCode e = DeleteFile(scratch);
  if (e == err::kNone || e == err::kFileNotFound) e = CreateFile(scratch, 0, 0);
  if (e == err::kNone) e = catalog->scratch.open(scratch, Permission::kReadWrite);
  if (e == err::kNone) {
    (void)TryLockBytes(catalog->scratch.descriptor(), LockKind::kExclusive, 0, 0);  // a new file: always ours
    catalog->scratch_spec = scratch;
    catalog->scratch_end = 0;
  }
  if (e != err::kNone) {
    CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
    return e;
  }
  out = std::move(catalog);
  return err::kNone;
}

ErrorCode MakeRecordForFile(const FileSpec& file, ItemRecord& record) {
  if (file.path.empty()) return err::kBadName;
  if (ErrorCode e = CheckRegularFile(file.path); e != err::kNone) return e;
  const std::string name = LeafName(file.path);
  record.setFileName(name);
  ErrorCode result = err::kNone;
  std::string display = name;
  if (Utf8ToWindows1252(name).size() > kMaxDisplayNameLength) {
    std::string short_name;
    if (ShortName(Utf8ToWindows1252(name), short_name) == err::kNone) {
      display = Windows1252ToUtf8(short_name);
    } else {
      result = err::kBadName;  // the long name is kept, cut to the field
    }
  }
  record.setDisplayName(display);

  std::vector<std::uint8_t> alias;
  if (ErrorCode e = MakeAlias(file, AliasForm::kFull, alias); e != err::kNone) return e;
  record.alias_created_size = static_cast<std::uint16_t>(alias.size());
  if (alias.size() > kMaxKeptAliasBytes) {
    if (MakeAlias(file, AliasForm::kMinimal, alias) != err::kNone) alias.clear();
  }
  record.alias.fill(0);
  if (alias.size() <= kMaxKeptAliasBytes) {
    std::copy(alias.begin(), alias.end(), record.alias.begin());
    record.alias_kept_size = static_cast<std::uint16_t>(alias.size());
  } else {
    record.alias_kept_size = 0;
  }
  return result;
}

ErrorCode AddItem(Catalog& catalog, const ItemRecord& record, const std::string& folder_path,
                  std::uint32_t* item_id) {
  return AppendNewItem(catalog, record, folder_path, 0, item_id);
}

ErrorCode AddPendingItem(Catalog& catalog, const FileSpec& file, std::uint32_t* item_id) {
  ItemRecord record;
  ErrorCode naming = MakeRecordForFile(file, record);
  if (naming != err::kNone && naming != err::kBadName) return naming;
  ErrorCode e = AppendNewItem(catalog, record, ParentFolder(file.path), cell_flags::kPending, item_id);
  return e != err::kNone ? e : naming;
}

ErrorCode GetItemRecord(const Catalog& catalog, int cell, RecordRead read, ItemRecord& out) {
  if (!ValidCell(catalog, cell)) return err::kParam;
  const CatalogCell& c = CellAt(catalog, cell);
  const File& file = RecordFile(catalog, c);
  if (!file.isOpen()) return err::kBadFileNumber;
  ErrorCode e = ReadItemRecord(file, c.offset, read, out);
  out.true_file_name.clear();
  out.true_display_name.clear();
  if (auto names = catalog.item_true_names.find(c.item_id); e == err::kNone && names != catalog.item_true_names.end()) {
    out.true_file_name = names->second.file_name;
    out.true_display_name = names->second.display_name;
  }
  return e;
}

ErrorCode ReplaceItemParts(Catalog& catalog, int cell, const ItemRecord& record, unsigned supplied) {
  if (!ValidCell(catalog, cell)) return err::kParam;
  if (!catalog.scratch.isOpen()) return err::kPermission;
  ItemRecord current;
  if (ErrorCode e = GetItemRecord(catalog, cell, kWholeRecord, current); e != err::kNone) return e;

  ItemRecord next = record;
  next.has_optional_parts = true;
  for (int i = 0; i < kPartCount; ++i) {
    auto p = static_cast<ItemPart>(i);
    if ((supplied & (1u << i)) == 0) next.part(p) = std::move(current.part(p));
  }
  next.syncPartLengths();
  const std::uint64_t old_size = current.storedSize();
  const std::uint64_t new_size = next.storedSize();

  CatalogCell& c = CellAt(catalog, cell);
  std::int64_t offset = 0;
  std::uint32_t slack = kScratchSlack;
  SlackBytes pad = SlackBytes::kWritten;
  if (c.inScratch() && new_size <= old_size + current.slack) {
    offset = c.offset;
    slack = static_cast<std::uint32_t>(current.slack + old_size - new_size);
    pad = SlackBytes::kCounted;
  } else {
    offset = catalog.scratch_end;
    if (offset + static_cast<std::int64_t>(new_size) + kScratchSlack > 0xFFFFFFFFll) return err::kDiskFull;
  }
  std::uint32_t stored = 0;
  if (ErrorCode e = WriteItemRecord(next, catalog.scratch, offset, slack, pad, &stored); e != err::kNone) return e;
  if (pad == SlackBytes::kWritten) catalog.scratch_end = offset + stored + kScratchSlack;

  if (!c.inScratch() && c.offset >= kHeaderSize && c.offset < catalog.record_area_end) catalog.record_area_end = c.offset;
  c.offset = static_cast<std::uint32_t>(offset);
  c.flags = (c.flags & ~(cell_flags::kPending | cell_flags::kInitialsMask)) | cell_flags::kInScratch |
            InitialsFromDisplayName(next.display_name.text());
  RememberTrueNames(catalog, c.item_id, next);

  auto& t = catalog.totals;
  t.total_record_bytes =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(t.total_record_bytes) - old_size + new_size);
  t.total_media_bytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(t.total_media_bytes) -
                                                  current.file_size + next.file_size);
  catalog.media_bytes = FlooredSub<std::uint64_t>(catalog.media_bytes, current.file_size) + next.file_size;
  catalog.markChanged();
  catalog.send(Notification::kCatalogChanged, c.item_id);
  return err::kNone;
}

ErrorCode RemoveItem(Catalog& catalog, int cell) {
  if (!ValidCell(catalog, cell)) return err::kParam;
  const CatalogCell c = CellAt(catalog, cell);
  auto& t = catalog.totals;
  if (c.label() != 0) t.labelled_count = FlooredSub<std::int32_t>(t.labelled_count, 1);
  if (t.item_count < 2) {
    t.total_media_bytes = 0;
    t.total_record_bytes = 0;
    catalog.media_bytes = 0;
  } else {
    // An unreadable record can still be removed; only its sizes stay counted.
    ItemRecord fixed;
    const File& file = RecordFile(catalog, c);
    if (file.isOpen() && ReadFixedPart(file, c.offset, NameText::kAsStored, fixed) == err::kNone) {
      t.total_media_bytes = static_cast<std::int32_t>(
          FlooredSub<std::uint32_t>(static_cast<std::uint32_t>(t.total_media_bytes), fixed.file_size));
      catalog.media_bytes = catalog.media_bytes > fixed.file_size ? catalog.media_bytes - fixed.file_size : 0;
      t.total_record_bytes = static_cast<std::int32_t>(FlooredSub<std::uint64_t>(
          static_cast<std::uint32_t>(t.total_record_bytes), fixed.storedSize()));
    }
  }
  if (!c.inScratch() && c.offset >= kHeaderSize && c.offset < catalog.record_area_end) catalog.record_area_end = c.offset;
  catalog.cells.erase(catalog.cells.begin() + (cell - 1));
  t.item_count -= 1;
  catalog.folders.remove(c.item_id);
  catalog.item_true_names.erase(c.item_id);
  RemoveFromGroupIndexes(catalog, c.item_id);
  catalog.send(Notification::kItemRemoved, c.item_id);
  catalog.markChanged();
  catalog.send(Notification::kCatalogChanged, c.item_id);
  return err::kNone;
}

ErrorCode SetItemLabel(Catalog& catalog, int cell, int label) {
  if (!ValidCell(catalog, cell) || label < 0) return err::kParam;
  if (label > kMaxLabel) label = 0;  // a number above the last label takes the label off
  CatalogCell& c = CellAt(catalog, cell);
  if (c.label() == label) return err::kNone;
  auto& t = catalog.totals;
  if (c.label() != 0) t.labelled_count -= 1;
  if (label != 0) t.labelled_count += 1;
  c.flags = (c.flags & ~cell_flags::kLabelMask) | static_cast<std::uint32_t>(label);
  catalog.markChanged();
  catalog.send(Notification::kCatalogChanged, c.item_id);
  return err::kNone;
}

const CatalogTotals& GetCatalogTotals(const Catalog& catalog) { return catalog.totals; }
int GetItemCount(const Catalog& catalog) { return catalog.totals.item_count; }
int GetMaxItems(const Catalog& catalog) { return kMaxCatalogItems - catalog.totals.reserved_slots; }

std::string ItemFileNameUtf8(const ItemRecord& record) {
  AliasInfo alias;
  if (ParseAlias(record.aliasBytes(), alias)) return alias.minimal ? alias.text : LeafName(alias.text);
  return record.fileName();
}

std::optional<std::string> ItemPath(const Catalog& catalog, int cell) {
  if (!ValidCell(catalog, cell)) return std::nullopt;
  auto folder = catalog.folders.folderOf(CellAt(catalog, cell).item_id);
  if (!folder) return std::nullopt;
  ItemRecord fixed;
  if (GetItemRecord(catalog, cell, kWithoutOptionalParts, fixed) != err::kNone) return std::nullopt;
  return JoinPath(*folder, ItemFileNameUtf8(fixed));
}

ErrorCode FindItemFile(const Catalog& catalog, int cell, std::string& path, bool* elsewhere) {
  if (elsewhere) *elsewhere = false;
  if (!ValidCell(catalog, cell)) return err::kParam;
  ItemRecord record;
  if (ErrorCode e = GetItemRecord(catalog, cell, kWithoutOptionalParts, record); e != err::kNone) return e;
  const std::uint32_t id = CellAt(catalog, cell).item_id;
  const std::string leaf = ItemFileNameUtf8(record);
  auto folder = catalog.folders.folderOf(id);
  if (folder && FileExists(JoinPath(*folder, leaf))) {
    path = JoinPath(*folder, leaf);
    return err::kNone;
  }
  if (!catalog.titled()) return err::kFileNotFound;

  // Second place: beside the catalog file, directly or in a folder of the
  // same name as the item's folder (a catalog moved together with its media).
  const std::string home = ParentFolder(catalog.file_spec.path);
  std::vector<std::string> candidates{JoinPath(home, leaf)};
  if (folder && *folder != "/") candidates.push_back(JoinPath(JoinPath(home, LeafName(*folder)), leaf));
  for (const auto& candidate : candidates) {
    if (!FileExists(candidate)) continue;
    path = candidate;
    if (elsewhere) *elsewhere = true;
    return err::kNone;
  }
  return err::kFileNotFound;
}

ErrorCode LocateItemFile(Catalog& catalog, int cell, std::string& path) {
  bool elsewhere = false;
  std::string found;
  if (ErrorCode e = FindItemFile(catalog, cell, found, &elsewhere); e != err::kNone) return e;
  if (!elsewhere) {
    path = found;
    return err::kNone;
  }
  if (ErrorCode e = RepointItem(catalog, cell, found); e != err::kNone) return e;
  const std::optional<std::string> now = ItemPath(catalog, cell);
  path = now ? *now : found;
  return err::kNone;
}

ErrorCode RepointItem(Catalog& catalog, int cell, const std::string& path) {
  if (!ValidCell(catalog, cell)) return err::kParam;
  FileSpec spec;
  if (ErrorCode e = MakeFileSpec(path, spec); e != err::kNone) return e;
  // The fixed part is enough: ReplaceItemParts keeps every part it is not
  // given from the current record.
  ItemRecord updated;
  if (ErrorCode e = GetItemRecord(catalog, cell, kWithoutOptionalParts, updated); e != err::kNone) return e;
  ItemRecord names;
  ErrorCode naming = MakeRecordForFile(spec, names);
  if (naming != err::kNone && naming != err::kBadName) return naming;
  updated.file_name = names.file_name;
  updated.display_name = names.display_name;
  updated.true_file_name = names.true_file_name;
  updated.true_display_name = names.true_display_name;
  updated.alias = names.alias;
  updated.alias_created_size = names.alias_created_size;
  updated.alias_kept_size = names.alias_kept_size;
  // The folder is entered first, so that whoever hears of the change finds
  // the item at its new path; a failed write puts the old folder back.
  const std::uint32_t id = CellAt(catalog, cell).item_id;
  const std::optional<std::string> old_folder = catalog.folders.folderOf(id);
  catalog.folders.assign(id, ParentFolder(spec.path));
  // The item keeps its scan state: only where its file lives has changed.
  const bool pending = CellAt(catalog, cell).pending();
  if (ErrorCode e = ReplaceItemParts(catalog, cell, updated, 0); e != err::kNone) {
    if (old_folder) {
      catalog.folders.assign(id, *old_folder);
    } else {
      catalog.folders.remove(id);
    }
    return e;
  }
  if (pending) CellAt(catalog, cell).flags |= cell_flags::kPending;
  return err::kNone;
}

}  // namespace norvo::catalog
