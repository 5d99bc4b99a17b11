// SPDX-License-Identifier: GPL-3.0-or-later
// The facts every reader reports in the same way. Kept apart from the reader
// table so that the reader plug-ins can carry these few routines without it.
#include <algorithm>
#include <cmath>

#include "imaging/image_reader.h"
#include "imaging/transform.h"

namespace norvo::imaging {

std::string CompressorName(std::string name) {
  if (name.size() > kMaxCompressorName) name.resize(kMaxCompressorName);
  return name;
}

void FittedSize(int width, int height, int box, int* fitted_width, int* fitted_height) {
  Rect r{0, 0, width, height};
  if (box > 0) FitRectInBox(&r, Rect{0, 0, box, box}, 1);
  *fitted_width = r.width();
  *fitted_height = r.height();
}

int WholePixelsPerInch(double x, double y, int unit) {
  double best = std::max(x, y);
  if (!(best > 0.0) || !std::isfinite(best) || unit == 1) return kDefaultResolution;
  if (unit == 3) best = std::round(best * 2.54);
  if (best >= 1e6) return kDefaultResolution;
  const int whole = static_cast<int>(best);
  return whole > 0 ? whole : kDefaultResolution;
}

}  // namespace norvo::imaging
