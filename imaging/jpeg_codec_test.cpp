// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/jpeg_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/test_pictures.h"

namespace norvo::imaging {
namespace {

using testing::SizeOf;

// Random grey-and-colour noise: the hardest picture to compress, so that
// sizes differ clearly between qualities. The generator is fixed.
PixelBuffer NoisePicture(int width, int height) {
  PixelBuffer p;
  EXPECT_EQ(p.allocate(width, height), err::kNone);
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const auto base = static_cast<std::uint8_t>(state >> 24);
      p.setPixel(x, y, Argb(255, base, static_cast<std::uint8_t>(base ^ (state >> 8)), static_cast<std::uint8_t>(state >> 16)));
    }
  }
  return p;
}

// The JFIF APP0 segment's unit and densities, or false when the stream does
// not start with one.
bool JfifDensity(const std::vector<std::uint8_t>& jpeg, int* unit, int* x, int* y) {
  static const std::uint8_t kStart[] = {0xFF, 0xD8, 0xFF, 0xE0};
  if (jpeg.size() < 18 || std::memcmp(jpeg.data(), kStart, sizeof kStart) != 0) return false;
  if (std::memcmp(jpeg.data() + 6, "JFIF\0", 5) != 0) return false;
  *unit = jpeg[13];
  *x = (jpeg[14] << 8) | jpeg[15];
  *y = (jpeg[16] << 8) | jpeg[17];
  return true;
}

TEST(EncodeJpegWithOptions, WritesTheJfifDensityAsked) {
  const PixelBuffer picture = testing::PatternPicture(64, 48);
  struct Case {
    int dpi;
    int want;
  };
  const Case cases[] = {{72, 72}, {300, 300}, {0, 72}, {70000, 72}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    JpegWriteOptions options;
    options.dots_per_inch = c.dpi;
    std::vector<std::uint8_t> jpeg;
    ASSERT_EQ(EncodeJpeg(picture, options, &jpeg), err::kNone);
    int unit = 0, x = 0, y = 0;
    ASSERT_TRUE(JfifDensity(jpeg, &unit, &x, &y));
    EXPECT_EQ(unit, 1);  // dots per inch
    EXPECT_EQ(x, c.want);
    EXPECT_EQ(y, c.want);
    // The decoder reads it back, with the picture's size and three components.
    DecodedImage decoded;
    ASSERT_EQ(DecodeJpeg(jpeg, 0, &decoded), err::kNone);
    EXPECT_EQ(decoded.facts.resolution, c.want);
    EXPECT_EQ(decoded.facts.depth, 24);
    EXPECT_EQ(SizeOf(decoded.picture), std::pair(64, 48));
    EXPECT_LT(testing::MeanDifference(decoded.picture, picture), 8.0);
  }
  std::vector<std::uint8_t> jpeg{1, 2, 3};
  EXPECT_EQ(EncodeJpeg(PixelBuffer(), JpegWriteOptions{}, &jpeg), err::kParam);
  EXPECT_TRUE(jpeg.empty());
}

TEST(EncodeJpegWithOptions, HigherCodesWriteLargerStreams) {
  const PixelBuffer picture = NoisePicture(160, 120);
  std::size_t previous = 0;
  int previous_quality = 0;
  for (int code = 1; code <= 5; ++code) {
    std::vector<std::uint8_t> jpeg;
    int used = 0;
    ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{code, 0, 72}, &jpeg, &used), err::kNone);
    EXPECT_GT(used, previous_quality) << code;
    EXPECT_GT(jpeg.size(), previous) << code;
    previous = jpeg.size();
    previous_quality = used;
  }
  // Code 6 and unknown codes write what medium writes.
  std::vector<std::uint8_t> medium, other;
  ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{3, 0, 72}, &medium), err::kNone);
  for (int code : {6, 0, -1, 42}) {
    ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{code, 0, 72}, &other), err::kNone);
    EXPECT_EQ(other, medium) << code;
  }
}

TEST(EncodeJpegWithOptions, TargetSizeIsMetByTheBestQualityThatFits) {
  const PixelBuffer picture = NoisePicture(320, 240);
  std::vector<std::uint8_t> medium;
  ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{kJpegQualityMedium, 0, 72}, &medium), err::kNone);
  std::vector<std::uint8_t> least;
  ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{kJpegQualityLeast, 0, 72}, &least), err::kNone);
  ASSERT_LT(least.size(), medium.size() / 3);  // room for a search

  const int target = static_cast<int>((least.size() + medium.size()) / 2);
  std::vector<std::uint8_t> jpeg;
  int used = 0;
  ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{kJpegQualityTargetSize, target, 72}, &jpeg, &used), err::kNone);
  EXPECT_LE(jpeg.size(), static_cast<std::size_t>(target));
  EXPECT_GT(used, 1);
  EXPECT_LT(used, JpegQualityForCode(kJpegQualityMedium));
  // Either the stream fills most of the target or one step more quality
  // would not have fitted.
  std::vector<std::uint8_t> better;
  ASSERT_EQ(EncodeJpeg(picture, used + 1, &better), err::kNone);
  EXPECT_TRUE(jpeg.size() * 10 >= static_cast<std::size_t>(target) * 9 ||
              better.size() > static_cast<std::size_t>(target))
      << jpeg.size() << " of " << target;
  DecodedImage decoded;
  ASSERT_EQ(DecodeJpeg(jpeg, 0, &decoded), err::kNone);
  EXPECT_EQ(decoded.picture.width(), 320);
  int unit = 0, x = 0, y = 0;
  ASSERT_TRUE(JfifDensity(jpeg, &unit, &x, &y));
  EXPECT_EQ(x, 72);

  // A target medium already meets gives medium: the search never goes up.
  ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{kJpegQualityTargetSize, static_cast<int>(medium.size()) * 4, 72},
                       &jpeg, &used),
            err::kNone);
  EXPECT_EQ(used, JpegQualityForCode(kJpegQualityMedium));
  EXPECT_EQ(jpeg, medium);

  // A target nothing meets gives the smallest stream there is.
  std::vector<std::uint8_t> lowest;
  ASSERT_EQ(EncodeJpeg(picture, 1, &lowest), err::kNone);
  ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{kJpegQualityTargetSize, 100, 72}, &jpeg, &used), err::kNone);
  EXPECT_EQ(used, 1);
  EXPECT_EQ(jpeg, lowest);

  // Without a target, code 7 is medium.
  ASSERT_EQ(EncodeJpeg(picture, JpegWriteOptions{kJpegQualityTargetSize, 0, 72}, &jpeg), err::kNone);
  EXPECT_EQ(jpeg, medium);
}

}  // namespace
}  // namespace norvo::imaging
