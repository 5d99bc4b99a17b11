// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/photoshop_file.h"

#include <algorithm>
#include <array>

#include "metadata/exif_reader.h"
#include "metadata/photoshop_resources.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

constexpr std::size_t kHeaderSize = 26;
// A resource section larger than this is not read (real ones are kilobytes
// to a few megabytes, thumbnails included).
constexpr std::uint32_t kMaxResourceSection = 256u << 20;

struct Sections {
  std::int64_t resources_at = 0;  // of the section's 4-byte length
  std::uint32_t resources_size = 0;
};

ErrorCode FindSections(const ByteSource& source, Sections* out) {
  std::array<std::uint8_t, kHeaderSize + 4> head{};
  if (source.readAt(0, head) != err::kNone || !IsPhotoshopHeader(head)) return err::kParam;
  std::uint32_t mode_data = ByteReader(std::span(head).subspan(kHeaderSize)).u32be();
  std::int64_t at = static_cast<std::int64_t>(kHeaderSize) + 4 + mode_data;
  std::array<std::uint8_t, 4> length{};
  if (source.readAt(at, length) != err::kNone) return err::kParam;
  std::uint32_t size = ByteReader(length).u32be();
  if (size > source.size() - at - 4) return err::kParam;
  out->resources_at = at;
  out->resources_size = size;
  return err::kNone;
}

}  // namespace

bool IsPhotoshopHeader(std::span<const std::uint8_t> bytes) {
  ByteReader r(bytes);
  std::uint32_t signature = r.u32be();
  std::uint16_t version = r.u16be();
  return r.ok() && signature == FourCC("8BPS") && (version == 1 || version == 2);
}

ErrorCode ReadPhotoshopMetadata(const ByteSource& source, ImageMetadata* out) {
  Sections sections;
  if (ErrorCode e = FindSections(source, &sections); e != err::kNone) return e;
  if (sections.resources_size > kMaxResourceSection) return err::kParam;
  std::vector<std::uint8_t> resources(sections.resources_size);
  if (ErrorCode e = source.readAt(sections.resources_at + 4, resources); e != err::kNone) return e;
  for (const PhotoshopResource& r : ReadPhotoshopResources(resources)) {
    if (r.id == kResourceIccProfile && out->icc_profile.empty()) {
      out->icc_profile.assign(r.data.begin(), r.data.end());
      out->profile = ProfileChoice::kEmbedded;
    } else if (r.id == kResourceExif) {
      // The EXIF resource is a TIFF stream; its damage does not spoil the rest.
      (void)ReadTiffMetadata(MemorySource(r.data), false, out);
    }
  }
  out->image_resources = std::move(resources);
  return err::kNone;
}

ErrorCode EmbedAnnotationsInPhotoshop(std::span<const std::uint8_t> psd, const EmbeddedAnnotations& annotations,
                                      std::vector<std::uint8_t>* out, std::string* failure) {
  Sections sections;
  if (ErrorCode e = FindSections(MemorySource(psd), &sections); e != err::kNone) return e;
  auto begin = psd.begin() + sections.resources_at + 4;
  std::vector<std::uint8_t> resources(begin, begin + sections.resources_size);
  bool had_header = resources.empty();

  std::span<const std::uint8_t> old_xmp;
  if (auto found = FindPhotoshopResource(resources, kResourceXmp)) old_xmp = *found;
  std::vector<std::uint8_t> packet;
  if (ErrorCode e = UpdatedXmpPacket(old_xmp, annotations.block, &packet, failure); e != err::kNone) return e;
  std::vector<std::uint8_t> iim;
  if (auto old_iim = FindPhotoshopResource(resources, kResourceIptc)) {
    iim = EmbeddedIimRecords(annotations, *old_iim);
  } else {
    iim = EmbeddedIimRecords(annotations);
  }
  if (ErrorCode e = PutPhotoshopResource(resources, kResourceIptc, iim); e != err::kNone) {
    return e;
  }
  if (ErrorCode e = PutPhotoshopResource(resources, kResourceXmp, packet); e != err::kNone) return e;
  RemovePhotoshopResource(resources, kResourceIptcDigest);
  // An empty section was given the JPEG segment's "Photoshop 3.0" header;
  // a Photoshop file's section is the bare resources.
  if (had_header && std::equal(kPhotoshopSignature.begin(), kPhotoshopSignature.end(), resources.begin(),
                               [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
    resources.erase(resources.begin(), resources.begin() + static_cast<std::ptrdiff_t>(kPhotoshopSignature.size()));
  }
  if (resources.size() > kMaxResourceSection) return err::kParam;

  ByteWriter w(psd.size() + resources.size());
  w.bytes(psd.first(static_cast<std::size_t>(sections.resources_at)));
  w.u32be(static_cast<std::uint32_t>(resources.size()));
  w.bytes(resources);
  w.bytes(psd.subspan(static_cast<std::size_t>(sections.resources_at) + 4 + sections.resources_size));
  *out = w.take();
  return err::kNone;
}

}  // namespace norvo::metadata
