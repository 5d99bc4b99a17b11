// SPDX-License-Identifier: GPL-3.0-or-later
// The catalog window's model and commands on the offscreen platform, with
// real catalogs made from the test photos.
#include <QAction>
#include <QComboBox>
#include <QRadioButton>
#include <QClipboard>
#include <QHeaderView>
#include <QTableView>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QMimeData>

#include <set>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "fields/find_sort.h"
#include "fields/groups.h"
#include "imaging/toolbar_images.h"
#include "imaging/transform.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "metadata/item_fields.h"
#include "views/catalog_model.h"
#include "views/batch_rename_dialog.h"
#include "views/catalog_window.h"
#include "views/folder_watching.h"
#include "views/import_problem_dialog.h"
#include "views/gallery_command.h"
#include "views/info_panel.h"
#include "views/main_window.h"
#include "views/media_view.h"
#include "views/organize_panel.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"
#include "views/thumbnail_cache.h"
#include "views/toolbar_icons.h"

using namespace norvo;
using namespace norvo::views;

namespace {

const QString kPhotos = QStringLiteral(NORVO_TESTDATA_DIR "/photos");

// The ItemIds the catalog shows, in its order: cells minus hidden ones.
std::vector<std::uint32_t> ShownInCatalog(const catalog::Catalog& c) {
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < c.itemCount(); ++i) {
    if (!c.cells[static_cast<std::size_t>(i)].hidden()) ids.push_back(c.cells[static_cast<std::size_t>(i)].item_id);
  }
  return ids;
}

std::vector<std::uint32_t> ModelRows(const CatalogModel& m) {
  std::vector<std::uint32_t> ids;
  for (int r = 0; r < m.rowCount(); ++r) ids.push_back(m.itemIdAt(r));
  return ids;
}

// Resources, scratch files in `dir`, the media types: what the program's
// start-up would have done.
bool PrepareEngine(const QTemporaryDir& dir) {
  InitResources();
  if (!dir.isValid()) return false;
  app::SetScratchFolder(dir.path().toStdString());
  return media::InitMediaTypes(media::FindPlatformComponents()) == err::kNone;
}

template <typename Widget>
Widget* FindChildByText(QWidget* root, const QString& text) {
  for (Widget* w : root->findChildren<Widget*>()) {
    if (w->text() == text) return w;
  }
  return nullptr;
}

}  // namespace

class CatalogWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  app::Labels labels_ = app::DefaultLabels();

  std::unique_ptr<CatalogWindow> newWindow() {
    auto document = std::make_unique<app::CatalogDocument>();
    const app::DocumentResult r = document->createUntitled();
    if (!r.ok()) return nullptr;
    return std::make_unique<CatalogWindow>(std::move(document), &labels_);
  }

 private Q_SLOTS:
  void initTestCase() { QVERIFY(PrepareEngine(dir_)); }

  // After import, scan, remove, sort and hide, the rows are always the
  // catalog's shown items in its order, and the view is told of each change.
  void rowsFollowTheCatalogThroughEveryChange() {
    auto w = newWindow();
    QVERIFY(w);
    CatalogModel& m = *w->model();
    catalog::Catalog& c = w->catalog();
    w->importPaths({kPhotos});
    QVERIFY(c.itemCount() >= 10);
    QCOMPARE(ModelRows(m), ShownInCatalog(c));
    w->scanner()->waitForIdle();
    QCOMPARE(static_cast<int>(media::PendingItems(c).size()), 0);
    QCOMPARE(ModelRows(m), ShownInCatalog(c));

    QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);
    QVERIFY(catalog::RemoveItem(c, 2) == err::kNone);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(ModelRows(m), ShownInCatalog(c));

    m.sort(m.columnOfField(metadata::field_ids::kFileName), Qt::DescendingOrder);
    QCOMPARE(ModelRows(m), ShownInCatalog(c));
    QString previous;
    for (int r = 0; r < m.rowCount(); ++r) {
      const QString name = m.index(r, 0).data().toString();
      if (r > 0) QVERIFY2(QString::localeAwareCompare(name.toLower(), previous.toLower()) <= 0, qPrintable(name));
      previous = name;
    }

    w->selectIds({m.itemIdAt(0), m.itemIdAt(3)});
    w->hideSelected();
    QCOMPARE(ModelRows(m), ShownInCatalog(c));
    QCOMPARE(fields::HiddenItemCount(c), 2);
    w->previousState();
    QCOMPARE(fields::HiddenItemCount(c), 0);
    w->nextState();
    QCOMPARE(fields::HiddenItemCount(c), 2);
    w->showAll();
    QCOMPARE(ModelRows(m), ShownInCatalog(c));
    QCOMPARE(m.rowCount(), c.itemCount());
  }

  // A catalog of 8000 items opens reading only the records of the items on
  // screen, and the thumbnail cache stays within its bound.
  void aFullCatalogReadsOnlyTheRecordsOnScreen() {
    auto w = newWindow();
    QVERIFY(w);
    catalog::Catalog& c = w->catalog();
    catalog::ItemRecord record;
    FileSpec photo;
    QVERIFY(MakeFileSpec((kPhotos + QStringLiteral("/Canon_40D.jpg")).toStdString(), photo) == err::kNone);
    QVERIFY(catalog::MakeRecordForFile(photo, record) == err::kNone);
    w->model()->beginBatch();
    while (c.itemCount() < catalog::GetMaxItems(c)) {
      QVERIFY(catalog::AddItem(c, record, "/photos") == err::kNone);
    }
    w->model()->endBatch();
    const int reads_before = w->model()->recordReads();
    w->resize(1000, 700);
    w->show();
    w->setView(ViewKind::kThumbnails);
    QTest::qWait(200);
    const int reads = w->model()->recordReads() - reads_before;
    QVERIFY2(reads > 0 && reads < 200, qPrintable(QString::number(reads)));
    QCOMPARE(w->model()->rowCount(), 8000);
    QVERIFY(w->thumbnails()->bytes() <= w->thumbnails()->byteLimit());
  }

  // Edits in the info panel reach the item through the engine (groups
  // follow), and undo takes them back.
  void infoPanelEditsGoThroughTheEngine() {
    auto w = newWindow();
    QVERIFY(w);
    w->importPaths({kPhotos + QStringLiteral("/BlueSquare.jpg"), kPhotos + QStringLiteral("/Nikon_D70.jpg")});
    w->scanner()->waitForIdle();
    w->show();
    w->setView(ViewKind::kThumbnails);
    QTest::qWait(50);
    // A click in the thumbnail view selects the item's first column only:
    // the window must still count it as selected.
    QListView* view = w->thumbnailView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(w->model()->index(0, 0)).center());
    QCOMPARE(w->selectedIds(), (std::vector<std::uint32_t>{w->model()->itemIdAt(0)}));
    QVERIFY(w->commandState().selected == 1);
    auto* caption = qobject_cast<QPlainTextEdit*>(w->infoPanel()->editorOf(metadata::field_ids::kCaption));
    auto* keywords = qobject_cast<QLineEdit*>(w->infoPanel()->editorOf(0x219));
    QVERIFY(caption != nullptr && keywords != nullptr);
    metadata::ItemFields item;
    QVERIFY(item.read(w->catalog(), w->catalog().cellOf(w->model()->itemIdAt(0))) == err::kNone);
    const std::string original = item.text(metadata::field_ids::kCaption);
    caption->setPlainText(QStringLiteral("Über den Wolken \u96F2"));
    keywords->setText(QStringLiteral("sky, blue"));
    Q_EMIT keywords->editingFinished();
    w->editAnnotation(metadata::field_ids::kCaption, {caption->toPlainText()});
    QVERIFY(item.read(w->catalog(), w->catalog().cellOf(w->model()->itemIdAt(0))) == err::kNone);
    QCOMPARE(Q(item.text(metadata::field_ids::kCaption)), QStringLiteral("Über den Wolken \u96F2"));
    QCOMPARE(item.texts(0x219), (std::vector<std::string>{"sky", "blue"}));
    QVERIFY(fields::KeepGroupIndex(w->catalog(), 0x219) == err::kNone);
    QCOMPARE(fields::GroupCount(w->catalog(), 0x219), 2);
    w->undo();  // the caption
    QVERIFY(item.read(w->catalog(), w->catalog().cellOf(w->model()->itemIdAt(0))) == err::kNone);
    QCOMPARE(item.text(metadata::field_ids::kCaption), original);
  }

  // Items dropped on a set become its members.
  void itemsDroppedOnASetJoinIt() {
    auto w = newWindow();
    QVERIFY(w);
    w->importPaths({kPhotos});
    w->scanner()->waitForIdle();
    QVERIFY(fields::AddSet(w->catalog(), "Holiday", false, 0) == err::kNone);
    OrganizePanel* panel = w->organizePanel();
    panel->setField(metadata::field_ids::kCatalogSets);
    w->show();
    QTest::qWait(50);
    QTreeWidget* tree = panel->tree();
    QCOMPARE(tree->topLevelItemCount(), 1);
    const std::vector<std::uint32_t> ids{w->model()->itemIdAt(1), w->model()->itemIdAt(2)};
    QModelIndexList dragged{w->model()->index(1, 0), w->model()->index(2, 0)};
    std::unique_ptr<QMimeData> mime(w->model()->mimeData(dragged));
    const QPoint at = tree->visualItemRect(tree->topLevelItem(0)).center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &drop);
    const catalog::GroupEntry* set = fields::GroupAt(w->catalog(), metadata::field_ids::kCatalogSets, 1);
    QVERIFY(set != nullptr);
    QCOMPARE(std::set<std::uint32_t>(set->ids.begin(), set->ids.end()), std::set<std::uint32_t>(ids.begin(), ids.end()));
    QVERIFY(tree->topLevelItem(0)->text(0).contains(QStringLiteral("(2)")));
  }

  // Copy puts the list copy on the clipboard as text: file names, path
  // names, or the columns the list view shows in the order it shows them
  // (moved and hidden columns followed, at most ten), one row per item.
  void copyWritesTheListCopyOfTheChoice() {
    auto w = newWindow();
    QVERIFY(w);
    w->importPaths({kPhotos});
    w->scanner()->waitForIdle();
    w->selection()->select(QItemSelection(w->model()->index(0, 0), w->model()->index(1, 0)),
                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QString first = w->model()->index(0, w->model()->columnOfField(metadata::field_ids::kFileName)).data().toString();

    w->copySelection(output::ListCopyChoice::kFileName);
    QStringList rows = QApplication::clipboard()->text().split(QStringLiteral("\r\n"));
    QCOMPARE(rows.size(), 3);  // two rows and the empty text after the last CR LF
    QCOMPARE(rows[0], first);
    QCOMPARE(QApplication::clipboard()->mimeData()->urls().size(), 2);  // the files travel too

    w->copySelection(output::ListCopyChoice::kPathName);
    QVERIFY(QApplication::clipboard()->text().startsWith(QDir::cleanPath(kPhotos) + QLatin1Char('/') + first));

    QHeaderView* header = w->listView()->horizontalHeader();
    const int name_column = w->model()->columnOfField(metadata::field_ids::kFileName);
    header->moveSection(header->visualIndex(name_column), header->count() - 1);
    header->setSectionHidden(header->logicalIndex(0), true);
    const std::vector<metadata::FieldId> shown = w->displayedColumns();
    QCOMPARE(shown.back(), metadata::field_ids::kFileName);
    w->copySelection(output::ListCopyChoice::kDisplayedFields);
    rows = QApplication::clipboard()->text().split(QStringLiteral("\r\n"));
    const QStringList cells = rows[0].split(QLatin1Char('\t'));
    QCOMPARE(cells.size(), std::min<int>(static_cast<int>(shown.size()), 10));
    if (shown.size() <= 10) QCOMPARE(cells.back(), first);
  }

  // The gallery command's run: the window's items become a site with a
  // media page each, the progress window closes, and the result is 0.
  void galleryRunsOnTheWindowsCatalog() {
    auto w = newWindow();
    QVERIFY(w);
    w->importPaths({kPhotos});
    QTemporaryDir site;
    QString index;
    const int result = RunGalleryWithProgress(*w, QByteArray(), site.path(), QStringLiteral("Test site"), &index);
    QCOMPARE(result, 0);
    QCOMPARE(index, site.filePath(QStringLiteral("index.htm")));
    QFile page(index);
    QVERIFY(page.open(QIODevice::ReadOnly));
    QVERIFY(page.readAll().contains("Test site"));
    QCOMPARE(QDir(site.filePath(QStringLiteral("source"))).entryList({QStringLiteral("*.htm")}).size(),
             w->catalog().itemCount());
  }

  // The rename dialog's controls make the settings the engine runs with:
  // the preview is a dry run that touches nothing, and the real run renames
  // the files and the rows follow.
  void batchRenameDialogPreviewsAndRuns() {
    QTemporaryDir files;
    for (const QString& name : {QStringLiteral("Canon_40D.jpg"), QStringLiteral("Nikon_D70.jpg"),
                                QStringLiteral("Pentax_K10D.jpg")}) {
      QVERIFY(QFile::copy(kPhotos + QLatin1Char('/') + name, files.filePath(name)));
    }
    auto w = newWindow();
    QVERIFY(w);
    w->importPaths({files.path()});
    w->scanner()->waitForIdle();
    std::vector<std::uint32_t> ids;
    for (int r = 0; r < w->model()->rowCount(); ++r) ids.push_back(w->model()->itemIdAt(r));
    QCOMPARE(ids.size(), std::size_t{3});

    output::RenameSettings start;
    BatchRenameDialog dialog(start, w->catalog(), ids);
    dialog.findChild<QLineEdit*>(QStringLiteral("baseText"))->setText(QStringLiteral("Trip"));
    dialog.findChild<QLineEdit*>(QStringLiteral("startNumber"))->setText(QStringLiteral("8"));
    QTreeWidget* preview = dialog.preview();
    QCOMPARE(preview->topLevelItemCount(), 3);
    QCOMPARE(preview->topLevelItem(0)->text(1), QStringLiteral("Trip08.jpg"));
    QCOMPARE(preview->topLevelItem(2)->text(1), QStringLiteral("Trip10.jpg"));
    QVERIFY(QFile::exists(files.filePath(QStringLiteral("Canon_40D.jpg"))));  // the preview renamed nothing

    auto* mode = dialog.findChild<QComboBox*>();
    mode->setCurrentIndex(3);  // Convert
    FindChildByText<QRadioButton>(&dialog, QStringLiteral("Change to UPPERCASE"))->setChecked(true);
    QCOMPARE(preview->topLevelItem(1)->text(1), QStringLiteral("NIKON_D70.JPG"));

    output::RenameSettings settings = dialog.settings();
    std::vector<output::RenameOutcome> outcomes;
    QVERIFY(output::BatchRename(w->catalog(), ids, settings, output::RenameRun::kForReal, {}, &outcomes) == err::kNone);
    QVERIFY(QFile::exists(files.filePath(QStringLiteral("PENTAX_K10D.JPG"))));
    const int column = w->model()->columnOfField(metadata::field_ids::kFileName);
    QStringList shown;
    for (int r = 0; r < w->model()->rowCount(); ++r) shown << w->model()->index(r, column).data().toString();
    QVERIFY2(shown.contains(QStringLiteral("NIKON_D70.JPG")), qPrintable(shown.join(QLatin1Char(','))));
  }

  // A file that cannot be read is reported with its kind, its name and the
  // reason, in the words of the message table.
  void unreadableFileIsDescribed() {
    QTemporaryDir files;
    QFile broken(files.filePath(QStringLiteral("broken.jpg")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray::fromHex("FFD8FFE000104A464946000101") + QByteArray(300, '\x5A'));
    broken.close();
    auto w = newWindow();
    QVERIFY(w);
    w->importPaths({files.path()});
    w->scanner()->waitForIdle();
    const media::ScanSummary& summary = w->scanner()->summary();
    QCOMPARE(summary.failures.size(), std::size_t{1});
    const ImportProblem problem = DescribeImportProblem(w->catalog(), summary.failures[0].first, summary.failures[0].second);
    QCOMPARE(problem.path, broken.fileName());
    const QString text = ImportProblemText(problem);
    QVERIFY2(text.startsWith(QStringLiteral("There was a problem importing the JPEG file:\n    'broken.jpg'\n    ")),
             qPrintable(text));
    QVERIFY(!text.endsWith(QStringLiteral("    ")));  // the error has its text
    QCOMPARE(ImportProblemHint(problem),
             QStringLiteral("Saving 'broken.jpg' again with the creator application may fix this problem."));
  }

  // A watched folder's new file is asked about once; a declined change is
  // not asked again, a further change is, and yes brings the files in and
  // scans them. The stored form keeps paths with ';' in them.
  void watchedFolderAsksOncePerChange() {
    QTemporaryDir files;
    QVERIFY(QFile::copy(kPhotos + QStringLiteral("/Canon_40D.jpg"), files.filePath(QStringLiteral("a.jpg"))));
    auto w = newWindow();
    QVERIFY(w);
    w->importPaths({files.path()});
    w->scanner()->waitForIdle();
    QCOMPARE(w->catalog().itemCount(), 1);
    w->startFolderWatching(nullptr);
    int asked = 0;
    bool answer = false;
    w->folderWatching()->setQuestion([&](const QString&, const media::FolderDifferences&) {
      ++asked;
      return answer;
    });
    w->folderWatching()->setFolders({WatchedFolder{files.path(), media::WatchRate::kContinuous, false}});
    QVERIFY(QFile::copy(kPhotos + QStringLiteral("/Nikon_D70.jpg"), files.filePath(QStringLiteral("b.jpg"))));
    QTRY_COMPARE_WITH_TIMEOUT(asked, 1, 10000);
    QTest::qWait(600);  // several more checks at the continuous rate
    QCOMPARE(asked, 1);
    QCOMPARE(w->catalog().itemCount(), 1);

    answer = true;
    QVERIFY(QFile::copy(kPhotos + QStringLiteral("/Pentax_K10D.jpg"), files.filePath(QStringLiteral("c.jpg"))));
    QTRY_COMPARE_WITH_TIMEOUT(w->catalog().itemCount(), 3, 10000);
    QCOMPARE(asked, 2);
    w->scanner()->waitForIdle();
    QVERIFY(media::PendingItems(w->catalog()).empty());

    const std::vector<WatchedFolder> folders{{QStringLiteral("/a;b/c"), media::WatchRate::kEveryFiveMinutes, true},
                                             {QStringLiteral("/photos"), media::WatchRate::kContinuous, false}};
    QCOMPARE(DecodeWatchedFolders(EncodeWatchedFolders(folders)), folders);
    QVERIFY(DecodeWatchedFolders(QStringLiteral("9;0;/x\nbad line")).empty());
  }

  // The scan runs on the pool while the interface thread stays free: the
  // results arrive as events, each applied once, in any order.
  void scanningAppliesEveryResultOnce() {
    auto w = newWindow();
    QVERIFY(w);
    QSignalSpy scanned(w->scanner(), &ScanRunner::itemScanned);
    w->importPaths({kPhotos});
    w->scanner()->waitForIdle();
    std::set<quint32> seen;
    for (const QList<QVariant>& args : scanned) QVERIFY(seen.insert(args.at(0).value<quint32>()).second);
    QCOMPARE(static_cast<int>(seen.size()), w->catalog().itemCount());
    // (The window's own start-up scan may have taken the first item in a run
    // of its own: the count is of results, not of one run's summary.)
    QVERIFY(media::PendingItems(w->catalog()).empty());
  }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  app::StartupState state_;

  static QString Describe(QMenu* menu, const QString& indent) {
    QString out;
    for (QAction* a : menu->actions()) {
      if (a->isSeparator()) {
        out += indent + QStringLiteral("----\n");
        continue;
      }
      out += indent + a->text();
      if (!a->shortcuts().isEmpty()) {
        QStringList keys;
        for (const QKeySequence& k : a->shortcuts()) keys.push_back(k.toString(QKeySequence::PortableText));
        out += QLatin1Char('\t') + keys.join(QStringLiteral("; "));
      }
      out += QLatin1Char('\n');
      if (a->menu() != nullptr && a->menu() != menu) out += Describe(a->menu(), indent + QStringLiteral("    "));
    }
    return out;
  }

 private Q_SLOTS:
  void initTestCase() { QVERIFY(PrepareEngine(dir_)); }

  // The menus as a user sees them: names, order, mnemonics and shortcuts,
  // against the golden list.
  void menusMatchTheGoldenList() {
    MainWindow window(&state_);
    QString text;
    for (QAction* top : window.menuBar()->actions()) {
      text += top->text() + QLatin1Char('\n');
      if (top->menu() != nullptr) {
        Q_EMIT top->menu()->aboutToShow();
        text += Describe(top->menu(), QStringLiteral("    "));
      }
    }
    QFile golden(QStringLiteral(NORVO_SOURCE_DIR "/views/testdata/menus.golden"));
    if (qEnvironmentVariableIsSet("NORVO_UPDATE_GOLDEN")) {
      QVERIFY(golden.open(QIODevice::WriteOnly | QIODevice::Truncate));
      golden.write(text.toUtf8());
      return;
    }
    QVERIFY2(golden.open(QIODevice::ReadOnly), "views/testdata/menus.golden");
    QCOMPARE(text, QString::fromUtf8(golden.readAll()));
    QVERIFY(window.commandsWithoutHandler().empty());
  }

  // Triggering enabled commands has their effect on a real catalog; disabled
  // ones do nothing.
  void commandsActOnTheActiveCatalog() {
    MainWindow window(&state_);
    window.show();
    QVERIFY(!window.trigger("file.save"));  // no catalog: disabled
    CatalogWindow* w = window.newCatalog();
    QVERIFY(w != nullptr);
    w->importPaths({kPhotos});
    w->scanner()->waitForIdle();
    catalog::Catalog& c = w->catalog();
    const int items = c.itemCount();

    QVERIFY(window.trigger("edit.select_all"));
    QCOMPARE(static_cast<int>(w->selectedIds().size()), items);
    QVERIFY(window.trigger("edit.invert_selection"));
    QCOMPARE(static_cast<int>(w->selectedIds().size()), 0);
    QVERIFY(!window.trigger("label.3"));  // nothing selected: disabled

    w->selectIds({w->model()->itemIdAt(0), w->model()->itemIdAt(1)});
    QVERIFY(window.trigger("label.3"));
    QCOMPARE(c.cells[0].label(), 3);
    QVERIFY(window.trigger("edit.undo"));
    QCOMPARE(c.cells[0].label(), 0);

    const std::uint32_t first = w->model()->itemIdAt(0);
    catalog::ItemRecord before;
    QVERIFY(catalog::GetItemRecord(c, c.cellOf(first), catalog::kWholeRecord, before) == err::kNone);
    w->selectIds({first});
    QVERIFY(window.trigger("view.rotate_cw"));
    catalog::ItemRecord after;
    QVERIFY(catalog::GetItemRecord(c, c.cellOf(first), catalog::kWholeRecord, after) == err::kNone);
    QCOMPARE(after.orientation, imaging::ComposeRotation(before.orientation, imaging::kRotateClockwise));

    const std::uint32_t last = w->model()->itemIdAt(w->model()->rowCount() - 1);
    w->selectIds({last});
    QVERIFY(window.trigger("view.move_top"));
    QCOMPARE(w->model()->itemIdAt(0), last);
    QVERIFY(window.trigger("find.hide_selected"));
    QCOMPARE(w->model()->rowCount(), items - 1);
    QVERIFY(window.trigger("find.previous_state"));
    QCOMPARE(w->model()->rowCount(), items);

    QVERIFY(window.trigger("window.list_view"));
    QCOMPARE(w->view(), ViewKind::kList);
    QVERIFY(window.trigger("window.info_panel"));
    QVERIFY(!w->panelShown(true));
    const int side = w->thumbnailSide();
    QVERIFY(window.trigger("view.zoom_in"));
    QVERIFY(w->thumbnailSide() > side);
    QCOMPARE(w->view(), ViewKind::kThumbnails);
    QVERIFY(window.action("make.gallery")->isEnabled());
    QVERIFY(window.action("make.slide_show")->isEnabled());
    QVERIFY(window.action("file.print")->isEnabled());
    // The playlist settings are one for the program; every media view takes them.
    QVERIFY(window.trigger("play.pause_long"));
    QCOMPARE(w->mediaView()->stillsPause(), 8);
    QVERIFY(window.action("play.pause_long")->isChecked());
    QVERIFY(!window.action("play.pause_medium")->isChecked());
    const bool playlist = w->mediaView()->playlistMode();
    QVERIFY(window.trigger("play.playlist"));
    QCOMPARE(w->mediaView()->playlistMode(), !playlist);
    QVERIFY(window.trigger("play.playlist"));
    QCOMPARE(w->mediaView()->playlistMode(), playlist);
    QVERIFY(c.changed());
    QVERIFY(window.action("file.save")->isEnabled() == !c.read_only);
  }

  // Show in new catalog copies the matches of every catalog in scope whole
  // (annotations included) into a new window; the sources keep theirs.
  void findGathersMatchesIntoANewCatalog() {
    MainWindow window(&state_);
    CatalogWindow* first = window.newCatalog();
    CatalogWindow* second = window.newCatalog();
    QVERIFY(first != nullptr && second != nullptr);
    first->importPaths({kPhotos + QStringLiteral("/Nikon_D70.jpg"), kPhotos + QStringLiteral("/Canon_40D.jpg")});
    second->importPaths({kPhotos + QStringLiteral("/Pentax_K10D.jpg"), kPhotos + QStringLiteral("/DSCN0010.jpg")});
    first->scanner()->waitForIdle();
    second->scanner()->waitForIdle();
    first->selectIds({first->model()->itemIdAt(0)});
    first->editAnnotation(metadata::field_ids::kCaption, {QStringLiteral("gathered")});

    const std::vector<fields::Criterion> criteria{
        {metadata::field_ids::kFileName, 2, "N"}};  // contains "N": Nikon, Canon, Pentax and DSCN0010
    const int before = static_cast<int>(window.catalogWindows().size());
    CatalogWindow* fresh = window.gatherIntoNewCatalog({first, second}, criteria, false);
    QVERIFY(fresh != nullptr);
    QCOMPARE(static_cast<int>(window.catalogWindows().size()), before + 1);
    QCOMPARE(fresh->catalog().itemCount(), 4);
    QCOMPARE(first->catalog().itemCount(), 2);
    bool caption_found = false;
    for (int r = 0; r < fresh->model()->rowCount(); ++r) {
      const metadata::ItemFields* item = fresh->model()->fieldsAt(r);
      QVERIFY(item != nullptr);
      caption_found |= item->text(metadata::field_ids::kCaption) == "gathered";
      std::string path;
      QVERIFY(catalog::LocateItemFile(fresh->catalog(), fresh->model()->cellAt(r), path) == err::kNone);
    }
    QVERIFY(caption_found);
  }

  // The toolbar's disabled picture is the drawn strip through the grayer and
  // three lightness steps; magenta becomes transparent.
  void toolbarStatesComeFromTheProcessors() {
    QImage strip(2, 1, QImage::Format_RGB32);
    strip.setPixel(0, 0, qRgb(0, 0, 0));
    strip.setPixel(1, 0, qRgb(255, 0, 255));
    const QImage disabled = ToolbarStripImage(strip, imaging::ToolbarState::kDisabled);
    QCOMPARE(qRed(disabled.pixel(0, 0)), 60);
    QCOMPARE(qGreen(disabled.pixel(0, 0)), 60);
    QCOMPARE(qAlpha(disabled.pixel(1, 0)), 0);
    const QImage hot = ToolbarStripImage(strip, imaging::ToolbarState::kHot);
    QCOMPARE(hot.pixel(0, 0), qRgb(0, 0, 0));
    ToolbarIcons icons;
    const QIcon save = icons.icon("save");
    QVERIFY(!save.isNull());
    // HiDPI: the 48-pixel strip serves a scale of 2.
    QCOMPARE(save.pixmap(QSize(24, 24), 2.0).size(), QSize(48, 48));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int status = 0;
  {
    CatalogWindowTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    MainWindowTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  return status;
}

#include "catalog_window_test.moc"
