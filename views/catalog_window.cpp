// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/catalog_window.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <set>

#include "app/item_sync.h"
#include "app/messages.h"
#include "fields/groups.h"
#include "imaging/thumbnail.h"
#include "imaging/transform.h"
#include "media/import.h"
#include "media/item_scan.h"
#include "metadata/item_fields.h"
#include "platform/file_spec.h"
#include "views/catalog_model.h"
#include "views/find_dialog.h"
#include "views/folder_watching.h"
#include "views/import_problem_dialog.h"
#include "views/info_panel.h"
#include "views/media_view.h"
#include "views/organize_panel.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"
#include "views/thumbnail_cache.h"
#include "views/thumbnail_delegate.h"

namespace norvo::views {
namespace {

constexpr int kZoomStep = 32;
constexpr int kMaxStates = 32;

QString Message(ErrorCode e) { return Q(app::MessageForError(e, app::Activity::kOther)); }

}  // namespace

CatalogWindow::CatalogWindow(std::unique_ptr<app::CatalogDocument> document, const app::Labels* labels, QWidget* parent)
    : QWidget(parent), document_(std::move(document)), labels_(labels) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAcceptDrops(true);
  thumbnails_ = new ThumbnailCache(ThumbnailCache::kDefaultByteLimit, this);
  model_ = new CatalogModel(document_->get(), thumbnails_, labels_, this);
  selection_ = new QItemSelectionModel(model_, this);
  scanner_ = new ScanRunner(document_->get(), 0, this);

  list_ = new QTableView(this);
  list_->setModel(model_);
  list_->setSelectionModel(selection_);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSortingEnabled(false);
  list_->horizontalHeader()->setSectionsClickable(true);
  list_->horizontalHeader()->setSortIndicatorShown(true);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  list_->setShowGrid(false);
  list_->setAlternatingRowColors(true);
  list_->setWordWrap(false);
  list_->setDragEnabled(true);
  list_->setDragDropMode(QAbstractItemView::DragOnly);
  for (int c = 0; c < model_->columnCount(); ++c) {
    list_->setColumnWidth(c, metadata::DefaultColumnWidth(model_->columnField(c)) * 3 / 2);
  }
  connect(list_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    const bool descending = model_->sortColumn() == column && model_->sortOrder() == Qt::AscendingOrder;
    model_->sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    list_->horizontalHeader()->setSortIndicator(column, model_->sortOrder());
  });

  thumbs_ = new QListView(this);
  delegate_ = new ThumbnailDelegate(thumbs_);
  thumbs_->setModel(model_);
  thumbs_->setSelectionModel(selection_);
  thumbs_->setItemDelegate(delegate_);
  thumbs_->setViewMode(QListView::IconMode);
  thumbs_->setResizeMode(QListView::Adjust);
  thumbs_->setMovement(QListView::Static);
  thumbs_->setUniformItemSizes(true);
  thumbs_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  thumbs_->setSpacing(2);
  thumbs_->setLayoutMode(QListView::Batched);
  thumbs_->setBatchSize(200);
  thumbs_->setMouseTracking(true);
  thumbs_->setDragEnabled(true);
  thumbs_->setDragDropMode(QAbstractItemView::DragOnly);
  thumbs_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

  media_ = new MediaView(this);
  stack_ = new QStackedWidget(this);
  stack_->addWidget(list_);
  stack_->addWidget(thumbs_);
  stack_->addWidget(media_);
  stack_->setCurrentWidget(thumbs_);

  organize_ = new OrganizePanel(this);
  organize_->setCatalog(document_->get(), !catalog().read_only);
  info_ = new InfoPanel(labels_, this);

  search_ = new QLineEdit(this);
  search_->setPlaceholderText(tr("Search this catalog"));
  search_->setClearButtonEnabled(true);
  status_ = new QLabel(this);
  progress_ = new QProgressBar(this);
  progress_->setMaximumWidth(220);
  progress_->setTextVisible(true);
  progress_->hide();

  auto* centre = new QWidget(this);
  auto* centre_layout = new QVBoxLayout(centre);
  centre_layout->setContentsMargins(0, 0, 0, 0);
  centre_layout->setSpacing(2);
  auto* top = new QHBoxLayout;
  top->addWidget(search_, 1);
  centre_layout->addLayout(top);
  centre_layout->addWidget(stack_, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(progress_);
  centre_layout->addLayout(bottom);

  split_ = new QSplitter(Qt::Horizontal, this);
  split_->addWidget(organize_);
  split_->addWidget(centre);
  split_->addWidget(info_);
  split_->setStretchFactor(0, 0);
  split_->setStretchFactor(1, 1);
  split_->setStretchFactor(2, 0);
  split_->setSizes({200, 700, 300});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(split_);

  for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{list_, thumbs_}) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) { contextMenu(at, view); });
    connect(view, &QAbstractItemView::doubleClicked, this, [this] { setView(ViewKind::kMedia); });
    view->installEventFilter(this);
  }
  connect(selection_, &QItemSelectionModel::selectionChanged, this, &CatalogWindow::onCurrentChanged);
  connect(selection_, &QItemSelectionModel::currentChanged, this, &CatalogWindow::onCurrentChanged);
  connect(model_, &CatalogModel::rowsRebuilt, this, &CatalogWindow::onCurrentChanged);
  connect(model_, &CatalogModel::sortFailed, this, [this](int e) { fail(static_cast<ErrorCode>(e), tr("sorting")); });
  connect(search_, &QLineEdit::returnPressed, this, [this] { quickSearch(search_->text()); });
  connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (text.isEmpty()) showAll();
  });
  connect(info_, &InfoPanel::annotationEdited, this,
          [this](quint32 field, const QStringList& values) { editAnnotation(field, values); });
  connect(info_, &InfoPanel::labelChosen, this, &CatalogWindow::setLabel);
  connect(info_, &InfoPanel::writeIntoFileRequested, this, &CatalogWindow::writeAnnotationsIntoFiles);
  connect(media_, &MediaView::previousRequested, this, [this] { stepMedia(-1); });
  connect(media_, &MediaView::nextRequested, this, [this] { stepMedia(1); });
  // The playlist goes on from the last item back to the first.
  connect(media_, &MediaView::playlistNextRequested, this, [this] {
    const int rows = model_->rowCount();
    if (rows == 0) return;
    const QModelIndex current = selection_->currentIndex();
    const int row = current.isValid() ? (current.row() + 1) % rows : 0;
    // A catalog of one item plays that item again.
    if (current.isValid() && row == current.row()) {
      showCurrentInMedia();
      return;
    }
    selection_->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  });
  connect(organize_, &OrganizePanel::showContent, this, &CatalogWindow::showOnly);
  connect(organize_, &OrganizePanel::selectContent, this, &CatalogWindow::selectIds);
  connect(organize_, &OrganizePanel::selectionWanted, this,
          [this](std::vector<std::uint32_t>* ids) { *ids = selectedIds(); });
  connect(organize_, &OrganizePanel::changed, this, [this] {
    model_->reload();
    Q_EMIT stateChanged();
  });
  connect(organize_, &OrganizePanel::failed, this,
          [this](int e, const QString& doing) { fail(static_cast<ErrorCode>(e), doing); });
  connect(scanner_, &ScanRunner::progress, this, [this](int done, int total) {
    progress_->setVisible(done < total);
    progress_->setRange(0, std::max(total, 1));
    progress_->setValue(done);
    progress_->setFormat(tr("Scanning %1 of %2").arg(done).arg(total));
  });
  connect(scanner_, &ScanRunner::finished, this, [this] {
    progress_->hide();
    const media::ScanSummary& s = scanner_->summary();
    if (s.failed > 0) Q_EMIT message(tr("%n files could not be read.", nullptr, s.failed), 8000);
    Q_EMIT stateChanged();
    // A window on screen asks about each file that could not be read, once
    // the run is over (a hidden one, as in batch work, only reports the count).
    if (!s.failures.empty() && isVisible()) {
      QTimer::singleShot(0, this, [this, failures = s.failures] { reportScanProblems(failures); });
    }
  });
  connect(scanner_, &ScanRunner::failed, this, [this](int e) { fail(static_cast<ErrorCode>(e), tr("scanning")); });

  catalog().notify = [this](catalog::Notification n, std::uint32_t id) { onNotification(n, id); };
  states_.push_back(hiddenIds());
  onCurrentChanged();
  // Items the last session left unscanned are taken up now.
  QTimer::singleShot(0, this, &CatalogWindow::scanPending);
}

CatalogWindow::~CatalogWindow() {
  scanner_->cancel();
  if (document_->get() != nullptr) catalog().notify = {};
}

QString CatalogWindow::title() const {
  const catalog::Catalog& c = catalog();
  QString name = c.display_name.empty() ? tr("Untitled") : Q(c.display_name);
  if (c.read_only) name += tr(" (viewing only)");
  return c.changed() ? name + QStringLiteral(" *") : name;
}

app::CommandState CatalogWindow::commandState() const {
  const catalog::Catalog& c = catalog();
  app::CommandState s;
  s.catalog = true;
  s.writable = !c.read_only;
  s.titled = c.titled();
  s.changed = c.changed();
  s.items = c.itemCount();
  s.selected = static_cast<int>(selectedRows().size());
  s.running_tasks = scanner_->running();
  s.hidden_items = fields::HiddenItemCount(c) > 0;
  s.previous_state = state_ > 0;
  s.next_state = state_ + 1 < states_.size();
  s.repeat_find = !last_criteria_.empty() || last_goto_.has_value();
  s.move_again = move_target_.has_value();
  s.playable = view() == ViewKind::kMedia && media_->playable();
  s.undo = !undo_.empty();
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  s.paste = clip != nullptr && (clip->hasUrls() || clip->hasText());
  return s;
}

void CatalogWindow::onNotification(catalog::Notification n, std::uint32_t id) {
  switch (n) {
    case catalog::Notification::kItemAdded: model_->itemAdded(id); break;
    case catalog::Notification::kItemRemoved: model_->itemRemoved(id); break;
    case catalog::Notification::kCatalogChanged: model_->itemChanged(id); break;
  }
  Q_EMIT stateChanged();
}

std::vector<int> CatalogWindow::selectedRows() const {
  // The thumbnail view selects an item's first column, the list view its
  // whole row: a row counts when its first column is selected.
  std::vector<int> rows;
  for (const QItemSelectionRange& range : selection_->selection()) {
    if (range.left() > 0) continue;
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

std::vector<std::uint32_t> CatalogWindow::selectedIds() const {
  std::vector<std::uint32_t> ids;
  const std::vector<int> rows = selectedRows();
  for (int row : rows) ids.push_back(model_->itemIdAt(row));
  return ids;
}

std::vector<int> CatalogWindow::selectedCells() const {
  std::vector<int> cells;
  for (std::uint32_t id : selectedIds()) {
    const int cell = catalog().cellOf(id);
    if (cell != 0) cells.push_back(cell);
  }
  return cells;
}

void CatalogWindow::selectIds(const std::vector<std::uint32_t>& ids) {
  QItemSelection chosen;
  const std::set<std::uint32_t> wanted(ids.begin(), ids.end());
  int first = -1;
  for (int row = 0; row < model_->rowCount(); ++row) {
    if (wanted.count(model_->itemIdAt(row)) == 0) continue;
    chosen.select(model_->index(row, 0), model_->index(row, model_->columnCount() - 1));
    if (first < 0) first = row;
  }
  selection_->select(chosen, QItemSelectionModel::ClearAndSelect);
  if (first >= 0) {
    selection_->setCurrentIndex(model_->index(first, 0), QItemSelectionModel::NoUpdate);
    thumbs_->scrollTo(model_->index(first, 0));
    list_->scrollTo(model_->index(first, 0));
  }
}

ViewKind CatalogWindow::view() const { return static_cast<ViewKind>(stack_->currentIndex()); }

void CatalogWindow::setView(ViewKind kind) {
  stack_->setCurrentIndex(static_cast<int>(kind));
  if (kind == ViewKind::kMedia) {
    if (!selection_->currentIndex().isValid() && model_->rowCount() > 0) {
      selection_->setCurrentIndex(model_->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    showCurrentInMedia();
    media_->setFocus();
  } else {
    stack_->currentWidget()->setFocus();
    if (selection_->currentIndex().isValid()) {
      static_cast<QAbstractItemView*>(stack_->currentWidget())->scrollTo(selection_->currentIndex());
    }
  }
  Q_EMIT stateChanged();
}

bool CatalogWindow::panelShown(bool info) const { return (info ? info_ : static_cast<QWidget*>(organize_))->isVisible(); }

void CatalogWindow::showPanel(bool info, bool shown) {
  (info ? static_cast<QWidget*>(info_) : organize_)->setVisible(shown);
  Q_EMIT stateChanged();
}

int CatalogWindow::thumbnailSide() const { return delegate_->side(); }

void CatalogWindow::zoom(int steps) {
  if (view() == ViewKind::kList) setView(ViewKind::kThumbnails);
  delegate_->setSide(steps == 0 ? ThumbnailDelegate::kDefaultSide : delegate_->side() + steps * kZoomStep);
  thumbs_->doItemsLayout();
  thumbs_->viewport()->update();
}

void CatalogWindow::onCurrentChanged() {
  const QModelIndex current = selection_->currentIndex();
  const int selected = static_cast<int>(selectedRows().size());
  const bool current_selected = current.isValid() && selection_->isSelected(model_->index(current.row(), 0));
  const metadata::ItemFields* item = current_selected ? model_->fieldsAt(current.row()) : nullptr;
  info_->showItem(&catalog(), item, selected, !catalog().read_only);
  const catalog::CatalogTotals& totals = catalog::GetCatalogTotals(catalog());
  status_->setText(tr("%1 of %n items shown, %2 selected", nullptr, totals.item_count)
                       .arg(model_->rowCount())
                       .arg(selected));
  if (view() == ViewKind::kMedia) showCurrentInMedia();
  Q_EMIT stateChanged();
}

void CatalogWindow::showCurrentInMedia() {
  const QModelIndex current = selection_->currentIndex();
  if (!current.isValid()) {
    media_->showItem({}, 0, 0, {});
    return;
  }
  const int cell = model_->cellAt(current.row());
  std::string path;
  const catalog::ItemRecord* record = model_->recordAt(current.row());
  if (cell == 0 || record == nullptr || catalog::LocateItemFile(catalog(), cell, path) != err::kNone) {
    media_->showItem({}, 0, 0, tr("The file of this item is off-line."));
    return;
  }
  media_->showItem(Q(path), record->type_code, record->orientation,
                   model_->index(current.row(), 0).data().toString());
}

void CatalogWindow::stepMedia(int delta) {
  const int rows = model_->rowCount();
  if (rows == 0) return;
  const QModelIndex current = selection_->currentIndex();
  const int row = std::clamp((current.isValid() ? current.row() : -delta) + delta, 0, rows - 1);
  selection_->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CatalogWindow::fail(ErrorCode e, const QString& doing) {
  if (e == err::kNone || e == err::kUserCancelled) return;
  QMessageBox::warning(this, tr("Norvo Media"),
                       doing.isEmpty() ? Message(e) : tr("An error occurred while %1: %2").arg(doing, Message(e)));
}

media::ScanOptions CatalogWindow::scanOptions(bool rebuild) const {
  media::ScanOptions options;
  options.thumbnail_size = media::CatalogThumbnailSize(catalog());
  options.rebuild = rebuild;
  return options;
}

// --- import and scan ---------------------------------------------------------

void CatalogWindow::importPaths(const QStringList& paths) {
  if (catalog().read_only || paths.isEmpty()) return;
  std::vector<FileSpec> specs;
  for (const QString& path : paths) {
    FileSpec spec;
    if (MakeFileSpec(U(path), spec) == err::kNone) specs.push_back(std::move(spec));
  }
  if (specs.empty()) return;
  QProgressDialog dialog(tr("Importing"), tr("Cancel"), 0, 0, this);
  dialog.setWindowTitle(tr("Importing"));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(400);
  const int before = catalog().itemCount();
  std::vector<std::uint32_t> known;
  for (int c = 1; c <= before; ++c) known.push_back(catalog().cells[static_cast<std::size_t>(c - 1)].item_id);
  int added = 0;
  model_->beginBatch();
  const ErrorCode e = media::ImportFiles(
      catalog(), specs,
      [&dialog](ProgressPhase, const media::ImportCounters& counters, std::string_view scanning) {
        dialog.setLabelText(QObject::tr("Importing: %1 added, %2 files looked at\n%3")
                                .arg(counters.items_added)
                                .arg(counters.files_scanned)
                                .arg(Q(scanning)));
        QCoreApplication::processEvents();
        return dialog.wasCanceled() ? static_cast<int>(err::kUserCancelled) : 0;
      },
      &added);
  model_->endBatch();
  model_->reload();
  dialog.reset();
  std::sort(known.begin(), known.end());
  last_import_.clear();
  for (int c = 1; c <= catalog().itemCount(); ++c) {
    const std::uint32_t id = catalog().cells[static_cast<std::size_t>(c - 1)].item_id;
    if (!std::binary_search(known.begin(), known.end(), id)) last_import_.push_back(id);
  }
  if (e == err::kCatalogFull) {
    QMessageBox::warning(this, tr("Import"), Message(e));
  } else {
    fail(e, tr("importing"));
  }
  Q_EMIT message(tr("%n items added.", nullptr, added), 5000);
  scanPending();
}

void CatalogWindow::startFolderWatching(app::SettingsStore* store) {
  if (watching_ != nullptr) return;
  watching_ = new FolderWatching(this, store);
  connect(watching_, &FolderWatching::synchronized, this, [this](const QString& folder, int added) {
    Q_EMIT message(tr("%n new files from %1", nullptr, added).arg(folder), 8000);
  });
}

void CatalogWindow::scanPending() {
  if (catalog().read_only) return;
  const std::vector<std::uint32_t> ids = media::ItemsToScan(catalog());
  if (!ids.empty()) scanner_->enqueue(ids, scanOptions(false));
  Q_EMIT stateChanged();
}

void CatalogWindow::cancelTasks() {
  scanner_->cancel();
  media::CancelRunningTasks(catalog());
  Q_EMIT stateChanged();
}

// --- saving ------------------------------------------------------------------

bool CatalogWindow::save() {
  if (!catalog().titled()) return saveAs();
  return finishSave(tr("Save"), [this] { return document_->save(); });
}

bool CatalogWindow::finishSave(const QString& title, const std::function<app::DocumentResult()>& run) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const app::DocumentResult r = run();
  QApplication::restoreOverrideCursor();
  if (!r.ok()) {
    QMessageBox::warning(this, title, Q(r.message));
    return false;
  }
  Q_EMIT stateChanged();
  return true;
}

bool CatalogWindow::saveAs() {
  QString path = QFileDialog::getSaveFileName(this, tr("Save Catalog As"), Q(catalog().display_name),
                                              tr("Norvo Media catalogs (*.nrk)"));
  if (path.isEmpty()) return false;
  if (!path.endsWith(QStringLiteral(".nrk"), Qt::CaseInsensitive)) path += QStringLiteral(".nrk");
  return finishSave(tr("Save As"), [this, &path] { return document_->saveAs(U(path)); });
}

bool CatalogWindow::revert() {
  if (!catalog().titled() || !catalog().changed()) return false;
  if (QMessageBox::question(this, tr("Revert"), Q(app::RevertQuestion(catalog().display_name))) != QMessageBox::Yes) {
    return false;
  }
  const std::string path = catalog().file_spec.path;
  scanner_->cancel();
  catalog().notify = {};
  auto reopened = std::make_unique<app::CatalogDocument>();
  document_->close(catalog::CloseSettings::kLeave);
  const app::DocumentResult r = reopened->open(path, std::nullopt);
  if (!r.ok()) {
    QMessageBox::warning(this, tr("Revert"), Q(r.message));
    return false;
  }
  // The window keeps its widgets; the model follows the reopened catalog.
  document_ = std::move(reopened);
  auto* old_model = model_;
  model_ = new CatalogModel(document_->get(), thumbnails_, labels_, this);
  thumbnails_->clear();
  auto* old_selection = selection_;
  selection_ = new QItemSelectionModel(model_, this);
  for (QAbstractItemView* v : std::initializer_list<QAbstractItemView*>{list_, thumbs_}) {
    v->setModel(model_);
    v->setSelectionModel(selection_);
  }
  connect(selection_, &QItemSelectionModel::selectionChanged, this, &CatalogWindow::onCurrentChanged);
  connect(selection_, &QItemSelectionModel::currentChanged, this, &CatalogWindow::onCurrentChanged);
  connect(model_, &CatalogModel::rowsRebuilt, this, &CatalogWindow::onCurrentChanged);
  old_selection->deleteLater();
  old_model->deleteLater();
  delete scanner_;
  scanner_ = new ScanRunner(document_->get(), 0, this);
  catalog().notify = [this](catalog::Notification n, std::uint32_t id) { onNotification(n, id); };
  organize_->setCatalog(document_->get(), !catalog().read_only);
  states_.assign(1, hiddenIds());
  state_ = 0;
  undo_.clear();
  onCurrentChanged();
  return true;
}

bool CatalogWindow::maySave() {
  if (!catalog().changed() || catalog().read_only) return true;
  const auto answer = QMessageBox::question(
      this, tr("Norvo Media"), tr("Save changes to the catalog '%1' before closing?").arg(Q(catalog().display_name)),
      QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::Save) return save();
  return true;
}

// --- show states -------------------------------------------------------------

std::vector<std::uint32_t> CatalogWindow::hiddenIds() const {
  std::vector<std::uint32_t> hidden;
  for (int c = 1; c <= catalog().itemCount(); ++c) {
    const catalog::CatalogCell& cell = catalog().cells[static_cast<std::size_t>(c - 1)];
    if (cell.hidden()) hidden.push_back(cell.item_id);
  }
  return hidden;
}

void CatalogWindow::applyHidden(const std::vector<std::uint32_t>& hidden) {
  if (catalog().read_only) return;
  const std::set<std::uint32_t> hide(hidden.begin(), hidden.end());
  model_->beginBatch();
  for (int c = 1; c <= catalog().itemCount(); ++c) {
    const bool want = hide.count(catalog().cells[static_cast<std::size_t>(c - 1)].item_id) != 0;
    if (ErrorCode e = fields::SetItemHidden(catalog(), c, want); e != err::kNone) {
      fail(e, tr("changing what is shown"));
      break;
    }
  }
  model_->endBatch();
  onCurrentChanged();
}

void CatalogWindow::recordState() {
  states_.resize(state_ + 1);
  std::vector<std::uint32_t> now = hiddenIds();
  if (states_.back() != now) {
    states_.push_back(std::move(now));
    if (states_.size() > kMaxStates) states_.erase(states_.begin());
  }
  state_ = states_.size() - 1;
  Q_EMIT stateChanged();
}

void CatalogWindow::showOnly(const std::vector<std::uint32_t>& ids) {
  const std::set<std::uint32_t> keep(ids.begin(), ids.end());
  std::vector<std::uint32_t> hidden;
  for (int c = 1; c <= catalog().itemCount(); ++c) {
    const std::uint32_t id = catalog().cells[static_cast<std::size_t>(c - 1)].item_id;
    if (keep.count(id) == 0) hidden.push_back(id);
  }
  applyHidden(hidden);
  recordState();
}

void CatalogWindow::showAll() {
  applyHidden({});
  recordState();
}

void CatalogWindow::showHidden() { showOnly(hiddenIds()); }

void CatalogWindow::showSelected() { showOnly(selectedIds()); }

void CatalogWindow::hideSelected() {
  std::vector<std::uint32_t> hidden = hiddenIds();
  const std::vector<std::uint32_t> selected = selectedIds();
  hidden.insert(hidden.end(), selected.begin(), selected.end());
  applyHidden(hidden);
  recordState();
}

void CatalogWindow::previousState() {
  if (state_ == 0) return;
  --state_;
  applyHidden(states_[state_]);
  Q_EMIT stateChanged();
}

void CatalogWindow::nextState() {
  if (state_ + 1 >= states_.size()) return;
  ++state_;
  applyHidden(states_[state_]);
  Q_EMIT stateChanged();
}

void CatalogWindow::showLastImport() {
  if (last_import_.empty()) {
    QMessageBox::information(this, tr("Show Last Import"), tr("Nothing was imported into this catalog since it was opened."));
    return;
  }
  showOnly(last_import_);
}

void CatalogWindow::showLabelled(int label) {
  std::vector<std::uint32_t> ids;
  for (int c = 1; c <= catalog().itemCount(); ++c) {
    const catalog::CatalogCell& cell = catalog().cells[static_cast<std::size_t>(c - 1)];
    const bool match = label < 0 ? cell.label() != 0 : cell.label() == label;
    if (match) ids.push_back(cell.item_id);
  }
  showOnly(ids);
}

void CatalogWindow::showDuplicates() {
  // Same size first (from the records), then the same bytes (a hash of each
  // candidate file): items whose files are copies of each other.
  QProgressDialog dialog(tr("Finding duplicates..."), tr("Cancel"), 0, catalog().itemCount(), this);
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(300);
  std::map<std::uint64_t, std::vector<std::pair<std::uint32_t, std::string>>> by_size;
  for (int c = 1; c <= catalog().itemCount(); ++c) {
    dialog.setValue(c);
    if (dialog.wasCanceled()) return;
    std::string path;
    if (catalog::LocateItemFile(catalog(), c, path) != err::kNone) continue;
    const QFileInfo info(Q(path));
    by_size[static_cast<std::uint64_t>(info.size())].emplace_back(catalog().cells[static_cast<std::size_t>(c - 1)].item_id,
                                                                  path);
  }
  std::vector<std::uint32_t> duplicates;
  for (auto& [size, items] : by_size) {
    if (items.size() < 2) continue;
    std::map<QByteArray, std::vector<std::uint32_t>> by_hash;
    for (auto& [id, path] : items) {
      QFile file(Q(path));
      if (!file.open(QIODevice::ReadOnly)) continue;
      QCryptographicHash hash(QCryptographicHash::Sha256);
      hash.addData(&file);
      by_hash[hash.result()].push_back(id);
      QCoreApplication::processEvents();
      if (dialog.wasCanceled()) return;
    }
    for (auto& [h, ids] : by_hash) {
      if (ids.size() > 1) duplicates.insert(duplicates.end(), ids.begin(), ids.end());
    }
  }
  dialog.reset();
  if (duplicates.empty()) {
    QMessageBox::information(this, tr("Show Duplicates"), tr("No duplicates were found."));
    return;
  }
  showOnly(duplicates);
}

void CatalogWindow::findMissing() {
  std::vector<std::uint32_t> missing;
  for (int c = 1; c <= catalog().itemCount(); ++c) {
    std::string path;
    if (catalog::LocateItemFile(catalog(), c, path) != err::kNone) {
      missing.push_back(catalog().cells[static_cast<std::size_t>(c - 1)].item_id);
    }
  }
  if (missing.empty()) {
    QMessageBox::information(this, tr("Find Missing Items"), Q(app::NoMissingFilesMessage()));
    return;
  }
  QMessageBox::information(this, tr("Find Missing Items"),
                           Q(app::MissingFilesMessage(catalog().display_name, static_cast<int>(missing.size()))));
  showOnly(missing);
}

void CatalogWindow::resetPaths() {
  const QString folder = QFileDialog::getExistingDirectory(this, tr("Reset Paths: the folder that now holds the files"));
  if (folder.isEmpty()) return;
  int moved = 0;
  int absent = 0;
  for (int cell : selectedCells()) {
    catalog::ItemRecord record;
    if (catalog::GetItemRecord(catalog(), cell, catalog::kWithoutOptionalParts, record) != err::kNone) continue;
    const QString candidate = folder + QLatin1Char('/') + Q(catalog::ItemFileNameUtf8(record));
    if (!QFileInfo(candidate).isFile()) {
      ++absent;
      continue;
    }
    if (ErrorCode e = catalog::RepointItem(catalog(), cell, U(candidate)); e != err::kNone) {
      fail(e, tr("resetting the path"));
      return;
    }
    ++moved;
  }
  QMessageBox::information(this, tr("Reset Paths"),
                           tr("%n items now point into the folder.", nullptr, moved) +
                               (absent > 0 ? QLatin1Char('\n') + tr("%n files were not found there.", nullptr, absent)
                                           : QString()));
}

// --- item commands -----------------------------------------------------------

void CatalogWindow::pushUndo(QString what, std::function<void()> undo) {
  undo_.push_back({std::move(what), std::move(undo)});
  if (undo_.size() > 50) undo_.erase(undo_.begin());
  Q_EMIT stateChanged();
}

void CatalogWindow::undo() {
  if (undo_.empty()) return;
  UndoStep step = std::move(undo_.back());
  undo_.pop_back();
  step.undo();
  Q_EMIT stateChanged();
}

void CatalogWindow::removeSelected(bool ask) {
  const std::vector<std::uint32_t> ids = selectedIds();
  if (ids.empty() || catalog().read_only) return;
  if (ask && QMessageBox::question(this, tr("Delete"),
                                   tr("Remove %n items from the catalog?\nThe files stay where they are.", nullptr,
                                      static_cast<int>(ids.size()))) != QMessageBox::Yes) {
    return;
  }
  model_->beginBatch();
  for (std::uint32_t id : ids) {
    const int cell = catalog().cellOf(id);
    if (cell == 0) continue;
    if (ErrorCode e = fields::RemoveItemWithGroups(catalog(), cell); e != err::kNone) {
      fail(e, tr("removing items"));
      break;
    }
  }
  model_->endBatch();
  organize_->refresh();
  onCurrentChanged();
}

void CatalogWindow::setLabel(int label) {
  std::vector<std::pair<std::uint32_t, int>> before;
  for (int cell : selectedCells()) {
    const catalog::CatalogCell& c = catalog().cells[static_cast<std::size_t>(cell - 1)];
    before.emplace_back(c.item_id, c.label());
    if (ErrorCode e = fields::SetItemLabelWithGroups(catalog(), cell, label); e != err::kNone) {
      fail(e, tr("setting the label"));
      break;
    }
  }
  if (before.empty()) return;
  pushUndo(tr("Label"), [this, before] {
    for (auto [id, old] : before) {
      const int cell = catalog().cellOf(id);
      if (cell != 0) (void)fields::SetItemLabelWithGroups(catalog(), cell, old);  // best effort: the item may be gone
    }
  });
  onCurrentChanged();
}

void CatalogWindow::turnSelected(std::uint16_t code) {
  for (int cell : selectedCells()) {
    catalog::ItemRecord record;
    if (ErrorCode e = catalog::GetItemRecord(catalog(), cell, catalog::kWholeRecord, record); e != err::kNone) {
      fail(e, tr("turning the item"));
      return;
    }
    std::uint16_t wanted = code;
    if (code == imaging::kRotateNone) {
      // The default: the turn the file's own orientation asks for.
      metadata::ItemFields fields;
      fields.assign(catalog(), cell, record);
      wanted = imaging::RotationForOrientation(static_cast<int>(std::strtol(
          fields.text(metadata::field_ids::kExifBase + 0x112).c_str(), nullptr, 10)));
    } else {
      wanted = imaging::ComposeRotation(record.orientation, code);
    }
    const std::uint16_t change = imaging::ComposeRotation(imaging::InverseRotation(record.orientation), wanted);
    if (change == imaging::kRotateNone) continue;
    // The stored thumbnail is kept turned as the item is viewed.
    if (!record.thumbnail.empty()) {
      imaging::PixelBuffer picture;
      imaging::StoredThumbnail stored;
      if (imaging::DecodeStoredThumbnail(record.thumbnail, &picture) == err::kNone &&
          imaging::Rotate(&picture, change) == err::kNone &&
          imaging::StoreThumbnail(picture, imaging::ThumbnailCoding::kJpeg, &stored) == err::kNone) {
        record.thumbnail = std::move(stored.bytes);
      }
    }
    record.orientation = wanted;
    if (ErrorCode e = catalog::ReplaceItemParts(catalog(), cell, record, catalog::parts::kThumbnail); e != err::kNone) {
      fail(e, tr("turning the item"));
      return;
    }
  }
  if (view() == ViewKind::kMedia) showCurrentInMedia();
}

void CatalogWindow::moveSelected(int where) {
  const std::vector<int> cells = selectedCells();
  if (cells.empty()) return;
  int before = 1;
  if (where > 0) {
    before = catalog().itemCount() + 1;
  } else if (where == 0) {
    bool ok = false;
    const int target = QInputDialog::getInt(this, tr("Move to Location"), tr("Move the selected items before item number:"),
                                            1, 1, model_->rowCount() + 1, 1, &ok);
    if (!ok) return;
    before = target > model_->rowCount() ? catalog().itemCount() + 1 : model_->cellAt(target - 1);
  }
  const std::vector<std::uint32_t> ids = selectedIds();
  model_->beginBatch();
  const ErrorCode e = fields::MoveItems(catalog(), cells, before);
  model_->endBatch();
  fail(e, tr("moving items"));
  move_target_ = where;
  move_before_ = before <= catalog().itemCount() ? catalog().cells[static_cast<std::size_t>(before - 1)].item_id : 0;
  selectIds(ids);
}

void CatalogWindow::moveAgain() {
  if (!move_target_) return;
  if (*move_target_ != 0) {
    moveSelected(*move_target_);
    return;
  }
  // Before the same item as last time, wherever it stands now.
  const int before = move_before_ != 0 ? catalog().cellOf(move_before_) : catalog().itemCount() + 1;
  if (before == 0) return;
  const std::vector<std::uint32_t> ids = selectedIds();
  model_->beginBatch();
  const ErrorCode e = fields::MoveItems(catalog(), selectedCells(), before);
  model_->endBatch();
  fail(e, tr("moving items"));
  selectIds(ids);
}

void CatalogWindow::sortBy(metadata::FieldId field, bool descending) {
  const int column = model_->columnOfField(field);
  if (column >= 0) {
    model_->sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    list_->horizontalHeader()->setSortIndicator(column, model_->sortOrder());
    return;
  }
  model_->beginBatch();
  const ErrorCode e = fields::SortItems(catalog(), field, descending, fields::NaturalOrder(catalog()));
  model_->endBatch();
  model_->reload();
  fail(e, tr("sorting"));
}

void CatalogWindow::invertSort() {
  // Reverses the shown items' order; hidden items stay behind them.
  std::vector<int> cells;
  for (int row = model_->rowCount() - 1; row >= 0; --row) cells.push_back(model_->cellAt(row));
  if (cells.empty()) return;
  model_->beginBatch();
  ErrorCode e = err::kNone;
  for (int cell_index = 0; cell_index < static_cast<int>(cells.size()) && e == err::kNone; ++cell_index) {
    // Moving each item, last first, to the end gives the reversed order.
    const std::uint32_t id = model_->itemIdAt(static_cast<int>(cells.size()) - 1 - cell_index);
    const int cell = catalog().cellOf(id);
    const std::vector<int> one{cell};
    e = fields::MoveItems(catalog(), one, static_cast<int>(cells.size()) + 1);
  }
  model_->endBatch();
  model_->reload();
  fail(e, tr("sorting"));
}

void CatalogWindow::rebuildSelected() {
  if (catalog().read_only) return;
  scanner_->enqueue(selectedIds(), scanOptions(true));
}

void CatalogWindow::trashSelected() {
  const std::vector<std::uint32_t> ids = selectedIds();
  if (ids.empty()) return;
  if (QMessageBox::question(this, tr("Move to Recycle Bin"),
                            tr("Move the files of %n items to the trash and remove the items from the catalog?",
                               nullptr, static_cast<int>(ids.size()))) != QMessageBox::Yes) {
    return;
  }
  int failed = 0;
  model_->beginBatch();
  for (std::uint32_t id : ids) {
    const int cell = catalog().cellOf(id);
    std::string path;
    if (cell == 0 || catalog::LocateItemFile(catalog(), cell, path) != err::kNone || !QFile::moveToTrash(Q(path))) {
      ++failed;
      continue;
    }
    if (ErrorCode e = fields::RemoveItemWithGroups(catalog(), cell); e != err::kNone) {
      fail(e, tr("removing items"));
      break;
    }
  }
  model_->endBatch();
  organize_->refresh();
  if (failed > 0) {
    QMessageBox::warning(this, tr("Move to Recycle Bin"),
                         tr("%n files could not be moved to the trash; their items stay.", nullptr, failed));
  }
}

void CatalogWindow::showMediaFile() {
  const std::vector<int> cells = selectedCells();
  if (cells.empty()) return;
  std::string path;
  if (ErrorCode e = catalog::LocateItemFile(catalog(), cells.front(), path); e != err::kNone) {
    fail(e, tr("finding the file"));
    return;
  }
  ShowFileInFileManager(Q(path));
}

void CatalogWindow::reportScanProblems(const std::vector<std::pair<std::uint32_t, ErrorCode>>& failures) {
  for (std::size_t i = 0; i < failures.size(); ++i) {
    const auto [item_id, error] = failures[i];
    const ImportProblem problem = DescribeImportProblem(catalog(), item_id, error);
    switch (AskAboutImportProblem(this, problem, i + 1 < failures.size())) {
      case ImportProblemChoice::kOk: break;
      case ImportProblemChoice::kShowFile: ShowFileInFileManager(problem.path); break;
      case ImportProblemChoice::kTrash:
        if (!QFile::moveToTrash(problem.path)) {
          QMessageBox::warning(this, tr("Move to Recycle Bin"), tr("The file could not be moved to the trash."));
        } else if (const int cell = catalog().cellOf(item_id); cell != 0) {
          fail(fields::RemoveItemWithGroups(catalog(), cell), tr("removing items"));
          organize_->refresh();
        }
        break;
      case ImportProblemChoice::kIgnoreAll: return;
    }
  }
}

QStringList CatalogWindow::selectedFilePaths() {
  QStringList paths;
  for (int cell : selectedCells()) {
    std::string path;
    if (catalog::LocateItemFile(catalog(), cell, path) == err::kNone) paths.push_back(Q(path));
  }
  return paths;
}

void CatalogWindow::openWithDefault() {
  for (int cell : selectedCells()) {
    std::string path;
    if (catalog::LocateItemFile(catalog(), cell, path) != err::kNone) continue;
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
  }
}

std::vector<metadata::FieldId> CatalogWindow::displayedColumns() const {
  std::vector<metadata::FieldId> fields;
  const QHeaderView* header = list_->horizontalHeader();
  for (int visual = 0; visual < header->count(); ++visual) {
    const int column = header->logicalIndex(visual);
    if (!header->isSectionHidden(column)) fields.push_back(model_->columnField(column));
  }
  return fields;
}

void CatalogWindow::copySelection(output::ListCopyChoice choice) {
  // The items travel as their files (for file managers) and as the private
  // type (for other catalog windows); the text is the list copy: one tab
  // separated row per item of the fields the user chose.
  QModelIndexList indexes;
  std::vector<std::uint32_t> ids;
  for (int row : selectedRows()) {
    indexes.push_back(model_->index(row, 0));
    ids.push_back(model_->itemIdAt(row));
  }
  QMimeData* mime = model_->mimeData(indexes);
  std::string text;
  if (const ErrorCode e = output::ListCopyTextOfItems(catalog(), ids, choice, displayedColumns(), &text);
      e != err::kNone) {
    delete mime;
    fail(e, tr("copying the list"));
    return;
  }
  mime->setText(Q(text));
  QApplication::clipboard()->setMimeData(mime);
}

void CatalogWindow::paste() {
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  if (mime == nullptr) return;
  QStringList paths;
  if (mime->hasUrls()) {
    for (const QUrl& url : mime->urls()) {
      if (url.isLocalFile()) paths.push_back(url.toLocalFile());
    }
  } else {
    for (const QString& line : mime->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      if (QFileInfo::exists(line.trimmed())) paths.push_back(line.trimmed());
    }
  }
  if (paths.isEmpty()) {
    QMessageBox::information(this, tr("Paste"), tr("The clipboard holds no files to import."));
    return;
  }
  importPaths(paths);
}

void CatalogWindow::editAnnotation(metadata::FieldId field, const QStringList& values) {
  fields::AnnotationEdit edit{field, {}};
  for (const QString& v : values) edit.values.push_back(U(v));
  const std::vector<int> cells = selectedCells();
  std::vector<std::pair<std::uint32_t, std::vector<std::string>>> before;
  for (int cell : cells) {
    metadata::ItemFields item;
    if (item.read(catalog(), cell) == err::kNone) {
      before.emplace_back(catalog().cells[static_cast<std::size_t>(cell - 1)].item_id, item.texts(field));
    }
    const std::vector<fields::AnnotationEdit> edits{edit};
    if (ErrorCode e = fields::EditItemAnnotations(catalog(), cell, edits); e != err::kNone) {
      fail(e, tr("changing the annotation"));
      break;
    }
  }
  pushUndo(tr("Annotation"), [this, field, before] {
    for (const auto& [id, old] : before) {
      const int cell = catalog().cellOf(id);
      if (cell == 0) continue;
      const std::vector<fields::AnnotationEdit> edits{{field, old}};
      (void)fields::EditItemAnnotations(catalog(), cell, edits);  // best effort: the item may have changed since
    }
    organize_->refresh();
  });
  organize_->refresh();
}

void CatalogWindow::writeAnnotationsIntoFiles() {
  QStringList problems;
  for (int cell : selectedCells()) {
    std::string file;
    std::string why;
    const ErrorCode e = app::SyncItemIntoFile(catalog(), cell, app::SyncForm::kEmbedded, &file, &why);
    if (e != err::kNone) {
      problems.push_back(QStringLiteral("%1: %2%3").arg(Q(file), Message(e), why.empty() ? QString() : " (" + Q(why) + ")"));
    }
  }
  if (!problems.isEmpty()) {
    QMessageBox::warning(this, tr("Write into File"), problems.join(QLatin1Char('\n')));
  } else {
    Q_EMIT message(tr("The annotations were written into the files."), 4000);
  }
}

// --- find and go to ----------------------------------------------------------

void CatalogWindow::quickSearch(const QString& text) {
  if (text.trimmed().isEmpty()) {
    showAll();
    return;
  }
  showOnly(fields::QuickSearch(catalog(), U(text.trimmed())));
}

int CatalogWindow::applyFind(const std::vector<fields::Criterion>& criteria, bool any, FindAction action) {
  last_criteria_ = criteria;
  last_any_ = any;
  last_goto_.reset();
  std::vector<std::uint32_t> found;
  if (ErrorCode e = fields::FindItems(catalog(), criteria, any, found); e != err::kNone) {
    fail(e, tr("searching"));
    return 0;
  }
  if (found.empty()) return 0;
  switch (action) {
    case FindAction::kFindNext: findNext(); break;
    case FindAction::kSelectAll: selectIds(found); break;
    case FindAction::kShowAll:
    case FindAction::kShowInNewCatalog: showOnly(found); break;
  }
  Q_EMIT stateChanged();
  return static_cast<int>(found.size());
}

fields::SavedQuery CatalogWindow::lastQuery() const {
  fields::SavedQuery query;
  query.criteria = last_criteria_;
  query.any = last_any_;
  return query;
}

void CatalogWindow::findNext() {
  if (last_goto_) {
    goAgain();
    return;
  }
  if (last_criteria_.empty()) return;
  std::vector<std::uint32_t> found;
  if (fields::FindItems(catalog(), last_criteria_, last_any_, found) != err::kNone) return;
  const QModelIndex current = selection_->currentIndex();
  const std::set<std::uint32_t> match(found.begin(), found.end());
  for (int row = current.isValid() ? current.row() + 1 : 0; row < model_->rowCount(); ++row) {
    if (match.count(model_->itemIdAt(row)) != 0) {
      selectIds({model_->itemIdAt(row)});
      return;
    }
  }
  QMessageBox::information(this, tr("Find Next"), tr("No match found"));
}

void CatalogWindow::goToDialog() {
  QDialog dialog(this);
  dialog.setWindowTitle(tr("Go To"));
  auto* choice = new QComboBox(&dialog);
  for (const std::string& c : fields::GoToChoices()) choice->addItem(Q(c));
  auto* argument = new QLineEdit(&dialog);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  auto* layout = new QFormLayout(&dialog);
  layout->addRow(tr("Go to"), choice);
  layout->addRow(tr("Value"), argument);
  layout->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return;
  last_goto_ = std::make_pair(static_cast<fields::GoToChoice>(choice->currentIndex()), U(argument->text()));
  last_criteria_.clear();
  const QModelIndex current = selection_->currentIndex();
  const int from = last_goto_->first == fields::GoToChoice::kItemWithId ? 0 : (current.isValid() ? model_->cellAt(current.row()) : 0);
  const int cell = fields::GoTo(catalog(), last_goto_->first, from, last_goto_->second);
  if (cell == 0) {
    QMessageBox::information(this, tr("Go To"), tr("No match found"));
    return;
  }
  selectIds({catalog().cells[static_cast<std::size_t>(cell - 1)].item_id});
}

void CatalogWindow::goAgain() {
  if (!last_goto_) {
    findNext();
    return;
  }
  const QModelIndex current = selection_->currentIndex();
  const int cell = fields::GoTo(catalog(), last_goto_->first, current.isValid() ? model_->cellAt(current.row()) : 0,
                                last_goto_->second);
  if (cell == 0) {
    QMessageBox::information(this, tr("Go Again"), tr("No match found"));
    return;
  }
  selectIds({catalog().cells[static_cast<std::size_t>(cell - 1)].item_id});
}

void CatalogWindow::catalogInfo() {
  const catalog::Catalog& c = catalog();
  const catalog::CatalogTotals& t = catalog::GetCatalogTotals(c);
  QString text;
  text += tr("Catalog: %1\n").arg(c.titled() ? Q(c.file_spec.path) : tr("untitled"));
  text += tr("Items: %1 of at most %2\n").arg(t.item_count).arg(catalog::GetMaxItems(c));
  text += tr("Labelled items: %1\n").arg(t.labelled_count);
  text += tr("Hidden items: %1\n").arg(fields::HiddenItemCount(c));
  text += tr("Media size: %1 MB\n").arg(static_cast<double>(c.media_bytes) / (1024.0 * 1024.0), 0, 'f', 1);
  text += tr("Sets: %1\n").arg(fields::GroupCount(c, metadata::field_ids::kCatalogSets));
  text += tr("Thumbnail size: %1 pixels\n").arg(media::CatalogThumbnailSize(c));
  text += c.read_only ? tr("Opened for viewing only\n") : QString();
  text += c.changed() ? tr("Has unsaved changes\n") : QString();
  QMessageBox::information(this, tr("Catalog Info"), text);
}

void CatalogWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (sized_ || width() < 100) return;
  sized_ = true;
  // The views get most of the width whatever the window's size; the panels
  // a share, within what their contents need.
  const int w = split_->width();
  split_->setSizes({std::clamp(w * 18 / 100, 120, 260), w, std::clamp(w * 28 / 100, 220, 360)});
}

// --- drag and drop, context menu ----------------------------------------------

void CatalogWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!catalog().read_only && event->mimeData()->hasUrls() &&
      !event->mimeData()->hasFormat(QString::fromLatin1(kItemsMimeType))) {
    event->acceptProposedAction();
  }
}

void CatalogWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile());
  }
  event->acceptProposedAction();
  // Import after the drop has returned to the file manager.
  QTimer::singleShot(0, this, [this, paths] { importPaths(paths); });
}

bool CatalogWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == thumbs_ || watched == list_)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      setView(ViewKind::kMedia);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CatalogWindow::contextMenu(const QPoint& at, QWidget* view) {
  QMenu menu(this);
  // The context entries of the command table, as the main window built them.
  if (context_menu_) context_menu_(&menu);
  if (!menu.isEmpty()) menu.exec(static_cast<QAbstractItemView*>(view)->viewport()->mapToGlobal(at));
}

}  // namespace norvo::views
