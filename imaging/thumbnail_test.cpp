// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/thumbnail.h"

#include <gtest/gtest.h>

#include "imaging/test_pictures.h"
#include "imaging/transform.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

using testing::MeanDifference;
using testing::SizeOf;
using testing::PatternPicture;

TEST(MakeThumbnailImage, SizeScaleAndSharpeningFollowTheReduction) {
  const struct {
    const char* name;
    int source_width, source_height;
    int media_width, media_height;  // 0: the source is the whole picture
    int box;
    std::uint16_t rotation;
    int width, height;
    int percent;    // -1: not checked
    int sharpened;  // -1: not checked
  } cases[] = {
      {"fits already: kept", 100, 50, 0, 0, 128, kRotateNone, 100, 50, 100, 0},
      {"strong reduction", 4096, 3072, 0, 0, 128, kRotateNone, 128, 96, 3, 1},
      {"exactly half is not below 50 percent", 256, 100, 0, 0, 128, kRotateNone, 128, 50, 50, 0},
      // A 4000 x 3001 photo decoded at 1/8 (sides rounded up) gets the
      // media's fitted size and the media's reduction.
      {"reduced decode", 500, 376, 4000, 3001, 128, kRotateNone, 128, 96, 3, 1},
      {"embedded preview of other proportions", 160, 120, 6000, 4000, 128, kRotateNone, 128, 96, -1, -1},
      {"odd width above 2000 loses a pixel", 2001, 20, 0, 0, 4096, kRotateNone, 2000, 20, -1, -1},
      {"odd width below 2000 kept", 1999, 20, 0, 0, 4096, kRotateNone, 1999, 20, -1, -1},
      {"a quarter turn", 200, 100, 0, 0, 128, kRotateClockwise, 64, 128, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PixelBuffer source = PatternPicture(c.source_width, c.source_height);
    ThumbnailImage thumb;
    ASSERT_EQ(MakeThumbnailImage(c.box, source, c.media_width, c.media_height, c.rotation, &thumb), err::kNone);
    EXPECT_EQ(SizeOf(thumb.picture), std::pair(c.width, c.height));
    if (c.percent >= 0) {
      EXPECT_EQ(thumb.scale_percent, c.percent);
    }
    if (c.sharpened >= 0) {
      EXPECT_EQ(thumb.sharpened, c.sharpened == 1);
    }
    if (c.percent == 100) {
      EXPECT_EQ(MeanDifference(thumb.picture, source), 0.0);
    }
  }

  // Sharpened once after scaling: it shows at the square's edges, and not on
  // the smooth ramps inside.
  const PixelBuffer source = PatternPicture(4096, 3072);
  ThumbnailImage thumb;
  ASSERT_EQ(MakeThumbnailImage(128, source, 0, 0, kRotateNone, &thumb), err::kNone);
  PixelBuffer plain;
  ASSERT_EQ(Downscale(source, 128, 96, &plain), err::kNone);
  EXPECT_GT(MeanDifference(thumb.picture, plain), 0.0);
  EXPECT_EQ(thumb.picture.pixel(64, 48), plain.pixel(64, 48));
}

TEST(MakeThumbnailImage, TransparencyLiesOnWhiteAndSummaryIsTheMeanColour) {
  PixelBuffer source;
  ASSERT_EQ(source.allocate(40, 40), err::kNone);
  source.fill(Argb(0, 0, 0, 0));
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 20; ++x) source.setPixel(x, y, Argb(255, 0, 0, 200));
  }
  source.setHasAlpha(true);
  ThumbnailImage thumb;
  ColourSummary summary;
  ASSERT_EQ(MakeThumbnailImage(40, source, 0, 0, kRotateNone, &thumb, &summary), err::kNone);
  EXPECT_EQ(thumb.picture.pixel(30, 5), Argb(255, 255, 255, 255));
  EXPECT_EQ(thumb.picture.pixel(5, 5), Argb(255, 0, 0, 200));
  EXPECT_EQ(summary.red, 128);   // half white, half blue
  EXPECT_EQ(summary.green, 128);
  EXPECT_EQ(summary.blue, 228);
  EXPECT_EQ(MakeThumbnailImage(40, PixelBuffer(), 0, 0, kRotateNone, &thumb), err::kParam);
}

TEST(StoredThumbnail, JpegAndUncompressedFormsRoundTrip) {
  const PixelBuffer source = PatternPicture(4096, 3072);
  StoredThumbnail stored;
  ASSERT_EQ(MakeThumbnailPicture(128, source, 0, 0, kRotateNone, &stored), err::kNone);
  ASSERT_TRUE(stored.compressed);
  EXPECT_EQ(stored.bytes[0], 0xFF);
  EXPECT_EQ(stored.bytes[1], 0xD8);
  ThumbnailImage expected;
  ASSERT_EQ(MakeThumbnailImage(128, source, 0, 0, kRotateNone, &expected), err::kNone);
  PixelBuffer back;
  ASSERT_EQ(DecodeStoredThumbnail(stored.bytes, &back), err::kNone);
  EXPECT_EQ(SizeOf(back), std::pair(128, 96));
  EXPECT_LT(MeanDifference(back, expected.picture), 4.0);

  StoredThumbnail plain;
  ASSERT_EQ(StoreThumbnail(expected.picture, ThumbnailCoding::kUncompressed, &plain), err::kNone);
  EXPECT_FALSE(plain.compressed);
  ASSERT_EQ(plain.bytes.size(), 12u + 128 * 96 * 4);
  ByteReader r(plain.bytes);
  EXPECT_EQ(r.u32be(), kUncompressedThumbnailMagic);
  EXPECT_EQ(r.u32be(), 128u);
  EXPECT_EQ(r.u32be(), 96u);
  ASSERT_EQ(DecodeStoredThumbnail(plain.bytes, &back), err::kNone);
  EXPECT_EQ(MeanDifference(back, expected.picture), 0.0);
}

TEST(StoredThumbnail, KeptUncompressedWhenJpegCannotHoldIt) {
  // JPEG sides stop at 65500 pixels.
  PixelBuffer wide;
  ASSERT_EQ(wide.allocate(65536, 1), err::kNone);
  wide.fill(Argb(255, 1, 2, 3));
  StoredThumbnail stored;
  ASSERT_EQ(MakeThumbnailPicture(70000, wide, 0, 0, kRotateNone, &stored), err::kNone);
  EXPECT_FALSE(stored.compressed);
  PixelBuffer back;
  ASSERT_EQ(DecodeStoredThumbnail(stored.bytes, &back), err::kNone);
  EXPECT_EQ(back.width(), 65536);
  EXPECT_EQ(back.pixel(65535, 0), Argb(255, 1, 2, 3));
}

TEST(StoredThumbnail, DamagedFormsAreRefused) {
  StoredThumbnail plain;
  ASSERT_EQ(StoreThumbnail(PatternPicture(10, 10), ThumbnailCoding::kUncompressed, &plain), err::kNone);
  PixelBuffer back;
  std::vector<std::uint8_t> cut(plain.bytes.begin(), plain.bytes.end() - 1);
  EXPECT_EQ(DecodeStoredThumbnail(cut, &back), -8969);
  std::vector<std::uint8_t> zero_wide = plain.bytes;
  zero_wide[4] = zero_wide[5] = zero_wide[6] = zero_wide[7] = 0;
  EXPECT_EQ(DecodeStoredThumbnail(zero_wide, &back), -8969);
  EXPECT_EQ(DecodeStoredThumbnail(std::vector<std::uint8_t>{1, 2, 3}, &back), -8969);
  EXPECT_TRUE(back.empty());

  StoredThumbnail jpeg;
  ASSERT_EQ(StoreThumbnail(PatternPicture(64, 64), ThumbnailCoding::kJpeg, &jpeg), err::kNone);
  ASSERT_TRUE(jpeg.compressed);
  std::vector<std::uint8_t> header_only(jpeg.bytes.begin(), jpeg.bytes.begin() + 20);
  EXPECT_NE(DecodeStoredThumbnail(header_only, &back), err::kNone);
}

}  // namespace
}  // namespace norvo::imaging
