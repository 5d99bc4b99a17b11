// SPDX-License-Identifier: GPL-3.0-or-later
// The metadata blocks of PNG, WebP and HEIF files: their EXIF goes through
// the same IFD walk and tag store as a JPEG's, their XMP packets become 'XMP '
// items, and their colour profile and resolution fill the same fields, so
// that these files show camera, date, position and annotations like a JPEG.
//
// PNG: eXIf (EXIF), the text chunk "XML:com.adobe.xmp" (XMP; iTXt, or
// zTXt and tEXt as some writers use), the older hexadecimal text profiles
// "Raw profile type exif" and "... xmp" when nothing better is there, iCCP
// and sRGB (colour profile), pHYs (resolution). WebP: the EXIF, "XMP "
// and ICCP chunks of the RIFF container. HEIF and HEIC: the Exif and XMP
// items and the colour profile of the primary image, found by libheif.
//
// Image data is never read. Errors: err::kBadJpeg a container that is not
// what its first bytes say, err::kEndOfFile one cut short (what was read
// before stays).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/byte_source.h"
#include "metadata/image_metadata.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

// Bytes the Is...Header tests need at the start of a file.
inline constexpr std::size_t kContainerSniffSize = 12;
// One metadata block larger than this is skipped rather than read.
inline constexpr std::size_t kMaxContainerBlockBytes = 16u << 20;

bool IsPngHeader(std::span<const std::uint8_t> bytes);
bool IsWebpHeader(std::span<const std::uint8_t> bytes);
// An ISO base media file whose brand is one of HEIF's still-image brands.
bool IsHeifHeader(std::span<const std::uint8_t> bytes);

ErrorCode ReadPngMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out);
ErrorCode ReadWebpMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out);
// HEIF pictures are turned by the file's own transformations when they are
// decoded, so the EXIF orientation is reported as 0: applying it as well
// would turn the picture twice.
ErrorCode ReadHeifMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out);

// The keyword and text of a PNG tEXt, zTXt or iTXt chunk's data, the text
// inflated when compressed; false for a damaged chunk or another type.
bool PngTextChunk(std::uint32_t type, std::span<const std::uint8_t> data, std::string* keyword,
                  std::vector<std::uint8_t>* text);
// The bytes of a profile kept as text ("Raw profile type exif" and its
// kind): a name line, the length in decimal, then hexadecimal digits; false
// when the digits do not give that many bytes.
bool DecodeRawProfile(std::span<const std::uint8_t> text, std::vector<std::uint8_t>* out);

// A zlib stream inflated, up to `limit` bytes; false when it is damaged or
// larger than that.
bool InflateZlib(std::span<const std::uint8_t> in, std::size_t limit, std::vector<std::uint8_t>* out);

}  // namespace norvo::metadata
