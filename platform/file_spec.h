// SPDX-License-Identifier: GPL-3.0-or-later
// FileSpec: a file's location. On this platform the UTF-8 path is what finds
// the file; the volume number, folder number and 8-bit name are the classic
// 262-byte form (16-bit volume, 32-bit folder, length-prefixed name), filled
// best-effort from the device, the parent folder's inode and a Windows-1252
// rendering of the name, for code that stores or shows them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error_codes.h"

namespace norvo {

inline constexpr std::size_t kMaxPStringLength = 255;

struct FileSpec {
  std::int16_t volume = 0;
  std::int32_t folder = 0;
  std::string name;  // Windows-1252, at most 255 bytes
  std::string path;  // absolute UTF-8 path; the source of truth

  bool empty() const { return path.empty(); }
};

// Makes a spec from a path (relative paths are taken from the current
// folder); the resulting path is absolute and lexically normal.
// Returns 0 when the file exists and err::kFileNotFound when it does not; the FileSpec is filled
// in both cases, so a caller can then create the file. An empty path is err::kBadName.
ErrorCode MakeFileSpec(const std::string& path, FileSpec& out);
// Whether MakeFileSpec's result means the FileSpec was filled in (the file may
// or may not exist yet).
inline bool FileSpecFilled(ErrorCode e) { return e == err::kNone || e == err::kFileNotFound; }

// An absolute path with "." and ".." components, repeated and trailing
// slashes taken out, without looking at the disk (symbolic links stay).
std::string LexicallyNormalPath(const std::string& absolute);

// The file's path, or "" for an empty spec.
inline const std::string& FileSpecToPath(const FileSpec& spec) { return spec.path; }

// The folder part and the last component of a UTF-8 path.
std::string ParentFolder(const std::string& path);
std::string LeafName(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& leaf);

bool FileExists(const std::string& path);
// 0 for a regular file (a symbolic link is followed), err::kFileNotFound when nothing is
// there, err::kNotAFile for a folder, FIFO, device or socket: what a reader checks
// before it opens a path, so that a FIFO named like a photo never stalls it.
ErrorCode CheckRegularFile(const std::string& path);

}  // namespace norvo
