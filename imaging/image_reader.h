// SPDX-License-Identifier: GPL-3.0-or-later
// Still-image readers. One reader per format, all behind one interface and
// described in one table (StillImageFormats()) keyed by the format code the
// type registry uses ('JPEG', 'TIFF', 'PNGf', 'BMP ', '8BPS', 'WEBP', 'HEIF',
// 'GIFf' and the camera raw codes 'CR2 ', 'NEF ' ...). A reader reports what
// it knows of the media (its full pixel size, resolution, depth, colour
// space, compressor name, image count) and decodes a picture: at full size
// for a preview, or for a thumbnail at the smallest size it can cheaply
// produce that still covers the thumbnail's fitted size.
//
// Errors: err::kFileNotFound file not found (and the other file errors), err::kBadJpeg damaged or
// unreadable image data, err::kOutOfMemory a picture too large to hold, err::kNoReaderForFormat a format
// without a reader.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "imaging/pixel_buffer.h"
#include "platform/error_codes.h"

namespace norvo::imaging {

// Damaged or unreadable image data, the code every reader returns for it.
inline constexpr ErrorCode kBadImageData = err::kBadJpeg;

// Longest compressor name kept.
inline constexpr std::size_t kMaxCompressorName = 31;
// Image counts above this are reported as 1.
inline constexpr int kMaxImageCount = 512;
// Resolution reported when a file sets none.
inline constexpr int kDefaultResolution = 72;

// Format codes of the table.
inline constexpr std::uint32_t kFormatJpeg = 0x4A504547;       // 'JPEG'
inline constexpr std::uint32_t kFormatTiff = 0x54494646;       // 'TIFF'
inline constexpr std::uint32_t kFormatPng = 0x504E4766;        // 'PNGf'
inline constexpr std::uint32_t kFormatBmp = 0x424D5020;        // 'BMP '
inline constexpr std::uint32_t kFormatPhotoshop = 0x38425053;  // '8BPS'
inline constexpr std::uint32_t kFormatWebp = 0x57454250;       // 'WEBP'
inline constexpr std::uint32_t kFormatHeif = 0x48454946;       // 'HEIF'
inline constexpr std::uint32_t kFormatGif = 0x47494666;        // 'GIFf'
inline constexpr std::uint32_t kFormatCameraRaw = 0x52415720;  // 'RAW ', any camera raw

// Colour space codes.
inline constexpr std::uint32_t kColourRgb = 0x52474220;   // 'RGB '
inline constexpr std::uint32_t kColourCmyk = 0x434D594B;  // 'CMYK'
inline constexpr std::uint32_t kColourGrey = 0x47524159;  // 'GRAY'

struct ImageFacts {
  std::int32_t width = 0;   // the media's full size, whatever size was decoded
  std::int32_t height = 0;
  std::int32_t resolution = kDefaultResolution;  // whole pixels per inch, the larger of x and y
  std::int32_t depth = 0;                        // bits per pixel
  std::uint32_t colour_space = 0;
  std::string compressor;                        // at most kMaxCompressorName characters
  std::int32_t image_count = 1;
};

struct DecodedImage {
  ImageFacts facts;
  PixelBuffer picture;
};

class StillImageReader {
 public:
  virtual ~StillImageReader() = default;
  // Reads `bytes` (a whole file). `box` is the thumbnail size the picture is
  // for, 0 for a full-size picture. On error `out` holds no picture.
  virtual ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const = 0;
};

// What a format's files may hold beyond one still picture.
enum StillImageSupport : std::uint32_t {
  kSupportsAnimation = 1u << 0,  // a moving picture: the movie importers take its files
};

// A still-image format as it describes itself. The table of these is the one
// place a format is named: recognition by content, the reader for a code and
// the importer components the type registry is filled from all ask it.
struct StillImageFormat {
  std::uint32_t code;  // the registry's format code
  // The importer component of a reader linked into the program: its name
  // (shown as the kind), who reads the format (a manufacturer code) and the
  // lower-case extension codes its files go by (0 ends the list).
  std::string_view name;
  std::uint32_t maker;
  std::array<std::uint32_t, 4> extensions;
  // A reader in a plug-in: its family, whose component list (written beside
  // the module) names the codes. Empty for a linked reader.
  std::string_view plugin;
  // Further codes the same reader takes (the camera makers' raw formats).
  std::span<const std::uint32_t> other_codes;
  // Whether a file's first bytes are this format's. The tests run from the
  // lowest sniff_rank up, so that a specific signature is tried before a
  // general one it shares bytes with (camera raw before TIFF).
  bool (*valid_file)(std::span<const std::uint8_t> head);
  int sniff_rank;
  const StillImageReader& (*reader)();
  std::uint32_t supports;  // StillImageSupport bits

  bool takes(std::uint32_t format) const;
};

// Every format, in the order the type registry lists them.
std::span<const StillImageFormat> StillImageFormats();
// The format whose code, or one of whose further codes, is `format`; null when
// none.
const StillImageFormat* FindStillImageFormat(std::uint32_t format);

// The reader registered for a format code, or null.
const StillImageReader* FindStillImageReader(std::uint32_t format);

// The format of a file's first bytes, or 0 when none of the table's formats
// starts that way.
std::uint32_t SniffImageFormat(std::span<const std::uint8_t> bytes);

// Reads a file with the reader of `format` (0: by its first bytes). Files are
// read whole into memory, not mapped (a file that shrinks meanwhile cannot
// stop the process). err::kNoReaderForFormat when no reader fits. On failure there is no picture, but
// the facts hold what the file's header told (its size), where a reader got
// that far.
ErrorCode ReadStillImage(const std::string& path, std::uint32_t format, int box, DecodedImage* out);
ErrorCode ReadStillImage(std::span<const std::uint8_t> bytes, std::uint32_t format, int box, DecodedImage* out);

// Whether a file of `file_size` bytes can plausibly hold a picture of
// width x height: no coding packs more than kMaxPixelsPerByte pixels into a
// byte of a real file. Readers ask before making a picture a header declares,
// so a few hostile bytes cannot make them fill hundreds of megabytes.
inline constexpr std::uint64_t kMaxPixelsPerByte = 4096;
constexpr bool PlausiblePictureSize(std::uint64_t width, std::uint64_t height, std::uint64_t file_size) {
  return width * height <= file_size * kMaxPixelsPerByte;
}

// Cuts a compressor name to kMaxCompressorName characters.
std::string CompressorName(std::string name);

// The thumbnail's fitted size for media of width x height in a box (what a
// reader's reduced picture must still cover); the full size for box 0.
void FittedSize(int width, int height, int box, int* fitted_width, int* fitted_height);

// Whole pixels per inch from a resolution and its unit (1 none, 2 inch,
// 3 centimetre, as TIFF and PNG-derived callers pass); values of 0 or less,
// or a missing unit, give the default.
int WholePixelsPerInch(double x, double y, int unit);

}  // namespace norvo::imaging
