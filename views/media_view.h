// SPDX-License-Identifier: GPL-3.0-or-later
// The media view: the current item large. Still pictures come from the
// readers' preview (made on the thread pool, turned by the item's viewing
// rotation); movies and sounds play with Qt Multimedia. Previous and next
// walk the rows of the shared selection; Escape leaves full screen.
//
// Playlist playback: while the view plays (Play on a movie or sound, or on
// a still with playlist mode on), an item that is no longer playing hands
// on to the next one. With playlist mode off playback stops there; with it
// on, a still stays for the stills pause (counted in 1/60-second ticks,
// pause x 60), a finished movie or sound goes on at once, and the view asks
// for the next item of the catalog (playlistNextRequested; the catalog
// window goes from the last item back to the first).
#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>

#include "views/ms_clock.h"

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QStackedWidget;
class QToolButton;
class QVideoWidget;

namespace norvo::app {
class PreferencesBlock;
}

namespace norvo::views {

// The program-wide playlist settings in the preferences block
// (app::pref::kPlaylistMode, kStillsPause). A stored playlist byte other
// than 0 (on) or 1 (off) reads as on; a pause other than 2, 4 or 8 as 4.
inline constexpr int kShortStillsPause = 2;
inline constexpr int kMediumStillsPause = 4;
inline constexpr int kLongStillsPause = 8;
bool PlaylistModeOf(const app::PreferencesBlock& preferences);
int StillsPauseOf(const app::PreferencesBlock& preferences);
void KeepPlaylistMode(app::PreferencesBlock& preferences, bool on);
// `seconds` other than 2, 4 or 8 keeps 4.
void KeepStillsPause(app::PreferencesBlock& preferences, int seconds);

class MediaView : public QWidget {
  Q_OBJECT

 public:
  explicit MediaView(QWidget* parent = nullptr);
  ~MediaView() override;

  // Shows the file at `path` (empty: nothing) of type `type_code`, turned by
  // `rotation`; `caption` is shown under it.
  void showItem(const QString& path, std::uint32_t type_code, std::uint16_t rotation, const QString& caption);
  bool playable() const { return playable_; }
  void togglePlay();
  // The picture now shown (tests).
  QImage picture() const { return picture_; }

  // Playlist playback.
  void setPlaylistMode(bool on);
  bool playlistMode() const { return playlist_mode_; }
  void setStillsPause(int seconds);  // 2, 4 or 8; anything else is 4
  int stillsPause() const { return stills_pause_; }
  // Both from the preferences block.
  void applyPlaylistPreferences(const app::PreferencesBlock& preferences);
  // Whether the view is playing (the playlist runs through its items).
  bool playing() const { return playing_; }
  // The time source of the stills pause (tests).
  void setClock(MsClock clock) { clock_ = std::move(clock); }
  // Counts the ticks of the still shown; called 60 times a second while
  // playing, and by tests after moving their clock.
  void pollPlaylist();

 Q_SIGNALS:
  void previousRequested();
  void nextRequested();
  void previewReady();
  // The playlist moves on: the catalog window shows its next item, the
  // first after the last.
  void playlistNextRequested();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Leaving the media view (another view chosen) stops playback.
  void hideEvent(QHideEvent* event) override;

 private:
  void showPicture();
  QMediaPlayer* player();
  void setPlaying(bool on);
  // The current item is no longer playing: the playlist's step.
  void finishedPlaying();

  QStackedWidget* stack_;
  QLabel* image_;
  QVideoWidget* video_;
  QMediaPlayer* player_ = nullptr;
  QAudioOutput* audio_ = nullptr;
  QLabel* caption_;
  QToolButton* play_;
  QFutureWatcher<QImage> preview_;
  QImage picture_;
  quint64 request_ = 0;
  bool playable_ = false;
  bool still_ = false;  // a picture is shown (not a movie or sound, not empty)
  bool playlist_mode_ = true;
  int stills_pause_ = kMediumStillsPause;
  bool playing_ = false;
  MsClock clock_ = SteadyClock();
  qint64 still_since_ = 0;
  QTimer ticks_;
};

}  // namespace norvo::views
