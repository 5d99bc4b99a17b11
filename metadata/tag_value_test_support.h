// SPDX-License-Identifier: GPL-3.0-or-later
// For tests: a tag value as the IFD walk hands it to the routing rules.
#pragma once

#include <cstdint>
#include <vector>

#include "metadata/tiff_tags.h"

namespace norvo::metadata::testing {

inline TagValue MakeTagValue(std::uint16_t tag, std::uint16_t type, const std::vector<std::uint8_t>& bytes,
                             std::uint16_t ifd, ByteOrder order) {
  TagValue v;
  v.tag = tag;
  v.type = type;
  v.count = static_cast<std::uint32_t>(bytes.size() / TiffTypeSize(type));
  v.ifd = ifd;
  v.order = order;
  v.bytes = bytes;
  return v;
}

}  // namespace norvo::metadata::testing
