// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/exif_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "metadata/flashpix_audio.h"
#include "metadata/jpeg_markers.h"
#include "metadata/list_keys.h"
#include "metadata/maker_notes.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_ifd.h"
#include "metadata/tiff_tags.h"

namespace norvo::metadata {

namespace {

constexpr std::size_t kCharacterCodeSize = 8;  // UserComment prefix

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
constexpr TextTag kAsciiTextTags[] = {{kTagImageDescription, kKeyName}, {kTagMake, kKeyMaker},
                                      {kTagModel, kKeyModel},            {kTagSoftware, kKeySoftware},
                                      {kTagArtist, kKeyArtist},          {kTagCopyright, kKeyCopyright}};
constexpr TextTag kUcs2TextTags[] = {{kTagXpTitle, kKeyInfo},
                                     {kTagXpComment, kKeyComment},
                                     {kTagXpAuthor, kKeyAuthor},
                                     {kTagXpKeywords, kKeyKeywords},
                                     {kTagXpSubject, kKeyProducer}};

// Minolta note tags kept whole.
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
    if (!RationalValueAt(v, 0, &value)) return;
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

  MakerNotePlace placeMakerNote(const ByteSource& source, const IfdWalk& walk, std::uint32_t note_offset) override {
    return PlaceMakerNote(source, walk, note_offset);
  }

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
      list_.addText(t.key, TextFromUcs2(v.bytes, Endian::kLittle));
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

}  // namespace norvo::metadata
