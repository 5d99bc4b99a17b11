// SPDX-License-Identifier: GPL-3.0-or-later
// A new item's annotation block from what the file readers collected: the
// item's metadata list (IPTC records, metadata texts, XMP packets) and, for
// JPEG and Photoshop files, the image-resource block.
#pragma once

#include <cstdint>
#include <span>

#include "metadata/annotation_block.h"
#include "metadata/metadata_list.h"

namespace norvo::metadata {

// IPTC: the list's first 'iptc' item, else resource 0x0404 of the resource
// block. Texts: every text item whose code feeds an annotation, in the
// list's order. XMP: every 'XMP ' item, then resource 0x0424 when the list
// holds no packet. Merged in the order of MergeFileMetadata.
AnnotationBlock AnnotationsFromMetadata(const MetadataList& list, std::span<const std::uint8_t> image_resources);

}  // namespace norvo::metadata
