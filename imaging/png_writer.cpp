// SPDX-License-Identifier: GPL-3.0-or-later
// The PNG writer (libpng): 8-bit RGB, or RGBA for a picture with alpha;
// pHYs for the resolution, iCCP for the profile, eXIf for the EXIF block.
// libpng reports errors by a jump back to the routine that started the
// work; only trivially destructible locals live between the two.
#include <csetjmp>
#include <cmath>

#include <png.h>

#include "imaging/format_writers.h"

namespace norvo::imaging::writers {
namespace {

constexpr double kMetresPerInch = 0.0254;

[[noreturn]] void JumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}

// Everything libpng does, between setjmp and a possible longjmp.
bool Encode(png_structp png, png_infop info, const PixelBuffer& picture, const ImageWriteOptions& options,
            png_bytepp rows, std::vector<std::uint8_t>* out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, Append, NoFlush);
  // Cameras embed sRGB profiles that libpng knows to be slightly wrong; the
  // user asked for the profile as it is, so it is kept, not refused.
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_set_benign_errors(png, 1);
  const bool alpha = picture.hasAlpha();
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()), static_cast<png_uint_32>(picture.height()), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const auto per_metre = static_cast<png_uint_32>(std::lround(options.dots_per_inch / kMetresPerInch));
  png_set_pHYs(png, info, per_metre, per_metre, PNG_RESOLUTION_METER);
  if (!options.icc_profile.empty()) {
    png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, options.icc_profile.data(),
                 static_cast<png_uint_32>(options.icc_profile.size()));
  }
  if (!options.exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(options.exif.size()),
                   const_cast<png_bytep>(options.exif.data()));
  }
  png_write_info(png, info);
  // Our pixels are A, R, G, B: move alpha last, or drop it.
  if (alpha) {
    png_set_swap_alpha(png);
  } else {
    png_set_filler(png, 0, PNG_FILLER_BEFORE);
  }
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

}  // namespace

ErrorCode WritePng(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                   std::uint32_t*) {
  std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height()));
  for (int y = 0; y < picture.height(); ++y) rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(picture.row(y));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
  if (png == nullptr) return err::kOutOfMemory;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return err::kOutOfMemory;
  }
  const bool ok = Encode(png, info, picture, options, rows.data(), out);
  png_destroy_write_struct(&png, &info);
  return ok ? err::kNone : err::kBadJpeg;
}

}  // namespace norvo::imaging::writers
