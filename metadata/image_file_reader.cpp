// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/image_file_reader.h"

#include <array>
#include <cstdint>

#include "metadata/byte_source.h"
#include "metadata/exif_reader.h"
#include "metadata/image_containers.h"
#include "metadata/photoshop_file.h"
#include "metadata/tiff_tags.h"
#include "platform/file.h"

namespace norvo::metadata {

ErrorCode ReadImageMetadata(const FileSpec& spec, bool want_thumbnail, ImageMetadata* out) {
  File file;
  ErrorCode e = file.open(spec, Permission::kRead);
  if (e != err::kNone) return e;
  FileSource source(file);
  std::array<std::uint8_t, 4> head{};
  if (source.readAt(0, head) != err::kNone) return err::kNoReaderForFormat;
  if (head[0] == 0xFF && head[1] == 0xD8) return ReadJpegMetadata(source, want_thumbnail, out);
  if (IsTiffHeader(head)) return ReadTiffMetadata(source, want_thumbnail, out);
  std::array<std::uint8_t, 6> psd{};
  if (source.readAt(0, psd) == err::kNone && IsPhotoshopHeader(psd)) return ReadPhotoshopMetadata(source, out);
  std::array<std::uint8_t, kContainerSniffSize> container{};
  if (source.readAt(0, container) != err::kNone) return err::kNoReaderForFormat;
  if (IsPngHeader(container)) return ReadPngMetadata(source, want_thumbnail, out);
  if (IsWebpHeader(container)) return ReadWebpMetadata(source, want_thumbnail, out);
  if (IsHeifHeader(container)) return ReadHeifMetadata(source, want_thumbnail, out);
  return err::kNoReaderForFormat;
}

}  // namespace norvo::metadata
