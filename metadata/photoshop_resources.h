// SPDX-License-Identifier: GPL-3.0-or-later
// Photoshop image-resource blocks (a JPEG APP13 segment, a TIFF tag 34377, a
// Photoshop file's resource section): a run of resources, each
//   "8BIM", 16-bit id, name (length byte + text, padded to an even total),
//   32-bit data length, data padded to an even length.
// A JPEG APP13 block starts with "Photoshop 3.0" and a 0x00 byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::metadata {

inline constexpr std::uint16_t kResourceIptc = 0x0404;
inline constexpr std::uint16_t kResourceIptcDigest = 0x0425;  // MD5 of the IPTC records
inline constexpr std::uint16_t kResourceXmp = 0x0424;
// The texts are named arrays so that every use points at one object: clang
// can otherwise give a view's begin() and end() different copies of the
// same literal.
inline constexpr char kPhotoshopSignatureText[] = "Photoshop 3.0";  // 14 bytes with the NUL
inline constexpr std::string_view kPhotoshopSignature{kPhotoshopSignatureText, sizeof kPhotoshopSignatureText};
inline constexpr char kResourceSignatureText[] = "8BIM";
inline constexpr std::string_view kResourceSignature{kResourceSignatureText, 4};

struct PhotoshopResource {
  std::uint16_t id = 0;
  std::string name;
  std::span<const std::uint8_t> data;
  std::size_t offset = 0;  // of its "8BIM" within the block
  std::size_t size = 0;    // its whole extent, padding included
};

// The resources of a block, with or without the "Photoshop 3.0" header. The
// walk stops at the first entry that is not "8BIM" or that runs past the end;
// *complete (when given) says whether it reached the end cleanly.
std::vector<PhotoshopResource> ReadPhotoshopResources(std::span<const std::uint8_t> block,
                                                      bool* complete = nullptr);
// The data of the first resource with `id`, or nothing.
std::optional<std::span<const std::uint8_t>> FindPhotoshopResource(std::span<const std::uint8_t> block,
                                                                   std::uint16_t id);

// One resource as stored: the IPTC resource gets the empty name, the XMP
// resource the name "XMP", others the empty name.
std::vector<std::uint8_t> EncodePhotoshopResource(std::uint16_t id, std::span<const std::uint8_t> data);

// Inserts or replaces resource `id`: an empty block becomes the "Photoshop
// 3.0" header and the resource; otherwise the first resource with that id is
// cut out and the new one takes its place, or it is appended. A block that
// cannot be walked to its end is err::kParam and stays as it was; data longer than a
// 32-bit length is err::kParam too.
ErrorCode PutPhotoshopResource(std::vector<std::uint8_t>& block, std::uint16_t id,
                               std::span<const std::uint8_t> data);

// Removes every resource with `id`; false when there was none or the block
// cannot be walked to its end (then it stays as it was).
bool RemovePhotoshopResource(std::vector<std::uint8_t>& block, std::uint16_t id);

}  // namespace norvo::metadata
