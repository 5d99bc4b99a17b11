// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/jpeg_markers.h"

#include <algorithm>
#include <array>

#include "platform/byte_io.h"

namespace norvo::metadata {

namespace {

constexpr std::size_t kMarkerAndLength = 4;
constexpr std::uint16_t kSegmentLengthSize = 2;

bool StartsWith(std::span<const std::uint8_t> data, std::string_view prefix) {
  return data.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), data.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

enum class App2Kind : std::uint8_t { kUndecided, kIcc, kFlashPix, kNeither };

}  // namespace

ErrorCode ReadJpegSegments(const ByteSource& source, JpegSegments* out) {
  std::array<std::uint8_t, 2> soi{};
  if (source.readAt(0, soi) != err::kNone || soi[0] != 0xFF || soi[1] != 0xD8) return err::kBadJpeg;
  std::int64_t position = 2;
  App2Kind app2 = App2Kind::kUndecided;
  std::vector<std::uint8_t> data;
  ErrorCode result = err::kNone;
  // Every segment is at least four bytes long, so the walk ends within the
  // source's size.
  while (true) {
    std::array<std::uint8_t, 2> head{};
    if (source.readAt(position, head) != err::kNone) {
      result = err::kEndOfFile;
      break;
    }
    std::uint16_t marker = static_cast<std::uint16_t>((head[0] << 8) | head[1]);
    if (head[0] != 0xFF || marker == 0xFF00 || marker == kMarkerStartOfScan || marker == kMarkerEndOfImage) break;
    if (source.readAt(position + 2, head) != err::kNone) {
      result = err::kEndOfFile;
      break;
    }
    std::uint16_t length = static_cast<std::uint16_t>((head[0] << 8) | head[1]);
    if (length < kSegmentLengthSize) {
      result = err::kEndOfFile;
      break;
    }
    std::int64_t data_at = position + kMarkerAndLength;
    std::size_t size = length - kSegmentLengthSize;
    position = data_at + static_cast<std::int64_t>(size);
    bool wanted = marker == kMarkerApp1 || marker == kMarkerApp2 || marker == kMarkerApp13 || marker == kMarkerComment;
    if (!wanted) continue;
    data.resize(size);
    if (source.readAt(data_at, data) != err::kNone) {
      result = err::kEndOfFile;
      break;
    }
    std::span<const std::uint8_t> d(data);
    switch (marker) {
      case kMarkerApp1:
        if (StartsWith(d, "Exif")) {
          if (d.size() > kExifHeaderSize) out->exif.emplace_back(d.begin() + kExifHeaderSize, d.end());
        } else if (StartsWith(d, "http")) {
          // The namespace is compared over at most the segment's size.
          std::size_t n = std::min(d.size(), kXmpNamespace.size());
          if (StartsWith(d, kXmpNamespace.substr(0, n)) && d.size() > kXmpNamespace.size() + 1) {
            out->xmp.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(kXmpNamespace.size() + 1), d.end());
          }
        }
        break;
      case kMarkerApp2:
        if (app2 == App2Kind::kUndecided) {
          app2 = StartsWith(d, "ICC_") ? App2Kind::kIcc : StartsWith(d, "FPXR") ? App2Kind::kFlashPix
                                                                                 : App2Kind::kNeither;
        }
        if (app2 == App2Kind::kIcc) {
          auto payload = StartsWith(d, "ICC_PROFILE") && d.size() >= kIccChunkHeaderSize
                             ? d.subspan(kIccChunkHeaderSize)
                             : d;
          out->icc_profile.insert(out->icc_profile.end(), payload.begin(), payload.end());
        } else if (app2 == App2Kind::kFlashPix) {
          out->flashpix.emplace_back(d.begin(), d.end());
        }
        break;
      case kMarkerApp13:
        out->image_resources.insert(out->image_resources.end(), d.begin(), d.end());
        break;
      case kMarkerComment:
        {
          // A terminating NUL some writers add is not part of the comment.
          std::string text(reinterpret_cast<const char*>(d.data()), d.size());
          while (!text.empty() && text.back() == '\0') text.pop_back();
          out->comments.push_back(std::move(text));
        }
        break;
      default:
        break;
    }
  }
  if (result != err::kNone) {
    out->icc_profile.clear();
    out->flashpix.clear();
    out->image_resources.clear();
  }
  return result;
}

}  // namespace norvo::metadata
