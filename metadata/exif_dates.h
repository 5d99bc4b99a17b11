// SPDX-License-Identifier: GPL-3.0-or-later
// EXIF date texts as catalog dates.
#pragma once

#include <cstdint>
#include <string_view>

namespace norvo::metadata {

// "YYYY:MM:DD HH:MM:SS" to seconds since 1904 (the date as written, local
// time); 0 when the text is not such a date.
std::uint32_t CaptureDateFromExif(std::string_view text);

}  // namespace norvo::metadata
