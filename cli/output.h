// SPDX-License-Identifier: GPL-3.0-or-later
// How norvo-cli prints a result. Commands build it once as JSON (keys in
// the order they are set) and print it either as JSON, pretty-printed with
// two spaces, or as text for people:
//
//   - a single object as `key: value` lines, values in one column, nested
//     objects as dotted keys (filters.size.kb);
//   - a list as columns under a header row.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/error_codes.h"

namespace norvo {
// An error code goes into JSON as its number (found by argument lookup).
template <class BasicJson>
void to_json(BasicJson& json, ErrorCode code) {
  json = static_cast<int>(code.value());
}
}  // namespace norvo

namespace norvo::cli {

using Json = nlohmann::ordered_json;

// The JSON text and a newline. Bytes that are not UTF-8 print as U+FFFD.
void PrintJson(std::ostream& out, const Json& value);

// A value as text: strings as they are, booleans as yes/no, null and empty
// lists as "(none)", lists of plain values joined by ", ".
std::string PlainText(const Json& value);

// `key: value` lines for the members of an object.
void PrintFields(std::ostream& out, const Json& object);

// `label<padding> sep value` lines, labels padded to the widest.
void PrintAligned(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& lines,
                  std::string_view separator);

struct Column {
  std::string_view header;
  bool right_aligned = false;
  std::function<std::string(const Json&)> cell;
};
// Shows a member's plain text; "-" when it is empty.
Column MemberColumn(std::string_view header, std::string key, bool right_aligned = false);

// One row per element of `rows` under a header row; columns are two spaces
// apart and the last one is not padded.
void PrintTable(std::ostream& out, const Json& rows, const std::vector<Column>& columns);

// The number of characters (code points) of UTF-8 text.
std::size_t TextWidth(std::string_view utf8);

// The object as JSON with --json, as `key: value` lines otherwise.
inline void PrintObject(std::ostream& out, const Json& object, bool json) {
  if (json) {
    PrintJson(out, object);
  } else {
    PrintFields(out, object);
  }
}

}  // namespace norvo::cli
