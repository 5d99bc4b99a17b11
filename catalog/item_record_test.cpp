// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/item_record.h"

#include <gtest/gtest.h>

#include "catalog/test_support.h"
#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

using testing::Spec;
using testing::TempDir;

// Marks every byte the field table claims, to prove the fields tile the
// 1024-byte fixed part exactly once.
struct Coverage {
  std::array<int, kFixedPartSize> hits{};
  void mark(std::size_t offset, std::size_t width) {
    for (std::size_t i = offset; i < offset + width && i < hits.size(); ++i) ++hits[i];
  }
  void u32(std::size_t offset, std::uint32_t&) { mark(offset, 4); }
  void u16(std::size_t offset, std::uint16_t&) { mark(offset, 2); }
  template <std::size_t N>
  void raw(std::size_t offset, std::array<std::uint8_t, N>&) { mark(offset, N); }
  template <std::size_t N>
  void text(std::size_t offset, std::array<std::uint8_t, N>&) { mark(offset, N); }
};

TEST(ItemRecordLayout, FieldsTileTheFixedPartExactlyOnce) {
  ItemRecord r;
  Coverage c;
  VisitFixedFields(r, c);
  for (std::size_t i = 0; i < kFixedPartSize; ++i) EXPECT_EQ(c.hits[i], 1) << "byte 0x" << std::hex << i;
}

TEST(ItemRecordLayout, FieldsLandAtTheirOffsetsBigEndianWithNamesInMacRoman) {
  ItemRecord r = testing::SampleRecord(7);
  r.file_name.set("caf\xE9 \xBE");  // Windows-1252 e-acute and 3/4
  r.orientation = 0x0102;
  r.alias_kept_size = 0x0304;
  r.colour_space = FourCC("RGB ");
  r.slack = 10240;
  r.encoding_name[0] = 3;
  r.encoding_name[1] = 0xBE;  // raw: never converted
  std::array<std::uint8_t, kFixedPartSize> bytes{};
  EncodeFixedPart(r, NameText::kConverted, bytes);

  EXPECT_EQ(bytes[0], 6);
  EXPECT_EQ(bytes[4], 0x8E);  // e-acute in Mac Roman
  EXPECT_EQ(bytes[6], 0xF0);  // Windows 0xBE is Mac Roman 0xF0
  ByteReader at(bytes);
  at.seek(0x14C);
  EXPECT_EQ(at.u32be(), FourCC("JPEG"));
  at.seek(0x160);
  EXPECT_EQ(at.u32be(), 1007u);
  at.seek(0x17E);
  EXPECT_EQ(at.u16be(), 0x0304);
  at.seek(0x33E);
  EXPECT_EQ(at.u16be(), 0x0102);
  at.seek(0x398);
  EXPECT_EQ(at.u32be(), FourCC("RGB "));
  EXPECT_EQ(bytes[0x3A1], 0xBE);
  at.seek(0x3E8);
  EXPECT_EQ(at.u32be(), 10240u);
  at.seek(0x3F4);
  EXPECT_EQ(at.u32be(), 300u);  // thumbnail length

  ItemRecord back;
  DecodeFixedPart(bytes, NameText::kConverted, back);
  EXPECT_EQ(back.file_name.text(), "caf\xE9 \xBE");
  EXPECT_EQ(back.orientation, 0x0102);
  EXPECT_EQ(back.encoding_name, r.encoding_name);
  ItemRecord raw;
  DecodeFixedPart(bytes, NameText::kAsStored, raw);
  EXPECT_EQ(raw.file_name.text(), "caf\x8E \xF0");
}

TEST(ItemRecordLayout, BytesAfterANameSurviveDecodeAndEncode) {
  std::array<std::uint8_t, kFixedPartSize> bytes{};
  bytes[0x100] = 2;
  bytes[0x101] = 'A';
  bytes[0x102] = 'B';
  bytes[0x120] = 0x77;  // stale byte behind the display name
  ItemRecord r;
  DecodeFixedPart(bytes, NameText::kConverted, r);
  std::array<std::uint8_t, kFixedPartSize> again{};
  EncodeFixedPart(r, NameText::kConverted, again);
  EXPECT_EQ(again, bytes);
}

TEST(Annotations, TextSetsConvertRawSetsDoNotAndBadEntriesEndTheStream) {
  std::vector<std::uint8_t> s = {0x1C, 2, 120, 0, 2, 0x8E, 'a',   // text: Mac e-acute
                                 0x1D, 2, 1,   0, 1, 0x8E,        // raw: untouched
                                 0x1C, 2, 5,   0, 9, 'x'};        // length runs past the end
  std::size_t good = ConvertAnnotations(s, TextDirection::kMacToWindows);
  EXPECT_EQ(good, 13u);
  EXPECT_EQ(s[5], 0xE9);
  EXPECT_EQ(s[12], 0x8E);

  std::vector<std::uint8_t> t = {0x1C, 2, 120, 0, 1, 'a', 0x42, 2, 3, 0, 0};
  EXPECT_EQ(ConvertAnnotations(t, TextDirection::kMacToWindows), 6u);
}

class ItemRecordFile : public ::testing::Test {
 protected:
  void SetUp() override {
    FileSpec spec = Spec(dir_.file("records"));
    ASSERT_EQ(CreateFile(spec, 0, 0), err::kNone);
    ASSERT_EQ(file_.open(spec, Permission::kReadWrite), err::kNone);
  }
  TempDir dir_;
  File file_;
};

TEST_F(ItemRecordFile, WriteThenReadWithAndWithoutOptionalParts) {
  ItemRecord r = testing::SampleRecord(4);
  std::uint32_t stored = 0;
  ASSERT_EQ(WriteItemRecord(r, file_, 0, kScratchSlack, SlackBytes::kWritten, &stored), err::kNone);
  EXPECT_EQ(stored, r.storedSize());
  std::uint64_t size_on_disk = 0;
  ASSERT_EQ(ReadStoredSize(file_, 0, &size_on_disk), err::kNone);
  EXPECT_EQ(size_on_disk, stored);
  std::int64_t length = 0;
  ASSERT_EQ(file_.endOfFile(&length), err::kNone);
  EXPECT_EQ(length, static_cast<std::int64_t>(stored + kScratchSlack));

  ItemRecord full;
  ASSERT_EQ(ReadItemRecord(file_, 0, kWholeRecord, full), err::kNone);
  EXPECT_EQ(full.thumbnail, r.thumbnail);
  EXPECT_EQ(full.recording, r.recording);
  EXPECT_EQ(full.annotations, r.annotations);
  EXPECT_EQ(full.url, r.url);
  EXPECT_EQ(full.slack, kScratchSlack);

  ItemRecord lean;
  ASSERT_EQ(ReadItemRecord(file_, 0, kWithoutOptionalParts, lean), err::kNone);
  EXPECT_TRUE(lean.thumbnail.empty());
  EXPECT_TRUE(lean.recording.empty());
  EXPECT_EQ(lean.metadata, r.metadata);  // parts after the skipped one still line up
  EXPECT_EQ(lean.thumbnail_length, 300u);

  ItemRecord mac;
  ASSERT_EQ(ReadItemRecord(file_, 0, RecordRead{.convert_text = false}, mac), err::kNone);
  EXPECT_NE(mac.annotations, r.annotations);  // e-acute still in Mac Roman
  EXPECT_EQ(mac.file_name.text().find('\x8E'), 8u);

  EXPECT_EQ(WriteItemRecord(lean, file_, 0, 0, SlackBytes::kCounted, nullptr), err::kParam);
}

TEST_F(ItemRecordFile, PartLengthsBeyondTheFileFailWithoutAllocating) {
  ItemRecord r;
  r.metadata_length = 0x7FFFFFF0;  // far beyond the file
  std::array<std::uint8_t, kFixedPartSize> bytes{};
  EncodeFixedPart(r, NameText::kAsStored, bytes);
  ASSERT_EQ(file_.writeAt(0, bytes), err::kNone);
  ItemRecord out;
  EXPECT_EQ(ReadItemRecord(file_, 0, kWholeRecord, out), err::kEndOfFile);

  r.metadata_length = 0xFFFFFFFF;  // negative: absent
  EncodeFixedPart(r, NameText::kAsStored, bytes);
  ASSERT_EQ(file_.writeAt(0, bytes), err::kNone);
  EXPECT_EQ(ReadItemRecord(file_, 0, kWholeRecord, out), err::kNone);
  EXPECT_TRUE(out.metadata.empty());
  EXPECT_EQ(out.storedSize(), kFixedPartSize);
  std::uint64_t size = 0;
  ASSERT_EQ(ReadStoredSize(file_, 0, &size), err::kNone);
  EXPECT_EQ(size, kFixedPartSize);  // saves copy the same extent readers see

  EXPECT_EQ(ReadItemRecord(file_, 512, kWholeRecord, out), err::kEndOfFile);  // cut fixed part
}

}  // namespace
}  // namespace norvo::catalog
