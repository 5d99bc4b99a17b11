// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/jpeg_annotation_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_mapping.h"
#include "xmp/xmp_packet.h"
#include "xmp/xmp_toolkit.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
using testing::ExiftoolTags;
using Tags = std::map<std::string, std::string>;

std::string Tag(const Tags& tags, const std::string& key) {
  auto it = tags.find(key);
  return it == tags.end() ? std::string() : it->second;
}

constexpr FieldId kKeywords = 0x219;
constexpr FieldId kAuthor = 0x250;
constexpr FieldId kCaption = 0x278;
constexpr FieldId kCity = 0x25a;

// A scratch folder holding copies of test photos; the originals are never written.
class JpegWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvo-jpeg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Copy(const std::string& name) {
    std::string to = dir_ + "/" + name;
    std::filesystem::copy_file(testing::PhotoPath(name), to);
    std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return to;
  }

  std::string dir_;
};

// Everything from the start of scan on: the image data.
Bytes ImageData(const Bytes& jpeg) {
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA)) {
    at += 2 + ((std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3]);
  }
  return Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(std::min(at, jpeg.size())), jpeg.end());
}

AnnotationBlock SampleBlock() {
  AnnotationBlock b;
  for (const char* k : {"harbour", "boats", "Z\xFCrich trip"}) SetAnnotationText(kKeywords, 0, k, b, SetMode::kAppend);
  SetAnnotationText(kCaption, 1, "Boats in the harbour at dawn", b, SetMode::kReplace);
  SetAnnotationText(kAuthor, 1, "Ann Example", b, SetMode::kReplace);
  SetAnnotationText(kCity, 1, "Bergen", b, SetMode::kReplace);
  return b;
}

JpegAnnotations Annotations(const AnnotationBlock& block, std::uint8_t label = 0) {
  return {.block = block, .label = label, .iptc_fields = kIptcAnnotationFields};
}

TEST_F(JpegWriteTest, RewritesIptcAndXmpOfAPhotoThatHasBoth) {
  const std::string path = Copy("BlueSquare.jpg");
  ::chmod(path.c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  Bytes original = testing::ReadBytes(path);
  AnnotationBlock block = SampleBlock();
  ASSERT_EQ(WriteAnnotationsIntoJpegFile(path, Annotations(block, 3)), err::kNone);

  Bytes written = testing::ReadBytes(path);
  EXPECT_EQ(ImageData(written), ImageData(original));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);

  // The XMP packet kept its size and the other programs' properties.
  Bytes old_packet = testing::JpegSegment(original, 0xE1, testing::kXmpSegmentPrefix);
  Bytes new_packet = testing::JpegSegment(written, 0xE1, testing::kXmpSegmentPrefix);
  EXPECT_EQ(new_packet.size(), old_packet.size());
  // Read back by our own readers.
  const Bytes resources = testing::JpegSegment(written, 0xED, {});
  std::optional<std::span<const std::uint8_t>> iim = FindPhotoshopResource(resources, kResourceIptc);
  ASSERT_TRUE(iim.has_value());
  AnnotationBlock from_iptc = IptcRecordsToAnnotations(*iim);
  for (FieldId id : {kKeywords, kCaption, kAuthor, kCity}) {
    EXPECT_EQ(GetAnnotations(id, from_iptc).size(), GetAnnotations(id, block).size()) << id;
  }
  EXPECT_EQ(GetAnnotation(0x20a, 1, from_iptc)->text(), "3");

  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Tags tags = ExiftoolTags(path, {"IPTC:all", "XMP:all", "IFD0:Software", "Warning"});
  const Tags before_tags = ExiftoolTags(testing::PhotoPath("BlueSquare.jpg"), {"IFD0:Software"});
  // exiftool reads the records as Windows-1252 and prints UTF-8.
  EXPECT_EQ(Tag(tags, "IPTC:Keywords"), "harbour|boats|Z\xC3\xBCrich trip");
  EXPECT_EQ(Tag(tags, "IPTC:Caption-Abstract"), "Boats in the harbour at dawn");
  EXPECT_EQ(Tag(tags, "IPTC:By-line"), "Ann Example");
  EXPECT_EQ(Tag(tags, "IPTC:City"), "Bergen");
  EXPECT_EQ(Tag(tags, "IPTC:Urgency").substr(0, 1), "3");
  EXPECT_EQ(Tag(tags, "XMP-dc:Subject"), "harbour|boats|Z\xC3\xBCrich trip");
  EXPECT_EQ(Tag(tags, "XMP-dc:Description"), "Boats in the harbour at dawn");
  EXPECT_EQ(Tag(tags, "XMP-dc:Creator"), "Ann Example");
  EXPECT_EQ(Tag(tags, "XMP-photoshop:City"), "Bergen");
  // Other programs' properties stay; a mapped field the block leaves empty goes.
  EXPECT_EQ(Tag(tags, "XMP-xmpMM:DocumentID"), "uuid:9A3B7F52214211DAB6308A7391270C13");
  EXPECT_EQ(Tag(tags, "XMP-xmp:CreatorTool"), "Adobe Photoshop CS2 Macintosh");
  EXPECT_EQ(tags.count("XMP-dc:Title"), 0u);
  EXPECT_EQ(Tag(tags, "XMP-tiff:Orientation"), "Horizontal (normal)");
  EXPECT_EQ(Tag(tags, "IFD0:Software"), Tag(before_tags, "IFD0:Software"));
  EXPECT_EQ(Tag(tags, "ExifTool:Warning"), "");
}

TEST_F(JpegWriteTest, AddsAnApp13SegmentWhereThereWasNone) {
  const std::string path = Copy("Canon_40D.jpg");
  Bytes original = testing::ReadBytes(path);
  ASSERT_TRUE(testing::JpegSegment(original, 0xED, {}).empty());
  AnnotationBlock block = SampleBlock();
  ASSERT_EQ(WriteAnnotationsIntoJpegFile(path, Annotations(block)), err::kNone);
  Bytes written = testing::ReadBytes(path);
  EXPECT_EQ(ImageData(written), ImageData(original));
  // Nothing else moved: the file grew by exactly the new segment.
  Bytes app13 = testing::JpegSegment(written, 0xED, {});
  EXPECT_EQ(written.size(), original.size() + app13.size() + 4);
  // No XMP was there and none is made.
  EXPECT_TRUE(testing::JpegSegment(written, 0xE1, testing::kXmpSegmentPrefix).empty());
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Tags tags = ExiftoolTags(path, {"IPTC:Keywords", "IPTC:By-line", "IFD0:Model", "Warning"});
  EXPECT_EQ(Tag(tags, "IPTC:Keywords"), "harbour|boats|Z\xC3\xBCrich trip");
  EXPECT_EQ(Tag(tags, "IPTC:By-line"), "Ann Example");
  EXPECT_EQ(Tag(tags, "IFD0:Model"), "Canon EOS 40D");
  EXPECT_EQ(Tag(tags, "ExifTool:Warning"), "");
}

TEST_F(JpegWriteTest, GrowsTheXmpPacketWhenItsPaddingIsNotEnough) {
  const std::string path = Copy("Nikon_D70.jpg");
  Bytes original = testing::ReadBytes(path);
  Bytes old_packet = testing::JpegSegment(original, 0xE1, testing::kXmpSegmentPrefix);
  ASSERT_FALSE(old_packet.empty());
  AnnotationBlock block = SampleBlock();
  std::string long_caption(old_packet.size() + 500, 'w');
  SetAnnotationText(kCaption, 1, long_caption, block, SetMode::kReplace);
  ASSERT_EQ(WriteAnnotationsIntoJpegFile(path, Annotations(block)), err::kNone);
  Bytes written = testing::ReadBytes(path);
  EXPECT_EQ(ImageData(written), ImageData(original));
  Bytes new_packet = testing::JpegSegment(written, 0xE1, testing::kXmpSegmentPrefix);
  EXPECT_GT(new_packet.size(), old_packet.size());
  xmp::Result<xmp::XmpPacket> tree =
      xmp::XmpPacket::Parse(std::string_view(reinterpret_cast<const char*>(new_packet.data()), new_packet.size()));
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ(tree.value->get(xmp::kNsPhotoshop, "Caption").value, long_caption);
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Tags tags = ExiftoolTags(path, {"XMP-dc:Description", "Warning"});
  EXPECT_EQ(Tag(tags, "XMP-dc:Description"), long_caption);
  EXPECT_EQ(Tag(tags, "ExifTool:Warning"), "");
}

TEST_F(JpegWriteTest, EmptiedAnnotationsClearTheFilesValues) {
  const std::string path = Copy("BlueSquare.jpg");
  ASSERT_EQ(WriteAnnotationsIntoJpegFile(path, Annotations({})), err::kNone);
  Bytes written = testing::ReadBytes(path);
  const Bytes resources = testing::JpegSegment(written, 0xED, {});
  std::optional<std::span<const std::uint8_t>> iim = FindPhotoshopResource(resources, kResourceIptc);
  ASSERT_TRUE(iim.has_value());
  EXPECT_TRUE(IptcRecordsToAnnotations(*iim).empty());
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Tags tags = ExiftoolTags(path, {"IPTC:all", "XMP:all"});
  EXPECT_EQ(Tag(tags, "IPTC:Keywords"), "");
  EXPECT_EQ(Tag(tags, "IPTC:ApplicationRecordVersion"), "2");
  EXPECT_EQ(Tag(tags, "XMP-dc:Subject"), "");
  EXPECT_EQ(Tag(tags, "XMP-dc:Description"), "");
  EXPECT_EQ(Tag(tags, "XMP-xmp:CreatorTool"), "Adobe Photoshop CS2 Macintosh");
}

TEST_F(JpegWriteTest, RefusesWhatIsNotAJpegAndLeavesItAlone) {
  const std::string path = Copy("Arbitro.tiff");
  Bytes original = testing::ReadBytes(path);
  EXPECT_EQ(WriteAnnotationsIntoJpegFile(path, Annotations(SampleBlock())), -8969);
  EXPECT_EQ(testing::ReadBytes(path), original);
  // A JPEG cut inside its metadata segments is refused too.
  Bytes cut = testing::ReadBytes(testing::PhotoPath("BlueSquare.jpg"));
  cut.resize(3000);
  Bytes out;
  EXPECT_EQ(EmbedAnnotationsInJpeg(cut, Annotations(SampleBlock()), &out), -8969);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(WriteAnnotationsIntoJpegFile(dir_ + "/missing.jpg", Annotations({})), err::kFileNotFound);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);
}

TEST_F(JpegWriteTest, FollowsASymbolicLink) {
  const std::string path = Copy("Canon_40D.jpg");
  const std::string link = dir_ + "/link.jpg";
  std::filesystem::create_symlink(path, link);
  ASSERT_EQ(WriteAnnotationsIntoJpegFile(link, Annotations(SampleBlock())), err::kNone);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_FALSE(testing::JpegSegment(testing::ReadBytes(path), 0xED, {}).empty());
}

}  // namespace
}  // namespace norvo::metadata
