// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli to print catalogs to PDF, with no display, and
// reads the files back with pdfinfo, pdftotext and pdfimages.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace {

using namespace norvo::cli_testing;

const std::vector<std::string> kSources = {"DSCN0010.jpg", "Canon_40D.jpg", "Nikon_D70.jpg", "Pentax_K10D.jpg",
                                           "Kodak_CX7530.jpg"};

int PdfPages(const std::string& pdf) {
  const std::string info = CaptureCommand("pdfinfo '" + pdf + "'");
  const std::size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

std::string PageText(const std::string& pdf, int page) {
  const std::string n = std::to_string(page);
  return CaptureCommand("pdftotext -f " + n + " -l " + n + " '" + pdf + "' -");
}

// Images on each page as `pdfimages -list` shows them.
std::vector<int> ImagesPerPage(const std::string& pdf, int pages) {
  std::vector<int> counts(static_cast<std::size_t>(pages));
  const std::string list = CaptureCommand("pdfimages -list '" + pdf + "'");
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    int page = 0;
    char type[16] = {};
    if (std::sscanf(list.substr(start, end - start).c_str(), "%d %*d %15s", &page, type) == 2 &&
        std::string(type) == "image" && page >= 1 && page <= pages) {
      ++counts[static_cast<std::size_t>(page - 1)];
    }
    start = end + 1;
  }
  return counts;
}

class PrintCliTest : public CliHarness {
 protected:
  void SetUp() override {
    if (!Have({"pdfinfo", "pdftotext", "pdfimages"})) GTEST_SKIP() << "poppler-utils are not installed";
    // The command needs no display: none is offered to it.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    CliHarness::SetUp();
    std::vector<std::string> files;
    for (int copy = 0; copy < 2; ++copy) {
      for (const std::string& s : kSources) files.push_back(Photo(s, std::to_string(copy) + "_" + s));
    }
    NewCatalog(files);
    Ok({"scan", catalog_});
  }
  std::string Pdf(const std::string& name) const { return (dir_ / name).string(); }
};

TEST_F(PrintCliTest, ContactSheetHasOnePicturePerCellAndTheFileNames) {
  const Json result = JsonOf({"print", catalog_, "--pdf", Pdf("sheet.pdf"), "--layout", "contact", "--grid", "3x2"});
  EXPECT_EQ((Json{result["layout"], result["items"], result["pages"], result["printed"]}),
            (Json{"Contact Sheet", 10, 2, Json::array({1, 2})}));
  ASSERT_EQ(PdfPages(Pdf("sheet.pdf")), 2);
  EXPECT_EQ(ImagesPerPage(Pdf("sheet.pdf"), 2), (std::vector<int>{6, 4}));
  const std::string first = PageText(Pdf("sheet.pdf"), 1);
  EXPECT_NE(first.find("0_DSCN0010.jpg"), std::string::npos) << first;
  EXPECT_NE(first.find("1_DSCN0010.jpg"), std::string::npos) << first;
  EXPECT_EQ(first.find("1_Canon_40D.jpg"), std::string::npos) << "the seventh item belongs on page 2";
}

TEST_F(PrintCliTest, OddAndEvenRangesKeepThePageNumbersOfTheWhole) {
  const std::vector<std::string> base = {"print", catalog_, "--layout", "contact", "--grid", "2x1",
                                         "--header", "Page &p of &n", "--footer", "Tom && Jerry"};
  auto with = [&](const std::vector<std::string>& extra) { return Plus(base, extra); };
  Ok(with({"--pdf", Pdf("all.pdf")}));
  ASSERT_EQ(PdfPages(Pdf("all.pdf")), 5);
  const std::string second = PageText(Pdf("all.pdf"), 2);
  EXPECT_NE(second.find("Page 2 of 5"), std::string::npos) << second;
  EXPECT_NE(second.find("Tom & Jerry"), std::string::npos) << second;

  const Json odd = JsonOf(with({"--pdf", Pdf("odd.pdf"), "--range", "odd"}));
  EXPECT_EQ(odd["printed"], Json::array({1, 3, 5}));
  EXPECT_EQ(PdfPages(Pdf("odd.pdf")), 3);
  EXPECT_NE(PageText(Pdf("odd.pdf"), 2).find("Page 3 of 5"), std::string::npos);

  Ok(with({"--pdf", Pdf("even.pdf"), "--range", "even"}));
  EXPECT_EQ(PdfPages(Pdf("even.pdf")), 2);
  EXPECT_NE(PageText(Pdf("even.pdf"), 2).find("Page 4 of 5"), std::string::npos);

  // A range of pages, as a print dialog gives it.
  const Json some = JsonOf(with({"--pdf", Pdf("some.pdf"), "--pages", "2-3"}));
  EXPECT_EQ(some["printed"], Json::array({2, 3}));
  EXPECT_NE(PageText(Pdf("some.pdf"), 1).find("Page 2 of 5"), std::string::npos);
  EXPECT_EQ(JsonOf(with({"--pdf", Pdf("tail.pdf"), "--pages", "4-"}))["printed"], Json::array({4, 5}));
}

TEST_F(PrintCliTest, MediaSheetsRepeatAndHiddenItemsStayOut) {
  const std::string second_id = std::to_string(List(catalog_)[1]["id"].get<int>());
  Ok({"hide", catalog_, second_id});
  const Json media = JsonOf({"print", catalog_, "--pdf", Pdf("media.pdf"), "--layout", "media", "--repeat", "2"});
  EXPECT_EQ((Json{media["items"], media["pages"]}), (Json{9, 18}));
  EXPECT_EQ(PdfPages(Pdf("media.pdf")), 18);
  EXPECT_EQ(ImagesPerPage(Pdf("media.pdf"), 18), std::vector<int>(18, 1));
  // The content list names its items, the hidden one not among them.
  Ok({"print", catalog_, "--pdf", Pdf("list.pdf"), "--layout", "list"});
  const std::string text = CaptureCommand("pdftotext '" + Pdf("list.pdf") + "' -");
  EXPECT_NE(text.find("0_DSCN0010.jpg"), std::string::npos) << text;
  EXPECT_EQ(text.find("0_Canon_40D.jpg"), std::string::npos) << text;
  EXPECT_EQ(ImagesPerPage(Pdf("list.pdf"), 1), std::vector<int>{9});
}

TEST_F(PrintCliTest, WrongCommandLinesAndMissingFoldersAreRefused) {
  Fails({"print", catalog_}, 2);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--grid", "0x3"}, {"--grid", "4by4"}, {"--layout", "poster"}, {"--range", "current"}, {"--pages", "3-2"},
           {"--range", "odd", "--pages", "1"}}) {
    Fails(Plus({"print", catalog_, "--pdf", Pdf("x.pdf")}, bad), 2);
  }
  Fails({"print", catalog_, "--pdf", Pdf("no/such.pdf")}, 1, "couldn't be found");
  // Even pages of a one-page job: nothing to print, and no file.
  Fails({"print", catalog_, "--pdf", Pdf("none.pdf"), "--range", "even"}, 1);
  EXPECT_FALSE(fs::exists(Pdf("none.pdf")));
  EXPECT_FALSE(fs::exists(Pdf("x.pdf")));
}

}  // namespace
