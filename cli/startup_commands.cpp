// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the start-up (update-check).
#include <string>

#include "app/startup.h"
#include "app/update_check.h"
#include "cli/command_table.h"
#include "cli/json_writer.h"
#include "media/media_type_registry.h"

namespace norvo::cli {
namespace {

// update-check [--url URL] --json. Asked for on the command line, so every
// outcome has a message; a server that cannot be reached is a failure.
Result CmdUpdateCheck(const Invocation& inv, std::ostream& out) {
  std::string url = app::ConfiguredUpdateUrl(app::SettingsStore::Open());
  const std::vector<std::string>& ops = inv.operands;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (ops[i] != "--url") throw UsageError{"unknown operand '" + ops[i] + "' for update-check"};
    if (i + 1 >= ops.size()) throw UsageError{"--url needs a value"};
    url = ops[++i];
  }
  const app::UpdateCheckResult result = app::CheckForUpdate(true, url);
  if (result.code != err::kNone) return FailWith(result.code, result.message);
  JsonWriter w;
  w.beginObject();
  w.key("newer").boolean(result.newer);
  w.key("free").boolean(result.free);
  if (result.version) {
    w.key("version").string(*result.version);
  } else {
    w.key("version").null();
  }
  w.key("message").string(result.message);
  w.endObject();
  out << w.text() << '\n';
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

  auto strings = [](JsonWriter& w, const std::vector<std::string>& list) {
    w.beginArray();
    for (const auto& item : list) w.string(item);
    w.endArray();
  };
  JsonWriter w;
  w.beginObject();
  w.key("first_run").boolean(s.first_run);
  w.key("settings").string(s.settings->userPath());
  w.key("media_types").number(static_cast<std::uint64_t>(media::GetMediaTypeTable().size()));
  w.key("essential_importers").boolean(media::HasEssentialImporters());
  w.key("importer_folders");
  strings(w, s.importer_folders);
  w.key("scratch_folder").string(s.scratch_folder);
  w.key("last_catalog");
  if (s.last_catalog.empty()) {
    w.null();
  } else {
    w.string(s.last_catalog);
  }
  w.key("recent");
  strings(w, s.recent.paths());
  const char* kind = s.request.kind == app::CommandLineRequest::Kind::kOpenCatalog ? "open-catalog"
                     : s.request.kind == app::CommandLineRequest::Kind::kAddFiles ? "add-files"
                                                                                   : "nothing";
  w.key("request");
  w.beginObject();
  w.key("kind").string(kind);
  w.key("paths");
  strings(w, s.request.paths);
  w.endObject();
  w.key("reopen_catalog");
  if (s.reopen_catalog) {
    w.string(*s.reopen_catalog);
  } else {
    w.null();
  }
  w.key("warnings");
  strings(w, s.warnings);
  w.endObject();
  out << w.text() << '\n';
  return std::nullopt;
}

std::vector<CommandEntry> StartupCommands() {
  return {
      {"update-check", 0, 2, true, true, CmdUpdateCheck,
       "update-check [--url URL] --json  ask the update server for a newer version"},
      {"startup", 0, SIZE_MAX, true, true, CmdStartup,
       "startup [ARG...] --json  run the start-up steps and show what they decided"},
  };
}

}  // namespace norvo::cli
