// SPDX-License-Identifier: GPL-3.0-or-later
// The BMP and Photoshop readers against files laid out byte by byte here,
// following the published layouts of the two formats.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "imaging/image_reader.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;

// --- BMP -----------------------------------------------------------------------

struct BmpSpec {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bits = 24;
  std::uint32_t compression = 0;
  std::vector<std::uint32_t> masks{};    // written after the 40-byte header
  std::vector<std::uint32_t> palette{};  // 0x00RRGGBB
  Bytes pixels{};
};

Bytes MakeBmp(const BmpSpec& s) {
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(4 * (s.masks.size() + s.palette.size()));
  ByteWriter w;
  w.u8('B');
  w.u8('M');
  w.u32le(offset + static_cast<std::uint32_t>(s.pixels.size()));
  w.u32le(0);
  w.u32le(offset);
  w.u32le(40);
  w.u32le(static_cast<std::uint32_t>(s.width));
  w.u32le(static_cast<std::uint32_t>(s.height));
  w.u16le(1);
  w.u16le(s.bits);
  w.u32le(s.compression);
  w.u32le(static_cast<std::uint32_t>(s.pixels.size()));
  w.u32le(2835);  // 72 per inch, in pixels per metre
  w.u32le(2835);
  w.u32le(static_cast<std::uint32_t>(s.palette.size()));
  w.u32le(0);
  for (std::uint32_t m : s.masks) w.u32le(m);
  for (std::uint32_t c : s.palette) w.u32le(c);
  w.bytes(s.pixels);
  return w.take();
}

TEST(BmpReader, TwentyFourBitRowsBottomUpWithPadding) {
  // Bottom row first; each row padded from 9 to 12 bytes. Pixels are B, G, R.
  const BmpSpec s{.width = 3, .height = 2, .pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0,  //
                                                      10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0}};
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(MakeBmp(s), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.width, 3);
  EXPECT_EQ(image.facts.height, 2);
  EXPECT_EQ(image.facts.depth, 24);
  EXPECT_EQ(image.facts.resolution, 72);
  EXPECT_EQ(image.picture.pixel(0, 0), Argb(255, 30, 20, 10));
  EXPECT_EQ(image.picture.pixel(2, 1), Argb(255, 9, 8, 7));
}

TEST(BmpReader, PaletteBitFieldsAndRunLengthForms) {
  const std::uint32_t red = Argb(255, 255, 0, 0), green = Argb(255, 0, 255, 0), blue = Argb(255, 0, 0, 255);
  const struct {
    const char* name;
    BmpSpec spec;
    std::vector<std::tuple<int, int, std::uint32_t>> pixels;  // x, y, colour
  } cases[] = {
      {"4-bit palette, top-down",
       {.width = 5, .height = -2, .bits = 4, .palette = {0x000000, 0xFF0000, 0x00FF00},
        .pixels = {0x01, 0x20, 0x10, 0, 0x22, 0x22, 0x20, 0}},
       {{1, 0, red}, {2, 0, green}, {4, 0, red}, {0, 1, green}}},
      {"16-bit 5-6-5 bit fields",
       {.width = 2, .height = 1, .bits = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F},
        .pixels = {0x00, 0xF8, 0xE0, 0x07}},  // pure red, pure green (little-endian)
       {{0, 0, red}, {1, 0, green}}},
      // Bottom line: a run of four of colour 1; end of line; top line:
      // absolute run 2, 1, 2 (padded to even); end of bitmap.
      {"8-bit run length",
       {.width = 4, .height = 2, .bits = 8, .compression = 1, .palette = {0x000000, 0x0000FF, 0xFFFFFF},
        .pixels = {4, 1, 0, 0, 0, 3, 2, 1, 2, 0, 0, 1}},
       {{0, 1, blue}, {0, 0, Argb(255, 255, 255, 255)}, {1, 0, blue},
        {3, 0, Argb(255, 0, 0, 0)}}},  // never drawn: colour 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedImage image;
    ASSERT_EQ(ReadStillImage(MakeBmp(c.spec), kFormatBmp, 0, &image), err::kNone);
    for (const auto& [x, y, colour] : c.pixels) EXPECT_EQ(image.picture.pixel(x, y), colour) << x << "," << y;
  }
}

TEST(BmpReader, ShortOrImpossibleFilesAreRefused) {
  const Bytes good = MakeBmp({.width = 3, .height = 2, .pixels = Bytes(24, 7)});
  DecodedImage image;
  EXPECT_EQ(ReadStillImage(Bytes(good.begin(), good.end() - 1), kFormatBmp, 0, &image), kBadImageData);
  EXPECT_EQ(ReadStillImage(MakeBmp({.width = 3, .height = 2, .bits = 7, .pixels = Bytes(24, 7)}), kFormatBmp, 0,
                           &image),
            kBadImageData);
  EXPECT_EQ(ReadStillImage(MakeBmp({.width = 0, .height = 2, .pixels = Bytes(24, 7)}), kFormatBmp, 0, &image),
            kBadImageData);
  EXPECT_TRUE(image.picture.empty());
}

// --- Photoshop -------------------------------------------------------------------

struct PsdSpec {
  std::uint16_t channels = 3;
  std::uint16_t mode = 3;  // RGB
  std::uint32_t width = 2;
  std::uint32_t height = 2;
  std::uint16_t depth = 8;
  std::int16_t layers = 0;
  std::uint32_t ppi = 0;        // resolution resource when not 0
  std::uint16_t compression = 0;
  Bytes image{};  // planar data as it follows the compression word
};

Bytes MakePsd(const PsdSpec& s) {
  ByteWriter w;
  w.tag("8BPS");
  w.u16be(1);
  w.zeros(6);
  w.u16be(s.channels);
  w.u32be(s.height);
  w.u32be(s.width);
  w.u16be(s.depth);
  w.u16be(s.mode);
  w.u32be(0);  // colour mode data
  if (s.ppi != 0) {
    w.u32be(4 + 2 + 2 + 4 + 16);
    w.tag("8BIM");
    w.u16be(0x03ED);
    w.u16be(0);  // empty name, padded
    w.u32be(16);
    w.u32be(s.ppi << 16);
    w.u16be(1);
    w.u16be(1);
    w.u32be(s.ppi << 16);
    w.u16be(1);
    w.u16be(1);
  } else {
    w.u32be(0);
  }
  if (s.layers != 0) {
    w.u32be(4 + 2 + 2);
    w.u32be(2);
    w.u16be(static_cast<std::uint16_t>(s.layers));
    w.u16be(0);
  } else {
    w.u32be(0);
  }
  w.u16be(s.compression);
  w.bytes(s.image);
  return w.take();
}

TEST(PhotoshopReader, RawAndPackBitsCompositesAndFacts) {
  PsdSpec s;
  s.ppi = 300;
  s.layers = -3;  // negative: the first alpha channel is the merged transparency
  s.image = {10, 20, 30, 40, /* red */ 50, 60, 70, 80, /* green */ 90, 100, 110, 120 /* blue */};
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(MakePsd(s), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.width, 2);
  EXPECT_EQ(image.facts.resolution, 300);
  EXPECT_EQ(image.facts.depth, 24);
  EXPECT_EQ(image.facts.image_count, 3);
  EXPECT_EQ(image.facts.colour_space, kColourRgb);
  EXPECT_EQ(image.facts.compressor, "Photoshop");
  EXPECT_EQ(image.picture.pixel(0, 0), Argb(255, 10, 50, 90));
  EXPECT_EQ(image.picture.pixel(1, 1), Argb(255, 40, 80, 120));

  // PackBits: six rows (3 channels x 2), each "repeat 2 times" (0xFF, value).
  s.compression = 1;
  s.ppi = 0;
  s.layers = 0;
  s.image = {0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0xFF, 1, 0xFF, 2, 0xFF, 3, 0xFF, 4, 0xFF, 5, 0xFF, 6};
  ASSERT_EQ(ReadStillImage(MakePsd(s), kFormatPhotoshop, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.resolution, 72);
  EXPECT_EQ(image.facts.image_count, 1);
  EXPECT_EQ(image.picture.pixel(1, 0), Argb(255, 1, 3, 5));
  EXPECT_EQ(image.picture.pixel(0, 1), Argb(255, 2, 4, 6));
}

TEST(PhotoshopReader, GreyAndInvertedCmyk) {
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(MakePsd({.channels = 1, .mode = 1, .image = {0, 85, 170, 255}}), kFormatPhotoshop, 0,
                           &image),
            err::kNone);
  EXPECT_EQ(image.facts.colour_space, kColourGrey);
  EXPECT_EQ(image.picture.pixel(1, 0), Argb(255, 85, 85, 85));

  // Stored inverted: cyan full (0), magenta none (255), yellow none, black none.
  ASSERT_EQ(ReadStillImage(MakePsd({.channels = 4, .mode = 4, .width = 1, .height = 1, .image = {0, 255, 255, 255}}),
                           kFormatPhotoshop, 0, &image),
            err::kNone);
  EXPECT_EQ(image.facts.colour_space, kColourCmyk);
  EXPECT_EQ(image.facts.depth, 32);
  EXPECT_EQ(image.picture.pixel(0, 0), Argb(255, 0, 255, 255));
}

TEST(PhotoshopReader, DamagedFilesAreRefused) {
  PsdSpec s;
  s.image = Bytes(12, 9);
  const Bytes good = MakePsd(s);
  DecodedImage image;
  for (std::size_t cut = 0; cut < good.size(); cut += 3) {
    Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(ReadStillImage(part, kFormatPhotoshop, 0, &image), kBadImageData) << cut;
  }
  s.depth = 32;
  EXPECT_EQ(ReadStillImage(MakePsd(s), kFormatPhotoshop, 0, &image), kBadImageData);
  s.depth = 8;
  s.compression = 2;  // zip-coded
  EXPECT_EQ(ReadStillImage(MakePsd(s), kFormatPhotoshop, 0, &image), kBadImageData);
}

}  // namespace
}  // namespace norvo::imaging
