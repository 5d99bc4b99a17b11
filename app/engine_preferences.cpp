// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/engine_preferences.h"

#include <algorithm>

namespace norvo::app {
namespace {

ImportPreferences& InUse() {
  static ImportPreferences preferences;
  return preferences;
}

}  // namespace

catalog::EngineSettings EngineSettingsFrom(const PreferencesBlock& block) {
  catalog::EngineSettings s;
  const int wait_steps = block.u8(pref::kBusyWait);
  s.busy_wait_ms = (wait_steps >= 1 && wait_steps <= 5 ? wait_steps : 1) * 30000;
  s.journal = block.u8(pref::kJournalKeeping) == 2 ? catalog::JournalKeeping::kEverySave
                                                  : catalog::JournalKeeping::kUntilClose;
  const std::int64_t reserve_kb = std::max<std::int32_t>(block.i32(pref::kSaveReserve), 0);
  s.save_reserve_bytes = std::max(catalog::kSaveHeadroom, reserve_kb * 1024);
  return s;
}

SortStrength SortStrengthFrom(const PreferencesBlock& block) {
  switch (block.u8(pref::kSortStrength)) {
    case 1: return SortStrength::kLetters;
    case 3: return SortStrength::kCase;
    default: return SortStrength::kAccents;
  }
}

ImportPreferences ImportPreferencesFrom(const PreferencesBlock& block) {
  ImportPreferences p;
  const std::uint8_t rate = block.u8(pref::kWatchRate);
  p.watch_rate = rate <= 2 ? static_cast<media::WatchRate>(rate) : media::WatchRate::kEveryMinute;
  p.watch_updates_without_asking = block.u8(pref::kWatchUpdates) == 1;
  const std::int32_t jobs = block.i32(pref::kScanJobs);
  p.scan_jobs = jobs >= 0 && jobs <= 256 ? jobs : 0;
  const auto stored = block.bytes().subspan(pref::kDefaultImportOptions, catalog::kImportOptionsSize);
  if (std::any_of(stored.begin(), stored.end(), [](std::uint8_t b) { return b != 0; })) {
    std::copy(stored.begin(), stored.end(), p.default_import_options.bytes.begin());
  }
  return p;
}

void ApplyPreferences(const PreferencesBlock& block) {
  catalog::SetEngineSettings(EngineSettingsFrom(block));
  SetUserSortStrength(SortStrengthFrom(block));
  InUse() = ImportPreferencesFrom(block);
}

const ImportPreferences& ImportPreferencesInUse() { return InUse(); }

void SetDefaultImportOptions(PreferencesBlock& block, const catalog::ImportOptions& options) {
  std::copy(options.bytes.begin(), options.bytes.end(),
            block.bytes().begin() + static_cast<std::ptrdiff_t>(pref::kDefaultImportOptions));
  InUse().default_import_options = options;
}

ErrorCode SetDefaultImportOptions(SettingsStore& store, const catalog::ImportOptions& options) {
  LoadedPreferences loaded = LoadPreferences(store, std::nullopt);
  SetDefaultImportOptions(loaded.preferences, options);
  return SavePreferences(store, loaded.preferences, loaded.recover);
}

}  // namespace norvo::app
