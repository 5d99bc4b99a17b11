// SPDX-License-Identifier: GPL-3.0-or-later
// Still WebP files through libwebp, decoded straight into the picture; for a
// thumbnail libwebp scales while decoding, to the thumbnail's fitted size.
#include <webp/decode.h>

#include "imaging/readers.h"

namespace norvo::imaging {
namespace {

class WebpFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return err::kParam;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &config.input) != VP8_STATUS_OK) return kBadImageData;
    const WebPBitstreamFeatures& f = config.input;
    ImageFacts& facts = out->facts;
    facts.width = f.width;
    facts.height = f.height;
    facts.depth = f.has_alpha ? 32 : 24;
    facts.colour_space = kColourRgb;
    facts.compressor = f.format == 2 ? "WebP Lossless" : "WebP";
    if (f.has_animation) return kBadImageData;  // animations go to the movie readers
    if (f.width <= 0 || f.height <= 0 || f.width > kMaxSide || f.height > kMaxSide) return kBadImageData;

    int width = f.width;
    int height = f.height;
    if (box > 0) {
      FittedSize(f.width, f.height, box, &width, &height);
      config.options.use_scaling = width != f.width || height != f.height;
      config.options.scaled_width = width;
      config.options.scaled_height = height;
      config.options.no_fancy_upsampling = 1;
    }
    PixelBuffer& picture = out->picture;
    ErrorCode e = picture.allocate(width, height);
    if (e != err::kNone) return e;
    picture.setHasAlpha(f.has_alpha != 0);
    config.output.colorspace = MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = picture.row(0);
    config.output.u.RGBA.stride = static_cast<int>(picture.stride());
    config.output.u.RGBA.size = picture.bytes().size();
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
      out->picture = PixelBuffer();
      return kBadImageData;
    }
    return err::kNone;
  }
};

}  // namespace

const StillImageReader& WebpReader() {
  static const WebpFileReader reader;
  return reader;
}

}  // namespace norvo::imaging
