// SPDX-License-Identifier: GPL-3.0-or-later
// Group indexes: for an organizer field, every group (a distinct value, or a
// catalog set) with the ItemIds of its members, in the order the organize
// panel lists them. The catalog keeps one index per organizer slot and
// stores them in its file ("CS00", and the catalog sets alone in "CSET");
// what the groups mean is the metadata layer's business.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "catalog/true_names.h"

namespace norvo::catalog {

struct Catalog;

// Slots 0..43 are the organizer rows; slot 38 holds the catalog sets.
inline constexpr std::uint32_t kOrganizerSlotCount = 44;
inline constexpr std::uint32_t kCatalogSetSlot = 38;
// "MSOP": one option byte per slot and one past the last.
inline constexpr std::size_t kOrganizerOptionsSize = 45;

inline constexpr std::size_t kGroupNameWidth = 256;
inline constexpr std::size_t kGroupEntryHeaderSize = 268;  // name, 4 flag bytes, 4 reserved, count

struct GroupEntry {
  std::string name;  // UTF-8; its 8-bit rendering is at most 255 characters
  std::uint8_t panel = 0;
  std::uint8_t level = 0;      // nesting depth of a catalog set
  std::uint8_t container = 0;  // 1: a catalog set holding sub-sets
  std::uint8_t touched = 0;
  std::array<std::uint8_t, 4> reserved{};
  std::vector<std::uint32_t> ids;  // member ItemIds

  bool operator==(const GroupEntry&) const = default;
};

using GroupIndex = std::vector<GroupEntry>;
using GroupIndexes = std::map<std::uint32_t, GroupIndex>;  // by slot

// The stored form of one index: entries back to back, each the name (length
// byte and 255 bytes, Mac Roman: the 8-bit rendering of the UTF-8 name), panel, level, container and touched bytes,
// 4 reserved bytes, the item count and the ids (big-endian); an entry
// without items still carries one zero id.
std::vector<std::uint8_t> EncodeGroupIndex(const GroupIndex& index);
// Reads a stored index; an entry cut short ends it (the entries before it
// stay). False when anything had to be dropped.
bool DecodeGroupIndex(std::span<const std::uint8_t> bytes, GroupIndex& out);

// "CS00": {slot, length, index bytes} per index, slots ascending.
std::vector<std::uint8_t> EncodeGroupIndexes(const GroupIndexes& indexes);
// Adds the indexes of a "CS00" chunk to `out`: slots outside the organizer
// table and slots already present are skipped; a record running past the
// end stops the walk.
void DecodeGroupIndexes(std::span<const std::uint8_t> bytes, GroupIndexes& out);

// The true names of entries whose names the 8-bit form cannot hold, for
// the catalog's "UTF8" chunk.
std::vector<TrueName> GroupTrueNames(const GroupIndexes& indexes);

// The catalog's indexes, read from its "CS00" chunk (and "CSET" for the
// catalog sets when "CS00" has none) the first time they are asked for. From
// then on a save writes both chunks from these indexes.
GroupIndexes& GroupIndexesOf(Catalog& catalog);
const GroupIndexes& GroupIndexesOf(const Catalog& catalog);

// Takes an item out of every index. A value group left without items goes;
// a catalog set stays, empty or not.
void RemoveFromGroupIndexes(Catalog& catalog, std::uint32_t item_id);

}  // namespace norvo::catalog
