// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/thumbnail_cache.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <malloc.h>

#include "imaging/thumbnail.h"
#include "views/qt_support.h"

namespace norvo::views {

ThumbnailCache::ThumbnailCache(qint64 byte_limit, QObject* parent) : QObject(parent), byte_limit_(byte_limit) {
  // Leave one core to the interface thread.
  pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
  trim_.setSingleShot(true);
  trim_.setInterval(1500);
  connect(&trim_, &QTimer::timeout, this, [] { malloc_trim(0); });
}

ThumbnailCache::~ThumbnailCache() {
  pool_.clear();
  pool_.waitForDone();
}

QImage ThumbnailCache::find(std::uint32_t item_id) {
  auto it = entries_.find(item_id);
  if (it == entries_.end()) return {};
  uses_.splice(uses_.begin(), uses_, it->use);
  return it->image;
}

void ThumbnailCache::request(std::uint32_t item_id, std::vector<std::uint8_t> stored) {
  if (in_flight_.contains(item_id) || entries_.contains(item_id)) return;
  const quint64 generation = ++generation_;
  in_flight_.insert(item_id, generation);
  QPointer<ThumbnailCache> self(this);
  pool_.start([self, item_id, generation, bytes = std::move(stored)] {
    imaging::PixelBuffer picture;
    QImage image;
    if (!bytes.empty() && imaging::DecodeStoredThumbnail(bytes, &picture) == err::kNone) {
      image = ImageFromPixels(picture);
    }
    if (!self) return;
    QMetaObject::invokeMethod(
        self.data(), [self, item_id, generation, image] {
          if (self) self->take(item_id, generation, image);
        },
        Qt::QueuedConnection);
  });
}

void ThumbnailCache::take(std::uint32_t item_id, quint64 generation, const QImage& image) {
  auto flight = in_flight_.find(item_id);
  if (flight == in_flight_.end() || flight.value() != generation) return;  // invalidated meanwhile
  in_flight_.erase(flight);
  ++decodes_;
  uses_.push_front(item_id);
  entries_.insert(item_id, Entry{image, uses_.begin()});
  bytes_ += image.sizeInBytes();
  evict();
  Q_EMIT ready(item_id);
}

void ThumbnailCache::evict() {
  if (bytes_ > byte_limit_) trim_.start();
  while (bytes_ > byte_limit_ && uses_.size() > 1) {
    const std::uint32_t oldest = uses_.back();
    uses_.pop_back();
    auto it = entries_.find(oldest);
    if (it != entries_.end()) {
      bytes_ -= it->image.sizeInBytes();
      entries_.erase(it);
    }
  }
}

void ThumbnailCache::invalidate(std::uint32_t item_id) {
  in_flight_.remove(item_id);
  auto it = entries_.find(item_id);
  if (it == entries_.end()) return;
  bytes_ -= it->image.sizeInBytes();
  uses_.erase(it->use);
  entries_.erase(it);
}

void ThumbnailCache::clear() {
  in_flight_.clear();
  entries_.clear();
  uses_.clear();
  bytes_ = 0;
}

void ThumbnailCache::waitForDone() {
  pool_.waitForDone();
  // The results are queued to this thread: take them (all are posted by now).
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

}  // namespace norvo::views
