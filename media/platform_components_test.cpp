// SPDX-License-Identifier: GPL-3.0-or-later
// The registry filled from this machine's real component lists.
#include "media/platform_components.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/graphics_importer_list.h"
#include "media/media_type_registry.h"
#include "media/test_support.h"
#include "media/type_recognition.h"
#include "platform/byte_io.h"

namespace norvo::media {
namespace {

using testing::CodeText;
using testing::KindOf;
using testing::TempDir;

// Built once: asking FFmpeg and the image libraries takes a moment.
const PlatformComponents& Real() {
  static const PlatformComponents components = FindPlatformComponents();
  return components;
}

class RealRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(InitMediaTypes(Real()), err::kNone); }
  void TearDown() override { ClearMediaTypes(); }

  // Recognition of an empty file of that name.
  std::uint32_t Recognize(const std::string& name, ClassMask mask = 0) {
    return RecognizeMediaFile(dir_.write(name, ""), mask);
  }
  TempDir dir_;
};

// Every reader linked in is reachable by name, in its class and in no other.
TEST_F(RealRegistryTest, FilesOfEveryLinkedReaderAreRecognisedInTheirClass) {
  EXPECT_TRUE(HasEssentialImporters());
  EXPECT_LT(GetMediaTypeTable().size(), 200u);  // room to spare below the limit
  const struct {
    const char* name;
    MediaClass media_class;
    const char* code;  // null: any
  } cases[] = {
      {"a.JPEG", MediaClass::Image, "JPEG"},  {"c.PNG", MediaClass::Image, nullptr},
      {"e.tif", MediaClass::Image, "TIFF"},   {"f.bmp", MediaClass::Image, nullptr},
      {"g.psd", MediaClass::Image, nullptr},  {"h.webp", MediaClass::Image, nullptr},
      {"j.nef", MediaClass::Image, nullptr},  {"l.dng", MediaClass::Image, nullptr},
      {"n.raf", MediaClass::Image, nullptr},  {"IMG_0001.CR2", MediaClass::Image, "CR2 "},
      {"clip.mp4", MediaClass::Video, nullptr}, {"clip.mkv", MediaClass::Video, nullptr},
      {"clip.mov", MediaClass::Video, "MooV"},  {"anim.gif", MediaClass::Video, "GIFf"},
      {"song.m4a", MediaClass::Audio, nullptr}, {"song.wav", MediaClass::Audio, nullptr},
      {"song.flac", MediaClass::Audio, nullptr}, {"song.MP3", MediaClass::Audio, "MP3 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint32_t code = Recognize(c.name, ClassMaskBit(c.media_class));
    EXPECT_NE(code, 0u);
    if (c.code) {
      EXPECT_EQ(CodeText(code), c.code);
    }
    if (c.media_class == MediaClass::Image) {
      EXPECT_EQ(GetMediaHandler(code), MediaHandler::GraphicsImporter);
    }
    EXPECT_EQ(Recognize(c.name, RemoveClassFromMask(0xFFFFFFFF, c.media_class)), 0u);
  }
  // GIF never comes from the still-image walk.
  EXPECT_EQ(KindOf("GIFf"), "(unregistered)");
  EXPECT_EQ(FindGraphicsImporter(FourCC("GIF ")), nullptr);
}

TEST_F(RealRegistryTest, PlaybackAndDocumentGroupsFollowWhatIsAvailable) {
  if (Real().video_playback) {
    EXPECT_EQ(GetMediaHandler(Recognize("talk.wmv")), MediaHandler::DirectShow);
    EXPECT_NE(Recognize("talk.wma", ClassMaskBit(MediaClass::Audio)), 0u);
    EXPECT_EQ(GetMediaHandler(Recognize("clip.avi")), MediaHandler::DirectShow);
    EXPECT_EQ(KindOf(FourCCToString(Recognize("clip.mpg"))), "Mpeg Video File");
  } else {
    EXPECT_EQ(Recognize("talk.wmv"), 0u);
  }
  if (Real().pdf_documents) {
    EXPECT_EQ(CodeText(Recognize("paper.PDF")), "PDF ");
    EXPECT_EQ(GetMediaHandler(FourCC("PDF ")), MediaHandler::ShellDocument);
  }
  EXPECT_EQ(Recognize("letter.doc") != 0, Real().office_documents);
}

// Office documents count as available when LibreOffice is on the search path.
TEST(PlatformComponents, OfficeDocumentsNeedLibreOfficeOnThePath) {
  TempDir bin;
  const char* old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  auto found_with_path = [](const std::string& path) {
    ::setenv("PATH", path.c_str(), 1);
    return FindPlatformComponents().office_documents;
  };

  EXPECT_FALSE(found_with_path(bin.path()));
  bin.write("soffice", "#!/bin/sh\n");
  EXPECT_FALSE(found_with_path(bin.path())) << "not executable";
  ::chmod((bin.path() + "/soffice").c_str(), 0755);
  EXPECT_TRUE(found_with_path("/nonexistent-norvo:" + bin.path()));
  std::filesystem::remove(bin.path() + "/soffice");
  bin.write("libreoffice", "#!/bin/sh\n");
  ::chmod((bin.path() + "/libreoffice").c_str(), 0755);
  EXPECT_TRUE(found_with_path(bin.path()));

  ::setenv("PATH", saved.c_str(), 1);
}

}  // namespace
}  // namespace norvo::media
