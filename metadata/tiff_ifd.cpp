// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/tiff_ifd.h"

#include <algorithm>

namespace norvo::metadata {

ErrorCode ReadTiffHeader(const ByteSource& source, std::int64_t base, IfdWalk* walk, std::uint32_t* first_ifd) {
  std::array<std::uint8_t, kTiffHeaderSize> header{};
  ErrorCode e = source.readAt(base, header);
  if (e != err::kNone) return e;
  Endian order;
  if (header[0] == 'I' && header[1] == 'I') {
    order = Endian::kLittle;
  } else if (header[0] == 'M' && header[1] == 'M') {
    order = Endian::kBig;
  } else {
    return err::kParam;
  }
  if (GetU16(header, 2, order) != 42) return err::kParam;
  walk->order = order;
  walk->base = base;
  *first_ifd = GetU32(header, 4, order);
  return err::kNone;
}

ErrorCode WalkTiff(const ByteSource& source, std::int64_t base, IfdWalk& walk, TagStore& store) {
  std::uint32_t first = 0;
  ErrorCode e = ReadTiffHeader(source, base, &walk, &first);
  if (e != err::kNone) return e;
  WalkIfdChain(source, walk, first, kMainIfd, store);
  return err::kNone;
}

namespace {

// Records an IFD position; false when it was walked before or the file's
// budget of IFDs is spent.
bool Visit(IfdWalk& walk, std::int64_t position) {
  auto end = walk.visited.begin() + walk.visited_count;
  if (std::find(walk.visited.begin(), end, position) != end) return false;
  if (walk.visited_count >= kMaxIfdsPerFile) return false;
  walk.visited[static_cast<std::size_t>(walk.visited_count++)] = position;
  return true;
}

// Reads a value of `size` bytes: from the entry itself when it fits in four
// bytes, else from its offset. False when it is too large or not there.
bool ReadValue(const ByteSource& source, IfdWalk& walk, std::span<const std::uint8_t> entry, std::uint64_t size,
               std::vector<std::uint8_t>* out) {
  if (size <= 4) {
    out->assign(entry.begin() + 8, entry.begin() + 8 + static_cast<std::ptrdiff_t>(size));
    return true;
  }
  if (size > kMaxTagValueBytes || size > kMaxValueBytesPerFile - walk.value_bytes_read) return false;
  walk.value_bytes_read += size;
  std::int64_t at = walk.base + GetU32(entry, 8, walk.order);
  if (at < 0 || at > source.size() || static_cast<std::uint64_t>(source.size() - at) < size) return false;
  out->resize(static_cast<std::size_t>(size));
  return source.readAt(at, *out) == err::kNone;
}

void WalkMakerNote(const ByteSource& source, IfdWalk& walk, std::span<const std::uint8_t> entry, std::uint64_t size,
                   TagStore& store) {
  if (walk.camera == 0) return;  // an unknown maker's note is skipped
  std::uint32_t note_offset = GetU32(entry, 8, walk.order);
  MakerNotePlace place = store.placeMakerNote(source, walk, note_offset);
  if (place.keep_raw) {
    std::vector<std::uint8_t> bytes;
    if (ReadValue(source, walk, entry, size, &bytes)) store.keepBare(kTagMakerNote, bytes);
    return;
  }
  if (!place.walk) return;
  Endian saved_order = walk.order;
  std::int64_t saved_base = walk.base;
  walk.order = place.order;
  walk.base = place.base;
  WalkIfdChain(source, walk, place.offset, kTagMakerNote, store);
  walk.order = saved_order;
  walk.base = saved_base;
}

void RouteEntry(const ByteSource& source, IfdWalk& walk, std::span<const std::uint8_t> entry, std::uint32_t ifd_offset,
                std::uint16_t ifd, bool first, TagStore& store) {
  std::uint16_t tag = GetU16(entry, 0, walk.order);
  std::uint16_t type = GetU16(entry, 2, walk.order);
  std::uint32_t count = GetU32(entry, 4, walk.order);
  std::uint64_t size = std::uint64_t{count} * TiffTypeSize(type);
  std::vector<std::uint8_t> value;
  switch (tag) {
    case kTagExifIfd:
    case kTagGpsIfd: {
      std::uint32_t sub = GetU32(entry, 8, walk.order);
      if (sub != ifd_offset) WalkIfdChain(source, walk, sub, tag, store);
      return;
    }
    case kTagOrientation:
      // Only the image's own directory says how to turn it: the second IFD
      // describes the embedded thumbnail, and some cameras give that a turn
      // of its own (a Panasonic writes 1 in IFD0 and 8 in IFD1).
      if (ifd == kMainIfd && first && ReadValue(source, walk, entry, size, &value)) {
        std::int64_t v = GetNumber(value, type, 0, walk.order);
        walk.orientation = (v >= 1 && v <= 8) ? static_cast<std::uint16_t>(v) : 0;
      }
      return;
    // Dropped in every directory: tag 0 (GPSVersionID; no other directory
    // has a tag 0), the subfile type and the colorimetry tags.
    case kGpsVersionId: case kTagNewSubfileType: case kTagWhitePoint: case kTagPrimaryChromaticities:
    case kTagYCbCrCoefficients:
      return;
    case kTagMakerNote:
      WalkMakerNote(source, walk, entry, size, store);
      return;
    case kTagIccProfile:
      if (first && walk.profile == ProfileChoice::kNone && size > 0 && ReadValue(source, walk, entry, size, &value)) {
        walk.icc_profile = std::move(value);
        walk.profile = ProfileChoice::kEmbedded;
      }
      return;
    case kTagColorSpace:
      if (first && walk.profile == ProfileChoice::kNone && ReadValue(source, walk, entry, size, &value) &&
          GetNumber(value, type, 0, walk.order) == 1) {
        walk.profile = ProfileChoice::kSrgb;
      }
      return;
    case kTagInteropIfd:
      if (walk.profile == ProfileChoice::kNone) {
        // The first interoperability entry's four-byte value: "R98" names
        // sRGB, "R03" Adobe RGB.
        std::array<std::uint8_t, 3> index{};
        std::int64_t at = walk.base + GetU32(entry, 8, walk.order) + 10;
        if (source.readAt(at, index) == err::kNone) {
          if (index == std::array<std::uint8_t, 3>{'R', '9', '8'}) walk.profile = ProfileChoice::kSrgb;
          if (index == std::array<std::uint8_t, 3>{'R', '0', '3'}) walk.profile = ProfileChoice::kAdobeRgb;
        }
      }
      return;
    case kTagOlympusCameraSettings:
      if (ReadValue(source, walk, entry, size, &value)) store.keepBare(tag, value);
      return;
    default:
      break;
  }
  if (!ReadValue(source, walk, entry, size, &value)) return;
  TagValue tv{tag, type, count, ifd, first, walk.order, value};
  store.store(walk, tv);
}

}  // namespace

void WalkIfdChain(const ByteSource& source, IfdWalk& walk, std::uint32_t offset, std::uint16_t ifd, TagStore& store) {
  bool first = true;
  while (offset != 0 && !walk.stopped) {
    std::int64_t position = walk.base + offset;
    if (!Visit(walk, position)) return;
    std::array<std::uint8_t, 2> count_bytes{};
    if (source.readAt(position, count_bytes) != err::kNone) return;
    std::uint16_t count = GetU16(count_bytes, 0, walk.order);
    if (count > kMaxIfdEntries) return;
    std::vector<std::uint8_t> entries(std::size_t{count} * kIfdEntrySize + 4);
    bool have_next = source.readAt(position + 2, entries) == err::kNone;
    if (!have_next) {
      // The next-IFD offset may be cut off at the end of the source.
      entries.resize(std::size_t{count} * kIfdEntrySize);
      if (source.readAt(position + 2, entries) != err::kNone) return;
    }
    for (std::size_t i = 0; i < count; ++i) {
      auto entry = std::span<const std::uint8_t>(entries).subspan(i * kIfdEntrySize, kIfdEntrySize);
      std::uint16_t type = GetU16(entry, 2, walk.order);
      if (type == 0 || type > kMaxTiffType) {
        walk.stopped = true;
        return;
      }
      RouteEntry(source, walk, entry, offset, ifd, first, store);
      if (walk.stopped) return;
    }
    if (!have_next) return;
    offset = GetU32(entries, std::size_t{count} * kIfdEntrySize, walk.order);
    first = false;
  }
}

}  // namespace norvo::metadata
