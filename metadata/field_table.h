// SPDX-License-Identifier: GPL-3.0-or-later
// The field table: one static definition for every item field (file, media
// and catalog facts, metadata read from files, annotations and the 16 custom
// fields). Whatever shows, sorts, searches, exports or maps a field looks it
// up here by its FieldId. Lookups search the table in order; an id the table
// does not hold gives the neutral answer named with each operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/byte_io.h"
#include "platform/error_codes.h"

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::metadata {

using FieldId = std::uint32_t;

// Id ranges and named ids.
namespace field_ids {
inline constexpr FieldId kPath = 0x1;
inline constexpr FieldId kFileName = 0x2;
inline constexpr FieldId kFileTypeName = 0x3;
inline constexpr FieldId kFileType = 0x4;
inline constexpr FieldId kFileSize = 0x5;
inline constexpr FieldId kWidth = 0x6;
inline constexpr FieldId kHeight = 0x7;
inline constexpr FieldId kResolution = 0x8;
inline constexpr FieldId kDimensions = 0x41;
inline constexpr FieldId kMediaType = 0x42;
inline constexpr FieldId kUniqueId = 0x44;
inline constexpr FieldId kOrientation = 0x45;
inline constexpr FieldId kCatalogSets = 0xa2;
inline constexpr FieldId kItemUrl = 0xb4;
inline constexpr FieldId kAnnotationBase = 0x200;  // + IPTC record-2 dataset
inline constexpr FieldId kLabels = 0x20a;
inline constexpr FieldId kSource = 0x273;
inline constexpr FieldId kCaption = 0x278;
inline constexpr FieldId kUrl = 0x2e3;
inline constexpr FieldId kFirstCustom = 0x301;
inline constexpr FieldId kLastCustom = 0x310;
inline constexpr FieldId kExifBase = 0x65780000;  // + EXIF sub-IFD tag ("ex")
inline constexpr FieldId kVolumeName = FourCC("VNam");
inline constexpr FieldId kTrackList = FourCC("TRCK");
inline constexpr FieldId kChapterList = FourCC("CHAP");
inline constexpr FieldId kMaker = 0xA96D616Bu;     // 0xA9 "mak"
inline constexpr FieldId kModel = 0xA96D6F64u;     // 0xA9 "mod"
inline constexpr FieldId kSoftware = 0xA9737772u;  // 0xA9 "swr"
inline constexpr FieldId kFormat = 0xA9666D74u;    // 0xA9 "fmt"
inline constexpr FieldId kLatitude = FourCC("LATD");
inline constexpr FieldId kLongitude = FourCC("LOTD");
inline constexpr FieldId kAltitude = FourCC("ALTD");
}  // namespace field_ids

enum class ValueType : std::uint8_t {
  kNone = 0,
  kByte = 1,
  kInt16 = 2,
  kInt32 = 3,
  kRational = 4,  // two int32: numerator, denominator
  kText = 5,
  kChapterList = 6,
  kTrackList = 7,
};

enum class FieldStyle : std::uint8_t { kSingle = 0, kList = 1, kLongText = 2 };

enum class FieldSource : std::uint8_t { kCatalog = 0, kMedia = 1, kMetadata = 2, kAnnotation = 3, kSets = 4 };

// Display formats; FormatFieldValue turns a value into text by these.
enum class Display : std::uint8_t {
  kNone = 0,
  kText = 1,
  kByteChoice = 2,
  kByteSize = 3,
  kByteRate = 4,
  kTypeCode = 5,
  kDateTime = 6,
  kOrientationCode = 8,
  kDigit = 9,
  kInteger = 10,
  kDimensions = 11,
  kWidth = 12,
  kHeight = 13,
  kResolution = 14,
  kDuration = 15,
  kShortChoice = 16,
  kFrameRate = 17,
  kQuality = 18,
  kColonPair16 = 19,
  kExifVersion = 20,
  kShutterSpeed = 21,
  kAperture = 22,
  kExposureBias = 23,
  kExifChoice = 24,
  kFocalLength = 25,
  kDistance = 26,
  kShortInteger = 27,
  kIsoSpeed = 28,
  kColonPair32 = 29,
  kDateOnly = 30,
  kFlash = 31,
  kChapter = 32,
};

// Info panel sections: string 51600 + section.
namespace sections {
inline constexpr std::uint8_t kMediaInfo = 2;
inline constexpr std::uint8_t kAnnotations = 4;
inline constexpr std::uint8_t kPhotoExif = 9;
}  // namespace sections

enum class SearchKind : std::uint8_t { kNone = 0, kText = 1, kNumber = 2, kDate = 3, kTypeCode = 4 };

// 0: a find criterion only (when it has a search kind); 1: a list column and
// a find criterion; 2: neither.
enum class Tier : std::uint8_t { kFindOnly = 0, kColumn = 1, kHidden = 2 };

// Units: string 51100 + unit.
namespace units {
inline constexpr std::uint8_t kNone = 0;
inline constexpr std::uint8_t kSeconds = 1;
inline constexpr std::uint8_t kBitsPerPixel = 2;
inline constexpr std::uint8_t kMillimetres = 3;
inline constexpr std::uint8_t kMetres = 4;
inline constexpr std::uint8_t kBits = 5;
inline constexpr std::uint8_t kHertz = 6;
inline constexpr std::uint8_t kPixelsPerInch = 7;
inline constexpr std::uint8_t kPixelsPerCm = 8;
inline constexpr std::uint8_t kPixels = 9;
inline constexpr std::uint8_t kInches = 10;
inline constexpr std::uint8_t kCentimetres = 11;
inline constexpr std::uint8_t kPoints = 12;
inline constexpr std::uint8_t kPicas = 13;
inline constexpr std::uint8_t kBytes = 14;
inline constexpr std::uint8_t kFramesPerSecond = 15;
inline constexpr std::uint8_t kPerSecond = 16;
}  // namespace units

// Label bytes beyond the string indexes 1..99.
inline constexpr std::uint8_t kCompositeLabel = 254;  // label of 0x273, "-", label of 0x2e3
inline constexpr std::uint8_t kCustomLabel = 255;     // the custom field's own name
inline constexpr int kLabelStringBase = 51000;
inline constexpr int kUnitStringBase = 51100;
inline constexpr int kSectionStringBase = 51600;
inline constexpr char kMissingCustomName[] = "<?>";

inline constexpr int kColumnWidthStep = 30;  // pixels per width unit
inline constexpr int kDefaultColumnWidth = 90;

struct FieldDefinition {
  FieldId id;
  std::uint32_t storage;  // low 16 bits: offset in the fixed record, high 16: length; 0: elsewhere
  ValueType value_type;
  std::uint8_t metadata_text;  // 1: a text item of the metadata list keyed by the id
  FieldStyle style;
  FieldSource source;
  Display display;
  std::uint8_t width;  // column width in units of 30 pixels; 0 counts as 3
  std::uint8_t label;  // 1..99 string 51000 + label; kCompositeLabel; kCustomLabel; 0 none
  std::uint8_t unit;
  std::uint8_t choice_list;  // 0 none, else string list 520 + n
  std::uint8_t shows_zero;
  std::uint8_t section;
  SearchKind search_kind;
  std::uint8_t groups;
  Tier tier;
};

inline constexpr int kFieldCount = 110;

// The definition of `id`, or nullptr.
const FieldDefinition* FindField(FieldId id);
// The id at 1-based `index` in table order; 0 outside the table.
FieldId FieldIdAt(int index);
// The number of definitions.
int FieldCount();

// The label. Custom fields read their names from `catalog` (nullptr: none),
// "<?>" when the catalog has no name at the field's position. An unknown id
// gives "" and err::kParam.
ErrorCode FieldLabel(const catalog::Catalog* catalog, FieldId id, std::string& label);
std::string FieldLabel(const catalog::Catalog* catalog, FieldId id);
// The first field in table order whose label is `text` (UTF-8, case and
// normalisation ignored), or the field whose id `text` spells in hexadecimal ("0x219");
// 0 when there is none.
FieldId FindFieldByLabel(const catalog::Catalog* catalog, std::string_view text);

// String 51100 + unit; "" when the field has no unit or is unknown.
std::string FieldUnitLabel(FieldId id);
// The info panel section's name; "" for an unknown id.
std::string FieldSectionName(FieldId id);

// Width x 30 pixels; 90 when the width byte is 0 or the id is unknown.
int DefaultColumnWidth(FieldId id);
// The longest text the field takes, in characters; 0: no limit.
int FieldMaxLength(FieldId id);

bool IsListField(FieldId id);
bool IsLongTextField(FieldId id);
bool IsColumnField(FieldId id);  // tier 1
bool IsCustomField(FieldId id);
bool IsMetadataTextField(FieldId id);
bool FieldShowsZero(FieldId id);
std::uint8_t FieldSection(FieldId id);
SearchKind FieldSearchKind(FieldId id);
bool FieldGroups(FieldId id);
ValueType FieldValueType(FieldId id);
Display FieldDisplay(FieldId id);
FieldSource FieldSourceOf(FieldId id);
std::uint8_t FieldChoiceList(FieldId id);
std::uint8_t FieldUnit(FieldId id);
Tier FieldTier(FieldId id);
// Offset and length of the field's bytes in the fixed item record; false for
// fields kept elsewhere.
bool FieldStorage(FieldId id, std::size_t& offset, std::size_t& length);

// The name of value `value` in choice list `list` (1..): string
// (520 + list) x 100 + value + 1; "" for values without a name.
std::string ChoiceName(std::uint8_t list, std::int64_t value);

}  // namespace norvo::metadata
