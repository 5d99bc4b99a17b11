// SPDX-License-Identifier: GPL-3.0-or-later
// The keys of a metadata list's items. Image readers keep EXIF and GPS
// values under their tag numbers (ExifKey, GpsKey); texts of any format
// (image, movie, sound) go under the 0xA9 text keys; whole packets and the
// movie tables under four-character codes.
#pragma once

#include <cstdint>

#include "platform/byte_io.h"

namespace norvo::metadata {

inline constexpr std::uint32_t kExifKeyBase = 0x65780000;  // "ex" + tag
inline constexpr std::uint32_t kGpsKeyBase = 0x06770000;
constexpr std::uint32_t ExifKey(std::uint16_t tag) { return kExifKeyBase + tag; }
constexpr std::uint32_t GpsKey(std::uint16_t tag) { return kGpsKeyBase + tag; }

// The metadata text keys begin with the byte 0xA9.
constexpr std::uint32_t TextKey(const char (&c)[4]) {
  return (0xA9u << 24) | (std::uint32_t(std::uint8_t(c[0])) << 16) | (std::uint32_t(std::uint8_t(c[1])) << 8) |
         std::uint32_t(std::uint8_t(c[2]));
}
inline constexpr std::uint32_t kKeyName = TextKey("nam");
inline constexpr std::uint32_t kKeyMaker = TextKey("mak");
inline constexpr std::uint32_t kKeyModel = TextKey("mod");
inline constexpr std::uint32_t kKeySoftware = TextKey("swr");
inline constexpr std::uint32_t kKeyArtist = TextKey("ART");
inline constexpr std::uint32_t kKeyCopyright = TextKey("cpy");
inline constexpr std::uint32_t kKeySource = TextKey("src");
inline constexpr std::uint32_t kKeyInfo = TextKey("inf");
inline constexpr std::uint32_t kKeyComment = TextKey("cmt");
inline constexpr std::uint32_t kKeyAuthor = TextKey("aut");
inline constexpr std::uint32_t kKeyKeywords = TextKey("key");
inline constexpr std::uint32_t kKeyProducer = TextKey("PRD");

inline constexpr std::uint32_t kKeyXmp = FourCC("XMP ");
inline constexpr std::uint32_t kKeyIptc = FourCC("iptc");
inline constexpr std::uint32_t kKeyTracks = FourCC("TRCK");
inline constexpr std::uint32_t kKeyChapters = FourCC("CHAP");

}  // namespace norvo::metadata
