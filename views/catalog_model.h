// SPDX-License-Identifier: GPL-3.0-or-later
// The item model of one catalog window: one row per item shown (the
// catalog's cells in their order, hidden items left out), one column per
// list field of the field table. Records are read when a view asks for a
// row, so opening a large catalog reads only the records on screen; a
// bounded cache keeps the recent ones. Thumbnails come from a
// ThumbnailCache, decoded off the interface thread.
//
// The model follows the engine's notifications (handed on by the catalog
// window): an added item is appended, a removed one taken out, a changed one
// redrawn, and a change of order or visibility rebuilds the rows.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QColor>
#include <QHash>

#include <cstdint>
#include <memory>
#include <vector>

#include "app/preferences.h"
#include "catalog/catalog.h"
#include "metadata/field_table.h"
#include "metadata/item_fields.h"

namespace norvo::views {

class ThumbnailCache;

// The private drag-and-drop type for items between catalog windows and onto
// the organize panel: the source catalog's address and the ItemIds.
inline constexpr char kItemsMimeType[] = "application/x-norvo-items";

class CatalogModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Role {
    kItemIdRole = Qt::UserRole + 1,  // quint32
    kCellRole,                       // int, from 1
    kLabelRole,                      // int 0-9
    kLabelColourRole,                // QColor, invalid for no label
    kThumbnailRole,                  // QImage, null until decoded
    kPendingRole,                    // bool: not yet scanned
    kTypeCodeRole,                   // quint32
    kPathRole,                       // QString: where the catalog says the file is
  };

  CatalogModel(catalog::Catalog* catalog, ThumbnailCache* thumbnails, const app::Labels* labels,
               QObject* parent = nullptr);
  ~CatalogModel() override;

  // Rows, columns and values.
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Header clicks sort the catalog itself (its order is the view's).
  void sort(int column, Qt::SortOrder order) override;

  // Drag and drop: items leave as the private type and as file URLs.
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction | Qt::MoveAction; }

  catalog::Catalog* catalog() const { return catalog_; }
  metadata::FieldId columnField(int column) const;
  int columnOfField(metadata::FieldId id) const;
  std::uint32_t itemIdAt(int row) const;
  int cellAt(int row) const;       // 0 when the row is out of range
  int rowOfItem(std::uint32_t item_id) const;  // -1 when not shown
  // The record of the row's item (read and kept when needed); null when it
  // cannot be read.
  const metadata::ItemFields* fieldsAt(int row) const;
  const catalog::ItemRecord* recordAt(int row) const;

  // The engine's notifications.
  void itemAdded(std::uint32_t item_id);
  void itemRemoved(std::uint32_t item_id);
  void itemChanged(std::uint32_t item_id);
  // Order or visibility changed: rows are built again.
  void reload();
  // While a batch runs (hiding many items, a sort), notifications only mark
  // the model; the end rebuilds it once.
  void beginBatch();
  void endBatch();

  // How many records were read from the catalog since the model was made.
  int recordReads() const { return record_reads_; }
  // The sort the header shows; -1 for none.
  int sortColumn() const { return sort_column_; }
  Qt::SortOrder sortOrder() const { return sort_order_; }

 Q_SIGNALS:
  void rowsRebuilt();
  void sortFailed(int error);

 private:
  struct CachedRecord;
  void rebuildRows();
  void refreshCells() const;
  void onThumbnailReady(quint32 item_id);

  catalog::Catalog* catalog_;
  ThumbnailCache* thumbnails_;
  const app::Labels* labels_;
  std::vector<metadata::FieldId> columns_;
  std::vector<std::uint32_t> ids_;          // shown items, in catalog order
  mutable QHash<std::uint32_t, int> cell_;  // item -> cell, rebuilt when stale
  mutable bool cells_stale_ = true;
  mutable QCache<std::uint32_t, CachedRecord> records_;
  mutable int record_reads_ = 0;
  int batch_depth_ = 0;
  bool batch_dirty_ = false;
  int sort_column_ = -1;
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
};

// The colour of a label (1-9) from the user's label table.
QColor LabelColour(const app::Labels& labels, int label);

}  // namespace norvo::views
