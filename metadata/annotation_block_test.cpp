// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/annotation_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
using testing::Texts;

constexpr FieldId kCaption = 0x278;
constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCity = 0x25a;

Bytes Entry(std::uint8_t marker, FieldId id, std::string_view value) {
  Bytes e = {marker, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF),
             static_cast<std::uint8_t>(value.size() >> 8), static_cast<std::uint8_t>(value.size() & 0xFF)};
  for (char c : value) e.push_back(static_cast<std::uint8_t>(c));
  return e;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string TextAt(FieldId id, int index, const Bytes& block) {
  auto v = GetAnnotation(id, index, block);
  return v ? v->text() : "<none>";
}


TEST(AnnotationBlock, ReadingStopsAtAStrayByteOrAnOverrun) {
  Bytes good = Concat({Entry(kTextMarker, kCity, "Oslo"), Entry(kRawMarker, kKeywords, "a")});
  Bytes stray = Concat({good, Bytes{0x42}, Entry(kTextMarker, kCaption, "lost")});
  EXPECT_EQ(AnnotationEntries(stray).size(), 2u);
  EXPECT_EQ(TextAt(kCaption, 1, stray), "<none>");
  EXPECT_TRUE(TrimAnnotationBlock(stray));
  EXPECT_EQ(stray, good);
  EXPECT_FALSE(TrimAnnotationBlock(stray));

  Bytes overrun = Concat({good, Entry(kTextMarker, kCaption, "long")});
  overrun.resize(overrun.size() - 1);
  EXPECT_EQ(WellFormedLength(overrun), good.size());
  Bytes short_header = Concat({good, Bytes{kTextMarker, 2, 120}});
  EXPECT_EQ(WellFormedLength(short_header), good.size());
  EXPECT_TRUE(AnnotationEntries(Bytes{}).empty());
}

TEST(AnnotationBlock, GetCountsFromOneAndTurnsZeroBytesIntoSpaces) {
  Bytes block = Concat({Entry(kTextMarker, kKeywords, "one"), Entry(kTextMarker, kCity, std::string("a\0b", 3)),
                        Entry(kTextMarker, kKeywords, "two")});
  EXPECT_EQ(TextAt(kKeywords, 1, block), "one");
  EXPECT_EQ(TextAt(kKeywords, 2, block), "two");
  EXPECT_EQ(TextAt(kKeywords, 3, block), "<none>");
  EXPECT_EQ(TextAt(kKeywords, 0, block), "<none>");
  EXPECT_EQ(TextAt(kCity, 1, block), "a b");
  EXPECT_EQ(CountAnnotations(kKeywords, block), 2);
  EXPECT_EQ(GetAnnotations(kKeywords, block).size(), 2u);
}

TEST(AnnotationBlock, SetModes) {
  Bytes block = Concat({Entry(kTextMarker, kKeywords, "k1"), Entry(kTextMarker, kCity, "Oslo"),
                        Entry(kTextMarker, kKeywords, "k2")});
  // Mode 0 adds only when there is no such entry.
  EXPECT_FALSE(SetAnnotationText(kCity, 1, "Bergen", block, SetMode::kAddIfMissing));
  EXPECT_TRUE(SetAnnotationText(kCaption, 1, "cap", block, SetMode::kAddIfMissing));
  EXPECT_TRUE(SetAnnotationText(kKeywords, 3, "k3", block, SetMode::kAddIfMissing));
  EXPECT_EQ(Texts(kKeywords, block), (Strings{"k1", "k2", "k3"}));

  // Mode 1 replaces in place: the city stays between the keywords.
  Bytes before = block;
  EXPECT_FALSE(SetAnnotationText(kCity, 1, "Oslo", block, SetMode::kReplace));
  EXPECT_EQ(block, before);
  EXPECT_TRUE(SetAnnotationText(kCity, 1, "Trondheim", block, SetMode::kReplace));
  std::vector<AnnotationEntry> entries = AnnotationEntries(block);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[1].id(), kCity);
  EXPECT_EQ(TextAt(kCity, 1, block), "Trondheim");
  // The same bytes with the other marker are a change.
  EXPECT_TRUE(SetAnnotationText(kCity, 1, "Trondheim", block, SetMode::kReplace, kRawMarker));
  EXPECT_EQ(GetAnnotation(kCity, 1, block)->marker, kRawMarker);

  // Mode 2 removes just that entry; an empty value in mode 1 does the same.
  EXPECT_TRUE(SetAnnotation(kKeywords, 2, {}, block, SetMode::kRemove));
  EXPECT_EQ(Texts(kKeywords, block), (Strings{"k1", "k3"}));
  EXPECT_FALSE(SetAnnotation(kKeywords, 5, {}, block, SetMode::kRemove));
  EXPECT_TRUE(SetAnnotationText(kCaption, 1, "", block, SetMode::kReplace));
  EXPECT_EQ(CountAnnotations(kCaption, block), 0);

  // Mode 3 appends at the end; empty values are never stored.
  EXPECT_TRUE(SetAnnotationText(kKeywords, 0, "k4", block, SetMode::kAppend));
  EXPECT_FALSE(SetAnnotationText(kKeywords, 0, "", block, SetMode::kAppend));
  EXPECT_EQ(AnnotationEntries(block).back().id(), kKeywords);
  EXPECT_EQ(Texts(kKeywords, block), (Strings{"k1", "k3", "k4"}));

  EXPECT_TRUE(RemoveAnnotations(kKeywords, block));
  EXPECT_EQ(CountAnnotations(kKeywords, block), 0);
  EXPECT_EQ(TextAt(kCity, 1, block), "Trondheim");
}

TEST(AnnotationBlock, SetCutsOverlongValuesAndTrimsADamagedBlock) {
  Bytes block = Concat({Entry(kTextMarker, kCity, "Oslo"), Bytes{0x00, 0x01}});
  std::string huge(70000, 'x');
  EXPECT_TRUE(SetAnnotationText(kCaption, 1, huge, block, SetMode::kReplace));
  ASSERT_EQ(WellFormedLength(block), block.size());
  EXPECT_EQ(GetAnnotation(kCaption, 1, block)->bytes.size(), kMaxDataSetLength);
  EXPECT_EQ(TextAt(kCity, 1, block), "Oslo");
}

TEST(AnnotationBlock, FindComparesAcrossEncodings) {
  // "Zoë" once as Windows-1252 text and once as UTF-8 raw bytes.
  Bytes block = Concat({Entry(kTextMarker, kKeywords, "x"), Entry(kRawMarker, kKeywords, "Zo\xC3\xAB"),
                        Entry(kTextMarker, kCaption, "Zo\xEB")});
  const std::string latin = "Zo\xEB";
  const std::string utf8 = "Zo\xC3\xAB";
  auto bytes = [](const std::string& s) {
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  EXPECT_EQ(FindAnnotationValue(kKeywords, bytes(latin), block, kTextMarker), 2);
  EXPECT_EQ(FindAnnotationValue(kKeywords, bytes(utf8), block, kRawMarker), 2);
  EXPECT_EQ(FindAnnotationValue(kCaption, bytes(utf8), block, kRawMarker), 1);
  EXPECT_EQ(FindAnnotationValue(kKeywords, bytes(utf8), block, kTextMarker), 0);
  EXPECT_EQ(GetAnnotation(kKeywords, 2, block)->text(), latin);
  EXPECT_EQ(GetAnnotation(kCaption, 1, block)->utf8(), utf8);
}

TEST(ListText, Splitting) {
  EXPECT_EQ(SplitListText("one;'two,three';four"), (Strings{"one", "two,three", "four"}));
  EXPECT_EQ(SplitListText("  a , b;;\tc  "), (Strings{"a", "b", "c"}));
  EXPECT_EQ(SplitListText("\"it's\", x"), (Strings{"it's", "x"}));
  EXPECT_EQ(SplitListText("a, b\r\nc, d"), (Strings{"a", "b"}));
  EXPECT_EQ(SplitListText("'open quote, runs on"), (Strings{"open quote, runs on"}));
  EXPECT_EQ(SplitListText("'q' tail, z"), (Strings{"q", "z"}));
  EXPECT_TRUE(SplitListText("  ,; ").empty());
  Strings tricky = {"plain", "with, comma", " lead", "semi;colon", "say \"hi\"; now", "'quoted"};
  EXPECT_EQ(SplitListText(JoinListValues(tricky)), tricky);
}

TEST(ListText, CleaningAndDates) {
  EXPECT_EQ(CleanAnnotationText(std::string("  a\t\tb\0  c", 11), false), "a b c");
  EXPECT_EQ(CleanAnnotationText("line\r\nnext", false), "line next");
  EXPECT_EQ(CleanAnnotationText("line\r\nnext", true), "line\r\nnext");
  EXPECT_EQ(NormaliseDateText("2005:09:07 15:07:40"), "20050907");
  EXPECT_EQ(NormaliseDateText("2005-9-7"), "20050907");
  EXPECT_EQ(NormaliseDateText("20050907"), "20050907");
  EXPECT_EQ(NormaliseDateText(" 2005"), "20050000");
  EXPECT_EQ(NormaliseDateText("05/09/07"), std::nullopt);
  EXPECT_EQ(NormaliseDateText("yesterday"), std::nullopt);
}

}  // namespace
}  // namespace norvo::metadata
