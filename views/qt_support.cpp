// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/qt_support.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitNorvoResources() { Q_INIT_RESOURCE(norvo); }

namespace norvo::views {

void InitResources() { InitNorvoResources(); }

QImage ImageFromPixels(const imaging::PixelBuffer& picture) {
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

}  // namespace norvo::views
