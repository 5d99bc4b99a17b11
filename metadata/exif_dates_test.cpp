// SPDX-License-Identifier: GPL-3.0-or-later
// EXIF date texts as seconds since 1904.
#include "metadata/exif_dates.h"

#include <gtest/gtest.h>

namespace norvo::metadata {
namespace {

TEST(CaptureDate, ExifDateTexts) {
  EXPECT_EQ(CaptureDateFromExif("1904:01:01 00:00:00"), 0u);
  EXPECT_EQ(CaptureDateFromExif("1904:01:02 00:00:01"), 86401u);
  // 1 January 1970 is 2082844800 seconds after 1 January 1904.
  EXPECT_EQ(CaptureDateFromExif("1970:01:01 00:00:00"), 2082844800u);
  EXPECT_EQ(CaptureDateFromExif("2008:02:29 12:30:15"), 2082844800u + 1204288215u);
  EXPECT_EQ(CaptureDateFromExif("    :  :     :  :  "), 0u);
  EXPECT_EQ(CaptureDateFromExif("2008:13:01 00:00:00"), 0u);
  EXPECT_EQ(CaptureDateFromExif("2008:05:30"), 0u);
}

}  // namespace
}  // namespace norvo::metadata
