// SPDX-License-Identifier: GPL-3.0-or-later
// QuickTime movies for the web: written with the movie's index ("moov")
// in front of its media data, so that a browser can start playing before
// the whole file has arrived. The chunk offset tables (stco, co64) are moved
// by the size of the index; every byte of media data is copied unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::output {

// The top-level atoms of a QuickTime or MP4 file, with the index moved to
// the front (after "ftyp"): `head` is what the new file starts with (ftyp
// and the patched moov), followed by the byte ranges of the original file
// in `ranges` (offset, length), in order. A file whose index already comes
// before its media data, or that cannot be rearranged (compressed index,
// offsets that would overflow 32 bits, damaged atoms), is err::kParam: the
// caller copies it as it is.
struct FastStartPlan {
  std::vector<std::uint8_t> head;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
};
// Plans the rearrangement from the file at `path` (reads the atom headers
// and the index only).
ErrorCode PlanFastStartFile(const std::string& path, FastStartPlan* plan);

// Writes the movie at `from` to the new file `to` with its index in front;
// a movie that needs no change, or that cannot be rearranged, is copied as
// it is.
ErrorCode WriteFlattenedMovie(const std::string& from, const std::string& to);

}  // namespace norvo::output
