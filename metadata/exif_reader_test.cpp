// SPDX-License-Identifier: GPL-3.0-or-later
// The EXIF reader on real camera files, compared with exiftool where it
// reports the same values.
#include "metadata/exif_reader.h"

#include "metadata/annotation_test_support.h"

#include "metadata/gps_text.h"
#include "metadata/image_file_reader.h"
#include "metadata/list_keys.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_tags.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_spec.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- Real camera files -------------------------------------------------

using testing::HaveExiftool;

std::string Photo(const std::string& name) { return testing::PhotoPath(name); }
ImageMetadata ReadPhoto(const std::string& name) { return testing::ReadImageFile(Photo(name), true); }

using testing::ExiftoolNumbers;

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

double RationalValue(const MetadataList& list, std::uint32_t key, int index = 0) {
  std::int32_t n = 0, d = 0;
  if (!GetRational(list, key, index, &n, &d) || d == 0) return NAN;
  return static_cast<std::uint32_t>(n) * 1.0 / static_cast<std::uint32_t>(d);
}

double GpsDegrees(const MetadataList& list, std::uint16_t ref, std::uint16_t tag) {
  double deg = RationalValue(list, GpsKey(tag), 0) + RationalValue(list, GpsKey(tag), 1) / 60.0 +
               RationalValue(list, GpsKey(tag), 2) / 3600.0;
  std::string r = GetPlainText(list, GpsKey(ref));
  return (r == "S" || r == "W") ? -deg : deg;
}

const char* const kCameraPhotos[] = {"Canon_40D.jpg",          "DSCN0010.jpg",  "Kodak_CX7530.jpg",
                                     "Konica_Minolta_DiMAGE_Z3.jpg", "Nikon_D70.jpg", "Olympus_C8080WZ.jpg",
                                     "Pentax_K10D.jpg",         "BlueSquare.jpg", "long_description.jpg"};

TEST(RealPhotos, AgreeWithExiftool) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  for (const char* name : kCameraPhotos) {
    SCOPED_TRACE(name);
    ImageMetadata m = ReadPhoto(name);
    auto peer = ExiftoolNumbers(Photo(name), {"EXIF:Make", "EXIF:Model", "EXIF:ExposureTime", "EXIF:ShutterSpeedValue",
                                              "EXIF:FNumber", "EXIF:ApertureValue", "EXIF:ISO", "EXIF:FocalLength",
                                              "EXIF:DateTimeOriginal", "EXIF:Orientation", "EXIF:ThumbnailLength",
                                              "EXIF:GPSLatitude", "EXIF:GPSLongitude", "EXIF:GPSLatitudeRef",
                                              "EXIF:GPSLongitudeRef"});
    auto text_of = [&](std::uint32_t key) {
      std::string text;
      return m.list.getText(key, 1, &text) == err::kNone ? Trimmed(text) : std::string("<none>");
    };
    EXPECT_EQ(text_of(kKeyMaker), peer.count("IFD0:Make") ? Trimmed(peer["IFD0:Make"]) : "<none>");
    if (peer.count("IFD0:Model")) {
      EXPECT_EQ(text_of(kKeyModel), Trimmed(peer["IFD0:Model"]));
    }
    // A ShutterSpeedValue after the ExposureTime replaces it; so does the
    // aperture value the f-number.
    std::string time =
        peer.count("ExifIFD:ShutterSpeedValue") ? peer["ExifIFD:ShutterSpeedValue"] : peer["ExifIFD:ExposureTime"];
    if (!time.empty()) {
      EXPECT_NEAR(RationalValue(m.list, ExifKey(kTagExposureTime)), std::stod(time), std::stod(time) * 0.01);
    } else {
      EXPECT_EQ(m.list.count(ExifKey(kTagExposureTime)), 0);
    }
    std::string f = peer.count("ExifIFD:ApertureValue") ? peer["ExifIFD:ApertureValue"] : peer["ExifIFD:FNumber"];
    if (!f.empty()) {
      EXPECT_NEAR(RationalValue(m.list, ExifKey(kTagFNumber)), std::stod(f), std::stod(f) * 0.01);
    }
    std::uint16_t iso = 0;
    ASSERT_EQ(GetShort(m.list, ExifKey(kTagIso), &iso), peer.count("ExifIFD:ISO") == 1);
    if (peer.count("ExifIFD:ISO")) {
      EXPECT_EQ(iso, std::stoi(peer["ExifIFD:ISO"]));
    }
    if (peer.count("ExifIFD:FocalLength")) {
      EXPECT_NEAR(RationalValue(m.list, ExifKey(kTagFocalLength)), std::stod(peer["ExifIFD:FocalLength"]), 0.001);
    }
    EXPECT_EQ(GetPlainText(m.list, ExifKey(kTagDateTimeOriginal)), peer["ExifIFD:DateTimeOriginal"]);
    EXPECT_EQ(m.orientation, peer.count("IFD0:Orientation") ? std::stoi(peer["IFD0:Orientation"]) : 0);
    if (peer.count("IFD1:ThumbnailLength")) {
      ASSERT_EQ(m.thumbnail.size(), static_cast<std::size_t>(std::stoul(peer["IFD1:ThumbnailLength"])));
      EXPECT_EQ(m.thumbnail[0], 0xFF);
      EXPECT_EQ(m.thumbnail[1], 0xD8);
    }
    if (peer.count("GPS:GPSLatitude")) {
      // exiftool gives the EXIF values unsigned, with the reference apart.
      EXPECT_NEAR(std::fabs(GpsDegrees(m.list, kGpsLatitudeRef, kGpsLatitude)), std::stod(peer["GPS:GPSLatitude"]),
                  1e-6);
      EXPECT_NEAR(std::fabs(GpsDegrees(m.list, kGpsLongitudeRef, kGpsLongitude)), std::stod(peer["GPS:GPSLongitude"]),
                  1e-6);
      EXPECT_EQ(GetPlainText(m.list, GpsKey(kGpsLatitudeRef)), peer["GPS:GPSLatitudeRef"]);
      EXPECT_EQ(GetPlainText(m.list, GpsKey(kGpsLongitudeRef)), peer["GPS:GPSLongitudeRef"]);
    } else {
      EXPECT_EQ(GpsLatitudeText(m.list), "");
    }
  }
}

TEST(RealPhotos, OrientationsOneToEightAgreeWithExiftool) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  for (int i = 1; i <= 8; ++i) {
    std::string name = "orientation/landscape_" + std::to_string(i) + ".jpg";
    auto peer = ExiftoolNumbers(Photo(name), {"EXIF:Orientation"});
    EXPECT_EQ(ReadPhoto(name).orientation, std::stoi(peer["IFD0:Orientation"])) << name;
  }
}

TEST(RealPhotos, ColourProfilesAndTexts) {
  // An embedded ICC profile; an interoperability index; a colour space only.
  ImageMetadata canon = ReadPhoto("Canon_40D.jpg");
  EXPECT_EQ(canon.profile, ProfileChoice::kEmbedded);
  EXPECT_EQ(ColourProfileName(canon), "sRGB IEC61966-2.1");
  EXPECT_EQ(ReadPhoto("DSCN0010.jpg").profile, ProfileChoice::kSrgb);
  ImageMetadata pentax = ReadPhoto("Pentax_K10D.jpg");
  EXPECT_EQ(pentax.camera, FourCC("PNTX"));
  std::string text;
  ASSERT_EQ(pentax.list.getText(kKeyAuthor, 1, &text), err::kNone);  // XPAuthor, UCS-2
  EXPECT_EQ(text, "www.laitche.com");
  ImageMetadata nikon = ReadPhoto("Nikon_D70.jpg");
  ASSERT_EQ(nikon.list.getText(kKeyComment, 1, &text), err::kNone);
  EXPECT_EQ(text, "comment in GIMP 2.4.5");
  EXPECT_EQ(nikon.list.count(kKeyXmp), 1);
  ImageMetadata long_text = ReadPhoto("long_description.jpg");
  ASSERT_EQ(long_text.list.getText(kKeyName, 1, &text), err::kNone);
  EXPECT_GT(text.size(), 400u);
  if (HaveExiftool()) {
    EXPECT_EQ(text, ExiftoolNumbers(Photo("long_description.jpg"), {"EXIF:ImageDescription"})["IFD0:ImageDescription"]);
  }
}

TEST(RealPhotos, TiffFile) {
  ImageMetadata m = ReadPhoto("Arbitro.tiff");
  EXPECT_EQ(m.orientation, 1);
  EXPECT_EQ(m.list.count(kKeyXmp), 1);
  EXPECT_GT(m.list.count(0x100), 0);  // ImageWidth, kept raw
  if (HaveExiftool()) {
    auto peer = ExiftoolNumbers(Photo("Arbitro.tiff"), {"IFD0:ImageWidth"});
    const auto* width = m.list.find(0x100, 1);
    ASSERT_NE(width, nullptr);
    // Raw items keep the file's byte order.
    Endian bo = testing::ReadBytes(Photo("Arbitro.tiff"))[0] == 'M' ? Endian::kBig : Endian::kLittle;
    std::uint32_t w = width->size() == 2 ? GetU16(*width, 0, bo) : GetU32(*width, 0, bo);
    EXPECT_EQ(std::to_string(w), peer["IFD0:ImageWidth"]);
  }
}

TEST(RealPhotos, ResolutionAgreesWithExiftool) {
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  // A JFIF density with a unit counts first (the decoder reads it too), else
  // IFD0's resolution.
  for (const char* name : kCameraPhotos) {
    SCOPED_TRACE(name);
    auto peer = ExiftoolNumbers(Photo(name), {"JFIF:ResolutionUnit", "JFIF:XResolution", "IFD0:XResolution"});
    std::int32_t want = 0;
    if (peer.count("JFIF:ResolutionUnit") && peer["JFIF:ResolutionUnit"] == "1") {
      want = std::stoi(peer["JFIF:XResolution"]);
    } else if (peer.count("IFD0:XResolution")) {
      want = std::stoi(peer["IFD0:XResolution"]);
    }
    EXPECT_EQ(ReadPhoto(name).resolution, want);
  }
  EXPECT_EQ(ReadPhoto("DSCN0010.jpg").resolution, 300);  // EXIF only, no JFIF segment
}

TEST(RealPhotos, DamagedAndCutFilesFailCleanly) {
  // The damaged file's metadata segments are whole; its picture is not.
  ImageMetadata damaged = ReadPhoto("image00971.jpg");
  EXPECT_EQ(damaged.list.count(kKeyXmp), 1);
  EXPECT_EQ(damaged.orientation, 0);
  EXPECT_EQ(damaged.list.count(ExifKey(kTagExposureTime)), 0);

  // Every cut of a real file reads without harm; cuts before the start of
  // scan report the end of file.
  const Bytes whole = testing::ReadBytes(Photo("DSCN0010.jpg"));
  Bytes sos{0xFF, 0xDA};
  // The last start-of-scan marker is the picture's (the EXIF thumbnail has
  // one of its own earlier; entropy-coded data never holds one).
  auto scan = static_cast<std::size_t>(std::find_end(whole.begin(), whole.end(), sos.begin(), sos.end()) - whole.begin());
  ASSERT_LT(scan, whole.size());
  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5}, std::size_t{100},
                          std::size_t{1000}, scan / 2, scan + 1, scan + 2}) {
    Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    MemorySource source(part);
    ImageMetadata m;
    ErrorCode e = ReadJpegMetadata(source, true, &m);
    if (cut < 2) {
      EXPECT_EQ(e, err::kBadJpeg);
    } else if (cut < scan + 2) {
      EXPECT_EQ(e, err::kEndOfFile) << cut;
    } else {
      EXPECT_EQ(e, err::kNone) << cut;
    }
  }
  // Not an image at all, and a missing file.
  FileSpec spec;
  ASSERT_EQ(MakeFileSpec(std::string(NORVO_TESTDATA_DIR) + "/README.md", spec), err::kNone);
  ImageMetadata m;
  EXPECT_EQ(ReadImageMetadata(spec, false, &m), err::kNoReaderForFormat);
  ASSERT_EQ(MakeFileSpec(std::string(NORVO_TESTDATA_DIR) + "/no-such-file.jpg", spec), err::kFileNotFound);
  EXPECT_EQ(ReadImageMetadata(spec, false, &m), err::kFileNotFound);
}

}  // namespace
}  // namespace norvo::metadata
