// SPDX-License-Identifier: GPL-3.0-or-later
// Annotations written into a TIFF file (either byte order): the IIM records
// as tag 33723 (IPTC-NAA, type LONG) and the XMP packet as tag 700 (type
// BYTE) of the first directory.
//
// Nothing already in the file moves, so every offset in it (strips, tiles,
// sub-directories, maker notes) stays valid:
// - a new value the same size as the old one is written over it;
// - any other new value is appended at the end of the file, word-aligned,
//   and the entry is pointed at it;
// - when a tag is missing, a copy of the first directory with the entry
//   added (entries stay sorted by tag) is appended and the header is pointed
//   at the copy. The old directory and replaced values stay behind, unused.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "metadata/annotation_payload.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

// The file bytes with the annotations embedded. err::kParam when the header
// or the first directory is damaged, or when the file would outgrow 32-bit
// offsets; kXmpUnreadable when the file's XMP packet cannot be parsed.
ErrorCode EmbedAnnotationsInTiff(std::span<const std::uint8_t> tiff, const EmbeddedAnnotations& annotations,
                                 std::vector<std::uint8_t>* out, std::string* failure = nullptr);

}  // namespace norvo::metadata
