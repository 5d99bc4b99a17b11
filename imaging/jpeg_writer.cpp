// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG writer: the stream comes from the shared encoder (jpeg_codec.h);
// its JFIF header is given the resolution, and the EXIF and colour profile
// segments are placed right after it, where readers look for them.
#include <algorithm>

#include "imaging/format_writers.h"
#include "imaging/jpeg_codec.h"
#include "imaging/transform.h"
#include "platform/byte_io.h"

namespace norvo::imaging::writers {
namespace {

// SOI, then the APP0 JFIF segment as libjpeg writes it: marker, length 16,
// "JFIF\0", version, units at 13, densities at 14 and 16.
constexpr std::size_t kJfifEnd = 20;
constexpr std::size_t kUnitsAt = 13;
constexpr std::size_t kDensityAt = 14;
constexpr std::size_t kMaxSegmentData = 65533;  // a segment's length field counts itself
constexpr char kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr char kIccHeader[] = "ICC_PROFILE";   // with its zero byte: 12 bytes
constexpr std::size_t kIccChunkHeader = 14;    // the name, chunk number, chunk count
constexpr std::size_t kMaxIccChunks = 255;

bool HasJfifHeader(const std::vector<std::uint8_t>& s) {
  return s.size() > kJfifEnd && s[0] == 0xFF && s[1] == 0xD8 && s[2] == 0xFF && s[3] == 0xE0 && s[4] == 0 &&
         s[5] == 16 && s[6] == 'J' && s[7] == 'F' && s[8] == 'I' && s[9] == 'F' && s[10] == 0;
}

void Segment(ByteWriter& w, std::uint8_t marker, std::span<const std::uint8_t> head,
             std::span<const std::uint8_t> data) {
  w.u8(0xFF);
  w.u8(marker);
  w.u16be(static_cast<std::uint16_t>(2 + head.size() + data.size()));
  w.bytes(head);
  w.bytes(data);
}

}  // namespace

ErrorCode WriteJpeg(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                    std::uint32_t* dropped) {
  std::vector<std::uint8_t> stream;
  if (picture.hasAlpha()) {
    PixelBuffer flat;
    if (ErrorCode e = picture.copyTo(&flat); e != err::kNone) return e;
    FlattenOnWhite(&flat);
    if (ErrorCode e = EncodeJpeg(flat, options.quality, &stream); e != err::kNone) return e;
  } else if (ErrorCode e = EncodeJpeg(picture, options.quality, &stream); e != err::kNone) {
    return e;
  }
  if (!HasJfifHeader(stream)) return err::kBadJpeg;
  FixedBytes jfif(stream);
  stream[kUnitsAt] = 1;  // dots per inch
  jfif.setU16be(kDensityAt, static_cast<std::uint16_t>(options.dots_per_inch));
  jfif.setU16be(kDensityAt + 2, static_cast<std::uint16_t>(options.dots_per_inch));

  const std::size_t exif_room = kMaxSegmentData - sizeof kExifHeader;
  std::span<const std::uint8_t> exif = options.exif;
  if (exif.size() > exif_room) {
    *dropped |= kHoldsExif;
    exif = {};
  }
  std::span<const std::uint8_t> profile = options.icc_profile;
  const std::size_t chunk = kMaxSegmentData - kIccChunkHeader;
  const std::size_t chunks = (profile.size() + chunk - 1) / chunk;
  if (chunks > kMaxIccChunks) {
    *dropped |= kHoldsProfile;
    profile = {};
  }

  ByteWriter w(stream.size() + exif.size() + profile.size() + 64);
  w.bytes(std::span(stream).first(kJfifEnd));
  if (!exif.empty()) {
    Segment(w, 0xE1, {reinterpret_cast<const std::uint8_t*>(kExifHeader), sizeof kExifHeader}, exif);
  }
  for (std::size_t i = 0; i < chunks && !profile.empty(); ++i) {
    std::uint8_t head[kIccChunkHeader] = {};
    std::copy_n(kIccHeader, sizeof kIccHeader, head);
    head[12] = static_cast<std::uint8_t>(i + 1);
    head[13] = static_cast<std::uint8_t>(chunks);
    const std::size_t at = i * chunk;
    Segment(w, 0xE2, head, profile.subspan(at, std::min(chunk, profile.size() - at)));
  }
  w.bytes(std::span(stream).subspan(kJfifEnd));
  *out = w.take();
  return err::kNone;
}

}  // namespace norvo::imaging::writers
