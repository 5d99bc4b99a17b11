// SPDX-License-Identifier: GPL-3.0-or-later
// Windows and OS/2 bitmaps: 1, 4, 8 bits with a palette (plain or run-length
// coded), 16 and 32 bits with bit-field masks, 24 bits; bitmaps that carry a
// JPEG or PNG stream are handed to those readers.
#include <algorithm>
#include <array>
#include <bit>

#include "imaging/readers.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;
enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpeg = 4, kPng = 5, kAlphaBitFields = 6 };

// One channel of a bit-field pixel: where it lies and how to widen it.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;
  explicit Channel(std::uint32_t m = 0) : mask(m) {
    if (m != 0) {
      shift = std::countr_zero(m);
      max = m >> shift;
    }
  }
  std::uint8_t get(std::uint32_t v, std::uint8_t none) const {
    if (max == 0) return none;
    return static_cast<std::uint8_t>((((v & mask) >> shift) * 255 + max / 2) / max);
  }
};

struct Header {
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: rows from the top
  std::uint16_t bits = 0;
  std::uint32_t compression = kRgb;
  std::uint32_t pixel_offset = 0;
  std::uint32_t header_bytes = 0;
  std::uint32_t colours_used = 0;
  std::int32_t ppm_x = 0;
  std::int32_t ppm_y = 0;
  std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
};

ErrorCode DecodeRle(std::span<const std::uint8_t> data, const Header& h, const std::vector<std::uint32_t>& palette,
                    PixelBuffer* picture) {
  const int w = picture->width();
  const int height = picture->height();
  picture->fill(palette.empty() ? Argb(255, 0, 0, 0) : palette[0]);
  ByteReader r(data);
  int x = 0;
  int line = 0;  // counted from the bottom
  auto put = [&](std::uint32_t index) {
    if (x < w && line < height && index < palette.size()) picture->setPixel(x, height - 1 - line, palette[index]);
    ++x;
  };
  const bool four = h.compression == kRle4;
  while (r.ok() && line < height) {
    const std::uint8_t count = r.u8();
    const std::uint8_t value = r.u8();
    if (!r.ok()) break;
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(four ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
    } else if (value == 0) {
      x = 0;
      ++line;
    } else if (value == 1) {
      return err::kNone;
    } else if (value == 2) {
      x += r.u8();
      line += r.u8();
    } else {
      const int n = value;
      const int bytes = four ? (n + 1) / 2 : n;
      std::span<const std::uint8_t> run = r.bytes(static_cast<std::size_t>(bytes));
      if (!r.ok()) break;
      for (int i = 0; i < n; ++i) {
        const std::uint8_t b = run[static_cast<std::size_t>(four ? i / 2 : i)];
        put(four ? ((i % 2 == 0) ? b >> 4 : b & 0x0F) : b);
      }
      if (bytes % 2 == 1) r.skip(1);
    }
  }
  // A stream that ends without its end-of-bitmap code keeps what it drew.
  return line > 0 || x > 0 ? err::kNone : kBadImageData;
}

class BmpFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    ByteReader r(bytes);
    Header h;
    if (r.u8() != 'B' || r.u8() != 'M') return kBadImageData;
    r.skip(8);
    h.pixel_offset = r.u32le();
    h.header_bytes = r.u32le();
    if (h.header_bytes == kCoreHeaderBytes) {
      h.width = r.u16le();
      h.height = r.u16le();
      r.skip(2);
      h.bits = r.u16le();
    } else if (h.header_bytes >= kInfoHeaderBytes) {
      h.width = static_cast<std::int32_t>(r.u32le());
      h.height = static_cast<std::int32_t>(r.u32le());
      r.skip(2);
      h.bits = r.u16le();
      h.compression = r.u32le();
      r.skip(4);
      h.ppm_x = static_cast<std::int32_t>(r.u32le());
      h.ppm_y = static_cast<std::int32_t>(r.u32le());
      h.colours_used = r.u32le();
      r.skip(4);
      // Masks follow a 40-byte header, or are part of a longer one.
      const bool fields = h.compression == kBitFields || h.compression == kAlphaBitFields;
      const int mask_count = h.header_bytes >= 56 || h.compression == kAlphaBitFields ? 4 : 3;
      if (fields || h.header_bytes >= 52) {
        for (int i = 0; i < mask_count; ++i) h.masks[static_cast<std::size_t>(i)] = r.u32le();
      }
      if (!fields) h.masks = {};
      r.seek(std::size_t{kFileHeaderBytes} + std::max<std::size_t>(h.header_bytes, r.position() - kFileHeaderBytes));
    } else {
      return kBadImageData;
    }
    if (!r.ok()) return kBadImageData;

    if (h.compression == kJpeg) return JpegReader().read(bytes.subspan(std::min<std::size_t>(h.pixel_offset, bytes.size())), box, out);
    if (h.compression == kPng) return PngReader().read(bytes.subspan(std::min<std::size_t>(h.pixel_offset, bytes.size())), box, out);

    const std::int64_t height = h.height < 0 ? -h.height : h.height;
    ImageFacts& facts = out->facts;
    facts.width = static_cast<std::int32_t>(h.width);
    facts.height = static_cast<std::int32_t>(height);
    facts.depth = h.bits;
    facts.colour_space = kColourRgb;
    facts.compressor = "BMP";
    facts.resolution = WholePixelsPerInch(h.ppm_x / 100.0, h.ppm_y / 100.0, 3);
    if (h.width <= 0 || height <= 0 || h.width > kMaxSide || height > kMaxSide) return kBadImageData;

    // Palette.
    std::vector<std::uint32_t> palette;
    if (h.bits <= 8) {
      if (h.bits != 1 && h.bits != 4 && h.bits != 8) return kBadImageData;
      const std::uint32_t entries = h.colours_used != 0 ? std::min<std::uint32_t>(h.colours_used, 256) : 1u << h.bits;
      const int entry_bytes = h.header_bytes == kCoreHeaderBytes ? 3 : 4;
      for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint8_t b = r.u8(), g = r.u8(), red = r.u8();
        if (entry_bytes == 4) r.skip(1);
        if (!r.ok()) return kBadImageData;
        palette.push_back(Argb(255, red, g, b));
      }
    } else if (h.bits != 16 && h.bits != 24 && h.bits != 32) {
      return kBadImageData;
    }

    if (h.pixel_offset >= bytes.size()) return kBadImageData;
    if (!PlausiblePictureSize(static_cast<std::uint64_t>(h.width), static_cast<std::uint64_t>(height),
                              bytes.size() - h.pixel_offset)) {
      return kBadImageData;
    }
    PixelBuffer& picture = out->picture;
    ErrorCode e = picture.allocate(static_cast<int>(h.width), static_cast<int>(height));
    if (e != err::kNone) return e;
    std::span<const std::uint8_t> data = bytes.subspan(h.pixel_offset);

    if (h.compression == kRle8 || h.compression == kRle4) {
      if ((h.compression == kRle8 && h.bits != 8) || (h.compression == kRle4 && h.bits != 4) || h.height < 0) {
        return kBadImageData;
      }
      return DecodeRle(data, h, palette, &picture);
    }
    if (h.compression != kRgb && h.compression != kBitFields && h.compression != kAlphaBitFields) return kBadImageData;

    std::array<std::uint32_t, 4> masks = h.masks;
    if (masks[0] == 0 && masks[1] == 0 && masks[2] == 0) {
      masks = h.bits == 16 ? std::array<std::uint32_t, 4>{0x7C00, 0x03E0, 0x001F, 0}
                           : std::array<std::uint32_t, 4>{0xFF0000, 0xFF00, 0xFF, 0};
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    picture.setHasAlpha(masks[3] != 0);

    const std::size_t stride = static_cast<std::size_t>((h.width * h.bits + 31) / 32 * 4);
    ByteReader rows(data);
    for (int line = 0; line < picture.height(); ++line) {
      const int y = h.height < 0 ? line : picture.height() - 1 - line;
      std::span<const std::uint8_t> s = rows.bytes(stride);
      if (!rows.ok()) return kBadImageData;
      std::uint8_t* d = picture.row(y);
      for (int x = 0; x < picture.width(); ++x, d += kBytesPerPixel) {
        const std::size_t ux = static_cast<std::size_t>(x);
        std::uint32_t argb = 0;
        switch (h.bits) {
          case 1: argb = palette[std::min<std::size_t>((s[ux / 8] >> (7 - ux % 8)) & 1, palette.size() - 1)]; break;
          case 4: argb = palette[std::min<std::size_t>((s[ux / 2] >> (ux % 2 ? 0 : 4)) & 0x0F, palette.size() - 1)]; break;
          case 8: argb = palette[std::min<std::size_t>(s[ux], palette.size() - 1)]; break;
          case 24: argb = Argb(255, s[ux * 3 + 2], s[ux * 3 + 1], s[ux * 3]); break;
          case 16: {
            const std::uint32_t v = s[ux * 2] | (std::uint32_t{s[ux * 2 + 1]} << 8);
            argb = Argb(alpha.get(v, 255), red.get(v, 0), green.get(v, 0), blue.get(v, 0));
            break;
          }
          default: {
            const std::uint32_t v = s[ux * 4] | (std::uint32_t{s[ux * 4 + 1]} << 8) |
                                    (std::uint32_t{s[ux * 4 + 2]} << 16) | (std::uint32_t{s[ux * 4 + 3]} << 24);
            argb = Argb(alpha.get(v, 255), red.get(v, 0), green.get(v, 0), blue.get(v, 0));
            break;
          }
        }
        d[0] = static_cast<std::uint8_t>(argb >> 24);
        d[1] = static_cast<std::uint8_t>(argb >> 16);
        d[2] = static_cast<std::uint8_t>(argb >> 8);
        d[3] = static_cast<std::uint8_t>(argb);
      }
    }
    return err::kNone;
  }
};

}  // namespace

const StillImageReader& BmpReader() {
  static const BmpFileReader reader;
  return reader;
}

}  // namespace norvo::imaging
