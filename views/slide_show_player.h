// SPDX-License-Identifier: GPL-3.0-or-later
// The slide show: a stage filling the screen that shows items one after
// another with the options of output/slide_show_options.h.
//
// Each picture is decoded on a worker thread and composed there into a
// stage-sized slide (background, picture placed by the scaling), the next
// one while the current one shows, so the interface thread only blends two
// ready slides per frame. The frame composer and the placement are plain
// functions so that they can be checked offscreen; the player reads time
// from an injectable clock so that a test can stop a transition at any
// point.
//
// Timing: each slide first comes in by its transition (one second, or half
// the slide's time when that is shorter), then stays for its seconds.
// Movies and sounds play to their end instead. With "Interactive", Right,
// Down, Space, Page Down and a click go on, Left, Up and Page Up go back
// and Escape ends; without it any key or click ends the show.
// "Continuous" starts again after the last item; "Random" shows every item
// once per round in a new order each round.
#pragma once

#include <QColor>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QSet>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "output/slide_show_options.h"
#include "views/ms_clock.h"

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;
class QVideoWidget;

namespace norvo::views {

class ScreenAwake;

// One item of a show.
struct SlideItem {
  QString path;  // empty: the file is off-line
  std::uint32_t type_code = 0;
  std::uint16_t rotation = 0;
  QString name;     // the file name
  QSize dimensions;  // as the catalog knows them; empty when not known
  QString caption;
};

// --- placement and composing -----------------------------------------------

// Where a picture of `picture` pixels lies on `stage` for `scaling`, centred
// (it may reach past the stage). For kTile, the one tile at the centre.
QRectF PlacedRect(QSize picture, QSize stage, output::MediaScaling scaling);
// A stage-sized slide: `background`, then the picture placed (repeated at
// actual size over the stage for kTile). Only the visible part of the
// picture is scaled, so a large zoom of a large picture stays cheap.
QImage ComposeSlide(const QImage& picture, QSize stage, output::MediaScaling scaling, const QColor& background);
// Draws the frame of `transition` from slide `from` to slide `to` (same size)
// at `progress` 0..1 (0: all `from`, 1: all `to`). kRandom draws as kNone;
// the player has chosen a real one before.
void PaintTransition(QPainter& painter, const QImage& from, const QImage& to, output::Transition transition,
                     double progress);
QImage ComposeFrame(const QImage& from, const QImage& to, output::Transition transition, double progress);
// The transition a slide comes in with: the chosen one, or for kRandom one
// of the others (not None).
output::Transition PickTransition(output::Transition chosen, std::mt19937& random);

// --- the order of the items ------------------------------------------------

// Which item comes when: from `start` to the last in order, or every item
// once in a random order (the first round beginning with `start`); with
// `continuous` the rounds go on for ever.
class SlideOrder {
 public:
  SlideOrder(int count, int start, bool random, bool continuous, std::uint32_t seed);
  int current() const;
  // The item after the current one; nothing after the last when not
  // continuous (and for no items).
  std::optional<int> peekNext();
  std::optional<int> next();
  // The item shown before this one; nothing at the first.
  std::optional<int> previous();

 private:
  void appendRound();

  int count_;
  bool random_;
  bool continuous_;
  std::mt19937 random_source_;
  std::vector<int> sequence_;  // the items shown and to come, in order
  std::size_t position_ = 0;
};

// --- the player ------------------------------------------------------------

class SlideShowPlayer : public QWidget {
  Q_OBJECT

 public:
  enum class Phase { kWaiting, kTransition, kShowing, kPlaying, kEnded };

  SlideShowPlayer(std::vector<SlideItem> items, int start, const output::SlideShowOptions& options,
                  QWidget* parent = nullptr);
  ~SlideShowPlayer() override;

  // Time source and randomness (tests); set before start().
  void setClock(MsClock clock) { clock_ = std::move(clock); }
  void setSeed(std::uint32_t seed) { seed_ = seed; }
  // Whether start() keeps the screen awake and plays movies (tests turn
  // both off).
  void setDesktopServices(bool on) { desktop_services_ = on; }

  // Full screen on `screen` (null: the primary screen), then runs.
  void showOn(QScreen* screen);
  // Runs on the widget as it is (its size is the stage).
  void start();
  // Looks at the clock: finishes transitions, moves on when a slide's time
  // is up, takes slides that have been prepared. Called by a frame timer;
  // tests call it after setting their clock.
  void tick();
  // Waits for the slides under way (tests).
  void waitForSlides();

  void goNext();
  void goPrevious();
  void end();

  Phase phase() const { return phase_; }
  int currentItem() const;
  double progress() const { return progress_; }
  output::Transition currentTransition() const { return transition_; }
  QSize stageSize() const { return stage_; }
  // What the stage shows now (without the info overlay).
  QImage frame() const;
  // The overlay's lines for an item ("Display media info").
  static QStringList InfoLines(const SlideItem& item);

 Q_SIGNALS:
  // The item now coming in.
  void itemShown(int item);
  void finished();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QFuture<QImage> prepare(int item);
  void goTo(std::optional<int> item);
  void beginSlide();
  void keepSlides();
  bool isPlayable(int item) const;
  void startPlayback();
  void stopPlayback();
  void playbackEnded();
  QMediaPlayer* mediaPlayer();
  qint64 now() const { return clock_(); }
  qint64 transitionMs() const;
  // The media info box: its font, and the height it takes at the bottom.
  QFont infoFont() const;
  int infoHeight() const;
  int controllerHeight() const;
  // The movie above the info box and the controller.
  void placeVideo();

  std::vector<SlideItem> items_;
  output::SlideShowOptions options_;
  QColor background_;
  int start_;
  MsClock clock_;
  std::uint32_t seed_;
  std::mt19937 random_;
  std::unique_ptr<SlideOrder> order_;
  bool desktop_services_ = true;
  std::unique_ptr<ScreenAwake> awake_;

  // Slides under way or ready, by item. Each request has a ticket; a
  // request dropped before its turn finds its ticket gone and does no work.
  struct LiveTickets {
    QMutex mutex;
    QSet<quint64> tickets;
  };
  void forget(int item);
  void forgetAll();
  QThreadPool pool_;
  QHash<int, QFuture<QImage>> slides_;
  QHash<int, quint64> tickets_;
  std::shared_ptr<LiveTickets> live_ = std::make_shared<LiveTickets>();
  quint64 last_ticket_ = 0;
  QSize stage_;

  Phase phase_ = Phase::kWaiting;
  int target_ = -1;  // the item coming in or shown
  QImage from_;
  QImage to_;
  output::Transition transition_ = output::Transition::kNone;
  double progress_ = 0;
  qint64 phase_start_ = 0;
  QTimer frames_;

  QMediaPlayer* player_ = nullptr;
  QAudioOutput* audio_ = nullptr;
  QVideoWidget* video_ = nullptr;
  QWidget* controller_ = nullptr;
  QToolButton* play_ = nullptr;
  QSlider* position_ = nullptr;
};

}  // namespace norvo::views
