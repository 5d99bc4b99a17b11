// SPDX-License-Identifier: GPL-3.0-or-later
// The program-wide preferences kept in the settings store: the preferences
// block with its validation, the Recover block, and the nine colour labels.
//
// Stored forms (numbers big-endian, text Windows-1252, as everywhere in the
// program's own blocks):
// - key "Preferences", binary value "Preferences": the 5864-byte block;
// - key "Recover", binary value "Recover": the 388-byte block;
// - coded setting 'LABL' 1: nine 262-byte entries, each a name of up to 255
//   characters (length byte, then the characters, zero-filled to 256 bytes)
//   and a colour as three 16-bit components (red, green, blue).
// A stored value of any other length is not taken.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "platform/dates.h"

namespace norvo::app {

inline constexpr std::size_t kPreferencesSize = 5864;
inline constexpr std::size_t kRecoverSize = 388;
inline constexpr char kPreferencesKey[] = "Preferences";
inline constexpr char kPreferencesValue[] = "Preferences";
inline constexpr char kRecoverKey[] = "Recover";
inline constexpr char kRecoverValue[] = "Recover";

// Offsets in the preferences block that have rules of their own.
namespace pref {
inline constexpr std::size_t kFirstRun = 0x000;       // u32, seconds since 1904; 0 = never run
inline constexpr std::size_t kStartupChoice = 0x097;  // u8
inline constexpr std::size_t kNoUpdateCheck = 0x0A3;  // u8, 1 = no check at start-up
// The list copy choice: what Copy puts on the clipboard as tab-separated text.
inline constexpr std::size_t kListCopyFields = 0x0B4;  // u8 0-2: output::ListCopyChoice
// The Transfer to Folder dialog's mode: the one it opens on.
inline constexpr std::size_t kTransferMode = 0x0B6;   // u8 0-2: output::TransferMode
inline constexpr std::size_t kWindowRect = 0x8E4;     // 4 x i16: top, left, bottom, right
// The media view's playlist (media_view.h) and the slide show's default
// options (output/slide_show_options.h).
inline constexpr std::size_t kPlaylistMode = 0x09D;   // u8: 0 = playlist mode on, 1 = off
inline constexpr std::size_t kStillsPause = 0x09E;    // u8: 2, 4 or 8 seconds
inline constexpr std::size_t kSlideShowOptions = 0x400;  // 40 bytes (output/slide_show_format.md)
// Handed to the catalog engine at start-up (engine_preferences.h).
inline constexpr std::size_t kBusyWait = 0x0A1;       // u8 1-5: tens of seconds to wait for another program
inline constexpr std::size_t kJournalKeeping = 0x0A2; // u8 1-2: catalog::JournalKeeping
inline constexpr std::size_t kSortStrength = 0x0AB;   // u8 1-3: SortStrength
inline constexpr std::size_t kSaveReserve = 0x384;    // i32: kilobytes a save leaves free; 0 = the minimum
// Handed to the import code at start-up.
inline constexpr std::size_t kWatchRate = 0x09C;      // u8 0-2: media::WatchRate of new folder watches
inline constexpr std::size_t kWatchUpdates = 0x0B2;   // u8 0-1: 1 = watched folders update without asking
inline constexpr std::size_t kScanJobs = 0x1C4;       // i32 0-256: scanning threads; 0 = one per core
inline constexpr std::size_t kDefaultImportOptions = 0x278;  // 116 bytes: a new catalog's import options
inline constexpr std::size_t kFormat = 0xA4B;         // u8, block format number
inline constexpr std::size_t kListCount = 0x12E4;     // i32
inline constexpr std::size_t kListEntries = 0x12E8;   // kListEntrySize bytes per entry
}  // namespace pref

inline constexpr std::uint8_t kStartupReopenLastCatalog = 3;
inline constexpr std::uint8_t kPreferencesFormat = 1;     // the format this program writes
inline constexpr std::uint8_t kMaxPreferencesFormat = 20;
inline constexpr std::size_t kListEntrySize = 64;         // a length byte and up to 63 characters
inline constexpr std::size_t kMaxListEntryLength = kListEntrySize - 1;
inline constexpr std::size_t kMaxListEntries = (kPreferencesSize - pref::kListEntries) / kListEntrySize;

// What a field of the table gets when its stored value is not valid.
enum class OnInvalid : std::uint8_t {
  kKeep,        // no rule: kept as stored
  kReset,       // set to the reset value
  kResetBlock,  // the whole block is replaced by the built-in defaults
};

// One row of the field table that drives validation.
struct PreferenceField {
  std::size_t offset;
  std::size_t width;                     // 1: unsigned byte; 4: signed 32-bit
  std::int32_t low;                      // valid values: low..high ...
  std::int32_t high;
  std::span<const std::int32_t> one_of;  // ... or, when not empty, exactly these
  OnInvalid on_invalid;
  std::int32_t reset;
  bool valid(std::int32_t value) const;
};
// The table, in offset order.
std::span<const PreferenceField> PreferenceFields();

struct ScreenSize {
  int width = 0;
  int height = 0;
};
struct WindowRect {
  std::int16_t top = 0;
  std::int16_t left = 0;
  std::int16_t bottom = 0;
  std::int16_t right = 0;
  bool operator==(const WindowRect&) const = default;
};
// The first of 1152x864, 1024x768, 800x600 and 640x480 that the screen
// exceeds in both directions, centred on it; else the whole screen.
WindowRect DefaultWindowRect(ScreenSize screen);

class PreferencesBlock {
 public:
  // The built-in defaults: the current format, every reset value in place,
  // everything else zero.
  static PreferencesBlock Defaults();

  std::span<const std::uint8_t> bytes() const { return bytes_; }
  std::span<std::uint8_t> bytes() { return bytes_; }

  std::uint8_t u8(std::size_t offset) const;
  void setU8(std::size_t offset, std::uint8_t value);
  std::uint32_t u32(std::size_t offset) const;
  void setU32(std::size_t offset, std::uint32_t value);
  std::int32_t i32(std::size_t offset) const { return static_cast<std::int32_t>(u32(offset)); }
  void setI32(std::size_t offset, std::int32_t value) { setU32(offset, static_cast<std::uint32_t>(value)); }
  // A field of the table, by its width.
  std::int32_t field(const PreferenceField& f) const;
  void setField(const PreferenceField& f, std::int32_t value);

  std::uint32_t firstRun() const { return u32(pref::kFirstRun); }
  WindowRect windowRect() const;
  void setWindowRect(const WindowRect& rect);
  // The list at 0x12E4 as stored (Windows-1252 text); empty when its count
  // is not valid.
  std::vector<std::string> listEntries() const;

 private:
  std::array<std::uint8_t, kPreferencesSize> bytes_{};
};

struct RecoverBlock {
  std::array<std::uint8_t, kRecoverSize> bytes{};
};
// The byte of the Recover block that decides whether the machine-wide
// block is read instead.
inline constexpr std::size_t kRecoverPresentOffset = 4;

// The rules applied after loading: format number, field resets, the list,
// and the default window rectangle for `screen` (left as stored when no
// screen is known, as for a program without one).
void ValidatePreferences(PreferencesBlock& block, std::optional<ScreenSize> screen);

struct LoadedPreferences {
  PreferencesBlock preferences = PreferencesBlock::Defaults();
  RecoverBlock recover;
};
// Reads both blocks (the user's values, else the machine-wide ones) and
// validates. Missing or wrongly sized values leave the defaults.
LoadedPreferences LoadPreferences(const SettingsStore& store, std::optional<ScreenSize> screen);
// Writes both blocks to the user's store.
ErrorCode SavePreferences(SettingsStore& store, const PreferencesBlock& preferences, const RecoverBlock& recover);
// On the first run (stamp 0) stamps the block with `now`; true when it did.
bool StampFirstRun(PreferencesBlock& block, std::uint32_t now = CurrentDateTime());

// --- labels ------------------------------------------------------------------

inline constexpr std::uint32_t kLabelsCode = 0x4C41424C;  // 'LABL'
inline constexpr std::int32_t kLabelsIndex = 1;
inline constexpr std::size_t kLabelCount = 9;
inline constexpr std::size_t kLabelNameSize = 256;
inline constexpr std::size_t kMaxLabelNameLength = kLabelNameSize - 1;
inline constexpr std::size_t kLabelEntrySize = kLabelNameSize + 3 * 2;
inline constexpr std::size_t kLabelsBlockSize = kLabelCount * kLabelEntrySize;

struct Label {
  std::string name;  // Windows-1252, at most 255 characters are kept
  std::uint16_t red = 0;
  std::uint16_t green = 0;
  std::uint16_t blue = 0;
  bool operator==(const Label&) const = default;
};
using Labels = std::array<Label, kLabelCount>;  // labels 1 to 9

Labels DefaultLabels();
Bytes LabelsToBytes(const Labels& labels);
// nullopt unless `bytes` is exactly kLabelsBlockSize long.
std::optional<Labels> LabelsFromBytes(std::span<const std::uint8_t> bytes);
// The stored labels, or the defaults when there are none of the right size.
Labels LoadLabels(const SettingsStore& store);
ErrorCode SaveLabels(SettingsStore& store, const Labels& labels);

}  // namespace norvo::app
