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

namespace norvo::imaging {
namespace {

struct ReaderEntry {
  std::uint32_t format;
  const StillImageReader& (*reader)();
};

// The one registration table: format code to reader.
const std::array<ReaderEntry, 33> kReaders = {{
    {kFormatJpeg, JpegReader},
    {kFormatTiff, TiffReader},
    {kFormatPng, PngReader},
    {kFormatBmp, BmpReader},
    {kFormatPhotoshop, PhotoshopReader},
    {kFormatWebp, WebpReader},
    {kFormatHeif, HeifReader},
    {kFormatGif, GifReader},
    {kFormatCameraRaw, CameraRawReader},
    {FourCC("CR2 "), CameraRawReader},
    {FourCC("CR3 "), CameraRawReader},
    {FourCC("CRW "), CameraRawReader},
    {FourCC("NEF "), CameraRawReader},
    {FourCC("NRW "), CameraRawReader},
    {FourCC("ARW "), CameraRawReader},
    {FourCC("SR2 "), CameraRawReader},
    {FourCC("SRF "), CameraRawReader},
    {FourCC("DNG "), CameraRawReader},
    {FourCC("ORF "), CameraRawReader},
    {FourCC("RAF "), CameraRawReader},
    {FourCC("RW2 "), CameraRawReader},
    {FourCC("RWL "), CameraRawReader},
    {FourCC("PEF "), CameraRawReader},
    {FourCC("SRW "), CameraRawReader},
    {FourCC("MRW "), CameraRawReader},
    {FourCC("DCR "), CameraRawReader},
    {FourCC("KDC "), CameraRawReader},
    {FourCC("3FR "), CameraRawReader},
    {FourCC("IIQ "), CameraRawReader},
    {FourCC("ERF "), CameraRawReader},
    {FourCC("MEF "), CameraRawReader},
    {FourCC("MOS "), CameraRawReader},
    {FourCC("X3F "), CameraRawReader},
}};

bool StartsWith(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view text) {
  if (bytes.size() < offset + text.size()) return false;
  return std::memcmp(bytes.data() + offset, text.data(), text.size()) == 0;
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

const StillImageReader* FindStillImageReader(std::uint32_t format) {
  for (const ReaderEntry& entry : kReaders) {
    if (entry.format == format) return &entry.reader();
  }
  return nullptr;
}

std::uint32_t SniffImageFormat(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return kFormatJpeg;
  if (StartsWith(bytes, 0, "\x89PNG")) return kFormatPng;
  if (StartsWith(bytes, 0, "GIF87a") || StartsWith(bytes, 0, "GIF89a")) return kFormatGif;
  if (StartsWith(bytes, 0, "8BPS")) return kFormatPhotoshop;
  if (StartsWith(bytes, 0, "RIFF") && StartsWith(bytes, 8, "WEBP")) return kFormatWebp;
  if (StartsWith(bytes, 0, "BM")) return kFormatBmp;
  // Raw formats of their own, and the TIFF-like ones whose header differs.
  if (StartsWith(bytes, 0, "FUJIFILM") || StartsWith(bytes, 0, "FOVb") || StartsWith(bytes, 0, std::string_view("\0MRM", 4)) ||
      StartsWith(bytes, 0, "IIRO") || StartsWith(bytes, 0, "IIRS") || StartsWith(bytes, 0, "MMOR") ||
      StartsWith(bytes, 0, std::string_view("IIU\0", 4)) || StartsWith(bytes, 6, "HEAPCCDR") ||
      (StartsWith(bytes, 4, "ftyp") && StartsWith(bytes, 8, "crx "))) {
    return kFormatCameraRaw;
  }
  if (StartsWith(bytes, 0, std::string_view("II*\0", 4)) || StartsWith(bytes, 0, std::string_view("MM\0*", 4)) ||
      StartsWith(bytes, 0, std::string_view("II+\0", 4)) || StartsWith(bytes, 0, std::string_view("MM\0+", 4))) {
    return kFormatTiff;
  }
  if (StartsWith(bytes, 4, "ftyp")) {
    for (std::string_view brand : {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1", "avif"}) {
      if (StartsWith(bytes, 8, brand)) return kFormatHeif;
    }
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
