// SPDX-License-Identifier: GPL-3.0-or-later
// The BMP writer: 24 bits per pixel, rows bottom-up and padded to four
// bytes. Without a profile the 40-byte information header; with one the
// 124-byte V5 header, which names the profile stored after the pixels.
#include <cmath>

#include "imaging/format_writers.h"
#include "imaging/transform.h"
#include "platform/byte_io.h"

namespace norvo::imaging::writers {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV5HeaderSize = 124;
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr std::uint32_t kIntentImages = 4;              // perceptual
constexpr double kMetresPerInch = 0.0254;
constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFFu;

}  // namespace

ErrorCode WriteBmp(const PixelBuffer& source, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                   std::uint32_t*) {
  const PixelBuffer* picture = &source;
  PixelBuffer flat;
  if (source.hasAlpha()) {
    if (ErrorCode e = source.copyTo(&flat); e != err::kNone) return e;
    FlattenOnWhite(&flat);
    picture = &flat;
  }
  const std::uint32_t width = static_cast<std::uint32_t>(picture->width());
  const std::uint32_t height = static_cast<std::uint32_t>(picture->height());
  const std::uint64_t row_bytes = (std::uint64_t{width} * 3 + 3) & ~std::uint64_t{3};
  const std::uint64_t pixel_bytes = row_bytes * height;
  const bool v5 = !options.icc_profile.empty();
  const std::uint32_t header = v5 ? kV5HeaderSize : kInfoHeaderSize;
  const std::uint64_t total = kFileHeaderSize + header + pixel_bytes + options.icc_profile.size();
  if (total > kMaxFileBytes) return err::kParam;
  const auto per_metre = static_cast<std::uint32_t>(std::lround(options.dots_per_inch / kMetresPerInch));

  ByteWriter w(static_cast<std::size_t>(total));
  w.u8('B');
  w.u8('M');
  w.u32le(static_cast<std::uint32_t>(total));
  w.u32le(0);
  w.u32le(kFileHeaderSize + header);
  w.u32le(header);
  w.u32le(width);
  w.u32le(height);  // positive: bottom-up
  w.u16le(1);       // planes
  w.u16le(24);      // bits per pixel
  w.u32le(0);       // no compression
  w.u32le(static_cast<std::uint32_t>(pixel_bytes));
  w.u32le(per_metre);
  w.u32le(per_metre);
  w.u32le(0);  // colours used
  w.u32le(0);  // important colours
  if (v5) {
    w.zeros(16);  // channel masks: not used with 24 bits
    w.u32le(kProfileEmbedded);
    w.zeros(36 + 12);  // end points, gamma
    w.u32le(kIntentImages);
    w.u32le(static_cast<std::uint32_t>(header + pixel_bytes));  // profile, from the information header
    w.u32le(static_cast<std::uint32_t>(options.icc_profile.size()));
    w.u32le(0);
  }
  const std::size_t padding = static_cast<std::size_t>(row_bytes - std::uint64_t{width} * 3);
  for (std::uint32_t y = height; y-- > 0;) {
    const std::uint8_t* p = picture->row(static_cast<int>(y));
    for (std::uint32_t x = 0; x < width; ++x, p += 4) {
      w.u8(p[3]);
      w.u8(p[2]);
      w.u8(p[1]);
    }
    w.zeros(padding);
  }
  w.bytes(options.icc_profile);
  *out = w.take();
  return err::kNone;
}

}  // namespace norvo::imaging::writers
