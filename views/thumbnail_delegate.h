// SPDX-License-Identifier: GPL-3.0-or-later
// Draws one item of the thumbnail view: its thumbnail fitted in a square
// cell (or its class picture while it has none), the colour label as a band
// under the picture, and the file name as caption. The cell side is the
// zoom.
#pragma once

#include <QStyledItemDelegate>

namespace norvo::views {

class ThumbnailDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  static constexpr int kMinSide = 48;
  static constexpr int kMaxSide = 512;
  static constexpr int kDefaultSide = 160;

  explicit ThumbnailDelegate(QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  int side() const { return side_; }
  void setSide(int side);

 private:
  int side_ = kDefaultSide;
};

// The picture shown for an item without a thumbnail, by its type's class
// (image, movie, sound, document or other), from the resources.
QPixmap ClassPicture(quint32 type_code, int side);

}  // namespace norvo::views
