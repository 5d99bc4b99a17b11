// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/byte_io.h"

#include <algorithm>
#include <bit>

namespace norvo {

void ByteReader::seek(std::size_t position) {
  if (!ok_) return;
  if (position > data_.size()) {
    ok_ = false;
    return;
  }
  pos_ = position;
}

void ByteReader::skip(std::size_t count) {
  if (take(count)) pos_ += count;
}

std::uint64_t ByteReader::u64be() {
  if (!take(8)) return 0;
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | data_[pos_ + i];
  pos_ += 8;
  return v;
}

std::uint16_t ByteReader::u16le() {
  if (!take(2)) return 0;
  std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return v;
}

std::uint32_t ByteReader::u32le() {
  if (!take(4)) return 0;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos_ + i];
  pos_ += 4;
  return v;
}

std::span<const std::uint8_t> ByteReader::bytes(std::size_t count) {
  if (!take(count)) return {};
  auto out = data_.subspan(pos_, count);
  pos_ += count;
  return out;
}

void ByteReader::read(std::span<std::uint8_t> out) {
  auto in = bytes(out.size());
  if (in.size() == out.size()) {
    std::copy(in.begin(), in.end(), out.begin());
  } else {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
  }
}

void ByteWriter::u16be(std::uint16_t v) {
  buf_.push_back(static_cast<std::uint8_t>(v >> 8));
  buf_.push_back(static_cast<std::uint8_t>(v));
}

void ByteWriter::u32be(std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) buf_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::u64be(std::uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) buf_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::u16le(std::uint16_t v) {
  buf_.push_back(static_cast<std::uint8_t>(v));
  buf_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ByteWriter::u32le(std::uint32_t v) {
  for (int shift = 0; shift <= 24; shift += 8) buf_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::bytes(std::span<const std::uint8_t> data) {
  buf_.insert(buf_.end(), data.begin(), data.end());
}

void ByteWriter::tag(const char (&code)[5]) {
  for (int i = 0; i < 4; ++i) buf_.push_back(static_cast<std::uint8_t>(code[i]));
}

bool ByteWriter::patchU32be(std::size_t offset, std::uint32_t v) {
  if (offset > buf_.size() || 4 > buf_.size() - offset) return false;
  for (int i = 0; i < 4; ++i) buf_[offset + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  return true;
}

bool FixedBytes::fits(std::size_t offset, std::size_t count) {
  if (offset > data_.size() || count > data_.size() - offset) {
    ok_ = false;
    return false;
  }
  return true;
}

std::uint16_t FixedBytes::getU16be(std::size_t offset) {
  if (!fits(offset, 2)) return 0;
  return static_cast<std::uint16_t>((data_[offset] << 8) | data_[offset + 1]);
}

std::uint32_t FixedBytes::getU32be(std::size_t offset) {
  if (!fits(offset, 4)) return 0;
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | data_[offset + i];
  return v;
}

void FixedBytes::setU16be(std::size_t offset, std::uint16_t v) {
  if (!fits(offset, 2)) return;
  data_[offset] = static_cast<std::uint8_t>(v >> 8);
  data_[offset + 1] = static_cast<std::uint8_t>(v);
}

void FixedBytes::setU32be(std::size_t offset, std::uint32_t v) {
  if (!fits(offset, 4)) return;
  for (int i = 0; i < 4; ++i) data_[offset + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void FixedBytes::setU16le(std::size_t offset, std::uint16_t v) {
  if (!fits(offset, 2)) return;
  data_[offset] = static_cast<std::uint8_t>(v);
  data_[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

void FixedBytes::setU32le(std::size_t offset, std::uint32_t v) {
  if (!fits(offset, 4)) return;
  for (int i = 0; i < 4; ++i) data_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::span<std::uint8_t> FixedBytes::slice(std::size_t offset, std::size_t count) {
  if (!fits(offset, count)) return {};
  return data_.subspan(offset, count);
}

std::string FourCCToString(std::uint32_t code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(code >> (24 - 8 * i));
  return s;
}

std::uint64_t SwapBigEndian64(std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) return v;
  return __builtin_bswap64(v);
}

}  // namespace norvo
