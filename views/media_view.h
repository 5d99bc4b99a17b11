// SPDX-License-Identifier: GPL-3.0-or-later
// The media view: the current item large. Still pictures come from the
// readers' preview (made on the thread pool, turned by the item's viewing
// rotation); movies and sounds play with Qt Multimedia. Previous and next
// walk the rows of the shared selection; Escape leaves full screen.
#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QWidget>

#include <cstdint>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QStackedWidget;
class QToolButton;
class QVideoWidget;

namespace norvo::views {

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

 Q_SIGNALS:
  void previousRequested();
  void nextRequested();
  void previewReady();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showPicture();
  QMediaPlayer* player();

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
};

}  // namespace norvo::views
