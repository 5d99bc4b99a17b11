// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures and comparisons shared by the imaging tests.
#pragma once

#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "imaging/pixel_buffer.h"

namespace norvo::imaging::testing {

// A picture whose colour changes smoothly, with a dark square in the middle
// third, so that turns, mirrors and scaling are all visible.
inline PixelBuffer PatternPicture(int width, int height) {
  PixelBuffer p;
  if (p.allocate(width, height) != err::kNone) return p;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool square = x > width / 3 && x < 2 * width / 3 && y > height / 3 && y < 2 * height / 3;
      const auto r = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
      const auto g = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
      p.setPixel(x, y, square ? Argb(255, 20, 20, 20) : Argb(255, r, g, 160));
    }
  }
  return p;
}

// A picture's width and height, to compare both in one check.
inline std::pair<int, int> SizeOf(const PixelBuffer& p) { return {p.width(), p.height()}; }

// Mean absolute difference over the colour channels; -1 when the sizes differ.
inline double MeanDifference(const PixelBuffer& a, const PixelBuffer& b) {
  if (a.width() != b.width() || a.height() != b.height() || a.empty()) return -1;
  std::uint64_t sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    const std::uint8_t* p = a.row(y);
    const std::uint8_t* q = b.row(y);
    for (int x = 0; x < a.width() * 4; ++x) {
      if (x % 4 != 0) sum += static_cast<std::uint64_t>(std::abs(p[x] - q[x]));
    }
  }
  return static_cast<double>(sum) / (3.0 * a.width() * a.height());
}

// Pearson correlation of the two pictures' luminance: near 1 for the same
// scene even when one is brighter, low for different or turned pictures;
// -2 when the sizes differ.
inline double Correlation(const PixelBuffer& a, const PixelBuffer& b) {
  if (a.width() != b.width() || a.height() != b.height() || a.empty()) return -2;
  auto luma = [](std::uint32_t p) { return 0.299 * ((p >> 16) & 0xFF) + 0.587 * ((p >> 8) & 0xFF) + 0.114 * (p & 0xFF); };
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  const double n = static_cast<double>(a.width()) * a.height();
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const double u = luma(a.pixel(x, y));
      const double v = luma(b.pixel(x, y));
      sa += u;
      sb += v;
      saa += u * u;
      sbb += v * v;
      sab += u * v;
    }
  }
  const double cov = sab / n - (sa / n) * (sb / n);
  const double va = saa / n - (sa / n) * (sa / n);
  const double vb = sbb / n - (sb / n) * (sb / n);
  return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

}  // namespace norvo::imaging::testing
