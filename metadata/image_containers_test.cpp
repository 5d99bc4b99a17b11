// SPDX-License-Identifier: GPL-3.0-or-later
// Metadata of PNG, WebP and HEIF files: chunks laid out here byte by byte,
// and files that vips makes from the real test photos and exiftool then
// annotates, compared with what exiftool reads from them.
#include "metadata/image_containers.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "metadata/gps_text.h"
#include "metadata/annotation_test_support.h"
#include "metadata/image_file_reader.h"
#include "metadata/list_keys.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_builder_test_support.h"
#include "metadata/tiff_tags.h"
#include "platform/file_spec.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TiffBuilder;

Bytes Of(std::string_view text) { return {text.begin(), text.end()}; }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Deflated(const Bytes& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

// An EXIF block: Make "Nokia", IFD0 at 300 dpi, IFD1 at 72.
Bytes ExifBlock(Endian order = Endian::kLittle) {
  TiffBuilder b(order);
  int main = b.addIfd();
  int thumb = b.addIfd();
  b.ascii(main, kTagMake, "Nokia");
  b.rationals(main, 0x11a, {{300, 1}});
  b.rationals(main, 0x11b, {{300, 1}});
  b.shorts(main, 0x128, {2});
  b.shorts(main, kTagOrientation, {6});
  b.next(main, thumb);
  b.rationals(thumb, 0x11a, {{72, 1}});
  return b.build();
}

const Bytes kXmp = Of("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>");

// ---- PNG chunks ----------------------------------------------------------

Bytes PngChunk(std::string_view type, const Bytes& data) {
  ByteWriter w;
  w.u32be(static_cast<std::uint32_t>(data.size()));
  Bytes typed = Cat({Of(type), data});
  w.bytes(typed);
  w.u32be(static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
  return w.take();
}

Bytes Png(std::initializer_list<Bytes> chunks) {
  Bytes out = Cat({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, PngChunk("IHDR", Bytes(13, 1))});
  for (const Bytes& c : chunks) out = Cat({out, c});
  return Cat({out, PngChunk("IEND", {})});
}

ImageMetadata ReadPng(const Bytes& bytes, ErrorCode want = err::kNone) {
  ImageMetadata m;
  MemorySource source(bytes);
  EXPECT_EQ(ReadPngMetadata(source, false, &m), want);
  return m;
}

std::string Maker(const ImageMetadata& m) {
  std::string text;
  return m.list.getText(kKeyMaker, 1, &text) == err::kNone ? text : "<none>";
}

TEST(PngMetadata, ExifChunkAnywhereReadOnce) {
  const Bytes idat = PngChunk("IDAT", Bytes(20, 0));
  struct Case {
    const char* name;
    Bytes png;
  };
  const Case cases[] = {
      {"before the image data", Png({PngChunk("eXIf", ExifBlock()), idat})},
      {"after the image data", Png({idat, PngChunk("eXIf", ExifBlock(Endian::kBig))})},
      {"with JPEG's Exif prefix", Png({PngChunk("eXIf", Cat({{'E', 'x', 'i', 'f', 0, 0}, ExifBlock()}))})},
      // vips writes it twice, before and after the image data; reading both
      // would add every text twice.
      {"repeated", Png({PngChunk("eXIf", ExifBlock()), idat, PngChunk("eXIf", ExifBlock())})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageMetadata m = ReadPng(c.png);
    EXPECT_EQ(Maker(m), "Nokia");
    EXPECT_EQ(m.list.count(kKeyMaker), 1);
    EXPECT_EQ(m.orientation, 6);
    EXPECT_EQ(m.resolution, 300);
  }
}

TEST(PngMetadata, XmpInEveryKindOfTextChunk) {
  const Bytes keyword = Cat({Of("XML:com.adobe.xmp"), {0}});
  struct Case {
    const char* name;
    Bytes chunk;
    bool kept;
  };
  const Case cases[] = {
      {"iTXt", PngChunk("iTXt", Cat({keyword, {0, 0, 0, 0}, kXmp})), true},
      {"iTXt compressed", PngChunk("iTXt", Cat({keyword, {1, 0, 0, 0}, Deflated(kXmp)})), true},
      {"zTXt", PngChunk("zTXt", Cat({keyword, {0}, Deflated(kXmp)})), true},
      {"tEXt", PngChunk("tEXt", Cat({keyword, kXmp})), true},
      {"another keyword", PngChunk("iTXt", Cat({Of("Comment"), {0, 0, 0, 0, 0}, kXmp})), false},
      {"damaged compressed text", PngChunk("zTXt", Cat({keyword, {0}, Bytes(10, 0x55)})), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageMetadata m = ReadPng(Png({c.chunk}));
    ASSERT_EQ(m.list.count(kKeyXmp), c.kept ? 1 : 0);
    if (c.kept) {
      EXPECT_EQ(*m.list.find(kKeyXmp, 1), kXmp);
    }
  }
}

// The hexadecimal form image tools wrote before eXIf existed.
Bytes RawProfile(std::string_view name, const Bytes& bytes) {
  std::string text = "\n" + std::string(name) + "\n" + std::string(8 - std::to_string(bytes.size()).size(), ' ') +
                     std::to_string(bytes.size());
  char hex[3];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 36 == 0) text += '\n';
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    text += hex;
  }
  text += '\n';
  return Cat({Of("Raw profile type "), Of(name), {0, 0}, Deflated(Of(text))});
}

TEST(PngMetadata, HexadecimalProfilesWhenNothingBetter) {
  const Bytes exif = Cat({{'E', 'x', 'i', 'f', 0, 0}, ExifBlock()});
  ImageMetadata m =
      ReadPng(Png({PngChunk("zTXt", RawProfile("exif", exif)), PngChunk("zTXt", RawProfile("xmp", kXmp))}));
  EXPECT_EQ(Maker(m), "Nokia");
  ASSERT_EQ(m.list.count(kKeyXmp), 1);
  EXPECT_EQ(*m.list.find(kKeyXmp, 1), kXmp);

  // With an eXIf chunk as well, only the chunk is read.
  TiffBuilder other(Endian::kLittle);
  other.ascii(other.addIfd(), kTagMake, "Other");
  m = ReadPng(Png({PngChunk("zTXt", RawProfile("exif", exif)), PngChunk("eXIf", other.build())}));
  EXPECT_EQ(Maker(m), "Other");
  EXPECT_EQ(m.list.count(kKeyMaker), 1);

  // Fewer digits than the length promises give nothing.
  Bytes cut = Of("\nexif\n      10\n0102");
  Bytes out;
  EXPECT_FALSE(DecodeRawProfile(cut, &out));
}

TEST(PngMetadata, OwnProfileAndResolutionWinOverTheExif) {
  // pHYs: 11811 pixels per metre, 300 per inch; the EXIF says 96.
  TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  b.rationals(main, 0x11a, {{96, 1}});
  Bytes phys{0, 0, 0x2E, 0x23, 0, 0, 0x2E, 0x23, 1};  // 11811 both ways, per metre
  const Bytes profile = Of("a colour profile's bytes");
  const Bytes iccp = Cat({Of("icc"), {0, 0}, Deflated(profile)});
  for (bool exif_first : {true, false}) {
    SCOPED_TRACE(exif_first);
    Bytes exif = PngChunk("eXIf", b.build());
    ImageMetadata m = exif_first ? ReadPng(Png({exif, PngChunk("iCCP", iccp), PngChunk("pHYs", phys)}))
                                 : ReadPng(Png({PngChunk("iCCP", iccp), PngChunk("pHYs", phys), exif}));
    EXPECT_EQ(m.resolution, 300);
    EXPECT_EQ(m.profile, ProfileChoice::kEmbedded);
    EXPECT_EQ(m.icc_profile, profile);
  }
  EXPECT_EQ(ReadPng(Png({PngChunk("sRGB", {0})})).profile, ProfileChoice::kSrgb);
  // A pHYs without a unit is only an aspect ratio: the EXIF's 96 stays.
  phys.back() = 0;
  EXPECT_EQ(ReadPng(Png({PngChunk("pHYs", phys), PngChunk("eXIf", b.build())})).resolution, 96);
}

// ---- WebP chunks ---------------------------------------------------------

Bytes WebpChunk(std::string_view type, const Bytes& data) {
  ByteWriter w;
  w.bytes(Of(type));
  w.u32le(static_cast<std::uint32_t>(data.size()));
  w.bytes(data);
  if (data.size() % 2 != 0) w.u8(0);
  return w.take();
}

Bytes Webp(std::initializer_list<Bytes> chunks) {
  Bytes body = Of("WEBP");
  for (const Bytes& c : chunks) body = Cat({body, c});
  ByteWriter w;
  w.bytes(Of("RIFF"));
  w.u32le(static_cast<std::uint32_t>(body.size()));
  w.bytes(body);
  return w.take();
}

ImageMetadata ReadWebp(const Bytes& bytes, ErrorCode want = err::kNone) {
  ImageMetadata m;
  MemorySource source(bytes);
  EXPECT_EQ(ReadWebpMetadata(source, false, &m), want);
  return m;
}

TEST(WebpMetadata, ExifXmpAndProfileChunks) {
  const Bytes odd_xmp = Cat({kXmp, Of("!")});
  ASSERT_EQ(odd_xmp.size() % 2, 1u);  // so the next chunk follows a pad byte
  const Bytes profile = Of("icc bytes");
  for (bool prefixed : {false, true}) {
    SCOPED_TRACE(prefixed);
    Bytes exif = prefixed ? Cat({{'E', 'x', 'i', 'f', 0, 0}, ExifBlock()}) : ExifBlock(Endian::kBig);
    ImageMetadata m = ReadWebp(Webp({WebpChunk("VP8X", Bytes(10, 0)), WebpChunk("ICCP", profile),
                                     WebpChunk("VP8 ", Bytes(31, 0)), WebpChunk("XMP ", odd_xmp),
                                     WebpChunk("EXIF", exif)}));
    EXPECT_EQ(Maker(m), "Nokia");
    EXPECT_EQ(m.orientation, 6);
    EXPECT_EQ(m.resolution, 300);
    ASSERT_EQ(m.list.count(kKeyXmp), 1);
    EXPECT_EQ(*m.list.find(kKeyXmp, 1), odd_xmp);
    EXPECT_EQ(m.icc_profile, profile);
  }
  // Chunks after the size the RIFF header gives are not the file's.
  Bytes trailing = Cat({Webp({WebpChunk("VP8 ", Bytes(10, 0))}), WebpChunk("XMP ", kXmp)});
  EXPECT_EQ(ReadWebp(trailing).list.count(kKeyXmp), 0);
}

// Damage anywhere in a file: every cut and every flipped byte is read
// without harm (the sanitizer build checks the reads), and a cut before the
// end reports it.
TEST(ContainerDamage, EveryCutAndFlippedByte) {
  const Bytes keyword = Cat({Of("XML:com.adobe.xmp"), {0}});
  const Bytes png = Png({PngChunk("iCCP", Cat({Of("icc"), {0, 0}, Deflated(Of("profile"))})),
                         PngChunk("eXIf", ExifBlock()), PngChunk("iTXt", Cat({keyword, {1, 0, 0, 0}, Deflated(kXmp)})),
                         PngChunk("zTXt", RawProfile("exif", ExifBlock()))});
  const Bytes webp = Webp({WebpChunk("ICCP", Of("icc")), WebpChunk("EXIF", ExifBlock()), WebpChunk("XMP ", kXmp)});
  struct Case {
    const char* name;
    const Bytes& bytes;
    ErrorCode (*read)(const ByteSource&, bool, ImageMetadata*);
  };
  for (const Case& c : {Case{"png", png, ReadPngMetadata}, Case{"webp", webp, ReadWebpMetadata}}) {
    SCOPED_TRACE(c.name);
    for (std::size_t cut = 0; cut < c.bytes.size(); ++cut) {
      Bytes part(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      MemorySource source(part);
      ImageMetadata m;
      EXPECT_NE(c.read(source, true, &m), err::kNone) << cut;
    }
    for (std::size_t at = 0; at < c.bytes.size(); ++at) {
      Bytes flipped = c.bytes;
      flipped[at] ^= 0xFF;
      MemorySource source(flipped);
      ImageMetadata m;
      // Any result will do for a flipped byte; what counts is that the
      // reader stays in bounds and leaves a valid orientation.
      (void)c.read(source, true, &m);
      EXPECT_LE(m.orientation, 8);
    }
  }
  // What came before a cut stays.
  const Bytes part(png.begin(), png.end() - 20);
  MemorySource cut(part);
  ImageMetadata m;
  EXPECT_EQ(ReadPngMetadata(cut, false, &m), err::kEndOfFile);
  EXPECT_EQ(Maker(m), "Nokia");
  Bytes huge = png;
  huge[33] = 0xFF;  // the first chunk's length above PNG's limit
  ReadPng(huge, err::kBadJpeg);
}

// ---- Files made by vips and exiftool, read as exiftool reads them ----------

bool Shell(const std::string& command) { return std::system((command + " > /dev/null 2>&1").c_str()) == 0; }

class ToolMadeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Shell("exiftool -ver") || !Shell("vips --version")) GTEST_SKIP() << "exiftool or vips is not installed";
    std::string pattern = (std::filesystem::temp_directory_path() / "norvo-containers-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // The camera photo converted by vips (which carries its EXIF and XMP
  // over), then given a title and a position below sea level by exiftool.
  // "" when this machine's vips cannot write the format.
  std::string Make(const std::string& photo, const std::string& extension) {
    std::string out = dir_ + "/" + std::filesystem::path(photo).stem().string() + "." + extension;
    if (!Shell("vips copy '" + testing::PhotoPath(photo) + "' '" + out + "'")) return {};
    // -m: vips writes the PNG eXIf chunk twice, which exiftool otherwise refuses to edit.
    EXPECT_TRUE(Shell("exiftool -m -overwrite_original -XMP-dc:Title='Harbour at dusk' '-GPSAltitude#=12.5' "
                      "'-GPSAltitudeRef#=1' '" + out + "'"));
    return out;
  }

  std::string dir_;
};

// Fault: HEIF, PNG and WebP files had no EXIF or XMP at all (an iPhone photo
// showed no camera, date or position).
TEST_F(ToolMadeFiles, AgreeWithExiftool) {
  for (const char* extension : {"png", "webp", "heic"}) {
    SCOPED_TRACE(extension);
    std::string path = Make("DSCN0010.jpg", extension);
    if (path.empty()) {
      ADD_FAILURE() << "vips could not write " << extension;
      continue;
    }
    ImageMetadata m = testing::ReadImageFile(path);
    auto peer = testing::ExiftoolNumbers(path, {"EXIF:Make", "EXIF:Model", "EXIF:DateTimeOriginal",
                                                "Composite:GPSLatitude", "Composite:GPSLongitude", "EXIF:GPSAltitude",
                                                "EXIF:GPSAltitudeRef", "IFD0:XResolution", "XMP-dc:Title"});
    std::string text;
    ASSERT_EQ(m.list.getText(kKeyMaker, 1, &text), err::kNone);
    EXPECT_EQ(text, peer["IFD0:Make"]);
    ASSERT_EQ(m.list.getText(kKeyModel, 1, &text), err::kNone);
    EXPECT_EQ(text, peer["IFD0:Model"]);
    EXPECT_EQ(GetPlainText(m.list, ExifKey(kTagDateTimeOriginal)), peer["ExifIFD:DateTimeOriginal"]);
    // Seconds with two decimals, as the texts show them.
    auto degrees = [](const std::string& gps) {
      std::uint32_t d = 0, min = 0;
      double sec = 0;
      char ref = 0;
      EXPECT_EQ(std::sscanf(gps.c_str(), "%c %u\xB0 %u' %lf", &ref, &d, &min, &sec), 4) << gps;
      return (d + min / 60.0 + sec / 3600.0) * (ref == 'S' || ref == 'W' ? -1 : 1);
    };
    EXPECT_NEAR(degrees(GpsLatitudeText(m.list)), std::stod(peer["Composite:GPSLatitude"]), 0.01 / 3600);
    EXPECT_NEAR(degrees(GpsLongitudeText(m.list)), std::stod(peer["Composite:GPSLongitude"]), 0.01 / 3600);
    // Fault: below sea level read as above it.
    ASSERT_EQ(peer["GPS:GPSAltitudeRef"], "1");
    EXPECT_DOUBLE_EQ(std::stod(GpsAltitudeText(m.list)), -std::stod(peer["GPS:GPSAltitude"]));
    EXPECT_EQ(m.resolution, std::stoi(peer["IFD0:XResolution"]));
    ASSERT_EQ(m.list.count(kKeyXmp), 1);
    const Bytes& xmp = *m.list.find(kKeyXmp, 1);
    EXPECT_NE(std::string(xmp.begin(), xmp.end()).find(peer["XMP-dc:Title"]), std::string::npos);
  }
}

TEST_F(ToolMadeFiles, HeifOrientationIsLeftToTheDecoder) {
  std::string path = Make("orientation/landscape_6.jpg", "heic");
  if (path.empty()) GTEST_SKIP() << "vips cannot write HEIF here";
  ASSERT_EQ(testing::ExiftoolNumbers(path, {"EXIF:Orientation"})["IFD0:Orientation"], "6");
  EXPECT_EQ(testing::ReadImageFile(path).orientation, 0);
  // A PNG has no transformations of its own: its EXIF orientation counts.
  EXPECT_EQ(testing::ReadImageFile(Make("orientation/landscape_6.jpg", "png")).orientation, 6);
}

}  // namespace
}  // namespace norvo::metadata
