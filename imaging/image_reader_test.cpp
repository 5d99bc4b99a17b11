// SPDX-License-Identifier: GPL-3.0-or-later
// The readers against real camera files and against files written by the
// format libraries themselves, and every reader against damaged input.
#include "imaging/image_reader.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/encode.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/test_pictures.h"
#include "imaging/thumbnail.h"
#include "imaging/transform.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
using testing::MeanDifference;
using testing::SizeOf;

const std::string kPhotos = std::string(NORVO_TESTDATA_DIR) + "/photos";

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> StillImagesInTestData() {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(kPhotos)) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() && (ext == ".jpg" || ext == ".tiff")) paths.push_back(entry.path().string());
  }
  return paths;
}

bool IsDamagedSample(const std::string& path) { return path.find("image00971") != std::string::npos; }

TEST(ReadStillImage, EveryTestPhotoDecodesWithItsFacts) {
  const auto paths = StillImagesInTestData();
  ASSERT_GE(paths.size(), 10u);
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    DecodedImage full;
    const ErrorCode e = ReadStillImage(path, 0, 0, &full);
    if (IsDamagedSample(path)) {
      // A damaged file gives an error or a whole picture, never a partial object.
      EXPECT_TRUE(e != err::kNone ? full.picture.empty() : full.picture.width() == full.facts.width);
      continue;
    }
    ASSERT_EQ(e, err::kNone);
    EXPECT_EQ(SizeOf(full.picture), std::pair(full.facts.width, full.facts.height));
    EXPECT_EQ(full.facts.image_count, 1);
    EXPECT_GE(full.facts.resolution, 72);
    EXPECT_LE(full.facts.compressor.size(), kMaxCompressorName);

    // The thumbnail read covers the fitted size and reports the same facts.
    DecodedImage small;
    ASSERT_EQ(ReadStillImage(path, 0, 64, &small), err::kNone);
    int fw = 0, fh = 0;
    FittedSize(full.facts.width, full.facts.height, 64, &fw, &fh);
    EXPECT_GE(small.picture.width(), fw);
    EXPECT_GE(small.picture.height(), fh);
    EXPECT_LE(small.picture.width(), full.picture.width());
    EXPECT_EQ(small.facts.width, full.facts.width);
    EXPECT_EQ(small.facts.resolution, full.facts.resolution);
  }
}

TEST(ReadStillImage, JpegAndTiffFactsAndReducedJpegDecode) {
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(kPhotos + "/Nikon_D70.jpg", kFormatJpeg, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.width, 100);  // as exiftool reports
  EXPECT_EQ(image.facts.height, 66);
  EXPECT_EQ(image.facts.resolution, 240);  // JFIF density
  EXPECT_EQ(image.facts.depth, 24);
  EXPECT_EQ(image.facts.colour_space, kColourRgb);
  EXPECT_EQ(image.facts.compressor, "Photo * JPEG");

  // No JFIF density, no TIFF resolution: 72.
  ASSERT_EQ(ReadStillImage(kPhotos + "/DSCN0010.jpg", kFormatJpeg, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.resolution, 72);
  ASSERT_EQ(ReadStillImage(kPhotos + "/Arbitro.tiff", 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.width, 174);
  EXPECT_EQ(image.facts.height, 38);
  EXPECT_EQ(image.facts.resolution, 72);
  EXPECT_EQ(image.facts.compressor, "TIFF");
  // A thumbnail decode gives at least twice the fitted size. 640 x 480 for a
  // 32 box (fitted 32 x 24) decodes at 1/8: 80 x 60.
  ASSERT_EQ(ReadStillImage(kPhotos + "/DSCN0010.jpg", kFormatJpeg, 32, &image), err::kNone);
  EXPECT_EQ(SizeOf(image.picture), std::pair(80, 60));
  // For a 64 box (fitted 64 x 48, twice 128 x 96) 1/8 is too small; 2/8 does.
  ASSERT_EQ(ReadStillImage(kPhotos + "/DSCN0010.jpg", kFormatJpeg, 64, &image), err::kNone);
  EXPECT_EQ(SizeOf(image.picture), std::pair(160, 120));
}

TEST(ReadStillImage, MissingFileAndUnknownFormat) {
  DecodedImage image;
  EXPECT_EQ(ReadStillImage(kPhotos + "/no_such_file.jpg", 0, 128, &image), err::kFileNotFound);
  const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
  EXPECT_EQ(ReadStillImage(text, 0, 128, &image), err::kNoReaderForFormat);
  EXPECT_EQ(ReadStillImage(text, FourCC("MooV"), 128, &image), err::kNoReaderForFormat);
}

TEST(StillImageFormats, FirstBytesNameTheFormatAndEveryCodeFindsItsReader) {
  struct Case {
    const char* name;
    std::string head;
    std::uint32_t want;
  };
  const std::string z(1, '\0');
  const Case cases[] = {
      {"JPEG", "\xFF\xD8\xFF\xE0", kFormatJpeg},
      {"PNG", "\x89PNG\r\n", kFormatPng},
      {"GIF 89a", "GIF89a", kFormatGif},
      {"GIF 87a", "GIF87a", kFormatGif},
      {"Photoshop", "8BPS" + z + "\x01", kFormatPhotoshop},
      {"WebP", "RIFF" + z + z + z + z + "WEBPVP8 ", kFormatWebp},
      {"a RIFF that is not WebP", "RIFF" + z + z + z + z + "AVI LIST", 0},
      {"BMP", "BM" + z + z, kFormatBmp},
      {"little-endian TIFF", "II*" + z + "\x08" + z, kFormatTiff},
      {"big-endian BigTIFF", "MM" + z + "+" + z + "\x08", kFormatTiff},
      {"Olympus raw", "IIRO" + z + z, kFormatCameraRaw},
      {"Canon CR3", z + z + z + "\x18" + "ftypcrx ", kFormatCameraRaw},
      // The raw signature is tried first where a TIFF byte order mark starts the file.
      {"CRW marker after a TIFF mark", "II*" + z + z + z + "HEAPCCDR", kFormatCameraRaw},
      {"HEIC", z + z + z + "\x18" + "ftypheic", kFormatHeif},
      {"AVIF", z + z + z + "\x18" + "ftypavif", kFormatHeif},
      {"an MP4 movie", z + z + z + "\x18" + "ftypmp42", 0},
      {"too short for any", "\xFF\xD8", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes head(c.head.begin(), c.head.end());
    EXPECT_EQ(FourCCToString(SniffImageFormat(head)), FourCCToString(c.want));
  }
  for (const StillImageFormat& f : StillImageFormats()) {
    SCOPED_TRACE(FourCCToString(f.code));
    EXPECT_EQ(FindStillImageReader(f.code), &f.reader());
    for (std::uint32_t other : f.other_codes) EXPECT_EQ(FindStillImageReader(other), &f.reader());
    // A linked reader names its importer component; a plug-in's list does that.
    EXPECT_NE(f.plugin.empty(), f.name.empty());
  }
}

// Each orientation photo holds the same scene stored so that its orientation
// tag turns it upright; turned by its code, every thumbnail matches the first.
TEST(ReadStillImage, OrientationPhotosComeOutUpright) {
  auto thumbnail = [](int n, std::uint16_t rotation) {
    DecodedImage image;
    EXPECT_EQ(ReadStillImage(kPhotos + "/orientation/landscape_" + std::to_string(n) + ".jpg", 0, 128, &image),
              err::kNone);
    StoredThumbnail stored;
    EXPECT_EQ(MakeThumbnailPicture(128, image.picture, image.facts.width, image.facts.height, rotation, &stored),
              err::kNone);
    PixelBuffer back;
    EXPECT_EQ(DecodeStoredThumbnail(stored.bytes, &back), err::kNone);
    return back;
  };
  const PixelBuffer upright = thumbnail(1, kRotateNone);
  ASSERT_EQ(SizeOf(upright), std::pair(128, 96));
  // The first photo was saved brighter than the others, so the pictures are
  // compared by the correlation of their brightness.
  for (int n = 2; n <= 8; ++n) {
    SCOPED_TRACE(n);
    const PixelBuffer turned = thumbnail(n, RotationForOrientation(n));
    EXPECT_GT(testing::Correlation(turned, upright), 0.9);
    // The comparison tells pictures apart: left unturned, they differ.
    const PixelBuffer unturned = thumbnail(n, kRotateNone);
    EXPECT_LT(testing::Correlation(unturned, upright), 0.7);
  }
}

// --- files written by the format libraries --------------------------------

std::string TempPath(const std::string& name) {
  return (fs::temp_directory_path() / ("norvo_imaging_" + std::to_string(getpid()) + "_" + name)).string();
}

// Writes `pages` RGB pages of 16 x 8 pixels; page p is filled with grey p.
Bytes MakeTiff(int pages, std::uint16_t photometric = PHOTOMETRIC_RGB) {
  const std::string path = TempPath("pages.tif");
  TIFF* t = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(t, nullptr);
  const int samples = photometric == PHOTOMETRIC_SEPARATED ? 4 : 3;
  for (int p = 0; p < pages; ++p) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 8);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 118.11f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 59.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(16 * samples), static_cast<std::uint8_t>(p % 256));
    if (photometric == PHOTOMETRIC_SEPARATED) {
      for (int x = 0; x < 16; ++x) row[static_cast<std::size_t>(x * 4 + 1)] = 255;  // full magenta ink
    }
    for (std::uint32_t y = 0; y < 8; ++y) TIFFWriteScanline(t, row.data(), y, 0);
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
  Bytes bytes = Load(path);
  fs::remove(path);
  return bytes;
}

TEST(ReadStillImage, TiffPagesColourAndResolution) {
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(MakeTiff(3), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.image_count, 3);
  EXPECT_EQ(image.facts.resolution, 300);  // 118.11 per cm
  EXPECT_EQ(image.facts.depth, 24);
  EXPECT_EQ(image.picture.pixel(5, 5), Argb(255, 0, 0, 0));  // the first page
  ASSERT_EQ(ReadStillImage(MakeTiff(600), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.image_count, 1);
  ASSERT_EQ(ReadStillImage(MakeTiff(512), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.image_count, 512);

  ASSERT_EQ(ReadStillImage(MakeTiff(1, PHOTOMETRIC_SEPARATED), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.colour_space, kColourCmyk);
  EXPECT_EQ(image.picture.pixel(0, 0), Argb(255, 255, 0, 255));
}

TEST(ReadStillImage, TiffWithTheCanonRawMarkerTakesTheRawPath) {
  Bytes tiff = MakeTiff(1);
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(tiff, kFormatTiff, 0, &image), err::kNone);
  // Offset 8 read little-endian ("II" file): BB AC B0 BA. The camera raw
  // reader finds no raw data in it.
  tiff.insert(tiff.begin() + 8, {0xBB, 0xAC, 0xB0, 0xBA});
  tiff[4] += 4;  // the first directory moved with the inserted bytes (offset < 252)
  EXPECT_EQ(ReadStillImage(tiff, kFormatTiff, 0, &image), kBadImageData);
}

Bytes MakePng(int width, int height, bool alpha) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = static_cast<png_uint_32>(width);
  img.height = static_cast<png_uint_32>(height);
  img.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const int channels = alpha ? 4 : 3;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height * channels));
  for (int i = 0; i < width * height; ++i) {
    pixels[static_cast<std::size_t>(i * channels)] = static_cast<std::uint8_t>(i % width * 10);
    pixels[static_cast<std::size_t>(i * channels + 1)] = 100;
    pixels[static_cast<std::size_t>(i * channels + 2)] = static_cast<std::uint8_t>(i / width * 10);
    if (alpha) pixels[static_cast<std::size_t>(i * channels + 3)] = 128;
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&img, nullptr, &size, 0, pixels.data(), 0, nullptr);
  Bytes out(size);
  EXPECT_TRUE(png_image_write_to_memory(&img, out.data(), &size, 0, pixels.data(), 0, nullptr));
  out.resize(size);
  return out;
}

TEST(ReadStillImage, PngWithAndWithoutAlpha) {
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(MakePng(20, 10, false), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.depth, 24);
  EXPECT_EQ(image.facts.compressor, "PNG");
  EXPECT_EQ(image.picture.pixel(3, 2), Argb(255, 30, 100, 20));
  EXPECT_FALSE(image.picture.hasAlpha());
  ASSERT_EQ(ReadStillImage(MakePng(20, 10, true), 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.depth, 32);
  EXPECT_EQ(image.picture.pixel(3, 2), Argb(128, 30, 100, 20));
  EXPECT_TRUE(image.picture.hasAlpha());
}

TEST(ReadStillImage, WebpScaledForAThumbnail) {
  std::vector<std::uint8_t> rgb(400 * 300 * 3, 0);
  for (std::size_t i = 0; i < rgb.size(); i += 3) rgb[i] = 200;
  std::uint8_t* encoded = nullptr;
  const std::size_t size = WebPEncodeLosslessRGB(rgb.data(), 400, 300, 400 * 3, &encoded);
  ASSERT_GT(size, 0u);
  const Bytes webp(encoded, encoded + size);
  WebPFree(encoded);
  DecodedImage image;
  ASSERT_EQ(ReadStillImage(webp, 0, 0, &image), err::kNone);
  EXPECT_EQ(image.picture.width(), 400);
  EXPECT_EQ(image.picture.pixel(10, 10), Argb(255, 200, 0, 0));
  ASSERT_EQ(ReadStillImage(webp, 0, 100, &image), err::kNone);
  EXPECT_EQ(image.facts.width, 400);
  EXPECT_EQ(SizeOf(image.picture), std::pair(100, 75));
}

int WriteToVector(GifFileType* gif, const GifByteType* data, int count) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + count);
  return count;
}

TEST(ReadStillImage, GifFirstFrameWithTransparency) {
  Bytes gif_bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&gif_bytes, WriteToVector, &error);
  ASSERT_NE(gif, nullptr);
  GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, 8, 4, 2, 0, map);
  GraphicsControlBlock gcb{0, false, 0, 3};  // colour 3 is transparent
  GifByteType ext[4];
  const std::size_t ext_len = EGifGCBToExtension(&gcb, ext);
  EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(ext_len), ext);
  EGifPutImageDesc(gif, 0, 0, 8, 4, false, nullptr);
  for (int y = 0; y < 4; ++y) {
    GifPixelType line[8] = {0, 1, 2, 3, 0, 1, 2, 3};
    EGifPutLine(gif, line, 8);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);

  DecodedImage image;
  ASSERT_EQ(ReadStillImage(gif_bytes, 0, 0, &image), err::kNone);
  EXPECT_EQ(image.facts.width, 8);
  EXPECT_EQ(image.picture.pixel(0, 0), Argb(255, 255, 0, 0));
  EXPECT_EQ(image.picture.pixel(2, 3), Argb(255, 0, 0, 255));
  EXPECT_EQ(image.picture.pixel(3, 1) >> 24, 0u);
}

// --- damage -------------------------------------------------------------------

// Every reader must return an error or a picture of sensible size for damaged
// input; the sanitizer build turns any bad memory access into a failure.
void ExpectCleanResult(const Bytes& bytes, std::uint32_t format, const std::string& what) {
  for (int box : {0, 128}) {
    DecodedImage image;
    const ErrorCode e = ReadStillImage(bytes, format, box, &image);
    if (e == err::kNone) {
      EXPECT_FALSE(image.picture.empty()) << what;
      EXPECT_LE(image.picture.width(), kMaxSide) << what;
    } else {
      EXPECT_TRUE(image.picture.empty()) << what;
    }
  }
}

std::vector<std::pair<Bytes, std::uint32_t>> Samples() {
  std::vector<std::pair<Bytes, std::uint32_t>> samples;
  for (const char* name : {"/Canon_40D.jpg", "/DSCN0010.jpg", "/Arbitro.tiff", "/image00971.jpg"}) {
    samples.emplace_back(Load(kPhotos + name), 0);
  }
  samples.emplace_back(MakePng(33, 17, true), kFormatPng);
  samples.emplace_back(MakeTiff(2), kFormatTiff);
  return samples;
}

// Cut short, or a stretch zeroed or filled with 0xFF.
TEST(ReadStillImage, DamagedFilesFailCleanly) {
  for (const auto& [bytes, format] : Samples()) {
    const std::uint32_t f = format == 0 ? SniffImageFormat(bytes) : format;
    for (double cut : {0.0, 0.01, 0.1, 0.3, 0.5, 0.9, 0.999}) {
      Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * cut));
      ExpectCleanResult(part, f, "cut " + std::to_string(cut));
    }
    for (std::size_t start : {std::size_t{4}, std::size_t{20}, bytes.size() / 3, bytes.size() / 2}) {
      for (std::uint8_t fill : {std::uint8_t{0}, std::uint8_t{0xFF}}) {
        Bytes damaged = bytes;
        for (std::size_t i = start; i < std::min(damaged.size(), start + 64); ++i) damaged[i] = fill;
        ExpectCleanResult(damaged, f, "stretch at " + std::to_string(start));
      }
    }
  }
}

}  // namespace
}  // namespace norvo::imaging
