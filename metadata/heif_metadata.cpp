// SPDX-License-Identifier: GPL-3.0-or-later
// The metadata items of HEIF and HEIC files, found by libheif in the HEIF
// plug-in (opened on first use): the Exif and XMP items that describe the
// primary image, and its colour profile. libheif reads through the byte
// source, so only the boxes it parses and the items asked for are read,
// never the coded image.
#include "metadata/image_containers.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "metadata/exif_reader.h"
#include "metadata/list_keys.h"
#include "metadata/tiff_tags.h"
#include "platform/byte_io.h"
#include "platform/reader_plugins.h"

namespace norvo::metadata {
namespace {

// The brands of HEIF still images (HEVC, AVIF and the generic ones).
constexpr std::array<std::string_view, 9> kHeifBrands = {"heic", "heix", "hevc", "hevx", "heim",
                                                          "heis", "mif1", "msf1", "avif"};
constexpr std::string_view kExifItemType = "Exif";
constexpr std::string_view kMimeItemType = "mime";
constexpr std::string_view kXmpContentType = "application/rdf+xml";
constexpr std::string_view kProfileItemType = "colr";  // the plug-in's name for the colour profile
// An Exif item begins with the big-endian offset from the end of that field
// to the TIFF header.
constexpr std::size_t kExifOffsetSize = 4;

// The plug-in's reads of the byte source.
int ReadAt(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
  const auto* source = static_cast<const ByteSource*>(context);
  std::span<std::uint8_t> out(static_cast<std::uint8_t*>(buffer), length);
  return source->readAt(static_cast<std::int64_t>(offset), out) == err::kNone ? 0 : 1;
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

struct BlockReader {
  bool want_thumbnail;
  ImageMetadata* out;
};

void TakeBlock(void* context, const char* type, const char* content_type, const std::uint8_t* bytes,
               std::size_t size) {
  auto* reader = static_cast<BlockReader*>(context);
  const std::span<const std::uint8_t> block(bytes, size);
  const std::string_view item = type;
  if (item == kExifItemType) {
    // A damaged Exif item keeps what it gave; the picture is still read.
    (void)ReadExifBlock(TiffOfExifItem(block), reader->want_thumbnail, reader->out);
  } else if (item == kMimeItemType && std::string_view(content_type) == kXmpContentType) {
    reader->out->list.add(kKeyXmp, std::vector<std::uint8_t>(block.begin(), block.end()));
  } else if (item == kProfileItemType) {
    // The container's profile wins over the EXIF colour space.
    reader->out->profile = ProfileChoice::kEmbedded;
    reader->out->icc_profile.assign(block.begin(), block.end());
  }
}

}  // namespace

bool IsHeifHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kContainerSniffSize) return false;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), kContainerSniffSize);
  return text.substr(4, 4) == "ftyp" &&
         std::find(kHeifBrands.begin(), kHeifBrands.end(), text.substr(8, 4)) != kHeifBrands.end();
}

ErrorCode ReadHeifMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out) {
  const NorvoReaderPlugin* heif = plugins::ReaderPlugin(plugins::kHeifFamily, 0);
  if (heif == nullptr || heif->read_heif_metadata == nullptr) return err::kNoReaderForFormat;
  const NorvoByteSource bytes{const_cast<ByteSource*>(&source), static_cast<std::uint64_t>(source.size()), ReadAt};
  BlockReader reader{want_thumbnail, out};
  const ErrorCode e = heif->read_heif_metadata(&bytes, kMaxContainerBlockBytes, &reader, TakeBlock);
  if (e != err::kNone) return e;
  // libheif turns and mirrors the decoded picture by the file's own
  // transformations; the EXIF orientation must not turn it again.
  out->orientation = 0;
  return err::kNone;
}

}  // namespace norvo::metadata
