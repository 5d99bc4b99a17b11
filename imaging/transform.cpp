// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/transform.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace norvo::imaging {

int FitRectInBox(Rect* rect, const Rect& box, int mode) {
  (void)mode;  // mode 1 is the only one
  const std::int64_t rw = rect->width();
  const std::int64_t rh = rect->height();
  const std::int64_t bw = box.width();
  const std::int64_t bh = box.height();
  if (rw <= 0 || rh <= 0 || bw <= 0 || bh <= 0) return 100;
  std::int64_t nw = rw;
  std::int64_t nh = rh;
  int percent = 100;
  // Compare bw/rw with bh/rh without rounding: the smaller ratio decides.
  const bool width_decides = bw * rh <= bh * rw;
  if (width_decides && bw < rw) {
    nw = bw;
    nh = rh * bw / rw;
    percent = static_cast<int>(bw * 100 / rw);
  } else if (!width_decides && bh < rh) {
    nh = bh;
    nw = rw * bh / rh;
    percent = static_cast<int>(bh * 100 / rh);
  }
  nw = std::max<std::int64_t>(nw, 1);
  nh = std::max<std::int64_t>(nh, 1);
  rect->left = box.left + static_cast<int>((bw - nw) / 2);
  rect->top = box.top + static_cast<int>((bh - nh) / 2);
  rect->right = rect->left + static_cast<int>(nw);
  rect->bottom = rect->top + static_cast<int>(nh);
  return percent;
}

namespace {

// How one source pixel (column or row) spreads over the output: all of it to
// `index`, or split between `index` and `index + 1`. Weights are fractions of
// one output pixel.
struct Spread {
  int index = 0;
  float first = 0;
  float second = 0;
};

// Source pixel i covers [i * out, (i + 1) * out) in units where output pixel o
// covers [o * in, (o + 1) * in); since out <= in it meets at most two outputs.
Spread SpreadOf(std::int64_t i, std::int64_t in, std::int64_t out) {
  const std::int64_t start = i * out;
  const std::int64_t end = start + out;
  const std::int64_t o = start / in;
  const std::int64_t boundary = (o + 1) * in;
  Spread s;
  s.index = static_cast<int>(o);
  if (end <= boundary) {
    s.first = static_cast<float>(out) / static_cast<float>(in);
  } else {
    s.first = static_cast<float>(boundary - start) / static_cast<float>(in);
    s.second = static_cast<float>(end - boundary) / static_cast<float>(in);
  }
  return s;
}

std::uint8_t ToByte(float v) {
  if (v <= 0.0f) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<std::uint8_t>(v + 0.5f);
}

}  // namespace

ErrorCode Downscale(const PixelBuffer& source, int width, int height, PixelBuffer* out) {
  const int sw = source.width();
  const int sh = source.height();
  if (source.empty() || width <= 0 || height <= 0 || width > sw || height > sh) return err::kParam;
  ErrorCode e = out->allocate(width, height);
  if (e != err::kNone) return e;
  out->setHasAlpha(source.hasAlpha());
  if (width == sw && height == sh) {
    for (int y = 0; y < sh; ++y) std::memcpy(out->row(y), source.row(y), static_cast<std::size_t>(sw) * kBytesPerPixel);
    return err::kNone;
  }

  std::vector<Spread> columns(static_cast<std::size_t>(sw));
  for (int x = 0; x < sw; ++x) columns[static_cast<std::size_t>(x)] = SpreadOf(x, sw, width);

  const std::size_t out_floats = static_cast<std::size_t>(width) * kBytesPerPixel + kBytesPerPixel;
  std::vector<float> line(out_floats);
  std::vector<float> current(out_floats, 0.0f);
  std::vector<float> next(out_floats, 0.0f);
  int current_row = 0;

  auto emit = [&](int y) {
    std::uint8_t* d = out->row(y);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * kBytesPerPixel; ++i) d[i] = ToByte(current[i]);
  };

  for (int sy = 0; sy < sh; ++sy) {
    const Spread vertical = SpreadOf(sy, sh, height);
    while (vertical.index > current_row) {
      emit(current_row);
      std::swap(current, next);
      std::fill(next.begin(), next.end(), 0.0f);
      ++current_row;
    }
    // Horizontal pass of this source row.
    std::fill(line.begin(), line.end(), 0.0f);
    const std::uint8_t* s = source.row(sy);
    for (int x = 0; x < sw; ++x, s += kBytesPerPixel) {
      const Spread& c = columns[static_cast<std::size_t>(x)];
      float* l = &line[static_cast<std::size_t>(c.index) * kBytesPerPixel];
      for (std::size_t k = 0; k < kBytesPerPixel; ++k) {
        const float v = s[k];
        l[k] += v * c.first;
        l[k + kBytesPerPixel] += v * c.second;  // the spare slot at the end absorbs the last column
      }
    }
    for (std::size_t i = 0; i < out_floats; ++i) current[i] += line[i] * vertical.first;
    if (vertical.second != 0.0f) {
      for (std::size_t i = 0; i < out_floats; ++i) next[i] += line[i] * vertical.second;
    }
  }
  emit(current_row);
  return err::kNone;
}

namespace {
// Share of the Laplacian added to each colour value: 1/16. Stronger
// sharpening makes thumbnails less like the picture they reduce.
constexpr int kSharpenNumerator = 1;  // a gentle 1/16 of the Laplacian
constexpr int kSharpenShift = 4;
}  // namespace

void Sharpen(PixelBuffer* picture) {
  const int w = picture->width();
  const int h = picture->height();
  if (w <= 0 || h <= 0) return;
  const std::size_t row_bytes = static_cast<std::size_t>(w) * kBytesPerPixel;
  // The unsharpened rows above, at and below the one being written.
  std::vector<std::uint8_t> above(row_bytes), here(row_bytes), below(row_bytes);
  std::memcpy(here.data(), picture->row(0), row_bytes);
  std::memcpy(above.data(), here.data(), row_bytes);
  for (int y = 0; y < h; ++y) {
    std::memcpy(below.data(), picture->row(y + 1 < h ? y + 1 : y), row_bytes);
    std::uint8_t* d = picture->row(y);
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(x) * kBytesPerPixel;
      const std::size_t left = x > 0 ? i - kBytesPerPixel : i;
      const std::size_t right = x + 1 < w ? i + kBytesPerPixel : i;
      for (std::size_t k = 1; k < kBytesPerPixel; ++k) {
        const int v = here[i + k];
        const int laplacian = 4 * v - above[i + k] - below[i + k] - here[left + k] - here[right + k];
        const int sharpened = v + ((laplacian * kSharpenNumerator) >> kSharpenShift);
        d[i + k] = static_cast<std::uint8_t>(std::clamp(sharpened, 0, 255));
      }
    }
    std::swap(above, here);
    std::swap(here, below);
  }
}

void FlattenOnWhite(PixelBuffer* picture) {
  for (int y = 0; y < picture->height(); ++y) {
    std::uint8_t* p = picture->row(y);
    for (int x = 0; x < picture->width(); ++x, p += kBytesPerPixel) {
      const unsigned a = p[0];
      if (a == 255) continue;
      for (int k = 1; k < 4; ++k) p[k] = static_cast<std::uint8_t>((p[k] * a + 255 * (255 - a) + 127) / 255);
      p[0] = 255;
    }
  }
  picture->setHasAlpha(false);
}

std::uint16_t RotationForOrientation(int orientation) {
  switch (orientation) {
    case 2: return kFlipHorizontal;
    case 3: return kRotate180;
    case 4: return kFlipVertical;
    case 5: return kTranspose;
    case 6: return kRotateClockwise;
    case 7: return kTransverse;
    case 8: return kRotateCounterClockwise;
    default: return kRotateNone;
  }
}

namespace {

// Each code as the matrix that maps an output pixel's (x, y) to its source
// pixel, offsets left out (the same coefficients as Rotate's): composing
// two turns multiplies their matrices.
struct TurnMatrix {
  std::uint16_t code;
  int ax, bx, ay, by;
};
constexpr TurnMatrix kTurnMatrices[] = {
    {kRotateNone, 1, 0, 0, 1},          {kFlipHorizontal, -1, 0, 0, 1},   {kRotate180, -1, 0, 0, -1},
    {kFlipVertical, 1, 0, 0, -1},       {kTranspose, 0, 1, 1, 0},         {kRotateClockwise, 0, 1, -1, 0},
    {kTransverse, 0, -1, -1, 0},        {kRotateCounterClockwise, 0, -1, 1, 0},
};

const TurnMatrix& MatrixOf(std::uint16_t code) {
  for (const TurnMatrix& m : kTurnMatrices) {
    if (m.code == code) return m;
  }
  return kTurnMatrices[0];
}

std::uint16_t CodeOf(int ax, int bx, int ay, int by) {
  for (const TurnMatrix& m : kTurnMatrices) {
    if (m.ax == ax && m.bx == bx && m.ay == ay && m.by == by) return m.code;
  }
  return kRotateNone;
}

}  // namespace

std::uint16_t ComposeRotation(std::uint16_t first, std::uint16_t then) {
  // The picture after both: out(x) = after_first(M_then x) = source(M_first M_then x).
  const TurnMatrix& a = MatrixOf(first);
  const TurnMatrix& b = MatrixOf(then);
  return CodeOf(a.ax * b.ax + a.bx * b.ay, a.ax * b.bx + a.bx * b.by, a.ay * b.ax + a.by * b.ay,
                a.ay * b.bx + a.by * b.by);
}

std::uint16_t InverseRotation(std::uint16_t code) {
  for (const TurnMatrix& m : kTurnMatrices) {
    if (ComposeRotation(code, m.code) == kRotateNone) return m.code;
  }
  return kRotateNone;
}

ErrorCode Rotate(PixelBuffer* picture, std::uint16_t code) {
  if (code == kRotateNone || picture->empty()) return err::kNone;
  const int w = picture->width();
  const int h = picture->height();
  // Output pixel (x, y) comes from source (ax*x + bx*y + cx, ay*x + by*y + cy).
  int ax = 0, bx = 0, cx = 0, ay = 0, by = 0, cy = 0;
  bool swap_sides = false;
  switch (code) {
    case kFlipHorizontal: ax = -1; cx = w - 1; by = 1; break;
    case kRotate180: ax = -1; cx = w - 1; by = -1; cy = h - 1; break;
    case kFlipVertical: ax = 1; by = -1; cy = h - 1; break;
    case kTranspose: bx = 1; ay = 1; swap_sides = true; break;
    case kRotateClockwise: bx = 1; ay = -1; cy = h - 1; swap_sides = true; break;
    case kTransverse: bx = -1; cx = w - 1; ay = -1; cy = h - 1; swap_sides = true; break;
    case kRotateCounterClockwise: bx = -1; cx = w - 1; ay = 1; swap_sides = true; break;
    default: return err::kParam;
  }
  PixelBuffer turned;
  ErrorCode e = swap_sides ? turned.allocate(h, w) : turned.allocate(w, h);
  if (e != err::kNone) return e;
  turned.setHasAlpha(picture->hasAlpha());
  const std::ptrdiff_t step_x = static_cast<std::ptrdiff_t>(ay) * static_cast<std::ptrdiff_t>(picture->stride()) +
                                ax * static_cast<std::ptrdiff_t>(kBytesPerPixel);
  for (int y = 0; y < turned.height(); ++y) {
    const int sx = bx * y + cx;
    const int sy = by * y + cy;
    const std::uint8_t* s = picture->row(sy) + static_cast<std::size_t>(sx) * kBytesPerPixel;
    std::uint8_t* d = turned.row(y);
    std::ptrdiff_t offset = 0;
    for (int x = 0; x < turned.width(); ++x, d += kBytesPerPixel, offset += step_x) {
      std::memcpy(d, s + offset, kBytesPerPixel);
    }
  }
  *picture = std::move(turned);
  return err::kNone;
}

}  // namespace norvo::imaging
