// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: a frame of catalog windows (tiled, cascaded, listed in
// the Window menu), its menu bar, context menu and toolbar built from the
// command table, and the handler of every command, run against the active
// catalog window. Enabling follows that window's state.
#pragma once

#include <QHash>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/startup.h"
#include "fields/find_sort.h"
#include "output/delimited_text.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSocketNotifier;
class QToolBar;

namespace norvo::views {

class CatalogWindow;
struct FindRequest;
class ToolbarIcons;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `startup` is the state InitInstance left; the window keeps it (recent
  // list, labels, preferences, the single-instance hand-over) and writes it
  // back at exit.
  explicit MainWindow(app::StartupState* startup, QWidget* parent = nullptr);
  ~MainWindow() override;

  // What a command line (the first one, or one handed over) asks for.
  void openFromCommandLine(const std::vector<std::string>& args);
  // Opens a catalog file in a new catalog window (or shows it when open).
  CatalogWindow* openCatalog(const QString& path);
  // A new, untitled catalog window.
  CatalogWindow* newCatalog();
  CatalogWindow* activeCatalog() const;
  std::vector<CatalogWindow*> catalogWindows() const;

  // The action of a command id (tests, benchmarks); null for an unknown id.
  QAction* action(std::string_view id) const;
  // Runs a command as the user would (nothing when it is disabled).
  bool trigger(std::string_view id);
  // Whether every command of the table has a handler, and which have none.
  std::vector<std::string> commandsWithoutHandler() const;
  void updateCommands();
  // "Show in new catalog": copies the matches of `sources` whole into a new
  // untitled catalog window, which it returns (null when nothing matched).
  CatalogWindow* gatherIntoNewCatalog(const std::vector<CatalogWindow*>& sources,
                                      const std::vector<fields::Criterion>& criteria, bool any);
  // Asks the update server in the background; an automatic check
  // (`asked` false) says something only when there is a newer version.
  void checkForUpdates(bool asked);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildActions();
  void buildMenus();
  void registerHandlers();
  // Hands the playlist settings of the preferences to every media view.
  void applyPlaylistSettings();
  void handle(std::string_view id, std::function<void()> run);
  void fillRecentMenu();
  void fillSortMenu();
  void fillWindowMenu();
  void fillOpenWithMenu();
  // The Find dialog and its action over the scope's catalogs.
  void runFind(CatalogWindow& front);
  std::vector<CatalogWindow*> findTargets(CatalogWindow& front, const FindRequest& request);

  void fillContextMenu(QMenu* menu);
  QMdiSubWindow* addCatalogWindow(CatalogWindow* window);
  void addRecent(const QString& path);
  void tile(bool vertical);
  void showPreferences();
  // What Copy puts on the clipboard as text (the preferences' choice).
  output::ListCopyChoice listCopyChoice() const;
  void listenForHandOver();

  app::StartupState* startup_;
  QMdiArea* area_;
  QToolBar* toolbar_;
  std::unique_ptr<ToolbarIcons> icons_;
  std::vector<std::pair<const app::CommandSpec*, QAction*>> actions_;
  QHash<QString, QAction*> by_id_;
  QHash<QString, std::function<void()>> handlers_;
  QMenu* recent_menu_ = nullptr;
  QMenu* sort_menu_ = nullptr;
  QMenu* window_menu_ = nullptr;
  QMenu* open_with_menu_ = nullptr;
  std::vector<QAction*> window_entries_;
  std::vector<QAction*> open_with_entries_;
  QSocketNotifier* hand_over_ = nullptr;
  bool sort_descending_ = false;
};

}  // namespace norvo::views
