// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/iptc_records.h"

#include <algorithm>
#include <string>

#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {
namespace {

constexpr std::uint8_t kVersionDataSet = 0;
constexpr std::uint16_t kExtendedLengthBit = 0x8000;
constexpr std::uint8_t kCustomRecord = 3;
constexpr std::size_t kDateLength = 8;

// ESC % G: the ISO 2022 designation of UTF-8.
bool DeclaresUtf8(std::span<const std::uint8_t> value) {
  static constexpr std::uint8_t kUtf8[] = {0x1B, 0x25, 0x47};
  return std::search(value.begin(), value.end(), std::begin(kUtf8), std::end(kUtf8)) != value.end();
}

void WriteDataSet(ByteWriter& w, FieldId id, std::span<const std::uint8_t> value) {
  w.u8(kIimTagMarker);
  w.u8(static_cast<std::uint8_t>((id >> 8) & 0xFF));
  w.u8(static_cast<std::uint8_t>(id & 0xFF));
  w.u16be(static_cast<std::uint16_t>(value.size()));
  w.bytes(value);
}

std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::vector<std::uint8_t> BuildIptcRecords(std::span<const std::uint8_t> block, std::uint8_t label,
                                           std::span<const FieldId> field_ids, const FieldMaxLengthFn& max_length) {
  ByteWriter w;
  bool started = false;
  auto put = [&](FieldId id, std::span<const std::uint8_t> value) {
    if (!started) {
      w.u8(kIimTagMarker);
      w.u8(kApplicationRecord);
      w.u8(kVersionDataSet);
      w.u16be(2);
      w.u16be(kRecordVersion);
      started = true;
    }
    WriteDataSet(w, id, value);
  };

  for (FieldId id : field_ids) {
    if (id == 0) break;
    if (id == kLabelField) {
      if (label == 0 || label > 9) continue;
      const std::uint8_t digit = static_cast<std::uint8_t>('0' + label);
      put(id, std::span(&digit, 1));
      continue;
    }
    std::vector<AnnotationValue> values = GetAnnotations(id, block);
    if (!IsRepeatedAnnotation(id) && values.size() > 1) values.resize(1);
    for (const AnnotationValue& v : values) {
      std::string text = v.text();
      if (id == kEventDateField) {
        std::optional<std::string> date = NormaliseDateText(text);
        if (!date || date->size() != kDateLength) continue;
        text = *date;
      } else if (max_length) {
        int limit = max_length(id);
        if (limit > 0 && text.size() > static_cast<std::size_t>(limit)) text.resize(static_cast<std::size_t>(limit));
      }
      if (text.empty()) continue;
      if (text.size() > kMaxDataSetLength) text.resize(kMaxDataSetLength);
      put(id, AsBytes(text));
    }
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
    SetAnnotation(id, 0, value, block, SetMode::kAppend, utf8 ? kRawMarker : kTextMarker);
  }
  return block;
}

}  // namespace norvo::metadata
