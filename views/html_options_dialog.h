// SPDX-License-Identifier: GPL-3.0-or-later
// The "HTML Options" sheet of the web gallery: a Layout page (site title,
// thumbnail table, thumbnail and media sizes, what the pages show) and a
// Settings page (page extension, text encoding, JPEG quality, colours,
// movies), "Launch browser when done" and "Create...".
//
// Each combo's code is its position plus 1; a stored code below 1 shows the
// first entry, and a stored code the combo has no entry for (a target-size
// JPEG quality, say) is kept unless the user picks another entry. The sheet
// writes only the fields it shows: the Layout page stores its sizes through
// output::ApplyLayoutCodes, and the launch choice lives in the record's byte
// that the export itself never reads.
#pragma once

#include <QDialog>

#include "output/gallery_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace norvo::views {

class HtmlOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  HtmlOptionsDialog(const output::GallerySettings& settings, const QString& site_title, QWidget* parent = nullptr);

  // The edited record and title; valid after accept().
  const output::GallerySettings& settings() const { return settings_; }
  QString siteTitle() const;
  bool launchBrowser() const;

  void accept() override;

 private:
  QWidget* makeLayoutPage(const QString& site_title);
  QWidget* makeSettingsPage();
  QPushButton* colourButton(const QString& text, output::RgbColour* colour);

  output::GallerySettings settings_;

  QTabWidget* pages_;
  QLineEdit* title_ = nullptr;
  QSpinBox* columns_ = nullptr;
  QSpinBox* rows_ = nullptr;
  QComboBox* thumbnails_ = nullptr;
  QComboBox* media_ = nullptr;
  QCheckBox* file_names_ = nullptr;
  QCheckBox* media_info_ = nullptr;
  QComboBox* extension_ = nullptr;
  QComboBox* encoding_ = nullptr;
  QComboBox* quality_ = nullptr;
  QCheckBox* auto_play_ = nullptr;
  QCheckBox* loop_ = nullptr;
  QCheckBox* controller_ = nullptr;
  QCheckBox* launch_ = nullptr;
};

}  // namespace norvo::views
