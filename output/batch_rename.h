// SPDX-License-Identifier: GPL-3.0-or-later
// Batch rename: gives catalog items' files new names by one of four rules
// (numbered, a text replaced, a text added, case changed), renames each file
// on disk and points its item at the new name, item by item in catalog
// order. A file that already has the new name is never replaced.
//
// Names are UTF-8 and may be in any script; texts are counted in characters
// (code points). Case is changed and compared by ICU's full Unicode mapping
// in the root locale (so "straße" upper-cases to "STRASSE"), and names that
// differ from the old one only in case go through a temporary name, since to
// some file systems they are the same name.
//
// Choices made here:
// - A new name that is empty, "." or "..", holds "/" or NUL, or is longer
//   than 255 bytes is refused for that item (err::kBadName); the batch goes on.
// - A new name equal to the old one renames nothing: the item counts as
//   unchanged (in the numbered mode its number is used up all the same).
// - The extension is kept only by the numbered mode, which builds names
//   afresh; the other modes work on the whole name, extension included,
//   and `keep_extension` does not apply to them.
// - A catalog that is open for viewing only renames nothing (err::kWritePermission):
//   files renamed without the catalog following would be lost to it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "platform/error_codes.h"
#include "platform/progress.h"

namespace norvo::output {

// The combo's order: mode = index + 1.
enum class RenameMode : std::int16_t {
  kIncremental = 1,    // "Incremental"
  kReplaceString = 2,  // "Replace String"
  kAddString = 3,      // "Add String"
  kConvert = 4,        // "Convert"
};
enum class AddPosition : std::uint8_t { kAtStart = 0, kAtEnd = 1, kBeforeExtension = 2 };
enum class NameCase : std::uint8_t { kLower = 0, kUpper = 1 };

// The dialog's warning, and its mode combo's entries in mode order.
inline constexpr std::string_view kRenameWarning =
    "This command will rename both the selected catalog items and the original files on your disks.\n"
    "This operation can't be undone.";
inline constexpr std::array<std::string_view, 4> kRenameModeNames = {"Incremental", "Replace String", "Add String",
                                                                     "Convert"};

// Each text box takes at most this many characters.
inline constexpr std::size_t kMaxRenameTextCharacters = 30;
// Start numbers from this on are taken as it.
inline constexpr std::uint32_t kMaxStartNumber = 1'000'000'000;
// The longest file name, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

struct RenameSettings {
  RenameMode mode = RenameMode::kIncremental;
  bool zero_pad = true;        // "Zero pad increments"
  bool keep_extension = true;  // the dialog always keeps it
  bool case_sensitive = true;  // "Case sensitive", mode 2
  AddPosition position = AddPosition::kAtStart;
  NameCase name_case = NameCase::kLower;
  std::uint32_t counter = 1;      // the next number of mode 1
  std::uint32_t last_number = 1;  // the highest number of mode 1: the padding width
  std::string base_text;          // "Use String:"
  std::string search_text;        // "Search for:"
  std::string replacement_text;   // "Replace with:"
  std::string added_text;         // "Add text:"
};

// The settings the dialog starts from: those of the previous use, for as
// long as the program runs (they are not stored). Catalog thread only.
RenameSettings& CurrentRenameSettings();

// The text cut to kMaxRenameTextCharacters characters.
std::string CutRenameText(std::string_view utf8);
// Cuts the four texts of `settings`.
void CutRenameTexts(RenameSettings& settings);

// The start number for the number typed: at most kMaxStartNumber, and 1 for
// anything below 2.
std::uint32_t StartNumber(long long typed);
// What "Rename" does before the first item: counter = start, last number =
// start + item_count - 1.
void StartNumbering(RenameSettings& settings, long long typed_start, int item_count);

// --- names ---------------------------------------------------------------------

// The text in lower or upper case (full Unicode mapping, root locale); bytes
// that are not UTF-8 stay as they are.
std::string ChangeCase(std::string_view utf8, NameCase to);
// The first occurrence of `search` in `text` as (byte offset, byte length) in
// `text`: the bytes exactly when `case_sensitive`, else the two compared in
// upper case (where one character may stand for two: "ß" matches "SS").
struct TextMatch {
  std::size_t offset = 0;
  std::size_t length = 0;
};
std::optional<TextMatch> FindText(std::string_view text, std::string_view search, bool case_sensitive);
// The name `current` gets by the settings' mode; mode 1 numbers it with the
// settings' counter. Mode 2 with an empty search text, or without a match,
// gives `current`.
std::string NewName(std::string_view current, const RenameSettings& settings);
// err::kBadName for a name no file can have here: empty, "." or "..", with "/"
// or NUL, or longer than kMaxFileNameBytes.
ErrorCode CheckNewName(std::string_view name);

// --- renaming ------------------------------------------------------------------

enum class RenameStatus : std::uint8_t {
  kRenamed,    // the file has the new name and the item points at it
  kUnchanged,  // the rule gave the name the file has
  kSkipped,    // no file to rename: the item is gone or its file is missing
  kFailed,     // the file keeps its name (the error says why)
};

struct RenameOutcome {
  std::uint32_t item_id = 0;
  std::string folder;    // the file's folder; empty when skipped
  std::string old_name;  // the file's name before
  std::string new_name;  // the name it got or was refused; empty when skipped
  RenameStatus status = RenameStatus::kSkipped;
  ErrorCode error = err::kNone;  // for kSkipped and kFailed
};

// A dry run works out the same outcomes without touching a file or the
// catalog: names given earlier in the batch count as taken, names given up
// as free.
enum class RenameRun : bool { kForReal, kDryRun };

// Progress: kStart (0, count) before the first item, kStep (n, count) after
// item n, kEnd (done, count) at the end; a non-zero answer stops before the
// next item (err::kUserCancelled, or the answer when it is a negative code).
using RenameProgress = std::function<int(ProgressPhase phase, int done, int total)>;

// Renames the files of the items with these ids, in catalog order (an id
// given twice counts once; an id not in the catalog is skipped with
// err::kParam), and fills `outcomes` with one entry per item handled, in that
// order. A real run advances `settings` (counter and last number, texts
// cut) as the dialog's record keeps them; a dry run leaves them as they
// were. Problems with one item are in its outcome and the batch goes on;
// the result is 0, err::kParam for settings out of range, err::kWritePermission for a
// catalog open for viewing, the progress answer, or the catalog's own
// error when it could not record a rename (that file is given its old name
// back and the batch stops).
ErrorCode BatchRename(catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids, RenameSettings& settings,
                      RenameRun run, const RenameProgress& progress, std::vector<RenameOutcome>* outcomes);

// Gives the renamed files of `outcomes` their old names back, last first,
// and points their items back at them (items no longer in the catalog are
// passed over): for a run whose catalog could not be saved. Returns the
// first error; it goes on after one.
ErrorCode UndoRenames(catalog::Catalog& catalog, std::span<const RenameOutcome> outcomes);

}  // namespace norvo::output
