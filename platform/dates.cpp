// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dates.h"

namespace norvo {

std::uint32_t DateTimeFromUnix(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  std::int64_t seconds = static_cast<std::int64_t>(t) + local.tm_gmtoff + kSecondsFrom1904To1970;
  if (seconds < 0) return 0;
  if (seconds > 0xFFFFFFFFll) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(seconds);
}

std::time_t UnixFromDateTime(std::uint32_t date_time) {
  std::time_t guess = static_cast<std::time_t>(static_cast<std::int64_t>(date_time) - kSecondsFrom1904To1970);
  std::tm local{};
  localtime_r(&guess, &local);
  return guess - local.tm_gmtoff;
}

std::uint32_t CurrentDateTime() { return DateTimeFromUnix(std::time(nullptr)); }

}  // namespace norvo
