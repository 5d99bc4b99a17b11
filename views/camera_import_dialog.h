// SPDX-License-Identifier: GPL-3.0-or-later
// "Import From Camera": the camera list (kept up to date while the dialog
// is open: USB devices and mounted cards coming and going), the Options
// page (destination folder, lock, skip, delete, capture date) and the
// Annotations page (six texts stamped on the items the download adds).
// The download runs on a worker thread with a progress window; each file
// is imported into the catalog on the interface thread as it lands.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "media/camera_import.h"
#include "media/gphoto_camera.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTimer;

namespace norvo::app {
class SettingsStore;
}
namespace norvo::media {
class CameraMonitor;
}

namespace norvo::views {

class CatalogWindow;

class CameraImportDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CameraImportDialog(const media::CameraImportOptions& options, QWidget* parent = nullptr);
  ~CameraImportDialog() override;

  // The camera chosen; nothing when none is connected.
  std::optional<media::CameraInfo> camera() const;
  media::CameraImportOptions options() const;
  const std::vector<media::CameraInfo>& cameras() const { return cameras_; }

  // Lists the cameras again, keeping the chosen one chosen when it is
  // still there.
  void refreshCameras();

  // Asked before a download that deletes the camera's pictures; true goes
  // ahead. The default asks the user.
  void setDeleteQuestion(std::function<bool()> ask) { ask_delete_ = std::move(ask); }

  void accept() override;

 Q_SIGNALS:
  void camerasChanged();

 private:
  void chooseFolder();
  void updateButtons();
  void watchCameras();

  std::vector<media::CameraInfo> cameras_;
  QListWidget* list_;
  QTabWidget* pages_;
  QLineEdit* destination_;
  QCheckBox* lock_;
  QCheckBox* skip_;
  QCheckBox* delete_;
  QCheckBox* date_;
  std::array<QLineEdit*, media::kCameraStampCount> stamps_{};
  QPushButton* import_;
  std::unique_ptr<media::CameraMonitor> monitor_;
  QTimer* settle_;  // gathers a burst of device events into one refresh
  QTimer* poll_;    // where no events can be had
  std::function<bool()> ask_delete_;
};

// The download of every file of `camera` with a progress window
// ("Downloading images from camera...") and Cancel. `ask` answers "Error
// transferring file. Do you want to continue?" (null: a message box).
// *problem says why a camera could not be opened or listed.
ErrorCode DownloadWithProgress(CatalogWindow& window, const media::CameraInfo& camera,
                               const media::CameraImportOptions& options,
                               const std::function<bool(const media::DownloadResult&)>& ask,
                               std::vector<media::CameraImportOutcome>* outcomes, media::CameraProblem* problem);

// A scan dates an item by its file, and Linux keeps no settable creation
// date: the capture dates of the items the download added are set again in
// their Created field as each is scanned.
void KeepCaptureDatesThroughScan(CatalogWindow& window, const std::vector<media::CameraImportOutcome>& outcomes);

// The options the dialog starts with: the catalog's, else the program's
// default in `store` (may be null), else the user's pictures folder.
media::CameraImportOptions InitialCameraOptions(const CatalogWindow& window, const app::SettingsStore* store);

// The command "From Camera..." (file.import_camera, Ctrl+Alt+I): the
// dialog, the download, the scan of the new items. The options are kept in
// the catalog and as the program's default in `store` (may be null).
void RunCameraImport(CatalogWindow& window, app::SettingsStore* store);

}  // namespace norvo::views
