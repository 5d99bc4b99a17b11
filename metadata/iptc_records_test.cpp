// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/iptc_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"
#include "metadata/photoshop_resources.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
using testing::SetUtf8;
using testing::Texts;

constexpr FieldId kProduct = 0x205;
constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCity = 0x25a;
constexpr FieldId kCaption = 0x278;
constexpr FieldId kCustom1 = 0x301;


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
  EXPECT_EQ(keyword->marker, kTextMarker);  // Windows-1252 holds it
  EXPECT_EQ(keyword->text(), "K\xF8");
  EXPECT_EQ(Texts(kProduct, block), (Strings{"ok"}));
  EXPECT_EQ(CountAnnotations(kCaption, block), 0);
  EXPECT_TRUE(IptcRecordsToAnnotations(Bytes{0x00, 0x1C, 2, 25, 0, 1, 'a'}).empty());
}

// A stream of data sets, each {record, data set, value}.
struct DataSet {
  std::uint8_t record;
  std::uint8_t data_set;
  std::string value;
};
Bytes Stream(std::initializer_list<DataSet> data_sets) {
  Bytes out;
  for (const DataSet& d : data_sets) {
    out.insert(out.end(), {kIimTagMarker, d.record, d.data_set, static_cast<std::uint8_t>(d.value.size() >> 8),
                           static_cast<std::uint8_t>(d.value.size() & 0xFF)});
    out.insert(out.end(), d.value.begin(), d.value.end());
  }
  return out;
}

const std::string kUtf8Declared = "\x1B%G";

TEST(BuildIptcRecords, ValuesWindows1252CannotHoldMakeTheWholeStreamUtf8) {
  // The fault: a Cyrillic keyword was written as "______", the underscores
  // of a Windows-1252 conversion.
  AnnotationBlock block;
  SetUtf8(kKeywords, 0, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", block, SetMode::kAppend);  // Привет
  SetUtf8(kKeywords, 0, "b", block, SetMode::kAppend);
  SetAnnotationText(kCity, 1, "Z\xFCrich", block, SetMode::kReplace);  // a Windows-1252 entry
  const FieldId ids[] = {kLabelField, kKeywords, kCity, kEventDateField};
  SetAnnotationText(kEventDateField, 1, "2024-03-05", block, SetMode::kReplace);
  Bytes stream = BuildIptcRecords(block, 2, ids);
  EXPECT_EQ(DataSets(stream),
            (Strings{std::string("1:0=\0\4", 6), "1:90=" + kUtf8Declared, std::string("2:0=\0\2", 6), "2:10=2",
                     "2:25=\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "2:25=b", "2:90=Z\xC3\xBCrich",
                     "2:55=20240305"}));

  // Without such a value the stream is Windows-1252 and has no envelope,
  // even where a raw entry holds the text.
  AnnotationBlock latin;
  SetAnnotationText(kCity, 1, "Z\xC3\xBCrich", latin, SetMode::kReplace, kRawMarker);
  EXPECT_EQ(DataSets(BuildIptcRecords(latin, 0, ids)), (Strings{std::string("2:0=\0\2", 6), "2:90=Z\xFCrich"}));
}

TEST(BuildIptcRecords, LimitsCountTheStoredBytesAndNeverSplitACharacter) {
  constexpr FieldId kGenre = 0x20f;
  auto limits = [](FieldId id) { return id == kKeywords ? 63 : id == kGenre ? 3 : id == kCaption ? 11 : 0; };
  std::string cyrillic_40;  // 40 letters, 80 bytes
  for (int i = 0; i < 40; ++i) cyrillic_40 += "\xD0\x96";
  struct Case {
    const char* name;
    FieldId id;
    std::string value;  // UTF-8
    std::string want;   // the value in the stream
  };
  const Case cases[] = {
      // In a UTF-8 stream 63 bytes hold 31 two-byte letters, not 31.5.
      {"Cyrillic keyword", kKeywords, cyrillic_40, cyrillic_40.substr(0, 62)},
      {"Japanese genre", kGenre, "\xE6\x9D\xB1\xE4\xBA\xAC", "\xE6\x9D\xB1"},
      {"emoji longer than the limit", kGenre, "\xF0\x9F\x93\xB7", ""},
      {"combining mark stays with its letter", kCaption, "Cafe\xCC\x81 Cafe\xCC\x81", "Cafe\xCC\x81 Caf"},
      // Windows-1252 letters count two bytes once the stream is UTF-8.
      {"accented letters in a UTF-8 stream", kCaption, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnnotationBlock block;
    SetUtf8(c.id, 1, c.value, block, SetMode::kReplace);
    SetUtf8(kCity, 1, "\xD0\x9C", block, SetMode::kReplace);  // makes the stream UTF-8
    const FieldId ids[] = {c.id, kCity};
    AnnotationBlock back = IptcRecordsToAnnotations(BuildIptcRecords(block, 0, ids, limits));
    std::optional<AnnotationValue> got = GetAnnotation(c.id, 1, back);
    EXPECT_EQ(got ? got->utf8() : std::string(), c.want);
  }
  // In a Windows-1252 stream a character is a byte.
  AnnotationBlock latin;
  SetAnnotationText(kGenre, 1, "\xE9\xE9\xE9\xE9", latin, SetMode::kReplace);
  const FieldId genre[] = {kGenre};
  EXPECT_EQ(DataSets(BuildIptcRecords(latin, 0, genre, limits)),
            (Strings{std::string("2:0=\0\2", 6), "2:15=\xE9\xE9\xE9"}));
}

TEST(IptcRecordsToAnnotations, DeclaredUtf8IsReadAsUtf8AndOtherwiseAsWindows1252) {
  // The fault: a caption "Café crème" from "Zürich" in a stream declaring
  // UTF-8 was taken as 8-bit text.
  AnnotationBlock block = IptcRecordsToAnnotations(Stream({{1, 90, kUtf8Declared},
                                                           {2, 120, "Caf\xC3\xA9 cr\xC3\xA8me"},
                                                           {2, 90, "Z\xC3\xBCrich"},
                                                           {2, 25, "\xCE\xB1\xCE\xB2"},
                                                           {2, 25, "stray \xE9 byte"}}));
  std::optional<AnnotationValue> caption = GetAnnotation(kCaption, 1, block);
  ASSERT_TRUE(caption);
  EXPECT_EQ(caption->utf8(), "Caf\xC3\xA9 cr\xC3\xA8me");
  EXPECT_EQ(caption->marker, kTextMarker);  // the block keeps it in Windows-1252
  EXPECT_EQ(caption->text(), "Caf\xE9 cr\xE8me");
  EXPECT_EQ(GetAnnotation(kCity, 1, block)->utf8(), "Z\xC3\xBCrich");
  std::vector<AnnotationValue> keywords = GetAnnotations(kKeywords, block);
  ASSERT_EQ(keywords.size(), 2u);
  EXPECT_EQ(keywords[0].marker, kRawMarker);
  EXPECT_EQ(keywords[0].utf8(), "\xCE\xB1\xCE\xB2");
  EXPECT_EQ(keywords[1].utf8(), "stray \xC3\xA9 byte");  // not UTF-8: read as Windows-1252

  // Without the declaration: Windows-1252, and Latin-1 for the codes
  // Windows-1252 leaves undefined. UTF-8 bytes are not guessed at.
  AnnotationBlock eight_bit = IptcRecordsToAnnotations(
      Stream({{2, 120, "Caf\xE9 \x80"}, {2, 90, std::string("\x81\x9D")}, {2, 25, "Caf\xC3\xA9"}}));
  EXPECT_EQ(GetAnnotation(kCaption, 1, eight_bit)->utf8(), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(GetAnnotation(kCity, 1, eight_bit)->utf8(), "\xC2\x81\xC2\x9D");
  EXPECT_EQ(GetAnnotation(kKeywords, 1, eight_bit)->utf8(), "Caf\xC3\x83\xC2\xA9");
}

// A file's stream as another program wrote it: envelope data sets out of
// number order, data sets the annotations have no field for, a keyword list
// with the caption between its values, a 32-character 2:103 (one more than
// the field's limit) and a Windows-1252 city.
const std::string kReference32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
Bytes ForeignStream() {
  return Stream({{1, 5, "Desk"},
                 {1, 0, std::string("\0\4", 2)},
                 {2, 0, std::string("\0\2", 2)},
                 {2, 12, "IPTC:04000000"},
                 {2, 25, "one"},
                 {2, 120, "Old"},
                 {2, 25, "two"},
                 {2, 60, "101112+0100"},
                 {2, 90, "Z\xFCrich"},
                 {2, 100, "NOR"},
                 {2, 103, kReference32},
                 {2, 200, std::string("\0\x0B", 2)}});
}

TEST(UpdateIptcRecords, KeepsWhatWasNotChangedByteForByteAndInPlace) {
  constexpr FieldId kHeadline = 0x269;
  constexpr FieldId kReference = 0x267;
  auto limits = [](FieldId id) { return id == kReference ? 31 : 0; };
  const Bytes old = ForeignStream();
  const Strings before = DataSets(old);
  // `before` with data sets replaced: {index, replacement strings}.
  auto edited = [&](std::initializer_list<std::pair<std::size_t, Strings>> edits) {
    Strings out;
    for (std::size_t i = 0; i < before.size(); ++i) {
      auto it = std::find_if(edits.begin(), edits.end(), [i](const auto& e) { return e.first == i; });
      if (it == edits.end()) {
        out.push_back(before[i]);
      } else {
        out.insert(out.end(), it->second.begin(), it->second.end());
      }
    }
    return out;
  };
  const std::string utf8_caption = "\xD0\x9F\xD1\x80\xD0\xB8";  // При
  struct Case {
    const char* name;
    std::function<void(AnnotationBlock&)> edit;
    std::uint8_t label;
    Strings want;
  };
  const Case cases[] = {
      {"a caption changed in place", [](AnnotationBlock& b) { SetAnnotationText(kCaption, 1, "New", b, SetMode::kReplace); },
       0, edited({{5, {"2:120=New"}}})},
      {"keywords replaced as a group where the first was",
       [](AnnotationBlock& b) {
         RemoveAnnotations(kKeywords, b);
         for (const char* k : {"x", "y", "z"}) SetAnnotationText(kKeywords, 0, k, b, SetMode::kAppend);
       },
       0, edited({{4, {"2:25=x", "2:25=y", "2:25=z"}}, {6, {}}})},
      {"a removed field loses its data set", [](AnnotationBlock& b) { RemoveAnnotations(kCity, b); }, 0,
       edited({{8, {}}})},
      {"new fields go before the first higher number",
       [](AnnotationBlock& b) { SetAnnotationText(kHeadline, 1, "Head", b, SetMode::kReplace); }, 4,
       edited({{3, {"2:10=4", before[3]}}, {5, {"2:105=Head", before[5]}}})},
      {"the limit applies to a changed value",
       [](AnnotationBlock& b) { SetAnnotationText(kReference, 1, kReference32 + "6789", b, SetMode::kReplace); }, 0,
       edited({{10, {"2:103=" + kReference32.substr(0, 31)}}})},
      {"a value only UTF-8 holds turns the stream UTF-8, kept text included",
       [&](AnnotationBlock& b) { SetUtf8(kCaption, 1, utf8_caption, b, SetMode::kReplace); }, 0,
       edited({{2, {"1:90=" + kUtf8Declared, before[2]}}, {5, {"2:120=" + utf8_caption}}, {8, {"2:90=Z\xC3\xBCrich"}}})},
  };
  const AnnotationBlock imported = IptcRecordsToAnnotations(old);
  // Unchanged annotations give the stream back as it was, the 32-character
  // reference included.
  EXPECT_EQ(UpdateIptcRecords(old, imported, 0, kIptcAnnotationFields, limits), old);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnnotationBlock block = imported;
    c.edit(block);
    Bytes stream = UpdateIptcRecords(old, block, c.label, kIptcAnnotationFields, limits);
    EXPECT_EQ(DataSets(stream), c.want);
  }
}

TEST(UpdateIptcRecords, DeclaresUtf8OnceAndKeepsWhatItCannotRead) {
  // A stream without an envelope gets one when it turns UTF-8; an extended
  // length data set and trailing padding are carried and dropped as a reader
  // sees them.
  Bytes old = Stream({{2, 0, std::string("\0\2", 2)}, {2, 120, "Old"}});
  const Bytes extended = {0x1C, 2, 202, 0x80, 0x02, 0x00, 0x03, 'x', 'y', 'z'};
  old.insert(old.end(), extended.begin(), extended.end());
  AnnotationBlock block = IptcRecordsToAnnotations(old);
  SetUtf8(kCaption, 1, "\xCE\xB1", block, SetMode::kReplace);
  Bytes stream = UpdateIptcRecords(old, block, 0, kIptcAnnotationFields);
  const Bytes head = Stream({{1, 0, std::string("\0\4", 2)}, {1, 90, kUtf8Declared}, {2, 0, std::string("\0\2", 2)},
                             {2, 120, "\xCE\xB1"}});
  Bytes want = head;
  want.insert(want.end(), extended.begin(), extended.end());
  EXPECT_EQ(stream, want);
  // Written again with nothing changed, the UTF-8 stream stays as it is.
  EXPECT_EQ(UpdateIptcRecords(stream, IptcRecordsToAnnotations(stream), 0, kIptcAnnotationFields), stream);
  // A stream with no data sets is built afresh.
  EXPECT_EQ(UpdateIptcRecords(Bytes{0, 0, 0, 0}, block, 0, kIptcAnnotationFields),
            BuildIptcRecords(block, 0, kIptcAnnotationFields));
}

TEST(IimCutForms, WhatRecordsOfEitherCharacterSetKeep) {
  const std::string cyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет, 12 bytes
  struct Case {
    const char* name;
    std::string full;
    int limit;
    Strings want;
  };
  const Case cases[] = {
      // Windows-1252 cannot hold it: only the UTF-8 record's cut, on a letter.
      {"Cyrillic", cyrillic, 7, {cyrillic.substr(0, 6)}},
      // "Cafés" is 6 bytes in UTF-8 and 5 in Windows-1252.
      {"accented, both cuts", "Caf\xC3\xA9s", 4, {"Caf", "Caf\xC3\xA9"}},
      {"accented, the same cut", "Caf\xC3\xA9s", 3, {"Caf"}},
      {"fits in Windows-1252 only", "Caf\xC3\xA9", 4, {"Caf"}},
      {"fits", "New York", 63, {}},
      {"nothing of it fits", "\xE6\x9D\xB1", 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IimCutForms(c.full, c.limit), c.want);
  }
}

TEST(IptcRecordsToAnnotations, AgreesWithExiftoolOnARealPhoto) {
  const std::string path = testing::PhotoPath("BlueSquare.jpg");
  Bytes resources = testing::JpegSegment(testing::ReadBytes(path), 0xED, {});
  std::optional<std::span<const std::uint8_t>> iim = FindPhotoshopResource(resources, kResourceIptc);
  ASSERT_TRUE(iim.has_value());
  AnnotationBlock block = IptcRecordsToAnnotations(*iim);
  ASSERT_FALSE(block.empty());
  if (!testing::HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  EXPECT_EQ(testing::Joined(Texts(kKeywords, block)), testing::Exiftool("IPTC:Keywords", path));
  EXPECT_EQ(GetAnnotation(kCaption, 1, block)->text(), testing::Exiftool("IPTC:Caption-Abstract", path));
  EXPECT_EQ(GetAnnotation(kProduct, 1, block)->text(), testing::Exiftool("IPTC:ObjectName", path));
}

}  // namespace
}  // namespace norvo::metadata
