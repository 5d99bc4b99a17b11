// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "output/gallery_settings.h"
#include "output/gallery_text.h"
#include "output/gallery_tokens.h"

namespace norvo::output {
namespace {

TEST(GalleryEscape, FollowsTheByteTableAndWritesOtherCharactersAsReferences) {
  struct Case {
    const char* name;
    std::string in;
    EscapeOptions options;
    std::string want;
  };
  const EscapeOptions raw{PageEncoding::kWestern, true};
  const EscapeOptions japanese{PageEncoding::kJapanese, false};
  const Case cases[] = {
      {"specials", "a<b & \"c\" > d", {}, "a&lt;b &amp; &quot;c&quot; &gt; d"},
      {"raw keeps specials", "a<b & \"c\"", raw, "a<b & \"c\""},
      {"line ends", "one\ntwo\r\nthree", {}, "one<br />two<br /><br />three"},
      {"controls dropped", std::string("a\x01\tb\x1f", 5), {}, "ab"},
      {"latin-1 entities", "caf\xC3\xA9 \xC2\xA0\xC3\xBF", {}, "caf&eacute; &nbsp;&yuml;"},
      {"windows-1252 range", "\xE2\x82\xAC \xE2\x80\x9C\xE2\x84\xA2", {}, "&euro; &ldquo;&trade;"},
      {"z caron by number", "\xC5\xBD\xC5\xBE", {}, "&#142;&#158;"},
      {"undefined 1252 codes dropped", "a\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D" "b", {}, "ab"},
      {"outside 1252", "\xD0\x9C\xD0\xBE\xE6\x9D\xB1\xF0\x9F\x98\x80", {}, "&#1052;&#1086;&#26481;&#128512;"},
      {"not utf-8 read as 1252", "caf\xE9", {}, "caf&eacute;"},
      {"japanese pair", "\xE6\x9D\xB1\xE4\xBA\xAC", japanese, "\x93\x8C\x8B\x9E"},
      {"japanese keeps ascii rules", "<\xE6\x9D\xB1>", japanese, "&lt;\x93\x8C&gt;"},
      {"japanese mixes pairs, entities and references", "\xD0\x9C\xC3\xA9\xF0\x9F\x98\x80", japanese, "\x84\x4D&eacute;&#128512;"},
      {"half-width katakana by number", "\xEF\xBD\xB1", japanese, "&#65393;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Escaped(c.in, c.options), c.want);
  }
}

TEST(GalleryEscape, StopsAtTenThousandBytesWithoutCuttingAnEntity) {
  const std::string amps(4000, '&');  // 5 bytes each escaped
  const std::string out = Escaped(amps);
  EXPECT_EQ(out.size(), kMaxEscapedBytes);
  EXPECT_EQ(out.substr(out.size() - 5), "&amp;");
  const std::string mixed = std::string(9998, 'x') + "<";
  EXPECT_EQ(Escaped(mixed), std::string(9998, 'x'));
}

TEST(GalleryNames, MapEveryByteToSafeAscii) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"Beach.JPG", "beach.jpg"},
      {"Caf\xC3\xA9 Paris.tif", "caf__paris.tif"},
      {"(a)-[b]|c}<d>.e", "(a)-[b]|c}<d>.e"},
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"/abs", "_abs"},
      {"a\\b:c*d?e", "a_b_c_d_e"},
      {"\xD0\x9C\xD0\xBE", "__"},
      {"\xC3\x87\xC3\xBC", "__"},  // U+00C7 and U+00FC are 0xC7 and 0xFC in 1252: outside the fold
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(MapFileName(c.in), c.want);
  }
  std::string nul("a\0b", 3);
  EXPECT_EQ(MapFileName(nul), "a_b");
  for (int b = 0; b < 256; ++b) {
    const char c = MapFileNameByte(static_cast<std::uint8_t>(b));
    EXPECT_TRUE(c != '/' && c != '\0' && static_cast<unsigned char>(c) < 0x80) << b;
  }
}

TEST(GalleryNames, UniqueNamesCountUpIgnoringCase) {
  NameSet names;
  EXPECT_EQ(names.unique("beach.jpg"), "beach.jpg");
  EXPECT_EQ(names.unique("BEACH.jpg"), "BEACH_1.jpg");
  EXPECT_EQ(names.unique("beach.jpg"), "beach_2.jpg");
  EXPECT_EQ(names.unique("beach_1.jpg"), "beach_1_1.jpg");
  EXPECT_EQ(names.unique("noext"), "noext");
  EXPECT_EQ(names.unique("noext"), "noext_1");
  EXPECT_EQ(names.unique(".htm"), ".htm");
  EXPECT_EQ(names.unique(".htm"), ".htm_1");
  EXPECT_EQ(names.unique("a.b.c"), "a.b.c");
  EXPECT_EQ(names.unique("a.b.c"), "a.b_1.c");
}

TEST(GallerySizes, ScaleByPowersOf1024) {
  EXPECT_EQ(FormatGallerySize(0), "0 bytes");
  EXPECT_EQ(FormatGallerySize(1023), "1023 bytes");
  EXPECT_EQ(FormatGallerySize(1024), "1.0 KB");
  EXPECT_EQ(FormatGallerySize(1536, ","), "1,5 KB");
  EXPECT_EQ(FormatGallerySize(5u << 20), "5.0 MB");
  EXPECT_EQ(FormatGallerySize(3ull << 30), "3.0 GB");
}

TEST(GalleryTokens, TableHasEveryNameOnceAndLooksUpWithoutCaseOrMarks) {
  for (const GalleryToken& t : GalleryTokens()) EXPECT_EQ(FindGalleryToken(t.name), &t) << t.name;
  ASSERT_NE(FindGalleryToken("goNext"), nullptr);
  EXPECT_EQ(FindGalleryToken("goNext")->code, tokens::kGoNext);
  EXPECT_EQ(FindGalleryToken("C\xC3\xA0ption")->code, 0x278u);
  EXPECT_EQ(FindGalleryToken("Nonsense"), nullptr);
  EXPECT_TRUE(IsFieldToken(*FindGalleryToken("Lens")));
  EXPECT_FALSE(IsFieldToken(*FindGalleryToken("PreviewURL")));
  EXPECT_FALSE(IsFieldToken(*FindGalleryToken("Catalog")));
}

// A record with a distinct value in every field.
GallerySettings Distinct() {
  GallerySettings s;
  s.numbered_page_names = 1;
  s.embed_iptc = 1;
  s.extension_code = 3;
  s.media_size_code = 4;
  s.thumbnail_size = 160;
  s.thumbnail_size_code = 4;
  s.jpeg_quality_code = 7;
  s.raw_captions = 1;
  s.text_encoding = 2;
  s.include_file_names = 1;
  s.include_media_info = 1;
  s.template_kind = 2;
  s.setTemplateName("Simple Gallery");
  s.columns = 5;
  s.rows = 3;
  s.frame_images = 1;
  s.watermark = 1;
  s.thumbnail_scaling = 3;
  s.media_scaling = 1;
  s.media_box_width = 800;
  s.media_box_height = 600;
  s.background = {0x1111, 0x2222, 0x3333};
  s.link = {0x4444, 0x5555, 0x6666};
  s.text = {0x7777, 0x8888, 0x9999};
  s.text_background = {0xAAAA, 0xBBBB, 0xCCCC};
  s.kept = 0;
  s.movie_auto_play = 0;
  s.movie_loop = 1;
  s.movie_controller = 0;
  s.target_jpeg_kb = 250;
  s.reserved_132 = 0xDEADBEEF;
  s.reserved_136[0] = 7;
  s.reserved_136[491] = 9;
  return s;
}

TEST(GallerySettingsRecord, RoundTripsEveryByteLittleEndian) {
  const std::vector<std::uint8_t> bytes = SerializeGallerySettings(Distinct());
  ASSERT_EQ(bytes.size(), kGallerySettingsSize);
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(bytes[2], 0x02);
  EXPECT_EQ(bytes[8], 160);
  EXPECT_EQ(bytes[20], 14);  // the template name's length byte
  EXPECT_EQ(bytes[84], 5);
  EXPECT_EQ(bytes[96], 0x20);  // 800 = 0x0320, low byte first
  EXPECT_EQ(bytes[97], 0x03);
  EXPECT_EQ(bytes[100], 0x11);
  EXPECT_EQ(bytes[128], 250);
  EXPECT_EQ(bytes[132], 0xEF);
  EXPECT_EQ(bytes[627], 9);
  GallerySettings back;
  ASSERT_EQ(ParseGallerySettings(bytes, &back), err::kNone);
  EXPECT_EQ(SerializeGallerySettings(back), bytes);
  EXPECT_EQ(back.templateName(), "Simple Gallery");
  EXPECT_EQ(back.extension(), "shtml");
  EXPECT_TRUE(back.japanese());
}

TEST(GallerySettingsRecord, DefaultsForAnotherVersionAndRangeChecksOnLoad) {
  const std::vector<std::uint8_t> defaults = SerializeGallerySettings(GallerySettings{});
  GallerySettings s;
  ASSERT_EQ(ParseGallerySettings({}, &s), err::kNone);
  EXPECT_EQ(SerializeGallerySettings(s), defaults);

  std::vector<std::uint8_t> other = SerializeGallerySettings(Distinct());
  other[0] = 0x02;  // version 0x00020002
  ASSERT_EQ(ParseGallerySettings(other, &s), err::kNone);
  EXPECT_EQ(SerializeGallerySettings(s), defaults);

  std::vector<std::uint8_t> short_record(defaults.begin(), defaults.begin() + 100);
  EXPECT_EQ(ParseGallerySettings(short_record, &s), err::kParam);

  GallerySettings bad;
  bad.columns = 0;
  bad.rows = -3;
  bad.thumbnail_size = 15;
  bad.media_box_width = 16001;
  bad.media_box_height = 15;
  bad.thumbnail_scaling = 1;
  bad.media_scaling = 4;
  bad.target_jpeg_kb = 0;
  ASSERT_EQ(ParseGallerySettings(SerializeGallerySettings(bad), &s), err::kNone);
  EXPECT_EQ(s.columns, 4);
  EXPECT_EQ(s.rows, 4);
  EXPECT_EQ(s.thumbnail_size, 96);
  EXPECT_EQ(s.media_box_width, 640);
  EXPECT_EQ(s.media_box_height, 480);
  EXPECT_EQ(s.thumbnail_scaling, 2);
  EXPECT_EQ(s.media_scaling, 2);
  EXPECT_EQ(s.target_jpeg_kb, 100);
  bad = GallerySettings{};
  bad.thumbnail_size = 512;
  bad.media_box_width = 16;
  ASSERT_EQ(ParseGallerySettings(SerializeGallerySettings(bad), &s), err::kNone);
  EXPECT_EQ(s.thumbnail_size, 512);
  EXPECT_EQ(s.media_box_width, 16);
}

TEST(GallerySettingsRecord, LayoutCodesSetSizesAndTheExtensionFallsBack) {
  GallerySettings s;
  s.numbered_page_names = 1;
  ApplyLayoutCodes(&s, 1, 2);
  EXPECT_EQ(s.thumbnail_size, 64);
  EXPECT_EQ(s.media_box_width, 480);
  EXPECT_EQ(s.numbered_page_names, 0);
  ApplyLayoutCodes(&s, 9, 9);  // out of range: the largest sizes
  EXPECT_EQ(s.thumbnail_size, 160);
  EXPECT_EQ(s.media_box_width, 800);
  s.extension_code = 9;
  EXPECT_EQ(s.extension(), "htm");
}

}  // namespace
}  // namespace norvo::output
