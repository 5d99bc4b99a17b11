// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/gps_text.h"

#include <cmath>
#include <cstdio>

#include "metadata/list_keys.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_tags.h"

namespace norvo::metadata {

namespace {

// The Windows-1252 degree sign (the stored Mac Roman byte 0xA1 converts to it).
constexpr char kDegreeSign = '\xB0';

double Ratio(std::int64_t n, std::int64_t d) { return static_cast<double>(n) / static_cast<double>(d); }

std::string CoordinateText(const MetadataList& list, std::uint16_t ref_tag, std::uint16_t value_tag) {
  std::string ref = GetPlainText(list, GpsKey(ref_tag));
  std::int32_t n[kGpsRationals]{};
  std::int32_t d[kGpsRationals]{};
  if (ref.empty()) return {};
  for (std::size_t i = 0; i < kGpsRationals; ++i) {
    if (!GetRational(list, GpsKey(value_tag), static_cast<int>(i), &n[i], &d[i])) return {};
  }
  if (d[0] == 0 || d[1] == 0) return {};
  auto un = [&](std::size_t i) { return static_cast<std::uint32_t>(n[i]); };
  auto ud = [&](std::size_t i) { return static_cast<std::uint32_t>(d[i]); };
  // Phones often write fractional degrees or minutes (33.8708/1, 0/1, 0/1
  // or 52.25/1 with seconds 0/1): a fraction is carried into the next unit
  // down, so no part of the position is lost from the text.
  std::uint32_t degrees = un(0) / ud(0);
  const double minutes_total = Ratio(un(0) % ud(0), ud(0)) * 60.0 + Ratio(un(1), ud(1));
  auto minutes = static_cast<std::uint64_t>(minutes_total);
  const double minutes_fraction = minutes_total - static_cast<double>(minutes);
  double seconds = minutes_fraction * 60.0;
  if (d[2] != 0) {
    seconds += Ratio(un(2), ud(2));
  } else if (minutes_fraction == 0) {
    return {};  // no seconds and no fraction to take them from
  }
  // Rounded first, so that 9.999 reads "10.00" rather than "010.00", and
  // 59.999 carries into the minutes.
  seconds = std::round(seconds * 100.0) / 100.0;
  constexpr std::uint64_t kMinutesPerDegree = 60;
  if (seconds >= 60.0 && minutes_fraction != 0) {
    seconds -= 60.0;
    if (++minutes == kMinutesPerDegree) {
      minutes = 0;
      ++degrees;
    }
  }
  char text[96];
  std::snprintf(text, sizeof text, "%c %03u%c %02llu' %s%.2f\"", ref[0], degrees, kDegreeSign,
                static_cast<unsigned long long>(minutes), seconds < 10 ? "0" : "", seconds);
  std::string out(text);
  if (out.size() > kMaxGpsTextLength) out.resize(kMaxGpsTextLength);
  return out;
}

}  // namespace

std::string GpsLatitudeText(const MetadataList& list) { return CoordinateText(list, kGpsLatitudeRef, kGpsLatitude); }

std::string GpsLongitudeText(const MetadataList& list) {
  return CoordinateText(list, kGpsLongitudeRef, kGpsLongitude);
}

std::string GpsAltitudeText(const MetadataList& list, std::string_view unit) {
  std::int32_t n = 0;
  std::int32_t d = 0;
  if (!GetRational(list, GpsKey(kGpsAltitude), 0, &n, &d) || d == 0) return {};
  // The stored value is signed: negative below sea level.
  double metres = std::round(Ratio(n, d) * 100.0) / 100.0;
  if (metres == 0) metres = 0;  // no "-0.00"
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", metres);
  std::string out = std::string(text) + " " + std::string(unit);
  if (out.size() > kMaxGpsTextLength) out.resize(kMaxGpsTextLength);
  return out;
}

}  // namespace norvo::metadata
