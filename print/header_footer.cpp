// SPDX-License-Identifier: GPL-3.0-or-later
#include "print/header_footer.h"

#include <vector>

namespace norvo::print {

HeaderText ExpandHeaderLine(std::string_view line, const HeaderValues& values) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c != '&' || i + 1 == line.size()) {
      parts.back() += c;
      continue;
    }
    const char token = line[++i];
    switch (token) {
      case '&': parts.back() += '&'; break;
      case 'i':
      case 'I':
        if (parts.size() < 3) parts.emplace_back();
        break;
      case 'd':
      case 'D': parts.back() += values.date; break;
      case 't':
      case 'T': parts.back() += values.time; break;
      case 'p':
      case 'P': parts.back() += std::to_string(values.page); break;
      case 'n':
      case 'N': parts.back() += std::to_string(values.pages); break;
      case 'c':
      case 'C': parts.back() += values.catalog_title; break;
      default:
        parts.back() += '&';
        parts.back() += token;
        break;
    }
  }
  HeaderText text;
  if (parts.size() == 1) {
    text.centre = std::move(parts[0]);
  } else if (parts.size() == 2) {
    text.left = std::move(parts[0]);
    text.right = std::move(parts[1]);
  } else {
    text.left = std::move(parts[0]);
    text.centre = std::move(parts[1]);
    text.right = std::move(parts[2]);
  }
  return text;
}

}  // namespace norvo::print
