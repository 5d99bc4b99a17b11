// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/media_type_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/graphics_importer_list.h"
#include "media/test_support.h"
#include "platform/byte_io.h"

namespace norvo::media {
namespace {

using testing::CodeOf;
using testing::KindOf;
using testing::Register;
using testing::MovieImporter;
using testing::StillImporter;

// The codes of one handler's rows (every row when none is given), in order.
std::vector<std::string> Codes(int handler = 0) {
  std::vector<std::string> codes;
  for (const MediaTypeRow& row : GetMediaTypeRows()) {
    if (handler == 0 || static_cast<int>(row.handler) == handler) codes.push_back(FourCCToString(row.code));
  }
  return codes;
}

// One handler's rows as "CODE=kind name/Class", in order.
std::vector<std::string> Rows(int handler) {
  std::vector<std::string> rows;
  for (const MediaTypeRow& row : GetMediaTypeRows()) {
    if (static_cast<int>(row.handler) != handler) continue;
    rows.push_back(FourCCToString(row.code) + "=" + row.kind_name.text() + "/" +
                   std::string(MediaClassName(row.media_class)));
  }
  return rows;
}

// "TAa ", "TAb " ...: four-character codes told apart by their middle two.
std::string NumberedCode(int i) {
  return std::string{'T', static_cast<char>('A' + i / 26), static_cast<char>('a' + i % 26), ' '};
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearMediaTypes(); }
  void TearDown() override { ClearMediaTypes(); }
  PlatformComponents components;
};

TEST_F(RegistryTest, RegisterRefusesAFullTableDotCodesAndDuplicates) {
  EXPECT_EQ(Register("JPEG", MediaHandler::GraphicsImporter, "JPEG", MediaClass::Image), 1);
  EXPECT_EQ(Register(".jpg", MediaHandler::GraphicsImporter, "dot", MediaClass::Image), 0);
  EXPECT_EQ(Register("JPEG", MediaHandler::DirectShow, "Other", MediaClass::Video), 0);
  EXPECT_EQ(Register("jpeg", MediaHandler::MovieImporter, "lower case is another code", MediaClass::Audio), 2);
  EXPECT_EQ(KindOf("JPEG"), "JPEG");
  EXPECT_EQ(GetMediaHandler(FourCC("JPEG")), MediaHandler::GraphicsImporter);
  EXPECT_EQ(GetMediaClass(FourCC("jpeg")), MediaClass::Audio);

  for (int i = 2; i < kMaxMediaTypes; ++i) {
    ASSERT_EQ(Register(NumberedCode(i), MediaHandler::MovieImporter, "M", MediaClass::Video), i + 1);
  }
  EXPECT_EQ(Register(NumberedCode(300), MediaHandler::MovieImporter, "M", MediaClass::Video), 0);
  ASSERT_EQ(GetMediaTypeTable().size(), 255u);
  EXPECT_EQ(GetMediaTypeTable()[254], CodeOf(NumberedCode(254)));
  EXPECT_EQ(KindOf(NumberedCode(300)), "(unregistered)");
}

TEST_F(RegistryTest, KindNameIsCutTo63CharactersOrTakenFromTheCode) {
  std::string long_name(62, 'x');
  long_name += "LM";
  RegisterMediaType(FourCC("LONG"), MediaHandler::GraphicsImporter, long_name.data(), 64, MediaClass::Image);
  EXPECT_EQ(KindOf("LONG"), long_name.substr(0, 63));
  RegisterMediaType(FourCC("PART"), MediaHandler::GraphicsImporter, "JPEG Image", 4, MediaClass::Image);
  EXPECT_EQ(KindOf("PART"), "JPEG");
  RegisterMediaType(FourCC("WM  "), MediaHandler::DirectShow, nullptr, 20, MediaClass::Video);
  EXPECT_EQ(KindOf("WM  "), "WM  ");
}

TEST_F(RegistryTest, QueriesOfUnknownCodesCapabilitiesAndEssentialImporters) {
  for (int h : {1, 2, 3, 7, 5}) {
    RegisterMediaType(CodeOf("H" + std::to_string(h)), static_cast<MediaHandler>(h), nullptr, 0, MediaClass::Video);
  }
  EXPECT_EQ(GetMediaHandler(FourCC("none")), MediaHandler::GraphicsImporter);
  EXPECT_EQ(GetMediaClass(FourCC("none")), MediaClass::Image);
  EXPECT_EQ(KindOf("none"), "(unregistered)");

  // plays, still picture, preview, graphics image; "none" is served as handler 1.
  const std::pair<const char*, const char*> expected[] = {
      {"H1", "0111"}, {"H2", "1110"}, {"H3", "1010"}, {"H7", "0110"}, {"H5", "0000"}, {"none", "0111"}};
  for (const auto& [code, answers] : expected) {
    bool b[4] = {true, false, true, false};
    GetMediaCapabilities(CodeOf(code), &b[0], &b[1], &b[2], &b[3]);
    std::string got;
    for (bool answer : b) got += answer ? '1' : '0';
    EXPECT_EQ(got, answers) << code;
  }
  bool preview = false;
  GetMediaCapabilities(CodeOf("H3"), nullptr, nullptr, &preview, nullptr);
  EXPECT_TRUE(preview);

  // Photoshop, TIFF and BMP are essential; a lower-case 'bmp ' does not count.
  for (const char* code : {"8BPS", "TIFF", "bmp "}) Register(code, MediaHandler::GraphicsImporter, "", MediaClass::Image);
  EXPECT_FALSE(HasEssentialImporters());
  Register("BMP ", MediaHandler::GraphicsImporter, "BMP", MediaClass::Image);
  EXPECT_TRUE(HasEssentialImporters());
}

// --- start-up fill ------------------------------------------------------------------

TEST_F(RegistryTest, WithoutAnyImporterStartUpFailsAndLeavesTheRegistry) {
  Register("KEEP", MediaHandler::GraphicsImporter, "kept", MediaClass::Image);
  components.video_playback = components.pdf_documents = components.office_documents = true;
  EXPECT_EQ(InitMediaTypes(components), -8970);
  EXPECT_EQ(Codes(), std::vector<std::string>{"KEEP"});
  components.movie_importers.push_back(MovieImporter("AVI ", "AVI Importer"));
  EXPECT_EQ(InitMediaTypes(components), err::kNone);
  EXPECT_EQ(KindOf("KEEP"), "(unregistered)");
}

TEST_F(RegistryTest, GroupsAreRegisteredInOrderAndTheFirstRegistrationWins) {
  components.video_playback = components.office_documents = components.pdf_documents = true;
  components.movie_importers = {MovieImporter("MPEG", "MPEG Importer"),
                                MovieImporter("MPG ", "MPEG Importer"),
                                MovieImporter("flac", "FLAC Audio Importer", kSoundManufacturer),
                                MovieImporter("PDF ", "PDF Importer")};
  components.still_image_importers = {StillImporter("png ", "PNG"), StillImporter("PDF ", "PDF")};
  ASSERT_EQ(InitMediaTypes(components), err::kNone);
  EXPECT_EQ(Codes(), (std::vector<std::string>{
                         "ASF ", "WMV ", "WM  ", "WMA ", "AVI ", "MPEG", "MPE ", "MPG ", "M1V ", "MP2 ", "MP2V", "MPV2",
                         "MOV ", "MooV", "sfil", "flac", "png ", "DCBa", "FAX ", "RICH", "EXIF", "JPE ", "Expn",
                         "CRI ", "DOC ", "DOT ", "XLS ", "XLT ", "PPT ", "POT ", "PDF "}));
  EXPECT_EQ(KindOf("MPG "), "Mpeg Video File");
  EXPECT_EQ(GetMediaHandler(FourCC("MPG ")), MediaHandler::DirectShow);
  EXPECT_EQ(GetMediaClass(FourCC("WMA ")), MediaClass::Audio);
  EXPECT_EQ(KindOf("PDF "), "Adobe Acrobat Document");
  EXPECT_EQ(GetMediaHandler(FourCC("PDF ")), MediaHandler::ShellDocument);
  EXPECT_TRUE(IsMediaClassPresent(MediaClass::Audio));
  EXPECT_FALSE(IsMediaClassPresent(MediaClass::Font));

  // Without playback the movie importer takes 'MPG ' first, then 'MPEG'.
  components.video_playback = components.office_documents = false;
  ASSERT_EQ(InitMediaTypes(components), err::kNone);
  EXPECT_EQ(Codes(2), (std::vector<std::string>{"MOV ", "MooV", "sfil", "MPG ", "MPEG", "flac"}));
  EXPECT_EQ(KindOf("MPG "), "MPEG");
  EXPECT_EQ(KindOf("XLS "), "(unregistered)");
}

TEST_F(RegistryTest, MovieImporterNamesAndClasses) {
  components.movie_importers = {
      MovieImporter("mp3 ", "MPEG Layer-3 Audio Importer", kSoundManufacturer),
      MovieImporter("mpga", "MPEG Layer-3", kSoundManufacturer),
      MovieImporter("mpg3", "MPEG Layer-", kSoundManufacturer),
      MovieImporter("X   ", "X Importer"),
      MovieImporter("ONLY", " Importer"),
      MovieImporter("DICM", "DICOM Importer"),
      MovieImporter("Midi", "MIDI Importer", kMusicManufacturer),
      MovieImporter("KAR ", "Karaoke Importer", kMusicManufacturer),
      MovieImporter("kar ", "Karaoke Importer", kMusicManufacturer),
  };
  ASSERT_EQ(InitMediaTypes(components), err::kNone);
  EXPECT_EQ(Rows(2), (std::vector<std::string>{
                         "MOV =QuickTime Movie/Video", "MooV=QuickTime Movie/Video", "sfil=System Sound/Audio",
                         "MP3 =MP3/Audio", "mp3 =MP3/Audio", "mpga=MP3/Audio", "mpg3=MPEG Layer-/Audio", "X   =X/Video",
                         "ONLY= Importer/Video", "DIC =DICOM Importer/Video", "DICM=DICOM/Video", "Midi=MIDI/Audio",
                         "KAR =Karaoke/Video", "kar =Karaoke/Audio"}));
}

TEST_F(RegistryTest, MovieImportersAreSkippedByFlagsNameSubtypeAndManufacturer) {
  components.movie_importers = {
      MovieImporter("NOF1", "no files", 0, 0x4800),
      MovieImporter("NOF2", "not in place", 0, 0x4002),
      MovieImporter("NOF3", "no MIME list", 0, 0x0802),
      MovieImporter("ALLF", "every flag", 0, 0xFFFFFFFF),
      MovieImporter("SMIL", "SMIL"),
      MovieImporter("SMI2", "SMIL Importer"),
      MovieImporter("RTSP", "Streaming Importer", kStreamingManufacturer),
      PlatformComponent{kStillImageImporterType, FourCC("WRNG"), 0, kFileMovieImporterFlags, "wrong type"},
  };
  for (const char* skipped : {"grip", "QHT ", "QHTM", "qhtm", "QTPF", "SKIN", "TEXT", "TXT ", "PDF ", "utxt"}) {
    components.movie_importers.push_back(MovieImporter(skipped, "Importer"));
  }
  ASSERT_EQ(InitMediaTypes(components), err::kNone);
  EXPECT_EQ(Codes(2), (std::vector<std::string>{"MOV ", "MooV", "sfil", "ALLF", "SMI2"}));
}

TEST_F(RegistryTest, StillImageWalkSkipsGifAndPdfRenamesJfifAndFillsTheImporterList) {
  components.still_image_importers = {
      StillImporter("JPEG", "JFIF"),         StillImporter("GIFf", "GIF"),
      StillImporter("GIF ", "GIF"),          StillImporter("grip", "Generic"),
      StillImporter("PDF ", "PDF"),          StillImporter("TGA ", "TGA Importer"),
      StillImporter("EXIF", "Exif Reader"),
      PlatformComponent{kMovieImporterType, FourCC("WRNG"), 0, kFileMovieImporterFlags, "wrong type"},
  };
  ASSERT_EQ(InitMediaTypes(components), err::kNone);
  // No suffix rule for still images; 'EXIF' was taken before its alias came.
  EXPECT_EQ(Rows(1), (std::vector<std::string>{
                         "JPEG=JPEG/Image", "TGA =TGA Importer/Image", "EXIF=Exif Reader/Image", "DCBa=TIFF/Image",
                         "FAX =TIFF/Image", "RICH=TIFF/Image", "JPE =JPEG/Image", "Expn=JacqCAD/Image",
                         "CRI =GE Medical CRI/Image"}));
  std::vector<std::string> listed;
  for (const GraphicsImporterEntry& e : GetGraphicsImporterList()) listed.push_back(FourCCToString(e.subtype));
  EXPECT_EQ(listed, (std::vector<std::string>{"JPEG", "TGA ", "EXIF"}));
  EXPECT_EQ(FindGraphicsImporter(FourCC("GIFf")), nullptr);

  struct Instance : GraphicsImporterInstance {
    explicit Instance(int* closed) : closed_(closed) {}
    ~Instance() override { ++*closed_; }
    int* closed_;
  };
  int closed = 0;
  for (GraphicsImporterEntry& e : GetGraphicsImporterList()) e.instance = std::make_unique<Instance>(&closed);
  ClearMediaTypes();
  EXPECT_EQ(closed, 3);
  EXPECT_TRUE(GetGraphicsImporterList().empty());
}

TEST_F(RegistryTest, TheImporterListEndsTheWalkAt200AndAFullTableRefusesLaterGroups) {
  // Every subtype twice: the second adds no row but takes a list entry.
  for (int i = 0; i < 130; ++i) {
    components.still_image_importers.push_back(StillImporter(NumberedCode(i), "Image " + std::to_string(i)));
    components.still_image_importers.push_back(StillImporter(NumberedCode(i), "Again"));
  }
  ASSERT_EQ(InitMediaTypes(components), err::kNone);
  EXPECT_EQ(GetGraphicsImporterList().size(), 200u);
  EXPECT_EQ(KindOf(NumberedCode(99)), "Image 99");
  EXPECT_EQ(KindOf(NumberedCode(100)), "(unregistered)");
  EXPECT_EQ(Codes().size(), 3u + 100u + 7u);

  components.still_image_importers.clear();
  components.pdf_documents = true;
  for (int i = 0; i < 300; ++i) components.movie_importers.push_back(MovieImporter(NumberedCode(i), "M Importer"));
  ASSERT_EQ(InitMediaTypes(components), err::kNone);
  EXPECT_EQ(Codes().size(), 255u);
  EXPECT_EQ(KindOf("RICH"), "(unregistered)");
  EXPECT_EQ(KindOf("PDF "), "(unregistered)");
}

}  // namespace
}  // namespace norvo::media
