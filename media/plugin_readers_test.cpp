// SPDX-License-Identifier: GPL-3.0-or-later
// The movie and PDF readers and the platform's component lists as they come
// from the reader plug-ins: the same with or without the component lists
// written by the build, and a clear error, never a crash, without modules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/log.h>
}

#include "platform/reader_plugins.h"
#include "media/document_reader.h"
#include "media/movie_reader.h"
#include "media/movie_test_files.h"
#include "media/platform_components.h"
#include "media/test_support.h"

namespace norvo::media {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

bool SameComponents(const std::vector<PlatformComponent>& a, const std::vector<PlatformComponent>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].type != b[i].type || a[i].subtype != b[i].subtype || a[i].manufacturer != b[i].manufacturer ||
        a[i].flags != b[i].flags || a[i].name != b[i].name) {
      return false;
    }
  }
  return true;
}

bool HasSubtype(const std::vector<PlatformComponent>& list, std::string_view code) {
  for (const PlatformComponent& c : list) {
    if (c.subtype == testing::CodeOf(code)) return true;
  }
  return false;
}

// Points the plug-in search at one folder for the length of a test.
class PluginFolderOverride {
 public:
  explicit PluginFolderOverride(const std::string& folder) {
    ::setenv(plugins::kPluginDirVariable, folder.c_str(), 1);
    plugins::ResetReaderPluginsForTest();
  }
  ~PluginFolderOverride() {
    ::unsetenv(plugins::kPluginDirVariable);
    plugins::ResetReaderPluginsForTest();
  }
};

std::string BuiltPluginFolder() { return plugins::ReaderPluginFolders().front(); }

class PluginReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(std::getenv(plugins::kPluginDirVariable), nullptr) << "the test points the search itself";
    av_log_set_level(AV_LOG_QUIET);
    testing::TestMovie movie;
    movie.container = "mp4";
    movie.video = testing::TestVideo{};
    movie.video->codec = AV_CODEC_ID_MPEG4;
    std::string message;
    movie_ = dir_.path() + "/clip.mp4";
    ASSERT_TRUE(testing::WriteTestMovie(movie_, movie, &message)) << message;
  }

  TempDir dir_;
  TempDir plugins_;
  std::string movie_;
};

TEST_F(PluginReadersTest, MissingOrBrokenModulesAreFormatsWithoutAReader) {
  MovieFacts good;
  imaging::PixelBuffer good_poster;
  ASSERT_EQ(ReadMovie(movie_, 64, &good, &good_poster), err::kNone) << plugins::ReaderPluginError(plugins::kMoviesFamily);
  const std::string pdf = dir_.path() + "/page.pdf";
  dir_.write("page.pdf", "%PDF-1.4\n");

  const struct {
    const char* what;
    const char* module_text;  // null: no module at all
  } cases[] = {{"no module", nullptr}, {"not a shared object", "\x7f" "ELF but not really"}};
  for (const auto& c : cases) {
    TempDir folder;
    if (c.module_text) {
      folder.write(plugins::PluginFileName(plugins::kMoviesFamily), c.module_text);
      folder.write(plugins::PluginFileName(plugins::kDocumentsFamily), c.module_text);
    }
    PluginFolderOverride override(folder.path());
    MovieFacts facts;
    imaging::PixelBuffer poster;
    EXPECT_EQ(ReadMovie(movie_, 64, &facts, &poster), err::kNoReaderForFormat) << c.what;
    EXPECT_EQ(facts.width, 0) << c.what;
    EXPECT_TRUE(poster.empty()) << c.what;
    EXPECT_NE(plugins::ReaderPluginError(plugins::kMoviesFamily).find(plugins::PluginFileName(plugins::kMoviesFamily)),
              std::string::npos)
        << c.what << ": " << plugins::ReaderPluginError(plugins::kMoviesFamily);
    DocumentFacts page;
    EXPECT_EQ(ReadPdfDocument(pdf, 0, &page, nullptr), err::kNoDocumentPicture) << c.what;
    // A missing file is still reported as missing.
    EXPECT_EQ(ReadPdfDocument(dir_.path() + "/none.pdf", 0, &page, nullptr), err::kFileNotFound) << c.what;

    const PlatformComponents components = FindPlatformComponents();
    EXPECT_TRUE(HasSubtype(components.still_image_importers, "JPEG")) << c.what;
    EXPECT_FALSE(HasSubtype(components.still_image_importers, "HEIF")) << c.what;
    EXPECT_TRUE(components.movie_importers.empty()) << c.what;
    EXPECT_FALSE(components.video_playback) << c.what;
    EXPECT_FALSE(components.pdf_documents) << c.what;
    EXPECT_FALSE(HavePdfReader()) << c.what;
  }
  // Back with the modules: the same facts as before.
  MovieFacts again;
  imaging::PixelBuffer again_poster;
  ASSERT_EQ(ReadMovie(movie_, 64, &again, &again_poster), err::kNone);
  EXPECT_EQ(again.width, good.width);
  EXPECT_EQ(again.duration, good.duration);
  EXPECT_EQ(again.tracks, good.tracks);
  EXPECT_EQ(again_poster.width(), good_poster.width());
}

// The registry's lists from the build's component lists are exactly what
// asking every module gives (modules copied without their lists).
TEST_F(PluginReadersTest, ComponentListsGiveWhatTheModulesSay) {
  const PlatformComponents listed = FindPlatformComponents();
  EXPECT_TRUE(HasSubtype(listed.movie_importers, "mp4 "));
  EXPECT_TRUE(HasSubtype(listed.still_image_importers, "CR2 "));
  for (std::string_view family : plugins::kPluginFamilies) {
    const fs::path module = fs::path(BuiltPluginFolder()) / plugins::PluginFileName(family);
    if (fs::exists(module)) fs::copy_file(module, fs::path(plugins_.path()) / module.filename());
  }
  PluginFolderOverride override(plugins_.path());
  const PlatformComponents asked = FindPlatformComponents();
  EXPECT_TRUE(SameComponents(asked.still_image_importers, listed.still_image_importers));
  EXPECT_TRUE(SameComponents(asked.movie_importers, listed.movie_importers));
  EXPECT_EQ(asked.video_playback, listed.video_playback);
  EXPECT_EQ(asked.pdf_documents, listed.pdf_documents);
  EXPECT_EQ(asked.office_documents, listed.office_documents);
}

}  // namespace
}  // namespace norvo::media
