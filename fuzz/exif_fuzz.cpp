// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the metadata readers with an image file's bytes: the JPEG segment
// walk with its EXIF, maker notes and thumbnail, the same bytes as a TIFF
// file, a Photoshop file, a PNG, a WebP and a HEIF file, and then every field
// value and text computed
// from the kept values and a round trip of the metadata list's stored form.
// Last, annotations are embedded into the bytes as the annotate command
// does for a user's (possibly damaged) file.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "metadata/embedded_annotations.h"
#include "metadata/exif_dates.h"
#include "metadata/exif_reader.h"
#include "metadata/gps_text.h"
#include "metadata/image_containers.h"
#include "metadata/list_keys.h"
#include "metadata/metadata_fields.h"
#include "metadata/photoshop_file.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_tags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace norvo::metadata;
  std::span<const std::uint8_t> bytes(data, size);
  MemorySource source(bytes);
  for (int as = 0; as < 6; ++as) {
    ImageMetadata metadata;
    switch (as) {
      // Any result: crashes and out-of-bounds reads are what is looked for.
      case 0: (void)ReadJpegMetadata(source, true, &metadata); break;
      case 1: (void)ReadTiffMetadata(source, true, &metadata); break;
      case 2: (void)ReadPhotoshopMetadata(source, &metadata); break;
      case 3: (void)ReadPngMetadata(source, true, &metadata); break;
      case 4: (void)ReadWebpMetadata(source, true, &metadata); break;
      default: (void)ReadHeifMetadata(source, true, &metadata); break;
    }
    MetadataFieldsOf(metadata.list);
    GpsLatitudeText(metadata.list);
    GpsLongitudeText(metadata.list);
    GpsAltitudeText(metadata.list);
    ColourProfileName(metadata);
    CaptureDateFromExif(GetPlainText(metadata.list, ExifKey(kTagDateTimeOriginal)));
    if (metadata.orientation > 8) std::abort();
    MetadataList back;
    if (MetadataList::parse(metadata.list.serialize(), &back) != 0 || !(back == metadata.list)) std::abort();
  }
  {
    AnnotationBlock block;
    SetAnnotationText(0x219, 0, "fuzz", block, SetMode::kAppend);
    SetAnnotationText(0x278, 1, "caption", block, SetMode::kReplace);
    EmbeddedAnnotations annotations{.block = block, .label = 2, .iptc_fields = kIptcAnnotationFields};
    std::vector<std::uint8_t> out;
    (void)EmbedAnnotations(bytes, annotations, &out);  // any result: crashes are the test
  }
  // The stored form itself is read from catalog files.
  MetadataList list;
  if (MetadataList::parse(bytes, &list) == 0) {
    MetadataList back;
    if (MetadataList::parse(list.serialize(), &back) != 0 || !(back == list)) std::abort();
    for (std::uint32_t key = list.nextKey(0), guard = 0; key != 0 && guard < 100000; key = list.nextKey(key), ++guard) {
      std::string text;
      (void)list.getText(key, 1, &text);
    }
  }
  return 0;
}
