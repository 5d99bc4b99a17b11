// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/slide_show_options_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "catalog/catalog.h"
#include "catalog/item_record.h"
#include "metadata/field_table.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

// The combo entries in their fixed order; the codes follow from the
// positions (output::TransitionCodeAt, ScalingCodeAt).
constexpr const char* kTransitionNames[output::kTransitionCount] = {
    "None",           "Random",          "Barn horizontal",     "Barn vertical",
    "Blinds horizontal", "Blinds vertical", "Iris circle",       "Iris square",
    "Slide left to right", "Slide top to bottom", "Cross fade", "Radial",
};
constexpr const char* kScalingNames[output::kScalingCount] = {
    "Actual Size", "Scale to Fit", "Fit Width", "Fit Height", "Pin Smaller Side", "Pin Larger Side", "Tile",
    "25%",         "50%",          "100%",      "200%",       "400%",             "800%",            "1600%",
};

QColor ColourOf(const output::SlideShowOptions& o) { return QColor::fromRgba64(o.red, o.green, o.blue); }

}  // namespace

SlideShowOptionsDialog::SlideShowOptionsDialog(const output::SlideShowOptions& options, QWidget* parent)
    : QDialog(parent), given_(options) {
  setWindowTitle(tr("Slide Show Options"));

  seconds_ = new QSpinBox(this);
  seconds_->setRange(1, output::kMaxSecondsPerSlide);
  seconds_->setValue(options.secondsPerSlide());
  auto* duration = new QHBoxLayout;
  duration->addWidget(seconds_);
  duration->addWidget(new QLabel(tr("seconds per slide"), this));
  duration->addStretch(1);

  transition_ = new QComboBox(this);
  for (const char* name : kTransitionNames) transition_->addItem(tr(name));
  transition_->setCurrentIndex(output::TransitionPosition(options.transition_code));
  scaling_ = new QComboBox(this);
  for (const char* name : kScalingNames) scaling_->addItem(tr(name));
  scaling_->setCurrentIndex(output::ScalingPosition(options.scaling_code));

  colour_button_ = new QPushButton(this);
  colour_button_->setToolTip(tr("Choose the background colour"));
  auto* colour = new QHBoxLayout;
  colour->addWidget(colour_button_);
  colour->addWidget(new QLabel(tr("background"), this));
  colour->addStretch(1);
  setColour(ColourOf(options));

  interactive_ = new QCheckBox(tr("Interactive"), this);
  continuous_ = new QCheckBox(tr("Continuous"), this);
  random_ = new QCheckBox(tr("Random"), this);
  interactive_->setChecked(options.interactive != 0);
  continuous_->setChecked(options.continuous != 0);
  random_->setChecked(options.random != 0);
  auto* playback = new QVBoxLayout;
  for (QCheckBox* box : {interactive_, continuous_, random_}) playback->addWidget(box);
  media_info_ = new QCheckBox(tr("Display media info"), this);
  controller_ = new QCheckBox(tr("Show controller"), this);
  media_info_->setChecked(options.media_info != 0);
  controller_->setChecked(options.controller != 0);
  auto* flags = new QVBoxLayout;
  for (QCheckBox* box : {media_info_, controller_}) flags->addWidget(box);

  auto* form = new QFormLayout;
  form->addRow(tr("Duration:"), duration);
  form->addRow(tr("Transition:"), transition_);
  form->addRow(tr("Media Scaling:"), scaling_);
  form->addRow(tr("Color:"), colour);
  form->addRow(tr("Playback:"), playback);
  form->addRow(tr("Options:"), flags);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* run = buttons->addButton(tr("Run Slide Show"), QDialogButtonBox::AcceptRole);
  QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(colour_button_, &QPushButton::clicked, this, &SlideShowOptionsDialog::chooseColour);
  connect(run, &QPushButton::clicked, this, [this] {
    run_ = true;
    accept();
  });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void SlideShowOptionsDialog::setColour(const QColor& colour) {
  colour_ = colour;
  QPixmap swatch(32, 16);
  swatch.fill(colour);
  colour_button_->setIcon(QIcon(swatch));
  colour_button_->setIconSize(swatch.size());
}

void SlideShowOptionsDialog::chooseColour() {
  const QColor chosen = QColorDialog::getColor(colour_, this, tr("Background"));
  if (chosen.isValid()) setColour(chosen);
}

output::SlideShowOptions SlideShowOptionsDialog::options() const {
  output::SlideShowOptions o = given_;
  o.seconds = static_cast<std::uint8_t>(seconds_->value());
  o.transition_code = output::TransitionCodeAt(transition_->currentIndex());
  o.scaling_code = output::ScalingCodeAt(scaling_->currentIndex());
  const QRgba64 rgb = colour_.rgba64();
  o.red = rgb.red();
  o.green = rgb.green();
  o.blue = rgb.blue();
  o.interactive = interactive_->isChecked() ? 1 : 0;
  o.continuous = continuous_->isChecked() ? 1 : 0;
  o.random = random_->isChecked() ? 1 : 0;
  o.media_info = media_info_->isChecked() ? 1 : 0;
  o.controller = controller_->isChecked() ? 1 : 0;
  return o;
}

// --- the commands ----------------------------------------------------------

output::SlideShowOptions SlideShowOptionsFor(const CatalogWindow& window, const app::PreferencesBlock& preferences) {
  return output::EffectiveSlideShowOptions(window.catalog().slide_show_options, preferences.bytes(),
                                           app::pref::kSlideShowOptions);
}

void KeepSlideShowOptions(CatalogWindow& window, app::PreferencesBlock* preferences,
                          const output::SlideShowOptions& options) {
  if (preferences != nullptr) {
    (void)output::StoreSlideShowPreferences(preferences->bytes(), app::pref::kSlideShowOptions, options);
  }
  catalog::Catalog& catalog = window.catalog();
  if (catalog.read_only) return;
  output::SetCatalogSlideShowOptions(catalog, options);
  Q_EMIT window.stateChanged();  // the title shows the change
}

std::vector<SlideItem> SlideShowItems(CatalogWindow& window, int* start) {
  std::vector<SlideItem> items;
  CatalogModel* model = window.model();
  const int rows = model->rowCount();
  items.reserve(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) {
    SlideItem item;
    if (const catalog::ItemRecord* record = model->recordAt(row)) {
      item.type_code = record->type_code;
      item.rotation = record->orientation;
      item.name = Q(record->fileName());
      if (record->width > 0 && record->height > 0) {
        item.dimensions = QSize(static_cast<int>(record->width), static_cast<int>(record->height));
      }
      std::string path;
      if (catalog::LocateItemFile(window.catalog(), model->cellAt(row), path) == err::kNone) item.path = Q(path);
    }
    if (const metadata::ItemFields* fields = model->fieldsAt(row)) item.caption = Q(fields->text(metadata::field_ids::kCaption));
    items.push_back(std::move(item));
  }
  const std::vector<int> selected = window.selectedRows();
  *start = selected.empty() ? 0 : selected.front();
  return items;
}

SlideShowPlayer* StartSlideShow(CatalogWindow& window, const output::SlideShowOptions& options) {
  int start = 0;
  std::vector<SlideItem> items = SlideShowItems(window, &start);
  if (items.empty()) return nullptr;
  auto* player = new SlideShowPlayer(std::move(items), start, options);
  player->setAttribute(Qt::WA_DeleteOnClose);
  player->showOn(window.screen());
  return player;
}

void RunSlideShow(CatalogWindow& window, const app::PreferencesBlock& preferences) {
  (void)StartSlideShow(window, SlideShowOptionsFor(window, preferences));
}

void RunSlideShowOptions(CatalogWindow& window, app::PreferencesBlock* preferences) {
  const output::SlideShowOptions current =
      preferences != nullptr ? SlideShowOptionsFor(window, *preferences)
                             : output::CatalogSlideShowOptions(window.catalog().slide_show_options)
                                   .value_or(output::SlideShowOptions{});
  SlideShowOptionsDialog dialog(current, &window);
  if (dialog.exec() != QDialog::Accepted) return;
  const output::SlideShowOptions chosen = dialog.options();
  KeepSlideShowOptions(window, preferences, chosen);
  if (dialog.runRequested()) (void)StartSlideShow(window, chosen);
}

}  // namespace norvo::views
