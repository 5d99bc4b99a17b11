// SPDX-License-Identifier: GPL-3.0-or-later
// Saving, closing and reverting a catalog; the LockFiles beside its file.
#pragma once

#include "catalog/catalog.h"

namespace norvo::catalog {

// LockFile of a slot: "." + catalog file name + "_" + digit, beside the file
// (the leading dot hides it). Its content starts with "NORVO LOCK"; it is
// live while an instance holds a write lock on it.
std::string LockFilePath(const std::string& catalog_path, int slot);
inline constexpr char kLockMarker[] = "NORVO LOCK";

ErrorCode AcquireLock(Catalog& catalog);
int CountOtherOpeners(Catalog& catalog);
void ReleaseLock(Catalog& catalog);

// Saves in place (destination null) or to another file. On failure nothing
// unsaved is lost: the cells and the ScratchFile still describe every record.
ErrorCode SaveCatalog(Catalog& catalog, const FileSpec* destination, const ProgressCallback& progress);

// Closes the files, deletes the ScratchFile, writes the settings back into
// the file's "PREF" chunk when asked and no other instance has it open, and
// releases the lock.
void CloseCatalog(std::unique_ptr<Catalog> catalog, bool write_back_settings);

// Reopens the catalog from its file, discarding unsaved changes. Returns
// -50 for an untitled catalog and 0 without doing anything when unchanged.
ErrorCode RevertCatalog(std::unique_ptr<Catalog>& catalog, const PasswordCallback& password,
                        const ProgressCallback& progress);

}  // namespace norvo::catalog
