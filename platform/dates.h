// SPDX-License-Identifier: GPL-3.0-or-later
// Dates are seconds since 1 January 1904, local time, in 32 bits unsigned.
// The calendar arithmetic here (proleptic Gregorian, no time zones) is the
// one every layer uses to turn those seconds into days, months and years and
// back.
#pragma once

#include <cstdint>
#include <ctime>

namespace norvo {

inline constexpr std::int64_t kSecondsPerDay = 86400;
inline constexpr std::int64_t kSecondsFrom1904To1970 = 2082844800;
inline constexpr std::int64_t kDaysFrom1904To1970 = kSecondsFrom1904To1970 / kSecondsPerDay;

std::uint32_t CurrentDateTime();
std::uint32_t DateTimeFromUnix(std::time_t t);
std::time_t UnixFromDateTime(std::uint32_t date_time);

// A day of the proleptic Gregorian calendar.
struct CivilDate {
  std::int64_t year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
};

// A 1904-based date-time taken apart.
struct CivilDateTime {
  CivilDate date;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 0;  // 0 Sunday
  int yearday = 1;  // 1..366
};

// Days since 1 January 1970 of a date (negative before it). Months and days
// out of range are not checked: 31 February is 3 March.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day);
// The date `days` days after 1 January 1970.
CivilDate CivilFromDays(std::int64_t days);

// Seconds since 1904 of a local date and time, unclamped: callers decide what
// to do with values outside the 32-bit range.
std::int64_t SecondsSince1904(const CivilDate& date, int hour = 0, int minute = 0, int second = 0);
CivilDateTime CivilFromDateTime(std::uint32_t date_time);

}  // namespace norvo
