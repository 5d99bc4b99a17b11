// SPDX-License-Identifier: GPL-3.0-or-later
// The rollback journal that makes every in-place write of a catalog file
// all-or-nothing. Before a byte of the catalog file is overwritten, or the
// file grown or cut, the bytes about to change and the file's length go to a
// journal beside it and are made durable; then the catalog file is written
// and made durable; then the journal is deleted, which is the moment the new
// state counts. A process that stops in between leaves a "hot" journal, and
// the next open plays it back first. The layout is in journal_format.md.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/error_codes.h"
#include "platform/file.h"

namespace norvo::catalog {

struct ByteRange {
  std::int64_t offset = 0;
  std::int64_t length = 0;  // cut to the file's end when it reaches past it
};

// ".NAME-journal" in the catalog file's folder.
std::string JournalPath(const std::string& catalog_path);

class RollbackJournal {
 public:
  RollbackJournal() = default;
  // A journal still active here was neither committed nor rolled back: it
  // is left on disk, hot, for the next open to play back.
  ~RollbackJournal() = default;
  RollbackJournal(const RollbackJournal&) = delete;
  RollbackJournal& operator=(const RollbackJournal&) = delete;

  // Saves `ranges` of `catalog` (open for reading) and its length. When this
  // returns 0 the journal is durable and hot; on failure it is not hot.
  ErrorCode begin(const std::string& catalog_path, const File& catalog, std::span<const ByteRange> ranges);
  // The catalog file has been written and flushed: empties the journal,
  // which leaves it cold. The empty file stays for the next save until the
  // catalog is closed (DiscardIdleJournal).
  ErrorCode commit();
  // A write to the catalog failed: puts the saved bytes and the length back,
  // flushes, and deletes the journal. On failure the journal stays hot.
  ErrorCode rollback(File& catalog);
  bool active() const { return !path_.empty(); }

 private:
  std::string path_;  // while active
  File file_;
};

enum class JournalState : std::uint8_t {
  kNone,  // no journal beside the catalog
  kCold,  // a journal that never became hot (its writer stopped before it was complete)
  kHot,   // a complete journal: the catalog may be half-written
};
JournalState InspectJournal(const std::string& catalog_path);

// Deletes the catalog's journal unless it is hot; for a process that closes
// the catalog while still holding its access lock.
ErrorCode DiscardIdleJournal(const std::string& catalog_path);

// Brings the catalog file back to its state before an interrupted write:
// plays back a hot journal and deletes a cold one. The caller holds the
// catalog's exclusive access lock. *rolled_back tells whether bytes were put
// back.
ErrorCode RecoverCatalogFile(const std::string& catalog_path, bool* rolled_back);

}  // namespace norvo::catalog
