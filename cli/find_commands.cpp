// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli find, sort, hide, show, annotate-item, groups and set: finding
// and ordering items, and the annotation groups and catalog sets.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "app/messages.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/output.h"
#include "fields/find_sort.h"
#include "fields/groups.h"
#include "metadata/annotation_block.h"
#include "metadata/custom_fields.h"
#include "platform/text_encoding.h"

namespace norvo::cli {
namespace {

using metadata::FieldId;

Result EngineFailure(ErrorCode e) { return FailWith(e, app::Activity::kOther); }

// A field named by its label (as the user sees it, custom names included) or
// by its id in hexadecimal ("0x219"). Custom names are UTF-8 and compare
// ignoring case in any script.
FieldId FieldFromText(const catalog::Catalog& c, const std::string& text) {
  FieldId id = metadata::FindFieldByLabel(&c, text);
  if (id == 0) id = metadata::FindCustomField(c, text);
  if (id == 0) throw UsageError{"'" + text + "' is not a field (a field label, or an id such as 0x219)"};
  return id;
}

// As a JSON array, or one id a line.
void PrintIds(std::ostream& out, const std::vector<std::uint32_t>& ids, bool json) {
  if (json) {
    PrintJson(out, Json(ids));
    return;
  }
  for (std::uint32_t id : ids) out << id << '\n';
}

// Every operand an ItemId of the catalog, as cells; checked before anything
// changes.
Result CellsOf(const catalog::Catalog& c, const std::vector<std::string>& texts, std::vector<std::uint32_t>* ids) {
  for (const std::string& t : texts) {
    int cell = 0;
    if (Result r = FindCell(c, t, &cell)) return r;
    ids->push_back(c.cells[static_cast<std::size_t>(cell - 1)].item_id);
  }
  return std::nullopt;
}

Result CmdFind(const Invocation& inv, std::ostream& out) {
  const std::vector<std::string>& ops = inv.operands;
  const bool any = inv.flag("--any");
  std::vector<std::vector<std::string>> rows;
  if (auto where = inv.values.find("--where"); where != inv.values.end()) {
    for (std::size_t i = 0; i + 3 <= where->second.size(); i += 3) {
      rows.push_back({where->second[i], where->second[i + 1], where->second[i + 2]});
    }
  }
  if (rows.empty() ? ops.size() != 2 : ops.size() != 1) {
    throw UsageError{"give CATALOG TEXT, or CATALOG and --where rows"};
  }
  if (rows.size() > static_cast<std::size_t>(fields::kMaxCriteria)) {
    throw UsageError{"at most " + std::to_string(fields::kMaxCriteria) + " --where rows"};
  }
  Session s;
  if (Result r = s.open(ops[0], inv, Intent::kView)) return r;
  const catalog::Catalog& c = s.catalog();
  if (rows.empty()) {
    PrintIds(out, fields::QuickSearch(c, ops[1]), inv.json);
    return std::nullopt;
  }
  std::vector<fields::Criterion> criteria;
  for (const auto& row : rows) {
    fields::Criterion crit;
    crit.field = FieldFromText(c, row[0]);
    metadata::SearchKind kind = metadata::FieldSearchKind(crit.field);
    if (kind == metadata::SearchKind::kNone) throw UsageError{"the field '" + row[0] + "' cannot be searched"};
    crit.op = fields::OperatorFromName(kind, row[1]);
    if (crit.op == 0) {
      std::string list;
      for (const std::string& name : fields::OperatorNames(kind)) list += (list.empty() ? "" : ", ") + ("\"" + name + "\"");
      throw UsageError{"'" + row[1] + "' is not an operator of '" + row[0] + "': " + list};
    }
    crit.value = row[2];
    if (!fields::ValidCriterion(crit)) throw UsageError{"'" + row[2] + "' is not a value for '" + row[0] + "'"};
    criteria.push_back(std::move(crit));
  }
  std::vector<std::uint32_t> ids;
  if (ErrorCode e = fields::FindItems(c, criteria, any, ids); e != err::kNone) return EngineFailure(e);
  PrintIds(out, ids, inv.json);
  return std::nullopt;
}

Result CmdSort(const Invocation& inv, std::ostream&) {
  const std::vector<std::string>& ops = inv.operands;
  const bool descending = inv.flag("--descending");
  const bool natural = inv.flag("--natural");
  Session s;
  if (Result r = s.open(ops[0], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  FieldId field = FieldFromText(c, ops[1]);
  bool moved = false;
  if (ErrorCode e = fields::SortItems(c, field, descending, natural || fields::NaturalOrder(c), &moved);
      e != err::kNone) {
    return EngineFailure(e);
  }
  // An order that did not change leaves the file as it is.
  return moved ? s.save() : std::nullopt;
}

Result SetHidden(const Invocation& inv, bool hidden) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  std::vector<std::uint32_t> ids;
  if (Result r = CellsOf(c, {inv.operands.begin() + 1, inv.operands.end()}, &ids)) return r;
  if (ids.empty() && !hidden) {
    for (int i = 0; i < c.itemCount(); ++i) ids.push_back(c.cells[static_cast<std::size_t>(i)].item_id);
  }
  bool changed = false;
  for (std::uint32_t id : ids) {
    int cell = c.cellOf(id);
    if (c.cells[static_cast<std::size_t>(cell - 1)].hidden() == hidden) continue;
    if (ErrorCode e = fields::SetItemHidden(c, cell, hidden); e != err::kNone) return EngineFailure(e);
    changed = true;
  }
  return changed ? s.save() : std::nullopt;
}

Result CmdHide(const Invocation& inv, std::ostream&) { return SetHidden(inv, true); }
Result CmdShow(const Invocation& inv, std::ostream&) { return SetHidden(inv, false); }

Result CmdAnnotateItem(const Invocation& inv, std::ostream&) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  int cell = 0;
  if (Result r = FindCell(c, inv.operands[1], &cell)) return r;
  std::vector<fields::AnnotationEdit> edits;
  std::optional<int> label;
  for (std::size_t i = 2; i < inv.operands.size(); ++i) {
    const std::string& pair = inv.operands[i];
    std::size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError{"'" + pair + "' is not LABEL=VALUE"};
    FieldId field = FieldFromText(c, pair.substr(0, eq));
    std::string value = pair.substr(eq + 1);
    if (field == metadata::field_ids::kLabels) {
      if (!(value.empty() || (value.size() == 1 && value[0] >= '0' && value[0] <= '9'))) {
        throw UsageError{"a label is a digit 0-9"};
      }
      label = value.empty() ? 0 : value[0] - '0';
      continue;
    }
    if (metadata::FieldSourceOf(field) != metadata::FieldSource::kAnnotation) {
      throw UsageError{"'" + pair.substr(0, eq) + "' is not an annotation field"};
    }
    fields::AnnotationEdit edit;
    edit.field = field;
    if (metadata::IsListField(field)) {
      for (const std::string& v : metadata::SplitListText(value)) edit.values.push_back(v);
    } else if (!value.empty()) {
      edit.values.push_back(value);
    }
    edits.push_back(std::move(edit));
  }
  if (ErrorCode e = fields::EditItemAnnotations(c, cell, edits); e != err::kNone) return EngineFailure(e);
  if (label) {
    if (ErrorCode e = fields::SetItemLabelWithGroups(c, cell, *label); e != err::kNone) return EngineFailure(e);
  }
  return c.changed() ? s.save() : std::nullopt;
}

Result CmdGroups(const Invocation& inv, std::ostream& out) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  FieldId field = FieldFromText(c, inv.operands[1]);
  if (fields::OrganizerRowOf(field) == nullptr) {
    throw UsageError{"'" + inv.operands[1] + "' has no groups"};
  }
  // Choosing a field in the organize panel makes the catalog keep its index
  // from then on; the edits of later commands keep it up to date.
  const bool kept = fields::GroupIndexOf(c, field) != nullptr;
  if (!kept) {
    if (ErrorCode e = fields::KeepGroupIndex(c, field); e != err::kNone) return EngineFailure(e);
    if (Result r = s.save()) return r;
  }
  Json groups = Json::array();
  for (int p = 1; p <= fields::GroupCount(c, field); ++p) {
    const catalog::GroupEntry* e = fields::GroupAt(c, field, p);
    groups.push_back({{"name", e->name}, {"items", e->ids}, {"level", e->level}, {"container", e->container != 0}});
  }
  if (inv.json) {
    PrintJson(out, groups);
    return std::nullopt;
  }
  // Names indented by level show the tree of sets.
  auto name = [](const Json& g) {
    return std::string(2 * g["level"].get<std::size_t>(), ' ') + g["name"].get<std::string>();
  };
  auto ids = [](const Json& g) {
    std::string text;
    for (const Json& id : g["items"]) text += (text.empty() ? "" : " ") + std::to_string(id.get<std::uint32_t>());
    return text;
  };
  auto count = [](const Json& g) { return std::to_string(g["items"].size()); };
  PrintTable(out, groups, {{"NAME", false, name}, MemberColumn("CONTAINER", "container"), {"COUNT", true, count},
                           {"ITEMS", false, ids}});
  return std::nullopt;
}

Result CmdSet(const Invocation& inv, std::ostream&) {
  const std::vector<std::string>& ops = inv.operands;
  const std::string& action = ops[1];
  const bool container = inv.flag("--container");
  const std::optional<std::string> parent_name = inv.value("--parent");
  if (action != "new" && (container || parent_name)) throw UsageError{"--container and --parent go with new"};
  if (action == "new" || action == "delete") {
    if (ops.size() != 3) throw UsageError{action + " takes one NAME"};
  } else if (action == "add" || action == "remove") {
    if (ops.size() < 4) throw UsageError{action + " takes NAME ID..."};
  } else {
    throw UsageError{"'" + action + "' is not new, add, remove or delete"};
  }
  Session s;
  if (Result r = s.open(ops[0], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  const std::string& name = ops[2];
  auto missing = [&](const std::string& n) {
    return FailWith(err::kParam, "There is no set named '" + n + "' in this catalog.");
  };
  ErrorCode e = err::kNone;
  if (action == "new") {
    int parent = 0;
    if (parent_name) {
      parent = fields::FindSet(c, *parent_name);
      if (parent == 0) return missing(*parent_name);
      if (fields::GroupAt(c, metadata::field_ids::kCatalogSets, parent)->container == 0) {
        return FailWith(err::kParam, "The set '" + *parent_name + "' is not a container.");
      }
    }
    e = fields::AddSet(c, name, container, parent);
    if (e == err::kDuplicateName) return FailWith(e, "A set named '" + ops[2] + "' is already there.");
  } else {
    int position = fields::FindSet(c, name);
    if (position == 0) return missing(ops[2]);
    if (action == "delete") {
      e = fields::RemoveGroups(c, metadata::field_ids::kCatalogSets, {position}, false, {});
    } else {
      std::vector<std::uint32_t> ids;
      if (Result r = CellsOf(c, {ops.begin() + 3, ops.end()}, &ids)) return r;
      e = action == "add" ? fields::AddItemsToGroup(c, metadata::field_ids::kCatalogSets, position, ids)
                          : fields::RemoveItemsFromGroup(c, metadata::field_ids::kCatalogSets, position, ids, {});
    }
  }
  if (e != err::kNone) return EngineFailure(e);
  return c.changed() ? s.save() : std::nullopt;
}

}  // namespace

std::vector<CommandEntry> FindCommands() {
  using groups::kFind;
  return {
      {"find", kFind, "CATALOG [TEXT]", 1, 2,
       {{"--where", "FIELD OP VALUE", "a criterion: a field, an operator of that field and a value", 3, true},
        {"--any", "", "match items that meet any criterion, not all"},
        kJsonOption},
       "ids of matching items",
       "Prints the ItemIds of the matching items in catalog order, one a line. With TEXT, a quick search: "
       "items with TEXT in their names, annotations, sets or label names, ignoring case and accents. With "
       "--where rows, the items that meet every criterion (or any, with --any). A field is named by its label "
       "or by its id (0x219); an operator by its name (\"contains\", \"is\", \"starts with\" ...).",
       CmdFind},
      {"sort", kFind, "CATALOG FIELD", 2, 2,
       {{"--descending", "", "largest or last first"}, {"--natural", "", "numbers in names in numeric order"}},
       "order the items by a field",
       "Orders the items by a field, hidden items last in their own order, and saves the new order. An order "
       "that does not change leaves the file as it is.",
       CmdSort},
      {"hide", kFind, "CATALOG ID...", 2, SIZE_MAX, {}, "hide items from the views",
       "Hides the items with these ItemIds from the views.", CmdHide},
      {"show", kFind, "CATALOG [ID...]", 1, SIZE_MAX, {}, "show hidden items (all without ids)",
       "Shows hidden items again: those with these ItemIds, or every item when none is given.", CmdShow},
      {"annotate-item", kFind, "CATALOG ID LABEL=VALUE...", 3, SIZE_MAX, {},
       "set an item's annotations in the catalog",
       "Sets annotation fields of an item in the catalog (not in its file): each LABEL=VALUE names a field by "
       "its label or id; an empty VALUE clears it. List fields such as Keywords take values separated by ';' "
       "or ','.",
       CmdAnnotateItem},
      {"groups", kFind, "CATALOG FIELD", 2, 2, {kJsonOption}, "the groups of a field and their items",
       "Lists the groups of a field (Keywords, Labels, Catalog Sets ...) with their items. From then on the "
       "catalog keeps that field's index, and later changes keep it up to date.",
       CmdGroups},
      {"set", kFind, "CATALOG new|add|remove|delete NAME [ID...]", 3, SIZE_MAX,
       {{"--container", "", "with new: a set that holds other sets"},
        {"--parent", "NAME", "with new: the container set to put it in"}},
       "make, fill, empty and delete catalog sets",
       "Works on the catalog sets: `new NAME` makes a set, `add NAME ID...` and `remove NAME ID...` put items "
       "in and take them out, `delete NAME` deletes the set. Set names compare ignoring case.",
       CmdSet},
  };
}

}  // namespace norvo::cli
