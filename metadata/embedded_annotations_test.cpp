// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/embedded_annotations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "metadata/annotation_import.h"
#include "metadata/annotation_test_support.h"
#include "metadata/field_table.h"
#include "metadata/image_file_reader.h"
#include "metadata/jpeg_annotation_writer.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_mapping.h"
#include "xmp/xmp_packet.h"
#include "platform/byte_io.h"
#include "platform/file_spec.h"
#include "xmp/xmp_toolkit.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
using testing::ExiftoolTags;
using testing::Joined;
using testing::SetUtf8;
using testing::Utf8Values;
using Tags = std::map<std::string, std::string>;

std::string Tag(const Tags& tags, const std::string& key) {
  auto it = tags.find(key);
  return it == tags.end() ? std::string() : it->second;
}

// Each tag's value as exiftool read it ("" for a tag it did not find).
void ExpectTags(const Tags& tags, std::initializer_list<std::pair<const char*, std::string>> want) {
  for (const auto& [key, value] : want) EXPECT_EQ(Tag(tags, key), value) << key;
}

// A command's standard output.
std::string CommandOutput(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) out += buffer;
  return out;
}

constexpr FieldId kKeywords = 0x219;
constexpr FieldId kAuthor = 0x250;
constexpr FieldId kCaption = 0x278;
constexpr FieldId kCity = 0x25a;

// SampleBlock's keywords in UTF-8, as exiftool and our readers list them.
const std::string kSampleKeywords = "harbour|boats|Z\xC3\xBCrich trip";

// A scratch folder holding copies of test photos; the originals are never written.
class WriteBackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvo-write-XXXXXX").string();
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
  long FilesInDir() const {
    return std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator());
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

// The IPTC records of a JPEG's Photoshop segment; empty when it has none.
Bytes IptcOf(const std::string& path) {
  const Bytes resources = testing::JpegSegment(testing::ReadBytes(path), 0xED, {});
  auto iim = FindPhotoshopResource(resources, kResourceIptc);
  return iim ? Bytes(iim->begin(), iim->end()) : Bytes{};
}

// What the file's IPTC records alone give, and what all its metadata merged
// gives, read by our own readers.
struct ReadBackBlocks {
  AnnotationBlock iptc;
  AnnotationBlock merged;
};
ReadBackBlocks ReadBack(const std::string& path) {
  const ImageMetadata m = testing::ReadImageFile(path);
  ReadBackBlocks out;
  if (const Bytes* iim = m.list.find(FourCC("iptc"), 1)) {
    out.iptc = IptcRecordsToAnnotations(*iim);
  } else if (auto found = FindPhotoshopResource(m.image_resources, kResourceIptc)) {
    out.iptc = IptcRecordsToAnnotations(*found);
  }
  out.merged = AnnotationsFromMetadata(m.list, m.image_resources);
  return out;
}

// The keywords our own readers find in the file, joined.
std::string KeywordsReadBack(const std::string& path) { return Joined(Utf8Values(kKeywords, ReadBack(path).merged)); }

AnnotationBlock SampleBlock() {
  AnnotationBlock b;
  for (const char* k : {"harbour", "boats", "Z\xFCrich trip"}) SetAnnotationText(kKeywords, 0, k, b, SetMode::kAppend);
  SetAnnotationText(kCaption, 1, "Boats in the harbour at dawn", b, SetMode::kReplace);
  SetAnnotationText(kAuthor, 1, "Ann Example", b, SetMode::kReplace);
  SetAnnotationText(kCity, 1, "Bergen", b, SetMode::kReplace);
  return b;
}

EmbeddedAnnotations Annotations(const AnnotationBlock& block, std::uint8_t label = 0) {
  return {.block = block, .label = label, .iptc_fields = kIptcAnnotationFields};
}

EmbeddedAnnotations Limited(const AnnotationBlock& block) {
  return {.block = block, .iptc_fields = kIptcAnnotationFields, .max_length = FieldMaxLength};
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

TEST_F(WriteBackTest, RewritesIptcAndXmpOfAPhotoThatHasBoth) {
  const std::string path = Copy("BlueSquare.jpg");
  ::chmod(path.c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  Bytes original = testing::ReadBytes(path);
  AnnotationBlock block = SampleBlock();
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(block, 3)), err::kNone);

  Bytes written = testing::ReadBytes(path);
  EXPECT_EQ(ImageData(written), ImageData(original));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(FilesInDir(), 1);

  // The XMP packet kept its size and the other programs' properties.
  EXPECT_EQ(testing::JpegSegment(written, 0xE1, testing::kXmpSegmentPrefix).size(),
            testing::JpegSegment(original, 0xE1, testing::kXmpSegmentPrefix).size());
  // Read back by our own readers.
  AnnotationBlock from_iptc = IptcRecordsToAnnotations(IptcOf(path));
  for (FieldId id : {kKeywords, kCaption, kAuthor, kCity}) {
    EXPECT_EQ(GetAnnotations(id, from_iptc).size(), GetAnnotations(id, block).size()) << id;
  }
  ASSERT_TRUE(GetAnnotation(0x20a, 1, from_iptc));
  EXPECT_EQ(GetAnnotation(0x20a, 1, from_iptc)->text(), "3");

  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Tags tags = ExiftoolTags(path, {"IPTC:all", "XMP:all", "IFD0:Software", "Warning"});
  const Tags before_tags = ExiftoolTags(testing::PhotoPath("BlueSquare.jpg"), {"IFD0:Software"});
  // exiftool reads the records as Windows-1252 and prints UTF-8.
  ExpectTags(tags, {{"IPTC:Keywords", kSampleKeywords}, {"IPTC:Caption-Abstract", "Boats in the harbour at dawn"},
                    {"IPTC:By-line", "Ann Example"}, {"IPTC:City", "Bergen"},
                    {"XMP-dc:Subject", kSampleKeywords}, {"XMP-dc:Description", "Boats in the harbour at dawn"},
                    {"XMP-dc:Creator", "Ann Example"}, {"XMP-photoshop:City", "Bergen"},
                    // Other programs' properties stay; a mapped field the block leaves empty goes.
                    {"XMP-xmpMM:DocumentID", "uuid:9A3B7F52214211DAB6308A7391270C13"},
                    {"XMP-xmp:CreatorTool", "Adobe Photoshop CS2 Macintosh"},
                    {"XMP-tiff:Orientation", "Horizontal (normal)"},
                    {"IFD0:Software", Tag(before_tags, "IFD0:Software")}, {"ExifTool:Warning", ""}});
  EXPECT_EQ(tags.count("XMP-dc:Title"), 0u);
  EXPECT_EQ(Tag(tags, "IPTC:Urgency").substr(0, 1), "3");
}

TEST_F(WriteBackTest, AddsApp13AndXmpSegmentsWhereThereWereNone) {
  const std::string path = Copy("Canon_40D.jpg");
  Bytes original = testing::ReadBytes(path);
  ASSERT_TRUE(testing::JpegSegment(original, 0xED, {}).empty());
  ASSERT_TRUE(testing::JpegSegment(original, 0xE1, testing::kXmpSegmentPrefix).empty());
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(SampleBlock())), err::kNone);
  Bytes written = testing::ReadBytes(path);
  EXPECT_EQ(ImageData(written), ImageData(original));
  // Nothing else moved: the file grew by exactly the two new segments.
  Bytes app13 = testing::JpegSegment(written, 0xED, {});
  Bytes packet = testing::JpegSegment(written, 0xE1, testing::kXmpSegmentPrefix);
  ASSERT_FALSE(packet.empty());
  EXPECT_EQ(written.size(), original.size() + app13.size() + 4 + packet.size() + testing::kXmpSegmentPrefix.size() + 4);
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Tags tags = ExiftoolTags(path, {"IPTC:Keywords", "IPTC:By-line", "XMP-dc:Subject", "XMP-dc:Creator",
                                        "IFD0:Model", "Warning"});
  ExpectTags(tags, {{"IPTC:Keywords", kSampleKeywords}, {"IPTC:By-line", "Ann Example"},
                    {"XMP-dc:Subject", kSampleKeywords}, {"XMP-dc:Creator", "Ann Example"},
                    {"IFD0:Model", "Canon EOS 40D"}, {"ExifTool:Warning", ""}});
}

// The spaces between the packet's last element and its trailer.
std::size_t PacketPadding(const Bytes& packet) {
  std::string_view text(reinterpret_cast<const char*>(packet.data()), packet.size());
  std::size_t trailer = text.rfind("<?xpacket end");
  std::size_t last = text.find_last_not_of(" \n\r\t", trailer - 1);
  return trailer == std::string_view::npos || last == std::string_view::npos ? 0 : trailer - last - 1;
}

TEST_F(WriteBackTest, GrowsTheXmpPacketWhenItsPaddingIsNotEnough) {
  // The faults: such a file was refused with err::kXmpPacketTooSmall; then the packet was
  // widened by twice the block's size, which many short keywords outgrow.
  const std::string path = Copy("Nikon_D70.jpg");
  Bytes original = testing::ReadBytes(path);
  Bytes old_packet = testing::JpegSegment(original, 0xE1, testing::kXmpSegmentPrefix);
  ASSERT_FALSE(old_packet.empty());
  AnnotationBlock block = SampleBlock();
  std::string long_caption(old_packet.size() + 500, 'w');
  SetAnnotationText(kCaption, 1, long_caption, block, SetMode::kReplace);
  for (int i = 0; i < 900; ++i) SetAnnotationText(kKeywords, 0, std::to_string(i % 10), block, SetMode::kAppend);
  std::string failure;
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(block), &failure), err::kNone) << failure;
  Bytes written = testing::ReadBytes(path);
  EXPECT_EQ(ImageData(written), ImageData(original));
  Bytes new_packet = testing::JpegSegment(written, 0xE1, testing::kXmpSegmentPrefix);
  EXPECT_GT(new_packet.size(), old_packet.size());
  EXPECT_GE(PacketPadding(new_packet), 2048u);
  xmp::Result<xmp::XmpPacket> tree =
      xmp::XmpPacket::Parse(std::string_view(reinterpret_cast<const char*>(new_packet.data()), new_packet.size()));
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ(tree.value->get(xmp::kNsPhotoshop, "Caption").value, long_caption);
  EXPECT_EQ(tree.value->arrayItems(xmp::kNsDublinCore, "subject").value->size(), 903u);
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  ExpectTags(ExiftoolTags(path, {"XMP-dc:Description", "Warning"}),
             {{"XMP-dc:Description", long_caption}, {"ExifTool:Warning", ""}});
}

TEST_F(WriteBackTest, EmptiedAnnotationsClearTheFilesValues) {
  const std::string path = Copy("BlueSquare.jpg");
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations({})), err::kNone);
  const Bytes iim = IptcOf(path);
  ASSERT_FALSE(iim.empty());  // the record version stays
  EXPECT_TRUE(IptcRecordsToAnnotations(iim).empty());
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  ExpectTags(ExiftoolTags(path, {"IPTC:all", "XMP:all"}),
             {{"IPTC:Keywords", ""}, {"IPTC:ApplicationRecordVersion", "2"}, {"XMP-dc:Subject", ""},
              {"XMP-dc:Description", ""}, {"XMP-xmp:CreatorTool", "Adobe Photoshop CS2 Macintosh"}});
}

TEST_F(WriteBackTest, FollowsASymbolicLink) {
  const std::string path = Copy("Canon_40D.jpg");
  const std::string link = dir_ + "/link.jpg";
  std::filesystem::create_symlink(path, link);
  ASSERT_EQ(WriteAnnotationsIntoFile(link, Annotations(SampleBlock())), err::kNone);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_FALSE(IptcOf(path).empty());
}

// A small uncompressed greyscale TIFF in the given byte order, with a pixel
// pattern that tells whether the image data survived.
Bytes SmallTiff(bool intel) {
  constexpr std::uint32_t kSide = 8;
  ByteWriter w;
  auto u16 = [&](std::uint16_t v) { intel ? w.u16le(v) : w.u16be(v); };
  auto u32 = [&](std::uint32_t v) { intel ? w.u32le(v) : w.u32be(v); };
  w.u8(intel ? 'I' : 'M');
  w.u8(intel ? 'I' : 'M');
  u16(42);
  u32(8 + kSide * kSide);
  for (std::uint32_t i = 0; i < kSide * kSide; ++i) w.u8(static_cast<std::uint8_t>(i * 4));
  const std::uint16_t entries[][3] = {{256, 3, kSide}, {257, 3, kSide}, {258, 3, 8}, {259, 3, 1},
                                      {262, 3, 1},     {273, 4, 8},     {277, 3, 1}, {278, 3, kSide},
                                      {279, 4, kSide * kSide}};
  u16(static_cast<std::uint16_t>(std::size(entries)));
  for (const auto& e : entries) {
    u16(e[0]);
    u16(e[1]);
    u32(1);
    if (e[1] == 3) {
      u16(e[2]);
      u16(0);
    } else {
      u32(e[2]);
    }
  }
  u32(0);
  return w.take();
}

// A Photoshop file of one 4 x 4 greyscale channel, raw, with an empty or a
// given resource section.
Bytes SmallPhotoshop(const Bytes& resources = {}) {
  ByteWriter w;
  w.tag("8BPS");
  w.u16be(1);
  w.zeros(6);
  w.u16be(1);  // channels
  w.u32be(4);
  w.u32be(4);
  w.u16be(8);
  w.u16be(1);  // greyscale
  w.u32be(0);  // colour-mode data
  w.u32be(static_cast<std::uint32_t>(resources.size()));
  w.bytes(resources);
  w.u32be(0);  // layers and masks
  w.u16be(0);  // raw image data
  for (int i = 0; i < 16; ++i) w.u8(static_cast<std::uint8_t>(i * 16));
  return w.take();
}

TEST_F(WriteBackTest, TiffInBothByteOrdersGetsIptcAndXmpTagsWithoutMovingAnything) {
  for (bool intel : {true, false}) {
    SCOPED_TRACE(intel ? "II" : "MM");
    const std::string path = dir_ + (intel ? "/ii.tif" : "/mm.tif");
    const Bytes original = SmallTiff(intel);
    WriteFile(path, original);
    ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(SampleBlock())), err::kNone);
    Bytes written = testing::ReadBytes(path);
    // Only the header's directory offset changed; the rest was appended.
    ASSERT_GT(written.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin() + 8, original.end(), written.begin() + 8));
    EXPECT_EQ(KeywordsReadBack(path), kSampleKeywords);

    // A second write finds both tags and patches them in place: the keyword
    // keeps its length, so the file does not grow.
    AnnotationBlock block = SampleBlock();
    SetAnnotationText(kKeywords, 1, "Harbour", block, SetMode::kReplace);
    ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(block)), err::kNone);
    EXPECT_EQ(testing::ReadBytes(path).size(), written.size());
    const std::string keywords = "Harbour|boats|Z\xC3\xBCrich trip";
    EXPECT_EQ(KeywordsReadBack(path), keywords);

    if (!testing::HaveExiftool()) continue;
    const Tags tags = ExiftoolTags(path, {"IPTC:Keywords", "XMP-dc:Subject", "XMP-dc:Creator", "IFD0:ImageWidth",
                                          "IFD0:StripOffsets", "Warning"});
    ExpectTags(tags, {{"IPTC:Keywords", keywords}, {"XMP-dc:Subject", keywords}, {"XMP-dc:Creator", "Ann Example"},
                      {"IFD0:ImageWidth", "8"}, {"IFD0:StripOffsets", "8"}, {"ExifTool:Warning", ""}});
  }
}

TEST_F(WriteBackTest, RealTiffKeepsItsXmpPropertiesAndImageData) {
  const std::string path = Copy("Arbitro.tiff");
  const Bytes original = testing::ReadBytes(path);
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(SampleBlock())), err::kNone);
  ASSERT_GE(testing::ReadBytes(path).size(), original.size());
  EXPECT_EQ(KeywordsReadBack(path), kSampleKeywords);
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const Tags before = ExiftoolTags(testing::PhotoPath("Arbitro.tiff"), {"XMP:all", "IFD0:all"});
  const Tags after = ExiftoolTags(path, {"XMP:all", "IFD0:all", "IPTC:By-line", "Warning"});
  for (const auto& [key, value] : before) {
    // Mapped properties change; everything else, other programs' XMP and the
    // image's own tags, reads as before (the toolkit that wrote the packet
    // names itself).
    if (key == "XMP-dc:Subject" || key == "XMP-dc:Description" || key == "XMP-dc:Creator" ||
        key.starts_with("XMP-photoshop:") || key == "XMP-x:XMPToolkit" || key == "IFD0:XMP" ||
        key == "IFD0:IPTC-NAA") {
      continue;
    }
    EXPECT_EQ(Tag(after, key), value) << key;
  }
  ExpectTags(after, {{"IPTC:By-line", "Ann Example"}, {"ExifTool:Warning", ""}});
  // Fault: the IPTC tag was written as UNDEFINED, which exiftool's check
  // names as a non-standard format; it is written as LONG, as editors do.
  const std::string report = CommandOutput("exiftool -validate -warning -a '" + path + "'");
  EXPECT_NE(report.find("Validate"), std::string::npos) << report;
  EXPECT_EQ(report.find("IPTC-NAA"), std::string::npos) << report;
}

TEST_F(WriteBackTest, PhotoshopFileGetsResourcesAndKeepsTheRest) {
  const std::string path = dir_ + "/small.psd";
  const Bytes original = SmallPhotoshop();
  WriteFile(path, original);
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(SampleBlock())), err::kNone);
  Bytes written = testing::ReadBytes(path);
  // The image data at the end is untouched, and the section holds bare
  // resources (no JPEG-style header).
  EXPECT_TRUE(std::equal(original.end() - 22, original.end(), written.end() - 22));
  EXPECT_EQ(std::string(written.begin() + 34, written.begin() + 38), "8BIM");
  EXPECT_EQ(KeywordsReadBack(path), kSampleKeywords);

  // Written again, each resource is replaced rather than added.
  AnnotationBlock block = SampleBlock();
  RemoveAnnotations(kKeywords, block);
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Annotations(block)), err::kNone);
  Bytes again = testing::ReadBytes(path);
  ByteReader r(std::span<const std::uint8_t>(again).subspan(30));
  std::uint32_t length = r.u32be();
  EXPECT_EQ(ReadPhotoshopResources(r.bytes(length)).size(), 2u);
  EXPECT_EQ(KeywordsReadBack(path), "");
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  ExpectTags(ExiftoolTags(path, {"IPTC:By-line", "XMP-dc:Creator", "IPTC:Keywords", "Warning"}),
             {{"IPTC:By-line", "Ann Example"}, {"XMP-dc:Creator", "Ann Example"}, {"IPTC:Keywords", ""},
              {"ExifTool:Warning", ""}});
}

TEST_F(WriteBackTest, RefusesWhatItCannotWriteAndLeavesItAlone) {
  const std::string path = dir_ + "/notes.txt";
  { std::ofstream(path) << "not a picture\n"; }
  Bytes original = testing::ReadBytes(path);
  EXPECT_EQ(WriteAnnotationsIntoFile(path, Annotations(SampleBlock())), err::kNoReaderForFormat);
  EXPECT_EQ(testing::ReadBytes(path), original);
  EXPECT_EQ(WriteAnnotationsIntoFile(dir_ + "/missing.jpg", Annotations({})), err::kFileNotFound);
  EXPECT_EQ(FilesInDir(), 1);
  // Damaged files: a JPEG cut inside its metadata segments, a TIFF whose
  // directory lies past the end, a Photoshop file whose resource section is
  // longer than the file.
  Bytes cut = testing::ReadBytes(testing::PhotoPath("BlueSquare.jpg"));
  cut.resize(3000);
  Bytes out;
  EXPECT_EQ(EmbedAnnotationsInJpeg(cut, Annotations(SampleBlock()), &out), -8969);
  Bytes tiff = SmallTiff(true);
  tiff[4] = 0xF0;
  EXPECT_EQ(EmbedAnnotations(tiff, Annotations(SampleBlock()), &out), err::kParam);
  Bytes psd = SmallPhotoshop();
  psd[33] = 0x40;
  EXPECT_EQ(EmbedAnnotations(psd, Annotations(SampleBlock()), &out), err::kParam);
  EXPECT_TRUE(out.empty());
}

TEST_F(WriteBackTest, AnUnreadablePacketLeavesTheFileAloneAndSaysWhy) {
  const std::string path = Copy("BlueSquare.jpg");
  Bytes original = testing::ReadBytes(path);
  // Break the packet's XML without changing any length.
  const std::string_view marker = "<rdf:RDF";
  auto at = std::search(original.begin(), original.end(), marker.begin(), marker.end());
  ASSERT_NE(at, original.end());
  *(at + 1) = '!';
  WriteFile(path, original);
  std::string failure;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(WriteAnnotationsIntoFile(path, Annotations(SampleBlock()), &failure), err::kXmpUnreadable);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(failure.empty());
  EXPECT_EQ(testing::ReadBytes(path), original);
}

// --- text in every script ----------------------------------------------------

struct ScriptSample {
  const char* name;
  std::string text;  // UTF-8
};
const ScriptSample kScripts[] = {
    {"Cyrillic", "Привет, мир"},
    {"Greek", "Καλημέρα κόσμε"},
    {"Japanese", "東京の夜景"},
    {"Arabic", "مرحبا بالعالم"},
    {"emoji", "📷 👍🏽 👨‍👩‍👧"},
    {"combining marks", "Cafe\u0301 n\u0303o"},
};

TEST_F(WriteBackTest, EveryScriptReachesIptcAndXmpOfEachFormat) {
  // The fault: values Windows-1252 cannot hold were written into the IPTC
  // records as underscores, and read back beside the XMP values as extra
  // keywords.
  AnnotationBlock block;
  Strings keywords;
  std::string caption;
  for (const ScriptSample& s : kScripts) {
    SetUtf8(kKeywords, 0, s.text, block, SetMode::kAppend);
    keywords.push_back(s.text);
    caption += (caption.empty() ? "" : " / ") + s.text;
  }
  SetUtf8(kCaption, 1, caption, block, SetMode::kReplace);
  SetUtf8(kCity, 1, "Zürich", block, SetMode::kReplace);

  const std::string jpeg = Copy("Canon_40D.jpg");
  const std::string tiff = dir_ + "/small.tif";
  WriteFile(tiff, SmallTiff(false));
  const std::string psd = dir_ + "/small.psd";
  WriteFile(psd, SmallPhotoshop());
  for (const std::string& path : {jpeg, tiff, psd}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(WriteAnnotationsIntoFile(path, Limited(block)), err::kNone);
    ReadBackBlocks back = ReadBack(path);
    for (const AnnotationBlock* b : {&back.iptc, &back.merged}) {
      EXPECT_EQ(Utf8Values(kKeywords, *b), keywords);
      EXPECT_EQ(Utf8Values(kCaption, *b), Strings{caption});
      EXPECT_EQ(Utf8Values(kCity, *b), Strings{"Zürich"});
    }
    if (!testing::HaveExiftool()) continue;
    const Tags tags = ExiftoolTags(path,
                                   {"IPTC:CodedCharacterSet", "IPTC:Keywords", "IPTC:Caption-Abstract", "IPTC:City",
                                    "XMP-dc:Subject", "XMP-dc:Description", "XMP-photoshop:City", "Warning"},
                                   "UTF8");
    ExpectTags(tags, {{"IPTC:CodedCharacterSet", "UTF8"}, {"IPTC:Keywords", Joined(keywords)},
                      {"IPTC:Caption-Abstract", caption}, {"IPTC:City", "Zürich"},
                      {"XMP-dc:Subject", Joined(keywords)}, {"XMP-dc:Description", caption},
                      {"XMP-photoshop:City", "Zürich"}, {"ExifTool:Warning", ""}});
  }

  // Text Windows-1252 holds keeps the 8-bit records, with no declaration.
  AnnotationBlock latin;
  SetUtf8(kCity, 1, "Zürich", latin, SetMode::kReplace);
  const std::string fresh = dir_ + "/latin.jpg";
  WriteFile(fresh, testing::ReadBytes(testing::PhotoPath("Canon_40D.jpg")));
  ASSERT_EQ(WriteAnnotationsIntoFile(fresh, Limited(latin)), err::kNone);
  EXPECT_EQ(IptcOf(fresh), (Bytes{0x1C, 2, 0, 0, 2, 0, 2, 0x1C, 2, 90, 0, 6, 'Z', 0xFC, 'r', 'i', 'c', 'h'}));
}

TEST_F(WriteBackTest, LongValuesAreCutInIptcOnCharactersAndStayWholeInXmp) {
  std::string keyword;  // 30 characters, 90 bytes
  for (int i = 0; i < 6; ++i) keyword += "東京の夜景";
  std::string caption;  // 700 characters, 2100 bytes
  for (int i = 0; i < 140; ++i) caption += "東京の夜景";
  AnnotationBlock block;
  SetUtf8(kKeywords, 0, keyword, block, SetMode::kAppend);
  SetUtf8(kKeywords, 0, "東京", block, SetMode::kAppend);  // begins the same, a keyword of its own
  SetUtf8(kCaption, 1, caption, block, SetMode::kReplace);
  const std::string path = Copy("Canon_40D.jpg");
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Limited(block)), err::kNone);

  ReadBackBlocks back = ReadBack(path);
  // The records hold what fits in 63 and 2000 bytes: 21 and 666 characters.
  const std::string keyword_cut = keyword.substr(0, 63);
  const std::string caption_cut = caption.substr(0, 1998);
  EXPECT_EQ(Utf8Values(kKeywords, back.iptc), (Strings{keyword_cut, "東京"}));
  EXPECT_EQ(Utf8Values(kCaption, back.iptc), Strings{caption_cut});
  // Merged with the XMP, each value is whole and there once.
  EXPECT_EQ(Utf8Values(kKeywords, back.merged), (Strings{keyword, "東京"}));
  EXPECT_EQ(Utf8Values(kCaption, back.merged), Strings{caption});

  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  ExpectTags(ExiftoolTags(path, {"IPTC:Keywords", "IPTC:Caption-Abstract", "XMP-dc:Subject", "XMP-dc:Description"},
                          "UTF8"),
             {{"IPTC:Keywords", keyword_cut + "|東京"}, {"IPTC:Caption-Abstract", caption_cut},
              {"XMP-dc:Subject", keyword + "|東京"}, {"XMP-dc:Description", caption}});
}

// exiftool's IPTC tags in file order, one "[Group] Tag: value" line each,
// values as numbers.
Strings ExiftoolIptcInOrder(const std::string& path) {
  Strings lines;
  std::string out = CommandOutput("exiftool -IPTC:all -a -G1 -s -n -charset iptc=cp1252 '" + path + "' 2>/dev/null");
  for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(out.substr(at, end - at));
  }
  return lines;
}

TEST_F(WriteBackTest, IptcTheUserDidNotChangeStaysByteForByteInItsOrder) {
  // The fault: the records were rebuilt from the annotation fields alone, so
  // subject reference, time created, country code, the envelope and unknown
  // data sets were dropped, and an untouched 32-character transmission
  // reference was cut to the field's 31.
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  const std::string path = Copy("Canon_40D.jpg");
  const std::string reference = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  const std::string command =
      "exiftool -q -overwrite_original -IPTC:Destination=Desk -IPTC:SubjectReference=IPTC:04000000 "
      "-IPTC:Keywords=one -IPTC:Keywords=two -IPTC:TimeCreated=10:11:12+01:00 -IPTC:City=Bergen "
      "-IPTC:Caption-Abstract='Old caption' -IPTC:Country-PrimaryLocationCode=NOR "
      "-IPTC:OriginalTransmissionReference=" + reference + " -IPTC:ObjectPreviewFileFormat#=11 '" + path + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes old_iim = IptcOf(path);
  const Strings tags_before = ExiftoolIptcInOrder(path);
  ASSERT_GE(tags_before.size(), 9u);

  // The user's annotations as the program makes them from the file; only the
  // caption changes.
  AnnotationBlock block = ReadBack(path).merged;
  ASSERT_EQ(Utf8Values(0x267, block), Strings{reference});
  SetAnnotationText(kCaption, 1, "New caption", block, SetMode::kReplace);
  ASSERT_EQ(WriteAnnotationsIntoFile(path, Limited(block)), err::kNone);

  // Our reader: the same data sets in the same order, each byte for byte,
  // but for the caption, which kept its place.
  const std::vector<IimDataSet> before = ReadIimDataSets(old_iim);
  const Bytes new_iim = IptcOf(path);
  const std::vector<IimDataSet> after = ReadIimDataSets(new_iim);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(after[i].record, before[i].record);
    ASSERT_EQ(after[i].data_set, before[i].data_set);
    if (before[i].record == 2 && before[i].data_set == 120) {
      EXPECT_EQ(std::string(after[i].value.begin(), after[i].value.end()), "New caption");
    } else {
      EXPECT_TRUE(std::ranges::equal(after[i].bytes, before[i].bytes));
    }
  }
  // exiftool: every tag as before and in the same order, the caption new.
  Strings tags_after = ExiftoolIptcInOrder(path);
  ASSERT_EQ(tags_after.size(), tags_before.size());
  for (std::size_t i = 0; i < tags_before.size(); ++i) {
    std::string want = tags_before[i];
    if (std::size_t at = want.find(": Old caption"); at != std::string::npos) want.replace(at + 2, 11, "New caption");
    EXPECT_EQ(tags_after[i], want);
  }
}

}  // namespace
}  // namespace norvo::metadata
