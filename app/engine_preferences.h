// SPDX-License-Identifier: GPL-3.0-or-later
// The preferences that other layers act on, handed over once at start-up
// (the desktop program's InitInstance and every norvo-cli run):
//
// | offset | width | value            | goes to                                   |
// |--------|-------|------------------|-------------------------------------------|
// | 0x0A1  | 1     | 1-5 (1)          | catalog engine: wait n x 30 s for another program |
// | 0x0A2  | 1     | 1-2 (1)          | catalog engine: journal kept until close / deleted every save |
// | 0x0AB  | 1     | 1-3 (2)          | sorting: letters / accents / case (SortStrength) |
// | 0x384  | 4     | KB (0)           | catalog engine: free space a save leaves  |
// | 0x09C  | 1     | 0-2 (1)          | import: watch rate of a new folder watch  |
// | 0x0B2  | 1     | 0-1 (0)          | import: watched folders update without asking |
// | 0x1C4  | 4     | 0-256 (0)        | import: scanning threads, 0 = one per core |
// | 0x278  | 116   | import options   | import: what a new catalog starts from; all zero = built in |
#pragma once

#include "app/preferences.h"
#include "catalog/catalog_tables.h"
#include "catalog/engine_settings.h"
#include "media/folder_watch.h"
#include "platform/unicode_text.h"

namespace norvo::app {

struct ImportPreferences {
  media::WatchRate watch_rate = media::WatchRate::kEveryMinute;
  bool watch_updates_without_asking = false;
  int scan_jobs = 0;  // 0: one per core
  catalog::ImportOptions default_import_options = catalog::ImportOptions::Defaults();
};

// What the block says. Validation (preferences.h) resets only the fields
// with rules of their own; the others are read here into their ranges.
catalog::EngineSettings EngineSettingsFrom(const PreferencesBlock& block);
SortStrength SortStrengthFrom(const PreferencesBlock& block);
ImportPreferences ImportPreferencesFrom(const PreferencesBlock& block);

// Hands the engine and sorting their settings and keeps the import ones for
// ImportPreferencesInUse(). Call before any catalog opens.
void ApplyPreferences(const PreferencesBlock& block);
const ImportPreferences& ImportPreferencesInUse();

// Makes `options` the import options of catalogs created from now on, in
// this process and in `block` (as applying the import options pages of a
// catalog does); the second form also stores the block.
void SetDefaultImportOptions(PreferencesBlock& block, const catalog::ImportOptions& options);
ErrorCode SetDefaultImportOptions(SettingsStore& store, const catalog::ImportOptions& options);

}  // namespace norvo::app
