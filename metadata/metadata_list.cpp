// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/metadata_list.h"

#include <algorithm>
#include <limits>

#include "platform/byte_io.h"

namespace norvo::metadata {

void MetadataList::add(std::uint32_t key, std::span<const std::uint8_t> bytes) {
  // Items of one key stay together, after the last one of that key, so that
  // the stored order and the index order agree.
  auto last = std::find_if(items_.rbegin(), items_.rend(), [key](const Item& i) { return i.key == key; });
  Item item{key, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
  if (last == items_.rend()) {
    items_.push_back(std::move(item));
  } else {
    items_.insert(last.base(), std::move(item));
  }
}

void MetadataList::replace(std::uint32_t key, std::span<const std::uint8_t> bytes) {
  auto first = std::find_if(items_.begin(), items_.end(), [key](const Item& i) { return i.key == key; });
  if (first == items_.end()) {
    add(key, bytes);
    return;
  }
  // Keeps the key's place in the key order.
  first->bytes.assign(bytes.begin(), bytes.end());
  auto rest = std::remove_if(first + 1, items_.end(), [key](const Item& i) { return i.key == key; });
  items_.erase(rest, items_.end());
}

ErrorCode MetadataList::remove(std::uint32_t key, int index) {
  int seen = 0;
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->key == key && ++seen == index) {
      items_.erase(it);
      return err::kNone;
    }
  }
  return kItemNotFound;
}

void MetadataList::removeAll(std::uint32_t key) {
  std::erase_if(items_, [key](const Item& i) { return i.key == key; });
}

const std::vector<std::uint8_t>* MetadataList::find(std::uint32_t key, int index) const {
  int seen = 0;
  for (const Item& item : items_) {
    if (item.key == key && ++seen == index) return &item.bytes;
  }
  return nullptr;
}

ErrorCode MetadataList::get(std::uint32_t key, int index, std::vector<std::uint8_t>* out) const {
  const auto* bytes = find(key, index);
  if (bytes == nullptr) return kItemNotFound;
  *out = *bytes;
  return err::kNone;
}

int MetadataList::count(std::uint32_t key) const {
  return static_cast<int>(std::count_if(items_.begin(), items_.end(), [key](const Item& i) { return i.key == key; }));
}

std::vector<std::uint8_t> EncodeTextItem(std::string_view text) {
  std::size_t n = std::min<std::size_t>(text.size(), std::numeric_limits<std::uint16_t>::max());
  ByteWriter w(kTextHeaderSize + n);
  w.u16be(static_cast<std::uint16_t>(n));
  w.u16be(kDefaultLanguage);
  w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), n));
  return w.take();
}

void MetadataList::addText(std::uint32_t key, std::string_view text) { add(key, EncodeTextItem(text)); }

void MetadataList::replaceText(std::uint32_t key, std::string_view text) { replace(key, EncodeTextItem(text)); }

ErrorCode MetadataList::getText(std::uint32_t key, int index, std::string* out) const {
  const auto* bytes = find(key, index);
  if (bytes == nullptr) return kItemNotFound;
  ByteReader r(*bytes);
  std::uint16_t length = r.u16be();
  r.u16be();  // language
  auto text = r.bytes(length);
  if (!r.ok()) return err::kParam;
  out->assign(reinterpret_cast<const char*>(text.data()), text.size());
  return err::kNone;
}

std::uint32_t MetadataList::nextKey(std::uint32_t after) const {
  bool passed = after == 0;
  std::uint32_t previous = 0;
  for (const Item& item : items_) {
    if (item.key == previous) continue;  // items of one key are adjacent
    previous = item.key;
    if (passed) return item.key;
    if (item.key == after) passed = true;
  }
  return 0;
}

std::vector<std::uint8_t> MetadataList::serialize() const {
  std::size_t total = 0;
  for (const Item& item : items_) total += kAtomHeaderSize + item.bytes.size();
  ByteWriter w(total);
  for (const Item& item : items_) {
    w.u32be(static_cast<std::uint32_t>(kAtomHeaderSize + item.bytes.size()));
    w.u32be(item.key);
    w.bytes(item.bytes);
  }
  return w.take();
}

ErrorCode MetadataList::parse(std::span<const std::uint8_t> bytes, MetadataList* out) {
  out->clear();
  ByteReader r(bytes);
  MetadataList list;
  while (r.remaining() > 0) {
    std::uint32_t size = r.u32be();
    std::uint32_t key = r.u32be();
    if (!r.ok() || size < kAtomHeaderSize || size - kAtomHeaderSize > r.remaining()) {
      return err::kUnreadableCatalog;
    }
    // add() keeps the items of one key together even when a stored list
    // from elsewhere has them apart.
    list.add(key, r.bytes(size - kAtomHeaderSize));
  }
  *out = std::move(list);
  return err::kNone;
}

}  // namespace norvo::metadata
