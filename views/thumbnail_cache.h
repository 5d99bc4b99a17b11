// SPDX-License-Identifier: GPL-3.0-or-later
// Decoded thumbnails for the views, by ItemId. The stored thumbnail bytes
// are read on the interface thread (the catalog engine is single-threaded)
// and decoded on the thread pool; `ready` says when a picture has arrived.
// The cache holds at most `byte_limit` bytes of pictures and drops the
// least recently used first, so memory stays bounded however large the
// catalog.
#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <cstdint>
#include <list>
#include <vector>

namespace norvo::views {

class ThumbnailCache : public QObject {
  Q_OBJECT

 public:
  static constexpr qint64 kDefaultByteLimit = 96LL * 1024 * 1024;

  explicit ThumbnailCache(qint64 byte_limit = kDefaultByteLimit, QObject* parent = nullptr);
  ~ThumbnailCache() override;

  // The decoded picture, or a null image when it is not (yet) here.
  QImage find(std::uint32_t item_id);
  bool contains(std::uint32_t item_id) const { return entries_.contains(item_id); }
  // Whether a decode of the item is under way.
  bool requested(std::uint32_t item_id) const { return in_flight_.contains(item_id); }
  // Decodes the stored bytes on the pool; `ready` follows. A second request
  // for the same item while one runs is ignored.
  void request(std::uint32_t item_id, std::vector<std::uint8_t> stored);
  // Drops the item's picture (its thumbnail changed); a decode under way
  // for it is not taken when it arrives.
  void invalidate(std::uint32_t item_id);
  void clear();

  qint64 bytes() const { return bytes_; }
  qint64 byteLimit() const { return byte_limit_; }
  int decodes() const { return decodes_; }
  // Waits until every decode under way has finished and been taken (tests,
  // benchmarks).
  void waitForDone();

 Q_SIGNALS:
  void ready(quint32 item_id);

 private:
  struct Entry {
    QImage image;
    std::list<std::uint32_t>::iterator use;
  };
  void take(std::uint32_t item_id, quint64 generation, const QImage& image);
  void evict();

  qint64 byte_limit_;
  qint64 bytes_ = 0;
  int decodes_ = 0;
  quint64 generation_ = 0;
  QHash<std::uint32_t, Entry> entries_;
  QHash<std::uint32_t, quint64> in_flight_;  // item -> generation of its request
  std::list<std::uint32_t> uses_;           // most recent first
  QThreadPool pool_;
  // After evictions, once requests have stopped for a moment, the freed
  // pictures' memory goes back to the system rather than staying in the
  // allocator's reserve (which otherwise doubles the program's footprint
  // after a long scroll).
  QTimer trim_;
};

}  // namespace norvo::views
