// SPDX-License-Identifier: GPL-3.0-or-later
// Still-image writers: one per output format, all behind one table
// (ImageWriterFormats()) keyed by the output file's extension. Each writer
// takes a picture, a resolution, an optional ICC profile and optional EXIF
// bytes and writes what its format can hold of them:
//
//   jpg   libjpeg-turbo   JFIF density, APP1 Exif, APP2 ICC_PROFILE chunks
//   png   libpng          pHYs, iCCP, eXIf
//   tif   libtiff         resolution tags, ICC profile tag (no EXIF)
//   webp  libwebp         VP8X container with ICCP and EXIF chunks
//   heic  libheif (HEVC)  colour profile, Exif item (the EXIF carries the resolution)
//   avif  libheif (AV1)   as heic
//   gif   giflib          palette of 256 colours; no resolution, profile or EXIF
//   bmp   our own         pixels per metre; a V5 header carries the profile
//
// Writers produce the whole file in memory; the caller writes it out (under
// a temporary name, then renames). Whether the linked library can write a
// format is asked at run time: libheif may lack its HEVC or AV1 encoder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/pixel_buffer.h"
#include "platform/error_codes.h"

namespace norvo::imaging {

// What a format can carry besides the pixels.
enum ImageWriterHolds : std::uint32_t {
  kHoldsResolution = 1u << 0,
  kHoldsProfile = 1u << 1,
  kHoldsExif = 1u << 2,
  kHoldsAlpha = 1u << 3,
};

struct ImageWriterFormat {
  std::string_view extension;  // the output file's extension, lower case, no dot
  std::string_view name;       // shown in the "Format:" list
  std::uint32_t code;          // the file type code the output gets ('JPEG', 'PNGf' ...)
  std::uint32_t holds;         // ImageWriterHolds bits
  bool available;              // the linked library can write it on this machine
};

// Every format, in the order the "Format:" list shows them; `available` is
// asked once, on first use.
std::span<const ImageWriterFormat> ImageWriterFormats();
// The format of an extension (case ignored, a leading dot allowed); null when
// none. A format that is not available is still found: check `available`.
const ImageWriterFormat* FindImageWriter(std::string_view extension);

// Default quality of the lossy writers (JPEG, WebP, HEIF, AVIF), 1 to 100.
inline constexpr int kDefaultWriterQuality = 85;
// Largest profile and EXIF block a writer takes.
inline constexpr std::size_t kMaxMetadataBlock = 16u << 20;

struct ImageWriteOptions {
  int dots_per_inch = 72;  // below 1 or above 65535: 72
  int quality = kDefaultWriterQuality;
  std::span<const std::uint8_t> icc_profile;  // empty: none
  // A TIFF structure ("II*\0" or "MM\0*" first), as a JPEG's Exif segment
  // holds after its six-byte "Exif\0\0" header; empty: none.
  std::span<const std::uint8_t> exif;
};

// Encodes `picture` as a file of `format`. err::kParam for an empty picture,
// a format that is unknown or not available on this machine, EXIF that does
// not start with a TIFF header or blocks above kMaxMetadataBlock;
// err::kBadJpeg when the library fails. *dropped, when given, gets the
// kHolds... bits of what was asked for and the format cannot hold (a GIF
// asked to keep a profile, EXIF too large for a JPEG segment); the file is
// written without it.
ErrorCode EncodeImage(const ImageWriterFormat& format, const PixelBuffer& picture, const ImageWriteOptions& options,
                      std::vector<std::uint8_t>* out, std::uint32_t* dropped = nullptr);

// A copy of an EXIF block (TIFF structure) ready to travel with a picture
// that was turned upright and maybe given a new resolution: IFD0's
// Orientation becomes 1 (the turn is then applied once), and its
// XResolution and YResolution become `dots_per_inch` with ResolutionUnit
// inches, where those entries exist. Values are patched in place; nothing
// moves. err::kParam when the block is not a TIFF structure or IFD0 lies
// outside it. With the written picture's `width` and `height` (0: leave),
// IFD0's ImageWidth/ImageLength and the EXIF IFD's PixelXDimension and
// PixelYDimension take them, and IFD1 (the camera's embedded preview of the
// unturned picture) is unlinked.
struct UprightFacts {
  int dots_per_inch = 0;
  int width = 0;
  int height = 0;
};
ErrorCode UprightExif(std::span<const std::uint8_t> exif, const UprightFacts& facts, std::vector<std::uint8_t>* out);

}  // namespace norvo::imaging
