// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/delimited_text.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/file_spec.h"
#include "platform/owned_temporaries.h"
#include "platform/text_encoding.h"

namespace norvo::output {
namespace {

using metadata::FieldId;

constexpr std::string_view kRowEnd = "\r\n";
constexpr std::string_view kNoValue = "-";
constexpr std::string_view kListValueSeparator = ", ";  // as the list view joins a list field's values
// Rows are gathered and written in pieces of about this size.
constexpr std::size_t kWriteChunk = 64 * 1024;
// Links followed to the file a table is written to before giving up, as the
// system gives up on a loop of links.
constexpr int kMaxLinkHops = 40;

// The length of the well-formed UTF-8 sequence that starts at text[at]; 0
// when the byte there starts none.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  std::size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<std::uint8_t>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::string Windows1252WithQuestionMarks(std::string_view utf8) {
  bool lossless = true;
  std::string whole = Utf8ToWindows1252(utf8, &lossless);
  if (lossless) return whole;
  // Character by character, so that only those the code page lacks become
  // "?" (the converter's own stand-in cannot be told from a real "_").
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    std::size_t length = SequenceLength(utf8, at);
    if (length == 0) {
      out.push_back(utf8[at]);  // a byte that is not UTF-8 goes out as it stands
      ++at;
      continue;
    }
    bool one_lossless = true;
    std::string one = Utf8ToWindows1252(utf8.substr(at, length), &one_lossless);
    out += one_lossless ? one : std::string("?");
    at += length;
  }
  return out;
}

CellStyle StyleOf(TextFormat format) {
  switch (format) {
    case TextFormat::kComma: return CellStyle::kComma;
    case TextFormat::kMerge: return CellStyle::kMerge;
    case TextFormat::kTab: break;
  }
  return CellStyle::kTab;
}

// The label in UTF-8: custom field names are kept in UTF-8, the others are
// texts of the string table (Windows-1252).
std::string LabelUtf8(const catalog::Catalog* catalog, FieldId id) {
  std::string label = metadata::FieldLabel(catalog, id);
  return metadata::IsCustomField(id) ? label : Windows1252ToUtf8(label);
}

ErrorCode AnswerCode(int answer) {
  return answer < 0 && answer >= -32768 ? static_cast<ErrorCode>(static_cast<std::int16_t>(answer))
                                        : err::kUserCancelled;
}

// Produces the table a piece at a time: `sink` gets the encoded label row
// and then the rows of the items in order, and its failure stops the work.
ErrorCode ProduceRows(const catalog::Catalog& catalog, std::span<const int> cells, const TextTableOptions& options,
                      const catalog::ProgressCallback& progress,
                      const std::function<ErrorCode(std::string_view)>& sink) {
  if (options.label_row || options.format == TextFormat::kMerge) {
    if (ErrorCode e = sink(EncodeText(LabelRow(&catalog, options), options.encoding)); e != err::kNone) return e;
  }
  const int total = static_cast<int>(cells.size());
  metadata::ItemFields item;
  for (int i = 0; i < total; ++i) {
    if (ErrorCode e = item.read(catalog, cells[static_cast<std::size_t>(i)]); e != err::kNone) return e;
    if (ErrorCode e = sink(EncodeText(ItemRow(item, options), options.encoding)); e != err::kNone) return e;
    if (progress) {
      if (int answer = progress(ProgressPhase::kStep, i + 1, total); answer != 0) return AnswerCode(answer);
    }
  }
  return err::kNone;
}

// Checks what the writers check before they start.
ErrorCode CheckRequest(const catalog::Catalog& catalog, std::span<const int> cells, const TextTableOptions& options) {
  if (ErrorCode e = CheckTextTableOptions(options); e != err::kNone) return e;
  // Rows are counted in an int, as progress reports them.
  if (cells.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return err::kParam;
  for (int cell : cells) {
    if (cell < 1 || cell > catalog.itemCount()) return err::kParam;
  }
  return err::kNone;
}

// Writes the table into the open, empty file `out`.
ErrorCode WriteRows(const catalog::Catalog& catalog, std::span<const int> cells, const TextTableOptions& options,
                    const catalog::ProgressCallback& progress, File& out) {
  std::string pending;
  auto write_pending = [&out, &pending]() -> ErrorCode {
    if (pending.empty()) return err::kNone;
    ErrorCode e =
        out.write(std::span(reinterpret_cast<const std::uint8_t*>(pending.data()), pending.size()));
    pending.clear();
    return e;
  };
  ErrorCode e = ProduceRows(catalog, cells, options, progress, [&](std::string_view bytes) {
    pending += bytes;
    return pending.size() >= kWriteChunk ? write_pending() : err::kNone;
  });
  if (e == err::kNone) e = write_pending();
  if (e == err::kNone) e = out.flush();
  return e;
}

}  // namespace

ErrorCode CheckTextTableOptions(const TextTableOptions& options) {
  const auto format = static_cast<std::uint8_t>(options.format);
  if (format < static_cast<std::uint8_t>(TextFormat::kTab) || format > static_cast<std::uint8_t>(TextFormat::kMerge)) {
    return err::kParam;
  }
  if (options.fields.size() > kMaxTextTableFields) return err::kParam;
  if (options.delimiter.size() > kMaxDelimiterBytes) return err::kParam;
  const auto encoding = static_cast<std::uint8_t>(options.encoding);
  if (encoding > static_cast<std::uint8_t>(TextEncoding::kWindows1252)) return err::kParam;
  return err::kNone;
}

std::string CleanCellText(std::string_view text, bool label_style) {
  std::string out(text);
  for (char& c : out) {
    switch (c) {
      case '"': c = '\''; break;
      case '\n':
      case '\r':
      case '\t': c = label_style ? '_' : ' '; break;
      case ' ':
        if (label_style) c = '_';
        break;
      default: break;
    }
  }
  return out;
}

void AppendCell(std::string& row, CellStyle style, bool first, std::string_view text, std::string_view delimiter) {
  const bool quoted = style == CellStyle::kComma || style == CellStyle::kMerge;
  if (!first) {
    switch (style) {
      case CellStyle::kTab: row += '\t'; break;
      case CellStyle::kComma: row += ','; break;
      case CellStyle::kMerge:
      case CellStyle::kLabel: row += delimiter; break;
    }
  }
  if (quoted) row += '"';
  row += CleanCellText(text, style == CellStyle::kLabel);
  if (quoted) row += '"';
}

std::string LabelRow(const catalog::Catalog* catalog, const TextTableOptions& options) {
  const CellStyle style = options.format == TextFormat::kMerge ? CellStyle::kLabel : StyleOf(options.format);
  std::string row;
  bool first = true;
  for (FieldId id : options.fields) {
    std::string label = LabelUtf8(catalog, id);
    AppendCell(row, style, first, label.empty() ? kNoValue : std::string_view(label), options.delimiter);
    first = false;
  }
  row += kRowEnd;
  return row;
}

std::string CellText(const metadata::ItemFields& item, FieldId id) {
  std::string text;
  for (const std::string& value : item.texts(id)) {
    if (!text.empty()) text += kListValueSeparator;
    text += value;
  }
  return text.empty() ? std::string(kNoValue) : text;
}

std::string ItemRow(const metadata::ItemFields& item, const TextTableOptions& options) {
  const CellStyle style = StyleOf(options.format);
  std::string row;
  bool first = true;
  for (FieldId id : options.fields) {
    AppendCell(row, style, first, CellText(item, id), options.delimiter);
    first = false;
  }
  row += kRowEnd;
  return row;
}

std::string EncodeText(std::string_view utf8, TextEncoding encoding) {
  if (encoding == TextEncoding::kWindows1252) return Windows1252WithQuestionMarks(utf8);
  return std::string(utf8);
}

ErrorCode TextTableText(const catalog::Catalog& catalog, std::span<const int> cells,
                        const TextTableOptions& options, std::string* text,
                        const catalog::ProgressCallback& progress) {
  text->clear();
  if (ErrorCode e = CheckRequest(catalog, cells, options); e != err::kNone) return e;
  if (options.fields.empty()) return err::kNone;
  std::string out;
  ErrorCode e = ProduceRows(catalog, cells, options, progress, [&out](std::string_view bytes) {
    out += bytes;
    return err::kNone;
  });
  if (e == err::kNone) *text = std::move(out);
  return e;
}

ErrorCode WriteTextTable(const catalog::Catalog& catalog, std::span<const int> cells,
                         const TextTableOptions& options, const std::string& path,
                         const catalog::ProgressCallback& progress) {
  if (ErrorCode e = CheckRequest(catalog, cells, options); e != err::kNone) return e;
  if (options.fields.empty()) return err::kNone;
  if (path.empty()) return err::kBadName;
  std::error_code ec;
  std::string target = LexicallyNormalPath(std::filesystem::absolute(path, ec).string());
  if (ec) return err::kBadName;
  // A symbolic link keeps pointing where it did: the file it names (which
  // may not exist yet) is written.
  for (int hops = 0; std::filesystem::is_symlink(target, ec); ++hops) {
    if (hops == kMaxLinkHops) return err::kBadName;
    std::filesystem::path linked = std::filesystem::read_symlink(target, ec);
    if (ec) return ErrorFromErrno(ec.value());
    if (linked.is_relative()) linked = std::filesystem::path(ParentFolder(target)) / linked;
    target = LexicallyNormalPath(linked.string());
  }

  if (progress) {
    if (int answer = progress(ProgressPhase::kStart, 0, static_cast<int>(cells.size())); answer != 0) {
      return AnswerCode(answer);
    }
  }
  // Claimed before it exists: a kill at any moment leaves a temporary that
  // the next start removes, never a half-written table under the name asked.
  TemporaryClaim claim;
  std::string temporary;
  ErrorCode e = err::kNone;
  int fd = CreateClaimedTemporary(target, 0666, claim, &temporary, &e);
  if (fd >= 0) {
    ::close(fd);
    FileSpec spec;
    File out;
    e = MakeFileSpec(temporary, spec);
    if (e == err::kNone) e = out.open(spec, Permission::kReadWrite);
    if (e == err::kNone) e = WriteRows(catalog, cells, options, progress, out);
    out.close();
    // The rename is the last step that can fail; it counts as a write so that
    // tests can fail it too.
    if (e == err::kNone) e = faults::BeforeWrite();
    if (e == err::kNone && ::rename(temporary.c_str(), target.c_str()) != 0) e = ErrorFromErrno(errno);
    if (e != err::kNone) {
      ::unlink(temporary.c_str());
    } else {
      // The rename has happened; a folder that cannot be flushed does not undo it.
      (void)FlushFolder(ParentFolder(target));
    }
  }
  if (progress) progress(ProgressPhase::kEnd, 0, 0);
  return e;
}

std::vector<int> AllCells(const catalog::Catalog& catalog) {
  std::vector<int> cells;
  cells.reserve(static_cast<std::size_t>(catalog.itemCount()));
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) cells.push_back(cell);
  return cells;
}

TextTableOptions ListCopyOptions(ListCopyChoice choice, std::span<const FieldId> displayed_columns) {
  TextTableOptions options;
  options.format = TextFormat::kTab;
  options.label_row = false;
  options.delimiter = ",";
  options.encoding = TextEncoding::kUtf8;
  switch (choice) {
    case ListCopyChoice::kPathName: options.fields = {metadata::field_ids::kPath}; break;
    case ListCopyChoice::kDisplayedFields:
      options.fields.assign(displayed_columns.begin(),
                            displayed_columns.begin() +
                                static_cast<std::ptrdiff_t>(std::min(displayed_columns.size(), kMaxListCopyColumns)));
      break;
    default:  // file names, also for a choice byte from a newer version
      options.fields = {metadata::field_ids::kFileName};
      break;
  }
  return options;
}

ErrorCode ListCopyText(const catalog::Catalog& catalog, std::span<const int> cells, ListCopyChoice choice,
                       std::span<const FieldId> displayed_columns, std::string* text) {
  return TextTableText(catalog, cells, ListCopyOptions(choice, displayed_columns), text);
}

ErrorCode ListCopyTextOfItems(const catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids,
                              ListCopyChoice choice, std::span<const FieldId> displayed_columns,
                              std::string* text) {
  text->clear();
  std::vector<int> cells;
  cells.reserve(item_ids.size());
  for (std::uint32_t id : item_ids) {
    const int cell = catalog.cellOf(id);
    if (cell == 0) return err::kParam;
    cells.push_back(cell);
  }
  return ListCopyText(catalog, cells, choice, displayed_columns, text);
}

}  // namespace norvo::output
