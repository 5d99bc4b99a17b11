// SPDX-License-Identifier: GPL-3.0-or-later
// MetadataList: an item's metadata as a list of byte items keyed by 32-bit
// codes (EXIF and GPS values, metadata texts, XMP packets, IPTC records).
// Several items may share a key; they keep the order they were added in and
// are addressed by key and a 1-based index. The stored form is a run of
// atoms, described in metadata_list_format.md.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::metadata {

// No item with the given key and index.
inline constexpr ErrorCode kItemNotFound = -2026;
// Atom header: a 32-bit size (header included) and a 32-bit key.
inline constexpr std::size_t kAtomHeaderSize = 8;
// Text item header: a 16-bit text length and a 16-bit language code.
inline constexpr std::size_t kTextHeaderSize = 4;
inline constexpr std::uint16_t kDefaultLanguage = 0;

class MetadataList {
 public:
  // Appends an item after every item already kept under `key`.
  void add(std::uint32_t key, std::span<const std::uint8_t> bytes);
  // Removes every item of `key`, then adds this one.
  void replace(std::uint32_t key, std::span<const std::uint8_t> bytes);
  // Removes the index-th item of `key` (from 1); later items move up.
  ErrorCode remove(std::uint32_t key, int index);
  void removeAll(std::uint32_t key);
  // The index-th item of `key` (from 1), or nullptr.
  const std::vector<std::uint8_t>* find(std::uint32_t key, int index) const;
  ErrorCode get(std::uint32_t key, int index, std::vector<std::uint8_t>* out) const;
  int count(std::uint32_t key) const;

  // Text items: the text is kept behind a length and a language code, so a
  // text item is told apart from its plain bytes. Texts longer than 65535
  // bytes are cut.
  void addText(std::uint32_t key, std::string_view text);
  void replaceText(std::uint32_t key, std::string_view text);
  // The text of the index-th item of `key`; an item too short for its own
  // length is err::kParam.
  ErrorCode getText(std::uint32_t key, int index, std::string* out) const;

  // Keys in the order their first item was added: nextKey(0) is the first
  // key, nextKey(k) the key after k; 0 when there is none.
  std::uint32_t nextKey(std::uint32_t after) const;

  bool empty() const { return items_.empty(); }
  std::size_t itemCount() const { return items_.size(); }
  void clear() { items_.clear(); }

  // The stored form (the item record's Metadata part).
  std::vector<std::uint8_t> serialize() const;
  // Reads a stored form; a damaged one is err::kUnreadableCatalog and leaves *out empty.
  static ErrorCode parse(std::span<const std::uint8_t> bytes, MetadataList* out);

  bool operator==(const MetadataList&) const = default;

 private:
  struct Item {
    std::uint32_t key = 0;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Item&) const = default;
  };
  std::vector<Item> items_;
};

std::vector<std::uint8_t> EncodeTextItem(std::string_view text);

}  // namespace norvo::metadata
