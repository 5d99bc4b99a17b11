// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/short_name.h"

#include "platform/text_encoding.h"

namespace norvo {
namespace {

// Characters a short name may hold, after upper-casing.
bool Usable(std::uint8_t c) {
  if (c <= ' ' || c == 0x7F) return false;
  static constexpr char kRefused[] = "\"*+,./:;<=>?[\\]|";
  for (char r : kRefused) {
    if (r != '\0' && c == static_cast<std::uint8_t>(r)) return false;
  }
  return true;
}

std::string Letters(const std::string& text, std::size_t max) {
  std::string out;
  for (char ch : text) {
    if (out.size() == max) break;
    auto c = UpperWindows1252(static_cast<std::uint8_t>(ch));
    if (Usable(c)) out.push_back(static_cast<char>(c));
  }
  return out;
}

}  // namespace

ErrorCode ShortName(const std::string& name, std::string& out) {
  std::size_t dot = name.rfind('.');
  // A leading dot (a hidden file's name) does not start an extension.
  if (dot == 0) dot = std::string::npos;
  std::string base = Letters(name.substr(0, dot), 6);
  if (base.empty()) return err::kBadName;
  std::string extension = dot == std::string::npos ? std::string() : Letters(name.substr(dot + 1), 3);
  out = base + "~1";
  if (!extension.empty()) out += "." + extension;
  return err::kNone;
}

}  // namespace norvo
