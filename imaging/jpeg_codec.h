// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG decoding and encoding through libjpeg-turbo, shared by the JPEG
// reader, the camera raw reader (embedded previews) and the stored thumbnail.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/image_reader.h"

namespace norvo::imaging {

// Decodes a JPEG stream. For box > 0 the picture is decoded at the smallest
// DCT scale (1/8 to 8/8) whose output still covers the thumbnail's fitted
// size, with the fast integer DCT and plain upsampling; for box 0 at full
// size and full quality. Any library error is err::kBadJpeg. A stream that ends early
// gives the rows decoded so far and white below them.
ErrorCode DecodeJpeg(std::span<const std::uint8_t> bytes, int box, DecodedImage* out);

// Encodes an opaque picture as a baseline JPEG at `quality` (1 to 100) with
// the fast integer DCT. Any library error is err::kBadJpeg.
ErrorCode EncodeJpeg(const PixelBuffer& picture, int quality, std::vector<std::uint8_t>* out);

// JPEG quality codes of exports.
inline constexpr int kJpegQualityLeast = 1;
inline constexpr int kJpegQualityLow = 2;
inline constexpr int kJpegQualityMedium = 3;
inline constexpr int kJpegQualityHigh = 4;
inline constexpr int kJpegQualityBest = 5;
inline constexpr int kJpegQualityTargetSize = 7;

struct JpegWriteOptions {
  int quality_code = kJpegQualityMedium;  // 1 least, 2 low, 3 medium, 4 high, 5 best, 6 medium,
                                          // 7 target size; other: medium
  int target_bytes = 0;    // with code 7: the largest size wanted (quality searched downwards; medium at most)
  int dots_per_inch = 72;  // JFIF density; below 1 or above 65535 gives 72
};

// The libjpeg quality (1-100) for a quality code: the five levels 0x000,
// 0x100, 0x200, 0x300, 0x3FF of a 0..0x400 scale as whole percentages (cut,
// never below 1); 6, 7 and any other code as medium.
int JpegQualityForCode(int code);

// Encodes an opaque picture as a baseline JPEG (three components, JFIF
// header with the given density). With code 7 and a target above 0 the
// quality is searched by bisection from medium down to 1: the best quality
// whose stream fits the target is kept, and the search stops early once a
// stream fills most of it; when even quality 1 does not fit, that smallest
// stream is given. *quality_used, when given, gets the quality written.
// Any library error is err::kBadJpeg; an empty picture err::kParam.
ErrorCode EncodeJpeg(const PixelBuffer& picture, const JpegWriteOptions& options, std::vector<std::uint8_t>* out,
                     int* quality_used = nullptr);

}  // namespace norvo::imaging
