// SPDX-License-Identifier: GPL-3.0-or-later
// The time source of timed playback (the slide show, the media view's
// playlist): milliseconds from any fixed start. Tests hand in a clock of
// their own and move it by hand.
#pragma once

#include <QtGlobal>

#include <chrono>
#include <functional>

namespace norvo::views {

using MsClock = std::function<qint64()>;

// The monotonic clock of the system.
inline MsClock SteadyClock() {
  return [] {
    return static_cast<qint64>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
  };
}

}  // namespace norvo::views
