// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/stored_values.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "metadata/list_keys.h"
#include "platform/byte_io.h"

namespace norvo::metadata {

namespace {

constexpr std::size_t kVersionSize = 4;

// The magnitude of one part of a rational value: signed parts lose their
// sign, unsigned parts keep their bits.
std::uint32_t UnsignedPart(const TagValue& v, std::int32_t part) {
  if (v.type != kTiffSignedRational || part >= 0) return static_cast<std::uint32_t>(part);
  return 0u - static_cast<std::uint32_t>(part);
}

// An unsigned rational (read into int32 bits) halved until both parts are
// positive int32 values; the denominator never becomes 0 by it.
void FitSigned(std::int32_t* n, std::int32_t* d) {
  auto un = static_cast<std::uint32_t>(*n);
  auto ud = static_cast<std::uint32_t>(*d);
  constexpr auto kMax = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
  while (un > kMax || ud > kMax) {
    un = un / 2 + un % 2;
    ud = ud / 2 + ud % 2;
  }
  *n = static_cast<std::int32_t>(un);
  *d = static_cast<std::int32_t>(ud);
}

std::int32_t ClampToInt32(double v) {
  if (!(v > std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
  if (!(v < std::numeric_limits<std::int32_t>::max())) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::lround(v));
}

std::size_t ValueCount(const TagValue& v) {
  std::size_t size = TiffTypeSize(v.type);
  return size == 0 ? 0 : v.bytes.size() / size;
}

}  // namespace

void PutShort(MetadataList& list, std::uint32_t key, std::uint16_t v) {
  ByteWriter w;
  w.u16be(v);
  list.replace(key, w.buffer());
}

void PutRational(MetadataList& list, std::uint32_t key, std::int32_t numerator, std::int32_t denominator) {
  ByteWriter w;
  w.u32be(static_cast<std::uint32_t>(numerator));
  w.u32be(static_cast<std::uint32_t>(denominator));
  list.replace(key, w.buffer());
}

void PutText(MetadataList& list, std::uint32_t key, std::string_view text) {
  list.replace(key, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void ExposureTimeFromApex(double tv, std::int32_t* numerator, std::int32_t* denominator) {
  // Exposure time = 2^-Tv seconds: 1/2^Tv for fast speeds, tenths of a
  // second for exposures longer than one second.
  tv = std::clamp(tv, -20.0, 30.0);
  if (tv >= 0) {
    *numerator = 1;
    *denominator = ClampToInt32(std::pow(2.0, tv));
  } else {
    *numerator = ClampToInt32(std::pow(2.0, -tv) * 10.0);
    *denominator = 10;
  }
}

void FNumberFromApex(double av, std::int32_t* numerator, std::int32_t* denominator) {
  // f-number = 2^(Av/2), kept in tenths.
  av = std::clamp(av, -10.0, 60.0);
  *numerator = ClampToInt32(std::pow(2.0, av / 2.0) * 10.0);
  *denominator = 10;
}

bool NormaliseValue(MetadataList& list, std::uint32_t key, const TagValue& v) {
  const bool gps = (key & 0xFFFF0000u) == kGpsKeyBase;
  const std::uint16_t tag = static_cast<std::uint16_t>(key & 0xFFFF);
  std::int32_t n = 0;
  std::int32_t d = 0;
  if (gps) {
    switch (tag) {
      case kGpsLatitudeRef:
      case kGpsLongitudeRef:
        if (v.type != kTiffAscii || TextUpToNul(v.bytes).empty()) return false;
        PutText(list, key, TextUpToNul(v.bytes));
        return true;
      case kGpsLatitude:
      case kGpsLongitude: {
        // Degrees, minutes and seconds, stored unsigned: the reference
        // letter gives the hemisphere. Some phones write them as signed
        // rationals; their magnitudes are kept.
        if (!IsRationalType(v.type) || v.bytes.size() < kGpsRationals * 8) return false;
        ByteWriter w;
        for (std::size_t i = 0; i < kGpsRationals; ++i) {
          RationalPartsAt(v, i, &n, &d);
          w.u32be(UnsignedPart(v, n));
          w.u32be(UnsignedPart(v, d));
        }
        list.replace(key, w.buffer());
        return true;
      }
      case kGpsAltitude: {
        // Stored signed (the EXIF reader makes it negative when the altitude
        // reference says below sea level), so an unsigned value is first
        // brought within the signed range.
        if (!RationalPartsAt(v, 0, &n, &d)) return false;
        if (v.type == kTiffRational) FitSigned(&n, &d);
        PutRational(list, key, n, d);
        return true;
      }
      default:
        return false;
    }
  }
  if ((key & 0xFFFF0000u) != kExifKeyBase) return false;
  switch (tag) {
    case kTagShutterSpeedValue: {
      double tv = 0;
      if (!RationalValueAt(v, 0, &tv)) return false;
      ExposureTimeFromApex(tv, &n, &d);
      PutRational(list, ExifKey(kTagExposureTime), n, d);
      return true;
    }
    case kTagApertureValue: {
      double av = 0;
      if (!RationalValueAt(v, 0, &av)) return false;
      FNumberFromApex(av, &n, &d);
      PutRational(list, ExifKey(kTagFNumber), n, d);
      return true;
    }
    case kTagExposureIndex: {
      double index = 0;
      if (!RationalValueAt(v, 0, &index) || index <= 0) return false;
      PutShort(list, ExifKey(kTagIso), static_cast<std::uint16_t>(std::min(index + 0.5, 65535.0)));
      return true;
    }
    case kTagIso: {
      // The last non-zero value of the array.
      std::int64_t iso = 0;
      for (std::size_t i = 0; i < ValueCount(v); ++i) {
        std::int64_t x = GetNumber(v.bytes, v.type, i, v.order);
        if (x != 0) iso = x;
      }
      if (iso == 0) return false;
      PutShort(list, key, static_cast<std::uint16_t>(iso));
      return true;
    }
    case kTagExposureTime: case kTagFNumber: case kTagCompressedBitsPerPixel: case kTagExposureBiasValue:
    case kTagSubjectDistance: case kTagFocalLength:
      if (!RationalPartsAt(v, 0, &n, &d)) return false;
      PutRational(list, key, n, d);
      return true;
    case kTagDigitalZoomRatio:
      if (!RationalPartsAt(v, 0, &n, &d) || n == 0 || d == 0 || n == d) return false;
      PutRational(list, key, n, d);
      return true;
    case kTagExposureProgram: case kTagLightSource: case kTagFlash:
      if (ValueCount(v) == 0) return false;
      PutShort(list, key, static_cast<std::uint16_t>(GetNumber(v.bytes, v.type, 0, v.order)));
      return true;
    case kTagMeteringMode: case kTagSensingMethod: case kTagContrast: case kTagSaturation: case kTagSharpness:
    case kTagNoiseReduction:
      if (ValueCount(v) == 0) return false;
      PutShort(list, key, static_cast<std::uint16_t>(GetNumber(v.bytes, v.type, 0, v.order) & 0xFF));
      return true;
    case kTagExifVersion: case kTagFlashPixVersion:
      if (v.bytes.size() < kVersionSize) return false;
      list.replace(key, v.bytes.first(kVersionSize));
      return true;
    case kTagDateTimeOriginal: case kTagLens:
      if (v.type != kTiffAscii) return false;
      PutText(list, key, TextUpToNul(v.bytes));
      return true;
    default:
      return false;
  }
}

bool GetShort(const MetadataList& list, std::uint32_t key, std::uint16_t* out) {
  const auto* bytes = list.find(key, 1);
  if (bytes == nullptr || bytes->size() < 2) return false;
  *out = ByteReader(*bytes).u16be();
  return true;
}

bool GetRational(const MetadataList& list, std::uint32_t key, int index, std::int32_t* numerator,
                 std::int32_t* denominator) {
  const auto* bytes = list.find(key, 1);
  if (bytes == nullptr || index < 0) return false;
  ByteReader r(*bytes);
  r.seek(static_cast<std::size_t>(index) * 8);
  *numerator = r.i32be();
  *denominator = r.i32be();
  return r.ok();
}

std::string GetPlainText(const MetadataList& list, std::uint32_t key) {
  const auto* bytes = list.find(key, 1);
  return bytes == nullptr ? std::string() : std::string(bytes->begin(), bytes->end());
}

}  // namespace norvo::metadata
