// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli gallery end to end: the stored settings, the printed result,
// the exit status, and movies written for browsers (checked with ffprobe
// where it is installed).
#include "app/settings_store.h"
#include "output/gallery_settings.h"
#include "tests/cli_harness.h"

namespace norvo::cli_testing {
namespace {

class GalleryCli : public CliHarness {
 protected:
  // A catalog of the photos given, imported and scanned.
  void MakeCatalog(const std::vector<std::pair<std::string, std::string>>& photos) {
    fs::create_directories(dir_ / "photos");
    for (const auto& [source, name] : photos) fs::copy_file(kPhotos / source, dir_ / "photos" / name);
    NewCatalog();
    Ok({"import", catalog_, (dir_ / "photos").string()});
  }
  // Stores the gallery settings where norvo-cli reads them.
  void StoreSettings(const output::GallerySettings& settings) {
    app::StorePaths paths;
    paths.user = (dir_ / "xdg" / "config" / "Norvo" / "Media2" / "settings.db").string();
    app::SettingsStore store = app::SettingsStore::Open(paths);
    ASSERT_EQ(store.putBinary(output::kGallerySettingsKey, output::kGallerySettingsValue,
                              output::SerializeGallerySettings(settings)),
              err::kNone);
  }
  fs::path web() const { return dir_ / "web"; }
};

TEST_F(GalleryCli, WritesTheSiteAndPrintsTheIndexPage) {
  MakeCatalog({{"Canon_40D.jpg", "Canon_40D.jpg"}, {"Nikon_D70.jpg", "Nikon D70.jpg"}});
  EXPECT_EQ(Ok({"gallery", catalog_, web().string()}), (web() / "index.htm").string() + "\n");
  for (const char* file : {"source/canon_40d.htm", "source/nikon_d70.htm", "preview/nikon_d70.jpg",
                           "source/image/nikon_d70.jpg"}) {
    EXPECT_TRUE(fs::is_regular_file(web() / file)) << file;
  }
  EXPECT_EQ(JsonOf({"gallery", catalog_, web().string()}),
            (Json{{"result", 0}, {"message", ""}, {"index", (web() / "index.htm").string()}, {"items", 2},
                  {"missing", 0}, {"media_pages", 2}, {"index_pages", 1}}));
}

TEST_F(GalleryCli, UsesTheStoredSettings) {
  MakeCatalog({{"Canon_40D.jpg", "a.jpg"}, {"Nikon_D70.jpg", "b.jpg"}, {"Pentax_K10D.jpg", "c.jpg"}});
  output::GallerySettings settings;
  settings.extension_code = 2;
  settings.columns = 1;
  settings.rows = 2;
  settings.numbered_page_names = 1;
  StoreSettings(settings);
  const Json report = JsonOf({"gallery", catalog_, web().string()});
  EXPECT_EQ(report["index_pages"], 2);
  for (const char* file : {"index.html", "index2.html", "source/3.html"}) {
    EXPECT_TRUE(fs::is_regular_file(web() / file)) << file;
  }
  EXPECT_NE(ReadAll(web() / "index2.html").find("<a href=\"index.html\" target=\"_self\">1-2</a> | 3-3"),
            std::string::npos);
}

TEST_F(GalleryCli, MissingFilesAndBadDestinationsFailWithTheirMessages) {
  MakeCatalog({{"Canon_40D.jpg", "here.jpg"}, {"Nikon_D70.jpg", "gone.jpg"}});
  fs::remove(dir_ / "photos" / "gone.jpg");
  const CliResult missing = Fails({"gallery", catalog_, web().string(), "--json"}, 1,
                                 "HTML Export couldn't be completed because of missing files.");
  const Json report = Json::parse(missing.out);
  EXPECT_EQ(report["result"], 1);
  EXPECT_EQ(report["missing"], 1);
  EXPECT_TRUE(fs::is_regular_file(web() / "preview" / "icon0.gif"));
  EXPECT_TRUE(fs::is_regular_file(web() / "source" / "gone.htm"));

  std::ofstream(dir_ / "io" / "plain") << "x";
  Fails({"gallery", catalog_, (dir_ / "io" / "plain").string()}, 1, "a problem creating files or folders");
  Fails({"gallery", catalog_}, 2);
}

TEST_F(GalleryCli, MoviesGetTheirIndexInFrontAndAPlayer) {
  if (!Have({"ffmpeg", "ffprobe"})) GTEST_SKIP() << "ffmpeg is not installed";
  fs::create_directories(dir_ / "movies");
  const fs::path movie = dir_ / "movies" / "Clip One.mov";
  const std::string make = "ffmpeg -loglevel error -f lavfi -i testsrc=size=96x64:rate=10 -t 1 -c:v mpeg4 '" +
                           movie.string() + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  NewCatalog();
  Ok({"import", catalog_, (dir_ / "movies").string()});
  Ok({"gallery", catalog_, web().string()});
  const fs::path copy = web() / "source" / "image" / "clip_one.mov";
  const std::string bytes = ReadAll(copy);
  ASSERT_FALSE(bytes.empty());
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
  EXPECT_GT(ReadAll(movie).find("moov"), ReadAll(movie).find("mdat"));  // ffmpeg writes it last
  // Every frame is still there and decodes the same.
  auto hashes = [](const fs::path& p) {
    const std::string text = CaptureCommand("ffmpeg -v error -i '" + p.string() + "' -f framemd5 -");
    return text.substr(text.find("\n0,"));  // past the header naming the file
  };
  EXPECT_EQ(hashes(copy), hashes(movie));
  const std::string page = ReadAll(web() / "source" / "clip_one.htm");
  EXPECT_NE(page.find("<video src=\"./image/clip_one.mov\" controls width=\"96\" height=\"80\" autoplay>"),
            std::string::npos);
}

}  // namespace
}  // namespace norvo::cli_testing
