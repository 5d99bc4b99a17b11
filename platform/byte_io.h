// SPDX-License-Identifier: GPL-3.0-or-later
// The one bounds-checked byte reader and its writing twin. Every parser and
// writer of stored structures goes through these: no struct is ever copied to
// or from file bytes. The reader has a sticky error: after the first read out
// of bounds every later read returns zeros and ok() stays false, so a parser
// can read a whole structure and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ascii.h"

namespace norvo {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes) : data_(bytes) {}

  bool ok() const { return ok_; }
  std::size_t position() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  bool atEnd() const { return pos_ >= data_.size(); }

  // Moves the cursor; a position past the end sets the error.
  void seek(std::size_t position);
  void skip(std::size_t count);

  // The small readers are inline: parsers call them once per field.
  std::uint8_t u8() {
    if (!take(1)) return 0;
    return data_[pos_++];
  }
  std::uint16_t u16be() {
    if (!take(2)) return 0;
    auto v = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  std::uint32_t u32be() {
    if (!take(4)) return 0;
    std::uint32_t v = (std::uint32_t{data_[pos_]} << 24) | (std::uint32_t{data_[pos_ + 1]} << 16) |
                      (std::uint32_t{data_[pos_ + 2]} << 8) | std::uint32_t{data_[pos_ + 3]};
    pos_ += 4;
    return v;
  }
  std::uint64_t u64be();
  std::uint16_t u16le();
  std::uint32_t u32le();
  std::int16_t i16be() { return static_cast<std::int16_t>(u16be()); }
  std::int32_t i32be() { return static_cast<std::int32_t>(u32be()); }

  // The next `count` bytes, or an empty span (and the error) when fewer remain.
  std::span<const std::uint8_t> bytes(std::size_t count);
  // Copies exactly out.size() bytes, zero-filling on error.
  void read(std::span<std::uint8_t> out);

 private:
  // True when `count` bytes are left at pos_; else sets the sticky error.
  bool take(std::size_t count) {
    if (ok_ && pos_ <= data_.size() && count <= data_.size() - pos_) return true;
    ok_ = false;
    return false;
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Appends to a growing buffer; `patch` rewrites bytes already written, which is
// how length fields written before their data are filled in.
class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(std::size_t reserve) { buf_.reserve(reserve); }

  void u8(std::uint8_t v) { buf_.push_back(v); }
  void u16be(std::uint16_t v);
  void u32be(std::uint32_t v);
  void u64be(std::uint64_t v);
  void u16le(std::uint16_t v);
  void u32le(std::uint32_t v);
  void bytes(std::span<const std::uint8_t> data);
  void zeros(std::size_t count) { buf_.insert(buf_.end(), count, 0); }
  void tag(const char (&code)[5]);

  // Overwrites at `offset`; the range must lie within what was written.
  bool patchU32be(std::size_t offset, std::uint32_t v);

  std::size_t size() const { return buf_.size(); }
  const std::vector<std::uint8_t>& buffer() const { return buf_; }
  std::vector<std::uint8_t> take() { return std::move(buf_); }

 private:
  std::vector<std::uint8_t> buf_;
};

// Fixed-position access into a buffer of known size, used by field tables that
// read and write a structure at given offsets. Out-of-range access is refused
// (returns 0 / does nothing) and recorded in ok().
class FixedBytes {
 public:
  explicit FixedBytes(std::span<std::uint8_t> bytes) : data_(bytes) {}
  bool ok() const { return ok_; }

  std::uint16_t getU16be(std::size_t offset);
  std::uint32_t getU32be(std::size_t offset);
  void setU16be(std::size_t offset, std::uint16_t v);
  void setU32be(std::size_t offset, std::uint32_t v);
  void setU16le(std::size_t offset, std::uint16_t v);
  void setU32le(std::size_t offset, std::uint32_t v);
  std::span<std::uint8_t> slice(std::size_t offset, std::size_t count);

 private:
  bool fits(std::size_t offset, std::size_t count);
  std::span<std::uint8_t> data_;
  bool ok_ = true;
};

// A byte order given once, for formats that state theirs in the file (TIFF's
// "II" and "MM").
enum class Endian : std::uint8_t { kBig, kLittle };

// A reader that knows its byte order: u16() and u32() read in it, so that the
// order is not passed again at every field.
class OrderedByteReader : public ByteReader {
 public:
  OrderedByteReader(std::span<const std::uint8_t> bytes, Endian order) : ByteReader(bytes), order_(order) {}
  Endian order() const { return order_; }
  std::uint16_t u16() { return order_ == Endian::kLittle ? u16le() : u16be(); }
  std::uint32_t u32() { return order_ == Endian::kLittle ? u32le() : u32be(); }

 private:
  Endian order_;
};

// Four-character codes: 'JPEG' is 0x4A504547, stored as its characters.
constexpr std::uint32_t FourCC(const char (&c)[5]) {
  return (std::uint32_t(std::uint8_t(c[0])) << 24) | (std::uint32_t(std::uint8_t(c[1])) << 16) |
         (std::uint32_t(std::uint8_t(c[2])) << 8) | std::uint32_t(std::uint8_t(c[3]));
}
std::string FourCCToString(std::uint32_t code);
// A code with each of its four characters upper-cased in ASCII: type codes
// match whatever the case of a file's extension or of a registered row
// ('mp4 ', 'MooV').
constexpr std::uint32_t FourCCUpperCase(std::uint32_t code) {
  std::uint32_t upper = 0;
  for (int shift = 24; shift >= 0; shift -= 8) {
    auto c = static_cast<std::uint8_t>(code >> shift);
    upper |= std::uint32_t{AsciiUpper(c)} << shift;
  }
  return upper;
}

// 64-bit byte-order conversion between big-endian and host order (symmetric).
std::uint64_t SwapBigEndian64(std::uint64_t v);

}  // namespace norvo
