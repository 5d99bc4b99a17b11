// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands that copy media files out of their folders: transfer
// to a folder and backup (to a folder or a disc image).
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "app/catalog_document.h"
#include "app/messages.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/output.h"
#include "output/backup.h"
#include "output/disc_image.h"
#include "output/gallery_export.h"
#include "output/transfer.h"

namespace norvo::cli {
namespace {

using output::ClashAnswer;
using output::TransferMode;
using output::TransferOutcome;
using output::TransferStatus;

// One of `choices`, or a usage error naming them.
std::size_t Choice(const Invocation& inv, std::string_view option, const std::vector<std::string_view>& choices,
                   std::optional<std::size_t> absent) {
  std::optional<std::string> text = inv.value(option);
  if (text) {
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (*text == choices[i]) return i;
    }
  } else if (absent) {
    return *absent;
  }
  std::string list;
  for (std::string_view c : choices) list += (list.empty() ? "" : ", ") + std::string(c);
  throw UsageError{"give " + std::string(option) + " " + list};
}

// "3,5,8": the ItemIds of --ids, each one in the catalog.
Result IdsFrom(const Invocation& inv, const catalog::Catalog& c, std::vector<std::uint32_t>* ids) {
  std::optional<std::string> text = inv.value("--ids");
  if (!text) {
    for (int cell = 1; cell <= c.itemCount(); ++cell) ids->push_back(c.cells[static_cast<std::size_t>(cell - 1)].item_id);
    return std::nullopt;
  }
  for (std::size_t start = 0; start <= text->size();) {
    std::size_t comma = text->find(',', start);
    if (comma == std::string::npos) comma = text->size();
    int cell = 0;
    if (Result r = FindCell(c, text->substr(start, comma - start), &cell)) return r;
    ids->push_back(c.cells[static_cast<std::size_t>(cell - 1)].item_id);
    start = comma + 1;
  }
  return std::nullopt;
}

std::string_view StatusName(TransferStatus status) {
  switch (status) {
    case TransferStatus::kMoved: return "moved";
    case TransferStatus::kCopied: return "copied";
    case TransferStatus::kSkipped: return "skipped";
    case TransferStatus::kStopped: return "stopped";
    case TransferStatus::kFailed: return "failed";
  }
  return "failed";
}

Json OutcomeJson(const TransferOutcome& o) {
  Json item = Json::object();
  item["id"] = o.item_id;
  item["source"] = o.source.empty() ? Json(nullptr) : Json(o.source);
  item["target"] = o.target.empty() ? Json(nullptr) : Json(o.target);
  item["result"] = StatusName(o.status);
  item["replaced"] = o.replaced;
  item["error"] = o.error == err::kNone ? Json(nullptr) : Json(o.error);
  return item;
}

void PrintOutcomes(std::ostream& out, const std::vector<TransferOutcome>& outcomes, bool json) {
  Json items = Json::array();
  for (const TransferOutcome& o : outcomes) items.push_back(OutcomeJson(o));
  if (json) {
    PrintJson(out, items);
    return;
  }
  auto result = [](const Json& item) {
    std::string text = item["result"].get<std::string>();
    if (item["replaced"].get<bool>()) text += " (replaced)";
    if (!item["error"].is_null()) text += " (" + std::to_string(item["error"].get<int>()) + ")";
    return text;
  };
  PrintTable(out, items, {MemberColumn("ID", "id", true), {"RESULT", false, result}, MemberColumn("FROM", "source"),
                          MemberColumn("TO", "target")});
}

Result CmdTransfer(const Invocation& inv, std::ostream& out) {
  constexpr TransferMode kModes[] = {TransferMode::kMove, TransferMode::kCopy, TransferMode::kDuplicate};
  const TransferMode mode = kModes[Choice(inv, "--mode", {"move", "copy", "duplicate"}, std::nullopt)];
  const std::size_t clash = Choice(inv, "--on-clash", {"replace", "skip", "replace-all", "stop"}, 1);
  constexpr ClashAnswer kAnswers[] = {ClashAnswer::kReplace, ClashAnswer::kSkip, ClashAnswer::kReplaceAll,
                                      ClashAnswer::kStop};
  const ClashAnswer answer = kAnswers[clash];

  Session s;
  const bool changes = output::RepointsItems(mode);
  if (Result r = s.open(inv.operands[0], inv, changes ? Intent::kChange : Intent::kView)) return r;
  catalog::Catalog& c = s.catalog();
  std::vector<std::uint32_t> ids;
  if (Result r = IdsFrom(inv, c, &ids)) return r;

  output::TransferRequest request;
  request.mode = mode;
  FileSpec destination;
  (void)MakeFileSpec(inv.operands[1], destination);  // a missing folder is found out by the transfer
  request.destination = destination.path;
  request.on_clash = [answer](const output::FileFacts&, const output::FileFacts&) { return answer; };
  std::vector<TransferOutcome> outcomes;
  const ErrorCode e = output::TransferItems(c, ids, request, {}, &outcomes);
  if (e == err::kFolderNotFound && outcomes.empty()) {
    return FailWith(e, "The destination folder '" + inv.operands[1] + "' couldn't be found.");
  }
  // Whatever moved is recorded before anything is reported: the catalog
  // stays right for the files already in the destination.
  if (changes && c.changed()) {
    if (Result r = s.save()) return r;
  }
  PrintOutcomes(out, outcomes, inv.json);
  if (e != err::kNone) return FailWith(e, app::Activity::kOther);
  return std::nullopt;
}

Result CmdBackup(const Invocation& inv, std::ostream& out) {
  output::BackupOptions o;
  o.visible_only = inv.flag("--visible-only");
  o.reset_paths = inv.flag("--reset-paths");
  o.keep_folders = inv.flag("--keep-folders");
  o.include_catalog = inv.flag("--include-catalog");
  std::optional<std::string> image = inv.value("--iso");
  if (image && image->empty()) throw UsageError{"--iso takes a file name"};

  Session s;
  if (Result r = s.open(inv.operands[0], inv, o.reset_paths ? Intent::kChange : Intent::kView)) return r;
  catalog::Catalog& c = s.catalog();
  FileSpec destination;
  (void)MakeFileSpec(inv.operands[1], destination);  // a missing folder is found out by the run
  o.destination = destination.path;
  o.reader_folder = output::FindReaderFolder(output::GalleryTemplateRoots());
  o.copy_scratch = app::NewScratchSpec();
  // An image's staging folder is only read by xorriso: links spare a copy.
  o.staging = image ? output::BackupStaging::kLinkWhereSameDisk : output::BackupStaging::kCopy;

  output::BackupReport report;
  const ErrorCode e = output::RunBackup(c, o, {}, &report);
  if (o.reset_paths && c.changed()) {
    if (Result r = s.save()) return r;
  }
  if (e != err::kNone) {
    std::string message = app::BackupFailureMessage(static_cast<int>(report.failure));
    if (message.empty()) message = app::MessageForError(e, app::Activity::kOther);
    return FailWith(e, message);
  }
  for (const std::string& w : report.warnings) std::cerr << "norvo-cli: warning: " << w << '\n';

  std::string image_path;
  if (image) {
    FileSpec spec;
    (void)MakeFileSpec(*image, spec);  // the image is new
    image_path = spec.path;
    std::string messages;
    const std::string label = c.titled() ? output::CatalogName(c.file_spec.path) : std::string();
    if (ErrorCode w = output::WriteDiscImage(o.destination, image_path, label, {}, &messages); w != err::kNone) {
      std::string why = w == err::kNotAFile ? "xorriso is not installed." : "xorriso failed.";
      if (w == err::kDuplicateName) why = "A file of that name exists already.";
      const std::size_t last = messages.find_last_of('\n', messages.size() >= 2 ? messages.size() - 2 : 0);
      if (w == err::kIo && !messages.empty()) why += " " + messages.substr(last == std::string::npos ? 0 : last + 1);
      while (!why.empty() && why.back() == '\n') why.pop_back();
      return FailWith(w, "The disc image '" + *image + "' couldn't be written. " + why);
    }
  }

  Json files = Json::array();
  for (const output::BackupFile& f : report.files) {
    Json file = Json::object();
    file["id"] = f.item_id;
    file["source"] = f.source;
    file["target"] = f.target;
    file["size"] = f.size;
    file["already_there"] = f.already_there;
    files.push_back(std::move(file));
  }
  Json result = Json::object();
  result["files"] = inv.json ? files : Json(files.size());
  result["total_bytes"] = report.total_bytes;
  result["catalog_copy"] = report.catalog_copy.empty() ? Json(nullptr) : Json(report.catalog_copy);
  result["reader"] = report.reader_copied;
  result["image"] = image_path.empty() ? Json(nullptr) : Json(image_path);
  result["warnings"] = report.warnings;
  PrintObject(out, result, inv.json);
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> TransferCommands() {
  using groups::kOutput;
  return {
      {"transfer", kOutput, "CATALOG DEST", 2, 2,
       {{"--mode", "MODE", "move, copy or duplicate"},
        {"--ids", "ID,...", "the items to transfer (default: every item)"},
        {"--on-clash", "ANSWER", "replace, skip, replace-all or stop when DEST has a file of the name (default skip)"},
        kJsonOption},
       "copy or move items' files into a folder",
       "Copies or moves the files of the items into the folder DEST, in catalog order. --mode move moves them "
       "(a rename on one file system; across file systems a copy that is checked byte for byte before the "
       "original is deleted) and points the items at the new files; --mode copy copies them and points the items "
       "at the copies; --mode duplicate copies them and leaves the items as they are. Items whose file is "
       "missing or already in DEST are skipped. A file of the same name in DEST is skipped, replaced, or ends "
       "the pass, as --on-clash says. Prints each item's result (moved, copied, skipped, stopped or failed with "
       "its error code), its old and its new path, and saves the catalog.",
       CmdTransfer},
      {"backup", kOutput, "CATALOG DEST", 2, 2,
       {{"--visible-only", "", "only the items that are not hidden"},
        {"--reset-paths", "", "point the items at their copies (the catalog is saved)"},
        {"--keep-folders", "", "copy each file into its folder's path below its disk's mount point"},
        {"--include-catalog", "", "add a copy of the catalog, the reader program and autorun.inf"},
        {"--iso", "FILE", "then write DEST as an ISO 9660 image (Rock Ridge and Joliet) with xorriso"},
        kJsonOption},
       "back items' files (and the catalog) up to a disk or a disc image",
       "Copies the files of every item (or the visible ones) into the folder DEST, the root of a removable "
       "disk. A missing file stops the backup before anything is copied; a file of the same name already in "
       "DEST is kept, and counts as backed up when its size and time match. With --include-catalog, which "
       "needs a saved catalog, a copy of the catalog goes to DEST (with --reset-paths pointing at the copies), "
       "the reader program when one is installed (else a warning), and autorun.inf. With --iso, DEST is the "
       "staging folder of a disc: files on DEST's file system are linked rather than copied, and the folder is "
       "then written as an image to FILE, which must not exist. Prints the number of files, their bytes, the "
       "catalog copy, whether the reader was added and the image.",
       CmdBackup},
  };
}

}  // namespace norvo::cli
