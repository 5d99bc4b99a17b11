// SPDX-License-Identifier: GPL-3.0-or-later
// "&Print..." and "Page Set&up...": the "Print" dialog (layout, range,
// scaling, the option check boxes) with its "Print Margins", "Headers &
// Footers" and "Grid" dialogs and the page setup; then Qt's print dialog,
// where a CUPS printer or a PDF file is chosen, and the pages composed by
// norvo_print with a progress window and a Cancel button.
#pragma once

#include <QDialog>

#include <array>
#include <vector>

#include "print/page_composer.h"
#include "print/print_options.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QPrinter;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace norvo::app {
class SettingsStore;
}

namespace norvo::views {

class CatalogWindow;

// "Print Margins": top, bottom, left and right in centimetres, and mirror
// margins.
class PrintMarginsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PrintMarginsDialog(const print::PrintOptions& options, QWidget* parent = nullptr);
  // Puts the margins as edited into `options`.
  void apply(print::PrintOptions* options) const;

 private:
  std::array<QDoubleSpinBox*, 4> margins_{};  // top, bottom, left, right
  QCheckBox* mirror_;
};

// "Headers & Footers": four lines, each with a button whose menu inserts a
// token where the line's cursor is, and a "Special" button with ready-made
// lines.
class HeadersDialog : public QDialog {
  Q_OBJECT

 public:
  explicit HeadersDialog(const print::PrintOptions& options, QWidget* parent = nullptr);
  void apply(print::PrintOptions* options) const;
  QLineEdit* line(int index) const { return lines_[static_cast<std::size_t>(index)]; }
  // Inserts the token of the menu entry `entry` (kHeaderTokens) into line
  // `index`, as choosing it in that line's menu does.
  void insertToken(int index, int entry);

 private:
  std::array<QLineEdit*, print::kHeaderLineCount> lines_{};
  int last_line_ = 0;  // the line "Special" fills
};

// "Grid": "Default for view", "Cells:" columns x rows, or "Size:" width x
// height in a unit.
class GridDialog : public QDialog {
  Q_OBJECT

 public:
  explicit GridDialog(const print::PrintOptions& options, QWidget* parent = nullptr);
  void apply(print::PrintOptions* options) const;

 private:
  QRadioButton* default_;
  QRadioButton* cells_;
  QRadioButton* size_;
  QSpinBox* columns_;
  QSpinBox* rows_;
  QDoubleSpinBox* width_;
  QDoubleSpinBox* height_;
  QComboBox* unit_;
};

// "Print": the options, with buttons that open the dialogs above and the
// page setup. "Print" accepts.
class PrintDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PrintDialog(const print::PrintOptions& options, QWidget* parent = nullptr);
  // The options as chosen here and in the sub-dialogs.
  print::PrintOptions options() const;

  QPushButton* marginsButton() const { return margins_button_; }
  QPushButton* headersButton() const { return headers_button_; }
  QPushButton* gridButton() const { return grid_button_; }

 private:
  void pageSetup();
  void updateEnabled();

  print::PrintOptions options_;  // what the sub-dialogs keep
  QComboBox* layout_;
  QComboBox* range_;
  QComboBox* scaling_;
  std::vector<QCheckBox*> flags_;  // as kFlagNames
  QSpinBox* repeat_;
  QPushButton* margins_button_;
  QPushButton* headers_button_;
  QPushButton* grid_button_;
};

// The paper of the options on `printer`, and back.
void ApplyPaper(const print::PrintOptions& options, QPrinter* printer);
void TakePaper(const QPrinter& printer, print::PrintOptions* options);

// What the window prints: its selected items, else every item it shows, in
// view order; its list's shown columns as the view fields; its thumbnail
// side, title and current item.
print::PrintJob JobForWindow(CatalogWindow& window, const print::PrintOptions& options,
                             const app::SettingsStore* store);

// The commands. Options are read from the catalog (else the program-wide
// default in `store`) and kept in both; `store` may be null.
void RunPrint(CatalogWindow& window, app::SettingsStore* store);
void RunPageSetup(CatalogWindow& window, app::SettingsStore* store);

}  // namespace norvo::views
