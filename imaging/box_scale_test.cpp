// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/box_scale.h"

#include <gtest/gtest.h>

#include <vector>

#include "imaging/test_pictures.h"
#include "imaging/transform.h"

namespace norvo::imaging {
namespace {

using testing::SizeOf;

constexpr std::uint32_t kWhite = Argb(255, 255, 255, 255);
constexpr std::uint32_t kRed = Argb(255, 255, 0, 0);

PixelBuffer Filled(int w, int h, std::uint32_t argb) {
  PixelBuffer p;
  EXPECT_EQ(p.allocate(w, h), err::kNone);
  p.fill(argb);
  return p;
}

std::uint8_t RedOf(std::uint32_t argb) { return static_cast<std::uint8_t>(argb >> 16); }

bool SamePixels(const PixelBuffer& a, const PixelBuffer& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) return false;
    }
  }
  return true;
}

TEST(BoxScale, SizesAndScaleOfEachModeForEveryShape) {
  // Codes other than natural (1) and fill (3) mean fit.
  EXPECT_EQ(BoxScalingFromCode(1), BoxScaling::kNatural);
  EXPECT_EQ(BoxScalingFromCode(3), BoxScaling::kFill);
  for (int code : {0, 2, -1, 4, 255}) EXPECT_EQ(BoxScalingFromCode(code), BoxScaling::kFit) << code;
  struct Case {
    const char* name;
    int w, h, box_w, box_h;
    BoxScaling mode;
    int want_w, want_h, want_percent;
  };
  const Case cases[] = {
      {"landscape natural", 800, 600, 640, 480, BoxScaling::kNatural, 800, 600, 100},
      {"landscape fit", 800, 600, 640, 480, BoxScaling::kFit, 640, 480, 80},
      {"landscape fill, height decides", 1000, 600, 640, 480, BoxScaling::kFill, 640, 480, 80},
      {"camera landscape fill", 4000, 3000, 640, 480, BoxScaling::kFill, 640, 480, 16},
      {"portrait natural", 600, 800, 640, 480, BoxScaling::kNatural, 600, 800, 100},
      {"portrait fit, height decides", 600, 800, 640, 480, BoxScaling::kFit, 360, 480, 60},
      {"portrait fill enlarges", 600, 800, 640, 480, BoxScaling::kFill, 640, 480, 106},
      {"small fit never enlarges", 100, 50, 640, 480, BoxScaling::kFit, 100, 50, 100},
      {"small fill enlarges", 100, 50, 640, 480, BoxScaling::kFill, 640, 480, 960},
      {"wider than box only", 1280, 100, 640, 480, BoxScaling::kFit, 640, 50, 50},
      {"one pixel fill", 1, 1, 64, 48, BoxScaling::kFill, 64, 48, 6400},
      {"one pixel high line fit", 1000, 1, 640, 480, BoxScaling::kFit, 640, 1, 64},
      {"one pixel wide line fill", 1, 1000, 96, 96, BoxScaling::kFill, 96, 96, 9600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PixelBuffer source = testing::PatternPicture(c.w, c.h);
    PixelBuffer out;
    int percent = -1;
    ASSERT_EQ(ScaleIntoBox(source, c.box_w, c.box_h, c.mode, &out, &percent), err::kNone);
    EXPECT_EQ(SizeOf(out), std::pair(c.want_w, c.want_h));
    EXPECT_EQ(percent, c.want_percent);
  }
}

TEST(BoxScale, RefusesWhatCannotBeScaled) {
  PixelBuffer out;
  EXPECT_EQ(ScaleIntoBox(PixelBuffer(), 64, 64, BoxScaling::kFit, &out), err::kParam);
  const PixelBuffer source = Filled(10, 10, kRed);
  EXPECT_EQ(ScaleIntoBox(source, 0, 64, BoxScaling::kFit, &out), err::kParam);
  EXPECT_EQ(ScaleIntoBox(source, 64, -3, BoxScaling::kFill, &out), err::kParam);
  // The natural size needs no box.
  EXPECT_EQ(ScaleIntoBox(source, 0, 0, BoxScaling::kNatural, &out), err::kNone);
  EXPECT_TRUE(SamePixels(out, source));
  // A fill box larger than any picture may be.
  EXPECT_NE(ScaleIntoBox(source, kMaxSide + 1, 10, BoxScaling::kFill, &out), err::kNone);
  EXPECT_TRUE(out.empty());
}

TEST(BoxScale, FillCutsTheOverflowEvenlyFromBothSides) {
  // Each column's red is its x: after the cut, the first and last columns
  // of the result tell which source columns survived.
  PixelBuffer wide;
  ASSERT_EQ(wide.allocate(200, 100), err::kNone);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 200; ++x) wide.setPixel(x, y, Argb(255, static_cast<std::uint8_t>(x), 0, 9));
  }
  PixelBuffer out;
  ASSERT_EQ(ScaleIntoBox(wide, 100, 100, BoxScaling::kFill, &out), err::kNone);
  ASSERT_EQ(SizeOf(out), std::pair(100, 100));
  for (int y : {0, 50, 99}) {
    EXPECT_EQ(out.pixel(0, y), Argb(255, 50, 0, 9));
    EXPECT_EQ(out.pixel(99, y), Argb(255, 149, 0, 9));
  }

  // A tall picture with red bands above and below a green middle: filling a
  // wide box keeps only the middle.
  PixelBuffer tall;
  ASSERT_EQ(tall.allocate(100, 400), err::kNone);
  tall.fill(kRed);
  for (int y = 100; y < 300; ++y) {
    for (int x = 0; x < 100; ++x) tall.setPixel(x, y, Argb(255, 0, 200, 0));
  }
  int percent = 0;
  ASSERT_EQ(ScaleIntoBox(tall, 50, 50, BoxScaling::kFill, &out, &percent), err::kNone);
  EXPECT_EQ(percent, 50);
  ASSERT_EQ(SizeOf(out), std::pair(50, 50));
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 50; ++x) ASSERT_EQ(out.pixel(x, y), Argb(255, 0, 200, 0)) << x << "," << y;
  }
}

TEST(BoxScale, FillEnlargesSmoothlyAndCentred) {
  // A 20 x 10 ramp (red = 10 x column) filling a 40 x 40 box is scaled by 4:
  // the middle ten columns (5..14) are enlarged, the rest cut.
  PixelBuffer ramp;
  ASSERT_EQ(ramp.allocate(20, 10), err::kNone);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) ramp.setPixel(x, y, Argb(255, static_cast<std::uint8_t>(10 * x), 77, 0));
  }
  PixelBuffer out;
  int percent = 0;
  ASSERT_EQ(ScaleIntoBox(ramp, 40, 40, BoxScaling::kFill, &out, &percent), err::kNone);
  EXPECT_EQ(percent, 400);
  ASSERT_EQ(SizeOf(out), std::pair(40, 40));
  for (int y : {0, 17, 39}) {
    EXPECT_EQ(RedOf(out.pixel(0, y)), 50);
    EXPECT_EQ(RedOf(out.pixel(39, y)), 140);
    for (int x = 1; x < 40; ++x) ASSERT_GE(RedOf(out.pixel(x, y)), RedOf(out.pixel(x - 1, y))) << x;
    // Interpolated, not repeated: no run of four equal values in the middle.
    EXPECT_LT(RedOf(out.pixel(18, y)), RedOf(out.pixel(21, y)));
    EXPECT_EQ(out.pixel(20, y) & 0xFF00FF00u, Argb(255, 0, 77, 0));  // alpha and green untouched
  }
}

TEST(BoxScale, ResizeInterpolatesBetweenPixelCentres) {
  PixelBuffer two;
  ASSERT_EQ(two.allocate(2, 1), err::kNone);
  two.setPixel(0, 0, Argb(255, 0, 0, 0));
  two.setPixel(1, 0, Argb(255, 200, 0, 0));
  PixelBuffer out;
  ASSERT_EQ(Resize(two, 4, 3, &out), err::kNone);
  const std::uint8_t want[] = {0, 50, 150, 200};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(out.pixel(x, y), Argb(255, want[x], 0, 0)) << x << "," << y;
  }
  // One side reduced, the other enlarged: the reduced side is averaged.
  PixelBuffer four;
  ASSERT_EQ(four.allocate(4, 1), err::kNone);
  for (int x = 0; x < 4; ++x) four.setPixel(x, 0, Argb(255, static_cast<std::uint8_t>(x < 2 ? 20 : 100), 0, 0));
  ASSERT_EQ(Resize(four, 2, 5, &out), err::kNone);
  for (int y = 0; y < 5; ++y) {
    EXPECT_EQ(out.pixel(0, y), Argb(255, 20, 0, 0));
    EXPECT_EQ(out.pixel(1, y), Argb(255, 100, 0, 0));
  }
  EXPECT_EQ(Resize(four, 0, 5, &out), err::kParam);
}

TEST(BoxScale, StrongReductionsAreSharpenedOnce) {
  const PixelBuffer source = testing::PatternPicture(400, 300);
  struct Case {
    const char* name;
    int box;
    bool sharpened;
  };
  const Case cases[] = {{"to 25 percent", 100, true}, {"to 50 percent", 200, false}, {"to 49 percent", 196, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PixelBuffer out;
    ASSERT_EQ(ScaleIntoBox(source, c.box, c.box, BoxScaling::kFit, &out), err::kNone);
    PixelBuffer plain;
    ASSERT_EQ(Downscale(source, out.width(), out.height(), &plain), err::kNone);
    PixelBuffer sharpened;
    ASSERT_EQ(plain.copyTo(&sharpened), err::kNone);
    Sharpen(&sharpened);
    ASSERT_FALSE(SamePixels(plain, sharpened));  // the pattern has edges to sharpen
    EXPECT_TRUE(SamePixels(out, c.sharpened ? sharpened : plain));
  }
}

TEST(BoxScale, FrameCoversTheFourEdgesOnly) {
  PixelBuffer p = Filled(5, 4, kWhite);
  DrawFrame(&p);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) {
      const bool edge = x == 0 || y == 0 || x == 4 || y == 3;
      EXPECT_EQ(p.pixel(x, y), edge ? Argb(255, 0, 0, 0) : kWhite) << x << "," << y;
    }
  }
  PixelBuffer dot = Filled(1, 1, kWhite);
  DrawFrame(&dot, kRed);
  EXPECT_EQ(dot.pixel(0, 0), kRed);
  PixelBuffer line = Filled(3, 1, kWhite);
  DrawFrame(&line, kRed);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(line.pixel(x, 0), kRed);
  PixelBuffer none;
  DrawFrame(&none);  // nothing to draw on
  EXPECT_TRUE(none.empty());
}

// Where a 3 x 2 mark lands on a 10 x 8 picture, by column and row of its
// position.
constexpr int kMarkLeft[] = {0, 3, 7};
constexpr int kMarkTop[] = {0, 3, 6};

bool Covered(int position, int x, int y) {
  const int lx = kMarkLeft[(position - 1) % 3];
  const int ty = kMarkTop[(position - 1) / 3];
  return x >= lx && x < lx + 3 && y >= ty && y < ty + 2;
}

TEST(BoxScale, WatermarkLandsAtItsPositionWithItsAlpha) {
  // An opaque red mark with one half-transparent black pixel and one clear.
  PixelBuffer mark = Filled(3, 2, kRed);
  mark.setPixel(1, 1, Argb(128, 0, 0, 0));
  mark.setPixel(2, 1, Argb(0, 0, 0, 255));
  mark.setHasAlpha(true);
  struct Case {
    int position;
    int as_position;
  };
  const Case cases[] = {{1, 1}, {5, 5}, {9, 9}, {0, 1}, {10, 1}, {-4, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    PixelBuffer p = Filled(10, 8, kWhite);
    CompositeWatermark(&p, mark, c.position);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 10; ++x) {
        const std::uint32_t got = p.pixel(x, y);
        if (!Covered(c.as_position, x, y)) {
          ASSERT_EQ(got, kWhite) << x << "," << y;
          continue;
        }
        const int mx = x - kMarkLeft[(c.as_position - 1) % 3];
        const int my = y - kMarkTop[(c.as_position - 1) / 3];
        if (mx == 1 && my == 1) {
          // Half black over white: about mid grey, still opaque.
          EXPECT_EQ(got >> 24, 255u);
          for (int shift : {16, 8, 0}) {
            const int v = static_cast<int>((got >> shift) & 0xFF);
            EXPECT_TRUE(v == 127 || v == 128) << v;
          }
        } else if (mx == 2 && my == 1) {
          EXPECT_EQ(got, kWhite);
        } else {
          EXPECT_EQ(got, kRed) << x << "," << y;
        }
      }
    }
  }
}

TEST(BoxScale, WatermarkLargerThanThePictureIsClipped) {
  PixelBuffer mark;
  ASSERT_EQ(mark.allocate(6, 6), err::kNone);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) mark.setPixel(x, y, Argb(255, static_cast<std::uint8_t>(10 * x), static_cast<std::uint8_t>(10 * y), 0));
  }
  PixelBuffer p = Filled(4, 3, kWhite);
  CompositeWatermark(&p, mark, 9);  // its bottom-right corner on the picture's
  EXPECT_EQ(p.pixel(3, 2), Argb(255, 50, 50, 0));
  EXPECT_EQ(p.pixel(0, 0), Argb(255, 20, 30, 0));
  p.fill(kWhite);
  CompositeWatermark(&p, mark, 5);  // centred: (4 - 6) / 2 = -1 on both sides
  EXPECT_EQ(p.pixel(0, 0), Argb(255, 10, 10, 0));
  EXPECT_EQ(p.pixel(3, 2), Argb(255, 40, 30, 0));
}

}  // namespace
}  // namespace norvo::imaging
