// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/scan_runner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <algorithm>

namespace norvo::views {

struct ScanRunner::Done {
  std::uint32_t item_id = 0;
  quint64 generation = 0;
  bool rebuild = false;
  ErrorCode error = err::kNone;
  media::ScanResult result;
};

ScanRunner::ScanRunner(catalog::Catalog* catalog, int jobs, QObject* parent) : QObject(parent), catalog_(catalog) {
  const int threads = jobs > 0 ? jobs : std::max(1, QThread::idealThreadCount());
  pool_.setMaxThreadCount(threads);
  window_ = threads * 2;
}

ScanRunner::~ScanRunner() {
  queue_.clear();
  ++generation_;
  pool_.waitForDone();
}

void ScanRunner::enqueue(const std::vector<std::uint32_t>& item_ids, const media::ScanOptions& options) {
  if (!running()) {
    done_ = 0;
    total_ = 0;
    summary_ = {};
  }
  for (std::uint32_t id : item_ids) {
    if (!waiting_.insert(id).second) continue;  // queued or being read already
    queue_.push_back(Job{id, options});
    ++total_;
  }
  Q_EMIT progress(done_, total_);
  pump();
}

void ScanRunner::cancel() {
  queue_.clear();
  waiting_.clear();
  ++generation_;
  in_flight_ = 0;
  total_ = done_;
  Q_EMIT progress(done_, total_);
  Q_EMIT finished();
}

void ScanRunner::pump() {
  while (in_flight_ < window_ && !queue_.empty()) {
    const Job job = queue_.front();
    queue_.pop_front();
    auto done = std::make_shared<Done>();
    done->item_id = job.item_id;
    done->generation = generation_;
    done->rebuild = job.options.rebuild;
    std::string path;
    std::uint32_t type = 0;
    // The file's place and type are looked up here: the catalog stays on
    // this thread.
    done->error = media::ScanTarget(*catalog_, job.item_id, &path, &type);
    ++in_flight_;
    if (done->error != err::kNone) {
      QMetaObject::invokeMethod(this, [this, done] { apply(done); }, Qt::QueuedConnection);
      continue;
    }
    QPointer<ScanRunner> self(this);
    pool_.start([self, done, path = std::move(path), type, options = job.options] {
      done->error = media::ScanFile(path, type, options, &done->result);
      if (!self) return;
      QMetaObject::invokeMethod(
          self.data(), [self, done] {
            if (self) self->apply(done);
          },
          Qt::QueuedConnection);
    });
  }
}

void ScanRunner::apply(std::shared_ptr<Done> done) {
  if (done->generation != generation_) return;  // cancelled meanwhile
  --in_flight_;
  waiting_.erase(done->item_id);
  media::ScanOutcome outcome = media::ScanOutcome::kSkipped;
  const ErrorCode e =
      media::ApplyScanOutcome(*catalog_, done->item_id, done->error, done->result, done->rebuild, &outcome);
  done->result = media::ScanResult{};  // free the thumbnail and metadata now
  if (e != err::kNone) {
    queue_.clear();
    waiting_.clear();
    ++generation_;
    in_flight_ = 0;
    Q_EMIT failed(e);
    Q_EMIT finished();
    return;
  }
  switch (outcome) {
    case media::ScanOutcome::kScanned: ++summary_.scanned; break;
    case media::ScanOutcome::kSkipped: ++summary_.skipped; break;
    case media::ScanOutcome::kFailed:
      ++summary_.failed;
      summary_.failures.emplace_back(done->item_id, done->error);
      break;
  }
  ++done_;
  Q_EMIT itemScanned(done->item_id);
  Q_EMIT progress(done_, total_);
  pump();
  if (!running()) Q_EMIT finished();
}

void ScanRunner::waitForIdle() {
  // A loop of its own that sleeps until the next result: spinning here
  // would take a core from the workers.
  if (!running()) return;
  QEventLoop loop;
  connect(this, &ScanRunner::finished, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace norvo::views
