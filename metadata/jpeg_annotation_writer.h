// SPDX-License-Identifier: GPL-3.0-or-later
// Writes an item's annotations back into its JPEG file: the IIM records go
// into resource 0x0404 of the Photoshop APP13 segment (made when missing), and
// an XMP APP1 segment the file already has is rewritten from the block, its
// padding absorbing the change (it grows only when the padding is not enough).
// Everything else, from the other segments to the image data, is carried
// over byte for byte, and other programs' XMP properties stay.
//
// The file is never changed in place: the new bytes go to a temporary file in
// the same folder, which is flushed and then renamed over the original, with
// the original's permissions, owner (when allowed) and times. Any failure
// leaves the original as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "metadata/annotation_block.h"
#include "metadata/iptc_records.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

struct JpegAnnotations {
  std::span<const std::uint8_t> block;     // the item's annotation block
  std::uint8_t label = 0;                  // colour label 0 to 9
  std::span<const FieldId> iptc_fields;    // fields written as IIM records
  FieldMaxLengthFn max_length = {};        // limits for the IIM values, if any
};

// The file bytes with the annotations embedded. -8969 when `jpeg` is not a
// JPEG file (or its segments before the image data are damaged); -50 when a
// segment would exceed the 64 KB a JPEG segment can hold.
ErrorCode EmbedAnnotationsInJpeg(std::span<const std::uint8_t> jpeg, const JpegAnnotations& annotations,
                                 std::vector<std::uint8_t>* out);

// Embeds the annotations into the JPEG file at `path` (a symbolic link is
// followed, and the file it names is replaced).
ErrorCode WriteAnnotationsIntoJpegFile(const std::string& path, const JpegAnnotations& annotations);

// Replaces the file at `path` with `bytes` through a flushed temporary file in
// the same folder, keeping its permissions, owner and times.
ErrorCode ReplaceFileSafely(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace norvo::metadata
