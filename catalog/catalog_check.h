// SPDX-License-Identifier: GPL-3.0-or-later
// A full reading of an open catalog, for `check`: every cell's record read
// the way the views read it, the record area's layout, the chunks that the
// open passed over or had to rebuild. What opening repairs by itself is in
// the Catalog's OpenReport; this finds what it cannot.
#pragma once

#include <string>
#include <vector>

#include "catalog/catalog.h"

namespace norvo::catalog {

struct CatalogProblem {
  int cell = 0;                // from 1; 0 for a problem of the whole catalog
  std::uint32_t item_id = 0;   // the item's id, when it is about one item
  std::string what;            // what is wrong, for the user
  std::string repair;          // what RepairCatalog does about it
  bool removes_item = false;   // the repair removes the item
};

std::vector<CatalogProblem> VerifyCatalog(const Catalog& catalog);

// Removes the items whose records cannot be read, and the group entries of
// ItemIds no cell holds. The caller saves. Returns how many items went.
int RepairCatalog(Catalog& catalog, const std::vector<CatalogProblem>& problems);

}  // namespace norvo::catalog
