// SPDX-License-Identifier: GPL-3.0-or-later
// The metadata items of HEIF and HEIC files, found by libheif: the Exif and
// XMP items that describe the primary image, and its colour profile. libheif
// reads through the byte source, so only the boxes it parses and the items
// asked for are read, never the coded image.
#include "metadata/image_containers.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

// The brands of HEIF still images (HEVC, AVIF and the generic ones).
constexpr std::array<std::string_view, 9> kHeifBrands = {"heic", "heix", "hevc", "hevx", "heim",
                                                          "heis", "mif1", "msf1", "avif"};
constexpr std::string_view kExifItemType = "Exif";
constexpr std::string_view kMimeItemType = "mime";
constexpr std::string_view kXmpContentType = "application/rdf+xml";
// An Exif item begins with the big-endian offset from the end of that field
// to the TIFF header.
constexpr std::size_t kExifOffsetSize = 4;

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};

// libheif is set up once for the process.
bool HeifReady() {
  static const bool ready = heif_init(nullptr).code == heif_error_Ok;
  return ready;
}

// libheif's reader callbacks over a byte source.
struct SourceCursor {
  const ByteSource* source;
  std::int64_t position;
};

std::int64_t CursorPosition(void* user) { return static_cast<SourceCursor*>(user)->position; }

int CursorRead(void* data, std::size_t size, void* user) {
  auto* cursor = static_cast<SourceCursor*>(user);
  std::span<std::uint8_t> out(static_cast<std::uint8_t*>(data), size);
  if (cursor->source->readAt(cursor->position, out) != err::kNone) return 1;
  cursor->position += static_cast<std::int64_t>(size);
  return 0;
}

int CursorSeek(std::int64_t position, void* user) {
  auto* cursor = static_cast<SourceCursor*>(user);
  if (position < 0 || position > cursor->source->size()) return 1;
  cursor->position = position;
  return 0;
}

heif_reader_grow_status CursorWait(std::int64_t target_size, void* user) {
  // The file does not grow while it is read.
  return target_size <= static_cast<SourceCursor*>(user)->source->size() ? heif_reader_grow_status_size_reached
                                                                         : heif_reader_grow_status_size_beyond_eof;
}

// The TIFF structure of an Exif item: after the offset field and the bytes
// it skips (often JPEG's "Exif\0\0", which ReadExifBlock also accepts).
std::span<const std::uint8_t> TiffOfExifItem(std::span<const std::uint8_t> item) {
  if (item.size() < kExifOffsetSize) return {};
  ByteReader r(item);
  const std::uint32_t skip = r.u32be();
  auto rest = item.subspan(kExifOffsetSize);
  if (skip <= rest.size() && IsTiffHeader(rest.subspan(skip))) return rest.subspan(skip);
  return rest;  // a wrong offset: the block may still open with "Exif\0\0"
}

bool MetadataBlock(const heif_image_handle* handle, heif_item_id id, std::vector<std::uint8_t>* out) {
  const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
  if (size == 0 || size > kMaxContainerBlockBytes) return false;
  out->resize(size);
  return heif_image_handle_get_metadata(handle, id, out->data()).code == heif_error_Ok;
}

void ReadProfile(const heif_image_handle* handle, ImageMetadata* out) {
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
  if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) return;
  const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
  if (size == 0 || size > kMaxContainerBlockBytes) return;
  std::vector<std::uint8_t> profile(size);
  if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok) return;
  // The container's profile wins over the EXIF colour space.
  out->profile = ProfileChoice::kEmbedded;
  out->icc_profile = std::move(profile);
}

}  // namespace

bool IsHeifHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kContainerSniffSize) return false;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), kContainerSniffSize);
  return text.substr(4, 4) == "ftyp" &&
         std::find(kHeifBrands.begin(), kHeifBrands.end(), text.substr(8, 4)) != kHeifBrands.end();
}

ErrorCode ReadHeifMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out) {
  if (!HeifReady()) return err::kNoReaderForFormat;
  std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context) return err::kOutOfMemory;
  SourceCursor cursor{&source, 0};
  heif_reader reader{};
  reader.reader_api_version = 1;
  reader.get_position = CursorPosition;
  reader.read = CursorRead;
  reader.seek = CursorSeek;
  reader.wait_for_file_size = CursorWait;
  if (heif_context_read_from_reader(context.get(), &reader, &cursor, nullptr).code != heif_error_Ok) {
    return err::kBadJpeg;
  }
  heif_image_handle* raw = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) return err::kBadJpeg;
  std::unique_ptr<heif_image_handle, HandleRelease> primary(raw);

  const int count = heif_image_handle_get_number_of_metadata_blocks(primary.get(), nullptr);
  std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
  const int listed =
      ids.empty() ? 0 : heif_image_handle_get_list_of_metadata_block_IDs(primary.get(), nullptr, ids.data(), count);
  std::vector<std::uint8_t> block;
  for (int i = 0; i < listed; ++i) {
    const heif_item_id id = ids[static_cast<std::size_t>(i)];
    const char* type = heif_image_handle_get_metadata_type(primary.get(), id);
    if (type == nullptr) continue;
    if (type == kExifItemType) {
      if (MetadataBlock(primary.get(), id, &block)) ReadExifBlock(TiffOfExifItem(block), want_thumbnail, out);
    } else if (type == kMimeItemType) {
      const char* content = heif_image_handle_get_metadata_content_type(primary.get(), id);
      if (content != nullptr && content == kXmpContentType && MetadataBlock(primary.get(), id, &block)) {
        out->list.add(kKeyXmp, block);
      }
    }
  }
  // libheif turns and mirrors the decoded picture by the file's own
  // transformations; the EXIF orientation must not turn it again.
  out->orientation = 0;
  ReadProfile(primary.get(), out);
  return err::kNone;
}

}  // namespace norvo::metadata
