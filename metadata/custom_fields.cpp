// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/custom_fields.h"

#include <array>

#include "catalog/limits.h"
#include "metadata/annotation_block.h"
#include "metadata/string_table.h"
#include "platform/unicode_text.h"

namespace norvo::metadata {
namespace {

constexpr std::size_t kMaxCustomNameLength = catalog::kCustomFieldNameSize - 1;

std::size_t Position(FieldId id) { return static_cast<std::size_t>(id - field_ids::kFirstCustom); }

// A name's 8-bit rendering (one byte a character) must fit the stored field.
bool ValidName(std::string_view name) { return !name.empty() && CharacterCount(name) <= kMaxCustomNameLength; }

// The position of the field named `name`, skipping `except`; -1 when none.
int PositionOfName(const catalog::Catalog& catalog, std::string_view name, std::size_t except) {
  const auto& names = catalog.custom_field_names;
  for (std::size_t i = 0; i < names.size() && i < static_cast<std::size_t>(catalog::kMaxCustomFields); ++i) {
    if (i == except || names[i].empty()) continue;
    if (SameSearchForm(names[i], name)) return static_cast<int>(i);
  }
  return -1;
}

void NoteChange(catalog::Catalog& catalog) {
  catalog.markChanged();
  catalog.send(catalog::Notification::kCatalogChanged);
}

ErrorCode ClearFieldInItems(catalog::Catalog& catalog, FieldId id) {
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
    catalog::ItemRecord record;
    if (ErrorCode e = catalog::GetItemRecord(catalog, cell, catalog::kWithoutOptionalParts, record); e != err::kNone) return e;
    if (!RemoveAnnotations(id, record.annotations)) continue;
    bool pending = catalog.cells[static_cast<std::size_t>(cell - 1)].pending();
    if (ErrorCode e = catalog::ReplaceItemParts(catalog, cell, record, catalog::parts::kAnnotations);
        e != err::kNone) {
      return e;
    }
    // Clearing a value is no scan: an item still waiting for one keeps waiting.
    if (pending) catalog.cells[static_cast<std::size_t>(cell - 1)].flags |= catalog::cell_flags::kPending;
  }
  return err::kNone;
}

}  // namespace

int CustomFieldCount(const catalog::Catalog& catalog) {
  int count = 0;
  for (const auto& name : catalog.custom_field_names) count += name.empty() ? 0 : 1;
  return count;
}

std::string CustomFieldName(const catalog::Catalog& catalog, FieldId id) {
  if (!IsCustomField(id) || Position(id) >= catalog.custom_field_names.size()) return {};
  return catalog.custom_field_names[Position(id)];
}

FieldId FindCustomField(const catalog::Catalog& catalog, std::string_view name) {
  if (name.empty()) return 0;
  int position = PositionOfName(catalog, name, catalog.custom_field_names.size());
  return position < 0 ? 0 : field_ids::kFirstCustom + static_cast<FieldId>(position);
}

ErrorCode AddCustomField(catalog::Catalog& catalog, std::string_view name, FieldId* id) {
  if (!ValidName(name)) return err::kParam;
  auto& names = catalog.custom_field_names;
  std::size_t position = 0;
  while (position < names.size() && !names[position].empty()) ++position;
  if (position >= static_cast<std::size_t>(catalog::kMaxCustomFields)) return err::kTooManyCustomFields;
  if (PositionOfName(catalog, name, names.size()) >= 0) return err::kCustomFieldNameTaken;
  if (position == names.size()) names.emplace_back();
  names[position] = std::string(name);
  if (id != nullptr) *id = field_ids::kFirstCustom + static_cast<FieldId>(position);
  NoteChange(catalog);
  return err::kNone;
}

ErrorCode RenameCustomField(catalog::Catalog& catalog, FieldId id, std::string_view name) {
  if (!ValidName(name) || CustomFieldName(catalog, id).empty()) return err::kParam;
  if (PositionOfName(catalog, name, Position(id)) >= 0) return err::kCustomFieldNameTaken;
  std::string& current = catalog.custom_field_names[Position(id)];
  if (current == name) return err::kNone;
  current = std::string(name);
  NoteChange(catalog);
  return err::kNone;
}

ErrorCode RemoveCustomField(catalog::Catalog& catalog, FieldId id, const ConfirmCallback& confirm) {
  if (CustomFieldName(catalog, id).empty()) return err::kParam;
  if (confirm && !confirm(StringText(strings::kRemoveCustomFieldQuestion))) return err::kUserCancelled;
  // Values first: when an item cannot be rewritten the field keeps its name,
  // so that the user can see and retry what was not cleared.
  if (ErrorCode e = ClearFieldInItems(catalog, id); e != err::kNone) return e;
  auto& names = catalog.custom_field_names;
  names[Position(id)].clear();
  while (!names.empty() && names.back().empty()) names.pop_back();
  NoteChange(catalog);
  return err::kNone;
}

std::string CustomFieldMessage(ErrorCode code) {
  if (code != err::kCustomFieldNameTaken && code != err::kTooManyCustomFields) return {};
  return std::string(StringText(-code));
}

ErrorCode SetColourLabel(catalog::Catalog& catalog, int cell, int label) {
  if (label < 0 || label > catalog::kMaxLabel) label = 0;
  return catalog::SetItemLabel(catalog, cell, label);
}

namespace {

std::array<std::string, catalog::kMaxLabel + 1>& UserLabelNames() {
  static std::array<std::string, catalog::kMaxLabel + 1> names;
  return names;
}

}  // namespace

std::string ColourLabelName(int label) {
  if (label < 0 || label > catalog::kMaxLabel) return {};
  const std::string& named = UserLabelNames()[static_cast<std::size_t>(label)];
  if (!named.empty()) return named;
  return std::string(ListText(strings::kColourLabels, label + 1));
}

void SetColourLabelNames(std::span<const std::string> names) {
  auto& user = UserLabelNames();
  for (std::size_t i = 0; i < names.size() && i + 1 < user.size(); ++i) user[i + 1] = names[i];
}

}  // namespace norvo::metadata
