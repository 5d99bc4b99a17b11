// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/av_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace norvo::views {
namespace {

constexpr int kMaxSide = 16384;
constexpr int kMaxQuality = 51;

const QString& SameAsSource() {
  static const QString text = QObject::tr("Same as source");
  return text;
}

// A combo of codecs, the container's usual one first and stored as "";
// a stored name the list lacks gets an entry of its own.
QComboBox* CodecCombo(const std::vector<output::AvCodecChoice>& choices, const std::string& stored) {
  auto* combo = new QComboBox;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    const QString name = QString::fromStdString(choices[i].name);
    combo->addItem(i == 0 ? QObject::tr("%1 (usual)").arg(name) : name,
                   i == 0 ? QString() : QString::fromStdString(choices[i].encoder));
  }
  if (!stored.empty()) {
    int at = combo->findData(QString::fromStdString(stored));
    if (at < 0 && !choices.empty() && choices.front().encoder == stored) at = 0;
    if (at < 0) {
      combo->addItem(QString::fromStdString(stored), QString::fromStdString(stored));
      at = combo->count() - 1;
    }
    combo->setCurrentIndex(at);
  }
  return combo;
}

// The encoder a codec combo stands for: its entry's name, or the usual one.
std::string EncoderOf(const QComboBox* combo, const std::vector<output::AvCodecChoice>& choices) {
  const std::string chosen = combo->currentData().toString().toStdString();
  if (!chosen.empty()) return chosen;
  return choices.empty() ? std::string() : choices.front().encoder;
}

QSpinBox* SideBox(int value) {
  auto* box = new QSpinBox;
  box->setRange(0, kMaxSide);
  box->setSpecialValueText(SameAsSource());
  box->setSuffix(QObject::tr(" pixels"));
  box->setValue(std::clamp(value, 0, kMaxSide));
  return box;
}

QString RateText(double rate) {
  return QString::number(rate, 'f', std::abs(rate - std::round(rate)) < 1e-9 ? 0 : 3);
}

}  // namespace

AvSettingsDialog::AvSettingsDialog(const std::string& extension, const output::AvEncodeSettings& settings,
                                   QWidget* parent)
    : QDialog(parent), extension_(extension) {
  setWindowTitle(tr("Compression Settings"));
  auto* layout = new QVBoxLayout(this);

  const std::vector<output::AvCodecChoice> video_choices = output::AvCodecChoices(extension, true);
  if (!video_choices.empty()) {
    auto* group = new QGroupBox(tr("Video"));
    auto* form = new QFormLayout(group);
    video_codec_ = CodecCombo(video_choices, settings.video_codec);
    form->addRow(tr("Codec:"), video_codec_);
    quality_ = new QSpinBox;
    quality_->setRange(0, kMaxQuality);
    quality_->setValue(std::clamp(settings.quality, 0, kMaxQuality));
    quality_->setToolTip(tr("0 is the best picture and the largest file; 23 is usual; 51 the smallest file"));
    form->addRow(tr("Quality (0 best, 51 smallest):"), quality_);
    width_ = SideBox(settings.width);
    height_ = SideBox(settings.height);
    form->addRow(tr("Width:"), width_);
    form->addRow(tr("Height:"), height_);
    frame_rate_ = new QComboBox;
    frame_rate_->addItem(SameAsSource(), 0.0);
    for (double r : {10.0, 12.0, 15.0, 24000.0 / 1001, 24.0, 25.0, 30000.0 / 1001, 30.0, 50.0, 60000.0 / 1001, 60.0}) {
      frame_rate_->addItem(tr("%1 frames a second").arg(RateText(r)), r);
    }
    if (settings.frame_rate > 0) {
      int at = -1;
      for (int i = 1; i < frame_rate_->count() && at < 0; ++i) {
        if (std::abs(frame_rate_->itemData(i).toDouble() - settings.frame_rate) < 0.001) at = i;
      }
      if (at < 0) {
        frame_rate_->addItem(tr("%1 frames a second").arg(RateText(settings.frame_rate)), settings.frame_rate);
        at = frame_rate_->count() - 1;
      }
      frame_rate_->setCurrentIndex(at);
    }
    form->addRow(tr("Frame rate:"), frame_rate_);
    layout->addWidget(group);
  }

  const std::vector<output::AvCodecChoice> audio_choices = output::AvCodecChoices(extension, false);
  auto* sound = new QGroupBox(tr("Sound"));
  auto* form = new QFormLayout(sound);
  audio_codec_ = CodecCombo(audio_choices, settings.audio_codec);
  form->addRow(tr("Codec:"), audio_codec_);
  sample_rate_ = new QComboBox;
  form->addRow(tr("Sample rate:"), sample_rate_);
  channels_ = new QComboBox;
  form->addRow(tr("Channels:"), channels_);
  layout->addWidget(sound);
  fillSampleRates(settings.audio_rate);
  fillChannels(settings.channels);
  // Stored values the lists lack (from another FFmpeg, say) stay as they are.
  if (settings.audio_rate > 0 && sample_rate_->findData(settings.audio_rate) < 0) {
    sample_rate_->addItem(tr("%1 Hz").arg(settings.audio_rate), settings.audio_rate);
    sample_rate_->setCurrentIndex(sample_rate_->count() - 1);
  }
  if (settings.channels > 0 && channels_->findData(settings.channels) < 0) {
    channels_->addItem(tr("%1 channels").arg(settings.channels), settings.channels);
    channels_->setCurrentIndex(channels_->count() - 1);
  }
  // Another encoder takes other rates and channel counts: the lists follow,
  // keeping the choice when the new encoder takes it.
  connect(audio_codec_, &QComboBox::currentIndexChanged, this, [this] {
    fillSampleRates(sample_rate_->currentData().toInt());
    fillChannels(channels_->currentData().toInt());
  });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void AvSettingsDialog::fillSampleRates(int keep_rate) {
  const std::string encoder = EncoderOf(audio_codec_, output::AvCodecChoices(extension_, false));
  std::vector<int> rates = output::AvEncoderSampleRates(encoder);
  if (rates.empty()) rates = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000};
  const QSignalBlocker quiet(sample_rate_);
  sample_rate_->clear();
  sample_rate_->addItem(SameAsSource(), 0);
  for (int r : rates) sample_rate_->addItem(tr("%1 Hz").arg(r), r);
  int at = keep_rate > 0 ? sample_rate_->findData(keep_rate) : 0;
  if (at < 0) at = 0;  // the new encoder does not take it: the source's (or the nearest it takes)
  sample_rate_->setCurrentIndex(at);
}

void AvSettingsDialog::fillChannels(int keep_channels) {
  const std::string encoder = EncoderOf(audio_codec_, output::AvCodecChoices(extension_, false));
  const int most = output::AvEncoderMaxChannels(encoder);
  const QSignalBlocker quiet(channels_);
  channels_->clear();
  channels_->addItem(SameAsSource(), 0);
  channels_->addItem(tr("Mono"), 1);
  if (most == 0 || most >= 2) channels_->addItem(tr("Stereo"), 2);
  if (most == 0 || most >= 6) channels_->addItem(tr("5.1 (6 channels)"), 6);
  if (most == 0 || most >= 8) channels_->addItem(tr("7.1 (8 channels)"), 8);
  int at = keep_channels > 0 ? channels_->findData(keep_channels) : 0;
  channels_->setCurrentIndex(at < 0 ? 0 : at);
}

output::AvEncodeSettings AvSettingsDialog::settings() const {
  output::AvEncodeSettings s;
  if (video_codec_) {
    s.video_codec = video_codec_->currentData().toString().toStdString();
    s.quality = quality_->value();
    s.width = width_->value();
    s.height = height_->value();
    s.frame_rate = frame_rate_->currentData().toDouble();
  }
  s.audio_codec = audio_codec_->currentData().toString().toStdString();
  s.audio_rate = sample_rate_->currentData().toInt();
  s.channels = channels_->currentData().toInt();
  return s;
}

}  // namespace norvo::views
