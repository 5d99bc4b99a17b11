// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG marker walk: reads the segments before the start of scan and
// collects the metadata blocks (EXIF, XMP, ICC profile, FlashPix data, the
// Photoshop image-resource block, comments). Image data is never read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/byte_source.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

inline constexpr std::uint16_t kMarkerStartOfImage = 0xFFD8;
inline constexpr std::uint16_t kMarkerEndOfImage = 0xFFD9;
inline constexpr std::uint16_t kMarkerStartOfScan = 0xFFDA;
inline constexpr std::uint16_t kMarkerApp1 = 0xFFE1;
inline constexpr std::uint16_t kMarkerApp2 = 0xFFE2;
inline constexpr std::uint16_t kMarkerApp13 = 0xFFED;
inline constexpr std::uint16_t kMarkerComment = 0xFFFE;
// "Exif" and two zero bytes come before the TIFF header.
inline constexpr std::size_t kExifHeaderSize = 6;
// "ICC_PROFILE", a zero byte, the chunk number and the chunk count.
inline constexpr std::size_t kIccChunkHeaderSize = 14;
// The XMP namespace text that opens an XMP APP1 segment (28 characters).
inline constexpr char kXmpNamespaceText[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr std::string_view kXmpNamespace{kXmpNamespaceText, sizeof kXmpNamespaceText - 1};

struct JpegSegments {
  std::vector<std::vector<std::uint8_t>> exif;  // TIFF structures of Exif APP1 segments
  std::vector<std::vector<std::uint8_t>> xmp;   // XMP packets
  std::vector<std::uint8_t> icc_profile;        // chunks joined, chunk headers removed
  std::vector<std::vector<std::uint8_t>> flashpix;  // FlashPix APP2 segments, each as it is
  std::vector<std::uint8_t> image_resources;    // APP13 segment data
  std::vector<std::string> comments;
};

// err::kBadJpeg when the source does not begin with the start-of-image
// marker. A segment cut short ends the walk with err::kEndOfFile; the
// profile, FlashPix and image-resource data are then dropped and the rest
// kept.
ErrorCode ReadJpegSegments(const ByteSource& source, JpegSegments* out);

}  // namespace norvo::metadata
