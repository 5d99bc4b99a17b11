// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/slide_show_player.h"

#include <QAudioOutput>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMediaPlayer>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSlider>
#include <QToolButton>
#include <QUrl>
#include <QVideoWidget>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "views/qt_support.h"
#include "views/screen_awake.h"

namespace norvo::views {

using output::MediaScaling;
using output::Transition;

namespace {

// The number of slats of the blinds.
constexpr int kBlinds = 8;
// The longest a transition takes; shorter when a slide's time is short.
constexpr qint64 kTransitionMs = 1000;
// The frame timer: about 60 frames a second.
constexpr int kFrameMs = 16;

// Transitions Random picks from.
constexpr Transition kRealTransitions[] = {
    Transition::kBarnHorizontal, Transition::kBarnVertical,    Transition::kBlindsHorizontal,
    Transition::kBlindsVertical, Transition::kIrisCircle,      Transition::kIrisSquare,
    Transition::kSlideLeftToRight, Transition::kSlideTopToBottom, Transition::kCrossFade,
    Transition::kRadial,
};

double Scale(QSizeF picture, QSizeF stage, MediaScaling scaling) {
  const double to_width = stage.width() / picture.width();
  const double to_height = stage.height() / picture.height();
  switch (scaling) {
    case MediaScaling::kActualSize:
    case MediaScaling::kTile: return 1.0;
    case MediaScaling::kScaleToFit: return std::min(to_width, to_height);
    case MediaScaling::kFitWidth: return to_width;
    case MediaScaling::kFitHeight: return to_height;
    // The picture's smaller (larger) side is pinned to the stage's extent
    // in that direction.
    case MediaScaling::kPinSmallerSide: return picture.width() <= picture.height() ? to_width : to_height;
    case MediaScaling::kPinLargerSide: return picture.width() >= picture.height() ? to_width : to_height;
    default: return output::ScalingZoom(scaling).value_or(1.0);
  }
}

// Whether a scaling needs the picture's true pixels (its size on the stage
// depends on them); the others only need its proportions.
bool NeedsFullSize(MediaScaling scaling) {
  switch (scaling) {
    case MediaScaling::kScaleToFit:
    case MediaScaling::kFitWidth:
    case MediaScaling::kFitHeight:
    case MediaScaling::kPinSmallerSide:
    case MediaScaling::kPinLargerSide: return false;
    default: return true;
  }
}

// Draws the part of `picture` placed at `target` that falls on `stage`.
void DrawVisiblePart(QPainter& painter, const QImage& picture, const QRectF& target, const QRect& stage) {
  const QRectF visible = target.intersected(QRectF(stage));
  if (visible.isEmpty()) return;
  const double scale = target.width() / picture.width();
  // The source pixels under the visible part, widened to whole pixels.
  const QRectF wanted((visible.x() - target.x()) / scale, (visible.y() - target.y()) / scale,
                      visible.width() / scale, visible.height() / scale);
  QRect source(QPoint(static_cast<int>(std::floor(wanted.left())), static_cast<int>(std::floor(wanted.top()))),
               QPoint(static_cast<int>(std::ceil(wanted.right())) - 1, static_cast<int>(std::ceil(wanted.bottom())) - 1));
  source = source.intersected(picture.rect());
  if (source.isEmpty()) return;
  const QRectF placed(target.x() + source.x() * scale, target.y() + source.y() * scale, source.width() * scale,
                      source.height() * scale);
  if (std::abs(scale - 1.0) < 1e-9) {
    painter.drawImage(QPointF(std::round(placed.x()), std::round(placed.y())), picture, source);
    return;
  }
  const QSize size(std::max(1, static_cast<int>(std::lround(placed.width()))),
                   std::max(1, static_cast<int>(std::lround(placed.height()))));
  const QImage piece = picture.copy(source).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  painter.drawImage(QPointF(std::round(placed.x()), std::round(placed.y())), piece);
}

QImage Background(QSize stage, const QColor& colour) {
  QImage slide(stage.isEmpty() ? QSize(1, 1) : stage, QImage::Format_RGB32);
  slide.fill(colour);
  return slide;
}

// A slide without a picture (a sound, a file that cannot be read): the
// file's name on the background.
void DrawName(QImage& slide, const QString& name, const QColor& background) {
  QPainter painter(&slide);
  QFont font = painter.font();
  font.setPixelSize(std::max(12, slide.height() / 30));
  painter.setFont(font);
  painter.setPen(background.lightnessF() > 0.5 ? Qt::black : Qt::white);
  painter.drawText(slide.rect(), Qt::AlignCenter | Qt::TextWordWrap, name);
}

}  // namespace

// --- placement and composing -----------------------------------------------

QRectF PlacedRect(QSize picture, QSize stage, MediaScaling scaling) {
  if (picture.isEmpty() || stage.isEmpty()) return {};
  const double scale = Scale(QSizeF(picture), QSizeF(stage), scaling);
  const QSizeF size(picture.width() * scale, picture.height() * scale);
  return {(stage.width() - size.width()) / 2.0, (stage.height() - size.height()) / 2.0, size.width(), size.height()};
}

QImage ComposeSlide(const QImage& picture, QSize stage, MediaScaling scaling, const QColor& background) {
  QImage slide = Background(stage, background);
  if (picture.isNull()) return slide;
  QPainter painter(&slide);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF centre = PlacedRect(picture.size(), stage, scaling);
  if (scaling != MediaScaling::kTile) {
    DrawVisiblePart(painter, picture, centre, slide.rect());
    return slide;
  }
  // Tiles at actual size, one of them centred, repeated to every edge.
  const int w = picture.width();
  const int h = picture.height();
  const int x0 = static_cast<int>(std::lround(centre.x()));
  const int y0 = static_cast<int>(std::lround(centre.y()));
  const int left = x0 - ((x0 + w - 1) / w) * w;
  const int top = y0 - ((y0 + h - 1) / h) * h;
  for (int y = top; y < stage.height(); y += h) {
    for (int x = left; x < stage.width(); x += w) painter.drawImage(QPoint(x, y), picture);
  }
  return slide;
}

void PaintTransition(QPainter& painter, const QImage& from, const QImage& to, Transition transition,
                     double progress) {
  const double p = std::clamp(progress, 0.0, 1.0);
  const int w = to.width();
  const int h = to.height();
  if (p <= 0.0) {
    painter.drawImage(0, 0, from);
    return;
  }
  if (p >= 1.0) {
    painter.drawImage(0, 0, to);
    return;
  }
  painter.save();
  switch (transition) {
    case Transition::kNone:
    case Transition::kRandom: painter.drawImage(0, 0, to); break;
    case Transition::kCrossFade:
      painter.drawImage(0, 0, from);
      painter.setOpacity(p);
      painter.drawImage(0, 0, to);
      break;
    case Transition::kSlideLeftToRight: {
      // The new slide pushes the old one out to the right.
      const int x = static_cast<int>(std::lround(p * w));
      painter.drawImage(x, 0, from);
      painter.drawImage(x - w, 0, to);
      break;
    }
    case Transition::kSlideTopToBottom: {
      const int y = static_cast<int>(std::lround(p * h));
      painter.drawImage(0, y, from);
      painter.drawImage(0, y - h, to);
      break;
    }
    default: {
      // The rest reveal the new slide through a growing shape.
      painter.drawImage(0, 0, from);
      QPainterPath shape;
      const QPointF centre(w / 2.0, h / 2.0);
      switch (transition) {
        case Transition::kBarnHorizontal: shape.addRect(QRectF(w * (1 - p) / 2, 0, w * p, h)); break;
        case Transition::kBarnVertical: shape.addRect(QRectF(0, h * (1 - p) / 2, w, h * p)); break;
        case Transition::kBlindsHorizontal:
          for (int i = 0; i < kBlinds; ++i) shape.addRect(QRectF(0, h * i / double(kBlinds), w, h * p / kBlinds));
          break;
        case Transition::kBlindsVertical:
          for (int i = 0; i < kBlinds; ++i) shape.addRect(QRectF(w * i / double(kBlinds), 0, w * p / kBlinds, h));
          break;
        case Transition::kIrisCircle: {
          const double r = p * std::hypot(w, h) / 2;
          shape.addEllipse(centre, r, r);
          break;
        }
        case Transition::kIrisSquare: {
          const double side = p * std::max(w, h);
          shape.addRect(QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side));
          break;
        }
        case Transition::kRadial: {
          // A wedge from twelve o'clock sweeping clockwise.
          const double r = std::hypot(w, h);
          shape.moveTo(centre);
          shape.arcTo(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 90.0, -360.0 * p);
          shape.closeSubpath();
          break;
        }
        default: shape.addRect(QRectF(0, 0, w, h)); break;
      }
      shape.setFillRule(Qt::WindingFill);
      painter.setClipPath(shape);
      painter.drawImage(0, 0, to);
      break;
    }
  }
  painter.restore();
}

QImage ComposeFrame(const QImage& from, const QImage& to, Transition transition, double progress) {
  QImage frame(to.size(), QImage::Format_RGB32);
  frame.fill(Qt::black);
  QPainter painter(&frame);
  PaintTransition(painter, from, to, transition, progress);
  return frame;
}

Transition PickTransition(Transition chosen, std::mt19937& random) {
  if (chosen != Transition::kRandom) return chosen;
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kRealTransitions) - 1);
  return kRealTransitions[pick(random)];
}

// --- the order of the items ------------------------------------------------

SlideOrder::SlideOrder(int count, int start, bool random, bool continuous, std::uint32_t seed)
    : count_(std::max(0, count)), random_(random), continuous_(continuous), random_source_(seed) {
  if (count_ == 0) return;
  start = std::clamp(start, 0, count_ - 1);
  if (random_) {
    sequence_.resize(static_cast<std::size_t>(count_));
    std::iota(sequence_.begin(), sequence_.end(), 0);
    std::shuffle(sequence_.begin(), sequence_.end(), random_source_);
    std::iter_swap(sequence_.begin(), std::find(sequence_.begin(), sequence_.end(), start));
  } else {
    for (int i = start; i < count_; ++i) sequence_.push_back(i);
  }
}

int SlideOrder::current() const { return sequence_.empty() ? -1 : sequence_[position_]; }

void SlideOrder::appendRound() {
  std::vector<int> round(static_cast<std::size_t>(count_));
  std::iota(round.begin(), round.end(), 0);
  if (random_) {
    std::shuffle(round.begin(), round.end(), random_source_);
    // No item twice in a row across the rounds.
    if (round.size() > 1 && round.front() == sequence_.back()) std::swap(round[0], round[1]);
  }
  // Only one round of history is kept for going back.
  if (position_ > static_cast<std::size_t>(count_)) {
    const std::size_t drop = position_ - static_cast<std::size_t>(count_);
    sequence_.erase(sequence_.begin(), sequence_.begin() + static_cast<std::ptrdiff_t>(drop));
    position_ -= drop;
  }
  sequence_.insert(sequence_.end(), round.begin(), round.end());
}

std::optional<int> SlideOrder::peekNext() {
  if (sequence_.empty()) return std::nullopt;
  if (position_ + 1 >= sequence_.size()) {
    if (!continuous_) return std::nullopt;
    appendRound();
  }
  return sequence_[position_ + 1];
}

std::optional<int> SlideOrder::next() {
  const std::optional<int> item = peekNext();
  if (item) ++position_;
  return item;
}

std::optional<int> SlideOrder::previous() {
  if (position_ == 0) return std::nullopt;
  --position_;
  return current();
}

// --- the player ------------------------------------------------------------

SlideShowPlayer::SlideShowPlayer(std::vector<SlideItem> items, int start, const output::SlideShowOptions& options,
                                 QWidget* parent)
    : QWidget(parent),
      items_(std::move(items)),
      options_(options),
      background_(QColor::fromRgba64(options.red, options.green, options.blue)),
      start_(start),
      clock_(SteadyClock()),
      seed_(std::random_device{}()) {
  setWindowTitle(tr("Slide Show"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  // One worker: the next slide is ready long before it is due, and the
  // other core stays with the interface.
  pool_.setMaxThreadCount(1);
  frames_.setTimerType(Qt::PreciseTimer);
  frames_.setInterval(kFrameMs);
  connect(&frames_, &QTimer::timeout, this, &SlideShowPlayer::tick);
}

SlideShowPlayer::~SlideShowPlayer() {
  forgetAll();
  pool_.waitForDone();
}

void SlideShowPlayer::showOn(QScreen* screen) {
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    setGeometry(screen->geometry());
    winId();
    if (windowHandle() != nullptr) windowHandle()->setScreen(screen);
  }
  if (!options_.controller) setCursor(Qt::BlankCursor);
  showFullScreen();
  activateWindow();
  setFocus();
  start();
}

void SlideShowPlayer::start() {
  stage_ = size();
  random_.seed(seed_);
  order_ = std::make_unique<SlideOrder>(static_cast<int>(items_.size()), start_, options_.random != 0,
                                        options_.continuous != 0, seed_);
  from_ = Background(stage_, background_);
  if (desktop_services_) awake_ = std::make_unique<ScreenAwake>(tr("Slide show"));
  if (items_.empty()) {
    end();
    return;
  }
  target_ = order_->current();
  phase_ = Phase::kWaiting;
  keepSlides();
  frames_.start();
  tick();
}

int SlideShowPlayer::currentItem() const { return target_; }

qint64 SlideShowPlayer::transitionMs() const {
  if (transition_ == Transition::kNone || transition_ == Transition::kRandom) return 0;
  return std::min<qint64>(kTransitionMs, options_.secondsPerSlide() * 1000LL / 2);
}

QFuture<QImage> SlideShowPlayer::prepare(int item) {
  const SlideItem slide = items_[static_cast<std::size_t>(item)];
  const QSize stage = stage_;
  const MediaScaling scaling = options_.scaling();
  const QColor background = background_;
  const quint64 ticket = ++last_ticket_;
  {
    const QMutexLocker lock(&live_->mutex);
    live_->tickets.insert(ticket);
  }
  tickets_.insert(item, ticket);
  return QtConcurrent::run(&pool_, [slide, stage, scaling, background, ticket, live = live_] {
    // A slide no longer wanted (the user went elsewhere) is not decoded.
    {
      const QMutexLocker lock(&live->mutex);
      if (!live->tickets.contains(ticket)) return QImage();
    }
    QImage picture;
    if (!slide.path.isEmpty()) {
      const int box = NeedsFullSize(scaling) ? 0 : 2 * std::max(stage.width(), stage.height());
      imaging::PixelBuffer pixels;
      if (media::MakePreview(U(slide.path), slide.type_code, box, slide.rotation, &pixels) == err::kNone) {
        picture = ImageFromPixels(pixels);
      }
    }
    QImage composed = ComposeSlide(picture, stage, scaling, background);
    if (picture.isNull()) DrawName(composed, slide.name, background);
    return composed;
  });
}

void SlideShowPlayer::keepSlides() {
  if (!order_ || target_ < 0) return;
  QList<int> wanted{target_};
  if (const std::optional<int> next = order_->peekNext()) wanted.push_back(*next);
  for (auto it = slides_.begin(); it != slides_.end();) {
    if (wanted.contains(it.key())) {
      ++it;
      continue;
    }
    forget(it.key());
    it = slides_.erase(it);
  }
  for (int item : wanted) {
    if (!slides_.contains(item)) slides_.insert(item, prepare(item));
  }
}

void SlideShowPlayer::forget(int item) {
  const QMutexLocker lock(&live_->mutex);
  live_->tickets.remove(tickets_.take(item));
}

void SlideShowPlayer::forgetAll() {
  for (auto it = slides_.begin(); it != slides_.end(); ++it) forget(it.key());
  slides_.clear();
}

void SlideShowPlayer::waitForSlides() {
  for (QFuture<QImage>& slide : slides_) slide.waitForFinished();
}

void SlideShowPlayer::tick() {
  switch (phase_) {
    case Phase::kWaiting: {
      auto slide = slides_.find(target_);
      if (slide == slides_.end()) {
        keepSlides();
        return;
      }
      if (!slide->isFinished()) return;
      to_ = slide->result();
      beginSlide();
      return;
    }
    case Phase::kTransition: {
      const qint64 length = transitionMs();
      const qint64 elapsed = now() - phase_start_;
      if (length > 0 && elapsed < length) {
        progress_ = static_cast<double>(elapsed) / static_cast<double>(length);
        update();
        return;
      }
      progress_ = 1.0;
      phase_start_ += std::max<qint64>(length, 0);
      phase_ = Phase::kShowing;
      update();
      if (isPlayable(target_)) startPlayback();
      return;
    }
    case Phase::kShowing:
      if (now() - phase_start_ >= options_.secondsPerSlide() * 1000LL) goTo(order_->next());
      return;
    case Phase::kPlaying:
    case Phase::kEnded: return;
  }
}

void SlideShowPlayer::beginSlide() {
  transition_ = PickTransition(options_.transition(), random_);
  phase_ = Phase::kTransition;
  phase_start_ = now();
  progress_ = 0;
  Q_EMIT itemShown(target_);
  keepSlides();
  tick();
  update();
}

void SlideShowPlayer::goTo(std::optional<int> item) {
  if (phase_ == Phase::kEnded) return;
  stopPlayback();
  if (!item) {
    end();
    return;
  }
  from_ = frame();
  to_ = QImage();
  target_ = *item;
  phase_ = Phase::kWaiting;
  keepSlides();
  tick();
}

void SlideShowPlayer::goNext() {
  if (order_) goTo(order_->next());
}

void SlideShowPlayer::goPrevious() {
  if (!order_) return;
  if (const std::optional<int> item = order_->previous()) goTo(item);
}

void SlideShowPlayer::end() {
  if (phase_ == Phase::kEnded) return;
  phase_ = Phase::kEnded;
  stopPlayback();
  frames_.stop();
  awake_.reset();
  forgetAll();
  Q_EMIT finished();
  close();
}

QImage SlideShowPlayer::frame() const {
  switch (phase_) {
    case Phase::kWaiting: return from_;
    case Phase::kTransition: return ComposeFrame(from_, to_, transition_, progress_);
    default: return to_.isNull() ? from_ : to_;
  }
}

QStringList SlideShowPlayer::InfoLines(const SlideItem& item) {
  QStringList lines{item.name};
  if (!item.dimensions.isEmpty()) {
    lines.push_back(tr("%1 x %2 pixels").arg(item.dimensions.width()).arg(item.dimensions.height()));
  }
  if (!item.caption.isEmpty()) lines.push_back(item.caption);
  return lines;
}

QFont SlideShowPlayer::infoFont() const {
  QFont font = this->font();
  font.setPixelSize(std::max(12, height() / 50));
  return font;
}

int SlideShowPlayer::infoHeight() const {
  if (!options_.media_info || target_ < 0) return 0;
  const QFontMetrics metrics(infoFont(), this);
  const auto lines = static_cast<int>(InfoLines(items_[static_cast<std::size_t>(target_)]).size());
  return metrics.lineSpacing() * lines + 2 * metrics.height();
}

int SlideShowPlayer::controllerHeight() const {
  return controller_ != nullptr && controller_->isVisible() ? controller_->height() : 0;
}

void SlideShowPlayer::placeVideo() {
  if (video_ == nullptr || controller_ == nullptr) return;
  const int bar = options_.controller ? controller_->sizeHint().height() : 0;
  controller_->setGeometry(0, height() - bar, width(), bar);
  video_->setGeometry(0, 0, width(), std::max(1, height() - bar - infoHeight()));
}

// --- movies and sounds -----------------------------------------------------

bool SlideShowPlayer::isPlayable(int item) const {
  if (!desktop_services_ || item < 0) return false;
  const SlideItem& slide = items_[static_cast<std::size_t>(item)];
  const media::MediaClass kind = media::GetMediaClass(slide.type_code);
  return !slide.path.isEmpty() && (kind == media::MediaClass::Video || kind == media::MediaClass::Audio);
}

QMediaPlayer* SlideShowPlayer::mediaPlayer() {
  if (player_ != nullptr) return player_;
  player_ = new QMediaPlayer(this);
  audio_ = new QAudioOutput(this);
  player_->setAudioOutput(audio_);
  video_ = new QVideoWidget(this);
  video_->setAspectRatioMode(Qt::KeepAspectRatio);
  video_->hide();
  player_->setVideoOutput(video_);

  controller_ = new QWidget(this);
  controller_->setAutoFillBackground(true);
  play_ = new QToolButton(controller_);
  play_->setText(tr("Pause"));
  position_ = new QSlider(Qt::Horizontal, controller_);
  auto* bar = new QHBoxLayout(controller_);
  bar->addWidget(play_);
  bar->addWidget(position_, 1);
  controller_->hide();
  // The keys stay with the stage: Space goes on rather than pressing a button.
  play_->setFocusPolicy(Qt::NoFocus);
  position_->setFocusPolicy(Qt::NoFocus);
  video_->setFocusPolicy(Qt::NoFocus);

  connect(play_, &QToolButton::clicked, this, [this] {
    if (player_->playbackState() == QMediaPlayer::PlayingState) {
      player_->pause();
    } else {
      player_->play();
    }
  });
  connect(player_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
    play_->setText(state == QMediaPlayer::PlayingState ? tr("Pause") : tr("Play"));
  });
  connect(player_, &QMediaPlayer::durationChanged, this,
          [this](qint64 duration) { position_->setRange(0, static_cast<int>(duration)); });
  connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 at) {
    if (!position_->isSliderDown()) position_->setValue(static_cast<int>(at));
  });
  connect(position_, &QSlider::sliderMoved, this, [this](int at) { player_->setPosition(at); });
  connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
    if (phase_ == Phase::kPlaying && (status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia)) {
      playbackEnded();
    }
  });
  connect(player_, &QMediaPlayer::errorOccurred, this, [this] {
    if (phase_ == Phase::kPlaying) playbackEnded();
  });
  return player_;
}

void SlideShowPlayer::startPlayback() {
  const SlideItem& slide = items_[static_cast<std::size_t>(target_)];
  phase_ = Phase::kPlaying;
  QMediaPlayer* player = mediaPlayer();
  player->setSource(QUrl::fromLocalFile(slide.path));
  const bool movie = media::GetMediaClass(slide.type_code) == media::MediaClass::Video;
  placeVideo();
  video_->setVisible(movie);
  controller_->setVisible(options_.controller != 0);
  update();
  if (options_.controller) unsetCursor();
  player->play();
}

void SlideShowPlayer::stopPlayback() {
  if (player_ == nullptr) return;
  player_->stop();
  video_->hide();
  controller_->hide();
  if (!options_.controller) setCursor(Qt::BlankCursor);
}

void SlideShowPlayer::playbackEnded() {
  // The slide's time is up: the next frame moves on, outside the player's
  // signal handler (its source changes there).
  phase_ = Phase::kShowing;
  phase_start_ = now() - options_.secondsPerSlide() * 1000LL;
}

// --- events ----------------------------------------------------------------

void SlideShowPlayer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), background_);
  switch (phase_) {
    case Phase::kWaiting: painter.drawImage(0, 0, from_); break;
    case Phase::kTransition: PaintTransition(painter, from_, to_, transition_, progress_); break;
    case Phase::kPlaying:
      // A movie shows in its own widget; the strip it leaves stays plain.
      if (video_ != nullptr && video_->isVisible()) break;
      painter.drawImage(0, 0, to_.isNull() ? from_ : to_);
      break;
    default: painter.drawImage(0, 0, to_.isNull() ? from_ : to_); break;
  }
  if (!options_.media_info || target_ < 0 || phase_ == Phase::kWaiting) return;

  // The info box: bottom left, above the controller when it shows (and
  // below a playing movie, which leaves it room).
  const QStringList lines = InfoLines(items_[static_cast<std::size_t>(target_)]);
  painter.setFont(infoFont());
  const QFontMetrics metrics = painter.fontMetrics();
  const int margin = metrics.height();
  // Lines too long for the stage are cut with an ellipsis.
  const int room = std::max(margin, width() - 4 * margin);
  int text_width = 0;
  for (const QString& line : lines) text_width = std::max(text_width, metrics.horizontalAdvance(line) + 1);
  text_width = std::min(text_width, room);
  const int text_height = metrics.lineSpacing() * static_cast<int>(lines.size());
  const int bottom = height() - margin / 2 - controllerHeight();
  const QRect box(margin, bottom - text_height - margin, text_width + 2 * margin, text_height + margin);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 0, 170));
  painter.drawRoundedRect(box, margin / 3.0, margin / 3.0);
  painter.setPen(Qt::white);
  int y = box.top() + margin / 2 + metrics.ascent();
  for (const QString& line : lines) {
    painter.drawText(box.left() + margin, y, metrics.elidedText(line, Qt::ElideRight, room));
    y += metrics.lineSpacing();
  }
}

void SlideShowPlayer::keyPressEvent(QKeyEvent* event) {
  if (!options_.interactive) {
    end();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape: end(); return;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Space:
    case Qt::Key_PageDown:
    case Qt::Key_Return:
    case Qt::Key_Enter: goNext(); return;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_PageUp:
    case Qt::Key_Backspace: goPrevious(); return;
    default: QWidget::keyPressEvent(event); return;
  }
}

void SlideShowPlayer::mousePressEvent(QMouseEvent* event) {
  if (!options_.interactive) {
    end();
    return;
  }
  if (event->button() == Qt::LeftButton) {
    goNext();
  } else if (event->button() == Qt::RightButton) {
    goPrevious();
  }
}

void SlideShowPlayer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!order_ || phase_ == Phase::kEnded || size() == stage_) return;
  // A new stage size: every slide is made again for it.
  stage_ = size();
  forgetAll();
  from_ = Background(stage_, background_);
  to_ = QImage();
  if (phase_ != Phase::kPlaying) phase_ = Phase::kWaiting;
  keepSlides();
  placeVideo();
}

void SlideShowPlayer::closeEvent(QCloseEvent* event) {
  end();
  QWidget::closeEvent(event);
}

}  // namespace norvo::views
