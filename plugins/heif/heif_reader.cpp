// SPDX-License-Identifier: GPL-3.0-or-later
// The HEIF plug-in: HEIF and HEIC files through libheif. The primary image,
// or for a thumbnail the file's own thumbnail when it covers the thumbnail's
// fitted size; and the metadata items and colour profile of the primary
// image, for the metadata readers.
#include <algorithm>
#include <memory>
#include <vector>

#include <libheif/heif.h>

#include "imaging/readers.h"
#include "media/platform_components.h"

namespace norvo::imaging {
namespace {

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;

// libheif's limit is a side whose square is the largest pixel count.
constexpr int kHeifSizeLimit = 11585;
static_assert(std::int64_t{kHeifSizeLimit} * kHeifSizeLimit <= kMaxPixels);

// libheif is set up once for the process.
bool HeifReady() {
  static const bool ready = heif_init(nullptr).code == heif_error_Ok;
  return ready;
}

ErrorCode DecodeHandle(heif_image_handle* handle, PixelBuffer* picture) {
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
  heif_image* raw = nullptr;
  heif_error e = heif_decode_image(handle, &raw, heif_colorspace_RGB,
                                   alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
  std::unique_ptr<heif_image, ImageRelease> image(raw);
  if (e.code != heif_error_Ok || !image) return kBadImageData;
  const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr || w <= 0 || h <= 0) return kBadImageData;
  const int channels = alpha ? 4 : 3;
  if (stride < w * channels) return kBadImageData;
  ErrorCode result = picture->allocate(w, h);
  if (result != err::kNone) return result;
  picture->setHasAlpha(alpha);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = plane + static_cast<std::ptrdiff_t>(y) * stride;
    std::uint8_t* d = picture->row(y);
    for (int x = 0; x < w; ++x, s += channels, d += kBytesPerPixel) {
      d[0] = alpha ? s[3] : 255;
      d[1] = s[0];
      d[2] = s[1];
      d[3] = s[2];
    }
  }
  return err::kNone;
}

class HeifFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    if (!HeifReady()) return err::kNoReaderForFormat;
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) return err::kOutOfMemory;
    heif_context_set_maximum_image_size_limit(context.get(), kHeifSizeLimit);
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr).code !=
        heif_error_Ok) {
      return kBadImageData;
    }
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) return kBadImageData;
    Handle primary(raw);
    ImageFacts& facts = out->facts;
    facts.width = heif_image_handle_get_width(primary.get());
    facts.height = heif_image_handle_get_height(primary.get());
    const bool alpha = heif_image_handle_has_alpha_channel(primary.get()) != 0;
    const int bits = heif_image_handle_get_luma_bits_per_pixel(primary.get());
    facts.depth = (bits > 0 ? bits : 8) * (alpha ? 4 : 3);
    facts.colour_space = kColourRgb;
    facts.compressor = "HEIF";
    if (facts.width <= 0 || facts.height <= 0) return kBadImageData;
    if (!heif_have_decoder_for_format(heif_compression_HEVC)) return err::kNoReaderForFormat;

    if (box > 0) {
      int fw = 0, fh = 0;
      FittedSize(facts.width, facts.height, box, &fw, &fh);
      const int count = heif_image_handle_get_number_of_thumbnails(primary.get());
      if (count > 0) {
        std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
        const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), ids.data(), count);
        for (int i = 0; i < listed; ++i) {
          heif_image_handle* thumb_raw = nullptr;
          if (heif_image_handle_get_thumbnail(primary.get(), ids[static_cast<std::size_t>(i)], &thumb_raw).code !=
              heif_error_Ok) {
            continue;
          }
          Handle thumb(thumb_raw);
          if (heif_image_handle_get_width(thumb.get()) >= fw && heif_image_handle_get_height(thumb.get()) >= fh &&
              DecodeHandle(thumb.get(), &out->picture) == err::kNone) {
            return err::kNone;
          }
        }
      }
    }
    return DecodeHandle(primary.get(), &out->picture);
  }
};

// The HEIF importer, offered only when libheif can decode HEVC: it may be
// built without that decoder.
std::uint32_t Describe(void* context, NorvoComponentSink sink) {
  if (!HeifReady() || !heif_have_decoder_for_format(heif_compression_HEVC)) return 0;
  constexpr std::uint32_t kHeifMaker = FourCC("lhif");
  for (std::uint32_t code : {FourCC("HEIF"), FourCC("heic"), FourCC("heif"), FourCC("hif ")}) {
    const NorvoPluginComponent c{media::kStillImageImporterType, code, kHeifMaker, 0, "HEIF"};
    sink(context, &c);
  }
  return 0;
}

std::int16_t Read(const std::uint8_t* bytes, std::size_t size, std::uint32_t, int box, void* decoded) {
  static const HeifFileReader reader;
  return reader.read(std::span(bytes, size), box, static_cast<DecodedImage*>(decoded));
}

// --- metadata ------------------------------------------------------------------------

// libheif's reader callbacks over the program's byte source.
struct SourceCursor {
  const NorvoByteSource* source;
  std::int64_t position;
};

std::int64_t CursorPosition(void* user) { return static_cast<SourceCursor*>(user)->position; }

int CursorRead(void* data, std::size_t size, void* user) {
  auto* cursor = static_cast<SourceCursor*>(user);
  const NorvoByteSource& s = *cursor->source;
  if (s.read_at(s.context, static_cast<std::uint64_t>(cursor->position), data, size) != 0) return 1;
  cursor->position += static_cast<std::int64_t>(size);
  return 0;
}

int CursorSeek(std::int64_t position, void* user) {
  auto* cursor = static_cast<SourceCursor*>(user);
  if (position < 0 || static_cast<std::uint64_t>(position) > cursor->source->size) return 1;
  cursor->position = position;
  return 0;
}

heif_reader_grow_status CursorWait(std::int64_t target_size, void* user) {
  // The file does not grow while it is read.
  return static_cast<std::uint64_t>(target_size) <= static_cast<SourceCursor*>(user)->source->size
             ? heif_reader_grow_status_size_reached
             : heif_reader_grow_status_size_beyond_eof;
}

std::int16_t ReadMetadata(const NorvoByteSource* source, std::size_t max_block, void* context, NorvoBlockSink sink) {
  if (!HeifReady()) return err::kNoReaderForFormat;
  std::unique_ptr<heif_context, ContextFree> heif(heif_context_alloc());
  if (!heif) return err::kOutOfMemory;
  SourceCursor cursor{source, 0};
  heif_reader reader{};
  reader.reader_api_version = 1;
  reader.get_position = CursorPosition;
  reader.read = CursorRead;
  reader.seek = CursorSeek;
  reader.wait_for_file_size = CursorWait;
  if (heif_context_read_from_reader(heif.get(), &reader, &cursor, nullptr).code != heif_error_Ok) return kBadImageData;
  heif_image_handle* raw = nullptr;
  if (heif_context_get_primary_image_handle(heif.get(), &raw).code != heif_error_Ok) return kBadImageData;
  Handle primary(raw);

  const int count = heif_image_handle_get_number_of_metadata_blocks(primary.get(), nullptr);
  std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
  const int listed =
      ids.empty() ? 0 : heif_image_handle_get_list_of_metadata_block_IDs(primary.get(), nullptr, ids.data(), count);
  std::vector<std::uint8_t> block;
  for (int i = 0; i < listed; ++i) {
    const heif_item_id id = ids[static_cast<std::size_t>(i)];
    const char* type = heif_image_handle_get_metadata_type(primary.get(), id);
    if (type == nullptr) continue;
    const std::size_t size = heif_image_handle_get_metadata_size(primary.get(), id);
    if (size == 0 || size > max_block) continue;
    block.resize(size);
    if (heif_image_handle_get_metadata(primary.get(), id, block.data()).code != heif_error_Ok) continue;
    const char* content = heif_image_handle_get_metadata_content_type(primary.get(), id);
    sink(context, type, content ? content : "", block.data(), block.size());
  }
  const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(primary.get());
  if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
    const std::size_t size = heif_image_handle_get_raw_color_profile_size(primary.get());
    if (size > 0 && size <= max_block) {
      block.resize(size);
      if (heif_image_handle_get_raw_color_profile(primary.get(), block.data()).code == heif_error_Ok) {
        sink(context, "colr", profile == heif_color_profile_type_prof ? "prof" : "rICC", block.data(), block.size());
      }
    }
  }
  return err::kNone;
}

const NorvoReaderPlugin kPlugin = {
    kNorvoReaderPluginAbi, kStillImageLayout, "heif", "libheif " LIBHEIF_VERSION, Describe, Read,
    nullptr, nullptr, nullptr, ReadMetadata,
    nullptr, nullptr, nullptr, nullptr, nullptr,  // no encoder
};

}  // namespace
}  // namespace norvo::imaging

extern "C" __attribute__((visibility("default"))) const NorvoReaderPlugin* norvo_reader_plugin_v1() {
  return &norvo::imaging::kPlugin;
}
