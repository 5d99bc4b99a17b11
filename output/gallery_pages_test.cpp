// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "output/gallery_pages.h"
#include "output/gallery_templates.h"
#include "output/gallery_test_support.h"
#include "platform/dates.h"

namespace norvo::output {
namespace {

using testing::ExpectGolden;

// Field values held in a map, as a catalog would hand them out.
class MapFields : public GalleryFieldSource {
 public:
  std::map<std::pair<int, metadata::FieldId>, std::vector<std::string>> values;
  std::vector<std::string> texts(int item, metadata::FieldId id) override {
    auto it = values.find({item, id});
    return it == values.end() ? std::vector<std::string>() : it->second;
  }
  std::string label(metadata::FieldId id) override {
    switch (id) {
      case 0x2: return "File Name";
      case 0x216: return "Event";
      case 0x25c: return "Location";
      case 0x276: return "People";
      case 0x250: return "Author";
      case 0x278: return "Caption";
      default: return "?";
    }
  }
};

// A site of `count` photos named photo1.jpg ...; the time is pinned.
GallerySite Site(int count, MapFields* fields) {
  GallerySite site;
  site.title = "Summer & Sea";
  site.comment = "Two <weeks>";
  site.now = static_cast<std::uint32_t>(SecondsSince1904({2024, 7, 14}, 16, 5, 9));
  site.conventions = metadata::FormatConventions::Posix();
  site.conventions.date_format = "%Y-%m-%d";
  site.conventions.time_format = "%H:%M:%S";
  site.fields = fields;
  for (int i = 1; i <= count; ++i) {
    GalleryItem item;
    const std::string n = std::to_string(i);
    item.thumbnail_name = "photo" + n + ".jpg";
    item.thumbnail_bytes = 3000u + static_cast<std::uint32_t>(i);
    item.thumbnail_width = 96;
    item.thumbnail_height = 72;
    item.media_kind = MediaKind::kImage;
    item.media_name = "photo" + n + ".jpg";
    item.media_bytes = 60000;
    item.media_width = 640;
    item.media_height = 480;
    item.original_bytes = 4000000;
    item.original_width = 4000;
    item.original_height = 3000;
    item.page_name = "photo" + n + ".htm";
    site.items.push_back(item);
    fields->values[{i, 0x2}] = {"Photo" + n + ".JPG"};
  }
  return site;
}

std::string IndexPage(const GallerySite& site, std::string_view page_template, int page) {
  std::string out;
  EXPECT_TRUE(BuildIndexPage(site, page_template, page, &out));
  return out;
}

int Count(const std::string& text, std::string_view what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A repeat-mode template: one block per item between the markers.
constexpr std::string_view kRepeatTemplate =
    "<html><head><title>(Norvo:Catalog) (Norvo:Running)/(Norvo:Total)</title></head>\r\n"
    "<body bgcolor=\"#(Norvo:BackgroundColor)\">\r\n<p>(Norvo:Index)</p>\r\n<div>(Norvo:IndexStart)\r\n"
    "  <span>(Norvo:Preview)<br>(Norvo:PreviewWidth)x(Norvo:PreviewHeight) (Norvo:PreviewSize) "
    "(Norvo:Caption) [(Norvo:Keywords)]</span>\r\n(Norvo:IndexEnd)\r\n\t </div>\r\n"
    "<p>(Norvo:Date) (Norvo:Time) (Norvo:goPrevious) (Norvo:GoNext) (Norvo:Unknown)</p></body></html>\r\n";

TEST(GalleryIndexPage, TenItemsInTableModeMakeThreeRowsAndASinglePage) {
  MapFields fields;
  GallerySite site = Site(10, &fields);
  site.settings.include_file_names = 1;
  fields.values[{2, 0x278}] = {"never shown on an index page"};
  ASSERT_EQ(site.pages(), 1);
  EXPECT_EQ(PageList(site, 1, true), " ");
  const std::string page = IndexPage(site, BuiltInIndexTemplate(), 1);
  EXPECT_EQ(Count(page, "<tr>"), 6);  // a thumbnail row and a caption row per table row
  EXPECT_EQ(Count(page, "<img "), 10);
  EXPECT_EQ(Count(page, "<td width=\"140\""), 10);
  EXPECT_NE(page.find("source/photo10.htm"), std::string::npos);
  EXPECT_EQ(page.find("photo11"), std::string::npos);
  ExpectGolden("gallery_table_index.htm", page);

  // A stored table of any size cannot overflow: one row holds every item.
  site.settings.columns = 0x7FFFFFFF;
  site.settings.rows = 0x7FFFFFFF;
  ASSERT_EQ(site.pages(), 1);
  const std::string wide = IndexPage(site, BuiltInIndexTemplate(), 1);
  EXPECT_EQ(Count(wide, "<tr>"), 2);
  EXPECT_EQ(Count(wide, "<img "), 10);
}

TEST(GalleryIndexPage, TwentyItemsMakeTwoPagesWithTheCurrentOneUnlinked) {
  MapFields fields;
  GallerySite site = Site(20, &fields);
  ASSERT_EQ(site.pages(), 2);
  EXPECT_EQ(site.indexPageName(1), "index.htm");
  EXPECT_EQ(site.indexPageName(2), "index2.htm");
  EXPECT_EQ(PageList(site, 1, true), "1-16 | <a href=\"index2.htm\" target=\"_self\">17-20</a>");
  EXPECT_EQ(PageList(site, 2, true), "<a href=\"index.htm\" target=\"_self\">1-16</a> | 17-20");
  EXPECT_EQ(PageList(site, 2, false),
            "<a href=\"../index.htm\" target=\"_index\">1-16</a> | <a href=\"../index2.htm\" target=\"_index\">17-20</a>");
  const std::string second = IndexPage(site, BuiltInIndexTemplate(), 2);
  EXPECT_EQ(Count(second, "<img "), 4);
  EXPECT_NE(second.find("photo17.htm"), std::string::npos);
  EXPECT_EQ(second.find("photo16.htm"), std::string::npos);

  const std::string media17 = BuildMediaPage(site, "(Norvo:GoIndex)|(Norvo:goNext)|(Norvo:GoPrevious)", 17);
  EXPECT_EQ(media17, "../index2.htm|photo18.htm|photo16.htm");
  EXPECT_EQ(BuildMediaPage(site, "(Norvo:GoIndex)", 3), "../index.htm");
  EXPECT_EQ(BuildMediaPage(site, "(Norvo:GoNext)|(Norvo:Running).(Norvo:Total)", 20), "photo1.htm|20.20");
  EXPECT_EQ(BuildMediaPage(site, "(Norvo:GoPrevious)", 1), "photo20.htm");
  // Index pages wrap round too.
  std::string page;
  ASSERT_TRUE(BuildIndexPage(site, "<table><tr><td>(Norvo:Preview)</td></tr></table>(Norvo:GoNext) (Norvo:GoPrevious)",
                             2, &page));
  EXPECT_NE(page.find("</table>index.htm index.htm"), std::string::npos);
}

TEST(GalleryIndexPage, RepeatModeRepeatsTheBlockOncePerItem) {
  MapFields fields;
  GallerySite site = Site(20, &fields);
  site.settings.columns = 3;
  site.settings.rows = 2;
  fields.values[{7, 0x278}] = {"A <b>bold</b> \"claim\""};
  fields.values[{8, 0x219}] = {"sea", "sand", "sun"};
  ASSERT_EQ(site.pages(), 4);
  const std::string second = IndexPage(site, kRepeatTemplate, 2);
  EXPECT_EQ(Count(second, "<span>"), 6);
  EXPECT_EQ(second.find("IndexStart"), std::string::npos);
  EXPECT_NE(second.find("A &lt;b&gt;bold&lt;/b&gt; &quot;claim&quot;"), std::string::npos);
  EXPECT_NE(second.find("[sea, sand, sun]"), std::string::npos);
  ExpectGolden("gallery_repeat_index2.htm", second);
  // The last page holds the two items left.
  const std::string last = IndexPage(site, kRepeatTemplate, 4);
  EXPECT_EQ(Count(last, "<span>"), 2);
  EXPECT_NE(last.find("photo20.htm"), std::string::npos);

  site.settings.raw_captions = 1;
  EXPECT_NE(IndexPage(site, kRepeatTemplate, 2).find("A <b>bold</b> \"claim\""), std::string::npos);
}

TEST(GalleryIndexPage, TemplatesWithoutTheirStructureFail) {
  MapFields fields;
  const GallerySite site = Site(5, &fields);
  std::string out;
  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"no item token", "<html>(Norvo:Catalog)</html>"},
      {"repeat start after the first item token",
       "(Norvo:Preview)(Norvo:IndexStart)(Norvo:Caption)(Norvo:IndexEnd)"},
      {"repeat end missing", "(Norvo:IndexStart)(Norvo:Preview)"},
      {"no table", "<p>(Norvo:Preview)</p>"},
      {"table without rows", "<table>(Norvo:Preview)</table>"},
      {"table not closed", "<table><tr><td>(Norvo:Preview)</td></tr>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(BuildIndexPage(site, c.text, 1, &out));
  }
  // Upper-case table tags are taken.
  ASSERT_TRUE(BuildIndexPage(site, "<TABLE><TR><TD>(Norvo:PreviewFile)</TD></TR></TABLE>", 1, &out));
  EXPECT_EQ(out, "<table><tr><td>photo1.jpg</td><td>photo2.jpg</td><td>photo3.jpg</td><td>photo4.jpg</td></tr>"
                 "<tr><td>photo5.jpg</td></tr></table>");
}

TEST(GalleryMediaPage, BuiltInTemplateShowsTheMediaAndMediaInfo) {
  MapFields fields;
  GallerySite site = Site(3, &fields);
  site.settings.include_media_info = 1;
  fields.values[{2, 0x216}] = {"Regatta"};
  fields.values[{2, 0x278}] = {"Boats <in> line\nat dawn"};
  fields.values[{2, 0x276}] = {"Ann", "Bo"};
  const std::string page = BuildMediaPage(site, BuiltInMediaTemplate(), 2);
  EXPECT_NE(page.find("<img src=\"image/photo2.jpg\" alt=\"photo2.jpg\" border=\"0\" width=\"640\" height=\"480\" />"),
            std::string::npos);
  EXPECT_NE(page.find("<b>File Name:</b><br>Photo2.JPG<br><br><b>Event:</b><br>Regatta<br><br><b>People:</b><br>"
                      "Ann, Bo<br><br><b>Caption:</b><br>Boats &lt;in&gt; line<br />at dawn"),
            std::string::npos);
  ExpectGolden("gallery_media_page.htm", page);
}

TEST(GalleryMediaPage, MarkupOfEachMediaKind) {
  MapFields fields;
  GallerySite site = Site(4, &fields);
  site.items[1].media_kind = MediaKind::kMovie;
  site.items[1].media_name = "clip.mov";
  site.items[1].media_width = 320;
  site.items[1].media_height = 256;
  site.items[2].media_kind = MediaKind::kWindowsMedia;
  site.items[2].media_name = "talk.wmv";
  site.items[3].media_kind = MediaKind::kMovie;
  site.items[3].media_name = "song.mp3";
  site.items[3].sound = true;
  const std::string movie = MediaMarkup(site, 2, false);
  EXPECT_TRUE(movie.starts_with("<video src=\"./image/clip.mov\" controls width=\"320\" height=\"256\" autoplay>"));
  EXPECT_NE(movie.find("clsid:02bf25d5-8c17-4b23-bc80-d3488abddc6b"), std::string::npos);
  EXPECT_NE(movie.find("<param name=\"controller\" value=\"true\"><param name=\"loop\" value=\"false\">"),
            std::string::npos);
  EXPECT_TRUE(movie.ends_with("</object></video>"));
  EXPECT_EQ(movie.find('\n'), std::string::npos);  // one line
  const std::string wmv = MediaMarkup(site, 3, false);
  EXPECT_NE(wmv.find("id=\"NSPlay\""), std::string::npos);
  EXPECT_NE(wmv.find("type=\"video/x-ms-asf-plugin\" src=\"./image/talk.wmv\""), std::string::npos);
  EXPECT_TRUE(MediaMarkup(site, 4, false).starts_with("<audio src=\"./image/song.mp3\" controls autoplay>"));
  // Preloads: a 1 x 1 picture, nothing for players.
  EXPECT_EQ(MediaMarkup(site, 1, true),
            "<img src=\"image/photo1.jpg\" alt=\"photo1.jpg\" border=\"0\" width=\"1\" height=\"1\" />");
  EXPECT_EQ(MediaMarkup(site, 2, true), "");
  EXPECT_EQ(BuildMediaPage(site, "(Norvo:PreloadNext)|(Norvo:PreloadPrevious)", 3), "|");
  EXPECT_EQ(PreviewMarkup(site, 1, false),
            "<a href=\"photo1.htm\"><img src=\"../preview/photo1.jpg\" alt=\"photo1\" width=\"96\" height=\"72\" "
            "border=\"0\" /></a>");
}

TEST(GalleryTokensOnPages, ValuesByPageKind) {
  MapFields fields;
  GallerySite site = Site(2, &fields);
  site.settings.link = {0x1234, 0xABCD, 0x00FF};
  site.settings.columns = 3;
  fields.values[{1, 0x6578829d}] = {"f2.8"};
  struct Case {
    const char* text;
    const char* index;  // on index page 1
    const char* media;  // on the media page of item 1
  };
  const Case cases[] = {
      {"(Norvo:LinkColor)", "12AB00", "12AB00"},
      {"(Norvo:HTMLCharset)", "iso-8859-1", "iso-8859-1"},
      {"(Norvo:Catalog)|(Norvo:CatalogComment)", "Summer &amp; Sea|Two &lt;weeks&gt;",
       "Summer &amp; Sea|Two &lt;weeks&gt;"},
      {"(Norvo:Date) (Norvo:Time)", "2024-07-14 16:05", "2024-07-14 16:05"},
      {"(Norvo:WordIndex) (Norvo:WordNext) (Norvo:WordPrevious)", "index next previous", "index next previous"},
      {"(Norvo:PreviewScale)", "33", "33"},
      {"(Norvo:Media)", "(Norvo:Media)",
       "<img src=\"image/photo1.jpg\" alt=\"photo1.jpg\" border=\"0\" width=\"640\" height=\"480\" />"},
      {"(Norvo:PreviewNext)", "(Norvo:PreviewNext)",
       "<a href=\"photo2.htm\"><img src=\"../preview/photo2.jpg\" alt=\"photo2\" width=\"96\" height=\"72\" "
       "border=\"0\" /></a>"},
      {"(Norvo:IPTCFields)(Norvo:EXIFFields)", "(Norvo:IPTCFields)(Norvo:EXIFFields)",
       "(Norvo:IPTCFields)(Norvo:EXIFFields)"},
      {"(Norvo:PreviewURL) (Norvo:SourceURL) (Norvo:MediaURL) (Norvo:OriginalURL)",
       "preview/photo1.jpg source/photo1.htm source/image/photo1.jpg original/",
       "../preview/photo1.jpg photo1.htm image/photo1.jpg ../original/"},
      {"(Norvo:FileSize) (Norvo:Dimensions) (Norvo:OriginalSize) (Norvo:PreviewSize)",
       "58.6 KB 640x480 3.8 MB 2.9 KB", "58.6 KB 640x480 3.8 MB 2.9 KB"},
      {"[(Norvo:Aperture)][(Norvo:Lens)]", "[f2.8][ ]", "[f2.8][ ]"},
      {"(Norvo:Bogus <x>)", "?Norvo:Bogus &lt;x&gt;)", "?Norvo:Bogus &lt;x&gt;)"},
      {"(Norvo:Fields)", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // Index pages: the item tokens outside a repeating part take the page
    // number as their item.
    std::string page;
    const std::string text = std::string("<table><tr><td>(Norvo:PreviewFile)</td></tr></table>") + c.text;
    ASSERT_TRUE(BuildIndexPage(site, text, 1, &page));
    EXPECT_EQ(page.substr(page.find("</table>") + 8), c.index);
    EXPECT_EQ(BuildMediaPage(site, c.text, 1), c.media);
  }
}

TEST(GalleryTokensOnPages, ExpansionStopsAtAnOverlongTokenAndNeverExpandsValues) {
  MapFields fields;
  GallerySite site = Site(1, &fields);
  fields.values[{1, 0x278}] = {"(Norvo:Catalog)"};
  site.settings.raw_captions = 1;
  EXPECT_EQ(BuildMediaPage(site, "(Norvo:Caption)", 1), "(Norvo:Catalog)");
  const std::string long_name(250, 'x');
  const std::string text = "(Norvo:Total) (Norvo:" + long_name + ") (Norvo:Total)";
  EXPECT_EQ(BuildMediaPage(site, text, 1), "1 (Norvo:" + long_name + ") (Norvo:Total)");
}

TEST(GalleryTokensOnPages, JapanesePagesDeclareShiftJis) {
  MapFields fields;
  GallerySite site = Site(1, &fields);
  site.settings.text_encoding = 2;
  site.title = "\xE6\x9D\xB1\xE4\xBA\xAC \xD0\x9C";
  EXPECT_EQ(BuildMediaPage(site, "(Norvo:HTMLCharset) (Norvo:Catalog)", 1), "x-sjis \x93\x8C\x8B\x9E \x84\x4D");
  site.settings.text_encoding = 1;
  EXPECT_EQ(BuildMediaPage(site, "(Norvo:Catalog)", 1), "&#26481;&#20140; &#1052;");
}

}  // namespace
}  // namespace norvo::output
