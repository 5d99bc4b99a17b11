// SPDX-License-Identifier: GPL-3.0-or-later
// Fixed limits and constants of the catalog engine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvo::catalog {

inline constexpr int kMaxCatalogItems = 8000;
inline constexpr int kMaxLockSlots = 10;
inline constexpr int kMaxCustomFields = 16;
inline constexpr std::size_t kMaxDisplayNameLength = 63;
inline constexpr std::size_t kMaxFileNameLength = 255;
inline constexpr std::size_t kMaxPasswordLength = 255;

inline constexpr std::uint32_t kProductCode = 400;     // written as "SVar" by this program
inline constexpr std::uint32_t kUnknownSavedBy = 150;  // files written before "SVar" existed

inline constexpr std::uint32_t kScratchSlack = 10240;  // zero bytes after each scratch record
inline constexpr std::size_t kFixedPartSize = 1024;
inline constexpr std::size_t kCellSize = 12;
inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kTrailerSize = 8;

// Space a save keeps in reserve beyond the two files it reads.
inline constexpr std::int64_t kSaveHeadroom = 524288;
inline constexpr std::int64_t kMaxCatalogBytes = 2147483647;

// File type and creator codes of a catalog file.
inline constexpr char kCatalogFileType[] = "NRWc";
inline constexpr char kCatalogCreator[] = "NRW5";

}  // namespace norvo::catalog
