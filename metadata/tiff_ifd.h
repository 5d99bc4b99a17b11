// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF/EXIF image-file-directory walk: the TIFF header, the 12-byte
// entries, the routing of sub-IFDs (EXIF, GPS, maker notes), the orientation
// and colour-profile tags, and the limits that keep a hostile file from
// looping or growing the walk (16 IFDs per file, 200 entries per IFD, entry
// types 1 to 12). Tags that are not routed here go to a TagStore.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/byte_io.h"
#include "platform/error_codes.h"
#include "platform/file.h"

namespace norvo::metadata {

// Random access to the bytes of a file or of a block in memory, so that the
// walk reads only the entries and values it needs.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::int64_t size() const = 0;
  // Exactly out.size() bytes at `offset`, or -39 when they are not all there.
  virtual ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
 public:
  // The file must stay open while the source is used.
  explicit FileSource(const File& file);
  std::int64_t size() const override { return size_; }
  ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const override;

 private:
  static constexpr std::size_t kWindowSize = 64 * 1024;
  const File& file_;
  std::int64_t size_ = 0;
  mutable std::vector<std::uint8_t> window_;
  mutable std::int64_t window_at_ = -1;
};

enum class ByteOrder : std::uint8_t { kIntel = 'I', kMotorola = 'M' };

// Value types of an IFD entry.
inline constexpr std::uint16_t kTiffByte = 1;
inline constexpr std::uint16_t kTiffAscii = 2;
inline constexpr std::uint16_t kTiffShort = 3;
inline constexpr std::uint16_t kTiffLong = 4;
inline constexpr std::uint16_t kTiffRational = 5;
inline constexpr std::uint16_t kTiffUndefined = 7;
inline constexpr std::uint16_t kTiffSignedRational = 10;

inline constexpr int kMaxIfdsPerFile = 16;
inline constexpr std::uint16_t kMaxIfdEntries = 200;
inline constexpr std::uint16_t kMaxTiffType = 12;
inline constexpr std::size_t kIfdEntrySize = 12;
inline constexpr std::size_t kTiffHeaderSize = 8;
// One tag value larger than this is skipped rather than read.
inline constexpr std::uint64_t kMaxTagValueBytes = 16u << 20;
// All values read from one file together: entries may share one large value,
// so without this 3200 entries could copy the same megabytes 3200 times.
inline constexpr std::uint64_t kMaxValueBytesPerFile = 64u << 20;

// Tags that steer the walk.
inline constexpr std::uint16_t kTagOrientation = 0x112;
inline constexpr std::uint16_t kTagExifIfd = 0x8769;
inline constexpr std::uint16_t kTagGpsIfd = 0x8825;
inline constexpr std::uint16_t kTagMakerNote = 0x927c;
inline constexpr std::uint16_t kTagIccProfile = 0x8773;
inline constexpr std::uint16_t kTagColorSpace = 0xa001;
inline constexpr std::uint16_t kTagInteropIfd = 0xa005;
inline constexpr std::uint16_t kTagOlympusCameraSettings = 0x2020;
inline constexpr std::uint16_t kTagMake = 0x10f;
// Which directory a tag came from: the main chain, or the tag that led to it.
inline constexpr std::uint16_t kMainIfd = 0;

// A classic TIFF header ("II" 42 or "MM" 42), either byte order.
bool IsTiffHeader(std::span<const std::uint8_t> bytes);

// Bytes per value of a TIFF type, 0 for a type outside 1 to 12.
std::size_t TiffTypeSize(std::uint16_t type);

std::uint16_t GetU16(std::span<const std::uint8_t> bytes, std::size_t offset, ByteOrder order);
std::uint32_t GetU32(std::span<const std::uint8_t> bytes, std::size_t offset, ByteOrder order);
// The index-th value of a numeric type as a signed number (rationals: the
// numerator); 0 when the value is not there.
std::int64_t GetNumber(std::span<const std::uint8_t> bytes, std::uint16_t type, std::size_t index, ByteOrder order);

enum class ProfileChoice : std::uint8_t { kNone, kEmbedded, kSrgb, kAdobeRgb };

// One tag value as the walk found it.
struct TagValue {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint16_t ifd = kMainIfd;  // kMainIfd, kTagExifIfd, kTagGpsIfd or kTagMakerNote
  bool first_ifd = true;         // false for IFDs reached by next-IFD links
  ByteOrder order = ByteOrder::kIntel;
  std::span<const std::uint8_t> bytes;  // count × type size bytes, in file order
};

// The walk context, one per file (a JPEG's EXIF segments share one).
struct IfdWalk {
  ByteOrder order = ByteOrder::kIntel;
  std::int64_t base = 0;     // position of the TIFF header in the source
  std::uint32_t camera = 0;  // camera code from the Make tag
  int visited_count = 0;
  std::array<std::int64_t, kMaxIfdsPerFile> visited{};  // absolute positions
  bool stopped = false;      // a bad entry type ends the whole walk
  std::uint64_t value_bytes_read = 0;  // counted against kMaxValueBytesPerFile

  std::uint16_t orientation = 0;  // IFD0's Orientation, 1 to 8, else 0
  ProfileChoice profile = ProfileChoice::kNone;
  std::vector<std::uint8_t> icc_profile;
};

class TagStore {
 public:
  virtual ~TagStore() = default;
  virtual void store(IfdWalk& walk, const TagValue& value) = 0;
  // A value kept under its bare tag number without any other treatment.
  virtual void keepBare(std::uint16_t tag, std::span<const std::uint8_t> bytes) = 0;
};

// Reads the 8-byte TIFF header at `base` ("II*\0" or "MM\0*") into walk's
// order and base, and returns the first IFD offset. Not a TIFF header is -50.
ErrorCode ReadTiffHeader(const ByteSource& source, std::int64_t base, IfdWalk* walk, std::uint32_t* first_ifd);

// Reads the header at `base` and walks the main IFD chain.
ErrorCode WalkTiff(const ByteSource& source, std::int64_t base, IfdWalk& walk, TagStore& store);

// Walks the chain of IFDs starting at `offset` (relative to walk.base); `ifd`
// names the directory for routing (kMainIfd or the tag that led here).
void WalkIfdChain(const ByteSource& source, IfdWalk& walk, std::uint32_t offset, std::uint16_t ifd, TagStore& store);

}  // namespace norvo::metadata
