// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/organize_panel.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "fields/groups.h"
#include "views/catalog_model.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

constexpr int kPositionRole = Qt::UserRole + 1;

// The ItemIds a drag from a catalog window carries, when it comes from
// `catalog`; empty otherwise.
std::vector<std::uint32_t> DraggedItems(const QMimeData* mime, const catalog::Catalog* catalog) {
  std::vector<std::uint32_t> ids;
  if (mime == nullptr || !mime->hasFormat(QString::fromLatin1(kItemsMimeType))) return ids;
  const QList<QByteArray> parts = mime->data(QString::fromLatin1(kItemsMimeType)).split(' ');
  if (parts.isEmpty() || parts[0].toULongLong() != reinterpret_cast<quintptr>(catalog)) return ids;
  for (qsizetype i = 1; i < parts.size(); ++i) ids.push_back(parts[i].toUInt());
  return ids;
}

}  // namespace

OrganizePanel::OrganizePanel(QWidget* parent) : QWidget(parent) {
  fields_ = new QComboBox(this);
  tree_ = new QTreeWidget(this);
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->setAcceptDrops(true);
  tree_->viewport()->setAcceptDrops(true);
  tree_->setDropIndicatorShown(true);
  tree_->viewport()->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(fields_);
  layout->addWidget(tree_, 1);

  connect(fields_, &QComboBox::activated, this, [this](int index) { setField(fields_->itemData(index).toUInt()); });
  connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    Q_EMIT showContent(membersOf(item->data(0, kPositionRole).toInt()));
  });
  connect(tree_, &QTreeWidget::customContextMenuRequested, this, &OrganizePanel::showMenu);
}

void OrganizePanel::setCatalog(catalog::Catalog* catalog, bool writable) {
  catalog_ = catalog;
  writable_ = writable;
  fields_->clear();
  for (const fields::OrganizerRow& row : fields::OrganizerTable()) {
    if (fields::OrganizerOption(*catalog_, row.field) == 0 && row.field != metadata::field_ids::kCatalogSets) continue;
    fields_->addItem(Q(metadata::FieldLabel(catalog_, row.field)), QVariant::fromValue<quint32>(row.field));
  }
  setField(field_);
}

void OrganizePanel::setField(metadata::FieldId field) {
  field_ = field;
  const int at = fields_->findData(QVariant::fromValue<quint32>(field));
  if (at >= 0) fields_->setCurrentIndex(at);
  if (catalog_ != nullptr && field != metadata::field_ids::kCatalogSets) {
    // A field's groups come from its index, kept from now on.
    report(fields::KeepGroupIndex(*catalog_, field), tr("making the field's groups"));
  }
  refresh();
}

void OrganizePanel::refresh() {
  const int current = currentPosition();
  tree_->clear();
  if (catalog_ == nullptr) return;
  const int count = fields::GroupCount(*catalog_, field_);
  std::vector<QTreeWidgetItem*> by_position(static_cast<std::size_t>(count) + 1, nullptr);
  for (int position = 1; position <= count; ++position) {
    const catalog::GroupEntry* entry = fields::GroupAt(*catalog_, field_, position);
    if (entry == nullptr) continue;
    const int parent = field_ == metadata::field_ids::kCatalogSets ? fields::ParentSet(*catalog_, position) : 0;
    QTreeWidgetItem* item = parent > 0 && by_position[static_cast<std::size_t>(parent)] != nullptr
                                ? new QTreeWidgetItem(by_position[static_cast<std::size_t>(parent)])
                                : new QTreeWidgetItem(tree_);
    item->setText(0, QStringLiteral("%1 (%2)").arg(Q(entry->name)).arg(entry->ids.size()));
    item->setData(0, kPositionRole, position);
    item->setIcon(0, style()->standardIcon(entry->container != 0 ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
    by_position[static_cast<std::size_t>(position)] = item;
    if (position == current) tree_->setCurrentItem(item);
  }
  tree_->expandAll();
  if (count == 0) {
    auto* empty = new QTreeWidgetItem(tree_, {tr("Field contains no entries")});
    empty->setFlags(Qt::NoItemFlags);
  }
}

int OrganizePanel::currentPosition() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  return item != nullptr ? item->data(0, kPositionRole).toInt() : 0;
}

std::vector<std::uint32_t> OrganizePanel::membersOf(int position) const {
  if (catalog_ == nullptr || position <= 0) return {};
  const catalog::GroupEntry* entry = fields::GroupAt(*catalog_, field_, position);
  return entry != nullptr ? entry->ids : std::vector<std::uint32_t>{};
}

bool OrganizePanel::ask(const QString& question) const {
  return QMessageBox::question(const_cast<OrganizePanel*>(this), tr("Norvo Media"), question) == QMessageBox::Yes;
}

void OrganizePanel::report(ErrorCode e, const QString& doing) {
  if (e != err::kNone && e != err::kUserCancelled) Q_EMIT failed(e, doing);
}

void OrganizePanel::addSet(bool container, bool sub) {
  if (catalog_ == nullptr || !writable_) return;
  const QString name = QInputDialog::getText(this, container ? tr("Add new container") : tr("Add new set"), tr("Name:"));
  if (name.trimmed().isEmpty()) return;
  const int parent = sub ? currentPosition() : 0;
  int position = 0;
  report(fields::AddSet(*catalog_, U(name.trimmed()), container, parent, &position), tr("adding the set"));
  refresh();
  Q_EMIT changed();
}

void OrganizePanel::renameCurrent() {
  const int position = currentPosition();
  if (catalog_ == nullptr || position == 0 || !fields::CanRenameGroup(field_)) return;
  const catalog::GroupEntry* entry = fields::GroupAt(*catalog_, field_, position);
  const QString name = QInputDialog::getText(this, tr("Rename entry"), tr("Name:"), QLineEdit::Normal,
                                             entry != nullptr ? Q(entry->name) : QString());
  if (name.trimmed().isEmpty()) return;
  const ErrorCode e = fields::RenameGroup(*catalog_, field_, position, U(name.trimmed()));
  if (e == err::kDuplicateName) {
    QMessageBox::information(this, tr("Norvo Media"), tr("An entry named '%1' exists already.").arg(name.trimmed()));
  } else {
    report(e, tr("renaming the entry"));
  }
  refresh();
  Q_EMIT changed();
}

void OrganizePanel::deleteCurrent(bool with_items) {
  const int position = currentPosition();
  if (catalog_ == nullptr || position == 0) return;
  const std::vector<int> positions{position};
  const std::string question = fields::RemoveGroupsQuestion(*catalog_, field_, positions, with_items);
  if (!ask(Q(question))) return;
  report(fields::RemoveGroups(*catalog_, field_, positions, with_items, {}), tr("removing the entry"));
  refresh();
  Q_EMIT changed();
}

void OrganizePanel::addItemsToCurrent(const std::vector<std::uint32_t>& ids) {
  const int position = currentPosition();
  if (catalog_ == nullptr || position == 0 || ids.empty() || !fields::CanAddToGroup(field_)) return;
  report(fields::AddItemsToGroup(*catalog_, field_, position, ids), tr("adding the items"));
  refresh();
  Q_EMIT changed();
}

void OrganizePanel::removeItemsFromCurrent(const std::vector<std::uint32_t>& ids) {
  const int position = currentPosition();
  if (catalog_ == nullptr || position == 0 || ids.empty()) return;
  auto question = [this](std::string_view text) { return ask(Q(text)); };
  report(fields::RemoveItemsFromGroup(*catalog_, field_, position, ids, question), tr("removing the items"));
  refresh();
  Q_EMIT changed();
}

void OrganizePanel::copyList() {
  if (catalog_ == nullptr) return;
  QApplication::clipboard()->setText(Q(fields::CopyGroupList(*catalog_, field_)));
}

void OrganizePanel::pasteList() {
  if (catalog_ == nullptr || !writable_) return;
  report(fields::PasteGroupList(*catalog_, field_, U(QApplication::clipboard()->text())), tr("pasting the list"));
  refresh();
  Q_EMIT changed();
}

void OrganizePanel::makeSetsFromField(metadata::FieldId field) {
  if (catalog_ == nullptr || !writable_) return;
  report(fields::MakeSetsFromField(*catalog_, field), tr("making sets"));
  setField(metadata::field_ids::kCatalogSets);
  Q_EMIT changed();
}

void OrganizePanel::showMenu(const QPoint& at) {
  if (catalog_ == nullptr) return;
  QMenu menu(this);
  const bool sets = field_ == metadata::field_ids::kCatalogSets;
  const int position = currentPosition();
  const catalog::GroupEntry* entry = position > 0 ? fields::GroupAt(*catalog_, field_, position) : nullptr;
  auto add = [&](const QString& text, bool enabled, auto handler) {
    QAction* a = menu.addAction(text, this, handler);
    a->setEnabled(enabled);
  };
  auto selection = [this] {
    std::vector<std::uint32_t> ids;
    Q_EMIT selectionWanted(&ids);
    return ids;
  };
  add(tr("Show content"), entry != nullptr, [this] { Q_EMIT showContent(membersOf(currentPosition())); });
  add(tr("Select content"), entry != nullptr, [this] { Q_EMIT selectContent(membersOf(currentPosition())); });
  menu.addSeparator();
  if (sets) {
    add(tr("Add new set"), writable_, [this] { addSet(false, false); });
    add(tr("Add new container"), writable_, [this] { addSet(true, false); });
    const bool container = entry != nullptr && entry->container != 0;
    add(tr("Add sub-set"), writable_ && container, [this] { addSet(false, true); });
    add(tr("Add sub-set container"), writable_ && container, [this] { addSet(true, true); });
    add(tr("Make sets from keywords"), writable_, [this] { makeSetsFromField(0x219); });
    add(tr("Make sets from categories"), writable_, [this] { makeSetsFromField(0x214); });
    menu.addSeparator();
  }
  add(tr("Rename entry"), writable_ && entry != nullptr && fields::CanRenameGroup(field_), [this] { renameCurrent(); });
  add(tr("Delete entry..."), writable_ && entry != nullptr, [this] { deleteCurrent(false); });
  add(tr("Delete entry and its content..."), writable_ && entry != nullptr, [this] { deleteCurrent(true); });
  menu.addSeparator();
  add(tr("Add selected media items"), writable_ && entry != nullptr && fields::CanAddToGroup(field_),
      [this, selection] { addItemsToCurrent(selection()); });
  add(tr("Remove selected media items..."), writable_ && entry != nullptr,
      [this, selection] { removeItemsFromCurrent(selection()); });
  menu.addSeparator();
  add(tr("Copy list to clipboard"), fields::GroupCount(*catalog_, field_) > 0, [this] { copyList(); });
  add(tr("Paste list from clipboard"), writable_ && QApplication::clipboard()->text().size() > 0,
      [this] { pasteList(); });
  menu.exec(tree_->viewport()->mapToGlobal(at));
}

bool OrganizePanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched != tree_->viewport() || catalog_ == nullptr) return QWidget::eventFilter(watched, event);
  if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
    auto* drag = static_cast<QDragMoveEvent*>(event);
    QTreeWidgetItem* target = tree_->itemAt(drag->position().toPoint());
    const bool ok = writable_ && target != nullptr && fields::CanAddToGroup(field_) &&
                    !DraggedItems(drag->mimeData(), catalog_).empty();
    if (ok) {
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
    } else {
      drag->ignore();
    }
    return true;
  }
  if (event->type() == QEvent::Drop) {
    auto* drop = static_cast<QDropEvent*>(event);
    QTreeWidgetItem* target = tree_->itemAt(drop->position().toPoint());
    const std::vector<std::uint32_t> ids = DraggedItems(drop->mimeData(), catalog_);
    if (target == nullptr || ids.empty()) return true;
    tree_->setCurrentItem(target);
    addItemsToCurrent(ids);
    drop->acceptProposedAction();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace norvo::views
