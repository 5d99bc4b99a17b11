// SPDX-License-Identifier: GPL-3.0-or-later
// Per-catalog tables held by a Catalog and stored as chunks of its file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_io.h"

namespace norvo::catalog {

// A fixed-size block kept in stored order, with big-endian number access.
template <std::size_t Size>
struct BigEndianBlock {
  std::array<std::uint8_t, Size> bytes{};

  std::uint32_t number(std::size_t offset) const {
    return FixedBytes(std::span(const_cast<std::uint8_t*>(bytes.data()), Size)).getU32be(offset);
  }
  void setNumber(std::size_t offset, std::uint32_t value) { FixedBytes(bytes).setU32be(offset, value); }
};

// CatalogSettings: 1024 bytes of big-endian fields, kept in stored order. The
// first 44 bytes are written back when a catalog is closed.
inline constexpr std::size_t kSettingsSize = 1024;
inline constexpr std::size_t kSettingsWriteBackSize = 44;
struct CatalogSettings : BigEndianBlock<kSettingsSize> {
  static CatalogSettings Defaults();
};

// ImportOptions: the 116-byte filter record. The name text at 0x1C is held
// in Windows-1252; every other byte as stored (numbers big-endian).
inline constexpr std::size_t kImportOptionsSize = 116;
struct ImportOptions : BigEndianBlock<kImportOptionsSize> {
  static ImportOptions Defaults();
};
inline constexpr std::size_t kImportNameTextOffset = 0x1C;
inline constexpr std::size_t kImportNameTextWidth = 64;

// One of the four CatalogFonts entries: a font number and a NUL-terminated
// name (Windows-1252 in memory) in 512 bytes.
inline constexpr std::size_t kFontEntrySize = 516;
inline constexpr std::size_t kFontCount = 4;
struct CatalogFont {
  std::uint16_t number = 0;
  std::array<std::uint8_t, 512> name{};
};

// A rank table entry: three numbers and four raw bytes.
inline constexpr std::size_t kRankEntrySize = 16;
struct RankEntry {
  std::uint32_t a = 0, b = 0, c = 0;
  std::array<std::uint8_t, 4> raw{};
};

inline constexpr std::size_t kCustomFieldNameSize = 256;

}  // namespace norvo::catalog
