// SPDX-License-Identifier: GPL-3.0-or-later
// The settings sheet of a movie or sound format ("Settings..." of the
// movie and sound conversions): the codecs the container can hold in this
// FFmpeg, the quality, the picture size and frame rate (movie formats only),
// and the sound's sample rate and channels.
//
// Each choice can be left at "Same as source" (0) or the container's usual
// codec (an empty name), so that stored settings keep meaning the same on
// another machine. The sample rates offered are those the chosen sound
// encoder takes; a stored rate or codec the lists do not hold is shown as
// its own entry and kept unless the user picks another.
#pragma once

#include <QDialog>
#include <string>

#include "output/media_encoder.h"

class QComboBox;
class QSpinBox;

namespace norvo::views {

class AvSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // `extension` names the format ("mp4", "wav" ...), as EncodableAvFormats gives it.
  AvSettingsDialog(const std::string& extension, const output::AvEncodeSettings& settings,
                   QWidget* parent = nullptr);

  // The settings as the controls show them.
  output::AvEncodeSettings settings() const;
  bool isMovieFormat() const { return video_codec_ != nullptr; }

 private:
  void fillSampleRates(int keep_rate);
  void fillChannels(int keep_channels);

  std::string extension_;
  QComboBox* video_codec_ = nullptr;
  QSpinBox* quality_ = nullptr;
  QSpinBox* width_ = nullptr;
  QSpinBox* height_ = nullptr;
  QComboBox* frame_rate_ = nullptr;
  QComboBox* audio_codec_ = nullptr;
  QComboBox* sample_rate_ = nullptr;
  QComboBox* channels_ = nullptr;
};

}  // namespace norvo::views
