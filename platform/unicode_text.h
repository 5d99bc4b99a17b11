// SPDX-License-Identifier: GPL-3.0-or-later
// Comparing text in every script, over ICU. Three services:
// - the search form of a text: full Unicode case folding with compatibility
//   normalisation (ICU's NFKC_Casefold), so that "straße" finds "STRASSE",
//   "café" finds "CAFÉ" and "Cafe" + combining acute, and "москва" finds
//   "МОСКВА"; a search looks for the search form of its text in the search
//   form of the item's texts;
// - collation: the order of texts in the user's language (the Unicode
//   collation algorithm with the locale's tailoring), case ignored, digit runs
//   read as numbers on request;
// - names that compare ignoring case (groups, sets, custom fields): equal when
//   their search forms are, otherwise in collation order.
// All text is UTF-8. Bytes that are not UTF-8 pass through folding as they
// are; collation reads them as U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace norvo {

// --- search form --------------------------------------------------------------

// Appends the search form of `utf8` to `out`. ASCII is folded through a table;
// ICU sees only the stretches of other characters, each with the ASCII
// character before it (a combining mark may join that character).
void AppendSearchForm(std::string_view utf8, std::string& out);
std::string SearchForm(std::string_view utf8);
// The same for Windows-1252 text (the 8-bit form of names and annotation
// values).
void AppendSearchFormWindows1252(std::string_view text, std::string& out);
// Whether the two texts have the same search form.
bool SameSearchForm(std::string_view a, std::string_view b);

// --- collation -----------------------------------------------------------------

// The ICU locale for a POSIX locale name: "de_DE.UTF-8@euro" gives "de_DE";
// "", "C", "POSIX" and "C.UTF-8" give "" (the root collation).
std::string CollationLocaleOf(std::string_view posix_locale);
// The collation locale of this process: the first of LC_ALL, LC_COLLATE and
// LANG that is set and not empty, read by CollationLocaleOf.
std::string CollationLocaleFromEnvironment();

// How much of a text an order looks at, from least to most.
enum class SortStrength : std::uint8_t {
  kLetters = 1,  // base letters only: "resume" and "Résumé" are equal
  kAccents = 2,  // accents count only between texts whose letters are the same
  kCase = 3,     // then case as well
};

// A collator at `strength`. With `natural`, runs of digits compare by their
// numeric value ("IMG2" before "IMG10").
class TextCollator {
 public:
  TextCollator(std::string_view locale, bool natural, SortStrength strength = SortStrength::kAccents);
  ~TextCollator();
  TextCollator(TextCollator&&) noexcept;
  TextCollator& operator=(TextCollator&&) noexcept;

  // Negative, 0 or positive.
  int compare(std::string_view a, std::string_view b) const;
  // Replaces `out` with the sort key of `utf8`: keys compare byte by byte
  // (as unsigned bytes, std::string's own order) exactly as compare() does.
  void sortKey(std::string_view utf8, std::string& out) const;
  // The locale ICU actually uses ("root" when it fell back).
  std::string actualLocale() const;

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// The collators of the user's locale (CollationLocaleFromEnvironment), plain
// and natural, at the user's sort strength; made on first use and kept for
// the life of the process.
const TextCollator& UserCollator(bool natural);
// The user's sort strength (kAccents until set). Set it at start-up, before
// anything sorts: keys made before and after a change do not compare.
void SetUserSortStrength(SortStrength strength);

// --- names ---------------------------------------------------------------------

// Names that ignore case: 0 when their search forms are the same; otherwise
// the user's collation of the search forms decides, then their bytes, so that
// the order is total and equal names are exactly the same-form ones.
int CompareNames(std::string_view a, std::string_view b);

// --- characters ----------------------------------------------------------------

// The number of code points in `utf8` (a byte that is not part of a
// well-formed sequence counts as one).
std::size_t CharacterCount(std::string_view utf8);
// The start of `utf8` holding at most `count` code points.
std::string_view FirstCharacters(std::string_view utf8, std::size_t count);
// The longest start of `utf8` of at most `max_bytes` bytes that ends between
// two code points.
std::string_view FirstBytes(std::string_view utf8, std::size_t max_bytes);

}  // namespace norvo
