// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/preferences.h"

#include <algorithm>
#include <limits>

#include "platform/byte_io.h"

namespace norvo::app {
namespace {

inline constexpr std::int32_t kTwoFourOrEight[] = {2, 4, 8};

// The fields with rules, in offset order. Fields another module owns and
// that have no rule here are not listed; they keep what was stored.
inline constexpr PreferenceField kFields[] = {
    {pref::kStartupChoice, 1, 0, 255, {}, OnInvalid::kKeep, 0},
    {0x09A, 1, 1, 100, {}, OnInvalid::kReset, 5},
    {pref::kWatchRate, 1, 0, 2, {}, OnInvalid::kReset, 1},
    {pref::kPlaylistMode, 1, 0, 1, {}, OnInvalid::kReset, 0},
    {pref::kStillsPause, 1, 0, 0, kTwoFourOrEight, OnInvalid::kReset, 4},
    {pref::kBusyWait, 1, 1, 5, {}, OnInvalid::kReset, 1},
    {pref::kJournalKeeping, 1, 1, 2, {}, OnInvalid::kReset, 1},
    {pref::kNoUpdateCheck, 1, 0, 255, {}, OnInvalid::kKeep, 0},
    {0x0A7, 1, 1, 1, {}, OnInvalid::kReset, 1},
    {0x0A8, 1, 1, 3, {}, OnInvalid::kReset, 1},
    {pref::kSortStrength, 1, 1, 3, {}, OnInvalid::kReset, 2},
    {pref::kListCopyFields, 1, 0, 2, {}, OnInvalid::kReset, 0},
    {pref::kTransferMode, 1, 0, 2, {}, OnInvalid::kReset, 0},
    {0x8E0, 4, 0, 2, {}, OnInvalid::kReset, 0},
    {pref::kFormat, 1, 1, kMaxPreferencesFormat, {}, OnInvalid::kResetBlock, kPreferencesFormat},
};

// Window sizes tried for the default catalog window, largest first.
struct WindowSize {
  int width;
  int height;
};
inline constexpr WindowSize kWindowSizes[] = {{1152, 864}, {1024, 768}, {800, 600}, {640, 480}};

std::int16_t Coordinate(int value) {
  return static_cast<std::int16_t>(
      std::clamp(value, int{std::numeric_limits<std::int16_t>::min()}, int{std::numeric_limits<std::int16_t>::max()}));
}

// The list is valid when its count lies in 1..kMaxListEntries and every
// entry's length byte in 1..63.
bool ListIsValid(const PreferencesBlock& block) {
  const std::int32_t count = block.i32(pref::kListCount);
  if (count < 1 || static_cast<std::size_t>(count) > kMaxListEntries) return false;
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    const std::uint8_t length = block.u8(pref::kListEntries + i * kListEntrySize);
    if (length == 0 || length > kMaxListEntryLength) return false;
  }
  return true;
}

template <std::size_t Size>
bool CopyIfSized(const std::optional<Bytes>& value, std::array<std::uint8_t, Size>& into) {
  if (!value || value->size() != Size) return false;
  std::copy(value->begin(), value->end(), into.begin());
  return true;
}

}  // namespace

bool PreferenceField::valid(std::int32_t value) const {
  if (!one_of.empty()) return std::find(one_of.begin(), one_of.end(), value) != one_of.end();
  return value >= low && value <= high;
}

std::span<const PreferenceField> PreferenceFields() { return kFields; }

WindowRect DefaultWindowRect(ScreenSize screen) {
  for (const WindowSize& size : kWindowSizes) {
    if (screen.width > size.width && screen.height > size.height) {
      const int left = (screen.width - size.width) / 2;
      const int top = (screen.height - size.height) / 2;
      return {Coordinate(top), Coordinate(left), Coordinate(top + size.height), Coordinate(left + size.width)};
    }
  }
  return {0, 0, Coordinate(screen.height), Coordinate(screen.width)};
}

// --- the block ---------------------------------------------------------------

PreferencesBlock PreferencesBlock::Defaults() {
  PreferencesBlock block;
  for (const PreferenceField& f : kFields) {
    if (f.on_invalid != OnInvalid::kKeep) block.setField(f, f.reset);
  }
  return block;
}

std::uint8_t PreferencesBlock::u8(std::size_t offset) const { return offset < bytes_.size() ? bytes_[offset] : 0; }

void PreferencesBlock::setU8(std::size_t offset, std::uint8_t value) {
  if (offset < bytes_.size()) bytes_[offset] = value;
}

std::uint32_t PreferencesBlock::u32(std::size_t offset) const {
  ByteReader reader(bytes_);
  reader.seek(offset);
  return reader.u32be();
}

void PreferencesBlock::setU32(std::size_t offset, std::uint32_t value) { FixedBytes(bytes_).setU32be(offset, value); }

std::int32_t PreferencesBlock::field(const PreferenceField& f) const {
  return f.width == 1 ? std::int32_t{u8(f.offset)} : i32(f.offset);
}

void PreferencesBlock::setField(const PreferenceField& f, std::int32_t value) {
  if (f.width == 1) {
    setU8(f.offset, static_cast<std::uint8_t>(value));
  } else {
    setI32(f.offset, value);
  }
}

WindowRect PreferencesBlock::windowRect() const {
  ByteReader reader(bytes_);
  reader.seek(pref::kWindowRect);
  WindowRect rect;
  rect.top = reader.i16be();
  rect.left = reader.i16be();
  rect.bottom = reader.i16be();
  rect.right = reader.i16be();
  return rect;
}

void PreferencesBlock::setWindowRect(const WindowRect& rect) {
  FixedBytes fixed(bytes_);
  fixed.setU16be(pref::kWindowRect, static_cast<std::uint16_t>(rect.top));
  fixed.setU16be(pref::kWindowRect + 2, static_cast<std::uint16_t>(rect.left));
  fixed.setU16be(pref::kWindowRect + 4, static_cast<std::uint16_t>(rect.bottom));
  fixed.setU16be(pref::kWindowRect + 6, static_cast<std::uint16_t>(rect.right));
}

std::vector<std::string> PreferencesBlock::listEntries() const {
  std::vector<std::string> entries;
  if (!ListIsValid(*this)) return entries;
  const auto count = static_cast<std::size_t>(i32(pref::kListCount));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = pref::kListEntries + i * kListEntrySize;
    const auto* text = reinterpret_cast<const char*>(bytes_.data() + at + 1);
    entries.emplace_back(text, bytes_[at]);
  }
  return entries;
}

// --- validation, loading, saving ---------------------------------------------

void ValidatePreferences(PreferencesBlock& block, std::optional<ScreenSize> screen) {
  for (const PreferenceField& f : kFields) {
    if (f.on_invalid == OnInvalid::kResetBlock && !f.valid(block.field(f))) {
      block = PreferencesBlock::Defaults();
      break;
    }
  }
  for (const PreferenceField& f : kFields) {
    if (f.on_invalid == OnInvalid::kReset && !f.valid(block.field(f))) block.setField(f, f.reset);
  }
  if (!ListIsValid(block)) block.setI32(pref::kListCount, 0);
  if (screen) block.setWindowRect(DefaultWindowRect(*screen));
}

LoadedPreferences LoadPreferences(const SettingsStore& store, std::optional<ScreenSize> screen) {
  LoadedPreferences loaded;
  PreferencesBlock& block = loaded.preferences;
  std::array<std::uint8_t, kPreferencesSize> stored{};
  if (CopyIfSized(store.getBinary(kPreferencesKey, kPreferencesValue), stored)) {
    std::copy(stored.begin(), stored.end(), block.bytes().begin());
  }
  // The machine-wide Recover block stands in for a user's block whose byte 4
  // is 0, including one the user does not have.
  std::array<std::uint8_t, kRecoverSize>& recover = loaded.recover.bytes;
  CopyIfSized(store.getBinary(kRecoverKey, kRecoverValue, SettingsStore::Scope::kUser), recover);
  if (recover[kRecoverPresentOffset] == 0) {
    CopyIfSized(store.getBinary(kRecoverKey, kRecoverValue, SettingsStore::Scope::kMachine), recover);
  }
  ValidatePreferences(block, screen);
  return loaded;
}

ErrorCode SavePreferences(SettingsStore& store, const PreferencesBlock& preferences, const RecoverBlock& recover) {
  ErrorCode e = store.putBinary(kPreferencesKey, kPreferencesValue, preferences.bytes());
  ErrorCode r = store.putBinary(kRecoverKey, kRecoverValue, recover.bytes);
  return e != err::kNone ? e : r;
}

bool StampFirstRun(PreferencesBlock& block, std::uint32_t now) {
  if (block.firstRun() != 0) return false;
  block.setU32(pref::kFirstRun, now);
  return true;
}

// --- labels ------------------------------------------------------------------

Labels DefaultLabels() {
  return {{
      {"Red", 0xFFFF, 0x0000, 0x0000},
      {"Green", 0x0000, 0xC000, 0x0000},
      {"Blue", 0x0000, 0x0000, 0xFFFF},
      {"Brown", 0x9999, 0x6666, 0x3333},
      {"Magenta", 0xFFFF, 0x0000, 0xFFFF},
      {"Orange", 0xFFFF, 0x8000, 0x0000},
      {"Yellow", 0xFFFF, 0xFFFF, 0x0000},
      {"Cyan", 0x0000, 0xFFFF, 0xFFFF},
      {"Gray", 0x8000, 0x8000, 0x8000},
  }};
}

Bytes LabelsToBytes(const Labels& labels) {
  ByteWriter writer(kLabelsBlockSize);
  for (const Label& label : labels) {
    const std::size_t length = std::min(label.name.size(), kMaxLabelNameLength);
    writer.u8(static_cast<std::uint8_t>(length));
    writer.bytes(std::span(reinterpret_cast<const std::uint8_t*>(label.name.data()), length));
    writer.zeros(kMaxLabelNameLength - length);
    writer.u16be(label.red);
    writer.u16be(label.green);
    writer.u16be(label.blue);
  }
  return writer.take();
}

std::optional<Labels> LabelsFromBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kLabelsBlockSize) return std::nullopt;
  ByteReader reader(bytes);
  Labels labels;
  for (Label& label : labels) {
    std::span<const std::uint8_t> name = reader.bytes(kLabelNameSize);
    label.name.assign(reinterpret_cast<const char*>(name.data()) + 1, name[0]);
    label.red = reader.u16be();
    label.green = reader.u16be();
    label.blue = reader.u16be();
  }
  return labels;
}

Labels LoadLabels(const SettingsStore& store) {
  std::optional<Bytes> stored = GetSetting(store, kLabelsCode, kLabelsIndex);
  std::optional<Labels> labels = stored ? LabelsFromBytes(*stored) : std::nullopt;
  return labels ? *labels : DefaultLabels();
}

ErrorCode SaveLabels(SettingsStore& store, const Labels& labels) {
  return PutSetting(store, kLabelsCode, kLabelsIndex, LabelsToBytes(labels));
}

}  // namespace norvo::app
