// SPDX-License-Identifier: GPL-3.0-or-later
// Import From Camera on the offscreen platform, with a folder that
// libgphoto2's directory driver shows as a camera (NORVO_CAMERA_PORT): the
// camera list and its empty state, the options and texts the dialog gives,
// the delete question, and the download into a catalog window with the
// failure question.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "catalog/catalog.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "metadata/item_fields.h"
#include "views/camera_import_dialog.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"

using namespace norvo;
using namespace norvo::views;

namespace {

const QString kPhotos = QStringLiteral(NORVO_TESTDATA_DIR "/photos");
const QStringList kCameraPhotos = {"Canon_40D.jpg", "DSCN0010.jpg", "Nikon_D70.jpg"};

QCheckBox* Check(QWidget* root, const QString& text) {
  for (QCheckBox* b : root->findChildren<QCheckBox*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

// A Unix socket's file at `path`: listed by the camera, unreadable by it.
bool MakeSocket(const QString& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray bytes = path.toUtf8();
  if (fd < 0 || static_cast<std::size_t>(bytes.size()) >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
  const bool made = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return made;
}

QStringList Labels(QWidget* root) {
  QStringList texts;
  for (QLabel* l : root->findChildren<QLabel*>()) texts << l->text();
  return texts;
}

}  // namespace

class CameraImportDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  app::Labels labels_ = app::DefaultLabels();
  QString card_;
  QString port_;

  std::unique_ptr<CatalogWindow> emptyWindow() {
    auto document = std::make_unique<app::CatalogDocument>();
    if (!document->createUntitled().ok()) return nullptr;
    return std::make_unique<CatalogWindow>(std::move(document), &labels_);
  }

 private Q_SLOTS:
  void initTestCase() {
    InitResources();
    QVERIFY(dir_.isValid());
    app::SetScratchFolder(dir_.path().toStdString());
    QCOMPARE(media::InitMediaTypes(media::FindPlatformComponents()), err::kNone);
  }

  void init() {
    card_ = dir_.path() + "/card";
    QDir(card_).removeRecursively();
    QVERIFY(QDir().mkpath(card_ + "/DCIM/100TEST"));
    for (const QString& name : kCameraPhotos) QVERIFY(QFile::copy(kPhotos + "/" + name, card_ + "/DCIM/100TEST/" + name));
    port_ = "disk:" + card_;
    unsetenv("NORVO_CAMERA_PORT");
  }

  // With no camera the list says so and Import cannot be pressed; a camera
  // that appears is listed and chosen on the next refresh.
  void listFollowsTheCameras() {
    media::CameraImportOptions o;
    o.destination = U(dir_.path() + "/dest");
    CameraImportDialog dialog(o);
    auto* list = dialog.findChild<QListWidget*>();
    QVERIFY(list);
    QPushButton* import = nullptr;
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
      if (b->text() == "&Import") import = b;
    }
    QVERIFY(import);
    if (dialog.cameras().empty()) {
      QCOMPARE(list->count(), 1);
      QCOMPARE(list->item(0)->text(), QString("No camera connected."));
      QVERIFY(!import->isEnabled());
      QVERIFY(!dialog.camera());
    }
    const std::size_t before = dialog.cameras().size();
    setenv("NORVO_CAMERA_PORT", port_.toUtf8().constData(), 1);
    QSignalSpy changed(&dialog, &CameraImportDialog::camerasChanged);
    dialog.refreshCameras();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dialog.cameras().size(), before + 1);
    list->setCurrentRow(static_cast<int>(before));
    QCOMPARE(dialog.camera()->port, port_.toStdString());
    QVERIFY(import->isEnabled());
    // Nothing new: the list and the choice stay.
    dialog.refreshCameras();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dialog.camera()->port, port_.toStdString());
  }

  // The pages start from the options given and give back what is set;
  // with delete chosen, a No to the question keeps the dialog open.
  void optionsAndTheDeleteQuestion() {
    setenv("NORVO_CAMERA_PORT", port_.toUtf8().constData(), 1);
    media::CameraImportOptions o;
    o.destination = "/srv/photos";
    o.skip_same_name = true;
    o.stamps[3] = "© Studio";
    CameraImportDialog dialog(o);
    QVERIFY(Check(&dialog, "Skip files with same name")->isChecked());
    QVERIFY(!Check(&dialog, "Lock downloaded files")->isChecked());
    QVERIFY(Labels(&dialog).contains("Instructions:"));
    bool noted = false;
    for (const QString& text : Labels(&dialog)) noted |= text.contains("modification date") && text.contains("Created");
    QVERIFY(noted);
    QCOMPARE(dialog.options(), o);

    Check(&dialog, "Lock downloaded files")->setChecked(true);
    Check(&dialog, "Delete items from camera after downloading")->setChecked(true);
    auto edits = dialog.findChildren<QLineEdit*>();
    for (QLineEdit* e : edits) {
      if (e->text() == "© Studio") e->setText(QString(300, 'x'));
    }
    const media::CameraImportOptions chosen = dialog.options();
    QVERIFY(chosen.lock && chosen.delete_from_camera && chosen.skip_same_name);
    QCOMPARE(chosen.stamps[3].size(), media::kMaxCameraStampLength);

    int asked = 0;
    dialog.setDeleteQuestion([&] {
      ++asked;
      return false;
    });
    dialog.show();
    dialog.accept();
    QCOMPARE(asked, 1);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    dialog.setDeleteQuestion([&] {
      ++asked;
      return true;
    });
    dialog.accept();
    QCOMPARE(asked, 2);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }

  // The download fills the window's catalog: every picture copied and
  // imported, the texts on the new items, the camera emptied when asked.
  // A failed transfer asks whether to go on and leaves the picture on the
  // camera.
  void downloadIntoTheWindow() {
    auto w = emptyWindow();
    QVERIFY(w);
    const QString dest = dir_.path() + "/dest-run";
    QVERIFY(QDir().mkpath(dest));
    media::CameraImportOptions o;
    o.destination = U(dest);
    o.stamps[0] = "Ann";
    const media::CameraInfo camera{std::string(media::kMassStorageModel), U(port_)};
    std::vector<media::CameraImportOutcome> outcomes;
    media::CameraProblem problem = media::CameraProblem::kNone;
    int asked = 0;
    QCOMPARE(DownloadWithProgress(*w, camera, o, [&](const media::DownloadResult&) { return ++asked, true; },
                                  &outcomes, &problem),
             err::kNone);
    QCOMPARE(asked, 0);
    QCOMPARE(int(outcomes.size()), 3);
    QCOMPARE(w->catalog().itemCount(), 3);
    for (const media::CameraImportOutcome& out : outcomes) {
      const QString name = Q(out.download.source.name);
      QCOMPARE(ReadFile(dest + "/" + name), ReadFile(kPhotos + "/" + name));
      metadata::ItemFields f;
      QCOMPARE(f.read(w->catalog(), w->catalog().cellOf(out.item_id)), err::kNone);
      QCOMPARE(f.text(media::kCameraStampFields[0].field), std::string("Ann"));
    }
    QCOMPARE(w->model()->rowCount(), 3);

    // A camera file that cannot be read (a socket where a picture should
    // be): its transfer fails, the question is asked, the others go on with
    // "Yes"; with "No" the run ends there. It stays on the camera.
    QVERIFY(MakeSocket(card_ + "/DCIM/100TEST/BROKEN.JPG"));
    o.delete_from_camera = true;
    asked = 0;
    QCOMPARE(DownloadWithProgress(*w, camera, o, [&](const media::DownloadResult& failed) {
               ++asked;
               return failed.source.name == "BROKEN.JPG" ? false : true;
             }, &outcomes, &problem),
             err::kNone);
    QCOMPARE(asked, 1);
    QVERIFY(QFileInfo::exists(card_ + "/DCIM/100TEST/BROKEN.JPG"));
    QCOMPARE(outcomes.back().download.status, media::DownloadStatus::kFailed);
    // What came before the failure was downloaded (and deleted); nothing after it.
    const int before_failure = static_cast<int>(outcomes.size()) - 1;
    QCOMPARE(QDir(card_ + "/DCIM/100TEST").entryList(QDir::Files | QDir::System).size(), 4 - before_failure);
    QCOMPARE(w->catalog().itemCount(), 3 + before_failure);

    asked = 0;
    QCOMPARE(DownloadWithProgress(*w, camera, o, [&](const media::DownloadResult&) { return ++asked, true; },
                                  &outcomes, &problem),
             err::kNone);
    QCOMPARE(asked, 1);
    QCOMPARE(QDir(card_ + "/DCIM/100TEST").entryList(QDir::Files | QDir::System),
             QStringList{"BROKEN.JPG"});
    QCOMPARE(w->catalog().itemCount(), 6);

    // A camera that is not there.
    QVERIFY(DownloadWithProgress(*w, {std::string(media::kMassStorageModel), U("disk:" + dir_.path() + "/none")}, o,
                                 {}, &outcomes, &problem) != err::kNone);
    QCOMPARE(w->catalog().itemCount(), 6);
  }

  // With the capture date option, the items keep their capture dates in
  // the Created field after the window's scan has read their files.
  void captureDatesOutlastTheScan() {
    auto w = emptyWindow();
    QVERIFY(w);
    const QString dest = dir_.path() + "/dest-dates";
    QVERIFY(QDir().mkpath(dest));
    media::CameraImportOptions o;
    o.destination = U(dest);
    o.set_capture_date = true;
    std::vector<media::CameraImportOutcome> outcomes;
    media::CameraProblem problem = media::CameraProblem::kNone;
    QCOMPARE(DownloadWithProgress(*w, {std::string(media::kMassStorageModel), U(port_)}, o, {}, &outcomes, &problem),
             err::kNone);
    QCOMPARE(int(outcomes.size()), 3);
    KeepCaptureDatesThroughScan(*w, outcomes);
    QCOMPARE(int(media::PendingItems(w->catalog()).size()), 3);
    w->scanPending();
    w->scanner()->waitForIdle();
    QCOMPARE(int(media::PendingItems(w->catalog()).size()), 0);
    for (const media::CameraImportOutcome& out : outcomes) {
      QVERIFY(out.download.capture_date != 0);
      catalog::ItemRecord record;
      const int cell = w->catalog().cellOf(out.item_id);
      QCOMPARE(catalog::GetItemRecord(w->catalog(), cell, catalog::kWithoutOptionalParts, record), err::kNone);
      QVERIFY(!w->catalog().cells[static_cast<std::size_t>(cell - 1)].pending());
      QCOMPARE(record.created, out.download.capture_date);
    }
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  CameraImportDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "camera_import_dialog_test.moc"
