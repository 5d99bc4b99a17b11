// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixel_buffer.h"

#include <cstring>
#include <new>

namespace norvo::imaging {

ErrorCode PixelBuffer::allocate(int width, int height) {
  data_.reset();
  width_ = height_ = 0;
  stride_ = 0;
  has_alpha_ = false;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return err::kParam;
  if (std::int64_t{width} * height > kMaxPixels) return err::kOutOfMemory;
  std::size_t stride = static_cast<std::size_t>(width) * kBytesPerPixel;
  try {
    data_ = std::make_unique_for_overwrite<std::uint8_t[]>(stride * static_cast<std::size_t>(height));
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  width_ = width;
  height_ = height;
  stride_ = stride;
  return err::kNone;
}

ErrorCode PixelBuffer::copyTo(PixelBuffer* out) const {
  if (empty()) {
    *out = PixelBuffer();
    return err::kNone;
  }
  ErrorCode e = out->allocate(width_, height_);
  if (e != err::kNone) return e;
  for (int y = 0; y < height_; ++y) std::memcpy(out->row(y), row(y), static_cast<std::size_t>(width_) * kBytesPerPixel);
  out->has_alpha_ = has_alpha_;
  return err::kNone;
}

std::uint32_t PixelBuffer::pixel(int x, int y) const {
  const std::uint8_t* p = row(y) + static_cast<std::size_t>(x) * kBytesPerPixel;
  return Argb(p[0], p[1], p[2], p[3]);
}

void PixelBuffer::setPixel(int x, int y, std::uint32_t argb) {
  std::uint8_t* p = row(y) + static_cast<std::size_t>(x) * kBytesPerPixel;
  p[0] = static_cast<std::uint8_t>(argb >> 24);
  p[1] = static_cast<std::uint8_t>(argb >> 16);
  p[2] = static_cast<std::uint8_t>(argb >> 8);
  p[3] = static_cast<std::uint8_t>(argb);
}

void PixelBuffer::fill(std::uint32_t argb) {
  if (empty() || width_ <= 0) return;
  // One row pixel by pixel, the others copied from it.
  for (int x = 0; x < width_; ++x) setPixel(x, 0, argb);
  const std::size_t row_bytes = static_cast<std::size_t>(width_) * 4;
  for (int y = 1; y < height_; ++y) std::memcpy(row(y), row(0), row_bytes);
}

}  // namespace norvo::imaging
