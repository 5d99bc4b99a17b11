// SPDX-License-Identifier: GPL-3.0-or-later
// Finding and ordering catalog items: the quick text search, the criteria of
// the Find dialog, sorting on one field, the Sort menu, the Go To choices,
// saved queries and the catalogs a search can cover.
//
// Texts are compared in their search form (platform/unicode_text.h: case
// folded, normalised), so a search ignores case in every script and finds
// an accented letter however it is composed. Texts are ordered by the
// user's collation, case ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "metadata/field_table.h"
#include "metadata/item_fields.h"
#include "platform/unicode_text.h"

namespace norvo::fields {

// --- sort keys --------------------------------------------------------------

enum class SortKeyType : std::uint8_t { kNone = 0, kByte = 1, kInt16 = 2, kUnsigned = 3, kRational = 4, kText = 5 };
inline constexpr std::size_t kMaxSortKeyText = 4096;

struct SortKey {
  SortKeyType type = SortKeyType::kNone;
  std::int64_t number = 0;       // byte, int16, unsigned 32 or numerator
  std::int64_t denominator = 0;  // rational only
  // A text's collation key (TextCollator::sortKey) from its first
  // kMaxSortKeyText bytes: keys compare byte by byte as the texts collate.
  std::string text;
};

// The key of a text: its collation key in the user's locale, with digit runs
// read as numbers when `natural`.
SortKey TextSortKey(std::string_view utf8, bool natural);
// The key of the item for the field: its first value; a text by TextSortKey.
SortKey MakeSortKey(const metadata::ItemFields& item, metadata::FieldId id, bool natural);
// Negative, 0 or positive. A missing key sorts first; keys of two different
// types compare equal; texts compare by their collation keys.
int CompareSortKeys(const SortKey& a, const SortKey& b);

// Reorders the shown items by the field (stable: equal keys keep their
// order); hidden items follow them in their own order. Texts sort in the
// user's collation, case ignored, and with `natural` digit runs by their
// numeric value. The catalog is marked changed only when the order changed;
// `moved` says whether it did.
ErrorCode SortItems(catalog::Catalog& catalog, metadata::FieldId id, bool descending, bool natural,
                    bool* moved = nullptr);
// The per-catalog natural-order option, a byte of the catalog settings.
inline constexpr std::size_t kNaturalOrderSettingOffset = 0x3F0;
bool NaturalOrder(const catalog::Catalog& catalog);
void SetNaturalOrder(catalog::Catalog& catalog, bool natural);

// Hiding: hidden items stay in the catalog and are left out of the views.
ErrorCode SetItemHidden(catalog::Catalog& catalog, int cell, bool hidden);

// Manual order: moves the items of `cells` (from 1, any order) so that they
// stand together, in their present order, just before the item of cell
// `before` (itemCount() + 1: at the end). When `before` is itself one of the
// moved items, they go before the first item after it that is not moved.
// The catalog is marked changed only when the order changed.
ErrorCode MoveItems(catalog::Catalog& catalog, std::span<const int> cells, int before);
int HiddenItemCount(const catalog::Catalog& catalog);

// --- quick search -----------------------------------------------------------

// The ids, in catalog order, of the items whose searchable text contains
// `text` (UTF-8), both in their search form. The searchable text is every
// text the item's record holds (its names, the path its alias keeps, the
// texts of its fixed part, its annotation values, its URL, the texts of its
// metadata list), the names of the sets holding it and its label's name;
// a match lies within one of them. With `restrict_to` only those ItemIds are
// searched.
std::vector<std::uint32_t> QuickSearch(const catalog::Catalog& catalog, std::string_view text,
                                       const std::vector<std::uint32_t>* restrict_to = nullptr);
bool ItemContainsText(const catalog::Catalog& catalog, int cell, std::string_view text);

// --- criteria ---------------------------------------------------------------

// Operators are numbered from 1 in the order OperatorNames lists them.
std::vector<std::string> OperatorNames(metadata::SearchKind kind);
int OperatorFromName(metadata::SearchKind kind, std::string_view name);  // 0: none
namespace text_ops {
inline constexpr int kIs = 1, kContains = 2, kDoesNotContain = 3, kStartsWith = 4, kEndsWith = 5, kIsEmpty = 6,
                     kIsNotEmpty = 7;
}
namespace number_ops {
inline constexpr int kEquals = 1, kLess = 2, kGreater = 3, kLessOrEqual = 4, kGreaterOrEqual = 5;
}
namespace date_ops {
inline constexpr int kOn = 1, kBefore = 2, kAfter = 3;
}
namespace code_ops {
inline constexpr int kIs = 1, kIsNot = 2;
}

// One row of the Find dialog. `value` is what the user typed (UTF-8):
// a text; a decimal number (or 0x and hexadecimal digits); a date as
// year-month-day ("2024-03-05", "2024:03:05", "20240305"); four characters
// of a type code.
struct Criterion {
  metadata::FieldId field = 0;
  int op = 0;
  std::string value;
};
inline constexpr int kMaxCriteria = 6;

// False for a field without a search kind, an operator outside its list,
// or a number or date value that does not read.
bool ValidCriterion(const Criterion& criterion);
// Text operators compare the search forms of the value and the typed text.
bool EvaluateCriterion(const metadata::ItemFields& item, const Criterion& criterion);
// Rows joined by "and", or by "or" with `any`.
bool MatchesCriteria(const metadata::ItemFields& item, std::span<const Criterion> criteria, bool any);
// The ids of the matching items in catalog order (hidden ones included).
ErrorCode FindItems(const catalog::Catalog& catalog, std::span<const Criterion> criteria, bool any,
                    std::vector<std::uint32_t>& ids);

// --- field lists, menus -----------------------------------------------------

enum class FieldPurpose : int { kAny = 0, kAnnotation = 1, kListColumn = 2, kFind = 3 };
// The n-th field (from 0) with an info panel section (of `section` when it
// is not 0) that passes the purpose filter, in table order; 0 past the last.
metadata::FieldId FindFieldAt(int n, std::uint8_t section, FieldPurpose purpose);

struct SortMenuEntry {
  int command = 0;     // 33199 + position
  std::string text;    // Windows-1252
  bool enabled = true;
  metadata::FieldId field = 0;   // 0 for the headers, Random and Default
};
inline constexpr int kFirstSortCommand = 33199;
std::vector<SortMenuEntry> SortMenu(const catalog::Catalog* catalog);

enum class GoToChoice : int { kItemWithId = 0, kNextContaining = 1, kNextLabelled = 2 };
std::vector<std::string> GoToChoices();
// The cell (from 1) the choice goes to from `current` (0: before the
// first), searching forward without wrapping; 0 when nothing is found.
int GoTo(const catalog::Catalog& catalog, GoToChoice choice, int current, std::string_view argument);

// --- scopes -----------------------------------------------------------------

enum class SearchScope : int { kFrontCatalog = 0, kAllOpen = 1, kRecent = 2, kFolder = 3 };
std::vector<std::string> ScopeNames();

struct CatalogMatches {
  std::string path;  // UTF-8; empty for an open untitled catalog
  ErrorCode result = err::kNone;
  std::vector<std::uint32_t> ids;
};
// Searches catalog files that are not open: each is opened read-only (with a
// ScratchFile in `scratch_folder`), searched and closed. A file that does not
// open is reported with its error and the others are still searched.
std::vector<CatalogMatches> FindInCatalogFiles(const std::vector<std::string>& paths,
                                               std::span<const Criterion> criteria, bool any,
                                               const std::string& scratch_folder);
// The catalog files ("*.nrk") directly inside a folder, by name.
std::vector<std::string> CatalogFilesInFolder(const std::string& folder);

// --- saved queries ----------------------------------------------------------

struct SavedQuery {
  std::vector<Criterion> criteria;
  bool any = false;
  SearchScope scope = SearchScope::kFrontCatalog;
};
// Stored form: version byte 1, "any" byte, scope byte, row count, then per
// row field id (u32 BE), operator byte, value length (u16 BE) and value.
std::vector<std::uint8_t> EncodeQuery(const SavedQuery& query);
std::optional<SavedQuery> DecodeQuery(std::span<const std::uint8_t> bytes);

// Saved queries live in the settings store: one binary value per query name
// under kSavedQueriesKey, and the names in saving order, one per line, in
// the string value kQueryNamesValue under kQueryNamesKey (a store cannot
// list its values).
inline constexpr std::string_view kSavedQueriesKey = "Find\\Queries";
inline constexpr std::string_view kQueryNamesKey = "Find";
inline constexpr std::string_view kQueryNamesValue = "QueryNames";

std::vector<std::string> SplitQueryNames(std::string_view text);
std::string JoinQueryNames(const std::vector<std::string>& names);

// These work with any store offering getBinary / putBinary / getString /
// putString / deleteValue by key and value name, as the settings store does.
// Names are UTF-8 and compare ignoring case (SameSearchForm).
template <class Store>
std::vector<std::string> QueryNames(const Store& store) {
  auto text = store.getString(kQueryNamesKey, kQueryNamesValue);
  return text ? SplitQueryNames(*text) : std::vector<std::string>{};
}
template <class Store>
ErrorCode SaveQuery(Store& store, std::string_view name, const SavedQuery& query) {
  if (name.empty() || name.find('\n') != std::string_view::npos) return err::kParam;
  auto bytes = EncodeQuery(query);
  if (ErrorCode e = store.putBinary(kSavedQueriesKey, name, bytes); e != err::kNone) return e;
  auto names = QueryNames(store);
  for (const std::string& n : names) {
    if (SameSearchForm(n, name)) return err::kNone;
  }
  names.emplace_back(name);
  return store.putString(kQueryNamesKey, kQueryNamesValue, JoinQueryNames(names));
}
template <class Store>
std::optional<SavedQuery> LoadQuery(const Store& store, std::string_view name) {
  auto bytes = store.getBinary(kSavedQueriesKey, name);
  if (!bytes) return std::nullopt;
  return DecodeQuery(*bytes);
}
template <class Store>
ErrorCode RemoveQuery(Store& store, std::string_view name) {
  ErrorCode e = store.deleteValue(kSavedQueriesKey, name);
  auto names = QueryNames(store);
  std::erase_if(names, [name](const std::string& n) { return SameSearchForm(n, name); });
  if (ErrorCode f = store.putString(kQueryNamesKey, kQueryNamesValue, JoinQueryNames(names)); f != err::kNone) return f;
  return e;
}

}  // namespace norvo::fields
