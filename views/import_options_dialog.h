// SPDX-License-Identifier: GPL-3.0-or-later
// The import options of a catalog: which media classes an import takes,
// whether shortcuts (symbolic links) and invisible files are passed over,
// the six file filters (name, dates created and modified, size, folder
// level, type), each with its operator and value, and the thumbnail size of
// new items. Accepting changes the catalog's options and makes them the
// default of catalogs created from then on.
#pragma once

#include <QDialog>

#include <array>

#include "app/preferences.h"
#include "media/import_options.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QSpinBox;

namespace norvo::views {

class CatalogWindow;

class ImportOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  ImportOptionsDialog(const media::ImportSettings& settings, int thumbnail_size, QWidget* parent = nullptr);

  // The edited options (bits and bytes the dialog does not show keep their
  // values); valid after accept().
  const media::ImportSettings& settings() const { return settings_; }
  int thumbnailSize() const;

  void accept() override;

 private:
  QWidget* makeMediaPage();
  QWidget* makeFiltersPage();

  media::ImportSettings settings_;
  int thumbnail_size_;
  std::array<QCheckBox*, media::kMediaClassCount> classes_{};
  QCheckBox* ignore_shortcuts_ = nullptr;
  QCheckBox* ignore_invisible_ = nullptr;
  QSpinBox* thumbnail_ = nullptr;
  std::array<QCheckBox*, media::kImportFilterCount> enabled_{};
  std::array<QComboBox*, media::kImportFilterCount> operators_{};
  QLineEdit* name_text_ = nullptr;
  QDateEdit* created_ = nullptr;
  QDateEdit* modified_ = nullptr;
  QSpinBox* size_ = nullptr;
  QSpinBox* level_ = nullptr;
  QComboBox* type_ = nullptr;
};

// The command: shows the dialog for the window's catalog and applies it,
// the new default going into `preferences` (kept at exit).
void RunImportOptions(CatalogWindow& window, app::PreferencesBlock* preferences);

}  // namespace norvo::views
