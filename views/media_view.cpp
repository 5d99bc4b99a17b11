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

#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "views/qt_support.h"

namespace norvo::views {
namespace {

// Previews are made at most this large; the label scales them to the view.
constexpr int kPreviewBox = 2048;

}  // namespace

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
}

MediaView::~MediaView() { preview_.waitForFinished(); }

QMediaPlayer* MediaView::player() {
  // Made on first use: a still picture never needs the multimedia back end.
  if (player_ == nullptr) {
    player_ = new QMediaPlayer(this);
    audio_ = new QAudioOutput(this);
    player_->setAudioOutput(audio_);
    player_->setVideoOutput(video_);
    connect(player_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
      play_->setText(state == QMediaPlayer::PlayingState ? tr("Pause") : tr("Play"));
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
  play_->setEnabled(playable_);
  if (path.isEmpty()) {
    image_->setText(tr("No item"));
    stack_->setCurrentWidget(image_);
    return;
  }
  if (kind == media::MediaClass::Video) {
    player()->setSource(QUrl::fromLocalFile(path));
    stack_->setCurrentWidget(video_);
    return;
  }
  if (kind == media::MediaClass::Audio) player()->setSource(QUrl::fromLocalFile(path));
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
  if (!playable_) return;
  if (player()->playbackState() == QMediaPlayer::PlayingState) {
    player()->pause();
  } else {
    player()->play();
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
