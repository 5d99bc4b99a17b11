// SPDX-License-Identifier: GPL-3.0-or-later
// Import of files and folders: the walk over a folder tree, the decision for
// each entry (symbolic links, dot files, duplicates, media type, the import
// options' filters) and the pending items appended for the files taken. The
// items' facts, thumbnails and metadata are read later by the scan.
//
// Everything here runs on the thread that owns the catalog.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "media/import_options.h"
#include "platform/error_codes.h"
#include "platform/file_spec.h"
#include "platform/progress.h"

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::media {

// Data size recorded for files of 4 GB and more.
inline constexpr std::uint32_t kHugeFileDataSize = 0x7FFFFFFF;

// What the walk knows of one directory entry.
struct EntryInfo {
  std::string path;            // absolute UTF-8 path (kept whole, whatever its length)
  std::uint32_t created = 0;   // seconds since 1904, local time
  std::uint32_t modified = 0;  // same unit
  bool is_folder = false;      // a real folder; a symbolic link is never one
  bool invisible = false;      // the name begins with '.'
  bool is_link = false;        // a symbolic link
  std::uint32_t data_size = 0;
  std::uint32_t resource_size = 0;  // no resource forks here: always 0
};

// The entry of one path, not following a symbolic link.
ErrorCode GetEntryInfo(const std::string& path, EntryInfo& out);

// What the per-entry callback tells the walk.
namespace walk_status {
inline constexpr std::uint8_t kGoOn = 0;
inline constexpr std::uint8_t kStop = 1;          // end the whole walk
inline constexpr std::uint8_t kSkipContents = 2;  // do not enter this folder
}  // namespace walk_status

// Per entry: the entry, the status to set and the entry's depth (0 for the
// entries of the folder walked). Per folder: runs before the walk enters a
// folder entry, with that folder's depth.
using WalkEntryCallback = std::function<void(const EntryInfo& entry, std::uint8_t& status, int depth)>;
using WalkFolderCallback = std::function<void(const EntryInfo& folder, int depth)>;

// Walks `folder` depth first, each folder's entries in name order, "." and
// ".." left out, symbolic links never followed. With `max_depth` non-zero
// only that many levels are listed (1: the folder's own entries). A
// sub-folder that cannot be listed is passed over. Returns 0, or the error
// of listing `folder` itself.
ErrorCode WalkFolder(const std::string& folder, int max_depth, const WalkEntryCallback& on_entry,
                     const WalkFolderCallback& on_folder);

// "Media files scanned", "Media files imported".
struct ImportCounters {
  int files_scanned = 0;    // every file entry visited
  int items_added = 0;      // across the calls that shared these counters
  int added_this_call = 0;  // by the current ImportFiles
};

// Called with kStep after each item added (and now and then while the walk
// passes over files it does not take), and once with kEnd. `scanning` is the
// path being looked at. Answer 0 to go on, err::kUserCancelled to stop; the items added so
// far stay.
using ImportProgress =
    std::function<int(ProgressPhase phase, const ImportCounters& counters, std::string_view scanning)>;

// The facts the filters look at.
struct FileFacts {
  std::string name;            // Windows-1252, as in the file's FileSpec
  std::uint64_t size = 0;      // bytes
  std::uint32_t created = 0;   // seconds since 1904, local time
  std::uint32_t modified = 0;  // same unit
  std::uint32_t type = 0;      // the recognised type code
};

// True when every enabled filter passes. `level` is the file's depth in the
// walk; the folder-level filter only looks at depths other than 0.
bool MatchesImportFilters(int level, const FileFacts& facts, const ImportSettings& options);

// A path folded for comparisons that ignore letter case (ASCII and Latin-1
// letters; other characters as they are).
std::u16string FoldPathCase(std::string_view utf8);

// The state of one import, shared by the entries of its walk.
class ImportSession {
 public:
  // Takes the catalog's import options and the paths of its items.
  ImportSession(catalog::Catalog& catalog, ImportProgress progress, ImportCounters counters = {});

  catalog::Catalog& catalog() { return catalog_; }
  const ImportSettings& options() const { return options_; }
  void setOptions(const ImportSettings& options) { options_ = options; }
  const ImportCounters& counters() const { return counters_; }
  // Why the walk was stopped: 0 when it was not, err::kUserCancelled when the progress
  // callback asked, else the error of appending an item.
  ErrorCode stopReason() const { return stop_reason_; }

  // Decides one entry: sets `status` for folders (skip contents or go in)
  // and appends a pending item for a file that passes every test.
  void classify(const EntryInfo& entry, std::uint8_t& status, int depth);

  bool known(const std::string& path) const { return known_.contains(FoldPathCase(path)); }

 private:
  void report(ProgressPhase phase, std::string_view scanning, std::uint8_t& status);

  catalog::Catalog& catalog_;
  ImportSettings options_;
  ImportProgress progress_;
  ImportCounters counters_;
  std::unordered_set<std::u16string> known_;  // folded paths of the catalog's items
  ErrorCode stop_reason_ = err::kNone;
  int scanned_since_report_ = 0;
};

// The per-entry step of an import (see ImportSession::classify).
inline void ClassifyImportEntry(ImportSession& session, const EntryInfo& entry, std::uint8_t& status, int depth) {
  session.classify(entry, status, depth);
}

// Imports files and folders, in order, as pending items: folders are walked
// to any depth, files taken directly (folder level 0). Returns 0, err::kUserCancelled when
// the progress callback stopped it, or the error that ended it (an item that
// could not be appended, err::kCatalogFull for a full catalog); the items appended before
// stay. *added receives the number of items added.
ErrorCode ImportFiles(catalog::Catalog& catalog, const std::vector<FileSpec>& files, const ImportProgress& progress,
                      int* added, ImportCounters* counters = nullptr);

// Removes, from the last item to the first, every item not scanned yet.
// True when any was removed.
bool CancelRunningTasks(catalog::Catalog& catalog);

// The target of a symbolic link (absolute, canonical); false when it cannot
// be resolved. Files named ".lnk" are not symbolic links and do not resolve.
bool ResolveShortcut(const EntryInfo& entry, std::string& target);

}  // namespace norvo::media
