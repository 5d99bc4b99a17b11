// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/engine_settings.h"

#include <algorithm>

namespace norvo::catalog {
namespace {

EngineSettings& Current() {
  static EngineSettings settings;
  return settings;
}

}  // namespace

const EngineSettings& GetEngineSettings() { return Current(); }

void SetEngineSettings(const EngineSettings& settings) {
  EngineSettings s = settings;
  s.busy_wait_ms = std::clamp(s.busy_wait_ms, 0, 24 * 3600 * 1000);
  if (s.journal != JournalKeeping::kEverySave) s.journal = JournalKeeping::kUntilClose;
  s.save_reserve_bytes = std::clamp<std::int64_t>(s.save_reserve_bytes, kSaveHeadroom, kMaxCatalogBytes);
  Current() = s;
}

}  // namespace norvo::catalog
