// SPDX-License-Identifier: GPL-3.0-or-later
// "Batch &Rename...": the dialog of the four naming rules, each showing only
// its own controls, with a preview of the first names the rule gives (a dry
// run: nothing is touched), then the rename itself with progress.
#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

#include "output/batch_rename.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QStackedWidget;
class QTreeWidget;

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::views {

class CatalogWindow;

class BatchRenameDialog : public QDialog {
  Q_OBJECT

 public:
  // Starts from `settings` (the previous use's); the preview renames
  // `item_ids` of `catalog` in a dry run.
  BatchRenameDialog(const output::RenameSettings& settings, catalog::Catalog& catalog,
                    std::vector<std::uint32_t> item_ids, QWidget* parent = nullptr);

  // The settings the controls hold, numbered from the typed start for the
  // dialog's items (what "Rename" runs with).
  output::RenameSettings settings() const;
  QTreeWidget* preview() const { return preview_; }
  // Works the preview out again (after every change of a control).
  void updatePreview();

 private:
  QWidget* makeIncrementalPage(const output::RenameSettings& s);
  QWidget* makeReplacePage(const output::RenameSettings& s);
  QWidget* makeAddPage(const output::RenameSettings& s);
  QWidget* makeConvertPage(const output::RenameSettings& s);
  QLineEdit* textBox(const std::string& text);

  catalog::Catalog& catalog_;
  std::vector<std::uint32_t> item_ids_;
  QComboBox* mode_;
  QStackedWidget* pages_;
  QLineEdit* base_ = nullptr;
  QLineEdit* start_ = nullptr;
  QCheckBox* zero_pad_ = nullptr;
  QLineEdit* search_ = nullptr;
  QLineEdit* replacement_ = nullptr;
  QCheckBox* case_sensitive_ = nullptr;
  QLineEdit* added_ = nullptr;
  QButtonGroup* position_ = nullptr;
  QButtonGroup* case_ = nullptr;
  QTreeWidget* preview_;
};

// Runs the command on the window's selected items: the dialog, then the
// renames in catalog order with progress. Returns the outcomes (empty when
// cancelled).
std::vector<output::RenameOutcome> RunBatchRename(CatalogWindow& window);

}  // namespace norvo::views
