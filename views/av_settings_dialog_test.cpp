// SPDX-License-Identifier: GPL-3.0-or-later
// The movie and sound settings sheet on the offscreen platform: the lists
// come from what this FFmpeg can encode, the controls give back the
// settings, and stored settings show as they were.
#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTest>

#include <cmath>

#include "output/media_encoder.h"
#include "views/av_settings_dialog.h"

using namespace norvo;
using namespace norvo::views;

namespace {

// The field of the row labelled `label` in the group titled `group`
// ("Video", "Sound"), or null.
template <typename Widget>
Widget* Field(QWidget* root, const QString& group, const QString& label) {
  for (QFormLayout* form : root->findChildren<QFormLayout*>()) {
    QWidget* owner = form->parentWidget();
    if (!owner || owner->property("title").toString() != group) continue;
    for (int row = 0; row < form->rowCount(); ++row) {
      auto* l = qobject_cast<QLabel*>(form->itemAt(row, QFormLayout::LabelRole)
                                          ? form->itemAt(row, QFormLayout::LabelRole)->widget()
                                          : nullptr);
      if (!l || l->text() != label) continue;
      return qobject_cast<Widget*>(form->itemAt(row, QFormLayout::FieldRole)->widget());
    }
  }
  return nullptr;
}

QStringList Entries(const QComboBox* combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

void Choose(QComboBox* combo, const QVariant& data) {
  const int at = combo->findData(data);
  QVERIFY2(at >= 0, qPrintable(data.toString()));
  combo->setCurrentIndex(at);
}

}  // namespace

class AvSettingsDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // A movie format shows both groups, each codec list led by the
  // container's usual codec; what the user sets comes back as settings.
  void movieFormatControlsGiveTheSettings() {
    AvSettingsDialog dialog("mp4", {});
    QVERIFY(dialog.isMovieFormat());
    auto* video_codec = Field<QComboBox>(&dialog, "Video", "Codec:");
    auto* quality = Field<QSpinBox>(&dialog, "Video", "Quality (0 best, 51 smallest):");
    auto* width = Field<QSpinBox>(&dialog, "Video", "Width:");
    auto* height = Field<QSpinBox>(&dialog, "Video", "Height:");
    auto* frame_rate = Field<QComboBox>(&dialog, "Video", "Frame rate:");
    auto* audio_codec = Field<QComboBox>(&dialog, "Sound", "Codec:");
    auto* rate = Field<QComboBox>(&dialog, "Sound", "Sample rate:");
    auto* channels = Field<QComboBox>(&dialog, "Sound", "Channels:");
    QVERIFY(video_codec && quality && width && height && frame_rate && audio_codec && rate && channels);
    QCOMPARE(video_codec->itemText(0), QStringLiteral("H.264 (libx264) (usual)"));
    QCOMPARE(audio_codec->itemText(0), QStringLiteral("AAC (usual)"));
    QCOMPARE(width->text(), QStringLiteral("Same as source"));

    // Untouched: all from the source and the usual codecs.
    output::AvEncodeSettings s = dialog.settings();
    QCOMPARE(s.quality, 23);
    QCOMPARE(s.width, 0);
    QCOMPARE(s.frame_rate, 0.0);
    QCOMPARE(s.audio_rate, 0);
    QCOMPARE(s.channels, 0);
    QVERIFY(s.video_codec.empty() && s.audio_codec.empty());

    quality->setValue(30);
    width->setValue(640);
    Choose(frame_rate, 25.0);
    Choose(rate, 48000);
    Choose(channels, 1);
    Choose(video_codec, QStringLiteral("mpeg4"));
    s = dialog.settings();
    QCOMPARE(s.quality, 30);
    QCOMPARE(s.width, 640);
    QCOMPARE(s.height, 0);
    QCOMPARE(s.frame_rate, 25.0);
    QCOMPARE(s.audio_rate, 48000);
    QCOMPARE(s.channels, 1);
    QCOMPARE(s.video_codec, std::string("mpeg4"));
    QVERIFY(s.audio_codec.empty());
  }

  // A sound format has no picture controls, and MP3's lists hold only
  // what LAME takes: its sample rates, at most two channels.
  void soundFormatOffersWhatItsEncoderTakes() {
    AvSettingsDialog dialog("mp3", {});
    QVERIFY(!dialog.isMovieFormat());
    QVERIFY(!Field<QComboBox>(&dialog, "Video", "Codec:"));
    auto* rate = Field<QComboBox>(&dialog, "Sound", "Sample rate:");
    auto* channels = Field<QComboBox>(&dialog, "Sound", "Channels:");
    QVERIFY(rate && channels);
    QVERIFY(rate->findData(44100) >= 0);
    QVERIFY(rate->findData(96000) < 0);
    QCOMPARE(Entries(channels), QStringList({"Same as source", "Mono", "Stereo"}));
  }

  // Another sound codec brings its own rates: a rate it takes stays chosen,
  // one it does not goes back to the source's.
  void ratesFollowTheSoundCodec() {
    AvSettingsDialog dialog("webm", {});
    auto* audio_codec = Field<QComboBox>(&dialog, "Sound", "Codec:");
    auto* rate = Field<QComboBox>(&dialog, "Sound", "Sample rate:");
    QVERIFY(audio_codec && rate);
    const int vorbis = audio_codec->findData(QStringLiteral("libvorbis"));
    if (vorbis < 0) QSKIP("this FFmpeg has no Vorbis encoder");
    QVERIFY(rate->findData(44100) < 0);  // Opus, the usual one, has no 44.1 kHz
    audio_codec->setCurrentIndex(vorbis);
    QVERIFY(rate->findData(44100) >= 0);
    Choose(rate, 44100);
    QCOMPARE(dialog.settings().audio_rate, 44100);
    audio_codec->setCurrentIndex(0);  // back to Opus
    QCOMPARE(dialog.settings().audio_rate, 0);
    Choose(rate, 48000);
    audio_codec->setCurrentIndex(vorbis);
    QCOMPARE(dialog.settings().audio_rate, 48000);
  }

  // Stored settings show as they were, values the lists lack included,
  // and come back unchanged.
  void storedSettingsComeBackUnchanged() {
    output::AvEncodeSettings stored;
    stored.quality = 18;
    stored.width = 1280;
    stored.height = 720;
    stored.frame_rate = 30000.0 / 1001;
    stored.audio_rate = 22050;
    stored.channels = 2;
    stored.video_codec = "libx265";
    stored.audio_codec = "libmp3lame";
    output::AvEncodeSettings odd = stored;
    odd.frame_rate = 7.5;               // no entry of the list
    odd.video_codec = "encoder-of-another-build";
    odd.channels = 3;
    for (const output::AvEncodeSettings& s : {stored, odd}) {
      AvSettingsDialog dialog("mkv", s);
      const output::AvEncodeSettings back = dialog.settings();
      QCOMPARE(back.quality, s.quality);
      QCOMPARE(back.width, s.width);
      QCOMPARE(back.height, s.height);
      QVERIFY(std::abs(back.frame_rate - s.frame_rate) < 1e-9);
      QCOMPARE(back.audio_rate, s.audio_rate);
      QCOMPARE(back.channels, s.channels);
      QCOMPARE(back.video_codec, s.video_codec);
      QCOMPARE(back.audio_codec, s.audio_codec);
    }
  }
};

QTEST_MAIN(AvSettingsDialogTest)
#include "av_settings_dialog_test.moc"
