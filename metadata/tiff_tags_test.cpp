// SPDX-License-Identifier: GPL-3.0-or-later
// The field-type table and reading numbers, rationals and texts out of a
// value in either byte order.
#include "metadata/tiff_tags.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TiffTypes, TableIsInNumberOrderAndUnknownTypesHaveNoSize) {
  // TiffTypeSize and TiffTypeName index the table by number.
  for (std::size_t i = 0; i < std::size(kTiffTypes); ++i) {
    SCOPED_TRACE(kTiffTypes[i].name);
    EXPECT_EQ(static_cast<std::size_t>(kTiffTypes[i].type), i + 1);
    EXPECT_EQ(TiffTypeSize(kTiffTypes[i].type), kTiffTypes[i].size);
    EXPECT_EQ(TiffTypeName(kTiffTypes[i].type), kTiffTypes[i].name);
  }
  for (std::uint16_t type : {0, kMaxTiffType + 1, 0xFFFF}) {
    EXPECT_EQ(TiffTypeSize(type), 0u) << type;
    EXPECT_EQ(TiffTypeName(type), "") << type;
  }
}

TEST(TiffValues, NumbersBySignAndByteOrder) {
  struct Case {
    const char* name;
    std::uint16_t type;
    Bytes bytes;
    std::size_t index;
    Endian order;
    std::int64_t want;
  };
  const Case cases[] = {
      {"byte is unsigned", kTiffByte, {0xFF}, 0, Endian::kLittle, 255},
      {"sbyte is signed", kTiffSignedByte, {0xFF}, 0, Endian::kLittle, -1},
      {"short, Intel", kTiffShort, {0x01, 0x02}, 0, Endian::kLittle, 0x0201},
      {"short, Motorola", kTiffShort, {0x01, 0x02}, 0, Endian::kBig, 0x0102},
      {"second short", kTiffShort, {0, 0, 0xFF, 0xFF}, 1, Endian::kLittle, 0xFFFF},
      {"sshort is signed", kTiffSignedShort, {0xFF, 0xFE}, 0, Endian::kBig, -2},
      {"long is unsigned", kTiffLong, {0xFF, 0xFF, 0xFF, 0xFF}, 0, Endian::kLittle, 0xFFFFFFFF},
      {"slong is signed", kTiffSignedLong, {0xFF, 0xFF, 0xFF, 0xFF}, 0, Endian::kLittle, -1},
      {"rational gives its numerator", kTiffRational, {0, 0, 0, 7, 0, 0, 0, 2}, 0, Endian::kBig, 7},
      {"srational numerator is signed", kTiffSignedRational, {0xFF, 0xFF, 0xFF, 0xF9, 0, 0, 0, 2}, 0,
       Endian::kBig, -7},
      {"floats are not numbers", kTiffFloat, {0, 0, 0x80, 0x3F}, 0, Endian::kLittle, 0},
      {"index past the end", kTiffShort, {1, 0}, 1, Endian::kLittle, 0},
      {"value shorter than its type", kTiffLong, {1, 0, 0}, 0, Endian::kLittle, 0},
      {"unknown type", 13, {1, 0, 0, 0}, 0, Endian::kLittle, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetNumber(c.bytes, c.type, c.index, c.order), c.want);
  }
}

TEST(TiffValues, Rationals) {
  auto value = [](std::uint16_t type, const Bytes& bytes) {
    TagValue v;
    v.type = type;
    v.order = Endian::kBig;
    v.bytes = bytes;
    return v;
  };
  const Bytes minus_one_half{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2};
  double x = 0;
  ASSERT_TRUE(RationalValueAt(value(kTiffSignedRational, minus_one_half), 0, &x));
  EXPECT_EQ(x, -0.5);
  // The same bits unsigned are a large positive number, not a negative one.
  ASSERT_TRUE(RationalValueAt(value(kTiffRational, minus_one_half), 0, &x));
  EXPECT_EQ(x, 4294967295.0 / 2);
  std::int32_t n = 0, d = 0;
  ASSERT_TRUE(RationalPartsAt(value(kTiffRational, minus_one_half), 0, &n, &d));
  EXPECT_EQ(n, -1);  // the bits as stored
  EXPECT_EQ(d, 2);

  EXPECT_FALSE(RationalValueAt(value(kTiffRational, Bytes{0, 0, 0, 1, 0, 0, 0, 0}), 0, &x));  // zero denominator
  EXPECT_FALSE(RationalValueAt(value(kTiffRational, minus_one_half), 1, &x));                 // past the end
  EXPECT_FALSE(RationalPartsAt(value(kTiffLong, minus_one_half), 0, &n, &d));                 // not a rational
}

TEST(TiffValues, Texts) {
  EXPECT_EQ(TextUpToNul(Bytes{'a', 'b', 0, 'c'}), "ab");
  EXPECT_EQ(TextUpToNul(Bytes{'a', 'b'}), "ab");
  EXPECT_EQ(TextUpToNul(Bytes{}), "");
  // UCS-2 stops at a NUL and at an odd last byte; é becomes the one
  // Windows-1252 byte 0xE9.
  EXPECT_EQ(TextFromUcs2(Bytes{'a', 0, 0xE9, 0, 0, 0, 'z', 0}, Endian::kLittle), "a\xE9");
  EXPECT_EQ(TextFromUcs2(Bytes{0, 'a', 0, 'b', 0}, Endian::kBig), "ab");
}

}  // namespace
}  // namespace norvo::metadata
