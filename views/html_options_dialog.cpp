// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/html_options_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace norvo::views {
namespace {

constexpr int kMaxSiteTitle = 255;
constexpr int kMaxTableSide = 100;

// A combo of entries whose codes are their positions plus 1, showing
// `stored`: below 1 the first entry; a code without an entry shows the first
// entry too but is remembered, so that accepting without touching the combo
// keeps it.
QComboBox* CodeCombo(const QStringList& entries, int stored) {
  auto* combo = new QComboBox;
  combo->addItems(entries);
  const bool shown = stored >= 1 && stored <= entries.size();
  combo->setCurrentIndex(shown ? stored - 1 : 0);
  combo->setProperty("storedCode", stored);
  combo->setProperty("shownIndex", combo->currentIndex());
  return combo;
}

// The code to store for a CodeCombo.
std::uint8_t CodeOf(const QComboBox* combo) {
  const int stored = combo->property("storedCode").toInt();
  const bool untouched = combo->currentIndex() == combo->property("shownIndex").toInt();
  if (untouched && stored > combo->count()) return static_cast<std::uint8_t>(stored);
  return static_cast<std::uint8_t>(combo->currentIndex() + 1);
}

QColor ToQColor(const output::RgbColour& c) { return QColor::fromRgba64(c.red, c.green, c.blue); }

QIcon Swatch(const output::RgbColour& c) {
  QPixmap swatch(24, 12);
  swatch.fill(ToQColor(c));
  QPainter(&swatch).drawRect(0, 0, swatch.width() - 1, swatch.height() - 1);
  return QIcon(swatch);
}

}  // namespace

HtmlOptionsDialog::HtmlOptionsDialog(const output::GallerySettings& settings, const QString& site_title,
                                     QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(tr("HTML Options"));
  pages_ = new QTabWidget;
  pages_->addTab(makeLayoutPage(site_title), tr("Layout"));
  pages_->addTab(makeSettingsPage(), tr("Settings"));

  launch_ = new QCheckBox(tr("Launch browser when done"));
  // "Launch browser when done" is kept in the record's byte that the export
  // writes and preserves but never reads (set by default).
  launch_->setChecked(settings_.kept != 0);
  auto* buttons = new QDialogButtonBox;
  QPushButton* create = buttons->addButton(tr("Create..."), QDialogButtonBox::AcceptRole);
  create->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &HtmlOptionsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &HtmlOptionsDialog::reject);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(launch_);
  bottom->addStretch(1);
  bottom->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addLayout(bottom);
}

QWidget* HtmlOptionsDialog::makeLayoutPage(const QString& site_title) {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  title_ = new QLineEdit(site_title.left(kMaxSiteTitle));
  title_->setMaxLength(kMaxSiteTitle);
  form->addRow(tr("Site Title:"), title_);

  columns_ = new QSpinBox;
  columns_->setRange(1, kMaxTableSide);
  columns_->setValue(std::clamp(settings_.columns, 1, kMaxTableSide));
  columns_->setSuffix(tr(" across"));
  rows_ = new QSpinBox;
  rows_->setRange(1, kMaxTableSide);
  rows_->setValue(std::clamp(settings_.rows, 1, kMaxTableSide));
  rows_->setSuffix(tr(" down"));
  auto* table = new QHBoxLayout;
  table->addWidget(columns_);
  table->addWidget(new QLabel(QStringLiteral("x")));
  table->addWidget(rows_);
  table->addStretch(1);
  form->addRow(tr("Thumbnail Table:"), table);

  thumbnails_ = CodeCombo({tr("Small (64 px)"), tr("Medium (96 px)"), tr("Normal (128 px)"), tr("Large (160 px)")},
                          settings_.thumbnail_size_code);
  form->addRow(tr("Thumbnails:"), thumbnails_);
  // Any media code above 3 means the large box.
  media_ = CodeCombo({tr("Small (320 x 240 px)"), tr("Medium (480 x 360 px)"), tr("Normal (640 x 480 px)"),
                      tr("Large (800 x 600 px)")},
                     std::min<int>(settings_.media_size_code, 4));
  form->addRow(tr("Media:"), media_);

  file_names_ = new QCheckBox(tr("Include file names"));
  file_names_->setChecked(settings_.include_file_names != 0);
  media_info_ = new QCheckBox(tr("Include media info"));
  media_info_->setChecked(settings_.include_media_info != 0);
  form->addRow(file_names_);
  form->addRow(media_info_);
  return page;
}

QPushButton* HtmlOptionsDialog::colourButton(const QString& text, output::RgbColour* colour) {
  auto* button = new QPushButton(Swatch(*colour), text);
  connect(button, &QPushButton::clicked, this, [this, button, colour, text] {
    const QColor chosen = QColorDialog::getColor(ToQColor(*colour), this, text);
    if (!chosen.isValid()) return;
    const QRgba64 c = chosen.rgba64();
    *colour = output::RgbColour{c.red(), c.green(), c.blue()};
    button->setIcon(Swatch(*colour));
  });
  return button;
}

QWidget* HtmlOptionsDialog::makeSettingsPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  extension_ = CodeCombo({QStringLiteral("htm"), QStringLiteral("html"), QStringLiteral("shtml"),
                          QStringLiteral("php"), QStringLiteral("asp"), QStringLiteral("xml")},
                         settings_.extension_code);
  form->addRow(tr("HTML Extension:"), extension_);
  encoding_ = CodeCombo({tr("Western (Latin 1)"), tr("Japanese (Shift-JIS)")}, settings_.text_encoding);
  form->addRow(tr("Text Encoding:"), encoding_);
  quality_ = CodeCombo({tr("Least"), tr("Low"), tr("Medium"), tr("High"), tr("Best")}, settings_.jpeg_quality_code);
  form->addRow(tr("JPEG Quality:"), quality_);

  auto* colours = new QHBoxLayout;
  colours->addWidget(colourButton(tr("Text"), &settings_.text));
  colours->addWidget(colourButton(tr("Link"), &settings_.link));
  colours->addWidget(colourButton(tr("Background"), &settings_.background));
  colours->addStretch(1);
  form->addRow(tr("Colors:"), colours);

  auto_play_ = new QCheckBox(tr("Auto Play"));
  auto_play_->setChecked(settings_.movie_auto_play != 0);
  loop_ = new QCheckBox(tr("Continuous"));
  loop_->setChecked(settings_.movie_loop != 0);
  controller_ = new QCheckBox(tr("Display Video Controller"));
  controller_->setChecked(settings_.movie_controller != 0);
  auto* movies = new QVBoxLayout;
  movies->addWidget(auto_play_);
  movies->addWidget(loop_);
  movies->addWidget(controller_);
  form->addRow(tr("Movies:"), movies);
  return page;
}

QString HtmlOptionsDialog::siteTitle() const { return title_->text(); }
bool HtmlOptionsDialog::launchBrowser() const { return launch_->isChecked(); }

void HtmlOptionsDialog::accept() {
  settings_.columns = columns_->value();
  settings_.rows = rows_->value();
  output::ApplyLayoutCodes(&settings_, thumbnails_->currentIndex() + 1, media_->currentIndex() + 1);
  settings_.include_file_names = file_names_->isChecked() ? 1 : 0;
  settings_.include_media_info = media_info_->isChecked() ? 1 : 0;
  settings_.extension_code = CodeOf(extension_);
  settings_.text_encoding = CodeOf(encoding_);
  settings_.jpeg_quality_code = CodeOf(quality_);
  settings_.movie_auto_play = auto_play_->isChecked() ? 1 : 0;
  settings_.movie_loop = loop_->isChecked() ? 1 : 0;
  settings_.movie_controller = controller_->isChecked() ? 1 : 0;
  settings_.kept = launch_->isChecked() ? 1 : 0;
  QDialog::accept();
}

}  // namespace norvo::views
