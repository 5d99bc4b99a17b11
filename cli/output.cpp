// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/output.h"

#include <algorithm>

namespace norvo::cli {
namespace {

constexpr std::string_view kNone = "(none)";

// Nested objects become dotted keys, so that each line is one plain value.
void Flatten(const Json& object, const std::string& prefix,
             std::vector<std::pair<std::string, std::string>>* lines) {
  for (const auto& [key, value] : object.items()) {
    std::string name = prefix.empty() ? key : prefix + "." + key;
    if (value.is_object() && !value.empty()) {
      Flatten(value, name, lines);
    } else {
      lines->emplace_back(std::move(name), PlainText(value));
    }
  }
}

void Pad(std::ostream& out, std::size_t n) {
  for (; n > 0; --n) out << ' ';
}

}  // namespace

void PrintJson(std::ostream& out, const Json& value) {
  out << value.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

std::string PlainText(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return std::string(kNone);
    case Json::value_t::boolean:
      return value.get<bool>() ? "yes" : "no";
    case Json::value_t::string:
      return value.get<std::string>();
    case Json::value_t::array: {
      if (value.empty()) return std::string(kNone);
      std::string text;
      for (const Json& item : value) text += (text.empty() ? "" : ", ") + PlainText(item);
      return text;
    }
    case Json::value_t::object:
      return value.empty() ? std::string(kNone) : value.dump(-1, ' ', false, Json::error_handler_t::replace);
    default:
      return value.dump();
  }
}

std::size_t TextWidth(std::string_view utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void PrintAligned(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& lines,
                  std::string_view separator) {
  std::size_t width = 0;
  for (const auto& line : lines) width = std::max(width, TextWidth(line.first));
  for (const auto& [label, value] : lines) {
    std::string line = label + std::string(width - TextWidth(label), ' ') + std::string(separator) + value;
    // An empty value leaves no blanks at the end of the line.
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

void PrintFields(std::ostream& out, const Json& object) {
  std::vector<std::pair<std::string, std::string>> lines;
  Flatten(object, "", &lines);
  for (auto& line : lines) line.first += ':';
  PrintAligned(out, lines, " ");
}

Column MemberColumn(std::string_view header, std::string key, bool right_aligned) {
  return {header, right_aligned, [key = std::move(key)](const Json& row) {
            std::string text = PlainText(row.at(key));
            return text.empty() ? std::string("-") : text;
          }};
}

void PrintTable(std::ostream& out, const Json& rows, const std::vector<Column>& columns) {
  std::vector<std::vector<std::string>> cells(1);
  for (const Column& c : columns) cells[0].emplace_back(c.header);
  for (const Json& row : rows) {
    std::vector<std::string>& line = cells.emplace_back();
    for (const Column& c : columns) line.push_back(c.cell(row));
  }
  std::vector<std::size_t> widths(columns.size(), 0);
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], TextWidth(line[i]));
  }
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) {
      const std::size_t gap = widths[i] - TextWidth(line[i]);
      const bool last = i + 1 == line.size();
      if (columns[i].right_aligned) Pad(out, gap);
      out << line[i];
      if (!last && !columns[i].right_aligned) Pad(out, gap);
      if (!last) out << "  ";
    }
    out << '\n';
  }
}

}  // namespace norvo::cli
