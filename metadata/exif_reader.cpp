// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/exif_reader.h"

#include "metadata/photoshop_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "metadata/flashpix_audio.h"
#include "metadata/image_containers.h"
#include "metadata/jpeg_markers.h"
#include "metadata/maker_notes.h"
#include "platform/file.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {

namespace {

// The Windows-1252 degree sign (the stored Mac Roman byte 0xA1 converts to it).
constexpr char kDegreeSign = '\xB0';
constexpr std::size_t kCharacterCodeSize = 8;  // UserComment prefix
constexpr std::size_t kVersionSize = 4;
constexpr std::size_t kGpsRationals = 3;

std::string_view TextUpToNul(std::span<const std::uint8_t> bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return text.substr(0, text.find('\0'));
}

double Ratio(std::int64_t n, std::int64_t d) { return static_cast<double>(n) / static_cast<double>(d); }

bool IsRationalType(std::uint16_t type) { return type == kTiffRational || type == kTiffSignedRational; }

// A rational value's numerator and denominator as stored (signed types keep
// their sign; unsigned ones their bits).
bool RationalAt(const TagValue& v, std::size_t index, std::int32_t* n, std::int32_t* d) {
  if (!IsRationalType(v.type) || index >= v.bytes.size() / 8) return false;
  *n = static_cast<std::int32_t>(GetU32(v.bytes, index * 8, v.order));
  *d = static_cast<std::int32_t>(GetU32(v.bytes, index * 8 + 4, v.order));
  return true;
}

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

bool SignedRationalAt(const TagValue& v, std::size_t index, double* out) {
  std::int32_t n = 0;
  std::int32_t d = 0;
  if (!RationalAt(v, index, &n, &d) || d == 0) return false;
  *out = v.type == kTiffSignedRational ? Ratio(n, d)
                                       : Ratio(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(d));
  return true;
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
        if (v.type != 2 || TextUpToNul(v.bytes).empty()) return false;
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
          RationalAt(v, i, &n, &d);
          w.u32be(UnsignedPart(v, n));
          w.u32be(UnsignedPart(v, d));
        }
        list.replace(key, w.buffer());
        return true;
      }
      case kGpsAltitude: {
        // Stored signed (negative below sea level, see SignAltitudeBelowSeaLevel),
        // so an unsigned value is first brought within the signed range.
        if (!RationalAt(v, 0, &n, &d)) return false;
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
      if (!SignedRationalAt(v, 0, &tv)) return false;
      ExposureTimeFromApex(tv, &n, &d);
      PutRational(list, ExifKey(kTagExposureTime), n, d);
      return true;
    }
    case kTagApertureValue: {
      double av = 0;
      if (!SignedRationalAt(v, 0, &av)) return false;
      FNumberFromApex(av, &n, &d);
      PutRational(list, ExifKey(kTagFNumber), n, d);
      return true;
    }
    case kTagExposureIndex: {
      double index = 0;
      if (!SignedRationalAt(v, 0, &index) || index <= 0) return false;
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
    case kTagExposureTime: case kTagFNumber: case 0x9102: case 0x9204: case kTagSubjectDistance:
    case kTagFocalLength:
      if (!RationalAt(v, 0, &n, &d)) return false;
      PutRational(list, key, n, d);
      return true;
    case kTagDigitalZoomRatio:
      if (!RationalAt(v, 0, &n, &d) || n == 0 || d == 0 || n == d) return false;
      PutRational(list, key, n, d);
      return true;
    case kTagExposureProgram: case kTagLightSource: case kTagFlash:
      if (ValueCount(v) == 0) return false;
      PutShort(list, key, static_cast<std::uint16_t>(GetNumber(v.bytes, v.type, 0, v.order)));
      return true;
    case 0x9207: case 0xa217: case kTagContrast: case kTagSaturation: case kTagSharpness: case kTagNoiseReduction:
      if (ValueCount(v) == 0) return false;
      PutShort(list, key, static_cast<std::uint16_t>(GetNumber(v.bytes, v.type, 0, v.order) & 0xFF));
      return true;
    case kTagExifVersion: case 0xa000:
      if (v.bytes.size() < kVersionSize) return false;
      list.replace(key, v.bytes.first(kVersionSize));
      return true;
    case kTagDateTimeOriginal: case kTagLens:
      if (v.type != 2) return false;
      PutText(list, key, TextUpToNul(v.bytes));
      return true;
    default:
      return false;
  }
}

namespace {

// UCS-2 (little-endian, as these tags are always written) to engine text.
std::string TextFromUcs2(std::span<const std::uint8_t> bytes, ByteOrder order) {
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t c = static_cast<char16_t>(GetU16(bytes, i, order));
    if (c == 0) break;
    wide.push_back(c);
  }
  return Utf8ToWindows1252(Utf16ToUtf8(wide));
}

// UserComment: an 8-byte character code, then the text. ASCII and Unicode
// are decoded; other codes (JIS, undefined) are not.
bool DecodeUserComment(const TagValue& v, std::string* out) {
  if (v.bytes.size() < kCharacterCodeSize) return false;
  auto code = v.bytes.first(kCharacterCodeSize);
  auto text = v.bytes.subspan(kCharacterCodeSize);
  static constexpr std::uint8_t kAscii[] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
  static constexpr std::uint8_t kUnicode[] = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
  if (std::equal(code.begin(), code.end(), kAscii)) {
    *out = std::string(TextUpToNul(text));
  } else if (std::equal(code.begin(), code.end(), kUnicode)) {
    *out = TextFromUcs2(text, v.order);
  } else {
    return false;
  }
  while (!out->empty() && out->back() == ' ') out->pop_back();
  return !out->empty();
}

struct TextTag {
  std::uint16_t tag;
  std::uint32_t key;
};
constexpr TextTag kAsciiTextTags[] = {{0x10e, kKeyName},     {kTagMake, kKeyMaker},     {0x110, kKeyModel},
                                      {0x131, kKeySoftware}, {0x13b, kKeyArtist},       {0x8298, kKeyCopyright}};
constexpr TextTag kUcs2TextTags[] = {
    {0x9c9b, kKeyInfo}, {0x9c9c, kKeyComment}, {0x9c9d, kKeyAuthor}, {0x9c9e, kKeyKeywords}, {0x9c9f, kKeyProducer}};

constexpr std::uint16_t kTagXmp = 0x2bc;
constexpr std::uint16_t kTagIptc = 0x83bb;
constexpr std::uint16_t kTagIptcPhotoshop = 0x8568;
constexpr std::uint16_t kTagPixelXDimension = 0xa002;
constexpr std::uint16_t kTagPixelYDimension = 0xa003;
constexpr std::uint16_t kMinoltaTagA = 0x81;
constexpr std::uint16_t kMinoltaTagB = 0x88;

// Makes the stored altitude negative: the file says it lies below sea level.
void SignAltitudeBelowSeaLevel(MetadataList& list) {
  std::int32_t n = 0;
  std::int32_t d = 0;
  if (!GetRational(list, GpsKey(kGpsAltitude), 0, &n, &d)) return;
  if ((n < 0) != (d < 0) || n == 0) return;  // already negative, or zero
  if (n == std::numeric_limits<std::int32_t>::min() || d == std::numeric_limits<std::int32_t>::min()) return;
  PutRational(list, GpsKey(kGpsAltitude), -std::abs(n), std::abs(d));
}

constexpr std::uint16_t kTagXResolution = 0x11a;
constexpr std::uint16_t kTagYResolution = 0x11b;
constexpr std::uint16_t kTagResolutionUnit = 0x128;
constexpr std::int64_t kUnitInch = 2;
constexpr std::int64_t kUnitCentimetre = 3;
constexpr double kCentimetresPerInch = 2.54;
// Resolutions at or above this are nonsense and ignored.
constexpr double kMaxResolution = 1e6;

bool IsResolutionTag(std::uint16_t tag) {
  return tag == kTagXResolution || tag == kTagYResolution || tag == kTagResolutionUnit;
}

// XResolution, YResolution and ResolutionUnit of one IFD.
class ExifResolution {
 public:
  void note(const TagValue& v) {
    if (v.tag == kTagResolutionUnit) {
      unit_ = GetNumber(v.bytes, v.type, 0, v.order);
      return;
    }
    double value = 0;
    if (!SignedRationalAt(v, 0, &value)) return;
    (v.tag == kTagXResolution ? x_ : y_) = value;
  }

  // Whole pixels per inch, the larger of the two directions (centimetres
  // are converted); 0 when the IFD gives none or only an aspect ratio.
  std::int32_t pixelsPerInch() const {
    double best = std::max(x_, y_);
    if (unit_ == kUnitCentimetre) {
      best = std::round(best * kCentimetresPerInch);
    } else if (unit_ != kUnitInch) {
      return 0;  // 1: no absolute unit
    }
    if (!(best >= 1.0) || !(best < kMaxResolution)) return 0;
    return static_cast<std::int32_t>(best);
  }

 private:
  double x_ = 0;
  double y_ = 0;
  std::int64_t unit_ = kUnitInch;  // TIFF's default when the tag is missing
};

class ExifTagStore final : public TagStore {
 public:
  explicit ExifTagStore(MetadataList& list) : list_(list) {}

  std::uint32_t thumbnail_offset = 0;
  std::uint32_t thumbnail_length = 0;
  bool have_thumbnail = false;
  ExifResolution resolution;  // IFD0's, the image's own

  void keepBare(std::uint16_t tag, std::span<const std::uint8_t> bytes) override { list_.add(tag, bytes); }

  void store(IfdWalk& walk, const TagValue& v) override {
    bool bare_done = false;
    if (v.ifd == kTagGpsIfd) {
      if (v.tag == kGpsAltitudeRef) below_sea_level_ = GetNumber(v.bytes, v.type, 0, v.order) == 1;
      // The reference may come before or after the altitude it signs.
      if (NormaliseValue(list_, GpsKey(v.tag), v) || v.tag == kGpsAltitudeRef) {
        if (below_sea_level_) SignAltitudeBelowSeaLevel(list_);
      }
    } else if (v.ifd == kTagExifIfd) {
      if (!NormaliseValue(list_, ExifKey(v.tag), v) &&
          (v.tag == kTagPixelXDimension || v.tag == kTagPixelYDimension)) {
        keepBare(v.tag, v.bytes);
        bare_done = true;
      }
    } else if (v.ifd == kTagMakerNote) {
      if (walk.camera == kCameraMinolta && (v.tag == kMinoltaTagA || v.tag == kMinoltaTagB)) {
        keepBare(v.tag, v.bytes);
        bare_done = true;
      } else if (walk.camera == kCameraAsahi || walk.camera == kCameraPentax) {
        ApplyPentaxRules(list_, v);
      } else if (walk.camera == kCameraCanon) {
        ApplyCanonRules(list_, v);
      } else if (walk.camera == kCameraNikon) {
        ApplyNikonRules(list_, v);
      }
    } else if (v.first_ifd && IsResolutionTag(v.tag)) {
      resolution.note(v);
    } else if (!v.first_ifd && (v.tag == kTagThumbnailOffset || v.tag == kTagThumbnailLength)) {
      std::uint32_t x = static_cast<std::uint32_t>(GetNumber(v.bytes, v.type, 0, v.order));
      (v.tag == kTagThumbnailOffset ? thumbnail_offset : thumbnail_length) = x;
      have_thumbnail = true;
    }
    if (storeNamed(walk, v)) return;
    if (bare_done) return;
    if (walk.camera == kCameraKodak && NormaliseValue(list_, ExifKey(v.tag), v)) return;
    keepBare(v.tag, v.bytes);
  }

 private:
  // The tags with a key of their own; true when `v` was one of them.
  bool storeNamed(IfdWalk& walk, const TagValue& v) {
    for (const TextTag& t : kAsciiTextTags) {
      if (t.tag != v.tag) continue;
      std::string_view text = TextUpToNul(v.bytes);
      list_.addText(t.key, text);
      if (v.tag == kTagMake) walk.camera = CameraCodeFromMake(text);
      return true;
    }
    for (const TextTag& t : kUcs2TextTags) {
      if (t.tag != v.tag) continue;
      // These tags are little-endian UCS-2 whatever the file's byte order.
      list_.addText(t.key, TextFromUcs2(v.bytes, ByteOrder::kIntel));
      return true;
    }
    switch (v.tag) {
      case kTagXmp:
        list_.add(kKeyXmp, v.bytes);
        return true;
      case kTagIptc:
      case kTagIptcPhotoshop:
        list_.add(kKeyIptc, v.bytes);
        return true;
      case kTagUserComment: {
        std::string text;
        if (DecodeUserComment(v, &text)) list_.addText(kKeySource, text);
        return true;
      }
      default:
        return false;
    }
  }

  MetadataList& list_;
  bool below_sea_level_ = false;
};

void FinishWalk(const IfdWalk& walk, const ExifTagStore& store, ImageMetadata* out) {
  out->orientation = walk.orientation;
  out->camera = walk.camera;
  if (out->profile == ProfileChoice::kNone) {
    out->profile = walk.profile;
    out->icc_profile = walk.icc_profile;
  }
  // A resolution the container itself declares was set before and stays.
  if (out->resolution == 0) out->resolution = store.resolution.pixelsPerInch();
}

// The density of a JFIF APP0 segment among the segments before the start of
// scan, in whole pixels per inch; 0 when there is none or it gives only an
// aspect ratio (unit 0). The JPEG decoder reads the same segment.
std::int32_t JfifPixelsPerInch(const ByteSource& source) {
  constexpr std::uint8_t kApp0 = 0xE0;
  constexpr std::uint8_t kStartOfScan = 0xDA;
  constexpr std::uint8_t kEndOfImage = 0xD9;
  constexpr std::size_t kJfifSize = 12;  // "JFIF\0", version, unit, x and y density
  constexpr std::uint8_t kDotsPerInch = 1;
  constexpr std::uint8_t kDotsPerCentimetre = 2;
  constexpr int kMaxSegments = 256;
  std::int64_t at = 2;  // after the start-of-image marker
  for (int i = 0; i < kMaxSegments; ++i) {
    std::array<std::uint8_t, 4> head{};
    if (source.readAt(at, head) != err::kNone || head[0] != 0xFF) return 0;
    if (head[1] == kStartOfScan || head[1] == kEndOfImage) return 0;
    const std::uint16_t length = static_cast<std::uint16_t>(head[2] << 8 | head[3]);
    if (length < 2) return 0;
    std::array<std::uint8_t, kJfifSize> jfif{};
    if (head[1] == kApp0 && length >= 2 + kJfifSize && source.readAt(at + 4, jfif) == err::kNone &&
        std::equal(jfif.begin(), jfif.begin() + 5, "JFIF")) {  // with its 0 byte
      const int x = jfif[8] << 8 | jfif[9];
      const int y = jfif[10] << 8 | jfif[11];
      const double best = std::max(x, y);
      if (jfif[7] == kDotsPerInch) return static_cast<std::int32_t>(best);
      if (jfif[7] == kDotsPerCentimetre) return static_cast<std::int32_t>(std::round(best * kCentimetresPerInch));
      return 0;
    }
    at += 2 + length;
  }
  return 0;
}

void ExtractThumbnail(const ByteSource& source, std::int64_t base, const ExifTagStore& store, ImageMetadata* out) {
  if (!store.have_thumbnail || store.thumbnail_length == 0) return;
  std::int64_t at = base + store.thumbnail_offset;
  if (at > source.size() || static_cast<std::uint64_t>(source.size() - at) < store.thumbnail_length) return;
  out->thumbnail.resize(store.thumbnail_length);
  if (source.readAt(at, out->thumbnail) != err::kNone) out->thumbnail.clear();
}

}  // namespace

ErrorCode ReadTiffMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out) {
  IfdWalk walk;
  ExifTagStore store(out->list);
  ErrorCode e = WalkTiff(source, 0, walk, store);
  if (e != err::kNone) return e;
  FinishWalk(walk, store, out);
  if (want_thumbnail) ExtractThumbnail(source, 0, store, out);
  return err::kNone;
}

ErrorCode ReadExifBlock(std::span<const std::uint8_t> block, bool want_thumbnail, ImageMetadata* out) {
  static constexpr std::uint8_t kExifPrefix[kExifHeaderSize] = {'E', 'x', 'i', 'f', 0, 0};
  if (block.size() >= kExifHeaderSize && std::equal(block.begin(), block.begin() + kExifHeaderSize, kExifPrefix)) {
    block = block.subspan(kExifHeaderSize);
  }
  MemorySource tiff(block);
  IfdWalk walk;
  ExifTagStore store(out->list);
  ErrorCode e = WalkTiff(tiff, 0, walk, store);
  if (e != err::kNone) return e;
  FinishWalk(walk, store, out);
  if (want_thumbnail && out->thumbnail.empty()) ExtractThumbnail(tiff, 0, store, out);
  return err::kNone;
}

ErrorCode ReadJpegMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out) {
  JpegSegments segments;
  ErrorCode e = ReadJpegSegments(source, &segments);
  out->resolution = JfifPixelsPerInch(source);
  IfdWalk walk;
  ExifTagStore store(out->list);
  for (const auto& exif : segments.exif) {
    MemorySource tiff(exif);
    if (WalkTiff(tiff, 0, walk, store) == err::kNone && want_thumbnail && out->thumbnail.empty()) {
      ExtractThumbnail(tiff, 0, store, out);
    }
  }
  for (const auto& packet : segments.xmp) out->list.add(kKeyXmp, packet);
  for (const auto& comment : segments.comments) out->list.addText(kKeyComment, comment);
  // An embedded profile names the colours more exactly than the EXIF colour
  // space does, so it is chosen first.
  if (!segments.icc_profile.empty()) {
    out->profile = ProfileChoice::kEmbedded;
    out->icc_profile = std::move(segments.icc_profile);
  }
  FinishWalk(walk, store, out);
  {
    std::vector<std::span<const std::uint8_t>> flashpix(segments.flashpix.begin(), segments.flashpix.end());
    out->recording = FlashPixAudioStream(flashpix);
  }
  out->image_resources = std::move(segments.image_resources);
  return e;
}

ErrorCode ReadImageMetadata(const FileSpec& spec, bool want_thumbnail, ImageMetadata* out) {
  File file;
  ErrorCode e = file.open(spec, Permission::kRead);
  if (e != err::kNone) return e;
  FileSource source(file);
  std::array<std::uint8_t, 4> head{};
  if (source.readAt(0, head) != err::kNone) return err::kNoReaderForFormat;
  if (head[0] == 0xFF && head[1] == 0xD8) return ReadJpegMetadata(source, want_thumbnail, out);
  if (IsTiffHeader(head)) return ReadTiffMetadata(source, want_thumbnail, out);
  std::array<std::uint8_t, 6> psd{};
  if (source.readAt(0, psd) == err::kNone && IsPhotoshopHeader(psd)) return ReadPhotoshopMetadata(source, out);
  std::array<std::uint8_t, kContainerSniffSize> container{};
  if (source.readAt(0, container) != err::kNone) return err::kNoReaderForFormat;
  if (IsPngHeader(container)) return ReadPngMetadata(source, want_thumbnail, out);
  if (IsWebpHeader(container)) return ReadWebpMetadata(source, want_thumbnail, out);
  if (IsHeifHeader(container)) return ReadHeifMetadata(source, want_thumbnail, out);
  return err::kNoReaderForFormat;
}

std::string IccProfileDescription(std::span<const std::uint8_t> profile) {
  constexpr std::size_t kTagTableAt = 128;
  constexpr std::uint32_t kMaxIccTags = 1000;
  ByteReader r(profile);
  r.seek(kTagTableAt);
  std::uint32_t count = r.u32be();
  if (!r.ok() || count > kMaxIccTags) return {};
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t signature = r.u32be();
    std::uint32_t offset = r.u32be();
    std::uint32_t size = r.u32be();
    if (!r.ok()) return {};
    if (signature != FourCC("desc")) continue;
    if (offset > profile.size() || size > profile.size() - offset) return {};
    ByteReader t(profile.subspan(offset, size));
    std::uint32_t type = t.u32be();
    t.u32be();  // reserved
    if (type == FourCC("desc")) {
      std::uint32_t length = t.u32be();
      auto text = t.bytes(length);
      return t.ok() ? std::string(TextUpToNul(text)) : std::string();
    }
    if (type == FourCC("mluc")) {
      std::uint32_t records = t.u32be();
      t.u32be();  // record size
      if (records == 0) return {};
      t.u32be();  // language and country of the first record
      std::uint32_t length = t.u32be();
      std::uint32_t at = t.u32be();
      if (!t.ok() || at > size || length > size - at) return {};
      return TextFromUcs2(profile.subspan(offset + at, length), ByteOrder::kMotorola);
    }
    return {};
  }
  return {};
}

std::string ColourProfileName(const ImageMetadata& metadata) {
  switch (metadata.profile) {
    case ProfileChoice::kEmbedded: return IccProfileDescription(metadata.icc_profile);
    case ProfileChoice::kSrgb: return "sRGB IEC61966-2.1";
    case ProfileChoice::kAdobeRgb: return "Adobe RGB (1998)";
    case ProfileChoice::kNone: break;
  }
  return {};
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

namespace {

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

std::uint32_t CaptureDateFromExif(std::string_view text) {
  // "YYYY:MM:DD HH:MM:SS"; '-' is accepted between the date parts too.
  constexpr std::size_t kDateLength = 19;
  if (text.size() < kDateLength) return 0;
  auto number = [&](std::size_t at, std::size_t width, int* out) {
    int v = 0;
    for (std::size_t i = at; i < at + width; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    *out = v;
    return true;
  };
  int y = 0, mo = 0, da = 0, h = 0, mi = 0, s = 0;
  if (!number(0, 4, &y) || !number(5, 2, &mo) || !number(8, 2, &da) || !number(11, 2, &h) || !number(14, 2, &mi) ||
      !number(17, 2, &s)) {
    return 0;
  }
  if (y < 1904 || mo < 1 || mo > 12 || da < 1 || da > 31 || h > 23 || mi > 59 || s > 60) return 0;
  // Days since 1904-01-01 by the civil calendar (days-from-civil).
  auto days_from_civil = [](std::int64_t yy, unsigned m, unsigned dd) {
    yy -= m <= 2;
    std::int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    auto yoe = static_cast<unsigned>(yy - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe);
  };
  std::int64_t days = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(da)) -
                      days_from_civil(1904, 1, 1);
  std::int64_t seconds = days * 86400 + h * 3600 + mi * 60 + s;
  if (seconds > 0xFFFFFFFFll) return 0;
  return static_cast<std::uint32_t>(seconds);
}

}  // namespace norvo::metadata
