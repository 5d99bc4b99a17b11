// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/maker_notes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "metadata/annotation_test_support.h"
#include "metadata/list_keys.h"
#include "metadata/stored_values.h"
#include "metadata/tag_value_test_support.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;

TagValue Note(std::uint16_t tag, std::uint16_t type, const Bytes& bytes, Endian order = Endian::kLittle) {
  return testing::MakeTagValue(tag, type, bytes, kTagMakerNote, order);
}

Bytes Ascii(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

int ShortOf(const MetadataList& list, std::uint16_t tag) {
  std::uint16_t v = 0;
  return GetShort(list, ExifKey(tag), &v) ? v : -1;
}

TEST(CameraCodes, FromTheMakeText) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"NIKON CORPORATION", kCameraNikon},     {"NIKON", kCameraNikon},
      {"Canon", kCameraCanon},                 {"PENTAX Corporation", kCameraPentax},
      {"Asahi Optical Co.,Ltd", kCameraAsahi}, {"Kodak", kCameraKodak},
      {"OLYMPUS OPTICAL CO.,LTD", kCameraOlympus}, {"Minolta Co., Ltd.", kCameraMinolta},
      {"Konica Minolta Camera, Inc.", kCameraMinolta}, {"KONICA MINOLTA", kCameraMinolta},
      // Four characters are not enough; the match is case-sensitive; other
      // makers have no rules.
      {"Cano", 0}, {std::string("Cano\0n", 6), 0}, {"nikon", 0}, {"KONICA", 0}, {"EASTMAN KODAK COMPANY", 0},
  };
  for (const auto& [make, want] : cases) EXPECT_EQ(CameraCodeFromMake(make), want) << make;
}

TEST(NikonRules, TextsComparedOverTheirWidth) {
  EXPECT_TRUE(NikonTextIs(Ascii("WHITE PRESET"), "WHI", 3));
  EXPECT_TRUE(NikonTextIs(Ascii("AUTO"), "AUTO", 13));
  EXPECT_FALSE(NikonTextIs(Ascii("AUTOMATIC"), "AUTO", 13));
  EXPECT_FALSE(NikonTextIs(Ascii("AF"), "AF-S", 4));

  MetadataList list;
  ApplyNikonRules(list, Note(0x5, 2, Ascii("WHITE PRESET")));
  EXPECT_EQ(ShortOf(list, kTagLightSource), 30);
  ApplyNikonRules(list, Note(0x5, 2, Ascii("SPEEDLIGHT")));  // not in the list: earlier value stays
  EXPECT_EQ(ShortOf(list, kTagLightSource), 30);
  ApplyNikonRules(list, Note(0x5, 2, Ascii("CLOUDY")));
  EXPECT_EQ(ShortOf(list, kTagLightSource), 10);
  ApplyNikonRules(list, Note(0x7, 2, Ascii("MANUAL")));
  EXPECT_EQ(ShortOf(list, kTagFocusMode), 1);
  ApplyNikonRules(list, Note(0x8, 2, Ascii("NORMAL")));
  EXPECT_EQ(ShortOf(list, kTagFlash), 1);
  ApplyNikonRules(list, Note(0x80, 2, Ascii("BRIGHTNESS(+)")));
  EXPECT_EQ(ShortOf(list, kTagContrast), 10);
  ApplyNikonRules(list, Note(0x95, 2, Ascii("OFF ")));
  EXPECT_EQ(ShortOf(list, kTagNoiseReduction), 0);
  ApplyNikonRules(list, Note(0x95, 2, Ascii("FPNR")));
  EXPECT_EQ(ShortOf(list, kTagNoiseReduction), 1);
}

Bytes RationalsLe(std::vector<std::uint32_t> words) {
  ByteWriter w;
  for (auto x : words) w.u32le(x);
  return w.take();
}

TEST(NikonRules, LensAndNumbers) {
  MetadataList list;
  ApplyNikonRules(list, Note(0x84, 5, RationalsLe({500, 10, 500, 10, 18, 10, 18, 10})));
  EXPECT_EQ(GetPlainText(list, ExifKey(kTagLens)), "50 mm");
  ApplyNikonRules(list, Note(0x84, 5, RationalsLe({240, 10, 1200, 10})));
  EXPECT_EQ(GetPlainText(list, ExifKey(kTagLens)), "24-120 mm");
  // A zero numerator or denominator, or a single rational, keeps nothing new.
  ApplyNikonRules(list, Note(0x84, 5, RationalsLe({0, 10, 1200, 10})));
  ApplyNikonRules(list, Note(0x84, 5, RationalsLe({240, 10})));
  EXPECT_EQ(GetPlainText(list, ExifKey(kTagLens)), "24-120 mm");

  ApplyNikonRules(list, Note(0x2, 3, Bytes{0, 0, 0x40, 0x06}));  // 0, 1600
  EXPECT_EQ(ShortOf(list, kTagIso), 1600);
  ApplyNikonRules(list, Note(0x86, 5, RationalsLe({1, 1})));
  EXPECT_EQ(list.count(ExifKey(kTagDigitalZoomRatio)), 0);
  ApplyNikonRules(list, Note(0x85, 5, RationalsLe({325, 100})));
  std::int32_t n = 0, d = 0;
  ASSERT_TRUE(GetRational(list, ExifKey(kTagSubjectDistance), 0, &n, &d));
  EXPECT_EQ(n, 325);
  EXPECT_EQ(d, 100);
  ApplyNikonRules(list, Note(0x94, 8, Bytes{0xFF, 0xFF}));  // -1: its low byte
  EXPECT_EQ(ShortOf(list, kTagSaturation), 0xFF);
}

Bytes Shorts(std::vector<std::uint16_t> values, Endian order) {
  ByteWriter w;
  for (auto v : values) order == Endian::kLittle ? w.u16le(v) : w.u16be(v);
  return w.take();
}

TEST(CanonRules, ArraysReadOnlyAsFarAsTheirLength) {
  for (Endian order : {Endian::kLittle, Endian::kBig}) {
    std::vector<std::uint16_t> settings(26, 0);
    settings[0] = 52;
    settings[16] = 15;  // ISO "Auto"
    settings[20] = 5;   // A-DEP
    settings[23] = 100;
    settings[24] = 100;
    settings[25] = 1;
    MetadataList list;
    ApplyCanonRules(list, Note(1, 3, Shorts(settings, order), order));
    EXPECT_EQ(ShortOf(list, kTagIso), 255);
    EXPECT_EQ(ShortOf(list, kTagExposureProgram), 20);
    EXPECT_EQ(GetPlainText(list, ExifKey(kTagLens)), "100 mm");

    // The length says the array ends before index 20: no exposure mode, no
    // lens; the ISO at index 16 is still read.
    settings[0] = 40;
    settings[16] = 17;
    MetadataList shorter;
    ApplyCanonRules(shorter, Note(1, 3, Shorts(settings, order), order));
    EXPECT_EQ(ShortOf(shorter, kTagIso), 100);
    EXPECT_EQ(shorter.count(ExifKey(kTagExposureProgram)), 0);
    EXPECT_EQ(shorter.count(ExifKey(kTagLens)), 0);

    // A length larger than the array does not read past it.
    std::vector<std::uint16_t> cut{200, 0, 0};
    MetadataList none;
    ApplyCanonRules(none, Note(1, 3, Shorts(cut, order), order));
    EXPECT_TRUE(none.empty());
  }
}

TEST(CanonRules, EasyModeAndUnknownCodes) {
  std::vector<std::uint16_t> settings(26, 0);
  settings[0] = 52;
  settings[16] = 14;  // no ISO for code 14
  settings[11] = 11;  // easy mode 11 when the exposure mode is 0: "Panoramic Mode"
  MetadataList list;
  ApplyCanonRules(list, Note(1, 3, Shorts(settings, Endian::kLittle)));
  EXPECT_EQ(ShortOf(list, kTagIso), -1);
  EXPECT_EQ(ShortOf(list, kTagExposureProgram), 27);
  settings[11] = 12;  // past the easy-mode table
  MetadataList none;
  ApplyCanonRules(none, Note(1, 3, Shorts(settings, Endian::kLittle)));
  EXPECT_EQ(ShortOf(none, kTagExposureProgram), -1);
  // An unknown white balance reads as 0 ("Auto"), not as nothing.
  std::vector<std::uint16_t> shot{16, 0, 0, 0, 0, 0, 0, 7};
  ApplyCanonRules(none, Note(4, 3, Shorts(shot, Endian::kLittle)));
  EXPECT_EQ(ShortOf(none, kTagLightSource), 0);
}

TEST(PentaxRules, UnknownCodesKeepNothing) {
  for (std::uint16_t code : {25, 999, 0xFFFF}) {
    MetadataList list;
    ApplyPentaxRules(list, Note(0x14, 3, Shorts({code}, Endian::kLittle)));
    ApplyPentaxRules(list, Note(0x19, 3, Shorts({code}, Endian::kLittle)));
    ApplyPentaxRules(list, Note(0x3f, 1, Bytes{3}));  // a lens needs two bytes
    EXPECT_TRUE(list.empty()) << code;
  }
}

TEST(MakerNotePlace, NikonHeadersAndUnknownMakers) {
  IfdWalk walk;
  walk.order = Endian::kLittle;
  walk.base = 0;
  Bytes file(64, 0);
  const char nikon[] = "Nikon";
  std::copy(nikon, nikon + 6, file.begin() + 20);
  file[26] = 2;
  // Inner TIFF header at 30: big-endian, first IFD at 8.
  Bytes header{'M', 'M', 0, 42, 0, 0, 0, 8};
  std::copy(header.begin(), header.end(), file.begin() + 30);
  MemorySource source(file);
  walk.camera = kCameraNikon;
  MakerNotePlace p = PlaceMakerNote(source, walk, 20);
  EXPECT_TRUE(p.walk);
  EXPECT_EQ(p.base, 30);
  EXPECT_EQ(p.order, Endian::kBig);
  EXPECT_EQ(p.offset, 8u);
  // Version 1: the IFD follows the eight-byte header, offsets as the file's.
  file[26] = 1;
  MemorySource old_source(file);
  p = PlaceMakerNote(old_source, walk, 20);
  EXPECT_EQ(p.base, 0);
  EXPECT_EQ(p.offset, 28u);
  // No header: the IFD starts at once.
  p = PlaceMakerNote(source, walk, 40);
  EXPECT_TRUE(p.walk);
  EXPECT_EQ(p.offset, 40u);
  // A bad inner header: the note is not walked.
  file[30] = 'X';
  file[26] = 2;
  MemorySource bad(file);
  EXPECT_FALSE(PlaceMakerNote(bad, walk, 20).walk);

  walk.camera = 0;
  EXPECT_FALSE(PlaceMakerNote(source, walk, 20).walk);
  walk.camera = kCameraOlympus;
  EXPECT_TRUE(PlaceMakerNote(source, walk, 20).keep_raw);
}

TEST(MakerNotePlace, RealNikonCoolpixNote) {
  // The Coolpix P6000's note carries the ISO 0 0 (not kept: the EXIF ISO
  // stays), "AUTO" white balance, "AF-S" focus and "OFF" noise reduction.
  const ImageMetadata m = testing::ReadImageFile(testing::PhotoPath("DSCN0010.jpg"));
  EXPECT_EQ(m.camera, kCameraNikon);
  const std::pair<std::uint16_t, int> wants[] = {{kTagIso, 64},     {kTagLightSource, 0}, {kTagFocusMode, 2},
                                                 {kTagSharpness, 0}, {kTagContrast, 0},    {kTagNoiseReduction, 0}};
  for (auto [tag, want] : wants) EXPECT_EQ(ShortOf(m.list, tag), want) << std::hex << tag;
  EXPECT_EQ(m.list.count(ExifKey(kTagDigitalZoomRatio)), 0);  // 1/1
}

}  // namespace
}  // namespace norvo::metadata
