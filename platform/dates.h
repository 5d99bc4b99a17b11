// SPDX-License-Identifier: GPL-3.0-or-later
// Dates are seconds since 1 January 1904, local time, in 32 bits unsigned.
#pragma once

#include <cstdint>
#include <ctime>

namespace norvo {

inline constexpr std::int64_t kSecondsFrom1904To1970 = 2082844800;

std::uint32_t CurrentDateTime();
std::uint32_t DateTimeFromUnix(std::time_t t);
std::time_t UnixFromDateTime(std::uint32_t date_time);

}  // namespace norvo
