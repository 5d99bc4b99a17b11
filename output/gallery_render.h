// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures of one gallery item: its file decoded once, at the smallest
// size that still covers both the thumbnail and the media box, then the
// square thumbnail and the media rendition made from that one decode and
// written as JPEG streams in memory. Touches no catalog and no shared
// state, so the export runs it on worker threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/box_scale.h"
#include "imaging/jpeg_codec.h"
#include "imaging/pixel_buffer.h"
#include "platform/error_codes.h"

namespace norvo::output {

struct RenderOptions {
  int thumbnail_size = 96;
  imaging::BoxScaling thumbnail_scaling = imaging::BoxScaling::kFit;
  bool make_media = true;  // false for movies and sounds: their own file is the media
  int box_width = 640, box_height = 480;
  imaging::BoxScaling media_scaling = imaging::BoxScaling::kFit;
  bool frame = false;
  const imaging::PixelBuffer* watermark = nullptr;  // drawn on the media picture when set
  int watermark_position = 1;
  imaging::JpegWriteOptions jpeg;
  bool embed_iptc = false;
};

// What the item's record says of its file.
struct RenderJob {
  std::string path;            // empty: the file is missing
  std::uint32_t type_code = 0;
  int width = 0, height = 0;   // the media's recorded size (0: unknown)
  std::uint16_t rotation = 0;  // the turn the item's thumbnail has
  std::vector<std::uint8_t> annotations;  // the item's annotation block (with embed_iptc)
  std::uint8_t label = 0;
};

struct RenderedPicture {
  std::vector<std::uint8_t> jpeg;  // empty: none made
  int width = 0, height = 0;
};

struct RenderResult {
  ErrorCode error = err::kNone;  // why there is no picture
  RenderedPicture thumbnail;
  RenderedPicture media;
};

// The box a reader is asked to cover (the long side of the largest picture
// the thumbnail and the media need), or 0 for a full-size decode: when the
// media's size is unknown, when a rendition needs the full size, or when
// the box would not be smaller than the media. width x height is the
// media's upright size.
int DecodeBox(int width, int height, const RenderOptions& options);

// Decodes the file and makes both pictures. A failure leaves the result
// without pictures and says why.
void RenderItem(const RenderJob& job, const RenderOptions& options, RenderResult* out);

}  // namespace norvo::output
