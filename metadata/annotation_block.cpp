// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/annotation_block.h"

#include <algorithm>
#include <cctype>

#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {
namespace {

bool IsMarker(std::uint8_t b) { return b == kTextMarker || b == kRawMarker; }

std::uint8_t RecordOf(FieldId id) { return static_cast<std::uint8_t>((id >> 8) & 0xFF); }
std::uint8_t DataSetOf(FieldId id) { return static_cast<std::uint8_t>(id & 0xFF); }

// The field's entries only, in block order.
std::vector<AnnotationEntry> EntriesOf(FieldId id, std::span<const std::uint8_t> block) {
  std::vector<AnnotationEntry> all = AnnotationEntries(block);
  std::erase_if(all, [id](const AnnotationEntry& e) { return e.id() != id; });
  return all;
}

std::vector<std::uint8_t> EncodeEntry(FieldId id, std::span<const std::uint8_t> bytes, std::uint8_t marker) {
  std::size_t length = std::min(bytes.size(), kMaxDataSetLength);
  ByteWriter w(kDataSetHeaderSize + length);
  w.u8(marker);
  w.u8(RecordOf(id));
  w.u8(DataSetOf(id));
  w.u16be(static_cast<std::uint16_t>(length));
  w.bytes(bytes.first(length));
  return w.take();
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Utf8Of(std::span<const std::uint8_t> bytes, std::uint8_t marker) {
  std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return marker == kRawMarker ? LenientUtf8(view) : Windows1252ToUtf8(view);
}

bool IsListSeparator(char c) { return c == ',' || c == ';' || c == '\t'; }
bool EndsText(char c) { return c == '\r' || c == '\n'; }

}  // namespace

std::string AnnotationValue::text() const {
  std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return marker == kRawMarker ? Utf8ToWindows1252(view) : std::string(view);
}

std::string AnnotationValue::utf8() const { return Utf8Of(bytes, marker); }

BlockText BlockTextFromUtf8(std::string_view utf8) {
  bool lossless = true;
  std::string text = Utf8ToWindows1252(utf8, &lossless);
  if (lossless) return {std::move(text), kTextMarker};
  return {LenientUtf8(utf8), kRawMarker};
}

std::vector<AnnotationEntry> AnnotationEntries(std::span<const std::uint8_t> block) {
  std::vector<AnnotationEntry> entries;
  ByteReader r(block);
  while (!r.atEnd()) {
    std::size_t offset = r.position();
    if (!IsMarker(block[offset])) break;
    if (r.remaining() < kDataSetHeaderSize) break;
    AnnotationEntry e;
    e.offset = offset;
    e.marker = r.u8();
    e.record = r.u8();
    e.data_set = r.u8();
    std::uint16_t length = r.u16be();
    e.value = r.bytes(length);
    if (!r.ok()) break;
    entries.push_back(e);
  }
  return entries;
}

std::size_t WellFormedLength(std::span<const std::uint8_t> block) {
  std::vector<AnnotationEntry> entries = AnnotationEntries(block);
  return entries.empty() ? 0 : entries.back().offset + entries.back().size();
}

bool TrimAnnotationBlock(AnnotationBlock& block) {
  std::size_t keep = WellFormedLength(block);
  if (keep == block.size()) return false;
  block.resize(keep);
  return true;
}

namespace {

AnnotationValue ValueOf(const AnnotationEntry& e) {
  AnnotationValue v;
  v.marker = e.marker;
  v.bytes.assign(e.value.begin(), e.value.end());
  std::replace(v.bytes.begin(), v.bytes.end(), std::uint8_t{0}, std::uint8_t{' '});
  return v;
}

}  // namespace

std::optional<AnnotationValue> GetAnnotation(FieldId id, int index, std::span<const std::uint8_t> block) {
  if (index < 1) return std::nullopt;
  std::vector<AnnotationEntry> entries = EntriesOf(id, block);
  if (static_cast<std::size_t>(index) > entries.size()) return std::nullopt;
  return ValueOf(entries[static_cast<std::size_t>(index) - 1]);
}

std::vector<AnnotationValue> GetAnnotations(FieldId id, std::span<const std::uint8_t> block) {
  // One walk over the block: a block of thousands of entries must not be
  // walked once per entry.
  std::vector<AnnotationValue> values;
  for (const AnnotationEntry& e : EntriesOf(id, block)) values.push_back(ValueOf(e));
  return values;
}

int CountAnnotations(FieldId id, std::span<const std::uint8_t> block) {
  return static_cast<int>(EntriesOf(id, block).size());
}

bool SetAnnotation(FieldId id, int index, std::span<const std::uint8_t> bytes, AnnotationBlock& block, SetMode mode,
                   std::uint8_t marker) {
  bool changed = TrimAnnotationBlock(block);
  if (!IsMarker(marker)) return changed;
  std::vector<AnnotationEntry> entries = EntriesOf(id, block);
  const AnnotationEntry* existing = nullptr;
  if (index >= 1 && static_cast<std::size_t>(index) <= entries.size()) {
    existing = &entries[static_cast<std::size_t>(index) - 1];
  }
  auto append = [&]() {
    if (bytes.empty()) return changed;
    std::vector<std::uint8_t> entry = EncodeEntry(id, bytes, marker);
    block.insert(block.end(), entry.begin(), entry.end());
    return true;
  };
  auto erase = [&](const AnnotationEntry& e) {
    auto at = block.begin() + static_cast<std::ptrdiff_t>(e.offset);
    block.erase(at, at + static_cast<std::ptrdiff_t>(e.size()));
    return true;
  };

  switch (mode) {
    case SetMode::kAddIfMissing:
      return existing != nullptr ? changed : append();
    case SetMode::kAppend:
      return append();
    case SetMode::kRemove:
      return existing != nullptr ? erase(*existing) : changed;
    case SetMode::kReplace:
      break;
  }
  if (existing == nullptr) return append();
  if (bytes.empty()) return erase(*existing);
  std::span<const std::uint8_t> kept = bytes.first(std::min(bytes.size(), kMaxDataSetLength));
  if (existing->marker == marker && std::ranges::equal(existing->value, kept)) return changed;
  std::vector<std::uint8_t> entry = EncodeEntry(id, kept, marker);
  auto at = block.begin() + static_cast<std::ptrdiff_t>(existing->offset);
  std::size_t old_size = existing->size();
  block.erase(at, at + static_cast<std::ptrdiff_t>(old_size));
  block.insert(block.begin() + static_cast<std::ptrdiff_t>(existing->offset), entry.begin(), entry.end());
  return true;
}

bool SetAnnotationText(FieldId id, int index, std::string_view text, AnnotationBlock& block, SetMode mode,
                       std::uint8_t marker) {
  return SetAnnotation(id, index, AsBytes(text), block, mode, marker);
}

bool RemoveAnnotations(FieldId id, AnnotationBlock& block) {
  bool changed = false;
  while (SetAnnotation(id, 1, {}, block, SetMode::kRemove)) changed = true;
  return changed;
}

int FindAnnotationValue(FieldId id, std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> block,
                        std::uint8_t marker) {
  std::string wanted = Utf8Of(bytes, marker);
  std::vector<AnnotationEntry> entries = EntriesOf(id, block);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Utf8Of(entries[i].value, entries[i].marker) == wanted) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool IsRepeatedAnnotation(FieldId id) {
  switch (id) {
    case 0x20c:  // subject codes (XMP bag)
    case 0x214:  // categories
    case 0x219:  // keywords
    case 0x276:  // people
    case 0x2e0:  // scene codes (XMP bag)
    case 0x2fe:  // user fields (XMP bag)
    case 0x2ff:  // catalog sets (XMP bag)
      return true;
    default:
      return false;
  }
}

std::vector<std::string> SplitListText(std::string_view text) {
  std::vector<std::string> values;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && text[i] == ' ') ++i;
    if (i >= n || EndsText(text[i])) break;
    std::string value;
    if (text[i] == '\'' || text[i] == '"') {
      char quote = text[i++];
      while (i < n && text[i] != quote && !EndsText(text[i])) value.push_back(text[i++]);
      if (i < n && text[i] == quote) ++i;
      // Anything between the closing quote and the next separator is dropped.
      while (i < n && !IsListSeparator(text[i]) && !EndsText(text[i])) ++i;
    } else {
      while (i < n && !IsListSeparator(text[i]) && !EndsText(text[i])) value.push_back(text[i++]);
      while (!value.empty() && value.back() == ' ') value.pop_back();
    }
    if (!value.empty()) values.push_back(std::move(value));
    if (i < n && EndsText(text[i])) break;
    if (i < n) ++i;  // the separator
  }
  return values;
}

std::string JoinListValues(std::span<const std::string> values) {
  std::string out;
  for (const std::string& v : values) {
    if (v.empty()) continue;
    if (!out.empty()) out += "; ";
    bool needs_quotes = v.front() == ' ' || v.back() == ' ' || v.front() == '\'' || v.front() == '"' ||
                        v.find_first_of(",;\t") != std::string::npos;
    if (!needs_quotes) {
      out += v;
    } else {
      char quote = v.find('"') == std::string::npos ? '"' : '\'';
      out += quote;
      out += v;
      out += quote;
    }
  }
  return out;
}

std::string CleanAnnotationText(std::string_view text, bool keep_line_breaks) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0') continue;
    if (c == '\t' || (!keep_line_breaks && EndsText(c))) c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(c);
  }
  return out;
}

std::optional<std::string> NormaliseDateText(std::string_view text) {
  std::vector<std::string> groups;
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  while (i < text.size() && groups.size() < 3) {
    std::string digits;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) digits.push_back(text[i++]);
    if (digits.empty()) break;
    groups.push_back(std::move(digits));
    if (i >= text.size() || (text[i] != ':' && text[i] != '-' && text[i] != '/' && text[i] != '.')) break;
    ++i;
  }
  if (groups.empty()) return std::nullopt;
  if (groups[0].size() == 8) return groups[0];
  if (groups[0].size() != 4) return std::nullopt;
  std::string out = groups[0];
  for (std::size_t g = 1; g < 3; ++g) {
    if (g < groups.size() && groups[g].size() <= 2) {
      out += std::string(2 - groups[g].size(), '0') + groups[g];
    } else {
      out += "00";
    }
  }
  return out;
}

}  // namespace norvo::metadata
