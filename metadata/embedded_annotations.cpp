// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/embedded_annotations.h"

#include <algorithm>
#include <string_view>

#include "metadata/jpeg_annotation_writer.h"
#include "metadata/photoshop_file.h"
#include "metadata/tiff_annotation_writer.h"
#include "metadata/tiff_ifd.h"
#include "metadata/xmp_mapping.h"
#include "platform/file_replace.h"
#include "xmp/xmp_packet.h"

namespace norvo::metadata {
namespace {

constexpr std::string_view kPacketTrailer = "<?xpacket end";
constexpr std::size_t kXmpGrowth = 4096;
constexpr std::uint32_t kNewPacketPadding = 2048;

ErrorCode RewriteXmp(std::span<const std::uint8_t> old_packet, std::span<const std::uint8_t> block,
                     std::vector<std::uint8_t>* out) {
  out->assign(old_packet.begin(), old_packet.end());
  ErrorCode e = WriteAnnotationsIntoXmp(*out, block);
  if (e != err::kXmpPacketTooSmall) return e;
  // Widen the padding (spaces before the trailer) and try once more.
  std::string_view text(reinterpret_cast<const char*>(old_packet.data()), old_packet.size());
  std::size_t trailer = text.rfind(kPacketTrailer);
  std::size_t at = trailer == std::string_view::npos ? old_packet.size() : trailer;
  std::size_t growth = std::max(kXmpGrowth, block.size() * 2);
  out->assign(old_packet.begin(), old_packet.end());
  out->insert(out->begin() + static_cast<std::ptrdiff_t>(at), growth, std::uint8_t{' '});
  return WriteAnnotationsIntoXmp(*out, block);
}

}  // namespace

std::vector<std::uint8_t> EmbeddedIimRecords(const EmbeddedAnnotations& annotations) {
  std::vector<std::uint8_t> iim =
      BuildIptcRecords(annotations.block, annotations.label, annotations.iptc_fields, annotations.max_length);
  if (iim.empty()) iim = {kIimTagMarker, kApplicationRecord, 0, 0, 2, 0, kRecordVersion};
  return iim;
}

ErrorCode UpdatedXmpPacket(std::span<const std::uint8_t> old_packet, std::span<const std::uint8_t> block,
                           std::vector<std::uint8_t>* out) {
  if (!old_packet.empty()) return RewriteXmp(old_packet, block, out);
  xmp::SerializeOptions options;
  options.padding = kNewPacketPadding;
  auto empty = xmp::XmpPacket().serialize(options);
  if (!empty.ok() || !empty.has_value()) return err::kXmpUnreadable;
  const std::string& text = *empty.value;
  std::vector<std::uint8_t> fresh(text.begin(), text.end());
  return RewriteXmp(fresh, block, out);
}

ErrorCode EmbedAnnotations(std::span<const std::uint8_t> file, const EmbeddedAnnotations& annotations,
                           std::vector<std::uint8_t>* out) {
  if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) return EmbedAnnotationsInJpeg(file, annotations, out);
  if (IsTiffHeader(file)) return EmbedAnnotationsInTiff(file, annotations, out);
  if (IsPhotoshopHeader(file)) return EmbedAnnotationsInPhotoshop(file, annotations, out);
  return err::kNoReaderForFormat;
}

ErrorCode WriteAnnotationsIntoFile(const std::string& path, const EmbeddedAnnotations& annotations) {
  std::vector<std::uint8_t> original;
  if (ErrorCode e = ReadWholeFile(path, &original); e != err::kNone) return e;
  std::vector<std::uint8_t> updated;
  if (ErrorCode e = EmbedAnnotations(original, annotations, &updated); e != err::kNone) return e;
  return ReplaceFileSafely(path, updated);
}

}  // namespace norvo::metadata
