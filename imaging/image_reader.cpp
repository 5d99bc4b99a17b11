// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/image_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "imaging/readers.h"
#include "imaging/transform.h"
#include "platform/byte_io.h"
#include "platform/file_replace.h"
#include "platform/reader_plugins.h"

namespace norvo::imaging {
namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view text) {
  if (bytes.size() < offset + text.size()) return false;
  return std::memcmp(bytes.data() + offset, text.data(), text.size()) == 0;
}

// Manufacturer codes of the linked readers: who reads the format.
constexpr std::uint32_t kJpegMaker = FourCC("ljpg");  // libjpeg-turbo
constexpr std::uint32_t kPngMaker = FourCC("lpng");   // libpng
constexpr std::uint32_t kTiffMaker = FourCC("ltif");  // libtiff
constexpr std::uint32_t kOwnMaker = FourCC("nrvo");   // readers of this program
constexpr std::uint32_t kWebpMaker = FourCC("lwbp");  // libwebp
constexpr std::uint32_t kGifMaker = FourCC("lgif");   // giflib

bool IsJpeg(std::span<const std::uint8_t> b) { return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF; }
bool IsPng(std::span<const std::uint8_t> b) { return StartsWith(b, 0, "\x89PNG"); }
bool IsGif(std::span<const std::uint8_t> b) { return StartsWith(b, 0, "GIF87a") || StartsWith(b, 0, "GIF89a"); }
bool IsPhotoshop(std::span<const std::uint8_t> b) { return StartsWith(b, 0, "8BPS"); }
bool IsWebp(std::span<const std::uint8_t> b) { return StartsWith(b, 0, "RIFF") && StartsWith(b, 8, "WEBP"); }
bool IsBmp(std::span<const std::uint8_t> b) { return StartsWith(b, 0, "BM"); }
// Raw formats of their own, and the TIFF-like ones whose header differs.
bool IsCameraRaw(std::span<const std::uint8_t> b) {
  return StartsWith(b, 0, "FUJIFILM") || StartsWith(b, 0, "FOVb") || StartsWith(b, 0, std::string_view("\0MRM", 4)) ||
         StartsWith(b, 0, "IIRO") || StartsWith(b, 0, "IIRS") || StartsWith(b, 0, "MMOR") ||
         StartsWith(b, 0, std::string_view("IIU\0", 4)) || StartsWith(b, 6, "HEAPCCDR") ||
         (StartsWith(b, 4, "ftyp") && StartsWith(b, 8, "crx "));
}
bool IsTiff(std::span<const std::uint8_t> b) {
  return StartsWith(b, 0, std::string_view("II*\0", 4)) || StartsWith(b, 0, std::string_view("MM\0*", 4)) ||
         StartsWith(b, 0, std::string_view("II+\0", 4)) || StartsWith(b, 0, std::string_view("MM\0+", 4));
}
bool IsHeif(std::span<const std::uint8_t> b) {
  if (!StartsWith(b, 4, "ftyp")) return false;
  for (std::string_view brand : {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1", "avif"}) {
    if (StartsWith(b, 8, brand)) return true;
  }
  return false;
}

// The camera makers' raw codes the raw reader also answers to.
constexpr std::uint32_t kCameraRawCodes[] = {
    FourCC("CR2 "), FourCC("CR3 "), FourCC("CRW "), FourCC("NEF "), FourCC("NRW "), FourCC("ARW "),
    FourCC("SR2 "), FourCC("SRF "), FourCC("DNG "), FourCC("ORF "), FourCC("RAF "), FourCC("RW2 "),
    FourCC("RWL "), FourCC("PEF "), FourCC("SRW "), FourCC("MRW "), FourCC("DCR "), FourCC("KDC "),
    FourCC("3FR "), FourCC("IIQ "), FourCC("ERF "), FourCC("MEF "), FourCC("MOS "), FourCC("X3F "),
};

// The one table of still-image formats. GIF is listed as the platform lists
// it, but being animated its codes go to the movie importers.
const StillImageFormat kFormats[] = {
    // code, name, maker, extensions, plug-in, other codes, test, sniff rank, reader, supports
    {kFormatJpeg, "JFIF", kJpegMaker, {FourCC("jpg "), FourCC("jpeg"), FourCC("jpe "), FourCC("jfif")}, {}, {},
     IsJpeg, 0, JpegReader, 0},
    {kFormatPng, "PNG", kPngMaker, {FourCC("png ")}, {}, {}, IsPng, 1, PngReader, 0},
    {kFormatTiff, "TIFF", kTiffMaker, {FourCC("tif "), FourCC("tiff")}, {}, {}, IsTiff, 7, TiffReader, 0},
    {kFormatBmp, "BMP", kOwnMaker, {FourCC("bmp "), FourCC("dib ")}, {}, {}, IsBmp, 5, BmpReader, 0},
    {kFormatPhotoshop, "Photoshop", kOwnMaker, {FourCC("psd ")}, {}, {}, IsPhotoshop, 3, PhotoshopReader, 0},
    {kFormatWebp, "WebP", kWebpMaker, {FourCC("webp")}, {}, {}, IsWebp, 4, WebpReader, 0},
    {kFormatGif, "GIF", kGifMaker, {FourCC("GIF ")}, {}, {}, IsGif, 2, GifReader, kSupportsAnimation},
    {kFormatHeif, {}, 0, {}, plugins::kHeifFamily, {}, IsHeif, 8, HeifReader, 0},
    {kFormatCameraRaw, {}, 0, {}, plugins::kRawFamily, kCameraRawCodes, IsCameraRaw, 6, CameraRawReader, 0},
};

// The table's rows in the order their content tests run.
const std::vector<const StillImageFormat*>& FormatsBySniffRank() {
  static const std::vector<const StillImageFormat*> ranked = [] {
    std::vector<const StillImageFormat*> v;
    for (const StillImageFormat& f : kFormats) v.push_back(&f);
    std::stable_sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->sniff_rank < b->sniff_rank; });
    return v;
  }();
  return ranked;
}

// A still image is read whole into memory rather than mapped: a mapped file
// that shrinks while it is read (another program rewriting it, a removable
// disk pulled) would end the process with SIGBUS. The copy costs well under
// a millisecond for a camera photo.
constexpr std::uint64_t kMaxStillImageFile = 1ull << 30;

ErrorCode ReadFileBytes(const std::string& path, std::vector<std::uint8_t>* out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return err::kFileNotFound;
  if (st.st_size <= 0) return kBadImageData;
  if (static_cast<std::uint64_t>(st.st_size) > kMaxStillImageFile) return err::kOutOfMemory;
  if (ErrorCode e = ReadWholeFile(path, out); e != err::kNone) return e;
  return out->empty() ? kBadImageData : err::kNone;
}

}  // namespace

bool StillImageFormat::takes(std::uint32_t format) const {
  return code == format || std::find(other_codes.begin(), other_codes.end(), format) != other_codes.end();
}

std::span<const StillImageFormat> StillImageFormats() { return kFormats; }

const StillImageFormat* FindStillImageFormat(std::uint32_t format) {
  for (const StillImageFormat& f : kFormats) {
    if (f.takes(format)) return &f;
  }
  return nullptr;
}

const StillImageReader* FindStillImageReader(std::uint32_t format) {
  const StillImageFormat* f = FindStillImageFormat(format);
  return f != nullptr ? &f->reader() : nullptr;
}

std::uint32_t SniffImageFormat(std::span<const std::uint8_t> bytes) {
  for (const StillImageFormat* f : FormatsBySniffRank()) {
    if (f->valid_file(bytes)) return f->code;
  }
  return 0;
}

ErrorCode ReadStillImage(std::span<const std::uint8_t> bytes, std::uint32_t format, int box, DecodedImage* out) {
  *out = DecodedImage();
  if (format == 0) format = SniffImageFormat(bytes);
  const StillImageReader* reader = FindStillImageReader(format);
  if (reader == nullptr) return err::kNoReaderForFormat;
  ErrorCode e = reader->read(bytes, std::max(box, 0), out);
  // A damaged file gives no picture, but the facts its header told (its
  // size) stay for the catalog to show.
  if (e != err::kNone) out->picture = PixelBuffer();
  return e;
}

ErrorCode ReadStillImage(const std::string& path, std::uint32_t format, int box, DecodedImage* out) {
  *out = DecodedImage();
  std::vector<std::uint8_t> bytes;
  if (ErrorCode e = ReadFileBytes(path, &bytes); e != err::kNone) return e;
  return ReadStillImage(bytes, format, box, out);
}

}  // namespace norvo::imaging
