// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the start-up (update-check).
#include <string>

#include "app/startup.h"
#include "app/update_check.h"
#include "cli/command_table.h"
#include "cli/output.h"
#include "media/media_type_registry.h"

namespace norvo::cli {
namespace {

// Asked for on the command line, so every outcome has a message; a server
// that cannot be reached is a failure.
Result CmdUpdateCheck(const Invocation& inv, std::ostream& out) {
  const std::string url = inv.value("--url").value_or(app::ConfiguredUpdateUrl(app::SettingsStore::Open()));
  const app::UpdateCheckResult result = app::CheckForUpdate(true, url);
  if (result.code != err::kNone) return FailWith(result.code, result.message);
  PrintObject(out,
              Json{{"newer", result.newer},
                   {"free", result.free},
                   {"version", result.version ? Json(*result.version) : Json(nullptr)},
                   {"message", result.message}},
              inv.json);
  return std::nullopt;
}

}  // namespace

// Runs the start-up sequence as the desktop program would (without taking
// the single-instance lock, so it runs beside a running program) and shows
// what it decided: settings state, folders, the recent list and what the
// given command line would open.
Result CmdStartup(const Invocation& inv, std::ostream& out) {
  app::StartupOptions options;
  options.single_instance = false;
  options.args = {"norvo"};
  options.args.insert(options.args.end(), inv.operands.begin(), inv.operands.end());
  app::StartupState s = app::InitInstance(options);
  if (s.outcome == app::StartupOutcome::kFailed) return FailWith(err::kParam, s.failure);

  const char* kind = s.request.kind == app::CommandLineRequest::Kind::kOpenCatalog ? "open-catalog"
                     : s.request.kind == app::CommandLineRequest::Kind::kAddFiles ? "add-files"
                                                                                   : "nothing";
  Json state = Json::object();
  state["first_run"] = s.first_run;
  state["settings"] = s.settings->userPath();
  state["media_types"] = media::GetMediaTypeTable().size();
  state["essential_importers"] = media::HasEssentialImporters();
  state["importer_folders"] = s.importer_folders;
  state["scratch_folder"] = s.scratch_folder;
  state["last_catalog"] = s.last_catalog.empty() ? Json(nullptr) : Json(s.last_catalog);
  state["recent"] = s.recent.paths();
  state["request"] = {{"kind", kind}, {"paths", s.request.paths}};
  state["reopen_catalog"] = s.reopen_catalog ? Json(*s.reopen_catalog) : Json(nullptr);
  state["warnings"] = s.warnings;
  PrintObject(out, state, inv.json);
  return std::nullopt;
}

std::vector<CommandEntry> StartupCommands() {
  using groups::kStartup;
  return {
      {"startup", kStartup, "[ARG...]", 0, SIZE_MAX, {kJsonOption}, "run the start-up steps and show what they decided",
       "Runs the desktop program's start-up steps as it would with ARG... on its command line (beside a "
       "running program) and shows what they decided: first run or not, the settings file, the media types "
       "and importer folders found, the scratch folder, the recent catalogs and what the command line asks "
       "to open.",
       CmdStartup},
      {"update-check", kStartup, "", 0, 0,
       {{"--url", "URL", "ask this server instead of the configured one"}, kJsonOption},
       "ask the update server for a newer version",
       "Asks the update server whether a newer version is out and prints its answer. A server that cannot "
       "be reached is a failure.",
       CmdUpdateCheck},
  };
}

}  // namespace norvo::cli
