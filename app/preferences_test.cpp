// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/test_environment.h"
#include "app/preferences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/dates.h"

namespace norvo::app {
namespace {

// Stored bytes are set and read by hand here, independently of the block's accessors.
void PutBigEndian(PreferencesBlock& block, std::size_t offset, std::uint32_t value, std::size_t width = 4) {
  for (std::size_t i = 0; i < width; ++i) {
    block.bytes()[offset + i] = static_cast<std::uint8_t>(value >> 8 * (width - 1 - i));
  }
}
std::uint32_t BigEndian(const PreferencesBlock& block, std::size_t offset, std::size_t width = 4) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | block.bytes()[offset + i];
  return v;
}
void PutListEntry(PreferencesBlock& block, std::size_t index, const std::string& text, std::uint8_t length) {
  const std::size_t at = 0x12E8 + index * 64;
  block.bytes()[at] = length;
  std::copy(text.begin(), text.end(), block.bytes().begin() + static_cast<std::ptrdiff_t>(at + 1));
}
Bytes ToBytes(const PreferencesBlock& block) { return Bytes(block.bytes().begin(), block.bytes().end()); }
WindowRect Rect(int top, int left, int bottom, int right) {
  return {static_cast<std::int16_t>(top), static_cast<std::int16_t>(left), static_cast<std::int16_t>(bottom),
          static_cast<std::int16_t>(right)};
}

TEST(PreferencesValidation, FormatOutsideOneToTwentyDiscardsTheWholeBlock) {
  // The defaults pass their own rules untouched.
  PreferencesBlock defaults = PreferencesBlock::Defaults();
  ValidatePreferences(defaults, std::nullopt);
  EXPECT_EQ(ToBytes(defaults), ToBytes(PreferencesBlock::Defaults()));

  for (int format : {0, 1, 20, 21, 255}) {
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutBigEndian(block, 0x000, 0xDEADBEEF);
    PutBigEndian(block, 0x384, 0x01020304);
    block.bytes()[0x097] = 250;  // fields without rules
    block.bytes()[0x0A3] = 1;
    block.bytes()[5863] = 0x42;
    block.bytes()[0x09A] = 77;
    block.bytes()[0xA4B] = static_cast<std::uint8_t>(format);
    const Bytes before = ToBytes(block);
    ValidatePreferences(block, std::nullopt);
    const bool valid = format >= 1 && format <= 20;
    EXPECT_EQ(ToBytes(block), valid ? before : ToBytes(PreferencesBlock::Defaults())) << "format " << format;
  }
}

// Each field with a reset value: values just outside its range are reset,
// the values at its edges are kept. 0x8E0 is a signed 32-bit number.
TEST(PreferencesValidation, FieldsOutsideTheirValuesGetTheirResetValue) {
  struct Case {
    std::size_t offset;
    std::vector<std::uint32_t> kept;
    std::vector<std::uint32_t> reset;
    std::uint32_t reset_to;
  };
  const std::vector<Case> cases = {
      {0x09A, {1, 100}, {0, 101, 255}, 5},  {0x09C, {0, 2}, {3, 200}, 1},       {0x09D, {0, 1}, {2}, 0},
      {0x09E, {2, 4, 8}, {0, 1, 3, 6, 16}, 4}, {0x0A1, {1, 5}, {0, 6}, 1},      {0x0A2, {1, 2}, {0, 3}, 1},
      {0x0A7, {1}, {0, 2}, 1},                {0x0A8, {1, 3}, {0, 4}, 1},      {0x0AB, {1, 3}, {0, 4}, 2},
      {0x8E0, {0, 2}, {0xFFFFFFFF, 3, 0x100, 0x80000000}, 0},
  };
  for (const Case& c : cases) {
    for (bool keep : {true, false}) {
      for (std::uint32_t v : keep ? c.kept : c.reset) {
        PreferencesBlock block = PreferencesBlock::Defaults();
        const std::size_t width = c.offset == 0x8E0 ? 4 : 1;
        PutBigEndian(block, c.offset, v, width);
        ValidatePreferences(block, std::nullopt);
        EXPECT_EQ(BigEndian(block, c.offset, width), keep ? v : c.reset_to) << std::hex << c.offset << " value " << v;
      }
    }
  }
}

// (A valid list comes back from the store, below.)
TEST(PreferencesValidation, ListIsDroppedUnlessCountAndEveryLengthAreValid) {
  struct Bad {
    const char* why;
    std::uint32_t count;
    std::uint8_t second_length;
  };
  for (const Bad& bad : {Bad{"negative count", 0xFFFFFFFFu, 3}, Bad{"entry of length 0", 2, 0},
                         Bad{"entry of length 64", 2, 64}, Bad{"more entries than fit", 17, 3}}) {
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutBigEndian(block, 0x12E4, bad.count);
    PutListEntry(block, 0, "one", 3);
    PutListEntry(block, 1, "two", bad.second_length);
    for (std::size_t i = 2; i < 16; ++i) PutListEntry(block, i, "abc", 3);
    ValidatePreferences(block, std::nullopt);
    EXPECT_EQ(BigEndian(block, 0x12E4), 0u) << bad.why;
    EXPECT_TRUE(block.listEntries().empty()) << bad.why;
    EXPECT_EQ(block.bytes()[0x12E8 + 1], 'o') << bad.why;  // only the count changes
  }
}

TEST(PreferencesWindow, FirstSizeTheScreenExceedsIsCentredAndStoredBigEndian) {
  const std::pair<ScreenSize, WindowRect> cases[] = {
      {{1280, 1024}, Rect(80, 64, 944, 1216)}, {{1920, 1080}, Rect(108, 384, 972, 1536)},
      // Equal is not enough, in either direction: the next size down.
      {{1152, 864}, Rect(48, 64, 816, 1088)},  {{1153, 864}, Rect(48, 64, 816, 1088)},
      {{1152, 900}, Rect(66, 64, 834, 1088)},
      {{1025, 769}, Rect(0, 0, 768, 1024)},    {{1024, 768}, Rect(84, 112, 684, 912)},
      {{801, 601}, Rect(0, 0, 600, 800)},      {{700, 500}, Rect(10, 30, 490, 670)},
      // Nothing fits: the whole screen.
      {{640, 480}, Rect(0, 0, 480, 640)},      {{2000, 400}, Rect(0, 0, 400, 2000)},
  };
  for (const auto& [screen, rect] : cases) {
    EXPECT_EQ(DefaultWindowRect(screen), rect) << screen.width << "x" << screen.height;
  }

  // Four big-endian 16-bit numbers at 0x8E4, left alone without a screen.
  PreferencesBlock block = PreferencesBlock::Defaults();
  PutBigEndian(block, 0x8E4, 0x00010002);
  PutBigEndian(block, 0x8E8, 0x00030004);
  ValidatePreferences(block, std::nullopt);
  EXPECT_EQ(block.windowRect(), Rect(1, 2, 3, 4));
  ValidatePreferences(block, ScreenSize{1280, 1024});
  EXPECT_EQ(BigEndian(block, 0x8E4), (80u << 16) | 64u);
  EXPECT_EQ(BigEndian(block, 0x8E8), (944u << 16) | 1216u);
}

TEST(PreferencesFirstRun, StampedOnceWithTheCurrentDate) {
  PreferencesBlock block = PreferencesBlock::Defaults();
  const std::uint32_t before = CurrentDateTime();
  EXPECT_TRUE(StampFirstRun(block));
  const std::uint32_t stamp = BigEndian(block, 0);
  EXPECT_TRUE(stamp >= before && stamp <= CurrentDateTime()) << stamp;
  EXPECT_FALSE(StampFirstRun(block, stamp + 1000));
  EXPECT_EQ(block.firstRun(), stamp);
}

TEST(Labels, DefaultsAndTheBlockOfNineEntriesOfNameAndColour) {
  // The defaults: nine named labels, no two alike in name or colour.
  const Labels defaults = DefaultLabels();
  std::set<std::string> names;
  std::set<std::tuple<int, int, int>> colours;
  for (const Label& label : defaults) {
    if (!label.name.empty()) names.insert(label.name);
    colours.emplace(label.red, label.green, label.blue);
  }
  EXPECT_EQ(names.size(), 9u);
  EXPECT_EQ(colours.size(), 9u);

  // Built by hand: entry 3 named "Urgent" in 0x1234 0x5678 0x9ABC.
  Bytes bytes(2358, 0);
  const std::size_t at = 2 * 262;
  const std::string name = "Urgent";
  bytes[at] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 1));
  const Bytes colour = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  std::copy(colour.begin(), colour.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 256));
  std::optional<Labels> labels = LabelsFromBytes(bytes);
  ASSERT_TRUE(labels.has_value());
  EXPECT_EQ((*labels)[2], (Label{"Urgent", 0x1234, 0x5678, 0x9ABC}));
  EXPECT_EQ((*labels)[0], (Label{"", 0, 0, 0}));
  EXPECT_EQ(LabelsToBytes(*labels), bytes);
  EXPECT_FALSE(LabelsFromBytes(Bytes(2357, 0)).has_value());
  EXPECT_FALSE(LabelsFromBytes(Bytes(2359, 0)).has_value());

  // A name longer than a length byte can say is cut to 255 characters.
  Labels long_name = defaults;
  long_name[8].name = std::string(300, 'n');
  std::optional<Labels> back = LabelsFromBytes(LabelsToBytes(long_name));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ((*back)[8].name, std::string(255, 'n'));
  EXPECT_EQ((*back)[7], long_name[7]);
}

// --- through the store -------------------------------------------------------

// Every test gets its own XDG folders, so nothing touches the real ones.
class PreferencesStoreTest : public ::testing::Test {
 protected:
  SettingsStore machineWriter() const {
    return SettingsStore::Open(StorePaths{env_.root() + "/xdg/Norvo/Media2/settings.db", {}});
  }
  static RecoverBlock RecoverWith(std::uint8_t byte4, std::uint8_t marker) {
    RecoverBlock r;
    r.bytes[4] = byte4;
    r.bytes[387] = marker;
    return r;
  }

  testing::IsolatedEnvironment env_{"prefs"};
};

TEST_F(PreferencesStoreTest, SavedBlocksComeBackValidated) {
  PreferencesBlock block = PreferencesBlock::Defaults();
  StampFirstRun(block, 3000000000u);
  block.bytes()[0x09A] = 42;
  block.bytes()[0x0AB] = 9;  // invalid: comes back as 2
  PutBigEndian(block, 0x12E4, 2);  // entries of the shortest and the longest length
  PutListEntry(block, 0, "K", 1);
  PutListEntry(block, 1, std::string(63, 'x'), 63);
  SettingsStore store = SettingsStore::Open();
  ASSERT_EQ(SavePreferences(store, block, RecoverWith(1, 0x77)), err::kNone);
  EXPECT_EQ(store.getBinary("Preferences", "Preferences").value_or(Bytes()).size(), 5864u);
  EXPECT_EQ(store.getBinary("Recover", "Recover").value_or(Bytes()).size(), 388u);

  LoadedPreferences loaded = LoadPreferences(SettingsStore::Open(), ScreenSize{1152, 864});
  block.bytes()[0x0AB] = 2;
  block.setWindowRect(Rect(48, 64, 816, 1088));
  EXPECT_EQ(ToBytes(loaded.preferences), ToBytes(block));
  EXPECT_EQ(loaded.preferences.listEntries(), (std::vector<std::string>{"K", std::string(63, 'x')}));
  EXPECT_EQ(loaded.recover.bytes, RecoverWith(1, 0x77).bytes);
}

// Nothing stored, a stored format of 21, blocks one byte off: the defaults.
TEST_F(PreferencesStoreTest, DefaultsStandInForMissingDiscardedOrMissizedBlocks) {
  SettingsStore store = SettingsStore::Open();
  PreferencesBlock expected = PreferencesBlock::Defaults();
  expected.setWindowRect(Rect(80, 64, 944, 1216));
  LoadedPreferences first = LoadPreferences(store, ScreenSize{1280, 1024});
  EXPECT_EQ(ToBytes(first.preferences), ToBytes(expected));
  EXPECT_EQ(first.recover.bytes, RecoverBlock().bytes);

  PreferencesBlock block = PreferencesBlock::Defaults();
  StampFirstRun(block, 12345);
  block.bytes()[0x09A] = 42;
  block.bytes()[0xA4B] = 21;
  ASSERT_EQ(store.putBinary("Preferences", "Preferences", block.bytes()), err::kNone);
  EXPECT_EQ(ToBytes(LoadPreferences(store, std::nullopt).preferences), ToBytes(PreferencesBlock::Defaults()));

  block.bytes()[0xA4B] = 1;
  ASSERT_EQ(store.putBinary("Preferences", "Preferences", block.bytes().first(5863)), err::kNone);
  ASSERT_EQ(store.putBinary("Recover", "Recover", Bytes(389, 1)), err::kNone);
  LoadedPreferences missized = LoadPreferences(store, std::nullopt);
  EXPECT_EQ(ToBytes(missized.preferences), ToBytes(PreferencesBlock::Defaults()));
  EXPECT_EQ(missized.recover.bytes, RecoverBlock().bytes);
}

TEST_F(PreferencesStoreTest, MachineBlocksServeAUserWithoutAnyAndRecoverWhenByteFourIsZero) {
  {
    SettingsStore machine = machineWriter();
    PreferencesBlock block = PreferencesBlock::Defaults();
    block.bytes()[0x0A3] = 1;  // the site turns off the update check
    ASSERT_EQ(machine.putBinary("Preferences", "Preferences", block.bytes()), err::kNone);
    ASSERT_EQ(machine.putBinary("Recover", "Recover", RecoverWith(1, 0xAA).bytes), err::kNone);
  }
  SettingsStore store = SettingsStore::Open();
  LoadedPreferences loaded = LoadPreferences(store, std::nullopt);
  EXPECT_EQ(loaded.preferences.bytes()[0x0A3], 1);
  EXPECT_EQ(loaded.recover.bytes, RecoverWith(1, 0xAA).bytes);

  // The user's own preferences win; the user's Recover only when its byte 4 is set.
  ASSERT_EQ(SavePreferences(store, PreferencesBlock::Defaults(), RecoverWith(0, 0x11)), err::kNone);
  loaded = LoadPreferences(store, std::nullopt);
  EXPECT_EQ(loaded.preferences.bytes()[0x0A3], 0);
  EXPECT_EQ(loaded.recover.bytes, RecoverWith(1, 0xAA).bytes);
  ASSERT_EQ(store.putBinary("Recover", "Recover", RecoverWith(2, 0x22).bytes), err::kNone);
  EXPECT_EQ(LoadPreferences(store, std::nullopt).recover.bytes, RecoverWith(2, 0x22).bytes);

  // A machine block of the wrong size is not taken: the user's stays.
  ASSERT_EQ(machineWriter().putBinary("Recover", "Recover", Bytes(387, 1)), err::kNone);
  ASSERT_EQ(store.putBinary("Recover", "Recover", RecoverWith(0, 0x33).bytes), err::kNone);
  EXPECT_EQ(LoadPreferences(SettingsStore::Open(), std::nullopt).recover.bytes, RecoverWith(0, 0x33).bytes);
}

TEST_F(PreferencesStoreTest, LabelsRoundTripAndOnlyExactSizeIsTaken) {
  SettingsStore store = SettingsStore::Open();
  EXPECT_EQ(LoadLabels(store), DefaultLabels());
  Labels mine = DefaultLabels();
  mine[0] = {"Urgent", 0xFFFF, 0x1000, 0x2000};
  mine[8].name = "Done";
  ASSERT_EQ(SaveLabels(store, mine), err::kNone);
  EXPECT_EQ(GetSetting(store, kLabelsCode, 1)->size(), 2358u);
  EXPECT_EQ(LoadLabels(SettingsStore::Open()), mine);

  Bytes short_by_one = LabelsToBytes(mine);
  short_by_one.pop_back();
  ASSERT_EQ(PutSetting(store, kLabelsCode, 1, short_by_one), err::kNone);
  EXPECT_EQ(LoadLabels(store), DefaultLabels());
}

}  // namespace
}  // namespace norvo::app
