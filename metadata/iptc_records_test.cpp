// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/iptc_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"
#include "metadata/photoshop_resources.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

constexpr FieldId kProduct = 0x205;
constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCity = 0x25a;
constexpr FieldId kCaption = 0x278;
constexpr FieldId kCustom1 = 0x301;

Strings Texts(FieldId id, std::span<const std::uint8_t> block) {
  Strings out;
  for (const AnnotationValue& v : GetAnnotations(id, block)) out.push_back(v.text());
  return out;
}

// The data sets of a stream as "record:set=value" texts.
Strings DataSets(const Bytes& stream) {
  Strings out;
  for (const AnnotationEntry& e : AnnotationEntries(stream)) {
    EXPECT_EQ(e.marker, kIimTagMarker);
    out.push_back(std::to_string(e.record) + ":" + std::to_string(e.data_set) + "=" +
                  std::string(e.value.begin(), e.value.end()));
  }
  return out;
}

AnnotationBlock SampleBlock() {
  AnnotationBlock b;
  SetAnnotationText(kKeywords, 0, "alpha", b, SetMode::kAppend);
  SetAnnotationText(kCity, 1, "Bergen", b, SetMode::kReplace);
  SetAnnotationText(kKeywords, 0, "beta", b, SetMode::kAppend);
  SetAnnotationText(kCaption, 1, "A long caption text", b, SetMode::kReplace);
  SetAnnotationText(kEventDateField, 1, "2024-3-7", b, SetMode::kReplace);
  SetAnnotationText(kCustom1, 1, "mine", b, SetMode::kReplace);
  return b;
}

TEST(BuildIptcRecords, WritesTheListedFieldsAfterTheVersion) {
  AnnotationBlock block = SampleBlock();
  const FieldId ids[] = {kLabelField, kCity, kKeywords, kEventDateField, kCustom1, 0, kCaption};
  Bytes stream = BuildIptcRecords(block, 7, ids);
  ASSERT_GE(stream.size(), 7u);
  EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 7), (Bytes{0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02}));
  // The caption comes after the 0 that ends the list, so it is not written.
  EXPECT_EQ(DataSets(stream), (Strings{std::string("2:0=\0\2", 6), "2:10=7", "2:90=Bergen", "2:25=alpha",
                                       "2:25=beta", "2:55=20240307", "3:1=mine"}));
  // Label 0 writes nothing; nothing at all gives an empty stream.
  const FieldId label_only[] = {kLabelField};
  EXPECT_TRUE(BuildIptcRecords(block, 0, label_only).empty());
  EXPECT_TRUE(BuildIptcRecords({}, 0, ids).empty());
}

TEST(BuildIptcRecords, TruncatesConvertsAndKeepsOneValueOfSingleFields) {
  AnnotationBlock block;
  SetAnnotationText(kCaption, 0, "first caption", block, SetMode::kAppend);
  SetAnnotationText(kCaption, 0, "second caption", block, SetMode::kAppend);
  SetAnnotationText(kCity, 1, "K\xC3\xB8ge", block, SetMode::kReplace, kRawMarker);  // UTF-8 "Køge"
  SetAnnotationText(kEventDateField, 1, "2024031", block, SetMode::kReplace);       // 7 digits: no date
  const FieldId ids[] = {kCaption, kCity, kEventDateField};
  EXPECT_EQ(DataSets(BuildIptcRecords(block, 0, ids)),
            (Strings{std::string("2:0=\0\2", 6), "2:120=first caption", "2:90=K\xF8ge"}));
  auto limit = [](FieldId id) { return id == kCaption ? 5 : 0; };
  EXPECT_EQ(DataSets(BuildIptcRecords(block, 0, ids, limit)),
            (Strings{std::string("2:0=\0\2", 6), "2:120=first", "2:90=K\xF8ge"}));
}

TEST(IptcRecordsToAnnotations, RoundTripsWhatWeBuild) {
  AnnotationBlock block = SampleBlock();
  const FieldId ids[] = {kCity, kKeywords, kCaption, kEventDateField, kCustom1};
  AnnotationBlock back = IptcRecordsToAnnotations(BuildIptcRecords(block, 0, ids));
  EXPECT_EQ(Texts(kKeywords, back), (Strings{"alpha", "beta"}));
  EXPECT_EQ(Texts(kCity, back), (Strings{"Bergen"}));
  EXPECT_EQ(Texts(kCaption, back), (Strings{"A long caption text"}));
  EXPECT_EQ(Texts(kEventDateField, back), (Strings{"20240307"}));
  EXPECT_EQ(Texts(kCustom1, back), (Strings{"mine"}));
  EXPECT_EQ(CountAnnotations(0x200, back), 0);  // the record version is not an annotation
}

TEST(IptcRecordsToAnnotations, EnvelopeCharsetExtendedAndDamagedData) {
  Bytes stream = {0x1C, 1, 90, 0, 3, 0x1B, 0x25, 0x47,                   // 1:90 UTF-8
                  0x1C, 2, 0, 0, 2, 0, 4,                               // version
                  0x1C, 2, 25, 0, 3, 'K', 0xC3, 0xB8,                   // keyword "Kø"
                  0x1C, 2, 120, 0x80, 0x02, 0x00, 0x03, 'x', 'y', 'z',  // extended length: skipped
                  0x1C, 2, 90, 0, 0,                                    // empty: skipped
                  0x1C, 2, 5, 0, 2, 'o', 'k',                           // product
                  0x1C, 2, 90, 0, 9, 'c', 'u', 't'};                    // runs past the end
  AnnotationBlock block = IptcRecordsToAnnotations(stream);
  ASSERT_EQ(AnnotationEntries(block).size(), 2u);
  std::optional<AnnotationValue> keyword = GetAnnotation(kKeywords, 1, block);
  ASSERT_TRUE(keyword);
  EXPECT_EQ(keyword->marker, kRawMarker);
  EXPECT_EQ(keyword->text(), "K\xF8");
  EXPECT_EQ(Texts(kProduct, block), (Strings{"ok"}));
  EXPECT_EQ(CountAnnotations(kCaption, block), 0);
  EXPECT_TRUE(IptcRecordsToAnnotations(Bytes{0x00, 0x1C, 2, 25, 0, 1, 'a'}).empty());
}

TEST(IptcRecordsToAnnotations, AgreesWithExiftoolOnARealPhoto) {
  using testing::Exiftool;
  const std::string path = testing::PhotoPath("BlueSquare.jpg");
  Bytes resources = testing::JpegSegment(testing::ReadBytes(path), 0xED, {});
  std::optional<std::span<const std::uint8_t>> iim = FindPhotoshopResource(resources, kResourceIptc);
  ASSERT_TRUE(iim.has_value());
  AnnotationBlock block = IptcRecordsToAnnotations(*iim);
  ASSERT_FALSE(block.empty());
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  std::string keywords;
  for (const std::string& k : Texts(kKeywords, block)) keywords += (keywords.empty() ? "" : "|") + k;
  EXPECT_EQ(keywords, Exiftool("IPTC:Keywords", path));
  EXPECT_EQ(GetAnnotation(kCaption, 1, block)->text(), Exiftool("IPTC:Caption-Abstract", path));
  EXPECT_EQ(GetAnnotation(kProduct, 1, block)->text(), Exiftool("IPTC:ObjectName", path));
}

}  // namespace
}  // namespace norvo::metadata
