// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/flashpix_audio.h"

#include <algorithm>
#include <optional>
#include <string>

#include "platform/ascii.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

constexpr std::uint8_t kContentsList = 1;
constexpr std::uint8_t kStreamData = 2;
constexpr std::uint32_t kStorage = 0xFFFFFFFF;
constexpr std::size_t kClassIdSize = 16;
constexpr std::size_t kMaxNameUnits = 256;
constexpr std::string_view kAudioStreamName = "audio stream";

// A UTF-16 name up to its 0 character, as lower-case ASCII (other characters
// become '?'). The byte order is the one that gives a first character below
// 0x100: writers differ.
std::optional<std::string> ReadName(ByteReader& r) {
  std::vector<std::uint16_t> units;
  for (std::size_t i = 0; i <= kMaxNameUnits; ++i) {
    std::uint8_t a = r.u8();
    std::uint8_t b = r.u8();
    if (!r.ok()) return std::nullopt;
    if (a == 0 && b == 0) break;
    units.push_back(static_cast<std::uint16_t>((a << 8) | b));
    if (i == kMaxNameUnits) return std::nullopt;
  }
  const bool swapped = !units.empty() && (units.front() & 0xFF00) != 0 && (units.front() & 0x00FF) == 0;
  std::string name;
  for (std::uint16_t u : units) {
    if (swapped) u = static_cast<std::uint16_t>((u >> 8) | (u << 8));
    char c = u < 0x80 ? static_cast<char>(u) : '?';
    name += AsciiLower(c);
  }
  return name;
}

bool IsAudioStream(std::string_view name) {
  std::size_t slash = name.find_last_of("/\\");
  std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
  // Some writers put a control character before stream names.
  while (!last.empty() && static_cast<unsigned char>(last.front()) < 0x20) last.remove_prefix(1);
  return last == kAudioStreamName;
}

}  // namespace

std::vector<std::uint8_t> FlashPixAudioStream(std::span<const std::span<const std::uint8_t>> segments) {
  std::optional<std::uint16_t> audio_index;
  std::uint32_t audio_size = 0;
  std::vector<std::uint8_t> audio;
  std::vector<bool> filled;
  for (std::span<const std::uint8_t> segment : segments) {
    ByteReader r(segment);
    if (r.u32be() != FourCC("FPXR") || r.u8() != 0) continue;
    r.u8();  // version
    const std::uint8_t type = r.u8();
    if (!r.ok()) continue;
    if (type == kContentsList && !audio_index) {
      const std::uint16_t count = r.u16be();
      for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
        const std::uint32_t size = r.u32be();
        r.u8();  // default value
        std::optional<std::string> name = ReadName(r);
        if (!name) break;
        if (size == kStorage) {
          r.skip(kClassIdSize);
        } else if (IsAudioStream(*name) && size > 0 && size <= kMaxFlashPixAudio) {
          audio_index = i;
          audio_size = size;
          audio.assign(size, 0);
          filled.assign(size, false);
          break;
        }
      }
    } else if (type == kStreamData && audio_index) {
      const std::uint16_t index = r.u16be();
      const std::uint32_t offset = r.u32be();
      if (!r.ok() || index != *audio_index || offset >= audio_size) continue;
      std::span<const std::uint8_t> data = segment.subspan(r.position());
      const std::size_t n = std::min<std::size_t>(data.size(), audio_size - offset);
      std::copy_n(data.begin(), n, audio.begin() + offset);
      std::fill_n(filled.begin() + offset, n, true);
    }
  }
  // A stream with missing pieces is not a sound anyone could play.
  if (!audio_index || std::find(filled.begin(), filled.end(), false) != filled.end()) return {};
  return audio;
}

}  // namespace norvo::metadata
