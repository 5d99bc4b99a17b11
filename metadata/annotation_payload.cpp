// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/annotation_payload.h"

#include "metadata/xmp_mapping.h"
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

}  // namespace norvo::metadata
