// SPDX-License-Identifier: GPL-3.0-or-later
// How processes share a catalog file.
//
// LockFiles: "." + catalog file name + "_" + digit (the slot), beside the
// file; the leading dot hides them. Each opener makes one, writes
// "NORVO LOCK" into it and holds a write lock on it while the catalog is
// open. A LockFile on which no lock is held is stale, whatever it contains
// (its owner ended without closing, perhaps before it wrote the marker), and
// is deleted by whoever finds it.
//
// The access lock: byte kAccessLockOffset of the catalog file itself, far
// beyond any byte a catalog can hold. Every opener holds it shared for as
// long as the catalog is open; a save in place makes it exclusive while it
// writes, and an opener that means to change the catalog holds it exclusive
// from before it reads until it closes. So nobody reads a half-written file,
// two changers never work from the same old state, and a save in place
// cannot start while another process has the file open.
#pragma once

#include "catalog/catalog.h"

namespace norvo::catalog {

std::string LockFilePath(const std::string& catalog_path, int slot);
inline constexpr char kLockMarker[] = "NORVO LOCK";
inline constexpr std::int64_t kAccessLockOffset = std::int64_t{1} << 32;

// Takes a free LockFile slot (stale ones are cleared on the way); err::kPermission when
// all ten are live.
ErrorCode AcquireLock(Catalog& catalog);
// Live LockFiles of the catalog's file other than its own.
int CountOtherOpeners(Catalog& catalog);
// Live LockFiles of any catalog file, other than slot `own_slot` (-1: all).
int CountLiveLocks(const std::string& catalog_path, int own_slot);
// Closes the own LockFile and deletes it and every stale one.
void ReleaseLock(Catalog& catalog);

// Opens the access lock of `path` into catalog.access and takes it as
// `kind`, waiting up to `wait_ms` for another process's exclusive use:
// err::kOpenForWriting when it does not end in time, err::kWritePermission for an exclusive lock on a file
// that cannot be written, err::kNotAFile when `path` is not a regular file.
ErrorCode TakeAccessLock(Catalog& catalog, const std::string& path, LockKind kind, int wait_ms);

}  // namespace norvo::catalog
