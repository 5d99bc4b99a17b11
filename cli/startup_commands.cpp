// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the start-up (update-check).
#include <string>

#include "app/update_check.h"
#include "cli/command_table.h"
#include "cli/json_writer.h"

namespace norvo::cli {
namespace {

// update-check [--url URL] --json. Asked for on the command line, so every
// outcome has a message; a server that cannot be reached is a failure.
Result CmdUpdateCheck(const Invocation& inv, std::ostream& out) {
  std::string url(app::kDefaultUpdateUrl);
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

std::vector<CommandEntry> StartupCommands() {
  return {
      {"update-check", 0, 2, true, true, CmdUpdateCheck,
       "update-check [--url URL] --json  ask the update server for a newer version"},
  };
}

}  // namespace norvo::cli
