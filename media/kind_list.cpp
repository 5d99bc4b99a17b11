// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kind_list.h"

#include <algorithm>

namespace norvo::media {
namespace {

// Byte-exact comparison of two kind names, length included.
bool SameName(const KindName& a, const KindName& b) {
  std::size_t n = a.length();
  return n == b.length() && std::equal(a.bytes.begin() + 1, a.bytes.begin() + 1 + static_cast<std::ptrdiff_t>(n),
                                       b.bytes.begin() + 1);
}

// True when the code found a free further-code slot.
bool AddToEntry(KindListEntry& entry, std::uint32_t code) {
  for (std::uint32_t& slot : entry.further_codes) {
    if (slot == 0) {
      slot = code;
      return true;
    }
  }
  return false;
}

}  // namespace

std::size_t ListKinds(MediaClass media_class, std::span<KindListEntry> entries) {
  std::size_t count = 0;
  for (const MediaTypeRow& row : GetMediaTypeRows()) {
    if (row.media_class != media_class) continue;
    bool placed = false;
    for (std::size_t i = 0; i < count && !placed; ++i) {
      placed = SameName(entries[i].kind_name, row.kind_name) && AddToEntry(entries[i], row.code);
    }
    if (placed || count >= entries.size()) continue;
    KindListEntry& entry = entries[count++];
    entry = KindListEntry{};
    entry.kind_name = row.kind_name;
    entry.first_code = row.code;
    const bool importer = row.handler == MediaHandler::GraphicsImporter || row.handler == MediaHandler::MovieImporter;
    entry.creator = importer ? kImporterKindCreator : kOwnKindCreator;
  }
  return count;
}

void WriteKindListEntry(const KindListEntry& entry, ByteWriter& out) {
  out.bytes(entry.kind_name.bytes);
  out.u32be(entry.first_code);
  for (std::uint32_t code : entry.further_codes) out.u32be(code);
  out.u32be(entry.creator);
}

KindListEntry ReadKindListEntry(ByteReader& in) {
  KindListEntry entry;
  in.read(entry.kind_name.bytes);
  entry.first_code = in.u32be();
  for (std::uint32_t& code : entry.further_codes) code = in.u32be();
  entry.creator = in.u32be();
  return entry;
}

}  // namespace norvo::media
