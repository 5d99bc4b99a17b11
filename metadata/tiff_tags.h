// SPDX-License-Identifier: GPL-3.0-or-later
// What the IFD walk, the tag store, the maker-note rules and the TIFF writer
// all speak: the byte orders, the header and entry sizes, the field types
// with their names and unit sizes (one table), the tag numbers, one tag
// value as the walk hands it on, and reading numbers and texts out of a
// value in its byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "platform/byte_io.h"

namespace norvo::metadata {

// The byte order is platform/byte_io.h's Endian: "II" kLittle, "MM" kBig.
inline constexpr std::size_t kTiffHeaderSize = 8;  // "II" 42 or "MM" 42, then the first IFD's offset
inline constexpr std::size_t kIfdEntrySize = 12;   // tag, type, count, value or offset

// --- field types --------------------------------------------------------------

// The type of an IFD entry's value. Unscoped, so that a type read from a
// file (a plain 16-bit number) compares with these directly.
enum TiffType : std::uint16_t {
  kTiffByte = 1,
  kTiffAscii = 2,
  kTiffShort = 3,
  kTiffLong = 4,
  kTiffRational = 5,  // two LONGs: numerator, denominator
  kTiffSignedByte = 6,
  kTiffUndefined = 7,
  kTiffSignedShort = 8,
  kTiffSignedLong = 9,
  kTiffSignedRational = 10,  // two SLONGs
  kTiffFloat = 11,
  kTiffDouble = 12,
};

struct TiffTypeInfo {
  TiffType type;
  std::string_view name;
  std::uint8_t size;  // bytes per value
};

// Every type, in number order, so that type n is kTiffTypes[n - 1].
inline constexpr TiffTypeInfo kTiffTypes[] = {
    {kTiffByte, "BYTE", 1},          {kTiffAscii, "ASCII", 1},         {kTiffShort, "SHORT", 2},
    {kTiffLong, "LONG", 4},          {kTiffRational, "RATIONAL", 8},   {kTiffSignedByte, "SBYTE", 1},
    {kTiffUndefined, "UNDEFINED", 1}, {kTiffSignedShort, "SSHORT", 2}, {kTiffSignedLong, "SLONG", 4},
    {kTiffSignedRational, "SRATIONAL", 8}, {kTiffFloat, "FLOAT", 4},   {kTiffDouble, "DOUBLE", 8},
};
inline constexpr std::uint16_t kMaxTiffType = static_cast<std::uint16_t>(std::size(kTiffTypes));

constexpr bool IsRationalType(std::uint16_t type) { return type == kTiffRational || type == kTiffSignedRational; }

// Bytes per value of a type, 0 for a type outside the table.
std::size_t TiffTypeSize(std::uint16_t type);
// The type's name ("SHORT"), "" for a type outside the table.
std::string_view TiffTypeName(std::uint16_t type);

// --- tag numbers -------------------------------------------------------------

// IFD0, the image's own directory (IFD1 describes the EXIF thumbnail).
inline constexpr std::uint16_t kTagNewSubfileType = 0xfe;
inline constexpr std::uint16_t kTagImageDescription = 0x10e;
inline constexpr std::uint16_t kTagMake = 0x10f;
inline constexpr std::uint16_t kTagModel = 0x110;
inline constexpr std::uint16_t kTagOrientation = 0x112;
inline constexpr std::uint16_t kTagXResolution = 0x11a;
inline constexpr std::uint16_t kTagYResolution = 0x11b;
inline constexpr std::uint16_t kTagResolutionUnit = 0x128;
inline constexpr std::uint16_t kTagSoftware = 0x131;
inline constexpr std::uint16_t kTagArtist = 0x13b;
inline constexpr std::uint16_t kTagWhitePoint = 0x13e;
inline constexpr std::uint16_t kTagPrimaryChromaticities = 0x13f;
inline constexpr std::uint16_t kTagThumbnailOffset = 0x201;  // JPEGInterchangeFormat, in IFD1
inline constexpr std::uint16_t kTagThumbnailLength = 0x202;  // JPEGInterchangeFormatLength, in IFD1
inline constexpr std::uint16_t kTagYCbCrCoefficients = 0x211;
inline constexpr std::uint16_t kTagXmp = 0x2bc;  // the XMP packet, type BYTE
inline constexpr std::uint16_t kTagCopyright = 0x8298;
inline constexpr std::uint16_t kTagIptc = 0x83bb;  // IPTC-NAA: the IIM records
inline constexpr std::uint16_t kTagIptcPhotoshop = 0x8568;  // IIM records where Photoshop once wrote them
inline constexpr std::uint16_t kTagIccProfile = 0x8773;
// Windows' UCS-2 texts (always little-endian).
inline constexpr std::uint16_t kTagXpTitle = 0x9c9b;
inline constexpr std::uint16_t kTagXpComment = 0x9c9c;
inline constexpr std::uint16_t kTagXpAuthor = 0x9c9d;
inline constexpr std::uint16_t kTagXpKeywords = 0x9c9e;
inline constexpr std::uint16_t kTagXpSubject = 0x9c9f;

// Tags whose value is the offset of another directory. They also name the
// directory a value came from (TagValue::ifd); kMainIfd names IFD0's chain.
inline constexpr std::uint16_t kMainIfd = 0;
inline constexpr std::uint16_t kTagExifIfd = 0x8769;
inline constexpr std::uint16_t kTagGpsIfd = 0x8825;
inline constexpr std::uint16_t kTagMakerNote = 0x927c;
inline constexpr std::uint16_t kTagInteropIfd = 0xa005;
// Olympus keeps its camera settings in a sub-directory of its maker note.
inline constexpr std::uint16_t kTagOlympusCameraSettings = 0x2020;

// The EXIF directory.
inline constexpr std::uint16_t kTagExposureTime = 0x829a;
inline constexpr std::uint16_t kTagFNumber = 0x829d;
inline constexpr std::uint16_t kTagExposureProgram = 0x8822;
inline constexpr std::uint16_t kTagIso = 0x8827;
inline constexpr std::uint16_t kTagExifVersion = 0x9000;
inline constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
inline constexpr std::uint16_t kTagCompressedBitsPerPixel = 0x9102;
inline constexpr std::uint16_t kTagShutterSpeedValue = 0x9201;
inline constexpr std::uint16_t kTagApertureValue = 0x9202;
inline constexpr std::uint16_t kTagExposureBiasValue = 0x9204;
inline constexpr std::uint16_t kTagSubjectDistance = 0x9206;
inline constexpr std::uint16_t kTagMeteringMode = 0x9207;
inline constexpr std::uint16_t kTagLightSource = 0x9208;
inline constexpr std::uint16_t kTagFlash = 0x9209;
inline constexpr std::uint16_t kTagFocalLength = 0x920a;
inline constexpr std::uint16_t kTagExposureIndex = 0x9215;
inline constexpr std::uint16_t kTagUserComment = 0x9286;
inline constexpr std::uint16_t kTagFlashPixVersion = 0xa000;
inline constexpr std::uint16_t kTagColorSpace = 0xa001;
inline constexpr std::uint16_t kTagPixelXDimension = 0xa002;
inline constexpr std::uint16_t kTagPixelYDimension = 0xa003;
inline constexpr std::uint16_t kTagSensingMethod = 0xa217;
inline constexpr std::uint16_t kTagDigitalZoomRatio = 0xa404;
inline constexpr std::uint16_t kTagContrast = 0xa408;
inline constexpr std::uint16_t kTagSaturation = 0xa409;
inline constexpr std::uint16_t kTagSharpness = 0xa40a;
// Numbers of our own, kept under ExifKey like the tags above, for photo
// fields that only maker notes give.
inline constexpr std::uint16_t kTagNoiseReduction = 0xb001;
inline constexpr std::uint16_t kTagLens = 0xb002;
inline constexpr std::uint16_t kTagFocusMode = 0xb003;

// The GPS directory.
inline constexpr std::uint16_t kGpsVersionId = 0;
inline constexpr std::uint16_t kGpsLatitudeRef = 1;
inline constexpr std::uint16_t kGpsLatitude = 2;
inline constexpr std::uint16_t kGpsLongitudeRef = 3;
inline constexpr std::uint16_t kGpsLongitude = 4;
inline constexpr std::uint16_t kGpsAltitudeRef = 5;  // 1: below sea level
inline constexpr std::uint16_t kGpsAltitude = 6;
// GPSLatitude and GPSLongitude: degrees, minutes and seconds.
inline constexpr std::size_t kGpsRationals = 3;

// --- values ------------------------------------------------------------------

// One tag value as the walk found it.
struct TagValue {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint16_t ifd = kMainIfd;  // kMainIfd, kTagExifIfd, kTagGpsIfd or kTagMakerNote
  bool first_ifd = true;         // false for IFDs reached by next-IFD links
  Endian order = Endian::kLittle;
  std::span<const std::uint8_t> bytes;  // count × type size bytes, in file order
};

// A classic TIFF header ("II" 42 or "MM" 42), either byte order.
bool IsTiffHeader(std::span<const std::uint8_t> bytes);

std::uint16_t GetU16(std::span<const std::uint8_t> bytes, std::size_t offset, Endian order);
std::uint32_t GetU32(std::span<const std::uint8_t> bytes, std::size_t offset, Endian order);
// The index-th value of a numeric type as a signed number (rationals: the
// numerator); 0 when the value is not there.
std::int64_t GetNumber(std::span<const std::uint8_t> bytes, std::uint16_t type, std::size_t index, Endian order);

// The index-th value of a RATIONAL or SRATIONAL: its numerator and
// denominator as stored (signed types keep their sign, unsigned ones their
// bits); false for another type or an index past the end.
bool RationalPartsAt(const TagValue& v, std::size_t index, std::int32_t* numerator, std::int32_t* denominator);
// The same value as a number; false also when its denominator is 0.
bool RationalValueAt(const TagValue& v, std::size_t index, double* out);

// The bytes up to the first NUL (all of them when there is none).
std::string_view TextUpToNul(std::span<const std::uint8_t> bytes);
// UCS-2 in the given byte order, up to a NUL, as engine text (Windows-1252).
std::string TextFromUcs2(std::span<const std::uint8_t> bytes, Endian order);

}  // namespace norvo::metadata
