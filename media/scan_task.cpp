// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/scan_task.h"

#include <utility>

namespace norvo::media {

ScanTask::ScanTask(catalog::Catalog& catalog, std::vector<std::uint32_t> item_ids, ScanOptions options,
                   ScanProgress progress, BusyCheck busy, std::function<Clock::time_point()> now)
    : catalog_(catalog),
      ids_(std::move(item_ids)),
      options_(options),
      progress_(std::move(progress)),
      busy_(std::move(busy)),
      now_(std::move(now)) {}

void ScanTask::finish() {
  if (finished_) return;
  finished_ = true;
  const int count = static_cast<int>(ids_.size());
  if (progress_) progress_(ProgressPhase::kEnd, count, count);
  ids_.clear();
  ids_.shrink_to_fit();
}

std::optional<ScanTask::Clock::time_point> ScanTask::start() {
  const int count = static_cast<int>(ids_.size());
  if (progress_ && progress_(ProgressPhase::kStart, 0, count) == err::kUserCancelled) {
    finish();
    return std::nullopt;
  }
  due_ = now_() + kTickInterval;
  return due_;
}

std::optional<ScanTask::Clock::time_point> ScanTask::tick() {
  if (finished_) return std::nullopt;
  const Clock::time_point began = now_();
  if (busy_ && busy_()) {
    due_ += kTickInterval;
    return due_;
  }
  if (next_ >= ids_.size()) {
    finish();
    return std::nullopt;
  }
  const std::uint32_t id = ids_[next_++];
  const int count = static_cast<int>(ids_.size());
  if (progress_ && progress_(ProgressPhase::kStep, static_cast<int>(next_), count) == err::kUserCancelled) {
    finish();
    return std::nullopt;
  }
  // An item removed since the task began is passed over.
  if (int cell = catalog_.cellOf(id); cell != 0) {
    ErrorCode e = ScanItem(catalog_, cell, options_);
    if (e == err::kNone) {
      ++summary_.scanned;
    } else {
      ++summary_.failed;
      summary_.failures.emplace_back(id, e);
    }
  } else {
    ++summary_.skipped;
  }
  if (next_ >= ids_.size()) {
    finish();
    return std::nullopt;
  }
  const Clock::time_point ended = now_();
  // A slow tick re-arms the timer, so the next one still comes a full
  // interval after it; otherwise the ticks keep their rhythm.
  due_ = ended - began >= kTickInterval ? ended + kTickInterval : due_ + kTickInterval;
  return due_;
}

}  // namespace norvo::media
