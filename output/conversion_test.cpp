// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion run on real camera photos in a catalog: names, the replace
// question, metadata and turns carried into the new files (checked with
// exiftool), pictures inside the box, "Replace original files", and no
// temporary file after success, failure or cancel.
#include "output/conversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "catalog/save.h"
#include "imaging/image_reader.h"
#include "imaging/image_writer.h"
#include "imaging/test_pictures.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "platform/fault_injection.h"
#include "platform/file_replace.h"
#include "platform/file_spec.h"
#include "platform/test_shell.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";

std::string Capture(const std::string& command) { return norvo::testing::CaptureCommand(command); }
bool HaveExiftool() { return !Capture("exiftool -ver").empty(); }
// exiftool's numeric values of some tags, by name.
std::map<std::string, std::string> Tags(const std::string& file, const std::vector<std::string>& tags) {
  return norvo::testing::ExiftoolTags(file, tags);
}
std::string ProfileOf(const std::string& file) { return Capture("exiftool -b -ICC_Profile '" + file + "'"); }

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(media::InitMediaTypes(media::FindPlatformComponents()), err::kNone);
    std::string pattern = (fs::temp_directory_path() / "norvo-convert-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "files");
    fs::create_directory(dir_ / "out");
    ASSERT_EQ(catalog::CreateCatalog(nullptr, Spec(NextScratch()), {}, {}, catalog_), err::kNone);
  }
  void TearDown() override {
    faults::Reset();
    if (catalog_) catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);
    fs::remove_all(dir_);
  }
  static FileSpec Spec(const std::string& path) {
    FileSpec spec;
    EXPECT_TRUE(FileSpecFilled(MakeFileSpec(path, spec)));
    return spec;
  }
  std::string NextScratch() { return (dir_ / ("scratch" + std::to_string(++scratch_count_))).string(); }

  // Copies test photos into files/ and adds and scans them; their ids.
  std::vector<std::uint32_t> Add(const std::vector<std::string>& photos) {
    for (const std::string& p : photos) {
      const fs::path to = dir_ / "files" / fs::path(p).filename();
      fs::copy_file(kPhotos / p, to);
      EXPECT_EQ(catalog::AddPendingItem(*catalog_, Spec(to.string())), err::kNone);
    }
    const std::vector<std::uint32_t> pending = media::PendingItems(*catalog_);
    EXPECT_EQ(media::ScanItems(*catalog_, pending, 2, {}, {}, nullptr), err::kNone);
    return pending;
  }
  ConversionRequest Request(const std::string& extension, bool scale = false, int box = 0) {
    ConversionRequest r;
    r.extension = extension;
    r.destination = (dir_ / "out").string();
    r.options.scale_to_fit = scale ? 1 : 0;
    r.options.box_width = static_cast<std::uint32_t>(box);
    r.options.box_height = static_cast<std::uint32_t>(box);
    r.jobs = 2;
    return r;
  }
  // No "~Norvo Temporary File" anywhere under the test's folder.
  void ExpectNoTemporary() {
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      EXPECT_NE(e.path().filename().string(), std::string(kConversionTemporaryName)) << e.path();
    }
  }
  std::string Out(const std::string& name) const { return (dir_ / "out" / name).string(); }
  static imaging::DecodedImage Decode(const std::string& path) {
    imaging::DecodedImage image;
    EXPECT_EQ(imaging::ReadStillImage(path, 0, 0, &image), err::kNone) << path;
    return image;
  }

  fs::path dir_;
  int scratch_count_ = 0;
  std::unique_ptr<catalog::Catalog> catalog_;
};

TEST(ConvertedName, ReplacesTheLastExtension) {
  const struct {
    const char* in;
    const char* want;
  } cases[] = {{"IMG_1.JPG", "IMG_1.png"}, {"a.b.tif", "a.b.png"}, {"README", "README.png"},
               {".hidden", ".hidden.png"}, {"trailing.", "trailing.png"}};
  for (const auto& c : cases) EXPECT_EQ(ConvertedName(c.in, "png"), c.want) << c.in;
  EXPECT_EQ(ReplaceQuestionText("a.png", "/x"),
            "Replace file?\nFile 'a.png' already exists in the destination folder '/x'.");
}

// The turned photo comes out upright, once: its pixels match the upright
// original's, its EXIF says Orientation 1, its size fits the box, and its
// profile, resolution and GPS position are the source's.
TEST_F(ConversionTest, PicturesComeOutUprightInsideTheBoxWithTheirMetadata) {
  Add({"orientation/landscape_1.jpg", "orientation/landscape_6.jpg", "DSCN0010.jpg"});
  ConversionRequest r = Request("png", true, 200);
  const ConversionOutcome o = RunConversion(*catalog_, r);
  ASSERT_EQ(o.result, err::kNone);
  EXPECT_EQ(o.converted, 3);
  EXPECT_EQ(o.failed, 0);
  ExpectNoTemporary();

  const imaging::DecodedImage upright = Decode(Out("landscape_1.png"));
  const imaging::DecodedImage turned = Decode(Out("landscape_6.png"));
  EXPECT_EQ(upright.picture.width(), 200);  // 600 x 450 into 200 x 200
  EXPECT_EQ(upright.picture.height(), 150);
  ASSERT_EQ(turned.picture.width(), 200);
  ASSERT_EQ(turned.picture.height(), 150);
  EXPECT_GT(imaging::testing::Correlation(upright.picture, turned.picture), 0.95);
  const imaging::DecodedImage camera = Decode(Out("DSCN0010.png"));
  EXPECT_LE(camera.picture.width(), 200);
  EXPECT_LE(camera.picture.height(), 200);

  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  auto tags = Tags(Out("landscape_6.png"), {"Orientation", "XResolution"});
  EXPECT_EQ(tags["Orientation"], "1");
  EXPECT_EQ(ProfileOf(Out("landscape_6.png")), ProfileOf((dir_ / "files" / "landscape_6.jpg").string()));
  tags = Tags(Out("DSCN0010.png"), {"GPSLatitude", "GPSLongitude", "XResolution", "Make"});
  EXPECT_EQ(tags["GPSLatitude"].substr(0, 7), "43.4674");
  EXPECT_FALSE(tags["GPSLongitude"].empty());
  EXPECT_EQ(tags["XResolution"], "300");  // the item's own resolution
  EXPECT_EQ(tags["Make"], "NIKON");
}

TEST_F(ConversionTest, OptionsLeaveOutMetadataAndSetTheResolution) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  Add({"orientation/landscape_6.jpg", "DSCN0010.jpg"});
  ConversionRequest r = Request("jpg");
  r.options.preserve_profiles = 0;
  r.options.preserve_metadata = 0;
  r.options.custom_resolution = 1;
  r.options.resolution = 96;
  ASSERT_EQ(RunConversion(*catalog_, r).converted, 2);
  auto tags = Tags(Out("DSCN0010.jpg"), {"GPSLatitude", "XResolution", "Make", "ImageWidth"});
  EXPECT_EQ(tags.count("GPSLatitude"), 0u);
  EXPECT_EQ(tags.count("Make"), 0u);
  EXPECT_EQ(tags["XResolution"], "96");
  EXPECT_EQ(tags["ImageWidth"], "640");  // natural bounds
  EXPECT_EQ(ProfileOf(Out("landscape_6.jpg")), "");
  // Without its EXIF the picture must still be upright (stored 450 x 600, turned).
  tags = Tags(Out("landscape_6.jpg"), {"ImageWidth", "ImageHeight", "Orientation"});
  EXPECT_EQ(tags["ImageWidth"], "600");
  EXPECT_EQ(tags["ImageHeight"], "450");
  EXPECT_EQ(tags.count("Orientation"), 0u);
}

TEST_F(ConversionTest, AFormatThatCannotHoldTheProfileConvertsWithAWarning) {
  Add({"orientation/landscape_6.jpg"});
  const ConversionOutcome o = RunConversion(*catalog_, Request("gif", true, 100));
  ASSERT_EQ(o.log.size(), 1u);
  EXPECT_EQ(o.log[0].kind, LogKind::kWarning);
  EXPECT_EQ(o.converted, 1);
  EXPECT_TRUE(fs::exists(Out("landscape_6.gif")));
}

// The question comes for a file already there, never for the source
// itself; skip leaves the file alone, replace all stops the questions.
TEST_F(ConversionTest, TheReplaceQuestionDecidesWhatIsWrittenOver) {
  const std::vector<std::uint32_t> ids =
      Add({"Canon_40D.jpg", "Nikon_D70.jpg", "Pentax_K10D.jpg", "Kodak_CX7530.jpg"});
  for (const char* name : {"Canon_40D.png", "Nikon_D70.png", "Pentax_K10D.png", "Kodak_CX7530.png"}) {
    std::ofstream(Out(name)) << "keep me";
  }
  struct Case {
    const char* name;
    std::vector<ReplaceAnswer> answers;
    int asked;
    int replaced;
  };
  const Case cases[] = {
      {"skip each", {ReplaceAnswer::kSkip, ReplaceAnswer::kSkip, ReplaceAnswer::kSkip, ReplaceAnswer::kSkip}, 4, 0},
      {"replace one", {ReplaceAnswer::kReplace, ReplaceAnswer::kSkip, ReplaceAnswer::kSkip, ReplaceAnswer::kSkip}, 4, 1},
      {"replace all after a skip", {ReplaceAnswer::kSkip, ReplaceAnswer::kReplaceAll}, 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"Canon_40D.png", "Nikon_D70.png", "Pentax_K10D.png", "Kodak_CX7530.png"}) {
      std::ofstream(Out(name), std::ios::trunc) << "keep me";
    }
    ConversionRequest r = Request("png");
    int asked = 0;
    r.ask = [&](const std::string& name, const std::string& folder) {
      EXPECT_EQ(folder, (dir_ / "out").string());
      EXPECT_TRUE(fs::exists(folder + "/" + name));
      return c.answers.at(static_cast<std::size_t>(asked++));
    };
    const ConversionOutcome o = RunConversion(*catalog_, r);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(o.converted, c.replaced);
    EXPECT_EQ(o.skipped, 4 - c.replaced);
    int kept = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "out")) kept += fs::file_size(e.path()) == 7 ? 1 : 0;
    EXPECT_EQ(kept, 4 - c.replaced);
    ExpectNoTemporary();
  }
  // No one to ask: nothing is written over.
  ConversionRequest r = Request("png");
  std::ofstream(Out("Canon_40D.png"), std::ios::trunc) << "keep me";
  const ConversionOutcome o = RunConversion(*catalog_, r);
  EXPECT_EQ(fs::file_size(Out("Canon_40D.png")), 7u);
  EXPECT_GE(o.skipped, 1);
  (void)ids;
}

TEST_F(ConversionTest, ASourceConvertedOntoItselfIsWrittenOverWithoutAQuestion) {
  Add({"DSCN0010.jpg"});
  ConversionRequest r = Request("jpg", true, 100);
  r.destination = (dir_ / "files").string();
  bool asked = false;
  r.ask = [&](const std::string&, const std::string&) {
    asked = true;
    return ReplaceAnswer::kSkip;
  };
  const ConversionOutcome o = RunConversion(*catalog_, r);
  EXPECT_FALSE(asked);
  EXPECT_EQ(o.converted, 1);
  const imaging::DecodedImage back = Decode((dir_ / "files" / "DSCN0010.jpg").string());
  EXPECT_EQ(back.picture.width(), 100);
  ExpectNoTemporary();
}

// "Replace original files": the item follows its new file, the old file
// goes, and a saved and reopened catalog finds every file.
TEST_F(ConversionTest, ReplacingOriginalsKeepsTheCatalogRight) {
  const std::vector<std::uint32_t> ids = Add({"orientation/landscape_6.jpg", "Canon_40D.jpg", "Nikon_D70.jpg"});
  ConversionRequest r = Request("png", true, 300);
  r.destination.clear();
  r.item_ids = {ids[0], ids[2]};
  const ConversionOutcome o = RunConversion(*catalog_, r);
  ASSERT_EQ(o.converted, 2);
  EXPECT_TRUE(o.catalog_changed);
  EXPECT_FALSE(fs::exists(dir_ / "files" / "landscape_6.jpg"));
  EXPECT_FALSE(fs::exists(dir_ / "files" / "Nikon_D70.jpg"));
  EXPECT_TRUE(fs::exists(dir_ / "files" / "Canon_40D.jpg"));  // not asked for

  const std::string catalog_path = (dir_ / "c.nrk").string();
  FileSpec file = Spec(catalog_path);
  ASSERT_EQ(catalog::SaveCatalog(*catalog_, &file, {}), err::kNone);
  catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);
  ASSERT_EQ(catalog::CreateCatalog(&file, Spec(NextScratch()), {}, {}, catalog_), err::kNone);
  const std::vector<std::string> want = {"landscape_6.png", "Canon_40D.jpg", "Nikon_D70.png"};
  for (int cell = 1; cell <= 3; ++cell) {
    SCOPED_TRACE(cell);
    std::string path;
    ASSERT_EQ(catalog::FindItemFile(*catalog_, cell, path), err::kNone);
    EXPECT_EQ(fs::path(path).filename().string(), want[static_cast<std::size_t>(cell - 1)]);
    catalog::ItemRecord record;
    ASSERT_EQ(catalog::GetItemRecord(*catalog_, cell, catalog::kWithoutOptionalParts, record), err::kNone);
    if (cell == 1) {
      // The new file is upright: the item no longer turns it.
      EXPECT_EQ(record.orientation, 0);
      EXPECT_EQ(record.width, 300u);
      EXPECT_EQ(record.height, 225u);
      EXPECT_EQ(media::GetMediaClass(record.type_code), media::MediaClass::Image);
      imaging::PixelBuffer preview;
      EXPECT_EQ(media::MakePreview(path, record.type_code, 0, record.orientation, &preview), err::kNone);
      EXPECT_EQ(preview.width(), 300);
    }
  }
  ExpectNoTemporary();
}

TEST_F(ConversionTest, MissingFilesAreLoggedAndTheRunGoesOn) {
  Add({"Canon_40D.jpg", "Nikon_D70.jpg"});
  fs::remove(dir_ / "files" / "Canon_40D.jpg");
  const ConversionOutcome o = RunConversion(*catalog_, Request("webp"));
  ASSERT_EQ(o.log.size(), 2u);
  EXPECT_EQ(o.log[0].kind, LogKind::kFailed);
  EXPECT_EQ(o.log[0].error, err::kFileNotFound);
  EXPECT_EQ(o.log[1].kind, LogKind::kConverted);
  EXPECT_TRUE(fs::exists(Out("Nikon_D70.webp")));
}

TEST_F(ConversionTest, AFailedWriteLeavesNeitherPartNorTemporary) {
  Add({"Canon_40D.jpg", "Nikon_D70.jpg"});
  faults::FailNthWrite(1, err::kDiskFull);
  const ConversionOutcome o = RunConversion(*catalog_, Request("tif"));
  faults::Reset();
  ASSERT_EQ(o.log.size(), 2u);
  EXPECT_EQ(o.log[0].kind, LogKind::kFailed);
  EXPECT_EQ(o.log[0].error, err::kDiskFull);
  EXPECT_FALSE(fs::exists(Out("Canon_40D.tif")));
  EXPECT_TRUE(fs::exists(Out("Nikon_D70.tif")));
  ExpectNoTemporary();
}

TEST_F(ConversionTest, CancelEndsTheRunAfterTheCurrentItem) {
  Add({"Canon_40D.jpg", "Nikon_D70.jpg", "Pentax_K10D.jpg", "Kodak_CX7530.jpg"});
  ConversionRequest r = Request("png");
  std::vector<ProgressPhase> phases;
  r.progress = [&](ProgressPhase phase, int done, int total, std::string_view text) {
    phases.push_back(phase);
    EXPECT_EQ(total, 4);
    EXPECT_EQ(text.substr(0, kConvertingText.size()), kConvertingText);
    return phase == ProgressPhase::kStep && done == 2 ? 1 : 0;
  };
  const ConversionOutcome o = RunConversion(*catalog_, r);
  EXPECT_EQ(o.result, err::kUserCancelled);
  EXPECT_EQ(o.converted, 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 2);
  ASSERT_FALSE(phases.empty());
  EXPECT_EQ(phases.front(), ProgressPhase::kStart);
  EXPECT_EQ(phases.back(), ProgressPhase::kEnd);
  ExpectNoTemporary();
}

TEST_F(ConversionTest, AFormatThisMachineCannotWriteStopsBeforeAnything) {
  Add({"Canon_40D.jpg"});
  EXPECT_EQ(RunConversion(*catalog_, Request("xcf")).result, err::kParam);
  ConversionRequest r = Request("png");
  r.destination = (dir_ / "nowhere").string();
  EXPECT_EQ(RunConversion(*catalog_, r).result, err::kFolderNotFound);
}

}  // namespace
}  // namespace norvo::output
