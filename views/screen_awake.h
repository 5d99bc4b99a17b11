// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the screen from blanking or locking while an object of this type
// lives (a running slide show): the desktop's screen saver service
// (org.freedesktop.ScreenSaver on the session bus) is asked to inhibit, and
// the inhibition is lifted again on destruction. Without a session bus or
// such a service nothing happens and nothing is reported.
#pragma once

#include <QString>

#include <cstdint>

namespace norvo::views {

class ScreenAwake {
 public:
  explicit ScreenAwake(const QString& reason);
  ~ScreenAwake();
  ScreenAwake(const ScreenAwake&) = delete;
  ScreenAwake& operator=(const ScreenAwake&) = delete;

  // Whether the service granted the inhibition.
  bool active() const { return cookie_ != 0; }

 private:
  std::uint32_t cookie_ = 0;
};

}  // namespace norvo::views
