// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/toolbar_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <vector>

namespace norvo::imaging {
namespace {

// Runs `processor` over a single pixel.
BgrxPixel ProcessOne(const ImageProcessor& processor, BgrxPixel pixel) {
  BgrxPixel out = Bgrx(1, 2, 3, 4);
  EXPECT_TRUE(processor.process(&pixel, 1, 1, &out));
  return out;
}

BgrxPixel Lighten(float change, BgrxPixel pixel) { return ProcessOne(ImageLightener(change), pixel); }

TEST(ToolbarPixel, BytesAreBlueGreenRedUnused) {
  const BgrxPixel pixel = Bgrx(0x11, 0x22, 0x33, 0x44);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&pixel);
  EXPECT_EQ(bytes[0], 0x33);
  EXPECT_EQ(bytes[1], 0x22);
  EXPECT_EQ(bytes[2], 0x11);
  EXPECT_EQ(bytes[3], 0x44);
}

TEST(RgbToHls, HueLightnessAndSaturation) {
  struct Case {
    int r, g, b;
    float hue, lightness, saturation;
  };
  const Case cases[] = {
      {255, 0, 0, 0, 0.5f, 1},            // red: 360 wraps to 0
      {0, 255, 0, 120, 0.5f, 1},
      {0, 0, 255, 240, 0.5f, 1},
      {255, 255, 0, 60, 0.5f, 1},         // red and green share the highest
      {0, 255, 255, 180, 0.5f, 1},
      {255, 0, 255, 300, 0.5f, 1},
      {200, 100, 50, 20, 250.0f / 510, 0.6f},           // darker than half: spread / sum
      {50, 150, 250, 210, 300.0f / 510, 200.0f / 210},  // lighter: spread / (510 - sum)
      {250, 50, 150, 330, 300.0f / 510, 200.0f / 210},
      {0, 0, 0, 0, 0, 0},
      {255, 255, 255, 0, 1, 0},
      {77, 77, 77, 0, 154.0f / 510, 0},
  };
  for (const Case& c : cases) {
    const Hls hls = RgbToHls(std::uint8_t(c.r), std::uint8_t(c.g), std::uint8_t(c.b));
    EXPECT_NEAR(hls.hue, c.hue, 1e-3) << c.r << "," << c.g << "," << c.b;
    EXPECT_FLOAT_EQ(hls.lightness, c.lightness) << c.r << "," << c.g << "," << c.b;
    EXPECT_FLOAT_EQ(hls.saturation, c.saturation) << c.r << "," << c.g << "," << c.b;
  }
}

TEST(HlsToRgb, GreysPrimariesAndOutOfRangeInput) {
  EXPECT_EQ(HlsToRgb({0, 0, 0}), Bgrx(0, 0, 0));
  EXPECT_EQ(HlsToRgb({0, 1, 0}), Bgrx(255, 255, 255));
  EXPECT_EQ(HlsToRgb({123, 0.5f, 0}), Bgrx(127, 127, 127));  // 127.5 is cut
  EXPECT_EQ(HlsToRgb({0, 0.5f, 1}), Bgrx(255, 0, 0));
  EXPECT_EQ(HlsToRgb({120, 0.5f, 1}), Bgrx(0, 255, 0));
  EXPECT_EQ(HlsToRgb({240, 0.5f, 1}), Bgrx(0, 0, 255));
  // A hue a turn or more away names the same colour; lightness and
  // saturation are held to 0..1 instead of overflowing a byte.
  EXPECT_EQ(HlsToRgb({720 + 120, 0.5f, 1}), Bgrx(0, 255, 0));
  EXPECT_EQ(HlsToRgb({-240, 0.5f, 1}), Bgrx(0, 255, 0));
  EXPECT_EQ(HlsToRgb({0, 1.5f, 0.5f}), Bgrx(255, 255, 255));
  EXPECT_EQ(HlsToRgb({0, -0.5f, 0.5f}), Bgrx(0, 0, 0));
  EXPECT_EQ(HlsToRgb({0, 0.5f, 3}), Bgrx(255, 0, 0));
}

TEST(ImageGrayer, WeighsRedGreenBlueThreeSixOne) {
  const ImageGrayer grayer;
  EXPECT_EQ(ProcessOne(grayer, Bgrx(255, 0, 0)), Bgrx(76, 76, 76));
  EXPECT_EQ(ProcessOne(grayer, Bgrx(0, 255, 0)), Bgrx(153, 153, 153));
  EXPECT_EQ(ProcessOne(grayer, Bgrx(0, 0, 255)), Bgrx(25, 25, 25));
  EXPECT_EQ(ProcessOne(grayer, Bgrx(255, 255, 255)), Bgrx(255, 255, 255));
  // (600 + 600 + 50) / 10; the unused byte comes out 0.
  EXPECT_EQ(ProcessOne(grayer, Bgrx(200, 100, 50, 0x7F)), Bgrx(125, 125, 125, 0));
  // (3 + 12 + 9) / 10 = 2.4, cut.
  EXPECT_EQ(ProcessOne(grayer, Bgrx(1, 2, 9)), Bgrx(2, 2, 2));
}

TEST(ImageLightener, MovesLightnessAndKeepsHueAndSaturation) {
  // Worked by hand through HLS; fractions are cut, not rounded.
  EXPECT_EQ(Lighten(0.04f, Bgrx(200, 100, 50)), Bgrx(207, 111, 63));
  EXPECT_EQ(Lighten(-0.2f, Bgrx(200, 100, 50)), Bgrx(118, 59, 29));
  // Crosses from the lighter half to the darker one.
  EXPECT_EQ(Lighten(-0.1f, Bgrx(50, 150, 250)), Bgrx(5, 124, 243));
  // Hue 330: red's hue 450 comes back to 90.
  EXPECT_EQ(Lighten(-0.1f, Bgrx(250, 50, 150)), Bgrx(243, 5, 124));
  // Greys stay grey: 100 + 0.04 * 255 = 110.2.
  EXPECT_EQ(Lighten(0.04f, Bgrx(100, 100, 100)), Bgrx(110, 110, 110));
  EXPECT_EQ(Lighten(0.5f, Bgrx(200, 100, 50, 0x7F)).unused, 0);
}

TEST(ImageLightener, LightnessStaysWithinZeroAndOne) {
  EXPECT_EQ(Lighten(1.0f, Bgrx(255, 255, 255)), Bgrx(255, 255, 255));
  EXPECT_EQ(Lighten(-1.0f, Bgrx(0, 0, 0)), Bgrx(0, 0, 0));
  EXPECT_EQ(Lighten(0.5f, Bgrx(250, 250, 250)), Bgrx(255, 255, 255));
  EXPECT_EQ(Lighten(-0.5f, Bgrx(10, 10, 10)), Bgrx(0, 0, 0));
  // A coloured pixel pushed past 1 becomes white: m1 = m2 = 1.
  EXPECT_EQ(Lighten(1.0f, Bgrx(200, 100, 50)), Bgrx(255, 255, 255));
  EXPECT_EQ(Lighten(-1.0f, Bgrx(200, 100, 50)), Bgrx(0, 0, 0));
  // A change beyond one step is one step; not a number is none.
  EXPECT_FLOAT_EQ(ImageLightener(3.0f).change(), 1.0f);
  EXPECT_FLOAT_EQ(ImageLightener(-3.0f).change(), -1.0f);
  EXPECT_FLOAT_EQ(ImageLightener(NAN).change(), 0.0f);
}

TEST(ImageLightener, NoChangeLeavesPixelsExactlyAsTheyAre) {
  const std::vector<BgrxPixel> pixels = {Bgrx(200, 100, 50, 9), Bgrx(1, 2, 3, 4), Bgrx(254, 17, 99, 0xFF),
                                         Bgrx(128, 128, 127)};
  std::vector<BgrxPixel> out(pixels.size());
  ASSERT_TRUE(ImageLightener(0.0f).process(pixels.data(), 2, 2, out.data()));
  EXPECT_EQ(out, pixels);
  ASSERT_TRUE(ImageLightener(NAN).process(pixels.data(), 2, 2, out.data()));
  EXPECT_EQ(out, pixels);
}

TEST(KeyColour, KeyPixelsPassEveryProcessorUnchanged) {
  ImageGrayer grayer;
  ImageLightener lighter(0.3f);
  ImageLightener darker(-0.3f);
  // Without a key colour magenta is a colour like any other.
  EXPECT_EQ(ProcessOne(grayer, kToolbarKeyColour), Bgrx(102, 102, 102));
  EXPECT_NE(ProcessOne(darker, kToolbarKeyColour), kToolbarKeyColour);

  for (ImageProcessor* processor : std::initializer_list<ImageProcessor*>{&grayer, &lighter, &darker}) {
    processor->setKeyColour(kToolbarKeyColour);
    EXPECT_EQ(ProcessOne(*processor, kToolbarKeyColour), kToolbarKeyColour);
    // The unused byte plays no part in matching and is kept.
    EXPECT_EQ(ProcessOne(*processor, Bgrx(255, 0, 255, 0x5A)), Bgrx(255, 0, 255, 0x5A));
    // Near misses are processed.
    EXPECT_NE(ProcessOne(*processor, Bgrx(254, 0, 255)), Bgrx(254, 0, 255));
    EXPECT_NE(ProcessOne(*processor, Bgrx(255, 1, 255)), Bgrx(255, 1, 255));
  }
  EXPECT_EQ(ProcessOne(grayer, Bgrx(255, 0, 0)), Bgrx(76, 76, 76));

  grayer.clearKeyColour();
  EXPECT_FALSE(grayer.keyColour().has_value());
  EXPECT_EQ(ProcessOne(grayer, kToolbarKeyColour), Bgrx(102, 102, 102));
}

TEST(ImageProcessor, BaseCopiesAndBadImagesAreRefused) {
  const std::vector<BgrxPixel> pixels = {Bgrx(1, 2, 3, 4), Bgrx(5, 6, 7, 8), Bgrx(9, 10, 11, 12)};
  std::vector<BgrxPixel> out(3);
  const ImageProcessor copier;
  ASSERT_TRUE(copier.process(pixels.data(), 3, 1, out.data()));
  EXPECT_EQ(out, pixels);

  const ImageGrayer grayer;
  std::vector<BgrxPixel> untouched(3, Bgrx(7, 7, 7));
  EXPECT_FALSE(grayer.process(pixels.data(), -1, 3, untouched.data()));
  EXPECT_FALSE(grayer.process(pixels.data(), 3, -1, untouched.data()));
  EXPECT_FALSE(grayer.process(nullptr, 3, 1, untouched.data()));
  EXPECT_FALSE(grayer.process(pixels.data(), 3, 1, nullptr));
  EXPECT_EQ(untouched, std::vector<BgrxPixel>(3, Bgrx(7, 7, 7)));
  // No pixels: nothing to read or write.
  EXPECT_TRUE(grayer.process(nullptr, 0, 5, nullptr));
  EXPECT_TRUE(grayer.process(nullptr, 5, 0, nullptr));

  // In place, over several rows.
  std::vector<BgrxPixel> image = {Bgrx(255, 0, 0), Bgrx(0, 255, 0), Bgrx(0, 0, 255), Bgrx(200, 100, 50)};
  ASSERT_TRUE(grayer.process(image.data(), 2, 2, image.data()));
  EXPECT_EQ(image, (std::vector<BgrxPixel>{Bgrx(76, 76, 76), Bgrx(153, 153, 153), Bgrx(25, 25, 25),
                                           Bgrx(125, 125, 125)}));
}

TEST(ImageProcessorChain, EachProcessorWorksOnThePreviousOutput) {
  const BgrxPixel colour = Bgrx(200, 100, 50);
  BgrxPixel out;

  ImageProcessorChain empty;
  ASSERT_TRUE(empty.process(&colour, 1, 1, &out));
  EXPECT_EQ(out, colour);

  // Grey first: 125 + 0.3 * 255 = 201.5, cut to 201.
  ImageProcessorChain grey_then_light;
  grey_then_light.add(std::make_unique<ImageGrayer>());
  grey_then_light.add(std::make_unique<ImageLightener>(0.3f));
  ASSERT_TRUE(grey_then_light.process(&colour, 1, 1, &out));
  EXPECT_EQ(out, Bgrx(201, 201, 201));

  // Lighten first: (233, 190, 169), which greys to 2008 / 10.
  ImageProcessorChain light_then_grey;
  light_then_grey.add(std::make_unique<ImageLightener>(0.3f));
  light_then_grey.add(std::make_unique<ImageGrayer>());
  light_then_grey.add(nullptr);  // ignored
  EXPECT_EQ(light_then_grey.size(), 2u);
  ASSERT_TRUE(light_then_grey.process(&colour, 1, 1, &out));
  EXPECT_EQ(out, Bgrx(200, 200, 200));

  // Repeated steps each start from whole bytes: 0 -> 20 -> 40.
  ImageProcessorChain twice;
  twice.add(std::make_unique<ImageLightener>(0.08f));
  twice.add(std::make_unique<ImageLightener>(0.08f));
  const BgrxPixel black = Bgrx(0, 0, 0);
  ASSERT_TRUE(twice.process(&black, 1, 1, &out));
  EXPECT_EQ(out, Bgrx(40, 40, 40));

  EXPECT_FALSE(twice.process(&black, -1, 1, &out));
  EXPECT_FALSE(twice.process(nullptr, 1, 1, &out));
}

TEST(ToolbarStateImage, EachStateFromTheDrawnBitmap) {
  // Three pixels a row, two rows.
  const ToolbarBitmap bitmap{3, 2,
                             {Bgrx(0, 0, 0), Bgrx(50, 150, 250), kToolbarKeyColour,  //
                              Bgrx(255, 255, 255), Bgrx(200, 100, 50, 0x33), Bgrx(255, 0, 255, 0x66)}};

  EXPECT_EQ(ToolbarStateImage(bitmap, ToolbarState::kHot), bitmap.pixels);

  // One 0.04 step: black gains 10.2, cut to 10.
  EXPECT_EQ(ToolbarStateImage(bitmap, ToolbarState::kNormal),
            (std::vector<BgrxPixel>{Bgrx(10, 10, 10), Bgrx(69, 160, 250), kToolbarKeyColour,
                                    Bgrx(255, 255, 255), Bgrx(207, 111, 63), Bgrx(255, 0, 255, 0x66)}));

  // Grey, then three 0.08 steps of 20.4 each, cut every time.
  EXPECT_EQ(ToolbarStateImage(bitmap, ToolbarState::kDisabled),
            (std::vector<BgrxPixel>{Bgrx(60, 60, 60), Bgrx(190, 190, 190), kToolbarKeyColour,
                                    Bgrx(255, 255, 255), Bgrx(185, 185, 185), Bgrx(255, 0, 255, 0x66)}));
}

TEST(ToolbarStateImage, BadBitmapsGiveNothingAndTheBitmapIsKept) {
  EXPECT_TRUE(ToolbarStateImage(ToolbarBitmap{2, 2, {Bgrx(0, 0, 0)}}, ToolbarState::kHot).empty());
  EXPECT_TRUE(ToolbarStateImage(ToolbarBitmap{-1, -1, {Bgrx(0, 0, 0)}}, ToolbarState::kDisabled).empty());
  // A bitmap without pixels gives an image without pixels.
  EXPECT_TRUE(ToolbarStateImage(ToolbarBitmap{0, 4, {}}, ToolbarState::kNormal).empty());
  // Red greys to 76, then 96, 116, 136; the bitmap itself is not changed.
  const ToolbarBitmap one{1, 1, {Bgrx(255, 0, 0)}};
  EXPECT_EQ(ToolbarStateImage(one, ToolbarState::kDisabled), (std::vector<BgrxPixel>{Bgrx(136, 136, 136)}));
  EXPECT_EQ(one.pixels[0], Bgrx(255, 0, 0));
}

}  // namespace
}  // namespace norvo::imaging
