// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/image_writer.h"

#include <algorithm>
#include <array>
#include <string>

#include "imaging/format_writers.h"
#include "platform/ascii.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

constexpr int kDefaultDpi = 72;
constexpr int kMaxDpi = 65535;
constexpr std::size_t kMaxIfdEntries = 1000;

constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTagXResolution = 0x011A;
constexpr std::uint16_t kTagYResolution = 0x011B;
constexpr std::uint16_t kTagResolutionUnit = 0x0128;
constexpr std::uint16_t kTagImageWidth = 0x0100;
constexpr std::uint16_t kTagImageHeight = 0x0101;
constexpr std::uint16_t kTagExifIfd = 0x8769;
constexpr std::uint16_t kTagPixelXDimension = 0xA002;
constexpr std::uint16_t kTagPixelYDimension = 0xA003;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeIfd = 13;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeRational = 5;
constexpr std::uint16_t kUnitInch = 2;

constexpr std::uint32_t kAll = kHoldsResolution | kHoldsProfile | kHoldsExif | kHoldsAlpha;

std::array<ImageWriterFormat, 8> MakeTable() {
  return {{
      {"jpg", "JPEG", FourCC("JPEG"), kHoldsResolution | kHoldsProfile | kHoldsExif, true},
      {"png", "PNG", FourCC("PNGf"), kAll, true},
      {"tif", "TIFF", FourCC("TIFF"), kAll, true},
      {"webp", "WebP", FourCC("WEBP"), kHoldsProfile | kHoldsExif | kHoldsAlpha, true},
      {"heic", "HEIF (HEVC)", FourCC("HEIC"), kHoldsProfile | kHoldsExif | kHoldsAlpha,
       writers::HeifEncoderAvailable(false)},
      {"avif", "AVIF (AV1)", FourCC("AVIF"), kHoldsProfile | kHoldsExif | kHoldsAlpha,
       writers::HeifEncoderAvailable(true)},
      {"gif", "GIF", FourCC("GIFf"), 0, true},
      {"bmp", "BMP", FourCC("BMP "), kHoldsResolution | kHoldsProfile, true},
  }};
}

const std::array<ImageWriterFormat, 8>& Table() {
  static const std::array<ImageWriterFormat, 8> table = MakeTable();
  return table;
}

bool IsTiffHeader(std::span<const std::uint8_t> b) {
  return b.size() >= 8 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                           (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42));
}

}  // namespace

std::span<const ImageWriterFormat> ImageWriterFormats() { return Table(); }

const ImageWriterFormat* FindImageWriter(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  std::string lower(extension);
  for (char& c : lower) c = AsciiLower(c);
  // The long forms users type.
  if (lower == "jpeg") lower = "jpg";
  if (lower == "tiff") lower = "tif";
  for (const ImageWriterFormat& f : Table()) {
    if (f.extension == lower) return &f;
  }
  return nullptr;
}

ErrorCode EncodeImage(const ImageWriterFormat& format, const PixelBuffer& picture, const ImageWriteOptions& options,
                      std::vector<std::uint8_t>* out, std::uint32_t* dropped) {
  out->clear();
  std::uint32_t unused = 0;
  if (dropped == nullptr) dropped = &unused;
  *dropped = 0;
  if (picture.empty() || !format.available) return err::kParam;
  if (options.icc_profile.size() > kMaxMetadataBlock || options.exif.size() > kMaxMetadataBlock) return err::kParam;
  if (!options.exif.empty() && !IsTiffHeader(options.exif)) return err::kParam;
  ImageWriteOptions checked = options;
  if (checked.dots_per_inch < 1 || checked.dots_per_inch > kMaxDpi) checked.dots_per_inch = kDefaultDpi;
  checked.quality = std::clamp(checked.quality, 1, 100);
  if (!checked.icc_profile.empty() && (format.holds & kHoldsProfile) == 0) {
    *dropped |= kHoldsProfile;
    checked.icc_profile = {};
  }
  if (!checked.exif.empty() && (format.holds & kHoldsExif) == 0) {
    *dropped |= kHoldsExif;
    checked.exif = {};
  }
  ErrorCode e = err::kParam;
  const std::string_view x = format.extension;
  if (x == "jpg") e = writers::WriteJpeg(picture, checked, out, dropped);
  else if (x == "png") e = writers::WritePng(picture, checked, out, dropped);
  else if (x == "tif") e = writers::WriteTiff(picture, checked, out, dropped);
  else if (x == "webp") e = writers::WriteWebp(picture, checked, out, dropped);
  else if (x == "heic") e = writers::WriteHeif(picture, checked, false, out, dropped);
  else if (x == "avif") e = writers::WriteHeif(picture, checked, true, out, dropped);
  else if (x == "gif") e = writers::WriteGif(picture, checked, out, dropped);
  else if (x == "bmp") e = writers::WriteBmp(picture, checked, out, dropped);
  if (e != err::kNone) out->clear();
  return e;
}

ErrorCode UprightExif(std::span<const std::uint8_t> exif, const UprightFacts& facts, std::vector<std::uint8_t>* out) {
  out->clear();
  if (!IsTiffHeader(exif)) return err::kParam;
  std::vector<std::uint8_t> copy(exif.begin(), exif.end());
  const Endian order = copy[0] == 'I' ? Endian::kLittle : Endian::kBig;
  OrderedByteReader r(copy, order);
  r.seek(4);
  const std::uint32_t ifd = r.u32();
  r.seek(ifd);
  const std::uint16_t count = r.u16();
  if (!r.ok() || count > kMaxIfdEntries) return err::kParam;
  const int dots_per_inch = facts.dots_per_inch < 1 || facts.dots_per_inch > kMaxDpi ? kDefaultDpi
                                                                                      : facts.dots_per_inch;

  FixedBytes w(copy);
  auto put16 = [&](std::size_t at, std::uint16_t v) {
    order == Endian::kLittle ? w.setU16le(at, v) : w.setU16be(at, v);
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    order == Endian::kLittle ? w.setU32le(at, v) : w.setU32be(at, v);
  };
  // A one-value SHORT or LONG size entry takes the new size; a size that
  // a SHORT cannot hold leaves a SHORT entry alone.
  auto put_size = [&](std::size_t entry, std::uint16_t type, int size) {
    if (size <= 0) return;
    if (type == kTypeLong) put32(entry + 8, static_cast<std::uint32_t>(size));
    else if (type == kTypeShort && size <= 0xFFFF) put16(entry + 8, static_cast<std::uint16_t>(size));
  };
  std::uint32_t exif_ifd = 0;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t entry = ifd + 2 + std::size_t{i} * 12;
    r.seek(entry);
    const std::uint16_t tag = r.u16();
    const std::uint16_t type = r.u16();
    const std::uint32_t n = r.u32();
    const std::uint32_t value = r.u32();
    if (!r.ok()) return err::kParam;
    if (n != 1) continue;
    if ((tag == kTagOrientation || tag == kTagResolutionUnit) && type == kTypeShort) {
      put16(entry + 8, tag == kTagOrientation ? 1 : kUnitInch);
    } else if ((tag == kTagXResolution || tag == kTagYResolution) && type == kTypeRational &&
               value <= copy.size() && copy.size() - value >= 8) {
      put32(value, static_cast<std::uint32_t>(dots_per_inch));
      put32(value + 4, 1);
    } else if (tag == kTagImageWidth || tag == kTagImageHeight) {
      put_size(entry, type, tag == kTagImageWidth ? facts.width : facts.height);
    } else if (tag == kTagExifIfd && (type == kTypeLong || type == kTypeIfd)) {
      exif_ifd = value;
    }
  }
  // IFD1 holds the camera's small preview of the unturned, unscaled
  // picture: it is unlinked so that no reader shows it for the new file.
  const std::size_t next = ifd + 2 + std::size_t{count} * 12;
  if (next <= copy.size() && copy.size() - next >= 4) put32(next, 0);
  // The EXIF IFD's pixel dimensions describe the picture as written.
  if (exif_ifd != 0 && exif_ifd != ifd && exif_ifd < copy.size()) {
    r.seek(exif_ifd);
    const std::uint16_t exif_count = r.u16();
    for (std::uint16_t i = 0; r.ok() && exif_count <= kMaxIfdEntries && i < exif_count; ++i) {
      const std::size_t entry = exif_ifd + 2 + std::size_t{i} * 12;
      r.seek(entry);
      const std::uint16_t tag = r.u16();
      const std::uint16_t type = r.u16();
      const std::uint32_t n = r.u32();
      if (!r.ok() || n != 1) continue;
      if (tag == kTagPixelXDimension) put_size(entry, type, facts.width);
      else if (tag == kTagPixelYDimension) put_size(entry, type, facts.height);
    }
  }
  if (!w.ok()) return err::kParam;
  *out = std::move(copy);
  return err::kNone;
}

namespace writers {

std::vector<std::uint8_t> PackedRgb(const PixelBuffer& picture, bool alpha) {
  const std::size_t channels = alpha ? 4 : 3;
  const std::size_t width = static_cast<std::size_t>(picture.width());
  std::vector<std::uint8_t> packed(width * static_cast<std::size_t>(picture.height()) * channels);
  std::uint8_t* to = packed.data();
  for (int y = 0; y < picture.height(); ++y) {
    const std::uint8_t* from = picture.row(y);
    for (std::size_t x = 0; x < width; ++x, from += 4) {
      *to++ = from[1];
      *to++ = from[2];
      *to++ = from[3];
      if (alpha) *to++ = from[0];
    }
  }
  return packed;
}

}  // namespace writers
}  // namespace norvo::imaging
