// SPDX-License-Identifier: GPL-3.0-or-later
// Reading an image file's metadata into its metadata list: JPEG segments and
// TIFF/EXIF directories, the tag store that decides under which key a value is
// kept, the normalised EXIF and GPS values of the photo fields, the colour
// profile, the orientation and the EXIF thumbnail. Also the texts and dates
// computed from the kept values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/metadata_list.h"
#include "metadata/tiff_ifd.h"
#include "platform/byte_io.h"
#include "platform/error_codes.h"
#include "platform/file_spec.h"

namespace norvo::metadata {

// Keys of the metadata list.
inline constexpr std::uint32_t kExifKeyBase = 0x65780000;  // "ex" + tag
inline constexpr std::uint32_t kGpsKeyBase = 0x06770000;
constexpr std::uint32_t ExifKey(std::uint16_t tag) { return kExifKeyBase + tag; }
constexpr std::uint32_t GpsKey(std::uint16_t tag) { return kGpsKeyBase + tag; }
// The metadata text keys begin with the byte 0xA9.
constexpr std::uint32_t TextKey(const char (&c)[4]) {
  return (0xA9u << 24) | (std::uint32_t(std::uint8_t(c[0])) << 16) | (std::uint32_t(std::uint8_t(c[1])) << 8) |
         std::uint32_t(std::uint8_t(c[2]));
}
inline constexpr std::uint32_t kKeyName = TextKey("nam");
inline constexpr std::uint32_t kKeyMaker = TextKey("mak");
inline constexpr std::uint32_t kKeyModel = TextKey("mod");
inline constexpr std::uint32_t kKeySoftware = TextKey("swr");
inline constexpr std::uint32_t kKeyArtist = TextKey("ART");
inline constexpr std::uint32_t kKeyCopyright = TextKey("cpy");
inline constexpr std::uint32_t kKeySource = TextKey("src");
inline constexpr std::uint32_t kKeyInfo = TextKey("inf");
inline constexpr std::uint32_t kKeyComment = TextKey("cmt");
inline constexpr std::uint32_t kKeyAuthor = TextKey("aut");
inline constexpr std::uint32_t kKeyKeywords = TextKey("key");
inline constexpr std::uint32_t kKeyProducer = TextKey("PRD");
inline constexpr std::uint32_t kKeyXmp = FourCC("XMP ");
inline constexpr std::uint32_t kKeyIptc = FourCC("iptc");
inline constexpr std::uint32_t kKeyTracks = FourCC("TRCK");
inline constexpr std::uint32_t kKeyChapters = FourCC("CHAP");

// EXIF tags with their own treatment.
inline constexpr std::uint16_t kTagExposureTime = 0x829a;
inline constexpr std::uint16_t kTagFNumber = 0x829d;
inline constexpr std::uint16_t kTagExposureProgram = 0x8822;
inline constexpr std::uint16_t kTagIso = 0x8827;
inline constexpr std::uint16_t kTagExifVersion = 0x9000;
inline constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
inline constexpr std::uint16_t kTagShutterSpeedValue = 0x9201;
inline constexpr std::uint16_t kTagApertureValue = 0x9202;
inline constexpr std::uint16_t kTagSubjectDistance = 0x9206;
inline constexpr std::uint16_t kTagLightSource = 0x9208;
inline constexpr std::uint16_t kTagFlash = 0x9209;
inline constexpr std::uint16_t kTagFocalLength = 0x920a;
inline constexpr std::uint16_t kTagExposureIndex = 0x9215;
inline constexpr std::uint16_t kTagUserComment = 0x9286;
inline constexpr std::uint16_t kTagDigitalZoomRatio = 0xa404;
inline constexpr std::uint16_t kTagContrast = 0xa408;
inline constexpr std::uint16_t kTagSaturation = 0xa409;
inline constexpr std::uint16_t kTagSharpness = 0xa40a;
inline constexpr std::uint16_t kTagNoiseReduction = 0xb001;
inline constexpr std::uint16_t kTagLens = 0xb002;
inline constexpr std::uint16_t kTagFocusMode = 0xb003;
inline constexpr std::uint16_t kTagThumbnailOffset = 0x201;
inline constexpr std::uint16_t kTagThumbnailLength = 0x202;
inline constexpr std::uint16_t kGpsLatitudeRef = 1;
inline constexpr std::uint16_t kGpsLatitude = 2;
inline constexpr std::uint16_t kGpsLongitudeRef = 3;
inline constexpr std::uint16_t kGpsLongitude = 4;
inline constexpr std::uint16_t kGpsAltitudeRef = 5;  // 1: below sea level
inline constexpr std::uint16_t kGpsAltitude = 6;

inline constexpr std::size_t kMaxGpsTextLength = 4096;

// Everything read from one image file.
struct ImageMetadata {
  MetadataList list;
  std::uint16_t orientation = 0;  // 1 to 8, or 0
  std::uint32_t camera = 0;       // camera code of the Make text
  ProfileChoice profile = ProfileChoice::kNone;
  std::vector<std::uint8_t> icc_profile;  // the embedded profile, when there is one
  std::vector<std::uint8_t> thumbnail;    // the EXIF thumbnail (JPEG), when asked and present
  std::vector<std::uint8_t> recording;    // the FlashPix voice annotation (RIFF WAVE), when there is one
  std::vector<std::uint8_t> image_resources;  // the Photoshop image-resource block (APP13)
  // Whole pixels per inch the file declares: the format's own field when it
  // has one with a unit (JFIF density, PNG pHYs), else IFD0's XResolution
  // and YResolution with ResolutionUnit; 0 when it declares none.
  std::int32_t resolution = 0;
};

// Reads a JPEG file's segments and EXIF; stops at the start of scan.
ErrorCode ReadJpegMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out);
// Reads a TIFF file's directories, either byte order.
ErrorCode ReadTiffMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out);
// Reads an EXIF block as other containers carry it (a PNG eXIf chunk, a WebP
// EXIF chunk, a HEIF Exif item): a TIFF structure, which some writers open
// with JPEG's "Exif\0\0" anyway. The orientation, camera, colour profile
// choice, resolution and thumbnail go to `out` as a JPEG's EXIF would.
ErrorCode ReadExifBlock(std::span<const std::uint8_t> block, bool want_thumbnail, ImageMetadata* out);
// Opens the file and reads it by its first bytes as JPEG, TIFF, Photoshop,
// PNG, WebP or HEIF; anything else is -2053.
ErrorCode ReadImageMetadata(const FileSpec& spec, bool want_thumbnail, ImageMetadata* out);

// The colour profile's name: the embedded profile's description, else the
// name of the profile the EXIF colour space chose; "" when none.
std::string ColourProfileName(const ImageMetadata& metadata);
// The description tag of an ICC profile ('desc' or 'mluc'), "" when none.
std::string IccProfileDescription(std::span<const std::uint8_t> profile);

// EXIF value normalisation: keeps `value` under ExifKey(tag) (or GpsKey for
// the GPS IFD) in the fixed stored form when the key is one of the photo
// fields, replacing an earlier value of that key. Returns whether it kept it.
bool NormaliseValue(MetadataList& list, std::uint32_t key, const TagValue& value);
// Stored forms of the normalised values (big-endian).
void PutShort(MetadataList& list, std::uint32_t key, std::uint16_t v);
void PutRational(MetadataList& list, std::uint32_t key, std::int32_t numerator, std::int32_t denominator);
void PutText(MetadataList& list, std::uint32_t key, std::string_view text);

// APEX conversions to the stored rationals and ISO value.
void ExposureTimeFromApex(double shutter_speed_value, std::int32_t* numerator, std::int32_t* denominator);
void FNumberFromApex(double aperture_value, std::int32_t* numerator, std::int32_t* denominator);

// Reads kept values back: a stored 16-bit value, a rational, a text.
bool GetShort(const MetadataList& list, std::uint32_t key, std::uint16_t* out);
bool GetRational(const MetadataList& list, std::uint32_t key, int index, std::int32_t* numerator,
                 std::int32_t* denominator);
std::string GetPlainText(const MetadataList& list, std::uint32_t key);

// GPS position texts; "" when the values are missing or unusable.
std::string GpsLatitudeText(const MetadataList& list);
std::string GpsLongitudeText(const MetadataList& list);
std::string GpsAltitudeText(const MetadataList& list, std::string_view unit = "m");

// "YYYY:MM:DD HH:MM:SS" to seconds since 1904 (the date as written, local
// time); 0 when the text is not such a date.
std::uint32_t CaptureDateFromExif(std::string_view text);

}  // namespace norvo::metadata
