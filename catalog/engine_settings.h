// SPDX-License-Identifier: GPL-3.0-or-later
// Program-wide settings of the catalog engine. The program hands them over
// once at start-up, from the user's preferences, before any catalog opens;
// the engine only reads them afterwards, so they need no lock.
#pragma once

#include <cstdint>

#include "catalog/limits.h"

namespace norvo::catalog {

// When the journal file beside a catalog is deleted.
enum class JournalKeeping : std::uint8_t {
  kUntilClose = 1,  // emptied at each save, deleted at close: repeated saves flush the folder once
  kEverySave = 2,   // deleted after every save: nothing is left beside the catalog between saves
};

struct EngineSettings {
  // How long opening or saving waits for another program that is changing
  // the same catalog.
  int busy_wait_ms = 30000;
  JournalKeeping journal = JournalKeeping::kUntilClose;
  // Free disk space a save leaves beyond what it writes; never below
  // kSaveHeadroom.
  std::int64_t save_reserve_bytes = kSaveHeadroom;
};

const EngineSettings& GetEngineSettings();
// Values out of range are brought back into it.
void SetEngineSettings(const EngineSettings& settings);

}  // namespace norvo::catalog
