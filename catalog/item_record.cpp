// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/item_record.h"

#include <algorithm>

#include "catalog/true_names.h"
#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

constexpr std::uint8_t kTextDataSet = 0x1C;
constexpr std::uint8_t kRawDataSet = 0x1D;
constexpr std::size_t kDataSetHeader = 5;  // marker, record, data set, 16-bit length

// Decodes the fixed part field by field from its stored bytes.
struct FieldReader {
  FixedBytes in;
  bool convert;
  void u32(std::size_t offset, std::uint32_t& v) { v = in.getU32be(offset); }
  void u16(std::size_t offset, std::uint16_t& v) { v = in.getU16be(offset); }
  template <std::size_t N>
  void raw(std::size_t offset, std::array<std::uint8_t, N>& v) {
    auto s = in.slice(offset, N);
    if (s.size() == N) std::copy(s.begin(), s.end(), v.begin());
  }
  template <std::size_t N>
  void text(std::size_t offset, std::array<std::uint8_t, N>& v) {
    raw(offset, v);
    if (convert) {
      std::size_t n = std::min<std::size_t>(v[0], N - 1);
      ConvertText(std::span(v).subspan(1, n), TextDirection::kMacToWindows);
    }
  }
};

// Encodes the fixed part field by field into its stored bytes.
struct FieldWriter {
  FixedBytes out;
  bool convert;
  void u32(std::size_t offset, const std::uint32_t& v) { out.setU32be(offset, v); }
  void u16(std::size_t offset, const std::uint16_t& v) { out.setU16be(offset, v); }
  template <std::size_t N>
  void raw(std::size_t offset, const std::array<std::uint8_t, N>& v) {
    auto s = out.slice(offset, N);
    if (s.size() == N) std::copy(v.begin(), v.end(), s.begin());
  }
  template <std::size_t N>
  void text(std::size_t offset, const std::array<std::uint8_t, N>& v) {
    raw(offset, v);
    if (convert) {
      auto s = out.slice(offset, N);
      if (s.size() != N) return;
      std::size_t n = std::min<std::size_t>(v[0], N - 1);
      ConvertText(s.subspan(1, n), TextDirection::kWindowsToMac);
    }
  }
};

bool IsAbsent(std::uint32_t length) { return length == 0 || (length & 0x80000000u) != 0; }

}  // namespace

namespace {

template <std::size_t Width>
void SetName(PStringField<Width>& field, std::string& true_name, std::string_view utf8) {
  bool exact = false;
  field.set(RenderEightBit(utf8, Width - 1, &exact));
  true_name = exact ? std::string() : std::string(utf8);
}

}  // namespace

std::string ItemRecord::fileName() const { return NameFromField(file_name.text(), true_file_name); }
std::string ItemRecord::displayName() const { return NameFromField(display_name.text(), true_display_name); }
void ItemRecord::setFileName(std::string_view utf8) { SetName(file_name, true_file_name, utf8); }
void ItemRecord::setDisplayName(std::string_view utf8) { SetName(display_name, true_display_name, utf8); }

std::vector<std::uint8_t>& ItemRecord::part(ItemPart which) {
  switch (which) {
    case ItemPart::kThumbnail: return thumbnail;
    case ItemPart::kAnnotations: return annotations;
    case ItemPart::kUrl: return url;
    case ItemPart::kMetadata: return metadata;
    case ItemPart::kRecording: break;
  }
  return recording;
}

const std::vector<std::uint8_t>& ItemRecord::part(ItemPart which) const {
  return const_cast<ItemRecord*>(this)->part(which);
}

std::uint32_t& ItemRecord::partLength(ItemPart which) {
  switch (which) {
    case ItemPart::kThumbnail: return thumbnail_length;
    case ItemPart::kAnnotations: return annotations_length;
    case ItemPart::kUrl: return url_length;
    case ItemPart::kMetadata: return metadata_length;
    case ItemPart::kRecording: break;
  }
  return recording_length;
}

std::uint32_t ItemRecord::partLength(ItemPart which) const {
  return const_cast<ItemRecord*>(this)->partLength(which);
}

std::uint64_t ItemRecord::storedSize() const {
  std::uint64_t size = kFixedPartSize;
  for (ItemPart p : kFilePartOrder) {
    if (!IsAbsent(partLength(p))) size += partLength(p);
  }
  return size;
}

void ItemRecord::syncPartLengths() {
  for (ItemPart p : kFilePartOrder) partLength(p) = static_cast<std::uint32_t>(part(p).size());
}

std::span<const std::uint8_t> ItemRecord::aliasBytes() const {
  return std::span(alias).first(std::min<std::size_t>(alias_kept_size, alias.size()));
}

void DecodeFixedPart(std::span<const std::uint8_t, kFixedPartSize> bytes, NameText names, ItemRecord& out) {
  const bool convert_text = names == NameText::kConverted;
  // FixedBytes wants mutable bytes; the reader only reads them.
  std::span<std::uint8_t> view(const_cast<std::uint8_t*>(bytes.data()), bytes.size());
  FieldReader reader{FixedBytes(view), convert_text};
  VisitFixedFields(out, reader);
}

void EncodeFixedPart(const ItemRecord& record, NameText names, std::span<std::uint8_t, kFixedPartSize> out) {
  const bool convert_text = names == NameText::kConverted;
  FieldWriter writer{FixedBytes(out), convert_text};
  VisitFixedFields(record, writer);
}

std::size_t ConvertAnnotations(std::span<std::uint8_t> stream, TextDirection direction) {
  std::size_t pos = 0;
  while (pos < stream.size()) {
    std::uint8_t marker = stream[pos];
    if (marker != kTextDataSet && marker != kRawDataSet) break;
    if (kDataSetHeader > stream.size() - pos) break;
    std::size_t length = (std::size_t{stream[pos + 3]} << 8) | stream[pos + 4];
    if (length > stream.size() - pos - kDataSetHeader) break;
    if (marker == kTextDataSet) ConvertText(stream.subspan(pos + kDataSetHeader, length), direction);
    pos += kDataSetHeader + length;
  }
  return pos;
}

ErrorCode ReadStoredSize(const File& file, std::int64_t offset, std::uint64_t* size) {
  constexpr std::size_t kLengthsOffset = 0x3EC;  // Recording, Metadata, Thumbnail, Annotations, Url
  std::array<std::uint8_t, kFixedPartSize - kLengthsOffset> lengths{};
  if (ErrorCode e = file.readAt(offset + static_cast<std::int64_t>(kLengthsOffset), lengths); e != err::kNone) {
    return e;
  }
  ByteReader r(lengths);
  std::uint64_t total = kFixedPartSize;
  for (int i = 0; i < kPartCount; ++i) {
    std::uint32_t n = r.u32be();
    if (!IsAbsent(n)) total += n;
  }
  *size = total;
  return err::kNone;
}

ErrorCode ReadFixedPart(const File& file, std::int64_t offset, NameText names, ItemRecord& out) {
  std::array<std::uint8_t, kFixedPartSize> fixed{};
  if (ErrorCode e = file.readAt(offset, fixed); e != err::kNone) return e;
  out = ItemRecord{};
  DecodeFixedPart(fixed, names, out);
  out.has_optional_parts = false;
  return err::kNone;
}

ErrorCode ReadItemRecord(const File& file, std::int64_t offset, RecordRead read, ItemRecord& out) {
  ItemRecord record;
  const NameText names = read.convert_text ? NameText::kConverted : NameText::kAsStored;
  if (ErrorCode e = ReadFixedPart(file, offset, names, record); e != err::kNone) return e;
  std::int64_t length = 0;
  if (ErrorCode e = file.endOfFile(&length); e != err::kNone) return e;
  std::int64_t pos = offset + static_cast<std::int64_t>(kFixedPartSize);
  for (ItemPart p : kFilePartOrder) {
    std::uint32_t n = record.partLength(p);
    if (IsAbsent(n)) continue;
    if (static_cast<std::int64_t>(n) > length - pos) return err::kEndOfFile;
    bool optional = p == ItemPart::kThumbnail || p == ItemPart::kRecording;
    if (!optional || read.optional_parts) {
      auto& buffer = record.part(p);
      buffer.resize(n);
      if (ErrorCode e = file.readAt(pos, buffer); e != err::kNone) return e;
    }
    pos += n;
  }
  if (read.convert_text) {
    record.annotations.resize(ConvertAnnotations(record.annotations, TextDirection::kMacToWindows));
    ConvertText(record.url, TextDirection::kMacToWindows);
  }
  record.has_optional_parts = read.optional_parts;
  out = std::move(record);
  return err::kNone;
}

ErrorCode WriteItemRecord(const ItemRecord& record, File& file, std::int64_t offset, std::uint32_t slack,
                          SlackBytes pad, std::uint32_t* stored_size) {
  if (!record.has_optional_parts) return err::kParam;
  std::uint64_t size = kFixedPartSize;
  for (ItemPart p : kFilePartOrder) size += record.part(p).size();
  if (size > 0x7FFFFFFFu) return err::kParam;

  ItemRecord header = record;  // the fixed fields only matter here
  header.thumbnail.clear();
  header.annotations.clear();
  header.url.clear();
  header.metadata.clear();
  header.recording.clear();
  for (ItemPart p : kFilePartOrder) header.partLength(p) = static_cast<std::uint32_t>(record.part(p).size());
  header.slack = slack;

  // The whole stored record (and its slack) goes out in one write.
  std::vector<std::uint8_t> bytes(size + (pad == SlackBytes::kWritten ? slack : 0), 0);
  EncodeFixedPart(header, NameText::kConverted, std::span(bytes).first<kFixedPartSize>());
  std::size_t pos = kFixedPartSize;
  for (ItemPart p : kFilePartOrder) {
    const auto& data = record.part(p);
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pos));
    auto stored = std::span(bytes).subspan(pos, data.size());
    if (p == ItemPart::kAnnotations) ConvertAnnotations(stored, TextDirection::kWindowsToMac);
    if (p == ItemPart::kUrl) ConvertText(stored, TextDirection::kWindowsToMac);
    pos += data.size();
  }
  if (ErrorCode e = file.writeAt(offset, bytes); e != err::kNone) return e;
  if (stored_size) *stored_size = static_cast<std::uint32_t>(size);
  return err::kNone;
}

}  // namespace norvo::catalog
