// SPDX-License-Identifier: GPL-3.0-or-later
// Class masks: which media classes a filter accepts. A mask is four bytes in
// memory and in the catalog; class n is bit n of that byte string counted
// from the most significant bit of the first byte, so class 0 (Image) is 0x80
// of the first byte and class 7 (HTML) is 0x01 of it.
//
// Here a mask is held as the u32 read big-endian from those four bytes, which
// makes bit n of the byte string the value 0x80000000 >> n. Read and write it
// with ByteReader::u32be / ByteWriter::u32be and the stored bytes come out in
// the right order on any machine.
#pragma once

#include <cstdint>

#include "media/media_types.h"

namespace norvo::media {

using ClassMask = std::uint32_t;

// Bit n of a four-byte mask counted from the top bit of the first byte;
// 0 for n outside 0..31.
constexpr std::uint32_t MaskBit(int n) { return n >= 0 && n < 32 ? 0x80000000u >> n : 0; }

constexpr bool IsBitInMask(std::uint32_t mask, int n) { return (mask & MaskBit(n)) != 0; }

constexpr ClassMask ClassMaskBit(MediaClass media_class) { return MaskBit(static_cast<int>(media_class)); }

constexpr bool IsClassInMask(ClassMask mask, MediaClass media_class) {
  return (mask & ClassMaskBit(media_class)) != 0;
}

constexpr ClassMask AddClassToMask(ClassMask mask, MediaClass media_class) {
  return mask | ClassMaskBit(media_class);
}

constexpr ClassMask RemoveClassFromMask(ClassMask mask, MediaClass media_class) {
  return mask & ~ClassMaskBit(media_class);
}

// A zero mask filters nothing: every class is accepted.
constexpr bool ClassMaskAccepts(ClassMask mask, MediaClass media_class) {
  return mask == 0 || IsClassInMask(mask, media_class);
}

}  // namespace norvo::media
