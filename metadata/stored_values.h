// SPDX-License-Identifier: GPL-3.0-or-later
// How the values of the photo fields are kept in a metadata list: EXIF, GPS
// and maker-note values normalised to one fixed big-endian form per key
// (16-bit numbers, rationals, texts), so that the fields read them the same
// way whatever the file's byte order, type or camera. Writing and reading
// those forms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "metadata/metadata_list.h"
#include "metadata/tiff_tags.h"

namespace norvo::metadata {

// Keeps `value` under `key` (ExifKey(tag), or GpsKey(tag) for the GPS IFD)
// in the fixed stored form when the key is one of the photo fields,
// replacing an earlier value of that key. ShutterSpeedValue, ApertureValue
// and ExposureIndex are kept as the exposure time, f-number and ISO they
// give. Returns whether it kept it.
bool NormaliseValue(MetadataList& list, std::uint32_t key, const TagValue& value);

// Stored forms of the normalised values (big-endian).
void PutShort(MetadataList& list, std::uint32_t key, std::uint16_t v);
void PutRational(MetadataList& list, std::uint32_t key, std::int32_t numerator, std::int32_t denominator);
void PutText(MetadataList& list, std::uint32_t key, std::string_view text);

// APEX conversions to the stored rationals.
void ExposureTimeFromApex(double shutter_speed_value, std::int32_t* numerator, std::int32_t* denominator);
void FNumberFromApex(double aperture_value, std::int32_t* numerator, std::int32_t* denominator);

// Reads kept values back: a stored 16-bit value, the index-th rational, a
// text.
bool GetShort(const MetadataList& list, std::uint32_t key, std::uint16_t* out);
bool GetRational(const MetadataList& list, std::uint32_t key, int index, std::int32_t* numerator,
                 std::int32_t* denominator);
std::string GetPlainText(const MetadataList& list, std::uint32_t key);

}  // namespace norvo::metadata
