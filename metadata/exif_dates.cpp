// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/exif_dates.h"

#include <cstdint>

#include "platform/dates.h"

namespace norvo::metadata {

std::uint32_t CaptureDateFromExif(std::string_view text) {
  // "YYYY:MM:DD HH:MM:SS"; '-' is accepted between the date parts too.
  constexpr std::size_t kDateLength = 19;
  if (text.size() < kDateLength) return 0;
  auto number = [&](std::size_t at, std::size_t width, int* out) {
    int v = 0;
    for (std::size_t i = at; i < at + width; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    *out = v;
    return true;
  };
  int y = 0, mo = 0, da = 0, h = 0, mi = 0, s = 0;
  if (!number(0, 4, &y) || !number(5, 2, &mo) || !number(8, 2, &da) || !number(11, 2, &h) || !number(14, 2, &mi) ||
      !number(17, 2, &s)) {
    return 0;
  }
  if (y < 1904 || mo < 1 || mo > 12 || da < 1 || da > 31 || h > 23 || mi > 59 || s > 60) return 0;
  const std::int64_t days = DaysFromCivil(y, mo, da) - DaysFromCivil(1904, 1, 1);
  std::int64_t seconds = days * 86400 + h * 3600 + mi * 60 + s;
  if (seconds > 0xFFFFFFFFll) return 0;
  return static_cast<std::uint32_t>(seconds);
}

}  // namespace norvo::metadata
