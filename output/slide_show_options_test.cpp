// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/slide_show_options.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "catalog/catalog.h"

namespace norvo::output {
namespace {

TEST(SlideShowCodes, EveryPositionMapsToADistinctCodeAndBack) {
  std::set<int> transitions;
  for (int position = 0; position < kTransitionCount; ++position) {
    const std::uint8_t code = TransitionCodeAt(position);
    EXPECT_NE(code, 0);
    EXPECT_NE(code, 3) << "code 3 is never stored";
    EXPECT_EQ(TransitionPosition(code), position);
    EXPECT_EQ(static_cast<std::uint8_t>(TransitionFromCode(code)), code);
    transitions.insert(code);
  }
  EXPECT_EQ(transitions.size(), std::size_t{kTransitionCount});

  std::set<int> scalings;
  for (int position = 0; position < kScalingCount; ++position) {
    const std::uint8_t code = ScalingCodeAt(position);
    EXPECT_NE(code, 0);
    EXPECT_NE(code, 3);
    EXPECT_NE(code, 9);
    EXPECT_EQ(ScalingPosition(code), position);
    EXPECT_EQ(static_cast<std::uint8_t>(ScalingFromCode(code)), code);
    scalings.insert(code);
  }
  EXPECT_EQ(scalings.size(), std::size_t{kScalingCount});
}

TEST(SlideShowCodes, ZeroAndUnknownCodesSelectTheFirstEntry) {
  for (std::uint8_t code : {0, 3, 14, 200}) {
    EXPECT_EQ(TransitionPosition(code), 0) << int{code};
    EXPECT_EQ(TransitionFromCode(code), Transition::kNone) << int{code};
  }
  for (std::uint8_t code : {0, 3, 9, 17, 255}) {
    EXPECT_EQ(ScalingPosition(code), 0) << int{code};
    EXPECT_EQ(ScalingFromCode(code), MediaScaling::kActualSize) << int{code};
  }
  EXPECT_EQ(ScalingZoom(MediaScaling::kPercent25), 0.25);
  EXPECT_EQ(ScalingZoom(MediaScaling::kPercent1600), 16.0);
  EXPECT_FALSE(ScalingZoom(MediaScaling::kTile).has_value());
}

TEST(SlideShowOptions, DurationOutsideOneToSixtyReadsAsFour) {
  SlideShowOptions options;
  for (auto [stored, want] : {std::pair{0, 4}, {61, 4}, {255, 4}, {1, 1}, {7, 7}, {60, 60}}) {
    options.seconds = static_cast<std::uint8_t>(stored);
    EXPECT_EQ(options.secondsPerSlide(), want) << stored;
  }
}

TEST(SlideShowOptions, RecordRoundTripsByteForByteWithKnownLayout) {
  std::vector<std::uint8_t> stored(kSlideShowOptionsSize);
  for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<std::uint8_t>(0xA0 + i);
  stored[0] = 9;   // Iris square
  stored[1] = 13;  // 200%
  stored[2] = 75;
  stored[4] = 0x12, stored[5] = 0x34;  // red, big-endian
  stored[8] = 0xFF, stored[9] = 0x00;  // blue
  stored[13] = 1;                      // media info
  SlideShowOptions options;
  ASSERT_EQ(ParseSlideShowOptions(stored, &options), err::kNone);
  EXPECT_EQ(options.transition(), Transition::kIrisSquare);
  EXPECT_EQ(options.scaling(), MediaScaling::kPercent200);
  EXPECT_EQ(options.secondsPerSlide(), 4);
  EXPECT_EQ(options.seconds, 75) << "the stored byte is kept";
  EXPECT_EQ(options.red, 0x1234);
  EXPECT_EQ(options.blue, 0xFF00);
  EXPECT_EQ(options.media_info, 1);
  EXPECT_EQ(options.interactive, 0xAA);
  EXPECT_EQ(SerializeSlideShowOptions(options), stored);
}

TEST(SlideShowOptions, WrongSizedRecordsAreNotTaken) {
  SlideShowOptions options;
  options.transition_code = 1;
  EXPECT_EQ(ParseSlideShowOptions(std::vector<std::uint8_t>(39, 5), &options), err::kParam);
  EXPECT_EQ(options, SlideShowOptions{});
  EXPECT_EQ(ParseSlideShowOptions(std::vector<std::uint8_t>(41, 5), &options), err::kParam);
  EXPECT_FALSE(CatalogSlideShowOptions({}).has_value());
  EXPECT_FALSE(CatalogSlideShowOptions(std::vector<std::uint8_t>(12, 1)).has_value());
}

TEST(SlideShowOptions, PreferencesKeepTheRecordAtItsOffset) {
  std::vector<std::uint8_t> block(0x500, 0);
  // Never set: the defaults, not a literal reading of zeros.
  EXPECT_EQ(LoadSlideShowPreferences(block, 0x400), SlideShowOptions{});

  SlideShowOptions chosen;
  chosen.setTransition(Transition::kRadial);
  chosen.setScaling(MediaScaling::kTile);
  chosen.seconds = 9;
  chosen.green = 0x8000;
  chosen.random = 1;
  ASSERT_EQ(StoreSlideShowPreferences(block, 0x400, chosen), err::kNone);
  EXPECT_EQ(block[0x400], 13);
  EXPECT_EQ(block[0x401], 8);
  EXPECT_EQ(block[0x3FF], 0);
  EXPECT_EQ(block[0x428], 0) << "nothing written past the 40 bytes";
  EXPECT_EQ(LoadSlideShowPreferences(block, 0x400), chosen);

  EXPECT_EQ(StoreSlideShowPreferences(block, 0x4E0, chosen), err::kParam);
  EXPECT_EQ(LoadSlideShowPreferences(block, 0x4E0), SlideShowOptions{});
}

TEST(SlideShowOptions, CatalogRecordWinsOverThePreferences) {
  std::vector<std::uint8_t> block(0x500, 0);
  SlideShowOptions program;
  program.setTransition(Transition::kBarnVertical);
  ASSERT_EQ(StoreSlideShowPreferences(block, 0x400, program), err::kNone);

  catalog::Catalog catalog;
  EXPECT_EQ(EffectiveSlideShowOptions(catalog.slide_show_options, block, 0x400), program);
  EXPECT_FALSE(catalog.changed());

  SlideShowOptions own;
  own.setTransition(Transition::kSlideTopToBottom);
  own.continuous = 1;
  SetCatalogSlideShowOptions(catalog, own);
  EXPECT_TRUE(catalog.changed());
  ASSERT_EQ(catalog.slide_show_options.size(), kSlideShowOptionsSize);
  EXPECT_EQ(EffectiveSlideShowOptions(catalog.slide_show_options, block, 0x400), own);
}

}  // namespace
}  // namespace norvo::output
