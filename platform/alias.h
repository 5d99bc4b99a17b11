// SPDX-License-Identifier: GPL-3.0-or-later
// Alias records: the bytes a catalog keeps to find an item's file again.
// Layout (big-endian), see alias_format.md:
//   0  4  "NVal"            magic
//   4  2  1                 version
//   6  2  total size in bytes
//   8  1  kind: 0 full (absolute path), 1 minimal (leaf name only)
//   9  1  0
//  10  8  device id of the file
//  18  8  inode number of the file
//  26  4  modification date-time, seconds since 1904 local time
//  30  2  n, length of the UTF-8 text
//  32  n  UTF-8 text: the absolute path (full) or the file's name (minimal)
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/file_spec.h"

namespace norvo {

inline constexpr std::size_t kMaxKeptAliasBytes = 444;
inline constexpr std::size_t kAliasHeaderBytes = 32;

struct AliasInfo {
  bool minimal = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t modified = 0;
  std::string text;  // full path, or the leaf name for a minimal alias
};

// An alias holds the file's full path, or (minimal) its leaf name alone.
enum class AliasForm { kFull, kMinimal };

// Makes the alias of an existing file; err::kFileNotFound when it does not exist.
ErrorCode MakeAlias(const FileSpec& spec, AliasForm form, std::vector<std::uint8_t>& out);
// Parses alias bytes written by MakeAlias. Foreign or damaged bytes: false.
bool ParseAlias(std::span<const std::uint8_t> bytes, AliasInfo& out);

}  // namespace norvo
