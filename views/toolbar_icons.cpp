// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/toolbar_icons.h"

#include <QFile>
#include <QPixmap>
#include <QTextStream>

#include <array>
#include <vector>

namespace norvo::views {
namespace {

constexpr int kButtonSide = 24;

imaging::ToolbarBitmap BitmapOf(const QImage& strip) {
  const QImage rgb = strip.convertToFormat(QImage::Format_RGB32);
  imaging::ToolbarBitmap bitmap;
  bitmap.width = rgb.width();
  bitmap.height = rgb.height();
  bitmap.pixels.reserve(static_cast<std::size_t>(rgb.width()) * static_cast<std::size_t>(rgb.height()));
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) {
      bitmap.pixels.push_back(imaging::Bgrx(static_cast<std::uint8_t>(qRed(line[x])),
                                            static_cast<std::uint8_t>(qGreen(line[x])),
                                            static_cast<std::uint8_t>(qBlue(line[x]))));
    }
  }
  return bitmap;
}

}  // namespace

QImage ToolbarStripImage(const QImage& strip, imaging::ToolbarState state) {
  const imaging::ToolbarBitmap bitmap = BitmapOf(strip);
  const std::vector<imaging::BgrxPixel> pixels = imaging::ToolbarStateImage(bitmap, state);
  QImage out(bitmap.width, bitmap.height, QImage::Format_ARGB32);
  if (pixels.empty() || out.isNull()) return {};
  // The key colour is judged on the drawn bitmap: the processors leave
  // those pixels alone, and they become transparent here.
  for (int y = 0; y < bitmap.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < bitmap.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.width) + static_cast<std::size_t>(x);
      const imaging::BgrxPixel drawn = bitmap.pixels[i];
      const bool key = drawn.red == 255 && drawn.green == 0 && drawn.blue == 255;
      line[x] = key ? qRgba(0, 0, 0, 0) : qRgb(pixels[i].red, pixels[i].green, pixels[i].blue);
    }
  }
  return out;
}

ToolbarIcons::ToolbarIcons() {
  std::vector<std::string> names;
  QFile list(QStringLiteral(":/norvo/toolbar.txt"));
  if (list.open(QIODevice::ReadOnly | QIODevice::Text)) {
    QTextStream in(&list);
    while (!in.atEnd()) {
      const QString line = in.readLine().trimmed();
      if (!line.isEmpty()) names.push_back(line.toStdString());
    }
  }
  const QImage strip1(QStringLiteral(":/norvo/toolbar.png"));
  const QImage strip2(QStringLiteral(":/norvo/toolbar@2x.png"));
  constexpr std::array<std::pair<imaging::ToolbarState, QIcon::Mode>, 3> kModes = {{
      {imaging::ToolbarState::kNormal, QIcon::Normal},
      {imaging::ToolbarState::kHot, QIcon::Active},
      {imaging::ToolbarState::kDisabled, QIcon::Disabled},
  }};
  for (auto [state, mode] : kModes) {
    for (const QImage* strip : {&strip1, &strip2}) {
      if (strip->isNull()) continue;
      const int side = strip->height();
      const QImage made = ToolbarStripImage(*strip, state);
      for (std::size_t i = 0; i < names.size(); ++i) {
        const int x = static_cast<int>(i) * side;
        if (x + side > made.width()) break;
        QPixmap pixmap = QPixmap::fromImage(made.copy(x, 0, side, side));
        pixmap.setDevicePixelRatio(static_cast<qreal>(side) / kButtonSide);
        icons_[names[i]].addPixmap(pixmap, mode);
      }
    }
  }
}

QIcon ToolbarIcons::icon(const std::string& name) const {
  auto it = icons_.find(name);
  return it != icons_.end() ? it->second : QIcon();
}

}  // namespace norvo::views
