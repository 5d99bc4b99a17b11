// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/annotation_import.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"
#include "metadata/image_file_reader.h"
#include "metadata/iptc_records.h"
#include "metadata/list_keys.h"
#include "metadata/photoshop_resources.h"
#include "platform/file_spec.h"

namespace norvo::metadata {
namespace {

using Strings = std::vector<std::string>;

constexpr FieldId kProduct = 0x205;
constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCaption = 0x278;

std::string Joined(FieldId id, std::span<const std::uint8_t> block) {
  return testing::Joined(testing::Utf8Values(id, block));
}

TEST(AnnotationsFromMetadata, RealPhotoThroughTheFileReader) {
  const std::string path = testing::PhotoPath("BlueSquare.jpg");
  const ImageMetadata metadata = testing::ReadImageFile(path);
  AnnotationBlock block = AnnotationsFromMetadata(metadata.list, metadata.image_resources);
  // IPTC and XMP agree in this file; the XMP keywords add nothing new.
  EXPECT_EQ(CountAnnotations(kKeywords, block), 5);
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  auto tags = testing::ExiftoolTags(path, {"IPTC:Keywords", "XMP-dc:Description", "XMP-dc:Title"});
  EXPECT_EQ(Joined(kKeywords, block), tags["IPTC:Keywords"]);
  EXPECT_EQ(Joined(kCaption, block), tags["XMP-dc:Description"]);
  EXPECT_EQ(Joined(kProduct, block), tags["XMP-dc:Title"]);
}

TEST(AnnotationsFromMetadata, SourcesAndTheirFallbacks) {
  AnnotationBlock iptc_block;
  SetAnnotationText(kKeywords, 0, "from list", iptc_block, SetMode::kAppend);
  const FieldId ids[] = {kKeywords};
  std::vector<std::uint8_t> iim = BuildIptcRecords(iptc_block, 0, ids);
  AnnotationBlock resource_block;
  SetAnnotationText(kKeywords, 0, "from resources", resource_block, SetMode::kAppend);
  std::vector<std::uint8_t> resources;
  ASSERT_EQ(PutPhotoshopResource(resources, kResourceIptc, BuildIptcRecords(resource_block, 0, ids)), err::kNone);
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                          "<rdf:Description rdf:about='' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' "
                          "photoshop:City='Resource city'/></rdf:RDF></x:xmpmeta>";
  ASSERT_EQ(PutPhotoshopResource(resources, kResourceXmp,
                                 std::span(reinterpret_cast<const std::uint8_t*>(xmp.data()), xmp.size())),
            err::kNone);

  MetadataList list;
  list.addText(TextKey("key"), "text one, text two");
  list.addText(TextKey("mak"), "Camera maker");  // stays in the list, not an annotation
  AnnotationBlock without_iptc_item = AnnotationsFromMetadata(list, resources);
  EXPECT_EQ(Joined(kKeywords, without_iptc_item), "from resources|text one|text two");
  EXPECT_EQ(Joined(0x25a, without_iptc_item), "Resource city");

  list.add(FourCC("iptc"), iim);
  list.add(FourCC("XMP "), std::span(reinterpret_cast<const std::uint8_t*>(xmp.data()), 10));  // unreadable
  AnnotationBlock with_items = AnnotationsFromMetadata(list, resources);
  EXPECT_EQ(Joined(kKeywords, with_items), "from list|text one|text two");
  EXPECT_EQ(CountAnnotations(0x25a, with_items), 0);  // the list's packet replaces the resource's
}

}  // namespace
}  // namespace norvo::metadata
