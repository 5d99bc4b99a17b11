// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gallery_pages.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "output/gallery_text.h"
#include "output/gallery_tokens.h"
#include "platform/text_encoding.h"

namespace norvo::output {
namespace {

namespace ids = metadata::field_ids;

// Addresses of the players the legacy movie markup names.
constexpr char kQuickTimeCodebase[] = "http://www.apple.com/qtactivex/qtplugin.cab";
constexpr char kQuickTimePluginPage[] = "http://www.apple.com/quicktime/download/";
constexpr char kWindowsMediaCodebase[] =
    "http://activex.microsoft.com/activex/controls/mplayer/en/nsmp2inf.cab#Version=6,4,7,1112";

// The fields the media page's (Norvo:Fields) lists with media info on.
constexpr metadata::FieldId kMediaInfoFields[] = {ids::kFileName, 0x216, 0x25c, 0x276, 0x250, ids::kCaption};

const char* TrueFalse(bool value) { return value ? "true" : "false"; }

std::string Number(long long value) { return std::to_string(value); }

std::string HexColour(const RgbColour& c) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", c.red >> 8, c.green >> 8, c.blue >> 8);
  return text;
}

// A name without the extension of three or four letters.
std::string WithoutExtension(const std::string& name) {
  const std::size_t n = name.size();
  if (n >= 4 && name[n - 4] == '.') return name.substr(0, n - 4);
  if (n >= 5 && name[n - 5] == '.') return name.substr(0, n - 5);
  return name;
}

// The time pattern without its seconds.
std::string TimeWithoutSeconds(const metadata::FormatConventions& c) {
  std::string pattern = c.time_format;
  auto replace_all = [&](std::string_view from, std::string_view to) {
    for (std::size_t at = pattern.find(from); at != std::string::npos; at = pattern.find(from, at + to.size())) {
      pattern.replace(at, from.size(), to);
    }
  };
  replace_all("%T", "%H:%M");
  replace_all("%r", c.time_format_ampm);
  replace_all(":%S", "");
  replace_all(".%S", "");
  replace_all("%S", "");
  return pattern;
}

enum class Mode { kIndex, kMedia };

class Expander {
 public:
  Expander(const GallerySite& site, Mode mode) : site_(site), mode_(mode) {}

  // The value of `token` for item `item` on page `page`; nullopt leaves the
  // token as it stands.
  std::optional<std::string> value(const GalleryToken& token, int item, int page) {
    const bool index = mode_ == Mode::kIndex;
    const GallerySettings& s = site_.settings;
    const int count = site_.count();
    switch (token.code) {
      case tokens::kCatalog: return escaped(site_.title);
      case tokens::kCatalogComment: return escaped(site_.comment, s.raw_captions != 0);
      case tokens::kIndex: return PageList(site_, page, index);
      case tokens::kGoIndex: {
        if (index) return PageList(site_, page, true);
        const int p = site_.pageOfItem(item);
        return "../index" + (site_.pages() >= 2 && p != 1 ? Number(p) : std::string()) + site_.extension();
      }
      case tokens::kGoPrevious:
      case tokens::kGoNext: {
        const int step = token.code == tokens::kGoNext ? 1 : -1;
        if (index) {
          const int pages = site_.pages();
          if (pages <= 1) return std::string();
          return site_.indexPageName((page - 1 + step + pages) % pages + 1);
        }
        if (count == 0) return std::string();
        return record((item - 1 + step + count) % count + 1).page_name;
      }
      case tokens::kRunning: return Number(index ? page : item);
      case tokens::kTotal: return Number(index ? site_.pages() : count);
      case tokens::kDate: return escaped(Windows1252ToUtf8(metadata::FormatDate(site_.now, site_.conventions)));
      case tokens::kTime: {
        metadata::FormatConventions time = site_.conventions;
        time.date_format = TimeWithoutSeconds(site_.conventions);
        return escaped(Windows1252ToUtf8(metadata::FormatDate(site_.now, time)));
      }
      case tokens::kWordIndex: return std::string("index");
      case tokens::kWordNext: return std::string("next");
      case tokens::kWordPrevious: return std::string("previous");
      case tokens::kHtmlCharset: return std::string(s.japanese() ? "x-sjis" : "iso-8859-1");
      case tokens::kBackgroundColor: return HexColour(s.background);
      case tokens::kLinkColor: return HexColour(s.link);
      case tokens::kTextColor: return HexColour(s.text);
      case tokens::kTextBackColor: return HexColour(s.text_background);
      case tokens::kPreviewScale: return Number(100 / site_.columns());
      default: break;
    }
    // What is left refers to one item.
    if (item < 1 || item > count) {
      if (index && (token.code == tokens::kMedia || token.code == tokens::kPreloadNext ||
                    token.code == tokens::kPreloadPrevious || token.code == tokens::kPreviewNext ||
                    token.code == tokens::kPreviewPrevious)) {
        return std::nullopt;
      }
      if (token.code == tokens::kIptcFields || token.code == tokens::kExifFields) return std::nullopt;
      return std::string();
    }
    const GalleryItem& r = record(item);
    auto neighbour = [&](int step) { return (item - 1 + step + count) % count + 1; };
    switch (token.code) {
      case tokens::kMedia:
        if (index) return std::nullopt;
        return MediaMarkup(site_, item, false);
      case tokens::kPreloadNext:
      case tokens::kPreloadPrevious:
        if (index) return std::nullopt;
        return MediaMarkup(site_, neighbour(token.code == tokens::kPreloadNext ? 1 : -1), true);
      case tokens::kPreview: return PreviewMarkup(site_, item, index);
      case tokens::kPreviewNext:
      case tokens::kPreviewPrevious:
        if (index) return std::nullopt;
        return PreviewMarkup(site_, neighbour(token.code == tokens::kPreviewNext ? 1 : -1), false);
      case tokens::kPreviewSize: return FormatGallerySize(r.thumbnail_bytes, site_.conventions.decimal_separator);
      case tokens::kPreviewWidth: return Number(r.thumbnail_width);
      case tokens::kPreviewHeight: return Number(r.thumbnail_height);
      case tokens::kFields: return fields(item);
      case tokens::kIptcFields:
      case tokens::kExifFields: return std::nullopt;
      case tokens::kPreviewFile: return r.thumbnail_name;
      case tokens::kSourceFile: return r.page_name;
      case tokens::kMediaFile: return r.media_name;
      case tokens::kOriginalFile: return r.original_name;
      case tokens::kPreviewUrl: return (index ? "preview/" : "../preview/") + r.thumbnail_name;
      case tokens::kOriginalUrl: return (index ? "original/" : "../original/") + r.original_name;
      case tokens::kSourceUrl: return (index ? "source/" : "") + r.page_name;
      // The media files lie in "source/image": the address from each page.
      case tokens::kMediaUrl: return (index ? "source/image/" : "image/") + r.media_name;
      case tokens::kOriginalSize: return FormatGallerySize(r.original_bytes, site_.conventions.decimal_separator);
      case tokens::kOriginalWidth: return Number(r.original_width);
      case tokens::kOriginalHeight: return Number(r.original_height);
      // These four show the media file the gallery made, not the original.
      case ids::kFileSize: return FormatGallerySize(r.media_bytes, site_.conventions.decimal_separator);
      case ids::kWidth: return Number(r.media_width);
      case ids::kHeight: return Number(r.media_height);
      case ids::kDimensions: return Number(r.media_width) + "x" + Number(r.media_height);
      default: break;
    }
    if (IsFieldToken(token)) {
      std::string joined;
      if (site_.fields != nullptr) {
        for (const std::string& text : site_.fields->texts(item, token.code)) {
          if (text.empty()) continue;
          if (!joined.empty()) joined += ", ";
          joined += text;
        }
      }
      if (joined.empty()) return std::string(" ");
      return escaped(joined, token.code == ids::kCaption && s.raw_captions != 0);
    }
    return std::string();
  }

 private:
  const GalleryItem& record(int item) const { return site_.items[static_cast<std::size_t>(item - 1)]; }

  std::string escaped(std::string_view text, bool raw = false) const {
    EscapeOptions options;
    options.encoding = site_.settings.japanese() ? PageEncoding::kJapanese : PageEncoding::kWestern;
    options.raw = raw;
    return Escaped(text, options);
  }

  std::string firstText(int item, metadata::FieldId id) const {
    if (site_.fields == nullptr) return {};
    std::string joined;
    for (const std::string& text : site_.fields->texts(item, id)) {
      if (text.empty()) continue;
      if (!joined.empty()) joined += ", ";
      joined += text;
    }
    return joined;
  }

  std::string fields(int item) const {
    const GallerySettings& s = site_.settings;
    if (mode_ == Mode::kIndex) {
      if (s.include_file_names == 0) return {};
      return escaped(WithoutExtension(firstText(item, ids::kFileName)));
    }
    if (s.include_media_info == 0) return {};
    std::string out;
    for (std::size_t i = 0; i < std::size(kMediaInfoFields); ++i) {
      const metadata::FieldId id = kMediaInfoFields[i];
      const std::string value = firstText(item, id);
      if (value.empty()) continue;
      if (i > 0) out += "<br><br>";
      out += "<b>";
      out += escaped(site_.fields->label(id));
      out += ":</b><br>";
      out += escaped(value, id == ids::kCaption && s.raw_captions != 0);
    }
    return out;
  }

  const GallerySite& site_;
  Mode mode_;
};

// Expands every token of `text` into `out`. Item tokens inside
// [region_begin, region_end) take the items from `first_item` on, the k-th
// occurrence of a token the k-th item; every other token takes
// `current_item` and `page`. One pass from a running position, so text a
// value brings in is never expanded again.
void Expand(const GallerySite& site, Mode mode, std::string_view text, std::size_t region_begin,
            std::size_t region_end, int first_item, int current_item, int page, std::string* out) {
  Expander expander(site, mode);
  std::map<const GalleryToken*, int> occurrences;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find(kTokenOpen, pos);
    if (start == std::string_view::npos) break;
    const std::size_t close = text.find(')', start);
    if (close == std::string_view::npos || close - start + 1 > kMaxTokenLength) break;
    out->append(text.substr(pos, start - pos));
    const std::string_view whole = text.substr(start, close - start + 1);
    const std::string_view name = text.substr(start + kTokenOpen.size(), close - start - kTokenOpen.size());
    const GalleryToken* token = FindGalleryToken(name);
    std::optional<std::string> value;
    if (token == nullptr) {
      value = "?" + Escaped(whole.substr(1));
    } else if (token->per_item && start >= region_begin && start < region_end) {
      const int k = ++occurrences[token];
      value = expander.value(*token, first_item + k - 1, page);
    } else {
      value = expander.value(*token, current_item, page);
    }
    out->append(value ? std::string_view(*value) : whole);
    pos = close + 1;
  }
  out->append(text.substr(std::min(pos, text.size())));
}

struct TokenAt {
  std::size_t position = std::string_view::npos;
  const GalleryToken* token = nullptr;
};

// The first item token of a template, as the expansion would read it.
TokenAt FirstItemToken(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = text.find(kTokenOpen, pos);
    if (start == std::string_view::npos) break;
    const std::size_t close = text.find(')', start);
    if (close == std::string_view::npos || close - start + 1 > kMaxTokenLength) break;
    const GalleryToken* token =
        FindGalleryToken(text.substr(start + kTokenOpen.size(), close - start - kTokenOpen.size()));
    if (token != nullptr && token->per_item) return {start, token};
    pos = close + 1;
  }
  return {};
}

bool IsBlank(char c) { return c == ' ' || c == '\r' || c == '\n'; }

// The rows of the page and the cells of its last row.
struct PageShape {
  int first = 1;
  int rows = 0;
  int overflow = 0;  // cells of the last row left empty
};

PageShape ShapeOf(const GallerySite& site, int page) {
  const int columns = site.columns(), rows = site.rows(), count = site.count();
  const int per_page = columns * rows;
  PageShape shape;
  shape.first = (page - 1) * per_page + 1;
  shape.rows = rows;
  if (page * per_page > count) shape.rows = rows - (page * per_page - count) / columns;
  const int last = shape.first + shape.rows * columns - 1;
  shape.overflow = std::max(0, last - count);
  return shape;
}

bool RepeatMode(const GallerySite& site, std::string_view text, std::size_t first_token, const PageShape& shape,
                std::string* page_text, std::size_t* region_begin, std::size_t* region_end) {
  constexpr std::string_view kStart = "(Norvo:IndexStart)", kEnd = "(Norvo:IndexEnd)";
  const std::size_t start = text.find(kStart);
  if (start == std::string_view::npos) return false;
  const std::size_t end = text.find(kEnd, start + kStart.size());
  if (end == std::string_view::npos || first_token < start + kStart.size() || first_token >= end) return false;
  std::size_t block_begin = start + kStart.size();
  while (block_begin < end && IsBlank(text[block_begin])) ++block_begin;
  const std::string_view block = text.substr(block_begin, end - block_begin);
  std::size_t after = end + kEnd.size();
  while (after < text.size() && (IsBlank(text[after]) || text[after] == '\t')) ++after;

  page_text->assign(text.substr(0, start));
  *region_begin = page_text->size();
  const int repeats = std::max(0, shape.rows * site.columns() - shape.overflow);
  for (int i = 0; i < repeats; ++i) page_text->append(block);
  *region_end = page_text->size();
  page_text->append(text.substr(after));
  return true;
}

bool TableMode(const GallerySite& site, std::string_view original, const PageShape& shape, std::string* page_text,
               std::size_t* region_begin, std::size_t* region_end) {
  std::string text(original);
  for (std::string_view tag : {"<TABLE", "</TABLE", "<TD", "</TD", "<TR", "</TR"}) {
    for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + tag.size())) {
      for (std::size_t k = 0; k < tag.size(); ++k) {
        char& c = text[at + k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
    }
  }
  const TokenAt first = FirstItemToken(text);
  if (first.token == nullptr) return false;
  const std::size_t table = text.rfind("<table", first.position);
  if (table == std::string::npos) return false;
  const std::size_t table_end = text.find("</table>", first.position);
  if (table_end == std::string::npos) return false;
  const std::size_t body = text.find("<tr", table);
  if (body == std::string::npos || body >= table_end) return false;

  page_text->assign(text, 0, body);
  *region_begin = page_text->size();
  const std::string_view body_text = std::string_view(text).substr(body, table_end - body);
  const int columns = site.columns();
  for (int r = 1; r <= shape.rows; ++r) {
    const int cells = r == shape.rows ? std::max(0, columns - shape.overflow) : columns;
    std::size_t pos = 0;
    while (pos < body_text.size()) {
      const std::size_t row = body_text.find("<tr", pos);
      if (row == std::string_view::npos) break;
      page_text->append(body_text.substr(pos, row - pos));  // between rows
      std::size_t row_end = body_text.find("</tr>", row);
      if (row_end == std::string_view::npos) row_end = body_text.size();
      const std::size_t cell = body_text.find("<td", row);
      if (cell == std::string_view::npos || cell >= row_end) {
        page_text->append(body_text.substr(row, row_end - row));
      } else {
        page_text->append(body_text.substr(row, cell - row));
        const std::string_view cell_text = body_text.substr(cell, row_end - cell);
        for (int c = 0; c < cells; ++c) page_text->append(cell_text);
      }
      pos = row_end;
      if (pos < body_text.size()) {
        page_text->append("</tr>");
        pos += 5;
      }
    }
    page_text->append(body_text.substr(std::min(pos, body_text.size())));
  }
  *region_end = page_text->size();
  page_text->append(text, table_end);
  return true;
}

}  // namespace

int GallerySite::pages() const {
  const int per_page = std::max(1, perPage());
  return (count() + per_page - 1) / per_page;
}

std::string GallerySite::extension() const { return "." + std::string(settings.extension()); }

std::string GallerySite::indexPageName(int page) const {
  return "index" + (page == 1 ? std::string() : std::to_string(page)) + extension();
}

int GallerySite::pageOfItem(int item) const { return (item - 1) / std::max(1, perPage()) + 1; }

std::string PreviewMarkup(const GallerySite& site, int item, bool index_page) {
  if (item < 1 || item > site.count()) return {};
  const GalleryItem& r = site.items[static_cast<std::size_t>(item - 1)];
  const std::string& thumb = r.thumbnail_name;
  std::string out = "<a href=\"";
  out += index_page ? "source/" : "";
  out += r.page_name;
  out += "\"><img src=\"";
  out += index_page ? "preview/" : "../preview/";
  out += thumb;
  out += "\" alt=\"";
  out += thumb.substr(0, thumb.size() >= 4 ? thumb.size() - 4 : 0);
  out += "\" width=\"" + Number(r.thumbnail_width) + "\" height=\"" + Number(r.thumbnail_height);
  out += "\" border=\"0\" /></a>";
  return out;
}

std::string MediaMarkup(const GallerySite& site, int item, bool preload) {
  if (item < 1 || item > site.count()) return {};
  const GalleryItem& r = site.items[static_cast<std::size_t>(item - 1)];
  const GallerySettings& s = site.settings;
  const std::string w = Number(preload ? 1 : r.media_width), h = Number(preload ? 1 : r.media_height);
  const std::string& name = r.media_name;
  const std::string src = "./image/" + name;
  auto image = [&](const char* folder) {
    return std::string("<img src=\"") + folder + "/" + name + "\" alt=\"" + name + "\" border=\"0\" width=\"" + w +
           "\" height=\"" + h + "\" />";
  };
  // Today's browsers play the file with their own player; the plug-in
  // markup inside it is what older ones fall back to.
  auto html5 = [&](const std::string& legacy) {
    const char* element = r.sound ? "audio" : "video";
    std::string out = std::string("<") + element + " src=\"" + src + "\" controls";
    if (!r.sound) out += " width=\"" + w + "\" height=\"" + h + "\"";
    if (s.movie_auto_play != 0) out += " autoplay";
    if (s.movie_loop != 0) out += " loop";
    out += ">" + legacy + "</" + element + ">";
    return out;
  };
  switch (r.media_kind) {
    case MediaKind::kNone: return {};
    case MediaKind::kImage: return image("image");
    case MediaKind::kMovie: {
      if (preload) return {};
      const char* autoplay = TrueFalse(s.movie_auto_play != 0);
      const char* controller = TrueFalse(s.movie_controller != 0);
      const char* loop = TrueFalse(s.movie_loop != 0);
      std::string legacy = "<object classid=\"clsid:02bf25d5-8c17-4b23-bc80-d3488abddc6b\" width=\"" + w +
                           "\" height=\"" + h + "\" codebase=\"" + kQuickTimeCodebase + "\">";
      legacy += "<param name=\"src\" value=\"" + src + "\">";
      legacy += std::string("<param name=\"autoplay\" value=\"") + autoplay + "\">";
      legacy += std::string("<param name=\"controller\" value=\"") + controller + "\">";
      legacy += std::string("<param name=\"loop\" value=\"") + loop + "\">";
      legacy += "<embed src=\"" + src + "\" width=\"" + w + "\" height=\"" + h + "\" autoplay=\"" + autoplay +
                "\" controller=\"" + controller + "\" loop=\"" + loop + "\" pluginspage=\"" + kQuickTimePluginPage +
                "\"></embed></object>";
      return html5(legacy);
    }
    case MediaKind::kWindowsMedia: {
      if (preload) return {};
      const char* autoplay = TrueFalse(s.movie_auto_play != 0);
      const char* controls = TrueFalse(s.movie_controller != 0);
      std::string legacy = "\n<object id=\"NSPlay\" classid=\"CLSID:22d6f312-b0f6-11d0-94ab-0080c74c7e95\" codebase=\"" +
                           std::string(kWindowsMediaCodebase) + "\" viewastext=\"\" width=\"" + w + "\" height=\"" +
                           h + "\">\n";
      legacy += "<param name=\"ControlType\" value=\"1\">\n";
      legacy += "<param name=\"filename\" value=\"" + src + "\">\n";
      legacy += std::string("<param name=\"AutoStart\" value=\"") + autoplay + "\">\n";
      legacy += std::string("<param name=\"ShowControls\" value=\"") + controls + "\">\n";
      legacy += "<param name=\"ShowStatusBar\" value=\"True\">\n";
      legacy += "<param name=\"AnimationStart\" value=\"true\">\n";
      legacy += "<param name=\"TransparentAtStart\" value=\"false\">\n";
      legacy += "<embed type=\"video/x-ms-asf-plugin\" src=\"" + src + "\" filename=\"" + src +
                "\" controltype=\"1\" autostart=\"" + autoplay +
                "\" transparentatstart=\"true\" animationatstart=\"true\" animationstart=\"true\" showstatusbar=\"1\" "
                "Displaysize=\"4\" showcontrols=\"" +
                controls + "\" width=\"" + w + "\" height=\"" + h + "\"></embed>\n";
      legacy += "</object>\n";
      return html5(legacy);
    }
  }
  return image("../assets");
}

std::string PageList(const GallerySite& site, int current_page, bool index_page) {
  const int pages = site.pages();
  if (pages < 2) return " ";
  const int per_page = site.perPage();
  std::string out;
  for (int p = 1; p <= pages; ++p) {
    if (p > 1) out += " | ";
    const std::string range =
        std::to_string((p - 1) * per_page + 1) + "-" + std::to_string(std::min(p * per_page, site.count()));
    const std::string number = p == 1 ? std::string() : std::to_string(p);
    if (index_page && p == current_page) {
      out += range;
    } else if (index_page) {
      out += "<a href=\"index" + number + site.extension() + "\" target=\"_self\">" + range + "</a>";
    } else {
      out += "<a href=\"../index" + number + site.extension() + "\" target=\"_index\">" + range + "</a>";
    }
  }
  return out;
}

std::string BuildMediaPage(const GallerySite& site, std::string_view page_template, int item) {
  std::string out;
  out.reserve(page_template.size() + 4096);
  Expand(site, Mode::kMedia, page_template, 0, 0, item, item, site.pageOfItem(item), &out);
  return out;
}

bool BuildIndexPage(const GallerySite& site, std::string_view page_template, int page, std::string* out) {
  const TokenAt first = FirstItemToken(page_template);
  if (first.token == nullptr) return false;
  const PageShape shape = ShapeOf(site, page);
  std::string page_text;
  std::size_t region_begin = 0, region_end = 0;
  if (page_template.find("Norvo:IndexStart") != std::string_view::npos) {
    if (!RepeatMode(site, page_template, first.position, shape, &page_text, &region_begin, &region_end)) return false;
  } else if (!TableMode(site, page_template, shape, &page_text, &region_begin, &region_end)) {
    return false;
  }
  out->clear();
  out->reserve(page_text.size() + 8192);
  Expand(site, Mode::kIndex, page_text, region_begin, region_end, shape.first, page, page, out);
  return true;
}

}  // namespace norvo::output
