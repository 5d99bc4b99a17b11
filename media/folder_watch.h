// SPDX-License-Identifier: GPL-3.0-or-later
// Folder watching: a worker thread per watched folder lists the folder entry
// by entry and classifies each entry; the thread that owns the catalog takes
// the finished listing over at the watch rate, compares it with the catalog
// (new files, new folders, files gone) and brings new files in through
// ImportFiles. Workers never touch the catalog: they only read the disk and
// the type registry, and hand their results over through two lists, each
// under its own mutex.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "media/import.h"
#include "media/import_options.h"
#include "platform/byte_io.h"

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::media {

inline constexpr std::uint32_t kFolderCode = FourCC("fldr");

// One entry of a watched folder.
struct WatchedEntry {
  std::string path;          // the entry itself (UTF-8)
  std::string catalog_path;  // what an import would catalogue: a link's target, else `path`
  std::uint32_t code = 0;    // kFolderCode; a file's recognised type; 0 for a file import would not take
};

// One complete listing of a watched folder.
struct WatchListing {
  std::vector<WatchedEntry> files;
  std::vector<WatchedEntry> folders;
  bool available = true;  // false: the folder could not be listed
};

// The worker's pause between two entries, in seconds. It adapts to how long
// a step takes: the running average a of the step times becomes
// 0.3 a + 0.7 t; above 5 ms the pause doubles (at most 0.1 s), below 0.2 ms
// it shrinks by 0.1 ms (at least 0.5 ms).
class WatchPacer {
 public:
  static constexpr double kFirstPause = 0.001;
  static constexpr double kLongestPause = 0.1;
  static constexpr double kShortestPause = 0.0005;
  static constexpr double kSlowStep = 0.005;
  static constexpr double kFastStep = 0.0002;

  // Records a step of `seconds` and returns the pause to take now.
  double step(double seconds);
  double pause() const { return pause_; }
  double average() const { return average_; }

 private:
  double pause_ = kFirstPause;
  double average_ = 0;
};

// How often a watched folder is checked.
enum class WatchRate : int { kContinuous = 0, kEveryMinute = 1, kEveryFiveMinutes = 2 };
// The delay before a check: 100 ms for the first; then 60 s, 300 s, or
// 0.1 s for the continuous rate.
std::chrono::milliseconds WatchCheckDelay(WatchRate rate, bool first);

// Classifies one directory entry as the watcher does: 'fldr' for a folder
// (0 for an invisible one while invisible files are ignored); for a file its
// recognised type under the options' class mask, and 0 when it is invisible
// while those are ignored, empty, or fails the filters (folder level 0).
// Symbolic links are judged by their target, as import does.
WatchedEntry ClassifyWatchedEntry(const EntryInfo& entry, const ImportSettings& options);

// The worker of one watched folder. It lists the folder once, then waits
// until its listing is taken and lists it again. Destroying the watcher
// stops and joins the thread.
class FolderWatcher {
 public:
  FolderWatcher(std::string folder, const ImportSettings& options);
  ~FolderWatcher();
  FolderWatcher(const FolderWatcher&) = delete;
  FolderWatcher& operator=(const FolderWatcher&) = delete;

  const std::string& folder() const { return folder_; }
  // The last complete listing, handing it over (and starting the next one);
  // nullopt while a listing is still running.
  std::optional<WatchListing> take();
  // Asks the thread to stop and waits for it.
  void stop();
  // The worker's current pause, in seconds.
  double pause() const { return pause_.load(); }

 private:
  void run();
  bool listOnce();
  // Sleeps for `seconds`; false when asked to stop meanwhile.
  bool rest(double seconds);

  const std::string folder_;
  const ImportSettings options_;

  std::mutex files_mutex_;
  std::vector<WatchedEntry> files_;  // guarded by files_mutex_
  std::mutex folders_mutex_;
  std::vector<WatchedEntry> folders_;  // guarded by folders_mutex_

  std::mutex control_mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;       // guarded by control_mutex_
  bool listing_done_ = false;   // guarded by control_mutex_
  bool next_requested_ = false;  // guarded by control_mutex_
  bool available_ = true;        // guarded by control_mutex_
  std::atomic<double> pause_{WatchPacer::kFirstPause};

  std::thread thread_;  // last: started once everything above exists
};

// What a listing shows that the catalog does not know, and the other way round.
struct FolderDifferences {
  std::vector<std::string> new_files;       // media files no item refers to (the paths to import)
  std::vector<std::string> new_folders;     // sub-folders that hold no item, at any depth
  std::vector<std::uint32_t> gone_items;    // ItemIds of the folder's items whose file is gone
  bool empty() const { return new_files.empty() && new_folders.empty() && gone_items.empty(); }
};

// Compares a listing of `folder` with the catalog's items in that folder.
// Paths are compared without regard to letter case, as import does.
FolderDifferences CompareWithCatalog(const catalog::Catalog& catalog, const std::string& folder,
                                     const WatchListing& listing);

// Brings the new files and folders into the catalog with ImportFiles.
ErrorCode SynchronizeFolder(catalog::Catalog& catalog, const FolderDifferences& differences,
                            const ImportProgress& progress, int* added);

// The watched folders of one catalog, driven from the owning thread's timer.
class FolderWatchSet {
 public:
  using Clock = std::chrono::steady_clock;

  explicit FolderWatchSet(catalog::Catalog& catalog) : catalog_(catalog) {}
  ~FolderWatchSet() { stopAll(); }

  // Starts watching with the catalog's current import options. With
  // `auto_update` new entries are imported without asking. Watching a
  // folder again replaces its watcher.
  void watch(const std::string& folder, WatchRate rate, bool auto_update, Clock::time_point now = Clock::now());
  void unwatch(const std::string& folder);
  void stopAll();
  std::size_t size() const { return folders_.size(); }

  struct Report {
    std::string folder;
    FolderDifferences differences;
    bool synchronized = false;  // the new entries were imported
    int added = 0;
    ErrorCode result = err::kNone;
  };
  // Takes over the listings that are due at `now` and complete, compares
  // them with the catalog and imports into auto-update folders. Returns the
  // folders that differ from the catalog.
  std::vector<Report> poll(Clock::time_point now = Clock::now(), const ImportProgress& progress = {});
  // When poll next has something to do.
  std::optional<Clock::time_point> nextDue() const;

 private:
  struct Watched {
    std::unique_ptr<FolderWatcher> watcher;
    WatchRate rate;
    bool auto_update;
    Clock::time_point due;
  };
  catalog::Catalog& catalog_;
  std::vector<Watched> folders_;
};

}  // namespace norvo::media
