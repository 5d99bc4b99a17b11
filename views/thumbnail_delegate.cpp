// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/thumbnail_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <algorithm>

#include "media/media_type_registry.h"
#include "views/catalog_model.h"

namespace norvo::views {
namespace {

constexpr int kMargin = 6;
constexpr int kLabelBand = 5;

QString ClassResource(quint32 type_code) {
  switch (media::GetMediaClass(type_code)) {
    case media::MediaClass::Image:
    case media::MediaClass::Illustration: return QStringLiteral("image");
    case media::MediaClass::Video: return QStringLiteral("movie");
    case media::MediaClass::Audio: return QStringLiteral("sound");
    case media::MediaClass::DTP:
    case media::MediaClass::Text: return QStringLiteral("document");
    default: return QStringLiteral("unknown");
  }
}

}  // namespace

QPixmap ClassPicture(quint32 type_code, int side) {
  const QString name = ClassResource(type_code);
  const QString key = QStringLiteral("norvo-class-%1-%2").arg(name).arg(side);
  QPixmap pixmap;
  if (QPixmapCache::find(key, &pixmap)) return pixmap;
  const QString file = side > 64 ? QStringLiteral(":/norvo/class-%1@2x.png") : QStringLiteral(":/norvo/class-%1.png");
  pixmap = QPixmap(file.arg(name)).scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QPixmapCache::insert(key, pixmap);
  return pixmap;
}

ThumbnailDelegate::ThumbnailDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ThumbnailDelegate::setSide(int side) { side_ = std::clamp(side, kMinSide, kMaxSide); }

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  const int text = option.fontMetrics.height();
  return {side_ + 2 * kMargin, side_ + 2 * kMargin + kLabelBand + text + 4};
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  painter->save();
  painter->setRenderHint(QPainter::SmoothPixmapTransform);
  const QRect cell = option.rect;
  const QPalette& palette = option.palette;
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  if (selected) {
    QPainterPath path;
    path.addRoundedRect(QRectF(cell).adjusted(2, 2, -2, -2), 6, 6);
    painter->fillPath(path, palette.color(QPalette::Highlight).lighter(selected ? 100 : 130));
  } else if ((option.state & QStyle::State_MouseOver) != 0) {
    QPainterPath path;
    path.addRoundedRect(QRectF(cell).adjusted(2, 2, -2, -2), 6, 6);
    painter->fillPath(path, palette.color(QPalette::Midlight));
  }
  const QRect box(cell.x() + kMargin, cell.y() + kMargin, side_, side_);
  const QImage thumbnail = index.data(CatalogModel::kThumbnailRole).value<QImage>();
  if (!thumbnail.isNull()) {
    QSize fitted = thumbnail.size().scaled(box.size(), Qt::KeepAspectRatio);
    if (thumbnail.width() <= box.width() && thumbnail.height() <= box.height() && side_ <= 256) {
      fitted = thumbnail.size();  // a small thumbnail is drawn pixel for pixel, not blown up
    }
    const QRect target(box.x() + (box.width() - fitted.width()) / 2, box.y() + (box.height() - fitted.height()) / 2,
                       fitted.width(), fitted.height());
    painter->drawImage(target, thumbnail);
    painter->setPen(QPen(palette.color(QPalette::Mid), 1));
    painter->drawRect(target.adjusted(0, 0, -1, -1));
  } else {
    const int side = std::min(box.width(), 96);
    const QPixmap picture = ClassPicture(index.data(CatalogModel::kTypeCodeRole).toUInt(), side);
    painter->drawPixmap(box.x() + (box.width() - picture.width()) / 2, box.y() + (box.height() - picture.height()) / 2,
                        picture);
  }
  // The colour label as a band under the picture.
  const QColor label = index.data(CatalogModel::kLabelColourRole).value<QColor>();
  const QRect band(box.x(), box.bottom() + 3, box.width(), kLabelBand);
  if (label.isValid()) painter->fillRect(band, label);
  // The caption: the file name, cut in the middle when too long.
  const QRect caption(cell.x() + 2, band.bottom() + 2, cell.width() - 4, option.fontMetrics.height() + 2);
  const QString name = index.model()->index(index.row(), 0).data(Qt::DisplayRole).toString();
  painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
  painter->drawText(caption, Qt::AlignHCenter | Qt::AlignVCenter,
                    option.fontMetrics.elidedText(name, Qt::ElideMiddle, caption.width()));
  if (index.data(CatalogModel::kPendingRole).toBool()) {
    painter->setPen(palette.color(QPalette::PlaceholderText));
    painter->drawText(box, Qt::AlignBottom | Qt::AlignRight, QStringLiteral("\u2026"));
  }
  painter->restore();
}

}  // namespace norvo::views
