// SPDX-License-Identifier: GPL-3.0-or-later
// Tells of cameras being connected and disconnected: the kernel's USB device
// events through a libudev monitor, and changes of the mount table (a
// memory card or mass-storage camera mounted or unmounted). Both are file
// descriptors an event loop can wait on; where neither can be had (no
// udev in a container), the caller polls ListCameras instead.
#pragma once

#include <memory>

namespace norvo::media {

class CameraMonitor {
 public:
  ~CameraMonitor();
  CameraMonitor(const CameraMonitor&) = delete;
  CameraMonitor& operator=(const CameraMonitor&) = delete;

  // Null when neither source can be watched.
  static std::unique_ptr<CameraMonitor> Open();

  // Readable when a USB device came or went; -1 when udev is not there.
  int usbFd() const;
  // Signals an exceptional condition (poll's POLLPRI) when the mount table
  // changes; -1 when it cannot be watched.
  int mountsFd() const;

  // Reads the USB events waiting; true when a device was added or removed.
  bool takeUsbEvents();
  // Re-arms the mount table's descriptor after a change was noticed.
  void takeMountChange();

 private:
  struct State;
  CameraMonitor();
  std::unique_ptr<State> state_;
};

}  // namespace norvo::media
