// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dates.h"

namespace norvo {
namespace {

// The Gregorian calendar repeats every 400 years, 146097 days; counting from
// 1 March 0000 puts the leap day at the end of each year.
constexpr std::int64_t kDaysPerEra = 146097;
constexpr std::int64_t kDaysFromMarch0000To1970 = 719468;

}  // namespace

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

std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * kDaysPerEra + doe - kDaysFromMarch0000To1970;
}

CivilDate CivilFromDays(std::int64_t days) {
  const std::int64_t z = days + kDaysFromMarch0000To1970;
  const std::int64_t era = (z >= 0 ? z : z - (kDaysPerEra - 1)) / kDaysPerEra;
  const std::int64_t doe = z - era * kDaysPerEra;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  CivilDate d;
  d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d.year = yoe + era * 400 + (d.month <= 2 ? 1 : 0);
  return d;
}

std::int64_t SecondsSince1904(const CivilDate& date, int hour, int minute, int second) {
  const std::int64_t days = DaysFromCivil(date.year, date.month, date.day) + kDaysFrom1904To1970;
  return days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

CivilDateTime CivilFromDateTime(std::uint32_t date_time) {
  const std::int64_t days = date_time / kSecondsPerDay;
  const std::int64_t seconds = date_time % kSecondsPerDay;
  CivilDateTime t;
  t.date = CivilFromDays(days - kDaysFrom1904To1970);
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  t.weekday = static_cast<int>((days + 5) % 7);  // 1 January 1904 was a Friday
  t.yearday = static_cast<int>(days - (DaysFromCivil(t.date.year, 1, 1) + kDaysFrom1904To1970)) + 1;
  return t;
}

}  // namespace norvo
