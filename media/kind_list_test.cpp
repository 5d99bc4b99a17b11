// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kind_list.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "media/class_mask.h"
#include "media/test_support.h"
#include "platform/byte_io.h"

namespace norvo::media {
namespace {

using testing::Register;

// An entry as text: "name: CODE CODE ... / creator".
std::string Describe(const KindListEntry& e) {
  std::string text = e.kind_name.text() + ": " + FourCCToString(e.first_code);
  for (std::uint32_t code : e.further_codes) text += code == 0 ? std::string(" -") : " " + FourCCToString(code);
  return text + " / " + FourCCToString(e.creator);
}

std::vector<std::string> Kinds(MediaClass media_class) {
  std::array<KindListEntry, kMaxMediaTypes> entries;
  std::size_t count = ListKinds(media_class, entries);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(Describe(entries[i]));
  return out;
}

class KindListTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearMediaTypes(); }
  void TearDown() override { ClearMediaTypes(); }
};

TEST_F(KindListTest, CodesOfOneNameShareAnEntryAndAFifthOpensASecond) {
  for (const char* code : {"JPEG", "jpg ", "jpeg", "jpe ", "jfif", "EXIF", "JPE "}) {
    Register(code, MediaHandler::GraphicsImporter, "JPEG", MediaClass::Image);
  }
  // Names are compared byte for byte, length included.
  Register("jpgx", MediaHandler::GraphicsImporter, "Jpeg", MediaClass::Image);
  Register("jpgy", MediaHandler::GraphicsImporter, "JPEG ", MediaClass::Image);
  Register("JPGZ", MediaHandler::GraphicsImporter, "JPEG", MediaClass::Image);
  EXPECT_EQ(Kinds(MediaClass::Image), (std::vector<std::string>{
                                          "JPEG: JPEG jpg  jpeg jpe  jfif / QKTM",
                                          "JPEG: EXIF JPE  JPGZ - - / QKTM",
                                          "Jpeg: jpgx - - - - / QKTM",
                                          "JPEG : jpgy - - - - / QKTM",
                                      }));
}

TEST_F(KindListTest, OnlyRowsOfTheClassAndTheCreatorFollowsTheFirstCode) {
  Register("MooV", MediaHandler::MovieImporter, "QuickTime Movie", MediaClass::Video);
  Register("WMA ", MediaHandler::DirectShow, "Windows Media Audio File", MediaClass::Audio);
  Register("MPG ", MediaHandler::DirectShow, "Mpeg Video File", MediaClass::Video);
  Register("mpg ", MediaHandler::MovieImporter, "Mpeg Video File", MediaClass::Video);
  Register("DOC ", MediaHandler::ShellDocument, "Word Document", MediaClass::Image);
  Register("TIFF", MediaHandler::GraphicsImporter, "TIFF", MediaClass::Image);
  EXPECT_EQ(Kinds(MediaClass::Video), (std::vector<std::string>{
                                          "QuickTime Movie: MooV - - - - / QKTM",
                                          "Mpeg Video File: MPG  mpg  - - - / NRWi",
                                      }));
  EXPECT_EQ(Kinds(MediaClass::Image), (std::vector<std::string>{
                                          "Word Document: DOC  - - - - / NRWi",
                                          "TIFF: TIFF - - - - / QKTM",
                                      }));
  EXPECT_TRUE(Kinds(MediaClass::Font).empty());
}

TEST_F(KindListTest, AFullBufferTakesNoNewEntryButCodesStillJoin) {
  Register("AAAA", MediaHandler::GraphicsImporter, "A", MediaClass::Image);
  Register("BBBB", MediaHandler::GraphicsImporter, "B", MediaClass::Image);
  Register("AAA2", MediaHandler::GraphicsImporter, "A", MediaClass::Image);
  std::array<KindListEntry, 1> one;
  ASSERT_EQ(ListKinds(MediaClass::Image, one), 1u);
  EXPECT_EQ(Describe(one[0]), "A: AAAA AAA2 - - - / QKTM");
  EXPECT_EQ(ListKinds(MediaClass::Image, std::span<KindListEntry>()), 0u);
}

TEST(KindListEntryFormat, StoredFormIs88BytesWithCodesInReadingOrder) {
  KindListEntry e;
  e.kind_name.set("Mpeg Video File");
  e.first_code = FourCC("MPG ");
  e.further_codes = {FourCC("MPEG"), FourCC("M1V "), 0, 0};
  e.creator = kOwnKindCreator;
  ByteWriter w;
  WriteKindListEntry(e, w);
  const std::string expected = std::string("\x0F" "Mpeg Video File") + std::string(48, '\0') + "MPG MPEGM1V " +
                               std::string(8, '\0') + "NRWi";
  ASSERT_EQ(expected.size(), kKindListEntrySize);
  EXPECT_EQ(std::string(w.buffer().begin(), w.buffer().end()), expected);

  ByteReader r(w.buffer());
  EXPECT_EQ(Describe(ReadKindListEntry(r)), "Mpeg Video File: MPG  MPEG M1V  - - / NRWi");
  EXPECT_TRUE(r.ok() && r.atEnd());
  ByteReader short_reader(std::span<const std::uint8_t>(w.buffer()).first(87));
  ReadKindListEntry(short_reader);
  EXPECT_FALSE(short_reader.ok());
}

TEST(ClassMask, ClassNIsBitNCountedFromTheTopOfTheFirstByte) {
  ByteWriter w;
  w.u32be(ClassMaskBit(MediaClass::Image));
  w.u32be(AddClassToMask(ClassMaskBit(MediaClass::Video), MediaClass::HTML));
  EXPECT_EQ(w.buffer(), (std::vector<std::uint8_t>{0x80, 0, 0, 0, 0x21, 0, 0, 0}));

  // The default import filter's stored bytes: every class but Text and HTML.
  const std::uint8_t stored[] = {0xFC, 0xFF, 0xFF, 0xFF};
  ByteReader r(stored);
  const ClassMask mask = r.u32be();
  std::string accepted;
  for (int c = 0; c < kMediaClassCount; ++c) accepted += ClassMaskAccepts(mask, static_cast<MediaClass>(c)) ? '1' : '0';
  EXPECT_EQ(accepted, "11111100");
  EXPECT_TRUE(ClassMaskAccepts(0, MediaClass::HTML));
  EXPECT_FALSE(IsClassInMask(RemoveClassFromMask(mask, MediaClass::Audio), MediaClass::Audio));
  EXPECT_EQ(MaskBit(32), 0u);
}

}  // namespace
}  // namespace norvo::media
