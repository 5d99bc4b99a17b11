// SPDX-License-Identifier: GPL-3.0-or-later
// The voice annotation some cameras store in a JPEG's FlashPix extension:
// APP2 segments that begin "FPXR", version 0, then a segment type:
//
//   type 1, contents list      u16 count, then per entity:
//                                u32 size (0xFFFFFFFF: a storage, not a stream)
//                                u8  default value
//                                name: UTF-16 up to a 0 character
//                                16-byte class id (storages only)
//   type 2, stream data        u16 index into the contents list,
//                                u32 offset in the stream, then the bytes
//
// All numbers are big-endian. The stream named "Audio Stream" (its last path
// part) holds the sound, a RIFF WAVE file.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace norvo::metadata {

// The largest audio stream taken; a bigger declared size is not read.
inline constexpr std::uint32_t kMaxFlashPixAudio = 16u << 20;

// The audio stream put together from the FlashPix segments (each segment's
// data from "FPXR" on); empty when there is none or it is damaged.
std::vector<std::uint8_t> FlashPixAudioStream(std::span<const std::span<const std::uint8_t>> segments);

}  // namespace norvo::metadata
