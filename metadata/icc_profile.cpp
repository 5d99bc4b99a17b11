// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/icc_profile.h"

#include "metadata/tiff_tags.h"
#include "platform/byte_io.h"

namespace norvo::metadata {

std::string IccProfileDescription(std::span<const std::uint8_t> profile) {
  constexpr std::size_t kTagTableAt = 128;
  constexpr std::uint32_t kMaxIccTags = 1000;
  ByteReader r(profile);
  r.seek(kTagTableAt);
  std::uint32_t count = r.u32be();
  if (!r.ok() || count > kMaxIccTags) return {};
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t signature = r.u32be();
    std::uint32_t offset = r.u32be();
    std::uint32_t size = r.u32be();
    if (!r.ok()) return {};
    if (signature != FourCC("desc")) continue;
    if (offset > profile.size() || size > profile.size() - offset) return {};
    ByteReader t(profile.subspan(offset, size));
    std::uint32_t type = t.u32be();
    t.u32be();  // reserved
    if (type == FourCC("desc")) {
      std::uint32_t length = t.u32be();
      auto text = t.bytes(length);
      return t.ok() ? std::string(TextUpToNul(text)) : std::string();
    }
    if (type == FourCC("mluc")) {
      std::uint32_t records = t.u32be();
      t.u32be();  // record size
      if (records == 0) return {};
      t.u32be();  // language and country of the first record
      std::uint32_t length = t.u32be();
      std::uint32_t at = t.u32be();
      if (!t.ok() || at > size || length > size - at) return {};
      return TextFromUcs2(profile.subspan(offset + at, length), Endian::kBig);
    }
    return {};
  }
  return {};
}

std::string ColourProfileName(ProfileChoice choice, std::span<const std::uint8_t> embedded) {
  switch (choice) {
    case ProfileChoice::kEmbedded: return IccProfileDescription(embedded);
    case ProfileChoice::kSrgb: return "sRGB IEC61966-2.1";
    case ProfileChoice::kAdobeRgb: return "Adobe RGB (1998)";
    case ProfileChoice::kNone: break;
  }
  return {};
}

}  // namespace norvo::metadata
