// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/embedded_annotations.h"


#include "metadata/jpeg_annotation_writer.h"
#include "metadata/photoshop_file.h"
#include "metadata/tiff_annotation_writer.h"
#include "metadata/tiff_tags.h"
#include "metadata/xmp_mapping.h"
#include "platform/file_replace.h"
#include "xmp/xmp_packet.h"

namespace norvo::metadata {
namespace {

// Padding of a new packet, and of one rewritten because its own padding was
// too small: room for later edits to be made in place.
constexpr std::uint32_t kNewPacketPadding = 2048;
constexpr std::uint32_t kRegrownPadding = 4096;

ErrorCode RewriteXmp(std::span<const std::uint8_t> old_packet, std::span<const std::uint8_t> block,
                     std::vector<std::uint8_t>* out, std::string* failure) {
  out->assign(old_packet.begin(), old_packet.end());
  ErrorCode e = WriteAnnotationsIntoXmp(*out, block, failure);
  if (e != err::kXmpPacketTooSmall) return e;
  if (failure != nullptr) failure->clear();
  return RewriteXmpWithPadding(old_packet, block, kRegrownPadding, out, failure);
}

}  // namespace

std::vector<std::uint8_t> EmbeddedIimRecords(const EmbeddedAnnotations& annotations,
                                             std::span<const std::uint8_t> old_records) {
  std::vector<std::uint8_t> iim = UpdateIptcRecords(old_records, annotations.block, annotations.label,
                                                    annotations.iptc_fields, annotations.max_length);
  if (iim.empty()) iim = {kIimTagMarker, kApplicationRecord, 0, 0, 2, 0, kRecordVersion};
  return iim;
}

ErrorCode UpdatedXmpPacket(std::span<const std::uint8_t> old_packet, std::span<const std::uint8_t> block,
                           std::vector<std::uint8_t>* out, std::string* failure) {
  if (!old_packet.empty()) return RewriteXmp(old_packet, block, out, failure);
  xmp::SerializeOptions options;
  options.padding = kNewPacketPadding;
  auto empty = xmp::XmpPacket().serialize(options);
  if (!empty.ok() || !empty.has_value()) return err::kXmpUnreadable;
  const std::string& text = *empty.value;
  std::vector<std::uint8_t> fresh(text.begin(), text.end());
  return RewriteXmp(fresh, block, out, failure);
}

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
