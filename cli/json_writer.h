// SPDX-License-Identifier: GPL-3.0-or-later
// A small JSON emitter for norvo-cli. Output is pretty-printed with two
// spaces per level and one member per line, so that scripts and tests can
// rely on it byte for byte:
//
//   {
//     "items": 2,
//     "path": null
//   }
//
// Empty objects and arrays print as {} and []. Text must be UTF-8.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::cli {

class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();

  // The name of the next member; only inside an object.
  JsonWriter& key(std::string_view name);

  void string(std::string_view utf8);
  template <std::integral T>
  requires(!std::same_as<T, bool>) void number(T value) { rawValue(std::to_string(value)); }
  void boolean(bool value);
  void null();

  // The text so far; complete once every object and array is closed.
  const std::string& text() const { return out_; }

 private:
  struct Level {
    bool object = false;
    int members = 0;
  };
  // Separator and indentation before a value (or before a key in an object).
  void beforeValue();
  void open(char bracket, bool object);
  void close(char bracket);
  void indent();
  void rawValue(std::string_view text);

  std::string out_;
  std::vector<Level> levels_;
  bool after_key_ = false;
};

}  // namespace norvo::cli
