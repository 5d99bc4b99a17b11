// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/xmp_mapping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"
#include "metadata/iptc_records.h"
#include "platform/byte_io.h"
#include "xmp/xmp_packet.h"
#include "xmp/xmp_toolkit.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
using testing::Texts;

constexpr FieldId kKeywords = 0x219;
constexpr FieldId kAuthor = 0x250;
constexpr FieldId kCity = 0x25a;
constexpr FieldId kLocation = 0x25c;
constexpr FieldId kCaption = 0x278;
constexpr FieldId kPeople = 0x276;
constexpr FieldId kUsageTerms = 0x2e2;
constexpr FieldId kContactCity = 0x2d1;
constexpr std::uint32_t kAuthorText = FourCC("\xA9" "aut");
constexpr std::uint32_t kKeywordText = FourCC("\xA9" "key");
constexpr std::uint32_t kCommentText = FourCC("\xA9" "cmt");


// A packet made with the toolkit, padded so that rewrites have room.
std::string MakePacket(const std::function<void(xmp::XmpPacket&)>& fill, std::uint32_t padding = 2048) {
  xmp::RegisterNamespace(kNsGalvorin, kGalvorinPrefix);
  xmp::XmpPacket packet;
  fill(packet);
  return packet.serialize({.padding = padding}).value.value_or("");
}

xmp::XmpPacket Reparse(const Bytes& bytes) {
  xmp::Result<xmp::XmpPacket> p = xmp::XmpPacket::Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  EXPECT_TRUE(p.has_value());
  return p.has_value() ? std::move(*p.value) : xmp::XmpPacket();
}

Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(MergeFileMetadata, XmpWinsSingleValuesAndAddsToLists) {
  AnnotationBlock iptc_block;
  SetAnnotationText(kKeywords, 0, "a", iptc_block, SetMode::kAppend);
  SetAnnotationText(kKeywords, 0, "b", iptc_block, SetMode::kAppend);
  SetAnnotationText(kCaption, 1, "IPTC caption", iptc_block, SetMode::kReplace);
  SetAnnotationText(kAuthor, 1, "IPTC author", iptc_block, SetMode::kReplace);
  const FieldId ids[] = {kKeywords, kCaption, kAuthor};
  Bytes iim = BuildIptcRecords(iptc_block, 0, ids);

  std::string packet = MakePacket([](xmp::XmpPacket& p) {
    p.appendArrayItem(xmp::kNsDublinCore, "subject", xmp::ArrayForm::kBag, "b");
    p.appendArrayItem(xmp::kNsDublinCore, "subject", xmp::ArrayForm::kBag, "c");
    p.setLocalizedText(xmp::kNsDublinCore, "description", "x-default", "XMP caption");
  });
  const MetadataText texts[] = {{kAuthorText, "  Text\tauthor"}, {kKeywordText, "one;'two,three';four"}};
  const std::string_view packets[] = {packet};
  AnnotationBlock block = MergeFileMetadata({.iptc = iim, .texts = texts, .xmp = packets});
  EXPECT_EQ(Texts(kKeywords, block), (Strings{"a", "b", "one", "two,three", "four", "c"}));
  EXPECT_EQ(Texts(kCaption, block), (Strings{"XMP caption"}));
  EXPECT_EQ(Texts(kAuthor, block), (Strings{"IPTC author"}));

  // Without IPTC the text item fills the field, cleaned.
  AnnotationBlock from_text = MergeFileMetadata({.texts = texts});
  EXPECT_EQ(Texts(kAuthor, from_text), (Strings{"Text author"}));
}

TEST(MergeFileMetadata, AKeywordItsIptcRecordCutIsTakenWholeFromXmp) {
  // The fault: a long Cyrillic keyword, which the IPTC record keeps cut to
  // 63 bytes, came back as two keywords, the cut one and the XMP one.
  std::string long_keyword;
  for (int i = 0; i < 40; ++i) long_keyword += "\xD0\x96";  // 80 bytes
  AnnotationBlock written;
  for (const std::string& k : {long_keyword, std::string("New")}) {
    testing::SetUtf8(kKeywords, 0, k, written, SetMode::kAppend);
  }
  const FieldId ids[] = {kKeywords};
  Bytes iim = BuildIptcRecords(written, 0, ids, [](FieldId) { return 63; });
  ASSERT_EQ(GetAnnotation(kKeywords, 1, IptcRecordsToAnnotations(iim))->utf8(), long_keyword.substr(0, 62));

  std::string packet = MakePacket([&](xmp::XmpPacket& p) {
    for (const std::string& k : {long_keyword, std::string("New"), std::string("New York")}) {
      p.appendArrayItem(xmp::kNsDublinCore, "subject", xmp::ArrayForm::kBag, k);
    }
  });
  const std::string_view packets[] = {packet};
  AnnotationBlock block = MergeFileMetadata({.iptc = iim, .xmp = packets});
  // "New York" begins with "New" but is a keyword of its own.
  EXPECT_EQ(testing::Utf8Values(kKeywords, block), (Strings{long_keyword, "New", "New York"}));
}

TEST(MergeFileMetadata, TextItemsAreUtf8AndCleaned) {
  const MetadataText texts[] = {{kKeywordText, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82; Caf\xC3\xA9"},
                                {kCommentText, "\xE6\x9D\xB1\xE4\xBA\xAC\tnight\r\nline  two"},
                                {FourCC("\xA9" "nam"), "title\r\nsecond"},
                                {FourCC("\xA9" "inf"), "ignored, title taken"},
                                {FourCC("\xA9" "mak"), "not an annotation"}};
  AnnotationBlock block = MergeFileMetadata({.texts = texts});
  std::vector<AnnotationValue> keywords = GetAnnotations(kKeywords, block);
  ASSERT_EQ(keywords.size(), 2u);
  EXPECT_EQ(keywords[0].utf8(), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  EXPECT_EQ(keywords[1].marker, kTextMarker);
  EXPECT_EQ(keywords[1].text(), "Caf\xE9");
  // A caption keeps its line breaks; other fields lose them.
  EXPECT_EQ(GetAnnotation(kCaption, 1, block)->utf8(), "\xE6\x9D\xB1\xE4\xBA\xAC night\r\nline two");
  EXPECT_EQ(Texts(0x269, block), (Strings{"title second"}));
  EXPECT_EQ(AnnotationEntries(block).size(), 4u);

  // Written back as texts and merged again, the values are unchanged.
  std::vector<MetadataText> again = AnnotationsToMetadataTexts(block);
  AnnotationBlock back = MergeFileMetadata({.texts = again});
  for (FieldId id : {kKeywords, kCaption}) EXPECT_EQ(Texts(id, back), Texts(id, block)) << id;
}

TEST(ReadXmpIntoAnnotations, KindsOfEntries) {
  std::string packet = MakePacket([](xmp::XmpPacket& p) {
    p.set(xmp::kNsPhotoshop, "City", "S\xC3\xA3o Paulo");  // UTF-8, fits Windows-1252
    p.appendArrayItem(xmp::kNsPhotoshop, "Keywords", xmp::ArrayForm::kBag, "\xE6\x9D\xB1\xE4\xBA\xAC");  // 東京
    p.set(xmp::kNsPhotoshop, "DateCreated", "2005-09-07T15:07:40-07:00");
    p.set(xmp::kNsXmpRights, "UsageTerms/*[@xml:lang='x-default']", "Ask first");
    p.set(xmp::kNsIptcCore, "CreatorContactInfo/CiAdrCity", "Lyon");
    p.set(xmp::kNsIptcCore, "Location", "Core place");
    p.set(kNsGalvorin, "Location", "Own place");
    p.appendArrayItem(kNsGalvorin, "People", xmp::ArrayForm::kBag, "Ann");
  });
  AnnotationBlock block;
  SetAnnotationText(kPeople, 0, "Ann", block, SetMode::kAppend);
  const std::string_view packets[] = {packet};
  ASSERT_EQ(ReadXmpIntoAnnotations(packets, block), err::kNone);
  EXPECT_EQ(Texts(kCity, block), (Strings{"S\xE3o Paulo"}));
  EXPECT_EQ(GetAnnotation(kCity, 1, block)->marker, kTextMarker);
  // Text Windows-1252 cannot hold is kept as UTF-8.
  std::optional<AnnotationValue> keyword = GetAnnotation(kKeywords, 1, block);
  ASSERT_TRUE(keyword);
  EXPECT_EQ(keyword->marker, kRawMarker);
  EXPECT_EQ(keyword->utf8(), "\xE6\x9D\xB1\xE4\xBA\xAC");
  EXPECT_EQ(Texts(kEventDateField, block), (Strings{"20050907"}));
  EXPECT_EQ(Texts(kUsageTerms, block), (Strings{"Ask first"}));
  EXPECT_EQ(Texts(kContactCity, block), (Strings{"Lyon"}));
  EXPECT_EQ(Texts(kLocation, block), (Strings{"Own place"}));
  EXPECT_EQ(Texts(kPeople, block), (Strings{"Ann"}));  // no duplicate
}

TEST(ReadXmpIntoAnnotations, LaterPacketsMergeAndBrokenOnesAreSkipped) {
  std::string first = MakePacket([](xmp::XmpPacket& p) {
    p.set(xmp::kNsPhotoshop, "City", "First city");
    p.set(xmp::kNsPhotoshop, "State", "First state");
  });
  std::string second = MakePacket([](xmp::XmpPacket& p) { p.set(xmp::kNsPhotoshop, "City", "Second city"); });
  // An empty XMP text clears what IPTC had.
  std::string empty_caption =
      MakePacket([](xmp::XmpPacket& p) { p.set(xmp::kNsPhotoshop, "Headline", ""); });
  AnnotationBlock block;
  SetAnnotationText(0x269, 1, "IPTC headline", block, SetMode::kReplace);
  const std::string_view packets[] = {first, "<not xmp", second, empty_caption};
  ASSERT_EQ(ReadXmpIntoAnnotations(packets, block), err::kNone);
  EXPECT_EQ(Texts(kCity, block), (Strings{"Second city"}));
  EXPECT_EQ(Texts(0x25f, block), (Strings{"First state"}));
  EXPECT_EQ(CountAnnotations(0x269, block), 0);
  const std::string_view broken[] = {"<not xmp"};
  Bytes before = block;
  EXPECT_EQ(ReadXmpIntoAnnotations(broken, block), err::kXmpUnreadable);
  EXPECT_EQ(block, before);
}

TEST(WriteAnnotationsIntoXmp, RewritesInPlaceKeepingOtherProperties) {
  std::string original = MakePacket([](xmp::XmpPacket& p) {
    p.set(xmp::kNsXmpBasic, "CreatorTool", "Another program");
    p.appendArrayItem(xmp::kNsPhotoshop, "Keywords", xmp::ArrayForm::kBag, "gone");
    p.set(xmp::kNsPhotoshop, "DateCreated", "2001-02-03");
    p.set(xmp::kNsPhotoshop, "City", "Old city");
  });
  AnnotationBlock block;
  SetAnnotationText(kCity, 1, "Z\xFCrich", block, SetMode::kReplace);  // Windows-1252 ü
  SetAnnotationText(kEventDateField, 1, "2024031", block, SetMode::kReplace);  // seven digits
  SetAnnotationText(kPeople, 0, "Ann", block, SetMode::kAppend);
  SetAnnotationText(kPeople, 0, "Bo", block, SetMode::kAppend);
  SetAnnotationText(kUsageTerms, 1, "Ask first", block, SetMode::kReplace);
  SetAnnotationText(kLocation, 1, "Harbour", block, SetMode::kReplace);
  Bytes packet = ToBytes(original);
  ASSERT_EQ(WriteAnnotationsIntoXmp(packet, block), err::kNone);
  EXPECT_EQ(packet.size(), original.size());
  xmp::XmpPacket tree = Reparse(packet);
  EXPECT_EQ(tree.get(xmp::kNsXmpBasic, "CreatorTool").value, "Another program");
  EXPECT_FALSE(tree.has(xmp::kNsPhotoshop, "Keywords"));
  EXPECT_FALSE(tree.has(xmp::kNsDublinCore, "subject"));
  EXPECT_FALSE(tree.has(xmp::kNsPhotoshop, "DateCreated"));
  EXPECT_EQ(tree.get(xmp::kNsPhotoshop, "City").value, "Z\xC3\xBCrich");
  EXPECT_EQ(tree.arrayItems(kNsGalvorin, "People").value, (Strings{"Ann", "Bo"}));
  EXPECT_EQ(tree.getLocalizedText(xmp::kNsXmpRights, "UsageTerms").value, "Ask first");
  EXPECT_EQ(tree.get(xmp::kNsIptcCore, "Location").value, "Harbour");
  EXPECT_FALSE(tree.has(kNsGalvorin, "Location"));

  // What was written reads back into the same values.
  AnnotationBlock back;
  const std::string_view packets[] = {std::string_view(reinterpret_cast<const char*>(packet.data()), packet.size())};
  ASSERT_EQ(ReadXmpIntoAnnotations(packets, back), err::kNone);
  for (FieldId id : {kCity, kPeople, kUsageTerms, kLocation}) EXPECT_EQ(Texts(id, back), Texts(id, block)) << id;
}

TEST(WriteAnnotationsIntoXmp, DatesAndFailures) {
  std::string original = MakePacket([](xmp::XmpPacket& p) { p.set(xmp::kNsPhotoshop, "City", "x"); }, 64);
  AnnotationBlock block;
  SetAnnotationText(kEventDateField, 1, "20240307", block, SetMode::kReplace);
  Bytes packet = ToBytes(original);
  ASSERT_EQ(WriteAnnotationsIntoXmp(packet, block), err::kNone);
  xmp::Result<xmp::DateTime> date = Reparse(packet).getDate(xmp::kNsPhotoshop, "DateCreated");
  ASSERT_TRUE(date.has_value());
  EXPECT_EQ(date.value->year * 10000 + date.value->month * 100 + date.value->day, 20240307);

  std::string failure;
  Bytes none;
  EXPECT_EQ(WriteAnnotationsIntoXmp(none, block, &failure), err::kParam);
  EXPECT_EQ(failure, kBadPacketText);

  // Far more than the padding can absorb: the packet stays as it was. The
  // toolkit's words reach the caller and nothing reaches the terminal.
  SetAnnotationText(kCaption, 1, std::string(4000, 'c'), block, SetMode::kReplace);
  Bytes before = packet;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(WriteAnnotationsIntoXmp(packet, block, &failure), err::kXmpPacketTooSmall);
  EXPECT_EQ(failure, "Can't fit into specified packet size");
  EXPECT_EQ(packet, before);
  Bytes garbage = ToBytes("<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta");
  EXPECT_EQ(WriteAnnotationsIntoXmp(garbage, block, &failure), err::kXmpUnreadable);
  EXPECT_EQ(failure, "XML parsing failure");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(WriteAnnotationsIntoXmp, RealPacketKeepsItsLengthAndForeignProperties) {
  Bytes jpeg = testing::ReadBytes(testing::PhotoPath("BlueSquare.jpg"));
  Bytes packet = testing::JpegSegment(jpeg, 0xE1, testing::kXmpSegmentPrefix);
  ASSERT_FALSE(packet.empty());
  std::string_view original(reinterpret_cast<const char*>(packet.data()), packet.size());
  const std::string_view packets[] = {original};
  AnnotationBlock block;
  ASSERT_EQ(ReadXmpIntoAnnotations(packets, block), err::kNone);
  EXPECT_EQ(Texts(kKeywords, block), (Strings{"XMP", "Blue Square", "test file", "Photoshop", ".jpg"}));
  RemoveAnnotations(kKeywords, block);
  SetAnnotationText(kKeywords, 0, "new", block, SetMode::kAppend);
  Bytes rewritten = packet;
  ASSERT_EQ(WriteAnnotationsIntoXmp(rewritten, block), err::kNone);
  EXPECT_EQ(rewritten.size(), packet.size());
  xmp::XmpPacket tree = Reparse(rewritten);
  EXPECT_EQ(tree.arrayItems(xmp::kNsDublinCore, "subject").value, (Strings{"new"}));
  EXPECT_EQ(tree.get("http://ns.adobe.com/xap/1.0/mm/", "DocumentID").value,
            "uuid:9A3B7F52214211DAB6308A7391270C13");
  EXPECT_EQ(tree.getLocalizedText(xmp::kNsDublinCore, "title").value, "Blue Square Test File - .jpg");
  EXPECT_EQ(tree.arrayItems(xmp::kNsTiff, "BitsPerSample").value, (Strings{"8", "8", "8"}));

  // A caption removed through its alias leaves no empty array behind.
  RemoveAnnotations(kCaption, block);
  ASSERT_EQ(WriteAnnotationsIntoXmp(rewritten, block), err::kNone);
  xmp::XmpPacket without_caption = Reparse(rewritten);
  EXPECT_FALSE(without_caption.has(xmp::kNsDublinCore, "description"));
  EXPECT_TRUE(without_caption.has(xmp::kNsDublinCore, "title"));
}

TEST(BlankEmptyListItems, KeepsTheLengthAndTheLastItem) {
  std::string text =
      "<rdf:Bag><rdf:li/><rdf:li>a</rdf:li><rdf:li></rdf:li>\n   <rdf:li>b</rdf:li><rdf:li/></rdf:Bag>";
  Bytes bytes = ToBytes(text);
  EXPECT_EQ(BlankEmptyListItems(bytes), 2);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "<rdf:Bag>         <rdf:li>a</rdf:li>                 \n   <rdf:li>b</rdf:li><rdf:li/></rdf:Bag>");
}

TEST(AnnotationsToMetadataTexts, WrittenCodesAndListsThatSplitBack) {
  AnnotationBlock block;
  SetAnnotationText(kKeywords, 0, "plain", block, SetMode::kAppend);
  SetAnnotationText(kKeywords, 0, "with, comma", block, SetMode::kAppend);
  SetAnnotationText(kAuthor, 1, "Ann", block, SetMode::kReplace);
  SetAnnotationText(kCity, 1, "not a text item", block, SetMode::kReplace);
  std::vector<MetadataText> texts = AnnotationsToMetadataTexts(block);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].code, kAuthorText);  // the written code, not '©ART' or '©dir'
  EXPECT_EQ(texts[0].text, "Ann");
  EXPECT_EQ(texts[1].code, kKeywordText);
  EXPECT_EQ(SplitListText(texts[1].text), (Strings{"plain", "with, comma"}));
  // Merged back as a new item's only source, they give the same values.
  AnnotationBlock back = MergeFileMetadata({.texts = texts});
  EXPECT_EQ(Texts(kKeywords, back), Texts(kKeywords, block));
  EXPECT_EQ(Texts(kAuthor, back), Texts(kAuthor, block));
}

}  // namespace
}  // namespace norvo::metadata
