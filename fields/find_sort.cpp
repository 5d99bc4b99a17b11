// SPDX-License-Identifier: GPL-3.0-or-later
#include "fields/find_sort.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <optional>

#include "catalog/save.h"
#include "fields/record_stream.h"
#include "metadata/annotation_block.h"
#include "metadata/custom_fields.h"
#include "platform/ascii.h"
#include "platform/alias.h"
#include "platform/byte_io.h"
#include "platform/file_spec.h"
#include "platform/text_encoding.h"
#include "platform/unicode_text.h"

namespace norvo::fields {
namespace {

// Field definitions, values and annotations of the layer below.
using metadata::AnnotationBlock;
using metadata::CalendarDay;
using metadata::CalendarDayOf;
using metadata::ColourLabelName;
using metadata::DateTimeOfDay;
using metadata::FieldCount;
using metadata::FieldDefinition;
using metadata::FieldId;
using metadata::FieldIdAt;
using metadata::FieldLabel;
using metadata::FieldSearchKind;
using metadata::FieldSource;
using metadata::FieldStorage;
using metadata::FieldValue;
using metadata::FieldValueType;
using metadata::FindField;
using metadata::IsListField;
using metadata::ItemDisplayName;
using metadata::ItemFields;
using metadata::ItemFileName;
using metadata::kAtomHeaderSize;
using metadata::kDataSetHeaderSize;
using metadata::kRawMarker;
using metadata::kTextMarker;
using metadata::NormaliseDateText;
using metadata::SearchKind;
using metadata::Tier;
using metadata::ValueText;
using metadata::ValueType;
namespace field_ids = metadata::field_ids;

// Texts of the dialogs and menus this file builds, by string number.
constexpr std::string_view kSortHeaderFileProperty = "Sort by file property:";  // 14019
constexpr std::string_view kSortHeaderView = "View:";                           // 14020
constexpr std::string_view kSortRandom = "  Random";                            // 14021
constexpr std::string_view kSortDefault = "  Default";                          // 14022
constexpr std::array<std::string_view, 3> kGoToTexts = {"item with ID:", "next item that contains:",
                                                        "next labelled item"};  // 12..14
constexpr std::array<std::string_view, 4> kScopeTexts = {"front catalog", "all open catalogs", "recent catalogs",
                                                         "catalogs in folder..."};  // 59413..59416
constexpr std::array<std::string_view, 7> kTextOperators = {
    "is", "contains", "doesn't contain", "starts with", "ends with", "is empty", "is not empty"};
constexpr std::array<std::string_view, 5> kNumberOperators = {
    "equals", "is less than", "is greater than", "is less than or equal", "is greater than or equal"};
constexpr std::array<std::string_view, 3> kDateOperators = {"on", "before", "after"};
constexpr std::array<std::string_view, 2> kCodeOperators = {"is", "is not"};

std::span<const std::string_view> Operators(SearchKind kind) {
  switch (kind) {
    case SearchKind::kText: return kTextOperators;
    case SearchKind::kNumber: return kNumberOperators;
    case SearchKind::kDate: return kDateOperators;
    case SearchKind::kTypeCode: return kCodeOperators;
    default: return {};
  }
}

// Reads a typed number: decimal, or 0x and hexadecimal digits.
std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<std::uint32_t> ParseDate(std::string_view text) {
  auto normal = NormaliseDateText(text);
  if (!normal || normal->size() != 8) return std::nullopt;
  CalendarDay d{std::stoi(normal->substr(0, 4)), std::stoi(normal->substr(4, 2)), std::stoi(normal->substr(6, 2))};
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return std::nullopt;
  return DateTimeOfDay(d);
}

std::int64_t DayKey(std::uint32_t date_time) {
  CalendarDay d = CalendarDayOf(date_time);
  return std::int64_t{d.year} * 365 + d.month * 31 + d.day;
}

// `value` and `wanted` in their search forms.
bool TextTest(int op, const std::string& value, const std::string& wanted) {
  switch (op) {
    case text_ops::kIs: return value == wanted;
    case text_ops::kContains: return !wanted.empty() && value.find(wanted) != std::string::npos;
    case text_ops::kDoesNotContain: return wanted.empty() || value.find(wanted) == std::string::npos;
    case text_ops::kStartsWith: return !wanted.empty() && value.find(wanted) == 0;
    case text_ops::kEndsWith: return value.size() >= wanted.size() && value.ends_with(wanted);
    case text_ops::kIsEmpty: return value.empty();
    case text_ops::kIsNotEmpty: return !value.empty();
    default: return false;
  }
}

bool EvaluateText(const ItemFields& item, const Criterion& c) {
  const std::string wanted = SearchForm(c.value);
  std::vector<FieldValue> values = item.values(c.field);
  auto as_text = [&](const FieldValue& v) { return SearchForm(ValueText(v, c.field)); };
  if (!IsListField(c.field)) {
    return TextTest(c.op, values.empty() ? std::string() : as_text(values.front()), wanted);
  }
  for (const FieldValue& v : values) {
    bool r = TextTest(c.op, as_text(v), wanted);
    switch (c.op) {
      case text_ops::kDoesNotContain:
        if (!r) return false;
        break;
      case text_ops::kIsEmpty:
      case text_ops::kIsNotEmpty: return r;
      default:
        if (r) return true;
        break;
    }
  }
  return TextTest(c.op, std::string(), wanted);
}

std::uint32_t NumberOf(const ItemFields& item, FieldId id) {
  FieldValue v;
  if (!item.value(id, &v)) return 0;
  return static_cast<std::uint32_t>(v.number);
}

}  // namespace

// --- sort keys --------------------------------------------------------------

namespace {

// MakeSortKey into a key kept between items, so that its text's buffer is
// reused.
void MakeSortKeyInto(const ItemFields& item, FieldId id, bool natural, SortKey& key) {
  key.type = SortKeyType::kNone;
  key.number = 0;
  key.denominator = 0;
  key.text.clear();
  auto text_key = [&key, natural](std::string_view utf8) {
    key.type = SortKeyType::kText;
    UserCollator(natural).sortKey(FirstBytes(utf8, kMaxSortKeyText), key.text);
  };
  if (id == field_ids::kFileName) {
    // The most sorted field, read straight from the record.
    std::string name = item.fileName();
    if (!name.empty()) text_key(name);
    return;
  }
  FieldValue v;
  if (!item.value(id, &v)) return;
  switch (FieldValueType(id)) {
    case ValueType::kByte:
      key.type = SortKeyType::kByte;
      key.number = static_cast<std::int8_t>(v.number);
      break;
    case ValueType::kInt16:
      key.type = SortKeyType::kInt16;
      key.number = static_cast<std::int16_t>(v.number);
      break;
    case ValueType::kInt32:
      key.type = SortKeyType::kUnsigned;
      key.number = static_cast<std::uint32_t>(v.number);
      break;
    case ValueType::kRational:
      key.type = SortKeyType::kRational;
      key.number = static_cast<std::int32_t>(v.number);
      key.denominator = static_cast<std::int32_t>(v.denominator);
      break;
    case ValueType::kText: text_key(ValueText(v, id)); break;
    default: break;
  }
}

// A key whose text lies elsewhere (a sort's keys share one buffer).
struct KeyView {
  SortKeyType type = SortKeyType::kNone;
  std::int64_t number = 0;
  std::int64_t denominator = 0;
  std::string_view text;
};

int CompareKeyViews(const KeyView& a, const KeyView& b) {
  if (a.type == SortKeyType::kNone || b.type == SortKeyType::kNone) {
    if (a.type == b.type) return 0;
    return a.type == SortKeyType::kNone ? -1 : 1;
  }
  if (a.type != b.type) return 0;
  switch (a.type) {
    case SortKeyType::kRational: {
      // In 32 bits, as the stored numbers are.
      auto an = static_cast<std::uint32_t>(a.number), ad = static_cast<std::uint32_t>(a.denominator);
      auto bn = static_cast<std::uint32_t>(b.number), bd = static_cast<std::uint32_t>(b.denominator);
      auto diff = static_cast<std::int32_t>(an * bd - ad * bn);
      return diff < 0 ? -1 : (diff > 0 ? 1 : 0);
    }
    case SortKeyType::kText: {
      int r = a.text.compare(b.text);
      return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    default: return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  }
}

}  // namespace

SortKey TextSortKey(std::string_view utf8, bool natural) {
  SortKey key;
  key.type = SortKeyType::kText;
  UserCollator(natural).sortKey(FirstBytes(utf8, kMaxSortKeyText), key.text);
  return key;
}

SortKey MakeSortKey(const ItemFields& item, FieldId id, bool natural) {
  SortKey key;
  MakeSortKeyInto(item, id, natural, key);
  return key;
}

int CompareSortKeys(const SortKey& a, const SortKey& b) {
  return CompareKeyViews({a.type, a.number, a.denominator, a.text}, {b.type, b.number, b.denominator, b.text});
}

namespace {

// The keys of one sort, in the order the records are read (file order):
// their numbers and types side by side, their texts back to back in one
// buffer. Kept compact: a sort touches every key several times.
class SortKeys {
 public:
  void clear() {
    keys_.clear();
    text_at_.clear();
    texts_.clear();
  }

  std::uint32_t add(const SortKey& key) {
    keys_.push_back({key.number, static_cast<std::int32_t>(key.denominator), key.type});
    text_at_.push_back(static_cast<std::uint32_t>(texts_.size()));
    texts_ += key.text;
    return static_cast<std::uint32_t>(keys_.size() - 1);
  }
  // After the last add.
  void close() { text_at_.push_back(static_cast<std::uint32_t>(texts_.size())); }

  std::size_t size() const { return keys_.size(); }
  KeyView operator[](std::size_t i) const {
    const Key& k = keys_[i];
    return {k.type, k.number, k.denominator,
            std::string_view(texts_).substr(text_at_[i], text_at_[i + 1] - text_at_[i])};
  }

 private:
  struct Key {
    std::int64_t number;
    std::int32_t denominator;  // rationals keep 32 bits
    SortKeyType type;
  };
  std::vector<Key> keys_;
  std::vector<std::uint32_t> text_at_;  // where each key's text begins in texts_
  std::string texts_;
};

// A shown item in the sort: its cell (from 0), its key, and eight bytes of
// its text key taken where the keys start to differ, as a number.
// Collation keys of similar names share long beginnings ("DSC_0..."); the
// bytes after them settle most comparisons without reading the keys.
struct Ranked {
  std::uint64_t prefix = 0;
  std::uint32_t cell = 0;
  std::uint32_t key = 0;
};

// The buffers of a sort, kept for the next sort on the thread: fresh memory
// costs a page fault a page, and on some systems the faults for a megabyte
// take longer than sorting thousands of items.
struct SortBuffers {
  std::vector<int> wanted;
  SortKeys keys;
  std::vector<std::uint32_t> key_of_cell;
  std::vector<Ranked> ranked;
  std::vector<catalog::CatalogCell> order;
};

// How many bytes all text keys share at their start; every key must be a
// text or missing, else ranking by bytes is off (nullopt): numbers must
// compare as numbers.
std::optional<std::size_t> SharedKeyBytes(const SortKeys& keys) {
  std::optional<std::string_view> first;
  std::size_t common = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const KeyView k = keys[i];
    if (k.type == SortKeyType::kNone) continue;
    if (k.type != SortKeyType::kText) return std::nullopt;
    if (!first) {
      first = k.text;
      common = k.text.size();
      continue;
    }
    std::size_t n = 0;
    while (n < common && n < k.text.size() && k.text[n] == (*first)[n]) ++n;
    common = n;
  }
  return common;
}

// The eight bytes of a text key after the shared ones, as a number; 0 for a
// missing key, which sorts it first. Collation keys hold no 0 byte: the 0s
// past a key's end put it before the longer keys it begins.
std::uint64_t RankingBytes(const KeyView& key, std::size_t shared) {
  std::uint64_t p = 0;
  if (key.type != SortKeyType::kText) return p;
  for (std::size_t b = shared; b < shared + sizeof p; ++b) {
    p = (p << 8) | (b < key.text.size() ? static_cast<std::uint8_t>(key.text[b]) : 0u);
  }
  return p;
}

}  // namespace

ErrorCode SortItems(catalog::Catalog& catalog, FieldId id, bool descending, bool natural, bool* moved) {
  if (moved) *moved = false;
  if (FindField(id) == nullptr) return err::kParam;
  const int count = catalog.itemCount();
  thread_local SortBuffers buffers;
  std::vector<int>& wanted = buffers.wanted;
  SortKeys& keys = buffers.keys;
  std::vector<std::uint32_t>& key_of_cell = buffers.key_of_cell;
  wanted.clear();
  keys.clear();
  key_of_cell.assign(static_cast<std::size_t>(count), 0);
  for (int cell = 1; cell <= count; ++cell) {
    if (!catalog.cells[static_cast<std::size_t>(cell - 1)].hidden()) wanted.push_back(cell);
  }
  std::size_t offset = 0;
  std::size_t length = 0;
  const bool fixed_only = FieldStorage(id, offset, length) || id == field_ids::kLabels || id == field_ids::kUniqueId;
  ErrorCode failure = err::kNone;
  if (!wanted.empty()) {
    ItemFields item;
    SortKey key;
    ForEachItemRecord(catalog, fixed_only ? RecordParts::kFixed : RecordParts::kSearched, wanted,
                      [&](int cell, ErrorCode e, const catalog::ItemRecord& record) {
                        if (e != err::kNone) {
                          failure = e;
                          return false;
                        }
                        item.assign(catalog, cell, record);
                        MakeSortKeyInto(item, id, natural, key);
                        key_of_cell[static_cast<std::size_t>(cell - 1)] = keys.add(key);
                        return true;
                      });
  }
  if (failure != err::kNone) return failure;
  keys.close();
  const std::optional<std::size_t> shared = SharedKeyBytes(keys);
  std::vector<Ranked>& ranked = buffers.ranked;
  ranked.clear();
  for (int cell : wanted) {
    const std::uint32_t key = key_of_cell[static_cast<std::size_t>(cell - 1)];
    ranked.push_back({shared ? RankingBytes(keys[key], *shared) : 0, static_cast<std::uint32_t>(cell - 1), key});
  }
  // Equal keys keep their order in both directions: the cell decides them,
  // which makes a plain sort stable.
  std::sort(ranked.begin(), ranked.end(), [&keys, descending](const Ranked& a, const Ranked& b) {
    int r = a.prefix != b.prefix ? (a.prefix < b.prefix ? -1 : 1) : CompareKeyViews(keys[a.key], keys[b.key]);
    if (r == 0) return a.cell < b.cell;
    return descending ? r > 0 : r < 0;
  });
  std::vector<catalog::CatalogCell>& order = buffers.order;
  order.clear();
  for (const Ranked& r : ranked) order.push_back(catalog.cells[r.cell]);
  for (int i = 0; i < count; ++i) {
    if (catalog.cells[static_cast<std::size_t>(i)].hidden()) order.push_back(catalog.cells[static_cast<std::size_t>(i)]);
  }
  bool changed = false;
  for (int i = 0; i < count && !changed; ++i) {
    changed = order[static_cast<std::size_t>(i)].item_id != catalog.cells[static_cast<std::size_t>(i)].item_id;
  }
  if (!changed) return err::kNone;
  std::copy(order.begin(), order.end(), catalog.cells.begin());
  catalog.markChanged();
  catalog.send(catalog::Notification::kCatalogChanged);
  if (moved) *moved = true;
  return err::kNone;
}

bool NaturalOrder(const catalog::Catalog& catalog) { return catalog.settings.bytes[kNaturalOrderSettingOffset] != 0; }

void SetNaturalOrder(catalog::Catalog& catalog, bool natural) {
  std::uint8_t value = natural ? 1 : 0;
  if (catalog.settings.bytes[kNaturalOrderSettingOffset] == value) return;
  catalog.settings.bytes[kNaturalOrderSettingOffset] = value;
  catalog.markChanged();
}

ErrorCode MoveItems(catalog::Catalog& catalog, std::span<const int> cells, int before) {
  const int count = catalog.itemCount();
  if (before < 1 || before > count + 1) return err::kParam;
  std::vector<bool> moving(static_cast<std::size_t>(count) + 2, false);
  for (int cell : cells) {
    if (cell < 1 || cell > count) return err::kParam;
    moving[static_cast<std::size_t>(cell)] = true;
  }
  while (before <= count && moving[static_cast<std::size_t>(before)]) ++before;
  std::vector<catalog::CatalogCell> order;
  order.reserve(static_cast<std::size_t>(count));
  auto take_moved = [&] {
    for (int c = 1; c <= count; ++c) {
      if (moving[static_cast<std::size_t>(c)]) order.push_back(catalog.cells[static_cast<std::size_t>(c - 1)]);
    }
  };
  for (int c = 1; c <= count; ++c) {
    if (c == before) take_moved();
    if (!moving[static_cast<std::size_t>(c)]) order.push_back(catalog.cells[static_cast<std::size_t>(c - 1)]);
  }
  if (before == count + 1) take_moved();
  if (std::equal(order.begin(), order.end(), catalog.cells.begin(),
                 [](const catalog::CatalogCell& a, const catalog::CatalogCell& b) { return a.item_id == b.item_id; })) {
    return err::kNone;
  }
  std::copy(order.begin(), order.end(), catalog.cells.begin());
  catalog.markChanged();
  catalog.send(catalog::Notification::kCatalogChanged);
  return err::kNone;
}

ErrorCode SetItemHidden(catalog::Catalog& catalog, int cell, bool hidden) {
  if (cell < 1 || cell > catalog.itemCount()) return err::kParam;
  catalog::CatalogCell& c = catalog.cells[static_cast<std::size_t>(cell - 1)];
  if (c.hidden() == hidden) return err::kNone;
  c.flags = hidden ? (c.flags | catalog::cell_flags::kHidden) : (c.flags & ~catalog::cell_flags::kHidden);
  catalog.markChanged();
  catalog.send(catalog::Notification::kCatalogChanged, c.item_id);
  return err::kNone;
}

int HiddenItemCount(const catalog::Catalog& catalog) {
  int n = 0;
  for (int i = 0; i < catalog.itemCount(); ++i) n += catalog.cells[static_cast<std::size_t>(i)].hidden() ? 1 : 0;
  return n;
}

// --- quick search -----------------------------------------------------------

namespace {

// The texts of an item's record, of the sets holding it and of its label,
// each in its search form, one after another in a buffer kept between items;
// a 0 byte ends each text, so that a match cannot run from one text into the
// next. The needle is folded once.
class TextSearcher {
 public:
  TextSearcher(const catalog::Catalog& catalog, std::string_view text)
      : catalog_(catalog), needle_(SearchForm(text)) {
    const catalog::GroupIndexes& indexes = catalog::GroupIndexesOf(catalog_);
    if (auto it = indexes.find(catalog::kCatalogSetSlot); it != indexes.end()) sets_ = &it->second;
  }

  ErrorCode contains(int cell, bool* found) {
    *found = false;
    if (needle_.empty()) return err::kNone;
    if (ErrorCode e = catalog::GetItemRecord(catalog_, cell, catalog::kWithoutOptionalParts, record_); e != err::kNone) return e;
    return contains(cell, record_, found);
  }

  ErrorCode contains(int cell, const catalog::ItemRecord& record, bool* found) {
    *found = false;
    if (needle_.empty()) return err::kNone;
    buffer_.clear();
    const catalog::CatalogCell& c = catalog_.cells[static_cast<std::size_t>(cell - 1)];
    addNames(c.item_id, record);
    addFixedTexts(record);
    addAnnotations(record.annotations);
    add8Bit(AsText(std::span(record.url.data(), FirstZero(record.url))));
    addMetadata(record.metadata);
    if (sets_ != nullptr) {
      for (const catalog::GroupEntry& e : *sets_) {
        if (std::find(e.ids.begin(), e.ids.end(), c.item_id) != e.ids.end()) addUtf8(e.name);
      }
    }
    if (c.label() != 0) add8Bit(ColourLabelName(c.label()));
    *found = memmem(buffer_.data(), buffer_.size(), needle_.data(), needle_.size()) != nullptr;
    return err::kNone;
  }

 private:
  static std::string_view AsText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }
  static std::size_t FirstZero(std::span<const std::uint8_t> bytes) {
    return static_cast<std::size_t>(std::find(bytes.begin(), bytes.end(), std::uint8_t{0}) - bytes.begin());
  }
  // A Pascal string of the fixed part, 8-bit.
  template <std::size_t N>
  static std::string_view PascalText(const std::array<std::uint8_t, N>& field) {
    return AsText(std::span(field).subspan(1, std::min<std::size_t>(field[0], N - 1)));
  }

  void addUtf8(std::string_view text) {
    AppendSearchForm(text, buffer_);
    buffer_.push_back('\0');
  }
  void add8Bit(std::string_view text) {
    AppendSearchFormWindows1252(text, buffer_);
    buffer_.push_back('\0');
  }
  // Binary data that may hold ASCII words: the ASCII bytes, case folded;
  // every other byte ends a text.
  void addAsciiOf(std::span<const std::uint8_t> bytes) {
    const std::size_t at = buffer_.size();
    buffer_.resize(at + bytes.size() + 1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      std::uint8_t b = bytes[i];
      buffer_[at + i] = static_cast<char>(b >= 0x80 ? 0 : AsciiLower(b));
    }
    buffer_.back() = '\0';
  }

  // The names: their true forms when the catalog keeps them, else the 8-bit
  // fields as they are (no copy).
  void addNames(std::uint32_t item_id, const catalog::ItemRecord& record) {
    const bool has_true_names = !record.true_file_name.empty() || !record.true_display_name.empty() ||
                                catalog_.item_true_names.contains(item_id);
    if (has_true_names) {
      addUtf8(ItemFileName(catalog_, item_id, record));
      addUtf8(ItemDisplayName(catalog_, item_id, record));
    } else {
      add8Bit(AsText(std::span(record.file_name.bytes).subspan(1, record.file_name.length())));
      add8Bit(AsText(std::span(record.display_name.bytes).subspan(1, record.display_name.length())));
    }
  }

  // The path the alias keeps (UTF-8), or the ASCII of an alias this system
  // did not write; the compressor and colour profile names.
  void addFixedTexts(const catalog::ItemRecord& record) {
    if (ParseAlias(record.aliasBytes(), alias_)) {
      addUtf8(alias_.text);
    } else {
      addAsciiOf(record.aliasBytes());
    }
    add8Bit(PascalText(record.encoding_name));
    add8Bit(PascalText(record.colour_profile_name));
  }

  // Every value of the annotation block: text entries are 8-bit, raw
  // entries UTF-8. Walked in place (marker, record, data set, 16-bit length,
  // value), stopping where the block stops being well formed.
  void addAnnotations(std::span<const std::uint8_t> block) {
    std::size_t at = 0;
    while (block.size() - at >= kDataSetHeaderSize) {
      const std::uint8_t marker = block[at];
      if (marker != kTextMarker && marker != kRawMarker) break;
      const std::size_t length = (std::size_t{block[at + 3]} << 8) | block[at + 4];
      if (block.size() - at - kDataSetHeaderSize < length) break;
      std::string_view value = AsText(block.subspan(at + kDataSetHeaderSize, length));
      if (marker == kRawMarker) {
        addUtf8(value);
      } else {
        add8Bit(value);
      }
      at += kDataSetHeaderSize + length;
    }
  }

  // The metadata list, walked in place (metadata/metadata_list_format.md): text items
  // are 8-bit, the XMP packet UTF-8; of other items only their ASCII counts
  // (dates, lens names and references are ASCII; numbers are binary).
  void addMetadata(std::span<const std::uint8_t> part) {
    std::size_t at = 0;
    while (part.size() - at >= kAtomHeaderSize) {
      ByteReader header(part.subspan(at, kAtomHeaderSize));
      const std::uint32_t size = header.u32be();
      const std::uint32_t key = header.u32be();
      if (size < kAtomHeaderSize || size > part.size() - at) break;
      auto body = part.subspan(at + kAtomHeaderSize, size - kAtomHeaderSize);
      if ((key >> 24) == kTextKeyLead && body.size() >= kTextItemHeaderSize) {
        const std::size_t length = (std::size_t{body[0]} << 8) | body[1];
        add8Bit(AsText(body.subspan(kTextItemHeaderSize,
                                    std::min(length, body.size() - kTextItemHeaderSize))));
      } else if (key == kXmpKey) {
        addUtf8(AsText(body));
      } else {
        addAsciiOf(body);
      }
      at += size;
    }
  }

  static constexpr std::size_t kAtomHeaderSize = 8;      // size, key
  static constexpr std::size_t kTextItemHeaderSize = 4;  // length, language
  static constexpr std::uint32_t kTextKeyLead = 0xA9;
  static constexpr std::uint32_t kXmpKey = FourCC("XMP ");

  const catalog::Catalog& catalog_;
  const catalog::GroupIndex* sets_ = nullptr;
  std::string needle_;
  std::string buffer_;
  catalog::ItemRecord record_;
  AliasInfo alias_;
};

}  // namespace

std::vector<std::uint32_t> QuickSearch(const catalog::Catalog& catalog, std::string_view text,
                                       const std::vector<std::uint32_t>* restrict_to) {
  std::vector<std::uint32_t> ids;
  std::vector<std::uint32_t> allowed;
  if (restrict_to) {
    allowed = *restrict_to;
    std::sort(allowed.begin(), allowed.end());
  }
  std::vector<int> cells;
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
    std::uint32_t id = catalog.cells[static_cast<std::size_t>(cell - 1)].item_id;
    if (!restrict_to || std::binary_search(allowed.begin(), allowed.end(), id)) cells.push_back(cell);
  }
  if (cells.empty() || text.empty()) return ids;
  TextSearcher searcher(catalog, text);
  std::vector<int> matched;
  // An unreadable record is passed over: it cannot hold the text.
  ForEachItemRecord(catalog, RecordParts::kSearched, cells, [&](int cell, ErrorCode e, const catalog::ItemRecord& r) {
    bool found = false;
    if (e == err::kNone && searcher.contains(cell, r, &found) == err::kNone && found) matched.push_back(cell);
    return true;
  });
  std::sort(matched.begin(), matched.end());
  for (int cell : matched) ids.push_back(catalog.cells[static_cast<std::size_t>(cell - 1)].item_id);
  return ids;
}

bool ItemContainsText(const catalog::Catalog& catalog, int cell, std::string_view text) {
  if (cell < 1 || cell > catalog.itemCount()) return false;
  TextSearcher searcher(catalog, text);
  bool found = false;
  return searcher.contains(cell, &found) == err::kNone && found;
}

// --- criteria ---------------------------------------------------------------

std::vector<std::string> OperatorNames(SearchKind kind) {
  std::vector<std::string> out;
  for (std::string_view name : Operators(kind)) out.emplace_back(name);
  return out;
}

int OperatorFromName(SearchKind kind, std::string_view name) {
  auto ops = Operators(kind);
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (CompareText(ops[i], name, false) == 0) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool ValidCriterion(const Criterion& c) {
  SearchKind kind = FieldSearchKind(c.field);
  if (kind == SearchKind::kNone || c.op < 1 || c.op > static_cast<int>(Operators(kind).size())) return false;
  if (kind == SearchKind::kNumber) return ParseNumber(c.value).has_value();
  if (kind == SearchKind::kDate) return ParseDate(c.value).has_value();
  return true;
}

bool EvaluateCriterion(const ItemFields& item, const Criterion& c) {
  switch (FieldSearchKind(c.field)) {
    case SearchKind::kText: return EvaluateText(item, c);
    case SearchKind::kNumber: {
      auto wanted = ParseNumber(c.value);
      if (!wanted) return false;
      std::uint32_t v = NumberOf(item, c.field);
      switch (c.op) {
        case number_ops::kEquals: return v == *wanted;
        case number_ops::kLess: return v < *wanted;
        case number_ops::kGreater: return v > *wanted;
        case number_ops::kLessOrEqual: return v <= *wanted;
        case number_ops::kGreaterOrEqual: return v >= *wanted;
        default: return false;
      }
    }
    case SearchKind::kDate: {
      auto wanted = ParseDate(c.value);
      if (!wanted) return false;
      std::int64_t a = DayKey(NumberOf(item, c.field));
      std::int64_t b = DayKey(*wanted);
      switch (c.op) {
        case date_ops::kOn: return a == b;
        case date_ops::kBefore: return a < b;
        case date_ops::kAfter: return a > b;
        default: return false;
      }
    }
    case SearchKind::kTypeCode: {
      // Type codes are four 8-bit characters.
      std::string typed = Utf8ToWindows1252(c.value).substr(0, 4);
      typed.resize(4, ' ');
      std::uint32_t code = 0;
      for (char ch : typed) code = (code << 8) | static_cast<std::uint8_t>(ch);
      std::uint32_t wanted = FourCCUpperCase(code);
      std::uint32_t v = FourCCUpperCase(NumberOf(item, c.field));
      if (c.op == code_ops::kIs) return v == wanted;
      if (c.op == code_ops::kIsNot) return v != wanted;
      return false;
    }
    default: return false;
  }
}

bool MatchesCriteria(const ItemFields& item, std::span<const Criterion> criteria, bool any) {
  if (criteria.empty()) return false;
  for (const Criterion& c : criteria) {
    bool r = EvaluateCriterion(item, c);
    if (any && r) return true;
    if (!any && !r) return false;
  }
  return !any;
}

ErrorCode FindItems(const catalog::Catalog& catalog, std::span<const Criterion> criteria, bool any,
                    std::vector<std::uint32_t>& ids) {
  ids.clear();
  if (criteria.empty() || criteria.size() > static_cast<std::size_t>(kMaxCriteria)) return err::kParam;
  for (const Criterion& c : criteria) {
    if (!ValidCriterion(c)) return err::kParam;
  }
  ItemFields item;
  std::vector<int> matched;
  ErrorCode failure = err::kNone;
  ForEachItemRecord(catalog, RecordParts::kSearched, {}, [&](int cell, ErrorCode e, const catalog::ItemRecord& r) {
    if (e != err::kNone) {
      failure = e;
      return false;
    }
    item.assign(catalog, cell, r);
    if (MatchesCriteria(item, criteria, any)) matched.push_back(cell);
    return true;
  });
  if (failure != err::kNone) return failure;
  std::sort(matched.begin(), matched.end());
  for (int cell : matched) ids.push_back(catalog.cells[static_cast<std::size_t>(cell - 1)].item_id);
  return err::kNone;
}

// --- field lists, menus -----------------------------------------------------

FieldId FindFieldAt(int n, std::uint8_t section, FieldPurpose purpose) {
  if (n < 0) return 0;
  for (int i = 1; i <= FieldCount(); ++i) {
    const FieldDefinition* f = FindField(FieldIdAt(i));
    if (f == nullptr || f->section == 0 || (section != 0 && f->section != section)) continue;
    bool pass = false;
    switch (purpose) {
      case FieldPurpose::kAny: pass = true; break;
      case FieldPurpose::kAnnotation: pass = f->source == FieldSource::kAnnotation; break;
      case FieldPurpose::kListColumn: pass = f->tier == Tier::kColumn; break;
      case FieldPurpose::kFind:
        pass = f->search_kind != SearchKind::kNone && (f->tier == Tier::kFindOnly || f->tier == Tier::kColumn);
        break;
    }
    if (pass && n-- == 0) return f->id;
  }
  return 0;
}

std::vector<SortMenuEntry> SortMenu(const catalog::Catalog* catalog) {
  struct Row {
    std::string_view text;
    bool enabled;
    FieldId field;
  };
  const Row rows[] = {{kSortHeaderView, false, 0},
                      {kSortRandom, true, 0},
                      {kSortDefault, true, 0},
                      {{}, true, field_ids::kLabels},
                      {kSortHeaderFileProperty, false, 0},
                      {{}, true, field_ids::kFileName},
                      {{}, true, field_ids::kPath},
                      {{}, true, field_ids::kVolumeName},
                      {{}, true, 0xb},
                      {{}, true, 0xc},
                      {{}, true, field_ids::kFileType},
                      {{}, true, field_ids::kFileSize},
                      {{}, true, field_ids::kWidth},
                      {{}, true, field_ids::kHeight}};
  std::vector<SortMenuEntry> out;
  int position = 0;
  for (const Row& row : rows) {
    SortMenuEntry e;
    e.command = kFirstSortCommand + position++;
    e.enabled = row.enabled;
    e.field = row.field;
    if (row.field != 0) {
      std::string label;
      if (FieldLabel(catalog, row.field, label) != err::kNone || label.empty()) continue;
      e.text = "  " + label;
    } else {
      e.text = std::string(row.text);
    }
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<std::string> GoToChoices() { return {kGoToTexts.begin(), kGoToTexts.end()}; }

int GoTo(const catalog::Catalog& catalog, GoToChoice choice, int current, std::string_view argument) {
  switch (choice) {
    case GoToChoice::kItemWithId: {
      auto id = ParseNumber(argument);
      return id && *id != 0 ? catalog.cellOf(*id) : 0;
    }
    case GoToChoice::kNextContaining:
      for (int cell = std::max(current, 0) + 1; cell <= catalog.itemCount(); ++cell) {
        if (ItemContainsText(catalog, cell, argument)) return cell;
      }
      return 0;
    case GoToChoice::kNextLabelled:
      for (int cell = std::max(current, 0) + 1; cell <= catalog.itemCount(); ++cell) {
        if (catalog.cells[static_cast<std::size_t>(cell - 1)].label() != 0) return cell;
      }
      return 0;
  }
  return 0;
}

// --- scopes -----------------------------------------------------------------

std::vector<std::string> ScopeNames() { return {kScopeTexts.begin(), kScopeTexts.end()}; }

std::vector<CatalogMatches> FindInCatalogFiles(const std::vector<std::string>& paths,
                                               std::span<const Criterion> criteria, bool any,
                                               const std::string& scratch_folder) {
  std::vector<CatalogMatches> out;
  int serial = 0;
  for (const std::string& path : paths) {
    CatalogMatches m;
    m.path = path;
    FileSpec file;
    FileSpec scratch;
    m.result = MakeFileSpec(path, file);
    if (m.result == err::kNone) {
      // A ScratchFile that does not exist yet is the usual case.
      ErrorCode e = MakeFileSpec(scratch_folder + "/.norvo-find-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(serial++),
                                 scratch);
      if (e != err::kFileNotFound) m.result = e;
    }
    std::unique_ptr<catalog::Catalog> c;
    // A protected catalog is not searched: there is nobody to ask.
    if (m.result == err::kNone) {
      m.result = catalog::CreateCatalog(&file, scratch, [] { return std::optional<std::string>(); }, {}, c);
    }
    if (m.result == err::kNone) m.result = FindItems(*c, criteria, any, m.ids);
    if (c) catalog::CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<std::string> CatalogFilesInFolder(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() > 4 && CompareText(name.substr(name.size() - 4), ".nrk", false) == 0 && !name.starts_with(".") &&
        entry.is_regular_file(ec)) {
      out.push_back(entry.path().string());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// --- saved queries ----------------------------------------------------------

std::vector<std::uint8_t> EncodeQuery(const SavedQuery& query) {
  ByteWriter w;
  w.u8(1);
  w.u8(query.any ? 1 : 0);
  w.u8(static_cast<std::uint8_t>(query.scope));
  w.u8(static_cast<std::uint8_t>(std::min<std::size_t>(query.criteria.size(), kMaxCriteria)));
  for (std::size_t i = 0; i < query.criteria.size() && i < static_cast<std::size_t>(kMaxCriteria); ++i) {
    const Criterion& c = query.criteria[i];
    std::string value = c.value.substr(0, 0xFFFF);
    w.u32be(c.field);
    w.u8(static_cast<std::uint8_t>(c.op));
    w.u16be(static_cast<std::uint16_t>(value.size()));
    w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
  }
  return w.take();
}

std::optional<SavedQuery> DecodeQuery(std::span<const std::uint8_t> bytes) {
  ByteReader r(bytes);
  if (r.u8() != 1) return std::nullopt;
  SavedQuery q;
  q.any = r.u8() != 0;
  std::uint8_t scope = r.u8();
  if (scope > static_cast<std::uint8_t>(SearchScope::kFolder)) return std::nullopt;
  q.scope = static_cast<SearchScope>(scope);
  std::uint8_t rows = r.u8();
  if (rows > kMaxCriteria) return std::nullopt;
  for (int i = 0; i < rows; ++i) {
    Criterion c;
    c.field = r.u32be();
    c.op = r.u8();
    auto value = r.bytes(r.u16be());
    c.value.assign(value.begin(), value.end());
    q.criteria.push_back(std::move(c));
  }
  if (!r.ok() || !r.atEnd()) return std::nullopt;
  return q;
}

std::vector<std::string> SplitQueryNames(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view name = text.substr(0, end);
    if (!name.empty()) out.emplace_back(name);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

std::string JoinQueryNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += n + "\n";
  return out;
}

}  // namespace norvo::fields
