// SPDX-License-Identifier: GPL-3.0-or-later
// Lays the items of a print job out on pages and draws them with a QPainter
// on any paged paint device (QPdfWriter for a PDF file, QPrinter in the
// desktop program). All geometry is in points (1/72 inch) from the paper's
// top-left corner; the composer scales the painter to the device.
//
// The layouts:
// - Content List: one row per item, a small thumbnail and the item's view
//   fields in columns, with the fields' names as a heading row on every page
//   ("Print label row").
// - Contact Sheet: a grid of cells, each a thumbnail fitted into its box with
//   the file name below it ("Print label row") and the view fields
//   ("Print view fields").
// - Media Sheet: one picture per page (or per cell when a grid of cells or
//   a cell size is chosen), read from the media file and scaled by the
//   scaling code; "Repeat media" prints each item that many times.
// On every layout "Margin between" spaces the cells, "Corner crop marks"
// marks each picture's corners, "Use view colors" tints an item with its
// label's colour and "Print item icons" adds a small badge with the item's
// type. "Hi-Res thumbnails" reads the media file instead of the thumbnail
// stored in the catalog (falling back to the stored one).
#pragma once

#include <QDateTime>
#include <QImage>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "catalog/catalog.h"
#include "imaging/pixel_buffer.h"
#include "metadata/field_table.h"
#include "platform/error_codes.h"
#include "print/header_footer.h"
#include "print/print_options.h"

class QPainter;
class QPagedPaintDevice;

namespace norvo::print {

// The fields a view shows when the caller names none.
std::vector<metadata::FieldId> DefaultViewFields();

struct PrintJob {
  const catalog::Catalog* catalog = nullptr;
  std::vector<int> cells;  // the items (cell numbers from 1) in print order
  PrintOptions options;
  std::vector<metadata::FieldId> view_fields = DefaultViewFields();
  app::Labels labels = app::DefaultLabels();  // the label colours
  std::string catalog_title;                  // what &c prints
  QDateTime when = QDateTime::currentDateTime();
  // The pages the print dialog asked for (from 1; 0: from the first / to the
  // last), used with "Define in Print Box".
  int first_page = 0, last_page = 0;
  // The item whose page "Current Page" prints (an index into `cells`).
  int current_item = 0;
  // "Default for view" on a contact sheet: the view's thumbnail side in
  // pixels (0: four columns).
  int view_thumbnail_side = 0;
};

// The geometry of one layout on one paper.
struct PageGeometry {
  QRectF paper;               // the whole sheet
  QRectF body;                // inside the margins, headers and footers (odd pages)
  int columns = 1, rows = 1;  // cells per page
  QSizeF cell;                // one cell, without the gap
  double gap = 0;             // between cells
  int per_page = 1;           // items per page
};

class PageComposer {
 public:
  explicit PageComposer(const PrintJob& job);

  // The pages the layout needs (what &n prints); 0 when there is nothing.
  int pageCount() const { return page_count_; }
  // The numbers (from 1) of the pages the range prints, in order.
  std::vector<int> pagesToPrint() const;
  const PageGeometry& geometry() const { return geometry_; }
  // The body (cell area) of page `page`: mirror margins move it on even pages.
  QRectF bodyOf(int page) const;

  // Draws page `page` (from 1). `painter` draws on a device whose page is the
  // job's paper with no margins; the painter's state is restored afterwards.
  // A failure to read an item's picture leaves its cell without one; only a
  // catalog that cannot be read fails.
  ErrorCode drawPage(QPainter& painter, int page) const;

  // The picture of an item as it will be printed: its stored thumbnail, or
  // with `from_file` its media file read to cover `box` pixels. Null when
  // there is none.
  QImage picture(int cell, bool from_file, int box) const;
  // The same for several items at once: the files are read on worker
  // threads (the catalog only on this one).
  std::vector<QImage> pictures(std::span<const int> cells, bool from_file, int box) const;

 private:
  void layout();
  void drawHeaders(QPainter& painter, int page) const;
  ErrorCode drawContentList(QPainter& painter, int page, const QRectF& body) const;
  ErrorCode drawGrid(QPainter& painter, int page, const QRectF& body) const;
  // Draws a media picture into `box` as the scaling code says; the part of
  // the box it covers.
  QRectF drawMedia(QPainter& painter, const QImage& image, const QRectF& box, double dpi) const;
  QImage storedThumbnail(int cell) const;
  void drawCropMarks(QPainter& painter, const QRectF& r) const;
  void drawBadge(QPainter& painter, const QRectF& picture, std::uint32_t type_code) const;
  QColor labelColour(int cell) const;
  std::vector<std::string> fieldTexts(int cell, const std::vector<metadata::FieldId>& fields) const;

  PrintJob job_;
  std::vector<int> entries_;  // the cells, each repeated for "Repeat media"
  PageGeometry geometry_;
  double header_height_ = 0, footer_height_ = 0;
  int page_count_ = 0;
};

// Points in `value` of `unit`.
double ToPoints(double value, GridUnit unit);

// Draws the whole job on `device` (the paper size and orientation are set
// from the options), the pages the range asks for. `progress` hears of each
// page drawn (pages done, pages to draw) and cancels the job by returning
// false: err::kUserCancelled. Nothing to print is err::kParam.
using PrintProgress = std::function<bool(int done, int total)>;
ErrorCode PrintJobOn(const PrintJob& job, QPagedPaintDevice& device, const PrintProgress& progress);

// The image of a pixel buffer in the byte order QImage expects.
QImage ImageOf(const imaging::PixelBuffer& picture);

}  // namespace norvo::print
