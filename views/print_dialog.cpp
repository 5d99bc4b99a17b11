// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/print_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "app/messages.h"
#include "app/settings_store.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"

namespace norvo::views {
namespace {

using print::PrintOptions;

constexpr int kMaxViewFields = 6;  // list columns a content list prints
constexpr const char* kLineLabels[print::kHeaderLineCount] = {"Header 1:", "Header 2:", "Footer 1:", "Footer 2:"};

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

QDoubleSpinBox* LengthBox(double value, double max, const QString& suffix, QWidget* parent) {
  auto* box = new QDoubleSpinBox(parent);
  box->setDecimals(2);
  box->setRange(0, max);
  box->setSingleStep(0.1);
  box->setSuffix(suffix);
  box->setValue(value);
  return box;
}

void ShowProblem(QWidget* parent, const QString& text) { QMessageBox::warning(parent, QObject::tr("Print"), text); }

}  // namespace

PrintMarginsDialog::PrintMarginsDialog(const PrintOptions& options, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Print Margins"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  const double values[] = {options.margin_top, options.margin_bottom, options.margin_left, options.margin_right};
  const char* labels[] = {"Top:", "Bottom:", "Left:", "Right:"};
  for (std::size_t i = 0; i < margins_.size(); ++i) {
    margins_[i] = LengthBox(values[i], print::kMaxMarginCm, tr(" cm"), this);
    form->addRow(tr(labels[i]), margins_[i]);
  }
  layout->addLayout(form);
  mirror_ = new QCheckBox(tr("Mirror margins"), this);
  mirror_->setChecked(options.mirror_margins);
  mirror_->setToolTip(tr("Even pages swap the left and right margins, for pages printed on both sides"));
  layout->addWidget(mirror_);
  layout->addWidget(OkCancel(this));
}

void PrintMarginsDialog::apply(PrintOptions* options) const {
  options->margin_top = margins_[0]->value();
  options->margin_bottom = margins_[1]->value();
  options->margin_left = margins_[2]->value();
  options->margin_right = margins_[3]->value();
  options->mirror_margins = mirror_->isChecked();
}

HeadersDialog::HeadersDialog(const PrintOptions& options, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Headers & Footers"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  for (int i = 0; i < print::kHeaderLineCount; ++i) {
    auto* edit = new QLineEdit(QString::fromStdString(options.lines[static_cast<std::size_t>(i)]), this);
    edit->setMinimumWidth(320);
    lines_[static_cast<std::size_t>(i)] = edit;
    connect(edit, &QLineEdit::cursorPositionChanged, this, [this, i] { last_line_ = i; });
    auto* tokens = new QToolButton(this);
    tokens->setText(tr("&&"));
    tokens->setToolTip(tr("Insert a token"));
    tokens->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(tokens);
    for (int t = 0; t < static_cast<int>(print::kHeaderTokens.size()); ++t) {
      const print::HeaderToken& token = print::kHeaderTokens[static_cast<std::size_t>(t)];
      menu->addAction(tr(std::string(token.name).c_str()), this, [this, i, t] { insertToken(i, t); });
    }
    tokens->setMenu(menu);
    grid->addWidget(new QLabel(tr(kLineLabels[i]), this), i, 0);
    grid->addWidget(edit, i, 1);
    grid->addWidget(tokens, i, 2);
  }
  layout->addLayout(grid);

  auto* row = new QHBoxLayout;
  auto* special = new QPushButton(tr("Special"), this);
  special->setToolTip(tr("Fill the line last edited with a ready-made line"));
  auto* special_menu = new QMenu(special);
  for (std::string_view s : print::kSpecialLines) {
    const QString text = Text(s);
    special_menu->addAction(text, this, [this, text] { lines_[static_cast<std::size_t>(last_line_)]->setText(text); });
  }
  special->setMenu(special_menu);
  row->addWidget(special);
  row->addStretch();
  layout->addLayout(row);
  // A label without a buddy shows its ampersands as written.
  layout->addWidget(new QLabel(tr("&& ampersand, &i next tab stop, &d date, &t time, &p page, &n pages, "
                                  "&c catalog title"),
                               this));
  layout->addWidget(OkCancel(this));
}

void HeadersDialog::insertToken(int index, int entry) {
  if (index < 0 || index >= print::kHeaderLineCount || entry < 0 ||
      entry >= static_cast<int>(print::kHeaderTokens.size())) {
    return;
  }
  QLineEdit* edit = lines_[static_cast<std::size_t>(index)];
  edit->insert(Text(print::kHeaderTokens[static_cast<std::size_t>(entry)].token));
  edit->setFocus();
  last_line_ = index;
}

void HeadersDialog::apply(PrintOptions* options) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) options->lines[i] = lines_[i]->text().toStdString();
}

GridDialog::GridDialog(const PrintOptions& options, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Grid"));
  auto* layout = new QGridLayout(this);
  default_ = new QRadioButton(tr("Default for view"), this);
  cells_ = new QRadioButton(tr("Cells:"), this);
  size_ = new QRadioButton(tr("Size:"), this);
  columns_ = new QSpinBox(this);
  columns_->setRange(1, print::kMaxGridCells);
  columns_->setValue(options.columns);
  rows_ = new QSpinBox(this);
  rows_->setRange(1, print::kMaxGridCells);
  rows_->setValue(options.rows);
  width_ = LengthBox(options.cell_width, print::kMaxCellSize, QString(), this);
  height_ = LengthBox(options.cell_height, print::kMaxCellSize, QString(), this);
  unit_ = new QComboBox(this);
  for (std::string_view u : print::kUnitNames) unit_->addItem(tr(std::string(u).c_str()));
  unit_->setCurrentIndex(static_cast<int>(options.unit));

  layout->addWidget(default_, 0, 0, 1, 5);
  layout->addWidget(cells_, 1, 0);
  layout->addWidget(columns_, 1, 1);
  layout->addWidget(new QLabel(tr("x"), this), 1, 2);
  layout->addWidget(rows_, 1, 3);
  layout->addWidget(size_, 2, 0);
  layout->addWidget(width_, 2, 1);
  layout->addWidget(new QLabel(tr("x"), this), 2, 2);
  layout->addWidget(height_, 2, 3);
  layout->addWidget(unit_, 2, 4);
  layout->addWidget(OkCancel(this), 3, 0, 1, 5);

  (options.grid == print::GridMode::kCells  ? cells_
   : options.grid == print::GridMode::kSize ? size_
                                            : default_)
      ->setChecked(true);
  auto update = [this] {
    columns_->setEnabled(cells_->isChecked());
    rows_->setEnabled(cells_->isChecked());
    for (QWidget* w : {static_cast<QWidget*>(width_), static_cast<QWidget*>(height_), static_cast<QWidget*>(unit_)}) {
      w->setEnabled(size_->isChecked());
    }
  };
  for (QRadioButton* b : {default_, cells_, size_}) connect(b, &QRadioButton::toggled, this, update);
  update();
}

void GridDialog::apply(PrintOptions* options) const {
  options->grid = cells_->isChecked()  ? print::GridMode::kCells
                  : size_->isChecked() ? print::GridMode::kSize
                                       : print::GridMode::kDefaultForView;
  options->columns = columns_->value();
  options->rows = rows_->value();
  options->cell_width = std::max(0.01, width_->value());
  options->cell_height = std::max(0.01, height_->value());
  options->unit = static_cast<print::GridUnit>(unit_->currentIndex());
}

PrintDialog::PrintDialog(const PrintOptions& options, QWidget* parent) : QDialog(parent), options_(options) {
  setWindowTitle(tr("Print"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  layout_ = new QComboBox(this);
  for (std::string_view name : print::kLayoutNames) layout_->addItem(tr(std::string(name).c_str()));
  layout_->setCurrentIndex(static_cast<int>(options.layout));
  range_ = new QComboBox(this);
  for (std::string_view name : print::kRangeNames) range_->addItem(tr(std::string(name).c_str()));
  range_->setCurrentIndex(static_cast<int>(options.range));
  scaling_ = new QComboBox(this);
  for (const print::ScalingEntry& e : print::kScalings) scaling_->addItem(tr(std::string(e.name).c_str()), e.code);
  scaling_->setCurrentIndex(std::max(0, scaling_->findData(options.scaling)));
  form->addRow(tr("Print:"), layout_);
  form->addRow(tr("Range:"), range_);
  form->addRow(tr("Scaling:"), scaling_);
  layout->addLayout(form);

  auto* box = new QGroupBox(tr("Options"), this);
  auto* checks = new QGridLayout(box);
  for (std::size_t i = 0; i < print::kFlagNames.size(); ++i) {
    auto* check = new QCheckBox(tr(std::string(print::kFlagNames[i].name).c_str()), box);
    check->setChecked(options.has(print::kFlagNames[i].bit));
    flags_.push_back(check);
    checks->addWidget(check, static_cast<int>(i % 4), static_cast<int>(i / 4));
  }
  repeat_ = new QSpinBox(box);
  repeat_->setRange(1, print::kMaxRepeatCount);
  repeat_->setValue(std::clamp(options.repeat_count, 1, print::kMaxRepeatCount));
  repeat_->setSuffix(tr(" times"));
  checks->addWidget(repeat_, 3, 2);
  layout->addWidget(box);

  auto* buttons = new QHBoxLayout;
  margins_button_ = new QPushButton(tr("&Margins..."), this);
  headers_button_ = new QPushButton(tr("&Headers..."), this);
  grid_button_ = new QPushButton(tr("&Grid..."), this);
  auto* setup = new QPushButton(tr("Page &Setup..."), this);
  for (QPushButton* b : {margins_button_, headers_button_, grid_button_, setup}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);

  auto* bottom = new QDialogButtonBox(this);
  QPushButton* print = bottom->addButton(tr("Print"), QDialogButtonBox::AcceptRole);
  print->setDefault(true);
  bottom->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  connect(bottom, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(bottom, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(bottom);

  connect(margins_button_, &QPushButton::clicked, this, [this] {
    PrintMarginsDialog d(options_, this);
    if (d.exec() == QDialog::Accepted) d.apply(&options_);
  });
  connect(headers_button_, &QPushButton::clicked, this, [this] {
    HeadersDialog d(options_, this);
    if (d.exec() == QDialog::Accepted) d.apply(&options_);
  });
  connect(grid_button_, &QPushButton::clicked, this, [this] {
    GridDialog d(options_, this);
    if (d.exec() == QDialog::Accepted) d.apply(&options_);
  });
  connect(setup, &QPushButton::clicked, this, &PrintDialog::pageSetup);
  connect(layout_, &QComboBox::currentIndexChanged, this, &PrintDialog::updateEnabled);
  connect(flags_.back(), &QCheckBox::toggled, this, &PrintDialog::updateEnabled);
  updateEnabled();
}

void PrintDialog::updateEnabled() {
  // Scaling and repeats are the media sheet's; the other options apply to
  // every layout.
  const bool media = layout_->currentIndex() == static_cast<int>(print::PrintLayout::kMediaSheet);
  scaling_->setEnabled(media);
  flags_.back()->setEnabled(media);
  repeat_->setEnabled(media && flags_.back()->isChecked());
}

void PrintDialog::pageSetup() {
  QPrinter printer(QPrinter::HighResolution);
  ApplyPaper(options_, &printer);
  QPageSetupDialog dialog(&printer, this);
  if (dialog.exec() == QDialog::Accepted) TakePaper(printer, &options_);
}

PrintOptions PrintDialog::options() const {
  PrintOptions o = options_;
  o.layout = static_cast<print::PrintLayout>(layout_->currentIndex());
  o.range = static_cast<print::PrintRange>(range_->currentIndex());
  o.scaling = static_cast<std::uint8_t>(scaling_->currentData().toInt());
  for (std::size_t i = 0; i < flags_.size(); ++i) o.set(print::kFlagNames[i].bit, flags_[i]->isChecked());
  o.repeat_count = repeat_->value();
  return o;
}

void ApplyPaper(const PrintOptions& options, QPrinter* printer) {
  const QPageSize size(QSizeF(options.paper_width_mm, options.paper_height_mm), QPageSize::Millimeter, QString(),
                       QPageSize::FuzzyMatch);
  printer->setFullPage(true);
  printer->setPageLayout(QPageLayout(size, options.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0)));
}

void TakePaper(const QPrinter& printer, PrintOptions* options) {
  const QPageLayout layout = printer.pageLayout();
  const QSizeF size = layout.pageSize().size(QPageSize::Millimeter);
  if (size.width() >= 10 && size.height() >= 10) {
    options->paper_width_mm = size.width();
    options->paper_height_mm = size.height();
  }
  options->landscape = layout.orientation() == QPageLayout::Landscape;
}

print::PrintJob JobForWindow(CatalogWindow& window, const PrintOptions& options, const app::SettingsStore* store) {
  print::PrintJob job;
  job.catalog = &window.catalog();
  job.options = options;
  CatalogModel* model = window.model();
  job.cells = window.selectedCells();
  if (job.cells.empty()) {
    for (int row = 0; row < model->rowCount(); ++row) {
      if (int cell = model->cellAt(row); cell > 0) job.cells.push_back(cell);
    }
  }
  const QModelIndex current = window.selection()->currentIndex();
  if (current.isValid()) {
    auto it = std::find(job.cells.begin(), job.cells.end(), model->cellAt(current.row()));
    if (it != job.cells.end()) job.current_item = static_cast<int>(it - job.cells.begin());
  }
  // The list's shown columns, in the order the user arranged them.
  std::vector<metadata::FieldId> fields;
  const QHeaderView* header = window.listView()->horizontalHeader();
  for (int visual = 0; visual < header->count() && static_cast<int>(fields.size()) < kMaxViewFields; ++visual) {
    const int logical = header->logicalIndex(visual);
    if (!header->isSectionHidden(logical)) fields.push_back(model->columnField(logical));
  }
  if (!fields.empty()) job.view_fields = fields;
  job.view_thumbnail_side = window.thumbnailSide();
  job.catalog_title = window.title().toStdString();
  job.labels = store != nullptr ? app::LoadLabels(*store) : app::DefaultLabels();
  return job;
}

void RunPrint(CatalogWindow& window, app::SettingsStore* store) {
  PrintOptions options = print::LoadPrintOptions(window.catalog(), store);
  PrintDialog dialog(options, &window);
  if (dialog.exec() != QDialog::Accepted) return;
  options = dialog.options();
  // Keeping the options is a convenience: a settings store that cannot be
  // written does not stop the printing.
  (void)print::StorePrintOptions(window.catalog(), store, options);

  print::PrintJob job = JobForWindow(window, options, store);
  if (job.cells.empty()) return;
  const int pages = print::PageComposer(job).pageCount();

  QPrinter printer(QPrinter::HighResolution);
  ApplyPaper(options, &printer);
  printer.setDocName(window.title());
  QPrintDialog chooser(&printer, &window);
  chooser.setMinMax(1, pages);
  chooser.setFromTo(1, pages);
  chooser.setOption(QAbstractPrintDialog::PrintPageRange, options.range == print::PrintRange::kDefineInPrintBox);
  chooser.setOption(QAbstractPrintDialog::PrintSelection, false);
  chooser.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  if (chooser.exec() != QDialog::Accepted) return;
  if (!printer.isValid()) {
    ShowProblem(&window, Text(app::print_text::kServicesProblem));
    return;
  }
  if (printer.printRange() == QPrinter::PageRange) {
    job.first_page = printer.fromPage();
    job.last_page = printer.toPage();
  }
  // The paper chosen in the print dialog is the one printed on, and kept.
  TakePaper(printer, &job.options);
  (void)print::StorePrintOptions(window.catalog(), store, job.options);

  QProgressDialog progress(QObject::tr("Printing..."), QObject::tr("Cancel"), 0, 1, &window);
  progress.setWindowTitle(QObject::tr("Print"));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(300);
  const ErrorCode e = print::PrintJobOn(job, printer, [&](int done, int total) {
    progress.setMaximum(total);
    progress.setValue(done);
    progress.setLabelText(Text(app::print_text::kPage) + QString::number(done) + Text(app::print_text::kOf) +
                          QString::number(total));
    QApplication::processEvents();
    if (!progress.wasCanceled()) return true;
    printer.abort();
    return false;
  });
  progress.reset();
  if (e == err::kNone || e == err::kUserCancelled) return;
  if (e == err::kIo) {
    ShowProblem(&window, Text(app::print_text::kServicesProblem));
  } else {
    ShowProblem(&window, Text(app::print_text::kPrinterError) +
                             QString::fromStdString(app::MessageForError(e, app::Activity::kOther)));
  }
}

void RunPageSetup(CatalogWindow& window, app::SettingsStore* store) {
  PrintOptions options = print::LoadPrintOptions(window.catalog(), store);
  QPrinter printer(QPrinter::HighResolution);
  ApplyPaper(options, &printer);
  QPageSetupDialog dialog(&printer, &window);
  if (dialog.exec() != QDialog::Accepted) return;
  TakePaper(printer, &options);
  (void)print::StorePrintOptions(window.catalog(), store, options);
}

}  // namespace norvo::views
