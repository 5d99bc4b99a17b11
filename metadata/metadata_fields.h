// SPDX-License-Identifier: GPL-3.0-or-later
// The values of the fields that come from a file's metadata (maker, model,
// the photo EXIF fields, the GPS position) as the field table describes
// them, read from the item's metadata list. The list keeps each value in the
// stored form the EXIF reader chose; this is the one place that turns those
// forms back into field values.
#pragma once

#include <vector>

#include "metadata/field_format.h"
#include "metadata/field_table.h"
#include "metadata/metadata_list.h"

namespace norvo::metadata {

// The value of field `id` taken from `list`. False when the field does not
// come from the metadata list or the list holds no usable value for it.
bool MetadataFieldValue(const MetadataList& list, FieldId id, FieldValue* value);

struct MetadataField {
  FieldId id = 0;
  FieldValue value;
};

// Every metadata-sourced field that has a value in `list`, in table order.
std::vector<MetadataField> MetadataFieldsOf(const MetadataList& list);

}  // namespace norvo::metadata
