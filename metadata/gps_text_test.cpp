// SPDX-License-Identifier: GPL-3.0-or-later
// The GPS position texts from stored latitude, longitude and altitude values.
#include "metadata/gps_text.h"

#include "metadata/list_keys.h"
#include "metadata/stored_values.h"
#include "metadata/tag_value_test_support.h"
#include "metadata/tiff_tags.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

using testing::Rationals;

using Bytes = std::vector<std::uint8_t>;

MetadataList Gps(std::string ref, std::vector<std::pair<std::uint32_t, std::uint32_t>> lat) {
  MetadataList list;
  PutText(list, GpsKey(kGpsLatitudeRef), ref);
  list.replace(GpsKey(kGpsLatitude), Rationals(lat));
  return list;
}

TEST(GpsTexts, LatitudeLongitudeAndAltitude) {
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{43, 1}, {28, 1}, {281400000, 100000000}})), "N 043\xB0 28' 02.81\"");
  EXPECT_EQ(GpsLatitudeText(Gps("S", {{7, 1}, {5, 1}, {1234, 100}})), "S 007\xB0 05' 12.34\"");
  // No seconds denominator: the seconds come from the minutes' fraction.
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{10, 1}, {3075, 100}, {0, 0}})), "N 010\xB0 30' 45.00\"");
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{10, 1}, {30, 1}, {9999, 1000}})), "N 010\xB0 30' 10.00\"");
  // Minutes beyond any int still format.
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{1, 1}, {4294967295u, 1}, {0, 1}})), "N 001\xB0 4294967295' 00.00\"");
  // Fractions carried down: minutes with seconds 0/1, decimal degrees.
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{5225, 100}, {0, 1}, {0, 1}})), "N 052\xB0 15' 00.00\"");
  EXPECT_EQ(GpsLatitudeText(Gps("S", {{33, 1}, {522500, 10000}, {0, 1}})), "S 033\xB0 52' 15.00\"");
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{1, 1}, {5999999, 100000}, {0, 1}})), "N 002\xB0 00' 00.00\"");
  // ... and without a fraction there is nothing to show.
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{10, 1}, {30, 1}, {0, 0}})), "");
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{10, 0}, {30, 1}, {0, 1}})), "");
  EXPECT_EQ(GpsLatitudeText(Gps("N", {{10, 1}, {30, 0}, {0, 1}})), "");
  // Value without reference, reference without value.
  MetadataList only_value = Gps("N", {{1, 1}, {2, 1}, {3, 1}});
  only_value.removeAll(GpsKey(kGpsLatitudeRef));
  EXPECT_EQ(GpsLatitudeText(only_value), "");
  MetadataList only_ref;
  PutText(only_ref, GpsKey(kGpsLongitudeRef), "W");
  EXPECT_EQ(GpsLongitudeText(only_ref), "");

  MetadataList alt;
  EXPECT_EQ(GpsAltitudeText(alt), "");
  PutRational(alt, GpsKey(kGpsAltitude), 12345, 100);
  EXPECT_EQ(GpsAltitudeText(alt), "123.45 m");
  PutRational(alt, GpsKey(kGpsAltitude), 5, 0);
  EXPECT_EQ(GpsAltitudeText(alt), "");
  // Stored signed: negative below sea level, with no "-0.00".
  PutRational(alt, GpsKey(kGpsAltitude), -1250, 100);
  EXPECT_EQ(GpsAltitudeText(alt), "-12.50 m");
  PutRational(alt, GpsKey(kGpsAltitude), -1, 1000);
  EXPECT_EQ(GpsAltitudeText(alt), "0.00 m");
}

}  // namespace
}  // namespace norvo::metadata
