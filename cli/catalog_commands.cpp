// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command_table.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string_view>

#include "app/catalog_document.h"
#include "app/messages.h"
#include "catalog/catalog.h"
#include "catalog/catalog_check.h"
#include "catalog/limits.h"
#include "cli/catalog_session.h"
#include "cli/output.h"
#include "fields/groups.h"
#include "media/item_scan.h"
#include "platform/byte_io.h"
#include "platform/error_codes.h"
#include "platform/file_spec.h"
#include "platform/text_encoding.h"

namespace norvo::cli {
namespace {

Result FailWith(const app::DocumentResult& r) { return r; }
using cli::FailWith;

// Label names in label order; index 0 is "no label".
constexpr std::array<std::string_view, catalog::kMaxLabel + 1> kLabelNames = {
    "None", "Red", "Green", "Blue", "Brown", "Magenta", "Orange", "Yellow", "Cyan", "Gray"};

// Refuses to write over an existing file: a catalog command never replaces
// data the user did not name as its own catalog.
Result RefuseExisting(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    return FailWith(err::kDuplicateName, "'" + path + "' already exists; choose another name.");
  }
  return std::nullopt;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}


std::optional<int> ParseLabel(const std::string& text) {
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') return text[0] - '0';
  for (std::size_t i = 0; i < kLabelNames.size(); ++i) {
    if (CompareText(text, kLabelNames[i], false) == 0) return static_cast<int>(i);
  }
  return std::nullopt;
}


// An item whose type is not known yet (code 0) shows four blanks.
std::string TypeText(std::uint32_t code) {
  return code == 0 ? std::string(4, ' ') : Windows1252ToUtf8(FourCCToString(code));
}

// A rotation code as its two characters; "" for none.
std::string RotationText(std::uint16_t code) {
  if (code == 0) return {};
  return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

// --- commands ---------------------------------------------------------------

Result CmdNew(const Invocation& inv, std::ostream&) {
  const std::string& path = inv.operands[0];
  if (Result r = RefuseExisting(path)) return r;
  app::CatalogDocument doc;
  app::DocumentResult r = doc.createUntitled();
  if (r.ok() && inv.password) {
    std::string password = Utf8ToWindows1252(*inv.password);
    if (password.size() > catalog::kMaxPasswordLength) {
      doc.close(catalog::CloseSettings::kLeave);
      return FailWith(err::kParam,
                      "The password is longer than " + std::to_string(catalog::kMaxPasswordLength) + " characters.");
    }
    doc->password = password;
    doc->markChanged();
  }
  if (r.ok()) r = doc.saveAs(path);
  doc.close(catalog::CloseSettings::kLeave);
  if (!r.ok()) return FailWith(r);
  return std::nullopt;
}

Result CmdInfo(const Invocation& inv, std::ostream& out) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kView)) return r;
  const catalog::Catalog& c = s.catalog();
  const catalog::CatalogTotals& t = catalog::GetCatalogTotals(c);
  Json info = Json::object();
  info["items"] = t.item_count;
  info["labelled"] = t.labelled_count;
  info["total_record_bytes"] = t.total_record_bytes;
  // The stored media total holds the low 32 bits of a byte count.
  info["total_media_bytes"] = static_cast<std::uint32_t>(t.total_media_bytes);
  info["media_bytes"] = c.media_bytes;
  info["saved_by"] = c.saved_by;
  info["next_id"] = c.next_item_id;
  info["changed"] = c.changed();
  info["password"] = !c.password.empty();
  PrintObject(out, info, inv.json);
  return std::nullopt;
}

// What a scan made of an item, in one word for the text listing.
std::string ItemState(const Json& item) {
  if (!item["scan_error"].is_null()) return "error " + std::to_string(item["scan_error"]["code"].get<int>());
  return item["pending"].get<bool>() ? "pending" : "scanned";
}

Result CmdList(const Invocation& inv, std::ostream& out) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kView)) return r;
  const catalog::Catalog& c = s.catalog();
  Json items = Json::array();
  for (int cell = 1; cell <= catalog::GetItemCount(c); ++cell) {
    catalog::ItemRecord record;
    ErrorCode e = catalog::GetItemRecord(c, cell, catalog::kWithoutOptionalParts, record);
    if (e != err::kNone) return FailWith(e, app::Activity::kOther);
    const catalog::CatalogCell& cc = c.cells[static_cast<std::size_t>(cell - 1)];
    Json& item = items.emplace_back(Json::object());
    item["index"] = cell;
    item["id"] = cc.item_id;
    item["label"] = cc.label();
    item["pending"] = cc.pending();
    // A file its last scan could not read: the error, until a scan succeeds.
    if (ErrorCode scan_error = media::ScanErrorOf(record); scan_error != err::kNone) {
      item["scan_error"] = {{"code", scan_error},
                            {"message", app::MessageForError(scan_error, app::Activity::kOther)}};
    } else {
      item["scan_error"] = nullptr;
    }
    item["file_name"] = catalog::ItemFileNameUtf8(record);
    item["display_name"] = record.displayName();
    item["type"] = TypeText(record.type_code);
    item["file_size"] = record.file_size;
    item["width"] = record.width;
    item["height"] = record.height;
    item["resolution"] = record.resolution;
    item["depth"] = record.depth;
    item["duration"] = record.duration;
    item["tracks"] = record.tracks;
    item["pages"] = record.pages;
    item["orientation"] = RotationText(record.orientation);
    item["thumbnail"] = record.thumbnail_length > 0;
    std::optional<std::string> path = catalog::ItemPath(c, cell);
    item["path"] = path ? Json(*path) : Json(nullptr);
  }
  if (inv.json) {
    PrintJson(out, items);
    return std::nullopt;
  }
  auto trimmed_type = [](const Json& item) {
    std::string type = item["type"].get<std::string>();
    return type == std::string(4, ' ') ? std::string("-") : type;
  };
  PrintTable(out, items,
             {MemberColumn("#", "index", true), MemberColumn("ID", "id", true), MemberColumn("LABEL", "label", true),
              {"TYPE", false, trimmed_type}, MemberColumn("SIZE", "file_size", true),
              MemberColumn("WIDTH", "width", true), MemberColumn("HEIGHT", "height", true),
              {"STATE", false, ItemState}, MemberColumn("NAME", "display_name")});
  return std::nullopt;
}

Result CmdAdd(const Invocation& inv, std::ostream& out) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kChange)) return r;
  std::vector<std::uint32_t> added;
  for (std::size_t i = 1; i < inv.operands.size(); ++i) {
    const std::string& name = inv.operands[i];
    FileSpec spec;
    ErrorCode e = MakeFileSpec(name, spec);
    if (e == err::kNone && IsFolder(spec.path)) {
      return FailWith(err::kParam, "'" + name + "' is a folder; add takes files.");
    }
    std::uint32_t id = 0;
    if (e == err::kNone) e = catalog::AddPendingItem(s.catalog(), spec, &id);
    if (e != err::kNone) return FailWith(e, "'" + name + "': " + app::MessageForError(e, app::Activity::kOther));
    added.push_back(id);
  }
  if (Result r = s.save()) return r;
  for (std::uint32_t id : added) out << id << '\n';
  return std::nullopt;
}

Result CmdRemove(const Invocation& inv, std::ostream&) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  // Every ID is checked before the first removal, so a bad one changes nothing.
  std::set<std::uint32_t> ids;
  for (std::size_t i = 1; i < inv.operands.size(); ++i) {
    int cell = 0;
    if (Result r = FindCell(c, inv.operands[i], &cell)) return r;
    ids.insert(c.cells[static_cast<std::size_t>(cell - 1)].item_id);
  }
  for (std::uint32_t id : ids) {
    ErrorCode e = catalog::RemoveItem(c, c.cellOf(id));
    if (e != err::kNone) return FailWith(e, app::Activity::kOther);
  }
  return s.save();
}

Result CmdLabel(const Invocation& inv, std::ostream&) {
  std::optional<int> label = ParseLabel(inv.operands[2]);
  if (!label) throw UsageError{"'" + inv.operands[2] + "' is not a label (0-9, Red ... Gray, or None)"};
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kChange)) return r;
  int cell = 0;
  if (Result r = FindCell(s.catalog(), inv.operands[1], &cell)) return r;
  ErrorCode e = fields::SetItemLabelWithGroups(s.catalog(), cell, *label);
  if (e != err::kNone) return FailWith(e, app::Activity::kOther);
  return s.save();
}

Result CmdSaveAs(const Invocation& inv, std::ostream&) {
  if (Result r = RefuseExisting(inv.operands[1])) return r;
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kView)) return r;
  app::DocumentResult r = s.document().saveAs(inv.operands[1]);
  if (!r.ok()) return FailWith(r);
  return std::nullopt;
}

Result CmdCheck(const Invocation& inv, std::ostream& out) {
  const std::vector<std::string>& operands = inv.operands;
  const bool repair = inv.flag("--repair");
  Session s;
  if (Result r = s.open(operands[0], inv, repair ? Intent::kChange : Intent::kView)) return r;
  catalog::Catalog& c = s.catalog();
  const catalog::OpenReport& report = c.report;
  auto yes_no = [](bool b) { return b ? "yes" : "no"; };
  out << "interrupted save rolled back: " << yes_no(report.rolled_back_interrupted_save) << '\n';
  out << "sequential scan: " << yes_no(report.sequential_scan) << '\n';
  out << "media total recomputed: " << yes_no(report.media_total_recomputed) << '\n';
  out << "folder tree rebuilt: " << yes_no(report.folder_tree_rebuilt) << '\n';
  out << "renumbered ItemIds: " << report.renumbered_item_ids << '\n';
  out << "cleared labels: " << report.cleared_labels << '\n';
  out << "skipped chunks: " << report.skipped_chunks.size() << '\n';

  // Damage the open could not repair by itself: each problem with what a
  // repair does about it.
  const std::vector<catalog::CatalogProblem> problems = catalog::VerifyCatalog(c);
  for (const catalog::CatalogProblem& p : problems) {
    out << "problem: " << p.what << '\n' << "  repair: " << p.repair << '\n';
  }
  std::vector<std::uint32_t> damaged;
  for (const catalog::CatalogProblem& p : problems) {
    if (p.removes_item) damaged.push_back(p.item_id);
  }

  int missing = 0;
  for (int cell = 1; cell <= catalog::GetItemCount(c); ++cell) {
    const std::uint32_t id = c.cells[static_cast<std::size_t>(cell - 1)].item_id;
    if (std::find(damaged.begin(), damaged.end(), id) != damaged.end()) continue;
    std::string found;
    // Looking for a file may repoint the item (a catalog moved with its
    // media); only a repair saves that.
    if (catalog::LocateItemFile(c, cell, found) == err::kNone) continue;
    ++missing;
    std::optional<std::string> recorded = catalog::ItemPath(c, cell);
    out << "missing: " << id << ' ' << (recorded ? *recorded : std::string("(no path)")) << '\n';
  }
  std::string summary = missing == 0 ? app::NoMissingFilesMessage() : app::MissingFilesMessage(c.display_name, missing);
  while (!summary.empty() && summary.back() == '\n') summary.pop_back();
  out << summary << '\n';
  if (problems.empty()) return std::nullopt;
  if (!repair) {
    return FailWith(err::kUnreadableCatalog,
                    "The catalog '" + c.display_name + "' has " + std::to_string(problems.size()) +
                        " problem(s); `norvo-cli check --repair " + operands[0] + "` repairs them as listed.");
  }
  const int removed = catalog::RepairCatalog(c, problems);
  if (c.changed()) {
    if (Result r = s.save()) return r;
  }
  out << "repaired: " << removed << " damaged item(s) removed\n";
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> CatalogCommands() {
  using groups::kCatalogs;
  return {
      {"new", kCatalogs, "CATALOG", 1, 1, {}, "create an empty catalog file",
       "Creates an empty catalog file. It never replaces a file that is already there. With the global "
       "--password, the new catalog is protected by that password.",
       CmdNew},
      {"info", kCatalogs, "CATALOG", 1, 1, {kJsonOption}, "totals and state of the catalog",
       "Shows the catalog's totals and state: items, labelled items, the bytes of the item records and of the "
       "media, the program that saved it, the next ItemId, whether it has unsaved changes and whether it has a "
       "password.",
       CmdInfo},
      {"list", kCatalogs, "CATALOG", 1, 1, {kJsonOption}, "every item, in catalog order",
       "Lists every item in catalog order: its position, ItemId, colour label, type code, file size, pixel size, "
       "whether it is scanned (or what its last scan could not read) and its name. The JSON form adds the file "
       "name, resolution, depth, duration, tracks, pages, orientation, whether a thumbnail is stored and the "
       "file's path.",
       CmdList},
      {"add", kCatalogs, "CATALOG FILE...", 2, SIZE_MAX, {}, "add each file as a pending item",
       "Adds each file as a pending item, without looking into folders or applying the import filters, and "
       "prints the new ItemIds, one a line. A scan reads them later.",
       CmdAdd},
      {"remove", kCatalogs, "CATALOG ID...", 2, SIZE_MAX, {}, "remove items by ItemId",
       "Removes the items with these ItemIds. Every ItemId is checked first: when one is not in the catalog, "
       "nothing is removed.",
       CmdRemove},
      {"label", kCatalogs, "CATALOG ID LABEL", 3, 3, {}, "set a colour label",
       "Sets an item's colour label: a digit 0-9, a colour name (Red, Green, Blue, Brown, Magenta, Orange, "
       "Yellow, Cyan, Gray) or None.",
       CmdLabel},
      {"save-as", kCatalogs, "CATALOG DEST", 2, 2, {}, "write a full copy to DEST",
       "Writes a full copy of the catalog to DEST, which must not exist yet. The catalog itself is not changed.",
       CmdSaveAs},
      {"check", kCatalogs, "CATALOG", 1, 1, {{"--repair", "", "carry out the repairs listed"}},
       "open, read every item, report repairs, damage and missing files",
       "Opens the catalog, reads every item and reports what the open repaired by itself, the damage it could "
       "not repair (each problem with what a repair does about it) and the items whose files are missing. "
       "It fails while there is damage; with --repair it carries out the repairs and saves.",
       CmdCheck},
  };
}

}  // namespace norvo::cli
