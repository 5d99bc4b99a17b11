// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and crash-safe replacement of a file's contents, for the
// writers that rewrite users' media files (annotations written back).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/error_codes.h"

namespace norvo {

// Reads the whole file at `path` into *out.
ErrorCode ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out);

// Replaces the file at `path` with `bytes`. The bytes go to a temporary file
// in the same folder, which is flushed, given the original's permissions,
// owner (when allowed) and times, and renamed over the original; the folder
// is flushed last so the rename survives a power cut. A symbolic link is
// followed and the file it names is replaced. Any failure leaves the
// original as it was and removes the temporary file; a kill at any point
// leaves a temporary that the next start removes (owned_temporaries.h).
// A file that is not regular is err::kNotAFile; one without write permission, err::kFileLocked.
ErrorCode ReplaceFileSafely(const std::string& path, std::span<const std::uint8_t> bytes);

// Whether the user may change the file at `path` (whose status is `st`).
// For the administrator, whom permissions do not stop, a file without any
// write bit counts as protected.
bool HasWritePermission(const std::string& path, const struct stat& st);

}  // namespace norvo
