// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/true_names.h"

#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::catalog {
namespace {

constexpr std::uint8_t kTrueNamesVersion = 1;
constexpr std::size_t kMaxUtf8Bytes = 0xFFFF;

// The length of the longest prefix of `text` that is at most `limit` bytes
// and does not end inside a UTF-8 sequence.
std::size_t Utf8Prefix(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

std::vector<std::uint8_t> EncodeTrueNames(const std::vector<TrueName>& names) {
  ByteWriter w(64 * names.size() + 1);
  w.u8(kTrueNamesVersion);
  for (const TrueName& n : names) {
    const std::size_t length = Utf8Prefix(n.utf8, kMaxUtf8Bytes);
    w.u8(static_cast<std::uint8_t>(n.kind));
    w.u32be(n.key);
    w.u16be(static_cast<std::uint16_t>(length));
    w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(n.utf8.data()), length));
  }
  return w.take();
}

bool DecodeTrueNames(std::span<const std::uint8_t> bytes, std::vector<TrueName>& out) {
  out.clear();
  ByteReader r(bytes);
  if (r.u8() != kTrueNamesVersion || !r.ok()) return false;
  while (r.remaining() > 0) {
    TrueName n;
    const std::uint8_t kind = r.u8();
    n.key = r.u32be();
    auto utf8 = r.bytes(r.u16be());
    if (!r.ok()) return false;
    if (kind < static_cast<std::uint8_t>(TrueNameKind::kFileName) ||
        kind > static_cast<std::uint8_t>(TrueNameKind::kGroupName)) {
      continue;  // a kind from a later version: skipped
    }
    n.kind = static_cast<TrueNameKind>(kind);
    n.utf8.assign(reinterpret_cast<const char*>(utf8.data()), utf8.size());
    out.push_back(std::move(n));
  }
  return true;
}

std::string RenderEightBit(std::string_view utf8, std::size_t width, bool* exact) {
  bool lossless = true;
  std::string rendering = Utf8ToWindows1252(utf8, &lossless);
  if (rendering.size() > width) {
    rendering.resize(width);
    lossless = false;
  }
  if (exact) *exact = lossless;
  return rendering;
}

std::string NameFromField(std::string_view rendering, const std::string& true_utf8) {
  if (!true_utf8.empty()) {
    bool exact = false;
    if (RenderEightBit(true_utf8, rendering.size(), &exact) == rendering) return true_utf8;
  }
  return Windows1252ToUtf8(rendering);
}

}  // namespace norvo::catalog
