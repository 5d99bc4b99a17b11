// SPDX-License-Identifier: GPL-3.0-or-later
// The web gallery export: turns every item of a catalog into a static site
// in a destination folder:
//
//   DEST/index.htm, index2.htm ...   index pages of thumbnails (site root)
//   DEST/preview/                    the thumbnails (JPEG, or a class icon)
//   DEST/source/NAME.htm             one media page per item
//   DEST/source/image/               the media: a rendition of each picture
//                                    in the media box, or the movie or sound
//                                    file itself
//   DEST/assets/                     files the template's pages refer to
//
// Every generated name goes through the file-name map (gallery_text.h): it is
// plain ASCII without '/', so nothing is ever written outside DEST whatever
// the items are called. Pages come from the built-in templates; a template
// folder named in the settings or the request only supplies assets.
//
// How to call it (desktop program and norvo-cli alike):
//
//   output::GalleryRequest request;
//   request.settings_record = bytes of the "HTMLSettings" value (empty: defaults);
//   request.destination = "/home/me/web";
//   request.progress = [&](ProgressPhase, int done, int total, std::string_view text) {
//     ...show text and done / total...; return cancel_requested ? 1 : 0;
//   };
//   output::GalleryOutcome outcome = output::RunGallery(catalog, request);
//   // outcome.result 0..5 (GalleryResult); outcome.index_path is DEST/index.htm;
//   // app::GalleryResultMessage(outcome.result) is the text to show.
//
// The catalog is read on the calling thread only; pictures are decoded and
// written on a pool of worker threads that never touch it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "imaging/pixel_buffer.h"
#include "metadata/field_format.h"
#include "platform/progress.h"

namespace norvo::output {

enum class GalleryResult : int {
  kDone = 0,
  kMissingFiles = 1,   // done, but some media were missing or could not be rendered
  kCancelled = 2,      // the progress callback asked to stop
  kBadSettings = 3,    // the settings could not be loaded
  kWriteFailed = 4,    // a folder or file could not be created or written
  kBadTemplate = 5,    // a template could not be loaded or expanded
};

// Progress: kStart (0, total) first, kStep after each prepared item and
// each written media page (done counts both, total is twice the item
// count), kEnd at the end. `text` says what is being done ("Building media
// folders...", "Building sources..."). A non-zero answer cancels.
using GalleryProgress = std::function<int(ProgressPhase phase, int done, int total, std::string_view text)>;

inline constexpr std::string_view kGalleryProgressTitle = "Generating HTML Gallery:";
inline constexpr std::string_view kBuildingMediaText = "Building media folders...";
inline constexpr std::string_view kBuildingSourcesText = "Building sources...";

struct GalleryRequest {
  // The stored settings record; empty gives the defaults.
  std::span<const std::uint8_t> settings_record;
  // A template folder for assets; empty takes the one the settings name.
  std::string template_name;
  std::string destination;  // created when missing (its parent must exist)
  // The watermark drawn onto each media picture when the settings ask for
  // one, at position 1..9; none when null.
  const imaging::PixelBuffer* watermark = nullptr;
  int watermark_position = 1;
  GalleryProgress progress;
  int jobs = 0;  // worker threads; 0: one per processor
  // The site's title and comment; an empty title takes the catalog's name.
  std::string title;
  std::string comment;
  // The time the pages show (seconds since 1904, local time); unset: now.
  std::function<std::uint32_t()> clock;
  // How dates and numbers are written; unset: the user's conventions.
  std::optional<metadata::FormatConventions> conventions;
  // Folders holding "Norvo/Plug-ins/HTML Templates"; empty: the standard
  // ones (GalleryTemplateRoots).
  std::vector<std::string> template_roots;
};

struct GalleryOutcome {
  GalleryResult result = GalleryResult::kDone;
  std::string index_path;  // the first index page, once written
  int items = 0;
  int pages = 0;          // index pages written
  int media_pages = 0;    // media pages written
  int missing = 0;        // items whose file was missing or could not be rendered
  bool assets_failed = false;
};

GalleryOutcome RunGallery(catalog::Catalog& catalog, const GalleryRequest& request);

// Copies every file a page names as "assets/NAME" (a double quote, then
// "assets/", the name up to the next double quote, at most 63 characters)
// from the template folder's "assets" into DEST/assets, made on first need.
// A file already there counts as copied. False when one could not be copied:
// no template folder, a name that is not a plain file name (so nothing
// reaches outside either folder), or a failed copy.
bool CopyPageAssets(std::string_view page_text, const std::optional<std::string>& template_folder,
                    const std::string& destination);

// The folders searched for template folders, in order: $XDG_DATA_HOME
// (default ~/.local/share), each $XDG_DATA_DIRS entry (default
// /usr/local/share:/usr/share), then the share folder beside the program's
// own folder (PREFIX/bin/../share). Each is searched under
// "Norvo/Plug-ins/HTML Templates".
std::vector<std::string> GalleryTemplateRoots();
// The template folder `name` with an "index.html" (or "index.xml") file, or
// nothing. A name holding '/' or naming "." or ".." is never found.
std::optional<std::string> FindGalleryTemplate(std::string_view name, const std::vector<std::string>& roots);

}  // namespace norvo::output
