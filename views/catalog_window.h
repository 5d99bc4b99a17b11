// SPDX-License-Identifier: GPL-3.0-or-later
// One catalog window: one open catalog shown in the list, thumbnail and
// media views (one shared selection), with the organize panel on the left
// and the info panel on the right. It owns the catalog document, follows the
// engine's notifications, scans new items on the worker pool, and carries
// out the commands the main window routes to it.
#pragma once

#include <QItemSelectionModel>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/catalog_document.h"
#include "app/command_table.h"
#include "app/preferences.h"
#include "fields/find_sort.h"
#include "media/item_scan.h"
#include "output/delimited_text.h"

class QListView;
class QMenu;
class QSplitter;
class QStackedWidget;
class QTableView;
class QLineEdit;
class QLabel;
class QProgressBar;

namespace norvo::views {

enum class FindAction : int;
class FolderWatching;

class CatalogModel;
class InfoPanel;
class MediaView;
class OrganizePanel;
class ScanRunner;
class ThumbnailCache;
class ThumbnailDelegate;

enum class ViewKind { kList = 0, kThumbnails = 1, kMedia = 2 };

class CatalogWindow : public QWidget {
  Q_OBJECT

 public:
  CatalogWindow(std::unique_ptr<app::CatalogDocument> document, const app::Labels* labels, QWidget* parent = nullptr);
  ~CatalogWindow() override;

  catalog::Catalog& catalog() const { return **document_; }
  app::CatalogDocument& document() const { return *document_; }
  CatalogModel* model() const { return model_; }
  QItemSelectionModel* selection() const { return selection_; }
  ScanRunner* scanner() const { return scanner_; }
  ThumbnailCache* thumbnails() const { return thumbnails_; }
  InfoPanel* infoPanel() const { return info_; }
  OrganizePanel* organizePanel() const { return organize_; }
  MediaView* mediaView() const { return media_; }
  QListView* thumbnailView() const { return thumbs_; }
  QTableView* listView() const { return list_; }
  // The title: the catalog's name, with "*" when it has unsaved changes.
  QString title() const;
  // The state the command table's enable rules look at.
  app::CommandState commandState() const;

  // The selected items' ItemIds and rows, in row order.
  std::vector<std::uint32_t> selectedIds() const;
  std::vector<int> selectedCells() const;
  std::vector<int> selectedRows() const;
  void selectIds(const std::vector<std::uint32_t>& ids);

  // Views and panels.
  ViewKind view() const;
  void setView(ViewKind view);
  bool panelShown(bool info) const;
  void showPanel(bool info, bool shown);
  void zoom(int steps);  // 0: actual size
  int thumbnailSide() const;

  // Import: files and folders, then a scan of what was added.
  void importPaths(const QStringList& paths);
  void scanPending();
  // Starts watching the folders the catalog keeps in `store` (the main
  // window calls it once the window is placed).
  void startFolderWatching(app::SettingsStore* store);
  FolderWatching* folderWatching() const { return watching_; }
  void cancelTasks();

  // Saving; false when the user cancelled or it failed (the message shown).
  bool save();
  bool saveAs();
  bool revert();
  // Asks to save unsaved changes; false when the user cancels the close.
  bool maySave();

  // Show states: the set of hidden items, with a history to go back and on.
  void showAll();
  void showHidden();
  void showSelected();
  void hideSelected();
  void showOnly(const std::vector<std::uint32_t>& ids);
  void previousState();
  void nextState();
  void showLastImport();
  void showLabelled(int label);  // -1 any, 0 none, 1-9
  void showDuplicates();
  void findMissing();
  void resetPaths();

  // Item commands.
  void removeSelected(bool ask);
  void setLabel(int label);
  void turnSelected(std::uint16_t code);  // 0: the item's default orientation
  void moveSelected(int where);            // -1 top, 1 bottom, 0 before the current item
  void moveAgain();
  void sortBy(metadata::FieldId field, bool descending);
  void invertSort();
  void rebuildSelected();
  void trashSelected();
  void showMediaFile();
  void openWithDefault();
  // The files of the selected items that can be found, in selection order.
  QStringList selectedFilePaths();
  // Puts the selected items on the clipboard: their files, and as text the
  // list copy of `choice` (the displayed columns in view order for kDisplayedFields).
  void copySelection(output::ListCopyChoice choice);
  // The list view's shown columns, in the order the user sees them.
  std::vector<metadata::FieldId> displayedColumns() const;
  void paste();
  void editAnnotation(metadata::FieldId field, const QStringList& values);
  void writeAnnotationsIntoFiles();

  // Find and Go To.
  void quickSearch(const QString& text);
  // Runs a search on this catalog and acts on the matches (Show in new
  // catalog shows them here; the main window gathers them). Returns the
  // number of matches; the search becomes the one Find Next repeats.
  int applyFind(const std::vector<fields::Criterion>& criteria, bool any, FindAction action);
  fields::SavedQuery lastQuery() const;
  void findNext();
  void goToDialog();
  void goAgain();
  void catalogInfo();

  QLineEdit* searchBox() const { return search_; }
  // Fills the item context menu (the main window's actions).
  void setContextMenu(std::function<void(QMenu*)> fill) { context_menu_ = std::move(fill); }
  bool undoAvailable() const { return !undo_.empty(); }
  void undo();

 Q_SIGNALS:
  // Anything that may change the enable state or the title.
  void stateChanged();
  void message(const QString& text, int timeout_ms);

 protected:
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void onNotification(catalog::Notification n, std::uint32_t item_id);
  void onCurrentChanged();
  void showCurrentInMedia();
  void stepMedia(int delta);
  void recordState();
  void applyHidden(const std::vector<std::uint32_t>& hidden);
  std::vector<std::uint32_t> hiddenIds() const;
  void fail(ErrorCode e, const QString& doing);
  // The "Import" dialog for each file a scan run could not read.
  void reportScanProblems(const std::vector<std::pair<std::uint32_t, ErrorCode>>& failures);
  // Runs a save with the wait cursor; a failure is shown under `title`.
  bool finishSave(const QString& title, const std::function<app::DocumentResult()>& run);
  void contextMenu(const QPoint& at, QWidget* view);
  void pushUndo(QString what, std::function<void()> undo);
  media::ScanOptions scanOptions(bool rebuild) const;

  std::unique_ptr<app::CatalogDocument> document_;
  FolderWatching* watching_ = nullptr;
  bool sized_ = false;  // the panels got their share of the first shown width
  const app::Labels* labels_;
  ThumbnailCache* thumbnails_;
  CatalogModel* model_;
  QItemSelectionModel* selection_;
  ScanRunner* scanner_;
  QSplitter* split_;
  OrganizePanel* organize_;
  QStackedWidget* stack_;
  QTableView* list_;
  QListView* thumbs_;
  ThumbnailDelegate* delegate_;
  MediaView* media_;
  InfoPanel* info_;
  QLineEdit* search_;
  QLabel* status_;
  QProgressBar* progress_;

  std::vector<std::vector<std::uint32_t>> states_;  // hidden ItemIds of each show state
  std::size_t state_ = 0;
  std::vector<std::uint32_t> last_import_;
  std::optional<int> move_target_;  // the last move: -1 top, 1 bottom, 0 before `move_before_`
  std::uint32_t move_before_ = 0;   // the ItemId moved before; 0: the end
  std::vector<fields::Criterion> last_criteria_;
  bool last_any_ = false;
  std::optional<std::pair<fields::GoToChoice, std::string>> last_goto_;
  struct UndoStep {
    QString what;
    std::function<void()> undo;
  };
  std::vector<UndoStep> undo_;
  std::function<void(QMenu*)> context_menu_;
};

}  // namespace norvo::views
