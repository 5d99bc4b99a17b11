// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and crash-safe replacement of a file's contents, for the
// writers that rewrite users' media files (annotations written back).
#pragma once

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
// original as it was and removes the temporary file.
ErrorCode ReplaceFileSafely(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace norvo
