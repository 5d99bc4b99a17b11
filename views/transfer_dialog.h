// SPDX-License-Identifier: GPL-3.0-or-later
// "Transfer to Folder..." and "&Backup/CD-ROM...": the mode dialog, the
// folder chooser and the replace question of the transfer; the options
// dialog of the backup with its drive list (removable disks, disc writers,
// and an ISO image file); both runs with a modal progress window and a
// Cancel button.
#pragma once

#include <QDialog>
#include <QString>

#include <optional>
#include <vector>

#include "output/backup.h"
#include "output/disc_image.h"
#include "output/transfer.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QRadioButton;

namespace norvo::app {
class PreferencesBlock;
class SettingsStore;
}

namespace norvo::views {

class CatalogWindow;

// "Transfer to Folder": three modes, each with the text under its button;
// "Choose Folder..." accepts.
class TransferModeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TransferModeDialog(output::TransferMode mode, QWidget* parent = nullptr);
  output::TransferMode mode() const;

 private:
  QButtonGroup* modes_;
};

// The replace question's text: both files' facts (name, size, date,
// dimensions when known).
QString ClashQuestionText(const output::FileFacts& existing, const output::FileFacts& incoming);
// Asks it in a message box with Replace, Skip, Replace All and Stop.
output::ClashAnswer AskClash(QWidget* parent, const output::FileFacts& existing, const output::FileFacts& incoming);

// A place a backup can go.
struct BackupTarget {
  enum class Kind { kFolder, kDiscDrive, kImageFile };
  Kind kind = Kind::kFolder;
  QString path;   // the folder (a removable disk's root) or the drive's device
  QString label;  // what the list shows
};
// Removable disks that can be written, then disc writers, then the image file.
std::vector<BackupTarget> BackupTargets();

// "Backup": the destination list and the options.
class BackupDialog : public QDialog {
  Q_OBJECT

 public:
  BackupDialog(const std::vector<BackupTarget>& targets, QWidget* parent = nullptr);
  // The chosen target; nothing when the list is empty.
  std::optional<BackupTarget> target() const;
  // The options as chosen (destination, scratch and staging are the run's).
  output::BackupOptions options() const;

 private:
  std::vector<BackupTarget> targets_;
  QComboBox* drives_;
  QRadioButton* all_;
  QRadioButton* visible_;
  QCheckBox* reset_;
  QCheckBox* keep_;
  QCheckBox* include_;
};

// The transfer of `ids` with the progress window ("Copying media files...")
// and the replace question; returns the engine's result.
ErrorCode TransferWithProgress(CatalogWindow& window, const std::vector<std::uint32_t>& ids,
                               const output::TransferRequest& request, std::vector<output::TransferOutcome>* outcomes);
// The backup run with its progress window; returns the engine's result.
ErrorCode BackupWithProgress(CatalogWindow& window, const output::BackupOptions& options,
                             output::BackupReport* report);

// The commands: dialog, choice of folder or drive, the run, the result.
// The transfer mode is read from and kept in the program's `preferences`
// (written at exit; null: copy, nothing kept).
void RunTransfer(CatalogWindow& window, app::PreferencesBlock* preferences);
void RunBackup(CatalogWindow& window);

}  // namespace norvo::views
