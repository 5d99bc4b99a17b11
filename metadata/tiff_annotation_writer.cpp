// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/tiff_annotation_writer.h"

#include <algorithm>
#include <array>
#include <limits>

#include "metadata/tiff_tags.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

// A first directory with more entries than this is not one we rewrite.
constexpr std::uint16_t kMaxWritableEntries = 4096;

struct Entry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;  // the offset, or the inline bytes read as a number
  std::size_t at = 0;       // position of the entry in the file
};

class TiffLayout {
 public:
  explicit TiffLayout(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool parse() {
    if (!IsTiffHeader(bytes_)) return false;
    order_ = bytes_[0] == 'I' ? Endian::kLittle : Endian::kBig;
    ifd_ = GetU32(bytes_, 4, order_);
    if (ifd_ < kTiffHeaderSize || ifd_ > bytes_.size() || bytes_.size() - ifd_ < 2) return false;
    std::uint16_t count = GetU16(bytes_, ifd_, order_);
    if (count > kMaxWritableEntries) return false;
    std::size_t table = std::size_t{count} * kIfdEntrySize + 4;
    if (table > bytes_.size() - ifd_ - 2) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
      Entry e;
      e.at = ifd_ + 2 + std::size_t{i} * kIfdEntrySize;
      e.tag = GetU16(bytes_, e.at, order_);
      e.type = GetU16(bytes_, e.at + 2, order_);
      e.count = GetU32(bytes_, e.at + 4, order_);
      e.value = GetU32(bytes_, e.at + 8, order_);
      entries_.push_back(e);
    }
    next_ifd_ = GetU32(bytes_, ifd_ + 2 + std::size_t{count} * kIfdEntrySize, order_);
    return true;
  }

  const Entry* find(std::uint16_t tag) const {
    for (const Entry& e : entries_) {
      if (e.tag == tag) return &e;
    }
    return nullptr;
  }

  // The bytes of a byte-sized value (BYTE, ASCII, SBYTE, UNDEFINED) or of a value whose
  // bytes are wanted as they are stored; empty when the entry is damaged.
  std::span<const std::uint8_t> valueBytes(const Entry& e) const {
    std::size_t unit = TiffTypeSize(e.type);
    if (unit == 0 || e.count > std::numeric_limits<std::uint32_t>::max() / unit) return {};
    std::size_t size = unit * e.count;
    if (size <= 4) return bytes_.subspan(e.at + 8, size);
    if (e.value > bytes_.size() || size > bytes_.size() - e.value) return {};
    return bytes_.subspan(e.value, size);
  }

  Endian order() const { return order_; }
  std::uint32_t firstIfd() const { return ifd_; }
  std::uint32_t nextIfd() const { return next_ifd_; }
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::span<const std::uint8_t> bytes_;
  Endian order_ = Endian::kLittle;
  std::uint32_t ifd_ = 0;
  std::uint32_t next_ifd_ = 0;
  std::vector<Entry> entries_;
};

// The output file: the original bytes, patched in place in the file's byte
// order and grown at the end.
class TiffOutput {
 public:
  TiffOutput(std::span<const std::uint8_t> original, Endian order)
      : bytes_(original.begin(), original.end()), order_(order) {}

  void put16(std::size_t at, std::uint16_t v) {
    FixedBytes f(bytes_);
    order_ == Endian::kLittle ? f.setU16le(at, v) : f.setU16be(at, v);
  }
  void put32(std::size_t at, std::uint32_t v) {
    FixedBytes f(bytes_);
    order_ == Endian::kLittle ? f.setU32le(at, v) : f.setU32be(at, v);
  }
  // Appends `data` word-aligned; its offset, or 0 past 32-bit offsets.
  std::uint32_t append(std::span<const std::uint8_t> data) {
    if (bytes_.size() % 2 != 0) bytes_.push_back(0);
    std::size_t at = bytes_.size();
    if (data.size() > std::numeric_limits<std::uint32_t>::max() - at) return 0;
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return static_cast<std::uint32_t>(at);
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  Endian order_;
};

// Where one of the two values goes, and the entry that points at it.
struct NewValue {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::vector<std::uint8_t> data;
  std::uint32_t offset = 0;  // where it was written
};

}  // namespace

ErrorCode EmbedAnnotationsInTiff(std::span<const std::uint8_t> tiff, const EmbeddedAnnotations& annotations,
                                 std::vector<std::uint8_t>* out, std::string* failure) {
  TiffLayout layout(tiff);
  if (!layout.parse()) return err::kParam;

  std::span<const std::uint8_t> old_xmp;
  if (const Entry* e = layout.find(kTagXmp)) old_xmp = layout.valueBytes(*e);
  NewValue values[2];
  values[0].tag = kTagXmp;
  values[0].type = kTiffByte;
  if (ErrorCode e = UpdatedXmpPacket(old_xmp, annotations.block, &values[0].data, failure); e != err::kNone) return e;
  values[1].tag = kTagIptc;
  // The IIM stream goes in as 32-bit units, as image editors write it
  // (exiftool warns of any other type); zero bytes pad its end, where IIM
  // readers stop.
  values[1].type = kTiffLong;
  std::span<const std::uint8_t> old_iim;
  if (const Entry* e = layout.find(kTagIptc)) old_iim = layout.valueBytes(*e);
  values[1].data = EmbeddedIimRecords(annotations, old_iim);
  values[1].data.resize((values[1].data.size() + 3) / 4 * 4, 0);

  TiffOutput output(tiff, layout.order());
  bool directory_changes = false;
  for (NewValue& v : values) {
    const Entry* old = layout.find(v.tag);
    std::span<const std::uint8_t> old_bytes = old == nullptr ? std::span<const std::uint8_t>{} : layout.valueBytes(*old);
    if (old != nullptr && old_bytes.size() > 4 && old_bytes.size() == v.data.size()) {
      // Same size: overwrite the old value where it is.
      std::copy(v.data.begin(), v.data.end(), output.bytes().begin() + old->value);
      v.offset = old->value;
    } else {
      v.offset = output.append(v.data);
      if (v.offset == 0) return err::kParam;
    }
    if (old != nullptr) {
      output.put16(old->at + 2, v.type);
      output.put32(old->at + 4, static_cast<std::uint32_t>(v.data.size() / TiffTypeSize(v.type)));
      output.put32(old->at + 8, v.offset);
    } else {
      directory_changes = true;
    }
  }

  if (directory_changes) {
    // A copy of the first directory with the missing entries added in tag
    // order. The copy is made from the output, so entries updated above keep
    // their new values.
    struct Row {
      std::uint16_t tag;
      std::array<std::uint8_t, kIfdEntrySize> bytes;
    };
    std::vector<Row> rows;
    for (const Entry& e : layout.entries()) {
      Row r{e.tag, {}};
      std::copy_n(output.bytes().begin() + static_cast<std::ptrdiff_t>(e.at), kIfdEntrySize, r.bytes.begin());
      rows.push_back(r);
    }
    for (const NewValue& v : values) {
      if (layout.find(v.tag) != nullptr) continue;
      TiffOutput entry(std::array<std::uint8_t, kIfdEntrySize>{}, layout.order());
      entry.put16(0, v.tag);
      entry.put16(2, v.type);
      entry.put32(4, static_cast<std::uint32_t>(v.data.size() / TiffTypeSize(v.type)));
      entry.put32(8, v.offset);
      Row r{v.tag, {}};
      std::copy_n(entry.bytes().begin(), kIfdEntrySize, r.bytes.begin());
      rows.push_back(r);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.tag < b.tag; });
    std::vector<std::uint8_t> directory(2 + rows.size() * kIfdEntrySize + 4, 0);
    TiffOutput table(directory, layout.order());
    table.put16(0, static_cast<std::uint16_t>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      std::copy(rows[i].bytes.begin(), rows[i].bytes.end(), table.bytes().begin() + 2 + i * kIfdEntrySize);
    }
    table.put32(2 + rows.size() * kIfdEntrySize, layout.nextIfd());
    std::uint32_t at = output.append(table.bytes());
    if (at == 0) return err::kParam;
    output.put32(4, at);
  }
  *out = std::move(output.bytes());
  return err::kNone;
}

}  // namespace norvo::metadata
