// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/annotation_sync.h"

#include <algorithm>

#include "metadata/metadata_list.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

// The record's list; an unreadable one holds nothing the catalog can show
// and is started afresh.
MetadataList ListOf(const catalog::ItemRecord& record) {
  MetadataList list;
  if (MetadataList::parse(record.metadata, &list) != err::kNone) list.clear();
  return list;
}

void StoreFields(catalog::ItemRecord& record, MetadataList& list, const std::vector<FieldId>& fields) {
  list.removeAll(kUserFieldsKey);
  if (!fields.empty()) {
    ByteWriter w(4 * fields.size());
    for (FieldId id : fields) w.u32be(id);
    list.add(kUserFieldsKey, w.buffer());
  }
  record.metadata = list.serialize();
}

}  // namespace

std::vector<FieldId> UnsyncedUserFields(const catalog::ItemRecord& record) {
  std::vector<FieldId> fields;
  MetadataList list = ListOf(record);
  const std::vector<std::uint8_t>* bytes = list.find(kUserFieldsKey, 1);
  if (bytes == nullptr) return fields;
  ByteReader r(*bytes);
  while (r.remaining() >= 4) fields.push_back(r.u32be());
  return fields;
}

void AddUnsyncedUserFields(catalog::ItemRecord& record, std::span<const FieldId> fields) {
  std::vector<FieldId> all = UnsyncedUserFields(record);
  for (FieldId id : fields) {
    if (std::find(all.begin(), all.end(), id) == all.end()) all.push_back(id);
  }
  MetadataList list = ListOf(record);
  StoreFields(record, list, all);
}

void ClearUnsyncedUserFields(catalog::ItemRecord& record) {
  MetadataList list = ListOf(record);
  if (list.count(kUserFieldsKey) == 0) return;
  StoreFields(record, list, {});
}

AnnotationBlock RebuiltAnnotations(std::span<const std::uint8_t> from_file, std::span<const std::uint8_t> item,
                                   std::span<const FieldId> user_fields) {
  auto typed = [&](FieldId id) { return std::find(user_fields.begin(), user_fields.end(), id) != user_fields.end(); };
  AnnotationBlock out;
  for (const AnnotationEntry& e : AnnotationEntries(from_file)) {
    if (typed(e.id())) continue;
    out.insert(out.end(), from_file.begin() + static_cast<std::ptrdiff_t>(e.offset),
               from_file.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size()));
  }
  for (const AnnotationEntry& e : AnnotationEntries(item)) {
    if (!typed(e.id())) continue;
    out.insert(out.end(), item.begin() + static_cast<std::ptrdiff_t>(e.offset),
               item.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size()));
  }
  return out;
}

}  // namespace norvo::metadata
