// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/document_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "imaging/image_writer.h"
#include "imaging/test_pictures.h"
#include "media/test_support.h"
#include "platform/byte_io.h"

namespace norvo::media {
namespace {

using imaging::testing::SizeOf;

// A PDF laid out by hand: numbered objects, then a cross-reference table
// with each object's byte offset, then the trailer.
class PdfBuilder {
 public:
  // Adds object n (from 1, in order) with the given body.
  void object(const std::string& body) { objects_.push_back(body); }
  void stream(const std::string& dictionary, const std::string& data) {
    objects_.push_back("<< " + dictionary + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
                       "\nendstream");
  }
  std::string build() const {
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects_.size(); ++i) {
      offsets.push_back(out.size());
      out += std::to_string(i + 1) + " 0 obj\n" + objects_[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects_.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
      char entry[21];
      std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
      out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(objects_.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
  }

 private:
  std::vector<std::string> objects_;
};

// Pages of width x height points, each filled with its own colour (PDF
// colour operands "r g b"); the first page's right half is blue.
std::string ColourPages(int width, int height, const std::vector<std::string>& colours, int rotate = 0) {
  PdfBuilder pdf;
  pdf.object("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (std::size_t i = 0; i < colours.size(); ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
  pdf.object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(colours.size()) + " >>");
  for (std::size_t i = 0; i < colours.size(); ++i) {
    pdf.object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " + std::to_string(height) +
               "] /Rotate " + std::to_string(rotate) + " /Contents " + std::to_string(4 + 2 * i) + " 0 R >>");
    std::string content = colours[i] + " rg 0 0 " + std::to_string(width) + " " + std::to_string(height) + " re f";
    if (i == 0) content += " 0 0 1 rg " + std::to_string(width / 2) + " 0 " + std::to_string(width - width / 2) + " " +
                           std::to_string(height) + " re f";
    pdf.stream("", content);
  }
  return pdf.build();
}

bool Near(std::uint32_t argb, std::uint32_t rgb, int tolerance = 8) {
  for (int shift : {16, 8, 0}) {
    if (std::abs(int((argb >> shift) & 0xFF) - int((rgb >> shift) & 0xFF)) > tolerance) return false;
  }
  return (argb >> 24) == 0xFF;
}

class DocumentReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HavePdfReader()) GTEST_SKIP() << "built without Poppler";
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    dir_.write(name, bytes);
    return dir_.path() + "/" + name;
  }
  testing::TempDir dir_;
};

TEST_F(DocumentReaderTest, PdfPageCountSizeAndColours) {
  const std::string path = Write("two.pdf", ColourPages(200, 100, {"1 0 0", "0 1 0"}));
  DocumentFacts facts;
  imaging::PixelBuffer picture;
  ASSERT_EQ(ReadDocument(path, 0, &facts, &picture), err::kNone);
  EXPECT_EQ(facts.pages, 2);
  EXPECT_EQ(facts.width, 200);
  EXPECT_EQ(facts.height, 100);
  EXPECT_EQ(facts.resolution, 72);
  EXPECT_EQ(facts.colour_space, FourCC("RGB "));
  ASSERT_EQ(SizeOf(picture), std::pair(200, 100));  // 72 dpi
  // The first page: red on the left, blue on the right.
  EXPECT_TRUE(Near(picture.pixel(20, 50), 0xFF0000));
  EXPECT_TRUE(Near(picture.pixel(180, 50), 0x0000FF));

  // Fitted to a box, larger or smaller than the page.
  ASSERT_EQ(ReadPdfDocument(path, 100, &facts, &picture), err::kNone);
  EXPECT_EQ(SizeOf(picture), std::pair(100, 50));
  EXPECT_TRUE(Near(picture.pixel(10, 25), 0xFF0000));
  EXPECT_TRUE(Near(picture.pixel(90, 25), 0x0000FF));
  ASSERT_EQ(ReadPdfDocument(path, 600, &facts, &picture), err::kNone);
  EXPECT_EQ(SizeOf(picture), std::pair(600, 300));
  EXPECT_EQ(facts.width, 200);  // the facts stay at 72 dpi

  // Facts alone.
  ASSERT_EQ(ReadPdfDocument(path, 100, &facts, nullptr), err::kNone);
  EXPECT_EQ(facts.pages, 2);
}

TEST_F(DocumentReaderTest, TurnedPage) {
  const std::string path = Write("turned.pdf", ColourPages(200, 100, {"1 0 0"}, 90));
  DocumentFacts facts;
  imaging::PixelBuffer picture;
  ASSERT_EQ(ReadPdfDocument(path, 0, &facts, &picture), err::kNone);
  EXPECT_EQ(facts.width, 100);
  EXPECT_EQ(facts.height, 200);
  ASSERT_EQ(SizeOf(picture), std::pair(100, 200));
  // Turned clockwise: the page's left (red) half is now on top.
  EXPECT_TRUE(Near(picture.pixel(50, 20), 0xFF0000));
  EXPECT_TRUE(Near(picture.pixel(50, 180), 0x0000FF));
}

TEST_F(DocumentReaderTest, DamagedAndMissingPdfs) {
  DocumentFacts facts;
  imaging::PixelBuffer picture;
  EXPECT_EQ(ReadPdfDocument(dir_.path() + "/none.pdf", 0, &facts, &picture), err::kFileNotFound);
  EXPECT_EQ(ReadDocument(dir_.path() + "/none.pdf", 0, &facts, &picture), err::kFileNotFound);
  EXPECT_EQ(ReadPdfDocument(Write("junk.pdf", "%PDF-1.4\nnothing of a document here\n"), 0, &facts, &picture),
            err::kNoDocumentPicture);
  EXPECT_TRUE(picture.empty());

  // Every cut of a valid file either reads (Poppler rebuilds lost tables)
  // or fails cleanly.
  const std::string whole = ColourPages(120, 80, {"0 1 0"});
  for (std::size_t length = 0; length < whole.size(); length += 7) {
    const std::string path = Write("cut.pdf", whole.substr(0, length));
    const ErrorCode e = ReadDocument(path, 60, &facts, &picture);
    if (length >= 8) {  // shorter ones lack the signature and go to the office converter
      EXPECT_TRUE(e == err::kNone || e == err::kNoDocumentPicture) << length << ": " << e;
    }
    if (e == err::kNone) {
      EXPECT_LE(picture.width(), 60);
      EXPECT_GE(facts.pages, 1);
    }
  }
}

TEST_F(DocumentReaderTest, ThreadsRenderSideBySide) {
  const std::string path = Write("page.pdf", ColourPages(150, 150, {"1 1 0"}));
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        DocumentFacts facts;
        imaging::PixelBuffer picture;
        if (ReadPdfDocument(path, 50, &facts, &picture) != err::kNone || picture.width() != 50 ||
            !Near(picture.pixel(10, 10), 0xFFFF00)) {
          ++bad[t];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int b : bad) EXPECT_EQ(b, 0);
}

// --- office documents, through stand-ins for the converter ----------------------------

// A PNG of width x height in one colour.
std::string SolidPng(int width, int height, std::uint32_t rgb) {
  imaging::PixelBuffer picture;
  EXPECT_EQ(picture.allocate(width, height), err::kNone);
  picture.fill(0xFF000000u | rgb);
  std::vector<std::uint8_t> png;
  EXPECT_EQ(imaging::EncodeImage(*imaging::FindImageWriter("png"), picture, {}, &png), err::kNone);
  return std::string(png.begin(), png.end());
}

class OfficeDocumentTest : public ::testing::Test {
 protected:
  // A converter stand-in: records its arguments, then runs `body` with
  // $out (the --outdir folder) and $file (the document) set.
  std::string Converter(const std::string& body) {
    const std::string path = dir_.path() + "/fake-soffice";
    dir_.write("fake-soffice",
               "#!/bin/sh\n"
               "printf '%s\\n' \"$@\" > '" + dir_.path() + "/arguments'\n"
               "out=; file=; prev=\n"
               "for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; file=$a; done\n" +
               body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
  std::string Arguments() {
    std::ifstream in(dir_.path() + "/arguments");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  testing::TempDir dir_;
};

TEST_F(OfficeDocumentTest, ConvertedPageBecomesThePicture) {
  dir_.write("page.png", SolidPng(300, 150, 0x3366CC));
  const std::string program =
      Converter("name=$(basename \"$file\"); cp '" + dir_.path() + "/page.png' \"$out/${name%.*}.png\"");
  dir_.write("letter.docx", "PK not really a document");
  DocumentFacts facts;
  imaging::PixelBuffer picture;
  ASSERT_EQ(ReadOfficeDocument(dir_.path() + "/letter.docx", 100, OfficeConverter{program, 10000}, &facts, &picture),
            err::kNone);
  EXPECT_EQ(facts.width, 300);
  EXPECT_EQ(facts.height, 150);
  EXPECT_EQ(facts.pages, 0);
  ASSERT_EQ(SizeOf(picture), std::pair(100, 50));
  EXPECT_TRUE(Near(picture.pixel(50, 25), 0x3366CC, 2));
  const std::string args = Arguments();
  EXPECT_NE(args.find("--headless\n"), std::string::npos);
  EXPECT_NE(args.find("--convert-to\npng\n"), std::string::npos);
  EXPECT_NE(args.find("-env:UserInstallation=file:///"), std::string::npos);
  EXPECT_NE(args.find(dir_.path() + "/letter.docx\n"), std::string::npos);
}

TEST_F(OfficeDocumentTest, FailedSlowOrMissingConverter) {
  dir_.write("sheet.xls", "not a spreadsheet");
  const std::string file = dir_.path() + "/sheet.xls";
  DocumentFacts facts;
  imaging::PixelBuffer picture;
  EXPECT_EQ(ReadOfficeDocument(file, 0, OfficeConverter{Converter("exit 1"), 10000}, &facts, &picture),
            err::kNoDocumentPicture);
  EXPECT_EQ(ReadOfficeDocument(file, 0, OfficeConverter{Converter("exit 0"), 10000}, &facts, &picture),
            err::kNoDocumentPicture);  // ran, but wrote no page
  EXPECT_EQ(ReadOfficeDocument(file, 0, OfficeConverter{Converter("exec sleep 30"), 300}, &facts, &picture),
            err::kNoDocumentPicture);
  EXPECT_EQ(ReadOfficeDocument(file, 0, OfficeConverter{dir_.path() + "/no-such-program", 1000}, &facts, &picture),
            err::kNoDocumentPicture);
  EXPECT_TRUE(picture.empty());
  EXPECT_EQ(ReadOfficeDocument(dir_.path() + "/gone.doc", 0, OfficeConverter{Converter("exit 0"), 1000}, &facts,
                               &picture),
            err::kFileNotFound);
  // Without LibreOffice on $PATH an office document has no picture.
  if (FindOfficeProgram().empty()) {
    EXPECT_EQ(ReadDocument(file, 0, &facts, &picture), err::kNoDocumentPicture);
  }
}

}  // namespace
}  // namespace norvo::media
