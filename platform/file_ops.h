// SPDX-License-Identifier: GPL-3.0-or-later
// Renaming and copying users' files without ever losing one: a rename never
// replaces a file that already has the new name, a change of case alone goes
// through a temporary name, and a copy appears whole or not at all, with the
// original's permissions and times. Batch rename, conversion and transfer
// use them.
//
// Paths are UTF-8. A name that is taken is err::kDuplicateName, a source that is
// not there err::kFileNotFound; other failures map from errno (ErrorFromErrno).
#pragma once

#include <string>

#include "platform/error_codes.h"

namespace norvo {

// Renames `from` to `to` (same file system). An existing `to` is never
// replaced: err::kDuplicateName. Uses renameat2(RENAME_NOREPLACE); where the file
// system lacks it, RenameByLink, and where hard links are refused (or for a
// folder), RenameAfterCheck.
ErrorCode RenameNoReplace(const std::string& from, const std::string& to);

// The fallbacks, usable on their own (tests run each on real files).
// Links `to` to the file and then unlinks `from`: link() fails with EEXIST
// rather than replace. Not for folders (err::kParam). When the unlink fails the
// new link is taken away again.
ErrorCode RenameByLink(const std::string& from, const std::string& to);
// Looks for `to` and renames only when nothing is there. Another process
// could create `to` between the look and the rename; it is the last resort,
// for file systems with neither RENAME_NOREPLACE nor hard links.
ErrorCode RenameAfterCheck(const std::string& from, const std::string& to);

// Renames `from` to `to` in the same folder where the two names may be the
// same file to the file system (they differ in case only, or in Unicode
// normalisation): first to a fresh temporary name in that folder (prefix
// "nrk"), then to `to`. A different file already called `to` is
// err::kDuplicateName and nothing moves; if the second step fails the file is put
// back under `from`. `to` in another folder is err::kParam.
ErrorCode RenameThroughTemporary(const std::string& from, const std::string& to);

// A fresh name for a temporary file in `folder`: `prefix` and six random
// characters, not in use when made. The file is created (mode 0600) to hold
// the name, and deleted again unless `keep_file`; *out is its full path.
enum class TemporaryFile : bool { kDeleted, kKept };
ErrorCode MakeTemporaryName(const std::string& folder, const std::string& prefix, TemporaryFile keep,
                            std::string* out);

// Whether a copy is flushed to the disk before it is given its name
// (kFlushed), or only has its writing started (kCached): the disk then
// writes it while the next files are copied, and the caller flushes the
// whole pass once at its end.
enum class CopyDurability : bool { kCached, kFlushed };

// Copies the regular file `from` to the new file `to`: the bytes (in the
// kernel where it can), its permission bits, its owner where allowed, its
// access and modification times and its extended attributes in the "user."
// space (best-effort). The bytes go to a claimed temporary beside `to` first,
// which is then renamed without replacing: `to` appears whole or not at all,
// and an existing `to` is err::kDuplicateName. A source that is not a regular file is
// err::kNotAFile.
ErrorCode CopyFileKeepingAttributes(const std::string& from, const std::string& to,
                                    CopyDurability durability = CopyDurability::kFlushed);

}  // namespace norvo
