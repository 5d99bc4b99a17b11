// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/group_index.h"

#include <algorithm>

#include "catalog/catalog.h"
#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::catalog {

std::vector<std::uint8_t> EncodeGroupIndex(const GroupIndex& index) {
  std::size_t size = 0;
  for (const GroupEntry& e : index) size += kGroupEntryHeaderSize + 4 * std::max<std::size_t>(e.ids.size(), 1);
  ByteWriter w(size);
  for (const GroupEntry& e : index) {
    std::string mac = RenderEightBit(e.name, kGroupNameWidth - 1, nullptr);
    ConvertText(mac, TextDirection::kWindowsToMac);
    w.u8(static_cast<std::uint8_t>(mac.size()));
    w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(mac.data()), mac.size()));
    w.zeros(kGroupNameWidth - 1 - mac.size());
    w.u8(e.panel);
    w.u8(e.level);
    w.u8(e.container);
    w.u8(e.touched);
    w.bytes(e.reserved);
    w.u32be(static_cast<std::uint32_t>(e.ids.size()));
    if (e.ids.empty()) w.u32be(0);
    for (std::uint32_t id : e.ids) w.u32be(id);
  }
  return w.take();
}

bool DecodeGroupIndex(std::span<const std::uint8_t> bytes, GroupIndex& out) {
  out.clear();
  ByteReader r(bytes);
  while (r.remaining() > 0) {
    if (r.remaining() < kGroupEntryHeaderSize + 4) return false;
    GroupEntry e;
    auto name = r.bytes(kGroupNameWidth);
    std::size_t n = std::min<std::size_t>(name[0], kGroupNameWidth - 1);
    e.name.assign(reinterpret_cast<const char*>(name.data() + 1), n);
    ConvertText(e.name, TextDirection::kMacToWindows);
    e.name = Windows1252ToUtf8(e.name);
    e.panel = r.u8();
    e.level = r.u8();
    e.container = r.u8();
    e.touched = r.u8();
    r.read(e.reserved);
    std::uint32_t count = r.u32be();
    if (count > r.remaining() / 4) return false;
    if (count == 0) {
      r.skip(4);
    } else {
      e.ids.reserve(count);
      for (std::uint32_t i = 0; i < count; ++i) e.ids.push_back(r.u32be());
    }
    out.push_back(std::move(e));
  }
  return true;
}

std::vector<std::uint8_t> EncodeGroupIndexes(const GroupIndexes& indexes) {
  ByteWriter w(1024);
  for (const auto& [slot, index] : indexes) {
    auto bytes = EncodeGroupIndex(index);
    w.u32be(slot);
    w.u32be(static_cast<std::uint32_t>(bytes.size()));
    w.bytes(bytes);
  }
  return w.take();
}

void DecodeGroupIndexes(std::span<const std::uint8_t> bytes, GroupIndexes& out) {
  ByteReader r(bytes);
  while (r.remaining() >= 8) {
    std::uint32_t slot = r.u32be();
    std::uint32_t length = r.u32be();
    if (length > r.remaining()) return;
    auto data = r.bytes(length);
    if (slot >= kOrganizerSlotCount || out.contains(slot)) continue;
    GroupIndex index;
    DecodeGroupIndex(data, index);
    out.emplace(slot, std::move(index));
  }
}

const GroupIndexes& GroupIndexesOf(const Catalog& catalog) {
  if (!catalog.group_indexes) {
    GroupIndexes indexes;
    DecodeGroupIndexes(catalog.cs00, indexes);
    if (!indexes.contains(kCatalogSetSlot) && !catalog.cset.empty()) {
      GroupIndex sets;
      DecodeGroupIndex(catalog.cset, sets);
      indexes.emplace(kCatalogSetSlot, std::move(sets));
    }
    // Names the 8-bit chunk could not hold take their true forms.
    for (const TrueName& n : catalog.loaded_group_names) {
      auto index = indexes.find(n.key >> 16);
      const std::size_t position = n.key & 0xFFFF;
      if (index == indexes.end() || position >= index->second.size()) continue;
      std::string& name = index->second[position].name;
      name = NameFromField(Utf8ToWindows1252(name), n.utf8);
    }
    catalog.group_indexes = std::move(indexes);
  }
  return *catalog.group_indexes;
}

std::vector<TrueName> GroupTrueNames(const GroupIndexes& indexes) {
  std::vector<TrueName> out;
  for (const auto& [slot, index] : indexes) {
    for (std::size_t i = 0; i < index.size() && i <= 0xFFFF; ++i) {
      bool exact = false;
      RenderEightBit(index[i].name, kGroupNameWidth - 1, &exact);
      if (!exact) out.push_back({TrueNameKind::kGroupName, (slot << 16) | static_cast<std::uint32_t>(i), index[i].name});
    }
  }
  return out;
}

GroupIndexes& GroupIndexesOf(Catalog& catalog) {
  GroupIndexesOf(static_cast<const Catalog&>(catalog));
  return *catalog.group_indexes;
}

void RemoveFromGroupIndexes(Catalog& catalog, std::uint32_t item_id) {
  if (!catalog.group_indexes && catalog.cs00.empty() && catalog.cset.empty()) return;
  for (auto& [slot, index] : GroupIndexesOf(catalog)) {
    const bool sets = slot == kCatalogSetSlot;
    std::erase_if(index, [&](GroupEntry& e) { return std::erase(e.ids, item_id) > 0 && e.ids.empty() && !sets; });
  }
}

}  // namespace norvo::catalog
