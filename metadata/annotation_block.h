// SPDX-License-Identifier: GPL-3.0-or-later
// The annotation block: an item's annotation fields as IIM-style data sets,
// one after another, each
//   marker (0x1C text in the engine's Windows-1252, 0x1D raw bytes that the
//   XMP mapping reads as UTF-8), record, data set, 16-bit big-endian length,
//   the value bytes.
// A field id is 0x200 + data set for record 2 and 0x300 + data set for the
// custom fields of record 3: the record is the id's high byte, the data set
// its low byte. List fields repeat their data set once per value, in order.
// Readers stop at the first byte that is not a marker (or at an entry that
// runs past the end) and the block is cut there. A zero-length value is never
// stored.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::metadata {

using FieldId = std::uint32_t;
using AnnotationBlock = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kTextMarker = 0x1C;
inline constexpr std::uint8_t kRawMarker = 0x1D;
inline constexpr std::size_t kDataSetHeaderSize = 5;  // marker, record, data set, 16-bit length
inline constexpr std::size_t kMaxDataSetLength = 0xFFFF;

// How SetAnnotation treats the index-th entry of a field.
enum class SetMode : std::uint8_t {
  kAddIfMissing = 0,  // add only when the field has no index-th entry
  kReplace = 1,       // replace it in place (add when missing); an empty value removes it
  kRemove = 2,        // remove it
  kAppend = 3,        // append a new entry at the end of the block
};

struct AnnotationEntry {
  std::uint8_t marker = kTextMarker;
  std::uint8_t record = 0;
  std::uint8_t data_set = 0;
  std::size_t offset = 0;                 // of the marker within the block
  std::span<const std::uint8_t> value;    // as stored

  FieldId id() const { return (FieldId{record} << 8) | data_set; }
  std::size_t size() const { return kDataSetHeaderSize + value.size(); }
};

struct AnnotationValue {
  std::vector<std::uint8_t> bytes;  // 0x00 bytes already replaced by spaces
  std::uint8_t marker = kTextMarker;

  // The value as engine text (Windows-1252); raw values are read as UTF-8.
  std::string text() const;
  // The value as UTF-8; text values are converted from Windows-1252, and
  // bytes of a raw value that are not UTF-8 are read as Windows-1252.
  std::string utf8() const;
};

// UTF-8 text as a block value: Windows-1252 text when nothing is lost, else
// the UTF-8 bytes with the raw marker. Bytes that are not UTF-8 are taken as
// Windows-1252 characters either way.
struct BlockText {
  std::string bytes;
  std::uint8_t marker = kTextMarker;
};
BlockText BlockTextFromUtf8(std::string_view utf8);

// The well-formed entries of a block, in order.
std::vector<AnnotationEntry> AnnotationEntries(std::span<const std::uint8_t> block);
// Length of the well-formed prefix.
std::size_t WellFormedLength(std::span<const std::uint8_t> block);
// Cuts the block after its well-formed prefix; true when bytes were dropped.
bool TrimAnnotationBlock(AnnotationBlock& block);

// The index-th (from 1) entry of the field, or nothing.
std::optional<AnnotationValue> GetAnnotation(FieldId id, int index, std::span<const std::uint8_t> block);
// Every entry of the field in block order.
std::vector<AnnotationValue> GetAnnotations(FieldId id, std::span<const std::uint8_t> block);
int CountAnnotations(FieldId id, std::span<const std::uint8_t> block);

// Changes the block as `mode` says; returns whether it changed. A value longer
// than 65535 bytes is cut. The block is trimmed to its well-formed prefix first.
bool SetAnnotation(FieldId id, int index, std::span<const std::uint8_t> bytes, AnnotationBlock& block, SetMode mode,
                   std::uint8_t marker = kTextMarker);
bool SetAnnotationText(FieldId id, int index, std::string_view text, AnnotationBlock& block, SetMode mode,
                       std::uint8_t marker = kTextMarker);
// Removes every entry of the field; returns whether any was there.
bool RemoveAnnotations(FieldId id, AnnotationBlock& block);

// The index (from 1) among the field's entries of the first one whose text
// equals `bytes` once both are in the same encoding; 0 when none does.
int FindAnnotationValue(FieldId id, std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> block,
                        std::uint8_t marker = kTextMarker);

// Fields that keep one entry per value. Besides keywords, categories and
// people, the ids that only the XMP mapping fills from bags are listed here.
bool IsRepeatedAnnotation(FieldId id);

// Splits a text into list values: leading spaces are skipped; a value that
// begins with ' or " runs to the next such quote and may hold separators;
// otherwise a value ends at ',', ';' or a tab, and its trailing spaces are
// dropped; a carriage return or line feed ends the whole text; empty values
// are skipped.
std::vector<std::string> SplitListText(std::string_view text);
// The opposite, for writing list values into one text: values joined by
// "; ", a value holding a separator or a leading space put in quotes.
std::string JoinListValues(std::span<const std::string> values);

// Cleans a single-value text taken from a file: 0x00 bytes dropped, tabs (and,
// unless `keep_line_breaks`, carriage returns and line feeds) become spaces,
// runs of spaces shrink to one, leading spaces go.
std::string CleanAnnotationText(std::string_view text, bool keep_line_breaks);

// A date text brought to CCYYMMDD: "2005:09:07 15:07:40", "2005-09-07",
// "20050907" and "2005" all work (a missing month or day is 00). Nothing when
// the text does not begin with a four-digit year.
std::optional<std::string> NormaliseDateText(std::string_view text);

}  // namespace norvo::metadata
