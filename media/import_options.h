// SPDX-License-Identifier: GPL-3.0-or-later
// Import options: which files an import takes. The catalog keeps them as its
// 116-byte "IMPF" block (catalog::ImportOptions, bytes as stored, name text in
// Windows-1252); ImportSettings is the typed view of that block. The block's
// layout is the one table in VisitImportFields(): reading and writing both
// walk it, and writing changes only the fields of the table, so bytes this
// program does not interpret survive a read-modify-write unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog_tables.h"
#include "catalog/item_record.h"
#include "media/class_mask.h"
#include "platform/error_codes.h"

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::media {

// The six file filters, in the order they are checked. Each filter's number
// is its bit in the enabled-filters set (class-mask convention: bit n counted
// from the top bit of the first byte) and its operator's index.
enum class ImportFilter : int { kName = 0, kCreated = 1, kModified = 2, kSize = 3, kLevel = 4, kType = 5 };
inline constexpr int kImportFilterCount = 6;

// Operators, numbered from 1 as the options dialog lists them.
namespace name_op {
inline constexpr std::uint8_t kIs = 1, kContains = 2, kDoesNotContain = 3, kStartsWith = 4, kEndsWith = 5,
                              kIsEmpty = 6, kIsNotEmpty = 7;
}
namespace date_op {
inline constexpr std::uint8_t kOn = 1, kBefore = 2, kAfter = 3;
}
namespace number_op {  // size and folder level
inline constexpr std::uint8_t kEquals = 1, kLess = 2, kGreater = 3, kLessOrEqual = 4, kGreaterOrEqual = 5;
}
namespace type_op {
inline constexpr std::uint8_t kIs = 1, kIsNot = 2;
}
// The highest operator number each filter knows, by ImportFilter.
inline constexpr std::array<std::uint8_t, kImportFilterCount> kOperatorCount = {7, 3, 3, 5, 5, 2};

inline constexpr std::size_t kImportNameTextWidth = 64;  // length byte + 63 characters
inline constexpr std::size_t kMaxImportNameText = kImportNameTextWidth - 1;

struct ImportSettings {
  ClassMask class_mask = 0;
  std::uint8_t ignore_shortcuts = 0;  // non-zero: symbolic links and .lnk files are skipped
  std::uint8_t ignore_invisible = 0;  // non-zero: dot files and dot folders are skipped
  std::uint32_t enabled_filters = 0;  // MaskBit(filter)
  std::array<std::uint8_t, kImportFilterCount> operators{};
  catalog::PStringField<kImportNameTextWidth> name_text;  // Windows-1252
  std::uint32_t created = 0;   // seconds since 1904, local time
  std::uint32_t modified = 0;  // same unit
  std::uint32_t size_kb = 0;   // units of 1024 bytes
  std::uint32_t level = 0;     // folder depth below the imported folder
  std::uint32_t type = 0;      // four-character code

  bool enabled(ImportFilter f) const { return IsBitInMask(enabled_filters, static_cast<int>(f)); }
  void enable(ImportFilter f, bool on);
  std::uint8_t op(ImportFilter f) const { return operators[static_cast<std::size_t>(f)]; }
  void setOp(ImportFilter f, std::uint8_t value) { operators[static_cast<std::size_t>(f)] = value; }

  // The values a new catalog starts from: every class but Text and HTML,
  // nothing ignored, no filter, every operator 1, size 100, level 1, 'JPEG'.
  static ImportSettings Defaults();
};

// The one table of the block: each field with its offset.
template <class Settings, class Visitor>
void VisitImportFields(Settings& s, Visitor& v) {
  v.u32(4, s.class_mask);
  v.u8(10, s.ignore_shortcuts);
  v.u8(11, s.ignore_invisible);
  v.u32(16, s.enabled_filters);
  for (std::size_t i = 0; i < kImportFilterCount; ++i) v.u8(20 + i, s.operators[i]);
  v.text(catalog::kImportNameTextOffset, s.name_text.bytes);
  v.u32(92, s.created);
  v.u32(96, s.modified);
  v.u32(100, s.size_kb);
  v.u32(104, s.level);
  v.u32(108, s.type);
}

// Block <-> typed view. Writing leaves the bytes outside the table as they
// are in `block`.
ImportSettings ReadImportSettings(const catalog::ImportOptions& block);
void WriteImportSettings(const ImportSettings& settings, catalog::ImportOptions& block);

// The catalog's own options.
ImportSettings GetImportSettings(const catalog::Catalog& catalog);
void SetImportSettings(catalog::Catalog& catalog, const ImportSettings& settings);

// --- a plain view for JSON and the command line ---------------------------------

// Operators keep their numbers (1 = first in the dialog's list). Texts are
// UTF-8; dates "YYYY-MM-DDTHH:MM:SS" (local time, as stored); the type code
// its four characters ("JPEG", "MP3 ").
struct ImportOptionsView {
  struct TextFilter {
    bool enabled = false;
    int op = 1;
    std::string text;
  };
  struct DateFilter {
    bool enabled = false;
    int op = 1;
    std::string date;
  };
  struct NumberFilter {
    bool enabled = false;
    int op = 1;
    std::uint32_t value = 0;  // kb for size, level for folder level
  };
  struct TypeFilter {
    bool enabled = false;
    int op = 1;
    std::string code;
  };

  std::vector<std::string> class_mask;  // class names ("Image", "DTP" ...), in class order
  bool ignore_shortcuts = false;
  bool ignore_invisible = false;
  TextFilter name;
  DateFilter created;
  DateFilter modified;
  NumberFilter size;
  NumberFilter level;
  TypeFilter type;
};

ImportOptionsView ImportOptionsToView(const ImportSettings& settings);
// Applies a view to `settings`. The class-mask bits beyond the eight classes
// keep their values. err::kParam (and `settings` unchanged) for an unknown class
// name, an operator outside its filter's list, a name text longer than 63
// Windows-1252 characters, a date that does not parse or a type code longer
// than four characters.
ErrorCode ImportOptionsFromView(const ImportOptionsView& view, ImportSettings& settings);

// The same as flat key/value pairs, keys as the JSON form nests them:
// "class_mask" (class names joined by ','), "ignore_shortcuts",
// "ignore_invisible", "filters.name.enabled", "filters.name.op",
// "filters.name.text", "filters.created.date", "filters.size.kb",
// "filters.level.level", "filters.type.code" ... Booleans are "true"/"false".
std::vector<std::pair<std::string, std::string>> ImportOptionsToKeyValues(const ImportOptionsView& view);
// Sets one key of a view; err::kParam for an unknown key or a malformed value.
ErrorCode SetImportOptionsKey(ImportOptionsView& view, const std::string& key, const std::string& value);

// The day key the date filters compare: the date's calendar fields (it is
// local time already) as year * 365 + month * 31 + day.
std::int32_t ImportDayKey(std::uint32_t date_time);

// Dates of the view: seconds since 1904 (local) <-> "YYYY-MM-DDTHH:MM:SS".
// The parser also takes a date alone ("YYYY-MM-DD", midnight).
std::string FormatImportDate(std::uint32_t date_time);
std::optional<std::uint32_t> ParseImportDate(const std::string& text);

}  // namespace norvo::media
