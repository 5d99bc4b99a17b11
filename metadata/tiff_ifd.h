// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF/EXIF image-file-directory walk: the TIFF header, the 12-byte
// entries, the routing of sub-IFDs (EXIF, GPS, maker notes), the orientation
// and colour-profile tags, and the limits that keep a hostile file from
// looping or growing the walk (16 IFDs per file, 200 entries per IFD, entry
// types 1 to 12). Tags that are not routed here go to a TagStore, which also
// says where a maker note's directory lies: the walk knows no camera makers.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "metadata/byte_source.h"
#include "metadata/icc_profile.h"
#include "metadata/tiff_tags.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

inline constexpr int kMaxIfdsPerFile = 16;
inline constexpr std::uint16_t kMaxIfdEntries = 200;
// One tag value larger than this is skipped rather than read.
inline constexpr std::uint64_t kMaxTagValueBytes = 16u << 20;
// All values read from one file together: entries may share one large value,
// so without this 3200 entries could copy the same megabytes 3200 times.
inline constexpr std::uint64_t kMaxValueBytesPerFile = 64u << 20;

// The walk context, one per file (a JPEG's EXIF segments share one).
struct IfdWalk {
  Endian order = Endian::kLittle;
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

// Where a maker note's directory lies and how to read it.
struct MakerNotePlace {
  bool walk = false;     // false: the note is not walked
  bool keep_raw = false; // true: the whole note is kept under its bare tag
  std::int64_t base = 0; // offsets inside the note are relative to this
  Endian order = Endian::kLittle;
  std::uint32_t offset = 0;  // the note's first IFD, relative to base
};

class TagStore {
 public:
  virtual ~TagStore() = default;
  virtual void store(IfdWalk& walk, const TagValue& value) = 0;
  // A value kept under its bare tag number without any other treatment.
  virtual void keepBare(std::uint16_t tag, std::span<const std::uint8_t> bytes) = 0;
  // Where the maker note whose value lies at `note_offset` (relative to
  // walk.base) has its directory. Asked only once the Make tag has given
  // walk.camera.
  virtual MakerNotePlace placeMakerNote(const ByteSource& source, const IfdWalk& walk,
                                        std::uint32_t note_offset) = 0;
};

// Reads the 8-byte TIFF header at `base` ("II*\0" or "MM\0*") into walk's
// order and base, and returns the first IFD offset. Not a TIFF header is
// err::kParam.
ErrorCode ReadTiffHeader(const ByteSource& source, std::int64_t base, IfdWalk* walk, std::uint32_t* first_ifd);

// Reads the header at `base` and walks the main IFD chain.
ErrorCode WalkTiff(const ByteSource& source, std::int64_t base, IfdWalk& walk, TagStore& store);

// Walks the chain of IFDs starting at `offset` (relative to walk.base); `ifd`
// names the directory for routing (kMainIfd or the tag that led here).
void WalkIfdChain(const ByteSource& source, IfdWalk& walk, std::uint32_t offset, std::uint16_t ifd, TagStore& store);

}  // namespace norvo::metadata
