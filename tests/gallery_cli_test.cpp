// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli gallery end to end: the stored settings, the printed result,
// the exit status, and movies written for browsers (checked with ffprobe
// where it is installed).
#include <cstdlib>

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
    for (const auto& [source, name] : photos) {
      fs::copy_file(kPhotos / source, dir_ / "photos" / name);
    }
    Ok({"new", catalog_});
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
  const std::string out = Ok({"gallery", catalog_, web().string()});
  EXPECT_EQ(out, (web() / "index.htm").string() + "\n");
  EXPECT_TRUE(fs::is_regular_file(web() / "source" / "canon_40d.htm"));
  EXPECT_TRUE(fs::is_regular_file(web() / "source" / "nikon_d70.htm"));
  EXPECT_TRUE(fs::is_regular_file(web() / "preview" / "nikon_d70.jpg"));
  EXPECT_TRUE(fs::is_regular_file(web() / "source" / "image" / "nikon_d70.jpg"));

  const Json report = JsonOf({"gallery", catalog_, web().string()});
  EXPECT_EQ(Keys(report), (std::vector<std::string>{"result", "message", "index", "items", "missing", "media_pages",
                                                    "index_pages"}));
  EXPECT_EQ(report["result"], 0);
  EXPECT_EQ(report["message"], "");
  EXPECT_EQ(report["index"], (web() / "index.htm").string());
  EXPECT_EQ(report["items"], 2);
  EXPECT_EQ(report["media_pages"], 2);
  EXPECT_EQ(report["index_pages"], 1);
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
  EXPECT_TRUE(fs::is_regular_file(web() / "index.html"));
  EXPECT_TRUE(fs::is_regular_file(web() / "index2.html"));
  EXPECT_TRUE(fs::is_regular_file(web() / "source" / "3.html"));
  EXPECT_NE(ReadAll(web() / "index2.html").find("<a href=\"index.html\" target=\"_self\">1-2</a> | 3-3"),
            std::string::npos);
}

TEST_F(GalleryCli, MissingFilesAndBadDestinationsFailWithTheirMessages) {
  MakeCatalog({{"Canon_40D.jpg", "here.jpg"}, {"Nikon_D70.jpg", "gone.jpg"}});
  fs::remove(dir_ / "photos" / "gone.jpg");
  CliResult missing = Run({"gallery", catalog_, web().string(), "--json"});
  EXPECT_EQ(missing.status, 1);
  const Json report = Json::parse(missing.out);
  EXPECT_EQ(report["result"], 1);
  EXPECT_EQ(report["missing"], 1);
  EXPECT_NE(missing.err.find("HTML Export couldn't be completed because of missing files."), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(web() / "preview" / "icon0.gif"));
  EXPECT_TRUE(fs::is_regular_file(web() / "source" / "gone.htm"));

  std::ofstream(dir_ / "io" / "plain") << "x";
  CliResult into_file = Run({"gallery", catalog_, (dir_ / "io" / "plain").string()});
  EXPECT_EQ(into_file.status, 1);
  EXPECT_NE(into_file.err.find("a problem creating files or folders"), std::string::npos);

  EXPECT_EQ(Run({"gallery", catalog_}).status, 2);
}

TEST_F(GalleryCli, MoviesGetTheirIndexInFrontAndAPlayer) {
  if (std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  fs::create_directories(dir_ / "movies");
  const fs::path movie = dir_ / "movies" / "Clip One.mov";
  const std::string make = "ffmpeg -loglevel error -f lavfi -i testsrc=size=96x64:rate=10 -t 1 -c:v mpeg4 '" +
                           movie.string() + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  Ok({"new", catalog_});
  Ok({"import", catalog_, (dir_ / "movies").string()});
  Ok({"gallery", catalog_, web().string()});
  const fs::path copy = web() / "source" / "image" / "clip_one.mov";
  const std::string bytes = ReadAll(copy);
  ASSERT_FALSE(bytes.empty());
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
  EXPECT_GT(ReadAll(movie).find("moov"), ReadAll(movie).find("mdat"));  // ffmpeg writes it last
  // Every frame is still there and decodes the same.
  const std::string frames = "ffmpeg -v error -i '%s' -f framemd5 - 2>/dev/null";
  auto hashes = [&](const fs::path& p) {
    std::string command = frames;
    command.replace(command.find("%s"), 2, p.string());
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
      pclose(pipe);
    }
    return text.substr(text.find("\n0,"));  // past the header naming the file
  };
  EXPECT_EQ(hashes(copy), hashes(movie));
  const std::string page = ReadAll(web() / "source" / "clip_one.htm");
  EXPECT_NE(page.find("<video src=\"./image/clip_one.mov\" controls width=\"96\" height=\"80\" autoplay>"),
            std::string::npos);
}

}  // namespace
}  // namespace norvo::cli_testing
