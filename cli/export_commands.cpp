// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the delimited text export.
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/messages.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/output.h"
#include "metadata/custom_fields.h"
#include "metadata/field_table.h"
#include "output/delimited_text.h"

namespace norvo::cli {
namespace {

using metadata::FieldId;

struct FormatName {
  std::string_view name;
  output::TextFormat format;
};
constexpr FormatName kFormats[] = {
    {"tab", output::TextFormat::kTab}, {"comma", output::TextFormat::kComma}, {"merge", output::TextFormat::kMerge}};

output::TextFormat FormatFromText(const std::optional<std::string>& text) {
  if (!text) throw UsageError{"give --format tab, comma or merge"};
  for (const FormatName& f : kFormats) {
    if (*text == f.name) return f.format;
  }
  throw UsageError{"'" + *text + "' is not a format: tab, comma or merge"};
}

output::TextEncoding EncodingFromText(const std::optional<std::string>& text) {
  if (!text || *text == "utf-8") return output::TextEncoding::kUtf8;
  if (*text == "8bit") return output::TextEncoding::kWindows1252;
  throw UsageError{"'" + *text + "' is not an encoding: utf-8 or 8bit"};
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The fields of every --fields value, each a comma-separated list of field
// labels (custom names included) or hexadecimal ids, as find --where names
// them.
std::vector<FieldId> FieldsFromText(const catalog::Catalog& c, const std::vector<std::string>& lists) {
  std::vector<FieldId> fields;
  for (const std::string& list : lists) {
    std::size_t at = 0;
    for (;;) {
      const std::size_t end = list.find(',', at);
      const std::string name = Trimmed(list.substr(at, end == std::string::npos ? std::string::npos : end - at));
      if (name.empty()) throw UsageError{"an empty field name in --fields '" + list + "'"};
      FieldId id = metadata::FindFieldByLabel(&c, name);
      if (id == 0) id = metadata::FindCustomField(c, name);
      if (id == 0) throw UsageError{"'" + name + "' is not a field (a field label, or an id such as 0x2)"};
      fields.push_back(id);
      if (end == std::string::npos) break;
      at = end + 1;
    }
  }
  if (fields.empty()) throw UsageError{"give the fields to export with --fields"};
  if (fields.size() > output::kMaxTextTableFields) {
    throw UsageError{"at most " + std::to_string(output::kMaxTextTableFields) + " fields"};
  }
  return fields;
}

Result CmdExport(const Invocation& inv, std::ostream& out) {
  output::TextTableOptions options;
  options.format = FormatFromText(inv.value("--format"));
  options.label_row = inv.flag("--labels");
  options.encoding = EncodingFromText(inv.value("--encoding"));
  if (std::optional<std::string> delimiter = inv.value("--delimiter")) {
    if (options.format != output::TextFormat::kMerge) throw UsageError{"--delimiter goes with --format merge"};
    if (delimiter->size() > output::kMaxDelimiterBytes) {
      throw UsageError{"a delimiter has at most " + std::to_string(output::kMaxDelimiterBytes) + " bytes"};
    }
    options.delimiter = *delimiter;
  }
  auto lists = inv.values.find("--fields");
  if (lists == inv.values.end()) throw UsageError{"give the fields to export with --fields"};

  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kView)) return r;
  const catalog::Catalog& c = s.catalog();
  options.fields = FieldsFromText(c, lists->second);

  std::error_code ec;
  const std::string file = std::filesystem::absolute(inv.operands[1], ec).lexically_normal().string();
  if (ec) return FailWith(err::kBadName, app::Activity::kOther);
  const std::vector<int> cells = output::AllCells(c);
  if (ErrorCode e = output::WriteTextTable(c, cells, options, file); e != err::kNone) {
    return FailWith(e, app::Activity::kOther);
  }
  Json result = Json::object();
  result["file"] = file;
  result["items"] = cells.size();
  result["fields"] = options.fields.size();
  PrintObject(out, result, inv.json);
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> ExportCommands() {
  using groups::kOutput;
  return {
      {"export", kOutput, "CATALOG FILE", 2, 2,
       {{"--format", "tab|comma|merge", "tab separated, comma separated, or merge (quoted cells, --delimiter)"},
        {"--fields", "FIELD,...", "the fields, one cell each, in order: labels or ids such as 0x2", 1, true},
        {"--labels", "", "begin with a row of the fields' labels (merge always does)"},
        {"--delimiter", "D", "with merge: what goes between cells (default ',')"},
        {"--encoding", "utf-8|8bit", "UTF-8 (the default), or Windows-1252 with '?' for what it cannot hold"},
        kJsonOption},
       "write the items as a delimited text table",
       "Writes every item of the catalog, in catalog order, as one row of FILE, with one cell per field of "
       "--fields; rows end with CR LF. A field is named as find --where names it: by its label or by its id "
       "(0x2). Cells hold the values as the list view shows them, \"-\" when there is none; in a cell a "
       "double quote becomes an apostrophe, and line breaks and tabs become spaces. comma and merge put every "
       "cell in double quotes; merge always begins with the labels, joined by the delimiter, spaces turned to "
       "'_'. FILE is replaced only once the whole table is written: a failure leaves no partial file. Prints "
       "the file, the number of items and of fields.",
       CmdExport},
  };
}

}  // namespace norvo::cli
