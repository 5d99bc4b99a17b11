// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/photoshop_resources.h"

#include <algorithm>
#include <limits>

#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

std::size_t HeaderLength(std::span<const std::uint8_t> block) {
  return StartsWith(block, kPhotoshopSignature) ? kPhotoshopSignature.size() : 0;
}

std::size_t EvenUp(std::size_t n) { return n + (n & 1); }

}  // namespace

std::vector<PhotoshopResource> ReadPhotoshopResources(std::span<const std::uint8_t> block, bool* complete) {
  std::vector<PhotoshopResource> resources;
  ByteReader r(block);
  r.seek(HeaderLength(block));
  bool clean = true;
  while (!r.atEnd()) {
    PhotoshopResource res;
    res.offset = r.position();
    if (!StartsWith(block.subspan(res.offset), kResourceSignature)) {
      clean = false;
      break;
    }
    r.skip(kResourceSignature.size());
    res.id = r.u16be();
    std::uint8_t name_length = r.u8();
    std::span<const std::uint8_t> name = r.bytes(name_length);
    res.name.assign(name.begin(), name.end());
    if ((name_length & 1) == 0) r.skip(1);  // length byte + text padded to even
    std::uint32_t data_length = r.u32be();
    res.data = r.bytes(data_length);
    if ((data_length & 1) != 0 && !r.atEnd()) r.skip(1);
    if (!r.ok()) {
      clean = false;
      break;
    }
    res.size = r.position() - res.offset;
    resources.push_back(std::move(res));
  }
  if (complete != nullptr) *complete = clean;
  return resources;
}

std::optional<std::span<const std::uint8_t>> FindPhotoshopResource(std::span<const std::uint8_t> block,
                                                                   std::uint16_t id) {
  for (const PhotoshopResource& res : ReadPhotoshopResources(block)) {
    if (res.id == id) return res.data;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> EncodePhotoshopResource(std::uint16_t id, std::span<const std::uint8_t> data) {
  std::string_view name = id == kResourceXmp ? std::string_view("XMP") : std::string_view();
  ByteWriter w(12 + name.size() + data.size());
  w.tag("8BIM");
  w.u16be(id);
  w.u8(static_cast<std::uint8_t>(name.size()));
  for (char c : name) w.u8(static_cast<std::uint8_t>(c));
  if ((name.size() & 1) == 0) w.u8(0);
  // The stored length is the data length rounded up to even, as written by
  // the programs whose blocks we read back.
  w.u32be(static_cast<std::uint32_t>(EvenUp(data.size())));
  w.bytes(data);
  if ((data.size() & 1) != 0) w.u8(0);
  return w.take();
}

ErrorCode PutPhotoshopResource(std::vector<std::uint8_t>& block, std::uint16_t id,
                               std::span<const std::uint8_t> data) {
  if (data.size() >= std::numeric_limits<std::uint32_t>::max()) return err::kParam;
  std::vector<std::uint8_t> resource = EncodePhotoshopResource(id, data);
  if (block.empty()) {
    block.assign(kPhotoshopSignature.begin(), kPhotoshopSignature.end());
    block.insert(block.end(), resource.begin(), resource.end());
    return err::kNone;
  }
  bool complete = false;
  std::vector<PhotoshopResource> resources = ReadPhotoshopResources(block, &complete);
  if (!complete) return err::kParam;
  auto found = std::ranges::find(resources, id, &PhotoshopResource::id);
  if (found == resources.end()) {
    block.insert(block.end(), resource.begin(), resource.end());
    return err::kNone;
  }
  auto at = block.begin() + static_cast<std::ptrdiff_t>(found->offset);
  std::size_t offset = found->offset;
  block.erase(at, at + static_cast<std::ptrdiff_t>(found->size));
  block.insert(block.begin() + static_cast<std::ptrdiff_t>(offset), resource.begin(), resource.end());
  return err::kNone;
}

bool RemovePhotoshopResource(std::vector<std::uint8_t>& block, std::uint16_t id) {
  bool complete = false;
  std::vector<PhotoshopResource> resources = ReadPhotoshopResources(block, &complete);
  if (!complete) return false;
  bool removed = false;
  // From the back, so the offsets of the ones still to go stay valid.
  for (auto it = resources.rbegin(); it != resources.rend(); ++it) {
    if (it->id != id) continue;
    auto at = block.begin() + static_cast<std::ptrdiff_t>(it->offset);
    block.erase(at, at + static_cast<std::ptrdiff_t>(it->size));
    removed = true;
  }
  return removed;
}

}  // namespace norvo::metadata
