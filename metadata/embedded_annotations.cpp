// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/embedded_annotations.h"

#include "metadata/jpeg_annotation_writer.h"
#include "metadata/photoshop_file.h"
#include "metadata/tiff_annotation_writer.h"
#include "metadata/tiff_tags.h"
#include "platform/file_replace.h"

namespace norvo::metadata {

ErrorCode EmbedAnnotations(std::span<const std::uint8_t> file, const EmbeddedAnnotations& annotations,
                           std::vector<std::uint8_t>* out, std::string* failure) {
  if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) {
    return EmbedAnnotationsInJpeg(file, annotations, out, failure);
  }
  if (IsTiffHeader(file)) return EmbedAnnotationsInTiff(file, annotations, out, failure);
  if (IsPhotoshopHeader(file)) return EmbedAnnotationsInPhotoshop(file, annotations, out, failure);
  return err::kNoReaderForFormat;
}

ErrorCode WriteAnnotationsIntoFile(const std::string& path, const EmbeddedAnnotations& annotations,
                                   std::string* failure) {
  std::vector<std::uint8_t> original;
  if (ErrorCode e = ReadWholeFile(path, &original); e != err::kNone) return e;
  std::vector<std::uint8_t> updated;
  if (ErrorCode e = EmbedAnnotations(original, annotations, &updated, failure); e != err::kNone) return e;
  return ReplaceFileSafely(path, updated);
}

}  // namespace norvo::metadata
