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

#include "metadata/annotation_block.h"
#include "metadata/iptc_records.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

struct EmbeddedAnnotations {
  std::span<const std::uint8_t> block;     // the item's annotation block
  std::uint8_t label = 0;                  // colour label 0 to 9
  std::span<const FieldId> iptc_fields;    // fields written as IIM records
  FieldMaxLengthFn max_length = {};        // limits for the IIM values, if any
};

// The IIM records to store: the file's records `old_records` updated from
// the annotations (UpdateIptcRecords: what the user did not change stays
// byte for byte). When nothing is left this is the lone record-version data
// set, so that the file's old IPTC values do not come back on the next
// import.
std::vector<std::uint8_t> EmbeddedIimRecords(const EmbeddedAnnotations& annotations,
                                             std::span<const std::uint8_t> old_records = {});

// The XMP packet to store: `old_packet` rewritten from the block, its padding
// absorbing the change; when it cannot, a packet of the size the tree needs
// plus generous padding. An empty `old_packet` gives a new packet holding the
// block's fields. kXmpUnreadable when the old packet cannot be parsed (the
// caller leaves the file alone then). *failure, when given, receives the
// toolkit's own words on a failure.
ErrorCode UpdatedXmpPacket(std::span<const std::uint8_t> old_packet, std::span<const std::uint8_t> block,
                           std::vector<std::uint8_t>* out, std::string* failure = nullptr);

// The file's bytes with the annotations embedded, by the file's format (its
// first bytes). err::kNoReaderForFormat for a format that cannot carry annotations.
ErrorCode EmbedAnnotations(std::span<const std::uint8_t> file, const EmbeddedAnnotations& annotations,
                           std::vector<std::uint8_t>* out, std::string* failure = nullptr);

// Embeds the annotations into the file at `path` and replaces it safely.
// *failure as for UpdatedXmpPacket.
ErrorCode WriteAnnotationsIntoFile(const std::string& path, const EmbeddedAnnotations& annotations,
                                   std::string* failure = nullptr);

}  // namespace norvo::metadata
