// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/tiff_tags.h"

#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {

namespace {

const TiffTypeInfo* FindType(std::uint16_t type) {
  if (type == 0 || type > kMaxTiffType) return nullptr;
  return &kTiffTypes[type - 1];
}

}  // namespace

std::size_t TiffTypeSize(std::uint16_t type) {
  const TiffTypeInfo* info = FindType(type);
  return info == nullptr ? 0 : info->size;
}

std::string_view TiffTypeName(std::uint16_t type) {
  const TiffTypeInfo* info = FindType(type);
  return info == nullptr ? std::string_view() : info->name;
}

bool IsTiffHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return false;
  return (bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
         (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42);
}

std::uint16_t GetU16(std::span<const std::uint8_t> bytes, std::size_t offset, Endian order) {
  ByteReader r(bytes);
  r.seek(offset);
  return order == Endian::kBig ? r.u16be() : r.u16le();
}

std::uint32_t GetU32(std::span<const std::uint8_t> bytes, std::size_t offset, Endian order) {
  ByteReader r(bytes);
  r.seek(offset);
  return order == Endian::kBig ? r.u32be() : r.u32le();
}

std::int64_t GetNumber(std::span<const std::uint8_t> bytes, std::uint16_t type, std::size_t index, Endian order) {
  std::size_t size = TiffTypeSize(type);
  if (size == 0 || index >= bytes.size() / size) return 0;
  std::size_t at = index * size;
  switch (type) {
    case kTiffByte: case kTiffAscii: case kTiffUndefined: return bytes[at];
    case kTiffSignedByte: return static_cast<std::int8_t>(bytes[at]);
    case kTiffShort: return GetU16(bytes, at, order);
    case kTiffSignedShort: return static_cast<std::int16_t>(GetU16(bytes, at, order));
    case kTiffLong: case kTiffRational: return GetU32(bytes, at, order);
    case kTiffSignedLong: case kTiffSignedRational: return static_cast<std::int32_t>(GetU32(bytes, at, order));
    default: return 0;  // floats are not used as numbers here
  }
}

bool RationalPartsAt(const TagValue& v, std::size_t index, std::int32_t* numerator, std::int32_t* denominator) {
  if (!IsRationalType(v.type) || index >= v.bytes.size() / 8) return false;
  *numerator = static_cast<std::int32_t>(GetU32(v.bytes, index * 8, v.order));
  *denominator = static_cast<std::int32_t>(GetU32(v.bytes, index * 8 + 4, v.order));
  return true;
}

bool RationalValueAt(const TagValue& v, std::size_t index, double* out) {
  std::int32_t n = 0;
  std::int32_t d = 0;
  if (!RationalPartsAt(v, index, &n, &d) || d == 0) return false;
  *out = v.type == kTiffSignedRational
             ? static_cast<double>(n) / static_cast<double>(d)
             : static_cast<double>(static_cast<std::uint32_t>(n)) / static_cast<double>(static_cast<std::uint32_t>(d));
  return true;
}

std::string_view TextUpToNul(std::span<const std::uint8_t> bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return text.substr(0, text.find('\0'));
}

std::string TextFromUcs2(std::span<const std::uint8_t> bytes, Endian order) {
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t c = static_cast<char16_t>(GetU16(bytes, i, order));
    if (c == 0) break;
    wide.push_back(c);
  }
  return Utf8ToWindows1252(Utf16ToUtf8(wide));
}

}  // namespace norvo::metadata
