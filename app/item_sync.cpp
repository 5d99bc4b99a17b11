// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/item_sync.h"

#include "metadata/annotation_sync.h"
#include "metadata/embedded_annotations.h"
#include "metadata/field_table.h"
#include "metadata/iptc_records.h"
#include "platform/file.h"
#include "platform/file_replace.h"

namespace norvo::app {

ErrorCode SyncItemIntoFile(catalog::Catalog& c, int cell, SyncForm form, std::string* file, std::string* why) {
  if (cell < 1 || cell > c.itemCount()) return err::kParam;
  const catalog::CatalogCell cc = c.cells[static_cast<std::size_t>(cell - 1)];
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(c, cell, catalog::kWholeRecord, record); e != err::kNone) return e;
  if (ErrorCode e = catalog::LocateItemFile(c, cell, *file); e != err::kNone) return e;
  metadata::EmbeddedAnnotations annotations{.block = record.annotations,
                                            .label = static_cast<std::uint8_t>(cc.label()),
                                            .iptc_fields = metadata::kIptcAnnotationFields,
                                            .max_length = [](metadata::FieldId id) { return metadata::FieldMaxLength(id); }};
  if (form == SyncForm::kIimFile) {
    const std::vector<std::uint8_t> records = metadata::EmbeddedIimRecords(annotations);
    *file += ".iim";
    if (!FileExists(*file)) {
      if (ErrorCode e = CreateFile(FileSpec{0, 0, LeafName(*file), *file}, 0, 0); e != err::kNone) return e;
    }
    if (ErrorCode e = ReplaceFileSafely(*file, records); e != err::kNone) return e;
  } else {
    if (ErrorCode e = metadata::WriteAnnotationsIntoFile(*file, annotations, why); e != err::kNone) return e;
  }
  // Re-read: locating the file may have repointed the item.
  const int now = c.cellOf(cc.item_id);
  catalog::ItemRecord written;
  if (now == 0 || catalog::GetItemRecord(c, now, catalog::kWholeRecord, written) != err::kNone ||
      metadata::UnsyncedUserFields(written).empty()) {
    return err::kNone;
  }
  const bool pending = c.cells[static_cast<std::size_t>(now - 1)].pending();
  metadata::ClearUnsyncedUserFields(written);
  if (ErrorCode e = catalog::ReplaceItemParts(c, now, written, catalog::parts::kMetadata); e != err::kNone) return e;
  if (pending) c.cells[static_cast<std::size_t>(now - 1)].flags |= catalog::cell_flags::kPending;
  return err::kNone;
}

}  // namespace norvo::app
