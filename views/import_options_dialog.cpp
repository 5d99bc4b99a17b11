// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/import_options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/engine_preferences.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "platform/byte_io.h"
#include "platform/text_encoding.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

using media::ImportFilter;

// Operator lists, numbered from 1 in this order.
const QStringList& OperatorNames(ImportFilter filter) {
  static const QStringList name = {QObject::tr("is"), QObject::tr("contains"), QObject::tr("doesn't contain"),
                                   QObject::tr("starts with"), QObject::tr("ends with"), QObject::tr("is empty"),
                                   QObject::tr("is not empty")};
  static const QStringList date = {QObject::tr("on"), QObject::tr("before"), QObject::tr("after")};
  static const QStringList number = {QObject::tr("equals"), QObject::tr("is less than"),
                                     QObject::tr("is greater than"), QObject::tr("is less than or equal"),
                                     QObject::tr("is greater than or equal")};
  static const QStringList type = {QObject::tr("is"), QObject::tr("is not")};
  switch (filter) {
    case ImportFilter::kName: return name;
    case ImportFilter::kCreated:
    case ImportFilter::kModified: return date;
    case ImportFilter::kSize:
    case ImportFilter::kLevel: return number;
    case ImportFilter::kType: return type;
  }
  return name;
}

QDate DateOf(std::uint32_t date_time) {
  // Stored as local time since 1904; the view's text form is ISO.
  const QDate date = QDate::fromString(Q(media::FormatImportDate(date_time)).left(10), Qt::ISODate);
  return date.isValid() ? date : QDate::currentDate();
}

std::uint32_t DateTimeOf(const QDate& date) {
  return media::ParseImportDate(U(date.toString(Qt::ISODate))).value_or(0);
}

QDateEdit* DateBox(std::uint32_t date_time) {
  auto* box = new QDateEdit(DateOf(date_time));
  box->setCalendarPopup(true);
  box->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  return box;
}

}  // namespace

ImportOptionsDialog::ImportOptionsDialog(const media::ImportSettings& settings, int thumbnail_size, QWidget* parent)
    : QDialog(parent), settings_(settings), thumbnail_size_(thumbnail_size) {
  setWindowTitle(tr("Import Options"));
  auto* pages = new QTabWidget;
  pages->addTab(makeMediaPage(), tr("Media"));
  pages->addTab(makeFiltersPage(), tr("File Filters"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &ImportOptionsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ImportOptionsDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages);
  layout->addWidget(new QLabel(tr("These options apply to this catalog's next imports and to new catalogs.")));
  layout->addWidget(buttons);
}

QWidget* ImportOptionsDialog::makeMediaPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* classes = new QGroupBox(tr("Import these kinds of media:"));
  auto* grid = new QGridLayout(classes);
  for (int c = 0; c < media::kMediaClassCount; ++c) {
    const auto media_class = static_cast<media::MediaClass>(c);
    auto* box = new QCheckBox(Q(media::MediaClassName(media_class)));
    box->setChecked(media::ClassMaskAccepts(settings_.class_mask, media_class));
    classes_[static_cast<std::size_t>(c)] = box;
    grid->addWidget(box, c / 2, c % 2);
  }
  layout->addWidget(classes);
  ignore_shortcuts_ = new QCheckBox(tr("Ignore shortcuts (symbolic links)"));
  ignore_shortcuts_->setChecked(settings_.ignore_shortcuts != 0);
  ignore_invisible_ = new QCheckBox(tr("Ignore invisible files"));
  ignore_invisible_->setChecked(settings_.ignore_invisible != 0);
  layout->addWidget(ignore_shortcuts_);
  layout->addWidget(ignore_invisible_);
  auto* form = new QFormLayout;
  thumbnail_ = new QSpinBox;
  thumbnail_->setObjectName(QStringLiteral("thumbnailSize"));
  thumbnail_->setRange(media::kMinThumbnailSize, media::kMaxThumbnailSize);
  thumbnail_->setSuffix(tr(" pixels"));
  thumbnail_->setValue(std::clamp(thumbnail_size_, media::kMinThumbnailSize, media::kMaxThumbnailSize));
  form->addRow(tr("Thumbnail size of new items:"), thumbnail_);
  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

QWidget* ImportOptionsDialog::makeFiltersPage() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  grid->addWidget(new QLabel(tr("Import only files whose:")), 0, 0, 1, 3);
  const QString labels[] = {tr("File name"), tr("Date created"), tr("Date modified"),
                            tr("Size (KB)"), tr("Folder level"), tr("File type")};
  name_text_ = new QLineEdit(Q(Windows1252ToUtf8(settings_.name_text.text())));
  name_text_->setMaxLength(static_cast<int>(media::kMaxImportNameText));
  created_ = DateBox(settings_.created);
  modified_ = DateBox(settings_.modified);
  size_ = new QSpinBox;
  size_->setObjectName(QStringLiteral("sizeValue"));
  size_->setRange(0, 2'000'000'000);
  size_->setValue(static_cast<int>(std::min<std::uint32_t>(settings_.size_kb, 2'000'000'000)));
  level_ = new QSpinBox;
  level_->setRange(0, 1000);
  level_->setValue(static_cast<int>(std::min<std::uint32_t>(settings_.level, 1000)));
  type_ = new QComboBox;
  for (const media::MediaTypeRow& row : media::GetMediaTypeRows()) {
    type_->addItem(QStringLiteral("%1 (%2)").arg(Q(Windows1252ToUtf8(row.kind_name.text())),
                                                 Q(FourCCToString(row.code)).trimmed()),
                   row.code);
  }
  if (type_->findData(settings_.type) < 0) {
    type_->addItem(Q(FourCCToString(settings_.type)), settings_.type);
  }
  type_->setCurrentIndex(type_->findData(settings_.type));
  QWidget* values[] = {name_text_, created_, modified_, size_, level_, type_};

  for (int f = 0; f < media::kImportFilterCount; ++f) {
    const auto filter = static_cast<ImportFilter>(f);
    auto* enabled = new QCheckBox(labels[f]);
    enabled->setChecked(settings_.enabled(filter));
    auto* op = new QComboBox;
    op->addItems(OperatorNames(filter));
    op->setCurrentIndex(std::clamp(static_cast<int>(settings_.op(filter)) - 1, 0, op->count() - 1));
    enabled_[static_cast<std::size_t>(f)] = enabled;
    operators_[static_cast<std::size_t>(f)] = op;
    const auto follow = [op, value = values[f]](bool on) {
      op->setEnabled(on);
      value->setEnabled(on);
    };
    follow(enabled->isChecked());
    connect(enabled, &QCheckBox::toggled, this, follow);
    grid->addWidget(enabled, f + 1, 0);
    grid->addWidget(op, f + 1, 1);
    grid->addWidget(values[f], f + 1, 2);
  }
  // "is empty" and "is not empty" need no text.
  connect(operators_[0], &QComboBox::currentIndexChanged, this, [this](int index) {
    name_text_->setEnabled(enabled_[0]->isChecked() && index + 1 < media::name_op::kIsEmpty);
  });
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(media::kImportFilterCount + 1, 1);
  return page;
}

int ImportOptionsDialog::thumbnailSize() const { return thumbnail_->value(); }

void ImportOptionsDialog::accept() {
  if (std::none_of(classes_.begin(), classes_.end(), [](const QCheckBox* b) { return b->isChecked(); })) {
    // A mask without classes would read as "no restriction" and take everything.
    QMessageBox::information(this, windowTitle(), tr("Choose at least one kind of media to import."));
    return;
  }
  // A mask of zero accepts every class: it is spelled out before bits are taken away.
  if (settings_.class_mask == 0) settings_.class_mask = 0xFFFFFFFFu;
  for (int c = 0; c < media::kMediaClassCount; ++c) {
    const auto media_class = static_cast<media::MediaClass>(c);
    settings_.class_mask = classes_[static_cast<std::size_t>(c)]->isChecked()
                               ? media::AddClassToMask(settings_.class_mask, media_class)
                               : media::RemoveClassFromMask(settings_.class_mask, media_class);
  }
  settings_.ignore_shortcuts = ignore_shortcuts_->isChecked() ? 1 : 0;
  settings_.ignore_invisible = ignore_invisible_->isChecked() ? 1 : 0;
  for (int f = 0; f < media::kImportFilterCount; ++f) {
    const auto filter = static_cast<ImportFilter>(f);
    settings_.enable(filter, enabled_[static_cast<std::size_t>(f)]->isChecked());
    settings_.setOp(filter, static_cast<std::uint8_t>(operators_[static_cast<std::size_t>(f)]->currentIndex() + 1));
  }
  settings_.name_text.set(Utf8ToWindows1252(U(name_text_->text())).substr(0, media::kMaxImportNameText));
  settings_.created = DateTimeOf(created_->date());
  settings_.modified = DateTimeOf(modified_->date());
  settings_.size_kb = static_cast<std::uint32_t>(size_->value());
  settings_.level = static_cast<std::uint32_t>(level_->value());
  settings_.type = type_->currentData().toUInt();
  QDialog::accept();
}

void RunImportOptions(CatalogWindow& window, app::PreferencesBlock* preferences) {
  catalog::Catalog& c = window.catalog();
  ImportOptionsDialog dialog(media::GetImportSettings(c), media::CatalogThumbnailSize(c), &window);
  if (dialog.exec() != QDialog::Accepted) return;
  media::SetImportSettings(c, dialog.settings());
  if (ErrorCode e = media::SetCatalogThumbnailSize(c, dialog.thumbnailSize()); e != err::kNone) {
    Q_EMIT window.message(QObject::tr("The thumbnail size could not be changed (error %1).").arg(e), 8000);
  }
  // Applying the options also makes them the default of new catalogs.
  if (preferences != nullptr) app::SetDefaultImportOptions(*preferences, c.import_options);
  Q_EMIT window.stateChanged();
}

}  // namespace norvo::views
