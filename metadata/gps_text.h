// SPDX-License-Identifier: GPL-3.0-or-later
// The GPS position as the photo fields show it, from the values the EXIF
// reader kept: a latitude such as N 043° 28' 02.81" (the degree sign as the
// Windows-1252 byte 0xB0) and an altitude such as 123.45 m.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "metadata/metadata_list.h"

namespace norvo::metadata {

inline constexpr std::size_t kMaxGpsTextLength = 4096;

// "" when the values are missing or unusable.
std::string GpsLatitudeText(const MetadataList& list);
std::string GpsLongitudeText(const MetadataList& list);
// Negative below sea level.
std::string GpsAltitudeText(const MetadataList& list, std::string_view unit = "m");

}  // namespace norvo::metadata
