// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/annotation_import.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/photoshop_resources.h"
#include "metadata/xmp_mapping.h"
#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {
namespace {

constexpr std::uint32_t kIptcKey = FourCC("iptc");
constexpr std::uint32_t kXmpKey = FourCC("XMP ");

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

AnnotationBlock AnnotationsFromMetadata(const MetadataList& list, std::span<const std::uint8_t> image_resources) {
  FileMetadata file;
  if (const std::vector<std::uint8_t>* iptc = list.find(kIptcKey, 1); iptc != nullptr) {
    file.iptc = *iptc;
  } else if (std::optional<std::span<const std::uint8_t>> found = FindPhotoshopResource(image_resources, kResourceIptc)) {
    file.iptc = *found;
  }

  std::vector<MetadataText> texts;
  for (std::uint32_t key = list.nextKey(0); key != 0; key = list.nextKey(key)) {
    if (FieldForMetadataText(key) == 0) continue;
    for (int i = 1; i <= list.count(key); ++i) {
      MetadataText text{key, {}};
      // The list keeps its texts in Windows-1252.
      std::string stored;
      if (list.getText(key, i, &stored) != err::kNone) continue;
      text.text = Windows1252ToUtf8(stored);
      texts.push_back(std::move(text));
    }
  }
  file.texts = texts;

  std::vector<std::string_view> packets;
  for (int i = 1; i <= list.count(kXmpKey); ++i) packets.push_back(AsText(*list.find(kXmpKey, i)));
  if (packets.empty()) {
    if (std::optional<std::span<const std::uint8_t>> found = FindPhotoshopResource(image_resources, kResourceXmp)) {
      packets.push_back(AsText(*found));
    }
  }
  file.xmp = packets;
  return MergeFileMetadata(file);
}

}  // namespace norvo::metadata
