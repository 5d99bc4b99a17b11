// SPDX-License-Identifier: GPL-3.0-or-later
// The composite image of a Photoshop file (and of its large-document form):
// the header, then the colour mode data, image resources and layer sections
// are passed over (keeping the palette, the resolution and the layer count),
// and the merged image is read, raw or PackBits-coded, for bitmap, greyscale,
// duotone, indexed, RGB and CMYK files of 1, 8 or 16 bits per channel.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "imaging/readers.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

constexpr std::uint16_t kResolutionResource = 0x03ED;
enum Mode : std::uint16_t { kBitmap = 0, kGrey = 1, kIndexed = 2, kRgb = 3, kCmyk = 4, kMultichannel = 7, kDuotone = 8 };
constexpr std::size_t kPaletteBytes = 768;

// Unpacks one PackBits-coded row into `out` (its size is the row's length).
// Missing bytes stay 0; extra bytes are ignored.
void UnpackRow(std::span<const std::uint8_t> packed, std::span<std::uint8_t> out) {
  std::fill(out.begin(), out.end(), 0);
  ByteReader r(packed);
  std::size_t at = 0;
  while (at < out.size() && r.ok() && !r.atEnd()) {
    const int n = static_cast<std::int8_t>(r.u8());
    if (n >= 0) {
      for (int i = 0; i <= n && at < out.size(); ++i) {
        const std::uint8_t b = r.u8();
        if (!r.ok()) return;
        out[at++] = b;
      }
    } else if (n != -128) {
      const std::uint8_t b = r.u8();
      if (!r.ok()) return;
      for (int i = 0; i <= -n && at < out.size(); ++i) out[at++] = b;
    }
  }
}

void ReadResolution(std::span<const std::uint8_t> resources, ImageFacts* facts) {
  ByteReader r(resources);
  while (r.ok() && r.remaining() >= 12) {
    if (r.u32be() != FourCC("8BIM")) return;
    const std::uint16_t id = r.u16be();
    const std::uint8_t name_length = r.u8();
    r.skip(name_length + ((name_length + 1) % 2));
    const std::uint32_t size = r.u32be();
    std::span<const std::uint8_t> data = r.bytes(size);
    if (!r.ok()) return;
    if (size % 2 == 1) r.skip(1);
    if (id == kResolutionResource && size >= 16) {
      ByteReader d(data);
      const double x = d.u32be() / 65536.0;
      const int x_unit = d.u16be();
      d.skip(2);
      const double y = d.u32be() / 65536.0;
      facts->resolution = WholePixelsPerInch(x, y, x_unit == 2 ? 3 : 2);
      return;
    }
  }
}

class PhotoshopFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    (void)box;
    ByteReader r(bytes);
    if (r.u32be() != FourCC("8BPS")) return kBadImageData;
    const std::uint16_t version = r.u16be();
    r.skip(6);
    const std::uint16_t channels = r.u16be();
    const std::uint32_t height = r.u32be();
    const std::uint32_t width = r.u32be();
    const std::uint16_t depth = r.u16be();
    const std::uint16_t mode = r.u16be();
    if (!r.ok() || (version != 1 && version != 2)) return kBadImageData;
    const bool large = version == 2;

    ImageFacts& facts = out->facts;
    facts.width = static_cast<std::int32_t>(std::min<std::uint32_t>(width, INT32_MAX));
    facts.height = static_cast<std::int32_t>(std::min<std::uint32_t>(height, INT32_MAX));
    facts.compressor = "Photoshop";
    int colour_channels = 1;
    switch (mode) {
      case kRgb: colour_channels = 3; facts.colour_space = kColourRgb; break;
      case kCmyk: colour_channels = 4; facts.colour_space = kColourCmyk; break;
      case kIndexed: facts.colour_space = kColourRgb; break;
      case kBitmap:
      case kGrey:
      case kDuotone:
      case kMultichannel: facts.colour_space = kColourGrey; break;
      default: return kBadImageData;
    }
    facts.depth = colour_channels * depth;

    const std::uint32_t mode_data_length = r.u32be();
    std::span<const std::uint8_t> mode_data = r.bytes(mode_data_length);
    const std::uint32_t resources_length = r.u32be();
    ReadResolution(r.bytes(resources_length), &facts);
    const std::uint64_t layers_length = large ? r.u64be() : r.u32be();
    if (!r.ok() || layers_length > r.remaining()) return kBadImageData;
    const std::size_t layers_end = r.position() + static_cast<std::size_t>(layers_length);
    if (layers_length >= (large ? 10u : 6u)) {
      const std::uint64_t layer_info_length = large ? r.u64be() : r.u32be();
      if (layer_info_length >= 2) {
        const int count = std::abs(static_cast<int>(r.i16be()));
        if (count >= 1 && count <= kMaxImageCount) facts.image_count = count;
      }
    }
    r.seek(layers_end);
    const std::uint16_t compression = r.u16be();
    if (!r.ok()) return kBadImageData;

    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return kBadImageData;
    if (channels < colour_channels || channels > 56) return kBadImageData;
    if (!(depth == 8 || depth == 16 || (depth == 1 && mode == kBitmap))) return kBadImageData;
    if (mode == kIndexed && (depth != 8 || mode_data.size() < kPaletteBytes)) return kBadImageData;
    if (compression > 1) return kBadImageData;  // the zip-coded forms are not read

    const std::size_t row_bytes = (std::size_t{width} * depth + 7) / 8;
    // The file must hold the data its header declares before a picture of
    // that size is made: raw rows in full, PackBits rows at least their
    // length table and two bytes per run of 128 bytes.
    const std::uint64_t rows = static_cast<std::uint64_t>(colour_channels) * height;
    const std::uint64_t needed = compression == 0 ? rows * row_bytes
                                                  : std::uint64_t{channels} * height * (large ? 4 : 2) +
                                                        rows * 2 * ((row_bytes + 127) / 128);
    if (needed > r.remaining()) return kBadImageData;

    PixelBuffer& picture = out->picture;
    ErrorCode e = picture.allocate(static_cast<int>(width), static_cast<int>(height));
    if (e != err::kNone) return e;
    picture.fill(Argb(255, 255, 255, 255));

    const std::size_t bytes_per_sample = depth == 16 ? 2 : 1;
    // PackBits rows: a table of their coded lengths for every channel comes first.
    ByteReader counts;
    if (compression == 1) {
      const std::size_t entry = large ? 4 : 2;
      counts = ByteReader(r.bytes(std::size_t{channels} * height * entry));
      if (!r.ok()) return kBadImageData;
    }
    std::vector<std::uint8_t> unpacked(row_bytes);
    for (int c = 0; c < colour_channels; ++c) {
      for (std::uint32_t y = 0; y < height; ++y) {
        std::span<const std::uint8_t> line;
        if (compression == 0) {
          line = r.bytes(row_bytes);
        } else {
          const std::uint32_t packed_length = large ? counts.u32be() : counts.u16be();
          std::span<const std::uint8_t> packed = r.bytes(packed_length);
          if (!r.ok() || !counts.ok()) return kBadImageData;
          UnpackRow(packed, unpacked);
          line = unpacked;
        }
        if (!r.ok()) return kBadImageData;
        std::uint8_t* d = picture.row(static_cast<int>(y));
        for (std::uint32_t x = 0; x < width; ++x, d += kBytesPerPixel) {
          std::uint8_t v;
          if (depth == 1) {
            v = (line[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;  // 1 is black
          } else {
            v = line[x * bytes_per_sample];
          }
          if (colour_channels == 1) {
            if (mode == kIndexed) {
              d[1] = mode_data[v];
              d[2] = mode_data[256 + v];
              d[3] = mode_data[512 + v];
            } else {
              d[1] = d[2] = d[3] = v;
            }
          } else if (c < 3) {
            d[1 + c] = v;
          } else {
            d[0] = v;  // black ink, until the conversion below
          }
        }
      }
    }
    if (mode == kCmyk) {
      // Inks are stored inverted: 255 is no ink.
      for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* d = picture.row(y);
        for (int x = 0; x < picture.width(); ++x, d += kBytesPerPixel) {
          const unsigned k = d[0];
          for (int i = 1; i < 4; ++i) d[i] = static_cast<std::uint8_t>((d[i] * k + 127) / 255);
          d[0] = 255;
        }
      }
    }
    return err::kNone;
  }
};

}  // namespace

const StillImageReader& PhotoshopReader() {
  static const PhotoshopFileReader reader;
  return reader;
}

}  // namespace norvo::imaging
