// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/iptc_records.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {
namespace {

constexpr std::uint8_t kVersionDataSet = 0;
constexpr std::uint8_t kEnvelopeVersionDataSet = 0;
constexpr std::uint16_t kEnvelopeVersion = 4;  // the value of 1:00 we write
constexpr std::uint16_t kExtendedLengthBit = 0x8000;
constexpr std::uint8_t kCustomRecord = 3;
constexpr std::size_t kDateLength = 8;
// ESC % G: the ISO 2022 designation of UTF-8, the value of 1:90.
constexpr std::uint8_t kUtf8Designation[] = {0x1B, 0x25, 0x47};

bool DeclaresUtf8(std::span<const std::uint8_t> value) {
  return std::search(value.begin(), value.end(), std::begin(kUtf8Designation), std::end(kUtf8Designation)) !=
         value.end();
}

void WriteDataSet(ByteWriter& w, std::uint8_t record, std::uint8_t data_set, std::span<const std::uint8_t> value) {
  w.u8(kIimTagMarker);
  w.u8(record);
  w.u8(data_set);
  w.u16be(static_cast<std::uint16_t>(value.size()));
  w.bytes(value);
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// One value to be written, as UTF-8 until the stream's character set is known.
struct PendingDataSet {
  FieldId id;
  std::string text;
};

std::uint8_t RecordOf(FieldId id) { return static_cast<std::uint8_t>((id >> 8) & 0xFF); }
std::uint8_t DataSetOf(FieldId id) { return static_cast<std::uint8_t>(id & 0xFF); }
std::uint16_t KeyOf(std::uint8_t record, std::uint8_t data_set) {
  return static_cast<std::uint16_t>((record << 8) | data_set);
}

std::vector<std::uint8_t> EncodeDataSet(std::uint8_t record, std::uint8_t data_set,
                                        std::span<const std::uint8_t> value) {
  ByteWriter w(kDataSetHeaderSize + value.size());
  WriteDataSet(w, record, data_set, value);
  return w.take();
}

bool IsAscii(std::span<const std::uint8_t> value) {
  return std::ranges::all_of(value, [](std::uint8_t b) { return b < 0x80; });
}

// Record-2 data sets that hold text; 2:00 and the preview data sets from
// 2:200 on are binary and never re-encoded.
bool IsTextDataSet(std::uint8_t record, std::uint8_t data_set) {
  return record == kApplicationRecord && data_set != kVersionDataSet && data_set < 200;
}

// The values the writer gets for one field, each cleaned as it is written
// (the label as its digit, the event date as CCYYMMDD, one value of a field
// that is not a list), appended to *pending. *needs_utf8 is set when a value
// holds characters Windows-1252 lacks.
void CollectValues(FieldId id, std::span<const std::uint8_t> block, std::uint8_t label,
                   std::vector<PendingDataSet>* pending, bool* needs_utf8) {
  if (id == kLabelField) {
    if (label != 0 && label <= 9) pending->push_back({id, std::string(1, static_cast<char>('0' + label))});
    return;
  }
  std::vector<AnnotationValue> values = GetAnnotations(id, block);
  if (!IsRepeatedAnnotation(id) && values.size() > 1) values.resize(1);
  for (const AnnotationValue& v : values) {
    std::string utf8 = v.utf8();
    if (id == kEventDateField) {
      std::optional<std::string> date = NormaliseDateText(utf8);
      if (!date || date->size() != kDateLength) continue;
      utf8 = *date;
    }
    if (utf8.empty()) continue;
    if (!*needs_utf8 && v.marker == kRawMarker) {
      bool lossless = true;
      Utf8ToWindows1252(utf8, &lossless);
      *needs_utf8 = !lossless;
    }
    pending->push_back({id, std::move(utf8)});
  }
}

// Brings the values into the stream's character set, cut to their limits;
// values that come out empty are dropped.
void EncodeValues(std::vector<PendingDataSet>& pending, IimCharset charset, const FieldMaxLengthFn& max_length) {
  for (PendingDataSet& p : pending) {
    int limit = p.id != kEventDateField && p.id != kLabelField && max_length ? max_length(p.id) : 0;
    p.text = IimValue(p.text, charset, limit);
  }
  std::erase_if(pending, [](const PendingDataSet& p) { return p.text.empty(); });
}

// Every value a block holds for a field, as UTF-8; for the label the given
// label's digit when `label` is given.
std::vector<std::string> HeldValues(FieldId id, std::span<const std::uint8_t> block,
                                    std::optional<std::uint8_t> label) {
  std::vector<std::string> values;
  if (id == kLabelField && label) {
    if (*label != 0 && *label <= 9) values.emplace_back(1, static_cast<char>('0' + *label));
    return values;
  }
  for (const AnnotationValue& v : GetAnnotations(id, block)) values.push_back(v.utf8());
  return values;
}

// A data set of the stream being rewritten, kept as bytes.
struct StreamPiece {
  std::uint16_t key = 0;  // record << 8 | data set
  std::vector<std::uint8_t> bytes;
};

// Puts a data set before the first one with a higher record and number, or
// at the end.
void InsertInOrder(std::vector<StreamPiece>& pieces, StreamPiece piece) {
  auto at = std::ranges::find_if(pieces, [&](const StreamPiece& p) { return p.key > piece.key; });
  pieces.insert(at, std::move(piece));
}

}  // namespace

std::string IimValue(std::string_view utf8, IimCharset charset, int max_bytes) {
  std::size_t limit = kMaxDataSetLength;
  if (max_bytes > 0) limit = std::min(limit, static_cast<std::size_t>(max_bytes));
  if (charset == IimCharset::kUtf8) {
    std::string text = LenientUtf8(utf8);
    text.resize(Utf8CutLength(text, limit));
    return text;
  }
  std::string text = Utf8ToWindows1252(utf8);
  if (text.size() > limit) text.resize(limit);  // one byte, one character
  return text;
}

std::vector<std::string> IimCutForms(std::string_view utf8, int max_bytes) {
  std::vector<std::string> forms;
  auto add = [&](std::string form) {
    if (form.empty() || form == utf8 || std::ranges::find(forms, form) != forms.end()) return;
    forms.push_back(std::move(form));
  };
  add(IimValue(utf8, IimCharset::kUtf8, max_bytes));
  bool lossless = true;
  Utf8ToWindows1252(utf8, &lossless);
  if (lossless) add(Windows1252ToUtf8(IimValue(utf8, IimCharset::kWindows1252, max_bytes)));
  return forms;
}

std::vector<std::uint8_t> BuildIptcRecords(std::span<const std::uint8_t> block, std::uint8_t label,
                                           std::span<const FieldId> field_ids, const FieldMaxLengthFn& max_length) {
  // The values first: the character set of the whole stream depends on them.
  std::vector<PendingDataSet> pending;
  bool needs_utf8 = false;
  for (FieldId id : field_ids) {
    if (id == 0) break;
    CollectValues(id, block, label, &pending, &needs_utf8);
  }
  const IimCharset charset = needs_utf8 ? IimCharset::kUtf8 : IimCharset::kWindows1252;
  EncodeValues(pending, charset, max_length);
  if (pending.empty()) return {};

  ByteWriter w;
  if (needs_utf8) {
    const std::uint8_t version[] = {0, kEnvelopeVersion};
    WriteDataSet(w, kEnvelopeRecord, kEnvelopeVersionDataSet, version);
    WriteDataSet(w, kEnvelopeRecord, kCodedCharacterSet, kUtf8Designation);
  }
  const std::uint8_t version[] = {0, kRecordVersion};
  WriteDataSet(w, kApplicationRecord, kVersionDataSet, version);
  for (const PendingDataSet& p : pending) {
    WriteDataSet(w, static_cast<std::uint8_t>((p.id >> 8) & 0xFF), static_cast<std::uint8_t>(p.id & 0xFF),
                 AsBytes(p.text));
  }
  return w.take();
}

std::vector<IimDataSet> ReadIimDataSets(std::span<const std::uint8_t> stream) {
  std::vector<IimDataSet> sets;
  ByteReader r(stream);
  while (r.remaining() >= kDataSetHeaderSize) {
    const std::size_t start = r.position();
    if (stream[start] != kIimTagMarker) break;
    r.u8();
    IimDataSet d;
    d.record = r.u8();
    d.data_set = r.u8();
    std::uint16_t length = r.u16be();
    if ((length & kExtendedLengthBit) != 0) {
      // The low bits give the size of a big-endian length that follows.
      std::size_t count = length & ~kExtendedLengthBit;
      std::uint64_t extended = 0;
      if (count > 8) break;
      for (std::size_t i = 0; i < count; ++i) extended = (extended << 8) | r.u8();
      if (!r.ok() || extended > r.remaining()) break;
      r.skip(static_cast<std::size_t>(extended));
      d.extended = true;
    } else {
      d.value = r.bytes(length);
      if (!r.ok()) break;
    }
    d.bytes = stream.subspan(start, r.position() - start);
    sets.push_back(d);
  }
  return sets;
}

AnnotationBlock IptcRecordsToAnnotations(std::span<const std::uint8_t> stream) {
  AnnotationBlock block;
  bool utf8 = false;
  for (const IimDataSet& d : ReadIimDataSets(stream)) {
    if (d.extended) continue;
    if (d.record == kEnvelopeRecord && d.data_set == kCodedCharacterSet) utf8 = DeclaresUtf8(d.value);
    if (d.record != kApplicationRecord && d.record != kCustomRecord) continue;
    if (d.data_set == kVersionDataSet || d.value.empty()) continue;
    FieldId id = (FieldId{d.record} << 8) | d.data_set;
    if (!utf8) {
      // Windows-1252, which is the block's own text encoding.
      SetAnnotation(id, 0, d.value, block, SetMode::kAppend, kTextMarker);
      continue;
    }
    BlockText text =
        BlockTextFromUtf8(std::string_view(reinterpret_cast<const char*>(d.value.data()), d.value.size()));
    SetAnnotationText(id, 0, text.bytes, block, SetMode::kAppend, text.marker);
  }
  return block;
}

std::vector<std::uint8_t> UpdateIptcRecords(std::span<const std::uint8_t> old_stream,
                                            std::span<const std::uint8_t> block, std::uint8_t label,
                                            std::span<const FieldId> field_ids, const FieldMaxLengthFn& max_length) {
  const std::vector<IimDataSet> old = ReadIimDataSets(old_stream);
  if (old.empty()) return BuildIptcRecords(block, label, field_ids, max_length);
  const AnnotationBlock old_block = IptcRecordsToAnnotations(old_stream);
  bool old_utf8 = false;
  for (const IimDataSet& d : old) {
    if (d.record == kEnvelopeRecord && d.data_set == kCodedCharacterSet && !d.extended) {
      old_utf8 = DeclaresUtf8(d.value);
    }
  }

  // The fields whose values differ from what the stream holds, with their
  // new values.
  std::vector<FieldId> changed;
  std::vector<PendingDataSet> pending;
  bool needs_utf8 = old_utf8;
  for (FieldId id : field_ids) {
    if (id == 0) break;
    if (std::ranges::find(changed, id) != changed.end()) continue;
    if (HeldValues(id, block, label) == HeldValues(id, old_block, std::nullopt)) continue;
    changed.push_back(id);
    CollectValues(id, block, label, &pending, &needs_utf8);
  }
  const IimCharset charset = needs_utf8 ? IimCharset::kUtf8 : IimCharset::kWindows1252;
  EncodeValues(pending, charset, max_length);

  std::vector<StreamPiece> pieces;
  const bool to_utf8 = needs_utf8 && !old_utf8;
  for (const IimDataSet& d : old) {
    StreamPiece piece{KeyOf(d.record, d.data_set), {d.bytes.begin(), d.bytes.end()}};
    if (to_utf8 && !d.extended && IsTextDataSet(d.record, d.data_set) && !IsAscii(d.value)) {
      // The stream turns UTF-8: a kept text value is carried over into it.
      std::string text = Windows1252ToUtf8(
          std::string_view(reinterpret_cast<const char*>(d.value.data()), d.value.size()));
      text.resize(Utf8CutLength(text, kMaxDataSetLength));
      piece.bytes = EncodeDataSet(d.record, d.data_set, AsBytes(text));
    }
    pieces.push_back(std::move(piece));
  }
  if (to_utf8) {
    const std::uint16_t charset_key = KeyOf(kEnvelopeRecord, kCodedCharacterSet);
    std::vector<std::uint8_t> declaration = EncodeDataSet(kEnvelopeRecord, kCodedCharacterSet, kUtf8Designation);
    auto at = std::ranges::find(pieces, charset_key, &StreamPiece::key);
    if (at != pieces.end()) {
      at->bytes = std::move(declaration);
    } else {
      InsertInOrder(pieces, {charset_key, std::move(declaration)});
    }
    const std::uint16_t envelope_key = KeyOf(kEnvelopeRecord, kEnvelopeVersionDataSet);
    if (std::ranges::find(pieces, envelope_key, &StreamPiece::key) == pieces.end()) {
      const std::uint8_t version[] = {0, kEnvelopeVersion};
      InsertInOrder(pieces, {envelope_key, EncodeDataSet(kEnvelopeRecord, kEnvelopeVersionDataSet, version)});
    }
  }

  for (FieldId id : changed) {
    const auto key = static_cast<std::uint16_t>(id);
    std::vector<StreamPiece> fresh;
    for (const PendingDataSet& p : pending) {
      if (p.id == id) fresh.push_back({key, EncodeDataSet(RecordOf(id), DataSetOf(id), AsBytes(p.text))});
    }
    auto first = std::ranges::find(pieces, key, &StreamPiece::key);
    if (first == pieces.end()) {
      for (StreamPiece& f : fresh) InsertInOrder(pieces, std::move(f));
      continue;
    }
    const auto position = first - pieces.begin();
    std::erase_if(pieces, [key](const StreamPiece& p) { return p.key == key; });
    pieces.insert(pieces.begin() + position, std::make_move_iterator(fresh.begin()),
                  std::make_move_iterator(fresh.end()));
  }
  if (!pending.empty()) {
    const std::uint16_t version_key = KeyOf(kApplicationRecord, kVersionDataSet);
    if (std::ranges::find(pieces, version_key, &StreamPiece::key) == pieces.end()) {
      const std::uint8_t version[] = {0, kRecordVersion};
      InsertInOrder(pieces, {version_key, EncodeDataSet(kApplicationRecord, kVersionDataSet, version)});
    }
  }

  std::vector<std::uint8_t> out;
  for (const StreamPiece& p : pieces) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
  return out;
}

}  // namespace norvo::metadata
