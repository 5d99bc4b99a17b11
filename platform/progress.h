// SPDX-License-Identifier: GPL-3.0-or-later
// The phases a progress callback is called with. The numbers are part of
// what callers see (they were passed as plain ints) and stay as they are.
#pragma once

namespace norvo {

enum class ProgressPhase : int {
  kStart = 0,  // before the first step
  kStep = 1,   // after each step, with how far the work has come
  kEnd = 2,    // once, at the end, whether the work finished or stopped
};

}  // namespace norvo
