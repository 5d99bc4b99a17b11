// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/annotation_import.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"
#include "metadata/exif_reader.h"
#include "metadata/iptc_records.h"
#include "metadata/photoshop_resources.h"
#include "platform/file_spec.h"

namespace norvo::metadata {
namespace {

using Strings = std::vector<std::string>;

constexpr FieldId kProduct = 0x205;
constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCaption = 0x278;

std::string Joined(FieldId id, std::span<const std::uint8_t> block) {
  std::string out;
  for (const AnnotationValue& v : GetAnnotations(id, block)) out += (out.empty() ? "" : "|") + v.utf8();
  return out;
}

TEST(AnnotationsFromMetadata, RealPhotoThroughTheFileReader) {
  const std::string path = testing::PhotoPath("BlueSquare.jpg");
  FileSpec spec;
  ASSERT_EQ(MakeFileSpec(path, spec), err::kNone);
  ImageMetadata metadata;
  ASSERT_EQ(ReadImageMetadata(spec, false, &metadata), err::kNone);
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

// A copy of a test photo that has no IPTC or XMP of its own, in a folder of
// its own, written by exiftool.
class ExiftoolWrittenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    std::string pattern = (std::filesystem::temp_directory_path() / "norvo-import-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/photo.jpg";
    std::filesystem::copy_file(testing::PhotoPath("Canon_40D.jpg"), path_);
    ::chmod(path_.c_str(), 0600);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  AnnotationBlock Read() {
    FileSpec spec;
    ImageMetadata metadata;
    EXPECT_EQ(MakeFileSpec(path_, spec), err::kNone);
    EXPECT_EQ(ReadImageMetadata(spec, false, &metadata), err::kNone);
    EXPECT_EQ(metadata.list.count(FourCC("XMP ")), 0);  // the IPTC records are all there is
    return AnnotationsFromMetadata(metadata.list, metadata.image_resources);
  }

  std::string dir_, path_;
};

TEST_F(ExiftoolWrittenTest, RecordsDeclaringUtf8AreReadAsUtf8) {
  // The fault: with 1:90 declaring UTF-8, "Café crème" was taken as 8-bit
  // text and read as "CafÃ© crÃ¨me".
  ASSERT_TRUE(testing::RunExiftool("-overwrite_original -charset iptc=UTF8 -IPTC:CodedCharacterSet=UTF8 "
                                   "'-IPTC:Caption-Abstract=Café crème' '-IPTC:City=Zürich' "
                                   "'-IPTC:Keywords=Привет' '-IPTC:Keywords=東京' '-IPTC:Keywords=e\u0301' '" +
                                   path_ + "'"));
  ASSERT_EQ(testing::ExiftoolTags(path_, {"IPTC:CodedCharacterSet"})["IPTC:CodedCharacterSet"], "UTF8");
  AnnotationBlock block = Read();
  EXPECT_EQ(Joined(kCaption, block), "Café crème");
  EXPECT_EQ(Joined(0x25a, block), "Zürich");
  EXPECT_EQ(Joined(kKeywords, block), "Привет|東京|e\u0301");
  // Kept in the block's Windows-1252 where that holds the text.
  EXPECT_EQ(GetAnnotation(kCaption, 1, block)->text(), "Caf\xE9 cr\xE8me");
}

TEST_F(ExiftoolWrittenTest, RecordsWithoutADeclarationAreWindows1252) {
  ASSERT_TRUE(testing::RunExiftool("-overwrite_original -charset iptc=cp1252 "
                                   "'-IPTC:Caption-Abstract=Café – 5 €' '" + path_ + "'"));
  auto tags = testing::ExiftoolTags(path_, {"IPTC:CodedCharacterSet", "IPTC:Caption-Abstract"});
  ASSERT_EQ(tags.count("IPTC:CodedCharacterSet"), 0u);
  AnnotationBlock block = Read();
  EXPECT_EQ(Joined(kCaption, block), "Café – 5 €");
  EXPECT_EQ(Joined(kCaption, block), tags["IPTC:Caption-Abstract"]);
  EXPECT_EQ(GetAnnotation(kCaption, 1, block)->text(), "Caf\xE9 \x96 5 \x80");
}

}  // namespace
}  // namespace norvo::metadata
