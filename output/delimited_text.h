// SPDX-License-Identifier: GPL-3.0-or-later
// Delimited text export: catalog items as a text table, one row per item and
// one cell per chosen field, tab separated, comma separated or in the merge
// format (quoted cells joined by a delimiter of the user's choice, always
// under a row of labels). The list copy of the catalog views puts the same
// text, tab separated, on the clipboard.
//
// Cells hold the value as the field table displays it (every value of a
// list field, joined by ", " as the list view shows them); a field without
// a value is "-". Cell texts are cleaned rather than escaped: a double quote
// becomes an apostrophe and a line feed, carriage return or tab a space, so
// that every row has one cell per field whatever the values hold. Rows end
// with CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "metadata/field_table.h"
#include "metadata/item_fields.h"
#include "platform/error_codes.h"

namespace norvo::output {

enum class TextFormat : std::uint8_t { kTab = 1, kComma = 2, kMerge = 3 };

// What the text is written in: UTF-8 keeps names in any script; the 8-bit
// form is Windows-1252, a character it has no byte for becoming "?".
enum class TextEncoding : std::uint8_t { kUtf8 = 0, kWindows1252 = 1 };

inline constexpr std::size_t kMaxTextTableFields = 200;
inline constexpr std::size_t kMaxDelimiterBytes = 255;
inline constexpr std::size_t kMaxListCopyColumns = 10;

// The names of the formats, as the format choice shows them.
inline constexpr std::string_view kTabSeparatedName = "Tab Separated";
inline constexpr std::string_view kCommaSeparatedName = "Comma Separated";
inline constexpr std::string_view kMergeName = "Merge";
// What the progress display shows while a file is written.
inline constexpr std::string_view kExportProgressText = "Exporting to text file...";

struct TextTableOptions {
  TextFormat format = TextFormat::kTab;
  // The merge format writes the label row whatever this says.
  bool label_row = false;
  // Field ids in output order; none: nothing is written.
  std::vector<metadata::FieldId> fields;
  // Between the cells of the merge format (UTF-8).
  std::string delimiter = ",";
  TextEncoding encoding = TextEncoding::kUtf8;
};

// err::kParam for a format outside 1..3, more than kMaxTextTableFields fields
// or a delimiter longer than kMaxDelimiterBytes; err::kNone otherwise.
ErrorCode CheckTextTableOptions(const TextTableOptions& options);

// How one cell is written: the three formats, and the labels of the merge
// format's label row.
enum class CellStyle : std::uint8_t { kTab = 1, kComma = 2, kMerge = 3, kLabel = 4 };

// The text with every double quote turned into an apostrophe and every LF,
// CR and TAB into a space; with `label_style` every space also becomes "_".
std::string CleanCellText(std::string_view text, bool label_style);
// Appends one cell to `row`: the separator unless it is the row's first
// cell (a TAB; ","; the delimiter for merge cells and labels), the opening
// quote (comma and merge), the cleaned text and the closing quote.
// `delimiter` is used by the merge and label styles only.
void AppendCell(std::string& row, CellStyle style, bool first, std::string_view text, std::string_view delimiter);

// The label row with its CR LF: each field's label (the custom field's
// name, "-" for a field without a label), written in the options' format,
// in the label style for merge. In UTF-8, before the options' encoding.
std::string LabelRow(const catalog::Catalog* catalog, const TextTableOptions& options);
// The text of one cell: every display text of the field joined by ", ";
// "-" when there is none.
std::string CellText(const metadata::ItemFields& item, metadata::FieldId id);
// One item's row with its CR LF, in UTF-8.
std::string ItemRow(const metadata::ItemFields& item, const TextTableOptions& options);

// UTF-8 text in the options' encoding: as it is, or Windows-1252 with "?"
// for a character it cannot hold.
std::string EncodeText(std::string_view utf8, TextEncoding encoding);

// The whole table in memory: the label row when the options ask for it (and
// always for merge), then one row per cell of `cells` (from 1) in that
// order, in the options' encoding. No fields: "" and err::kNone. Fails with
// the first item that cannot be read, err::kParam for a cell outside the
// catalog or options CheckTextTableOptions refuses, or err::kUserCancelled
// (or the code it answered) when `progress` answers non-zero.
ErrorCode TextTableText(const catalog::Catalog& catalog, std::span<const int> cells,
                        const TextTableOptions& options, std::string* text,
                        const catalog::ProgressCallback& progress = {});

// Writes the table to the file at `path` (UTF-8; a relative path is taken
// from the working folder), replacing a file that is there. The rows go to a
// temporary file beside it, renamed into place only once all of it is
// written, so a failure or a cancel leaves no partial file (and an old file
// as it was). `progress` hears kStart, kStep after each item (done, total)
// and kEnd; while it runs, show kExportProgressText. No fields: no file is
// written and the answer is err::kNone. Fails as TextTableText does, or with
// the file system's code.
ErrorCode WriteTextTable(const catalog::Catalog& catalog, std::span<const int> cells,
                         const TextTableOptions& options, const std::string& path,
                         const catalog::ProgressCallback& progress = {});

// Every item of the catalog in catalog order (hidden ones included), as the
// command line's list and find take them: cells 1 to itemCount().
std::vector<int> AllCells(const catalog::Catalog& catalog);

// --- list copy ----------------------------------------------------------------

// The Copy dialog's choice (one byte of the preferences).
enum class ListCopyChoice : std::uint8_t { kFileName = 0, kPathName = 1, kDisplayedFields = 2 };
// Their names as the dialog lists them, by choice.
inline constexpr std::string_view kListCopyChoiceNames[] = {"Filename", "Pathname", "All displayed fields"};

// The options of a list copy: tab separated, no label row, delimiter ",", in
// UTF-8; the fields are File Name, Path, or the view's displayed columns in
// view order, cut to the first kMaxListCopyColumns. A choice outside the
// three copies file names.
TextTableOptions ListCopyOptions(ListCopyChoice choice, std::span<const metadata::FieldId> displayed_columns);

// The text for the clipboard: the items of `cells` (from 1), in that order,
// one tab separated row each, ending with CR LF.
ErrorCode ListCopyText(const catalog::Catalog& catalog, std::span<const int> cells, ListCopyChoice choice,
                       std::span<const metadata::FieldId> displayed_columns, std::string* text);
// The same for items named by their ItemIds; an id the catalog does not
// hold is err::kParam.
ErrorCode ListCopyTextOfItems(const catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids,
                              ListCopyChoice choice, std::span<const metadata::FieldId> displayed_columns,
                              std::string* text);

}  // namespace norvo::output
