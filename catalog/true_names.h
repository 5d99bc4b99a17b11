// SPDX-License-Identifier: GPL-3.0-or-later
// Names in any script. The catalog format keeps names in 8-bit fields (Mac
// Roman on disk): an item's file and display names, custom field names, the
// names of sets and groups. Names those fields cannot hold whole keep their
// true UTF-8 form in the "UTF8" chunk, which readers that know only the
// format skip; their 8-bit fields hold the best rendering. A true name counts
// only while its field still holds its rendering, so that one whose field
// another program has since changed is no longer applied. Layout in
// nrk_format.md.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::catalog {

enum class TrueNameKind : std::uint8_t {
  kFileName = 1,     // key: ItemId
  kDisplayName = 2,  // key: ItemId
  kCustomField = 3,  // key: position of the custom field, from 0
  kGroupName = 4,    // key: organizer slot << 16 | position of the entry in its index
};

struct TrueName {
  TrueNameKind kind = TrueNameKind::kFileName;
  std::uint32_t key = 0;
  std::string utf8;  // the name itself
  bool operator==(const TrueName&) const = default;
};

std::vector<std::uint8_t> EncodeTrueNames(const std::vector<TrueName>& names);
// False when the chunk is damaged; the entries before the damage are kept.
bool DecodeTrueNames(std::span<const std::uint8_t> bytes, std::vector<TrueName>& out);

// The 8-bit rendering of UTF-8 text, at most `width` bytes, in Windows-1252
// (the form 8-bit fields have in memory). *exact tells whether it holds the
// text whole: then no true name is needed.
std::string RenderEightBit(std::string_view utf8, std::size_t width, bool* exact);

// A name's UTF-8 form from its 8-bit field and, if any, its true name: the
// true name counts only while the field still holds its rendering.
std::string NameFromField(std::string_view rendering, const std::string& true_utf8);

}  // namespace norvo::catalog
