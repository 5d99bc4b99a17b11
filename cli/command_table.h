// SPDX-License-Identifier: GPL-3.0-or-later
// What every group of norvo-cli commands shares: how a command is called,
// how it reports failure, and the table entry that names it. Each group
// (catalog, media types, settings, start-up) lives in its own file and hands
// its entries to the dispatcher in commands.cpp, which builds the parser,
// the help and the usage messages from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/messages.h"
#include "platform/error_codes.h"

namespace norvo::cli {

// Why a command failed: the engine code and the user's message, the same
// pair the document layer returns.
using Failure = app::DocumentResult;
using Result = std::optional<Failure>;  // nullopt: success

// A command line that does not fit the command: one line names the problem
// and the exit status is 2.
struct UsageError {
  std::string text;
};

inline Result FailWith(ErrorCode code, std::string message) { return Failure{code, std::move(message)}; }
inline Result FailWith(ErrorCode code, app::Activity activity) {
  return Failure{code, app::MessageForError(code, activity)};
}

// One option of a command. A flag takes no value; the others take `values`
// words after the name (--where FIELD OP VALUE takes three).
struct OptionSpec {
  std::string_view name;        // "--jobs"
  std::string_view value_name;  // "N"; empty for a flag
  std::string_view help;
  int values = 1;
  bool repeats = false;  // may be given more than once; every use is kept
  // Whole numbers from `min` to `max` when max > 0.
  long min = 0;
  long max = 0;
};

inline constexpr OptionSpec kJsonOption{"--json", "", "print JSON instead of text"};

// What a command receives: its operands, its options and the global options.
struct Invocation {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> password;
  bool json = false;
  // How long to wait for another process that is changing the catalog.
  int wait_ms = -1;  // negative: the engine's setting, from the preferences
  // Flags given, and the words of each value option in command-line order.
  std::map<std::string, bool, std::less<>> flags;
  std::map<std::string, std::vector<std::string>, std::less<>> values;

  bool flag(std::string_view name) const {
    auto it = flags.find(name);
    return it != flags.end() && it->second;
  }
  // The last value given; nothing when the option is absent.
  std::optional<std::string> value(std::string_view name) const {
    auto it = values.find(name);
    if (it == values.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
  }
  // A value already checked against the option's range.
  int number(std::string_view name, int absent) const {
    std::optional<std::string> text = value(name);
    return text ? std::stoi(*text) : absent;
  }
};

struct CommandEntry {
  std::string_view name;
  std::string_view group;     // heading in `norvo-cli help`
  std::string_view operands;  // "CATALOG FILE..."
  std::size_t min_operands;
  std::size_t max_operands;  // SIZE_MAX: no limit
  std::vector<OptionSpec> options;
  std::string_view summary;      // one line for `norvo-cli help`
  std::string_view description;  // a paragraph for `norvo-cli help COMMAND`
  std::function<Result(const Invocation&, std::ostream&)> run;
};

// Group headings, in the order `norvo-cli help` shows them.
namespace groups {
inline constexpr std::string_view kCatalogs = "Catalogs";
inline constexpr std::string_view kImport = "Import and scan";
inline constexpr std::string_view kMetadata = "Metadata";
inline constexpr std::string_view kFind = "Find and organise";
inline constexpr std::string_view kMediaTypes = "Media types";
inline constexpr std::string_view kSettings = "Settings";
inline constexpr std::string_view kOutput = "Output";
inline constexpr std::string_view kStartup = "Start-up";
}  // namespace groups

// The groups, each defined in its own file.
std::vector<CommandEntry> CatalogCommands();
std::vector<CommandEntry> FindCommands();
std::vector<CommandEntry> MediaTypeCommands();
std::vector<CommandEntry> MetadataCommands();
std::vector<CommandEntry> ScanCommands();
std::vector<CommandEntry> SettingsCommands();
std::vector<CommandEntry> StartupCommands();
std::vector<CommandEntry> ExportCommands();   // delimited text
std::vector<CommandEntry> RenameCommands();   // batch rename
std::vector<CommandEntry> GalleryCommands();  // web gallery
std::vector<CommandEntry> ConvertCommands();  // conversion of images, movies and sounds
std::vector<CommandEntry> TransferCommands();  // transfer to folder, backup
std::vector<CommandEntry> CameraCommands();    // camera list and import
std::vector<CommandEntry> PrintCommands();     // print to PDF or a printer

// Fills the media type registry from this machine's libraries, as start-up
// does; the commands that recognise or read media call it first.
Result InitMediaRegistry();

}  // namespace norvo::cli
