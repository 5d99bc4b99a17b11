// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli convert on camera photos and on small movies made
// by ffmpeg; exiftool and ffprobe read the new files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

class ConvertCliTest : public CliHarness {
 protected:
  void SetUp() override {
    CliHarness::SetUp();
    fs::create_directory(dir_ / "out");
  }
  // A scanned catalog of the given files.
  void MakeCatalog(const std::vector<std::string>& files) {
    NewCatalog(files);
    Ok({"scan", catalog_});
  }
  std::string Out(const std::string& name) const { return (dir_ / "out" / name).string(); }
  std::vector<std::string> ConvertArgs(const std::vector<std::string>& options) {
    return Plus({"convert", catalog_}, options);
  }
  Json Convert(const std::vector<std::string>& options) { return JsonOf(ConvertArgs(options)); }
  std::string Probe(const std::string& entries, const std::string& file) {
    return CaptureCommand("ffprobe -v error -show_entries " + entries + " -of csv=p=0 '" + file + "'");
  }
  // No conversion leaves its temporary file behind.
  void TearDown() override {
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      EXPECT_NE(e.path().filename().string(), "~Norvo Temporary File") << e.path();
    }
    CliHarness::TearDown();
  }
  // A movie made by the ffmpeg command: a test pattern, with a tone unless `silent`.
  std::string Movie(const std::string& name, bool silent) {
    const std::string path = (dir_ / name).string();
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=duration=1:size=160x120:rate=10";
    if (!silent) command += " -f lavfi -i sine=frequency=440:duration=1";
    command += " -c:v libx264 -pix_fmt yuv420p";
    if (!silent) command += " -c:a aac -shortest";
    CaptureCommand(command + " '" + path + "'");
    return path;
  }
};

// A shoot for the web: fitted into the box, upright once, with profile,
// GPS and the resolution asked for.
TEST_F(ConvertCliTest, PhotosForTheWebKeepWhatTheyAreAskedToKeep) {
  MakeCatalog({Photo("DSCN0010.jpg", "DSCN0010.jpg"), Photo("orientation/landscape_6.jpg", "landscape_6.jpg"),
               Photo("Canon_40D.jpg", "Canon_40D.JPG")});
  const Json result = Convert({"--kind", "image", "--format", "jpg", "--dest", (dir_ / "out").string(), "--size",
                               "320x320", "--dpi", "150", "--keep-profile", "--keep-metadata"});
  EXPECT_EQ(result["converted"], 3);
  ASSERT_EQ(result["items"].size(), 3u);
  for (const Json& item : result["items"]) EXPECT_EQ(item["result"], "converted") << item.dump();

  const Json tags = Exiftool("-n -ImageWidth -ImageHeight -Orientation -XResolution -GPSLatitude -Make",
                             {Out("DSCN0010.jpg"), Out("landscape_6.jpg"), Out("Canon_40D.jpg")});
  if (tags.empty()) GTEST_SKIP() << "exiftool is not installed";
  for (const Json& t : tags) {
    SCOPED_TRACE(t["SourceFile"].get<std::string>());
    EXPECT_LE(t["ImageWidth"].get<int>(), 320);
    EXPECT_LE(t["ImageHeight"].get<int>(), 320);
    EXPECT_EQ(t["XResolution"], 150);
  }
  EXPECT_NEAR(tags[0]["GPSLatitude"].get<double>(), 43.4674, 1e-3);
  EXPECT_EQ(tags[0]["Make"], "NIKON");
  // Stored 450 x 600 and turned by its EXIF: now 320 x 240, and not turned again.
  EXPECT_EQ((Json{tags[1]["ImageWidth"], tags[1]["ImageHeight"], tags[1]["Orientation"]}), (Json{320, 240, 1}));
  auto profile = [](const std::string& file) { return CaptureCommand("exiftool -b -ICC_Profile '" + file + "'"); };
  EXPECT_EQ(profile(Out("landscape_6.jpg")), profile((dir_ / "landscape_6.jpg").string()));
  EXPECT_FALSE(profile(Out("Canon_40D.jpg")).empty());
}

TEST_F(ConvertCliTest, NothingIsWrittenOverWithoutBeingAsked) {
  MakeCatalog({Photo("Nikon_D70.jpg", "Nikon_D70.jpg"), Photo("Pentax_K10D.jpg", "Pentax_K10D.jpg")});
  std::ofstream(Out("Nikon_D70.png")) << "mine";
  const std::string dest = (dir_ / "out").string();
  Json result = Convert({"--kind", "image", "--format", "png", "--dest", dest});
  EXPECT_EQ((Json{result["items"][0]["result"], result["items"][1]["result"]}), (Json{"skipped", "converted"}));
  EXPECT_EQ(ReadAll(Out("Nikon_D70.png")), "mine");
  // The text form says the same.
  const std::string text = Ok(ConvertArgs({"--kind", "image", "--format", "png", "--dest", dest}));
  EXPECT_NE(text.find("0 converted, 2 skipped, 0 failed"), std::string::npos) << text;
  result = Convert({"--kind", "image", "--format", "png", "--dest", dest, "--on-clash", "replace-all"});
  EXPECT_EQ(result["converted"], 2);
  EXPECT_NE(ReadAll(Out("Nikon_D70.png")), "mine");
}

// --replace: the items follow their new files, the old files go, and the
// saved catalog checks clean and finds every file.
TEST_F(ConvertCliTest, ReplacingOriginalsLeavesTheCatalogRight) {
  MakeCatalog({Photo("orientation/landscape_3.jpg", "a.jpg"), Photo("Canon_40D.jpg", "b.jpg"),
               Photo("DSCN0010.jpg", "c.jpg")});
  const Json result = Convert({"--kind", "image", "--format", "webp", "--replace", "--ids", "1,3"});
  EXPECT_EQ(result["converted"], 2);
  EXPECT_FALSE(fs::exists(dir_ / "a.jpg"));
  EXPECT_TRUE(fs::exists(dir_ / "b.jpg"));
  EXPECT_FALSE(fs::exists(dir_ / "c.jpg"));
  Ok({"check", catalog_});
  std::vector<std::string> names;
  for (const Json& item : List(catalog_)) {
    const std::string path = item["path"].get<std::string>();
    EXPECT_TRUE(fs::exists(path)) << path;
    names.push_back(item["file_name"].get<std::string>());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.webp", "b.jpg", "c.webp"}));
  // The new file reads as a picture.
  Ok({"preview", (dir_ / "a.webp").string(), (dir_ / "out" / "p.jpg").string()});
}

TEST_F(ConvertCliTest, WrongCommandLinesAreRefusedAndChangeNothing) {
  MakeCatalog({Photo("Nikon_D70.jpg", "Nikon_D70.jpg")});
  const std::string dest = (dir_ / "out").string();
  const std::vector<std::vector<std::string>> usage = {
      {"--kind", "image", "--format", "png"},
      {"--kind", "image", "--format", "png", "--dest", dest, "--replace"},
      {"--kind", "picture", "--format", "png", "--dest", dest},
      {"--kind", "image", "--format", "xcf", "--dest", dest},
      {"--kind", "image", "--format", "mp4", "--dest", dest},
      {"--kind", "image", "--format", "png", "--dest", dest, "--size", "100"},
      {"--kind", "image", "--format", "png", "--dest", dest, "--size", "0x100"},
      {"--kind", "image", "--format", "png", "--dest", dest, "--on-clash", "always"},
      {"--kind", "movie", "--format", "mp4", "--dest", dest, "--keep-profile"},
  };
  for (const std::vector<std::string>& args : usage) Fails(ConvertArgs(args), 2);
  Fails(ConvertArgs({"--kind", "image", "--format", "png", "--dest", (dir_ / "none").string()}), 1);
  Fails(ConvertArgs({"--kind", "image", "--format", "png", "--dest", dest, "--ids", "9"}), 1);
  EXPECT_TRUE(fs::is_empty(dir_ / "out"));
}

TEST_F(ConvertCliTest, MoviesAndSoundsGoThroughTheEncoder) {
  if (!Have({"ffmpeg", "ffprobe"})) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string talking = Movie("talking.mp4", false), silent = Movie("silent.mp4", true);
  ASSERT_TRUE(fs::exists(talking) && fs::exists(silent));
  MakeCatalog({talking, silent, Photo("Nikon_D70.jpg", "Nikon_D70.jpg")});
  const std::string dest = (dir_ / "out").string();

  Json result = Convert({"--kind", "movie", "--format", "mov", "--dest", dest});
  EXPECT_EQ(result["converted"], 2);
  EXPECT_EQ(result["items"][2]["result"], "failed");  // a photo is not a movie
  const std::string probe = Probe("stream=codec_type,width,height", Out("talking.mov"));
  EXPECT_NE(probe.find("video,160,120"), std::string::npos) << probe;
  EXPECT_NE(probe.find("audio"), std::string::npos) << probe;

  result = Convert({"--kind", "sound", "--format", "wav", "--dest", dest});
  EXPECT_EQ(result["items"][0]["result"], "converted");
  EXPECT_EQ(result["items"][1]["result"], "failed");  // no sound track: logged, no file
  EXPECT_EQ(result["items"][1]["error"], -2059);
  EXPECT_FALSE(fs::exists(Out("silent.wav")));
  EXPECT_EQ(Probe("stream=codec_type", Out("talking.wav")), "audio\n");
}

// FFmpeg is mapped only by a command that encodes: the loader's own trace
// (LD_DEBUG) names every library it opens. Without the encoder's module,
// movie conversion is refused with the loader's reason and pictures still
// convert.
TEST_F(ConvertCliTest, OnlyEncodingLoadsFfmpeg) {
  if (!Have({"ffmpeg", "ffprobe"})) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string talking = Movie("talking.mp4", false);
  MakeCatalog({talking, Photo("Nikon_D70.jpg", "Nikon_D70.jpg")});
  const std::string dest = (dir_ / "out").string();
  ::setenv("LD_DEBUG", "files", 1);
  const CliResult listing = Run({"list", catalog_});
  const CliResult encoding = Run(ConvertArgs({"--kind", "sound", "--format", "wav", "--dest", dest}));
  ::unsetenv("LD_DEBUG");
  EXPECT_EQ(listing.status, 0) << listing.err;
  EXPECT_EQ(listing.err.find("libavcodec"), std::string::npos);
  EXPECT_EQ(encoding.status, 0);
  EXPECT_NE(encoding.err.find("libavcodec"), std::string::npos);
  EXPECT_TRUE(fs::exists(Out("talking.wav")));

  fs::create_directory(dir_ / "no-plugins");
  ::setenv("NORVO_PLUGIN_DIR", (dir_ / "no-plugins").c_str(), 1);
  const CliResult refused = Run(ConvertArgs({"--kind", "movie", "--format", "mp4", "--dest", dest}));
  const CliResult pictures = Run(ConvertArgs({"--kind", "image", "--format", "png", "--dest", dest}));
  ::unsetenv("NORVO_PLUGIN_DIR");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("norvo-encoder.so"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(Out("talking.mp4")));
  EXPECT_EQ(pictures.status, 0) << pictures.err;
  EXPECT_TRUE(fs::exists(Out("Nikon_D70.png")));
}

}  // namespace
