// SPDX-License-Identifier: GPL-3.0-or-later
// The offscreen image every imaging routine works on: 32 bits per pixel,
// 8 bits per channel, in the byte order A, R, G, B (the first byte of a pixel
// is alpha, 255 opaque). Rows follow each other `stride` bytes apart; the
// memory is owned by the buffer and released with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/error_codes.h"

namespace norvo::imaging {

// Largest picture any reader or routine here will allocate (512 MB of
// pixels). Larger media are read at a reduced size or refused.
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 27;
// Largest side of a picture.
inline constexpr int kMaxSide = 1 << 16;

inline constexpr std::size_t kBytesPerPixel = 4;

// One pixel as a number: 0xAARRGGBB.
constexpr std::uint32_t Argb(std::uint8_t a, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return (std::uint32_t{a} << 24) | (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
}

class PixelBuffer {
 public:
  PixelBuffer() = default;
  PixelBuffer(PixelBuffer&&) noexcept = default;
  PixelBuffer& operator=(PixelBuffer&&) noexcept = default;
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;

  // Allocates width x height pixels with undefined contents. Sides of 0, a
  // side above kMaxSide or more than kMaxPixels pixels are refused (err::kParam and
  // err::kOutOfMemory); an allocation failure is err::kOutOfMemory.
  ErrorCode allocate(int width, int height);
  // A copy with the same pixels (rows packed).
  ErrorCode copyTo(PixelBuffer* out) const;

  bool empty() const { return !data_; }
  int width() const { return width_; }
  int height() const { return height_; }
  std::size_t stride() const { return stride_; }

  std::uint8_t* row(int y) { return data_.get() + static_cast<std::size_t>(y) * stride_; }
  const std::uint8_t* row(int y) const { return data_.get() + static_cast<std::size_t>(y) * stride_; }
  std::span<std::uint8_t> bytes() { return {data_.get(), stride_ * static_cast<std::size_t>(height_)}; }
  std::span<const std::uint8_t> bytes() const { return {data_.get(), stride_ * static_cast<std::size_t>(height_)}; }

  std::uint32_t pixel(int x, int y) const;
  void setPixel(int x, int y, std::uint32_t argb);
  void fill(std::uint32_t argb);

  // Whether some pixel may be less than opaque; readers of formats with an
  // alpha channel set it, and the thumbnail is then laid on white.
  bool hasAlpha() const { return has_alpha_; }
  void setHasAlpha(bool value) { has_alpha_ = value; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  int width_ = 0;
  int height_ = 0;
  std::size_t stride_ = 0;
  bool has_alpha_ = false;
};

}  // namespace norvo::imaging
