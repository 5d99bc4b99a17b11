// SPDX-License-Identifier: GPL-3.0-or-later
#include "print/page_composer.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>

#include "imaging/image_reader.h"
#include "imaging/thumbnail.h"
#include "imaging/transform.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "metadata/item_fields.h"
#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::print {
namespace {

constexpr double kPointsPerCm = 72.0 / 2.54;
constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kHeaderFontPt = 9;
constexpr double kHeaderLinePt = 12;
constexpr double kHeaderGapPt = 8;   // between the header lines and the body
constexpr double kCellGapPt = 0.5 * kPointsPerCm;  // "Margin between"
constexpr double kLabelFontPt = 7;
constexpr double kLabelLinePt = 9;
constexpr int kMaxFieldLines = 3;  // view-field lines under a contact-sheet picture
constexpr double kListRowPt = 46;     // a Content List row
constexpr double kListThumbPt = 40;   // its thumbnail box
constexpr double kListHeadingPt = 14;
constexpr double kListFontPt = 8;
constexpr double kCropMarkPt = 8, kCropOffsetPt = 3;
constexpr int kThumbnailDpi = 200;  // "Hi-Res thumbnails" read the file to this
constexpr int kMediaDpi = 300;      // Media Sheet pictures are read to this
constexpr int kMaxReadBox = 6000;
constexpr unsigned kMaxReadThreads = 4;

// A font of `points` on a painter already scaled from device units to
// points: QFont sizes are device-relative, so the scale is taken back out.
QFont FontOf(const QPainter& painter, double points, bool bold = false) {
  QFont font = QGuiApplication::font();
  font.setFamily(QStringLiteral("DejaVu Sans"));
  const double dpi = painter.device() != nullptr ? painter.device()->logicalDpiY() : 72.0;
  font.setPointSizeF(points * 72.0 / dpi);
  font.setBold(bold);
  return font;
}

QString Elided(const QPainter& painter, const QString& text, double width) {
  const QFontMetricsF metrics(painter.font(), painter.device());
  return metrics.elidedText(text, Qt::ElideRight, width);
}

QRectF Fitted(QSizeF size, const QRectF& box) {
  if (size.isEmpty()) return {};
  size.scale(box.size(), Qt::KeepAspectRatio);
  return QRectF(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(),
                size.height());
}

// The label of a field in UTF-8: custom field names are kept in UTF-8, the
// others are texts of the string table (Windows-1252).
QString FieldName(const catalog::Catalog* catalog, metadata::FieldId id) {
  std::string label = metadata::FieldLabel(catalog, id);
  if (!metadata::IsCustomField(id)) label = Windows1252ToUtf8(label);
  return QString::fromStdString(label);
}

// A dots-per-inch value from a record: plain, or 16.16 fixed point.
double RecordDpi(std::uint32_t resolution) {
  double dpi = resolution > 0xFFFF ? resolution / 65536.0 : resolution;
  return dpi >= 1 && dpi <= 10000 ? dpi : 72.0;
}

// What reading an item's file needs, gathered from the catalog first.
struct FileRead {
  std::string path;  // empty: nothing to read
  std::uint32_t type_code = 0;
  std::uint16_t orientation = 0;
};

// The file's picture, upright, covering `box` pixels (0: whole). Touches no
// catalog and no shared state: runs on worker threads.
QImage ReadFilePicture(const FileRead& f, int box) {
  imaging::PixelBuffer pixels;
  if (media::GetMediaHandler(f.type_code) == media::MediaHandler::GraphicsImporter) {
    imaging::DecodedImage decoded;
    const std::uint32_t format = imaging::FindStillImageReader(f.type_code) != nullptr ? f.type_code : 0;
    if (imaging::ReadStillImage(f.path, format, box, &decoded) != err::kNone) return {};
    pixels = std::move(decoded.picture);
    if (f.orientation != 0 && imaging::Rotate(&pixels, f.orientation) != err::kNone) return {};
  } else if (media::MakePreview(f.path, f.type_code, box, f.orientation, &pixels) != err::kNone) {
    return {};
  }
  if (pixels.empty()) return {};
  if (pixels.hasAlpha()) imaging::FlattenOnWhite(&pixels);
  return ImageOf(pixels);
}

QColor ClassColour(std::uint32_t type_code) {
  switch (media::GetMediaClass(type_code)) {
    case media::MediaClass::Image: return QColor(0x2e, 0x6d, 0xb4);
    case media::MediaClass::Video: return QColor(0xb4, 0x3a, 0x2e);
    case media::MediaClass::Audio: return QColor(0x2e, 0x8b, 0x57);
    default: return QColor(0x60, 0x60, 0x60);
  }
}

}  // namespace

std::vector<metadata::FieldId> DefaultViewFields() {
  namespace f = metadata::field_ids;
  return {f::kFileName, f::kFileTypeName, f::kDimensions, f::kFileSize, f::kCaption};
}

double ToPoints(double value, GridUnit unit) { return value * PointsPerUnit(unit); }

QImage ImageOf(const imaging::PixelBuffer& picture) {
  if (picture.empty()) return {};
  QImage image(picture.width(), picture.height(), picture.hasAlpha() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (image.isNull()) return {};
  for (int y = 0; y < picture.height(); ++y) {
    const std::uint8_t* s = picture.row(y);
    auto* d = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture.width(); ++x, s += imaging::kBytesPerPixel) {
      d[x] = qRgba(s[1], s[2], s[3], picture.hasAlpha() ? s[0] : 255);
    }
  }
  return image;
}

PageComposer::PageComposer(const PrintJob& job) : job_(job) {
  const int repeat = job_.options.layout == PrintLayout::kMediaSheet && job_.options.has(print_flags::kRepeatMedia)
                         ? std::clamp(job_.options.repeat_count, 1, kMaxRepeatCount)
                         : 1;
  for (int cell : job_.cells) {
    for (int i = 0; i < repeat; ++i) entries_.push_back(cell);
  }
  layout();
}

void PageComposer::layout() {
  const PrintOptions& o = job_.options;
  double w = o.paper_width_mm * kPointsPerMm, h = o.paper_height_mm * kPointsPerMm;
  if (o.landscape) std::swap(w, h);
  geometry_.paper = QRectF(0, 0, w, h);

  auto lines = [&](int first) {
    int n = 0;
    for (int i = first; i < first + 2; ++i) n += o.lines[static_cast<std::size_t>(i)].empty() ? 0 : 1;
    return n == 0 ? 0.0 : n * kHeaderLinePt + kHeaderGapPt;
  };
  header_height_ = lines(0);
  footer_height_ = lines(2);
  QRectF content(o.margin_left * kPointsPerCm, o.margin_top * kPointsPerCm,
                 w - (o.margin_left + o.margin_right) * kPointsPerCm, h - (o.margin_top + o.margin_bottom) * kPointsPerCm);
  QRectF body = content.adjusted(0, header_height_, 0, -footer_height_);
  if (body.width() < 36) body.setWidth(36);
  if (body.height() < 36) body.setHeight(36);
  geometry_.body = body;

  PageGeometry& g = geometry_;
  g.gap = o.has(print_flags::kMarginBetween) ? kCellGapPt : 0;
  if (o.layout == PrintLayout::kContentList) {
    const double heading = o.has(print_flags::kLabelRow) ? kListHeadingPt : 0;
    g.columns = 1;
    g.rows = std::max(1, static_cast<int>((body.height() - heading) / kListRowPt));
    g.cell = QSizeF(body.width(), kListRowPt);
    g.gap = 0;
  } else {
    // Text lines under a contact-sheet picture.
    int text_lines = 0;
    if (o.has(print_flags::kLabelRow)) ++text_lines;
    if (o.has(print_flags::kViewFields) && o.layout == PrintLayout::kContactSheet) {
      text_lines += std::min<int>(kMaxFieldLines, static_cast<int>(std::count_if(
                                                     job_.view_fields.begin(), job_.view_fields.end(),
                                                     [](metadata::FieldId id) { return id != metadata::field_ids::kFileName; })));
    }
    const double text = text_lines * kLabelLinePt;
    auto fit = [&](double size, double room) { return std::max(1, static_cast<int>((room + g.gap) / (size + g.gap))); };
    if (o.grid == GridMode::kCells) {
      g.columns = std::clamp(o.columns, 1, kMaxGridCells);
      g.rows = std::clamp(o.rows, 1, kMaxGridCells);
    } else if (o.grid == GridMode::kSize) {
      const double cw = std::max(9.0, ToPoints(o.cell_width, o.unit));
      const double ch = std::max(9.0, ToPoints(o.cell_height, o.unit));
      g.columns = fit(cw, body.width());
      g.rows = fit(ch, body.height());
    } else if (o.layout == PrintLayout::kMediaSheet) {
      g.columns = g.rows = 1;
    } else {
      // The view's thumbnail side (pixels at 96 per inch), else four across.
      const double side = job_.view_thumbnail_side > 0 ? job_.view_thumbnail_side * 0.75
                                                       : (body.width() - 3 * g.gap) / 4;
      g.columns = fit(side, body.width());
      const double cw = (body.width() - (g.columns - 1) * g.gap) / g.columns;
      g.rows = fit(cw + text, body.height());
    }
    if (o.grid == GridMode::kSize) {
      g.cell = QSizeF(std::min(ToPoints(o.cell_width, o.unit), body.width()),
                      std::min(ToPoints(o.cell_height, o.unit), body.height()));
    } else {
      g.cell = QSizeF((body.width() - (g.columns - 1) * g.gap) / g.columns,
                      (body.height() - (g.rows - 1) * g.gap) / g.rows);
    }
  }
  g.per_page = g.columns * g.rows;
  page_count_ = entries_.empty() ? 0 : static_cast<int>((entries_.size() + g.per_page - 1) / g.per_page);
}

std::vector<int> PageComposer::pagesToPrint() const {
  std::vector<int> pages;
  if (page_count_ == 0) return pages;
  switch (job_.options.range) {
    case PrintRange::kDefineInPrintBox: {
      const int first = job_.first_page > 0 ? job_.first_page : 1;
      const int last = job_.last_page > 0 ? std::min(job_.last_page, page_count_) : page_count_;
      for (int p = first; p <= last; ++p) pages.push_back(p);
      break;
    }
    case PrintRange::kCurrentPage: {
      const int repeat = entries_.size() / std::max<std::size_t>(1, job_.cells.size());
      const int index = std::clamp(job_.current_item, 0, static_cast<int>(job_.cells.size()) - 1) * repeat;
      pages.push_back(index / geometry_.per_page + 1);
      break;
    }
    case PrintRange::kOddPages:
      for (int p = 1; p <= page_count_; p += 2) pages.push_back(p);
      break;
    case PrintRange::kEvenPages:
      for (int p = 2; p <= page_count_; p += 2) pages.push_back(p);
      break;
  }
  return pages;
}

QRectF PageComposer::bodyOf(int page) const {
  const PrintOptions& o = job_.options;
  if (!o.mirror_margins || page % 2 == 1) return geometry_.body;
  // The inside margin of an even (left-hand) page is on its right.
  QRectF body = geometry_.body;
  body.moveLeft(o.margin_right * kPointsPerCm);
  return body;
}

QColor PageComposer::labelColour(int cell) const {
  const int label = job_.catalog->cells[static_cast<std::size_t>(cell - 1)].label();
  if (label < 1 || label > static_cast<int>(job_.labels.size())) return {};
  const app::Label& l = job_.labels[static_cast<std::size_t>(label - 1)];
  return QColor::fromRgb(l.red >> 8, l.green >> 8, l.blue >> 8);
}

std::vector<std::string> PageComposer::fieldTexts(int cell, const std::vector<metadata::FieldId>& fields) const {
  std::vector<std::string> texts;
  metadata::ItemFields item;
  if (item.read(*job_.catalog, cell) != err::kNone) return std::vector<std::string>(fields.size());
  for (metadata::FieldId id : fields) {
    std::string text;
    if (id == metadata::field_ids::kFileName) {
      text = item.fileName();
    } else {
      for (const std::string& value : item.texts(id)) text += (text.empty() ? "" : ", ") + value;
    }
    texts.push_back(std::move(text));
  }
  return texts;
}

QImage PageComposer::picture(int cell, bool from_file, int box) const {
  const int cells[] = {cell};
  return pictures(cells, from_file, box).front();
}

QImage PageComposer::storedThumbnail(int cell) const {
  catalog::ItemRecord record;
  imaging::PixelBuffer thumbnail;
  if (catalog::GetItemRecord(*job_.catalog, cell, catalog::kWholeRecord, record) != err::kNone ||
      record.thumbnail.empty() || imaging::DecodeStoredThumbnail(record.thumbnail, &thumbnail) != err::kNone) {
    return {};
  }
  return ImageOf(thumbnail);
}

std::vector<QImage> PageComposer::pictures(std::span<const int> cells, bool from_file, int box) const {
  std::vector<QImage> images(cells.size());
  if (from_file) {
    // The catalog is read here; the files, which touch no catalog, on
    // worker threads.
    std::vector<FileRead> reads(cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      catalog::ItemRecord record;
      std::string path;
      if (catalog::GetItemRecord(*job_.catalog, cells[i], catalog::kWithoutOptionalParts, record) != err::kNone ||
          catalog::FindItemFile(*job_.catalog, cells[i], path) != err::kNone) {
        continue;
      }
      reads[i] = FileRead{std::move(path), record.type_code, record.orientation};
    }
    const int read_box = std::clamp(box, 0, kMaxReadBox);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
      for (std::size_t i = next++; i < reads.size(); i = next++) {
        if (!reads[i].path.empty()) images[i] = ReadFilePicture(reads[i], read_box);
      }
    };
    std::vector<std::thread> workers;
    const unsigned jobs = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxReadThreads);
    try {
      for (unsigned j = 1; j < jobs && j < reads.size(); ++j) workers.emplace_back(work);
    } catch (const std::system_error&) {
      // Fewer threads: this one reads the rest.
    }
    work();
    for (std::thread& t : workers) t.join();
  }
  // The stored thumbnail stands in for a file that cannot be read.
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (images[i].isNull()) images[i] = storedThumbnail(cells[i]);
  }
  return images;
}

void PageComposer::drawHeaders(QPainter& painter, int page) const {
  const PrintOptions& o = job_.options;
  HeaderValues values;
  values.page = page;
  values.pages = page_count_;
  const QLocale locale = QLocale::system();
  values.date = locale.toString(job_.when.date(), QLocale::ShortFormat).toStdString();
  values.time = locale.toString(job_.when.time(), QLocale::ShortFormat).toStdString();
  values.catalog_title = job_.catalog_title;

  const QRectF body = bodyOf(page);
  painter.setFont(FontOf(painter, kHeaderFontPt));
  painter.setPen(Qt::black);
  auto draw_line = [&](const std::string& line, double top) {
    const HeaderText text = ExpandHeaderLine(line, values);
    const QRectF r(body.left(), top, body.width(), kHeaderLinePt);
    const double third = r.width() / 3;
    // A part alone may take the whole line; beside others, its third.
    const bool alone = text.left.empty() + text.centre.empty() + text.right.empty() == 2;
    const double room = alone ? r.width() : third;
    painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, Elided(painter, QString::fromStdString(text.left), room));
    painter.drawText(r, Qt::AlignHCenter | Qt::AlignVCenter,
                     Elided(painter, QString::fromStdString(text.centre), room));
    painter.drawText(r, Qt::AlignRight | Qt::AlignVCenter, Elided(painter, QString::fromStdString(text.right), room));
  };
  double top = body.top() - header_height_;
  for (int i = 0; i < 2; ++i) {
    const std::string& line = o.lines[static_cast<std::size_t>(i)];
    if (line.empty()) continue;
    draw_line(line, top);
    top += kHeaderLinePt;
  }
  double bottom = body.bottom() + kHeaderGapPt;
  for (int i = 2; i < 4; ++i) {
    const std::string& line = o.lines[static_cast<std::size_t>(i)];
    if (line.empty()) continue;
    draw_line(line, bottom);
    bottom += kHeaderLinePt;
  }
  // Thin rules set the header and footer apart from the items.
  painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 0.5));
  if (header_height_ > 0) painter.drawLine(QLineF(body.left(), body.top() - 4, body.right(), body.top() - 4));
  if (footer_height_ > 0) painter.drawLine(QLineF(body.left(), body.bottom() + 4, body.right(), body.bottom() + 4));
}

void PageComposer::drawCropMarks(QPainter& painter, const QRectF& r) const {
  painter.setPen(QPen(Qt::black, 0.3));
  const double d = kCropOffsetPt, l = kCropMarkPt;
  for (const QPointF& c : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
    const double sx = c.x() == r.left() ? -1 : 1, sy = c.y() == r.top() ? -1 : 1;
    painter.drawLine(QLineF(c.x() + sx * d, c.y(), c.x() + sx * (d + l), c.y()));
    painter.drawLine(QLineF(c.x(), c.y() + sy * d, c.x(), c.y() + sy * (d + l)));
  }
}

void PageComposer::drawBadge(QPainter& painter, const QRectF& picture, std::uint32_t type_code) const {
  QString name = QString::fromLatin1(FourCCToString(type_code)).trimmed();
  if (name.isEmpty()) name = QStringLiteral("?");
  painter.setFont(FontOf(painter, 5.5, true));
  const QFontMetricsF metrics(painter.font(), painter.device());
  const QSizeF size(metrics.horizontalAdvance(name) + 4, 8);
  const QRectF badge(picture.left() + 2, picture.bottom() - size.height() - 2, size.width(), size.height());
  QPainterPath path;
  path.addRoundedRect(badge, 2, 2);
  painter.fillPath(path, ClassColour(type_code));
  painter.setPen(Qt::white);
  painter.drawText(badge, Qt::AlignCenter, name);
}

QRectF PageComposer::drawMedia(QPainter& painter, const QImage& image, const QRectF& box, double dpi) const {
  // `dpi` is the picture's own resolution, for Actual Size and Tile.
  const QSizeF actual(image.width() * 72.0 / dpi, image.height() * 72.0 / dpi);
  const std::uint8_t code = job_.options.scaling;
  QSizeF size = image.size();
  const double iw = image.width(), ih = image.height();
  switch (code) {
    case scaling::kActualSize: size = actual; break;
    case scaling::kFitWidth: size = QSizeF(box.width(), box.width() * ih / iw); break;
    case scaling::kFitHeight: size = QSizeF(box.height() * iw / ih, box.height()); break;
    case scaling::kPinSmallerSide: {
      const double s = std::min(box.width(), box.height()) / std::min(iw, ih);
      size = QSizeF(iw * s, ih * s);
      break;
    }
    case scaling::kPinLargerSide: {
      const double s = std::max(box.width(), box.height()) / std::max(iw, ih);
      size = QSizeF(iw * s, ih * s);
      break;
    }
    case scaling::kTile: {
      painter.save();
      painter.setClipRect(box);
      for (double y = box.top(); y < box.bottom(); y += actual.height()) {
        for (double x = box.left(); x < box.right(); x += actual.width()) {
          painter.drawImage(QRectF(QPointF(x, y), actual), image);
        }
      }
      painter.restore();
      if (job_.options.has(print_flags::kCropMarks)) drawCropMarks(painter, box);
      return box;
    }
    case scaling::kScaleToFit: break;
    default: {
      const int percent = ScalingPercent(code);
      if (percent > 0) size = QSizeF(iw * percent / 100.0, ih * percent / 100.0);
      break;
    }
  }
  QRectF target;
  if (code == scaling::kScaleToFit) {
    target = Fitted(image.size(), box);
  } else {
    target = QRectF(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(),
                    size.height());
  }
  painter.save();
  painter.setClipRect(box);
  painter.drawImage(target, image);
  painter.restore();
  const QRectF drawn = target.intersected(box);
  if (job_.options.has(print_flags::kCropMarks)) drawCropMarks(painter, drawn);
  return drawn;
}

ErrorCode PageComposer::drawContentList(QPainter& painter, int page, const QRectF& body) const {
  const PrintOptions& o = job_.options;
  std::vector<metadata::FieldId> fields = {metadata::field_ids::kFileName};
  if (o.has(print_flags::kViewFields)) {
    for (metadata::FieldId id : job_.view_fields) {
      if (id != metadata::field_ids::kFileName) fields.push_back(id);
    }
  }
  // The file name takes a third of the text; the other fields share the rest.
  const double text_left = body.left() + kListThumbPt + 8;
  const double text_width = body.right() - text_left;
  std::vector<double> x = {text_left}, widths;
  if (fields.size() == 1) {
    widths.push_back(text_width);
  } else {
    widths.push_back(text_width / 3);
    for (std::size_t i = 1; i < fields.size(); ++i) widths.push_back(text_width * 2 / 3 / (fields.size() - 1));
  }
  for (std::size_t i = 1; i < fields.size(); ++i) x.push_back(x[i - 1] + widths[i - 1]);

  double top = body.top();
  if (o.has(print_flags::kLabelRow)) {
    const QRectF heading(body.left(), top, body.width(), kListHeadingPt);
    painter.fillRect(heading, QColor(0xe8, 0xe8, 0xe8));
    painter.setFont(FontOf(painter, kListFontPt, true));
    painter.setPen(Qt::black);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const QRectF r(x[i] + 2, top, widths[i] - 6, kListHeadingPt);
      painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, Elided(painter, FieldName(job_.catalog, fields[i]), r.width()));
    }
    top += kListHeadingPt;
  }
  const int first = (page - 1) * geometry_.per_page;
  const int last = std::min<int>(first + geometry_.per_page, static_cast<int>(entries_.size()));
  const std::vector<QImage> images =
      pictures(std::span(entries_).subspan(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first)),
               o.has(print_flags::kHiResThumbnails), static_cast<int>(kListThumbPt * kThumbnailDpi / 72));
  for (int i = first; i < last; ++i, top += kListRowPt) {
    const int cell = entries_[static_cast<std::size_t>(i)];
    const QRectF row(body.left(), top, body.width(), kListRowPt);
    if (o.has(print_flags::kViewColors)) {
      if (QColor c = labelColour(cell); c.isValid()) {
        c.setAlphaF(0.25);
        painter.fillRect(row, c);
      }
    }
    const QRectF thumb_box(body.left(), top + (kListRowPt - kListThumbPt) / 2, kListThumbPt, kListThumbPt);
    const QImage& image = images[static_cast<std::size_t>(i - first)];
    QRectF drawn = thumb_box;
    if (!image.isNull()) {
      drawn = Fitted(image.size(), thumb_box);
      painter.drawImage(drawn, image);
    }
    if (o.has(print_flags::kCropMarks)) drawCropMarks(painter, drawn);
    const std::vector<std::string> texts = fieldTexts(cell, fields);
    for (std::size_t f = 0; f < fields.size(); ++f) {
      painter.setFont(FontOf(painter, kListFontPt, f == 0));
      painter.setPen(Qt::black);
      const QRectF r(x[f] + 2, top, widths[f] - 6, kListRowPt);
      painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                       Elided(painter, QString::fromStdString(texts[f]), r.width()));
    }
    if (o.has(print_flags::kItemIcons)) {
      catalog::ItemRecord record;
      if (catalog::GetItemRecord(*job_.catalog, cell, catalog::kWithoutOptionalParts, record) == err::kNone) {
        drawBadge(painter, drawn, record.type_code);
      }
    }
    painter.setPen(QPen(QColor(0xcc, 0xcc, 0xcc), 0.25));
    painter.drawLine(QLineF(row.bottomLeft(), row.bottomRight()));
  }
  return err::kNone;
}

ErrorCode PageComposer::drawGrid(QPainter& painter, int page, const QRectF& body) const {
  const PrintOptions& o = job_.options;
  const PageGeometry& g = geometry_;
  const bool media_sheet = o.layout == PrintLayout::kMediaSheet;
  std::vector<metadata::FieldId> fields;
  if (o.has(print_flags::kLabelRow)) fields.push_back(metadata::field_ids::kFileName);
  if (o.has(print_flags::kViewFields) && !media_sheet) {
    int n = 0;
    for (metadata::FieldId id : job_.view_fields) {
      if (id != metadata::field_ids::kFileName && n++ < kMaxFieldLines) fields.push_back(id);
    }
  }
  const double text_height = fields.size() * kLabelLinePt;
  // A grid narrower than the body (a fixed cell size) is centred in it.
  const double grid_w = g.columns * g.cell.width() + (g.columns - 1) * g.gap;
  const double grid_h = g.rows * g.cell.height() + (g.rows - 1) * g.gap;
  const QPointF origin(body.left() + std::max(0.0, (body.width() - grid_w) / 2),
                       body.top() + std::max(0.0, (body.height() - grid_h) / 2));

  const double pad = o.has(print_flags::kViewColors) ? 4 : 0;
  // Room between a picture and its labels, for the crop marks.
  const double mark_room = text_height == 0 ? 0 : o.has(print_flags::kCropMarks) ? kCropOffsetPt + kCropMarkPt : 2;
  // The picture area of the cell `box`, and where its labels start.
  auto picture_area = [&](const QRectF& box, double* text_top) {
    QRectF area = box.adjusted(pad, pad, -pad, -pad - text_height - mark_room);
    *text_top = box.bottom() - pad - text_height;
    if (!media_sheet && area.height() > area.width()) {
      // A tall cell: a square picture area with its labels right below it,
      // the two centred in the cell, keep each label by its picture.
      const double spare = area.height() - area.width();
      area = QRectF(area.left(), area.top() + spare / 2, area.width(), area.width());
      *text_top = area.bottom() + mark_room;
    }
    return area;
  };

  // The page's pictures, read together (the files on several threads).
  const int first = (page - 1) * g.per_page;
  const int last = std::min<int>(first + g.per_page, static_cast<int>(entries_.size()));
  double unused = 0;
  const QRectF sample = picture_area(QRectF(QPointF(0, 0), g.cell), &unused);
  const bool draw_pictures = sample.height() > 4;
  std::vector<QImage> images;
  if (draw_pictures) {
    const bool from_file = media_sheet || o.has(print_flags::kHiResThumbnails);
    const int dpi = media_sheet ? kMediaDpi : kThumbnailDpi;
    // Fixed scales may need more pixels than the cell shows at the print
    // resolution; the picture is then read whole.
    const bool fixed = media_sheet && (o.scaling == scaling::kActualSize || o.scaling == scaling::kTile ||
                                       ScalingPercent(o.scaling) > 0);
    const int box = fixed ? 0 : static_cast<int>(std::max(sample.width(), sample.height()) * dpi / 72);
    images = pictures(std::span(entries_).subspan(static_cast<std::size_t>(first),
                                                  static_cast<std::size_t>(last - first)),
                      from_file, box);
  }

  for (int i = first; i < last; ++i) {
    const int slot = i - first;
    const int cell = entries_[static_cast<std::size_t>(i)];
    const QRectF box(origin.x() + (slot % g.columns) * (g.cell.width() + g.gap),
                     origin.y() + (slot / g.columns) * (g.cell.height() + g.gap), g.cell.width(), g.cell.height());
    if (o.has(print_flags::kViewColors)) {
      if (QColor c = labelColour(cell); c.isValid()) {
        QColor fill = c;
        fill.setAlphaF(0.2);
        painter.fillRect(box, fill);
        painter.setPen(QPen(c, 1.5));
        painter.drawRect(box.adjusted(0.75, 0.75, -0.75, -0.75));
      }
    }
    double text_top = 0;
    const QRectF picture_box = picture_area(box, &text_top);
    catalog::ItemRecord record;
    const bool have_record =
        catalog::GetItemRecord(*job_.catalog, cell, catalog::kWithoutOptionalParts, record) == err::kNone;
    if (draw_pictures) {
      const QImage& image = images[static_cast<std::size_t>(slot)];
      QRectF drawn = picture_box;
      if (image.isNull()) {
        painter.setPen(QPen(QColor(0xbb, 0xbb, 0xbb), 0.5));
        painter.drawRect(picture_box);
      } else if (media_sheet) {
        // Fixed scales read the picture whole, so its pixels are the media's
        // and its resolution the one the record gives.
        drawn = drawMedia(painter, image, picture_box, have_record ? RecordDpi(record.resolution) : 72.0);
      } else {
        drawn = Fitted(image.size(), picture_box);
        painter.drawImage(drawn, image);
        if (o.has(print_flags::kCropMarks)) drawCropMarks(painter, drawn);
      }
      if (o.has(print_flags::kItemIcons) && have_record) drawBadge(painter, drawn, record.type_code);
    }
    if (!fields.empty()) {
      const std::vector<std::string> texts = fieldTexts(cell, fields);
      double y = text_top;
      for (std::size_t f = 0; f < fields.size(); ++f, y += kLabelLinePt) {
        const bool name = fields[f] == metadata::field_ids::kFileName;
        painter.setFont(FontOf(painter, kLabelFontPt, name));
        painter.setPen(name ? QColor(Qt::black) : QColor(0x44, 0x44, 0x44));
        const QRectF r(box.left() + pad, y, box.width() - 2 * pad, kLabelLinePt);
        painter.drawText(r, Qt::AlignHCenter | Qt::AlignVCenter,
                         Elided(painter, QString::fromStdString(texts[f]), r.width()));
      }
    }
  }
  return err::kNone;
}

ErrorCode PageComposer::drawPage(QPainter& painter, int page) const {
  if (job_.catalog == nullptr || page < 1 || page > page_count_) return err::kParam;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  drawHeaders(painter, page);
  const QRectF body = bodyOf(page);
  const ErrorCode e = job_.options.layout == PrintLayout::kContentList ? drawContentList(painter, page, body)
                                                                       : drawGrid(painter, page, body);
  painter.restore();
  return e;
}

ErrorCode PrintJobOn(const PrintJob& job, QPagedPaintDevice& device, const PrintProgress& progress) {
  if (job.catalog == nullptr) return err::kParam;
  const PageComposer composer(job);
  const std::vector<int> pages = composer.pagesToPrint();
  if (pages.empty()) return err::kParam;
  const QPageSize size(QSizeF(job.options.paper_width_mm, job.options.paper_height_mm), QPageSize::Millimeter);
  const QPageLayout page_layout(size, job.options.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                QMarginsF(0, 0, 0, 0));
  device.setPageLayout(page_layout);
  QPainter painter;
  if (!painter.begin(&device)) return err::kIo;
  painter.scale(device.logicalDpiX() / 72.0, device.logicalDpiY() / 72.0);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (i > 0 && !device.newPage()) {
      painter.end();
      return err::kIo;
    }
    if (ErrorCode e = composer.drawPage(painter, pages[i]); e != err::kNone) {
      painter.end();
      return e;
    }
    if (progress && !progress(static_cast<int>(i + 1), static_cast<int>(pages.size()))) {
      painter.end();
      return err::kUserCancelled;
    }
  }
  return painter.end() ? err::kNone : err::kIo;
}

}  // namespace norvo::print
