// SPDX-License-Identifier: GPL-3.0-or-later
// The scan task: scans a catalog's new items one per timer tick, so that the
// desktop program's window stays responsive between items. The program's
// timer calls tick() at the times it returns; the task does not own a timer
// or a thread, and it runs on the catalog's thread.
//
// Progress goes to the callback: kStart (0, count) before the first item,
// kStep (n, count) as item n is taken, kEnd (count, count) at the end or on
// cancel. An answer of err::kUserCancelled cancels. A tick is passed over while the busy
// check says so. Ticks come every 150 ms; after a tick that took 150 ms or
// more, the next comes a full 150 ms after it ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "catalog/catalog.h"
#include "media/item_scan.h"

namespace norvo::media {

class ScanTask {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kTickInterval{150};
  // True while the program wants the ticks passed over (a modal loop, a
  // drag in progress ...).
  using BusyCheck = std::function<bool()>;

  ScanTask(catalog::Catalog& catalog, std::vector<std::uint32_t> item_ids, ScanOptions options, ScanProgress progress,
           BusyCheck busy = {}, std::function<Clock::time_point()> now = Clock::now);

  // Reports phase 0. Returns when the first tick is due, or nothing when the
  // callback cancelled at once (phase 2 has then been reported).
  std::optional<Clock::time_point> start();
  // One tick; returns when the next is due, or nothing once the task is done.
  std::optional<Clock::time_point> tick();

  bool finished() const { return finished_; }
  const ScanSummary& summary() const { return summary_; }

 private:
  void finish();

  catalog::Catalog& catalog_;
  std::vector<std::uint32_t> ids_;
  ScanOptions options_;
  ScanProgress progress_;
  BusyCheck busy_;
  std::function<Clock::time_point()> now_;
  std::size_t next_ = 0;
  Clock::time_point due_{};
  bool finished_ = false;
  ScanSummary summary_;
};

}  // namespace norvo::media
