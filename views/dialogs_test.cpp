// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop program's dialogs on the offscreen platform: what their
// controls store, driven the way a user drives them.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QDir>

#include "app/preferences.h"
#include "app/settings_store.h"
#include "metadata/field_table.h"
#include "platform/text_encoding.h"
#include "output/delimited_text.h"
#include "output/gallery_settings.h"
#include "views/desktop_applications.h"
#include "views/find_dialog.h"
#include "views/html_options_dialog.h"
#include "views/import_options_dialog.h"
#include "views/preferences_dialog.h"
#include "views/qt_support.h"

using namespace norvo;
using namespace norvo::views;

namespace {

template <typename Widget>
Widget* FindByText(QWidget* root, const QString& text) {
  for (Widget* w : root->findChildren<Widget*>()) {
    if (w->text() == text) return w;
  }
  return nullptr;
}

// The combo whose entries include `entry`.
QComboBox* ComboWith(QWidget* root, const QString& entry) {
  for (QComboBox* c : root->findChildren<QComboBox*>()) {
    if (c->findText(entry) >= 0) return c;
  }
  return nullptr;
}

}  // namespace

class PreferencesDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // Every page writes its own bytes, as stored values rather than list
  // positions; bytes no page owns are left exactly as they were.
  void controlsWriteTheirOffsets() {
    app::PreferencesBlock block = app::PreferencesBlock::Defaults();
    block.setU8(0x0A7, 1);
    block.setU8(0x500, 0xAB);  // no page owns it
    app::Labels labels = app::DefaultLabels();
    PreferencesDialog dialog(block, labels);

    FindByText<QCheckBox>(&dialog, QStringLiteral("Reopen the last catalog at start-up"))->setChecked(true);
    FindByText<QCheckBox>(&dialog, QStringLiteral("Check for a new version at start-up"))->setChecked(false);
    QComboBox* wait = ComboWith(&dialog, QStringLiteral("2 minutes"));
    wait->setCurrentIndex(wait->findText(QStringLiteral("2 minutes")));
    QComboBox* journal = ComboWith(&dialog, QStringLiteral("Delete it after every save"));
    journal->setCurrentIndex(1);
    QComboBox* sort = ComboWith(&dialog, QStringLiteral("Letters only"));
    sort->setCurrentIndex(0);
    QComboBox* watch = ComboWith(&dialog, QStringLiteral("Continuously"));
    watch->setCurrentIndex(watch->findText(QStringLiteral("Every five minutes")));
    FindByText<QRadioButton>(&dialog, QStringLiteral("All displayed fields"))->setChecked(true);
    dialog.findChildren<QLineEdit*>().at(2)->setText(QStringLiteral("Für später"));
    dialog.findChildren<QLineEdit*>().at(4)->setText(QStringLiteral("   "));  // blank keeps the old name
    dialog.accept();

    const app::PreferencesBlock& out = dialog.preferences();
    QCOMPARE(out.u8(app::pref::kStartupChoice), app::kStartupReopenLastCatalog);
    QCOMPARE(out.u8(app::pref::kNoUpdateCheck), 1);
    QCOMPARE(out.u8(app::pref::kBusyWait), 4);
    QCOMPARE(out.u8(app::pref::kJournalKeeping), 2);
    QCOMPARE(out.u8(app::pref::kSortStrength), 1);
    QCOMPARE(out.u8(app::pref::kWatchRate), 2);
    QCOMPARE(out.u8(app::pref::kListCopyFields), static_cast<int>(output::ListCopyChoice::kDisplayedFields));
    QCOMPARE(out.u8(0x500), 0xAB);
    QCOMPARE(out.u8(0x0A7), 1);
    QCOMPARE(Q(Windows1252ToUtf8(dialog.labels()[2].name)), QStringLiteral("Für später"));
    QCOMPARE(dialog.labels()[4].name, labels[4].name);
  }

  // A save reserve below the engine's minimum shows (and is stored as) the
  // minimum; thread counts keep 0, "one per core".
  void rangesAreHeld() {
    app::PreferencesBlock block = app::PreferencesBlock::Defaults();
    block.setI32(app::pref::kSaveReserve, 3);
    block.setI32(app::pref::kScanJobs, 0);
    PreferencesDialog dialog(block, app::DefaultLabels());
    QList<QSpinBox*> spins = dialog.findChildren<QSpinBox*>();
    QCOMPARE(spins.size(), 2);
    dialog.accept();
    QCOMPARE(dialog.preferences().i32(app::pref::kSaveReserve), 512);
    QCOMPARE(dialog.preferences().i32(app::pref::kScanJobs), 0);
  }

  // A stored list copy choice outside 0-2 is reset when the block loads.
  void listCopyChoiceIsValidated() {
    app::PreferencesBlock block = app::PreferencesBlock::Defaults();
    block.setU8(app::pref::kListCopyFields, 7);
    app::ValidatePreferences(block, std::nullopt);
    QCOMPARE(block.u8(app::pref::kListCopyFields), 0);
    block.setU8(app::pref::kListCopyFields, 2);
    app::ValidatePreferences(block, std::nullopt);
    QCOMPARE(block.u8(app::pref::kListCopyFields), 2);
  }
};

class HtmlOptionsDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // The sheet writes the fields it shows and nothing else: sizes through
  // the layout codes, combos as codes, the launch choice in the kept byte;
  // every other byte of the record comes back unchanged.
  void writesOnlyItsFields() {
    output::GallerySettings stored;
    stored.numbered_page_names = 1;
    stored.jpeg_quality_code = 7;  // target size: no entry shows it
    stored.target_jpeg_kb = 250;
    stored.frame_images = 1;
    stored.reserved_136[10] = 0x5A;
    stored.extension_code = 0;
    HtmlOptionsDialog dialog(stored, QStringLiteral("Holiday"));
    QCOMPARE(ComboWith(&dialog, QStringLiteral("shtml"))->currentText(), QStringLiteral("htm"));

    ComboWith(&dialog, QStringLiteral("Large (160 px)"))->setCurrentIndex(3);
    ComboWith(&dialog, QStringLiteral("Small (320 x 240 px)"))->setCurrentIndex(0);
    ComboWith(&dialog, QStringLiteral("shtml"))->setCurrentIndex(2);
    FindByText<QCheckBox>(&dialog, QStringLiteral("Launch browser when done"))->setChecked(false);
    FindByText<QCheckBox>(&dialog, QStringLiteral("Include media info"))->setChecked(true);
    QSpinBox* columns = dialog.findChildren<QSpinBox*>().at(0);
    columns->setValue(6);
    dialog.findChild<QLineEdit*>()->setText(QStringLiteral("Ferien – Ελλάδα"));
    dialog.accept();

    output::GallerySettings expected = stored;
    output::ApplyLayoutCodes(&expected, 4, 1);
    expected.columns = 6;
    expected.extension_code = 3;
    expected.include_media_info = 1;
    expected.kept = 0;
    expected.text_encoding = 1;
    QCOMPARE(expected.thumbnail_size, 160);
    QCOMPARE(expected.media_box_width, 320);
    QCOMPARE(expected.numbered_page_names, 0);
    QCOMPARE(dialog.settings().jpeg_quality_code, 7);
    QVERIFY(output::SerializeGallerySettings(dialog.settings()) == output::SerializeGallerySettings(expected));
    QCOMPARE(dialog.siteTitle(), QStringLiteral("Ferien – Ελλάδα"));
    QVERIFY(!dialog.launchBrowser());
  }

  // A picked quality replaces a code no entry shows.
  void pickedQualityReplacesAnUnshownCode() {
    output::GallerySettings stored;
    stored.jpeg_quality_code = 7;
    HtmlOptionsDialog dialog(stored, QString());
    ComboWith(&dialog, QStringLiteral("Best"))->setCurrentIndex(3);
    dialog.accept();
    QCOMPARE(dialog.settings().jpeg_quality_code, 4);
  }
};

class OpenWithTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  void write(const QString& relative, const QByteArray& text) {
    QDir().mkpath(QFileInfo(dir_.filePath(relative)).absolutePath());
    QFile f(dir_.filePath(relative));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_DATA_DIRS", dir_.filePath(QStringLiteral("system")).toUtf8());
    qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", dir_.filePath(QStringLiteral("config-system")).toUtf8());
  }

  // Entries for the type are listed with the user's default first, then by
  // name; hidden entries, other types, removed associations and entries
  // the user's folder overrides are left out.
  void applicationsForATypeInTheUsersOrder() {
    write(QStringLiteral("system/applications/zeta.desktop"),
          "[Desktop Entry]\nType=Application\nName=Zeta Viewer\nExec=zeta %f\nMimeType=image/jpeg;image/png;\n");
    write(QStringLiteral("system/applications/alpha.desktop"),
          "[Desktop Entry]\nType=Application\nName=Alpha Paint\nExec=alpha %U\nMimeType=image/jpeg;\n"
          "[Desktop Action New]\nName=Not the entry\nExec=nope\n");
    write(QStringLiteral("system/applications/hidden.desktop"),
          "[Desktop Entry]\nType=Application\nName=Hidden\nNoDisplay=true\nExec=h %f\nMimeType=image/jpeg;\n");
    write(QStringLiteral("system/applications/text.desktop"),
          "[Desktop Entry]\nType=Application\nName=Editor\nExec=ed %f\nMimeType=text/plain;\n");
    write(QStringLiteral("system/applications/gone.desktop"),
          "[Desktop Entry]\nType=Application\nName=Gone\nExec=g %f\nMimeType=image/jpeg;\n");
    write(QStringLiteral("system/applications/kde/over.desktop"),
          "[Desktop Entry]\nType=Application\nName=System Over\nExec=o %f\nMimeType=image/jpeg;\n");
    write(QStringLiteral("home/applications/kde-over.desktop"),
          "[Desktop Entry]\nType=Application\nName=User Over\nExec=o2 %f\nMimeType=image/jpeg;\n");
    write(QStringLiteral("config/mimeapps.list"),
          "[Default Applications]\nimage/jpeg=zeta.desktop;\n[Removed Associations]\nimage/jpeg=gone.desktop;\n");

    QStringList names;
    for (const DesktopApplication& a : ApplicationsForMimeType(QStringLiteral("image/jpeg"), true)) names << a.name;
    QCOMPARE(names, (QStringList{QStringLiteral("Zeta Viewer"), QStringLiteral("Alpha Paint"),
                                 QStringLiteral("User Over")}));
  }

  // Exec keys: quoted words keep their blanks, %F/%U take every file, %f/%u
  // make one run per file, %% is a percent sign, icon codes go.
  void execKeysBecomeCommandLines() {
    const QStringList files{QStringLiteral("/tmp/a b.jpg"), QStringLiteral("/tmp/c.jpg")};
    QCOMPARE(ExecArguments(QStringLiteral("view --title \"My  Viewer\" %i %U"), files),
             (QStringList{QStringLiteral("view"), QStringLiteral("--title"), QStringLiteral("My  Viewer"),
                          QUrl::fromLocalFile(files[0]).toString(), QUrl::fromLocalFile(files[1]).toString()}));
    const std::vector<QStringList> runs = CommandsFor(QStringLiteral("show --zoom=100%% %f"), files);
    QCOMPARE(runs.size(), std::size_t{2});
    QCOMPARE(runs[1], (QStringList{QStringLiteral("show"), QStringLiteral("--zoom=100%"), files[1]}));
    QCOMPARE(CommandsFor(QStringLiteral("all %F"), files).front().size(), 3);
    QVERIFY(ExecArguments(QStringLiteral("broken \"quote"), files).isEmpty());
  }

  // Launching runs the entry's program on the files.
  void launchRunsTheProgram() {
    const QString script = dir_.filePath(QStringLiteral("record.sh"));
    const QString out = dir_.filePath(QStringLiteral("out.txt"));
    write(QStringLiteral("record.sh"), QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(out).toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    DesktopApplication app{QStringLiteral("rec.desktop"), QStringLiteral("Recorder"), script + QStringLiteral(" %F"), {}};
    QVERIFY(LaunchApplication(app, {QStringLiteral("/x/one.jpg"), QStringLiteral("/x/two.jpg")}));
    const auto recorded = [&out] {
      QFile f(out);
      return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    };
    QTRY_COMPARE_WITH_TIMEOUT(recorded(), QByteArray("/x/one.jpg /x/two.jpg"), 10000);
  }
};

class ImportOptionsDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // Classes, filters and operators land in the typed options; the mask bits
  // past the eight classes and the filters left alone keep their values.
  void controlsWriteTheOptions() {
    media::ImportSettings stored = media::ImportSettings::Defaults();
    stored.class_mask = media::MaskBit(0) | media::MaskBit(2) | media::MaskBit(20);  // Image, Video, a spare bit
    stored.created = *media::ParseImportDate("2021-03-04");
    ImportOptionsDialog dialog(stored, 128);
    FindByText<QCheckBox>(&dialog, QStringLiteral("Video"))->setChecked(false);
    FindByText<QCheckBox>(&dialog, QStringLiteral("Audio"))->setChecked(true);
    FindByText<QCheckBox>(&dialog, QStringLiteral("Size (KB)"))->setChecked(true);
    ComboWith(&dialog, QStringLiteral("is greater than or equal"))->setCurrentIndex(1);  // is less than
    dialog.findChild<QSpinBox*>(QStringLiteral("sizeValue"))->setValue(1);
    FindByText<QCheckBox>(&dialog, QStringLiteral("File name"))->setChecked(true);
    ComboWith(&dialog, QStringLiteral("doesn't contain"))->setCurrentIndex(4);  // ends with
    dialog.findChild<QLineEdit*>()->setText(QStringLiteral(".jpg"));
    dialog.findChild<QSpinBox*>(QStringLiteral("thumbnailSize"))->setValue(200);
    dialog.accept();

    const media::ImportSettings& out = dialog.settings();
    QCOMPARE(out.class_mask, media::MaskBit(0) | media::MaskBit(1) | media::MaskBit(20));
    QVERIFY(out.enabled(media::ImportFilter::kSize));
    QCOMPARE(out.op(media::ImportFilter::kSize), media::number_op::kLess);
    QCOMPARE(out.size_kb, 1u);
    QVERIFY(out.enabled(media::ImportFilter::kName));
    QCOMPARE(out.op(media::ImportFilter::kName), media::name_op::kEndsWith);
    QCOMPARE(out.name_text.text(), std::string(".jpg"));
    QVERIFY(!out.enabled(media::ImportFilter::kCreated));
    QCOMPARE(media::FormatImportDate(out.created).substr(0, 10), std::string("2021-03-04"));
    QCOMPARE(out.type, stored.type);
    QCOMPARE(dialog.thumbnailSize(), 200);
  }

  // A mask of zero (every class) stays every class when nothing is unticked.
  void everyClassStaysEveryClass() {
    media::ImportSettings stored = media::ImportSettings::Defaults();
    stored.class_mask = 0;
    ImportOptionsDialog dialog(stored, 96);
    dialog.accept();
    for (int c = 0; c < media::kMediaClassCount; ++c) {
      QVERIFY(media::ClassMaskAccepts(dialog.settings().class_mask, static_cast<media::MediaClass>(c)));
    }
  }
};

class FindDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // Rows come and go between one and six; a query put in comes back out
  // of the controls as it went in.
  void rowsAndQueriesRoundTrip() {
    FindDialog dialog(nullptr, nullptr);
    QCOMPARE(dialog.rowCount(), 1);
    dialog.removeRow();
    QCOMPARE(dialog.rowCount(), 1);
    for (int i = 0; i < 8; ++i) dialog.addRow();
    QCOMPARE(dialog.rowCount(), fields::kMaxCriteria);

    fields::SavedQuery query;
    // Any second field the Find list offers, with a text in Greek.
    const metadata::FieldId second = fields::FindFieldAt(3, 0, fields::FieldPurpose::kFind);
    QVERIFY(second != 0 && second != metadata::field_ids::kFileName);
    query.criteria = {{metadata::field_ids::kFileName, 4, "IMG"}, {second, 1, "Ελλάδα"}};
    query.any = true;
    query.scope = fields::SearchScope::kAllOpen;
    dialog.setQuery(query);
    QCOMPARE(dialog.rowCount(), 2);
    const FindRequest r = dialog.request();
    QCOMPARE(fields::EncodeQuery(r.query), fields::EncodeQuery(query));
  }

  // A query saved from the dialog is in the store under its name and
  // comes back through the saved-query list.
  void savedQueriesAreKeptInTheStore() {
    QTemporaryDir dir;
    app::SettingsStore store = app::SettingsStore::Open(app::StorePaths{U(dir.filePath(QStringLiteral("s.db"))), {}});
    fields::SavedQuery query;
    query.criteria = {{metadata::field_ids::kFileName, 2, "beach"}};
    QVERIFY(fields::SaveQuery(store, "Beach photos", query) == err::kNone);
    FindDialog dialog(nullptr, &store);
    QComboBox* saved = ComboWith(&dialog, QStringLiteral("Beach photos"));
    QVERIFY(saved != nullptr);
    saved->setCurrentIndex(saved->findText(QStringLiteral("Beach photos")));
    Q_EMIT saved->activated(saved->currentIndex());
    QCOMPARE(fields::EncodeQuery(dialog.request().query), fields::EncodeQuery(query));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int status = 0;
  {
    PreferencesDialogTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    ImportOptionsDialogTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    FindDialogTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    OpenWithTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    HtmlOptionsDialogTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  return status;
}

#include "dialogs_test.moc"
