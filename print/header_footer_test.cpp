// SPDX-License-Identifier: GPL-3.0-or-later
#include "print/header_footer.h"

#include <gtest/gtest.h>

namespace norvo::print {
namespace {

HeaderValues PageOf(int page, int pages) {
  HeaderValues v;
  v.page = page;
  v.pages = pages;
  v.date = "06/12/2026";
  v.time = "12:05";
  v.catalog_title = "Holiday";
  return v;
}

TEST(HeaderLine, PageNumberAndTotalFillTheLine) {
  const HeaderText text = ExpandHeaderLine("Page &p of &n", PageOf(2, 5));
  EXPECT_EQ(text.centre, "Page 2 of 5");
  EXPECT_TRUE(text.left.empty());
  EXPECT_TRUE(text.right.empty());
}

TEST(HeaderLine, DoubleAmpersandPrintsOneAndStopsATokenBeingRead) {
  EXPECT_EQ(ExpandHeaderLine("&&", PageOf(1, 1)).centre, "&");
  // "&&p" is an ampersand and a p, not the page number.
  EXPECT_EQ(ExpandHeaderLine("R&&D &&p&p", PageOf(7, 9)).centre, "R&D &p7");
}

TEST(HeaderLine, EveryTokenOfTheMenuIsReplaced) {
  std::string line;
  for (const HeaderToken& t : kHeaderTokens) {
    if (t.token != "&i") line += std::string(t.token) + "|";
  }
  EXPECT_EQ(ExpandHeaderLine(line, PageOf(3, 4)).centre, "&|06/12/2026|12:05|3|4|Holiday|");
}

TEST(HeaderLine, IndentSplitsIntoLeftCentreAndRight) {
  HeaderText two = ExpandHeaderLine("&c&iPage &p", PageOf(1, 2));
  EXPECT_EQ(two.left, "Holiday");
  EXPECT_EQ(two.centre, "");
  EXPECT_EQ(two.right, "Page 1");

  HeaderText three = ExpandHeaderLine("&d&i&c&i&t", PageOf(1, 2));
  EXPECT_EQ(three.left, "06/12/2026");
  EXPECT_EQ(three.centre, "Holiday");
  EXPECT_EQ(three.right, "12:05");

  // There is no stop after the right one: a third indent adds nothing.
  HeaderText more = ExpandHeaderLine("a&ib&ic&id", PageOf(1, 1));
  EXPECT_EQ(more.right, "cd");
}

TEST(HeaderLine, UnknownTokensAndATrailingAmpersandStayAsWritten) {
  EXPECT_EQ(ExpandHeaderLine("Tom &x Jerry &", PageOf(1, 1)).centre, "Tom &x Jerry &");
  EXPECT_TRUE(ExpandHeaderLine("", PageOf(1, 1)).empty());
}

}  // namespace
}  // namespace norvo::print
