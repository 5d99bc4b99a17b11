// SPDX-License-Identifier: GPL-3.0-or-later
// The whole export on real catalogs of real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "imaging/jpeg_codec.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "output/gallery_export.h"
#include "output/gallery_settings.h"
#include "output/gallery_test_support.h"
#include "platform/dates.h"
#include "platform/file_replace.h"
#include "platform/file_spec.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;
using testing::ExpectGolden;
using testing::ReadText;

const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";

class GalleryExport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(media::InitMediaTypes(media::FindPlatformComponents()), err::kNone);
    std::string pattern = (fs::temp_directory_path() / "norvo-gallery-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "files");
    FileSpec scratch;
    ASSERT_TRUE(FileSpecFilled(MakeFileSpec((dir_ / "scratch.tmp").string(), scratch)));
    ASSERT_EQ(catalog::CreateCatalog(nullptr, scratch, {}, {}, catalog_), err::kNone);
    catalog_->display_name = "Holiday.nrk";
  }
  void TearDown() override {
    catalog_.reset();
    fs::remove_all(dir_);
  }

  // Copies a test photo into the files folder as `name`.
  std::string Copy(const std::string& source, const std::string& name) {
    const fs::path to = dir_ / "files" / name;
    fs::copy_file(kPhotos / source, to);
    return to.string();
  }
  // A JPEG of width x height with a gradient, written by the project's encoder.
  std::string MakeJpeg(const std::string& name, int width, int height) {
    imaging::PixelBuffer picture;
    EXPECT_EQ(picture.allocate(width, height), err::kNone);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        picture.setPixel(x, y, imaging::Argb(255, static_cast<std::uint8_t>(x * 255 / width),
                                             static_cast<std::uint8_t>(y * 255 / height), 128));
      }
    }
    std::vector<std::uint8_t> jpeg;
    EXPECT_EQ(imaging::EncodeJpeg(picture, 90, &jpeg), err::kNone);
    const fs::path to = dir_ / "files" / name;
    std::ofstream(to, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()),
                                              static_cast<std::streamsize>(jpeg.size()));
    return to.string();
  }
  // Adds the files as items and scans them.
  void Add(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) {
      FileSpec spec;
      ASSERT_TRUE(FileSpecFilled(MakeFileSpec(p, spec)));
      ASSERT_EQ(catalog::AddPendingItem(*catalog_, spec), err::kNone);
    }
    const std::vector<std::uint32_t> pending = media::PendingItems(*catalog_);
    ASSERT_EQ(media::ScanItems(*catalog_, pending, 2, {}, {}, nullptr), err::kNone);
  }
  GalleryOutcome Run(const GallerySettings& settings = {}, GalleryRequest request = {}) {
    settings_bytes_ = SerializeGallerySettings(settings);
    request.settings_record = settings_bytes_;
    if (request.destination.empty()) request.destination = dest().string();
    request.clock = [] { return static_cast<std::uint32_t>(SecondsSince1904({2025, 3, 1}, 9, 30)); };
    metadata::FormatConventions conventions = metadata::FormatConventions::Posix();
    conventions.date_format = "%d.%m.%Y";
    request.conventions = conventions;
    request.jobs = 2;
    return RunGallery(*catalog_, request);
  }
  fs::path dest() const { return dir_ / "web"; }
  static imaging::DecodedImage Decode(const fs::path& path) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadWholeFile(path.string(), &bytes), err::kNone);
    imaging::DecodedImage image;
    EXPECT_EQ(imaging::DecodeJpeg(bytes, 0, &image), err::kNone) << path;
    return image;
  }

  fs::path dir_;
  std::unique_ptr<catalog::Catalog> catalog_;
  std::vector<std::uint8_t> settings_bytes_;
};

TEST_F(GalleryExport, SmallCatalogMatchesItsGoldenPages) {
  Add({Copy("Canon_40D.jpg", "Canon_40D.jpg"), Copy("BlueSquare.jpg", "BlueSquare.jpg"),
       Copy("Nikon_D70.jpg", "Nikon_D70.jpg")});
  GallerySettings settings;
  settings.include_file_names = 1;
  settings.include_media_info = 1;
  GalleryRequest request;
  request.comment = "Three cameras";
  const GalleryOutcome outcome = Run(settings, request);
  ASSERT_EQ(outcome.result, GalleryResult::kDone);
  EXPECT_EQ(outcome.index_path, (dest() / "index.htm").string());
  EXPECT_EQ(outcome.items, 3);
  EXPECT_EQ(outcome.media_pages, 3);
  ExpectGolden("gallery_export_index.htm", ReadText(dest() / "index.htm"));
  ExpectGolden("gallery_export_media.htm", ReadText(dest() / "source" / "bluesquare.htm"));
  for (const char* name : {"canon_40d", "bluesquare", "nikon_d70"}) {
    EXPECT_TRUE(fs::is_regular_file(dest() / "preview" / (std::string(name) + ".jpg"))) << name;
    EXPECT_TRUE(fs::is_regular_file(dest() / "source" / "image" / (std::string(name) + ".jpg"))) << name;
  }
}

TEST_F(GalleryExport, EmbedsTheItemsAnnotationsInItsMediaPicture) {
  Add({Copy("BlueSquare.jpg", "blue.jpg"), Copy("Canon_40D.jpg", "canon.jpg")});
  constexpr std::string_view kCaption = "XMPFiles BlueSquare test file";
  ASSERT_EQ(Run().result, GalleryResult::kDone);
  EXPECT_EQ(ReadText(dest() / "source" / "image" / "blue.jpg").find(kCaption), std::string::npos);
  GallerySettings settings;
  settings.embed_iptc = 1;
  fs::remove_all(dest());
  ASSERT_EQ(Run(settings).result, GalleryResult::kDone);
  const std::string media = ReadText(dest() / "source" / "image" / "blue.jpg");
  EXPECT_NE(media.find("Photoshop 3.0"), std::string::npos);
  EXPECT_NE(media.find(kCaption), std::string::npos);
  EXPECT_EQ(Decode(dest() / "source" / "image" / "blue.jpg").facts.width, 360);  // the picture still decodes
  EXPECT_EQ(ReadText(dest() / "preview" / "blue.jpg").find(kCaption), std::string::npos);  // thumbnails stay bare
}

TEST_F(GalleryExport, NamesFoldCaseAndAccentsAndStayUnique) {
  Add({Copy("Canon_40D.jpg", "Beach.JPG"), Copy("Nikon_D70.jpg", "beach.jpg"),
       Copy("Arbitro.tiff", "Caf\xC3\xA9 Paris.tif")});
  const GalleryOutcome outcome = Run();
  ASSERT_EQ(outcome.result, GalleryResult::kDone);
  for (const char* path : {"preview/beach.jpg", "preview/beach_1.jpg", "preview/caf__paris.jpg",
                           "source/beach.htm", "source/beach_1.htm", "source/caf__paris.htm",
                           "source/image/beach.jpg", "source/image/beach_1.jpg", "source/image/caf__paris.jpg"}) {
    EXPECT_TRUE(fs::is_regular_file(dest() / path)) << path;
  }
  const std::string index = ReadText(dest() / "index.htm");
  EXPECT_NE(index.find("<a href=\"source/beach_1.htm\"><img src=\"preview/beach_1.jpg\" alt=\"beach_1\""),
            std::string::npos);
  // Numbered page names instead.
  GallerySettings numbered;
  numbered.numbered_page_names = 1;
  numbered.extension_code = 2;
  fs::remove_all(dest());
  ASSERT_EQ(Run(numbered).result, GalleryResult::kDone);
  for (const char* path : {"source/1.html", "source/2.html", "source/3.html", "index.html"}) {
    EXPECT_TRUE(fs::is_regular_file(dest() / path)) << path;
  }
}

TEST_F(GalleryExport, TwentyItemsMakeTwoIndexPages) {
  std::vector<std::string> files;
  for (int i = 1; i <= 20; ++i) files.push_back(Copy("Kodak_CX7530.jpg", "k" + std::to_string(i) + ".jpg"));
  Add(files);
  const GalleryOutcome outcome = Run();
  ASSERT_EQ(outcome.result, GalleryResult::kDone);
  EXPECT_EQ(outcome.pages, 2);
  EXPECT_NE(ReadText(dest() / "index2.htm").find("k17.htm"), std::string::npos);
  EXPECT_NE(ReadText(dest() / "source" / "k17.htm").find("<a href=\"../index2.htm\">index</a>"), std::string::npos);
}

TEST_F(GalleryExport, MissingFileGetsTheClassIconAndItsPage) {
  Add({Copy("Canon_40D.jpg", "here.jpg"), Copy("Nikon_D70.jpg", "gone.jpg")});
  fs::remove(dir_ / "files" / "gone.jpg");
  const GalleryOutcome outcome = Run();
  EXPECT_EQ(outcome.result, GalleryResult::kMissingFiles);
  EXPECT_EQ(outcome.missing, 1);
  EXPECT_TRUE(fs::is_regular_file(dest() / "preview" / "icon0.gif"));
  EXPECT_TRUE(fs::is_regular_file(dest() / "source" / "image" / "icon0.gif"));
  EXPECT_TRUE(fs::is_regular_file(dest() / "source" / "gone.htm"));
  EXPECT_NE(ReadText(dest() / "index.htm").find("<img src=\"preview/icon0.gif\" alt=\"icon0\" width=\"32\" height=\"32\""),
            std::string::npos);
  EXPECT_NE(ReadText(dest() / "source" / "gone.htm").find("<img src=\"image/icon0.gif\""), std::string::npos);
  const std::string gif = ReadText(dest() / "preview" / "icon0.gif");
  EXPECT_TRUE(gif.starts_with("GIF89a\x20"));
}

TEST_F(GalleryExport, RenditionsLieInsideTheirBoxes) {
  Add({MakeJpeg("wide.jpg", 1600, 1200), MakeJpeg("tall.jpg", 900, 1600), MakeJpeg("small.jpg", 200, 150)});
  struct Case {
    const char* name;
    int thumbnail_scaling, media_scaling;
    bool frame;
  };
  for (const Case& c : {Case{"fit", 2, 2, false}, Case{"fill", 3, 3, true}}) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dest());
    GallerySettings settings;
    settings.thumbnail_scaling = static_cast<std::uint8_t>(c.thumbnail_scaling);
    settings.media_scaling = static_cast<std::uint8_t>(c.media_scaling);
    settings.frame_images = c.frame ? 1 : 0;
    ASSERT_EQ(Run(settings).result, GalleryResult::kDone);
    for (const char* name : {"wide", "tall", "small"}) {
      SCOPED_TRACE(name);
      const imaging::DecodedImage thumb = Decode(dest() / "preview" / (std::string(name) + ".jpg"));
      const imaging::DecodedImage media = Decode(dest() / "source" / "image" / (std::string(name) + ".jpg"));
      EXPECT_LE(thumb.facts.width, 96);
      EXPECT_LE(thumb.facts.height, 96);
      EXPECT_LE(media.facts.width, 640);
      EXPECT_LE(media.facts.height, 480);
      if (c.media_scaling == 3) {
        EXPECT_EQ(media.facts.width, 640);
        EXPECT_EQ(media.facts.height, 480);
        EXPECT_EQ(thumb.facts.width, 96);
        EXPECT_EQ(thumb.facts.height, 96);
        EXPECT_LT(media.picture.pixel(0, 0) & 0xFFFFFF, 0x303030u);  // the black frame
      } else {
        EXPECT_EQ(std::max(thumb.facts.width, thumb.facts.height), 96);
      }
    }
    if (c.media_scaling == 2) {
      EXPECT_EQ(Decode(dest() / "source" / "image" / "wide.jpg").facts.width, 640);
      EXPECT_EQ(Decode(dest() / "source" / "image" / "tall.jpg").facts.height, 480);
      EXPECT_EQ(Decode(dest() / "source" / "image" / "small.jpg").facts.width, 200);  // fit never enlarges
    }
  }
}

TEST_F(GalleryExport, HostileNamesNeverLeaveTheDestination) {
  Add({Copy("Canon_40D.jpg", "<script>.jpg"), Copy("Canon_40D.jpg", "..jpg"), Copy("Canon_40D.jpg", "a\"b&c.jpg"),
       Copy("Canon_40D.jpg", "line\nbreak.jpg"), Copy("Canon_40D.jpg", "..."), Copy("Canon_40D.jpg", "x"),
       Copy("Canon_40D.jpg", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0.jpg")});
  // Names no file can have, as a damaged or foreign catalog may hold them.
  const char* forged[] = {"../../../escaped.jpg", "..", "/etc/passwd"};
  for (int i = 0; i < 3; ++i) {
    catalog::ItemRecord record;
    ASSERT_EQ(catalog::GetItemRecord(*catalog_, i + 5, catalog::kWholeRecord, record), err::kNone);
    record.setFileName(forged[i]);
    ASSERT_EQ(catalog::ReplaceItemParts(*catalog_, i + 5, record, catalog::parts::kAll), err::kNone);
  }
  std::set<fs::path> before;
  for (const auto& e : fs::recursive_directory_iterator(dir_)) before.insert(e.path());
  const GalleryOutcome outcome = Run();
  ASSERT_NE(outcome.result, GalleryResult::kWriteFailed);
  ASSERT_NE(outcome.result, GalleryResult::kBadTemplate);
  EXPECT_EQ(outcome.media_pages, 7);
  for (const auto& e : fs::recursive_directory_iterator(dir_)) {
    if (before.contains(e.path()) || e.path() == dir_ / "scratch.tmp") continue;
    const std::string relative = fs::relative(e.path(), dest()).string();
    EXPECT_FALSE(relative.starts_with("..")) << e.path();
    for (char c : e.path().filename().string()) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c < 0x7F);
  }
  EXPECT_FALSE(fs::exists(dir_.parent_path() / "escaped.jpg"));
  // Every page is ASCII and every link names a file that is there.
  for (const auto& e : fs::recursive_directory_iterator(dest())) {
    if (e.path().extension() != ".htm") continue;
    const std::string page = ReadText(e.path());
    for (char c : page) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << e.path();
    for (std::size_t at = page.find("src=\""); at != std::string::npos; at = page.find("src=\"", at + 1)) {
      const std::string link = page.substr(at + 5, page.find('"', at + 5) - at - 5);
      EXPECT_TRUE(fs::is_regular_file(e.path().parent_path() / link)) << e.path() << ": " << link;
    }
  }
}

TEST_F(GalleryExport, ProgressCountsBothPassesAndCancelStops) {
  Add({Copy("Canon_40D.jpg", "a.jpg"), Copy("Nikon_D70.jpg", "b.jpg"), Copy("Pentax_K10D.jpg", "c.jpg")});
  std::vector<std::pair<int, std::string>> steps;
  GalleryRequest request;
  request.progress = [&](ProgressPhase phase, int done, int total, std::string_view text) {
    EXPECT_EQ(total, 6);
    if (phase == ProgressPhase::kStep) steps.emplace_back(done, std::string(text));
    return 0;
  };
  ASSERT_EQ(Run({}, request).result, GalleryResult::kDone);
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[0], (std::pair<int, std::string>{1, "Building media folders..."}));
  EXPECT_EQ(steps[5], (std::pair<int, std::string>{6, "Building sources..."}));

  fs::remove_all(dest());
  request.progress = [](ProgressPhase phase, int done, int, std::string_view) {
    return phase == ProgressPhase::kStep && done == 4 ? 1 : 0;
  };
  const GalleryOutcome cancelled = Run({}, request);
  EXPECT_EQ(cancelled.result, GalleryResult::kCancelled);
  EXPECT_EQ(cancelled.media_pages, 1);
  EXPECT_TRUE(fs::is_regular_file(dest() / "source" / "a.htm"));  // what was written stays
  EXPECT_FALSE(fs::exists(dest() / "index.htm"));
}

TEST_F(GalleryExport, SettingsDestinationAndAssetFailuresGiveTheirResults) {
  Add({Copy("Canon_40D.jpg", "a.jpg")});
  // A record of the right version cut short.
  GalleryRequest short_record;
  std::vector<std::uint8_t> bytes = SerializeGallerySettings({});
  bytes.resize(300);
  short_record.settings_record = bytes;
  short_record.destination = dest().string();
  EXPECT_EQ(RunGallery(*catalog_, short_record).result, GalleryResult::kBadSettings);
  // A destination that is a file.
  std::ofstream(dir_ / "plain") << "x";
  GalleryRequest into_file;
  into_file.destination = (dir_ / "plain").string();
  EXPECT_EQ(Run({}, into_file).result, GalleryResult::kWriteFailed);
  // A template named in the settings that is nowhere: the run goes on.
  GallerySettings settings;
  settings.setTemplateName("Nowhere");
  EXPECT_EQ(Run(settings).result, GalleryResult::kDone);
}

TEST_F(GalleryExport, AssetsComeFromTheTemplateFolderAndStayInside) {
  const fs::path templates = dir_ / "share" / "Norvo" / "Plug-ins" / "HTML Templates" / "Plain";
  fs::create_directories(templates / "assets");
  std::ofstream(templates / "index.html") << "<html></html>";
  std::ofstream(templates / "assets" / "style.css") << "body{}";
  std::ofstream(dir_ / "secret") << "keep out";
  const std::vector<std::string> roots = {(dir_ / "nothing").string(), (dir_ / "share").string()};
  const std::optional<std::string> folder = FindGalleryTemplate("Plain", roots);
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(*folder, templates.string());
  EXPECT_FALSE(FindGalleryTemplate("..", roots));
  EXPECT_FALSE(FindGalleryTemplate("Plain/../Plain", roots));
  EXPECT_FALSE(FindGalleryTemplate("Other", roots));

  fs::create_directories(dest());
  EXPECT_TRUE(CopyPageAssets("<link href=\"assets/style.css\"><img src=\"assets/style.css\">", folder, dest().string()));
  EXPECT_EQ(ReadText(dest() / "assets" / "style.css"), "body{}");
  EXPECT_FALSE(CopyPageAssets("<a href=\"assets/../../secret\">", folder, dest().string()));
  EXPECT_FALSE(CopyPageAssets("<a href=\"assets/missing.png\">", folder, dest().string()));
  EXPECT_FALSE(CopyPageAssets("<a href=\"assets/style.css\">", std::nullopt, (dir_ / "other").string()));
  EXPECT_FALSE(fs::exists(dir_ / "other"));
  EXPECT_TRUE(CopyPageAssets("no assets here", std::nullopt, dest().string()));
}

}  // namespace
}  // namespace norvo::output
