// SPDX-License-Identifier: GPL-3.0-or-later
// Toolbar button images: from the one bitmap a button is drawn in, the
// processors below make the image of each button state.
//
// Pixels are 32 bits, rows of `width` pixels with no padding between rows:
//
//   offset  size  field
//   0       1     blue
//   1       1     green
//   2       1     red
//   3       1     unused (written as 0 by the grayer and the lightener)
//
// The key colour (red 255, green 0, blue 255) marks transparent pixels. A
// processor given a key colour copies every pixel whose red, green and blue
// match it unchanged, unused byte included; without one it treats them like
// any other pixel.
//
// Grayer: grey = (3 red + 6 green + blue) / 10, cut to a whole number.
// Lightener: the pixel goes to hue, lightness and saturation (floats),
// lightness moves by the change and is held to 0..1, and the pixel comes back
// with each channel cut (not rounded) to a whole byte. A change of 0 leaves
// pixels exactly as they are.
//
// The states: hot is the bitmap as drawn; normal is lightened by 0.04;
// disabled is greyed, then lightened by 0.08 three times, each step cut back
// to whole bytes before the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace norvo::imaging {

struct BgrxPixel {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  std::uint8_t unused = 0;
  bool operator==(const BgrxPixel&) const = default;
};
static_assert(sizeof(BgrxPixel) == 4, "a pixel is four bytes, blue first");

constexpr BgrxPixel Bgrx(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t unused = 0) {
  return BgrxPixel{blue, green, red, unused};
}

inline constexpr BgrxPixel kToolbarKeyColour = Bgrx(255, 0, 255);

// A pixel as hue (degrees, 0 up to but not including 360), lightness and
// saturation (each 0..1).
struct Hls {
  float hue = 0;
  float lightness = 0;
  float saturation = 0;
};

Hls RgbToHls(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
// The unused byte of the result is 0.
BgrxPixel HlsToRgb(const Hls& hls);

// Changes an image pixel by pixel. The base class copies; subclasses say what
// becomes of one pixel. Since no pixel depends on another, `source` and
// `destination` may be the same buffer.
class ImageProcessor {
 public:
  ImageProcessor() = default;
  virtual ~ImageProcessor() = default;
  ImageProcessor(const ImageProcessor&) = default;
  ImageProcessor& operator=(const ImageProcessor&) = default;

  void setKeyColour(BgrxPixel key) { key_ = key; }
  void clearKeyColour() { key_.reset(); }
  const std::optional<BgrxPixel>& keyColour() const { return key_; }

  // Writes width x height processed pixels to `destination`. False (nothing
  // written) for a negative side, a pixel count that does not fit in memory,
  // or a null buffer when there are pixels to process.
  bool process(const BgrxPixel* source, int width, int height, BgrxPixel* destination) const;

 protected:
  // What one pixel that is not the key colour becomes.
  virtual BgrxPixel processPixel(BgrxPixel pixel) const { return pixel; }

 private:
  std::optional<BgrxPixel> key_;
};

class ImageGrayer : public ImageProcessor {
 protected:
  BgrxPixel processPixel(BgrxPixel pixel) const override;
};

class ImageLightener : public ImageProcessor {
 public:
  // `change` is held to -1..+1; not a number counts as 0.
  explicit ImageLightener(float change = 0);
  float change() const { return change_; }

 protected:
  BgrxPixel processPixel(BgrxPixel pixel) const override;

 private:
  float change_ = 0;
};

// Processors run one after another over the whole image, each on the output
// of the one before. An empty chain copies.
class ImageProcessorChain {
 public:
  void add(std::unique_ptr<ImageProcessor> processor);
  std::size_t size() const { return processors_.size(); }
  // The same refusals as ImageProcessor::process.
  bool process(const BgrxPixel* source, int width, int height, BgrxPixel* destination) const;

 private:
  std::vector<std::unique_ptr<ImageProcessor>> processors_;
};

enum class ToolbarState { kNormal, kHot, kDisabled };

// The chain that makes a state's image from the drawn bitmap; every
// processor in it has the key colour set.
ImageProcessorChain ToolbarStateChain(ToolbarState state);

struct ToolbarBitmap {
  int width = 0;
  int height = 0;
  std::vector<BgrxPixel> pixels;  // width x height, row after row
};

// The pixels of `state`'s image, made from a copy of `bitmap`. Empty when the
// bitmap's sides are negative or do not match its pixel count.
std::vector<BgrxPixel> ToolbarStateImage(const ToolbarBitmap& bitmap, ToolbarState state);

}  // namespace norvo::imaging
