// SPDX-License-Identifier: GPL-3.0-or-later
// Annotations written into a JPEG file: the IIM records go into resource
// 0x0404 of the Photoshop APP13 segment (made when missing), and the XMP APP1
// segment is rewritten from the block (made when missing), its padding
// absorbing the change. Every other segment and the image data are carried
// over byte for byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "metadata/annotation_payload.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

// The file bytes with the annotations embedded. err::kBadJpeg when `jpeg` is not a
// JPEG file (or its segments before the image data are damaged); err::kParam when a
// segment would exceed the 64 KB a JPEG segment can hold; err::kXmpUnreadable when
// the file's XMP packet cannot be parsed.
ErrorCode EmbedAnnotationsInJpeg(std::span<const std::uint8_t> jpeg, const EmbeddedAnnotations& annotations,
                                 std::vector<std::uint8_t>* out, std::string* failure = nullptr);

}  // namespace norvo::metadata
