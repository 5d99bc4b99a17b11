// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/batch_rename_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "views/catalog_window.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"

namespace norvo::views {
namespace {

// The preview shows this many items; the dry run covers them only.
constexpr std::size_t kPreviewItems = 50;

QWidget* FormPage(QFormLayout* form) {
  auto* page = new QWidget;
  form->setParent(nullptr);
  page->setLayout(form);
  form->setContentsMargins(0, 0, 0, 0);
  return page;
}

QRadioButton* AddRadio(QButtonGroup* group, QFormLayout* form, const QString& text, int id, int checked) {
  auto* radio = new QRadioButton(text);
  group->addButton(radio, id);
  radio->setChecked(id == checked);
  form->addRow(radio);
  return radio;
}

QString StatusText(const output::RenameOutcome& o) {
  switch (o.status) {
    case output::RenameStatus::kRenamed: return QString();
    case output::RenameStatus::kUnchanged: return QObject::tr("unchanged");
    case output::RenameStatus::kSkipped: return QObject::tr("file missing: skipped");
    case output::RenameStatus::kFailed:
      return o.error == err::kBadName ? QObject::tr("not a possible name") : QObject::tr("name taken or file locked");
  }
  return QString();
}

}  // namespace

BatchRenameDialog::BatchRenameDialog(const output::RenameSettings& settings, catalog::Catalog& catalog,
                                     std::vector<std::uint32_t> item_ids, QWidget* parent)
    : QDialog(parent), catalog_(catalog), item_ids_(std::move(item_ids)) {
  setWindowTitle(tr("Batch Rename"));
  auto* warning = new QLabel(tr("This command will rename both the selected catalog items and the original files on "
                                "your disks.\nThis operation can't be undone."));
  warning->setWordWrap(true);

  mode_ = new QComboBox;
  mode_->addItems({tr("Incremental"), tr("Replace String"), tr("Add String"), tr("Convert")});
  pages_ = new QStackedWidget;
  pages_->addWidget(makeIncrementalPage(settings));
  pages_->addWidget(makeReplacePage(settings));
  pages_->addWidget(makeAddPage(settings));
  pages_->addWidget(makeConvertPage(settings));
  const int mode_index = std::clamp(static_cast<int>(settings.mode) - 1, 0, 3);
  mode_->setCurrentIndex(mode_index);
  pages_->setCurrentIndex(mode_index);
  connect(mode_, &QComboBox::currentIndexChanged, pages_, &QStackedWidget::setCurrentIndex);
  connect(mode_, &QComboBox::currentIndexChanged, this, &BatchRenameDialog::updatePreview);

  preview_ = new QTreeWidget;
  preview_->setRootIsDecorated(false);
  preview_->setHeaderLabels({tr("Name"), tr("New name"), QString()});
  preview_->header()->setSectionResizeMode(QHeaderView::Stretch);
  preview_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  preview_->header()->setStretchLastSection(false);
  preview_->setMinimumHeight(160);

  auto* buttons = new QDialogButtonBox;
  QPushButton* rename = buttons->addButton(tr("Rename"), QDialogButtonBox::AcceptRole);
  rename->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(warning);
  auto* mode_row = new QFormLayout;
  mode_row->addRow(tr("Rename by:"), mode_);
  layout->addLayout(mode_row);
  layout->addWidget(pages_);
  layout->addWidget(new QLabel(item_ids_.size() > kPreviewItems
                                   ? tr("Preview of the first %1 of %2 items:").arg(kPreviewItems).arg(item_ids_.size())
                                   : tr("Preview:")));
  layout->addWidget(preview_, 1);
  layout->addWidget(buttons);
  resize(560, 480);
  updatePreview();
}

QLineEdit* BatchRenameDialog::textBox(const std::string& text) {
  auto* box = new QLineEdit(Q(output::CutRenameText(text)));
  box->setMaxLength(static_cast<int>(output::kMaxRenameTextCharacters));
  connect(box, &QLineEdit::textChanged, this, &BatchRenameDialog::updatePreview);
  return box;
}

QWidget* BatchRenameDialog::makeIncrementalPage(const output::RenameSettings& s) {
  auto* form = new QFormLayout;
  base_ = textBox(s.base_text);
  base_->setObjectName(QStringLiteral("baseText"));
  form->addRow(tr("Use String:"), base_);
  start_ = new QLineEdit(QString::number(s.counter));
  start_->setObjectName(QStringLiteral("startNumber"));
  start_->setValidator(new QIntValidator(-2'000'000'000, 2'000'000'000, start_));
  connect(start_, &QLineEdit::textChanged, this, &BatchRenameDialog::updatePreview);
  form->addRow(tr("With increments starting at:"), start_);
  zero_pad_ = new QCheckBox(tr("Zero pad increments"));
  zero_pad_->setChecked(s.zero_pad);
  connect(zero_pad_, &QCheckBox::toggled, this, &BatchRenameDialog::updatePreview);
  form->addRow(zero_pad_);
  return FormPage(form);
}

QWidget* BatchRenameDialog::makeReplacePage(const output::RenameSettings& s) {
  auto* form = new QFormLayout;
  search_ = textBox(s.search_text);
  form->addRow(tr("Search for:"), search_);
  replacement_ = textBox(s.replacement_text);
  form->addRow(tr("Replace with:"), replacement_);
  case_sensitive_ = new QCheckBox(tr("Case sensitive"));
  case_sensitive_->setChecked(s.case_sensitive);
  connect(case_sensitive_, &QCheckBox::toggled, this, &BatchRenameDialog::updatePreview);
  form->addRow(case_sensitive_);
  return FormPage(form);
}

QWidget* BatchRenameDialog::makeAddPage(const output::RenameSettings& s) {
  auto* form = new QFormLayout;
  added_ = textBox(s.added_text);
  form->addRow(tr("Add text:"), added_);
  position_ = new QButtonGroup(this);
  const int checked = static_cast<int>(s.position);
  AddRadio(position_, form, tr("At start"), static_cast<int>(output::AddPosition::kAtStart), checked);
  AddRadio(position_, form, tr("At end"), static_cast<int>(output::AddPosition::kAtEnd), checked);
  AddRadio(position_, form, tr("Before extension"), static_cast<int>(output::AddPosition::kBeforeExtension), checked);
  connect(position_, &QButtonGroup::idToggled, this, &BatchRenameDialog::updatePreview);
  return FormPage(form);
}

QWidget* BatchRenameDialog::makeConvertPage(const output::RenameSettings& s) {
  auto* form = new QFormLayout;
  case_ = new QButtonGroup(this);
  const int checked = static_cast<int>(s.name_case);
  AddRadio(case_, form, tr("Change to lowercase"), static_cast<int>(output::NameCase::kLower), checked);
  AddRadio(case_, form, tr("Change to UPPERCASE"), static_cast<int>(output::NameCase::kUpper), checked);
  connect(case_, &QButtonGroup::idToggled, this, &BatchRenameDialog::updatePreview);
  return FormPage(form);
}

output::RenameSettings BatchRenameDialog::settings() const {
  output::RenameSettings s;
  s.mode = static_cast<output::RenameMode>(mode_->currentIndex() + 1);
  s.zero_pad = zero_pad_->isChecked();
  s.keep_extension = true;
  s.case_sensitive = case_sensitive_->isChecked();
  s.position = static_cast<output::AddPosition>(std::max(0, position_->checkedId()));
  s.name_case = static_cast<output::NameCase>(std::max(0, case_->checkedId()));
  s.base_text = U(base_->text());
  s.search_text = U(search_->text());
  s.replacement_text = U(replacement_->text());
  s.added_text = U(added_->text());
  output::CutRenameTexts(s);
  output::StartNumbering(s, start_->text().toLongLong(), static_cast<int>(item_ids_.size()));
  return s;
}

void BatchRenameDialog::updatePreview() {
  // The first items only, numbered as the whole batch would number them.
  output::RenameSettings s = settings();
  const std::size_t shown = std::min(item_ids_.size(), kPreviewItems);
  std::vector<output::RenameOutcome> outcomes;
  const ErrorCode e = output::BatchRename(catalog_, std::span(item_ids_.data(), shown), s,
                                          output::RenameRun::kDryRun, {}, &outcomes);
  preview_->clear();
  if (e != err::kNone) {
    auto* row = new QTreeWidgetItem(preview_, {tr("These settings cannot rename (error %1).").arg(e)});
    row->setFirstColumnSpanned(true);
    return;
  }
  for (const output::RenameOutcome& o : outcomes) {
    new QTreeWidgetItem(preview_, {Q(o.old_name), Q(o.new_name), StatusText(o)});
  }
}

std::vector<output::RenameOutcome> RunBatchRename(CatalogWindow& window) {
  const std::vector<std::uint32_t> ids = window.selectedIds();
  if (ids.empty()) return {};
  // Scan results must not land while files change their names.
  window.scanner()->waitForIdle();
  BatchRenameDialog dialog(output::CurrentRenameSettings(), window.catalog(), ids, &window);
  if (dialog.exec() != QDialog::Accepted) return {};
  output::RenameSettings& settings = output::CurrentRenameSettings();
  settings = dialog.settings();

  QProgressDialog progress(QObject::tr("Renaming files..."), QObject::tr("Cancel"), 0, static_cast<int>(ids.size()),
                           &window);
  progress.setWindowTitle(QObject::tr("Batch Rename"));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(300);
  std::vector<output::RenameOutcome> outcomes;
  const ErrorCode e = output::BatchRename(
      window.catalog(), ids, settings, output::RenameRun::kForReal,
      [&progress](ProgressPhase, int done, int) {
        progress.setValue(done);
        QApplication::processEvents();
        return progress.wasCanceled() ? 1 : 0;
      },
      &outcomes);
  progress.reset();

  const auto count = [&outcomes](output::RenameStatus status) {
    return std::count_if(outcomes.begin(), outcomes.end(),
                         [status](const output::RenameOutcome& o) { return o.status == status; });
  };
  const auto renamed = count(output::RenameStatus::kRenamed);
  const auto failed = count(output::RenameStatus::kFailed);
  const auto skipped = count(output::RenameStatus::kSkipped);
  if (e != err::kNone && e != err::kUserCancelled) {
    QMessageBox::warning(&window, QObject::tr("Batch Rename"),
                         QObject::tr("Renaming stopped after %1 of %2 items (error %3).")
                             .arg(outcomes.size())
                             .arg(ids.size())
                             .arg(e));
  }
  QString summary = QObject::tr("%1 of %2 items renamed").arg(renamed).arg(ids.size());
  if (failed > 0) summary += QObject::tr("; %1 kept their names (name taken or file locked)").arg(failed);
  if (skipped > 0) summary += QObject::tr("; %1 skipped (file missing)").arg(skipped);
  Q_EMIT window.message(summary, 10000);
  Q_EMIT window.stateChanged();
  return outcomes;
}

}  // namespace norvo::views
