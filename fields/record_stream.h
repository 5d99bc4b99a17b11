// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the records of many items at once, as searching and sorting a
// whole catalog do: the records are visited in the order they lie in their
// files and read through large windows, so that a catalog of thousands of
// items costs a few dozen reads instead of several per item. Each record is
// decoded by the catalog's own record decoders, as GetItemRecord would give
// it without its thumbnail and recording.
#pragma once

#include <functional>
#include <vector>

#include "catalog/catalog.h"

namespace norvo::fields {

// What a visit gets: the cell (from 1), the result of reading its record and
// the record. A false answer stops the walk.
using RecordVisitor = std::function<bool(int cell, ErrorCode result, const catalog::ItemRecord& record)>;

enum class RecordParts : std::uint8_t {
  kFixed,     // the fixed part only
  kSearched,  // the fixed part, the annotations, the URL and the metadata
};

// Visits the records of `cells` (every item when empty) in file order.
void ForEachItemRecord(const catalog::Catalog& catalog, RecordParts parts, const std::vector<int>& cells,
                       const RecordVisitor& visit);

}  // namespace norvo::fields
