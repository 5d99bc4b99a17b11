// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/field_table.h"

#include <array>
#include <charconv>
#include <string_view>

#include "catalog/catalog.h"
#include "metadata/string_table.h"
#include "platform/text_encoding.h"
#include "platform/unicode_text.h"

namespace norvo::metadata {
namespace {

using VT = ValueType;
using D = Display;
using Src = FieldSource;
using SK = SearchKind;

// Flag letters of a row: L list, T long text, G groups, Z shows zero,
// M metadata text, H find only, C1 column, C2 neither.
struct Flags {
  FieldStyle style = FieldStyle::kSingle;
  std::uint8_t groups = 0;
  std::uint8_t shows_zero = 0;
  std::uint8_t metadata_text = 0;
  Tier tier = Tier::kFindOnly;
};

constexpr Flags ParseFlags(std::string_view text) {
  Flags f;
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case 'L': f.style = FieldStyle::kList; break;
      case 'T': f.style = FieldStyle::kLongText; break;
      case 'G': f.groups = 1; break;
      case 'Z': f.shows_zero = 1; break;
      case 'M': f.metadata_text = 1; break;
      case 'H': f.tier = Tier::kFindOnly; break;
      case 'C':
        if (i + 1 < text.size()) f.tier = text[++i] == '1' ? Tier::kColumn : Tier::kHidden;
        break;
      default: break;
    }
  }
  return f;
}

// Where a value lies in the fixed record: offset, length in bytes.
constexpr std::uint32_t At(std::uint32_t offset, std::uint32_t length) { return (length << 16) | offset; }

constexpr FieldDefinition Def(FieldId id, std::uint8_t label, VT type, D display, std::uint8_t unit,
                              std::uint8_t choices, Src source, std::uint8_t section, SK search,
                              std::string_view flags, int width_pixels, std::uint32_t storage = 0) {
  Flags f = ParseFlags(flags);
  return FieldDefinition{id,
                         storage,
                         type,
                         f.metadata_text,
                         f.style,
                         source,
                         display,
                         static_cast<std::uint8_t>(width_pixels / kColumnWidthStep),
                         label,
                         unit,
                         choices,
                         f.shows_zero,
                         section,
                         search,
                         f.groups,
                         f.tier};
}

// Label indexes (string 51000 + index).
namespace label {
constexpr std::uint8_t kNone = 0, kCaption = 1, kTitle = 2, kProduct = 3, kKeywords = 4, kCategories = 5,
                       kGenre = 6, kStatus = 7, kInstructions = 8, kAuthor = 9, kAuthorTitle = 10, kCredit = 11,
                       kSource = 12, kCopyright = 13, kTransmission = 14, kUrl = 15, kLocation = 16, kCity = 17,
                       kState = 18, kCountry = 19, kWriter = 20, kFileName = 21, kPath = 22, kVolumeName = 23,
                       kMediaType = 24, kFileSize = 25, kFileType = 26, kEncoding = 27, kDateFinder = 28,
                       kImportDevice = 29, kOrientation = 30, kDimensions = 31, kWidth = 32, kHeight = 33,
                       kResolution = 34, kDepth = 35, kPages = 36, kSampleColor = 37, kPoster = 38, kTracks = 39,
                       kDuration = 40, kAudioChannels = 41, kAudioRate = 42, kAudioBitSize = 43, kDataRate = 44,
                       kFrameRate = 45, kSpatialQuality = 46, kColorSpace = 47, kColorProfile = 48,
                       kCharacters = 49, kParagraphs = 50, kCompression = 51, kCreated = 52, kModified = 53,
                       kArchived = 54, kAnnotated = 55, kLabels = 56, kThumbnailSize = 57,
                       kAnnotationsSize = 58, kRecordingSize = 59, kCatalogSets = 60, kMetadataSize = 61,
                       kUrlSize = 62, kMaker = 63, kModel = 64, kSoftware = 65, kFormat = 66, kExifVersion = 67,
                       kFlashPixVersion = 68, kCaptureDate = 69, kAperture = 70, kShutterSpeed = 71,
                       kExposureBias = 72, kExposureProgram = 73, kFocalLength = 74, kFocusDistance = 75,
                       kSensing = 76, kLightSource = 77, kFlash = 78, kMetering = 79, kIsoSpeed = 80,
                       kRatio = 81, kNoiseReduction = 82, kLens = 83, kLatitude = 84, kLongitude = 85,
                       kAltitude = 86, kEvent = 92, kEventDate = 93, kPeople = 94;
}  // namespace label

// Choice lists (string list 520 + n).
namespace choice {
constexpr std::uint8_t kMediaType = 1, kLightSource = 2, kMetering = 3, kExposureProgram = 4,
                       kAudioChannels = 5, kQuality = 6, kSensing = 7, kFlash = 8;
}

constexpr std::uint8_t kMedia = sections::kMediaInfo;
constexpr std::uint8_t kExif = sections::kPhotoExif;
constexpr std::uint8_t kNotes = sections::kAnnotations;
constexpr FieldId kEx = field_ids::kExifBase;

constexpr FieldDefinition Custom(FieldId id) {
  return Def(id, kCustomLabel, VT::kText, D::kText, 0, 0, Src::kAnnotation, kNotes, SK::kText, "G Z C2", 90);
}

constexpr FieldDefinition Annotation(FieldId id, std::uint8_t label, std::string_view flags, int width = 90) {
  return Def(id, label, VT::kText, D::kText, 0, 0, Src::kAnnotation, kNotes, SK::kText, flags, width);
}

namespace u = units;
namespace fid = field_ids;

constexpr std::array<FieldDefinition, kFieldCount> kFields = {{
    Def(0x2, label::kFileName, VT::kText, D::kText, 0, 0, Src::kCatalog, kMedia, SK::kText, "Z C1", 120,
        At(0x000, 256)),
    Def(0x1, label::kPath, VT::kText, D::kText, 0, 0, Src::kCatalog, kMedia, SK::kText, "Z C1", 120),
    Def(fid::kVolumeName, label::kVolumeName, VT::kText, D::kText, 0, 0, Src::kCatalog, kMedia, SK::kText, "Z C1",
        120),
    Def(0x44, label::kNone, VT::kInt32, D::kInteger, 0, 0, Src::kCatalog, kMedia, SK::kNone, "Z H", 90),
    Def(0x20a, label::kLabels, VT::kByte, D::kDigit, 0, 0, Src::kCatalog, kMedia, SK::kNumber, "Z C1", 60),
    Def(0x42, label::kMediaType, VT::kByte, D::kByteChoice, 0, choice::kMediaType, Src::kMedia, kMedia, SK::kNone,
        "Z C1", 90),
    Def(0x5, label::kFileSize, VT::kInt32, D::kByteSize, u::kBytes, 0, Src::kMedia, kMedia, SK::kNumber, "C1", 60,
        At(0x160, 4)),
    Def(0x3, label::kFileType, VT::kText, D::kText, 0, 0, Src::kMedia, kMedia, SK::kNone, "Z C1", 90),
    Def(0x4, label::kFileType, VT::kInt32, D::kTypeCode, 0, 0, Src::kMedia, kMedia, SK::kTypeCode, "Z H", 60,
        At(0x14C, 4)),
    Def(0x17, label::kEncoding, VT::kText, D::kText, 0, 0, Src::kMedia, kMedia, SK::kText, "Z C2", 90,
        At(0x3A0, 32)),
    Def(0xa2, label::kCatalogSets, VT::kText, D::kText, 0, 0, Src::kSets, kMedia, SK::kText, "L Z C2", 90),
    Def(0xa1, label::kDateFinder, VT::kInt32, D::kDateTime, 0, 0, Src::kCatalog, kMedia, SK::kNone, "H", 90),
    Def(0x43, label::kImportDevice, VT::kText, D::kText, 0, 0, Src::kMetadata, kMedia, SK::kNone, "M H", 90),
    Def(0x45, label::kOrientation, VT::kInt16, D::kOrientationCode, 0, 0, Src::kMedia, kMedia, SK::kNumber,
        "Z C2", 90, At(0x33E, 2)),
    Def(0x41, label::kDimensions, VT::kInt32, D::kDimensions, 0, 0, Src::kMedia, kMedia, SK::kNone, "Z C2", 90,
        At(0x164, 8)),
    Def(0x6, label::kWidth, VT::kInt32, D::kWidth, u::kPixels, 0, Src::kMedia, kMedia, SK::kNumber, "C1", 60,
        At(0x164, 4)),
    Def(0x7, label::kHeight, VT::kInt32, D::kHeight, u::kPixels, 0, Src::kMedia, kMedia, SK::kNumber, "C1", 60,
        At(0x168, 4)),
    Def(0x8, label::kResolution, VT::kInt32, D::kResolution, u::kPixelsPerInch, 0, Src::kMedia, kMedia,
        SK::kNumber, "C1", 60, At(0x16C, 4)),
    Def(0x9, label::kDepth, VT::kInt32, D::kInteger, u::kBits, 0, Src::kMedia, kMedia, SK::kNumber, "C1", 60,
        At(0x174, 4)),
    Def(0xd, label::kPages, VT::kInt32, D::kInteger, 0, 0, Src::kMedia, kMedia, SK::kNumber, "C1", 60,
        At(0x34C, 4)),
    Def(0x1b, label::kSampleColor, VT::kInt32, D::kInteger, 0, 0, Src::kMedia, kMedia, SK::kNone, "C2", 60,
        At(0x170, 4)),
    Def(0xe, label::kPoster, VT::kInt32, D::kInteger, 0, 0, Src::kMedia, kMedia, SK::kNone, "H", 60,
        At(0x350, 4)),
    Def(0xf, label::kTracks, VT::kInt32, D::kInteger, 0, 0, Src::kMedia, kMedia, SK::kNumber, "C1", 60,
        At(0x354, 4)),
    Def(0x10, label::kDuration, VT::kInt32, D::kDuration, 0, 0, Src::kMedia, kMedia, SK::kNumber, "C1", 90,
        At(0x358, 4)),
    Def(0x11, label::kAudioChannels, VT::kInt32, D::kShortChoice, 0, choice::kAudioChannels, Src::kMedia, kMedia,
        SK::kNumber, "C1", 60, At(0x35C, 4)),
    Def(0x12, label::kAudioRate, VT::kInt32, D::kInteger, u::kHertz, 0, Src::kMedia, kMedia, SK::kNumber, "C1",
        60, At(0x360, 4)),
    Def(0x13, label::kAudioBitSize, VT::kInt32, D::kInteger, u::kBits, 0, Src::kMedia, kMedia, SK::kNumber, "C1",
        60, At(0x364, 4)),
    Def(0x22, label::kDataRate, VT::kInt32, D::kByteRate, u::kPerSecond, 0, Src::kMedia, kMedia, SK::kNumber,
        "C2", 90, At(0x36C, 4)),
    Def(0x23, label::kFrameRate, VT::kInt32, D::kFrameRate, u::kFramesPerSecond, 0, Src::kMedia, kMedia,
        SK::kNumber, "C2", 90, At(0x370, 4)),
    Def(0x14, label::kSpatialQuality, VT::kInt32, D::kQuality, 0, choice::kQuality, Src::kMedia, kMedia,
        SK::kNumber, "C2", 90, At(0x374, 4)),
    Def(0x15, label::kColorSpace, VT::kInt32, D::kTypeCode, 0, 0, Src::kMedia, kMedia, SK::kNone, "C2", 60,
        At(0x398, 4)),
    Def(0x18, label::kColorProfile, VT::kText, D::kText, 0, 0, Src::kMedia, kMedia, SK::kNone, "Z C1", 90,
        At(0x3C0, 32)),
    Def(0x19, label::kCharacters, VT::kInt32, D::kInteger, 0, 0, Src::kMedia, kMedia, SK::kNumber, "Z C2", 60,
        At(0x3E0, 4)),
    Def(0x1a, label::kParagraphs, VT::kInt32, D::kInteger, 0, 0, Src::kMedia, kMedia, SK::kNumber, "Z C2", 60,
        At(0x3E4, 4)),
    Def(0x16, label::kCompression, VT::kInt32, D::kColonPair16, 0, 0, Src::kMedia, kMedia, SK::kNone, "Z C2", 90,
        At(0x39C, 4)),
    Def(0xb, label::kCreated, VT::kInt32, D::kDateTime, 0, 0, Src::kMedia, kMedia, SK::kDate, "Z C1", 90,
        At(0x344, 4)),
    Def(0xc, label::kModified, VT::kInt32, D::kDateTime, 0, 0, Src::kMedia, kMedia, SK::kDate, "Z C1", 90,
        At(0x348, 4)),
    Def(0xa, label::kArchived, VT::kInt32, D::kDateTime, 0, 0, Src::kMedia, kMedia, SK::kNone, "Z C1", 90,
        At(0x340, 4)),
    Def(0x21, label::kAnnotated, VT::kInt32, D::kDateTime, 0, 0, Src::kMedia, kMedia, SK::kDate, "Z C2", 90,
        At(0x368, 4)),
    Def(0x1e, label::kThumbnailSize, VT::kInt32, D::kInteger, u::kBytes, 0, Src::kMedia, kMedia, SK::kNumber,
        "Z C2", 60, At(0x3F4, 4)),
    Def(0x1f, label::kAnnotationsSize, VT::kInt32, D::kInteger, u::kBytes, 0, Src::kMedia, kMedia, SK::kNumber,
        "Z C2", 60, At(0x3F8, 4)),
    Def(0x1c, label::kRecordingSize, VT::kInt32, D::kInteger, u::kBytes, 0, Src::kMedia, kMedia, SK::kNumber,
        "Z C2", 60, At(0x3EC, 4)),
    Def(0x1d, label::kMetadataSize, VT::kInt32, D::kInteger, u::kBytes, 0, Src::kMedia, kMedia, SK::kNone, "Z H",
        60, At(0x3F0, 4)),
    Def(0x20, label::kUrlSize, VT::kInt32, D::kInteger, u::kBytes, 0, Src::kMedia, kMedia, SK::kNone, "Z H", 60,
        At(0x3FC, 4)),
    Def(fid::kTrackList, label::kNone, VT::kTrackList, D::kNone, 0, 0, Src::kMetadata, kMedia, SK::kNone, "L H",
        90),
    Def(fid::kChapterList, label::kNone, VT::kChapterList, D::kChapter, 0, 0, Src::kMetadata, kMedia, SK::kNone,
        "L H", 90),
    Def(fid::kMaker, label::kMaker, VT::kText, D::kText, 0, 0, Src::kMetadata, kMedia, SK::kText, "Z M C2", 90),
    Def(fid::kModel, label::kModel, VT::kText, D::kText, 0, 0, Src::kMetadata, kMedia, SK::kText, "Z M C2", 90),
    Def(fid::kSoftware, label::kSoftware, VT::kText, D::kText, 0, 0, Src::kMetadata, kMedia, SK::kText, "Z M C2",
        90),
    Def(fid::kFormat, label::kFormat, VT::kText, D::kText, 0, 0, Src::kMetadata, kMedia, SK::kText, "Z M C2", 90),
    Def(0xb4, kCompositeLabel, VT::kText, D::kText, 0, 0, Src::kCatalog, kMedia, SK::kText, "Z C2", 120),
    Def(kEx + 0x9000, label::kExifVersion, VT::kInt32, D::kExifVersion, 0, 0, Src::kMetadata, kExif, SK::kNone,
        "C1", 60),
    Def(kEx + 0xa000, label::kFlashPixVersion, VT::kInt32, D::kExifVersion, 0, 0, Src::kMetadata, kExif,
        SK::kNone, "H", 60),
    Def(kEx + 0x9003, label::kCaptureDate, VT::kInt32, D::kDateTime, 0, 0, Src::kMetadata, kExif, SK::kDate,
        "Z C1", 60),
    Def(kEx + 0x829d, label::kAperture, VT::kRational, D::kAperture, 0, 0, Src::kMetadata, kExif, SK::kNone, "C1",
        60),
    Def(kEx + 0x829a, label::kShutterSpeed, VT::kRational, D::kShutterSpeed, u::kSeconds, 0, Src::kMetadata, kExif,
        SK::kNone, "C1", 60),
    Def(kEx + 0x9204, label::kExposureBias, VT::kRational, D::kExposureBias, 0, 0, Src::kMetadata, kExif,
        SK::kNone, "Z C1", 60),
    Def(kEx + 0x8822, label::kExposureProgram, VT::kInt16, D::kExifChoice, 0, choice::kExposureProgram,
        Src::kMetadata, kExif, SK::kNone, "Z C1", 60),
    Def(kEx + 0x920a, label::kFocalLength, VT::kRational, D::kFocalLength, u::kMillimetres, 0, Src::kMetadata,
        kExif, SK::kNone, "C1", 60),
    Def(kEx + 0x9206, label::kFocusDistance, VT::kRational, D::kDistance, u::kMetres, 0, Src::kMetadata, kExif,
        SK::kNone, "C1", 60),
    Def(kEx + 0xa217, label::kSensing, VT::kInt16, D::kExifChoice, 0, choice::kSensing, Src::kMetadata, kExif,
        SK::kNone, "Z C1", 60),
    Def(kEx + 0x9208, label::kLightSource, VT::kInt16, D::kExifChoice, 0, choice::kLightSource, Src::kMetadata,
        kExif, SK::kNone, "Z C1", 60),
    Def(kEx + 0x9209, label::kFlash, VT::kInt16, D::kFlash, 0, choice::kFlash, Src::kMetadata, kExif, SK::kNone,
        "Z C1", 60),
    Def(kEx + 0x9207, label::kMetering, VT::kInt16, D::kExifChoice, 0, choice::kMetering, Src::kMetadata, kExif,
        SK::kNone, "Z C1", 60),
    Def(kEx + 0x8827, label::kIsoSpeed, VT::kInt16, D::kIsoSpeed, 0, 0, Src::kMetadata, kExif, SK::kNone, "Z C1",
        60),
    Def(kEx + 0x9102, label::kRatio, VT::kRational, D::kColonPair32, u::kBitsPerPixel, 0, Src::kMetadata, kExif,
        SK::kNone, "Z C1", 60),
    Def(kEx + 0xb001, label::kNoiseReduction, VT::kInt16, D::kExifChoice, 0, choice::kFlash, Src::kMetadata, kExif,
        SK::kNone, "Z C1", 60),
    Def(kEx + 0xb002, label::kLens, VT::kText, D::kText, 0, 0, Src::kMetadata, kExif, SK::kNone, "C1", 60),
    Def(fid::kLatitude, label::kLatitude, VT::kText, D::kText, 0, 0, Src::kMetadata, kExif, SK::kNone, "C1", 60),
    Def(fid::kLongitude, label::kLongitude, VT::kText, D::kText, 0, 0, Src::kMetadata, kExif, SK::kNone, "C1", 60),
    Def(fid::kAltitude, label::kAltitude, VT::kText, D::kText, 0, 0, Src::kMetadata, kExif, SK::kNone, "C1", 60),
    Annotation(0x269, label::kTitle, "Z C2"),
    Annotation(0x205, label::kProduct, "Z C2"),
    Annotation(0x20f, label::kGenre, "G Z C2"),
    Annotation(0x216, label::kEvent, "G Z C2"),
    Def(0x237, label::kEventDate, VT::kInt32, D::kDateOnly, 0, 0, Src::kAnnotation, kNotes, SK::kDate, "C2", 90),
    Annotation(0x250, label::kAuthor, "G Z C2"),
    Annotation(0x255, label::kAuthorTitle, "G Z C2"),
    Annotation(0x26e, label::kCredit, "G Z C2"),
    Annotation(0x273, label::kSource, "G Z C2"),
    Annotation(0x274, label::kCopyright, "G Z C2"),
    Annotation(0x267, label::kTransmission, "G Z C2"),
    Annotation(0x2e3, label::kUrl, "Z C2", 120),
    Annotation(0x25c, label::kLocation, "G Z C2"),
    Annotation(0x25a, label::kCity, "G Z C2"),
    Annotation(0x25f, label::kState, "G Z C2"),
    Annotation(0x265, label::kCountry, "G Z C2"),
    Annotation(0x228, label::kInstructions, "G Z C2"),
    Annotation(0x207, label::kStatus, "G Z C2"),
    Annotation(0x27a, label::kWriter, "G Z C2"),
    Annotation(0x276, label::kPeople, "L G Z C2"),
    Annotation(0x219, label::kKeywords, "L G Z C2"),
    Annotation(0x214, label::kCategories, "L G Z C2"),
    Annotation(0x278, label::kCaption, "T Z C2", 120),
    Custom(0x301), Custom(0x302), Custom(0x303), Custom(0x304), Custom(0x305), Custom(0x306),
    Custom(0x307), Custom(0x308), Custom(0x309), Custom(0x30a), Custom(0x30b), Custom(0x30c),
    Custom(0x30d), Custom(0x30e), Custom(0x30f), Custom(0x310),
}};

struct MaxLength {
  FieldId id;
  int max;
};

// The longest text each annotation field takes: its IPTC-IIM dataset's
// maximum less one, so that the IPTC records carry every character.
constexpr MaxLength kMaxLengths[] = {
    {0x20a, 1},   {0x20f, 3},   {0x214, 31},  {0x216, 31},  {0x250, 31},  {0x255, 31},  {0x25a, 31},
    {0x25c, 31},  {0x25f, 31},  {0x267, 31},  {0x26e, 31},  {0x273, 31},  {0x27a, 31},  {0x205, 63},
    {0x207, 63},  {0x219, 63},  {0x265, 63},  {0x274, 127}, {0x276, 127}, {0x2, 255},   {0x228, 255},
    {0x237, 255}, {0x269, 255}, {0x2e3, 255}, {0x278, 2000},
};
constexpr int kCustomFieldMaxLength = 255;

std::string LabelText(std::uint8_t index) {
  return std::string(StringText(kLabelStringBase + index));
}

}  // namespace

const FieldDefinition* FindField(FieldId id) {
  for (const FieldDefinition& f : kFields) {
    if (f.id == id) return &f;
  }
  return nullptr;
}

FieldId FieldIdAt(int index) {
  if (index < 1 || index > kFieldCount) return 0;
  return kFields[static_cast<std::size_t>(index - 1)].id;
}

int FieldCount() { return kFieldCount; }

ErrorCode FieldLabel(const catalog::Catalog* catalog, FieldId id, std::string& label) {
  label.clear();
  const FieldDefinition* f = FindField(id);
  if (f == nullptr) return err::kParam;
  switch (f->label) {
    case kCompositeLabel: {
      label = FieldLabel(catalog, field_ids::kSource) + "-" + FieldLabel(catalog, field_ids::kUrl);
      break;
    }
    case kCustomLabel: {
      auto position = static_cast<std::size_t>(id - field_ids::kFirstCustom);
      if (catalog != nullptr && position < catalog->custom_field_names.size() &&
          !catalog->custom_field_names[position].empty()) {
        label = catalog->custom_field_names[position];
      } else {
        label = kMissingCustomName;
      }
      break;
    }
    default: label = LabelText(f->label); break;
  }
  return err::kNone;
}

std::string FieldLabel(const catalog::Catalog* catalog, FieldId id) {
  std::string label;
  // An unknown field has no label: the empty text is the answer.
  (void)FieldLabel(catalog, id, label);
  return label;
}

FieldId FindFieldByLabel(const catalog::Catalog* catalog, std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    FieldId id = 0;
    auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), id, 16);
    if (ec == std::errc() && end == text.data() + text.size() && FindField(id) != nullptr) return id;
    return 0;
  }
  for (const FieldDefinition& f : kFields) {
    std::string label;
    // Labels are Windows-1252; the text asked for is UTF-8, compared as
    // search forms (case and normalisation ignored).
    if (FieldLabel(catalog, f.id, label) == err::kNone && !label.empty() &&
        SameSearchForm(Windows1252ToUtf8(label), text)) {
      return f.id;
    }
  }
  return 0;
}

std::string FieldUnitLabel(FieldId id) {
  const FieldDefinition* f = FindField(id);
  if (f == nullptr || f->unit == units::kNone) return {};
  return std::string(StringText(kUnitStringBase + f->unit));
}

std::string FieldSectionName(FieldId id) {
  const FieldDefinition* f = FindField(id);
  if (f == nullptr) return {};
  return std::string(StringText(kSectionStringBase + f->section));
}

int DefaultColumnWidth(FieldId id) {
  const FieldDefinition* f = FindField(id);
  if (f == nullptr || f->width == 0) return kDefaultColumnWidth;
  return f->width * kColumnWidthStep;
}

int FieldMaxLength(FieldId id) {
  if (IsCustomField(id)) return kCustomFieldMaxLength;
  for (const MaxLength& m : kMaxLengths) {
    if (m.id == id) return m.max;
  }
  return 0;
}

bool IsListField(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr && f->style == FieldStyle::kList;
}

bool IsLongTextField(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr && f->style == FieldStyle::kLongText;
}

bool IsColumnField(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr && f->tier == Tier::kColumn;
}

bool IsCustomField(FieldId id) { return id >= field_ids::kFirstCustom && id <= field_ids::kLastCustom; }

bool IsMetadataTextField(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr && f->metadata_text != 0;
}

bool FieldShowsZero(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr && f->shows_zero != 0;
}

std::uint8_t FieldSection(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->section : 0;
}

SearchKind FieldSearchKind(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->search_kind : SearchKind::kNone;
}

bool FieldGroups(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr && f->groups != 0;
}

ValueType FieldValueType(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->value_type : ValueType::kNone;
}

Display FieldDisplay(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->display : Display::kNone;
}

FieldSource FieldSourceOf(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->source : FieldSource::kCatalog;
}

std::uint8_t FieldChoiceList(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->choice_list : 0;
}

std::uint8_t FieldUnit(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->unit : units::kNone;
}

Tier FieldTier(FieldId id) {
  const FieldDefinition* f = FindField(id);
  return f != nullptr ? f->tier : Tier::kHidden;
}

bool FieldStorage(FieldId id, std::size_t& offset, std::size_t& length) {
  const FieldDefinition* f = FindField(id);
  if (f == nullptr || f->storage == 0) {
    offset = 0;
    length = 0;
    return false;
  }
  offset = f->storage & 0xFFFFu;
  length = f->storage >> 16;
  return true;
}

std::string ChoiceName(std::uint8_t list, std::int64_t value) {
  if (list == 0 || value < 0 || value > 98) return {};
  return std::string(ListText(strings::kChoiceListBase + list, static_cast<int>(value) + 1));
}

}  // namespace norvo::metadata
