// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/camera_monitor.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cstring>

namespace norvo::media {

struct CameraMonitor::State {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  int mounts = -1;

  ~State() {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    if (context != nullptr) udev_unref(context);
    if (mounts >= 0) ::close(mounts);
  }
};

CameraMonitor::CameraMonitor() : state_(std::make_unique<State>()) {}
CameraMonitor::~CameraMonitor() = default;

std::unique_ptr<CameraMonitor> CameraMonitor::Open() {
  std::unique_ptr<CameraMonitor> m(new CameraMonitor());
  State& s = *m->state_;
  s.context = udev_new();
  if (s.context != nullptr) {
    s.monitor = udev_monitor_new_from_netlink(s.context, "udev");
    if (s.monitor != nullptr &&
        (udev_monitor_filter_add_match_subsystem_devtype(s.monitor, "usb", "usb_device") < 0 ||
         udev_monitor_enable_receiving(s.monitor) < 0)) {
      udev_monitor_unref(s.monitor);
      s.monitor = nullptr;
    }
  }
  s.mounts = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (s.monitor == nullptr && s.mounts < 0) return nullptr;
  return m;
}

int CameraMonitor::usbFd() const {
  return state_->monitor != nullptr ? udev_monitor_get_fd(state_->monitor) : -1;
}

int CameraMonitor::mountsFd() const { return state_->mounts; }

bool CameraMonitor::takeUsbEvents() {
  if (state_->monitor == nullptr) return false;
  bool changed = false;
  // The monitor's socket does not block: it hands out what is waiting.
  while (udev_device* device = udev_monitor_receive_device(state_->monitor)) {
    const char* action = udev_device_get_action(device);
    if (action != nullptr && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
      changed = true;
    }
    udev_device_unref(device);
  }
  return changed;
}

void CameraMonitor::takeMountChange() {
  if (state_->mounts < 0) return;
  // Reading the table again from its start acknowledges the change.
  char buffer[4096];
  ::lseek(state_->mounts, 0, SEEK_SET);
  while (::read(state_->mounts, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace norvo::media
