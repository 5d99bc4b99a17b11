// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/json_writer.h"

#include "platform/text_encoding.h"

namespace norvo::cli {

void JsonWriter::indent() { out_.append(2 * levels_.size(), ' '); }

void JsonWriter::beforeValue() {
  if (after_key_) {  // the key already placed this value
    after_key_ = false;
    return;
  }
  if (!levels_.empty()) {
    if (levels_.back().members++ > 0) out_.push_back(',');
    out_.push_back('\n');
    indent();
  }
}

JsonWriter& JsonWriter::key(std::string_view name) {
  beforeValue();
  out_ += '"';
  out_ += JsonEscape(name);
  out_ += "\": ";
  after_key_ = true;
  return *this;
}

void JsonWriter::open(char bracket, bool object) {
  beforeValue();
  out_.push_back(bracket);
  levels_.push_back({object, 0});
}

void JsonWriter::close(char bracket) {
  bool had_members = !levels_.empty() && levels_.back().members > 0;
  if (!levels_.empty()) levels_.pop_back();
  if (had_members) {
    out_.push_back('\n');
    indent();
  }
  out_.push_back(bracket);
}

void JsonWriter::beginObject() { open('{', true); }
void JsonWriter::endObject() { close('}'); }
void JsonWriter::beginArray() { open('[', false); }
void JsonWriter::endArray() { close(']'); }

void JsonWriter::string(std::string_view utf8) {
  beforeValue();
  out_ += '"';
  out_ += JsonEscape(utf8);
  out_ += '"';
}

void JsonWriter::rawValue(std::string_view text) {
  beforeValue();
  out_ += text;
}

void JsonWriter::boolean(bool value) {
  beforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::null() {
  beforeValue();
  out_ += "null";
}

}  // namespace norvo::cli
