// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/metadata_fields.h"

#include <string>

#include "metadata/exif_dates.h"
#include "metadata/gps_text.h"
#include "metadata/list_keys.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_tags.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

// The four version characters ("0230") as one number, first character in
// the high byte, the form the version display reads.
bool VersionValue(const MetadataList& list, std::uint32_t key, FieldValue* value) {
  std::string text = GetPlainText(list, key);
  if (text.size() < 4) return false;
  ByteReader r({reinterpret_cast<const std::uint8_t*>(text.data()), 4});
  *value = FieldValue::Number(r.u32be());
  return true;
}

bool TextValue(std::string text, FieldValue* value) {
  if (text.empty()) return false;
  *value = FieldValue::Text(std::move(text));
  return true;
}

}  // namespace

bool MetadataFieldValue(const MetadataList& list, FieldId id, FieldValue* value) {
  const FieldDefinition* field = FindField(id);
  if (field == nullptr || field->source != FieldSource::kMetadata) return false;
  if (field->metadata_text != 0) {
    std::string text;
    if (list.getText(id, 1, &text) != err::kNone) return false;
    return TextValue(std::move(text), value);
  }
  switch (id) {
    case field_ids::kLatitude:
      return TextValue(GpsLatitudeText(list), value);
    case field_ids::kLongitude:
      return TextValue(GpsLongitudeText(list), value);
    case field_ids::kAltitude:
      return TextValue(GpsAltitudeText(list), value);
    case ExifKey(kTagDateTimeOriginal): {
      std::uint32_t date = CaptureDateFromExif(GetPlainText(list, id));
      if (date == 0) return false;
      *value = FieldValue::Number(date);
      return true;
    }
    case ExifKey(kTagExifVersion):
    case ExifKey(kTagFlashPixVersion):
      return VersionValue(list, id, value);
    default:
      break;
  }
  switch (field->value_type) {
    case ValueType::kInt16: {
      std::uint16_t v = 0;
      if (!GetShort(list, id, &v)) return false;
      *value = FieldValue::Number(v);
      return true;
    }
    case ValueType::kRational: {
      std::int32_t n = 0;
      std::int32_t d = 0;
      if (!GetRational(list, id, 0, &n, &d)) return false;
      *value = FieldValue::Rational(n, d);
      return true;
    }
    case ValueType::kText:
      return TextValue(GetPlainText(list, id), value);
    default:
      // Track and chapter lists are read by the movie facts, not shown here.
      return false;
  }
}

std::vector<MetadataField> MetadataFieldsOf(const MetadataList& list) {
  std::vector<MetadataField> out;
  for (int i = 1; i <= FieldCount(); ++i) {
    FieldId id = FieldIdAt(i);
    MetadataField f;
    f.id = id;
    if (MetadataFieldValue(list, id, &f.value)) out.push_back(std::move(f));
  }
  return out;
}

}  // namespace norvo::metadata
