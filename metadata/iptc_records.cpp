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
    if (id == kLabelField) {
      if (label != 0 && label <= 9) pending.push_back({id, std::string(1, static_cast<char>('0' + label))});
      continue;
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
      if (!needs_utf8 && v.marker == kRawMarker) {
        bool lossless = true;
        Utf8ToWindows1252(utf8, &lossless);
        needs_utf8 = !lossless;
      }
      pending.push_back({id, std::move(utf8)});
    }
  }
  const IimCharset charset = needs_utf8 ? IimCharset::kUtf8 : IimCharset::kWindows1252;
  for (PendingDataSet& p : pending) {
    int limit = p.id != kEventDateField && p.id != kLabelField && max_length ? max_length(p.id) : 0;
    p.text = IimValue(p.text, charset, limit);  // from here on in the stream's character set
  }
  std::erase_if(pending, [](const PendingDataSet& p) { return p.text.empty(); });
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

AnnotationBlock IptcRecordsToAnnotations(std::span<const std::uint8_t> stream) {
  AnnotationBlock block;
  bool utf8 = false;
  ByteReader r(stream);
  while (r.remaining() >= kDataSetHeaderSize) {
    if (stream[r.position()] != kIimTagMarker) break;
    r.u8();
    std::uint8_t record = r.u8();
    std::uint8_t data_set = r.u8();
    std::uint16_t length = r.u16be();
    if ((length & kExtendedLengthBit) != 0) {
      // The low bits give the size of a big-endian length that follows.
      std::size_t count = length & ~kExtendedLengthBit;
      std::uint64_t extended = 0;
      if (count > 8) break;
      for (std::size_t i = 0; i < count; ++i) extended = (extended << 8) | r.u8();
      if (!r.ok() || extended > r.remaining()) break;
      r.skip(static_cast<std::size_t>(extended));
      continue;
    }
    std::span<const std::uint8_t> value = r.bytes(length);
    if (!r.ok()) break;
    if (record == kEnvelopeRecord && data_set == kCodedCharacterSet) utf8 = DeclaresUtf8(value);
    if (record != kApplicationRecord && record != kCustomRecord) continue;
    if (data_set == kVersionDataSet || value.empty()) continue;
    FieldId id = (FieldId{record} << 8) | data_set;
    if (!utf8) {
      // Windows-1252, which is the block's own text encoding.
      SetAnnotation(id, 0, value, block, SetMode::kAppend, kTextMarker);
      continue;
    }
    BlockText text =
        BlockTextFromUtf8(std::string_view(reinterpret_cast<const char*>(value.data()), value.size()));
    SetAnnotationText(id, 0, text.bytes, block, SetMode::kAppend, text.marker);
  }
  return block;
}

}  // namespace norvo::metadata
