// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/unicode_text.h"

#include <gtest/gtest.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace norvo {
namespace {

bool Finds(std::string_view haystack, std::string_view needle) {
  return SearchForm(haystack).find(SearchForm(needle)) != std::string::npos;
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// NFKC_Casefold of the whole text in one call, without the ASCII table.
std::string IcuFold(const std::string& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::string out;
  icu::StringByteSink<std::string> sink(&out);
  icu::Normalizer2::getNFKCCasefoldInstance(status)->normalizeUTF8(0, text, sink, nullptr, status);
  EXPECT_TRUE(U_SUCCESS(status));
  return out;
}

TEST(SearchForm, MatchesAcrossCaseAccentsAndNormalisationInEveryScript) {
  struct Case {
    const char* fault;
    const char* haystack;
    const char* needle;
    bool found;
  };
  const Case cases[] = {
      {"upper-case accented letters left unfolded", "CAF\u00C9 CR\u00C8ME", "caf\u00e9", true},
      {"decomposed accents not composed", "Cafe\u0301 cre\u0300me", "caf\u00e9 cr\u00e8me", true},
      {"composed accents not matching a decomposed needle", "Caf\u00e9", "CAFE\u0301", true},
      {"accents dropped (e must not find \u00e9)", "Caf\u00e9", "cafe", false},
      {"distinct Cyrillic words merged", "\u041f\u0440\u0438\u0432\u0435\u0442", "\u041c\u043e\u0441\u043a\u0432\u0430",
       false},
      {"sharp s not folded to ss", "STRASSE", "stra\u00dfe", true},
      {"ss not finding sharp s", "Stra\u00dfe", "STRASSE", true},
      {"Greek final sigma apart from sigma", "\u03a3\u039f\u03a6\u039f\u03a3", "\u03c3\u03bf\u03c6\u03bf\u03c2", true},
      {"half-width katakana not normalised", "\uff76\uff92\uff97", "\u30ab\u30e1\u30e9", true},
      {"emoji lost", "party \U0001F389 time", "\U0001F389", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    EXPECT_EQ(Finds(c.haystack, c.needle), c.found);
  }
}

TEST(SearchForm, TheAsciiTableAndIcuStretchesGiveWhatIcuGivesForTheWholeText) {
  // Pieces that test the seams: marks that join the ASCII letter before
  // them, letters that fold to ASCII, ASCII around other scripts.
  const std::vector<std::string> pieces = {"a",      "E",      "Z",      " ",       "1",      "\u0301", "\u0308",
                                           "\u00c9", "\u00df", "\u212a", "\u041f",  "\u0451", "\u03a3", "\uff21",
                                           "\u30ab", "\ufefc", "\u00ad", "\U0001F44D", "\U0001F3FD", "=", "\u0338"};
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int n = static_cast<int>(rng() % 8); n >= 0; --n) text += pieces[rng() % pieces.size()];
    ASSERT_EQ(SearchForm(text), IcuFold(text)) << text;
  }
}

TEST(SearchForm, Windows1252TextFoldsLikeItsUtf8AndStrayBytesPassThrough) {
  EXPECT_EQ([] {
    std::string out;
    AppendSearchFormWindows1252("CAF\xC9 \x8A", out);  // É, Š
    return out;
  }(),
            SearchForm("caf\u00e9 \u0161"));
  EXPECT_EQ(SearchForm("A\xFF" "B"), "a\xFF" "b");
  EXPECT_TRUE(SameSearchForm("\u041f\u0420\u0418\u0412\u0415\u0422", "\u043f\u0440\u0438\u0432\u0435\u0442"));
  EXPECT_FALSE(SameSearchForm("\u041f\u0440\u0438\u0432\u0435\u0442", "\u041c\u043e\u0441\u043a\u0432\u0430"));
}

TEST(Collation, OrdersEachScriptByItsAlphabetNotByCodePoints) {
  struct Case {
    const char* fault;
    const char* a;
    const char* b;
    bool natural;
    int sign;  // of compare(a, b)
  };
  const Case cases[] = {
      {"accented capital sorted after Z", "\u00c9mile", "Fanny", false, -1},
      {"accented capital sorted before the E's", "Edgar", "\u00c9mile", false, -1},
      {"case counted", "abc", "ABC", false, 0},
      {"natural order ignored", "IMG2", "IMG10", true, -1},
      {"digits read as numbers without natural order", "IMG10", "IMG2", false, -1},
      {"Cyrillic \u0401 sorted by code point", "\u0415\u0433\u043e\u0440", "\u0401\u043b\u043a\u0430", false, -1},
      {"Cyrillic \u0401 sorted after \u0416", "\u0401\u043b\u043a\u0430", "\u0416\u0430\u043d\u043d\u0430", false, -1},
      {"katakana sorted after every hiragana", "\u30ab\u30e1\u30e9", "\u304d\u3064\u306d", false, -1},
      {"Greek accented alpha sorted after omega", "\u03ac\u03bb\u03c6\u03b1", "\u03a9\u03bc\u03ad\u03b3\u03b1", false,
       -1},
      {"emoji sorted after letters (by code point)", "\U0001F600 party", "apple", false, -1},
  };
  const TextCollator plain("", false);
  const TextCollator natural("", true);
  std::string ka, kb;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const TextCollator& collator = c.natural ? natural : plain;
    EXPECT_EQ(Sign(collator.compare(c.a, c.b)), c.sign);
    EXPECT_EQ(Sign(collator.compare(c.b, c.a)), -c.sign);
    // Sort keys order the texts exactly as compare() does.
    collator.sortKey(c.a, ka);
    collator.sortKey(c.b, kb);
    EXPECT_EQ(Sign(ka.compare(kb)), c.sign);
  }
}

TEST(Collation, TheLocaleComesFromTheEnvironmentAndTailorsTheOrder) {
  const struct {
    const char* posix;
    const char* icu;
  } names[] = {{"de_DE.UTF-8@euro", "de_DE"}, {"C.UTF-8", ""}, {"POSIX", ""}, {"", ""}, {"ja_JP.eucJP", "ja_JP"},
               {"sv_SE", "sv_SE"}};
  for (const auto& n : names) EXPECT_EQ(CollationLocaleOf(n.posix), n.icu) << n.posix;

  // Swedish puts ö after z, German among the o's: the locale reaches ICU.
  EXPECT_GT(TextCollator("sv_SE", false).compare("\u00f6l", "zoo"), 0);
  EXPECT_LT(TextCollator("de_DE", false).compare("\u00f6l", "zoo"), 0);
  EXPECT_EQ(TextCollator("xx_NOWHERE", false).compare("b", "A"), 1);  // an unknown locale falls back to root

  // The variables as the test found them, put back at the end.
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(name);
    saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
  }
  ::setenv("LC_ALL", "", 1);  // empty: not set
  ::setenv("LC_COLLATE", "sv_SE.UTF-8", 1);
  ::setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(CollationLocaleFromEnvironment(), "sv_SE");
  ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
  EXPECT_EQ(CollationLocaleFromEnvironment(), "ja_JP");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_COLLATE");
  EXPECT_EQ(CollationLocaleFromEnvironment(), "de_DE");
  ::unsetenv("LANG");
  EXPECT_EQ(CollationLocaleFromEnvironment(), "");
  for (const auto& [name, value] : saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

TEST(Names, EqualExactlyWhenTheirSearchFormsAreAndOtherwiseInCollationOrder) {
  struct Case {
    const char* fault;
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"Cyrillic case makes two names", "\u041f\u0440\u0438\u0432\u0435\u0442", "\u041f\u0420\u0418\u0412\u0415\u0422",
       0},
      {"distinct Cyrillic names equal", "\u041c\u043e\u0441\u043a\u0432\u0430", "\u041f\u0440\u0438\u0432\u0435\u0442",
       -1},
      {"sharp s and ss two names", "Stra\u00dfe", "STRASSE", 0},
      {"decomposed accent makes another name", "Cafe\u0301", "CAF\u00c9", 0},
      {"a prefix not first", "Apple", "apples", -1},
      {"accent-only difference merged", "resume", "r\u00e9sum\u00e9", -1},
      {"accented name sorted after Z", "\u00c9mile", "Zo\u00e9", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    EXPECT_EQ(Sign(CompareNames(c.a, c.b)), c.sign);
    EXPECT_EQ(Sign(CompareNames(c.b, c.a)), -c.sign);
  }
}

TEST(Characters, CountAndCutBetweenCodePoints) {
  const std::string privet = "\u041f\u0440\u0438\u0432\u0435\u0442";
  EXPECT_EQ(CharacterCount(privet), 6u);
  EXPECT_EQ(CharacterCount("a\xFF" "b"), 3u);  // a stray byte is a character of its own
  EXPECT_EQ(FirstCharacters(privet, 3), "\u041f\u0440\u0438");
  EXPECT_EQ(FirstCharacters(privet, 99), privet);
  EXPECT_EQ(FirstBytes(privet, 5), "\u041f\u0440");  // not half a letter
  EXPECT_EQ(FirstBytes("a\U0001F600", 4), "a");
  EXPECT_EQ(FirstBytes("abc", 3), "abc");
}

}  // namespace
}  // namespace norvo
