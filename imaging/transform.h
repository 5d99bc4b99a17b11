// SPDX-License-Identifier: GPL-3.0-or-later
// Geometry and pixel transforms of the thumbnail path: fitting a rectangle
// into a square box, area-average reduction, the sharpening applied after a
// strong reduction, laying a picture with alpha on white, and the turns and
// mirrors named by the two-character rotation codes.
#pragma once

#include <cstdint>

#include "imaging/pixel_buffer.h"
#include "platform/error_codes.h"

namespace norvo::imaging {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// Mode 1 (the only mode): scale `rect` by the smaller of box width / rect
// width and box height / rect height, never above 1; the new sides are cut to
// whole pixels, at least 1 each, and the rect is centred in `box`. Returns the
// scale in whole percent (cut). A rect or box with a side of 0 or less is left
// alone and gives 100.
int FitRectInBox(Rect* rect, const Rect& box, int mode = 1);

// Reduces `source` to width x height (each at most the source's side) by area
// averaging: every source pixel is read once and spread over the one or two
// output pixels it overlaps in each direction. Equal sizes copy.
ErrorCode Downscale(const PixelBuffer& source, int width, int height, PixelBuffer* out);

// Sharpens colour channels in place with a 3x3 Laplacian kernel (the centre
// gains what its four neighbours lose); alpha is left alone, edge pixels use
// their own value for the missing neighbours.
void Sharpen(PixelBuffer* picture);

// Replaces every pixel by itself laid over opaque white.
void FlattenOnWhite(PixelBuffer* picture);

// Rotation codes: a u16 whose high byte is the first character.
constexpr std::uint16_t RotationCode(char a, char b) {
  return static_cast<std::uint16_t>((std::uint8_t(a) << 8) | std::uint8_t(b));
}
inline constexpr std::uint16_t kRotateNone = 0;
inline constexpr std::uint16_t kFlipHorizontal = RotationCode('H', ' ');     // orientation 2
inline constexpr std::uint16_t kRotate180 = RotationCode('H', 'V');          // orientation 3
inline constexpr std::uint16_t kFlipVertical = RotationCode('V', ' ');       // orientation 4
inline constexpr std::uint16_t kTranspose = RotationCode('C', 'F');          // orientation 5
inline constexpr std::uint16_t kRotateClockwise = RotationCode('W', ' ');    // orientation 6
inline constexpr std::uint16_t kTransverse = RotationCode('W', 'F');         // orientation 7
inline constexpr std::uint16_t kRotateCounterClockwise = RotationCode('C', 'W');  // orientation 8

// The code that turns a picture stored with EXIF orientation `orientation`
// upright; 0 for 0, 1 and any value outside 1 to 8.
std::uint16_t RotationForOrientation(int orientation);

// The one code that does what `first` and then `then` do; the inverse of a
// code is the code that undoes it. Unknown codes count as no turn.
std::uint16_t ComposeRotation(std::uint16_t first, std::uint16_t then);
std::uint16_t InverseRotation(std::uint16_t code);

// Applies a rotation code. Codes 'CF', 'W ', 'WF' and 'CW' swap the sides.
// An unknown code is err::kParam and leaves the picture alone; 0 does nothing.
ErrorCode Rotate(PixelBuffer* picture, std::uint16_t code);

}  // namespace norvo::imaging
