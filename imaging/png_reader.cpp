// SPDX-License-Identifier: GPL-3.0-or-later
// PNG through libpng. libpng reports errors by longjmp to the setjmp in
// ReadPng; the work after it runs in a routine with only trivial locals.
#include <csetjmp>
#include <cstring>

#include <png.h>

#include "imaging/readers.h"

namespace norvo::imaging {
namespace {

struct MemoryInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
  auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (count > input->size - input->position) png_error(png, "read past end");
  std::memcpy(out, input->data + input->position, count);
  input->position += count;
}

void JumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

ErrorCode DecodeRows(png_structp png, png_infop info, DecodedImage* out) {
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, colour_type = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, &interlace, nullptr, nullptr);
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return kBadImageData;

  ImageFacts& facts = out->facts;
  facts.width = static_cast<std::int32_t>(width);
  facts.height = static_cast<std::int32_t>(height);
  facts.depth = bit_depth * png_get_channels(png, info);
  facts.colour_space = (colour_type & PNG_COLOR_MASK_COLOR) ? kColourRgb : kColourGrey;
  facts.compressor = "PNG";
  png_uint_32 res_x = 0, res_y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &res_x, &res_y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
    facts.resolution = WholePixelsPerInch(res_x / 100.0, res_y / 100.0, 3);
  }

  const bool transparent = (colour_type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (bit_depth == 16) png_set_strip_16(png);
  if (!(colour_type & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_BEFORE);
  png_set_swap_alpha(png);  // RGBA to ARGB when the file has alpha
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * kBytesPerPixel) return kBadImageData;

  PixelBuffer& picture = out->picture;
  ErrorCode e = picture.allocate(static_cast<int>(width), static_cast<int>(height));
  if (e != err::kNone) return e;
  picture.setHasAlpha(transparent);
  const int passes = interlace == PNG_INTERLACE_NONE ? 1 : 7;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, picture.row(static_cast<int>(y)), nullptr);
  }
  return err::kNone;
}

class PngFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    (void)box;  // PNG has no reduced decode
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) return kBadImageData;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
    if (png == nullptr) return err::kOutOfMemory;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
      png_destroy_read_struct(&png, nullptr, nullptr);
      return err::kOutOfMemory;
    }
    MemoryInput input{bytes.data(), bytes.size(), 0};
    png_set_read_fn(png, &input, ReadFromMemory);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png, 64u * 1024 * 1024);
    ErrorCode result = kBadImageData;
    if (setjmp(png_jmpbuf(png)) == 0) {
      result = DecodeRows(png, info, out);
    } else {
      result = kBadImageData;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (result != err::kNone) out->picture = PixelBuffer();
    return result;
  }
};

}  // namespace

const StillImageReader& PngReader() {
  static const PngFileReader reader;
  return reader;
}

}  // namespace norvo::imaging
