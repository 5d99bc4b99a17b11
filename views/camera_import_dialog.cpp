// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/camera_import_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <map>
#include <thread>

#include "app/messages.h"
#include "app/settings_store.h"
#include "catalog/catalog.h"
#include "media/camera_monitor.h"
#include "media/import.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"

namespace norvo::views {
namespace {

// Where the desktop program keeps its default camera options (the same
// record as the catalog's chunk).
constexpr std::string_view kStoreKey = "Camera Import";
constexpr std::string_view kStoreValue = "Options";
// A burst of device events (a camera announces several interfaces) is
// answered once, after it settles.
constexpr int kSettleMs = 700;
constexpr int kPollMs = 2000;

QString CameraLabel(const media::CameraInfo& c) {
  QString port = Q(c.port);
  if (port.startsWith("disk:")) port = port.mid(5);
  return QObject::tr("%1 (%2)").arg(Q(c.model), port);
}

}  // namespace

CameraImportDialog::CameraImportDialog(const media::CameraImportOptions& options, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(Q(app::camera_text::kTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("&Camera:"), this));
  list_ = new QListWidget(this);
  list_->setMinimumHeight(90);
  layout->addWidget(list_);
  qobject_cast<QLabel*>(layout->itemAt(0)->widget())->setBuddy(list_);

  pages_ = new QTabWidget(this);
  auto* options_page = new QWidget(pages_);
  auto* o = new QVBoxLayout(options_page);
  o->addWidget(new QLabel(tr("Destination folder:"), options_page));
  auto* folder_row = new QHBoxLayout();
  destination_ = new QLineEdit(Q(options.destination), options_page);
  auto* browse = new QPushButton(tr("B&rowse..."), options_page);
  folder_row->addWidget(destination_, 1);
  folder_row->addWidget(browse);
  o->addLayout(folder_row);
  lock_ = new QCheckBox(tr("Lock downloaded files"), options_page);
  skip_ = new QCheckBox(tr("Skip files with same name"), options_page);
  delete_ = new QCheckBox(tr("Delete items from camera after downloading"), options_page);
  date_ = new QCheckBox(tr("Set file creation date to capture date"), options_page);
  lock_->setChecked(options.lock);
  skip_->setChecked(options.skip_same_name);
  delete_->setChecked(options.delete_from_camera);
  date_->setChecked(options.set_capture_date);
  for (QCheckBox* box : {lock_, skip_, delete_, date_}) o->addWidget(box);
  auto* note = new QLabel(tr("Linux keeps no creation date that can be set: the file's modification date and the "
                             "item's Created field are set to the capture date."),
                          options_page);
  note->setWordWrap(true);
  note->setContentsMargins(20, 0, 0, 0);
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  note->setFont(small);
  o->addWidget(note);
  o->addStretch(1);
  pages_->addTab(options_page, tr("Options"));

  auto* notes_page = new QWidget(pages_);
  auto* form = new QFormLayout(notes_page);
  for (std::size_t i = 0; i < media::kCameraStampCount; ++i) {
    stamps_[i] = new QLineEdit(Q(options.stamps[i]), notes_page);
    stamps_[i]->setMaxLength(static_cast<int>(media::kMaxCameraStampLength));
    form->addRow(Q(media::kCameraStampFields[i].label), stamps_[i]);
  }
  pages_->addTab(notes_page, tr("Annotations"));
  layout->addWidget(pages_);

  auto* buttons = new QDialogButtonBox(this);
  import_ = buttons->addButton(tr("&Import"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  import_->setDefault(true);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, &CameraImportDialog::chooseFolder);
  connect(destination_, &QLineEdit::textChanged, this, &CameraImportDialog::updateButtons);
  connect(list_, &QListWidget::currentRowChanged, this, &CameraImportDialog::updateButtons);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

  settle_ = new QTimer(this);
  settle_->setSingleShot(true);
  settle_->setInterval(kSettleMs);
  connect(settle_, &QTimer::timeout, this, &CameraImportDialog::refreshCameras);
  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &CameraImportDialog::refreshCameras);
  ask_delete_ = [this] {
    return QMessageBox::question(this, Q(app::camera_text::kTitle), Q(app::camera_text::kDeleteQuestion),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };
  refreshCameras();
  watchCameras();
  resize(480, 440);
}

CameraImportDialog::~CameraImportDialog() = default;

void CameraImportDialog::watchCameras() {
  monitor_ = media::CameraMonitor::Open();
  if (monitor_ && monitor_->usbFd() >= 0) {
    auto* usb = new QSocketNotifier(monitor_->usbFd(), QSocketNotifier::Read, this);
    connect(usb, &QSocketNotifier::activated, this, [this] {
      if (monitor_->takeUsbEvents()) settle_->start();
    });
  }
  if (monitor_ && monitor_->mountsFd() >= 0) {
    auto* mounts = new QSocketNotifier(monitor_->mountsFd(), QSocketNotifier::Exception, this);
    connect(mounts, &QSocketNotifier::activated, this, [this] {
      monitor_->takeMountChange();
      settle_->start();
    });
  }
  // Without USB events, libgphoto2 is asked now and then.
  if (!monitor_ || monitor_->usbFd() < 0) poll_->start();
}

void CameraImportDialog::refreshCameras() {
  std::vector<media::CameraInfo> found;
  (void)media::ListCameras(&found);  // a failed USB probe still lists the mounted cards
  if (found == cameras_ && list_->count() > 0) return;
  const std::optional<media::CameraInfo> chosen = camera();
  cameras_ = std::move(found);
  list_->clear();
  int row = 0;
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    list_->addItem(CameraLabel(cameras_[i]));
    if (chosen && cameras_[i] == *chosen) row = static_cast<int>(i);
  }
  if (cameras_.empty()) {
    auto* none = new QListWidgetItem(Q(app::camera_text::kNoCamera), list_);
    none->setFlags(Qt::NoItemFlags);
  } else {
    list_->setCurrentRow(row);
  }
  updateButtons();
  Q_EMIT camerasChanged();
}

std::optional<media::CameraInfo> CameraImportDialog::camera() const {
  const int row = list_->currentRow();
  if (row < 0 || static_cast<std::size_t>(row) >= cameras_.size()) return std::nullopt;
  return cameras_[static_cast<std::size_t>(row)];
}

media::CameraImportOptions CameraImportDialog::options() const {
  media::CameraImportOptions o;
  o.destination = U(QDir::cleanPath(destination_->text().trimmed()));
  o.lock = lock_->isChecked();
  o.skip_same_name = skip_->isChecked();
  o.delete_from_camera = delete_->isChecked();
  o.set_capture_date = date_->isChecked();
  for (std::size_t i = 0; i < media::kCameraStampCount; ++i) o.stamps[i] = U(stamps_[i]->text());
  return o;
}

void CameraImportDialog::chooseFolder() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, tr("Choose the destination folder:"), destination_->text());
  if (!folder.isEmpty()) destination_->setText(folder);
}

void CameraImportDialog::updateButtons() {
  import_->setEnabled(camera().has_value() && QDir::isAbsolutePath(destination_->text().trimmed()));
}

void CameraImportDialog::accept() {
  if (!camera()) return;
  if (delete_->isChecked() && !ask_delete_()) return;
  QDialog::accept();
}

// --- the download ------------------------------------------------------------

ErrorCode DownloadWithProgress(CatalogWindow& window, const media::CameraInfo& camera,
                               const media::CameraImportOptions& options,
                               const std::function<bool(const media::DownloadResult&)>& ask,
                               std::vector<media::CameraImportOutcome>* outcomes, media::CameraProblem* problem) {
  outcomes->clear();
  *problem = media::CameraProblem::kNone;
  // Scan results must not land while items are added.
  window.scanner()->waitForIdle();
  QProgressDialog progress(Q(app::camera_text::kDownloading), QObject::tr("Cancel"), 0, 0, &window);
  progress.setWindowTitle(Q(app::camera_text::kTitle));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(300);
  progress.setValue(0);

  // The worker owns the camera; the interface thread owns the catalog.
  QObject receiver;
  QEventLoop loop;
  std::atomic<bool> cancelled{false};
  std::atomic<media::CameraConnection*> live{nullptr};
  ErrorCode result = err::kNone;
  QObject::connect(&progress, &QProgressDialog::canceled, &receiver, [&] {
    cancelled = true;
    if (media::CameraConnection* c = live.load()) c->cancel();
  });
  auto on_ui = [&receiver](std::function<void()> work) {
    QMetaObject::invokeMethod(&receiver, std::move(work), Qt::QueuedConnection);
  };
  auto ask_failure = [&](const media::DownloadResult& failed) {
    if (ask) return ask(failed);
    return QMessageBox::question(&window, Q(app::camera_text::kTitle), Q(app::camera_text::kTransferFailed),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };

  window.model()->beginBatch();
  media::ImportSession session(window.catalog(), {});
  std::thread worker([&] {
    ErrorCode end = err::kNone;
    media::CameraProblem why = media::CameraProblem::kNone;
    std::unique_ptr<media::CameraConnection> connection;
    std::vector<media::CameraFileEntry> files;
    end = media::CameraConnection::Open(camera, &connection, &why);
    if (end == err::kNone) {
      live = connection.get();
      end = connection->listFiles(media::CameraRoot(camera), &files);
      if (end != err::kNone) why = media::ProblemFromGphoto(connection->lastResult());
    }
    if (end == err::kNone) {
      const int total = static_cast<int>(files.size());
      on_ui([&progress, total] { progress.setMaximum(std::max(1, total)); });
      for (const media::CameraFileEntry& entry : files) {
        if (cancelled) {
          end = err::kUserCancelled;
          break;
        }
        media::DownloadResult download;
        const ErrorCode e = media::DownloadCameraFile(*connection, entry, options, &download);
        if (e == err::kBadName || e == err::kFolderNotFound || e == err::kUserCancelled) {
          on_ui([outcomes, download] { outcomes->push_back({download}); });
          end = e;
          break;
        }
        if (e != err::kNone) {
          bool go_on = false;
          QMetaObject::invokeMethod(
              &receiver,
              [&] {
                outcomes->push_back({download});
                go_on = ask_failure(download);
              },
              Qt::BlockingQueuedConnection);
          if (!go_on) break;
          continue;
        }
        // The import of this file happens on the interface thread while the
        // next one downloads.
        std::atomic<bool>* stop = &cancelled;
        on_ui([&window, &options, &progress, &session, outcomes, download, stop, &result] {
          media::CameraImportOutcome outcome{download};
          outcome.import_error =
              media::ImportDownloadedFile(window.catalog(), download, options, &outcome.item_id, &session);
          outcomes->push_back(outcome);
          progress.setValue(std::min(static_cast<int>(outcomes->size()), progress.maximum()));
          if (outcome.import_error == err::kCatalogFull || outcome.import_error == err::kDiskFull) {
            result = outcome.import_error;
            *stop = true;
          }
        });
      }
    }
    live = nullptr;
    // The copies are on the disk before the user can save a catalog that
    // points at them; this thread waits for that, not the interface.
    if (!options.delete_from_camera) (void)media::FlushDownloadedFiles(options.destination);  // best effort
    on_ui([&loop, &result, end, why, problem] {
      if (result == err::kNone) result = end;
      *problem = why;
      loop.quit();
    });
  });
  loop.exec();
  worker.join();
  window.model()->endBatch();
  window.model()->reload();
  progress.reset();
  return result;
}

void KeepCaptureDatesThroughScan(CatalogWindow& window, const std::vector<media::CameraImportOutcome>& outcomes) {
  auto dates = std::make_shared<std::map<std::uint32_t, std::uint32_t>>();
  for (const media::CameraImportOutcome& o : outcomes) {
    if (o.item_id != 0 && o.download.capture_date != 0) (*dates)[o.item_id] = o.download.capture_date;
  }
  if (dates->empty()) return;
  auto link = std::make_shared<QMetaObject::Connection>();
  CatalogWindow* w = &window;
  *link = QObject::connect(window.scanner(), &ScanRunner::itemScanned, &window, [w, dates, link](quint32 id) {
    auto it = dates->find(id);
    if (it == dates->end()) return;
    (void)media::SetItemCreated(w->catalog(), id, it->second);  // an item removed meanwhile is no matter
    dates->erase(it);
    if (dates->empty()) QObject::disconnect(*link);
  });
}

media::CameraImportOptions InitialCameraOptions(const CatalogWindow& window, const app::SettingsStore* store) {
  media::CameraImportOptions fallback;
  if (store != nullptr) {
    if (std::optional<app::Bytes> bytes = store->getBinary(kStoreKey, kStoreValue)) {
      if (media::DecodeCameraImportOptions(*bytes, &fallback) != err::kNone) fallback = {};
    }
  }
  return media::CatalogCameraImportOptions(window.catalog(), fallback);
}

void RunCameraImport(CatalogWindow& window, app::SettingsStore* store) {
  const QString title = Q(app::camera_text::kTitle);
  if (window.catalog().read_only) {
    QMessageBox::warning(&window, title, Q(app::MessageForError(err::kWritePermission, app::Activity::kOther)));
    return;
  }
  CameraImportDialog dialog(InitialCameraOptions(window, store), &window);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::optional<media::CameraInfo> camera = dialog.camera();
  if (!camera) return;
  const media::CameraImportOptions options = dialog.options();
  // A fresh account may have no Pictures folder yet.
  if (!QDir().mkpath(Q(options.destination))) {
    QMessageBox::warning(&window, title,
                         QObject::tr("The destination folder '%1' couldn't be made.").arg(Q(options.destination)));
    return;
  }
  if (store != nullptr) (void)store->putBinary(kStoreKey, kStoreValue, media::EncodeCameraImportOptions(options));  // a default only
  media::SetCatalogCameraImportOptions(window.catalog(), options);

  std::vector<media::CameraImportOutcome> outcomes;
  media::CameraProblem problem = media::CameraProblem::kNone;
  const ErrorCode e = DownloadWithProgress(window, *camera, options, {}, &outcomes, &problem);

  KeepCaptureDatesThroughScan(window, outcomes);
  int added = 0;
  for (const media::CameraImportOutcome& o : outcomes) added += o.item_id != 0 ? 1 : 0;
  window.scanPending();
  Q_EMIT window.stateChanged();
  Q_EMIT window.message(QObject::tr("%n items added.", nullptr, added), 5000);

  if (e == err::kNone || e == err::kUserCancelled) return;
  if (e == err::kBadName) {
    QMessageBox::critical(&window, title, Q(app::camera_text::kIoError));
  } else if (problem != media::CameraProblem::kNone) {
    QMessageBox::warning(&window, title, Q(app::CameraProblemMessage(static_cast<int>(problem), camera->model)));
  } else {
    QMessageBox::warning(&window, title, Q(app::MessageForError(e, app::Activity::kOther)));
  }
}

}  // namespace norvo::views
