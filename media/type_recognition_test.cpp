// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/type_recognition.h"

#include <gtest/gtest.h>

#include <string>

#include "media/media_type_registry.h"
#include "media/test_support.h"
#include "platform/byte_io.h"

namespace norvo::media {
namespace {

using testing::CodeOf;
using testing::CodeText;
using testing::FileAt;
using testing::TempDir;

// --- extension codes ----------------------------------------------------------------

TEST(TypeCodeFromName, TakesOneToFourCharactersAfterTheLastDot) {
  const struct {
    const char* name;
    const char* code;
  } cases[] = {
      {"photo.jpg", "JPG "}, {"scan.tiff", "TIFF"}, {"a.b", "B   "},   {".b", "B   "},      {".jpeg", "JPEG"},
      {"x.JpG", "JPG "},     {"v1.2.mp4", "MP4 "},  {"x..ab", "AB  "}, {"a.tar.gz", "GZ  "},
      {"x.\xE9t\xE9", "\xE9T\xE9 "},  // only a-z are upper-cased
      // No dot in the last five characters, or nothing after it.
      {"movie.mpeg4", "0"},  {"noextension", "0"},  {"file.", "0"},    {"", "0"},          {"b", "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(CodeText(TypeCodeFromName(c.name)), c.code) << '"' << c.name << '"';
}

// --- aliases and sniffing -----------------------------------------------------------

TEST(NormalizeMediaType, FoldsAliasesAndLeavesOtherCodes) {
  const FileSpec none = FileAt("/nonexistent-norvo-folder/x");
  const struct {
    const char* from;
    const char* to;
  } cases[] = {
      {"TIF ", "TIFF"}, {"DCM ", "DICM"}, {"JPG ", "JPEG"}, {"GIF ", "GIFf"}, {"MOV ", "MooV"},
      // Aliases are exact: other case, other codes stay.
      {"jpg ", "jpg "}, {"fax ", "fax "}, {"MOOV", "MOOV"}, {"PNG ", "PNG "},
  };
  for (const auto& c : cases) {
    MediaClass media_class = MediaClass::Font;
    EXPECT_EQ(CodeText(NormalizeMediaType(CodeOf(c.from), none, &media_class)), c.to) << c.from;
    EXPECT_EQ(media_class, MediaClass::Font) << "an alias leaves the class alone: " << c.from;
  }
}

class SniffTest : public ::testing::Test {
 protected:
  // The code and class a text file of that content gives as 'TXT '.
  std::string Sniff(std::string_view content, const char* code = "TXT ") {
    FileSpec file = dir_.write("f.txt", content);
    MediaClass media_class = MediaClass::Font;
    std::uint32_t result = NormalizeMediaType(CodeOf(code), file, &media_class);
    return CodeText(result) + "/" + std::string(MediaClassName(media_class));
  }
  TempDir dir_;
};

TEST_F(SniffTest, TheMarkerThatComesFirstInTheTextWinsAndShortTextIsKept) {
  const std::pair<std::string, const char*> cases[] = {
      {"xx <HTML> yy", "HTML/HTML"},
      {"%!PS-Adobe-3.0 EPSF-3.0", "EPSF/Illustration"},
      {"{QTtext}{font:Geneva}", "MooV/Video"},
      {"junk %PDF-1.4 then <HTML> later", "PDF /DTP"},
      {"<HTML> first, %PDF-1.4 after", "HTML/HTML"},
      {"%!PS- then %PDF- then <html>", "EPSF/Illustration"},
      {"%PD<html>F-", "HTML/HTML"},  // a marker across an earlier hit is not in front of it
      {"plain notes, nothing else", "TXT /Font"},
      {"<html>", "TXT /Font"},  // 6 bytes: too short to look at
      {"%PDF-1.", "PDF /DTP"},  // 7 bytes are enough
      {std::string("abc\0<html>", 10), "TXT /Font"},  // the text ends at the first zero byte
      {std::string(1017, ' ') + "<html>", "HTML/HTML"},  // ends at byte 1023
      {std::string(1018, ' ') + "<html>", "TXT /Font"},  // its last byte is the 1024th
  };
  for (const auto& [content, expected] : cases) EXPECT_EQ(Sniff(content), expected) << content.substr(0, 40);
  // The other sniffed codes behave alike; other codes are never looked into.
  EXPECT_EQ(Sniff("%!PS-Adobe-3.0", "AI  "), "EPSF/Illustration");
  EXPECT_EQ(Sniff("<html> page", "TEXT"), "HTML/HTML");
  EXPECT_EQ(Sniff("<html> page", "HTM "), "HTM /Font");
  EXPECT_EQ(NormalizeMediaType(FourCC("TXT "), FileAt(dir_.path() + "/missing.txt"), nullptr), FourCC("TXT "));
}

// --- recognition --------------------------------------------------------------------

class RecognizeTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearMediaTypes(); }
  void TearDown() override { ClearMediaTypes(); }
  // Recognises a file of that name and content in the temporary folder.
  std::string Recognize(const std::string& name, ClassMask mask = 0, std::string_view content = "content") {
    return CodeText(RecognizeMediaFile(dir_.write(name, content), mask));
  }
  TempDir dir_;
};

// Fault: recognition gave 'MOOV', 'PNG ', 'MP4 ' ... in the case of the
// extension, which no registry row holds, so handler, class, kind and
// capability queries answered wrongly. It gives the row's own code.
TEST_F(RecognizeTest, ExtensionsMatchRegisteredCodesInAnyCaseAndAreNormalized) {
  testing::Register("jpg ", MediaHandler::GraphicsImporter, "", MediaClass::Image);
  testing::Register("MooV", MediaHandler::MovieImporter, "", MediaClass::Video);
  testing::Register("MOV ", MediaHandler::MovieImporter, "", MediaClass::Video);
  testing::Register("tif ", MediaHandler::GraphicsImporter, "", MediaClass::Image);
  EXPECT_EQ(Recognize("IMG_0001.JPG"), "JPEG");
  EXPECT_EQ(Recognize("img_0001.jpg"), "JPEG");
  EXPECT_EQ(Recognize("clip.mov"), "MooV");
  EXPECT_EQ(Recognize("clip.MooV"), "MooV");  // the registry's spelling
  EXPECT_EQ(GetMediaHandler(RecognizeMediaFile(dir_.write("c.moov", "x"), 0)), MediaHandler::MovieImporter);
  EXPECT_EQ(Recognize("scan.TIF"), "TIFF");
  EXPECT_EQ(Recognize("photo.jpeg"), "0");    // 'JPEG' is not registered here
  for (const char* name : {"archive.mpeg4", "noextension", "file."}) EXPECT_EQ(Recognize(name), "0") << name;

  ClearMediaTypes();
  testing::Register("JPG ", MediaHandler::GraphicsImporter, "", MediaClass::Image);
  EXPECT_EQ(Recognize("IMG_0001.JPG"), "JPEG");
  // The first row that matches gives the class.
  testing::Register("abc ", MediaHandler::GraphicsImporter, "", MediaClass::Image);
  testing::Register("ABC ", MediaHandler::MovieImporter, "", MediaClass::Video);
  EXPECT_EQ(Recognize("x.abc", ClassMaskBit(MediaClass::Video)), "0");
  EXPECT_EQ(Recognize("x.abc", ClassMaskBit(MediaClass::Image)), "abc ");
}

TEST_F(RecognizeTest, MaskFilesAndFontSuitcases) {
  testing::Register("MSK ", MediaHandler::GraphicsImporter, "", MediaClass::Image);
  testing::Register("DFNT", MediaHandler::GraphicsImporter, "", MediaClass::Font);
  EXPECT_EQ(Recognize("layer.msk"), "0");
  EXPECT_EQ(Recognize("Helvetica.dfont"), "DFNT");
  EXPECT_EQ(Recognize("a.dfont"), "DFNT");
  EXPECT_EQ(Recognize(".dfont"), "0");     // six characters: no name before the extension, and no code
  EXPECT_EQ(Recognize("a.DFONT"), "0");    // the suffix is matched as written; "DFONT" is too long a code
}

TEST_F(RecognizeTest, TheClassMaskAppliesToTheClassAfterSniffing) {
  testing::Register("TXT ", MediaHandler::GraphicsImporter, "", MediaClass::Text);
  testing::Register("MooV", MediaHandler::MovieImporter, "", MediaClass::Video);
  const ClassMask text = ClassMaskBit(MediaClass::Text);
  const ClassMask html = ClassMaskBit(MediaClass::HTML);
  EXPECT_EQ(Recognize("notes.txt", html, "<html><body>"), "HTML");
  EXPECT_EQ(Recognize("notes.txt", text, "<html><body>"), "0");
  EXPECT_EQ(Recognize("notes.txt", text, "%PDF-1.4 <HTML>"), "0");
  EXPECT_EQ(Recognize("notes.txt", ClassMaskBit(MediaClass::DTP), "%PDF-1.4 <HTML>"), "PDF ");
  EXPECT_EQ(Recognize("notes.txt", text, "short"), "TXT ");
  EXPECT_EQ(Recognize("notes.txt", html, "plain words only"), "0");
  // A mask of zero accepts every class; a mask without the class refuses it.
  EXPECT_EQ(Recognize("m.moov", 0), "MooV");
  EXPECT_EQ(Recognize("m.moov", 0xFCFFFFFF), "MooV");
  EXPECT_EQ(Recognize("m.moov", RemoveClassFromMask(0xFFFFFFFF, MediaClass::Video)), "0");
}

}  // namespace
}  // namespace norvo::media
