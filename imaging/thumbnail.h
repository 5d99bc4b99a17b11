// SPDX-License-Identifier: GPL-3.0-or-later
// The stored thumbnail of an item: the reader's picture fitted into a square
// box (never enlarged), sharpened once when strongly reduced, turned as the
// file's orientation asks, and kept as a JPEG stream, or in the small
// uncompressed form of thumbnail_format.md when JPEG compression fails.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/pixel_buffer.h"
#include "platform/error_codes.h"

namespace norvo::imaging {

// Thumbnails reduced below this percentage are sharpened.
inline constexpr int kSharpenBelowPercent = 50;
// Scaled widths above this are made even.
inline constexpr int kEvenWidthAbove = 2000;
// JPEG quality of stored thumbnails: the high level, 0x300 on a scale of
// 0 to 0x400, as a percentage.
inline constexpr int kThumbnailJpegQuality = 0x300 * 100 / 0x400;
// First bytes of the uncompressed form ("NPX1").
inline constexpr std::uint32_t kUncompressedThumbnailMagic = 0x4E505831;

// The mean colour of a thumbnail, for colour-sorting and place-holders.
struct ColourSummary {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t luminance = 0;  // Rec. 601 weights
};

struct ThumbnailImage {
  PixelBuffer picture;     // opaque
  int scale_percent = 100;  // the reduction from the media's size
  bool sharpened = false;
};

struct StoredThumbnail {
  std::vector<std::uint8_t> bytes;
  bool compressed = false;  // JPEG, else the uncompressed form
  int width = 0;
  int height = 0;
};

// Steps before compression. `source` is the reader's picture, possibly a
// reduced decode of media of media_width x media_height (0: the source's own
// size); the thumbnail's size and the sharpening decision follow the media's
// size when the source has its proportions, else the source's own.
ErrorCode MakeThumbnailImage(int size, const PixelBuffer& source, int media_width, int media_height,
                             std::uint16_t rotation, ThumbnailImage* out, ColourSummary* summary = nullptr);

// The whole thumbnail: MakeThumbnailImage, then the stored form. An empty
// source makes nothing (err::kParam).
ErrorCode MakeThumbnailPicture(int size, const PixelBuffer& source, int media_width, int media_height,
                               std::uint16_t rotation, StoredThumbnail* out, ColourSummary* summary = nullptr);

// How a thumbnail is stored: as JPEG (falling back to uncompressed when the
// encoder fails) or uncompressed.
enum class ThumbnailCoding { kUncompressed, kJpeg };

// The stored form of an opaque picture.
ErrorCode StoreThumbnail(const PixelBuffer& picture, ThumbnailCoding coding, StoredThumbnail* out);

// Reads either stored form back.
ErrorCode DecodeStoredThumbnail(std::span<const std::uint8_t> bytes, PixelBuffer* out);

ColourSummary SummarizeColour(const PixelBuffer& picture);

}  // namespace norvo::imaging
