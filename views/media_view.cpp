// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/media_view.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>
#include <QtConcurrent/QtConcurrentRun>

#include "app/preferences.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

// Previews are made at most this large; the label scales them to the view.
constexpr int kPreviewBox = 2048;
// The stills pause is counted in ticks of 1/60 second.
constexpr int kTicksPerSecond = 60;

bool ValidPause(int seconds) {
  return seconds == kShortStillsPause || seconds == kMediumStillsPause || seconds == kLongStillsPause;
}

}  // namespace

bool PlaylistModeOf(const app::PreferencesBlock& preferences) {
  return preferences.u8(app::pref::kPlaylistMode) != 1;
}

int StillsPauseOf(const app::PreferencesBlock& preferences) {
  const int seconds = preferences.u8(app::pref::kStillsPause);
  return ValidPause(seconds) ? seconds : kMediumStillsPause;
}

void KeepPlaylistMode(app::PreferencesBlock& preferences, bool on) {
  preferences.setU8(app::pref::kPlaylistMode, on ? 0 : 1);
}

void KeepStillsPause(app::PreferencesBlock& preferences, int seconds) {
  preferences.setU8(app::pref::kStillsPause,
                    static_cast<std::uint8_t>(ValidPause(seconds) ? seconds : kMediumStillsPause));
}

MediaView::MediaView(QWidget* parent) : QWidget(parent) {
  stack_ = new QStackedWidget(this);
  image_ = new QLabel(stack_);
  image_->setAlignment(Qt::AlignCenter);
  image_->setMinimumSize(64, 64);
  image_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  video_ = new QVideoWidget(stack_);
  stack_->addWidget(image_);
  stack_->addWidget(video_);

  auto* previous = new QToolButton(this);
  previous->setArrowType(Qt::LeftArrow);
  previous->setToolTip(tr("Previous item"));
  auto* next = new QToolButton(this);
  next->setArrowType(Qt::RightArrow);
  next->setToolTip(tr("Next item"));
  play_ = new QToolButton(this);
  play_->setText(tr("Play"));
  play_->setEnabled(false);
  caption_ = new QLabel(this);
  caption_->setAlignment(Qt::AlignCenter);
  caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* bar = new QHBoxLayout;
  bar->addWidget(previous);
  bar->addWidget(play_);
  bar->addWidget(caption_, 1);
  bar->addWidget(next);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(stack_, 1);
  layout->addLayout(bar);

  connect(previous, &QToolButton::clicked, this, &MediaView::previousRequested);
  connect(next, &QToolButton::clicked, this, &MediaView::nextRequested);
  connect(play_, &QToolButton::clicked, this, &MediaView::togglePlay);
  connect(&preview_, &QFutureWatcher<QImage>::finished, this, [this] {
    picture_ = preview_.result();
    showPicture();
    Q_EMIT previewReady();
  });
  setFocusPolicy(Qt::StrongFocus);
  ticks_.setInterval(1000 / kTicksPerSecond);
  connect(&ticks_, &QTimer::timeout, this, &MediaView::pollPlaylist);
}

MediaView::~MediaView() { preview_.waitForFinished(); }

void MediaView::setPlaylistMode(bool on) {
  playlist_mode_ = on;
  play_->setEnabled(playable_ || (still_ && playlist_mode_));
  // A still plays only as part of the playlist.
  if (!on && playing_ && !playable_) setPlaying(false);
}

void MediaView::setStillsPause(int seconds) { stills_pause_ = ValidPause(seconds) ? seconds : kMediumStillsPause; }

void MediaView::applyPlaylistPreferences(const app::PreferencesBlock& preferences) {
  setPlaylistMode(PlaylistModeOf(preferences));
  setStillsPause(StillsPauseOf(preferences));
}

void MediaView::setPlaying(bool on) {
  playing_ = on;
  play_->setText(on ? tr("Pause") : tr("Play"));
  if (on) {
    still_since_ = clock_();
    ticks_.start();
  } else {
    ticks_.stop();
  }
}

void MediaView::pollPlaylist() {
  if (!playing_ || !playlist_mode_ || playable_) return;
  const qint64 ticks = (clock_() - still_since_) * kTicksPerSecond / 1000;
  if (ticks < qint64{stills_pause_} * kTicksPerSecond) return;
  still_since_ = clock_();
  Q_EMIT playlistNextRequested();
}

void MediaView::finishedPlaying() {
  if (!playlist_mode_) {
    setPlaying(false);
    return;
  }
  Q_EMIT playlistNextRequested();
}

QMediaPlayer* MediaView::player() {
  // Made on first use: a still picture never needs the multimedia back end.
  if (player_ == nullptr) {
    player_ = new QMediaPlayer(this);
    audio_ = new QAudioOutput(this);
    player_->setAudioOutput(audio_);
    player_->setVideoOutput(video_);
    connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
      if (playing_ && playable_ && (status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia)) {
        finishedPlaying();
      }
    });
  }
  return player_;
}

void MediaView::showItem(const QString& path, std::uint32_t type_code, std::uint16_t rotation, const QString& caption) {
  if (player_ != nullptr) player_->stop();
  caption_->setText(caption);
  picture_ = QImage();
  image_->clear();
  const media::MediaClass kind = media::GetMediaClass(type_code);
  playable_ = !path.isEmpty() && (kind == media::MediaClass::Video || kind == media::MediaClass::Audio);
  // An off-line item stands in the playlist like a still.
  still_ = !playable_;
  play_->setEnabled(playable_ || (still_ && playlist_mode_));
  // A playing view goes on playing the item it now shows.
  if (playing_) still_since_ = clock_();
  if (playing_ && still_ && !playlist_mode_) setPlaying(false);
  if (path.isEmpty()) {
    image_->setText(tr("No item"));
    stack_->setCurrentWidget(image_);
    return;
  }
  if (kind == media::MediaClass::Video) {
    player()->setSource(QUrl::fromLocalFile(path));
    stack_->setCurrentWidget(video_);
    if (playing_) player()->play();
    return;
  }
  if (kind == media::MediaClass::Audio) {
    player()->setSource(QUrl::fromLocalFile(path));
    if (playing_) player()->play();
  }
  stack_->setCurrentWidget(image_);
  image_->setText(tr("Loading\u2026"));
  const std::string file = U(path);
  preview_.setFuture(QtConcurrent::run([file, type_code, rotation] {
    imaging::PixelBuffer picture;
    if (media::MakePreview(file, type_code, kPreviewBox, rotation, &picture) != err::kNone) return QImage();
    return ImageFromPixels(picture);
  }));
}

void MediaView::togglePlay() {
  if (!playable_) {
    if (playlist_mode_) setPlaying(!playing_);
    return;
  }
  if (player()->playbackState() == QMediaPlayer::PlayingState) {
    player()->pause();
    setPlaying(false);
  } else {
    player()->play();
    setPlaying(true);
  }
}

void MediaView::showPicture() {
  if (picture_.isNull()) {
    if (stack_->currentWidget() == image_ && !playable_) image_->setText(tr("No preview of this file"));
    return;
  }
  const QSize room = image_->size() * image_->devicePixelRatioF();
  QImage fitted = picture_;
  if (picture_.width() > room.width() || picture_.height() > room.height()) {
    fitted = picture_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  QPixmap pixmap = QPixmap::fromImage(fitted);
  pixmap.setDevicePixelRatio(image_->devicePixelRatioF());
  image_->setPixmap(pixmap);
}

void MediaView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  showPicture();
}

void MediaView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // A minimised window keeps playing; a view switched away from does not.
  if (event->spontaneous() || !playing_) return;
  if (player_ != nullptr) player_->pause();
  setPlaying(false);
}

void MediaView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Left: Q_EMIT previousRequested(); return;
    case Qt::Key_Right: Q_EMIT nextRequested(); return;
    case Qt::Key_Space: togglePlay(); return;
    case Qt::Key_Escape:
      if (window()->isFullScreen()) {
        window()->showNormal();
        return;
      }
      break;
    default: break;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace norvo::views
