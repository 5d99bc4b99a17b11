// SPDX-License-Identifier: GPL-3.0-or-later
// The still-image writers, checked by reading their files back with this
// project's readers (pixels) and with exiftool (resolution, profile bytes,
// EXIF tags), whose view of the files owes nothing to our code.
#include "imaging/image_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "imaging/image_reader.h"
#include "imaging/test_pictures.h"
#include "platform/byte_io.h"
#include "platform/test_shell.h"

namespace norvo::imaging {
namespace {

namespace fs = std::filesystem;
using testing::MeanDifference;
using testing::SizeOf;
using testing::PatternPicture;
using Bytes = std::vector<std::uint8_t>;

const std::string kPhotos = std::string(NORVO_TESTDATA_DIR) + "/photos/";

using norvo::testing::ExiftoolTags;
Bytes CaptureBytes(const std::string& command) {
  const std::string text = norvo::testing::CaptureCommand(command);
  return Bytes(text.begin(), text.end());
}
bool HaveExiftool() { return !norvo::testing::CaptureCommand("exiftool -ver").empty(); }

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "norvo-writer-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Save(const std::string& name, const Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  fs::path dir_;
};

TEST(ImageWriterTable, FindsFormatsByExtensionInAnyCase) {
  ASSERT_NE(FindImageWriter("JPG"), nullptr);
  EXPECT_EQ(FindImageWriter(".jpeg"), FindImageWriter("jpg"));
  EXPECT_EQ(FindImageWriter("TIFF"), FindImageWriter("tif"));
  EXPECT_EQ(FindImageWriter("xcf"), nullptr);
  EXPECT_EQ(FindImageWriter(""), nullptr);
  // The linked libraries always write these; HEIF and AVIF depend on libheif's plug-ins.
  for (const char* always : {"jpg", "png", "tif", "webp", "gif", "bmp"}) {
    ASSERT_NE(FindImageWriter(always), nullptr) << always;
    EXPECT_TRUE(FindImageWriter(always)->available) << always;
  }
}

// Every available format: the file reads back with our readers at its size,
// lossless formats exactly, lossy ones close to the original.
TEST(ImageWriter, EveryFormatReadsBackAsThePicture) {
  const PixelBuffer picture = PatternPicture(97, 61);  // odd sides: row padding, chroma edges
  for (const ImageWriterFormat& f : ImageWriterFormats()) {
    SCOPED_TRACE(std::string(f.extension));
    if (!f.available) continue;
    Bytes file;
    ASSERT_EQ(EncodeImage(f, picture, {}, &file), err::kNone);
    DecodedImage back;
    ASSERT_EQ(ReadStillImage(file, 0, 0, &back), err::kNone);
    ASSERT_EQ(SizeOf(back.picture), std::pair(97, 61));
    const double difference = MeanDifference(picture, back.picture);
    const bool lossless = f.extension == "png" || f.extension == "tif" || f.extension == "bmp";
    if (lossless) EXPECT_EQ(difference, 0);
    else EXPECT_LT(difference, 12);  // quantised or lossy, but the same picture
  }
}

TEST(ImageWriter, AlphaIsKeptWhereTheFormatHoldsItAndLaidOnWhiteElsewhere) {
  PixelBuffer picture = PatternPicture(16, 8);
  picture.setHasAlpha(true);
  picture.setPixel(0, 0, Argb(0, 0, 0, 0));        // transparent
  picture.setPixel(1, 0, Argb(128, 255, 0, 0));    // half red
  Bytes png, bmp;
  ASSERT_EQ(EncodeImage(*FindImageWriter("png"), picture, {}, &png), err::kNone);
  DecodedImage back;
  ASSERT_EQ(ReadStillImage(png, 0, 0, &back), err::kNone);
  EXPECT_EQ(back.picture.pixel(1, 0), Argb(128, 255, 0, 0));
  EXPECT_EQ(back.picture.pixel(0, 0) >> 24, 0u);
  ASSERT_EQ(EncodeImage(*FindImageWriter("bmp"), picture, {}, &bmp), err::kNone);
  ASSERT_EQ(ReadStillImage(bmp, 0, 0, &back), err::kNone);
  EXPECT_EQ(back.picture.pixel(0, 0), Argb(255, 255, 255, 255));  // transparent became white
}

TEST(ImageWriter, RefusesWhatItCannotWrite) {
  const PixelBuffer picture = PatternPicture(8, 8);
  Bytes out;
  EXPECT_EQ(EncodeImage(*FindImageWriter("jpg"), PixelBuffer(), {}, &out), err::kParam);
  ImageWriteOptions not_tiff;
  const Bytes junk = {'J', 'U', 'N', 'K', 0, 0, 0, 8, 1, 2};
  not_tiff.exif = junk;
  EXPECT_EQ(EncodeImage(*FindImageWriter("jpg"), picture, not_tiff, &out), err::kParam);
  EXPECT_TRUE(out.empty());
  ImageWriterFormat missing = *FindImageWriter("png");
  missing.available = false;
  EXPECT_EQ(EncodeImage(missing, picture, {}, &out), err::kParam);
}

// What each format carries, as exiftool sees it: the resolution, the very
// profile bytes, the GPS position of the EXIF, Orientation 1.
TEST_F(WriterTest, MetadataTravelsWhereTheFormatHoldsIt) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Bytes profile = CaptureBytes("exiftool -b -ICC_Profile '" + kPhotos + "orientation/landscape_6.jpg'");
  const Bytes camera_exif = CaptureBytes("exiftool -b -EXIF '" + kPhotos + "DSCN0010.jpg'");
  ASSERT_GT(profile.size(), 1000u);
  ASSERT_GT(camera_exif.size(), 1000u);
  ASSERT_NE(CaptureBytes("exiftool -s3 -ThumbnailLength '" + kPhotos + "DSCN0010.jpg'"), Bytes{});
  Bytes exif;
  ASSERT_EQ(UprightExif(camera_exif, {.dots_per_inch = 150, .width = 64, .height = 48}, &exif), err::kNone);
  const PixelBuffer picture = PatternPicture(64, 48);
  ImageWriteOptions options;
  options.dots_per_inch = 150;
  options.icc_profile = profile;
  options.exif = exif;
  for (const ImageWriterFormat& f : ImageWriterFormats()) {
    SCOPED_TRACE(std::string(f.extension));
    if (!f.available) continue;
    Bytes bytes;
    std::uint32_t dropped = 0;
    ASSERT_EQ(EncodeImage(f, picture, options, &bytes, &dropped), err::kNone);
    const std::string path = Save("out." + std::string(f.extension), bytes);
    std::map<std::string, std::string> tags =
        ExiftoolTags(path, {"ImageWidth", "GPSLatitude", "Make", "Orientation", "XResolution", "YResolution",
                    "PixelsPerMeterX", "ExifImageWidth", "ExifImageHeight", "ThumbnailLength"});
    EXPECT_EQ(tags["ImageWidth"], "64");
    if (f.holds & kHoldsProfile) {
      EXPECT_EQ(CaptureBytes("exiftool -b -ICC_Profile '" + path + "'"), profile);
      EXPECT_EQ(dropped & kHoldsProfile, 0u);
    } else {
      EXPECT_NE(dropped & kHoldsProfile, 0u);
    }
    if (f.holds & kHoldsExif) {
      EXPECT_EQ(tags["GPSLatitude"].substr(0, 7), "43.4674");  // 43 deg 28' 2.81"
      EXPECT_EQ(tags["Make"], "NIKON");
      EXPECT_EQ(tags["Orientation"], "1");
      // The camera's pixel size and its preview of the old picture do not
      // travel: the EXIF describes the picture written.
      EXPECT_EQ(tags["ExifImageWidth"], "64");
      EXPECT_EQ(tags["ExifImageHeight"], "48");
      EXPECT_EQ(tags.count("ThumbnailLength"), 0u);
      EXPECT_EQ(dropped & kHoldsExif, 0u);
    } else {
      EXPECT_NE(dropped & kHoldsExif, 0u);
      EXPECT_EQ(tags.count("GPSLatitude"), 0u);
    }
    if (f.extension == "bmp") {
      EXPECT_EQ(tags["PixelsPerMeterX"], "5906");  // 150 dpi
    } else if (f.holds & kHoldsResolution || f.holds & kHoldsExif) {
      // Formats without a resolution field of their own carry it in the EXIF.
      EXPECT_EQ(tags["XResolution"], "150");
      EXPECT_EQ(tags["YResolution"], "150");
    }
  }
}

// TIFF carries EXIF as IFDs of its own, in the EXIF's byte order: a
// big-endian camera block gives a big-endian file whose pixels, IFD0 texts
// and EXIF values all read back, maker notes included.
TEST_F(WriterTest, TiffCarriesBigEndianExifWhole) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Bytes camera_exif = CaptureBytes("exiftool -b -EXIF '" + kPhotos + "Konica_Minolta_DiMAGE_Z3.jpg'");
  ASSERT_GT(camera_exif.size(), 100u);
  ASSERT_EQ(camera_exif[0], 'M');
  Bytes exif;
  ASSERT_EQ(UprightExif(camera_exif, {.dots_per_inch = 200, .width = 40, .height = 30}, &exif), err::kNone);
  ImageWriteOptions options;
  options.dots_per_inch = 200;
  options.exif = exif;
  Bytes bytes;
  std::uint32_t dropped = 0;
  ASSERT_EQ(EncodeImage(*FindImageWriter("tif"), PatternPicture(40, 30), options, &bytes, &dropped), err::kNone);
  EXPECT_EQ(dropped, 0u);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 'M');
  const std::string path = Save("camera.tif", bytes);
  std::map<std::string, std::string> tags =
      ExiftoolTags(path, {"ImageWidth", "Make", "Model", "ExposureTime", "ExifImageWidth", "XResolution", "Warning"});
  EXPECT_EQ(tags["ImageWidth"], "40");
  EXPECT_EQ(tags["Make"], "KONICA MINOLTA");
  EXPECT_FALSE(tags["Model"].empty());
  EXPECT_FALSE(tags["ExposureTime"].empty());
  EXPECT_EQ(tags["ExifImageWidth"], "40");
  EXPECT_EQ(tags["XResolution"], "200");
  // Maker notes count their offsets from the EXIF header: moved, they
  // would draw a new warning; the camera's own file has this one already.
  EXPECT_EQ(tags["Warning"], ExiftoolTags(kPhotos + "Konica_Minolta_DiMAGE_Z3.jpg", {"Warning"})["Warning"]);
  // The pixels are still where libtiff put them.
  DecodedImage back;
  ASSERT_EQ(ReadStillImage(bytes, 0, 0, &back), err::kNone);
  EXPECT_EQ(MeanDifference(PatternPicture(40, 30), back.picture), 0);
}

TEST_F(WriterTest, JpegResolutionWithoutExifIsInItsJfifHeader) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  ImageWriteOptions options;
  options.dots_per_inch = 300;
  Bytes bytes;
  ASSERT_EQ(EncodeImage(*FindImageWriter("jpg"), PatternPicture(20, 20), options, &bytes), err::kNone);
  auto jfif = ExiftoolTags(Save("plain.jpg", bytes), {"JFIF:XResolution", "JFIF:ResolutionUnit"});
  EXPECT_EQ(jfif["XResolution"], "300");
  EXPECT_EQ(jfif["ResolutionUnit"], "1");
  options.dots_per_inch = 0;  // out of range: the default
  ASSERT_EQ(EncodeImage(*FindImageWriter("jpg"), PatternPicture(20, 20), options, &bytes), err::kNone);
  EXPECT_EQ(ExiftoolTags(Save("default.jpg", bytes), {"JFIF:XResolution"})["XResolution"], "72");
}

// A profile larger than one JPEG segment is split into numbered chunks
// that exiftool joins back into the same bytes.
TEST_F(WriterTest, LargeProfilesAreSplitAcrossSegments) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  Bytes profile = CaptureBytes("exiftool -b -ICC_Profile '" + kPhotos + "orientation/landscape_6.jpg'");
  ASSERT_FALSE(profile.empty());
  // Pad it past two segments; the header's size field is made to match.
  profile.resize(150000, 0x5A);
  FixedBytes(profile).setU32be(0, static_cast<std::uint32_t>(profile.size()));
  ImageWriteOptions options;
  options.icc_profile = profile;
  Bytes bytes;
  ASSERT_EQ(EncodeImage(*FindImageWriter("jpg"), PatternPicture(20, 20), options, &bytes), err::kNone);
  EXPECT_EQ(CaptureBytes("exiftool -b -ICC_Profile '" + Save("big.jpg", bytes) + "'"), profile);
}

// A TIFF structure of IFD0 only, with the tags UprightExif rewrites.
Bytes SmallExif(Endian order, std::uint16_t orientation) {
  ByteWriter w;
  const bool le = order == Endian::kLittle;
  auto u16 = [&](std::uint16_t v) { le ? w.u16le(v) : w.u16be(v); };
  auto u32 = [&](std::uint32_t v) { le ? w.u32le(v) : w.u32be(v); };
  w.u8(le ? 'I' : 'M');
  w.u8(le ? 'I' : 'M');
  u16(42);
  u32(8);
  u16(4);  // entries
  const std::uint32_t values = 8 + 2 + 4 * 12 + 4;
  u16(0x0112), u16(3), u32(1), u16(orientation), u16(0);
  u16(0x011A), u16(5), u32(1), u32(values);
  u16(0x011B), u16(5), u32(1), u32(values + 8);
  u16(0x0128), u16(3), u32(1), u16(3), u16(0);  // centimetres
  u32(0);
  u32(72), u32(1), u32(72), u32(1);
  return w.take();
}

TEST(UprightExif, SetsOrientationAndResolutionInEitherByteOrder) {
  for (Endian order : {Endian::kLittle, Endian::kBig}) {
    SCOPED_TRACE(order == Endian::kLittle ? "II" : "MM");
    const Bytes in = SmallExif(order, 6);
    Bytes out;
    ASSERT_EQ(UprightExif(in, {.dots_per_inch = 240}, &out), err::kNone);
    ASSERT_EQ(out.size(), in.size());  // patched in place, nothing moved
    OrderedByteReader r(out, order);
    r.seek(8 + 2 + 8);
    EXPECT_EQ(r.u16(), 1);  // orientation
    r.seek(8 + 2 + 3 * 12 + 8);
    EXPECT_EQ(r.u16(), 2);  // inches
    r.seek(8 + 2 + 4 * 12 + 4);
    EXPECT_EQ(r.u32(), 240u);
    EXPECT_EQ(r.u32(), 1u);
    EXPECT_EQ(r.u32(), 240u);
    EXPECT_EQ(r.u32(), 1u);
  }
}

TEST(UprightExif, RefusesBlocksThatAreNotTiffStructures) {
  Bytes out;
  const Bytes cases[] = {
      {},
      {'I', 'I', 42},
      {'X', 'X', 42, 0, 8, 0, 0, 0},
      {'I', 'I', 42, 0, 0xFF, 0, 0, 0},  // IFD0 beyond the block
  };
  for (const Bytes& c : cases) EXPECT_EQ(UprightExif(c, {.dots_per_inch = 72}, &out), err::kParam);
  // An IFD whose value offset runs off the end keeps that value and patches the rest.
  Bytes cut = SmallExif(Endian::kLittle, 8);
  cut.erase(cut.end() - 12, cut.end());
  ASSERT_EQ(UprightExif(cut, {.dots_per_inch = 96}, &out), err::kNone);
  OrderedByteReader r(out, Endian::kLittle);
  r.seek(8 + 2 + 8);
  EXPECT_EQ(r.u16(), 1);
}

}  // namespace
}  // namespace norvo::imaging
