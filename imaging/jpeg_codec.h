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

}  // namespace norvo::imaging
