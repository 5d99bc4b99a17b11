// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/batch_rename.h"

#include <sys/stat.h>
#include <unistd.h>

#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <set>

#include "platform/ascii.h"
#include "platform/file_ops.h"
#include "platform/file_spec.h"
#include "platform/unicode_text.h"

namespace norvo::output {
namespace {

// How many taken numbers one item of the numbered mode passes over before
// it gives up (a folder full of earlier runs' names).
constexpr int kMaxNumberAttempts = 100'000;
// Digit counts for the padding run from 1 to this.
constexpr int kMaxDigitCount = 9;

int DigitCount(std::uint32_t n) {
  int digits = 1;
  while (n >= 10 && digits < kMaxDigitCount) {
    n /= 10;
    ++digits;
  }
  return digits;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Well-formed UTF-8 mapped by ICU as one run, so that rules that look at
// neighbours (a final sigma) see them.
std::string MapRun(std::string_view run, NameCase to) {
  if (IsAscii(run)) {
    std::string out(run);
    for (char& c : out) c = to == NameCase::kLower ? AsciiLower(c) : AsciiUpper(c);
    return out;
  }
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(run.data(), static_cast<std::int32_t>(run.size())));
  if (to == NameCase::kLower) {
    text.toLower(icu::Locale::getRoot());
  } else {
    text.toUpper(icu::Locale::getRoot());
  }
  std::string out;
  text.toUTF8String(out);
  return out;
}

// Walks `text` one code point at a time; `visit(begin, end, valid)` gets
// each code point's bytes, or each byte that is not part of a well-formed
// sequence on its own.
template <class Visit>
void ForEachCodePoint(std::string_view text, Visit visit) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto size = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
  std::int32_t at = 0;
  while (at < size) {
    const std::int32_t begin = at;
    UChar32 c = 0;
    U8_NEXT(bytes, at, size, c);
    if (c < 0) at = begin + 1;
    visit(static_cast<std::size_t>(begin), static_cast<std::size_t>(at), c >= 0);
  }
}

// The upper case of `text` built one code point at a time, with where each
// code point starts in the text and in the result (and one entry past the
// end of both), so that a match in the result maps back to the text.
struct UpperForm {
  std::string upper;
  std::vector<std::size_t> source_starts;
  std::vector<std::size_t> upper_starts;
};
UpperForm UpperByCodePoint(std::string_view text) {
  UpperForm form;
  ForEachCodePoint(text, [&](std::size_t begin, std::size_t end, bool valid) {
    form.source_starts.push_back(begin);
    form.upper_starts.push_back(form.upper.size());
    const std::string_view bytes = text.substr(begin, end - begin);
    form.upper += valid ? MapRun(bytes, NameCase::kUpper) : std::string(bytes);
  });
  form.source_starts.push_back(text.size());
  form.upper_starts.push_back(form.upper.size());
  return form;
}

// The index of `offset` among `starts`, or nothing when no code point
// starts (or ends) there.
std::optional<std::size_t> BoundaryIndex(const std::vector<std::size_t>& starts, std::size_t offset) {
  auto it = std::lower_bound(starts.begin(), starts.end(), offset);
  if (it == starts.end() || *it != offset) return std::nullopt;
  return static_cast<std::size_t>(it - starts.begin());
}

bool ValidSettings(const RenameSettings& s) {
  const auto mode = static_cast<std::int16_t>(s.mode);
  return mode >= 1 && mode <= 4 && static_cast<int>(s.position) <= 2 && static_cast<int>(s.name_case) <= 1;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// What a dry run knows of the names the batch has given and given up.
struct Simulation {
  std::set<std::string> taken;
  std::set<std::string> freed;

  bool gone(const std::string& path) const { return freed.contains(path); }
  // The rename a real run would try, judged without making it.
  ErrorCode rename(const std::string& from, const std::string& to, bool case_only) {
    if (!taken.contains(to) && !freed.contains(to)) {
      struct stat target {};
      if (::lstat(to.c_str(), &target) == 0) {
        struct stat source {};
        // Under a new case, the file itself may answer to the new name.
        if (!(case_only && ::lstat(from.c_str(), &source) == 0 && SameFile(source, target))) return err::kDuplicateName;
      } else if (errno != ENOENT) {
        return ErrorFromErrno(errno);
      }
    } else if (taken.contains(to)) {
      return err::kDuplicateName;
    }
    if (::access(ParentFolder(to).c_str(), W_OK | X_OK) != 0) return ErrorFromErrno(errno);
    taken.erase(from);
    freed.insert(from);
    freed.erase(to);
    taken.insert(to);
    return err::kNone;
  }
};

// Renames one file: through a temporary name when the new name may be the
// same name to the file system.
ErrorCode RenameFile(const std::string& from, const std::string& to, bool case_only) {
  return case_only ? RenameThroughTemporary(from, to) : RenameNoReplace(from, to);
}

// Whether the two names may be one name to a file system that ignores case
// or normalisation: then the rename goes through a temporary name.
bool MaybeSameName(const std::string& a, const std::string& b) { return SameSearchForm(a, b); }

class Renamer {
 public:
  Renamer(catalog::Catalog& catalog, RenameSettings& settings, RenameRun run)
      : catalog_(catalog), s_(settings), dry_(run == RenameRun::kDryRun) {}

  // Renames the item of `cell`; returns the catalog's own error, which
  // stops the batch (the outcome says what became of the item).
  ErrorCode renameItem(int cell, RenameOutcome& o) {
    std::string path;
    bool elsewhere = false;
    ErrorCode found = dry_ ? catalog::FindItemFile(catalog_, cell, path, &elsewhere)
                           : catalog::LocateItemFile(catalog_, cell, path);
    if (found == err::kNone && dry_ && sim_.gone(path)) found = err::kFileNotFound;
    if (found != err::kNone) {
      o.status = RenameStatus::kSkipped;
      o.error = found;
      return err::kNone;
    }
    o.folder = ParentFolder(path);
    o.old_name = LeafName(path);
    if (s_.mode == RenameMode::kReplaceString && s_.search_text.empty()) return unchanged(o);

    for (int attempt = 0; attempt < kMaxNumberAttempts; ++attempt) {
      o.new_name = NewName(o.old_name, s_);
      if (ErrorCode bad = CheckNewName(o.new_name); bad != err::kNone) return failed(o, bad);
      if (o.new_name == o.old_name) {
        if (s_.mode == RenameMode::kIncremental) ++s_.counter;
        return unchanged(o);
      }
      const std::string target = JoinPath(o.folder, o.new_name);
      const bool case_only = MaybeSameName(o.old_name, o.new_name);
      const ErrorCode renamed = dry_ ? sim_.rename(path, target, case_only) : RenameFile(path, target, case_only);
      if (renamed == err::kNone) {
        if (!dry_) {
          if (ErrorCode e = catalog::RepointItem(catalog_, cell, target); e != err::kNone) {
            // The catalog cannot follow: the file goes back to its name.
            (void)RenameFile(target, path, case_only);  // should it fail, the outcome still reports the error
            o.status = RenameStatus::kFailed;
            o.error = e;
            return e;
          }
        }
        if (s_.mode == RenameMode::kIncremental) ++s_.counter;
        o.status = RenameStatus::kRenamed;
        return err::kNone;
      }
      if (renamed != err::kDuplicateName || s_.mode != RenameMode::kIncremental || s_.counter == UINT32_MAX) {
        return failed(o, renamed);
      }
      // The numbered mode passes over a taken number, and the padding width
      // grows with it.
      ++s_.counter;
      ++s_.last_number;
    }
    return failed(o, err::kDuplicateName);
  }

 private:
  static ErrorCode unchanged(RenameOutcome& o) {
    o.new_name = o.old_name;
    o.status = RenameStatus::kUnchanged;
    return err::kNone;
  }
  static ErrorCode failed(RenameOutcome& o, ErrorCode e) {
    o.status = RenameStatus::kFailed;
    o.error = e;
    return err::kNone;
  }

  catalog::Catalog& catalog_;
  RenameSettings& s_;
  bool dry_;
  Simulation sim_;
};

}  // namespace

RenameSettings& CurrentRenameSettings() {
  static RenameSettings settings;
  return settings;
}

std::string CutRenameText(std::string_view utf8) { return std::string(FirstCharacters(utf8, kMaxRenameTextCharacters)); }

void CutRenameTexts(RenameSettings& settings) {
  for (std::string* text :
       {&settings.base_text, &settings.search_text, &settings.replacement_text, &settings.added_text}) {
    *text = CutRenameText(*text);
  }
}

std::uint32_t StartNumber(long long typed) {
  if (typed < 2) return 1;
  if (typed >= static_cast<long long>(kMaxStartNumber)) return kMaxStartNumber;
  return static_cast<std::uint32_t>(typed);
}

void StartNumbering(RenameSettings& settings, long long typed_start, int item_count) {
  settings.counter = StartNumber(typed_start);
  settings.last_number = settings.counter + static_cast<std::uint32_t>(std::max(item_count, 1)) - 1;
}

std::string ChangeCase(std::string_view utf8, NameCase to) {
  std::string out;
  std::size_t run_start = 0;
  ForEachCodePoint(utf8, [&](std::size_t begin, std::size_t end, bool valid) {
    if (valid) return;
    out += MapRun(utf8.substr(run_start, begin - run_start), to);
    out += utf8.substr(begin, end - begin);
    run_start = end;
  });
  out += MapRun(utf8.substr(run_start), to);
  return out;
}

std::optional<TextMatch> FindText(std::string_view text, std::string_view search, bool case_sensitive) {
  if (search.empty()) return std::nullopt;
  if (case_sensitive) {
    const std::size_t at = text.find(search);
    if (at == std::string_view::npos) return std::nullopt;
    return TextMatch{at, search.size()};
  }
  const UpperForm form = UpperByCodePoint(text);
  const std::string wanted = UpperByCodePoint(search).upper;
  // A match counts only from a code point's start to a code point's end of
  // the text: "SS" matches "ß" whole, never half of it.
  for (std::size_t from = 0; from <= form.upper.size();) {
    const std::size_t at = form.upper.find(wanted, from);
    if (at == std::string::npos) return std::nullopt;
    const auto first = BoundaryIndex(form.upper_starts, at);
    const auto past = BoundaryIndex(form.upper_starts, at + wanted.size());
    if (first && past) {
      const std::size_t begin = form.source_starts[*first];
      return TextMatch{begin, form.source_starts[*past] - begin};
    }
    from = at + 1;
  }
  return std::nullopt;
}

std::string NewName(std::string_view current, const RenameSettings& s) {
  const std::size_t dot = current.rfind('.');
  switch (s.mode) {
    case RenameMode::kIncremental: {
      std::string name = s.base_text;
      const int pad = DigitCount(s.last_number) - DigitCount(s.counter);
      if (s.zero_pad && pad > 0) name.append(static_cast<std::size_t>(pad), '0');
      name += std::to_string(s.counter);
      if (s.keep_extension && dot != std::string_view::npos) name += current.substr(dot);
      return name;
    }
    case RenameMode::kReplaceString: {
      const auto match = FindText(current, s.search_text, s.case_sensitive);
      if (!match) return std::string(current);
      return std::string(current.substr(0, match->offset)) + s.replacement_text +
             std::string(current.substr(match->offset + match->length));
    }
    case RenameMode::kAddString:
      switch (s.position) {
        case AddPosition::kAtStart: return s.added_text + std::string(current);
        case AddPosition::kAtEnd: return std::string(current) + s.added_text;
        case AddPosition::kBeforeExtension:
          if (dot == std::string_view::npos) return std::string(current) + s.added_text;
          return std::string(current.substr(0, dot)) + s.added_text + std::string(current.substr(dot));
      }
      break;
    case RenameMode::kConvert: return ChangeCase(current, s.name_case);
  }
  return std::string(current);
}

ErrorCode CheckNewName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kMaxFileNameBytes) return err::kBadName;
  if (name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos) return err::kBadName;
  return err::kNone;
}

ErrorCode BatchRename(catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids, RenameSettings& settings,
                      RenameRun run, const RenameProgress& progress, std::vector<RenameOutcome>* outcomes) {
  outcomes->clear();
  if (!ValidSettings(settings)) return err::kParam;
  if (run == RenameRun::kForReal && catalog.read_only) return err::kWritePermission;
  RenameSettings trial = settings;
  RenameSettings& used = run == RenameRun::kDryRun ? trial : settings;
  CutRenameTexts(used);
  Renamer renamer(catalog, used, run);

  // Catalog order; ids the catalog does not hold come last, as given.
  std::vector<std::pair<int, std::uint32_t>> order;
  std::set<std::uint32_t> seen;
  for (std::uint32_t id : item_ids) {
    if (!seen.insert(id).second) continue;
    const int cell = catalog.cellOf(id);
    order.emplace_back(cell == 0 ? INT_MAX : cell, id);
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  const int total = static_cast<int>(order.size());
  auto stop = [](int answer) -> ErrorCode {
    return answer < 0 && answer >= INT16_MIN ? ErrorCode(static_cast<std::int16_t>(answer)) : err::kUserCancelled;
  };
  ErrorCode result = err::kNone;
  int done = 0;
  if (progress) {
    if (int answer = progress(ProgressPhase::kStart, 0, total); answer != 0) result = stop(answer);
  }
  for (const auto& [first_cell, id] : order) {
    if (result != err::kNone) break;
    RenameOutcome o;
    o.item_id = id;
    // Checked again: the progress callback may have changed the catalog.
    const bool still_there = first_cell <= catalog.itemCount() &&
                             catalog.cells[static_cast<std::size_t>(first_cell - 1)].item_id == id;
    const int cell = still_there ? first_cell : catalog.cellOf(id);
    if (cell == 0) {
      o.status = RenameStatus::kSkipped;
      o.error = err::kParam;
    } else {
      result = renamer.renameItem(cell, o);
    }
    outcomes->push_back(std::move(o));
    ++done;
    if (result == err::kNone && progress) {
      if (int answer = progress(ProgressPhase::kStep, done, total); answer != 0) result = stop(answer);
    }
  }
  if (progress) (void)progress(ProgressPhase::kEnd, done, total);  // the work is over; an answer changes nothing
  return result;
}

ErrorCode UndoRenames(catalog::Catalog& catalog, std::span<const RenameOutcome> outcomes) {
  ErrorCode first = err::kNone;
  for (auto it = outcomes.rbegin(); it != outcomes.rend(); ++it) {
    if (it->status != RenameStatus::kRenamed) continue;
    const std::string now = JoinPath(it->folder, it->new_name);
    const std::string before = JoinPath(it->folder, it->old_name);
    ErrorCode e = RenameFile(now, before, MaybeSameName(it->old_name, it->new_name));
    if (e == err::kNone) {
      if (int cell = catalog.cellOf(it->item_id); cell != 0) e = catalog::RepointItem(catalog, cell, before);
    }
    if (first == err::kNone) first = e;
  }
  return first;
}

}  // namespace norvo::output
