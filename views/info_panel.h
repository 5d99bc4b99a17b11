// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel: the current item's facts and EXIF values by section (read
// only), and its annotations edited in place: one line per field, with the
// field's maximum length; list fields (keywords, people, categories) take
// their values separated by commas; the caption has a text box; custom
// fields appear under the names the catalog gives them; the colour label is
// chosen from the user's labels. An edit leaves the panel as
// `annotationEdited` / `labelChosen`; the catalog window applies it.
#pragma once

#include <QWidget>

#include <map>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "catalog/catalog.h"
#include "metadata/field_table.h"
#include "metadata/item_fields.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace norvo::views {

class InfoPanel : public QWidget {
  Q_OBJECT

 public:
  InfoPanel(const app::Labels* labels, QWidget* parent = nullptr);

  // Shows the item (null: none); `selected` is how many items an edit goes to.
  void showItem(const catalog::Catalog* catalog, const metadata::ItemFields* item, int selected, bool writable);
  // The editor of a field (tests): a QLineEdit or QPlainTextEdit, or null.
  QWidget* editorOf(metadata::FieldId id) const;

 Q_SIGNALS:
  void annotationEdited(quint32 field, const QStringList& values);
  void labelChosen(int label);
  void writeIntoFileRequested();

 private:
  void buildEditors(const catalog::Catalog* catalog);
  void commit(metadata::FieldId id);

  const app::Labels* labels_;
  QLabel* title_;
  QTreeWidget* facts_;
  QWidget* editors_box_;
  QFormLayout* editors_;
  QComboBox* label_;
  QPushButton* write_;
  std::map<metadata::FieldId, QWidget*> editor_;
  std::map<metadata::FieldId, QString> shown_;  // the value each editor was given
  const catalog::Catalog* built_for_ = nullptr;
  bool filling_ = false;
};

}  // namespace norvo::views
