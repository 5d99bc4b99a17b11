// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/catalog_check.h"

#include <algorithm>
#include <set>

#include "catalog/group_index.h"
#include "platform/text_encoding.h"

namespace norvo::catalog {
namespace {

constexpr char kRemoveRepair[] = "the item is removed from the catalog";

struct Placed {
  std::int64_t offset;
  std::int64_t end;
  int cell;
};

std::string ItemLabel(int cell, std::uint32_t id) {
  return "item " + std::to_string(id) + " (position " + std::to_string(cell) + ")";
}

}  // namespace

std::vector<CatalogProblem> VerifyCatalog(const Catalog& catalog) {
  std::vector<CatalogProblem> problems;
  auto item_problem = [&](int cell, const std::string& what) {
    const std::uint32_t id = catalog.cells[static_cast<std::size_t>(cell - 1)].item_id;
    problems.push_back({cell, id, ItemLabel(cell, id) + ": " + what, kRemoveRepair, true});
  };

  // Every record, read as the views read it: the fixed part, then all parts.
  std::vector<Placed> in_file;
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
    const CatalogCell& c = catalog.cells[static_cast<std::size_t>(cell - 1)];
    const std::int64_t area_end = c.inScratch() ? catalog.scratch_end : catalog.directory_offset;
    const std::int64_t area_start = c.inScratch() ? 0 : static_cast<std::int64_t>(kHeaderSize);
    if (c.offset < area_start || static_cast<std::int64_t>(kFixedPartSize) > area_end - c.offset) {
      item_problem(cell, "its record at offset " + std::to_string(c.offset) + " lies outside the record area (" +
                             std::to_string(area_start) + " to " + std::to_string(area_end) + ")");
      continue;
    }
    ItemRecord record;
    if (ErrorCode e = GetItemRecord(catalog, cell, kWholeRecord, record); e != err::kNone) {
      item_problem(cell, "its record cannot be read (error " + std::to_string(e) + ")");
      continue;
    }
    const auto size = static_cast<std::int64_t>(record.storedSize());
    if (size > area_end - c.offset) {
      item_problem(cell, "its record of " + std::to_string(size) + " bytes runs past the record area");
      continue;
    }
    if (!c.inScratch()) in_file.push_back({c.offset, c.offset + size, cell});
  }
  // Two cells must not share record bytes: a later save would move one
  // over the other.
  std::sort(in_file.begin(), in_file.end(), [](const Placed& a, const Placed& b) { return a.offset < b.offset; });
  for (std::size_t i = 1; i < in_file.size(); ++i) {
    if (in_file[i].offset < in_file[i - 1].end) {
      const CatalogCell& first = catalog.cells[static_cast<std::size_t>(in_file[i - 1].cell - 1)];
      item_problem(in_file[i].cell, "its record overlaps that of item " + std::to_string(first.item_id));
    }
  }

  // Chunks the open could not use.
  for (const std::string& chunk : catalog.report.skipped_chunks) {
    problems.push_back({0, 0, "chunk " + Windows1252ToUtf8(chunk) + " is unknown or of the wrong size",
                        "it is left out at the next save", false});
  }
  if (!catalog.cset.empty()) {
    GroupIndex sets;
    if (!DecodeGroupIndex(catalog.cset, sets)) {
      problems.push_back({0, 0, "the catalog sets (CSET) are cut short", "the sets that can be read are kept", false});
    }
  }
  // Group entries naming items that no cell holds.
  std::set<std::uint32_t> ids;
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) ids.insert(catalog.cells[static_cast<std::size_t>(cell - 1)].item_id);
  int strays = 0;
  for (const auto& [slot, index] : GroupIndexesOf(catalog)) {
    for (const GroupEntry& entry : index) {
      for (std::uint32_t id : entry.ids) strays += id != 0 && !ids.contains(id) ? 1 : 0;
    }
  }
  if (strays > 0) {
    problems.push_back({0, 0, std::to_string(strays) + " group entries name items that are not in the catalog",
                        "those entries are dropped", false});
  }
  return problems;
}

int RepairCatalog(Catalog& catalog, const std::vector<CatalogProblem>& problems) {
  std::set<std::uint32_t> doomed;
  for (const CatalogProblem& p : problems) {
    if (p.removes_item) doomed.insert(p.item_id);
  }
  int removed = 0;
  for (std::uint32_t id : doomed) {
    if (int cell = catalog.cellOf(id); cell != 0 && RemoveItem(catalog, cell) == err::kNone) ++removed;
  }
  std::set<std::uint32_t> ids;
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) ids.insert(catalog.cells[static_cast<std::size_t>(cell - 1)].item_id);
  bool dropped = false;
  for (auto& [slot, index] : GroupIndexesOf(catalog)) {
    for (GroupEntry& entry : index) {
      dropped |= std::erase_if(entry.ids, [&](std::uint32_t id) { return id != 0 && !ids.contains(id); }) > 0;
    }
  }
  if (dropped || !catalog.report.skipped_chunks.empty()) catalog.markChanged();
  return removed;
}

}  // namespace norvo::catalog
