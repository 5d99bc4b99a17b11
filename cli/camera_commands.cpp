// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli camera: the connected cameras, and the import of a camera's
// pictures into a folder and a catalog.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/engine_preferences.h"
#include "app/messages.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/long_run.h"
#include "cli/output.h"
#include "media/camera_import.h"
#include "media/item_scan.h"
#include "platform/file_spec.h"

namespace norvo::cli {
namespace {

using media::CameraImportOutcome;
using media::CameraInfo;
using media::DownloadStatus;

Result CameraFailure(ErrorCode e, media::CameraProblem problem, const std::string& model) {
  std::string message = app::CameraProblemMessage(static_cast<int>(problem), model);
  if (message.empty()) message = app::MessageForError(e, app::Activity::kOther);
  return FailWith(e != err::kNone ? e : err::kIo, message);
}

Result CmdCameraList(const Invocation& inv, std::ostream& out) {
  if (inv.operands.size() != 1) throw UsageError{"camera list takes no operands"};
  std::vector<CameraInfo> cameras;
  // A failed USB probe still leaves the mounted cards listed.
  (void)media::ListCameras(&cameras);
  Json rows = Json::array();
  for (const CameraInfo& c : cameras) rows.push_back({{"model", c.model}, {"port", c.port}});
  if (inv.json) {
    PrintJson(out, rows);
  } else if (cameras.empty()) {
    out << app::camera_text::kNoCamera << '\n';
  } else {
    PrintTable(out, rows, {MemberColumn("MODEL", "model"), MemberColumn("PORT", "port")});
  }
  return std::nullopt;
}

// The camera of --port and --model, or the first one connected.
Result ChooseCamera(const Invocation& inv, CameraInfo* out) {
  std::optional<std::string> port = inv.value("--port");
  std::optional<std::string> model = inv.value("--model");
  if (port && model) {
    *out = {*model, *port};
    return std::nullopt;
  }
  std::vector<CameraInfo> cameras;
  (void)media::ListCameras(&cameras);  // none found is said below
  for (const CameraInfo& c : cameras) {
    if ((!port || c.port == *port) && (!model || c.model == *model)) {
      *out = c;
      return std::nullopt;
    }
  }
  if (port && port->starts_with("disk:")) {
    *out = {std::string(media::kMassStorageModel), *port};
    return std::nullopt;
  }
  return FailWith(err::kNoSuchVolume, std::string(app::camera_text::kNoCamera));
}

std::string_view StatusName(DownloadStatus status) {
  switch (status) {
    case DownloadStatus::kDownloaded: return "downloaded";
    case DownloadStatus::kSkipped: return "skipped";
    case DownloadStatus::kFailed: return "failed";
  }
  return "failed";
}

Json OutcomeJson(const CameraImportOutcome& o) {
  const media::DownloadResult& d = o.download;
  Json item = Json::object();
  item["folder"] = d.source.folder;
  item["name"] = d.source.name;
  item["result"] = StatusName(d.status);
  item["target"] = d.status == DownloadStatus::kFailed || d.target.empty() ? Json(nullptr) : Json(d.target);
  item["id"] = o.item_id == 0 ? Json(nullptr) : Json(o.item_id);
  item["deleted"] = d.deleted_on_camera;
  const ErrorCode e = d.error != err::kNone ? d.error : d.delete_error != err::kNone ? d.delete_error : o.import_error;
  item["error"] = e == err::kNone ? Json(nullptr) : Json(e);
  return item;
}

Result CmdCameraImport(const Invocation& inv, std::ostream& out) {
  if (inv.operands.size() != 2) throw UsageError{"camera import takes one catalog"};
  // --jobs, else the scanning threads of the preferences, as import has it.
  const int jobs = inv.number("--jobs", app::ImportPreferencesInUse().scan_jobs);
  std::array<std::optional<std::string>, media::kCameraStampCount> stamps;
  for (std::size_t i = 0; i < media::kCameraStampCount; ++i) {
    stamps[i] = inv.value(media::kCameraStampFields[i].option);
    if (stamps[i] && media::TrimStamp(*stamps[i]) != *stamps[i]) {
      throw UsageError{std::string(media::kCameraStampFields[i].option) + " takes at most 255 characters"};
    }
  }
  CameraInfo camera;
  if (Result r = ChooseCamera(inv, &camera)) return r;
  if (Result r = InitMediaRegistry()) return r;

  Session s;
  if (Result r = s.open(inv.operands[1], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  media::CameraImportOptions options = media::CatalogCameraImportOptions(c);
  if (std::optional<std::string> dest = inv.value("--dest")) {
    FileSpec spec;
    (void)MakeFileSpec(*dest, spec);  // a missing folder is found out below
    options.destination = spec.path;
  }
  options.skip_same_name = inv.flag("--skip-same");
  options.delete_from_camera = inv.flag("--delete");
  options.lock = inv.flag("--lock");
  options.set_capture_date = inv.flag("--set-date");
  for (std::size_t i = 0; i < media::kCameraStampCount; ++i) options.stamps[i] = stamps[i].value_or("");

  std::unique_ptr<media::CameraConnection> connection;
  media::CameraProblem problem = media::CameraProblem::kNone;
  if (ErrorCode e = media::CameraConnection::Open(camera, &connection, &problem); e != err::kNone) {
    return CameraFailure(e, problem, camera.model);
  }

  InterruptScope interrupt;
  std::vector<CameraImportOutcome> outcomes;
  ErrorCode e;
  {
    ProgressLine line;
    e = media::ImportFromCamera(
        c, *connection, options,
        [&](ProgressPhase phase, int done, int total) {
          if (phase == ProgressPhase::kStep) {
            line.show(std::string(app::camera_text::kDownloading) + " " + std::to_string(done) + " of " +
                      std::to_string(total));
          }
          return InterruptScope::Requested() ? err::kUserCancelled : err::kNone;
        },
        // Without anyone to ask, a failed file is reported and the rest go on.
        [](const media::DownloadResult&) { return true; }, &outcomes);
  }
  if (e == err::kFolderNotFound && outcomes.empty()) {
    return FailWith(e, "The destination folder '" + options.destination + "' couldn't be found.");
  }

  int added = 0;
  std::vector<std::uint32_t> ids;
  for (const CameraImportOutcome& o : outcomes) {
    if (o.item_id != 0) ids.push_back(o.item_id);
  }
  added = static_cast<int>(ids.size());
  media::ScanSummary summary;
  if (!inv.flag("--no-scan") && !ids.empty() && e != err::kUserCancelled) {
    media::ScanOptions scan;
    scan.thumbnail_size = media::CatalogThumbnailSize(c);
    ProgressLine line;
    ErrorCode se = media::ScanItems(
        c, ids, jobs, scan,
        [&](ProgressPhase phase, int done, int total) {
          if (phase == ProgressPhase::kStep) line.show("Scanning " + std::to_string(done) + " of " + std::to_string(total));
          return InterruptScope::Requested() ? err::kUserCancelled : err::kNone;
        },
        &summary);
    if (se != err::kNone && se != err::kUserCancelled) e = e != err::kNone ? e : se;
    // The scan dates the items by the file system; the capture date goes back.
    for (const CameraImportOutcome& o : outcomes) {
      if (o.item_id != 0 && o.download.capture_date != 0) {
        if (ErrorCode de = media::SetItemCreated(c, o.item_id, o.download.capture_date); de != err::kNone) e = de;
      }
    }
  }
  // What was downloaded is recorded before anything is reported, and the
  // copies are on the disk before the catalog that points at them.
  if (c.changed()) {
    if (ErrorCode fe = media::FlushDownloadedFiles(options.destination); fe != err::kNone && e == err::kNone) e = fe;
    if (Result r = s.save()) return r;
  }

  Json files = Json::array();
  int failed = 0;
  for (const CameraImportOutcome& o : outcomes) {
    files.push_back(OutcomeJson(o));
    if (o.download.status == DownloadStatus::kFailed) ++failed;
  }
  if (inv.json) {
    Json report = Json::object();
    report["camera"] = {{"model", camera.model}, {"port", camera.port}};
    report["destination"] = options.destination;
    report["files"] = files;
    report["added"] = added;
    report["scanned"] = summary.scanned;
    report["cancelled"] = e == err::kUserCancelled;
    PrintJson(out, report);
  } else {
    PrintTable(out, files,
               {MemberColumn("RESULT", "result"), {"CAMERA FILE", false,
                                                   [](const Json& f) {
                                                     const std::string folder = f["folder"].get<std::string>();
                                                     return folder + (folder.ends_with('/') ? "" : "/") +
                                                            f["name"].get<std::string>();
                                                   }},
                MemberColumn("ID", "id", true), MemberColumn("TO", "target")});
    out << added << " added, " << summary.scanned << " scanned";
    if (e == err::kUserCancelled) out << " (stopped; what was done is saved)";
    out << '\n';
  }
  if (e == err::kBadName) return FailWith(e, std::string(app::camera_text::kIoError));
  if (e != err::kNone && e != err::kUserCancelled) {
    return CameraFailure(e, media::ProblemFromGphoto(connection->lastResult()), camera.model);
  }
  if (failed > 0) {
    return FailWith(err::kIo, std::to_string(failed) + (failed == 1 ? " file" : " files") +
                                  " couldn't be transferred from the camera.");
  }
  return std::nullopt;
}

Result CmdCamera(const Invocation& inv, std::ostream& out) {
  const std::string& verb = inv.operands[0];
  if (verb == "list") return CmdCameraList(inv, out);
  if (verb == "import") return CmdCameraImport(inv, out);
  throw UsageError{"'" + verb + "' is not a camera action (list or import)"};
}

}  // namespace

std::vector<CommandEntry> CameraCommands() {
  using groups::kImport;
  std::vector<OptionSpec> options = {
      {"--dest", "DIR", "import: the folder the pictures go to (default: the catalog's, else the Pictures folder)"},
      {"--port", "PORT", "import: the camera's port, as camera list shows it"},
      {"--model", "MODEL", "import: the camera's model, as camera list shows it"},
      {"--skip-same", "", "import: skip a picture when DIR has a file of its name"},
      {"--delete", "", "import: delete each picture on the camera once its copy is checked"},
      {"--lock", "", "import: make the copies read-only"},
      {"--set-date", "", "import: date each copy and its item by the picture's capture date"},
  };
  // One text option per annotation; their order is kCameraStampFields'.
  constexpr std::string_view kStampHelp[] = {
      "import: the new items' Author", "import: the new items' Credit", "import: the new items' Source",
      "import: the new items' Copyright", "import: the new items' Status", "import: the new items' Instructions"};
  static_assert(std::size(kStampHelp) == media::kCameraStampCount);
  for (std::size_t i = 0; i < media::kCameraStampCount; ++i) {
    options.push_back({media::kCameraStampFields[i].option, "TEXT", kStampHelp[i]});
  }
  options.push_back({"--no-scan", "", "import: add the items without reading their facts and thumbnails"});
  options.push_back({"--jobs", "N", "import: scanning threads (default: the preferences' number)", 1, false, 0, 64});
  options.push_back(kJsonOption);
  return {
      {"camera", kImport, "list | import CATALOG", 1, 2, std::move(options),
       "list cameras, import a camera's pictures",
       "`camera list` shows the connected cameras (libgphoto2's, and mounted memory cards and mass-storage "
       "cameras with a DCIM folder) with their model and port. `camera import CATALOG` copies every file of a "
       "camera (the first one, or the one of --port and --model) into DIR: each under a temporary name first, "
       "checked against the camera's size and then given its name, never over an existing file (a file of the "
       "same name is kept and the copy numbered, or the picture skipped with --skip-same). With --delete the "
       "picture is deleted on the camera only after its copy is checked. Each copy is imported with the "
       "catalog's import options and scanned; the texts of --author, --credit, --source, --copyright, --status "
       "and --instructions go on the items it adds. Linux has no settable creation date: --set-date sets the "
       "copy's modification date and the item's Created field to the capture date (years before 1900 are left "
       "alone). The options are kept in the catalog. Prints each file's result and the item added; a file that "
       "could not be transferred makes the exit status 1 after the others are done.",
       CmdCamera},
  };
}

}  // namespace norvo::cli
