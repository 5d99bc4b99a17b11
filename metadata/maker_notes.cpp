// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/maker_notes.h"

#include <array>
#include <cstdio>
#include <string>

#include "metadata/list_keys.h"
#include "metadata/stored_values.h"

namespace norvo::metadata {

namespace {

constexpr std::size_t kMakePrefix = 5;
constexpr std::string_view kKonicaMinolta1 = "Konica Minolta";
constexpr std::string_view kKonicaMinolta2 = "KONICA MINOLTA";

// "Nikon\0", a version byte pair, two more bytes, then a TIFF header.
constexpr std::size_t kNikonHeaderSize = 10;
constexpr std::size_t kNikonOldIfdOffset = 8;
constexpr std::uint8_t kNikonVersionWithTiff = 2;
constexpr std::uint8_t kNikonVersionOld = 1;
// "AOC\0" and the note's byte order mark.
constexpr std::uint32_t kPentaxHeaderSize = 6;

std::string LensText(std::int64_t shortest, std::int64_t longest) {
  char text[48];
  if (shortest == longest) {
    std::snprintf(text, sizeof text, "%lld mm", static_cast<long long>(longest));
  } else {
    std::snprintf(text, sizeof text, "%lld-%lld mm", static_cast<long long>(shortest), static_cast<long long>(longest));
  }
  return text;
}

struct WordValue {
  std::string_view word;
  std::uint16_t value;
};

// The value of the first word the text matches, compared over `width`.
bool MatchWord(std::span<const std::uint8_t> text, std::span<const WordValue> words, std::size_t width,
               std::uint16_t* out) {
  for (const WordValue& w : words) {
    if (NikonTextIs(text, w.word, width)) {
      *out = w.value;
      return true;
    }
  }
  return false;
}

constexpr WordValue kNikonWhiteBalance[] = {{"AUT", 0}, {"FLU", 2},  {"INC", 3},  {"FLA", 4}, {"SUN", 9},
                                            {"CLO", 10}, {"SHA", 11}, {"WHI", 30}, {"PRE", 30}};
constexpr WordValue kNikonSharpness[] = {{"NOR", 0}, {"LOW", 1}, {"HIG", 2}, {"AUT", 9}, {"NON", 10}};
constexpr WordValue kNikonFocusMode[] = {{"MANU", 1}, {"AF-S", 2}, {"AF-C", 3}, {"PRES", 4}};
constexpr WordValue kNikonAdjustment[] = {{"NORMAL", 0},         {"CONTRAST(-)", 1}, {"CONTRAST(+)", 2},
                                          {"BRIGHTNESS(-)", 9}, {"BRIGHTNESS(+)", 10}, {"AUTO", 11}};
constexpr std::size_t kShortWord = 3;
constexpr std::size_t kFocusWord = 4;
constexpr std::size_t kAdjustmentWord = 13;

}  // namespace

std::uint32_t CameraCodeFromMake(std::string_view make) {
  make = make.substr(0, make.find('\0'));
  if (make.size() <= 4) return 0;
  std::string_view head = make.substr(0, kMakePrefix);
  if (head == "Asahi") return kCameraAsahi;
  if (head == "PENTA") return kCameraPentax;
  if (head == "NIKON") return kCameraNikon;
  if (head == "Canon") return kCameraCanon;
  if (head == "Kodak") return kCameraKodak;
  if (head == "OLYMP") return kCameraOlympus;
  if (head == "Minol") return kCameraMinolta;
  if (make.substr(0, kKonicaMinolta1.size()) == kKonicaMinolta1 ||
      make.substr(0, kKonicaMinolta2.size()) == kKonicaMinolta2) {
    return kCameraMinolta;
  }
  return 0;
}

MakerNotePlace PlaceMakerNote(const ByteSource& source, const IfdWalk& walk, std::uint32_t note_offset) {
  MakerNotePlace place;
  place.base = walk.base;
  place.order = walk.order;
  place.offset = note_offset;
  switch (walk.camera) {
    case 0:
      return place;
    case kCameraOlympus:
      place.keep_raw = true;
      return place;
    case kCameraNikon: {
      std::array<std::uint8_t, kNikonHeaderSize> header{};
      place.walk = true;
      if (source.readAt(walk.base + note_offset, header) != err::kNone) return place;
      if (TextUpToNul(std::span(header).first(6)) != "Nikon") return place;  // no header: the IFD starts at once
      if (header[6] == kNikonVersionWithTiff) {
        // Offsets inside this note count from its own TIFF header.
        IfdWalk inner;
        std::uint32_t first = 0;
        if (ReadTiffHeader(source, walk.base + note_offset + kNikonHeaderSize, &inner, &first) != err::kNone) {
          place.walk = false;
          return place;
        }
        place.base = inner.base;
        place.order = inner.order;
        place.offset = first;
      } else if (header[6] == kNikonVersionOld) {
        place.offset = note_offset + static_cast<std::uint32_t>(kNikonOldIfdOffset);
      } else {
        place.walk = false;
      }
      return place;
    }
    case kCameraAsahi:
      place.walk = true;
      place.order = Endian::kBig;
      return place;
    case kCameraPentax: {
      place.walk = true;
      place.offset = note_offset + kPentaxHeaderSize;
      // The note names its own byte order after "AOC\0".
      std::array<std::uint8_t, kPentaxHeaderSize> header{};
      if (source.readAt(walk.base + note_offset, header) == err::kNone && header[0] == 'A' && header[1] == 'O' &&
          header[2] == 'C' && header[3] == 0) {
        if (header[4] == 'M' && header[5] == 'M') place.order = Endian::kBig;
        if (header[4] == 'I' && header[5] == 'I') place.order = Endian::kLittle;
      }
      return place;
    }
    default:
      // Canon, Kodak, Minolta: a plain IFD in the file's byte order.
      place.walk = true;
      return place;
  }
}

bool NikonTextIs(std::span<const std::uint8_t> value, std::string_view word, std::size_t width) {
  std::string_view text = TextUpToNul(value);
  for (std::size_t i = 0; i < width; ++i) {
    char have = i < text.size() ? text[i] : ' ';
    char want = i < word.size() ? word[i] : ' ';
    if (have != want) return false;
  }
  return true;
}

void ApplyNikonRules(MetadataList& list, const TagValue& v) {
  std::uint16_t code = 0;
  switch (v.tag) {
    case 0x2:
      NormaliseValue(list, ExifKey(kTagIso), v);
      break;
    case 0x5:
      if (MatchWord(v.bytes, kNikonWhiteBalance, kShortWord, &code)) PutShort(list, ExifKey(kTagLightSource), code);
      break;
    case 0x6:
      if (MatchWord(v.bytes, kNikonSharpness, kShortWord, &code)) PutShort(list, ExifKey(kTagSharpness), code);
      break;
    case 0x7:
      if (MatchWord(v.bytes, kNikonFocusMode, kFocusWord, &code)) PutShort(list, ExifKey(kTagFocusMode), code);
      break;
    case 0x8:
      if (!v.bytes.empty()) PutShort(list, ExifKey(kTagFlash), v.bytes[0] == ' ' ? 0 : 1);
      break;
    case 0x80:
      if (MatchWord(v.bytes, kNikonAdjustment, kAdjustmentWord, &code)) PutShort(list, ExifKey(kTagContrast), code);
      break;
    case 0x84: {
      if (v.type != kTiffRational || v.bytes.size() < 16) break;
      std::uint32_t r[4];
      for (std::size_t i = 0; i < 4; ++i) r[i] = GetU32(v.bytes, i * 4, v.order);
      if (r[0] == 0 || r[1] == 0 || r[2] == 0 || r[3] == 0) break;
      PutText(list, ExifKey(kTagLens), LensText(r[0] / r[1], r[2] / r[3]));
      break;
    }
    case 0x85:
      NormaliseValue(list, ExifKey(kTagSubjectDistance), v);
      break;
    case 0x86:
      NormaliseValue(list, ExifKey(kTagDigitalZoomRatio), v);
      break;
    case 0x94:
      NormaliseValue(list, ExifKey(kTagSaturation), v);
      break;
    case 0x95: {
      // A text such as "OFF" or "FPNR": off or on.
      std::string_view text = TextUpToNul(v.bytes);
      if (v.type == kTiffAscii && !text.empty()) PutShort(list, ExifKey(kTagNoiseReduction), NikonTextIs(v.bytes, "OFF", 3) ? 0 : 1);
      break;
    }
    default:
      break;
  }
}

namespace {

// Canon's arrays: 16-bit values whose first value is the array's length in
// bytes; index i is there only when that length reaches past it.
bool CanonValue(const TagValue& v, std::size_t index, std::uint16_t* out) {
  if (v.type != kTiffShort || v.bytes.size() < 2) return false;
  std::size_t length = GetU16(v.bytes, 0, v.order);
  if (length < (index + 1) * 2 || (index + 1) * 2 > v.bytes.size()) return false;
  *out = GetU16(v.bytes, index * 2, v.order);
  return true;
}

constexpr std::size_t kCanonIso = 16;
constexpr std::size_t kCanonEasyMode = 11;
constexpr std::size_t kCanonExposureMode = 20;
constexpr std::size_t kCanonLongFocal = 23;
constexpr std::size_t kCanonShortFocal = 24;
constexpr std::size_t kCanonFocalUnits = 25;
constexpr std::size_t kCanonWhiteBalance = 7;

}  // namespace

void ApplyCanonRules(MetadataList& list, const TagValue& v) {
  std::uint16_t x = 0;
  if (v.tag == 1) {
    if (CanonValue(v, kCanonIso, &x)) {
      static constexpr std::uint16_t kIso[] = {255, 50, 100, 200, 400};  // codes 15 to 19
      if (x >= 15 && x <= 19) PutShort(list, ExifKey(kTagIso), kIso[x - 15]);
    }
    if (CanonValue(v, kCanonExposureMode, &x)) {
      static constexpr std::uint16_t kMode[] = {0, 2, 4, 3, 1, 20};  // modes 1 to 5
      static constexpr std::uint16_t kEasy[] = {21, 1, 8, 6, 5, 22, 23, 24, 7, 25, 26, 27};
      std::uint16_t easy = 0;
      if (x >= 1 && x <= 5) {
        PutShort(list, ExifKey(kTagExposureProgram), kMode[x]);
      } else if (x == 0 && CanonValue(v, kCanonEasyMode, &easy) && easy < std::size(kEasy)) {
        PutShort(list, ExifKey(kTagExposureProgram), kEasy[easy]);
      }
    }
    std::uint16_t longest = 0, shortest = 0, units = 0;
    if (CanonValue(v, kCanonLongFocal, &longest) && CanonValue(v, kCanonShortFocal, &shortest) &&
        CanonValue(v, kCanonFocalUnits, &units) && units != 0) {
      // Equal raw lengths (a prime lens) give one number.
      PutText(list, ExifKey(kTagLens),
              longest == shortest ? LensText(longest / units, longest / units) : LensText(shortest / units, longest / units));
    }
  } else if (v.tag == 4) {
    if (CanonValue(v, kCanonWhiteBalance, &x)) {
      static constexpr std::uint16_t kLight[] = {0, 1, 20, 3, 2, 4, 30};  // values 1 to 6
      PutShort(list, ExifKey(kTagLightSource), x >= 1 && x <= 6 ? kLight[x] : 0);
    }
  }
}

namespace {

constexpr std::uint16_t kPentaxIso = 0x14;
constexpr std::uint16_t kPentaxWhiteBalance = 0x19;
constexpr std::uint16_t kPentaxLens = 0x3f;

// Pentax ISO codes 3 to 24 step by a third of a stop from ISO 50; codes
// 258 to 270 by half a stop from 50; a few cameras write the speed itself.
bool PentaxIso(std::int64_t code, std::uint16_t* out) {
  static constexpr std::uint16_t kThirds[] = {50,  64,  80,   100,  125,  160,  200,  250,  320,  400,  500,
                                              640, 800, 1000, 1250, 1600, 2000, 2500, 3200, 4000, 5000, 6400};
  static constexpr std::uint16_t kHalves[] = {50, 70, 100, 140, 200, 280, 400, 560, 800, 1100, 1600, 2200, 3200};
  if (code >= 3 && code <= 24) {
    *out = kThirds[code - 3];
  } else if (code >= 258 && code <= 270) {
    *out = kHalves[code - 258];
  } else if (code == 50 || code == 100 || code == 200 || code == 400 || code == 800 || code == 1600 ||
             code == 3200) {
    *out = static_cast<std::uint16_t>(code);
  } else {
    return false;
  }
  return true;
}

// Pentax white-balance codes to EXIF light sources; manual is "Preset".
bool PentaxLightSource(std::int64_t code, std::uint16_t* out) {
  static constexpr std::uint16_t kLight[] = {0, 1, 11, 2, 3, 30, 12, 13, 14, 4, 10};  // codes 0 to 10
  if (code < 0 || code >= static_cast<std::int64_t>(std::size(kLight))) return false;
  *out = kLight[code];
  return true;
}

}  // namespace

void ApplyPentaxRules(MetadataList& list, const TagValue& v) {
  std::uint16_t x = 0;
  switch (v.tag) {
    case kPentaxIso:
      if (v.type == kTiffShort && PentaxIso(GetNumber(v.bytes, v.type, 0, v.order), &x)) PutShort(list, ExifKey(kTagIso), x);
      break;
    case kPentaxWhiteBalance:
      if (v.type == kTiffShort && PentaxLightSource(GetNumber(v.bytes, v.type, 0, v.order), &x)) {
        PutShort(list, ExifKey(kTagLightSource), x);
      }
      break;
    case kPentaxLens:
      // The note names its lens by a series and a number only.
      if (v.bytes.size() >= 2) {
        char text[40];
        std::snprintf(text, sizeof text, "Pentax lens %u-%u", v.bytes[0], v.bytes[1]);
        PutText(list, ExifKey(kTagLens), text);
      }
      break;
    default:
      break;
  }
}

}  // namespace norvo::metadata
