// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the metadata readers with an image file's bytes: the JPEG segment
// walk with its EXIF, maker notes and thumbnail, the same bytes as a TIFF
// file, and then every text computed from the kept values and a round trip of
// the metadata list's stored form.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "metadata/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace norvo::metadata;
  std::span<const std::uint8_t> bytes(data, size);
  MemorySource source(bytes);
  for (int as_tiff = 0; as_tiff < 2; ++as_tiff) {
    ImageMetadata metadata;
    if (as_tiff) {
      ReadTiffMetadata(source, true, &metadata);
    } else {
      ReadJpegMetadata(source, true, &metadata);
    }
    GpsLatitudeText(metadata.list);
    GpsLongitudeText(metadata.list);
    GpsAltitudeText(metadata.list);
    ColourProfileName(metadata);
    CaptureDateFromExif(GetPlainText(metadata.list, ExifKey(kTagDateTimeOriginal)));
    if (metadata.orientation > 8) std::abort();
    MetadataList back;
    if (MetadataList::parse(metadata.list.serialize(), &back) != 0 || !(back == metadata.list)) std::abort();
  }
  // The stored form itself is read from catalog files.
  MetadataList list;
  if (MetadataList::parse(bytes, &list) == 0) {
    MetadataList back;
    if (MetadataList::parse(list.serialize(), &back) != 0 || !(back == list)) std::abort();
    for (std::uint32_t key = list.nextKey(0), guard = 0; key != 0 && guard < 100000; key = list.nextKey(key), ++guard) {
      std::string text;
      list.getText(key, 1, &text);
    }
  }
  return 0;
}
