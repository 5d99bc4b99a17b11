// SPDX-License-Identifier: GPL-3.0-or-later
// IPTC-IIM record streams as files carry them (JPEG resource 0x0404, TIFF
// tags 33723 and 34152, Photoshop resource 0x0404), to and from the
// annotation block.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/annotation_block.h"

namespace norvo::metadata {

inline constexpr std::uint8_t kIimTagMarker = 0x1C;
inline constexpr std::uint8_t kEnvelopeRecord = 1;
inline constexpr std::uint8_t kApplicationRecord = 2;
inline constexpr std::uint8_t kCodedCharacterSet = 90;  // 1:90
inline constexpr std::uint16_t kRecordVersion = 2;      // the value of 2:00 we write
inline constexpr FieldId kLabelField = 0x20a;           // colour label, IIM urgency 2:10
inline constexpr FieldId kEventDateField = 0x237;       // IIM date created 2:55, CCYYMMDD

// The record-2 annotation fields in the order they are written into files.
inline constexpr FieldId kIptcAnnotationFields[] = {0x205, 0x207, 0x20a, 0x20f, 0x214, 0x216, 0x219, 0x228,
                                                    0x237, 0x250, 0x255, 0x25a, 0x25c, 0x25f, 0x265, 0x267,
                                                    0x269, 0x26e, 0x273, 0x274, 0x276, 0x278, 0x27a};

// Longest value written for a field when truncating; 0 means no limit. The
// field table's FieldMaxLength is the one the program passes.
using FieldMaxLengthFn = std::function<int(FieldId)>;

// Writes the annotations of `field_ids` (a 0 in the list ends it) as IIM data
// sets: the record version 2:00 first, then for each field every entry of a
// repeated field or the first entry of any other. The label (0 to 9) is
// written for field 0x20a as one digit, and not at all when 0; field 0x237 is
// written as its eight-digit date. The stream is Windows-1252, the block's
// own text bytes as they are, unless a value holds characters Windows-1252
// lacks: then every value is written in UTF-8 and the envelope (1:00, then
// 1:90 = ESC % G) comes first. With `max_length`, values are cut to the
// field's limit, counted in bytes of the stream's character set and never
// inside a character. When no field has a value the result is empty: a lone
// version data set is never written.
std::vector<std::uint8_t> BuildIptcRecords(std::span<const std::uint8_t> block, std::uint8_t label,
                                           std::span<const FieldId> field_ids,
                                           const FieldMaxLengthFn& max_length = {});

// Rewrites a file's IIM stream with the annotations, starting from the data
// sets it already has. A field of `field_ids` whose values (read as
// IptcRecordsToAnnotations reads them) are the block's, or for 0x20a the
// label's, is unchanged: its data sets stay byte for byte where they are, and
// no limit of `max_length` applies to them. A changed field's data sets are
// replaced as a group at the position of its first one; a field the stream
// lacks goes in before the first data set with a higher record and number; a
// field without values loses its data sets. Data sets of other fields (the
// envelope, 2:00, unknown numbers, extended lengths) are kept as they are.
// The stream stays Windows-1252 unless it declares UTF-8 or a changed value
// needs it; then 1:90 declares UTF-8 and kept text data sets of record 2
// are carried over into UTF-8. A stream without data sets is built afresh
// by BuildIptcRecords.
std::vector<std::uint8_t> UpdateIptcRecords(std::span<const std::uint8_t> old_stream,
                                            std::span<const std::uint8_t> block, std::uint8_t label,
                                            std::span<const FieldId> field_ids,
                                            const FieldMaxLengthFn& max_length = {});

// One data set of an IIM stream as stored.
struct IimDataSet {
  std::uint8_t record = 0;
  std::uint8_t data_set = 0;
  bool extended = false;                // its length is an extended one; `value` is then empty
  std::span<const std::uint8_t> bytes;  // the whole data set, tag marker to the end of the value
  std::span<const std::uint8_t> value;
};

// The data sets of a stream up to the first byte that is not a tag marker or
// the first data set that runs past the end.
std::vector<IimDataSet> ReadIimDataSets(std::span<const std::uint8_t> stream);

enum class IimCharset : std::uint8_t { kWindows1252, kUtf8 };

// A UTF-8 text as a value of a stream in `charset`, cut to `max_bytes`
// (0: only to the 65535 bytes a data set holds) without breaking a
// character. Characters Windows-1252 lacks become '_' in a Windows-1252
// stream; the writer above only makes one when there are none.
std::string IimValue(std::string_view utf8, IimCharset charset, int max_bytes);

// What an IIM record with the limit `max_bytes` keeps of a UTF-8 value that
// is too long for it, as UTF-8: its cut in a UTF-8 stream and, when
// Windows-1252 holds the value, its cut in a Windows-1252 stream. Empty
// when the value fits (or nothing of it does).
std::vector<std::string> IimCutForms(std::string_view utf8, int max_bytes);

// Reads an IIM stream into an annotation block: the application record (2)
// and the custom record (3) data sets are kept in stream order; the envelope
// record, the record version, empty values and extended-length data sets are
// left out. Values are Windows-1252 (Latin-1 where Windows-1252 leaves a
// byte undefined) unless the envelope declares UTF-8 (1:90 is ESC % G); UTF-8
// values are kept as Windows-1252 text entries when Windows-1252 holds them,
// else as raw UTF-8 entries, and bytes in them that are not UTF-8 are read as
// Windows-1252. The walk stops at the first byte that is not
// a tag marker or at a data set that runs past the end.
AnnotationBlock IptcRecordsToAnnotations(std::span<const std::uint8_t> stream);

}  // namespace norvo::metadata
