// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/string_table.h"

#include <gtest/gtest.h>

namespace norvo::metadata {
namespace {

TEST(StringTableTest, NumbersAreListTimesHundredPlusIndexAndGapsAreEmpty) {
  EXPECT_EQ(ListText(511, 7), StringText(51107));
  EXPECT_EQ(ListText(511, 7), "pixels/inch");
  for (int i = 1; i <= ListLength(525); ++i) EXPECT_NE(StringText(52500 + i), "") << i;
  const int missing[] = {52504, 52500, 51117, 51601, 13311, 53001, 53010, 13058, 0, -13059, 99999};
  for (int number : missing) EXPECT_EQ(StringText(number), "") << number;
  // A list's length is its last text's index, an empty text at the end not counted.
  EXPECT_EQ(ListLength(525), 3);
  EXPECT_EQ(ListLength(510), 94);  // 95 is unused
  EXPECT_EQ(ListLength(999), 0);
}

}  // namespace
}  // namespace norvo::metadata
