// SPDX-License-Identifier: GPL-3.0-or-later
// The Preferences dialog: a list of pages on the left, the chosen page on
// the right. Every control edits a copy of the preferences block and of the
// labels; OK hands the copies back (the caller applies and keeps them, and
// they are written at exit), Cancel drops them.
//
// | page     | controls                                   | stored at         |
// |----------|--------------------------------------------|-------------------|
// | General  | what start-up opens, the update check      | 0x097, 0x0A3      |
// | Catalogs | wait for another program, journal, free    | 0x0A1, 0x0A2,     |
// |          | space left by a save, sorting of text      | 0x384, 0x0AB      |
// | Import   | scanning threads, folder watches           | 0x1C4, 0x09C, 0x0B2 |
// | Labels   | the nine colour labels: name and colour    | "LABL" 1          |
// | Copy     | what Copy puts on the clipboard            | 0x0B4             |
#pragma once

#include <QDialog>

#include <array>

#include "app/preferences.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace norvo::views {

class PreferencesDialog : public QDialog {
  Q_OBJECT

 public:
  PreferencesDialog(const app::PreferencesBlock& preferences, const app::Labels& labels, QWidget* parent = nullptr);

  // The edited copies; valid after accept().
  const app::PreferencesBlock& preferences() const { return preferences_; }
  const app::Labels& labels() const { return labels_; }

  // Shows a page by its title ("General", "Catalogs", ...); tests use it.
  void showPage(const QString& title);

  void accept() override;

 private:
  QWidget* makeGeneralPage();
  QWidget* makeCatalogsPage();
  QWidget* makeImportPage();
  QWidget* makeLabelsPage();
  QWidget* makeCopyPage();
  void addPage(const QString& title, QWidget* page);
  void paintSwatch(std::size_t label);

  app::PreferencesBlock preferences_;
  app::Labels labels_;

  QListWidget* pages_list_;
  QStackedWidget* pages_;

  QCheckBox* reopen_last_ = nullptr;
  QCheckBox* check_updates_ = nullptr;
  QComboBox* busy_wait_ = nullptr;
  QComboBox* journal_ = nullptr;
  QSpinBox* save_reserve_ = nullptr;
  QComboBox* sort_strength_ = nullptr;
  QSpinBox* scan_jobs_ = nullptr;
  QComboBox* watch_rate_ = nullptr;
  QCheckBox* watch_updates_ = nullptr;
  std::array<QLineEdit*, app::kLabelCount> label_names_{};
  std::array<QPushButton*, app::kLabelCount> label_swatches_{};
  QButtonGroup* copy_fields_ = nullptr;
};

}  // namespace norvo::views
