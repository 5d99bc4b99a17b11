// SPDX-License-Identifier: GPL-3.0-or-later
// The fields a user defines or sets on a catalog without an annotation
// editor: the up to 16 custom fields (ids 0x301..0x310) and the colour label.
//
// A custom field's name sits in Catalog::custom_field_names at position
// id - 0x301 (stored in the catalog file as its custom field table). A
// removed field leaves an empty name at its position, so that the fields
// after it keep their ids and their values; the next added field takes the
// first empty position.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "catalog/catalog.h"
#include "metadata/field_table.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

// Failures of the custom field operations are err::kCustomFieldNameTaken and
// err::kTooManyCustomFields: the negated number of the message that tells the
// user (CustomFieldMessage gives its text).

// Asked before a field and its values are erased; true goes ahead.
using ConfirmCallback = std::function<bool(std::string_view question)>;

// Names in use.
int CustomFieldCount(const catalog::Catalog& catalog);
// The field's name; "" when the catalog has none at its position.
std::string CustomFieldName(const catalog::Catalog& catalog, FieldId id);
// The field of that name, or 0. Names compare ignoring case in every script
// (SameSearchForm): "Straße" is "STRASSE", "Клиент" is "КЛИЕНТ".
FieldId FindCustomField(const catalog::Catalog& catalog, std::string_view name);

// Adds a field named `name` (UTF-8, 1 to 255 characters) at the first free
// position. err::kTooManyCustomFields when all 16 are in use, err::kCustomFieldNameTaken when the name is.
ErrorCode AddCustomField(catalog::Catalog& catalog, std::string_view name, FieldId* id = nullptr);
// Renames a field in use; its values stay. err::kCustomFieldNameTaken when another field has
// the name.
ErrorCode RenameCustomField(catalog::Catalog& catalog, FieldId id, std::string_view name);
// Asks `confirm` the remove question (message 13022) and, when it agrees,
// removes the field's name and clears its values in every item. err::kUserCancelled when
// the user declines; an empty `confirm` removes without asking (scripts).
// The first error of an item's record ends the run and keeps the name.
ErrorCode RemoveCustomField(catalog::Catalog& catalog, FieldId id, const ConfirmCallback& confirm);
// The message text for err::kCustomFieldNameTaken and err::kTooManyCustomFields; "" for other codes.
std::string CustomFieldMessage(ErrorCode code);

// Sets the colour label of the item in `cell` (from 1): 1..9, or 0 for none
// and for any number outside 0..9. Keeps the catalog's labelled-item count.
ErrorCode SetColourLabel(catalog::Catalog& catalog, int cell, int label);
// "None", "Red" .. "Gray", or the names the user gave labels 1..9 in the
// settings; "" outside 0..9. Windows-1252.
std::string ColourLabelName(int label);
// The user's names of labels 1..9 (Windows-1252), set at start-up before any
// search runs; an empty name keeps the label's default.
void SetColourLabelNames(std::span<const std::string> names);

}  // namespace norvo::metadata
