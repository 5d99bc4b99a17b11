// SPDX-License-Identifier: GPL-3.0-or-later
// For tests: a tag value as the IFD walk hands it to the routing rules, and
// the bytes of big-endian rationals.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/byte_io.h"

#include "metadata/tiff_tags.h"

namespace norvo::metadata::testing {

inline TagValue MakeTagValue(std::uint16_t tag, std::uint16_t type, const std::vector<std::uint8_t>& bytes,
                             std::uint16_t ifd, Endian order) {
  TagValue v;
  v.tag = tag;
  v.type = type;
  v.count = static_cast<std::uint32_t>(bytes.size() / TiffTypeSize(type));
  v.ifd = ifd;
  v.order = order;
  v.bytes = bytes;
  return v;
}

// Numerator and denominator pairs as RATIONAL values in Motorola order.
inline std::vector<std::uint8_t> Rationals(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values) {
  ByteWriter w;
  for (auto [n, d] : values) {
    w.u32be(n);
    w.u32be(d);
  }
  return w.take();
}

}  // namespace norvo::metadata::testing
