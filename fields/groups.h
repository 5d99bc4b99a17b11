// SPDX-License-Identifier: GPL-3.0-or-later
// Annotation groups and catalog sets: the organizer table of the fields that
// may carry a group index, the indexes kept by the catalog (one per field,
// entries sorted by name, or the catalog-set tree in pre-order), and the
// edits that keep every index in step with the items.
//
// Choices made here:
// - Date Finder groups are calendar months, named "YYYY-MM" (so that name
//   order is date order), filed by DateFinderDate.
// - Rebuilding an item's groups first takes it out of every group of the
//   field; a value group left without items by that disappears. Groups the
//   user added empty stay until removed.
// - Adding items to a Labels group sets their label to the group's number.
// - Deleting a set ("Delete entry...") deletes its sub-sets with it; the
//   items stay. "Delete entry and its content..." also removes the items of
//   the set and its sub-sets from the catalog.
// - Copied lists are plain text, one entry per line, indented by one tab per
//   level; a container's line ends with a tab.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/group_index.h"
#include "metadata/field_table.h"
#include "metadata/item_fields.h"

namespace norvo::fields {

struct OrganizerRow {
  std::uint32_t slot;
  metadata::FieldId field;
  // [0] the field is offered in the organize panel's field list;
  // [1] a new catalog keeps its index from the start;
  // [2] items may be added to a group (its value assigned);
  // [3] unused, kept 0.
  std::array<std::uint8_t, 4> options;
  std::uint32_t rename;  // 1: groups may be renamed
};
inline constexpr int kOrganizerRowCount = 44;

std::span<const OrganizerRow> OrganizerTable();
// The row of the field, or nullptr.
const OrganizerRow* OrganizerRowOf(metadata::FieldId id);
bool CanAddToGroup(metadata::FieldId id);
bool CanRenameGroup(metadata::FieldId id);

// The catalog's option byte of a field (stored in "MSOP" at the row's slot);
// without a stored byte, the row's first option byte.
std::uint8_t OrganizerOption(const catalog::Catalog& catalog, metadata::FieldId id);
ErrorCode SetOrganizerOption(catalog::Catalog& catalog, metadata::FieldId id, std::uint8_t value);

// --- reading ----------------------------------------------------------------

// The field's index when the catalog keeps one, else nullptr.
const catalog::GroupIndex* GroupIndexOf(const catalog::Catalog& catalog, metadata::FieldId id);
int GroupCount(const catalog::Catalog& catalog, metadata::FieldId id);
// The entry at 1-based `position`, or nullptr.
const catalog::GroupEntry* GroupAt(const catalog::Catalog& catalog, metadata::FieldId id, int position);

// Group names (UTF-8) compare ignoring case in every script: names with the
// same search form are one group; others follow the user's collation (so a
// prefix comes first). Indexes are kept in this order.
int CompareGroupNames(std::string_view a, std::string_view b);
struct GroupPlace {
  bool found = false;
  int position = 0;  // of the equal entry, or the one the name belongs before (count + 1 at the end)
};
GroupPlace FindGroup(const catalog::Catalog& catalog, metadata::FieldId id, std::string_view name);
// The 1-based position of the container holding the catalog set at
// `position`: the last earlier container one level up; 0 for none.
int ParentSet(const catalog::Catalog& catalog, int position);

// The group name of a Date Finder date ("2024-03"); "" for 0.
std::string DateFinderGroupName(std::uint32_t date_time);

// --- keeping indexes --------------------------------------------------------

// Starts keeping an index for the field, built from every item (the catalog
// sets start empty). Nothing happens when the catalog keeps one already.
ErrorCode KeepGroupIndex(catalog::Catalog& catalog, metadata::FieldId id);
void DropGroupIndex(catalog::Catalog& catalog, metadata::FieldId id);

// Files the item under its values in the field's index: clears every touched
// flag, then adds the item to the group of each value (created at its sorted
// place when missing) and marks those groups touched.
ErrorCode AddItemToGroups(catalog::Catalog& catalog, metadata::FieldId id, const metadata::ItemFields& item);
// Rebuilds the item's place in every index the catalog keeps, in table
// order: the fact fields and Labels always, annotation fields when
// `annotations_changed`, the catalog sets never.
ErrorCode UpdateGroupsForItem(catalog::Catalog& catalog, int cell, bool annotations_changed);

// --- edits that keep the indexes --------------------------------------------

// Replaces the values of annotation fields of one item: each edit gives the
// field and its new values (UTF-8; none clears the field).
struct AnnotationEdit {
  metadata::FieldId field = 0;
  std::vector<std::string> values;
};
ErrorCode EditItemAnnotations(catalog::Catalog& catalog, int cell, std::span<const AnnotationEdit> edits);
ErrorCode SetItemLabelWithGroups(catalog::Catalog& catalog, int cell, int label);
// Takes the item out of every index (sets included), then out of the catalog.
ErrorCode RemoveItemWithGroups(catalog::Catalog& catalog, int cell);

// Asked before a destructive command; true goes ahead. An empty callback
// goes ahead without asking.
using GroupQuestion = std::function<bool(std::string_view question)>;

// Assigns the group's value to the items (sets: adds them to the set and,
// for a container, to every set under it). err::kParam when the row does not allow it.
ErrorCode AddItemsToGroup(catalog::Catalog& catalog, metadata::FieldId id, int position,
                          std::span<const std::uint32_t> ids);
// Takes the items out of the group: a set loses them as members, a value
// group's value is cleared in them.
ErrorCode RemoveItemsFromGroup(catalog::Catalog& catalog, metadata::FieldId id, int position,
                               std::span<const std::uint32_t> ids, const GroupQuestion& ask);
// Renames a group. When another group (another set under the same parent)
// has the name already, nothing changes, err::kDuplicateName is returned and `existing` gets
// that group's position. A value group moves to its sorted place and its
// members' values are rewritten.
ErrorCode RenameGroup(catalog::Catalog& catalog, metadata::FieldId id, int position, std::string_view name,
                      int* existing = nullptr);
// Removes value groups (clearing their value in every member) or sets (the
// items stay); with `with_items`, the members are removed from the catalog.
ErrorCode RemoveGroups(catalog::Catalog& catalog, metadata::FieldId id, std::vector<int> positions, bool with_items,
                       const GroupQuestion& ask);
// Removes every catalog set.
ErrorCode RemoveAllSets(catalog::Catalog& catalog, const GroupQuestion& ask);
// Adds an empty value group (position out) when none of that name exists.
ErrorCode AddGroup(catalog::Catalog& catalog, metadata::FieldId id, std::string_view name, int* position = nullptr);

// Adds a catalog set: at the end of the top level (`parent` 0) or as the
// last child of the container at `parent`. err::kDuplicateName when a sibling has the name.
ErrorCode AddSet(catalog::Catalog& catalog, std::string_view name, bool container, int parent,
                 int* position = nullptr);
// The position of the set named `name` (case ignored) under `parent`
// (0: the top level; -1: anywhere, the first in list order); 0 for none.
int FindSet(const catalog::Catalog& catalog, std::string_view name, int parent = -1);
// A top-level set per group of the field (reusing a set of that name),
// holding the group's items: "Make sets from keywords / categories".
ErrorCode MakeSetsFromField(catalog::Catalog& catalog, metadata::FieldId id);

// The list as text, and a text list read back: sets become sets (levels
// and containers as written), other fields get empty groups.
std::string CopyGroupList(const catalog::Catalog& catalog, metadata::FieldId id);
ErrorCode PasteGroupList(catalog::Catalog& catalog, metadata::FieldId id, std::string_view text);

// The question texts.
std::string RemoveGroupsQuestion(const catalog::Catalog& catalog, metadata::FieldId id, std::span<const int> positions,
                                 bool with_items);

}  // namespace norvo::fields
