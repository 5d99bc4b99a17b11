// SPDX-License-Identifier: GPL-3.0-or-later
// Unit conversions of the movie facts, shared by the movie reader plug-in and
// the program.
#include <climits>

#include "media/movie_reader.h"

namespace norvo::media {

std::int32_t DurationInTenths(std::int64_t count, std::int64_t num, std::int64_t den) {
  if (count <= 0 || num <= 0 || den <= 0) return 0;
  // Exact while count * num * 10 fits 64 bits; beyond that the answer is far
  // above the 32-bit limit unless den is huge, and long double is near enough.
  if (num <= INT64_MAX / 10 && count <= INT64_MAX / (num * 10)) {
    const std::int64_t tenths = count * num * 10 / den;
    return tenths > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(tenths);
  }
  const long double tenths = static_cast<long double>(count) * num * 10 / den;
  return tenths >= INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(tenths);
}

std::int32_t QualityLevel(std::uint32_t spatial_quality) {
  switch (spatial_quality) {
    case 0: return 1;
    case 0x100: return 2;
    case 0x200: return 3;
    case 0x300: return 4;
    case 0x3FF: return 5;
    case 0x400: return 6;
    default: return 0;
  }
}

}  // namespace norvo::media
