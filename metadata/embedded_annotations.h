// SPDX-License-Identifier: GPL-3.0-or-later
// Writing an item's annotations back into its file. The same two pieces go
// into every format: the IIM records (as IPTC) and an XMP packet; where they
// live differs:
//   JPEG       APP13 "Photoshop 3.0" resource 0x0404, and the XMP APP1 segment
//   TIFF       tag 33723 (IPTC-NAA) and tag 700 (XMP) of the first directory
//   Photoshop  resources 0x0404 and 0x0424 of the image-resource section
// An XMP packet the file already has is rewritten from the block and keeps
// other programs' properties; a file without one gets a new packet.
// Everything else in the file, image data included, is carried over byte for
// byte, and the file is replaced through a flushed temporary file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "metadata/annotation_payload.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

// The file's bytes with the annotations embedded, by the file's format (its
// first bytes). err::kNoReaderForFormat for a format that cannot carry annotations.
ErrorCode EmbedAnnotations(std::span<const std::uint8_t> file, const EmbeddedAnnotations& annotations,
                           std::vector<std::uint8_t>* out, std::string* failure = nullptr);

// Embeds the annotations into the file at `path` and replaces it safely.
// *failure as for UpdatedXmpPacket.
ErrorCode WriteAnnotationsIntoFile(const std::string& path, const EmbeddedAnnotations& annotations,
                                   std::string* failure = nullptr);

}  // namespace norvo::metadata
