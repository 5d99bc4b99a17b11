// SPDX-License-Identifier: GPL-3.0-or-later
// Header and footer lines and their tokens: && an ampersand, &i the next tab
// stop ("Indent"), &d the date, &t the time, &p the page number, &n the
// number of pages, &c the catalog's title. A line without &i is centred; one
// &i splits it into a left and a right part; a second &i into left, centre
// and right. An & before any other character is printed as it is.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace norvo::print {

// The token menu, in its order: what it shows and what it inserts.
struct HeaderToken {
  std::string_view name;
  std::string_view token;
};
inline constexpr std::array<HeaderToken, 7> kHeaderTokens = {{{"Ampersand", "&&"},
                                                              {"Indent", "&i"},
                                                              {"Date", "&d"},
                                                              {"Time", "&t"},
                                                              {"Page Number", "&p"},
                                                              {"Total Pages", "&n"},
                                                              {"Catalog Title", "&c"}}};

// Ready-made lines offered by the "Special" button.
inline constexpr std::array<std::string_view, 5> kSpecialLines = {
    "Page &p of &n", "&c&i&d", "&c&iPage &p of &n", "&d &t&i&c&iPage &p", "&c&i&i&d &t"};

// What the tokens stand for on one page.
struct HeaderValues {
  int page = 1;
  int pages = 1;
  std::string date;  // as the user's locale writes it
  std::string time;
  std::string catalog_title;
};

// A line with its tokens replaced: the left, centre and right parts.
struct HeaderText {
  std::string left, centre, right;
  bool empty() const { return left.empty() && centre.empty() && right.empty(); }
};

HeaderText ExpandHeaderLine(std::string_view line, const HeaderValues& values);

}  // namespace norvo::print
