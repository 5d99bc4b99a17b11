// SPDX-License-Identifier: GPL-3.0-or-later
// WebP's metadata chunks. A WebP file is a RIFF container: "RIFF", the
// little-endian size of what follows, "WEBP", then chunks of a four-letter
// type, a little-endian size and the data, padded to an even length. The
// extended format keeps the colour profile in ICCP, the EXIF (a TIFF
// structure) in EXIF and the XMP packet in "XMP ".
#include "metadata/image_containers.h"

#include <algorithm>
#include <array>

#include "metadata/exif_reader.h"
#include "metadata/list_keys.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

constexpr std::size_t kRiffHeaderSize = 12;  // "RIFF", size, "WEBP"
constexpr std::size_t kChunkHeaderSize = 8;  // type and size

bool StartsWith(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view text) {
  return bytes.size() >= at + text.size() && std::equal(text.begin(), text.end(), bytes.begin() + at);
}

}  // namespace

bool IsWebpHeader(std::span<const std::uint8_t> bytes) {
  return StartsWith(bytes, 0, "RIFF") && StartsWith(bytes, 8, "WEBP");
}

ErrorCode ReadWebpMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out) {
  std::array<std::uint8_t, kRiffHeaderSize> header{};
  if (source.readAt(0, header) != err::kNone || !IsWebpHeader(header)) return err::kBadJpeg;
  ByteReader h(header);
  h.seek(4);
  // The chunks end where the RIFF size says, or at the end of the file when
  // that comes first.
  const std::int64_t riff_end = std::int64_t{8} + h.u32le();
  const std::int64_t end = std::min<std::int64_t>(source.size(), riff_end);
  std::vector<std::uint8_t> icc_profile;
  std::int64_t at = kRiffHeaderSize;
  std::vector<std::uint8_t> data;
  ErrorCode result = err::kNone;
  while (at + static_cast<std::int64_t>(kChunkHeaderSize) <= end) {
    std::array<std::uint8_t, kChunkHeaderSize> chunk{};
    if (source.readAt(at, chunk) != err::kNone) {
      result = err::kEndOfFile;
      break;
    }
    ByteReader r(chunk);
    const std::uint32_t type = r.u32be();
    const std::uint32_t size = r.u32le();
    const std::int64_t data_at = at + static_cast<std::int64_t>(kChunkHeaderSize);
    if (size > end - data_at) {
      result = err::kEndOfFile;
      break;
    }
    const bool wanted = type == FourCC("EXIF") || type == FourCC("XMP ") || type == FourCC("ICCP");
    if (wanted && size <= kMaxContainerBlockBytes) {
      data.resize(size);
      if (source.readAt(data_at, data) != err::kNone) {
        result = err::kEndOfFile;
        break;
      }
      if (type == FourCC("EXIF")) {
        // A damaged block keeps what it gave; the rest of the file is read.
        (void)ReadExifBlock(data, want_thumbnail, out);
      } else if (type == FourCC("XMP ")) {
        out->list.add(kKeyXmp, data);
      } else if (icc_profile.empty()) {
        icc_profile = data;
      }
    }
    at = data_at + size + (size & 1);
  }
  // A file shorter than its RIFF size, or a chunk header cut off, was cut.
  if (result == err::kNone && (riff_end > source.size() || at < end)) result = err::kEndOfFile;
  // The container's profile wins over the EXIF colour space, whichever
  // chunk came first.
  if (!icc_profile.empty()) {
    out->profile = ProfileChoice::kEmbedded;
    out->icc_profile = std::move(icc_profile);
  }
  return result;
}

}  // namespace norvo::metadata
