// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/preferences_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

#include "app/engine_preferences.h"
#include "output/delimited_text.h"
#include "platform/text_encoding.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

using app::pref::kBusyWait;
using app::pref::kJournalKeeping;
using app::pref::kListCopyFields;
using app::pref::kNoUpdateCheck;
using app::pref::kSaveReserve;
using app::pref::kScanJobs;
using app::pref::kSortStrength;
using app::pref::kStartupChoice;
using app::pref::kWatchRate;
using app::pref::kWatchUpdates;

// The smallest free space a save leaves, whatever is stored.
constexpr int kMinSaveReserveKb = 512;
constexpr int kMaxSaveReserveKb = 16 * 1024 * 1024;
constexpr int kMaxScanJobs = 256;

QColor LabelQColor(const app::Label& label) { return QColor::fromRgba64(label.red, label.green, label.blue); }

// A combo whose entries carry the stored values; `value` is selected, or
// the first entry when no entry has it.
QComboBox* ValueCombo(std::initializer_list<std::pair<QString, int>> entries, int value) {
  auto* combo = new QComboBox;
  for (const auto& [text, stored] : entries) combo->addItem(text, stored);
  combo->setCurrentIndex(std::max(0, combo->findData(value)));
  return combo;
}

QWidget* Page(QLayout* layout) {
  auto* page = new QWidget;
  auto* outer = new QVBoxLayout(page);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addLayout(layout);
  outer->addStretch(1);
  return page;
}

QLabel* Note(const QString& text) {
  auto* note = new QLabel(text);
  note->setWordWrap(true);
  note->setForegroundRole(QPalette::PlaceholderText);
  return note;
}

}  // namespace

PreferencesDialog::PreferencesDialog(const app::PreferencesBlock& preferences, const app::Labels& labels,
                                     QWidget* parent)
    : QDialog(parent), preferences_(preferences), labels_(labels) {
  setWindowTitle(tr("Preferences"));
  pages_list_ = new QListWidget;
  pages_list_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("MCatalogsMM")) + 24);
  pages_ = new QStackedWidget;
  connect(pages_list_, &QListWidget::currentRowChanged, pages_, &QStackedWidget::setCurrentIndex);

  addPage(tr("General"), makeGeneralPage());
  addPage(tr("Catalogs"), makeCatalogsPage());
  addPage(tr("Import"), makeImportPage());
  addPage(tr("Labels"), makeLabelsPage());
  addPage(tr("Copy"), makeCopyPage());
  pages_list_->setCurrentRow(0);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &PreferencesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PreferencesDialog::reject);

  auto* body = new QHBoxLayout;
  body->addWidget(pages_list_);
  body->addWidget(pages_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addWidget(buttons);
}

void PreferencesDialog::addPage(const QString& title, QWidget* page) {
  pages_list_->addItem(title);
  pages_->addWidget(page);
}

void PreferencesDialog::showPage(const QString& title) {
  const QList<QListWidgetItem*> found = pages_list_->findItems(title, Qt::MatchExactly);
  if (!found.isEmpty()) pages_list_->setCurrentItem(found.front());
}

QWidget* PreferencesDialog::makeGeneralPage() {
  auto* form = new QVBoxLayout;
  reopen_last_ = new QCheckBox(tr("Reopen the last catalog at start-up"));
  reopen_last_->setChecked(preferences_.u8(kStartupChoice) == app::kStartupReopenLastCatalog);
  check_updates_ = new QCheckBox(tr("Check for a new version at start-up"));
  check_updates_->setChecked(preferences_.u8(kNoUpdateCheck) != 1);
  form->addWidget(reopen_last_);
  form->addWidget(check_updates_);
  return Page(form);
}

QWidget* PreferencesDialog::makeCatalogsPage() {
  auto* form = new QFormLayout;
  busy_wait_ = ValueCombo({{tr("30 seconds"), 1}, {tr("1 minute"), 2}, {tr("90 seconds"), 3}, {tr("2 minutes"), 4},
                           {tr("150 seconds"), 5}},
                          preferences_.u8(kBusyWait));
  form->addRow(tr("Wait for another program that is saving:"), busy_wait_);
  journal_ = ValueCombo({{tr("Keep it until the catalog closes"), 1}, {tr("Delete it after every save"), 2}},
                        preferences_.u8(kJournalKeeping));
  form->addRow(tr("Save journal:"), journal_);
  save_reserve_ = new QSpinBox;
  save_reserve_->setRange(kMinSaveReserveKb, kMaxSaveReserveKb);
  save_reserve_->setSuffix(tr(" KB"));
  save_reserve_->setValue(std::clamp(preferences_.i32(kSaveReserve), kMinSaveReserveKb, kMaxSaveReserveKb));
  form->addRow(tr("Free space a save leaves on the disk:"), save_reserve_);
  sort_strength_ = ValueCombo({{tr("Letters only"), 1}, {tr("Letters, then accents"), 2},
                               {tr("Letters, then accents, then case"), 3}},
                              preferences_.u8(kSortStrength));
  form->addRow(tr("Sort text by:"), sort_strength_);
  form->addRow(Note(tr("The wait and sorting apply to catalogs opened from now on.")));
  return Page(form);
}

QWidget* PreferencesDialog::makeImportPage() {
  auto* form = new QFormLayout;
  scan_jobs_ = new QSpinBox;
  scan_jobs_->setRange(0, kMaxScanJobs);
  scan_jobs_->setSpecialValueText(tr("One per core (%1)").arg(QThread::idealThreadCount()));
  scan_jobs_->setValue(std::clamp(preferences_.i32(kScanJobs), 0, kMaxScanJobs));
  form->addRow(tr("Files scanned at once:"), scan_jobs_);
  watch_rate_ = ValueCombo({{tr("Continuously"), 0}, {tr("Every minute"), 1}, {tr("Every five minutes"), 2}},
                           preferences_.u8(kWatchRate));
  form->addRow(tr("New folder watches check:"), watch_rate_);
  watch_updates_ = new QCheckBox(tr("Update the catalog from watched folders without asking"));
  watch_updates_->setChecked(preferences_.u8(kWatchUpdates) == 1);
  form->addRow(watch_updates_);
  return Page(form);
}

QWidget* PreferencesDialog::makeLabelsPage() {
  auto* grid = new QGridLayout;
  grid->addWidget(Note(tr("Label names are stored in Western (Windows-1252) text; other characters become "
                          "question marks.")),
                  0, 0, 1, 3);
  for (std::size_t i = 0; i < app::kLabelCount; ++i) {
    const int row = static_cast<int>(i) + 1;
    grid->addWidget(new QLabel(QString::number(row)), row, 0);
    auto* swatch = new QPushButton;
    swatch->setToolTip(tr("Choose the colour of label %1").arg(row));
    swatch->setAccessibleName(swatch->toolTip());
    label_swatches_[i] = swatch;
    paintSwatch(i);
    connect(swatch, &QPushButton::clicked, this, [this, i] {
      const QColor chosen = QColorDialog::getColor(LabelQColor(labels_[i]), this, tr("Label Colour"));
      if (!chosen.isValid()) return;
      const QRgba64 c = chosen.rgba64();
      labels_[i].red = c.red();
      labels_[i].green = c.green();
      labels_[i].blue = c.blue();
      paintSwatch(i);
    });
    grid->addWidget(swatch, row, 1);
    auto* name = new QLineEdit(Q(Windows1252ToUtf8(labels_[i].name)));
    name->setMaxLength(static_cast<int>(app::kMaxLabelNameLength));
    label_names_[i] = name;
    grid->addWidget(name, row, 2);
  }
  grid->setColumnStretch(2, 1);
  return Page(grid);
}

void PreferencesDialog::paintSwatch(std::size_t label) {
  QPixmap swatch(28, 14);
  swatch.fill(LabelQColor(labels_[label]));
  QPainter(&swatch).drawRect(0, 0, swatch.width() - 1, swatch.height() - 1);
  label_swatches_[label]->setIcon(swatch);
  label_swatches_[label]->setIconSize(swatch.size());
}

QWidget* PreferencesDialog::makeCopyPage() {
  auto* box = new QVBoxLayout;
  box->addWidget(new QLabel(tr("Fields:")));
  copy_fields_ = new QButtonGroup(this);
  const int stored = preferences_.u8(kListCopyFields);
  for (std::size_t choice = 0; choice < std::size(output::kListCopyChoiceNames); ++choice) {
    auto* radio = new QRadioButton(tr(std::string(output::kListCopyChoiceNames[choice]).c_str()));
    copy_fields_->addButton(radio, static_cast<int>(choice));
    radio->setChecked(static_cast<int>(choice) == stored);
    box->addWidget(radio);
  }
  if (copy_fields_->checkedButton() == nullptr) copy_fields_->buttons().front()->setChecked(true);
  box->addWidget(Note(tr("(Tab Separated)")));
  return Page(box);
}

void PreferencesDialog::accept() {
  preferences_.setU8(kStartupChoice, reopen_last_->isChecked() ? app::kStartupReopenLastCatalog : 0);
  preferences_.setU8(kNoUpdateCheck, check_updates_->isChecked() ? 0 : 1);
  preferences_.setU8(kBusyWait, static_cast<std::uint8_t>(busy_wait_->currentData().toInt()));
  preferences_.setU8(kJournalKeeping, static_cast<std::uint8_t>(journal_->currentData().toInt()));
  preferences_.setI32(kSaveReserve, save_reserve_->value());
  preferences_.setU8(kSortStrength, static_cast<std::uint8_t>(sort_strength_->currentData().toInt()));
  preferences_.setI32(kScanJobs, scan_jobs_->value());
  preferences_.setU8(kWatchRate, static_cast<std::uint8_t>(watch_rate_->currentData().toInt()));
  preferences_.setU8(kWatchUpdates, watch_updates_->isChecked() ? 1 : 0);
  preferences_.setU8(kListCopyFields, static_cast<std::uint8_t>(copy_fields_->checkedId()));
  for (std::size_t i = 0; i < app::kLabelCount; ++i) {
    const QString name = label_names_[i]->text().trimmed();
    if (!name.isEmpty()) labels_[i].name = Utf8ToWindows1252(U(name));
  }
  QDialog::accept();
}

}  // namespace norvo::views
