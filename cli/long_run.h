// SPDX-License-Identifier: GPL-3.0-or-later
// What the long commands (import, scan, gallery, conversion) share: Ctrl-C
// that stops the run after the item being done, so what was written stays
// whole, and a progress line on standard error.
#pragma once

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

namespace norvo::cli {

// While a scope lives, SIGINT only raises a flag the command's progress
// callback reads (Requested()).
class InterruptScope {
 public:
  InterruptScope() { previous_ = std::signal(SIGINT, &InterruptScope::OnSignal); }
  ~InterruptScope() { std::signal(SIGINT, previous_); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

  // Whether Ctrl-C was pressed (once per process: a command runs once).
  static bool Requested() { return Flag().load(); }

 private:
  static std::atomic<bool>& Flag() {
    static std::atomic<bool> flag{false};
    return flag;
  }
  static void OnSignal(int) { Flag().store(true); }

  void (*previous_)(int) = SIG_DFL;
};

// A progress line on standard error, rewritten in place, when it is a
// terminal; the line is ended when the run is.
class ProgressLine {
 public:
  ProgressLine() : shown_(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() { done(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void show(const std::string& text) {
    if (!shown_) return;
    std::fprintf(stderr, "\r%-72.72s", text.c_str());
    std::fflush(stderr);
    dirty_ = true;
  }
  void done() {
    if (shown_ && dirty_) std::fputc('\n', stderr);
    dirty_ = false;
  }

 private:
  bool shown_;
  bool dirty_ = false;
};

}  // namespace norvo::cli
