// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/find_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/settings_store.h"
#include "metadata/field_table.h"
#include "metadata/item_fields.h"
#include "views/qt_support.h"

namespace norvo::views {

FindDialog::FindDialog(const catalog::Catalog* catalog, app::SettingsStore* store, QWidget* parent)
    : QDialog(parent), catalog_(catalog), store_(store) {
  setWindowTitle(tr("Find"));
  grid_ = new QGridLayout;
  grid_->setColumnStretch(2, 1);

  add_ = new QPushButton(tr("More"));
  add_->setToolTip(tr("Add a row"));
  remove_ = new QPushButton(tr("Fewer"));
  remove_->setToolTip(tr("Remove the last row"));
  connect(add_, &QPushButton::clicked, this, &FindDialog::addRow);
  connect(remove_, &QPushButton::clicked, this, &FindDialog::removeRow);
  auto* row_buttons = new QHBoxLayout;
  row_buttons->addWidget(add_);
  row_buttons->addWidget(remove_);
  row_buttons->addStretch(1);

  all_ = new QRadioButton(tr("and"));
  any_ = new QRadioButton(tr("or"));
  all_->setChecked(true);
  auto* join = new QHBoxLayout;
  join->addWidget(new QLabel(tr("Rows are joined by")));
  join->addWidget(all_);
  join->addWidget(any_);
  join->addStretch(1);

  auto* form = new QFormLayout;
  scope_ = new QComboBox;
  for (const std::string& name : fields::ScopeNames()) scope_->addItem(Q(name));
  connect(scope_, &QComboBox::activated, this, [this](int index) {
    if (index != static_cast<int>(fields::SearchScope::kFolder)) return;
    const QString chosen = QFileDialog::getExistingDirectory(this, tr("Catalogs in folder"), folder_);
    if (chosen.isEmpty()) {
      scope_->setCurrentIndex(static_cast<int>(fields::SearchScope::kFrontCatalog));
    } else {
      folder_ = chosen;
      scope_->setToolTip(folder_);
    }
  });
  form->addRow(tr("Search in:"), scope_);
  action_ = new QComboBox;
  action_->addItems({tr("Find next"), tr("Select all"), tr("Show all"), tr("Show in new catalog")});
  action_->setCurrentIndex(static_cast<int>(FindAction::kShowAll));
  form->addRow(tr("Action:"), action_);

  saved_ = new QComboBox;
  auto* save = new QPushButton(tr("&Save this query..."));
  auto* remove = new QPushButton(tr("&Remove queries..."));
  save->setEnabled(store_ != nullptr);
  remove->setEnabled(store_ != nullptr);
  connect(save, &QPushButton::clicked, this, &FindDialog::saveQuery);
  connect(remove, &QPushButton::clicked, this, &FindDialog::removeQueries);
  connect(saved_, &QComboBox::activated, this, [this](int index) {
    if (index <= 0 || store_ == nullptr) return;
    if (auto query = fields::LoadQuery(*store_, U(saved_->itemText(index)))) setQuery(*query);
  });
  auto* queries = new QHBoxLayout;
  queries->addWidget(saved_, 1);
  queries->addWidget(save);
  queries->addWidget(remove);
  form->addRow(tr("Saved queries:"), queries);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(tr("Find"));
  connect(buttons, &QDialogButtonBox::accepted, this, &FindDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &FindDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Find items where")));
  layout->addLayout(grid_);
  layout->addLayout(row_buttons);
  layout->addLayout(join);
  layout->addLayout(form);
  layout->addWidget(buttons);

  addRow();
  rows_[0].field->setCurrentIndex(
      std::max(1, rows_[0].field->findData(QVariant::fromValue<quint32>(metadata::field_ids::kFileName))));
  fillSavedQueries();
  resize(640, sizeHint().height());
}

void FindDialog::fillOperators(const Row& row) {
  const int previous = row.op->currentIndex();
  row.op->clear();
  const auto kind = metadata::FieldSearchKind(row.field->currentData().toUInt());
  for (const std::string& name : fields::OperatorNames(kind)) row.op->addItem(Q(name));
  if (previous >= 0 && previous < row.op->count()) row.op->setCurrentIndex(previous);
}

void FindDialog::addRow() {
  if (rows_.size() >= static_cast<std::size_t>(fields::kMaxCriteria)) return;
  Row row{new QComboBox(this), new QComboBox(this), new QLineEdit(this)};
  row.field->addItem(QString(), 0u);
  for (int n = 0;; ++n) {
    const metadata::FieldId id = fields::FindFieldAt(n, 0, fields::FieldPurpose::kFind);
    if (id == 0) break;
    row.field->addItem(Q(metadata::FieldLabel(catalog_, id)), QVariant::fromValue<quint32>(id));
  }
  connect(row.field, &QComboBox::currentIndexChanged, this, [this, row] { fillOperators(row); });
  const int r = static_cast<int>(rows_.size());
  grid_->addWidget(row.field, r, 0);
  grid_->addWidget(row.op, r, 1);
  grid_->addWidget(row.value, r, 2);
  rows_.push_back(row);
  updateButtons();
}

void FindDialog::removeRow() {
  if (rows_.size() <= 1) return;
  const Row row = rows_.back();
  rows_.pop_back();
  for (QWidget* w : {static_cast<QWidget*>(row.field), static_cast<QWidget*>(row.op), static_cast<QWidget*>(row.value)}) {
    grid_->removeWidget(w);
    w->deleteLater();
  }
  updateButtons();
}

void FindDialog::updateButtons() {
  add_->setEnabled(rows_.size() < static_cast<std::size_t>(fields::kMaxCriteria));
  remove_->setEnabled(rows_.size() > 1);
}

void FindDialog::setQuery(const fields::SavedQuery& query) {
  while (rowCount() > 1) removeRow();
  while (rowCount() < static_cast<int>(query.criteria.size())) addRow();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const Row& row = rows_[i];
    if (i >= query.criteria.size()) {
      row.field->setCurrentIndex(0);
      continue;
    }
    const fields::Criterion& c = query.criteria[i];
    row.field->setCurrentIndex(std::max(0, row.field->findData(QVariant::fromValue<quint32>(c.field))));
    fillOperators(row);
    row.op->setCurrentIndex(std::clamp(c.op - 1, 0, std::max(0, row.op->count() - 1)));
    row.value->setText(Q(c.value));
  }
  (query.any ? any_ : all_)->setChecked(true);
  scope_->setCurrentIndex(static_cast<int>(query.scope));
}

FindRequest FindDialog::request() const {
  FindRequest r;
  for (const Row& row : rows_) {
    const metadata::FieldId field = row.field->currentData().toUInt();
    if (field == 0) continue;
    r.query.criteria.push_back(fields::Criterion{field, row.op->currentIndex() + 1, U(row.value->text())});
  }
  r.query.any = any_->isChecked();
  r.query.scope = static_cast<fields::SearchScope>(scope_->currentIndex());
  r.folder = folder_;
  r.action = static_cast<FindAction>(action_->currentIndex());
  return r;
}

void FindDialog::accept() {
  const FindRequest r = request();
  if (r.query.criteria.empty()) {
    QMessageBox::information(this, tr("Find"), tr("Choose a field to search."));
    return;
  }
  for (std::size_t i = 0; i < r.query.criteria.size(); ++i) {
    if (!fields::ValidCriterion(r.query.criteria[i])) {
      QMessageBox::warning(this, tr("Find"),
                           tr("The value '%1' does not suit the field.").arg(Q(r.query.criteria[i].value)));
      return;
    }
  }
  if (r.query.scope == fields::SearchScope::kFolder && r.folder.isEmpty()) {
    QMessageBox::information(this, tr("Find"), tr("Choose the folder whose catalogs are searched."));
    return;
  }
  QDialog::accept();
}

void FindDialog::fillSavedQueries() {
  saved_->clear();
  saved_->addItem(tr("(choose a saved query)"));
  if (store_ == nullptr) return;
  for (const std::string& name : fields::QueryNames(*store_)) saved_->addItem(Q(name));
  saved_->setEnabled(saved_->count() > 1);
}

void FindDialog::saveQuery() {
  bool ok = false;
  const QString name = QInputDialog::getText(this, tr("Save Query"), tr("Save Query As:"), QLineEdit::Normal,
                                             QString(), &ok).trimmed();
  if (!ok || name.isEmpty()) return;
  const FindRequest r = request();
  if (ErrorCode e = fields::SaveQuery(*store_, U(name), r.query); e != err::kNone) {
    QMessageBox::warning(this, tr("Save Query"), tr("The query could not be saved (error %1).").arg(e));
    return;
  }
  fillSavedQueries();
  saved_->setCurrentText(name);
}

void FindDialog::removeQueries() {
  const std::vector<std::string> names = fields::QueryNames(*store_);
  if (names.empty()) return;
  QStringList items;
  for (const std::string& n : names) items << Q(n);
  bool ok = false;
  const QString name = QInputDialog::getItem(this, tr("Remove Queries"), tr("Remove the query:"), items, 0, false, &ok);
  if (!ok) return;
  if (ErrorCode e = fields::RemoveQuery(*store_, U(name)); e != err::kNone) {
    QMessageBox::warning(this, tr("Remove Queries"), tr("The query could not be removed (error %1).").arg(e));
  }
  fillSavedQueries();
}

}  // namespace norvo::views
