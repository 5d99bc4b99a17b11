// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/toolbar_images.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace norvo::imaging {
namespace {

// The number of pixels in a width x height image, or nothing when the sides
// are negative, the image could not be addressed, or a buffer is missing.
std::optional<std::size_t> PixelCount(const BgrxPixel* source, int width, int height, const BgrxPixel* destination) {
  if (width < 0 || height < 0) return std::nullopt;
  const std::uint64_t count = std::uint64_t(unsigned(width)) * std::uint64_t(unsigned(height));
  if (count > std::uint64_t(PTRDIFF_MAX) / sizeof(BgrxPixel)) return std::nullopt;
  if (count != 0 && (source == nullptr || destination == nullptr)) return std::nullopt;
  return static_cast<std::size_t>(count);
}

bool SameColour(BgrxPixel a, BgrxPixel b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

// A 0..1 channel value as a byte, cut toward zero; values outside the range
// (which float rounding can come near) are held to it.
std::uint8_t ToByte(float value) {
  const float scaled = value * 255.0f;
  if (!(scaled > 0.0f)) return 0;
  if (scaled >= 255.0f) return 255;
  return static_cast<std::uint8_t>(scaled);
}

float HoldToUnit(float value) {
  if (!(value > 0.0f)) return 0.0f;
  return std::min(value, 1.0f);
}

// One channel from the two lightness bounds and the channel's hue, which is
// at most one turn outside 0..360.
float ChannelValue(float m1, float m2, float hue) {
  if (hue > 360.0f) {
    hue -= 360.0f;
  } else if (hue < 0.0f) {
    hue += 360.0f;
  }
  if (hue < 60.0f) return m1 + (m2 - m1) * hue / 60.0f;
  if (hue < 180.0f) return m2;
  if (hue < 240.0f) return m1 + (m2 - m1) * (240.0f - hue) / 60.0f;
  return m1;
}

}  // namespace

Hls RgbToHls(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const int r = red, g = green, b = blue;
  const int high = std::max({r, g, b});
  const int low = std::min({r, g, b});
  Hls hls;
  hls.lightness = static_cast<float>(high + low) / 510.0f;
  if (high == low) return hls;  // a grey: no hue, no saturation

  const float spread = static_cast<float>(high - low);
  hls.saturation = hls.lightness < 0.5f ? spread / static_cast<float>(high + low)
                                        : spread / static_cast<float>(510 - high - low);
  // How far each channel lies below the highest, as a share of the spread.
  const float rc = static_cast<float>(high - r) / spread;
  const float gc = static_cast<float>(high - g) / spread;
  const float bc = static_cast<float>(high - b) / spread;
  // Two channels sharing the highest value give the same hue from either
  // branch; blue is tested first, then green.
  if (b == high) {
    hls.hue = 60.0f * (4.0f + gc - rc);
  } else if (g == high) {
    hls.hue = 60.0f * (2.0f + rc - bc);
  } else {
    hls.hue = 60.0f * (6.0f + bc - gc);
  }
  if (hls.hue >= 360.0f) hls.hue -= 360.0f;
  return hls;
}

BgrxPixel HlsToRgb(const Hls& hls) {
  const float lightness = HoldToUnit(hls.lightness);
  const float saturation = HoldToUnit(hls.saturation);
  if (saturation == 0.0f) {
    const std::uint8_t grey = ToByte(lightness);
    return Bgrx(grey, grey, grey);
  }
  float hue = hls.hue;
  if (!std::isfinite(hue)) {
    hue = 0.0f;
  } else if (hue < 0.0f || hue >= 360.0f) {
    hue = std::fmod(hue, 360.0f);
    if (hue < 0.0f) hue += 360.0f;
  }
  const float m2 = lightness <= 0.5f ? lightness * (1.0f + saturation)
                                     : lightness + saturation - lightness * saturation;
  const float m1 = 2.0f * lightness - m2;
  return Bgrx(ToByte(ChannelValue(m1, m2, hue + 120.0f)), ToByte(ChannelValue(m1, m2, hue)),
              ToByte(ChannelValue(m1, m2, hue - 120.0f)));
}

bool ImageProcessor::process(const BgrxPixel* source, int width, int height, BgrxPixel* destination) const {
  const std::optional<std::size_t> count = PixelCount(source, width, height, destination);
  if (!count) return false;
  for (std::size_t i = 0; i < *count; ++i) {
    const BgrxPixel pixel = source[i];
    destination[i] = key_ && SameColour(pixel, *key_) ? pixel : processPixel(pixel);
  }
  return true;
}

BgrxPixel ImageGrayer::processPixel(BgrxPixel pixel) const {
  const auto grey = static_cast<std::uint8_t>((3 * pixel.red + 6 * pixel.green + pixel.blue) / 10);
  return Bgrx(grey, grey, grey);
}

ImageLightener::ImageLightener(float change) : change_(std::isnan(change) ? 0.0f : std::clamp(change, -1.0f, 1.0f)) {}

BgrxPixel ImageLightener::processPixel(BgrxPixel pixel) const {
  // Going to HLS and back can move a channel by one; no change means none.
  if (change_ == 0.0f) return pixel;
  Hls hls = RgbToHls(pixel.red, pixel.green, pixel.blue);
  if (change_ > 0.0f && hls.lightness < 1.0f) {
    hls.lightness = std::min(hls.lightness + change_, 1.0f);
  } else if (change_ < 0.0f && hls.lightness > 0.0f) {
    hls.lightness = std::max(hls.lightness + change_, 0.0f);
  }
  return HlsToRgb(hls);
}

void ImageProcessorChain::add(std::unique_ptr<ImageProcessor> processor) {
  if (processor) processors_.push_back(std::move(processor));
}

bool ImageProcessorChain::process(const BgrxPixel* source, int width, int height, BgrxPixel* destination) const {
  const std::optional<std::size_t> count = PixelCount(source, width, height, destination);
  if (!count) return false;
  if (source != destination) std::copy(source, source + *count, destination);
  // Each processor works pixel by pixel, so every step runs in place on the
  // previous step's output.
  for (const std::unique_ptr<ImageProcessor>& processor : processors_) {
    if (!processor->process(destination, width, height, destination)) return false;
  }
  return true;
}

ImageProcessorChain ToolbarStateChain(ToolbarState state) {
  ImageProcessorChain chain;
  const auto keyed = [](std::unique_ptr<ImageProcessor> processor) {
    processor->setKeyColour(kToolbarKeyColour);
    return processor;
  };
  switch (state) {
    case ToolbarState::kHot:
      break;  // as drawn
    case ToolbarState::kNormal:
      chain.add(keyed(std::make_unique<ImageLightener>(0.04f)));
      break;
    case ToolbarState::kDisabled:
      chain.add(keyed(std::make_unique<ImageGrayer>()));
      for (int i = 0; i < 3; ++i) chain.add(keyed(std::make_unique<ImageLightener>(0.08f)));
      break;
  }
  return chain;
}

std::vector<BgrxPixel> ToolbarStateImage(const ToolbarBitmap& bitmap, ToolbarState state) {
  if (bitmap.width < 0 || bitmap.height < 0) return {};
  if (std::uint64_t(unsigned(bitmap.width)) * std::uint64_t(unsigned(bitmap.height)) != bitmap.pixels.size()) {
    return {};
  }
  std::vector<BgrxPixel> image = bitmap.pixels;
  if (!ToolbarStateChain(state).process(image.data(), bitmap.width, bitmap.height, image.data())) return {};
  return image;
}

}  // namespace norvo::imaging
