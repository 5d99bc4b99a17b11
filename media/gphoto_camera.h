// SPDX-License-Identifier: GPL-3.0-or-later
// A connected camera reached through libgphoto2: the list of cameras, one
// camera opened by its port and model, its folders and files, and the
// download of one file into a file descriptor. The libgphoto2 objects
// (context, camera, lists, files) are owned here and released on every path.
//
// A CameraConnection is used by one thread at a time; libgphoto2 keeps no
// state between connections, so a worker thread may own one while the
// interface thread lists cameras with its own context.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::media {

// The model shown for a mounted memory card or mass-storage camera; it is
// opened with libgphoto2's directory driver over a "disk:MOUNTPOINT" port.
inline constexpr std::string_view kMassStorageModel = "Mass storage";
// libgphoto2's model name of that driver.
inline constexpr std::string_view kDirectoryDriverModel = "Directory Browse";

struct CameraInfo {
  std::string model;  // as libgphoto2 names it, or kMassStorageModel
  std::string port;   // "usb:001,007", "disk:/media/me/CARD"
  bool operator==(const CameraInfo&) const = default;
};

// Why a camera could not be used, beyond the engine code: the desktop
// program and norvo-cli word each one (app::CameraProblemMessage).
enum class CameraProblem : std::uint8_t {
  kNone = 0,
  kNoCamera = 1,      // nothing connected, or the chosen camera has gone
  kInUse = 2,         // another program holds the USB device (a desktop auto-mounter)
  kUnsupported = 3,   // libgphoto2 does not know the model or the port
  kIo = 4,            // the camera stopped answering
};

// The engine code and the problem of a libgphoto2 result (GP_OK is 0).
ErrorCode ErrorFromGphoto(int result);
CameraProblem ProblemFromGphoto(int result);

// The cameras libgphoto2 detects on USB and serial ports, then the mounted
// volumes with a DCIM folder at their top (memory cards, mass-storage
// cameras), each once. For tests, NORVO_CAMERA_PORT (and NORVO_CAMERA_MODEL,
// default kMassStorageModel) add one more camera, such as a folder as
// "disk:/path".
ErrorCode ListCameras(std::vector<CameraInfo>* out);
// The mounted volumes of a /proc/self/mountinfo text whose mount point has a
// DCIM folder, as mass-storage cameras. The mount point's octal escapes
// ("\040" for a space) are undone.
std::vector<CameraInfo> MassStorageCameras(std::string_view mountinfo);

// One file on a camera.
struct CameraFileEntry {
  std::string folder;  // "/DCIM/100CANON"
  std::string name;    // "IMG_0001.JPG", as the camera names it
  std::uint64_t size = 0;
  bool size_known = false;
  std::int64_t modified = 0;  // seconds since 1970, UTC; 0 when not known
};

// Walk limits: a camera's tree is shallow; a mass-storage volume may not be.
inline constexpr int kMaxCameraFolderDepth = 8;
inline constexpr std::size_t kMaxCameraFiles = 100000;

class CameraConnection {
 public:
  ~CameraConnection();
  CameraConnection(const CameraConnection&) = delete;
  CameraConnection& operator=(const CameraConnection&) = delete;

  // Opens the camera of `model` on `port` (kMassStorageModel opens the
  // directory driver). On failure *problem says why.
  static ErrorCode Open(const CameraInfo& camera, std::unique_ptr<CameraConnection>* out,
                        CameraProblem* problem = nullptr);

  const CameraInfo& info() const { return info_; }
  // The libgphoto2 result of the last failed call (0 when none failed).
  int lastResult() const { return last_result_; }

  // The files below `root`, folder by folder in the camera's order, each
  // folder's files before its sub-folders, at most kMaxCameraFolderDepth
  // levels and kMaxCameraFiles files. A sub-folder that cannot be listed is
  // passed over; `root` itself failing is the error.
  ErrorCode listFiles(const std::string& root, std::vector<CameraFileEntry>* out);
  // Size and time of one file.
  ErrorCode fileInfo(const std::string& folder, const std::string& name, CameraFileEntry* out);
  // Writes the file's bytes to `fd` (which stays open) as they arrive.
  ErrorCode download(const std::string& folder, const std::string& name, int fd);
  ErrorCode deleteFile(const std::string& folder, const std::string& name);

  // Makes the transfer under way give up (from any thread).
  void cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }

 private:
  struct Handles;
  CameraConnection();
  ErrorCode check(int result);

  std::unique_ptr<Handles> handles_;
  CameraInfo info_;
  int last_result_ = 0;
  std::atomic<bool> cancelled_{false};
};

}  // namespace norvo::media
