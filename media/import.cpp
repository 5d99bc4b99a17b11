// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/import.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "catalog/catalog.h"
#include "media/type_recognition.h"
#include "platform/dates.h"
#include "platform/text_encoding.h"

namespace norvo::media {
namespace {

// While the walk passes over files it does not take, the progress callback
// still runs every so many files, so that a long walk can be stopped.
constexpr int kFilesBetweenReports = 64;

constexpr std::string_view kTemporaryInternetFiles = "Temporary Internet Files";
constexpr std::size_t kMinTemporaryFolderPath = 24;
constexpr std::string_view kShortcutExtension = ".lnk";

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

std::uint32_t DateOf(const struct statx_timestamp& t) { return DateTimeFromUnix(static_cast<std::time_t>(t.tv_sec)); }

ErrorCode FillEntry(const std::string& path, bool follow, EntryInfo& out) {
  struct statx st {};
  const int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
  if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
    return ErrorFromErrno(errno);
  }
  out = EntryInfo{};
  out.path = path;
  out.modified = DateOf(st.stx_mtime);
  // File systems that do not keep a creation time give the modification time.
  out.created = (st.stx_mask & STATX_BTIME) != 0 ? DateOf(st.stx_btime) : out.modified;
  out.is_link = S_ISLNK(st.stx_mode);
  out.is_folder = S_ISDIR(st.stx_mode);
  out.invisible = LeafName(path).starts_with('.');
  if (!out.is_folder && !out.is_link) {
    out.data_size = st.stx_size >= 0x100000000ull ? kHugeFileDataSize : static_cast<std::uint32_t>(st.stx_size);
  }
  return err::kNone;
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  text.remove_prefix(text.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (UpperWindows1252(static_cast<std::uint8_t>(text[i])) != UpperWindows1252(static_cast<std::uint8_t>(tail[i]))) {
      return false;
    }
  }
  return true;
}

bool IsShortcut(const EntryInfo& entry) { return entry.is_link || EndsWithNoCase(entry.path, kShortcutExtension); }

// Whether the name filter's text occurs in the name: the position of its
// first occurrence, or npos. An empty text, or one longer than the name,
// occurs nowhere.
std::size_t FirstOccurrence(std::string_view name, std::string_view text) {
  if (text.empty() || text.size() > name.size()) return std::string_view::npos;
  return name.find(text);
}

bool NameMatches(std::uint8_t op, std::string_view name, std::string_view text) {
  const std::size_t at = FirstOccurrence(name, text);
  switch (op) {
    case name_op::kIs: return name == text;
    case name_op::kContains: return at != std::string_view::npos;
    case name_op::kDoesNotContain: return at == std::string_view::npos;
    case name_op::kStartsWith: return at == 0;
    case name_op::kEndsWith: return at != std::string_view::npos && at == name.size() - text.size();
    case name_op::kIsEmpty: return name.empty();
    case name_op::kIsNotEmpty: return !name.empty();
    default: return false;
  }
}

// An operator outside the list passes: only the other filters refuse it.
bool DateMatches(std::uint8_t op, std::uint32_t file_date, std::uint32_t filter_date) {
  const std::int32_t file_key = ImportDayKey(file_date);
  const std::int32_t filter_key = ImportDayKey(filter_date);
  switch (op) {
    case date_op::kOn: return file_key == filter_key;
    case date_op::kBefore: return file_key < filter_key;
    case date_op::kAfter: return file_key > filter_key;
    default: return true;
  }
}

bool NumberMatches(std::uint8_t op, std::uint64_t file_value, std::uint64_t filter_value) {
  switch (op) {
    case number_op::kEquals: return file_value == filter_value;
    case number_op::kLess: return file_value < filter_value;
    case number_op::kGreater: return file_value > filter_value;
    case number_op::kLessOrEqual: return file_value <= filter_value;
    case number_op::kGreaterOrEqual: return file_value >= filter_value;
    default: return false;
  }
}

bool TypeMatches(std::uint8_t op, std::uint32_t file_type, std::uint32_t filter_type) {
  switch (op) {
    case type_op::kIs: return file_type == filter_type;
    case type_op::kIsNot: return file_type != filter_type;
    default: return false;
  }
}

void Walk(const std::string& folder, int depth, int max_depth, const WalkEntryCallback& on_entry,
          const WalkFolderCallback& on_folder, std::uint8_t& status, ErrorCode* listing_error) {
  std::vector<std::string> names;
  {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
      if (listing_error) *listing_error = ErrorFromErrno(errno);
      return;
    }
    while (const dirent* e = ::readdir(dir.get())) {
      std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      names.emplace_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    EntryInfo entry;
    // An entry that went away since the listing is passed over.
    if (FillEntry(JoinPath(folder, name), false, entry) != err::kNone) continue;
    on_entry(entry, status, depth);
    if (status == walk_status::kStop) return;
    if (status == walk_status::kSkipContents) {
      status = walk_status::kGoOn;
      continue;
    }
    if (!entry.is_folder || (max_depth != 0 && depth + 1 >= max_depth)) continue;
    if (on_folder) on_folder(entry, depth + 1);
    Walk(entry.path, depth + 1, max_depth, on_entry, on_folder, status, nullptr);
    if (status == walk_status::kStop) return;
  }
}

}  // namespace

ErrorCode GetEntryInfo(const std::string& path, EntryInfo& out) { return FillEntry(path, false, out); }

ErrorCode WalkFolder(const std::string& folder, int max_depth, const WalkEntryCallback& on_entry,
                     const WalkFolderCallback& on_folder) {
  std::uint8_t status = walk_status::kGoOn;
  ErrorCode listing = err::kNone;
  Walk(folder, 0, max_depth, on_entry, on_folder, status, &listing);
  return listing;
}

bool MatchesImportFilters(int level, const FileFacts& facts, const ImportSettings& o) {
  if (o.enabled(ImportFilter::kName) && !NameMatches(o.op(ImportFilter::kName), facts.name, o.name_text.text())) {
    return false;
  }
  if (o.enabled(ImportFilter::kCreated) && !DateMatches(o.op(ImportFilter::kCreated), facts.created, o.created)) {
    return false;
  }
  if (o.enabled(ImportFilter::kModified) &&
      !DateMatches(o.op(ImportFilter::kModified), facts.modified, o.modified)) {
    return false;
  }
  if (o.enabled(ImportFilter::kSize) && !NumberMatches(o.op(ImportFilter::kSize), facts.size / 1024, o.size_kb)) {
    return false;
  }
  if (o.enabled(ImportFilter::kLevel) && level != 0 &&
      !NumberMatches(o.op(ImportFilter::kLevel), static_cast<std::uint64_t>(level), o.level)) {
    return false;
  }
  if (o.enabled(ImportFilter::kType) && !TypeMatches(o.op(ImportFilter::kType), facts.type, o.type)) {
    return false;
  }
  return true;
}

std::u16string FoldPathCase(std::string_view utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  for (char16_t& c : text) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
      c = static_cast<char16_t>(c - 0x20);
    } else if (c == 0xFF) {
      c = 0x178;
    }
  }
  return text;
}

bool ResolveShortcut(const EntryInfo& entry, std::string& target) {
  if (!entry.is_link) return false;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(entry.path.c_str(), nullptr), &std::free);
  if (!resolved) return false;
  target = resolved.get();
  return true;
}

ImportSession::ImportSession(catalog::Catalog& catalog, ImportProgress progress, ImportCounters counters)
    : catalog_(catalog),
      options_(GetImportSettings(catalog)),
      progress_(std::move(progress)),
      counters_(counters) {
  counters_.added_this_call = 0;
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
    if (auto path = catalog::ItemPath(catalog, cell)) known_.insert(FoldPathCase(*path));
  }
}

void ImportSession::report(ProgressPhase phase, std::string_view scanning, std::uint8_t& status) {
  scanned_since_report_ = 0;
  if (!progress_) return;
  if (int answer = progress_(phase, counters_, scanning); answer != 0) {
    stop_reason_ = answer == err::kUserCancelled ? err::kUserCancelled : static_cast<ErrorCode>(answer);
    status = walk_status::kStop;
  }
}

void ImportSession::classify(const EntryInfo& found, std::uint8_t& status, int depth) {
  EntryInfo entry = found;
  if (IsShortcut(entry)) {
    if (options_.ignore_shortcuts) return;
    std::string target;
    if (!ResolveShortcut(entry, target)) return;
    EntryInfo resolved;
    if (FillEntry(target, true, resolved) != err::kNone) return;
    // Folders are not followed through links.
    if (resolved.is_folder) return;
    if (resolved.invisible && options_.ignore_invisible) return;
    entry = resolved;  // the target's folder becomes the item's folder
  }

  if (entry.invisible && options_.ignore_invisible) {
    if (entry.is_folder) status = walk_status::kSkipContents;
    return;
  }
  if (entry.is_folder) {
    if (entry.path.size() > kMinTemporaryFolderPath && entry.path.ends_with(kTemporaryInternetFiles)) {
      status = walk_status::kSkipContents;
    }
    return;
  }

  ++counters_.files_scanned;
  const bool report_due = ++scanned_since_report_ >= kFilesBetweenReports;
  const bool taken = [&] {
    if (entry.data_size == 0 && entry.resource_size == 0) return false;
    FileSpec spec;
    if (MakeFileSpec(entry.path, spec) != err::kNone) return false;
    const std::u16string folded = FoldPathCase(entry.path);
    if (known_.contains(folded)) return false;

    const std::uint32_t type = RecognizeMediaFile(spec, options_.class_mask);
    if (type == 0) return false;

    struct stat st {};
    if (::stat(entry.path.c_str(), &st) != 0) return false;
    const FileFacts facts{spec.name, static_cast<std::uint64_t>(st.st_size), entry.created, entry.modified, type};
    if (!MatchesImportFilters(depth, facts, options_)) return false;

    const int before = catalog_.itemCount();
    ErrorCode e = catalog::AddPendingItem(catalog_, spec);
    if (catalog_.itemCount() == before) {
      stop_reason_ = e != err::kNone ? e : err::kIo;
      status = walk_status::kStop;
      return false;
    }
    known_.insert(folded);
    return true;
  }();
  if (status == walk_status::kStop) return;
  if (taken) {
    ++counters_.items_added;
    ++counters_.added_this_call;
    report(ProgressPhase::kStep, entry.path, status);
  } else if (report_due) {
    report(ProgressPhase::kStep, entry.path, status);
  }
}

ErrorCode ImportFiles(catalog::Catalog& catalog, const std::vector<FileSpec>& files, const ImportProgress& progress,
                      int* added, ImportCounters* counters) {
  ImportSession session(catalog, progress, counters ? *counters : ImportCounters{});
  std::uint8_t status = walk_status::kGoOn;
  for (const FileSpec& file : files) {
    if (status == walk_status::kStop) break;
    std::string path = file.path;
    while (path.size() > 1 && path.ends_with('/')) path.pop_back();
    EntryInfo entry;
    if (FillEntry(path, true, entry) != err::kNone) continue;  // gone: nothing to import
    if (entry.is_folder) {
      // Walk the folder under its canonical path, so that the paths met in
      // the walk compare equal with the targets of links into it.
      std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
      const std::string folder = real ? std::string(real.get()) : path;
      // A folder that cannot be listed adds nothing, as a sub-folder that
      // cannot be listed is passed over inside the walk.
      (void)WalkFolder(
          folder, 0, [&](const EntryInfo& e, std::uint8_t& s, int depth) { session.classify(e, s, depth); }, {});
      status = session.stopReason() != err::kNone ? walk_status::kStop : walk_status::kGoOn;
    } else {
      if (FillEntry(path, false, entry) != err::kNone) continue;
      session.classify(entry, status, 0);
    }
  }

  const ImportCounters final_counters = session.counters();
  if (progress) progress(ProgressPhase::kEnd, final_counters, {});
  if (counters) *counters = final_counters;
  if (added) *added = final_counters.added_this_call;
  return session.stopReason();
}

bool CancelRunningTasks(catalog::Catalog& catalog) {
  bool removed = false;
  for (int cell = catalog.itemCount(); cell >= 1; --cell) {
    if (catalog.cells[static_cast<std::size_t>(cell - 1)].pending() &&
        catalog::RemoveItem(catalog, cell) == err::kNone) {
      removed = true;
    }
  }
  return removed;
}

}  // namespace norvo::media
