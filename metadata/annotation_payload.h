// SPDX-License-Identifier: GPL-3.0-or-later
// The two pieces that every format's annotation writer stores: the IIM
// records (as IPTC) and an XMP packet, both made from an item's annotation
// block. The writers (jpeg_annotation_writer, tiff_annotation_writer,
// photoshop_file) build on this; embedded_annotations picks the writer.
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

}  // namespace norvo::metadata
