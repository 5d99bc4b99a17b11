// SPDX-License-Identifier: GPL-3.0-or-later
// The one way to the field values of a catalog item. Find, sort, the group
// indexes and the command line all read values here, whatever holds them:
// the fixed record (at the field's storage offset), the cell (label, ItemId,
// hidden flag), the annotation block, the metadata list, the URL part, the
// folder tree (path, volume) or the catalog sets that list the item.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "metadata/field_format.h"
#include "metadata/field_table.h"
#include "metadata/metadata_list.h"

namespace norvo::metadata {

class ItemFields {
 public:
  // Reads the item of `cell` (from 1) without its thumbnail and recording.
  ErrorCode read(const catalog::Catalog& catalog, int cell);
  // Reads from a record already read (as a search or sort of the whole
  // catalog reads many at once) for the item of `cell`, without copying it:
  // the record must stay as it is while this item is read. Names come with
  // the true names the catalog keeps.
  void assign(const catalog::Catalog& catalog, int cell, const catalog::ItemRecord& record);

  const catalog::Catalog& catalog() const { return *catalog_; }
  int cellNumber() const { return cell_; }
  const catalog::CatalogCell& cell() const { return catalog_->cells[static_cast<std::size_t>(cell_ - 1)]; }
  const catalog::ItemRecord& record() const { return borrowed_ != nullptr ? *borrowed_ : owned_; }

  // The item's file name in UTF-8 (its true name when it has one).
  std::string fileName() const;

  // Every value of the field, in order (one for a single-value field, one
  // per entry for a list field); empty when the item has none. Texts are
  // UTF-8 (FieldValue::utf8 set), except those of the metadata list, which
  // are Windows-1252.
  std::vector<FieldValue> values(FieldId id) const;
  // The first value; false when there is none.
  bool value(FieldId id, FieldValue* out) const;
  // The display text of every value in UTF-8 (ValueText); empty texts are
  // left out.
  std::vector<std::string> texts(FieldId id) const;
  // The display text of the first value, "" when there is none.
  std::string text(FieldId id) const;

 private:
  const MetadataList& metadata() const;
  // The fixed part in its stored layout with engine text, encoded once.
  std::span<const std::uint8_t> fixedBytes() const;

  const catalog::Catalog* catalog_ = nullptr;
  int cell_ = 0;
  catalog::ItemRecord owned_;                        // what read() reads
  const catalog::ItemRecord* borrowed_ = nullptr;  // what assign() was given
  mutable std::optional<MetadataList> metadata_;
  mutable std::optional<std::array<std::uint8_t, catalog::kFixedPartSize>> fixed_;
};

// The display text of a value of field `id` in UTF-8: a text as it is
// (whatever its encoding), any other value as FormatFieldValue shows it
// without units.
std::string ValueText(const FieldValue& value, FieldId id);

// The item's names in UTF-8 from a record read without the true names the
// catalog keeps beside it (as a whole-catalog search reads records): the
// true name when the catalog has one for the item and its 8-bit field still
// holds its rendering, else the 8-bit field read as Windows-1252.
std::string ItemFileName(const catalog::Catalog& catalog, std::uint32_t item_id, const catalog::ItemRecord& record);
std::string ItemDisplayName(const catalog::Catalog& catalog, std::uint32_t item_id,
                            const catalog::ItemRecord& record);

// The date that files the item under a Date Finder group: the capture date
// of its metadata when it has one, else its file's modification date, else
// its creation date; 0 when it has none of them.
std::uint32_t DateFinderDate(const ItemFields& item);

// Calendar day of a date in seconds since 1904 (the catalog's local time).
struct CalendarDay {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
};
CalendarDay CalendarDayOf(std::uint32_t date_time);
// Midnight of a calendar day in seconds since 1904; 0 before 1904.
std::uint32_t DateTimeOfDay(const CalendarDay& day);

// The names of the catalog sets that list `item_id`, in index order.
std::vector<std::string> CatalogSetsOf(const catalog::Catalog& catalog, std::uint32_t item_id);

}  // namespace norvo::metadata
