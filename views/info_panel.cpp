// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/info_panel.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/text_encoding.h"
#include "views/catalog_model.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

constexpr std::uint8_t kAnnotationSection = 4;

// A text box that says when the user leaves it, as a line edit does.
class LongTextEdit : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;
  std::function<void()> on_leave;

 protected:
  void focusOutEvent(QFocusEvent* event) override {
    QPlainTextEdit::focusOutEvent(event);
    if (on_leave) on_leave();
  }
};

QString JoinValues(const std::vector<std::string>& values) {
  QStringList out;
  for (const std::string& v : values) out.push_back(Q(v));
  return out.join(QStringLiteral(", "));
}

}  // namespace

InfoPanel::InfoPanel(const app::Labels* labels, QWidget* parent) : QWidget(parent), labels_(labels) {
  title_ = new QLabel(this);
  title_->setWordWrap(true);
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);

  facts_ = new QTreeWidget(this);
  facts_->setColumnCount(2);
  facts_->setHeaderHidden(true);
  facts_->setRootIsDecorated(true);
  facts_->setUniformRowHeights(true);
  facts_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

  editors_box_ = new QWidget;
  editors_ = new QFormLayout(editors_box_);
  editors_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  label_ = new QComboBox(editors_box_);
  label_->addItem(tr("None"), 0);
  for (std::size_t i = 0; i < labels_->size(); ++i) {
    QPixmap swatch(12, 12);
    swatch.fill(LabelColour(*labels_, static_cast<int>(i) + 1));
    label_->addItem(QIcon(swatch), Q(Windows1252ToUtf8((*labels_)[i].name)), static_cast<int>(i) + 1);
  }
  editors_->addRow(tr("Label"), label_);
  connect(label_, &QComboBox::activated, this, [this](int index) {
    if (!filling_) Q_EMIT labelChosen(label_->itemData(index).toInt());
  });
  write_ = new QPushButton(tr("Write into File"), editors_box_);
  write_->setToolTip(tr("Write the annotations into the media file (IPTC and XMP)"));
  connect(write_, &QPushButton::clicked, this, &InfoPanel::writeIntoFileRequested);

  auto* scroll = new QScrollArea(this);
  scroll->setWidget(editors_box_);
  scroll->setWidgetResizable(true);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(facts_);
  split->addWidget(scroll);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(title_);
  layout->addWidget(split, 1);
  buildEditors(nullptr);
}

void InfoPanel::buildEditors(const catalog::Catalog* catalog) {
  // Rebuilt when the catalog changes: custom fields carry its names.
  for (auto& [id, editor] : editor_) editors_->removeRow(editor);
  editor_.clear();
  editors_->removeWidget(write_);
  built_for_ = catalog;
  for (int i = 0; i < metadata::FieldCount(); ++i) {
    const metadata::FieldId id = metadata::FieldIdAt(i);
    if (metadata::FieldSourceOf(id) != metadata::FieldSource::kAnnotation || id == metadata::field_ids::kLabels) continue;
    if (metadata::FieldSection(id) != kAnnotationSection) continue;
    if (metadata::IsCustomField(id)) {
      const auto position = static_cast<std::size_t>(id - metadata::field_ids::kFirstCustom);
      if (catalog == nullptr || position >= catalog->custom_field_names.size() ||
          catalog->custom_field_names[position].empty()) {
        continue;
      }
    }
    QWidget* editor = nullptr;
    if (metadata::IsLongTextField(id)) {
      auto* text = new LongTextEdit(editors_box_);
      text->setTabChangesFocus(true);
      text->setFixedHeight(text->fontMetrics().height() * 5);
      text->on_leave = [this, id] { commit(id); };
      editor = text;
    } else {
      auto* line = new QLineEdit(editors_box_);
      // A list field holds several values, each up to the maximum.
      if (!metadata::IsListField(id) && metadata::FieldMaxLength(id) > 0) line->setMaxLength(metadata::FieldMaxLength(id));
      if (metadata::IsListField(id)) line->setPlaceholderText(tr("values separated by commas"));
      connect(line, &QLineEdit::editingFinished, this, [this, id] { commit(id); });
      editor = line;
    }
    editor->setObjectName(QStringLiteral("field-%1").arg(id, 8, 16, QLatin1Char('0')));
    editor_[id] = editor;
    editors_->addRow(Q(metadata::FieldLabel(catalog, id)), editor);
  }
  editors_->addRow(write_);
}

QWidget* InfoPanel::editorOf(metadata::FieldId id) const {
  auto it = editor_.find(id);
  return it != editor_.end() ? it->second : nullptr;
}

void InfoPanel::showItem(const catalog::Catalog* catalog, const metadata::ItemFields* item, int selected,
                         bool writable) {
  if (catalog != built_for_) buildEditors(catalog);
  filling_ = true;
  facts_->clear();
  shown_.clear();
  const bool any = item != nullptr;
  editors_box_->setEnabled(any && writable);
  if (!any) {
    title_->setText(selected > 1 ? tr("%n items selected", nullptr, selected) : tr("No item selected"));
    for (auto& [id, editor] : editor_) {
      if (auto* line = qobject_cast<QLineEdit*>(editor)) line->clear();
      if (auto* text = qobject_cast<QPlainTextEdit*>(editor)) text->clear();
    }
    label_->setCurrentIndex(0);
    filling_ = false;
    return;
  }
  title_->setText(selected > 1 ? tr("%1 (and %n more)", nullptr, selected - 1).arg(Q(item->fileName()))
                               : Q(item->fileName()));
  std::map<std::string, QTreeWidgetItem*> sections;
  for (int i = 0; i < metadata::FieldCount(); ++i) {
    const metadata::FieldId id = metadata::FieldIdAt(i);
    const std::uint8_t section = metadata::FieldSection(id);
    if (section == 0 || section == kAnnotationSection) continue;
    const std::vector<std::string> texts = item->texts(id);
    if (texts.empty()) continue;
    const std::string label = metadata::FieldLabel(catalog, id);
    if (label.empty()) continue;  // internal fields have no name to show
    const std::string name = metadata::FieldSectionName(id);
    QTreeWidgetItem*& parent = sections[name];
    if (parent == nullptr) {
      parent = new QTreeWidgetItem(facts_, {Q(name)});
      parent->setFirstColumnSpanned(true);
      parent->setExpanded(true);
    }
    auto* row = new QTreeWidgetItem(parent, {Q(label), JoinValues(texts)});
    row->setToolTip(1, row->text(1));
  }
  for (auto& [id, editor] : editor_) {
    const QString value = metadata::IsListField(id) ? JoinValues(item->texts(id)) : Q(item->text(id));
    shown_[id] = value;
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setText(value);
    if (auto* text = qobject_cast<QPlainTextEdit*>(editor)) text->setPlainText(value);
  }
  label_->setCurrentIndex(item->cell().label());
  filling_ = false;
}

void InfoPanel::commit(metadata::FieldId id) {
  if (filling_) return;
  QWidget* editor = editorOf(id);
  QString value;
  if (auto* line = qobject_cast<QLineEdit*>(editor)) value = line->text();
  if (auto* text = qobject_cast<QPlainTextEdit*>(editor)) value = text->toPlainText();
  if (value == shown_[id]) return;  // left without a change
  shown_[id] = value;
  QStringList values;
  if (metadata::IsListField(id)) {
    for (const QString& part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
      const QString v = part.trimmed();
      if (!v.isEmpty()) values.push_back(v);
    }
  } else if (!value.trimmed().isEmpty()) {
    values.push_back(value.trimmed());
  }
  Q_EMIT annotationEdited(id, values);
}

}  // namespace norvo::views
