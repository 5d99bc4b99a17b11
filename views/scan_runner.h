// SPDX-License-Identifier: GPL-3.0-or-later
// Scans a catalog's new items while the window stays usable: files are read
// on a pool of worker threads (media::ScanFile touches no catalog), and each
// result is applied to the catalog on the interface thread as it arrives
// (media::ApplyScanOutcome), as the command line's scan does. A few files
// per worker are kept in flight so that the pool never waits for the
// interface, and the interface never waits for the pool.
#pragma once

#include <QObject>
#include <QThreadPool>

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <vector>

#include "catalog/catalog.h"
#include "media/item_scan.h"

namespace norvo::views {

class ScanRunner : public QObject {
  Q_OBJECT

 public:
  // `jobs`: worker threads, 0 for one per core.
  ScanRunner(catalog::Catalog* catalog, int jobs = 0, QObject* parent = nullptr);
  ~ScanRunner() override;

  // Adds items to scan (already queued ones are not added twice).
  void enqueue(const std::vector<std::uint32_t>& item_ids, const media::ScanOptions& options);
  // Drops what is queued and lets the files being read finish unapplied.
  void cancel();
  bool running() const { return !queue_.empty() || in_flight_ > 0; }
  const media::ScanSummary& summary() const { return summary_; }
  // Waits, processing events, until every queued item is done (tests, bench).
  void waitForIdle();

 Q_SIGNALS:
  void itemScanned(quint32 item_id);
  // done of total for the current run of work; a run ends when the queue
  // empties.
  void progress(int done, int total);
  void finished();
  // The catalog itself refused a result (scratch file full ...): scanning stops.
  void failed(int error);

 private:
  struct Job {
    std::uint32_t item_id = 0;
    media::ScanOptions options;
  };
  struct Done;
  void pump();
  void apply(std::shared_ptr<Done> done);

  catalog::Catalog* catalog_;
  QThreadPool pool_;
  int window_;  // files kept in flight
  std::deque<Job> queue_;
  std::set<std::uint32_t> waiting_;  // queued or in flight
  int in_flight_ = 0;
  quint64 generation_ = 0;  // a cancel starts a new generation
  int done_ = 0;
  int total_ = 0;
  media::ScanSummary summary_;
};

}  // namespace norvo::views
