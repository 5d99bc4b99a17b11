// SPDX-License-Identifier: GPL-3.0-or-later
// The Transfer and Backup dialogs on the offscreen platform: what their
// controls give, the replace question's facts, and both runs on a catalog
// window's items.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "catalog/catalog.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"
#include "views/transfer_dialog.h"

using namespace norvo;
using namespace norvo::views;

namespace {

QStringList RadioTexts(QWidget* root) {
  QStringList texts;
  for (QRadioButton* b : root->findChildren<QRadioButton*>()) texts << b->text();
  return texts;
}

QRadioButton* Radio(QWidget* root, const QString& text) {
  for (QRadioButton* b : root->findChildren<QRadioButton*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

QCheckBox* Check(QWidget* root, const QString& text) {
  for (QCheckBox* b : root->findChildren<QCheckBox*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

}  // namespace

class TransferDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  app::Labels labels_ = app::DefaultLabels();

  // A window over an untitled catalog of three small files.
  std::unique_ptr<CatalogWindow> windowWithFiles(const QString& folder, std::vector<std::uint32_t>* ids) {
    QDir().mkpath(folder);
    auto document = std::make_unique<app::CatalogDocument>();
    if (!document->createUntitled().ok()) return nullptr;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
      const QString path = folder + "/" + name;
      WriteFile(path, QByteArray("bytes of ") + name);
      FileSpec spec;
      (void)MakeFileSpec(U(path), spec);  // it exists
      std::uint32_t id = 0;
      if (catalog::AddPendingItem(**document, spec, &id) != err::kNone) return nullptr;
      ids->push_back(id);
    }
    return std::make_unique<CatalogWindow>(std::move(document), &labels_);
  }

 private Q_SLOTS:
  void initTestCase() {
    InitResources();
    QVERIFY(dir_.isValid());
    app::SetScratchFolder(dir_.path().toStdString());
    QCOMPARE(media::InitMediaTypes(media::FindPlatformComponents()), err::kNone);
  }

  // Move, copy, duplicate in that order, each with its text; the dialog
  // opens on the given mode and gives the one chosen.
  void transferModeDialogShowsTheThreeModes() {
    TransferModeDialog dialog(output::TransferMode::kDuplicate);
    QCOMPARE(RadioTexts(&dialog), (QStringList{"Move files, reset paths and delete originals",
                                               "Copy files and reset paths", "Duplicate files"}));
    QCOMPARE(dialog.mode(), output::TransferMode::kDuplicate);
    QVERIFY(Radio(&dialog, "Duplicate files")->isChecked());
    bool effect_shown = false;
    for (QLabel* l : dialog.findChildren<QLabel*>()) {
      effect_shown |= l->text() == "Moves media files to a new folder, deleting original files. Catalog items will "
                                   "refer to the files in the new folder.";
    }
    QVERIFY(effect_shown);
    QTest::mouseClick(Radio(&dialog, "Move files, reset paths and delete originals"), Qt::LeftButton);
    QCOMPARE(dialog.mode(), output::TransferMode::kMove);
  }

  void clashQuestionShowsBothFilesFacts() {
    output::FileFacts existing{"/d/IMG_1.JPG", 2048, 1'000'000'000, 0, 0};
    output::FileFacts incoming{"/m/IMG_1.JPG", 5 * 1024 * 1024, 1'100'000'000, 4000, 3000};
    const QString text = ClashQuestionText(existing, incoming);
    QVERIFY(text.contains("\"IMG_1.JPG\""));
    QVERIFY(text.contains("/d/IMG_1.JPG"));
    QVERIFY(text.contains("/m/IMG_1.JPG"));
    QVERIFY(text.contains("4000 x 3000"));
    QVERIFY(text.indexOf("/d/IMG_1.JPG") < text.indexOf("/m/IMG_1.JPG"));  // the one in place first
    QCOMPARE(text.count("pixels"), 1);  // no dimensions made up for the file without them
  }

  // A disc or image target cannot reset paths; a folder can.
  void backupDialogGivesItsOptions() {
    const std::vector<BackupTarget> targets = {{BackupTarget::Kind::kFolder, "/media/stick", "Stick"},
                                               {BackupTarget::Kind::kDiscDrive, "/dev/sr0", "Disc"}};
    BackupDialog dialog(targets);
    auto* drives = dialog.findChild<QComboBox*>();
    QVERIFY(drives);
    QCOMPARE(drives->count(), 2);
    QTest::mouseClick(Radio(&dialog, "&Only visible media files"), Qt::LeftButton);
    for (const char* box : {"&Reset paths", "&Include media catalog"}) Check(&dialog, box)->setChecked(true);
    output::BackupOptions o = dialog.options();
    QVERIFY(o.visible_only && o.reset_paths && o.include_catalog && !o.keep_folders);
    QCOMPARE(dialog.target()->path, QString("/media/stick"));
    drives->setCurrentIndex(1);
    QVERIFY(!Check(&dialog, "&Reset paths")->isEnabled());
    QVERIFY(!dialog.options().reset_paths);
    QCOMPARE(dialog.target()->kind, BackupTarget::Kind::kDiscDrive);
  }

  // The runs on a window: the items follow their copies, the backup lands.
  void transferAndBackupRunOnTheWindowsItems() {
    std::vector<std::uint32_t> ids;
    auto w = windowWithFiles(dir_.path() + "/media", &ids);
    QVERIFY(w);
    const QString dest = dir_.path() + "/dest";
    QDir().mkpath(dest);
    output::TransferRequest request;
    request.mode = output::TransferMode::kCopy;
    request.destination = U(dest);
    std::vector<output::TransferOutcome> outcomes;
    QCOMPARE(TransferWithProgress(*w, {ids[0], ids[2]}, request, &outcomes), err::kNone);
    QCOMPARE(outcomes.size(), std::size_t{2});
    catalog::Catalog& c = w->catalog();
    QCOMPARE(Q(catalog::ItemPath(c, c.cellOf(ids[0])).value_or("")), dest + "/a.jpg");
    QCOMPARE(Q(catalog::ItemPath(c, c.cellOf(ids[1])).value_or("")), dir_.path() + "/media/b.jpg");
    QCOMPARE(ReadFile(dest + "/c.jpg"), QByteArray("bytes of c.jpg"));

    const QString stick = dir_.path() + "/stick";
    QDir().mkpath(stick);
    output::BackupOptions o;
    o.destination = U(stick);
    output::BackupReport report;
    QCOMPARE(BackupWithProgress(*w, o, &report), err::kNone);
    QCOMPARE(report.files.size(), std::size_t{3});
    QCOMPARE(ReadFile(stick + "/b.jpg"), QByteArray("bytes of b.jpg"));
    // An untitled catalog cannot be included.
    o.include_catalog = true;
    QVERIFY(BackupWithProgress(*w, o, &report) != err::kNone);
    QCOMPARE(report.failure, output::BackupFailure::kNotSaved);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TransferDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "transfer_dialog_test.moc"
