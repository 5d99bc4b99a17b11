// SPDX-License-Identifier: GPL-3.0-or-later
// Whose annotations an item holds: the file's, or the user's own.
//
// A field typed in the catalog is the user's until it is written into the
// file; meanwhile the item's metadata list names it under the key below.
// A rebuild reads the file's annotations afresh: the file's annotations
// replace the item's, so that a value another program changed, removed or
// cleared follows the file, except in the fields the user typed and never
// wrote into the file, which keep the user's values (and stay named).
// Writing the annotations into the file takes the names away.
#pragma once

#include <span>
#include <vector>

#include "catalog/item_record.h"
#include "metadata/annotation_block.h"

namespace norvo::metadata {

// The metadata list key: the ids of the fields typed in the catalog and not
// yet written into the file, 4 bytes each, big-endian.
inline constexpr std::uint32_t kUserFieldsKey = 0x6E557372;  // 'nUsr'

std::vector<FieldId> UnsyncedUserFields(const catalog::ItemRecord& record);
// Adds `fields` to the record's list (the caller writes the record with
// catalog::parts::kMetadata).
void AddUnsyncedUserFields(catalog::ItemRecord& record, std::span<const FieldId> fields);
void ClearUnsyncedUserFields(catalog::ItemRecord& record);

// The annotations a rebuild gives: the file's, with the fields in
// `user_fields` as the item holds them.
AnnotationBlock RebuiltAnnotations(std::span<const std::uint8_t> from_file, std::span<const std::uint8_t> item,
                                   std::span<const FieldId> user_fields);

}  // namespace norvo::metadata
