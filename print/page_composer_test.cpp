// SPDX-License-Identifier: GPL-3.0-or-later
#include "print/page_composer.h"

#include <gtest/gtest.h>
#include <QImage>
#include <QPainter>

#include <fstream>
#include <tuple>

#include "print/print_test_support.h"
#include "print/print_to_pdf.h"

namespace norvo::print {
namespace {

using testing::HavePoppler;
using testing::ImagesPerPage;
using testing::PdfPages;

const std::vector<std::string> kPhotos = {"DSCN0010.jpg", "Canon_40D.jpg", "Nikon_D70.jpg", "Pentax_K10D.jpg",
                                          "Kodak_CX7530.jpg"};

class PageComposerTest : public testing::PrintCatalogTest {
 protected:
  PrintJob Job(PrintLayout layout, int columns = 0, int rows = 0) {
    PrintJob job;
    job.catalog = catalog_.get();
    job.cells = cells_;
    job.options.layout = layout;
    if (columns > 0) {
      job.options.grid = GridMode::kCells;
      job.options.columns = columns;
      job.options.rows = rows;
    }
    job.catalog_title = "Trip";
    return job;
  }
  std::string Pdf(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<int> cells_;
};

TEST_F(PageComposerTest, RangesPickOddEvenBoxedAndCurrentPages) {
  cells_ = AddPhotos(kPhotos, 2);  // 10 items
  PrintJob job = Job(PrintLayout::kContactSheet, 2, 1);
  ASSERT_EQ(PageComposer(job).pageCount(), 5);
  EXPECT_EQ(PageComposer(job).pagesToPrint(), (std::vector<int>{1, 2, 3, 4, 5}));
  job.options.range = PrintRange::kOddPages;
  EXPECT_EQ(PageComposer(job).pagesToPrint(), (std::vector<int>{1, 3, 5}));
  job.options.range = PrintRange::kEvenPages;
  EXPECT_EQ(PageComposer(job).pagesToPrint(), (std::vector<int>{2, 4}));
  job.options.range = PrintRange::kCurrentPage;
  job.current_item = 5;  // the sixth item, on the third page of two a page
  EXPECT_EQ(PageComposer(job).pagesToPrint(), (std::vector<int>{3}));
  job.options.range = PrintRange::kDefineInPrintBox;
  job.first_page = 2;
  job.last_page = 9;  // beyond the end: to the last page
  EXPECT_EQ(PageComposer(job).pagesToPrint(), (std::vector<int>{2, 3, 4, 5}));

  // One page has no even page.
  PrintJob one = Job(PrintLayout::kContactSheet, 4, 4);
  one.options.range = PrintRange::kEvenPages;
  EXPECT_TRUE(PageComposer(one).pagesToPrint().empty());
  EXPECT_EQ(PrintToPdf(one, Pdf("none.pdf")), err::kParam);
  EXPECT_FALSE(std::filesystem::exists(Pdf("none.pdf")));
}

TEST_F(PageComposerTest, MediaSheetsRepeatEachItemAndMirrorMarginsMoveEvenPages) {
  cells_ = AddPhotos(kPhotos);
  PrintJob job = Job(PrintLayout::kMediaSheet);
  job.options.repeat_count = 3;
  EXPECT_EQ(PageComposer(job).pageCount(), 5) << "the count is kept until Repeat media is on";
  job.options.set(print_flags::kRepeatMedia, true);
  EXPECT_EQ(PageComposer(job).pageCount(), 15);

  job.options.margin_left = 4;
  job.options.margin_right = 1;
  job.options.mirror_margins = true;
  const PageComposer composer(job);
  const double cm = 72 / 2.54;
  EXPECT_NEAR(composer.bodyOf(1).left(), 4 * cm, 1e-6);
  EXPECT_NEAR(composer.bodyOf(2).left(), 1 * cm, 1e-6);
  EXPECT_NEAR(composer.bodyOf(2).width(), composer.bodyOf(1).width(), 1e-6);
  job.options.mirror_margins = false;
  EXPECT_NEAR(PageComposer(job).bodyOf(2).left(), 4 * cm, 1e-6);
}

TEST_F(PageComposerTest, CellSizeInAUnitDecidesTheGrid) {
  cells_ = AddPhotos(kPhotos);
  PrintJob job = Job(PrintLayout::kContactSheet);
  job.options.grid = GridMode::kSize;
  job.options.flags = 0;  // no gap, no labels
  job.options.lines = {};
  job.options.margin_left = job.options.margin_right = job.options.margin_top = job.options.margin_bottom = 0.5;
  // A4 less 1 cm each way: 20 x 28.7 cm.
  for (const auto& [unit, w, h, columns, rows] :
       std::vector<std::tuple<GridUnit, double, double, int, int>>{{GridUnit::kCentimeters, 5, 7, 4, 4},
                                                                   {GridUnit::kInches, 2, 3, 3, 3},
                                                                   {GridUnit::kPoints, 144, 216, 3, 3},
                                                                   {GridUnit::kPicas, 12, 18, 3, 3},
                                                                   {GridUnit::kPixels, 192, 288, 3, 3}}) {
    job.options.unit = unit;
    job.options.cell_width = w;
    job.options.cell_height = h;
    const PageComposer composer(job);
    const PageGeometry& g = composer.geometry();
    EXPECT_EQ(g.columns, columns) << kUnitNames[static_cast<std::size_t>(unit)];
    EXPECT_EQ(g.rows, rows) << kUnitNames[static_cast<std::size_t>(unit)];
    EXPECT_NEAR(g.cell.width(), ToPoints(w, unit), 1e-6);
  }
}

TEST_F(PageComposerTest, HiResPicturesComeFromTheFileAndFallBackToTheThumbnail) {
  cells_ = AddPhotos({"DSCN0010.jpg"});  // 640 x 480
  const PageComposer composer(Job(PrintLayout::kContactSheet));
  const QImage stored = composer.picture(1, false, 0);
  const QImage file = composer.picture(1, true, 0);
  ASSERT_FALSE(stored.isNull());
  ASSERT_FALSE(file.isNull());
  EXPECT_LT(stored.width(), 640);
  EXPECT_EQ(file.width(), 640);
  EXPECT_EQ(file.height(), 480);
  std::filesystem::remove_all(dir_ / "files");
  EXPECT_EQ(composer.picture(1, true, 0).size(), stored.size());
}

// The colour in the middle of the first cell's picture area, drawn on an
// image at 72 dots per inch.
QColor FirstCellColour(const PrintJob& job, QPointF at) {
  const PageComposer composer(job);
  QImage page(static_cast<int>(composer.geometry().paper.width()), static_cast<int>(composer.geometry().paper.height()),
              QImage::Format_RGB32);
  page.setDotsPerMeterX(2835);  // 72 dpi
  page.setDotsPerMeterY(2835);
  page.fill(Qt::white);
  QPainter painter(&page);
  painter.scale(page.logicalDpiX() / 72.0, page.logicalDpiY() / 72.0);
  EXPECT_EQ(composer.drawPage(painter, 1), err::kNone);
  painter.end();
  return page.pixelColor(at.toPoint());
}

TEST_F(PageComposerTest, ViewColorsTintACellWithItsLabel) {
  cells_ = AddPhotos({"DSCN0010.jpg"});
  ASSERT_EQ(catalog::SetItemLabel(*catalog_, 1, 2), err::kNone);
  PrintJob job = Job(PrintLayout::kContactSheet, 2, 2);
  job.labels[1] = app::Label{"Green", 0, 0xFFFF, 0};
  const PageComposer composer(job);
  const QRectF body = composer.bodyOf(1);
  // Just inside the cell's top-left corner: the cell, not the picture.
  const QPointF corner = body.topLeft() + QPointF(2.5, 2.5);
  EXPECT_EQ(FirstCellColour(job, corner), QColor(Qt::white));
  job.options.set(print_flags::kViewColors, true);
  const QColor tinted = FirstCellColour(job, corner);
  EXPECT_NE(tinted, QColor(Qt::white));
  EXPECT_GT(tinted.green(), tinted.red() + 30);
  EXPECT_EQ(tinted.red(), tinted.blue());
}

TEST_F(PageComposerTest, PdfHasTheHeaderTokensAndOnePicturePerCell) {
  if (!HavePoppler()) GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext, pdfimages) are not installed";
  cells_ = AddPhotos(kPhotos, 2);  // 10 items: 3 x 2 fills one page and leaves 4
  PrintJob job = Job(PrintLayout::kContactSheet, 3, 2);
  job.options.lines = {"Page &p of &n", "", "&c && more", ""};
  int reported = 0;
  PdfCallbacks callbacks;
  callbacks.progress = [&](int done, int total) {
    EXPECT_EQ(total, 2);
    reported = done;
  };
  ASSERT_EQ(PrintToPdf(job, Pdf("sheet.pdf"), callbacks), err::kNone);
  EXPECT_EQ(reported, 2);
  EXPECT_EQ(PdfPages(Pdf("sheet.pdf")), 2);
  EXPECT_EQ(ImagesPerPage(Pdf("sheet.pdf"), 2), (std::vector<int>{6, 4}));
  const std::string page2 = testing::Capture("pdftotext -f 2 -l 2 '" + Pdf("sheet.pdf") + "' -");
  EXPECT_NE(page2.find("Page 2 of 2"), std::string::npos) << page2;
  EXPECT_NE(page2.find("Trip & more"), std::string::npos) << page2;
  EXPECT_NE(page2.find("1_Pentax_K10D.jpg"), std::string::npos) << page2;

  // The content list's text: the field names above, each item's values.
  PrintJob list = Job(PrintLayout::kContentList);
  ASSERT_EQ(PrintToPdf(list, Pdf("list.pdf")), err::kNone);
  const std::string text = testing::Capture("pdftotext -layout '" + Pdf("list.pdf") + "' -");
  EXPECT_NE(text.find("File Name"), std::string::npos) << text;
  EXPECT_NE(text.find("640 x 480"), std::string::npos) << text;
  EXPECT_EQ(ImagesPerPage(Pdf("list.pdf"), 1), std::vector<int>{10});
}

TEST_F(PageComposerTest, CancelledOrFailedJobsLeaveNoFile) {
  cells_ = AddPhotos(kPhotos);
  PrintJob job = Job(PrintLayout::kMediaSheet);
  const std::string path = Pdf("media.pdf");
  { std::ofstream(path) << "older"; }
  PdfCallbacks callbacks;
  int pages = 0;
  callbacks.progress = [&](int done, int) { pages = done; };
  callbacks.cancelled = [&] { return pages == 2; };
  EXPECT_EQ(PrintToPdf(job, path, callbacks), err::kUserCancelled);
  EXPECT_EQ(testing::Capture("cat '" + path + "'"), "older");
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
  EXPECT_EQ(PrintToPdf(job, Pdf("no/such/folder.pdf")), err::kFolderNotFound);
}

}  // namespace
}  // namespace norvo::print
