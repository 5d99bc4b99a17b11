// SPDX-License-Identifier: GPL-3.0-or-later
// The IFD walk on TIFF structures built here in both byte orders: routing of
// sub-IFDs and maker notes, the walk's limits, orientation and colour profile,
// and what the tag store keeps under which key.
#include "metadata/tiff_ifd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "metadata/exif_reader.h"
#include "metadata/gps_text.h"
#include "metadata/list_keys.h"
#include "metadata/maker_notes.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_builder_test_support.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TiffBuilder;

ImageMetadata ReadTiff(const Bytes& bytes) {
  ImageMetadata m;
  MemorySource source(bytes);
  EXPECT_EQ(ReadTiffMetadata(source, true, &m), err::kNone);
  return m;
}

std::string Text(const MetadataList& list, std::uint32_t key) {
  std::string t;
  return list.getText(key, 1, &t) == err::kNone ? t : std::string("<none>");
}

std::pair<std::int32_t, std::int32_t> Rational(const MetadataList& list, std::uint32_t key) {
  std::int32_t n = 0, d = 0;
  EXPECT_TRUE(GetRational(list, key, 0, &n, &d)) << std::hex << key;
  return {n, d};
}

std::uint16_t Short(const MetadataList& list, std::uint32_t key) {
  std::uint16_t v = 0xFFFF;
  EXPECT_TRUE(GetShort(list, key, &v)) << std::hex << key;
  return v;
}

class BothOrders : public ::testing::TestWithParam<Endian> {};

TEST_P(BothOrders, RoutesMainExifAndGpsValues) {
  TiffBuilder b(GetParam());
  int main = b.addIfd();
  int exif = b.addIfd();
  int gps = b.addIfd();
  b.ascii(main, 0x10f, "NIKON CORPORATION");
  b.ascii(main, 0x110, "D1");
  b.shorts(main, 0x112, {6});
  b.longs(main, 0x100, {640});
  b.link(main, kTagExifIfd, exif);
  b.link(main, kTagGpsIfd, gps);
  b.rationals(exif, kTagExposureTime, {{1, 250}});
  b.rationals(exif, 0x9204, {{-2, 3}}, 10);
  b.shorts(exif, kTagIso, {0, 200});
  b.longs(exif, 0xa002, {640});
  b.ascii(gps, kGpsLatitudeRef, "S");
  b.rationals(gps, kGpsLatitude, {{12, 1}, {30, 1}, {1500, 100}});
  b.raw(gps, kGpsAltitudeRef, kTiffByte, 1, {1});  // signs the altitude; not kept on its own
  ImageMetadata m = ReadTiff(b.build());

  EXPECT_EQ(m.orientation, 6);
  EXPECT_EQ(m.camera, kCameraNikon);
  EXPECT_EQ(Text(m.list, kKeyMaker), "NIKON CORPORATION");
  EXPECT_EQ(Text(m.list, kKeyModel), "D1");
  EXPECT_EQ(Rational(m.list, ExifKey(kTagExposureTime)), std::make_pair(1, 250));
  EXPECT_EQ(Rational(m.list, ExifKey(0x9204)), std::make_pair(-2, 3));
  EXPECT_EQ(Short(m.list, ExifKey(kTagIso)), 200);
  // Values are stored big-endian whatever the file's order.
  EXPECT_EQ(*m.list.find(ExifKey(kTagIso), 1), (Bytes{0x00, 0xC8}));
  EXPECT_EQ(GpsLatitudeText(m.list), "S 012\xB0 30' 15.00\"");
  EXPECT_EQ(m.list.count(GpsKey(5)), 0);
  // Main-IFD tags, EXIF tags and 0xa002 are also kept raw under the bare tag.
  EXPECT_EQ(m.list.count(0x100), 1);
  EXPECT_EQ(m.list.count(kTagExposureTime), 1);
  EXPECT_EQ(m.list.count(0xa002), 1);
  // Text tags and the orientation are not.
  EXPECT_EQ(m.list.count(0x10f), 0);
  EXPECT_EQ(m.list.count(0x112), 0);
}

TEST_P(BothOrders, KeepsNamedTextsXmpAndIptc) {
  TiffBuilder b(GetParam());
  int main = b.addIfd();
  int exif = b.addIfd();
  b.ascii(main, 0x10e, "A lake");
  b.ascii(main, 0x131, "Editor 1.0");
  b.ascii(main, 0x13b, "Ann");
  b.ascii(main, 0x8298, "(c) Ann");
  b.undefined(main, 0x2bc, {'<', 'x', '/', '>', ' '});
  b.undefined(main, 0x83bb, {0x1c, 2, 0x78, 0, 1, 'A'});
  // XP tags are UTF-16LE in either byte order: "Zoë".
  b.raw(main, 0x9c9c, 1, 8, {'Z', 0, 'o', 0, 0xEB, 0, 0, 0});
  b.link(main, kTagExifIfd, exif);
  Bytes comment{'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i', ' ', ' '};
  b.undefined(exif, kTagUserComment, comment);
  ImageMetadata m = ReadTiff(b.build());
  EXPECT_EQ(Text(m.list, kKeyName), "A lake");
  EXPECT_EQ(Text(m.list, kKeySoftware), "Editor 1.0");
  EXPECT_EQ(Text(m.list, kKeyArtist), "Ann");
  EXPECT_EQ(Text(m.list, kKeyCopyright), "(c) Ann");
  EXPECT_EQ(Text(m.list, kKeyComment), "Zo\xEB");
  EXPECT_EQ(Text(m.list, kKeySource), "hi");
  EXPECT_EQ(m.list.count(kKeyXmp), 1);
  EXPECT_EQ(m.list.count(kKeyIptc), 1);
  EXPECT_EQ(m.list.count(0x2bc), 0);
  EXPECT_EQ(m.list.count(kTagUserComment), 0);
}

TEST_P(BothOrders, ReadsTheThumbnailOfTheSecondIfd) {
  constexpr std::uint32_t kPlaceholder = 0x7A7A7A7A;
  Bytes jpeg{0xFF, 0xD8, 1, 2, 3, 4, 5, 0xFF, 0xD9};
  TiffBuilder b(GetParam());
  int main = b.addIfd();
  int thumb = b.addIfd();
  b.next(main, thumb);
  b.undefined(main, 0x9999, jpeg);  // the thumbnail's bytes, in the data area
  b.longs(thumb, kTagThumbnailOffset, {kPlaceholder});
  b.longs(thumb, kTagThumbnailLength, {static_cast<std::uint32_t>(jpeg.size())});
  Bytes tiff = b.build();
  auto at = std::search(tiff.begin(), tiff.end(), jpeg.begin(), jpeg.end()) - tiff.begin();
  Bytes placeholder;
  b.put32(placeholder, kPlaceholder);
  auto slot = std::search(tiff.begin(), tiff.end(), placeholder.begin(), placeholder.end());
  ASSERT_NE(slot, tiff.end());
  Bytes offset;
  b.put32(offset, static_cast<std::uint32_t>(at));
  std::copy(offset.begin(), offset.end(), slot);
  EXPECT_EQ(ReadTiff(tiff).thumbnail, jpeg);

  // A length reaching past the end gives no thumbnail.
  TiffBuilder b3(GetParam());
  int m3 = b3.addIfd();
  int t3 = b3.addIfd();
  b3.next(m3, t3);
  b3.longs(t3, kTagThumbnailOffset, {8});
  b3.longs(t3, kTagThumbnailLength, {100000});
  EXPECT_TRUE(ReadTiff(b3.build()).thumbnail.empty());
}

// Faults: a Nokia phone writes its GPS position as signed rationals, which
// were dropped; an altitude below sea level read as a height above it.
TEST_P(BothOrders, SignedGpsRationalsAndAltitudesBelowSeaLevel) {
  struct Case {
    const char* name;
    std::uint16_t type;              // of latitude, longitude and altitude
    std::int64_t altitude;           // in centimetres
    int ref;                         // altitude reference, -1 for none
    bool ref_after;                  // the reference after the altitude (an unsorted IFD)
    const char* want_altitude;
  };
  const Case cases[] = {
      {"unsigned, above sea level", kTiffRational, 1250, 0, false, "12.50 m"},
      {"unsigned, below sea level", kTiffRational, 1250, 1, false, "-12.50 m"},
      {"signed, below sea level by the reference", kTiffSignedRational, 1250, 1, false, "-12.50 m"},
      {"signed, below sea level by its sign", kTiffSignedRational, -1250, -1, false, "-12.50 m"},
      {"reference after the altitude", kTiffRational, 1250, 1, true, "-12.50 m"},
      {"zero altitude below sea level", kTiffRational, 0, 1, false, "0.00 m"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffBuilder b(GetParam());
    int main = b.addIfd();
    int gps = b.addIfd();
    b.link(main, kTagGpsIfd, gps);
    b.ascii(gps, kGpsLatitudeRef, "N");
    b.rationals(gps, kGpsLatitude, {{60, 1}, {10, 1}, {1234, 100}}, c.type);
    b.ascii(gps, kGpsLongitudeRef, "E");
    b.rationals(gps, kGpsLongitude, {{24, 1}, {56, 1}, {0, 1}}, c.type);
    const Bytes ref{static_cast<std::uint8_t>(c.ref)};
    if (c.ref >= 0 && !c.ref_after) b.raw(gps, kGpsAltitudeRef, kTiffByte, 1, ref);
    b.rationals(gps, kGpsAltitude, {{c.altitude, 100}}, c.type);
    if (c.ref >= 0 && c.ref_after) b.raw(gps, kGpsAltitudeRef, kTiffByte, 1, ref);
    ImageMetadata m = ReadTiff(b.build());
    EXPECT_EQ(GpsLatitudeText(m.list), "N 060\xB0 10' 12.34\"");
    EXPECT_EQ(GpsLongitudeText(m.list), "E 024\xB0 56' 00.00\"");
    EXPECT_EQ(GpsAltitudeText(m.list), c.want_altitude);
  }
}

// Fault: a photo with an EXIF resolution of 300 and no JFIF header was
// listed at 72 dpi. IFD0 is the image's; IFD1 (the thumbnail's 72) is not.
TEST_P(BothOrders, ResolutionOfTheFirstIfd) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::int64_t, std::int64_t>> x, y;
    int unit;  // -1: no ResolutionUnit tag
    std::int32_t want;
  };
  const Case cases[] = {
      {"inches", {{300, 1}}, {{300, 1}}, 2, 300},
      {"no unit tag means inches", {{240, 1}}, {{240, 1}}, -1, 240},
      {"centimetres", {{11811, 100}}, {{11811, 100}}, 3, 300},
      {"the larger direction", {{150, 1}}, {{300, 1}}, 2, 300},
      {"no absolute unit", {{300, 1}}, {{300, 1}}, 1, 0},
      {"zero denominator", {{300, 0}}, {{300, 0}}, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffBuilder b(GetParam());
    int main = b.addIfd();
    int thumb = b.addIfd();
    b.next(main, thumb);
    b.rationals(main, 0x11a, c.x);
    b.rationals(main, 0x11b, c.y);
    if (c.unit >= 0) b.shorts(main, 0x128, {static_cast<std::uint16_t>(c.unit)});
    b.rationals(thumb, 0x11a, {{72, 1}});
    b.rationals(thumb, 0x11b, {{72, 1}});
    b.shorts(thumb, 0x128, {2});
    EXPECT_EQ(ReadTiff(b.build()).resolution, c.want);
  }
}

INSTANTIATE_TEST_SUITE_P(Tiff, BothOrders, ::testing::Values(Endian::kLittle, Endian::kBig));

TEST(IfdWalkLimits, LoopsAndLongChainsEnd) {
  // IFD0 -> IFD1 -> IFD0: each is walked once.
  TiffBuilder b(Endian::kLittle);
  int a = b.addIfd();
  int c = b.addIfd();
  b.longs(a, 0x9001, {1});
  b.longs(c, 0x9002, {2});
  b.next(a, c);
  b.next(c, a);
  ImageMetadata m = ReadTiff(b.build());
  EXPECT_EQ(m.list.count(0x9001), 1);
  EXPECT_EQ(m.list.count(0x9002), 1);

  // A chain of 20 IFDs: only the first 16 are walked.
  TiffBuilder chain(Endian::kBig);
  for (int i = 0; i < 20; ++i) {
    int ifd = chain.addIfd();
    chain.longs(ifd, static_cast<std::uint16_t>(0x1000 + i), {static_cast<std::uint32_t>(i)});
    if (i > 0) chain.next(ifd - 1, ifd);
  }
  m = ReadTiff(chain.build());
  EXPECT_EQ(m.list.count(0x1000 + kMaxIfdsPerFile - 1), 1);
  EXPECT_EQ(m.list.count(0x1000 + kMaxIfdsPerFile), 0);

  // A sub-IFD pointing at its own IFD is not walked again.
  TiffBuilder self(Endian::kLittle);
  int s = self.addIfd();
  self.longs(s, 0x9001, {1});
  self.link(s, kTagExifIfd, s);
  EXPECT_EQ(ReadTiff(self.build()).list.count(0x9001), 1);
}

TEST(IfdWalkLimits, EntryCountAndTypeLimits) {
  // 201 entries: the IFD is not read at all.
  TiffBuilder big(Endian::kLittle);
  int ifd = big.addIfd();
  for (int i = 0; i <= kMaxIfdEntries; ++i) big.longs(ifd, static_cast<std::uint16_t>(0x1000 + i), {1});
  EXPECT_TRUE(ReadTiff(big.build()).list.empty());

  // Exactly 200 entries are all read.
  TiffBuilder full(Endian::kLittle);
  ifd = full.addIfd();
  for (int i = 0; i < kMaxIfdEntries; ++i) full.longs(ifd, static_cast<std::uint16_t>(0x1000 + i), {1});
  EXPECT_EQ(ReadTiff(full.build()).list.itemCount(), kMaxIfdEntries);

  // A type-13 entry in the EXIF IFD ends the whole walk: later EXIF entries
  // and the main IFD's entries after the EXIF pointer are not read.
  TiffBuilder bad(Endian::kBig);
  int main = bad.addIfd();
  int exif = bad.addIfd();
  bad.longs(main, 0x100, {1});
  bad.link(main, kTagExifIfd, exif);
  bad.longs(main, 0x9999, {1});
  bad.shorts(exif, 0x8822, {2});
  bad.raw(exif, 0x8830, 13, 1, {0, 0, 0, 0});
  bad.shorts(exif, 0x9207, {5});
  ImageMetadata m = ReadTiff(bad.build());
  EXPECT_EQ(m.list.count(0x100), 1);
  EXPECT_EQ(m.list.count(ExifKey(0x8822)), 1);
  EXPECT_EQ(m.list.count(ExifKey(0x9207)), 0);
  EXPECT_EQ(m.list.count(0x9999), 0);
}

TEST(IfdWalkLimits, BadOffsetsAndHugeCountsAreSkipped) {
  TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  b.raw(main, 0x9001, 4, 2, {0xF0, 0xFF, 0xFF, 0x7F});           // 8 bytes at an offset past the end
  b.raw(main, 0x9002, 12, 0xFFFFFFFFu, {0x08, 0x00, 0x00, 0x00});  // count × size overflows 32 bits
  b.longs(main, 0x9003, {7});
  b.raw(main, kTagExifIfd, 4, 1, {0xF0, 0xFF, 0, 0});  // a sub-IFD past the end
  ImageMetadata m = ReadTiff(b.build());
  EXPECT_EQ(m.list.count(0x9001), 0);
  EXPECT_EQ(m.list.count(0x9002), 0);
  EXPECT_EQ(m.list.count(0x9003), 1);

  // Not a TIFF header, or one cut short.
  ImageMetadata none;
  Bytes not_tiff{'I', 'I', 43, 0, 8, 0, 0, 0};
  MemorySource s1(not_tiff);
  EXPECT_NE(ReadTiffMetadata(s1, false, &none), err::kNone);
  Bytes short_tiff{'M', 'M', 0};
  MemorySource s2(short_tiff);
  EXPECT_NE(ReadTiffMetadata(s2, false, &none), err::kNone);
}

TEST(IfdWalkLimits, SharedLargeValuesAreReadWithinTheFilesBudget) {
  // 199 entries all pointing at one 1 MB value: reading each would copy
  // 199 MB; the walk stops reading values at its budget.
  constexpr std::uint32_t kBlob = 1u << 20;
  constexpr int kPointers = kMaxIfdEntries - 1;
  TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  Bytes offset;
  b.put32(offset, static_cast<std::uint32_t>(kTiffHeaderSize + 2 + kIfdEntrySize * (kPointers + 1) + 4));
  for (int i = 0; i < kPointers; ++i) b.raw(main, static_cast<std::uint16_t>(0x1000 + i), 7, kBlob, offset);
  b.undefined(main, 0x2000, Bytes(kBlob, 0xAB));
  ImageMetadata m = ReadTiff(b.build());
  std::size_t stored = 0;
  for (int i = 0; i < kPointers; ++i) {
    if (const auto* v = m.list.find(static_cast<std::uint32_t>(0x1000 + i), 1)) stored += v->size();
  }
  EXPECT_GT(stored, 0u);
  EXPECT_LE(stored, kMaxValueBytesPerFile);
}

// Fault: a Panasonic photo has Orientation 1 in IFD0 and 8 in IFD1 (the
// embedded thumbnail's); IFD1's turned the item's thumbnail.
TEST(IfdWalkRouting, OrientationComesFromTheFirstIfdOnlyAndOneToEight) {
  for (int ifd0 : {1, 0, 8, 9, 300}) {  // 0: IFD0 has no Orientation
    SCOPED_TRACE(ifd0);
    TiffBuilder b(Endian::kLittle);
    int main = b.addIfd();
    int exif = b.addIfd();
    int thumb = b.addIfd();
    if (ifd0 != 0) b.shorts(main, kTagOrientation, {static_cast<std::uint16_t>(ifd0)});
    b.link(main, kTagExifIfd, exif);
    b.next(main, thumb);
    b.shorts(exif, kTagOrientation, {6});
    b.shorts(thumb, kTagOrientation, {8});
    EXPECT_EQ(ReadTiff(b.build()).orientation, ifd0 <= 8 ? ifd0 : 0);
  }
}

TEST(IfdWalkRouting, ColourProfileChoice) {
  // An embedded profile in the first IFD wins over the colour space.
  Bytes icc(140, 0);
  {
    TiffBuilder b(Endian::kLittle);
    int main = b.addIfd();
    int exif = b.addIfd();
    b.undefined(main, kTagIccProfile, icc);
    b.link(main, kTagExifIfd, exif);
    b.shorts(exif, kTagColorSpace, {1});
    ImageMetadata m = ReadTiff(b.build());
    EXPECT_EQ(m.profile, ProfileChoice::kEmbedded);
    EXPECT_EQ(m.icc_profile, icc);
  }
  // A profile in a later IFD of the chain is not the image's.
  {
    TiffBuilder b(Endian::kLittle);
    int main = b.addIfd();
    int second = b.addIfd();
    b.longs(main, 0x100, {1});
    b.next(main, second);
    b.undefined(second, kTagIccProfile, icc);
    EXPECT_EQ(ReadTiff(b.build()).profile, ProfileChoice::kNone);
  }
  // ColorSpace 1 is sRGB; 0xFFFF (uncalibrated) chooses nothing; an
  // interoperability index "R03" is Adobe RGB.
  for (auto [space, index, want] : {std::tuple{1, "R98", ProfileChoice::kSrgb},
                                    std::tuple{0xFFFF, "R03", ProfileChoice::kAdobeRgb},
                                    std::tuple{0xFFFF, "THM", ProfileChoice::kNone}}) {
    TiffBuilder b(Endian::kBig);
    int main = b.addIfd();
    int exif = b.addIfd();
    int interop = b.addIfd();
    b.link(main, kTagExifIfd, exif);
    b.shorts(exif, kTagColorSpace, {static_cast<std::uint16_t>(space)});
    b.link(exif, kTagInteropIfd, interop);
    b.ascii(interop, 1, index);
    ImageMetadata m = ReadTiff(b.build());
    EXPECT_EQ(m.profile, want) << index;
    ImageMetadata named;
    named.profile = want;
    EXPECT_EQ(ColourProfileName(named).empty(), want == ProfileChoice::kNone);
  }
}

// A maker note IFD in the EXIF IFD of a file made by `make`.
ImageMetadata WithMakerNote(const std::string& make, Endian order, void (*fill)(TiffBuilder&, int),
                            Bytes prefix = {}) {
  TiffBuilder b(order);
  int main = b.addIfd();
  int exif = b.addIfd();
  int note = b.addIfd(std::move(prefix));
  b.ascii(main, kTagMake, make);
  b.link(main, kTagExifIfd, exif);
  b.shorts(exif, kTagIso, {100});
  b.link(exif, kTagMakerNote, note, 7);
  fill(b, note);
  return ReadTiff(b.build());
}

// The rules of each maker's note are tested on their own; here: which notes
// are walked, from where and in which byte order.
TEST(MakerNoteRouting, CanonNoteFeedsThePhotoFieldsOnlyInCanonFiles) {
  auto fill = [](TiffBuilder& b, int note) {
    std::vector<std::uint16_t> settings(17, 0);
    settings[0] = static_cast<std::uint16_t>(settings.size() * 2);
    settings[16] = 19;  // ISO 400
    b.shorts(note, 1, settings);
  };
  for (Endian order : {Endian::kLittle, Endian::kBig}) {
    EXPECT_EQ(Short(WithMakerNote("Canon", order, fill).list, ExifKey(kTagIso)), 400);
  }
  // An unknown maker's note is not walked at all.
  ImageMetadata other = WithMakerNote("Someone", Endian::kLittle, fill);
  EXPECT_EQ(Short(other.list, ExifKey(kTagIso)), 100);
  EXPECT_EQ(other.list.count(1), 0);
}

TEST(MakerNoteRouting, NikonNoteWithItsOwnTiffHeader) {
  // The note: "Nikon\0", version 2.10, two bytes, then a TIFF structure in
  // its own byte order whose offsets count from that header.
  TiffBuilder note(Endian::kBig);
  int ifd = note.addIfd();
  note.shorts(ifd, 0x2, {0, 800});
  note.rationals(ifd, 0x84, {{180, 10}, {700, 10}, {35, 10}, {45, 10}});  // a value past the IFD
  Bytes body{'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0};
  Bytes inner = note.build();
  body.insert(body.end(), inner.begin(), inner.end());

  TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  int exif = b.addIfd();
  b.ascii(main, kTagMake, "NIKON CORPORATION");
  b.link(main, kTagExifIfd, exif);
  b.undefined(exif, kTagMakerNote, body);
  b.shorts(exif, kTagFlash, {16});  // after the note: the file's order is back
  ImageMetadata m = ReadTiff(b.build());
  EXPECT_EQ(Short(m.list, ExifKey(kTagIso)), 800);
  EXPECT_EQ(GetPlainText(m.list, ExifKey(kTagLens)), "18-70 mm");
  EXPECT_EQ(Short(m.list, ExifKey(kTagFlash)), 16);
}

TEST(MakerNoteRouting, PentaxMinoltaAndOlympusNotes) {
  // "AOC\0" and the note's byte order come before the IFD.
  auto pentax = [](TiffBuilder& b, int note) { b.shorts(note, 0x14, {12}); };  // ISO 400
  ImageMetadata m = WithMakerNote("PENTAX Corporation", Endian::kBig, pentax, {'A', 'O', 'C', 0, 'M', 'M'});
  EXPECT_EQ(Short(m.list, ExifKey(kTagIso)), 400);

  // Asahi notes are big-endian whatever the file's order.
  TiffBuilder asahi_note(Endian::kBig);
  int n = asahi_note.addIfd();
  asahi_note.shorts(n, 0x14, {6});
  Bytes nb = asahi_note.build();
  Bytes ifd_only(nb.begin() + kTiffHeaderSize, nb.end());  // offsets in it are unused
  TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  int exif = b.addIfd();
  b.ascii(main, kTagMake, "Asahi Optical Co.,Ltd");
  b.link(main, kTagExifIfd, exif);
  b.undefined(exif, kTagMakerNote, ifd_only);
  EXPECT_EQ(Short(ReadTiff(b.build()).list, ExifKey(kTagIso)), 100);

  // Minolta's preview tags are kept under their bare numbers.
  auto minolta = [](TiffBuilder& b, int note) { b.longs(note, 0x88, {99}); };
  EXPECT_EQ(WithMakerNote("Konica Minolta Camera, Inc.", Endian::kLittle, minolta).list.count(0x88), 1);

  // Olympus: the whole note is kept raw and not walked.
  auto olympus = [](TiffBuilder& b, int note) { b.shorts(note, 0x14, {12}); };
  m = WithMakerNote("OLYMPUS IMAGING CORP.", Endian::kLittle, olympus);
  EXPECT_EQ(m.list.count(kTagMakerNote), 1);
  EXPECT_EQ(m.list.count(0x14), 0);
}

TEST(TagStore, ShutterSpeedAndExposureTimeKeepOneValue) {
  // ExposureTime first, then ShutterSpeedValue 8 (1/256): the later wins.
  TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  int exif = b.addIfd();
  b.link(main, kTagExifIfd, exif);
  b.rationals(exif, kTagExposureTime, {{1, 250}});
  b.rationals(exif, kTagFNumber, {{28, 10}});
  b.rationals(exif, kTagShutterSpeedValue, {{8, 1}}, 10);
  b.rationals(exif, kTagApertureValue, {{6, 1}});
  b.rationals(exif, kTagExposureIndex, {{400, 1}});
  b.rationals(exif, kTagDigitalZoomRatio, {{1, 1}});
  ImageMetadata m = ReadTiff(b.build());
  EXPECT_EQ(m.list.count(ExifKey(kTagExposureTime)), 1);
  EXPECT_EQ(Rational(m.list, ExifKey(kTagExposureTime)), std::make_pair(1, 256));
  EXPECT_EQ(Rational(m.list, ExifKey(kTagFNumber)), std::make_pair(80, 10));
  EXPECT_EQ(Short(m.list, ExifKey(kTagIso)), 400);
  EXPECT_EQ(m.list.count(ExifKey(kTagDigitalZoomRatio)), 0);
  EXPECT_EQ(m.list.count(ExifKey(kTagShutterSpeedValue)), 0);
}

TEST(TagStore, KodakTriesTheExifFormFirst) {
  TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  b.ascii(main, kTagMake, "Kodak");
  b.rationals(main, kTagExposureTime, {{1, 60}});
  b.longs(main, 0x100, {1});
  ImageMetadata m = ReadTiff(b.build());
  EXPECT_EQ(Rational(m.list, ExifKey(kTagExposureTime)), std::make_pair(1, 60));
  EXPECT_EQ(m.list.count(kTagExposureTime), 0);
  EXPECT_EQ(m.list.count(0x100), 1);
}

}  // namespace
}  // namespace norvo::metadata
