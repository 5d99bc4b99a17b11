// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/transform.h"

#include <gtest/gtest.h>

#include <vector>

#include "imaging/test_pictures.h"

namespace norvo::imaging {
namespace {

TEST(FitRectInBox, ReducesByTheSmallerRatioNeverEnlargesAndCentres) {
  struct Case {
    int w, h, box;
    int want_w, want_h, want_percent;
  };
  const Case cases[] = {
      {100, 50, 128, 100, 50, 100},    // fits already
      {4096, 3072, 128, 128, 96, 3},   // 3.125 % cut to 3
      {3072, 4096, 128, 96, 128, 3},
      {50, 400, 128, 16, 128, 32},     // height decides
      {256, 256, 128, 128, 128, 50},
      {10000, 10, 128, 128, 1, 1},     // 0.128 pixels high becomes 1
      {300, 200, 200, 200, 133, 66},   // 133.33 cut
  };
  for (const Case& c : cases) {
    Rect r{0, 0, c.w, c.h};
    const int percent = FitRectInBox(&r, Rect{0, 0, c.box, c.box}, 1);
    EXPECT_EQ(r.width(), c.want_w) << c.w << "x" << c.h;
    EXPECT_EQ(r.height(), c.want_h) << c.w << "x" << c.h;
    EXPECT_EQ(percent, c.want_percent) << c.w << "x" << c.h;
    EXPECT_EQ(r.left, (c.box - c.want_w) / 2);
    EXPECT_EQ(r.top, (c.box - c.want_h) / 2);
  }
  Rect r{5, 5, 105, 55};
  FitRectInBox(&r, Rect{10, 20, 138, 148}, 1);
  EXPECT_EQ(r, (Rect{24, 59, 124, 109}));
  Rect empty{0, 0, 0, 10};
  EXPECT_EQ(FitRectInBox(&empty, Rect{0, 0, 128, 128}, 1), 100);
  EXPECT_EQ(empty, (Rect{0, 0, 0, 10}));
}

PixelBuffer Row(const std::vector<std::uint8_t>& reds) {
  PixelBuffer p;
  EXPECT_EQ(p.allocate(static_cast<int>(reds.size()), 1), err::kNone);
  for (std::size_t i = 0; i < reds.size(); ++i) p.setPixel(static_cast<int>(i), 0, Argb(255, reds[i], 0, 0));
  return p;
}

TEST(Downscale, AveragesTheAreaEachOutputPixelCovers) {
  // Three columns into two: each output covers one and a half inputs.
  PixelBuffer out;
  ASSERT_EQ(Downscale(Row({0, 90, 180}), 2, 1, &out), err::kNone);
  EXPECT_EQ(out.pixel(0, 0), Argb(255, 30, 0, 0));
  EXPECT_EQ(out.pixel(1, 0), Argb(255, 150, 0, 0));

  // 2 x 2 blocks into single pixels, in both directions.
  PixelBuffer square;
  ASSERT_EQ(square.allocate(4, 2), err::kNone);
  const std::uint8_t v[2][4] = {{0, 40, 200, 200}, {80, 120, 100, 100}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) square.setPixel(x, y, Argb(255, v[y][x], 255 - v[y][x], 7));
  }
  ASSERT_EQ(Downscale(square, 2, 1, &out), err::kNone);
  EXPECT_EQ(out.pixel(0, 0), Argb(255, 60, 195, 7));
  EXPECT_EQ(out.pixel(1, 0), Argb(255, 150, 105, 7));

  // A uniform picture stays uniform at an awkward ratio.
  PixelBuffer flat;
  ASSERT_EQ(flat.allocate(997, 631), err::kNone);
  flat.fill(Argb(255, 12, 200, 99));
  ASSERT_EQ(Downscale(flat, 130, 77, &out), err::kNone);
  for (int y = 0; y < out.height(); ++y) {
    for (int x = 0; x < out.width(); ++x) ASSERT_EQ(out.pixel(x, y), Argb(255, 12, 200, 99)) << x << "," << y;
  }

  EXPECT_EQ(Downscale(flat, 998, 10, &out), err::kParam);  // no enlarging
  EXPECT_EQ(Downscale(flat, 0, 10, &out), err::kParam);
}

TEST(Sharpen, RaisesContrastAtEdgesOnlyAndKeepsAlpha) {
  PixelBuffer p;
  ASSERT_EQ(p.allocate(6, 3), err::kNone);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 6; ++x) p.setPixel(x, y, x < 3 ? Argb(77, 100, 100, 100) : Argb(77, 200, 200, 200));
  }
  Sharpen(&p);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(p.pixel(0, y), Argb(77, 100, 100, 100));  // far from the edge: unchanged
    EXPECT_EQ(p.pixel(5, y), Argb(77, 200, 200, 200));
    EXPECT_LT((p.pixel(2, y) >> 16) & 0xFF, 100u);      // dark side darker
    EXPECT_GT((p.pixel(3, y) >> 16) & 0xFF, 200u);      // light side lighter
    EXPECT_EQ(p.pixel(2, y) >> 24, 77u);
  }
}

TEST(FlattenOnWhite, LaysPixelsOverWhite) {
  PixelBuffer p;
  ASSERT_EQ(p.allocate(3, 1), err::kNone);
  p.setPixel(0, 0, Argb(0, 0, 0, 0));
  p.setPixel(1, 0, Argb(255, 10, 20, 30));
  p.setPixel(2, 0, Argb(128, 0, 0, 0));
  p.setHasAlpha(true);
  FlattenOnWhite(&p);
  EXPECT_EQ(p.pixel(0, 0), Argb(255, 255, 255, 255));
  EXPECT_EQ(p.pixel(1, 0), Argb(255, 10, 20, 30));
  EXPECT_EQ(p.pixel(2, 0), Argb(255, 127, 127, 127));
  EXPECT_FALSE(p.hasAlpha());
}

// The picture 1 2 3 / 4 5 6 (two rows) after each code, as it is seen.
TEST(Rotate, EachCodeTurnsOrMirrorsAsNamed) {
  struct Case {
    std::uint16_t code;
    int w, h;
    std::vector<int> want;  // rows top to bottom
  };
  const Case cases[] = {
      {kFlipHorizontal, 3, 2, {3, 2, 1, 6, 5, 4}},
      {kRotate180, 3, 2, {6, 5, 4, 3, 2, 1}},
      {kFlipVertical, 3, 2, {4, 5, 6, 1, 2, 3}},
      {kTranspose, 2, 3, {1, 4, 2, 5, 3, 6}},
      {kRotateClockwise, 2, 3, {4, 1, 5, 2, 6, 3}},
      {kTransverse, 2, 3, {6, 3, 5, 2, 4, 1}},
      {kRotateCounterClockwise, 2, 3, {3, 6, 2, 5, 1, 4}},
  };
  for (const Case& c : cases) {
    PixelBuffer p;
    ASSERT_EQ(p.allocate(3, 2), err::kNone);
    for (int i = 0; i < 6; ++i) p.setPixel(i % 3, i / 3, Argb(255, 0, 0, static_cast<std::uint8_t>(i + 1)));
    ASSERT_EQ(Rotate(&p, c.code), err::kNone);
    ASSERT_EQ(p.width(), c.w);
    ASSERT_EQ(p.height(), c.h);
    std::vector<int> got;
    for (int y = 0; y < p.height(); ++y) {
      for (int x = 0; x < p.width(); ++x) got.push_back(static_cast<int>(p.pixel(x, y) & 0xFF));
    }
    EXPECT_EQ(got, c.want) << std::hex << c.code;
  }
  PixelBuffer p = testing::PatternPicture(4, 4);
  EXPECT_EQ(Rotate(&p, RotationCode('X', 'Y')), err::kParam);
  EXPECT_EQ(p.width(), 4);
}

// Composing two codes must give the same pixels as turning twice, for every
// pair; the inverse must give the picture back. Orientations outside the
// tag's 2..8 turn nothing.
TEST(Rotate, ComposedAndInverseCodesMatchTurningThePixels) {
  for (int orientation : {-1, 0, 1, 9}) EXPECT_EQ(RotationForOrientation(orientation), kRotateNone) << orientation;
  const std::uint16_t codes[] = {kRotateNone,  kFlipHorizontal, kRotate180, kFlipVertical,
                                 kTranspose,   kRotateClockwise, kTransverse, kRotateCounterClockwise};
  const PixelBuffer original = testing::PatternPicture(5, 3);
  for (std::uint16_t first : codes) {
    for (std::uint16_t then : codes) {
      PixelBuffer twice, once;
      ASSERT_EQ(original.copyTo(&twice), err::kNone);
      ASSERT_EQ(original.copyTo(&once), err::kNone);
      ASSERT_EQ(Rotate(&twice, first), err::kNone);
      ASSERT_EQ(Rotate(&twice, then), err::kNone);
      ASSERT_EQ(Rotate(&once, ComposeRotation(first, then)), err::kNone);
      ASSERT_EQ(once.width(), twice.width());
      EXPECT_EQ(testing::MeanDifference(once, twice), 0.0) << std::hex << first << " then " << then;
    }
    PixelBuffer back;
    ASSERT_EQ(original.copyTo(&back), err::kNone);
    ASSERT_EQ(Rotate(&back, first), err::kNone);
    ASSERT_EQ(Rotate(&back, InverseRotation(first)), err::kNone);
    EXPECT_EQ(testing::MeanDifference(back, original), 0.0) << std::hex << first;
  }
}

}  // namespace
}  // namespace norvo::imaging
