// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/convert_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/settings_store.h"
#include "imaging/image_writer.h"
#include "output/media_encoder.h"
#include "views/av_settings_dialog.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"

namespace norvo::views {
namespace {

using output::ConversionKind;

// Where "Selected items only" and "Replace original files" are remembered.
constexpr char kPreferencesKey[] = "Preferences\\Convert";
constexpr char kSelectedOnlyValue[] = "SelectedOnly";
constexpr char kReplaceValue[] = "ReplaceOriginals";
constexpr int kMaxQuality = 100;

QString Title(ConversionKind kind) {
  switch (kind) {
    case ConversionKind::kImage: return QObject::tr("Convert Image Files");
    case ConversionKind::kMovie: return QObject::tr("Convert Movie Files");
    case ConversionKind::kSound: return QObject::tr("Convert Sound Files");
  }
  return {};
}

// A dialog with OK and Cancel under `content`.
QDialogButtonBox* Buttons(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

QSpinBox* Spin(int min, int max, int value, QWidget* parent) {
  auto* spin = new QSpinBox(parent);
  spin->setRange(min, max);
  spin->setValue(std::clamp(value, min, max));
  return spin;
}

}  // namespace

ConvertDialog::ConvertDialog(const output::ConversionOptions& options,
                             const output::ImageWriterSettings& image_settings,
                             const output::AvWriterSettings& av_settings, bool selected_only, bool replace_originals,
                             bool have_selection, QWidget* parent)
    : QDialog(parent), options_(options), image_settings_(image_settings), av_settings_(av_settings) {
  const ConversionKind kind = options.kind();
  const bool image = kind == ConversionKind::kImage;
  setWindowTitle(Title(kind));
  auto* layout = new QVBoxLayout(this);

  auto* format_row = new QHBoxLayout;
  auto* format_label = new QLabel(tr("Format:"), this);
  format_ = new QComboBox(this);
  format_label->setBuddy(format_);
  if (image) {
    for (const imaging::ImageWriterFormat& f : imaging::ImageWriterFormats()) {
      if (f.available) format_->addItem(Q(f.name), Q(f.extension));
    }
  } else {
    for (const output::AvFormat& f : output::EncodableAvFormats()) {
      if (f.video == (kind == ConversionKind::kMovie)) format_->addItem(Q(f.name), Q(f.extension));
    }
  }
  const int stored = format_->findData(Q(output::ExtensionForFormat(options.output_format)));
  format_->setCurrentIndex(stored >= 0 ? stored : 0);
  format_row->addWidget(format_label);
  format_row->addWidget(format_, 1);
  layout->addLayout(format_row);

  auto* button_row = new QHBoxLayout;
  if (image) {
    auto* size = new QPushButton(tr("Size..."), this);
    connect(size, &QPushButton::clicked, this, &ConvertDialog::editSize);
    button_row->addWidget(size);
  }
  auto* settings = new QPushButton(tr("Settings..."), this);
  connect(settings, &QPushButton::clicked, this, &ConvertDialog::editSettings);
  button_row->addWidget(settings);
  if (image) {
    auto* resolution = new QPushButton(tr("Resolution..."), this);
    connect(resolution, &QPushButton::clicked, this, &ConvertDialog::editResolution);
    button_row->addWidget(resolution);
  }
  button_row->addStretch(1);
  layout->addLayout(button_row);

  auto* group = new QGroupBox(tr("Options"), this);
  auto* checks = new QVBoxLayout(group);
  if (image) {
    profiles_ = new QCheckBox(tr("Preserve color profiles"), group);
    profiles_->setChecked(options.preserve_profiles != 0);
    metadata_ = new QCheckBox(tr("Preserve EXIF/GPS metadata"), group);
    metadata_->setChecked(options.preserve_metadata != 0);
    checks->addWidget(profiles_);
    checks->addWidget(metadata_);
  }
  replace_ = new QCheckBox(tr("Replace original files"), group);
  replace_->setChecked(replace_originals);
  selected_ = new QCheckBox(tr("Selected items only"), group);
  selected_->setChecked(selected_only && have_selection);
  selected_->setEnabled(have_selection);
  checks->addWidget(replace_);
  checks->addWidget(selected_);
  layout->addWidget(group);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* convert = buttons->addButton(tr("Convert..."), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  convert->setDefault(true);
  convert->setEnabled(format_->count() > 0);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // Presets stand apart from the format's own settings, beside the buttons
  // that end the dialog.
  auto* bottom_row = new QHBoxLayout;
  auto* load_preset = new QPushButton(tr("Load Preset..."), this);
  connect(load_preset, &QPushButton::clicked, this, &ConvertDialog::loadPreset);
  auto* save_preset = new QPushButton(tr("Save Preset..."), this);
  connect(save_preset, &QPushButton::clicked, this, &ConvertDialog::savePreset);
  bottom_row->addWidget(load_preset);
  bottom_row->addWidget(save_preset);
  bottom_row->addStretch(1);
  bottom_row->addWidget(buttons);
  layout->addLayout(bottom_row);
}

output::ConversionOptions ConvertDialog::options() const {
  output::ConversionOptions o = options_;
  const std::string ext = extension();
  if (!ext.empty()) {
    o.output_format = output::FormatForExtension(ext);
    o.setFormatName(U(format_->currentText()));
  }
  if (profiles_ != nullptr) o.preserve_profiles = profiles_->isChecked() ? 1 : 0;
  if (metadata_ != nullptr) o.preserve_metadata = metadata_->isChecked() ? 1 : 0;
  return o;
}

std::string ConvertDialog::extension() const { return U(format_->currentData().toString()); }
bool ConvertDialog::selectedOnly() const { return selected_->isChecked(); }
bool ConvertDialog::replaceOriginals() const { return replace_->isChecked(); }

void ConvertDialog::editSize() {
  QDialog dialog(this);
  sub_dialog_ = &dialog;
  dialog.setWindowTitle(tr("Size"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* natural = new QRadioButton(tr("&Use natural bounds"), &dialog);
  auto* fit = new QRadioButton(tr("&Scale media to fit:"), &dialog);
  (options_.scale_to_fit != 0 ? fit : natural)->setChecked(true);
  auto* form = new QFormLayout;
  QSpinBox* width = Spin(1, imaging::kMaxSide, static_cast<int>(options_.box_width), &dialog);
  QSpinBox* height = Spin(1, imaging::kMaxSide, static_cast<int>(options_.box_height), &dialog);
  width->setSuffix(tr(" pixels"));
  height->setSuffix(tr(" pixels"));
  form->addRow(tr("Width:"), width);
  form->addRow(tr("Height:"), height);
  layout->addWidget(natural);
  layout->addWidget(fit);
  layout->addLayout(form);
  layout->addWidget(Buttons(&dialog));
  const int result = dialog.exec();
  sub_dialog_ = nullptr;
  if (result != QDialog::Accepted) return;
  options_.scale_to_fit = fit->isChecked() ? 1 : 0;
  options_.box_width = static_cast<std::uint32_t>(width->value());
  options_.box_height = static_cast<std::uint32_t>(height->value());
}

void ConvertDialog::editResolution() {
  QDialog dialog(this);
  sub_dialog_ = &dialog;
  dialog.setWindowTitle(tr("Resolution"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* own = new QRadioButton(tr("&Use image resolution"), &dialog);
  auto* custom = new QRadioButton(tr("&Custom:"), &dialog);
  (options_.custom_resolution != 0 ? custom : own)->setChecked(true);
  QSpinBox* dpi = Spin(1, 65535, options_.resolution > 0 ? static_cast<int>(options_.resolution) : 72, &dialog);
  dpi->setSuffix(tr(" dpi"));
  auto* row = new QHBoxLayout;
  row->addWidget(custom);
  row->addWidget(dpi);
  layout->addWidget(own);
  layout->addLayout(row);
  layout->addWidget(Buttons(&dialog));
  const int result = dialog.exec();
  sub_dialog_ = nullptr;
  if (result != QDialog::Accepted) return;
  options_.custom_resolution = custom->isChecked() ? 1 : 0;
  options_.resolution = static_cast<std::uint32_t>(dpi->value());
}

void ConvertDialog::editSettings() {
  if (options_.kind() != ConversionKind::kImage) {
    editAvSettings();
    return;
  }
  QDialog dialog(this);
  sub_dialog_ = &dialog;
  dialog.setWindowTitle(tr("Settings"));
  auto* form = new QFormLayout(&dialog);
  QSpinBox* quality = Spin(1, kMaxQuality, image_settings_.quality, &dialog);
  form->addRow(tr("Quality (1-100):"), quality);
  form->addRow(Buttons(&dialog));
  const int result = dialog.exec();
  sub_dialog_ = nullptr;
  if (result == QDialog::Accepted) image_settings_.quality = quality->value();
}

// Movies and sounds: the format's own sheet (codecs this FFmpeg can write,
// quality, size and frame rate, sample rate and channels).
void ConvertDialog::editAvSettings() {
  AvSettingsDialog dialog(extension(), av_settings_, this);
  sub_dialog_ = &dialog;
  const int result = dialog.exec();
  sub_dialog_ = nullptr;
  if (result != QDialog::Accepted) return;
  av_settings_ = dialog.settings();
}

std::vector<output::PresetRecord> ConvertDialog::presetRecords() const {
  const ConversionKind kind = options_.kind();
  std::vector<output::PresetRecord> records(2);
  records[0].index = output::OptionsIndex(kind);
  records[0].bytes = output::SerializeConversionOptions(options());
  records[1].index = output::WriterSettingsIndex(kind);
  records[1].bytes = kind == ConversionKind::kImage ? output::SerializeImageWriterSettings(image_settings_)
                                                    : output::SerializeAvWriterSettings(av_settings_);
  return records;
}

bool ConvertDialog::applyPreset(std::span<const output::PresetRecord> records) {
  const ConversionKind kind = options_.kind();
  const std::optional<std::vector<std::uint8_t>> record = output::PresetSetting(records, output::OptionsIndex(kind));
  output::ConversionOptions loaded;
  if (!record || output::ParseConversionOptions(*record, kind, &loaded) != err::kNone) return false;
  options_ = loaded;
  if (std::optional<std::vector<std::uint8_t>> writer =
          output::PresetSetting(records, output::WriterSettingsIndex(kind))) {
    if (kind == ConversionKind::kImage) image_settings_ = output::ParseImageWriterSettings(*writer);
    else av_settings_ = output::ParseAvWriterSettings(*writer);
  }
  // A format this machine cannot write leaves the current choice.
  const int format = format_->findData(Q(output::ExtensionForFormat(loaded.output_format)));
  if (format >= 0) format_->setCurrentIndex(format);
  if (profiles_ != nullptr) profiles_->setChecked(loaded.preserve_profiles != 0);
  if (metadata_ != nullptr) metadata_->setChecked(loaded.preserve_metadata != 0);
  return true;
}

namespace {
QString PresetFilter(ConversionKind kind) {
  switch (kind) {
    case ConversionKind::kImage: return QObject::tr("Image conversion presets (*.imgc)");
    case ConversionKind::kMovie: return QObject::tr("Movie conversion presets (*.movc)");
    case ConversionKind::kSound: return QObject::tr("Sound conversion presets (*.sndc)");
  }
  return {};
}
}  // namespace

void ConvertDialog::savePreset() {
  const ConversionKind kind = options_.kind();
  QString path = QFileDialog::getSaveFileName(this, tr("Save Preset"), QString(), PresetFilter(kind));
  if (path.isEmpty()) return;
  const QString suffix = PresetFilter(kind).section("*", 1).chopped(1);
  if (!path.endsWith(suffix)) path += suffix;
  // The file dialog has asked about replacing an existing file.
  if (QFile::exists(path)) QFile::remove(path);
  const std::vector<output::PresetRecord> records = presetRecords();
  if (ErrorCode e = output::SavePresetFile(U(path), kind, records); e != err::kNone) {
    QMessageBox::warning(this, tr("Save Preset"), tr("The preset could not be saved (error %1).").arg(e));
  }
}

void ConvertDialog::loadPreset() {
  const ConversionKind kind = options_.kind();
  const QString path = QFileDialog::getOpenFileName(this, tr("Load Preset"), QString(), PresetFilter(kind));
  if (path.isEmpty()) return;
  std::vector<output::PresetRecord> records;
  if (output::LoadPresetFile(U(path), kind, &records) != err::kNone || !applyPreset(records)) {
    QMessageBox::warning(this, tr("Load Preset"), tr("\"%1\" is not a preset for this conversion.")
                                                      .arg(QFileInfo(path).fileName()));
  }
}

output::ConversionOutcome RunConversionWithProgress(CatalogWindow& window, output::ConversionRequest request) {
  // The run reads the catalog between its progress calls, which let the
  // event loop run: scan results must not change the catalog meanwhile.
  window.scanner()->waitForIdle();
  QProgressDialog progress(Q(output::kConvertingText), QObject::tr("Cancel"), 0, 1, &window);
  progress.setWindowTitle(Title(request.options.kind()));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(300);
  progress.setValue(0);
  request.progress = [&progress](ProgressPhase phase, int done, int total, std::string_view text) {
    if (phase != ProgressPhase::kEnd) {
      progress.setMaximum(std::max(1, total));
      progress.setLabelText(Q(text));
      progress.setValue(std::min(done, progress.maximum()));
    }
    QApplication::processEvents();
    return progress.wasCanceled() ? 1 : 0;
  };
  if (!request.ask) {
    request.ask = [&window](const std::string& name, const std::string& folder) {
      QMessageBox box(QMessageBox::Question, QObject::tr("Replace file?"),
                      Q(output::ReplaceQuestionText(name, folder)), QMessageBox::NoButton, &window);
      QPushButton* replace = box.addButton(QObject::tr("Replace"), QMessageBox::AcceptRole);
      QPushButton* all = box.addButton(QObject::tr("Replace All"), QMessageBox::YesRole);
      QPushButton* skip = box.addButton(QObject::tr("Skip"), QMessageBox::RejectRole);
      box.setDefaultButton(skip);
      box.exec();
      if (box.clickedButton() == replace) return output::ReplaceAnswer::kReplace;
      if (box.clickedButton() == all) return output::ReplaceAnswer::kReplaceAll;
      return output::ReplaceAnswer::kSkip;
    };
  }
  QApplication::setOverrideCursor(Qt::BusyCursor);
  output::ConversionOutcome outcome = output::RunConversion(window.catalog(), request);
  QApplication::restoreOverrideCursor();
  progress.reset();
  if (outcome.catalog_changed) Q_EMIT window.stateChanged();
  return outcome;
}

namespace {

void RunConvert(CatalogWindow& window, app::SettingsStore* store, ConversionKind kind) {
  const std::int32_t options_index = output::OptionsIndex(kind);
  const std::int32_t writer_index = output::WriterSettingsIndex(kind);
  std::vector<std::uint8_t> stored, writer;
  bool selected_only = false, replace = false;
  if (store != nullptr) {
    stored = app::GetSetting(*store, output::kConversionSettingsCode, options_index).value_or(stored);
    writer = app::GetSetting(*store, output::kConversionSettingsCode, writer_index).value_or(writer);
    selected_only = store->getNumber(kPreferencesKey, kSelectedOnlyValue).value_or(0) != 0;
    replace = store->getNumber(kPreferencesKey, kReplaceValue).value_or(0) != 0;
  }
  output::ConversionOptions options;
  // A missing or damaged record gives the defaults, which the dialog shows.
  (void)output::ParseConversionOptions(stored, kind, &options);
  const std::vector<std::uint32_t> selection = window.selectedIds();
  ConvertDialog dialog(options, output::ParseImageWriterSettings(writer), output::ParseAvWriterSettings(writer),
                       selected_only, replace, !selection.empty(), &window);
  if (dialog.exec() != QDialog::Accepted || dialog.extension().empty()) return;
  if (store != nullptr) {
    const std::vector<std::uint8_t> record = output::SerializeConversionOptions(dialog.options());
    const std::vector<std::uint8_t> settings = kind == ConversionKind::kImage
                                                   ? output::SerializeImageWriterSettings(dialog.imageSettings())
                                                   : output::SerializeAvWriterSettings(dialog.avSettings());
    ErrorCode e = app::PutSetting(*store, output::kConversionSettingsCode, options_index, std::span(record));
    if (e == err::kNone) e = app::PutSetting(*store, output::kConversionSettingsCode, writer_index, std::span(settings));
    if (e == err::kNone) e = store->putNumber(kPreferencesKey, kSelectedOnlyValue, dialog.selectedOnly() ? 1 : 0);
    if (e == err::kNone) e = store->putNumber(kPreferencesKey, kReplaceValue, dialog.replaceOriginals() ? 1 : 0);
    if (e != err::kNone) {
      // The run still goes ahead with the dialog's choices; only keeping them failed.
      Q_EMIT window.message(QObject::tr("The conversion settings could not be kept (error %1).").arg(e), 5000);
    }
  }
  output::ConversionRequest request;
  request.options = dialog.options();
  request.image_settings = dialog.imageSettings();
  request.av_settings = dialog.avSettings();
  request.extension = dialog.extension();
  if (dialog.selectedOnly()) request.item_ids = selection;
  if (!dialog.replaceOriginals()) {
    const QString folder = QFileDialog::getExistingDirectory(&window, QObject::tr("Choose the destination folder:"));
    if (folder.isEmpty()) return;
    request.destination = U(folder);
  }
  const output::ConversionOutcome outcome = RunConversionWithProgress(window, request);
  if (outcome.result != err::kNone && outcome.result != err::kUserCancelled) {
    QMessageBox::warning(&window, Title(kind),
                         QObject::tr("The files could not be converted (error %1).").arg(outcome.result));
    return;
  }
  QString summary = QObject::tr("%1 converted, %2 skipped, %3 failed")
                        .arg(outcome.converted)
                        .arg(outcome.skipped)
                        .arg(outcome.failed);
  if (outcome.failed > 0) {
    QStringList lines;
    for (const output::ConversionLogEntry& e : outcome.log) {
      if (e.kind == output::LogKind::kFailed) {
        lines << QStringLiteral("%1: %2").arg(Q(e.source.substr(e.source.rfind('/') + 1)), Q(e.text));
      }
      if (lines.size() >= 20) break;
    }
    QMessageBox::information(&window, Title(kind), summary + "\n\n" + lines.join('\n'));
  }
  Q_EMIT window.message(summary, 10000);
}

}  // namespace

void RunConvertImages(CatalogWindow& window, app::SettingsStore* store) {
  RunConvert(window, store, ConversionKind::kImage);
}
void RunConvertMovies(CatalogWindow& window, app::SettingsStore* store) {
  RunConvert(window, store, ConversionKind::kMovie);
}
void RunConvertSounds(CatalogWindow& window, app::SettingsStore* store) {
  RunConvert(window, store, ConversionKind::kSound);
}

}  // namespace norvo::views
