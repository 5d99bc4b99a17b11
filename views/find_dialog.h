// SPDX-License-Identifier: GPL-3.0-or-later
// The Find dialog: one to six rows of field, operator and value, joined by
// "and" or "or"; the scope (the front catalog, all open catalogs, the recent
// catalogs, the catalogs in a folder); the action ("Find next", "Select
// all", "Show all", "Show in new catalog"); saved queries to load, save and
// remove. The dialog only builds the request; the main window runs it over
// the scope's catalogs.
#pragma once

#include <QDialog>

#include <vector>

#include "fields/find_sort.h"

class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace norvo::app {
class SettingsStore;
}
namespace norvo::catalog {
struct Catalog;
}

namespace norvo::views {

enum class FindAction : int { kFindNext = 0, kSelectAll = 1, kShowAll = 2, kShowInNewCatalog = 3 };

struct FindRequest {
  fields::SavedQuery query;  // criteria, and/or, scope
  QString folder;            // for the folder scope
  FindAction action = FindAction::kShowAll;
};

class FindDialog : public QDialog {
  Q_OBJECT

 public:
  // `catalog` names the custom fields; `store` keeps saved queries (null: none).
  FindDialog(const catalog::Catalog* catalog, app::SettingsStore* store, QWidget* parent = nullptr);

  // The rows as criteria, the join, scope, folder and action; rows without
  // a field are left out.
  FindRequest request() const;
  // Fills the dialog from a query (a saved one, or the last search).
  void setQuery(const fields::SavedQuery& query);
  int rowCount() const { return static_cast<int>(rows_.size()); }
  void addRow();
  void removeRow();

  void accept() override;

 private:
  struct Row {
    QComboBox* field;
    QComboBox* op;
    QLineEdit* value;
  };
  void fillOperators(const Row& row);
  void fillSavedQueries();
  void saveQuery();
  void removeQueries();
  void updateButtons();

  const catalog::Catalog* catalog_;
  app::SettingsStore* store_;
  std::vector<Row> rows_;
  QGridLayout* grid_;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QRadioButton* all_ = nullptr;
  QRadioButton* any_ = nullptr;
  QComboBox* scope_ = nullptr;
  QComboBox* action_ = nullptr;
  QComboBox* saved_ = nullptr;
  QString folder_;
};

}  // namespace norvo::views
