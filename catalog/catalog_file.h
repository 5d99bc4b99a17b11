// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the catalog file: header, record area, chunk directory
// and trailer. The byte layout is in nrk_format.md.
#pragma once

#include "catalog/catalog.h"

namespace norvo::catalog {

inline constexpr std::uint32_t kFileMagic = 0x30323569;  // "025i"

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
