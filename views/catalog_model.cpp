// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/catalog_model.h"

#include <QMimeData>
#include <QUrl>

#include "fields/find_sort.h"
#include "platform/text_encoding.h"
#include "views/qt_support.h"
#include "views/thumbnail_cache.h"

namespace norvo::views {

// How many item records the model keeps read: a few screens of thumbnails.
constexpr int kCachedRecords = 600;

struct CatalogModel::CachedRecord {
  catalog::ItemRecord record;
  metadata::ItemFields fields;  // borrows `record`: the entry never moves
};

QColor LabelColour(const app::Labels& labels, int label) {
  if (label < 1 || label > static_cast<int>(labels.size())) return {};
  const app::Label& l = labels[static_cast<std::size_t>(label - 1)];
  return QColor::fromRgb(l.red >> 8, l.green >> 8, l.blue >> 8);
}

CatalogModel::CatalogModel(catalog::Catalog* catalog, ThumbnailCache* thumbnails, const app::Labels* labels,
                           QObject* parent)
    : QAbstractTableModel(parent), catalog_(catalog), thumbnails_(thumbnails), labels_(labels) {
  records_.setMaxCost(kCachedRecords);
  for (int i = 0; i < metadata::FieldCount(); ++i) {
    const metadata::FieldId id = metadata::FieldIdAt(i);
    if (metadata::IsColumnField(id)) columns_.push_back(id);
  }
  if (thumbnails_ != nullptr) {
    connect(thumbnails_, &ThumbnailCache::ready, this, &CatalogModel::onThumbnailReady);
  }
  rebuildRows();
}

CatalogModel::~CatalogModel() = default;

int CatalogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

int CatalogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

metadata::FieldId CatalogModel::columnField(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return 0;
  return columns_[static_cast<std::size_t>(column)];
}

int CatalogModel::columnOfField(metadata::FieldId id) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i] == id) return static_cast<int>(i);
  }
  return -1;
}

std::uint32_t CatalogModel::itemIdAt(int row) const {
  if (row < 0 || row >= static_cast<int>(ids_.size())) return 0;
  return ids_[static_cast<std::size_t>(row)];
}

void CatalogModel::refreshCells() const {
  if (!cells_stale_) return;
  cell_.clear();
  cell_.reserve(catalog_->itemCount());
  for (int c = 1; c <= catalog_->itemCount(); ++c) cell_.insert(catalog_->cells[static_cast<std::size_t>(c - 1)].item_id, c);
  cells_stale_ = false;
}

int CatalogModel::cellAt(int row) const {
  const std::uint32_t id = itemIdAt(row);
  if (id == 0) return 0;
  refreshCells();
  return cell_.value(id, 0);
}

int CatalogModel::rowOfItem(std::uint32_t item_id) const {
  for (std::size_t i = 0; i < ids_.size(); ++i) {
    if (ids_[i] == item_id) return static_cast<int>(i);
  }
  return -1;
}

const metadata::ItemFields* CatalogModel::fieldsAt(int row) const {
  const std::uint32_t id = itemIdAt(row);
  if (id == 0) return nullptr;
  if (CachedRecord* hit = records_.object(id)) return &hit->fields;
  const int cell = cellAt(row);
  if (cell == 0) return nullptr;
  auto entry = std::make_unique<CachedRecord>();
  ++record_reads_;
  if (catalog::GetItemRecord(*catalog_, cell, catalog::kWholeRecord, entry->record) != err::kNone) return nullptr;
  entry->fields.assign(*catalog_, cell, entry->record);
  CachedRecord* kept = entry.get();
  records_.insert(id, entry.release(), 1);
  return &kept->fields;
}

const catalog::ItemRecord* CatalogModel::recordAt(int row) const {
  const metadata::ItemFields* f = fieldsAt(row);
  return f != nullptr ? &f->record() : nullptr;
}

QVariant CatalogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(ids_.size())) return {};
  const int row = index.row();
  const std::uint32_t id = ids_[static_cast<std::size_t>(row)];
  switch (role) {
    case kItemIdRole: return QVariant::fromValue<quint32>(id);
    case kCellRole: return cellAt(row);
    case kLabelRole:
    case kLabelColourRole:
    case kPendingRole: {
      const int cell = cellAt(row);
      if (cell == 0) return {};
      const catalog::CatalogCell& c = catalog_->cells[static_cast<std::size_t>(cell - 1)];
      if (role == kPendingRole) return c.pending();
      if (role == kLabelRole) return c.label();
      const QColor colour = labels_ != nullptr ? LabelColour(*labels_, c.label()) : QColor();
      return colour.isValid() ? QVariant(colour) : QVariant();
    }
    case kTypeCodeRole: {
      const catalog::ItemRecord* r = recordAt(row);
      return r != nullptr ? QVariant::fromValue<quint32>(r->type_code) : QVariant();
    }
    case kPathRole: {
      const int cell = cellAt(row);
      const std::optional<std::string> path = cell != 0 ? catalog::ItemPath(*catalog_, cell) : std::nullopt;
      return path ? QVariant(Q(*path)) : QVariant();
    }
    case kThumbnailRole: {
      if (thumbnails_ == nullptr) return {};
      QImage image = thumbnails_->find(id);
      if (!image.isNull()) return image;
      if (!thumbnails_->requested(id)) {
        const catalog::ItemRecord* r = recordAt(row);
        if (r != nullptr && !r->thumbnail.empty()) thumbnails_->request(id, r->thumbnail);
      }
      return {};
    }
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      const metadata::FieldId field = columnField(index.column());
      if (field == metadata::field_ids::kLabels) {
        const int cell = cellAt(row);
        const int label = cell != 0 ? catalog_->cells[static_cast<std::size_t>(cell - 1)].label() : 0;
        if (label == 0 || labels_ == nullptr) return QString();
        return Q(Windows1252ToUtf8((*labels_)[static_cast<std::size_t>(label - 1)].name));
      }
      const metadata::ItemFields* f = fieldsAt(row);
      if (f == nullptr) return role == Qt::DisplayRole ? QVariant(QStringLiteral("?")) : QVariant();
      if (field == metadata::field_ids::kFileName) return Q(f->fileName());
      std::string text;
      for (const std::string& value : f->texts(field)) {
        if (!text.empty()) text += ", ";
        text += value;
      }
      return Q(text);
    }
    case Qt::TextAlignmentRole: {
      const metadata::ValueType type = metadata::FieldValueType(columnField(index.column()));
      const bool number = type == metadata::ValueType::kByte || type == metadata::ValueType::kInt16 ||
                          type == metadata::ValueType::kInt32 || type == metadata::ValueType::kRational;
      return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    default: return {};
  }
}

QVariant CatalogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  const metadata::FieldId field = columnField(section);
  if (field == 0) return {};
  if (role == Qt::DisplayRole) return Q(metadata::FieldLabel(catalog_, field));
  return {};
}

Qt::ItemFlags CatalogModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

void CatalogModel::sort(int column, Qt::SortOrder order) {
  const metadata::FieldId field = columnField(column);
  if (field == 0 || catalog_->read_only) return;
  beginBatch();
  const ErrorCode e =
      fields::SortItems(*catalog_, field, order == Qt::DescendingOrder, fields::NaturalOrder(*catalog_));
  sort_column_ = column;
  sort_order_ = order;
  batch_dirty_ = true;
  endBatch();
  if (e != err::kNone) Q_EMIT sortFailed(e);
}

QStringList CatalogModel::mimeTypes() const { return {QString::fromLatin1(kItemsMimeType), QStringLiteral("text/uri-list")}; }

QMimeData* CatalogModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<int> rows;
  for (const QModelIndex& i : indexes) {
    if (i.isValid() && std::find(rows.begin(), rows.end(), i.row()) == rows.end()) rows.push_back(i.row());
  }
  std::sort(rows.begin(), rows.end());
  QByteArray items;
  items.append(QByteArray::number(reinterpret_cast<quintptr>(catalog_)));
  QList<QUrl> urls;
  for (int row : rows) {
    items.append(' ');
    items.append(QByteArray::number(itemIdAt(row)));
    const QVariant path = data(index(row, 0), kPathRole);
    if (path.isValid()) urls.push_back(QUrl::fromLocalFile(path.toString()));
  }
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(kItemsMimeType), items);
  if (!urls.isEmpty()) mime->setUrls(urls);
  return mime;
}

void CatalogModel::rebuildRows() {
  ids_.clear();
  ids_.reserve(static_cast<std::size_t>(catalog_->itemCount()));
  for (int c = 1; c <= catalog_->itemCount(); ++c) {
    const catalog::CatalogCell& cell = catalog_->cells[static_cast<std::size_t>(c - 1)];
    if (!cell.hidden()) ids_.push_back(cell.item_id);
  }
  cells_stale_ = true;
}

void CatalogModel::reload() {
  if (batch_depth_ > 0) {
    batch_dirty_ = true;
    return;
  }
  beginResetModel();
  records_.clear();
  rebuildRows();
  endResetModel();
  Q_EMIT rowsRebuilt();
}

void CatalogModel::beginBatch() { ++batch_depth_; }

void CatalogModel::endBatch() {
  if (batch_depth_ == 0 || --batch_depth_ > 0) return;
  if (batch_dirty_) {
    batch_dirty_ = false;
    reload();
  }
}

void CatalogModel::itemAdded(std::uint32_t item_id) {
  cells_stale_ = true;
  if (batch_depth_ > 0) {
    batch_dirty_ = true;
    return;
  }
  refreshCells();
  const int cell = cell_.value(item_id, 0);
  if (cell == 0 || catalog_->cells[static_cast<std::size_t>(cell - 1)].hidden()) return;
  // New items come at the end of the cells; shown ones keep the cells' order.
  const int row = static_cast<int>(ids_.size());
  beginInsertRows({}, row, row);
  ids_.push_back(item_id);
  endInsertRows();
}

void CatalogModel::itemRemoved(std::uint32_t item_id) {
  cells_stale_ = true;
  records_.remove(item_id);
  if (thumbnails_ != nullptr) thumbnails_->invalidate(item_id);
  if (batch_depth_ > 0) {
    batch_dirty_ = true;
    return;
  }
  const int row = rowOfItem(item_id);
  if (row < 0) return;
  beginRemoveRows({}, row, row);
  ids_.erase(ids_.begin() + row);
  endRemoveRows();
}

void CatalogModel::itemChanged(std::uint32_t item_id) {
  cells_stale_ = true;
  if (item_id == 0) {
    // The order, or many items: build again.
    reload();
    return;
  }
  records_.remove(item_id);
  if (thumbnails_ != nullptr) thumbnails_->invalidate(item_id);
  if (batch_depth_ > 0) {
    batch_dirty_ = true;
    return;
  }
  refreshCells();
  const int cell = cell_.value(item_id, 0);
  const bool shown = cell != 0 && !catalog_->cells[static_cast<std::size_t>(cell - 1)].hidden();
  const int row = rowOfItem(item_id);
  if (shown != (row >= 0)) {
    reload();  // hidden or shown again: its place among the rows changes
    return;
  }
  if (row >= 0) Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void CatalogModel::onThumbnailReady(quint32 item_id) {
  const int row = rowOfItem(item_id);
  if (row >= 0) Q_EMIT dataChanged(index(row, 0), index(row, 0), {kThumbnailRole, Qt::DecorationRole});
}

}  // namespace norvo::views
