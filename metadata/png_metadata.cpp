// SPDX-License-Identifier: GPL-3.0-or-later
// PNG chunks that carry metadata. A chunk is a big-endian length, a
// four-letter type, the data and a CRC; the walk reads the length and type of
// every chunk and the data of the few it keeps, so image data is never read.
// eXIf may come before or after the image data; both are accepted.
#include "metadata/image_containers.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "metadata/exif_reader.h"
#include "metadata/list_keys.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kChunkHeaderSize = 8;  // length and type
constexpr std::size_t kChunkCrcSize = 4;
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFF;  // PNG's own limit
// Keywords of the text chunks that carry metadata.
constexpr std::string_view kXmpKeyword = "XML:com.adobe.xmp";
constexpr std::string_view kRawExifKeyword = "Raw profile type exif";
constexpr std::string_view kRawApp1Keyword = "Raw profile type APP1";
constexpr std::string_view kRawXmpKeyword = "Raw profile type xmp";
constexpr std::size_t kMaxKeywordSize = 80;  // 1 to 79 bytes
// pHYs: x and y pixels per unit, then the unit (1: the metre).
constexpr std::size_t kPhysSize = 9;
constexpr std::uint8_t kPhysPerMetre = 1;
constexpr double kMetresPerInch = 0.0254;
// A profile name is 1 to 79 bytes and its 0 byte.
constexpr std::size_t kMaxProfileNameSize = 80;

std::string_view TextOf(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The part of `bytes` up to the next 0 byte, and the rest after it; false
// when there is no 0 byte.
bool SplitAtNul(std::span<const std::uint8_t>* bytes, std::span<const std::uint8_t>* head) {
  auto nul = std::find(bytes->begin(), bytes->end(), std::uint8_t{0});
  if (nul == bytes->end()) return false;
  auto n = static_cast<std::size_t>(nul - bytes->begin());
  *head = bytes->first(n);
  *bytes = bytes->subspan(n + 1);
  return true;
}

// The profile of an iCCP chunk: a name, a compression method (0, zlib) and
// the compressed profile.
bool IccpProfile(std::span<const std::uint8_t> data, std::vector<std::uint8_t>* profile) {
  std::span<const std::uint8_t> name;
  if (!SplitAtNul(&data, &name) || name.size() >= kMaxProfileNameSize || data.empty() || data[0] != 0) return false;
  return InflateZlib(data.subspan(1), kMaxContainerBlockBytes, profile) && !profile->empty();
}

// Whole pixels per inch of a pHYs chunk given per metre; 0 otherwise.
std::int32_t PhysPixelsPerInch(std::span<const std::uint8_t> data) {
  if (data.size() < kPhysSize || data[8] != kPhysPerMetre) return 0;
  ByteReader r(data);
  const std::uint32_t x = r.u32be();
  const std::uint32_t y = r.u32be();
  const double best = std::max(x, y);
  const double per_inch = std::round(best * kMetresPerInch);
  return per_inch >= 1 && per_inch < 1e6 ? static_cast<std::int32_t>(per_inch) : 0;
}

}  // namespace

bool IsPngHeader(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), bytes.begin());
}

bool InflateZlib(std::span<const std::uint8_t> in, std::size_t limit, std::vector<std::uint8_t>* out) {
  out->clear();
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data());  // zlib does not write through it
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT32_MAX));
  constexpr std::size_t kStep = 64 * 1024;
  int status = Z_OK;
  while (status == Z_OK) {
    if (out->size() >= limit) break;
    std::size_t before = out->size();
    std::size_t step = std::min(kStep, limit - before);
    out->resize(before + step);
    z.next_out = out->data() + before;
    z.avail_out = static_cast<uInt>(step);
    status = inflate(&z, Z_NO_FLUSH);
    out->resize(before + (step - z.avail_out));
    if (status == Z_BUF_ERROR && z.avail_out != 0) break;  // input ran out
    if (status == Z_BUF_ERROR) status = Z_OK;
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) out->clear();
  return status == Z_STREAM_END;
}

bool PngTextChunk(std::uint32_t type, std::span<const std::uint8_t> data, std::string* keyword,
                  std::vector<std::uint8_t>* text) {
  std::span<const std::uint8_t> name;
  if (!SplitAtNul(&data, &name) || name.empty() || name.size() >= kMaxKeywordSize) return false;
  keyword->assign(TextOf(name));
  if (type == FourCC("tEXt")) {
    text->assign(data.begin(), data.end());
    return true;
  }
  if (type == FourCC("zTXt")) {
    // The compression method (0, zlib), then the compressed text.
    return !data.empty() && data[0] == 0 && InflateZlib(data.subspan(1), kMaxContainerBlockBytes, text);
  }
  if (type != FourCC("iTXt") || data.size() < 2) return false;
  // The compression flag and method, the language tag and the translated
  // keyword, each ended by a 0 byte, then the UTF-8 text.
  const bool compressed = data[0] != 0;
  const std::uint8_t method = data[1];
  data = data.subspan(2);
  std::span<const std::uint8_t> language, translated;
  if (!SplitAtNul(&data, &language) || !SplitAtNul(&data, &translated)) return false;
  if (!compressed) {
    text->assign(data.begin(), data.end());
    return true;
  }
  return method == 0 && InflateZlib(data, kMaxContainerBlockBytes, text);
}

bool DecodeRawProfile(std::span<const std::uint8_t> text, std::vector<std::uint8_t>* out) {
  // "\n" name "\n" length in decimal (padded with spaces) "\n", then the
  // bytes as hexadecimal digits in lines.
  out->clear();
  std::string_view t = TextOf(text);
  std::size_t at = t.find_first_not_of('\n');
  at = at == std::string_view::npos ? at : t.find('\n', at);  // past the name
  if (at == std::string_view::npos) return false;
  at = t.find_first_not_of(" \n", at);
  std::size_t length = 0;
  bool digits = false;
  for (; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at) {
    length = length * 10 + static_cast<std::size_t>(t[at] - '0');
    digits = true;
    if (length > kMaxContainerBlockBytes) return false;
  }
  if (!digits || length == 0) return false;
  out->reserve(length);
  int high = -1;
  for (; at < t.size() && out->size() < length; ++at) {
    const char c = t[at];
    int nibble = -1;
    if (c >= '0' && c <= '9') nibble = c - '0';
    else if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
    else if (c == '\n' || c == '\r' || c == ' ') continue;
    else break;
    if (high < 0) {
      high = nibble;
    } else {
      out->push_back(static_cast<std::uint8_t>(high << 4 | nibble));
      high = -1;
    }
  }
  if (out->size() != length) out->clear();
  return !out->empty();
}

ErrorCode ReadPngMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out) {
  std::array<std::uint8_t, kPngSignature.size()> signature{};
  if (source.readAt(0, signature) != err::kNone || !IsPngHeader(signature)) return err::kBadJpeg;
  // The container's own profile and resolution are applied at the end: they
  // win over what the EXIF says, whichever chunk comes first.
  std::vector<std::uint8_t> icc_profile;
  bool srgb = false;
  std::int32_t resolution = 0;
  bool have_exif = false;
  // Profiles kept as hexadecimal text (the older way, before eXIf), used
  // when the file has nothing better.
  std::vector<std::uint8_t> raw_exif;
  std::vector<std::uint8_t> raw_xmp;
  ErrorCode result = err::kEndOfFile;  // until the end chunk is reached
  std::int64_t at = kPngSignature.size();
  std::vector<std::uint8_t> data;
  while (at < source.size()) {
    std::array<std::uint8_t, kChunkHeaderSize> header{};
    if (source.readAt(at, header) != err::kNone) break;
    ByteReader r(header);
    const std::uint32_t length = r.u32be();
    const std::uint32_t type = r.u32be();
    if (length > kMaxChunkLength) {
      result = err::kBadJpeg;
      break;
    }
    const std::int64_t data_at = at + static_cast<std::int64_t>(kChunkHeaderSize);
    if (static_cast<std::uint64_t>(source.size() - data_at) < std::uint64_t{length} + kChunkCrcSize) break;
    if (type == FourCC("IEND")) {
      result = err::kNone;
      break;
    }
    const bool text_chunk = type == FourCC("tEXt") || type == FourCC("zTXt") || type == FourCC("iTXt");
    const bool wanted = type == FourCC("eXIf") || text_chunk || type == FourCC("iCCP") || type == FourCC("pHYs");
    if (type == FourCC("sRGB")) srgb = true;
    if (wanted && length <= kMaxContainerBlockBytes) {
      data.resize(length);
      if (source.readAt(data_at, data) != err::kNone) break;
      std::string keyword;
      std::vector<std::uint8_t> text;
      if (type == FourCC("eXIf")) {
        // A PNG has one; a second copy (some writers repeat it after the
        // image data) would add every text twice.
        // A damaged block keeps what it gave; the rest of the file is read.
        if (!have_exif) (void)ReadExifBlock(data, want_thumbnail, out);
        have_exif = true;
      } else if (text_chunk) {
        // Other texts (comments, titles) are not inflated at all.
        std::string_view name = TextOf(data).substr(0, TextOf(data).find('\0'));
        const bool kept = name == kXmpKeyword || name == kRawExifKeyword || name == kRawApp1Keyword ||
                          name == kRawXmpKeyword;
        if (kept && PngTextChunk(type, data, &keyword, &text)) {
          if (keyword == kXmpKeyword && !text.empty()) out->list.add(kKeyXmp, text);
          if (keyword == kRawExifKeyword || keyword == kRawApp1Keyword) raw_exif = std::move(text);
          if (keyword == kRawXmpKeyword) raw_xmp = std::move(text);
        }
      } else if (type == FourCC("iCCP")) {
        if (icc_profile.empty()) IccpProfile(data, &icc_profile);
      } else {
        resolution = PhysPixelsPerInch(data);
      }
    }
    at = data_at + static_cast<std::int64_t>(length) + static_cast<std::int64_t>(kChunkCrcSize);
  }
  std::vector<std::uint8_t> decoded;
  if (!have_exif && DecodeRawProfile(raw_exif, &decoded)) {
    (void)ReadExifBlock(decoded, want_thumbnail, out);  // as above: what a damaged block gave stays
  }
  if (out->list.count(kKeyXmp) == 0 && DecodeRawProfile(raw_xmp, &decoded)) out->list.add(kKeyXmp, decoded);
  if (!icc_profile.empty()) {
    out->profile = ProfileChoice::kEmbedded;
    out->icc_profile = std::move(icc_profile);
  } else if (srgb) {
    out->profile = ProfileChoice::kSrgb;
    out->icc_profile.clear();
  }
  if (resolution > 0) out->resolution = resolution;
  return result;
}

}  // namespace norvo::metadata
