// SPDX-License-Identifier: GPL-3.0-or-later
// Rendering a picture into a box for pages and exports: at its own size,
// fitted inside the box, or filling the box with the overflow cut; a thin
// frame along the edges; a watermark laid over one of nine positions.
#pragma once

#include <cstdint>

#include "imaging/pixel_buffer.h"
#include "platform/error_codes.h"

namespace norvo::imaging {

enum class BoxScaling : int { kNatural = 1, kFit = 2, kFill = 3 };

// Any other code counts as kFit.
BoxScaling BoxScalingFromCode(int code);

// Results scaled below this percentage are sharpened once.
inline constexpr int kBoxSharpenBelowPercent = 50;

// kNatural: the picture at its own size (the box is not looked at).
// kFit: scaled by the smaller ratio box / picture when the picture is larger
// than the box in either side, else unchanged (fit never enlarges); the
// sides are cut to whole pixels, at least 1 each.
// kFill: scaled, down or up, by the larger ratio, centred, output exactly
// box_width x box_height with the overflow cut.
// A result whose scale is below kBoxSharpenBelowPercent is sharpened once.
// Reductions average areas, enlargements interpolate bilinearly.
// *scale_percent gets the scale used in whole percent (cut). An empty
// source, or a box side below 1 for kFit and kFill, is err::kParam; a box
// the pixel buffer refuses gives its error.
ErrorCode ScaleIntoBox(const PixelBuffer& source, int box_width, int box_height, BoxScaling mode,
                       PixelBuffer* out, int* scale_percent = nullptr);

// Scales `source` to exactly width x height, each side independently:
// reduced sides by area averaging, enlarged sides by bilinear
// interpolation. err::kParam for an empty source or a side below 1.
ErrorCode Resize(const PixelBuffer& source, int width, int height, PixelBuffer* out);

// A one-pixel frame of `argb` along the four edges.
void DrawFrame(PixelBuffer* picture, std::uint32_t argb = 0xFF000000u);

// Composites `mark` (with its alpha) onto `picture` at position 1..9
// (1 top-left, 2 top-centre, 3 top-right, 4 middle-left, 5 centre, ...
// 9 bottom-right; anything else 1), clipped to the picture.
void CompositeWatermark(PixelBuffer* picture, const PixelBuffer& mark, int position);

}  // namespace norvo::imaging
