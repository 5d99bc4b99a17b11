// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QInputDialog>
#include <QMdiArea>
#include <QScreen>
#include <QMimeDatabase>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <map>
#include <random>

#include "app/command_line.h"
#include "app/engine_preferences.h"
#include "app/messages.h"
#include "app/update_check.h"
#include "fields/find_sort.h"
#include "imaging/transform.h"
#include "media/media_type_registry.h"
#include "metadata/custom_fields.h"
#include "platform/text_encoding.h"
#include "views/catalog_model.h"
#include "views/batch_rename_dialog.h"
#include "views/camera_import_dialog.h"
#include "views/catalog_window.h"
#include "views/convert_dialog.h"
#include "views/desktop_applications.h"
#include "views/find_dialog.h"
#include "views/folder_watching.h"
#include "views/import_options_dialog.h"
#include "views/media_view.h"
#include "views/transfer_dialog.h"
#include "views/gallery_command.h"
#include "views/preferences_dialog.h"
#include "views/print_dialog.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"
#include "views/slide_show_options_dialog.h"
#include "views/toolbar_icons.h"

namespace norvo::views {
namespace {

QList<QKeySequence> Shortcuts(std::string_view keys) {
  QList<QKeySequence> out;
  for (const QString& key : Q(keys).split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
    out.push_back(QKeySequence::fromString(key, QKeySequence::PortableText));
  }
  return out;
}

}  // namespace

MainWindow::MainWindow(app::StartupState* startup, QWidget* parent)
    : QMainWindow(parent), startup_(startup), icons_(std::make_unique<ToolbarIcons>()) {
  setWindowTitle(tr("Norvo Media"));
  setWindowIcon(QIcon(QStringLiteral(":/norvo/norvo.svg")));
  area_ = new QMdiArea(this);
  area_->setViewMode(QMdiArea::SubWindowView);
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(area_);
  toolbar_ = addToolBar(tr("Toolbar"));
  toolbar_->setObjectName(QStringLiteral("toolbar"));
  toolbar_->setIconSize(QSize(24, 24));
  toolbar_->setMovable(false);
  buildActions();
  registerHandlers();
  buildMenus();
  statusBar()->showMessage(tr("Ready"));
  connect(area_, &QMdiArea::subWindowActivated, this, [this] { updateCommands(); });
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &MainWindow::updateCommands);
  listenForHandOver();
  // The first of the standard sizes that the screen holds (in its logical
  // pixels, so scaling is followed), centred on it.
  if (const QScreen* screen = QApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    const app::WindowRect r = app::DefaultWindowRect(app::ScreenSize{room.width(), room.height()});
    setGeometry(QRect(room.left() + r.left, room.top() + r.top, r.right - r.left, r.bottom - r.top));
  } else {
    resize(1024, 768);
  }
  updateCommands();
}

MainWindow::~MainWindow() {
  // Closing the catalog windows activates others: nothing is updated now.
  disconnect(area_, nullptr, this, nullptr);
  disconnect(QApplication::clipboard(), nullptr, this, nullptr);
  for (CatalogWindow* w : catalogWindows()) disconnect(w, nullptr, this, nullptr);
}

// --- the command table -------------------------------------------------------

void MainWindow::buildActions() {
  for (const app::CommandSpec& c : app::CommandTable()) {
    if (c.kind != app::EntryKind::kCommand && c.kind != app::EntryKind::kHeader) continue;
    auto* a = new QAction(Q(c.label), this);
    a->setObjectName(Q(c.id));
    if (c.kind == app::EntryKind::kHeader) {
      a->setEnabled(false);
      QFont bold = a->font();
      bold.setBold(true);
      a->setFont(bold);
    } else {
      a->setShortcuts(Shortcuts(c.keys));
      a->setShortcutContext(Qt::WindowShortcut);
      a->setCheckable(c.checkable);
      if (!c.toolbar.empty()) a->setIcon(icons_->icon(std::string(c.toolbar)));
      const QString id = Q(c.id);
      connect(a, &QAction::triggered, this, [this, id] {
        auto it = handlers_.find(id);
        if (it != handlers_.end()) it.value()();
        updateCommands();
      });
    }
    actions_.emplace_back(&c, a);
    by_id_.insert(Q(c.id), a);
    addAction(a);  // shortcuts work while menus are closed
  }
}

void MainWindow::buildMenus() {
  std::vector<QMenu*> menus;
  for (std::string_view label : app::MenuLabels()) menus.push_back(menuBar()->addMenu(Q(label)));
  std::map<std::pair<int, std::string_view>, QMenu*> submenus;
  for (const app::CommandSpec& c : app::CommandTable()) {
    // The label choices live in the item context menu.
    if (c.id.starts_with("label.")) continue;
    QMenu* menu = menus[static_cast<std::size_t>(c.menu)];
    if (!c.submenu.empty()) {
      QMenu*& sub = submenus[{static_cast<int>(c.menu), c.submenu}];
      if (sub == nullptr) sub = menu->addMenu(Q(c.submenu));
      menu = sub;
    }
    switch (c.kind) {
      case app::EntryKind::kSeparator: menu->addSeparator(); break;
      case app::EntryKind::kDynamic:
        if (c.id == "file.recent") {
          recent_menu_ = menu;
          connect(menu, &QMenu::aboutToShow, this, &MainWindow::fillRecentMenu);
        } else if (c.id == "view.sort") {
          sort_menu_ = menu;
          connect(menu, &QMenu::aboutToShow, this, &MainWindow::fillSortMenu);
        } else if (c.id == "window.list") {
          window_menu_ = menu;
          connect(menu, &QMenu::aboutToShow, this, &MainWindow::fillWindowMenu);
        } else if (c.id == "action.open_with") {
          open_with_menu_ = menu;
          connect(menu, &QMenu::aboutToShow, this, &MainWindow::fillOpenWithMenu);
        }
        break;
      default: menu->addAction(by_id_.value(Q(c.id))); break;
    }
  }
  fillRecentMenu();
  fillSortMenu();
  for (const app::CommandSpec& c : app::CommandTable()) {
    if (!c.toolbar.empty()) toolbar_->addAction(by_id_.value(Q(c.id)));
    if (c.id == "file.save" || c.id == "find.find" || c.id == "view.rotate_ccw") toolbar_->addSeparator();
  }
}

void MainWindow::fillContextMenu(QMenu* menu) {
  QMenu* labels = nullptr;
  std::string_view last_group;
  for (const auto& [spec, action] : actions_) {
    if (!spec->context) continue;
    if (spec->submenu == "Assign Label") {
      if (labels == nullptr) labels = menu->addMenu(tr("Assign Label"));
      labels->addAction(action);
      continue;
    }
    const std::string_view group = spec->id.substr(0, spec->id.find('.'));
    if (!last_group.empty() && group != last_group) menu->addSeparator();
    last_group = group;
    menu->addAction(action);
  }
}

void MainWindow::handle(std::string_view id, std::function<void()> run) { handlers_.insert(Q(id), std::move(run)); }

std::vector<std::string> MainWindow::commandsWithoutHandler() const {
  std::vector<std::string> missing;
  for (const app::CommandSpec& c : app::CommandTable()) {
    if (c.kind == app::EntryKind::kCommand && c.needs != app::Needs::kNever && !handlers_.contains(Q(c.id))) missing.emplace_back(c.id);
  }
  return missing;
}

QAction* MainWindow::action(std::string_view id) const { return by_id_.value(Q(id), nullptr); }

bool MainWindow::trigger(std::string_view id) {
  updateCommands();
  QAction* a = action(id);
  if (a == nullptr || !a->isEnabled()) return false;
  a->trigger();
  return true;
}

void MainWindow::updateCommands() {
  CatalogWindow* w = activeCatalog();
  const app::CommandState state = w != nullptr ? w->commandState() : app::CommandState{};
  for (const auto& [spec, action] : actions_) {
    if (spec->kind != app::EntryKind::kCommand) continue;
    action->setEnabled(app::CommandEnabled(*spec, state));
  }
  action("window.toolbar")->setChecked(toolbar_->isVisible());
  if (w != nullptr) {
    action("window.list_view")->setChecked(w->view() == ViewKind::kList);
    action("window.thumbnail_view")->setChecked(w->view() == ViewKind::kThumbnails);
    action("window.media_view")->setChecked(w->view() == ViewKind::kMedia);
    action("window.info_panel")->setChecked(w->panelShown(true));
    action("window.organize_panel")->setChecked(w->panelShown(false));
  }
  const app::PreferencesBlock& preferences = startup_->preferences.preferences;
  action("play.playlist")->setChecked(PlaylistModeOf(preferences));
  const int pause = StillsPauseOf(preferences);
  action("play.pause_short")->setChecked(pause == kShortStillsPause);
  action("play.pause_medium")->setChecked(pause == kMediumStillsPause);
  action("play.pause_long")->setChecked(pause == kLongStillsPause);
  for (QMdiSubWindow* sub : area_->subWindowList()) {
    if (auto* cw = qobject_cast<CatalogWindow*>(sub->widget())) sub->setWindowTitle(cw->title());
  }
  // A maximized catalog window adds " - [its title]" to this one.
  setWindowTitle(tr("Norvo Media"));
}

void MainWindow::applyPlaylistSettings() {
  for (CatalogWindow* w : catalogWindows()) w->mediaView()->applyPlaylistPreferences(startup_->preferences.preferences);
  updateCommands();
}

void MainWindow::registerHandlers() {
  auto on_catalog = [this](std::string_view id, std::function<void(CatalogWindow&)> run) {
    handle(id, [this, run = std::move(run)] {
      if (CatalogWindow* w = activeCatalog()) run(*w);
    });
  };
  // File
  handle("file.new", [this] { newCatalog(); });
  handle("file.open", [this] {
    const QStringList paths = QFileDialog::getOpenFileNames(this, tr("Open Catalog"), QString(),
                                                            tr("Norvo Media catalogs (*.nrk *.NRK);;All files (*)"));
    for (const QString& path : paths) openCatalog(path);
  });
  handle("file.close", [this] {
    if (QMdiSubWindow* sub = area_->activeSubWindow()) sub->close();
  });
  on_catalog("file.save", [](CatalogWindow& w) { (void)w.save(); });
  on_catalog("file.save_as", [this](CatalogWindow& w) {
    if (w.saveAs()) addRecent(Q(w.catalog().file_spec.path));
  });
  on_catalog("file.revert", [](CatalogWindow& w) { (void)w.revert(); });
  on_catalog("file.catalog_info", [](CatalogWindow& w) { w.catalogInfo(); });
  on_catalog("file.import_options",
             [this](CatalogWindow& w) { RunImportOptions(w, &startup_->preferences.preferences); });
  on_catalog("action.rename", [](CatalogWindow& w) { RunBatchRename(w); });
  on_catalog("file.watch_folders", [](CatalogWindow& w) {
    if (w.folderWatching() == nullptr) return;
    WatchFoldersDialog dialog(w.folderWatching()->folders(), &w);
    if (dialog.exec() == QDialog::Accepted) w.folderWatching()->setFolders(dialog.folders());
  });
  on_catalog("action.transfer",
             [this](CatalogWindow& w) { RunTransfer(w, &startup_->preferences.preferences); });
  on_catalog("make.backup", [](CatalogWindow& w) { RunBackup(w); });
  on_catalog("make.convert_images", [this](CatalogWindow& w) { RunConvertImages(w, startup_->settings.get()); });
  on_catalog("make.convert_movies", [this](CatalogWindow& w) { RunConvertMovies(w, startup_->settings.get()); });
  on_catalog("make.convert_sounds", [this](CatalogWindow& w) { RunConvertSounds(w, startup_->settings.get()); });
  on_catalog("make.gallery", [this](CatalogWindow& w) { MakeGallery(w, startup_->settings.get()); });
  on_catalog("make.slide_show",
             [this](CatalogWindow& w) { RunSlideShow(w, startup_->preferences.preferences); });
  on_catalog("make.slide_options",
             [this](CatalogWindow& w) { RunSlideShowOptions(w, &startup_->preferences.preferences); });
  on_catalog("file.print", [this](CatalogWindow& w) { RunPrint(w, startup_->settings.get()); });
  on_catalog("file.page_setup", [this](CatalogWindow& w) { RunPageSetup(w, startup_->settings.get()); });
  on_catalog("file.import_camera", [this](CatalogWindow& w) { RunCameraImport(w, startup_->settings.get()); });
  // Play: the playlist settings are program-wide; every media view follows them.
  on_catalog("play.play", [](CatalogWindow& w) { w.mediaView()->togglePlay(); });
  handle("play.playlist", [this] {
    KeepPlaylistMode(startup_->preferences.preferences, action("play.playlist")->isChecked());
    applyPlaylistSettings();
  });
  for (const auto& [id, seconds] : {std::pair{"play.pause_short", kShortStillsPause},
                                    std::pair{"play.pause_medium", kMediumStillsPause},
                                    std::pair{"play.pause_long", kLongStillsPause}}) {
    handle(id, [this, pause = seconds] {
      KeepStillsPause(startup_->preferences.preferences, pause);
      applyPlaylistSettings();
    });
  }
  on_catalog("file.import_files", [this](CatalogWindow& w) {
    QFileDialog dialog(this, tr("Import Items"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::DontUseNativeDialog, false);
    QStringList paths;
    if (dialog.exec() == QDialog::Accepted) paths = dialog.selectedFiles();
    if (paths.isEmpty()) {
      const QString folder = QFileDialog::getExistingDirectory(this, tr("Import a Folder"));
      if (!folder.isEmpty()) paths.push_back(folder);
    }
    w.importPaths(paths);
  });
  on_catalog("file.cancel_tasks", [](CatalogWindow& w) { w.cancelTasks(); });
  handle("file.exit", [this] { close(); });
  // Edit
  on_catalog("edit.undo", [](CatalogWindow& w) { w.undo(); });
  on_catalog("edit.cut", [this](CatalogWindow& w) {
    w.copySelection(listCopyChoice());
    w.removeSelected(true);
  });
  on_catalog("edit.copy", [this](CatalogWindow& w) { w.copySelection(listCopyChoice()); });
  on_catalog("edit.paste", [](CatalogWindow& w) { w.paste(); });
  on_catalog("edit.delete", [](CatalogWindow& w) { w.removeSelected(true); });
  on_catalog("edit.select_all", [](CatalogWindow& w) {
    w.selection()->select(QItemSelection(w.model()->index(0, 0),
                                         w.model()->index(w.model()->rowCount() - 1, w.model()->columnCount() - 1)),
                          QItemSelectionModel::ClearAndSelect);
  });
  on_catalog("edit.deselect_all", [](CatalogWindow& w) { w.selection()->clearSelection(); });
  on_catalog("edit.invert_selection", [](CatalogWindow& w) {
    QItemSelection all(w.model()->index(0, 0), w.model()->index(w.model()->rowCount() - 1, w.model()->columnCount() - 1));
    w.selection()->select(all, QItemSelectionModel::Toggle);
  });
  on_catalog("edit.drop_folder", [this](CatalogWindow& w) {
    // A drop folder is a watched folder that updates without asking: what
    // is in it now is imported, and files put into it later follow.
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Drop Folder"));
    if (folder.isEmpty() || w.folderWatching() == nullptr) return;
    w.importPaths({folder});
    std::vector<WatchedFolder> folders = w.folderWatching()->folders();
    std::erase_if(folders, [&folder](const WatchedFolder& f) { return f.folder == folder; });
    folders.push_back(WatchedFolder{folder, media::WatchRate::kContinuous, true});
    w.folderWatching()->setFolders(std::move(folders));
    statusBar()->showMessage(tr("Files put into %1 are added to this catalog while it is open.").arg(folder), 10000);
  });
  on_catalog("edit.versions_folder", [this](CatalogWindow& w) {
    QString current;
    if (startup_->settings != nullptr) {
      current = Q(startup_->settings->getString("Versions", w.catalog().file_spec.path).value_or(std::string()));
    }
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Versions Folder"), current);
    if (folder.isEmpty()) return;
    if (startup_->settings != nullptr) {
      if (ErrorCode e = startup_->settings->putString("Versions", w.catalog().file_spec.path, U(folder));
          e != err::kNone) {
        QMessageBox::warning(this, tr("Versions Folder"), Q(app::MessageForError(e, app::Activity::kOther)));
      }
    }
  });
  handle("edit.preferences", [this] { showPreferences(); });
  // Find
  on_catalog("find.show_all", [](CatalogWindow& w) { w.showAll(); });
  on_catalog("find.show_hidden", [](CatalogWindow& w) { w.showHidden(); });
  on_catalog("find.show_selected", [](CatalogWindow& w) { w.showSelected(); });
  on_catalog("find.hide_selected", [](CatalogWindow& w) { w.hideSelected(); });
  on_catalog("find.previous_state", [](CatalogWindow& w) { w.previousState(); });
  on_catalog("find.next_state", [](CatalogWindow& w) { w.nextState(); });
  on_catalog("find.last_import", [](CatalogWindow& w) { w.showLastImport(); });
  on_catalog("find.duplicates", [](CatalogWindow& w) { w.showDuplicates(); });
  on_catalog("find.labelled.any", [](CatalogWindow& w) { w.showLabelled(-1); });
  on_catalog("find.labelled.none", [](CatalogWindow& w) { w.showLabelled(0); });
  for (int label = 1; label <= 9; ++label) {
    on_catalog("find.labelled." + std::to_string(label), [label](CatalogWindow& w) { w.showLabelled(label); });
    on_catalog("label." + std::to_string(label), [label](CatalogWindow& w) { w.setLabel(label); });
  }
  on_catalog("label.0", [](CatalogWindow& w) { w.setLabel(0); });
  on_catalog("find.find", [this](CatalogWindow& w) { runFind(w); });
  on_catalog("find.find_next", [](CatalogWindow& w) { w.findNext(); });
  on_catalog("find.goto", [](CatalogWindow& w) { w.goToDialog(); });
  on_catalog("find.go_again", [](CatalogWindow& w) { w.goAgain(); });
  on_catalog("find.missing", [](CatalogWindow& w) { w.findMissing(); });
  on_catalog("find.reset_paths", [](CatalogWindow& w) { w.resetPaths(); });
  // View
  on_catalog("view.actual_size", [](CatalogWindow& w) { w.zoom(0); });
  on_catalog("view.zoom_in", [](CatalogWindow& w) { w.zoom(1); });
  on_catalog("view.zoom_out", [](CatalogWindow& w) { w.zoom(-1); });
  on_catalog("view.rotate_cw", [](CatalogWindow& w) { w.turnSelected(imaging::kRotateClockwise); });
  on_catalog("view.rotate_ccw", [](CatalogWindow& w) { w.turnSelected(imaging::kRotateCounterClockwise); });
  on_catalog("view.flip_vertical", [](CatalogWindow& w) { w.turnSelected(imaging::kFlipVertical); });
  on_catalog("view.flip_horizontal", [](CatalogWindow& w) { w.turnSelected(imaging::kFlipHorizontal); });
  on_catalog("view.default_orientation", [](CatalogWindow& w) { w.turnSelected(imaging::kRotateNone); });
  on_catalog("view.move_top", [](CatalogWindow& w) { w.moveSelected(-1); });
  on_catalog("view.move_bottom", [](CatalogWindow& w) { w.moveSelected(1); });
  on_catalog("view.move_location", [](CatalogWindow& w) { w.moveSelected(0); });
  on_catalog("view.move_again", [](CatalogWindow& w) { w.moveAgain(); });
  on_catalog("view.invert_sort", [](CatalogWindow& w) { w.invertSort(); });
  // Action
  on_catalog("action.rebuild", [](CatalogWindow& w) { w.rebuildSelected(); });
  on_catalog("action.trash", [](CatalogWindow& w) { w.trashSelected(); });
  on_catalog("action.show_file", [](CatalogWindow& w) { w.showMediaFile(); });
  on_catalog("action.open_default", [](CatalogWindow& w) { w.openWithDefault(); });
  // Window
  handle("window.toolbar", [this] { toolbar_->setVisible(!toolbar_->isVisible()); });
  on_catalog("window.list_view", [](CatalogWindow& w) { w.setView(ViewKind::kList); });
  on_catalog("window.thumbnail_view", [](CatalogWindow& w) { w.setView(ViewKind::kThumbnails); });
  on_catalog("window.media_view", [this](CatalogWindow& w) {
    // A second press while the media view shows goes full screen and back.
    if (w.view() == ViewKind::kMedia) {
      isFullScreen() ? showNormal() : showFullScreen();
      return;
    }
    w.setView(ViewKind::kMedia);
  });
  on_catalog("window.info_panel", [](CatalogWindow& w) { w.showPanel(true, !w.panelShown(true)); });
  on_catalog("window.organize_panel", [](CatalogWindow& w) { w.showPanel(false, !w.panelShown(false)); });
  handle("window.tile_vertical", [this] { tile(true); });
  handle("window.tile_horizontal", [this] { tile(false); });
  handle("window.cascade", [this] { area_->cascadeSubWindows(); });
  // Help
  handle("help.importers", [this] {
    QStringList lines;
    for (const media::MediaTypeRow& row : media::GetMediaTypeRows()) {
      std::string_view kind;
      if (media::GetKindName(row.code, kind)) lines.push_back(Q(Windows1252ToUtf8(kind)));
    }
    lines.removeDuplicates();
    QMessageBox box(QMessageBox::Information, tr("Media Importers"),
                    tr("Norvo Media reads %n kinds of media files.", nullptr, static_cast<int>(lines.size())),
                    QMessageBox::Ok, this);
    box.setDetailedText(lines.join(QLatin1Char('\n')));
    box.exec();
  });
  handle("help.getting_started", [this] {
    // Not modal: the welcome stays beside the window while the user starts.
    auto* box = new QMessageBox(QMessageBox::Information, tr("Getting Started"),
        tr("<p><b>Import</b> photos, movies and sounds with File &gt; Import Items (Ctrl+I), or drop files and "
           "folders from the file manager onto a catalog window.</p>"
           "<p><b>Browse</b> them as a list (Ctrl+1), as thumbnails (Ctrl+2) or one by one in the media view "
           "(Ctrl+3).</p><p><b>Annotate</b> the selected items in the info panel (Ctrl+4) and "
           "<b>organize</b> them into sets by dragging them onto the organize panel (Ctrl+5).</p>"
           "<p>The catalog keeps everything, even when the files are off-line. Save it with Ctrl+S.</p>"),
        QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  });
  handle("help.check_updates", [this] { checkForUpdates(true); });
  handle("help.about", [this] {
    QMessageBox::about(this, tr("About Norvo Media"),
                       tr("<h3>Norvo Media %1</h3><p>A media cataloguer for photographers and archivists.</p>"
                          "<p>Licensed under the GNU General Public License, version 3 or later.</p>")
                           .arg(QStringLiteral(NORVO_VERSION)));
  });
}

// --- dynamic menus -------------------------------------------------------------

void MainWindow::fillRecentMenu() {
  if (recent_menu_ == nullptr) return;
  recent_menu_->clear();
  const std::vector<std::string>& paths = startup_->recent.paths();
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const QString path = Q(paths[i]);
    QAction* a = recent_menu_->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(QFileInfo(path).fileName()));
    a->setToolTip(path);
    connect(a, &QAction::triggered, this, [this, path] { openCatalog(path); });
  }
  if (paths.empty()) recent_menu_->addAction(tr("(none)"))->setEnabled(false);
}

void MainWindow::fillSortMenu() {
  if (sort_menu_ == nullptr) return;
  sort_menu_->clear();
  CatalogWindow* w = activeCatalog();
  for (const fields::SortMenuEntry& entry : fields::SortMenu(w != nullptr ? &w->catalog() : nullptr)) {
    QAction* a = sort_menu_->addAction(Q(Windows1252ToUtf8(entry.text)));
    a->setEnabled(entry.enabled && w != nullptr && !w->catalog().read_only);
    if (!entry.enabled) {
      QFont bold = a->font();
      bold.setBold(true);
      a->setFont(bold);
      continue;
    }
    const metadata::FieldId field = entry.field;
    const QString text = Q(Windows1252ToUtf8(entry.text)).trimmed();
    connect(a, &QAction::triggered, this, [this, field, text] {
      CatalogWindow* now = activeCatalog();
      if (now == nullptr) return;
      if (field != 0) {
        now->sortBy(field, false);
      } else if (text == tr("Random")) {
        // A shuffle: every shown item moved to the end in random order.
        std::vector<int> cells;
        for (int row = 0; row < now->model()->rowCount(); ++row) cells.push_back(now->model()->cellAt(row));
        std::vector<std::uint32_t> ids;
        for (int c : cells) ids.push_back(now->catalog().cells[static_cast<std::size_t>(c - 1)].item_id);
        std::shuffle(ids.begin(), ids.end(), std::mt19937{std::random_device{}()});
        now->model()->beginBatch();
        for (std::uint32_t id : ids) {
          const std::vector<int> one{now->catalog().cellOf(id)};
          if (fields::MoveItems(now->catalog(), one, now->catalog().itemCount() + 1) != err::kNone) break;
        }
        now->model()->endBatch();
        now->model()->reload();
      } else {
        now->sortBy(metadata::field_ids::kFileName, false);
      }
      updateCommands();
    });
  }
}

void MainWindow::runFind(CatalogWindow& front) {
  FindDialog dialog(&front.catalog(), startup_->settings.get(), this);
  if (!front.lastQuery().criteria.empty()) dialog.setQuery(front.lastQuery());
  if (dialog.exec() != QDialog::Accepted) return;
  const FindRequest request = dialog.request();
  const std::vector<fields::Criterion>& criteria = request.query.criteria;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::vector<CatalogWindow*> targets = findTargets(front, request);
  if (request.action == FindAction::kShowInNewCatalog) {
    QApplication::restoreOverrideCursor();
    gatherIntoNewCatalog(targets, criteria, request.query.any);
    return;
  }
  int matches = 0;
  for (CatalogWindow* w : targets) {
    // Find Next moves in one catalog: the first that has a match.
    if (request.action == FindAction::kFindNext && matches > 0) break;
    matches += w->applyFind(criteria, request.query.any, request.action);
  }
  QApplication::restoreOverrideCursor();
  if (matches == 0) QMessageBox::information(this, tr("Find"), tr("No match found"));
}

std::vector<CatalogWindow*> MainWindow::findTargets(CatalogWindow& front, const FindRequest& request) {
  switch (request.query.scope) {
    case fields::SearchScope::kFrontCatalog: return {&front};
    case fields::SearchScope::kAllOpen: return catalogWindows();
    case fields::SearchScope::kRecent:
    case fields::SearchScope::kFolder: break;
  }
  // Catalog files: open ones are searched in their windows; the others are
  // searched closed, and only those with matches are opened.
  const std::vector<std::string> files = request.query.scope == fields::SearchScope::kRecent
                                             ? startup_->recent.paths()
                                             : fields::CatalogFilesInFolder(U(request.folder));
  std::vector<CatalogWindow*> targets;
  std::vector<std::string> closed;
  for (const std::string& file : files) {
    const QString absolute = QFileInfo(Q(file)).absoluteFilePath();
    CatalogWindow* open = nullptr;
    for (CatalogWindow* w : catalogWindows()) {
      if (Q(w->catalog().file_spec.path) == absolute) open = w;
    }
    if (open != nullptr) {
      targets.push_back(open);
    } else {
      closed.push_back(file);
    }
  }
  for (const fields::CatalogMatches& m :
       fields::FindInCatalogFiles(closed, request.query.criteria, request.query.any, app::ScratchFolder())) {
    if (m.result != err::kNone || m.ids.empty()) continue;
    if (CatalogWindow* w = openCatalog(Q(m.path))) targets.push_back(w);
  }
  return targets;
}

CatalogWindow* MainWindow::gatherIntoNewCatalog(const std::vector<CatalogWindow*>& sources,
                                                const std::vector<fields::Criterion>& criteria, bool any) {
  // The matches' records are copied whole (thumbnails and annotations too)
  // into a new untitled catalog, each under its file's folder.
  std::vector<std::pair<CatalogWindow*, std::vector<std::uint32_t>>> found;
  std::size_t total = 0;
  for (CatalogWindow* w : sources) {
    std::vector<std::uint32_t> ids;
    if (fields::FindItems(w->catalog(), criteria, any, ids) == err::kNone && !ids.empty()) {
      total += ids.size();
      found.emplace_back(w, std::move(ids));
    }
  }
  if (total == 0) {
    QMessageBox::information(this, tr("Find"), tr("No match found"));
    return nullptr;
  }
  CatalogWindow* fresh = newCatalog();
  if (fresh == nullptr) return nullptr;
  fresh->model()->beginBatch();
  int copied = 0;
  ErrorCode failure = err::kNone;
  for (const auto& [source, ids] : found) {
    for (std::uint32_t id : ids) {
      const int cell = source->catalog().cellOf(id);
      catalog::ItemRecord record;
      if (cell == 0 || catalog::GetItemRecord(source->catalog(), cell, catalog::kWholeRecord, record) != err::kNone) {
        continue;
      }
      const std::string path = catalog::ItemPath(source->catalog(), cell).value_or(std::string());
      const std::string folder = path.empty() ? std::string() : U(QFileInfo(Q(path)).absolutePath());
      if (ErrorCode e = catalog::AddItem(fresh->catalog(), record, folder); e != err::kNone) {
        failure = e;
        break;
      }
      ++copied;
    }
    if (failure != err::kNone) break;
  }
  fresh->model()->endBatch();
  if (failure != err::kNone) {
    QMessageBox::warning(this, tr("Find"),
                         tr("Only %1 of %2 items could be gathered: %3").arg(copied).arg(total).arg(Q(
                             app::MessageForError(failure, app::Activity::kOther))));
  }
  statusBar()->showMessage(tr("%n matching items gathered into a new catalog.", nullptr, copied), 8000);
  return fresh;
}

void MainWindow::fillOpenWithMenu() {
  // The desktop's applications for the first selected file's type come
  // after the fixed entries; they are made afresh each time.
  for (QAction* a : open_with_entries_) {
    open_with_menu_->removeAction(a);
    a->deleteLater();
  }
  open_with_entries_.clear();
  CatalogWindow* w = activeCatalog();
  if (w == nullptr) return;
  const QStringList paths = w->selectedFilePaths();
  if (paths.isEmpty()) return;
  const QString type = QMimeDatabase().mimeTypeForFile(paths.front()).name();
  bool first = true;
  for (const DesktopApplication& app : ApplicationsForMimeType(type)) {
    if (first) open_with_entries_.push_back(open_with_menu_->addSeparator());
    first = false;
    QAction* a = open_with_menu_->addAction(QIcon::fromTheme(app.icon), app.name);
    connect(a, &QAction::triggered, this, [this, app, paths] {
      if (!LaunchApplication(app, paths)) {
        QMessageBox::warning(this, tr("Open With"), tr("%1 could not be started.").arg(app.name));
      }
    });
    open_with_entries_.push_back(a);
  }
}

void MainWindow::fillWindowMenu() {
  if (window_menu_ == nullptr) return;
  for (QAction* a : window_entries_) {
    window_menu_->removeAction(a);
    a->deleteLater();
  }
  window_entries_.clear();
  const QList<QMdiSubWindow*> subs = area_->subWindowList();
  if (!subs.isEmpty()) window_entries_.push_back(window_menu_->addSeparator());
  for (int i = 0; i < subs.size() && i < 10; ++i) {
    QMdiSubWindow* sub = subs[i];
    QAction* a = window_menu_->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(sub->windowTitle()));
    a->setCheckable(true);
    a->setChecked(sub == area_->activeSubWindow());
    connect(a, &QAction::triggered, this, [this, sub] { area_->setActiveSubWindow(sub); });
    window_entries_.push_back(a);
  }
}

void MainWindow::tile(bool vertical) {
  const QList<QMdiSubWindow*> subs = area_->subWindowList();
  if (subs.isEmpty()) return;
  const QRect room = area_->viewport()->rect();
  const int n = static_cast<int>(subs.size());
  for (int i = 0; i < n; ++i) {
    QMdiSubWindow* sub = subs[i];
    sub->showNormal();
    if (vertical) {
      const int w = room.width() / n;
      sub->setGeometry(i * w, 0, w, room.height());
    } else {
      const int h = room.height() / n;
      sub->setGeometry(0, i * h, room.width(), h);
    }
  }
}

// --- catalogs -------------------------------------------------------------------

CatalogWindow* MainWindow::activeCatalog() const {
  QMdiSubWindow* sub = area_->activeSubWindow();
  if (sub == nullptr && !area_->subWindowList().isEmpty()) sub = area_->subWindowList().back();
  return sub != nullptr ? qobject_cast<CatalogWindow*>(sub->widget()) : nullptr;
}

std::vector<CatalogWindow*> MainWindow::catalogWindows() const {
  std::vector<CatalogWindow*> out;
  for (QMdiSubWindow* sub : area_->subWindowList()) {
    if (auto* w = qobject_cast<CatalogWindow*>(sub->widget())) out.push_back(w);
  }
  return out;
}

QMdiSubWindow* MainWindow::addCatalogWindow(CatalogWindow* window) {
  QMdiSubWindow* sub = area_->addSubWindow(window);
  sub->setWindowIcon(QIcon(QStringLiteral(":/norvo/norvo.svg")));
  sub->setAttribute(Qt::WA_DeleteOnClose);
  window->setContextMenu([this](QMenu* menu) { fillContextMenu(menu); });
  window->startFolderWatching(startup_->settings.get());
  window->mediaView()->applyPlaylistPreferences(startup_->preferences.preferences);
  connect(window, &CatalogWindow::stateChanged, this, &MainWindow::updateCommands);
  connect(window, &CatalogWindow::message, this, [this](const QString& text, int timeout) {
    statusBar()->showMessage(text, timeout);
  });
  // Closing asks about unsaved changes first.
  sub->installEventFilter(this);
  sub->showMaximized();
  area_->setActiveSubWindow(sub);
  updateCommands();
  return sub;
}

CatalogWindow* MainWindow::newCatalog() {
  auto document = std::make_unique<app::CatalogDocument>();
  const app::DocumentResult r = document->createUntitled();
  if (!r.ok()) {
    QMessageBox::warning(this, tr("New"), Q(r.message));
    return nullptr;
  }
  auto* window = new CatalogWindow(std::move(document), &startup_->labels);
  addCatalogWindow(window);
  return window;
}

CatalogWindow* MainWindow::openCatalog(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  for (QMdiSubWindow* sub : area_->subWindowList()) {
    auto* w = qobject_cast<CatalogWindow*>(sub->widget());
    if (w != nullptr && Q(w->catalog().file_spec.path) == absolute) {
      area_->setActiveSubWindow(sub);
      return w;
    }
  }
  auto document = std::make_unique<app::CatalogDocument>();
  std::optional<std::string> password;
  for (;;) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const app::DocumentResult r = document->open(U(absolute), password);
    QApplication::restoreOverrideCursor();
    if (r.ok()) break;
    if (r.code == err::kUserCancelled || r.code == err::kWrongPassword) {
      bool ok = false;
      const QString answer = QInputDialog::getText(
          this, tr("Password"),
          (r.code == err::kWrongPassword ? tr("The password is not correct.\n") : QString()) +
              tr("The catalog '%1' is protected by a password:").arg(QFileInfo(path).fileName()),
          QLineEdit::Password, QString(), &ok);
      if (!ok) return nullptr;
      password = U(answer);
      continue;
    }
    QMessageBox::warning(this, tr("Open"), Q(r.message));
    startup_->recent.remove(U(absolute));
    return nullptr;
  }
  auto* window = new CatalogWindow(std::move(document), &startup_->labels);
  addCatalogWindow(window);
  addRecent(absolute);
  startup_->last_catalog = U(absolute);
  return window;
}

void MainWindow::addRecent(const QString& path) {
  if (path.isEmpty()) return;
  startup_->recent.add(U(path));
  fillRecentMenu();
}

void MainWindow::openFromCommandLine(const std::vector<std::string>& args) {
  const app::CommandLineRequest request = app::ClassifyCommandLine(args);
  switch (request.kind) {
    case app::CommandLineRequest::Kind::kNothing: break;
    case app::CommandLineRequest::Kind::kOpenCatalog: openCatalog(Q(request.paths.front())); break;
    case app::CommandLineRequest::Kind::kAddFiles: {
      CatalogWindow* w = activeCatalog();
      if (w == nullptr || w->catalog().read_only) w = newCatalog();
      if (w == nullptr) break;
      QStringList paths;
      for (const std::string& p : request.paths) paths.push_back(Q(p));
      const bool was_empty = w->catalog().itemCount() == 0;
      w->importPaths(paths);
      if (was_empty && paths.size() == 1 && !w->catalog().titled()) {
        // The new catalog takes the one argument's name.
        w->catalog().display_name = U(QFileInfo(paths.front()).fileName());
      }
      break;
    }
  }
  updateCommands();
}

void MainWindow::listenForHandOver() {
  if (startup_->instance == nullptr || startup_->instance->descriptor() < 0) return;
  hand_over_ = new QSocketNotifier(startup_->instance->descriptor(), QSocketNotifier::Read, this);
  connect(hand_over_, &QSocketNotifier::activated, this, [this] {
    (void)startup_->instance->poll(0, [this](const std::string& text) {
      // A later launch's command line: acted on here, then the frame comes up.
      std::vector<std::string> args = app::SplitCommandLine(text);
      QMetaObject::invokeMethod(this, [this, args] {
        openFromCommandLine(args);
        if (isMinimized()) showNormal();
        raise();
        activateWindow();
      }, Qt::QueuedConnection);
    });
  });
}

// --- preferences, updates, exit ---------------------------------------------------

output::ListCopyChoice MainWindow::listCopyChoice() const {
  return static_cast<output::ListCopyChoice>(startup_->preferences.preferences.u8(app::pref::kListCopyFields));
}

void MainWindow::showPreferences() {
  PreferencesDialog dialog(startup_->preferences.preferences, startup_->labels, this);
  if (dialog.exec() != QDialog::Accepted) return;
  startup_->preferences.preferences = dialog.preferences();
  startup_->labels = dialog.labels();
  // The engine, sorting and import take their settings again; the labels
  // are what search finds colour labels by.
  app::ApplyPreferences(startup_->preferences.preferences);
  std::vector<std::string> label_names;
  for (const app::Label& label : startup_->labels) label_names.push_back(label.name);
  metadata::SetColourLabelNames(label_names);
  // Kept now as well as at exit, so a crash does not lose them; a store
  // that cannot be written keeps them for the exit's try.
  if (startup_->settings != nullptr) {
    (void)app::SavePreferences(*startup_->settings, startup_->preferences.preferences, startup_->preferences.recover);
    (void)app::SaveLabels(*startup_->settings, startup_->labels);
  }
  for (CatalogWindow* w : catalogWindows()) w->model()->reload();
}

void MainWindow::checkForUpdates(bool asked) {
  statusBar()->showMessage(tr("Checking for updates..."));
  const std::string url = startup_->settings != nullptr ? app::ConfiguredUpdateUrl(*startup_->settings)
                                                        : std::string(app::kDefaultUpdateUrl);
  auto* watcher = new QFutureWatcher<app::UpdateCheckResult>(this);
  connect(watcher, &QFutureWatcher<app::UpdateCheckResult>::finished, this, [this, watcher, asked] {
    const app::UpdateCheckResult result = watcher->result();
    watcher->deleteLater();
    statusBar()->clearMessage();
    if (result.message.empty()) return;
    if (result.newer) {
      if (QMessageBox::question(this, tr("Check for Updates"), Q(result.message)) == QMessageBox::Yes) {
        QDesktopServices::openUrl(QUrl(QStringLiteral("https://www.norvomedia.com/download")));
      }
    } else if (asked) {
      QMessageBox::information(this, tr("Check for Updates"), Q(result.message));
    }
  });
  watcher->setFuture(QtConcurrent::run([asked, url] { return app::CheckForUpdate(asked, url); }));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Close) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
      auto* w = qobject_cast<CatalogWindow*>(sub->widget());
      if (w != nullptr && !w->maySave()) {
        event->ignore();
        return true;
      }
      if (w != nullptr && w->catalog().titled()) startup_->last_catalog = w->catalog().file_spec.path;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  for (CatalogWindow* w : catalogWindows()) {
    if (!w->maySave()) {
      event->ignore();
      return;
    }
  }
  // The last catalog is the active one, when it has a file.
  if (CatalogWindow* w = activeCatalog(); w != nullptr && w->catalog().titled()) {
    startup_->last_catalog = w->catalog().file_spec.path;
  }
  for (CatalogWindow* w : catalogWindows()) w->scanner()->cancel();
  event->accept();
}

}  // namespace norvo::views
