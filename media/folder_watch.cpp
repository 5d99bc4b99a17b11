// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/folder_watch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>

#include "catalog/catalog.h"
#include "media/type_recognition.h"

namespace norvo::media {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.ends_with('/')) path.pop_back();
  return path;
}

std::u16string FoldedLeaf(const std::string& path) { return FoldPathCase(LeafName(path)); }

}  // namespace

double WatchPacer::step(double seconds) {
  average_ = 0.3 * average_ + 0.7 * seconds;
  if (average_ > kSlowStep) {
    pause_ = std::min(pause_ * 2, kLongestPause);
  } else if (average_ < kFastStep) {
    pause_ = std::max(pause_ - 0.0001, kShortestPause);
  }
  return pause_;
}

std::chrono::milliseconds WatchCheckDelay(WatchRate rate, bool first) {
  using std::chrono::milliseconds;
  if (first) return milliseconds(100);
  switch (rate) {
    case WatchRate::kEveryMinute: return milliseconds(60'000);
    case WatchRate::kEveryFiveMinutes: return milliseconds(300'000);
    case WatchRate::kContinuous: break;
  }
  return milliseconds(100);
}

WatchedEntry ClassifyWatchedEntry(const EntryInfo& found, const ImportSettings& options) {
  WatchedEntry out{found.path, found.path, 0};
  EntryInfo entry = found;
  if (entry.is_link) {
    std::string target;
    if (options.ignore_shortcuts || !ResolveShortcut(entry, target)) return out;
    if (GetEntryInfo(target, entry) != err::kNone) return out;
    if (entry.is_link) {  // a canonical path names no link; guard against a race
      return out;
    }
    if (entry.is_folder) return out;  // folders are not followed through links
    out.catalog_path = target;
  }
  const bool hidden = entry.invisible && options.ignore_invisible;
  if (entry.is_folder) {
    out.code = hidden ? 0 : kFolderCode;
    return out;
  }
  if (hidden || (entry.data_size == 0 && entry.resource_size == 0)) return out;
  FileSpec spec;
  if (MakeFileSpec(entry.path, spec) != err::kNone) return out;
  const std::uint32_t type = RecognizeMediaFile(spec, options.class_mask);
  if (type == 0) return out;
  struct stat st {};
  if (::stat(entry.path.c_str(), &st) != 0) return out;
  const FileFacts facts{spec.name, static_cast<std::uint64_t>(st.st_size), entry.created, entry.modified, type};
  if (!MatchesImportFilters(0, facts, options)) return out;
  out.code = type;
  return out;
}

// --- the worker ---------------------------------------------------------------------

FolderWatcher::FolderWatcher(std::string folder, const ImportSettings& options)
    : folder_(WithoutTrailingSlash(std::move(folder))), options_(options), thread_([this] { run(); }) {}

FolderWatcher::~FolderWatcher() { stop(); }

void FolderWatcher::stop() {
  {
    std::lock_guard lock(control_mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<WatchListing> FolderWatcher::take() {
  std::lock_guard control(control_mutex_);
  if (!listing_done_) return std::nullopt;
  // The worker appends only while a listing runs, so the lists are complete
  // and still here; the two mutexes are taken one after the other.
  WatchListing out;
  {
    std::lock_guard lock(files_mutex_);
    out.files.swap(files_);
  }
  {
    std::lock_guard lock(folders_mutex_);
    out.folders.swap(folders_);
  }
  out.available = available_;
  listing_done_ = false;
  next_requested_ = true;
  wake_.notify_all();
  return out;
}

bool FolderWatcher::rest(double seconds) {
  std::unique_lock lock(control_mutex_);
  return !wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

bool FolderWatcher::listOnce() {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder_.c_str()));
  {
    std::lock_guard lock(control_mutex_);
    available_ = dir != nullptr;
  }
  if (!dir) return true;
  WatchPacer pacer;
  while (true) {
    const auto started = std::chrono::steady_clock::now();
    const dirent* e = ::readdir(dir.get());
    if (e == nullptr) return true;
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    EntryInfo info;
    if (GetEntryInfo(JoinPath(folder_, std::string(name)), info) == err::kNone) {
      WatchedEntry entry = ClassifyWatchedEntry(info, options_);
      if (info.is_folder) {
        std::lock_guard lock(folders_mutex_);
        folders_.push_back(std::move(entry));
      } else {
        std::lock_guard lock(files_mutex_);
        files_.push_back(std::move(entry));
      }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const double pause = pacer.step(took.count());
    pause_.store(pause);
    if (!rest(pause)) return false;
  }
}

void FolderWatcher::run() {
  while (listOnce()) {
    std::unique_lock lock(control_mutex_);
    listing_done_ = true;
    wake_.wait(lock, [this] { return stopping_ || next_requested_; });
    if (stopping_) return;
    next_requested_ = false;
  }
}

// --- comparing and synchronising on the owning thread ----------------------------------

FolderDifferences CompareWithCatalog(const catalog::Catalog& catalog, const std::string& folder,
                                     const WatchListing& listing) {
  FolderDifferences out;
  if (!listing.available) return out;
  const std::u16string here = FoldPathCase(WithoutTrailingSlash(folder));
  const std::u16string below = here == u"/" ? here : here + u"/";

  std::unordered_set<std::u16string> known;           // every item's path
  std::map<std::u16string, std::uint32_t> direct;     // leaf -> ItemId of the items in this folder
  std::set<std::u16string> folders_with_items;        // sub-folders holding items at any depth
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
    const std::uint32_t id = catalog.cells[static_cast<std::size_t>(cell - 1)].item_id;
    auto item_folder = catalog.folders.folderOf(id);
    auto path = catalog::ItemPath(catalog, cell);
    if (!item_folder || !path) continue;
    known.insert(FoldPathCase(*path));
    const std::u16string f = FoldPathCase(*item_folder);
    if (f == here) {
      direct.emplace(FoldedLeaf(*path), id);
    } else if (f.starts_with(below)) {
      const std::u16string rest = f.substr(below.size());
      folders_with_items.insert(rest.substr(0, rest.find(u'/')));
    }
  }

  std::unordered_set<std::u16string> on_disk;
  for (const WatchedEntry& e : listing.files) {
    on_disk.insert(FoldedLeaf(e.path));
    if (e.code == 0) continue;
    std::u16string folded = FoldPathCase(e.catalog_path);
    if (known.insert(folded).second) out.new_files.push_back(e.catalog_path);
  }
  for (const WatchedEntry& e : listing.folders) {
    if (e.code != kFolderCode) continue;
    const std::u16string leaf = FoldedLeaf(e.path);
    on_disk.insert(leaf);
    // Temporary browser caches are never imported, so never reported.
    if (!folders_with_items.contains(leaf) && !LeafName(e.path).ends_with("Temporary Internet Files")) {
      out.new_folders.push_back(e.path);
    }
  }
  for (const auto& [leaf, id] : direct) {
    if (!on_disk.contains(leaf)) out.gone_items.push_back(id);
  }
  std::sort(out.new_files.begin(), out.new_files.end());
  std::sort(out.new_folders.begin(), out.new_folders.end());
  std::sort(out.gone_items.begin(), out.gone_items.end());
  return out;
}

ErrorCode SynchronizeFolder(catalog::Catalog& catalog, const FolderDifferences& differences,
                            const ImportProgress& progress, int* added) {
  std::vector<FileSpec> specs;
  for (const auto* list : {&differences.new_files, &differences.new_folders}) {
    for (const std::string& path : *list) {
      FileSpec spec;
      // A file gone since the difference was taken adds nothing.
      if (MakeFileSpec(path, spec) == err::kNone) specs.push_back(std::move(spec));
    }
  }
  if (added) *added = 0;
  if (specs.empty()) return err::kNone;
  return ImportFiles(catalog, specs, progress, added);
}

void FolderWatchSet::watch(const std::string& folder, WatchRate rate, bool auto_update, Clock::time_point now) {
  unwatch(folder);
  const ImportSettings options = GetImportSettings(catalog_);
  folders_.push_back(Watched{std::make_unique<FolderWatcher>(folder, options), rate, auto_update,
                             now + WatchCheckDelay(rate, true)});
}

void FolderWatchSet::unwatch(const std::string& folder) {
  const std::string key = WithoutTrailingSlash(folder);
  std::erase_if(folders_, [&](const Watched& w) { return w.watcher->folder() == key; });
}

void FolderWatchSet::stopAll() { folders_.clear(); }

std::vector<FolderWatchSet::Report> FolderWatchSet::poll(Clock::time_point now, const ImportProgress& progress) {
  std::vector<Report> reports;
  for (Watched& w : folders_) {
    if (now < w.due) continue;
    std::optional<WatchListing> listing = w.watcher->take();
    if (!listing) continue;  // still listing: taken at the next poll
    w.due = now + WatchCheckDelay(w.rate, false);
    Report report{w.watcher->folder(), CompareWithCatalog(catalog_, w.watcher->folder(), *listing)};
    if (report.differences.empty()) continue;
    if (w.auto_update && (!report.differences.new_files.empty() || !report.differences.new_folders.empty())) {
      report.result = SynchronizeFolder(catalog_, report.differences, progress, &report.added);
      report.synchronized = true;
    }
    reports.push_back(std::move(report));
  }
  return reports;
}

std::optional<FolderWatchSet::Clock::time_point> FolderWatchSet::nextDue() const {
  std::optional<Clock::time_point> next;
  for (const Watched& w : folders_) {
    if (!next || w.due < *next) next = w.due;
  }
  return next;
}

}  // namespace norvo::media
