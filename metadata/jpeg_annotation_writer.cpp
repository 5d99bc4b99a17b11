// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/jpeg_annotation_writer.h"

#include <algorithm>
#include <string_view>

#include "metadata/jpeg_markers.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_mapping.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kApp13 = 0xED;
constexpr std::uint8_t kApp15 = 0xEF;
constexpr std::size_t kMaxSegmentData = 0xFFFF - 2;  // the length field counts itself
constexpr std::string_view kXmpSegmentPrefix{kXmpNamespaceText, sizeof kXmpNamespaceText};  // with its NUL

struct Segment {
  std::uint8_t marker = 0;
  std::size_t start = 0;  // of the 0xFF
  std::size_t end = 0;    // past the data
  std::span<const std::uint8_t> data;
};

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// The segments before the image data. *scan receives where the start-of-scan
// marker (or the end of image) begins: everything from there on is copied
// untouched.
bool ListSegments(std::span<const std::uint8_t> jpeg, std::vector<Segment>* segments, std::size_t* scan) {
  ByteReader r(jpeg);
  if (r.u8() != kMarkerPrefix || r.u8() != kStartOfImage) return false;
  while (r.ok()) {
    std::size_t start = r.position();
    if (r.u8() != kMarkerPrefix) return false;
    std::uint8_t marker = r.u8();
    while (marker == kMarkerPrefix && r.ok()) marker = r.u8();  // fill bytes
    if (!r.ok()) return false;
    if (marker == kStartOfScan || marker == kEndOfImage) {
      *scan = start;
      return true;
    }
    std::uint16_t length = r.u16be();
    if (length < 2) return false;
    Segment s;
    s.marker = marker;
    s.start = start;
    s.data = r.bytes(length - 2u);
    s.end = r.position();
    if (!r.ok()) return false;
    segments->push_back(s);
  }
  return false;
}

void AppendSegment(std::vector<std::uint8_t>& out, std::uint8_t marker, std::span<const std::uint8_t> prefix,
                   std::span<const std::uint8_t> data) {
  ByteWriter w(4 + prefix.size() + data.size());
  w.u8(kMarkerPrefix);
  w.u8(marker);
  w.u16be(static_cast<std::uint16_t>(2 + prefix.size() + data.size()));
  w.bytes(prefix);
  w.bytes(data);
  const std::vector<std::uint8_t>& bytes = w.buffer();
  out.insert(out.end(), bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

ErrorCode EmbedAnnotationsInJpeg(std::span<const std::uint8_t> jpeg, const EmbeddedAnnotations& annotations,
                                 std::vector<std::uint8_t>* out, std::string* failure) {
  std::vector<Segment> segments;
  std::size_t scan = 0;
  if (!ListSegments(jpeg, &segments, &scan)) return err::kBadJpeg;

  const Segment* app13 = nullptr;
  const Segment* xmp = nullptr;
  for (const Segment& s : segments) {
    if (app13 == nullptr && s.marker == kApp13 && StartsWith(s.data, kPhotoshopSignature)) app13 = &s;
    if (xmp == nullptr && s.marker == kApp1 && StartsWith(s.data, kXmpSegmentPrefix)) xmp = &s;
  }

  // The IIM records, updated from the file's own; an emptied block still
  // writes the record version, so the file's old IPTC values do not come back.
  std::vector<std::uint8_t> resources;
  if (app13 != nullptr) resources.assign(app13->data.begin(), app13->data.end());
  std::vector<std::uint8_t> iim;
  if (auto old = FindPhotoshopResource(resources, kResourceIptc)) {
    iim = EmbeddedIimRecords(annotations, *old);
  } else {
    iim = EmbeddedIimRecords(annotations);
  }
  if (ErrorCode e = PutPhotoshopResource(resources, kResourceIptc, iim); e != err::kNone) return e;
  // The digest describes the old records; left in place it would tell readers
  // that the records were changed behind the XMP's back.
  RemovePhotoshopResource(resources, kResourceIptcDigest);
  if (resources.size() > kMaxSegmentData) return err::kParam;

  std::vector<std::uint8_t> packet;
  std::span<const std::uint8_t> old_packet;
  if (xmp != nullptr) old_packet = xmp->data.subspan(kXmpSegmentPrefix.size());
  if (ErrorCode e = UpdatedXmpPacket(old_packet, annotations.block, &packet, failure); e != err::kNone) return e;
  if (packet.size() + kXmpSegmentPrefix.size() > kMaxSegmentData) return err::kParam;

  // New segments go after the application segments at the head of the file:
  // the XMP segment first (after any Exif APP1), then the APP13.
  std::size_t insert_at = 2;
  for (const Segment& s : segments) {
    if (s.marker < kApp0 || s.marker > kApp15) break;
    insert_at = s.end;
  }

  std::vector<std::uint8_t> result;
  result.reserve(jpeg.size() + resources.size() + 64);
  result.insert(result.end(), jpeg.begin(), jpeg.begin() + 2);
  std::size_t copied = 2;
  auto copy_to = [&](std::size_t end) {
    result.insert(result.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(copied),
                  jpeg.begin() + static_cast<std::ptrdiff_t>(end));
    copied = end;
  };
  auto append_new = [&] {
    if (xmp == nullptr) AppendSegment(result, kApp1, AsBytes(kXmpSegmentPrefix), packet);
    if (app13 == nullptr) AppendSegment(result, kApp13, {}, resources);
  };
  for (const Segment& s : segments) {
    if (&s == app13) {
      copy_to(s.start);
      AppendSegment(result, kApp13, {}, resources);
      copied = s.end;
    } else if (&s == xmp) {
      copy_to(s.start);
      AppendSegment(result, kApp1, AsBytes(kXmpSegmentPrefix), packet);
      copied = s.end;
    }
    if (s.end == insert_at) {
      copy_to(s.end);
      append_new();
    }
  }
  if (insert_at == 2) append_new();
  copy_to(jpeg.size());
  *out = std::move(result);
  return err::kNone;
}

}  // namespace norvo::metadata
