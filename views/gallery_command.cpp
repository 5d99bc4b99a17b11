// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/gallery_command.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QUrl>

#include <span>

#include "app/messages.h"
#include "app/settings_store.h"
#include "output/gallery_export.h"
#include "output/gallery_settings.h"
#include "views/catalog_window.h"
#include "views/html_options_dialog.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"

namespace norvo::views {

int RunGalleryWithProgress(CatalogWindow& window, const QByteArray& settings_record, const QString& destination,
                           const QString& title, QString* index_path) {
  // The export reads the catalog between its progress calls, which let the
  // event loop run: scan results must not change the catalog meanwhile.
  window.scanner()->waitForIdle();
  const int count = window.catalog().itemCount();
  QProgressDialog progress(Q(output::kBuildingMediaText), QObject::tr("Cancel"), 0, std::max(1, 2 * count), &window);
  progress.setWindowTitle(Q(output::kGalleryProgressTitle));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(300);
  progress.setValue(0);

  const std::string record(settings_record.constData(), static_cast<std::size_t>(settings_record.size()));
  output::GalleryRequest request;
  request.settings_record = std::span(reinterpret_cast<const std::uint8_t*>(record.data()), record.size());
  request.destination = U(destination);
  request.title = U(title);
  request.progress = [&progress](ProgressPhase phase, int done, int total, std::string_view text) {
    if (phase == ProgressPhase::kStep || phase == ProgressPhase::kStart) {
      progress.setMaximum(std::max(1, total));
      progress.setLabelText(Q(text));
      progress.setValue(std::min(done, progress.maximum()));
    }
    QApplication::processEvents();
    return progress.wasCanceled() ? 1 : 0;
  };
  QApplication::setOverrideCursor(Qt::BusyCursor);
  const output::GalleryOutcome outcome = output::RunGallery(window.catalog(), request);
  QApplication::restoreOverrideCursor();
  progress.reset();
  if (index_path != nullptr) *index_path = Q(outcome.index_path);
  return static_cast<int>(outcome.result);
}

QString MakeGallery(CatalogWindow& window, app::SettingsStore* store) {
  std::vector<std::uint8_t> stored;
  if (store != nullptr) {
    stored = store->getBinary(output::kGallerySettingsKey, output::kGallerySettingsValue).value_or(stored);
  }
  output::GallerySettings settings;
  // A damaged record gives the defaults, which the sheet then shows.
  (void)output::ParseGallerySettings(stored, &settings);

  const QString default_title = QFileInfo(window.title()).completeBaseName();
  HtmlOptionsDialog sheet(settings, default_title, &window);
  if (sheet.exec() != QDialog::Accepted) return {};
  const std::vector<std::uint8_t> record = output::SerializeGallerySettings(sheet.settings());
  if (store != nullptr) {
    if (ErrorCode e = store->putBinary(output::kGallerySettingsKey, output::kGallerySettingsValue, record);
        e != err::kNone) {
      // The export still runs with the sheet's settings; only keeping them failed.
      Q_EMIT window.message(QObject::tr("The gallery settings could not be kept (error %1).").arg(e), 5000);
    }
  }
  const QString folder = QFileDialog::getExistingDirectory(&window, QObject::tr("Choose a folder:"));
  if (folder.isEmpty()) return {};

  QString index_path;
  const int result = RunGalleryWithProgress(
      window, QByteArray(reinterpret_cast<const char*>(record.data()), static_cast<qsizetype>(record.size())), folder,
      sheet.siteTitle(), &index_path);
  const bool written = result == static_cast<int>(output::GalleryResult::kDone) ||
                       result == static_cast<int>(output::GalleryResult::kMissingFiles);
  if (written && sheet.launchBrowser() && !index_path.isEmpty()) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(index_path));
  }
  if (result == static_cast<int>(output::GalleryResult::kDone)) {
    Q_EMIT window.message(QObject::tr("HTML gallery written: %1").arg(index_path), 8000);
  } else if (result != static_cast<int>(output::GalleryResult::kCancelled)) {
    QMessageBox::warning(&window, QObject::tr("HTML Gallery"), Q(app::GalleryResultMessage(result)));
  }
  return written ? index_path : QString();
}

}  // namespace norvo::views
