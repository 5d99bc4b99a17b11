// SPDX-License-Identifier: GPL-3.0-or-later
#include "fields/groups.h"

#include <algorithm>

#include "metadata/annotation_block.h"
#include "metadata/annotation_sync.h"
#include "metadata/custom_fields.h"
#include "platform/unicode_text.h"

namespace norvo::fields {
namespace {

// Field definitions, values and annotations of the layer below.
using metadata::AddUnsyncedUserFields;
using metadata::AnnotationBlock;
using metadata::AnnotationValue;
using metadata::BlockText;
using metadata::BlockTextFromUtf8;
using metadata::CalendarDay;
using metadata::CalendarDayOf;
using metadata::DateFinderDate;
using metadata::FieldId;
using metadata::FieldSource;
using metadata::FieldSourceOf;
using metadata::FindField;
using metadata::GetAnnotations;
using metadata::IsListField;
using metadata::ItemFields;
using metadata::RemoveAnnotations;
using metadata::SetAnnotationText;
using metadata::SetColourLabel;
using metadata::SetMode;
namespace field_ids = metadata::field_ids;

using catalog::GroupEntry;
using catalog::GroupIndex;

constexpr OrganizerRow Row(std::uint32_t slot, FieldId field, std::uint8_t offered, std::uint8_t sets,
                           std::uint8_t add, std::uint32_t rename) {
  return OrganizerRow{slot, field, {offered, sets, add, 0}, rename};
}

constexpr std::array<OrganizerRow, kOrganizerRowCount> kRows = {{
    Row(0, 0x20a, 1, 0, 1, 0),   Row(43, 0x2f2, 0, 0, 1, 0),  Row(38, 0xa2, 1, 1, 1, 1),
    Row(5, 0xa1, 1, 0, 0, 0),    Row(1, 0x3, 1, 0, 0, 0),     Row(2, 0x43, 1, 0, 0, 0),
    Row(3, 0x18, 1, 0, 0, 0),    Row(4, 0x1b, 1, 0, 1, 0),    Row(11, 0x205, 1, 0, 1, 1),
    Row(13, 0x20f, 1, 0, 1, 1),  Row(6, 0x216, 1, 0, 1, 1),   Row(15, 0x207, 1, 0, 1, 1),
    Row(12, 0x250, 1, 0, 1, 1),  Row(36, 0x26e, 1, 0, 1, 1),  Row(14, 0x273, 1, 0, 1, 1),
    Row(35, 0x267, 1, 0, 1, 1),  Row(37, 0x274, 1, 0, 1, 1),  Row(9, 0x265, 1, 0, 1, 1),
    Row(34, 0x25f, 1, 0, 1, 1),  Row(8, 0x25a, 1, 0, 1, 1),   Row(7, 0x25c, 1, 0, 1, 1),
    Row(10, 0x276, 1, 0, 1, 1),  Row(16, 0x219, 1, 0, 1, 1),  Row(17, 0x214, 1, 0, 1, 1),
    Row(39, 0x2e0, 0, 0, 1, 1),  Row(40, 0x20c, 0, 0, 1, 0),  Row(41, 0x40, 0, 0, 1, 0),
    Row(42, 0x2e1, 0, 0, 1, 0),  Row(18, 0x301, 1, 0, 1, 1),  Row(19, 0x302, 1, 0, 1, 1),
    Row(20, 0x303, 1, 0, 1, 1),  Row(21, 0x304, 1, 0, 1, 1),  Row(22, 0x305, 1, 0, 1, 1),
    Row(23, 0x306, 1, 0, 1, 1),  Row(24, 0x307, 1, 0, 1, 1),  Row(25, 0x308, 1, 0, 1, 1),
    Row(26, 0x309, 1, 0, 1, 1),  Row(27, 0x30a, 1, 0, 1, 1),  Row(28, 0x30b, 1, 0, 1, 1),
    Row(29, 0x30c, 1, 0, 1, 1),  Row(30, 0x30d, 1, 0, 1, 1),  Row(31, 0x30e, 1, 0, 1, 1),
    Row(32, 0x30f, 1, 0, 1, 1),  Row(33, 0x310, 1, 0, 1, 1),
}};

// Question texts by string number.
constexpr std::string_view kRemoveGroupsQuestion =
    "Remove the selected groups?\nThis will clear the annotation from all associated media items.";  // 14606, 14607
constexpr std::string_view kRemoveOneGroupQuestion =
    "Remove group '^0'?\nThis will clear the annotation from all associated catalog items.";  // 13015
constexpr std::string_view kRemoveGroupWithItemsQuestion =
    "Remove group '^0' and all associated items?\nNote that this will also remove all associated items from the "
    "catalog.";  // 13014
constexpr std::string_view kRemoveGroupsWithItemsQuestion =
    "Remove the selected groups?\nThis will remove all associated media items from the catalog.";  // 14612
constexpr std::string_view kRemoveSetsQuestion =
    "Remove the selected sets?\nThis will delete the sets from the catalog.";  // 14608, 14609
constexpr std::string_view kRemoveFromSetQuestion =
    "Remove ^0 from current set?\nThis command will remove all selected items from the current set.";  // 13024
constexpr std::string_view kRemoveFromGroupQuestion =
    "Remove ^0 from group '^1'?\nThis will remove the selected items from the current annotation group.";  // 13008
constexpr std::string_view kRemoveAllSetsQuestion =
    "Remove all media sets from this catalog?\nThis command can't be undone.";  // 13009

std::string Fill(std::string_view pattern, std::string_view a, std::string_view b = {}) {
  std::string out(pattern);
  if (auto at = out.find("^0"); at != std::string::npos) out.replace(at, 2, a);
  if (auto at = out.find("^1"); at != std::string::npos) out.replace(at, 2, b);
  return out;
}

bool Ask(const GroupQuestion& ask, const std::string& question) { return !ask || ask(question); }

bool IsSets(FieldId id) { return id == field_ids::kCatalogSets; }
bool IsDateFinder(FieldId id) { return id == 0xa1; }

// Fields whose groups follow facts the scan sets, rebuilt on every update.
bool AlwaysRebuilt(FieldId id) {
  return id == field_ids::kFileTypeName || id == 0x43 || id == 0x18 || id == 0x1b || id == 0xa1 ||
         id == field_ids::kLabels;
}

GroupIndex* MutableIndex(catalog::Catalog& catalog, FieldId id) {
  const OrganizerRow* row = OrganizerRowOf(id);
  if (row == nullptr) return nullptr;
  auto& indexes = catalog::GroupIndexesOf(catalog);
  auto it = indexes.find(row->slot);
  return it == indexes.end() ? nullptr : &it->second;
}

// The longest group name: its 8-bit rendering (one byte a character) fills
// the stored name field.
constexpr std::size_t kMaxGroupNameCharacters = catalog::kGroupNameWidth - 1;

bool ValidGroupName(std::string_view name) {
  return !name.empty() && CharacterCount(name) <= kMaxGroupNameCharacters;
}

// Whether an index is known to be in CompareGroupNames order: one built
// here is; one read from a catalog file may have been sorted by another
// program by another rule (or in another locale).
enum class IndexOrder : std::uint8_t { kOurs, kUnknown };

// Looks the name up by halving. In an index of unknown order that search
// may miss an equal entry, so a name it does not find is looked for entry by
// entry before it counts as new.
GroupPlace FindIn(const GroupIndex& index, std::string_view name, IndexOrder order = IndexOrder::kUnknown) {
  std::size_t low = 0;
  std::size_t high = index.size();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    const int r = CompareGroupNames(index[middle].name, name);
    if (r == 0) return {true, static_cast<int>(middle) + 1};
    if (r < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  const int position = static_cast<int>(low) + 1;
  if (order == IndexOrder::kOurs) return {false, position};
  const std::string wanted = SearchForm(name);
  std::string form;
  for (std::size_t i = 0; i < index.size(); ++i) {
    form.clear();
    AppendSearchForm(index[i].name, form);
    if (form == wanted) return {true, static_cast<int>(i) + 1};
  }
  return {false, position};
}

bool HasId(const GroupEntry& e, std::uint32_t id) { return std::find(e.ids.begin(), e.ids.end(), id) != e.ids.end(); }
bool AddId(GroupEntry& e, std::uint32_t id) {
  if (HasId(e, id)) return false;
  e.ids.push_back(id);
  return true;
}
bool RemoveId(GroupEntry& e, std::uint32_t id) { return std::erase(e.ids, id) > 0; }

// The group names an item files under in the field.
std::vector<std::string> GroupNamesOf(const ItemFields& item, FieldId id) {
  if (IsDateFinder(id)) {
    std::string name = DateFinderGroupName(DateFinderDate(item));
    return name.empty() ? std::vector<std::string>{} : std::vector<std::string>{name};
  }
  std::vector<std::string> names;
  for (const std::string& t : item.texts(id)) names.emplace_back(FirstCharacters(t, kMaxGroupNameCharacters));
  return names;
}

bool AddToIndex(GroupIndex& index, FieldId id, const ItemFields& item, IndexOrder order = IndexOrder::kUnknown) {
  for (GroupEntry& e : index) e.touched = 0;
  bool changed = false;
  const std::uint32_t item_id = item.cell().item_id;
  for (const std::string& name : GroupNamesOf(item, id)) {
    GroupPlace place = FindIn(index, name, order);
    if (!place.found) {
      GroupEntry e;
      e.name = name;
      index.insert(index.begin() + (place.position - 1), std::move(e));
      changed = true;
    }
    GroupEntry& e = index[static_cast<std::size_t>(place.position - 1)];
    changed |= AddId(e, item_id);
    e.touched = 1;
  }
  return changed;
}

// Takes the item out of the field's groups and files it again; groups that
// held it and are left empty go.
bool RefileItem(GroupIndex& index, FieldId id, const ItemFields& item) {
  const std::uint32_t item_id = item.cell().item_id;
  std::vector<std::string> had;
  for (GroupEntry& e : index) {
    if (RemoveId(e, item_id)) had.push_back(e.name);
  }
  AddToIndex(index, id, item);
  std::vector<std::string> now;
  for (const GroupEntry& e : index) {
    if (HasId(e, item_id)) now.push_back(e.name);
  }
  std::erase_if(index, [&had](const GroupEntry& e) {
    return e.ids.empty() && std::find(had.begin(), had.end(), e.name) != had.end();
  });
  return had != now;
}

// The range [first, end) of the set at `position` (1-based) and its sub-sets.
std::pair<std::size_t, std::size_t> Subtree(const GroupIndex& sets, int position) {
  std::size_t first = static_cast<std::size_t>(position - 1);
  std::size_t end = first + 1;
  while (end < sets.size() && sets[end].level > sets[first].level) ++end;
  return {first, end};
}

// The values of an annotation field in an item, in UTF-8.
std::vector<std::string> Utf8Values(const catalog::ItemRecord& record, FieldId id) {
  std::vector<std::string> out;
  for (const AnnotationValue& v : GetAnnotations(id, record.annotations)) out.push_back(v.utf8());
  return out;
}

void WriteUtf8Values(catalog::ItemRecord& record, FieldId id, const std::vector<std::string>& values) {
  RemoveAnnotations(id, record.annotations);
  for (const std::string& v : values) {
    if (v.empty()) continue;
    BlockText text = BlockTextFromUtf8(v);
    SetAnnotationText(id, 0, text.bytes, record.annotations, SetMode::kAppend, text.marker);
  }
}

bool WritableField(FieldId id) { return FieldSourceOf(id) == FieldSource::kAnnotation && FindField(id) != nullptr; }

// Rewrites one annotation field of the item by `change` (UTF-8 values) and
// files the item again.
template <class Change>
ErrorCode ChangeItemValues(catalog::Catalog& catalog, int cell, FieldId id, Change change) {
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(catalog, cell, catalog::kWholeRecord, record); e != err::kNone) return e;
  std::vector<std::string> values = Utf8Values(record, id);
  std::vector<std::string> next = change(values);
  if (!IsListField(id) && next.size() > 1) next.resize(1);
  if (next == values) return err::kNone;
  WriteUtf8Values(record, id, next);
  if (ErrorCode e = catalog::ReplaceItemParts(catalog, cell, record, catalog::parts::kAnnotations); e != err::kNone) {
    return e;
  }
  return UpdateGroupsForItem(catalog, cell, true);
}

bool SameName(std::string_view a, std::string_view b) { return SameSearchForm(a, b); }

}  // namespace

std::span<const OrganizerRow> OrganizerTable() { return kRows; }

const OrganizerRow* OrganizerRowOf(FieldId id) {
  for (const OrganizerRow& row : kRows) {
    if (row.field == id) return &row;
  }
  return nullptr;
}

bool CanAddToGroup(FieldId id) {
  const OrganizerRow* row = OrganizerRowOf(id);
  return row != nullptr && row->options[2] != 0;
}

bool CanRenameGroup(FieldId id) {
  const OrganizerRow* row = OrganizerRowOf(id);
  return row != nullptr && row->rename != 0;
}

std::uint8_t OrganizerOption(const catalog::Catalog& catalog, FieldId id) {
  const OrganizerRow* row = OrganizerRowOf(id);
  if (row == nullptr) return 0;
  if (catalog.msop.size() == catalog::kOrganizerOptionsSize) return catalog.msop[row->slot];
  return row->options[0];
}

ErrorCode SetOrganizerOption(catalog::Catalog& catalog, FieldId id, std::uint8_t value) {
  const OrganizerRow* row = OrganizerRowOf(id);
  if (row == nullptr) return err::kParam;
  if (catalog.msop.size() != catalog::kOrganizerOptionsSize) {
    catalog.msop.assign(catalog::kOrganizerOptionsSize, 0);
    for (const OrganizerRow& r : kRows) catalog.msop[r.slot] = r.options[0];
  }
  if (catalog.msop[row->slot] == value) return err::kNone;
  catalog.msop[row->slot] = value;
  catalog.markChanged();
  return err::kNone;
}

const catalog::GroupIndex* GroupIndexOf(const catalog::Catalog& catalog, FieldId id) {
  const OrganizerRow* row = OrganizerRowOf(id);
  if (row == nullptr) return nullptr;
  const auto& indexes = catalog::GroupIndexesOf(catalog);
  auto it = indexes.find(row->slot);
  return it == indexes.end() ? nullptr : &it->second;
}

int GroupCount(const catalog::Catalog& catalog, FieldId id) {
  const GroupIndex* index = GroupIndexOf(catalog, id);
  return index ? static_cast<int>(index->size()) : 0;
}

const catalog::GroupEntry* GroupAt(const catalog::Catalog& catalog, FieldId id, int position) {
  const GroupIndex* index = GroupIndexOf(catalog, id);
  if (index == nullptr || position < 1 || position > static_cast<int>(index->size())) return nullptr;
  return &(*index)[static_cast<std::size_t>(position - 1)];
}

int CompareGroupNames(std::string_view a, std::string_view b) { return CompareNames(a, b); }

GroupPlace FindGroup(const catalog::Catalog& catalog, FieldId id, std::string_view name) {
  const GroupIndex* index = GroupIndexOf(catalog, id);
  if (index == nullptr) return {false, 1};
  return FindIn(*index, name);
}

int ParentSet(const catalog::Catalog& catalog, int position) {
  const GroupIndex* sets = GroupIndexOf(catalog, field_ids::kCatalogSets);
  if (sets == nullptr || position < 1 || position > static_cast<int>(sets->size())) return 0;
  const std::uint8_t level = (*sets)[static_cast<std::size_t>(position - 1)].level;
  if (level == 0) return 0;
  for (int p = position - 1; p >= 1; --p) {
    const GroupEntry& e = (*sets)[static_cast<std::size_t>(p - 1)];
    if (e.container != 0 && e.level + 1 == level) return p;
  }
  return 0;
}

std::string DateFinderGroupName(std::uint32_t date_time) {
  if (date_time == 0) return {};
  CalendarDay d = CalendarDayOf(date_time);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", d.year, d.month);
  return text;
}

ErrorCode KeepGroupIndex(catalog::Catalog& catalog, FieldId id) {
  const OrganizerRow* row = OrganizerRowOf(id);
  if (row == nullptr) return err::kParam;
  auto& indexes = catalog::GroupIndexesOf(catalog);
  if (indexes.contains(row->slot)) return err::kNone;
  GroupIndex index;
  if (!IsSets(id)) {
    ItemFields item;
    for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
      if (ErrorCode e = item.read(catalog, cell); e != err::kNone) return e;
      AddToIndex(index, id, item, IndexOrder::kOurs);
    }
    for (GroupEntry& e : index) e.touched = 0;
  }
  indexes.emplace(row->slot, std::move(index));
  catalog.markChanged();
  return err::kNone;
}

void DropGroupIndex(catalog::Catalog& catalog, FieldId id) {
  const OrganizerRow* row = OrganizerRowOf(id);
  if (row != nullptr && catalog::GroupIndexesOf(catalog).erase(row->slot) > 0) catalog.markChanged();
}

ErrorCode AddItemToGroups(catalog::Catalog& catalog, FieldId id, const ItemFields& item) {
  GroupIndex* index = MutableIndex(catalog, id);
  if (index == nullptr || IsSets(id)) return err::kParam;
  if (AddToIndex(*index, id, item)) catalog.markChanged();
  return err::kNone;
}

ErrorCode UpdateGroupsForItem(catalog::Catalog& catalog, int cell, bool annotations_changed) {
  ItemFields item;
  bool read = false;
  for (const OrganizerRow& row : kRows) {
    if (IsSets(row.field) || !(annotations_changed || AlwaysRebuilt(row.field))) continue;
    GroupIndex* index = MutableIndex(catalog, row.field);
    if (index == nullptr) continue;
    if (!read) {
      if (ErrorCode e = item.read(catalog, cell); e != err::kNone) return e;
      read = true;
    }
    if (RefileItem(*index, row.field, item)) {
      catalog.markChanged();
      catalog.send(catalog::Notification::kCatalogChanged, item.cell().item_id);
    }
  }
  return err::kNone;
}

ErrorCode EditItemAnnotations(catalog::Catalog& catalog, int cell, std::span<const AnnotationEdit> edits) {
  for (const AnnotationEdit& edit : edits) {
    if (!WritableField(edit.field)) return err::kParam;
  }
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(catalog, cell, catalog::kWholeRecord, record); e != err::kNone) return e;
  const auto before = record.annotations;
  for (const AnnotationEdit& edit : edits) {
    RemoveAnnotations(edit.field, record.annotations);
    std::size_t count = IsListField(edit.field) ? edit.values.size() : std::min<std::size_t>(edit.values.size(), 1);
    for (std::size_t i = 0; i < count; ++i) {
      if (edit.values[i].empty()) continue;
      BlockText text = BlockTextFromUtf8(edit.values[i]);
      SetAnnotationText(edit.field, 0, text.bytes, record.annotations, SetMode::kAppend, text.marker);
    }
  }
  if (record.annotations == before) return err::kNone;
  // Typed in the catalog: the user's own until written into the file.
  std::vector<FieldId> typed;
  for (const AnnotationEdit& edit : edits) typed.push_back(edit.field);
  AddUnsyncedUserFields(record, typed);
  if (ErrorCode e = catalog::ReplaceItemParts(catalog, cell, record,
                                              catalog::parts::kAnnotations | catalog::parts::kMetadata);
      e != err::kNone) {
    return e;
  }
  return UpdateGroupsForItem(catalog, cell, true);
}

ErrorCode SetItemLabelWithGroups(catalog::Catalog& catalog, int cell, int label) {
  if (cell < 1 || cell > catalog.itemCount()) return err::kParam;
  int before = catalog.cells[static_cast<std::size_t>(cell - 1)].label();
  if (ErrorCode e = SetColourLabel(catalog, cell, label); e != err::kNone) return e;
  if (catalog.cells[static_cast<std::size_t>(cell - 1)].label() == before) return err::kNone;
  return UpdateGroupsForItem(catalog, cell, false);
}

ErrorCode RemoveItemWithGroups(catalog::Catalog& catalog, int cell) {
  // The catalog takes a removed item out of its group indexes itself.
  return catalog::RemoveItem(catalog, cell);
}

ErrorCode AddItemsToGroup(catalog::Catalog& catalog, FieldId id, int position, std::span<const std::uint32_t> ids) {
  const GroupEntry* entry = GroupAt(catalog, id, position);
  if (entry == nullptr || !CanAddToGroup(id)) return err::kParam;
  for (std::uint32_t item_id : ids) {
    if (catalog.cellOf(item_id) == 0) return err::kParam;
  }
  if (IsSets(id)) {
    GroupIndex& sets = *MutableIndex(catalog, id);
    auto [first, end] = entry->container ? Subtree(sets, position) : std::pair{static_cast<std::size_t>(position - 1),
                                                                             static_cast<std::size_t>(position)};
    bool changed = false;
    for (std::size_t i = first; i < end; ++i) {
      for (std::uint32_t item_id : ids) changed |= AddId(sets[i], item_id);
    }
    if (changed) {
      catalog.markChanged();
      catalog.send(catalog::Notification::kCatalogChanged);
    }
    return err::kNone;
  }
  const std::string name = entry->name;
  if (id == field_ids::kLabels) {
    int label = name.size() == 1 && name[0] >= '0' && name[0] <= '9' ? name[0] - '0' : 0;
    for (std::uint32_t item_id : ids) {
      if (ErrorCode e = SetItemLabelWithGroups(catalog, catalog.cellOf(item_id), label); e != err::kNone) return e;
    }
    return err::kNone;
  }
  if (!WritableField(id)) return err::kParam;
  for (std::uint32_t item_id : ids) {
    ErrorCode e = ChangeItemValues(catalog, catalog.cellOf(item_id), id, [&](std::vector<std::string> values) {
      if (!IsListField(id)) return std::vector<std::string>{name};
      for (const std::string& v : values) {
        if (SameName(v, name)) return values;
      }
      values.push_back(name);
      return values;
    });
    if (e != err::kNone) return e;
  }
  return err::kNone;
}

ErrorCode RemoveItemsFromGroup(catalog::Catalog& catalog, FieldId id, int position,
                               std::span<const std::uint32_t> ids, const GroupQuestion& ask) {
  const GroupEntry* entry = GroupAt(catalog, id, position);
  if (entry == nullptr) return err::kParam;
  const std::string name = entry->name;
  std::string count = std::to_string(ids.size()) + (ids.size() == 1 ? " item" : " items");
  if (IsSets(id)) {
    if (!Ask(ask, Fill(kRemoveFromSetQuestion, count))) return err::kUserCancelled;
    GroupEntry& set = (*MutableIndex(catalog, id))[static_cast<std::size_t>(position - 1)];
    bool changed = false;
    for (std::uint32_t item_id : ids) changed |= RemoveId(set, item_id);
    if (changed) catalog.markChanged();
    return err::kNone;
  }
  if (!Ask(ask, Fill(kRemoveFromGroupQuestion, count, name))) return err::kUserCancelled;
  for (std::uint32_t item_id : ids) {
    int cell = catalog.cellOf(item_id);
    const GroupEntry* now = GroupAt(catalog, id, FindGroup(catalog, id, name).position);
    if (cell == 0 || now == nullptr || !HasId(*now, item_id)) continue;
    ErrorCode e = err::kNone;
    if (id == field_ids::kLabels) {
      e = SetItemLabelWithGroups(catalog, cell, 0);
    } else if (WritableField(id)) {
      e = ChangeItemValues(catalog, cell, id, [&](std::vector<std::string> values) {
        std::erase_if(values, [&](const std::string& v) { return SameName(v, name); });
        return values;
      });
    } else {
      e = err::kParam;
    }
    if (e != err::kNone) return e;
  }
  return err::kNone;
}

ErrorCode RenameGroup(catalog::Catalog& catalog, FieldId id, int position, std::string_view name, int* existing) {
  if (existing) *existing = 0;
  const GroupEntry* entry = GroupAt(catalog, id, position);
  if (entry == nullptr || !CanRenameGroup(id) || !ValidGroupName(name)) {
    return err::kParam;
  }
  GroupIndex& index = *MutableIndex(catalog, id);
  if (IsSets(id)) {
    int other = FindSet(catalog, name, ParentSet(catalog, position));
    if (other != 0 && other != position) {
      if (existing) *existing = other;
      return err::kDuplicateName;
    }
    if (index[static_cast<std::size_t>(position - 1)].name != name) {
      index[static_cast<std::size_t>(position - 1)].name = std::string(name);
      catalog.markChanged();
    }
    return err::kNone;
  }
  GroupPlace place = FindIn(index, name);
  if (place.found && place.position != position) {
    if (existing) *existing = place.position;
    return err::kDuplicateName;
  }
  if (!WritableField(id)) return err::kParam;
  const std::string old_name = entry->name;
  const std::vector<std::uint32_t> members = entry->ids;
  // The entry moves to its sorted place under the new name; the members'
  // values are then rewritten, which files them under that entry again.
  GroupEntry moved = std::move(index[static_cast<std::size_t>(position - 1)]);
  index.erase(index.begin() + (position - 1));
  moved.name = std::string(name);
  GroupPlace to = FindIn(index, name);
  index.insert(index.begin() + (to.position - 1), std::move(moved));
  catalog.markChanged();
  for (std::uint32_t item_id : members) {
    int cell = catalog.cellOf(item_id);
    if (cell == 0) continue;
    ErrorCode e = ChangeItemValues(catalog, cell, id, [&](std::vector<std::string> values) {
      for (std::string& v : values) {
        if (SameName(v, old_name)) v = std::string(name);
      }
      return values;
    });
    if (e != err::kNone) return e;
  }
  return err::kNone;
}

std::string RemoveGroupsQuestion(const catalog::Catalog& catalog, FieldId id, std::span<const int> positions,
                                 bool with_items) {
  const GroupEntry* first = positions.empty() ? nullptr : GroupAt(catalog, id, positions[0]);
  std::string name = first ? first->name : std::string();
  if (IsSets(id) && !with_items) return std::string(kRemoveSetsQuestion);
  if (with_items) {
    return positions.size() == 1 ? Fill(kRemoveGroupWithItemsQuestion, name)
                                 : std::string(kRemoveGroupsWithItemsQuestion);
  }
  return positions.size() == 1 ? Fill(kRemoveOneGroupQuestion, name) : std::string(kRemoveGroupsQuestion);
}

ErrorCode RemoveGroups(catalog::Catalog& catalog, FieldId id, std::vector<int> positions, bool with_items,
                       const GroupQuestion& ask) {
  for (int p : positions) {
    if (GroupAt(catalog, id, p) == nullptr) return err::kParam;
  }
  if (positions.empty()) return err::kNone;
  if (!IsSets(id) && !with_items && id != field_ids::kLabels && !WritableField(id)) return err::kParam;
  if (!Ask(ask, RemoveGroupsQuestion(catalog, id, positions, with_items))) return err::kUserCancelled;
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());

  if (IsSets(id)) {
    GroupIndex& sets = *MutableIndex(catalog, id);
    std::vector<bool> gone(sets.size(), false);
    std::vector<std::uint32_t> members;
    for (int p : positions) {
      auto [first, end] = Subtree(sets, p);
      for (std::size_t i = first; i < end; ++i) {
        gone[i] = true;
        members.insert(members.end(), sets[i].ids.begin(), sets[i].ids.end());
      }
    }
    GroupIndex kept;
    for (std::size_t i = 0; i < sets.size(); ++i) {
      if (!gone[i]) kept.push_back(std::move(sets[i]));
    }
    sets = std::move(kept);
    catalog.markChanged();
    if (with_items) {
      std::sort(members.begin(), members.end());
      members.erase(std::unique(members.begin(), members.end()), members.end());
      for (std::uint32_t item_id : members) {
        if (int cell = catalog.cellOf(item_id); cell != 0) {
          if (ErrorCode e = RemoveItemWithGroups(catalog, cell); e != err::kNone) return e;
        }
      }
    }
    return err::kNone;
  }

  std::vector<std::string> names;
  for (int p : positions) names.push_back(GroupAt(catalog, id, p)->name);
  for (const std::string& name : names) {
    GroupPlace place = FindGroup(catalog, id, name);
    if (!place.found) continue;
    const std::vector<std::uint32_t> members = GroupAt(catalog, id, place.position)->ids;
    for (std::uint32_t item_id : members) {
      int cell = catalog.cellOf(item_id);
      if (cell == 0) continue;
      ErrorCode e = err::kNone;
      if (with_items) {
        e = RemoveItemWithGroups(catalog, cell);
      } else if (id == field_ids::kLabels) {
        e = SetItemLabelWithGroups(catalog, cell, 0);
      } else {
        e = ChangeItemValues(catalog, cell, id, [&](std::vector<std::string> values) {
          std::erase_if(values, [&](const std::string& v) { return SameName(v, name); });
          return values;
        });
      }
      if (e != err::kNone) return e;
    }
    // An entry no item fed (or one the user added empty) goes as well.
    GroupIndex& index = *MutableIndex(catalog, id);
    GroupPlace left = FindIn(index, name);
    if (left.found) index.erase(index.begin() + (left.position - 1));
    catalog.markChanged();
  }
  return err::kNone;
}

ErrorCode RemoveAllSets(catalog::Catalog& catalog, const GroupQuestion& ask) {
  GroupIndex* sets = MutableIndex(catalog, field_ids::kCatalogSets);
  if (sets == nullptr || sets->empty()) return err::kNone;
  if (!Ask(ask, std::string(kRemoveAllSetsQuestion))) return err::kUserCancelled;
  sets->clear();
  catalog.markChanged();
  return err::kNone;
}

ErrorCode AddGroup(catalog::Catalog& catalog, FieldId id, std::string_view name, int* position) {
  if (IsSets(id)) return AddSet(catalog, name, false, 0, position);
  GroupIndex* index = MutableIndex(catalog, id);
  if (index == nullptr || !ValidGroupName(name)) return err::kParam;
  GroupPlace place = FindIn(*index, name);
  if (position) *position = place.position;
  if (place.found) return err::kDuplicateName;
  GroupEntry e;
  e.name = std::string(name);
  index->insert(index->begin() + (place.position - 1), std::move(e));
  catalog.markChanged();
  return err::kNone;
}

int FindSet(const catalog::Catalog& catalog, std::string_view name, int parent) {
  const GroupIndex* sets = GroupIndexOf(catalog, field_ids::kCatalogSets);
  if (sets == nullptr) return 0;
  for (int p = 1; p <= static_cast<int>(sets->size()); ++p) {
    if (!SameName((*sets)[static_cast<std::size_t>(p - 1)].name, name)) continue;
    if (parent < 0 || ParentSet(catalog, p) == parent) {
      // A set at level above 0 without a container over it counts as top level.
      if (parent == 0 && (*sets)[static_cast<std::size_t>(p - 1)].level != 0 && ParentSet(catalog, p) == 0) continue;
      return p;
    }
  }
  return 0;
}

ErrorCode AddSet(catalog::Catalog& catalog, std::string_view name, bool container, int parent, int* position) {
  if (!ValidGroupName(name)) return err::kParam;
  if (ErrorCode e = KeepGroupIndex(catalog, field_ids::kCatalogSets); e != err::kNone) return e;
  GroupIndex& sets = *MutableIndex(catalog, field_ids::kCatalogSets);
  if (parent < 0 || parent > static_cast<int>(sets.size())) return err::kParam;
  if (parent > 0 && sets[static_cast<std::size_t>(parent - 1)].container == 0) return err::kParam;
  if (int other = FindSet(catalog, name, parent); other != 0) {
    if (position) *position = other;
    return err::kDuplicateName;
  }
  GroupEntry e;
  e.name = std::string(name);
  e.container = container ? 1 : 0;
  std::size_t at = sets.size();
  if (parent > 0) {
    e.level = static_cast<std::uint8_t>(sets[static_cast<std::size_t>(parent - 1)].level + 1);
    at = Subtree(sets, parent).second;
  }
  sets.insert(sets.begin() + static_cast<std::ptrdiff_t>(at), std::move(e));
  if (position) *position = static_cast<int>(at) + 1;
  catalog.markChanged();
  return err::kNone;
}

ErrorCode MakeSetsFromField(catalog::Catalog& catalog, FieldId id) {
  if (IsSets(id) || OrganizerRowOf(id) == nullptr) return err::kParam;
  // The groups of the field, whether or not the catalog keeps its index.
  GroupIndex groups;
  ItemFields item;
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
    if (ErrorCode e = item.read(catalog, cell); e != err::kNone) return e;
    AddToIndex(groups, id, item, IndexOrder::kOurs);
  }
  for (const GroupEntry& g : groups) {
    int position = 0;
    ErrorCode e = AddSet(catalog, g.name, false, 0, &position);
    if (e != err::kNone && e != err::kDuplicateName) return e;
    if (ErrorCode f = AddItemsToGroup(catalog, field_ids::kCatalogSets, position, g.ids); f != err::kNone) return f;
  }
  return err::kNone;
}

std::string CopyGroupList(const catalog::Catalog& catalog, FieldId id) {
  std::string out;
  const GroupIndex* index = GroupIndexOf(catalog, id);
  if (index == nullptr) return out;
  for (const GroupEntry& e : *index) {
    out.append(IsSets(id) ? e.level : 0, '\t');
    out += e.name;
    if (IsSets(id) && e.container) out += '\t';
    out += '\n';
  }
  return out;
}

ErrorCode PasteGroupList(catalog::Catalog& catalog, FieldId id, std::string_view text) {
  if (OrganizerRowOf(id) == nullptr) return err::kParam;
  if (ErrorCode e = KeepGroupIndex(catalog, id); e != err::kNone) return e;
  // Containers opened by the pasted lines, by level.
  std::vector<int> open;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t level = 0;
    while (level < line.size() && line[level] == '\t') ++level;
    line.remove_prefix(level);
    bool container = !line.empty() && line.back() == '\t';
    while (!line.empty() && line.back() == '\t') line.remove_suffix(1);
    if (line.empty()) continue;
    line = FirstCharacters(line, kMaxGroupNameCharacters);
    if (!IsSets(id)) {
      ErrorCode e = AddGroup(catalog, id, line);
      if (e != err::kNone && e != err::kDuplicateName) return e;
      continue;
    }
    level = std::min(level, open.size());
    int parent = level == 0 ? 0 : open[level - 1];
    int position = 0;
    ErrorCode e = AddSet(catalog, line, container, parent, &position);
    if (e != err::kNone && e != err::kDuplicateName) return e;
    open.resize(level);
    // A sub-set goes in after its parent's other sub-sets, so the containers
    // still open (all before it) keep their positions.
    if (GroupAt(catalog, id, position)->container) open.push_back(position);
  }
  return err::kNone;
}

}  // namespace norvo::fields
