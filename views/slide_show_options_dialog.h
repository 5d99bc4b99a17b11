// SPDX-License-Identifier: GPL-3.0-or-later
// "Slide Show Options" and the two slide show commands. The dialog lists
// the transitions and scalings in their fixed order and stores their codes
// (output/slide_show_options.h); OK keeps the record as the program's
// default in the preferences and as the catalog's own, "Run Slide Show"
// does the same and then runs the show.
#pragma once

#include <QColor>
#include <QDialog>

#include <vector>

#include "output/slide_show_options.h"
#include "views/slide_show_player.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

namespace norvo::app {
class PreferencesBlock;
}

namespace norvo::views {

class CatalogWindow;

class SlideShowOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SlideShowOptionsDialog(const output::SlideShowOptions& options, QWidget* parent = nullptr);
  // The record as chosen (bytes the dialog does not show kept as given).
  output::SlideShowOptions options() const;
  // Accepted with "Run Slide Show" rather than "OK".
  bool runRequested() const { return run_; }
  QColor colour() const { return colour_; }
  void setColour(const QColor& colour);

 private:
  void chooseColour();

  output::SlideShowOptions given_;
  QSpinBox* seconds_;
  QComboBox* transition_;
  QComboBox* scaling_;
  QPushButton* colour_button_;
  QColor colour_;
  QCheckBox* interactive_;
  QCheckBox* continuous_;
  QCheckBox* random_;
  QCheckBox* media_info_;
  QCheckBox* controller_;
  bool run_ = false;
};

// The record a show of the window's catalog uses: the catalog's own, else
// the program's default from `preferences`.
output::SlideShowOptions SlideShowOptionsFor(const CatalogWindow& window, const app::PreferencesBlock& preferences);
// Keeps `options` as the program's default and as the catalog's own (the
// catalog is marked changed; a catalog open for viewing only keeps none).
void KeepSlideShowOptions(CatalogWindow& window, app::PreferencesBlock* preferences,
                          const output::SlideShowOptions& options);
// The window's shown items in view order, and in `start` the row of the
// first selected one (0 when none is selected).
std::vector<SlideItem> SlideShowItems(CatalogWindow& window, int* start);
// Opens the player full screen on the window's screen; null when the window
// shows no items. The player deletes itself when the show ends.
SlideShowPlayer* StartSlideShow(CatalogWindow& window, const output::SlideShowOptions& options);

// The commands: "&Run Slide Show" (make.slide_show) and "&Slide Show
// Options..." (make.slide_options).
void RunSlideShow(CatalogWindow& window, const app::PreferencesBlock& preferences);
void RunSlideShowOptions(CatalogWindow& window, app::PreferencesBlock* preferences);

}  // namespace norvo::views
