// SPDX-License-Identifier: GPL-3.0-or-later
// The WebP writer: libwebp encodes the picture (lossy, at the quality
// asked); when a profile or EXIF goes with it, the file is rebuilt as the
// extended format: a VP8X header chunk naming what follows, ICCP, the
// image chunks as libwebp made them, then EXIF.
#include <webp/encode.h>

#include "imaging/format_writers.h"
#include "platform/byte_io.h"

namespace norvo::imaging::writers {
namespace {

constexpr std::uint8_t kFlagIcc = 0x20;
constexpr std::uint8_t kFlagAlpha = 0x10;
constexpr std::uint8_t kFlagExif = 0x08;
constexpr std::size_t kRiffHeader = 12;
constexpr int kMaxWebpSide = 16383;

struct WebpMemory {
  std::uint8_t* data = nullptr;
  ~WebpMemory() { WebPFree(data); }
};

void Chunk(ByteWriter& w, const char (&tag)[5], std::span<const std::uint8_t> data) {
  w.tag(tag);
  w.u32le(static_cast<std::uint32_t>(data.size()));
  w.bytes(data);
  if (data.size() % 2 != 0) w.u8(0);
}

void U24le(ByteWriter& w, std::uint32_t v) {
  w.u8(static_cast<std::uint8_t>(v));
  w.u8(static_cast<std::uint8_t>(v >> 8));
  w.u8(static_cast<std::uint8_t>(v >> 16));
}

}  // namespace

ErrorCode WriteWebp(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                    std::uint32_t*) {
  if (picture.width() > kMaxWebpSide || picture.height() > kMaxWebpSide) return err::kParam;
  const bool alpha = picture.hasAlpha();
  const std::vector<std::uint8_t> packed = PackedRgb(picture, alpha);
  const int channels = alpha ? 4 : 3;
  WebpMemory encoded;
  const float quality = static_cast<float>(options.quality);
  const std::size_t size =
      alpha ? WebPEncodeRGBA(packed.data(), picture.width(), picture.height(), picture.width() * channels, quality,
                             &encoded.data)
            : WebPEncodeRGB(packed.data(), picture.width(), picture.height(), picture.width() * channels, quality,
                            &encoded.data);
  if (size < kRiffHeader || encoded.data == nullptr) return err::kBadJpeg;
  const std::span<const std::uint8_t> simple(encoded.data, size);
  if (options.icc_profile.empty() && options.exif.empty()) {
    out->assign(simple.begin(), simple.end());
    return err::kNone;
  }

  ByteWriter w(size + options.icc_profile.size() + options.exif.size() + 64);
  w.tag("RIFF");
  w.u32le(0);  // patched below
  w.tag("WEBP");
  std::uint8_t flags = 0;
  if (!options.icc_profile.empty()) flags |= kFlagIcc;
  if (!options.exif.empty()) flags |= kFlagExif;
  if (alpha) flags |= kFlagAlpha;
  w.tag("VP8X");
  w.u32le(10);
  w.u8(flags);
  w.zeros(3);
  U24le(w, static_cast<std::uint32_t>(picture.width() - 1));
  U24le(w, static_cast<std::uint32_t>(picture.height() - 1));
  if (!options.icc_profile.empty()) Chunk(w, "ICCP", options.icc_profile);
  // The image chunks libwebp wrote (ALPH, VP8, VP8L), each as it is; its
  // own VP8X, if any, is replaced by ours.
  ByteReader r(simple);
  r.seek(kRiffHeader);
  while (r.ok() && !r.atEnd()) {
    const std::span<const std::uint8_t> head = r.bytes(8);
    if (!r.ok()) return err::kBadJpeg;
    const std::uint32_t length = ByteReader(head.subspan(4)).u32le();
    const std::size_t stored = std::size_t{length} + (length % 2);
    const std::span<const std::uint8_t> body = r.bytes(std::min<std::size_t>(stored, r.remaining()));
    if (!r.ok()) return err::kBadJpeg;
    if (head[0] == 'V' && head[1] == 'P' && head[2] == '8' && head[3] == 'X') continue;
    w.bytes(head);
    w.bytes(body);
    if (body.size() < stored) w.zeros(stored - body.size());
  }
  if (!options.exif.empty()) Chunk(w, "EXIF", options.exif);
  std::vector<std::uint8_t> bytes = w.take();
  FixedBytes(bytes).setU32le(4, static_cast<std::uint32_t>(bytes.size() - 8));
  *out = std::move(bytes);
  return err::kNone;
}

}  // namespace norvo::imaging::writers
