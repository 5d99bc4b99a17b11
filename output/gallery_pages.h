// SPDX-License-Identifier: GPL-3.0-or-later
// Building the gallery's pages from templates: token expansion for media
// pages (one per item, in "source") and index pages (a thumbnail table per
// page, at the site root), in repeat mode ("(Norvo:IndexStart)" ...
// "(Norvo:IndexEnd)" marks the block repeated once per item) or table mode
// (the table around the first item token gets one cell per item). Pages are
// built from what the export prepared (GalleryItem) and from the item's
// field values, which a GalleryFieldSource hands out; nothing here touches
// files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/field_format.h"
#include "metadata/field_table.h"
#include "output/gallery_settings.h"

namespace norvo::output {

// What the pages show of one item (numbered from 1 in the export).
enum class MediaKind : int { kNone = 0, kImage = 1, kMovie = 3, kWindowsMedia = 4 };

struct GalleryItem {
  std::uint32_t thumbnail_bytes = 0;
  std::string thumbnail_name;
  int thumbnail_width = 0, thumbnail_height = 0;
  MediaKind media_kind = MediaKind::kNone;
  std::uint32_t media_bytes = 0;
  std::string media_name;
  int media_width = 0, media_height = 0;
  std::uint32_t original_bytes = 0;  // the catalog's recorded file size
  std::string original_name;         // stays empty: no originals are copied
  int original_width = 0, original_height = 0;
  std::string page_name;
  bool sound = false;  // a sound file: the pages offer an audio player
};

// The item's field values for field tokens, in UTF-8.
class GalleryFieldSource {
 public:
  virtual ~GalleryFieldSource() = default;
  // The display texts of every value of field `id` of item `item` (from 1).
  virtual std::vector<std::string> texts(int item, metadata::FieldId id) = 0;
  // The field's label ("Caption", a custom field's name).
  virtual std::string label(metadata::FieldId id) = 0;
};

inline constexpr int kMaxTableSide = 8000;

// Everything a page needs besides its template.
struct GallerySite {
  GallerySettings settings;
  std::vector<GalleryItem> items;
  std::string title;    // the catalog's title (UTF-8)
  std::string comment;  // the catalog's comment (UTF-8)
  std::uint32_t now = 0;  // the time the pages show: seconds since 1904, local time
  metadata::FormatConventions conventions;
  GalleryFieldSource* fields = nullptr;

  int count() const { return static_cast<int>(items.size()); }
  // The table's sides, at least 1 and at most what a catalog can fill, so
  // that a stored record of any size cannot overflow the arithmetic.
  int columns() const { return std::clamp(settings.columns, 1, kMaxTableSide); }
  int rows() const { return std::clamp(settings.rows, 1, kMaxTableSide); }
  int perPage() const { return columns() * rows(); }
  int pages() const;
  // ".htm" and the like.
  std::string extension() const;
  // "index", the page number (left out for page 1) and the extension.
  std::string indexPageName(int page) const;
  // The index page that shows item `item`.
  int pageOfItem(int item) const;
};

// The media page of item `item`.
std::string BuildMediaPage(const GallerySite& site, std::string_view page_template, int item);
// Index page `page` (from 1); false when the template has no item token, or
// its repeat markers or table do not surround the first one.
bool BuildIndexPage(const GallerySite& site, std::string_view page_template, int page, std::string* out);

// The pieces, for tests and the desktop program's preview.
std::string PreviewMarkup(const GallerySite& site, int item, bool index_page);
std::string MediaMarkup(const GallerySite& site, int item, bool preload);
std::string PageList(const GallerySite& site, int current_page, bool index_page);

}  // namespace norvo::output
