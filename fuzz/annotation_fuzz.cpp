// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the annotation readers with bytes from files and catalogs: an IPTC
// record stream, a Photoshop image-resource block, an XMP packet, and an
// item's stored annotation block, then writes what was read back out.
#include <cstdint>
#include <span>
#include <string_view>

#include "metadata/annotation_block.h"
#include "metadata/iptc_records.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_mapping.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace norvo::metadata;
  std::span<const std::uint8_t> bytes(data, size);

  AnnotationBlock from_iptc = IptcRecordsToAnnotations(bytes);
  BuildIptcRecords(from_iptc, 0, kIptcAnnotationFields, [](FieldId) { return 64; });

  for (const auto& resource : ReadPhotoshopResources(bytes)) {
    if (resource.id == 0x0404) IptcRecordsToAnnotations(resource.data);
  }

  AnnotationBlock from_xmp;
  std::string_view packet(reinterpret_cast<const char*>(data), size);
  (void)ReadXmpIntoAnnotations(std::span(&packet, 1), from_xmp);  // any result: crashes are the test

  // A stored block, as an item's Annotations part holds it.
  for (const auto& entry : AnnotationEntries(bytes)) {
    GetAnnotations(static_cast<FieldId>((entry.record == 3 ? 0x300 : 0x200) + entry.data_set), bytes);
  }
  AnnotationsToMetadataTexts(bytes);
  return 0;
}
