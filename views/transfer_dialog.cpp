// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/transfer_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <algorithm>

#include "app/catalog_document.h"
#include "app/messages.h"
#include "app/preferences.h"
#include "app/settings_store.h"
#include "output/gallery_export.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"

namespace norvo::views {
namespace {

struct ModeText {
  output::TransferMode mode;
  const char* button;
  const char* effect;
};
// In the order the dialog shows them.
constexpr ModeText kModes[] = {
    {output::TransferMode::kMove, "Move files, reset paths and delete originals",
     "Moves media files to a new folder, deleting original files. Catalog items will refer to the files in the new "
     "folder."},
    {output::TransferMode::kCopy, "Copy files and reset paths",
     "Copies media files to a new folder, keeping original files. Catalog items will refer to the files in the new "
     "folder."},
    {output::TransferMode::kDuplicate, "Duplicate files",
     "Copies media files to a new folder. Catalog items and referenced files will remain unchanged."},
};

constexpr char kCopyingText[] = "Copying media files...";
constexpr char kPreparingText[] = "Preparing files for backup...";
constexpr char kTransferringText[] = "Transferring files to backup destination...";

QString Facts(const output::FileFacts& f) {
  QString text = QObject::tr("%1\n    %2, modified %3")
                     .arg(Q(f.path))
                     .arg(QLocale().formattedDataSize(static_cast<qint64>(f.size)))
                     .arg(QLocale().toString(QDateTime::fromSecsSinceEpoch(f.modified), QLocale::ShortFormat));
  if (f.width > 0 && f.height > 0) text += QObject::tr(", %1 x %2 pixels").arg(f.width).arg(f.height);
  return text;
}

// The transfer mode of the program's preferences (written at exit with the
// rest of the block); copy without them.
output::TransferMode StoredMode(const app::PreferencesBlock* preferences) {
  if (preferences == nullptr) return output::TransferMode::kCopy;
  return output::TransferModeFromByte(preferences->u8(app::pref::kTransferMode));
}

void KeepMode(app::PreferencesBlock* preferences, output::TransferMode mode) {
  if (preferences != nullptr) preferences->setU8(app::pref::kTransferMode, static_cast<std::uint8_t>(mode));
}

QProgressDialog* MakeProgress(CatalogWindow& window, const QString& title, const QString& text) {
  auto* progress = new QProgressDialog(text, QObject::tr("Cancel"), 0, 1, &window);
  progress->setWindowTitle(title);
  progress->setWindowModality(Qt::ApplicationModal);
  progress->setMinimumDuration(300);
  progress->setValue(0);
  return progress;
}

}  // namespace

TransferModeDialog::TransferModeDialog(output::TransferMode mode, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Transfer to Folder"));
  auto* layout = new QVBoxLayout(this);
  modes_ = new QButtonGroup(this);
  for (const ModeText& m : kModes) {
    auto* button = new QRadioButton(tr(m.button), this);
    auto* effect = new QLabel(tr(m.effect), this);
    effect->setWordWrap(true);
    effect->setIndent(24);
    layout->addWidget(button);
    layout->addWidget(effect);
    modes_->addButton(button, static_cast<int>(m.mode));
    button->setChecked(m.mode == mode);
  }
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(tr("Choose Folder..."), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

output::TransferMode TransferModeDialog::mode() const {
  return output::TransferModeFromByte(static_cast<std::uint8_t>(std::max(0, modes_->checkedId())));
}

QString ClashQuestionText(const output::FileFacts& existing, const output::FileFacts& incoming) {
  return QObject::tr("The destination folder already has a file named \"%1\".\n\nReplace this file:\n%2\n\nwith this "
                     "one?\n%3")
      .arg(QFileInfo(Q(existing.path)).fileName(), Facts(existing), Facts(incoming));
}

output::ClashAnswer AskClash(QWidget* parent, const output::FileFacts& existing, const output::FileFacts& incoming) {
  QMessageBox box(QMessageBox::Question, QObject::tr("Transfer to Folder"), ClashQuestionText(existing, incoming),
                  QMessageBox::NoButton, parent);
  QPushButton* replace = box.addButton(QObject::tr("Replace"), QMessageBox::AcceptRole);
  QPushButton* skip = box.addButton(QObject::tr("Skip"), QMessageBox::RejectRole);
  QPushButton* all = box.addButton(QObject::tr("Replace All"), QMessageBox::AcceptRole);
  QPushButton* stop = box.addButton(QObject::tr("Stop"), QMessageBox::DestructiveRole);
  box.setDefaultButton(skip);
  box.setEscapeButton(stop);
  box.exec();
  if (box.clickedButton() == replace) return output::ClashAnswer::kReplace;
  if (box.clickedButton() == all) return output::ClashAnswer::kReplaceAll;
  if (box.clickedButton() == skip) return output::ClashAnswer::kSkip;
  return output::ClashAnswer::kStop;
}

std::vector<BackupTarget> BackupTargets() {
  std::vector<BackupTarget> targets;
  // Removable disks are mounted below these folders by the desktop.
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    const bool removable =
        root.startsWith("/media/") || root.startsWith("/run/media/") || root.startsWith("/mnt/");
    if (!volume.isValid() || !volume.isReady() || volume.isReadOnly() || !removable) continue;
    const QString name = volume.displayName().isEmpty() ? root : volume.displayName();
    targets.push_back({BackupTarget::Kind::kFolder, root, QObject::tr("%1 (%2)").arg(name, root)});
  }
  for (const output::DiscDrive& d : output::ListDiscDrives()) {
    targets.push_back({BackupTarget::Kind::kDiscDrive, Q(d.device),
                       QObject::tr("Disc in %1 %2 (%3)").arg(Q(d.vendor), Q(d.model), Q(d.device))});
  }
  targets.push_back({BackupTarget::Kind::kFolder, {}, QObject::tr("Folder...")});
  if (output::HaveXorriso()) targets.push_back({BackupTarget::Kind::kImageFile, {}, QObject::tr("Disc image (ISO)...")});
  return targets;
}

BackupDialog::BackupDialog(const std::vector<BackupTarget>& targets, QWidget* parent)
    : QDialog(parent), targets_(targets) {
  setWindowTitle(tr("Backup"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(tr("Choose a blank CD-ROM or a removable disk to transfer (copy) your media files and "
                              "catalog."),
                           this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  drives_ = new QComboBox(this);
  for (const BackupTarget& t : targets_) drives_->addItem(t.label);
  layout->addWidget(drives_);
  auto* which = new QGroupBox(this);
  auto* which_layout = new QVBoxLayout(which);
  all_ = new QRadioButton(tr("&All media files"), which);
  visible_ = new QRadioButton(tr("&Only visible media files"), which);
  all_->setChecked(true);
  which_layout->addWidget(all_);
  which_layout->addWidget(visible_);
  layout->addWidget(which);
  reset_ = new QCheckBox(tr("&Reset paths"), this);
  keep_ = new QCheckBox(tr("&Keep folder structure"), this);
  include_ = new QCheckBox(tr("&Include media catalog"), this);
  for (QCheckBox* box : {reset_, keep_, include_}) layout->addWidget(box);
  // A disc is not mounted yet: items cannot point at files on it.
  auto follow = [this](int row) {
    const bool disc = row >= 0 && static_cast<std::size_t>(row) < targets_.size() &&
                      targets_[static_cast<std::size_t>(row)].kind != BackupTarget::Kind::kFolder;
    reset_->setEnabled(!disc);
    if (disc) reset_->setChecked(false);
  };
  connect(drives_, &QComboBox::currentIndexChanged, this, follow);
  follow(drives_->currentIndex());
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(tr("Backup"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

std::optional<BackupTarget> BackupDialog::target() const {
  const int row = drives_->currentIndex();
  if (row < 0 || static_cast<std::size_t>(row) >= targets_.size()) return std::nullopt;
  return targets_[static_cast<std::size_t>(row)];
}

output::BackupOptions BackupDialog::options() const {
  output::BackupOptions o;
  o.visible_only = visible_->isChecked();
  o.reset_paths = reset_->isChecked() && reset_->isEnabled();
  o.keep_folders = keep_->isChecked();
  o.include_catalog = include_->isChecked();
  return o;
}

ErrorCode TransferWithProgress(CatalogWindow& window, const std::vector<std::uint32_t>& ids,
                               const output::TransferRequest& request, std::vector<output::TransferOutcome>* outcomes) {
  // Scan results must not land while files move.
  window.scanner()->waitForIdle();
  std::unique_ptr<QProgressDialog> progress(MakeProgress(window, QObject::tr("Transfer to Folder"), QObject::tr(kCopyingText)));
  progress->setMaximum(std::max<int>(1, static_cast<int>(ids.size())));
  QProgressDialog* p = progress.get();
  const ErrorCode e = output::TransferItems(
      window.catalog(), ids, request,
      [p](ProgressPhase, int done, int) {
        p->setValue(std::min(done, p->maximum()));
        QApplication::processEvents();
        return p->wasCanceled() ? 1 : 0;
      },
      outcomes);
  progress->reset();
  return e;
}

ErrorCode BackupWithProgress(CatalogWindow& window, const output::BackupOptions& options,
                             output::BackupReport* report) {
  window.scanner()->waitForIdle();
  std::unique_ptr<QProgressDialog> progress(MakeProgress(window, QObject::tr("Backup"), QObject::tr(kPreparingText)));
  QProgressDialog* p = progress.get();
  const ErrorCode e = output::RunBackup(
      window.catalog(), options,
      [p](output::BackupStage stage, ProgressPhase, int done, int total) {
        p->setLabelText(QObject::tr(stage == output::BackupStage::kPreparing ? kPreparingText : kTransferringText));
        p->setMaximum(std::max(1, total));
        p->setValue(std::min(done, p->maximum()));
        QApplication::processEvents();
        return p->wasCanceled() ? 1 : 0;
      },
      report);
  progress->reset();
  return e;
}

void RunTransfer(CatalogWindow& window, app::PreferencesBlock* preferences) {
  const std::vector<std::uint32_t> ids = window.selectedIds();
  if (ids.empty()) return;
  TransferModeDialog dialog(StoredMode(preferences), &window);
  if (dialog.exec() != QDialog::Accepted) return;
  const output::TransferMode mode = dialog.mode();
  KeepMode(preferences, mode);
  const QString folder = QFileDialog::getExistingDirectory(&window, QObject::tr("Choose the destination folder:"));
  if (folder.isEmpty()) return;

  output::TransferRequest request;
  request.mode = mode;
  request.destination = U(folder);
  request.on_clash = [&window](const output::FileFacts& existing, const output::FileFacts& incoming) {
    return AskClash(&window, existing, incoming);
  };
  std::vector<output::TransferOutcome> outcomes;
  const ErrorCode e = TransferWithProgress(window, ids, request, &outcomes);
  const auto done = std::count_if(outcomes.begin(), outcomes.end(), [](const output::TransferOutcome& o) {
    return o.status == output::TransferStatus::kMoved || o.status == output::TransferStatus::kCopied;
  });
  if (e != err::kNone && e != err::kUserCancelled) {
    QMessageBox::warning(&window, QObject::tr("Transfer to Folder"),
                         QObject::tr("The transfer stopped after %1 of %2 items: %3 (error %4).")
                             .arg(outcomes.size())
                             .arg(ids.size())
                             .arg(Q(app::MessageForError(e, app::Activity::kOther)))
                             .arg(e));
  }
  Q_EMIT window.message(QObject::tr("%1 of %2 files transferred to %3").arg(done).arg(ids.size()).arg(folder), 10000);
  Q_EMIT window.stateChanged();
}

void RunBackup(CatalogWindow& window) {
  BackupDialog dialog(BackupTargets(), &window);
  if (dialog.exec() != QDialog::Accepted) return;
  std::optional<BackupTarget> target = dialog.target();
  if (!target) return;
  output::BackupOptions options = dialog.options();
  QString image;
  if (target->kind == BackupTarget::Kind::kFolder && target->path.isEmpty()) {
    target->path = QFileDialog::getExistingDirectory(&window, QObject::tr("Choose the destination folder:"));
    if (target->path.isEmpty()) return;
  } else if (target->kind == BackupTarget::Kind::kImageFile) {
    image = QFileDialog::getSaveFileName(&window, QObject::tr("Disc image"), QString(),
                                         QObject::tr("Disc images (*.iso)"));
    if (image.isEmpty()) return;
  }
  // A disc is staged in a temporary folder, removed once it is written.
  QTemporaryDir staging(Q(app::SystemTemporaryFolder()) + "/norvo-disc-XXXXXX");
  const bool disc = target->kind != BackupTarget::Kind::kFolder;
  if (disc && !staging.isValid()) {
    QMessageBox::warning(&window, QObject::tr("Backup"), Q(app::BackupFailureMessage(static_cast<int>(output::BackupFailure::kIoError))));
    return;
  }
  options.destination = U(disc ? staging.path() : target->path);
  options.staging = disc ? output::BackupStaging::kLinkWhereSameDisk : output::BackupStaging::kCopy;
  options.copy_scratch = app::NewScratchSpec();
  options.reader_folder = output::FindReaderFolder(output::GalleryTemplateRoots());

  output::BackupReport report;
  const ErrorCode e = BackupWithProgress(window, options, &report);
  Q_EMIT window.stateChanged();
  if (e == err::kUserCancelled) return;
  if (e != err::kNone) {
    QMessageBox::warning(&window, QObject::tr("Backup"), Q(app::BackupFailureMessage(static_cast<int>(report.failure))));
    return;
  }
  for (const std::string& w : report.warnings) Q_EMIT window.message(Q(w), 8000);
  if (disc) {
    std::unique_ptr<QProgressDialog> progress(
        MakeProgress(window, QObject::tr("Backup"), QObject::tr("Writing the disc...")));
    progress->setMaximum(100);
    QProgressDialog* p = progress.get();
    auto follow = [p](int percent) {
      if (percent >= 0) p->setValue(percent);
      QApplication::processEvents();
      return p->wasCanceled() ? 1 : 0;
    };
    const std::string label = window.catalog().titled() ? output::CatalogName(window.catalog().file_spec.path) : "";
    std::string messages;
    const ErrorCode w = target->kind == BackupTarget::Kind::kImageFile
                            ? output::WriteDiscImage(options.destination, U(image), label, follow, &messages)
                            : output::BurnDisc(options.destination, U(target->path), label, follow, &messages);
    progress->reset();
    if (w != err::kNone && w != err::kUserCancelled) {
      QMessageBox::warning(&window, QObject::tr("Backup"),
                           Q(app::BackupFailureMessage(static_cast<int>(output::BackupFailure::kIoError))) + "\n\n" +
                               Q(messages).trimmed().section('\n', -3));
      return;
    }
  }
  Q_EMIT window.message(QObject::tr("%1 files backed up").arg(report.files.size()), 10000);
}

}  // namespace norvo::views
