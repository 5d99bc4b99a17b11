// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/test_environment.h"
#include "app/preferences.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/byte_io.h"
#include "platform/dates.h"

namespace norvo::app {
namespace {

namespace fs = std::filesystem;

// Stored bytes are set by hand here, independently of the block's accessors.
void PutByte(PreferencesBlock& block, std::size_t offset, std::uint8_t value) { block.bytes()[offset] = value; }
void PutBigEndian32(PreferencesBlock& block, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) block.bytes()[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}
std::uint32_t BigEndian32(const PreferencesBlock& block, std::size_t offset) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | block.bytes()[offset + i];
  return v;
}
void PutListEntry(PreferencesBlock& block, std::size_t index, const std::string& text, std::uint8_t length) {
  const std::size_t at = 0x12E8 + index * 64;
  block.bytes()[at] = length;
  for (std::size_t i = 0; i < text.size(); ++i) block.bytes()[at + 1 + i] = static_cast<std::uint8_t>(text[i]);
}
Bytes ToBytes(const PreferencesBlock& block) { return Bytes(block.bytes().begin(), block.bytes().end()); }
WindowRect Rect(int top, int left, int bottom, int right) {
  return {static_cast<std::int16_t>(top), static_cast<std::int16_t>(left), static_cast<std::int16_t>(bottom),
          static_cast<std::int16_t>(right)};
}

TEST(PreferencesValidation, FormatOutsideOneToTwentyDiscardsTheWholeBlock) {
  // The defaults pass their own rules untouched.
  PreferencesBlock defaults = PreferencesBlock::Defaults();
  EXPECT_EQ(defaults.bytes()[0xA4B], 1);
  ValidatePreferences(defaults, std::nullopt);
  EXPECT_EQ(ToBytes(defaults), ToBytes(PreferencesBlock::Defaults()));

  for (int format : {0, 21, 255}) {
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutBigEndian32(block, 0x000, 123456);
    PutByte(block, 0x097, 3);
    PutByte(block, 0x09A, 77);
    PutByte(block, 0x0B2, 9);
    PutByte(block, 0xA4B, static_cast<std::uint8_t>(format));
    ValidatePreferences(block, std::nullopt);
    EXPECT_EQ(ToBytes(block), ToBytes(PreferencesBlock::Defaults())) << "format " << format;
  }
  // A valid format keeps the block, fields without rules included.
  for (int format : {1, 20}) {
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutBigEndian32(block, 0x000, 0xDEADBEEF);
    PutByte(block, 0x097, 250);
    PutByte(block, 0x09A, 77);
    PutByte(block, 0x0A3, 1);
    PutBigEndian32(block, 0x384, 0x01020304);
    PutByte(block, 5863, 0x42);
    PutByte(block, 0xA4B, static_cast<std::uint8_t>(format));
    const Bytes before = ToBytes(block);
    ValidatePreferences(block, std::nullopt);
    EXPECT_EQ(ToBytes(block), before) << "format " << format;
  }
}

// Each field with a reset value: values just outside its range are reset,
// the values at its edges are kept.
TEST(PreferencesValidation, FieldsOutsideTheirValuesGetTheirResetValue) {
  struct Case {
    std::size_t offset;
    std::vector<std::uint8_t> kept;
    std::vector<std::uint8_t> reset;
    std::uint8_t reset_to;
  };
  const std::vector<Case> cases = {
      {0x09A, {1, 100}, {0, 101, 255}, 5},  {0x09C, {0, 2}, {3, 200}, 1},       {0x09D, {0, 1}, {2}, 0},
      {0x09E, {2, 4, 8}, {0, 1, 3, 6, 16}, 4}, {0x0A1, {1, 5}, {0, 6}, 1},      {0x0A2, {1, 2}, {0, 3}, 1},
      {0x0A7, {1}, {0, 2}, 1},                {0x0A8, {1, 3}, {0, 4}, 1},      {0x0AB, {1, 3}, {0, 4}, 2},
  };
  for (const Case& c : cases) {
    for (std::uint8_t v : c.kept) {
      PreferencesBlock block = PreferencesBlock::Defaults();
      PutByte(block, c.offset, v);
      ValidatePreferences(block, std::nullopt);
      EXPECT_EQ(block.bytes()[c.offset], v) << std::hex << c.offset << " value " << int(v);
    }
    for (std::uint8_t v : c.reset) {
      PreferencesBlock block = PreferencesBlock::Defaults();
      PutByte(block, c.offset, v);
      ValidatePreferences(block, std::nullopt);
      EXPECT_EQ(block.bytes()[c.offset], c.reset_to) << std::hex << c.offset << " value " << int(v);
    }
  }

  // 0x8E0 is a signed 32-bit number.
  for (std::uint32_t v : {0xFFFFFFFFu, 3u, 0x00000100u, 0x80000000u}) {
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutBigEndian32(block, 0x8E0, v);
    ValidatePreferences(block, std::nullopt);
    EXPECT_EQ(BigEndian32(block, 0x8E0), 0u) << std::hex << v;
  }
  PreferencesBlock two = PreferencesBlock::Defaults();
  PutBigEndian32(two, 0x8E0, 2);
  ValidatePreferences(two, std::nullopt);
  EXPECT_EQ(BigEndian32(two, 0x8E0), 2u);
}

TEST(PreferencesValidation, ListIsKeptOnlyWhenCountAndEveryLengthAreValid) {
  PreferencesBlock good = PreferencesBlock::Defaults();
  PutBigEndian32(good, 0x12E4, 2);
  PutListEntry(good, 0, "Holiday", 7);
  PutListEntry(good, 1, std::string(63, 'x'), 63);
  ValidatePreferences(good, std::nullopt);
  EXPECT_EQ(BigEndian32(good, 0x12E4), 2u);
  EXPECT_EQ(good.listEntries(), (std::vector<std::string>{"Holiday", std::string(63, 'x')}));

  struct Bad {
    const char* why;
    std::uint32_t count;
    std::uint8_t second_length;
  };
  for (const Bad& bad : {Bad{"negative count", 0xFFFFFFFFu, 3}, Bad{"entry of length 0", 2, 0},
                         Bad{"entry of length 64", 2, 64}, Bad{"more entries than fit", 17, 3}}) {
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutBigEndian32(block, 0x12E4, bad.count);
    PutListEntry(block, 0, "one", 3);
    PutListEntry(block, 1, "two", bad.second_length);
    for (std::size_t i = 2; i < 16; ++i) PutListEntry(block, i, "abc", 3);
    ValidatePreferences(block, std::nullopt);
    EXPECT_EQ(BigEndian32(block, 0x12E4), 0u) << bad.why;
    EXPECT_TRUE(block.listEntries().empty()) << bad.why;
    // Only the count changes; the entries' bytes stay.
    EXPECT_EQ(block.bytes()[0x12E8 + 1], 'o') << bad.why;
  }
}

TEST(PreferencesWindow, FirstSizeTheScreenExceedsIsCentred) {
  EXPECT_EQ(DefaultWindowRect({1280, 1024}), Rect(80, 64, 944, 1216));
  // Equal is not enough: a 1152x864 screen gets the next size down.
  EXPECT_EQ(DefaultWindowRect({1152, 864}), Rect(48, 64, 816, 1088));
  EXPECT_EQ(DefaultWindowRect({1153, 864}), Rect(48, 64, 816, 1088));
  EXPECT_EQ(DefaultWindowRect({1920, 1080}), Rect(108, 384, 972, 1536));
  EXPECT_EQ(DefaultWindowRect({1025, 769}), Rect(0, 0, 768, 1024));
  EXPECT_EQ(DefaultWindowRect({1024, 768}), Rect(84, 112, 684, 912));
  EXPECT_EQ(DefaultWindowRect({801, 601}), Rect(0, 0, 600, 800));
  EXPECT_EQ(DefaultWindowRect({700, 500}), Rect(10, 30, 490, 670));
  // Nothing fits: the whole screen.
  EXPECT_EQ(DefaultWindowRect({640, 480}), Rect(0, 0, 480, 640));
  EXPECT_EQ(DefaultWindowRect({2000, 400}), Rect(0, 0, 400, 2000));
}

TEST(PreferencesWindow, RectangleIsFourBigEndianNumbersReplacedWhenTheScreenIsKnown) {
  PreferencesBlock block = PreferencesBlock::Defaults();
  PutBigEndian32(block, 0x8E4, 0x00010002);
  PutBigEndian32(block, 0x8E8, 0x00030004);
  ValidatePreferences(block, std::nullopt);
  EXPECT_EQ(block.windowRect(), Rect(1, 2, 3, 4));
  ValidatePreferences(block, ScreenSize{1280, 1024});
  EXPECT_EQ(BigEndian32(block, 0x8E4), (80u << 16) | 64u);
  EXPECT_EQ(BigEndian32(block, 0x8E8), (944u << 16) | 1216u);
}

TEST(PreferencesFirstRun, StampedOnceWithTheCurrentDate) {
  PreferencesBlock block = PreferencesBlock::Defaults();
  const std::uint32_t before = CurrentDateTime();
  EXPECT_TRUE(StampFirstRun(block));
  const std::uint32_t after = CurrentDateTime();
  EXPECT_GE(BigEndian32(block, 0), before);
  EXPECT_LE(BigEndian32(block, 0), after);
  EXPECT_FALSE(StampFirstRun(block, after + 1000));
  EXPECT_LE(block.firstRun(), after);
}

// --- labels ------------------------------------------------------------------

TEST(Labels, DefaultsAreNineNamedDistinctColours) {
  const Labels labels = DefaultLabels();
  const char* names[] = {"Red", "Green", "Blue", "Brown", "Magenta", "Orange", "Yellow", "Cyan", "Gray"};
  std::set<std::tuple<int, int, int>> colours;
  for (std::size_t i = 0; i < kLabelCount; ++i) {
    EXPECT_EQ(labels[i].name, names[i]);
    colours.emplace(labels[i].red, labels[i].green, labels[i].blue);
  }
  EXPECT_EQ(colours.size(), kLabelCount);
}

TEST(Labels, BlockIsNineEntriesOfNameAndColour) {
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
  Labels long_name = DefaultLabels();
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
  void SetUp() override {
    env_.emplace("prefs");
    root_ = env_->root();
  }
  void TearDown() override {
    env_.reset();
  }
  SettingsStore machineWriter() const {
    return SettingsStore::Open(StorePaths{root_ + "/xdg/Norvo/Media2/settings.db", {}});
  }
  static RecoverBlock RecoverWith(std::uint8_t byte4, std::uint8_t marker) {
    RecoverBlock r;
    r.bytes[4] = byte4;
    r.bytes[387] = marker;
    return r;
  }

  std::string root_;
  std::optional<testing::IsolatedEnvironment> env_;
};

TEST_F(PreferencesStoreTest, SavedBlocksComeBackValidated) {
  {
    SettingsStore store = SettingsStore::Open();
    PreferencesBlock block = PreferencesBlock::Defaults();
    StampFirstRun(block, 3000000000u);
    PutByte(block, 0x097, 3);
    PutByte(block, 0x09A, 42);
    PutByte(block, 0x0AB, 9);  // invalid: comes back as 2
    PutBigEndian32(block, 0x12E4, 1);
    PutListEntry(block, 0, "Kept", 4);
    ASSERT_EQ(SavePreferences(store, block, RecoverWith(1, 0x77)), err::kNone);
  }
  SettingsStore store = SettingsStore::Open();
  EXPECT_EQ(store.getBinary("Preferences", "Preferences")->size(), 5864u);
  EXPECT_EQ(store.getBinary("Recover", "Recover")->size(), 388u);
  LoadedPreferences loaded = LoadPreferences(store, ScreenSize{1152, 864});
  const PreferencesBlock& p = loaded.preferences;
  EXPECT_EQ(p.firstRun(), 3000000000u);
  EXPECT_EQ(p.bytes()[0x097], 3);
  EXPECT_EQ(p.bytes()[0x09A], 42);
  EXPECT_EQ(p.bytes()[0x0AB], 2);
  EXPECT_EQ(p.listEntries(), std::vector<std::string>{"Kept"});
  EXPECT_EQ(p.windowRect(), Rect(48, 64, 816, 1088));
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
  PutByte(block, 0x09A, 42);
  PutByte(block, 0xA4B, 21);
  ASSERT_EQ(store.putBinary("Preferences", "Preferences", block.bytes()), err::kNone);
  EXPECT_EQ(ToBytes(LoadPreferences(store, std::nullopt).preferences), ToBytes(PreferencesBlock::Defaults()));

  PutByte(block, 0xA4B, 1);
  Bytes short_block(block.bytes().begin(), block.bytes().end() - 1);
  ASSERT_EQ(store.putBinary("Preferences", "Preferences", short_block), err::kNone);
  ASSERT_EQ(store.putBinary("Recover", "Recover", Bytes(389, 1)), err::kNone);
  LoadedPreferences missized = LoadPreferences(store, std::nullopt);
  EXPECT_EQ(ToBytes(missized.preferences), ToBytes(PreferencesBlock::Defaults()));
  EXPECT_EQ(missized.recover.bytes, RecoverBlock().bytes);
}

TEST_F(PreferencesStoreTest, MachinePreferencesServeAUserWithoutAny) {
  {
    SettingsStore machine = machineWriter();
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutByte(block, 0x0A3, 1);  // the site turns off the update check
    ASSERT_EQ(machine.putBinary("Preferences", "Preferences", block.bytes()), err::kNone);
  }
  SettingsStore store = SettingsStore::Open();
  EXPECT_EQ(LoadPreferences(store, std::nullopt).preferences.bytes()[0x0A3], 1);
  ASSERT_EQ(SavePreferences(store, PreferencesBlock::Defaults(), RecoverBlock()), err::kNone);
  EXPECT_EQ(LoadPreferences(store, std::nullopt).preferences.bytes()[0x0A3], 0);
}

TEST_F(PreferencesStoreTest, RecoverFallsBackToTheMachineWhenByteFourIsZero) {
  {
    SettingsStore machine = machineWriter();
    ASSERT_EQ(machine.putBinary("Recover", "Recover", RecoverWith(1, 0xAA).bytes), err::kNone);
  }
  SettingsStore store = SettingsStore::Open();
  // The user has none: the machine's.
  EXPECT_EQ(LoadPreferences(store, std::nullopt).recover.bytes, RecoverWith(1, 0xAA).bytes);
  // The user's byte 4 is 0: the machine's again.
  ASSERT_EQ(store.putBinary("Recover", "Recover", RecoverWith(0, 0x11).bytes), err::kNone);
  EXPECT_EQ(LoadPreferences(store, std::nullopt).recover.bytes, RecoverWith(1, 0xAA).bytes);
  // The user's byte 4 is set: the user's.
  ASSERT_EQ(store.putBinary("Recover", "Recover", RecoverWith(2, 0x22).bytes), err::kNone);
  EXPECT_EQ(LoadPreferences(store, std::nullopt).recover.bytes, RecoverWith(2, 0x22).bytes);

  // A machine block of the wrong size is not taken: the user's stays.
  {
    SettingsStore machine = machineWriter();
    ASSERT_EQ(machine.putBinary("Recover", "Recover", Bytes(387, 1)), err::kNone);
  }
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

  ASSERT_EQ(PutSetting(store, kLabelsCode, 1, std::nullopt), err::kNone);
  EXPECT_EQ(LoadLabels(store), DefaultLabels());
}

TEST_F(PreferencesStoreTest, CorruptDatabaseStartsWithTheDefaults) {
  {
    SettingsStore store = SettingsStore::Open();
    PreferencesBlock block = PreferencesBlock::Defaults();
    PutByte(block, 0x09A, 42);
    ASSERT_EQ(SavePreferences(store, block, RecoverWith(1, 1)), err::kNone);
    ASSERT_EQ(SaveLabels(store, Labels{}), err::kNone);
  }
  const std::string db = root_ + "/config/Norvo/Media2/settings.db";
  Bytes garbage(fs::file_size(db));
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::ofstream(db, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(garbage.data()),
                                                             static_cast<std::streamsize>(garbage.size()));

  SettingsStore store = SettingsStore::Open();
  EXPECT_EQ(store.warnings().size(), 1u);
  LoadedPreferences loaded = LoadPreferences(store, std::nullopt);
  EXPECT_EQ(ToBytes(loaded.preferences), ToBytes(PreferencesBlock::Defaults()));
  EXPECT_EQ(loaded.recover.bytes, RecoverBlock().bytes);
  EXPECT_EQ(LoadLabels(store), DefaultLabels());
}

}  // namespace
}  // namespace norvo::app
