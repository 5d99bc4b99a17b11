// SPDX-License-Identifier: GPL-3.0-or-later
// What every group of norvo-cli commands shares: how a command is called,
// how it reports failure, and the table entry that names it. Each group
// (catalog, media types, settings, start-up) lives in its own file and hands
// its entries to the dispatcher in commands.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/messages.h"
#include "platform/error_codes.h"

namespace norvo::cli {

// Why a command failed: the user's message and the engine code.
struct Failure {
  ErrorCode code = err::kNone;
  std::string message;
};
using Result = std::optional<Failure>;  // nullopt: success

// A command line that does not fit the command: usage is printed.
struct UsageError {
  std::string text;
};

inline Result FailWith(ErrorCode code, std::string message) { return Failure{code, std::move(message)}; }
inline Result FailWith(ErrorCode code, app::Activity activity) {
  return Failure{code, app::MessageForError(code, activity)};
}

// What a command receives: its operands and the global options.
struct Invocation {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> password;
  bool json = false;
  // How long to wait for another process that is changing the catalog.
  int wait_ms = kDefaultWaitMs;
  static constexpr int kDefaultWaitMs = 30000;
};

struct CommandEntry {
  std::string_view name;
  std::size_t min_operands;
  std::size_t max_operands;  // SIZE_MAX: no limit
  bool takes_json;           // accepts --json
  bool needs_json;           // JSON is its only output form: --json is required
  std::function<Result(const Invocation&, std::ostream&)> run;
  std::string_view usage;    // one line for the help text
};

// The groups, each defined in its own file.
std::vector<CommandEntry> CatalogCommands();
std::vector<CommandEntry> FindCommands();
std::vector<CommandEntry> MediaTypeCommands();
std::vector<CommandEntry> MetadataCommands();
std::vector<CommandEntry> ScanCommands();

// Fills the media type registry from this machine's libraries, as start-up
// does; the commands that recognise or read media call it first.
Result InitMediaRegistry();
std::vector<CommandEntry> SettingsCommands();
std::vector<CommandEntry> StartupCommands();

}  // namespace norvo::cli
