// SPDX-License-Identifier: GPL-3.0-or-later
// Kind lists: the registered types of one media class grouped by kind name,
// for menus and the import filter's file-type list. An entry holds up to five
// codes of one kind name; a sixth code of the same name opens another entry.
//
// Stored form, 88 bytes:
//   0   kind name, length byte + 63 bytes
//   64  first code
//   68  four further codes, 0 when unused
//   84  creator code: 'QKTM' when the first code is served by the still-image
//       or movie importers, otherwise 'NRWi'
// Codes are stored as their four characters in reading order (big-endian).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/media_type_registry.h"
#include "platform/byte_io.h"

namespace norvo::media {

inline constexpr std::size_t kKindListEntrySize = 88;
inline constexpr std::size_t kKindListFurtherCodes = 4;
inline constexpr std::uint32_t kImporterKindCreator = FourCC("QKTM");
inline constexpr std::uint32_t kOwnKindCreator = FourCC("NRWi");

struct KindListEntry {
  KindName kind_name;
  std::uint32_t first_code = 0;
  std::array<std::uint32_t, kKindListFurtherCodes> further_codes{};
  std::uint32_t creator = 0;
};

// Fills `entries` with the kind list of one class, walking the registry in
// order; returns the number of entries. When the buffer is full, codes still
// join entries already made but no new entry is started; a buffer of
// kMaxMediaTypes entries is always enough.
std::size_t ListKinds(MediaClass media_class, std::span<KindListEntry> entries);

void WriteKindListEntry(const KindListEntry& entry, ByteWriter& out);
// Reads one stored entry; check in.ok() afterwards.
KindListEntry ReadKindListEntry(ByteReader& in);

}  // namespace norvo::media
