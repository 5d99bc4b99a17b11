// SPDX-License-Identifier: GPL-3.0-or-later
// The catalog engine: one Catalog per open catalog file, its cell table,
// totals, per-catalog tables and the files it keeps open. Item records stay
// on disk (catalog file or ScratchFile) and are read on demand.
//
// Cell numbers count from 1 in every operation, as the views number items.
// Operations return 16-bit error codes; none throws.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog/catalog_tables.h"
#include "catalog/folder_tree.h"
#include "catalog/group_index.h"
#include "catalog/item_record.h"
#include "catalog/limits.h"
#include "catalog/true_names.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/file_spec.h"
#include "platform/progress.h"

namespace norvo::catalog {

// Bits of a cell's flag word.
namespace cell_flags {
inline constexpr std::uint32_t kLabelMask = 0x0000000Fu;
inline constexpr std::uint32_t kInitialsMask = 0x00FFFF00u;
inline constexpr std::uint32_t kAdded = 1u << 24;
inline constexpr std::uint32_t kPending = 1u << 25;    // listed, not yet scanned
inline constexpr std::uint32_t kTransient = 1u << 26;  // cleared when an item is added
inline constexpr std::uint32_t kInScratch = 1u << 27;  // record lives in the ScratchFile
// The item is hidden from the views (sorted after the shown ones). Kept in
// memory here and stored in the "HIDN" chunk: the stored cell byte of bits
// 24-31 never carries it, as loading clears those bits.
inline constexpr std::uint32_t kHidden = 1u << 28;
inline constexpr std::uint32_t kClearedOnLoad = 0xFC000000u;
}  // namespace cell_flags

inline constexpr int kMaxLabel = 9;

struct CatalogCell {
  std::uint32_t offset = 0;
  std::uint32_t item_id = 0;
  std::uint32_t flags = 0;

  int label() const { return static_cast<int>(flags & cell_flags::kLabelMask); }
  bool pending() const { return (flags & cell_flags::kPending) != 0; }
  bool inScratch() const { return (flags & cell_flags::kInScratch) != 0; }
  bool hidden() const { return (flags & cell_flags::kHidden) != 0; }
};

struct CatalogTotals {
  std::int32_t item_count = 0;
  std::int32_t labelled_count = 0;
  std::int32_t reserved_slots = 0;
  std::int32_t total_record_bytes = 0;
  std::int32_t total_media_bytes = 0;  // low 32 bits
};

enum class Notification : std::uint16_t {
  kCatalogChanged = 0x8067,
  kItemAdded = 0x806B,
  kItemRemoved = 0x806C,
};

// What opening a catalog had to repair or pass over, for `check` and logs.
struct OpenReport {
  bool rolled_back_interrupted_save = false;  // a hot journal was played back
  bool sequential_scan = false;
  bool media_total_recomputed = false;
  bool folder_tree_rebuilt = false;
  int renumbered_item_ids = 0;
  int cleared_labels = 0;
  std::vector<std::string> skipped_chunks;  // "TAG (N bytes)"
};

// Progress: (phase, done, total); a non-zero answer stops the work (err::kUserCancelled or
// the answer's code).
using ProgressCallback = std::function<int(ProgressPhase phase, int done, int total)>;
// Asks the user for the catalog's password (Windows-1252); nullopt = cancel.
using PasswordCallback = std::function<std::optional<std::string>()>;
using NotificationCallback = std::function<void(Notification, std::uint32_t item_id)>;

// How a catalog file is opened.
struct OpenOptions {
  // To change it: the access lock is exclusive from before the file is read
  // until it is closed, so that no other process reads or changes it
  // meanwhile (lock_files.h). Otherwise it is shared, and exclusive only
  // while a save writes.
  bool exclusive = false;
  // How long to wait for another process's save or exclusive use to end;
  // negative: the engine's setting (EngineSettings::busy_wait_ms).
  int wait_ms = -1;
  int waitMs() const;
};

struct Catalog {
  Catalog() = default;
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  std::vector<CatalogCell> cells;  // capacity kMaxCatalogItems, item_count in use
  ImportOptions import_options = ImportOptions::Defaults();
  CatalogTotals totals;
  CatalogSettings settings = CatalogSettings::Defaults();
  std::string password;  // Windows-1252; empty: none

  std::vector<RankEntry> ranks;
  std::vector<std::string> custom_field_names;  // UTF-8, at most 16 in use
  std::optional<std::array<CatalogFont, kFontCount>> fonts;
  // Tables whose owners keep them as they came.
  std::vector<std::uint8_t> print_settings;  // "PRNT"
  std::vector<std::uint8_t> vcsf, fldr, cptf, hfld, cset, cs00, msop, msvi;
  std::vector<std::uint8_t> opms, vsms;  // read, never written
  // Settings of this program's own, each a chunk its owner encodes and
  // decodes (nrk_format.md): the slide show options ("NSSO", 40 bytes), the
  // print layout ("NPRL") and the camera import's destination and stamps
  // ("NCAM"). Empty: the catalog has none and the owner's default applies.
  std::vector<std::uint8_t> slide_show_options, print_layout, camera_import;
  // The group indexes, read from "CS00" and "CSET" on first use
  // (GroupIndexesOf). Until then those chunks are written back as they came.
  mutable std::optional<GroupIndexes> group_indexes;

  // True UTF-8 names of items whose 8-bit name fields cannot hold them
  // (true_names.h), by ItemId. GetItemRecord hands them out with the record.
  struct ItemTrueNames {
    std::string file_name;
    std::string display_name;
  };
  std::map<std::uint32_t, ItemTrueNames> item_true_names;
  // True names of group entries as read, applied when the group indexes are
  // decoded and written back as they came until then.
  std::vector<TrueName> loaded_group_names;

  std::uint32_t saved_by = kUnknownSavedBy;
  std::uint64_t media_bytes = 0;
  std::uint32_t next_item_id = 1;

  // Catalog file and its layout at the last save or open.
  FileSpec file_spec;  // empty for an untitled catalog
  File file;           // read-only while the catalog is open
  std::uint32_t record_area_end = kHeaderSize;
  std::uint32_t directory_offset = 0;
  std::uint32_t saved_item_count = 0;

  FileSpec scratch_spec;
  File scratch;
  std::int64_t scratch_end = 0;

  int lock_slot = -1;
  RangeLock lock_file;              // the own LockFile, locked
  std::string locked_catalog_path;  // the catalog file the lock was taken for
  RangeLock access;                 // the catalog file's access lock
  OpenOptions options;              // as it was opened
  // Opened for viewing only: the file, its folder or its disk cannot be
  // written (a mounted backup disc, a full card). Saving in place is err::kWritePermission.
  bool read_only = false;

  std::uint32_t modification_stamp = 0;  // 0: no unsaved change
  std::string display_name;              // UTF-8, from the file name
  FolderTree folders;
  OpenReport report;
  NotificationCallback notify;

  int itemCount() const { return totals.item_count; }
  bool changed() const { return modification_stamp != 0; }
  bool titled() const { return !file_spec.empty(); }
  // 0 when no cell holds the id; else its cell number from 1.
  int cellOf(std::uint32_t item_id) const;
  void markChanged();
  void send(Notification n, std::uint32_t item_id = 0) const;
};

// Creates a Catalog: defaults, the file's content when one is given, and a
// fresh ScratchFile at `scratch`. Opening a file takes its access lock, plays
// back the journal of a save that was interrupted, takes a LockFile and only
// then reads it (opened read-only). A file whose folder or disk cannot be
// written opens read_only, unless `options` ask to change it (err::kWritePermission).
ErrorCode CreateCatalog(const FileSpec* catalog_file, const FileSpec& scratch, const PasswordCallback& password,
                        const ProgressCallback& progress, std::unique_ptr<Catalog>& out,
                        const OpenOptions& options = {});

// Appends `record` (with its parts) to the ScratchFile as a new item whose
// file lies in `folder_path` (UTF-8; empty: not entered in the folder tree).
ErrorCode AddItem(Catalog& catalog, const ItemRecord& record, const std::string& folder_path,
                  std::uint32_t* item_id = nullptr);
// Adds a not-yet-scanned item for a file: names and alias only.
ErrorCode AddPendingItem(Catalog& catalog, const FileSpec& file, std::uint32_t* item_id = nullptr);

// Which parts ReplaceItemParts takes from the new record; the others keep
// their current content.
namespace parts {
inline constexpr unsigned kThumbnail = 1u << 0;
inline constexpr unsigned kAnnotations = 1u << 1;
inline constexpr unsigned kUrl = 1u << 2;
inline constexpr unsigned kMetadata = 1u << 3;
inline constexpr unsigned kRecording = 1u << 4;
inline constexpr unsigned kAll = 0x1Fu;
}  // namespace parts
// Writes a new record for the item of `cell` into the ScratchFile: the fixed
// part from `record`, the parts in `supplied` from `record`.
ErrorCode ReplaceItemParts(Catalog& catalog, int cell, const ItemRecord& record, unsigned supplied);

// Reads the record of the item of `cell`, with its true names.
ErrorCode GetItemRecord(const Catalog& catalog, int cell, RecordRead read, ItemRecord& out);
// Removes the item of `cell`, from the folder tree and the group indexes too.
ErrorCode RemoveItem(Catalog& catalog, int cell);
// Sets a cell's label (0 none, 1-9); a number above 9 sets 0.
ErrorCode SetItemLabel(Catalog& catalog, int cell, int label);

const CatalogTotals& GetCatalogTotals(const Catalog& catalog);
int GetItemCount(const Catalog& catalog);
int GetMaxItems(const Catalog& catalog);

// Where the item's file is (UTF-8), without changing the catalog: the folder
// tree's folder, then the catalog file's own folder (directly, or in a
// folder named like the item's). *elsewhere says it was found beside the
// catalog rather than where the catalog records it. err::kFileNotFound when
// neither holds the file.
ErrorCode FindItemFile(const Catalog& catalog, int cell, std::string& path, bool* elsewhere = nullptr);
// FindItemFile, and an item found beside the catalog is pointed there.
ErrorCode LocateItemFile(Catalog& catalog, int cell, std::string& path);
// The one way to say "the item's file is now at `path`" (UTF-8; it must
// exist): after Reset Paths, the search beside a moved catalog, a rename, a
// conversion or a transfer. Its file name, display name (and their true
// UTF-8 forms), alias, the name initials in its cell and its folder in the
// folder tree are made afresh; its scan state, facts, parts and label stay.
// The group indexes need nothing: no organizer field groups by name or
// folder. On failure the item is as it was.
ErrorCode RepointItem(Catalog& catalog, int cell, const std::string& path);
// The path the catalog records for the item, whether or not the file exists.
std::optional<std::string> ItemPath(const Catalog& catalog, int cell);
// The item's file name as UTF-8: the true name from the alias when the alias
// was written here, else the stored Windows-1252 name converted.
std::string ItemFileNameUtf8(const ItemRecord& record);

// Name initials as kept in the cell flags (bits 8-23), from a display name.
std::uint32_t InitialsFromDisplayName(const std::string& display_name);

// Fills `record` with a file's names and alias, as for a pending item.
ErrorCode MakeRecordForFile(const FileSpec& file, ItemRecord& record);

}  // namespace norvo::catalog
