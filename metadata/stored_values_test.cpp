// SPDX-License-Identifier: GPL-3.0-or-later
// The stored forms of the photo fields' values: which EXIF and GPS values
// are kept and how, and the APEX conversions.
#include "metadata/stored_values.h"

#include "metadata/list_keys.h"
#include "metadata/tag_value_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

using testing::Rationals;

using Bytes = std::vector<std::uint8_t>;

TagValue Value(std::uint16_t tag, std::uint16_t type, const Bytes& bytes, Endian order = Endian::kBig) {
  return testing::MakeTagValue(tag, type, bytes, kTagExifIfd, order);
}

TEST(Normalisation, IsoTakesTheLastNonZeroValue) {
  MetadataList list;
  Bytes le{0, 0, 200, 0};  // 0, 200 little-endian
  EXPECT_TRUE(NormaliseValue(list, ExifKey(kTagIso), Value(kTagIso, 3, le, Endian::kLittle)));
  EXPECT_EQ(*list.find(ExifKey(kTagIso), 1), (Bytes{0, 200}));
  Bytes zeros{0, 0, 0, 0};
  MetadataList none;
  EXPECT_FALSE(NormaliseValue(none, ExifKey(kTagIso), Value(kTagIso, 3, zeros)));
  EXPECT_TRUE(none.empty());
}

TEST(Normalisation, RationalsShortsBytesAndTexts) {
  MetadataList list;
  Bytes zoom_same = Rationals({{1, 1}});
  EXPECT_FALSE(NormaliseValue(list, ExifKey(kTagDigitalZoomRatio), Value(kTagDigitalZoomRatio, 5, zoom_same)));
  Bytes zoom_zero = Rationals({{0, 1}});
  EXPECT_FALSE(NormaliseValue(list, ExifKey(kTagDigitalZoomRatio), Value(kTagDigitalZoomRatio, 5, zoom_zero)));
  Bytes zoom = Rationals({{3, 2}});
  EXPECT_TRUE(NormaliseValue(list, ExifKey(kTagDigitalZoomRatio), Value(kTagDigitalZoomRatio, 5, zoom)));
  EXPECT_EQ(*list.find(ExifKey(kTagDigitalZoomRatio), 1), zoom);

  // "The value's low byte": metering 0x0105 keeps 5.
  Bytes metering{0x01, 0x05};
  EXPECT_TRUE(NormaliseValue(list, ExifKey(kTagMeteringMode), Value(kTagMeteringMode, 3, metering)));
  EXPECT_EQ(*list.find(ExifKey(kTagMeteringMode), 1), (Bytes{0, 5}));
  Bytes version{'0', '2', '2', '1'};
  EXPECT_TRUE(NormaliseValue(list, ExifKey(kTagExifVersion), Value(kTagExifVersion, 7, version)));
  EXPECT_EQ(*list.find(ExifKey(kTagExifVersion), 1), version);
  Bytes date{'2', '0', '0', '8', ':', '0', '5', ':', '3', '0', ' ', '1', '5', ':', '5', '6', ':', '0', '1', 0};
  EXPECT_TRUE(NormaliseValue(list, ExifKey(kTagDateTimeOriginal), Value(kTagDateTimeOriginal, 2, date)));
  EXPECT_EQ(GetPlainText(list, ExifKey(kTagDateTimeOriginal)), "2008:05:30 15:56:01");
  // Tags outside the table, and GPS tags outside 1 to 6, are dropped.
  Bytes one{0, 1};
  EXPECT_FALSE(NormaliseValue(list, ExifKey(0xa401), Value(0xa401, 3, one)));
  EXPECT_FALSE(NormaliseValue(list, GpsKey(5), Value(5, 1, Bytes{1})));
  EXPECT_FALSE(NormaliseValue(list, 0x829a, Value(kTagExposureTime, 5, zoom)));
}

TEST(Normalisation, ApexConversions) {
  std::int32_t n = 0, d = 0;
  ExposureTimeFromApex(8, &n, &d);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(d, 256);
  ExposureTimeFromApex(-2, &n, &d);  // four seconds
  EXPECT_EQ(n * 1.0 / d, 4.0);
  FNumberFromApex(5, &n, &d);  // sqrt(2)^5 = 5.66
  EXPECT_EQ(n, 57);
  EXPECT_EQ(d, 10);
  // Absurd values stay within 32 bits.
  ExposureTimeFromApex(1e9, &n, &d);
  EXPECT_GT(d, 0);
  FNumberFromApex(-1e9, &n, &d);
  EXPECT_GE(n, 0);

  // A signed rational ShutterSpeedValue and a zero denominator.
  MetadataList list;
  Bytes minus_one = Rationals({{static_cast<std::uint32_t>(-1), 1}});
  EXPECT_TRUE(NormaliseValue(list, ExifKey(kTagShutterSpeedValue), Value(kTagShutterSpeedValue, 10, minus_one)));
  std::int32_t en = 0, ed = 0;
  ASSERT_TRUE(GetRational(list, ExifKey(kTagExposureTime), 0, &en, &ed));
  EXPECT_EQ(en * 1.0 / ed, 2.0);
  Bytes zero_d = Rationals({{1, 0}});
  EXPECT_FALSE(NormaliseValue(list, ExifKey(kTagApertureValue), Value(kTagApertureValue, 5, zero_d)));
}

}  // namespace
}  // namespace norvo::metadata
