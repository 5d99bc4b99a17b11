// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/string_table.h"

#include <gtest/gtest.h>

namespace norvo::metadata {
namespace {

TEST(StringTableTest, NumbersAreListTimesHundredPlusIndex) {
  EXPECT_EQ(StringText(51021), "File Name");
  EXPECT_EQ(StringText(51056), "Labels");
  EXPECT_EQ(StringText(51060), "Catalog Sets");
  EXPECT_EQ(StringText(51092), "Event");
  EXPECT_EQ(StringText(51094), "People");
  EXPECT_EQ(StringText(51101), "sec");
  EXPECT_EQ(StringText(51116), "/sec");
  EXPECT_EQ(StringText(51305), "TB");
  EXPECT_EQ(StringText(51602), "Media Info");
  EXPECT_EQ(StringText(51609), "Photo EXIF");
  EXPECT_EQ(ListText(511, 7), StringText(51107));
  EXPECT_EQ(ListText(511, 7), "pixels/inch");
}

TEST(StringTableTest, IndexPastTheEndOrMissingGivesEmptyText) {
  EXPECT_EQ(StringText(52503), "Stereo");
  EXPECT_EQ(StringText(52504), "");  // audio channel names end at 2
  EXPECT_EQ(StringText(52500), "");  // indexes count from 1
  EXPECT_EQ(StringText(51117), "");
  EXPECT_EQ(StringText(51601), "");  // a section without fields
  EXPECT_EQ(StringText(0), "");
  EXPECT_EQ(StringText(-13059), "");
  EXPECT_EQ(StringText(99999), "");
  EXPECT_EQ(ListLength(525), 3);
  EXPECT_EQ(ListLength(528), 22);
  EXPECT_EQ(ListLength(510), 94);  // 95 is unused
  EXPECT_EQ(ListLength(999), 0);
}

TEST(StringTableTest, ColourLabelsOrientationsAndMessages) {
  const char* labels[] = {"None", "Red", "Green", "Blue", "Brown", "Magenta", "Orange", "Yellow", "Cyan", "Gray"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(StringText(13301 + i), labels[i]);
  EXPECT_EQ(StringText(13311), "");
  EXPECT_EQ(StringText(53001), "");
  EXPECT_EQ(StringText(53002), "180\xB0");
  EXPECT_EQ(StringText(53009), "Default");
  EXPECT_EQ(StringText(53010), "");
  EXPECT_EQ(StringText(13022),
            "Remove selected field?\nThis will erase the selected field and its associated data from all items in "
            "the catalog.");
  EXPECT_EQ(StringText(13059), "A field with that name already exists.\nPlease choose another name.");
  EXPECT_EQ(StringText(13060),
            "The field couldn't be added, because a catalog can contain a maximum of 16 custom fields with unique "
            "names.");
  EXPECT_EQ(StringText(13058), "");
}

}  // namespace
}  // namespace norvo::metadata
