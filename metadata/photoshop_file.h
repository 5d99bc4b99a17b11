// SPDX-License-Identifier: GPL-3.0-or-later
// Photoshop files (.psd, and .psb, the large form): the metadata kept in the
// image-resource section, and annotations written back into it.
//
// Layout (big-endian):
//   offset  size  meaning
//   0       4     "8BPS"
//   4       2     version: 1 (.psd) or 2 (.psb)
//   6       6     reserved
//   12      2     channels
//   14      4     height
//   18      4     width
//   22      2     bits per channel
//   24      2     colour mode
//   26      4+n   colour-mode data: length, bytes
//   30+n    4+m   image resources: length, resources ("8BIM" blocks)
//   ...           layers and masks, image data: carried over untouched
//
// Resources read: 0x0404 IPTC records, 0x0424 XMP, 0x0422 EXIF (a TIFF
// stream), 0x040F ICC profile.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "metadata/byte_source.h"
#include "metadata/annotation_payload.h"
#include "metadata/image_metadata.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

inline constexpr std::uint16_t kResourceIccProfile = 0x040F;
inline constexpr std::uint16_t kResourceExif = 0x0422;

// "8BPS" with version 1 or 2.
bool IsPhotoshopHeader(std::span<const std::uint8_t> bytes);

// Reads the image-resource section into out->image_resources, and the EXIF
// and ICC resources as a TIFF file's would be read. err::kParam when the
// sections before the resources run past the end of the file.
ErrorCode ReadPhotoshopMetadata(const ByteSource& source, ImageMetadata* out);

// The file bytes with resources 0x0404 and 0x0424 replaced (or added) and
// the IPTC digest 0x0425 dropped. err::kParam when the file is damaged.
ErrorCode EmbedAnnotationsInPhotoshop(std::span<const std::uint8_t> psd, const EmbeddedAnnotations& annotations,
                                      std::vector<std::uint8_t>* out, std::string* failure = nullptr);

}  // namespace norvo::metadata
