// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the still-image readers and the thumbnail path. The first byte picks
// the reader (or format sniffing) and whether a thumbnail-sized or a
// full-size picture is asked for; the rest is the file. A decoded picture is
// made into a stored thumbnail, which must read back at its own size; the
// bytes are also tried as a stored thumbnail.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "imaging/image_reader.h"
#include "imaging/thumbnail.h"
#include "imaging/transform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace norvo::imaging;
  if (size < 1) return 0;
  static constexpr std::array<std::uint32_t, 10> kFormats = {0,           kFormatJpeg, kFormatTiff, kFormatPng,
                                                             kFormatBmp,  kFormatPhotoshop, kFormatWebp, kFormatHeif,
                                                             kFormatGif,  kFormatCameraRaw};
  const std::uint8_t selector = data[0];
  const std::uint32_t format = kFormats[(selector & 0x7F) % kFormats.size()];
  const int box = (selector & 0x80) != 0 ? 0 : 128;
  std::span<const std::uint8_t> bytes(data + 1, size - 1);

  DecodedImage image;
  const norvo::ErrorCode e = ReadStillImage(bytes, format, box, &image);
  if (e == norvo::err::kNone) {
    if (image.picture.empty() || image.facts.compressor.size() > kMaxCompressorName) std::abort();
    StoredThumbnail stored;
    const std::uint16_t rotation = RotationForOrientation(selector % 9);
    if (MakeThumbnailPicture(128, image.picture, image.facts.width, image.facts.height, rotation, &stored) ==
        norvo::err::kNone) {
      PixelBuffer back;
      if (DecodeStoredThumbnail(stored.bytes, &back) != norvo::err::kNone || back.width() != stored.width ||
          back.height() != stored.height) {
        std::abort();
      }
    }
  } else if (!image.picture.empty()) {
    std::abort();
  }

  PixelBuffer thumb;
  (void)DecodeStoredThumbnail(bytes, &thumb);  // any result: crashes are the test
  return 0;
}
