// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/box_scale.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "imaging/transform.h"

namespace norvo::imaging {
namespace {

// Bilinear weights are fractions of 256.
constexpr int kWeightBits = 8;
constexpr int kWeightOne = 1 << kWeightBits;

// Where one output column (or row) samples the source: between `first` and
// `second`, `weight` / 256 of the way towards `second`.
struct Tap {
  int first = 0;
  int second = 0;
  int weight = 0;
};

// Pixel centres line up: output o sits at source (o + 0.5) * in / out - 0.5,
// held at the edges. `offset` is where the sampled run starts in the source.
std::vector<Tap> TapsFor(int in, int out, int offset) {
  std::vector<Tap> taps(static_cast<std::size_t>(out));
  const std::int64_t den = 2 * std::int64_t{out};
  for (int o = 0; o < out; ++o) {
    const std::int64_t num = (2 * std::int64_t{o} + 1) * in - out;  // position x den
    Tap& t = taps[static_cast<std::size_t>(o)];
    if (num <= 0) {
      t.first = t.second = 0;
    } else {
      const std::int64_t whole = num / den;
      if (whole >= in - 1) {
        t.first = t.second = in - 1;
      } else {
        t.first = static_cast<int>(whole);
        t.second = t.first + 1;
        t.weight = static_cast<int>((num - whole * den) * kWeightOne / den);
      }
    }
    t.first += offset;
    t.second += offset;
  }
  return taps;
}

// Enlarges the `region` of `source` to width x height (each at least the
// region's side) by bilinear interpolation. Each source row is interpolated
// across once and kept while the output rows that need it are written.
ErrorCode Bilinear(const PixelBuffer& source, const Rect& region, int width, int height, PixelBuffer* out) {
  ErrorCode e = out->allocate(width, height);
  if (e != err::kNone) return e;
  out->setHasAlpha(source.hasAlpha());
  const std::vector<Tap> columns = TapsFor(region.width(), width, region.left);
  const std::vector<Tap> rows = TapsFor(region.height(), height, region.top);

  const std::size_t line_values = static_cast<std::size_t>(width) * kBytesPerPixel;
  // Two source rows interpolated across, values up to 255 x 256.
  std::vector<std::uint16_t> lines[2] = {std::vector<std::uint16_t>(line_values),
                                         std::vector<std::uint16_t>(line_values)};
  int held[2] = {-1, -1};
  auto across = [&](int slot, int sy) {
    const std::uint8_t* s = source.row(sy);
    std::uint16_t* l = lines[slot].data();
    for (const Tap& c : columns) {
      const std::uint8_t* a = s + static_cast<std::size_t>(c.first) * kBytesPerPixel;
      const std::uint8_t* b = s + static_cast<std::size_t>(c.second) * kBytesPerPixel;
      const int wb = c.weight;
      const int wa = kWeightOne - wb;
      for (std::size_t k = 0; k < kBytesPerPixel; ++k) *l++ = static_cast<std::uint16_t>(a[k] * wa + b[k] * wb);
    }
    held[slot] = sy;
  };
  auto slotOf = [&](int sy) { return held[0] == sy ? 0 : held[1] == sy ? 1 : -1; };

  for (int y = 0; y < height; ++y) {
    const Tap& r = rows[static_cast<std::size_t>(y)];
    int top = slotOf(r.first);
    if (top < 0) {
      top = slotOf(r.second) == 0 ? 1 : 0;  // keep the row still needed below
      across(top, r.first);
    }
    int bottom = slotOf(r.second);
    if (bottom < 0) {
      bottom = 1 - top;
      across(bottom, r.second);
    }
    const std::uint32_t wb = static_cast<std::uint32_t>(r.weight);
    const std::uint32_t wa = kWeightOne - wb;
    const std::uint16_t* a = lines[top].data();
    const std::uint16_t* b = lines[bottom].data();
    std::uint8_t* d = out->row(y);
    constexpr std::uint32_t kHalf = 1u << (2 * kWeightBits - 1);
    for (std::size_t i = 0; i < line_values; ++i) {
      d[i] = static_cast<std::uint8_t>((a[i] * wa + b[i] * wb + kHalf) >> (2 * kWeightBits));
    }
  }
  return err::kNone;
}

ErrorCode CopyRegion(const PixelBuffer& source, const Rect& region, PixelBuffer* out) {
  ErrorCode e = out->allocate(region.width(), region.height());
  if (e != err::kNone) return e;
  out->setHasAlpha(source.hasAlpha());
  const std::size_t row_bytes = static_cast<std::size_t>(region.width()) * kBytesPerPixel;
  for (int y = 0; y < region.height(); ++y) {
    std::memcpy(out->row(y), source.row(region.top + y) + static_cast<std::size_t>(region.left) * kBytesPerPixel,
                row_bytes);
  }
  return err::kNone;
}

// Scales the `region` of `source` to exactly width x height.
ErrorCode ResizeRegion(const PixelBuffer& source, const Rect& region, int width, int height, PixelBuffer* out) {
  const bool whole = region == Rect{0, 0, source.width(), source.height()};
  const int rw = region.width();
  const int rh = region.height();
  if (width >= rw && height >= rh) {
    if (width == rw && height == rh) return whole ? source.copyTo(out) : CopyRegion(source, region, out);
    return Bilinear(source, region, width, height, out);
  }
  // Some side shrinks: reduce that side by area averaging first.
  PixelBuffer cropped;
  const PixelBuffer* from = &source;
  if (!whole) {
    ErrorCode e = CopyRegion(source, region, &cropped);
    if (e != err::kNone) return e;
    from = &cropped;
  }
  const int reduced_w = std::min(width, rw);
  const int reduced_h = std::min(height, rh);
  if (reduced_w == width && reduced_h == height) return Downscale(*from, width, height, out);
  PixelBuffer reduced;
  ErrorCode e = Downscale(*from, reduced_w, reduced_h, &reduced);
  if (e != err::kNone) return e;
  return Bilinear(reduced, Rect{0, 0, reduced_w, reduced_h}, width, height, out);
}

// The part of a pw x ph picture that, scaled by the larger of the two
// ratios box / picture, covers the box exactly: the full side that decides
// the scale and a centred run of the other.
Rect FillRegion(std::int64_t pw, std::int64_t ph, std::int64_t bw, std::int64_t bh) {
  Rect r{0, 0, static_cast<int>(pw), static_cast<int>(ph)};
  if (bw * ph >= bh * pw) {
    // Width decides; the source run behind the box height is bh * pw / bw, rounded.
    const std::int64_t run = std::clamp<std::int64_t>((2 * bh * pw + bw) / (2 * bw), 1, ph);
    r.top = static_cast<int>((ph - run) / 2);
    r.bottom = r.top + static_cast<int>(run);
  } else {
    const std::int64_t run = std::clamp<std::int64_t>((2 * bw * ph + bh) / (2 * bh), 1, pw);
    r.left = static_cast<int>((pw - run) / 2);
    r.right = r.left + static_cast<int>(run);
  }
  return r;
}

}  // namespace

BoxScaling BoxScalingFromCode(int code) {
  switch (code) {
    case 1: return BoxScaling::kNatural;
    case 3: return BoxScaling::kFill;
    default: return BoxScaling::kFit;
  }
}

ErrorCode Resize(const PixelBuffer& source, int width, int height, PixelBuffer* out) {
  if (source.empty() || width < 1 || height < 1) return err::kParam;
  return ResizeRegion(source, Rect{0, 0, source.width(), source.height()}, width, height, out);
}

ErrorCode ScaleIntoBox(const PixelBuffer& source, int box_width, int box_height, BoxScaling mode,
                       PixelBuffer* out, int* scale_percent) {
  if (scale_percent != nullptr) *scale_percent = 100;
  if (source.empty()) return err::kParam;
  if (mode != BoxScaling::kNatural && (box_width < 1 || box_height < 1)) return err::kParam;
  const std::int64_t pw = source.width();
  const std::int64_t ph = source.height();
  const std::int64_t bw = box_width;
  const std::int64_t bh = box_height;

  int percent = 100;
  ErrorCode e = err::kNone;
  switch (mode) {
    case BoxScaling::kNatural:
      e = source.copyTo(out);
      break;
    case BoxScaling::kFit: {
      Rect fitted{0, 0, source.width(), source.height()};
      percent = FitRectInBox(&fitted, Rect{0, 0, box_width, box_height}, 1);
      e = ResizeRegion(source, Rect{0, 0, source.width(), source.height()}, fitted.width(), fitted.height(), out);
      break;
    }
    case BoxScaling::kFill: {
      percent = static_cast<int>(std::max(bw * 100 / pw, bh * 100 / ph));
      e = ResizeRegion(source, FillRegion(pw, ph, bw, bh), box_width, box_height, out);
      break;
    }
  }
  if (e != err::kNone) {
    *out = PixelBuffer();
    return e;
  }
  if (percent < kBoxSharpenBelowPercent) Sharpen(out);
  if (scale_percent != nullptr) *scale_percent = percent;
  return err::kNone;
}

void DrawFrame(PixelBuffer* picture, std::uint32_t argb) {
  if (picture->empty()) return;
  const int w = picture->width();
  const int h = picture->height();
  for (int x = 0; x < w; ++x) {
    picture->setPixel(x, 0, argb);
    picture->setPixel(x, h - 1, argb);
  }
  for (int y = 1; y + 1 < h; ++y) {
    picture->setPixel(0, y, argb);
    picture->setPixel(w - 1, y, argb);
  }
}

void CompositeWatermark(PixelBuffer* picture, const PixelBuffer& mark, int position) {
  if (picture->empty() || mark.empty()) return;
  if (position < 1 || position > 9) position = 1;
  const int column = (position - 1) % 3;
  const int row = (position - 1) / 3;
  const int pw = picture->width();
  const int ph = picture->height();
  const int mw = mark.width();
  const int mh = mark.height();
  // Where the mark's top-left corner lands; negative when the mark is larger.
  const int left = column == 0 ? 0 : column == 1 ? (pw - mw) / 2 : pw - mw;
  const int top = row == 0 ? 0 : row == 1 ? (ph - mh) / 2 : ph - mh;
  const int x0 = std::max(0, left);
  const int x1 = std::min(pw, left + mw);
  const int y0 = std::max(0, top);
  const int y1 = std::min(ph, top + mh);
  for (int y = y0; y < y1; ++y) {
    const std::uint8_t* s = mark.row(y - top) + static_cast<std::size_t>(x0 - left) * kBytesPerPixel;
    std::uint8_t* d = picture->row(y) + static_cast<std::size_t>(x0) * kBytesPerPixel;
    for (int x = x0; x < x1; ++x, s += kBytesPerPixel, d += kBytesPerPixel) {
      const unsigned a = s[0];
      if (a == 0) continue;
      if (a == 255) {
        std::memcpy(d, s, kBytesPerPixel);
        continue;
      }
      const unsigned rest = 255 - a;
      for (std::size_t k = 1; k < kBytesPerPixel; ++k) d[k] = static_cast<std::uint8_t>((s[k] * a + d[k] * rest + 127) / 255);
      d[0] = static_cast<std::uint8_t>(a + (d[0] * rest + 127) / 255);
    }
  }
}

}  // namespace norvo::imaging
