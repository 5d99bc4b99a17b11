// SPDX-License-Identifier: GPL-3.0-or-later
// The GIF writer (giflib): the picture reduced to a palette of 256 colours
// by giflib's median cut, laid on white when it has alpha. GIF keeps no
// resolution, profile or EXIF.
#include <gif_lib.h>

#include <memory>

#include "imaging/format_writers.h"

namespace norvo::imaging::writers {
namespace {

constexpr int kPaletteSize = 256;
constexpr int kMaxGifSide = 65535;

int Append(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

struct MapFree {
  void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};

std::uint8_t OnWhite(std::uint8_t value, std::uint8_t alpha) {
  return static_cast<std::uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

}  // namespace

ErrorCode WriteGif(const PixelBuffer& picture, const ImageWriteOptions&, std::vector<std::uint8_t>* out,
                   std::uint32_t*) {
  if (picture.width() > kMaxGifSide || picture.height() > kMaxGifSide) return err::kParam;
  const auto width = static_cast<unsigned>(picture.width());
  const auto height = static_cast<unsigned>(picture.height());
  const std::size_t count = std::size_t{width} * height;
  std::vector<GifByteType> red(count), green(count), blue(count), indexes(count);
  std::size_t i = 0;
  for (unsigned y = 0; y < height; ++y) {
    const std::uint8_t* p = picture.row(static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x, p += 4, ++i) {
      const std::uint8_t a = picture.hasAlpha() ? p[0] : 255;
      red[i] = OnWhite(p[1], a);
      green[i] = OnWhite(p[2], a);
      blue[i] = OnWhite(p[3], a);
    }
  }
  int palette_size = kPaletteSize;
  std::vector<GifColorType> palette(kPaletteSize);
  if (GifQuantizeBuffer(width, height, &palette_size, red.data(), green.data(), blue.data(), indexes.data(),
                        palette.data()) != GIF_OK) {
    return err::kBadJpeg;
  }
  std::unique_ptr<ColorMapObject, MapFree> map(GifMakeMapObject(kPaletteSize, palette.data()));
  if (!map) return err::kOutOfMemory;
  out->clear();
  int error = 0;
  GifFileType* gif = EGifOpen(out, Append, &error);
  if (gif == nullptr) return err::kOutOfMemory;
  bool ok = EGifPutScreenDesc(gif, static_cast<int>(width), static_cast<int>(height), 8, 0, map.get()) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, static_cast<int>(width), static_cast<int>(height), false, nullptr) ==
                GIF_OK;
  for (unsigned y = 0; y < height && ok; ++y) {
    ok = EGifPutLine(gif, indexes.data() + std::size_t{y} * width, static_cast<int>(width)) == GIF_OK;
  }
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  if (!ok) {
    out->clear();
    return err::kBadJpeg;
  }
  return err::kNone;
}

}  // namespace norvo::imaging::writers
