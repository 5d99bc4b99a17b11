// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the small JSON documents users pass on the command line (settings
// given with --set-json) into flat key/value pairs: nested object members
// are joined with '.', an array of plain values becomes its values joined
// by ',', strings are unescaped to UTF-8 and numbers and booleans keep their
// text.
//
//   {"filters": {"size": {"enabled": true, "kb": 200}}, "class_mask": ["Image"]}
//   -> filters.size.enabled=true, filters.size.kb=200, class_mask=Image
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvo::cli {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

// The pairs in document order; nothing, with the reason in *error, when the
// text is not JSON or an array holds objects or arrays.
std::optional<KeyValues> FlattenJson(std::string_view text, std::string* error);

}  // namespace norvo::cli
