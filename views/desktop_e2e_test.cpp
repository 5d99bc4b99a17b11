// SPDX-License-Identifier: GPL-3.0-or-later
// End to end on a real X server (run under xvfb-run): the built `norvo`
// started on a catalog, a second start handing its files over and ending,
// keys typed into the window; then `norvo-cli` reads what was saved. A
// second case types a caption into the info panel and drops items on a set
// in a window on the same X server, and checks a red photo's thumbnail is
// red on screen.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListView>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "fields/groups.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"
#include "views/info_panel.h"
#include "views/main_window.h"
#include "views/organize_panel.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"
#include "views/thumbnail_cache.h"

using namespace norvo;
using namespace norvo::views;

namespace {

const QString kPhotos = QStringLiteral(NORVO_TESTDATA_DIR "/photos");

// Runs norvo-cli with --json and returns its output as JSON.
QJsonDocument Cli(const QStringList& args, const QProcessEnvironment& env) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(NORVO_CLI_PATH), args + QStringList{QStringLiteral("--json")});
  p.waitForFinished(60000);
  return QJsonDocument::fromJson(p.readAllStandardOutput());
}

bool Run(const QString& program, const QStringList& args, const QProcessEnvironment& env, int timeout_ms = 20000) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, args);
  const bool ok = p.waitForFinished(timeout_ms) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (!ok) qWarning("%s %s: %s", qPrintable(program), qPrintable(args.join(' ')), p.readAllStandardError().constData());
  return ok;
}

}  // namespace

class DesktopEndToEnd : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();

 private Q_SLOTS:
  void initTestCase() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) QSKIP("needs an X server (run under xvfb-run)");
    InitResources();
    QVERIFY(dir_.isValid());
    // A home of its own: settings, the runtime folder with the instance
    // lock and the hand-over socket.
    for (const char* sub : {"home", "run", "config", "data"}) QVERIFY(QDir(dir_.path()).mkpath(QString::fromLatin1(sub)));
    QFile::setPermissions(dir_.filePath(QStringLiteral("run")), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                     QFileDevice::ExeOwner);
    env_.insert(QStringLiteral("HOME"), dir_.filePath(QStringLiteral("home")));
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("run")));
    env_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    env_.insert(QStringLiteral("XDG_DATA_HOME"), dir_.filePath(QStringLiteral("data")));
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    app::SetScratchFolder(dir_.path().toStdString());
    QVERIFY(media::InitMediaTypes(media::FindPlatformComponents()) == err::kNone);
  }

  // The program itself: started on a catalog, a second start hands its
  // photos over and ends at once, Ctrl+S saves and Ctrl+Q ends it; the
  // command line then finds the photos in the catalog.
  void secondStartHandsOverAndTheSavedCatalogHasItAll() {
    const QString catalog = dir_.filePath(QStringLiteral("e2e.nrk"));
    QVERIFY(Run(QStringLiteral(NORVO_CLI_PATH), {QStringLiteral("new"), catalog}, env_));
    QProcess first;
    first.setProcessEnvironment(env_);
    first.start(QStringLiteral(NORVO_PROGRAM_PATH), {catalog});
    QVERIFY(first.waitForStarted(10000));
    // The window is up once xdotool finds it.
    bool up = false;
    for (int i = 0; i < 400 && !up; ++i) {  // a sanitizer build on a busy machine starts slowly
      QTest::qWait(100);
      up = Run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("e2e")},
               env_, 2000);
    }
    QVERIFY2(up, "the first norvo never showed its window");

    QProcess second;
    second.setProcessEnvironment(env_);
    second.start(QStringLiteral(NORVO_PROGRAM_PATH),
                 {kPhotos + QStringLiteral("/BlueSquare.jpg"), kPhotos + QStringLiteral("/Canon_40D.jpg")});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    // Let the first instance import and scan (slow in a sanitizer build),
    // then save and quit by keys. A failure leaves no program behind.
    auto stop = qScopeGuard([&first] {
      if (first.state() != QProcess::NotRunning) {
        first.kill();
        first.waitForFinished(5000);
      }
    });
    auto titled = [this](const QString& pattern) {
      return Run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--name"), pattern}, env_, 2000);
    };
    // Two items shown in the status line means the hand-over was acted on.
    QTest::qWait(2000);
    for (int i = 0; i < 120 && !titled(QStringLiteral("^Norvo Media - \\[e2e.nrk \\*\\]")); ++i) QTest::qWait(500);
    QTest::qWait(3000);
    // No window manager runs: the keyboard focus is given directly.
    const QStringList window{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                             QStringLiteral("^Norvo Media - \\[e2e"),
                             QStringLiteral("windowfocus"), QStringLiteral("--sync")};
    QVERIFY(Run(QStringLiteral("xdotool"), window + QStringList{QStringLiteral("key"), QStringLiteral("ctrl+s")}, env_));
    // Saved: the title loses its "*".
    bool saved = false;
    for (int i = 0; i < 120 && !saved; ++i) {
      QTest::qWait(500);
      saved = titled(QStringLiteral("^Norvo Media - \\[e2e.nrk\\]$"));
    }
    QVERIFY2(saved, "the catalog was not saved");
    // xdotool may report the window gone before its key-up: the program's
    // own exit is what counts.
    (void)Run(QStringLiteral("xdotool"), window + QStringList{QStringLiteral("key"), QStringLiteral("ctrl+q")}, env_);
    // When xdotool stopped at the vanished window, the keys are still down
    // for the X server (which would repeat them into the next window).
    (void)Run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("ctrl+q")}, env_);
    QVERIFY(first.waitForFinished(60000));
    // A failing exit says why: the program's last words.
    QVERIFY2(first.exitCode() == 0, qPrintable(QStringLiteral("exit %1: %2")
                                                   .arg(first.exitCode())
                                                   .arg(QString::fromLocal8Bit(first.readAllStandardError().right(2000)))));

    const QJsonArray items = Cli({QStringLiteral("list"), catalog}, env_).array();
    QCOMPARE(items.size(), 2);
    QStringList names;
    for (const QJsonValue& item : items) {
      names.push_back(item[QStringLiteral("file_name")].toString());
      QCOMPARE(item[QStringLiteral("pending")].toBool(), false);  // scanned before the save
    }
    names.sort();
    QCOMPARE(names, (QStringList{QStringLiteral("BlueSquare.jpg"), QStringLiteral("Canon_40D.jpg")}));
  }

  // In a real window: a caption typed into the info panel and items dropped
  // on a set are saved; norvo-cli reads both. A red photo's thumbnail is red
  // on screen.
  void typedCaptionAndDroppedItemsAreSaved() {
    const QString red = dir_.filePath(QStringLiteral("red.png"));
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(qRgb(230, 10, 10));
    QVERIFY(picture.save(red));
    app::StartupState state;
    MainWindow window(&state);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    CatalogWindow* w = window.newCatalog();
    QVERIFY(w != nullptr);
    w->importPaths({red, kPhotos + QStringLiteral("/Nikon_D70.jpg"), kPhotos + QStringLiteral("/Pentax_K10D.jpg")});
    w->scanner()->waitForIdle();
    w->setView(ViewKind::kThumbnails);
    QVERIFY(fields::AddSet(w->catalog(), "Best", false, 0) == err::kNone);
    w->organizePanel()->setField(metadata::field_ids::kCatalogSets);

    // The red thumbnail, as the screen shows it.
    const int red_row = w->model()->rowOfItem(w->catalog().cells[0].item_id);
    QListView* view = w->thumbnailView();
    w->model()->data(w->model()->index(red_row, 0), CatalogModel::kThumbnailRole);  // asks for the decode
    w->thumbnails()->waitForDone();
    QTest::qWait(200);
    const QRect cell = view->visualRect(w->model()->index(red_row, 0));
    const QImage shot = view->viewport()->grab().toImage();
    const QColor centre = shot.pixelColor(cell.center().x(), cell.y() + 6 + w->thumbnailSide() / 2);
    QVERIFY2(centre.red() > 200 && centre.green() < 50 && centre.blue() < 50, qPrintable(centre.name()));

    // A caption typed key by key.
    w->selectIds({w->model()->itemIdAt(1)});
    auto* caption = qobject_cast<QPlainTextEdit*>(w->infoPanel()->editorOf(metadata::field_ids::kCaption));
    QVERIFY(caption != nullptr);
    caption->setFocus();
    QTest::keyClicks(caption, QStringLiteral("Harbour at dawn"));
    view->setFocus();  // leaving the box applies it
    QTest::qWait(50);

    // Items 2 and 3 dropped on the set.
    QTreeWidget* tree = w->organizePanel()->tree();
    std::unique_ptr<QMimeData> mime(w->model()->mimeData({w->model()->index(1, 0), w->model()->index(2, 0)}));
    const QPoint at = tree->visualItemRect(tree->topLevelItem(0)).center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &drop);

    const QString saved = dir_.filePath(QStringLiteral("typed.nrk"));
    QVERIFY(w->document().saveAs(saved.toStdString()).ok());
    const std::uint32_t captioned = w->model()->itemIdAt(1);
    // The window lets go of the catalog (a changer has it to itself).
    QVERIFY(window.trigger("file.close"));
    QTest::qWait(100);
    QVERIFY(window.catalogWindows().empty());
    const QJsonArray items = Cli({QStringLiteral("list"), saved}, env_).array();
    QCOMPARE(items.size(), 3);
    const QJsonArray found = Cli({QStringLiteral("find"), saved, QStringLiteral("Harbour at dawn")}, env_).array();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].toInteger(), static_cast<qint64>(captioned));
    const QByteArray sets =
        QJsonDocument(Cli({QStringLiteral("groups"), saved, QStringLiteral("Catalog Sets")}, env_)).toJson();
    QVERIFY2(sets.contains("Best"), sets.constData());
    const QJsonObject best = Cli({QStringLiteral("groups"), saved, QStringLiteral("Catalog Sets")}, env_).array()[0].toObject();
    QJsonArray members;
    for (const QString& key : best.keys()) {
      if (best[key].isArray()) members = best[key].toArray();
    }
    QVERIFY2(members.size() == 2, sets.constData());
    Q_UNUSED(w);
  }
};

QTEST_MAIN(DesktopEndToEnd)
#include "desktop_e2e_test.moc"
