// SPDX-License-Identifier: GPL-3.0-or-later
// The HEIF writer (libheif): HEVC for .heic, AV1 for .avif, whichever
// encoder plug-ins libheif finds on this machine. The colour profile goes
// with the image as an ICC profile; the EXIF block becomes the image's Exif
// item. HEIF keeps no resolution of its own: the EXIF block carries it.
#include <libheif/heif.h>

#include <memory>

#include "imaging/format_writers.h"

namespace norvo::imaging::writers {
namespace {

// libheif counts its users; the library is set up once for the process.
void InitOnce() {
  static const bool done = [] {
    (void)heif_init(nullptr);  // without it libheif still works, with its built-in plug-ins
    return true;
  }();
  (void)done;
}

heif_compression_format Compression(bool av1) { return av1 ? heif_compression_AV1 : heif_compression_HEVC; }

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct EncoderFree {
  void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};
struct ImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};

heif_error Append(heif_context*, const void* data, size_t size, void* user) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(user);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

}  // namespace

bool HeifEncoderAvailable(bool av1) {
  InitOnce();
  return heif_have_encoder_for_format(Compression(av1)) != 0;
}

ErrorCode WriteHeif(const PixelBuffer& picture, const ImageWriteOptions& options, bool av1,
                    std::vector<std::uint8_t>* out, std::uint32_t*) {
  InitOnce();
  std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context) return err::kOutOfMemory;
  heif_encoder* raw_encoder = nullptr;
  if (heif_context_get_encoder_for_format(context.get(), Compression(av1), &raw_encoder).code != heif_error_Ok) {
    return err::kParam;
  }
  std::unique_ptr<heif_encoder, EncoderFree> encoder(raw_encoder);
  (void)heif_encoder_set_lossy_quality(encoder.get(), options.quality);  // an encoder without it keeps its own

  const bool alpha = picture.hasAlpha();
  heif_image* raw_image = nullptr;
  if (heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &raw_image)
          .code != heif_error_Ok) {
    return err::kOutOfMemory;
  }
  std::unique_ptr<heif_image, ImageFree> image(raw_image);
  if (heif_image_add_plane(image.get(), heif_channel_interleaved, picture.width(), picture.height(), 8).code !=
      heif_error_Ok) {
    return err::kOutOfMemory;
  }
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr) return err::kOutOfMemory;
  const std::size_t width = static_cast<std::size_t>(picture.width());
  for (int y = 0; y < picture.height(); ++y) {
    const std::uint8_t* from = picture.row(y);
    std::uint8_t* to = plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
    for (std::size_t x = 0; x < width; ++x, from += 4) {
      *to++ = from[1];
      *to++ = from[2];
      *to++ = from[3];
      if (alpha) *to++ = from[0];
    }
  }
  if (!options.icc_profile.empty() &&
      heif_image_set_raw_color_profile(image.get(), "prof", options.icc_profile.data(), options.icc_profile.size())
              .code != heif_error_Ok) {
    return err::kBadJpeg;
  }
  heif_image_handle* raw_handle = nullptr;
  if (heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &raw_handle).code !=
      heif_error_Ok) {
    return err::kBadJpeg;
  }
  std::unique_ptr<heif_image_handle, HandleFree> handle(raw_handle);
  if (!options.exif.empty() &&
      heif_context_add_exif_metadata(context.get(), handle.get(), options.exif.data(),
                                     static_cast<int>(options.exif.size()))
              .code != heif_error_Ok) {
    return err::kBadJpeg;
  }
  heif_writer writer{};
  writer.writer_api_version = 1;
  writer.write = Append;
  out->clear();
  if (heif_context_write(context.get(), &writer, out).code != heif_error_Ok) {
    out->clear();
    return err::kBadJpeg;
  }
  return err::kNone;
}

}  // namespace norvo::imaging::writers
