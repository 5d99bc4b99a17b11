// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/error_codes.h"
#include "platform/short_name.h"

namespace norvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MacRomanTable, IsAPermutationKeepingSharedCharactersAndGivingTheRestTheFreeCodes) {
  std::set<int> seen;
  for (int c = 0; c < 256; ++c) {
    auto b = static_cast<std::uint8_t>(c);
    seen.insert(MacRomanToWindows1252(b));
    EXPECT_EQ(Windows1252ToMacRoman(MacRomanToWindows1252(b)), b) << c;
    EXPECT_EQ(MacRomanToWindows1252(Windows1252ToMacRoman(b)), b) << c;
    if (c < 0x80) {
      EXPECT_EQ(MacRomanToWindows1252(b), b) << c;
    }
  }
  EXPECT_EQ(seen.size(), 256u);

  // é and €, which both sets have, and Mac Roman 0xF0, which Windows-1252 lacks
  // and which takes the free code 0xBE.
  std::string text = "Caf\x8E \xF0\xDB";  // Mac Roman
  ConvertText(text, TextDirection::kMacToWindows);
  EXPECT_EQ(text, "Caf\xE9 \xBE\x80");
  ConvertText(text, TextDirection::kWindowsToMac);
  EXPECT_EQ(text, "Caf\x8E \xF0\xDB");
}

TEST(Utf8, Windows1252RoundTripsAndOtherCharactersAreMarkedLossy) {
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::string utf8 = Windows1252ToUtf8(all);
  EXPECT_NE(utf8.find("\xE2\x82\xAC"), std::string::npos);  // 0x80 is the euro sign
  EXPECT_NE(utf8.find("\xC2\x81"), std::string::npos);      // undefined 0x81 is U+0081
  bool lossless = false;
  EXPECT_EQ(Utf8ToWindows1252(utf8, &lossless), all);
  EXPECT_TRUE(lossless);
  EXPECT_EQ(Windows1252ToUtf8("Caf\xE9"), "Caf\xC3\xA9");

  for (const char* text : {"\xC5\x82\xC3\xB3" "d\xC5\xBA\xC3\xA9", "\xE6\x97\xA5\xC3\xA9", "\xF0\x9F\x98\x80\xC3\xA9"}) {
    std::string out = Utf8ToWindows1252(text, &lossless);
    EXPECT_FALSE(lossless) << text;
    EXPECT_EQ(out.back(), '\xE9') << text;  // the rest still converts
    EXPECT_NE(out.find('_'), std::string::npos) << text;
  }
  // Bytes that are not UTF-8 (a lone Latin-1 byte, an overlong slash, a
  // surrogate) are taken as Windows-1252 bytes as they stand.
  for (std::string bad : {"Caf\xE9", "a\xC0\xAF", "\xED\xA0\x80"}) EXPECT_EQ(Utf8ToWindows1252(bad), bad);
}

TEST(Utf8, LenientReadingKeepsSequencesAndReadsStrayBytesAsWindows1252) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xD0\x9F\xD1\x80\xD0\xB8", "\xD0\x9F\xD1\x80\xD0\xB8"},      // Cyrillic kept
      {"\xF0\x9F\x98\x80!", "\xF0\x9F\x98\x80!"},                    // a 4-byte emoji kept
      {"Caf\xE9", "Caf\xC3\xA9"},                                    // a lone Latin-1 byte
      {"\x80\x81", "\xE2\x82\xAC\xC2\x81"},                          // euro sign; undefined 0x81 is U+0081
      {"\xE6\x97", "\xC3\xA6\xE2\x80\x94"},                          // a cut-off sequence: two characters
      {"a\xC0\xAF", "a\xC3\x80\xC2\xAF"},                            // an overlong slash is not UTF-8
      {"\xD0\x9F\xE9", "\xD0\x9F\xC3\xA9"},                          // both in one text
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(LenientUtf8(in), out) << in;
    EXPECT_TRUE(IsWellFormedUtf8(LenientUtf8(in))) << in;
    EXPECT_EQ(IsWellFormedUtf8(in), in == out) << in;
  }
}

TEST(Utf8, CutsFallBetweenCharactersAndKeepMarksWithTheirBase) {
  const std::string e_acute = "e\xCC\x81";                  // e + combining acute
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9";  // man, ZWJ, woman
  const std::string flags = "\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";  // JP FR
  struct Case {
    const char* name;
    std::string text;
    std::size_t max;
    std::size_t want;
  };
  const Case cases[] = {
      {"short text stays whole", "abc", 5, 3},
      {"exact fit", "abc", 3, 3},
      {"two-byte letter not split", "a\xD0\x9F\xD1\x80", 4, 3},
      {"four-byte emoji not split", "ab\xF0\x9F\x98\x80", 5, 2},
      {"nothing fits", "\xF0\x9F\x98\x80", 3, 0},
      {"combining mark stays with its base", "ab" + e_acute, 4, 2},
      {"two marks on one base", "a" + e_acute + "\xCC\x88" "b", 4, 1},
      {"joined emoji kept whole", "a" + family + "!", 11, 1},
      {"flag pair kept", flags, 12, 8},
      {"half a flag is not kept", flags, 7, 0},
      {"stray bytes count one each", "\xE9\xE9\xE9", 2, 2},
      {"Arabic vowel mark", "\xD9\x83\xD9\x8E\xD8\xAA", 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t cut = Utf8CutLength(c.text, c.max);
    EXPECT_EQ(cut, c.want);
    EXPECT_LE(cut, c.max);
    if (IsWellFormedUtf8(c.text)) {
      EXPECT_TRUE(IsWellFormedUtf8(std::string_view(c.text).substr(0, cut)));
    }
  }
}

TEST(Utf16, SurrogatePairsAndNonUtf8BytesSurviveTheRoundTrip) {
  const std::string text = "a\xC3\xA9\xF0\x9F\x93\xB7\xFF\xC3";  // a, e-acute, camera emoji, two stray bytes
  // The emoji as a surrogate pair, 0xFF and 0xC3 carried as lone surrogates.
  EXPECT_EQ(Utf8ToUtf16(text), (std::u16string{u'a', u'\u00E9', 0xD83D, 0xDCF7, 0xDCFF, 0xDCC3}));
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // a lone high surrogate: replaced
}

TEST(Case, UpperWindows1252) {
  // a z é š ÿ, then ÷ and ß that have no one-letter upper case.
  const std::uint8_t pairs[][2] = {{'a', 'A'}, {'z', 'Z'}, {0xE9, 0xC9}, {0x9A, 0x8A},
                                   {0xFF, 0x9F}, {0xF7, 0xF7}, {0xDF, 0xDF}};
  for (const auto& p : pairs) EXPECT_EQ(UpperWindows1252(p[0]), p[1]) << int(p[0]);
  for (int c = 0; c < 256; ++c) {
    auto u = UpperWindows1252(static_cast<std::uint8_t>(c));
    EXPECT_EQ(UpperWindows1252(u), u) << c;  // upper case is already upper
  }
}

TEST(Compare, TextAndPStringsWithAndWithoutCase) {
  EXPECT_EQ(CompareText("Holiday", "HOLIDAY", false), 0);
  EXPECT_GT(CompareText("Holiday", "HOLIDAY", true), 0);
  EXPECT_LT(CompareText("apple", "Banana", false), 0);
  EXPECT_GT(CompareText("apple", "Banana", true), 0);  // byte order: 'a' > 'B'
  EXPECT_EQ(CompareText("caf\xE9", "CAF\xC9", false), 0);
  EXPECT_LT(CompareText("abc", "abcd", false), 0);
  EXPECT_GT(CompareText("\xE9", "z", true), 0);  // bytes compare unsigned

  const Bytes a = {3, 'a', 'b', 'c'}, upper = {3, 'A', 'B', 'C'}, longer = {4, 'a', 'b', 'c', 'd'};
  EXPECT_EQ(ComparePString(a, upper, false), 0);
  EXPECT_GT(ComparePString(a, upper, true), 0);
  EXPECT_LT(ComparePString(a, longer, true), 0);
  EXPECT_GT(ComparePString(longer, a, true), 0);
  // Only the counted bytes take part; a count beyond the buffer is clamped.
  EXPECT_EQ(ComparePString(Bytes{2, 'a', 'b', 'z'}, Bytes{2, 'a', 'b', 'y'}, true), 0);
  EXPECT_EQ(ComparePString(Bytes{9, 'a', 'b'}, Bytes{2, 'a', 'b'}, true), 0);
  EXPECT_EQ(ComparePString(Bytes{}, Bytes{0}, true), 0);
}

TEST(Json, EscapesQuotesControlsAndBadUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"say \"hi\"\\", "say \\\"hi\\\"\\\\"},
      {"a\nb\tc\r", "a\\nb\\tc\\r"},
      {std::string("\x01\x1F\x7F", 3), "\\u0001\\u001f\\u007f"},
      {std::string("a\0b", 3), "a\\u0000b"},
      {"caf\xC3\xA9 \xE6\x97\xA5", "caf\xC3\xA9 \xE6\x97\xA5"},  // valid UTF-8 kept
      {"caf\xE9!", "caf\\ufffd!"},
      {"\xE6\x97", "\\ufffd\\ufffd"},  // cut-off sequence
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(JsonEscape(in), out);
}

TEST(ShortNames, EightDotThree) {
  const std::pair<const char*, const char*> cases[] = {
      {"My Holiday Picture.jpeg", "MYHOLI~1.JPE"}, {"a.b.c.txt", "ABC~1.TXT"}, {"caf\xE9.gif", "CAF\xC9~1.GIF"},
      {"README", "README~1"}, {".profile", "PROFIL~1"}, {"x+y=z.t[x]t", "XYZ~1.TXT"},
      // No usable character in the base name.
      {"", nullptr}, {"   .jpg", nullptr}, {"...", nullptr}, {"[+].txt", nullptr}};
  for (const auto& [name, expected] : cases) {
    std::string out;
    EXPECT_EQ(ShortName(name, out), expected ? err::kNone : err::kBadName) << name;
    if (expected) {
      EXPECT_EQ(out, expected) << name;
    }
  }
}

}  // namespace
}  // namespace norvo
