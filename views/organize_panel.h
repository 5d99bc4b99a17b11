// SPDX-License-Identifier: GPL-3.0-or-later
// The organize panel: the groups of one organizer field (a keyword, an
// author, a date ...) or the catalog's sets as a tree of containers. A click
// shows a group's content; items dropped on a group join it (its value is
// assigned, or they become members of the set); the context menu carries
// the panel's commands with their questions. Work goes to fields/groups.h;
// `changed` tells the window to redraw.
#pragma once

#include <QWidget>

#include <cstdint>
#include <vector>

#include "catalog/catalog.h"
#include "metadata/field_table.h"

class QComboBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace norvo::views {

class OrganizePanel : public QWidget {
  Q_OBJECT

 public:
  explicit OrganizePanel(QWidget* parent = nullptr);

  void setCatalog(catalog::Catalog* catalog, bool writable);
  // Redraws the groups of the field shown.
  void refresh();
  metadata::FieldId field() const { return field_; }
  void setField(metadata::FieldId field);
  // The group position (from 1) of the current entry; 0 for none.
  int currentPosition() const;
  QTreeWidget* tree() const { return tree_; }

  // Commands (also in the context menu); `selected` are the window's items.
  void addSet(bool container, bool sub);
  void renameCurrent();
  void deleteCurrent(bool with_items);
  void addItemsToCurrent(const std::vector<std::uint32_t>& ids);
  void removeItemsFromCurrent(const std::vector<std::uint32_t>& ids);
  void copyList();
  void pasteList();
  void makeSetsFromField(metadata::FieldId field);

 Q_SIGNALS:
  void changed();
  // Show (or select) the content of the group at `position`.
  void showContent(const std::vector<std::uint32_t>& ids);
  void selectContent(const std::vector<std::uint32_t>& ids);
  // The window hands its selection when a command needs it.
  void selectionWanted(std::vector<std::uint32_t>* ids);
  void failed(int error, const QString& doing);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showMenu(const QPoint& at);
  std::vector<std::uint32_t> membersOf(int position) const;
  bool ask(const QString& question) const;
  void report(ErrorCode e, const QString& doing);

  catalog::Catalog* catalog_ = nullptr;
  bool writable_ = false;
  metadata::FieldId field_ = metadata::field_ids::kCatalogSets;
  QComboBox* fields_;
  QTreeWidget* tree_;
};

}  // namespace norvo::views
