// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the catalog file: header, record area, chunk directory
// and trailer. The byte layout is in nrk_format.md.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "catalog/catalog.h"

namespace norvo::catalog {

inline constexpr std::uint32_t kFileMagic = 0x30323569;  // "025i"
// The settings chunk, whose head is written back in place at close.
inline constexpr std::uint32_t kSettingsChunkTag = 0x50524546;  // "PREF"

// The chunk directory as it stands in a file: from its offset (held in the
// file's last four bytes) up to that offset field, end tag included.
struct ChunkDirectory {
  std::int64_t offset = 0;
  std::vector<std::uint8_t> bytes;
};

// Reads the directory of an open catalog file `length` bytes long.
// kUnreadableCatalog when the offset does not point into the file after the
// header, or the directory is larger than any this program writes.
ErrorCode ReadChunkDirectory(const File& file, std::int64_t length, ChunkDirectory& out);

// One chunk: its tag, its data, and where the data starts in the file.
struct DirectoryChunk {
  std::uint32_t tag = 0;
  std::span<const std::uint8_t> data;
  std::int64_t file_offset = 0;
};

// Walks a directory's chunks in file order. next() answers false at the end
// tag, and also when a chunk's head or data runs past the directory's end;
// complete() then tells the two apart.
class ChunkWalker {
 public:
  explicit ChunkWalker(const ChunkDirectory& directory);
  bool next(DirectoryChunk& chunk);
  bool complete() const { return complete_; }

 private:
  const ChunkDirectory& directory_;
  std::size_t at_ = 0;
  bool complete_ = false;
};

// Loads `file` into `catalog` (cells, totals, tables), leaving the file open
// read-only in catalog.file. On failure the file is closed.
ErrorCode OpenCatalogFile(Catalog& catalog, const FileSpec& file, const PasswordCallback& password,
                          const ProgressCallback& progress);

// Writes the chunk directory, end tag and directory offset at the file's
// current position and cuts the file there. Returns the directory offset.
ErrorCode WriteCatalogDirectory(const Catalog& catalog, File& destination, std::uint32_t* directory_offset);
// The directory's bytes (from the first chunk to the directory offset).
std::vector<std::uint8_t> BuildCatalogDirectory(const Catalog& catalog, std::uint32_t directory_offset);

// Header bytes: item count and magic.
std::array<std::uint8_t, kHeaderSize> BuildHeader(std::uint32_t item_count);

// The ItemId check run after every load: flags cleared, labels counted, zero
// and repeated ItemIds renumbered. Returns how many were renumbered; their
// new ids go to `renumbered` when given.
int RepairItemIds(Catalog& catalog, std::vector<std::uint32_t>* renumbered = nullptr);

}  // namespace norvo::catalog
