// SPDX-License-Identifier: GPL-3.0-or-later
// Saving, closing and reverting a catalog.
//
// A save keeps the catalog file, at every instant, either as it was at the
// last save or as the new save makes it, never a mix:
// - in place, every byte it changes is first copied to the rollback journal
//   (rollback_journal.h); a failure puts them back at once, a crash leaves
//   the journal for the next open;
// - to another file, the catalog is written under a temporary name in the
//   destination's folder, flushed, and renamed over the destination.
// In both cases the Catalog in memory (cells, ScratchFile) is changed only
// after the new file is complete, so a failed save loses nothing unsaved.
#pragma once

#include "catalog/catalog.h"
#include "catalog/lock_files.h"

namespace norvo::catalog {

// How long a save in place waits for other processes that are reading the
// file (a listing, a search) to finish before it gives up with err::kOpenForWriting.
inline constexpr int kSaveLockWaitMs = 3000;

// Saves in place (destination null) or to another file. Errors: err::kWritePermission for a
// catalog opened read-only; err::kOpenForWriting while another process has the file open;
// err::kDiskFull, err::kFileTooLarge before anything is written when space is short; a write that
// fails gives its own code once the file is back as it was, and err::kWriteFailedDuringSave only
// when even that failed (the next open repairs the file from the journal).
ErrorCode SaveCatalog(Catalog& catalog, const FileSpec* destination, const ProgressCallback& progress);

// Whether closing writes the catalog's settings back into its file.
enum class CloseSettings : bool { kLeave = false, kWriteBack = true };

// Closes the files, deletes the ScratchFile, writes the settings back into
// the file's "PREF" chunk when asked and no other process has it open, and
// releases the locks.
void CloseCatalog(std::unique_ptr<Catalog> catalog, CloseSettings settings);

// Reopens the catalog from its file, discarding unsaved changes. Returns
// err::kParam for an untitled catalog and 0 without doing anything when unchanged.
ErrorCode RevertCatalog(std::unique_ptr<Catalog>& catalog, const PasswordCallback& password,
                        const ProgressCallback& progress);

}  // namespace norvo::catalog
