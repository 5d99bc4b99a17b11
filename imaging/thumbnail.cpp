// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/thumbnail.h"

#include <cstdlib>
#include <utility>

#include "imaging/image_reader.h"
#include "imaging/jpeg_codec.h"
#include "imaging/transform.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

constexpr std::size_t kUncompressedHeaderBytes = 12;

// True when `source` is the media scaled (each side rounded either way), so
// that sizes computed from the media apply to it.
bool HasMediaProportions(const PixelBuffer& source, std::int64_t mw, std::int64_t mh) {
  const std::int64_t sw = source.width();
  const std::int64_t sh = source.height();
  if (sw > mw || sh > mh) return false;
  return std::llabs(sw * mh - sh * mw) <= std::max(mw, mh);
}

}  // namespace

ErrorCode MakeThumbnailImage(int size, const PixelBuffer& source, int media_width, int media_height,
                             std::uint16_t rotation, ThumbnailImage* out, ColourSummary* summary) {
  *out = ThumbnailImage();
  if (source.empty() || size <= 0) return err::kParam;
  if (media_width <= 0 || media_height <= 0) {
    media_width = source.width();
    media_height = source.height();
  }
  const Rect box{0, 0, size, size};
  Rect media{0, 0, media_width, media_height};
  const int media_percent = FitRectInBox(&media, box, 1);
  Rect frame{0, 0, source.width(), source.height()};
  int percent = FitRectInBox(&frame, box, 1);
  if (HasMediaProportions(source, media_width, media_height) && media.width() <= source.width() &&
      media.height() <= source.height()) {
    frame = media;
    percent = media_percent;
  }
  int width = frame.width();
  const int height = frame.height();
  if (width > kEvenWidthAbove && width % 2 == 1) --width;

  ErrorCode e = Downscale(source, width, height, &out->picture);
  if (e != err::kNone) return e;
  if (out->picture.hasAlpha()) FlattenOnWhite(&out->picture);
  if (rotation != kRotateNone) {
    e = Rotate(&out->picture, rotation);
    if (e != err::kNone) return e;
  }
  out->scale_percent = percent;
  if (percent < kSharpenBelowPercent) {
    Sharpen(&out->picture);
    out->sharpened = true;
  }
  if (summary != nullptr) *summary = SummarizeColour(out->picture);
  return err::kNone;
}

ErrorCode MakeThumbnailPicture(int size, const PixelBuffer& source, int media_width, int media_height,
                               std::uint16_t rotation, StoredThumbnail* out, ColourSummary* summary) {
  *out = StoredThumbnail();
  ThumbnailImage image;
  ErrorCode e = MakeThumbnailImage(size, source, media_width, media_height, rotation, &image, summary);
  if (e != err::kNone) return e;
  return StoreThumbnail(image.picture, ThumbnailCoding::kJpeg, out);
}

ErrorCode StoreThumbnail(const PixelBuffer& picture, ThumbnailCoding coding, StoredThumbnail* out) {
  *out = StoredThumbnail();
  if (picture.empty()) return err::kParam;
  out->width = picture.width();
  out->height = picture.height();
  if (coding == ThumbnailCoding::kJpeg && EncodeJpeg(picture, kThumbnailJpegQuality, &out->bytes) == err::kNone) {
    out->compressed = true;
    return err::kNone;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(picture.width()) * kBytesPerPixel;
  ByteWriter w(kUncompressedHeaderBytes + row_bytes * static_cast<std::size_t>(picture.height()));
  w.u32be(kUncompressedThumbnailMagic);
  w.u32be(static_cast<std::uint32_t>(picture.width()));
  w.u32be(static_cast<std::uint32_t>(picture.height()));
  for (int y = 0; y < picture.height(); ++y) w.bytes(std::span(picture.row(y), row_bytes));
  out->bytes = w.take();
  out->compressed = false;
  return err::kNone;
}

ErrorCode DecodeStoredThumbnail(std::span<const std::uint8_t> bytes, PixelBuffer* out) {
  *out = PixelBuffer();
  ByteReader r(bytes);
  if (r.u32be() == kUncompressedThumbnailMagic) {
    const std::uint32_t width = r.u32be();
    const std::uint32_t height = r.u32be();
    if (!r.ok() || width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return kBadImageData;
    const std::size_t row_bytes = std::size_t{width} * kBytesPerPixel;
    if (r.remaining() != row_bytes * height) return kBadImageData;
    ErrorCode e = out->allocate(static_cast<int>(width), static_cast<int>(height));
    if (e != err::kNone) return e;
    for (std::uint32_t y = 0; y < height; ++y) r.read(std::span(out->row(static_cast<int>(y)), row_bytes));
    return err::kNone;
  }
  DecodedImage image;
  ErrorCode e = DecodeJpeg(bytes, 0, &image);
  if (e != err::kNone) return e;
  *out = std::move(image.picture);
  return err::kNone;
}

ColourSummary SummarizeColour(const PixelBuffer& picture) {
  ColourSummary s;
  if (picture.empty()) return s;
  std::uint64_t r = 0, g = 0, b = 0;
  for (int y = 0; y < picture.height(); ++y) {
    const std::uint8_t* p = picture.row(y);
    for (int x = 0; x < picture.width(); ++x, p += kBytesPerPixel) {
      r += p[1];
      g += p[2];
      b += p[3];
    }
  }
  const std::uint64_t n = static_cast<std::uint64_t>(picture.width()) * static_cast<std::uint64_t>(picture.height());
  s.red = static_cast<std::uint8_t>((r + n / 2) / n);
  s.green = static_cast<std::uint8_t>((g + n / 2) / n);
  s.blue = static_cast<std::uint8_t>((b + n / 2) / n);
  s.luminance = static_cast<std::uint8_t>((299 * s.red + 587 * s.green + 114 * s.blue + 500) / 1000);
  return s;
}

}  // namespace norvo::imaging
