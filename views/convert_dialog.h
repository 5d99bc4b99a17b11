// SPDX-License-Identifier: GPL-3.0-or-later
// "Convert &Image Files...", "Convert &Movie Files..." and "Convert
// S&ound Files...": the options dialog of each kind (format, size,
// writer settings, resolution, what to keep, where the new files go), the
// folder chooser, then the run with progress, the replace question and a
// summary of the action log.
#pragma once

#include <QDialog>
#include <span>
#include <vector>

#include "output/conversion.h"
#include "output/conversion_options.h"

class QCheckBox;
class QComboBox;

namespace norvo::app {
class SettingsStore;
}

namespace norvo::views {

class CatalogWindow;

class ConvertDialog : public QDialog {
  Q_OBJECT

 public:
  // Starts from the stored records of the kind `options.kind()`.
  ConvertDialog(const output::ConversionOptions& options, const output::ImageWriterSettings& image_settings,
                const output::AvWriterSettings& av_settings, bool selected_only, bool replace_originals,
                bool have_selection, QWidget* parent = nullptr);

  // The record with the dialog's choices (bytes it does not show kept).
  output::ConversionOptions options() const;
  const output::ImageWriterSettings& imageSettings() const { return image_settings_; }
  const output::AvWriterSettings& avSettings() const { return av_settings_; }
  // The chosen format's extension ("jpg", "mp4" ...); empty when this
  // machine can write none of the kind.
  std::string extension() const;
  bool selectedOnly() const;
  bool replaceOriginals() const;

  // The small dialogs behind the buttons; they change the dialog's state
  // when accepted. Public so that tests can drive them without a modal loop.
  void editSize();
  void editSettings();
  void editAvSettings();
  void editResolution();
  QDialog* openSubDialog() const { return sub_dialog_; }

  // Presets: the options record and the writer settings as a preset file's
  // records, and the dialog set from such records (false, and nothing
  // changed, when they hold no options record of this dialog's kind).
  std::vector<output::PresetRecord> presetRecords() const;
  bool applyPreset(std::span<const output::PresetRecord> records);
  void savePreset();
  void loadPreset();

 private:
  output::ConversionOptions options_;
  output::ImageWriterSettings image_settings_;
  output::AvWriterSettings av_settings_;
  QComboBox* format_ = nullptr;
  QCheckBox* profiles_ = nullptr;
  QCheckBox* metadata_ = nullptr;
  QCheckBox* replace_ = nullptr;
  QCheckBox* selected_ = nullptr;
  QDialog* sub_dialog_ = nullptr;
};

// The three commands. Options and writer settings are read from and saved
// to `store` ('EXPO' records; null: defaults, nothing saved).
void RunConvertImages(CatalogWindow& window, app::SettingsStore* store);
void RunConvertMovies(CatalogWindow& window, app::SettingsStore* store);
void RunConvertSounds(CatalogWindow& window, app::SettingsStore* store);

// The run without the dialogs (tests, and the commands after them): with a
// modal progress window, the replace question as a message box (unless
// `ask` is set) and the catalog window told of repointed items.
output::ConversionOutcome RunConversionWithProgress(CatalogWindow& window, output::ConversionRequest request);

}  // namespace norvo::views
