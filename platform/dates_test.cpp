// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dates.h"

#include <gtest/gtest.h>

namespace norvo {
namespace {

TEST(Calendar, DateTimesTakenApartAndPutBack) {
  struct Case {
    const char* name;
    std::uint32_t date_time;
    CivilDate date;
    int hour, minute, second, weekday, yearday;
  };
  const Case cases[] = {
      {"the first second", 0, {1904, 1, 1}, 0, 0, 0, 5, 1},
      {"a leap day", 5101261, {1904, 2, 29}, 1, 1, 1, 1, 60},
      {"the last second before 1970", 2082844799, {1969, 12, 31}, 23, 59, 59, 3, 365},
      {"1970 begins", 2082844800, {1970, 1, 1}, 0, 0, 0, 4, 1},
      {"the last day of a leap century year", 3061151999, {2000, 12, 31}, 23, 59, 59, 0, 366},
      {"the last second 32 bits hold", 0xFFFFFFFFu, {2040, 2, 6}, 6, 28, 15, 1, 37},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CivilDateTime t = CivilFromDateTime(c.date_time);
    EXPECT_EQ(t.date.year, c.date.year);
    EXPECT_EQ(t.date.month, c.date.month);
    EXPECT_EQ(t.date.day, c.date.day);
    EXPECT_EQ(t.hour, c.hour);
    EXPECT_EQ(t.minute, c.minute);
    EXPECT_EQ(t.second, c.second);
    EXPECT_EQ(t.weekday, c.weekday);
    EXPECT_EQ(t.yearday, c.yearday);
    EXPECT_EQ(SecondsSince1904(c.date, c.hour, c.minute, c.second), static_cast<std::int64_t>(c.date_time));
  }
}

TEST(Calendar, DaysOutsideTheMonthRollOverAndCenturiesLeapOnlyBy400) {
  struct Case {
    const char* name;
    CivilDate asked;
    CivilDate lands_on;
  };
  const Case cases[] = {
      {"29 February of a common year", {2023, 2, 29}, {2023, 3, 1}},
      {"1900 is not a leap year", {1900, 2, 29}, {1900, 3, 1}},
      {"2000 is a leap year", {2000, 2, 29}, {2000, 2, 29}},
      {"31 April", {2024, 4, 31}, {2024, 5, 1}},
      {"before 1904, before the epoch", {1601, 1, 1}, {1601, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CivilDate d = CivilFromDays(DaysFromCivil(c.asked.year, c.asked.month, c.asked.day));
    EXPECT_EQ(d.year, c.lands_on.year);
    EXPECT_EQ(d.month, c.lands_on.month);
    EXPECT_EQ(d.day, c.lands_on.day);
  }
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1904, 1, 1), -kDaysFrom1904To1970);
}

}  // namespace
}  // namespace norvo
