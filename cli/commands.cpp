// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <memory>

#include "app/catalog_document.h"
#include "app/engine_preferences.h"
#include "app/preferences.h"
#include "app/settings_store.h"
#include "app/startup.h"
#include "cli/command_table.h"
#include "cli/output.h"
#include "metadata/custom_fields.h"

namespace norvo::cli {
namespace {

constexpr std::string_view kProgram = "norvo-cli";
constexpr std::array kGroups = {groups::kCatalogs, groups::kImport,      groups::kMetadata, groups::kFind,
                                groups::kMediaTypes, groups::kOutput, groups::kSettings, groups::kStartup};

const std::vector<CommandEntry>& Commands() {
  static const std::vector<CommandEntry> commands = [] {
    std::vector<CommandEntry> all;
    for (auto group : {CatalogCommands, ScanCommands, MetadataCommands, FindCommands, MediaTypeCommands,
                       GalleryCommands, ExportCommands, RenameCommands, ConvertCommands, TransferCommands, PrintCommands,
                       CameraCommands, SettingsCommands, StartupCommands}) {
      auto entries = group();
      all.insert(all.end(), entries.begin(), entries.end());
    }
    return all;
  }();
  return commands;
}

const CommandEntry* FindCommand(std::string_view name) {
  for (const CommandEntry& e : Commands()) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

// The global options come before the command.
const std::array<OptionSpec, 2> kGlobalOptions = {{
    {"--password", "TEXT", "the password of a protected catalog; with `new`, protect the new catalog"},
    {"--wait", "SECONDS",
     "how long to wait for another program changing the same catalog (default: as set in the preferences, 30)", 1,
     false, 0, 86400},
}};

const OptionSpec kHelpOption{"--help", "", "show this help"};

std::string OptionUsage(const OptionSpec& o) {
  std::string text(o.name);
  if (!o.value_name.empty()) text += " " + std::string(o.value_name);
  return text;
}

std::string Synopsis(const CommandEntry& e) {
  std::string text(e.name);
  if (!e.operands.empty()) text += " " + std::string(e.operands);
  for (const OptionSpec& o : e.options) text += " [" + OptionUsage(o) + "]" + (o.repeats ? "..." : "");
  return text;
}

void PrintOptions(std::ostream& out, const std::vector<OptionSpec>& options) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (const OptionSpec& o : options) lines.emplace_back("  " + OptionUsage(o), std::string(o.help));
  PrintAligned(out, lines, "  ");
}

void PrintOverview(std::ostream& out) {
  out << "usage: " << kProgram << " [--password TEXT] [--wait SECONDS] COMMAND [ARGS...]\n"
      << "       " << kProgram << " help [COMMAND]\n"
      << "       " << kProgram << " --version\n";
  for (std::string_view group : kGroups) {
    out << '\n' << group << ":\n";
    std::vector<std::pair<std::string, std::string>> lines;
    for (const CommandEntry& e : Commands()) {
      if (e.group == group) lines.emplace_back("  " + std::string(e.name), std::string(e.summary));
    }
    PrintAligned(out, lines, "  ");
  }
  out << "\nGlobal options:\n";
  std::vector<OptionSpec> options(kGlobalOptions.begin(), kGlobalOptions.end());
  options.push_back({"--version", "", "print the program's name and version"});
  options.push_back({"-h, --help", "", "show this list"});
  PrintOptions(out, options);
  out << "\nEvery command prints text, or JSON with --json where it has output. Commands\n"
         "that change a catalog save it in place; when one fails, the catalog file stays\n"
         "as it was. Exit status: 0 on success, 1 on failure (the message and \"(error N)\"\n"
         "on standard error), 2 when the command line is wrong.\n"
         "`norvo-cli help COMMAND` describes one command.\n";
}

// Text in lines of at most `width` characters, broken between words.
std::string Wrap(std::string_view text, std::size_t width) {
  std::string wrapped;
  std::size_t line = 0;
  while (!text.empty()) {
    const std::size_t end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line > 0 && line + 1 + TextWidth(word) > width) {
      wrapped += '\n';
      line = 0;
    } else if (line > 0) {
      wrapped += ' ';
      ++line;
    }
    wrapped += word;
    line += TextWidth(word);
  }
  return wrapped;
}

void PrintCommandHelp(std::ostream& out, const CommandEntry& e) {
  out << "usage: " << kProgram << " [GLOBAL OPTIONS] " << Synopsis(e) << "\n\n"
      << Wrap(e.description, 78) << "\n\noptions:\n";
  std::vector<OptionSpec> options = e.options;
  options.push_back(kHelpOption);
  PrintOptions(out, options);
}

std::string Plural(std::size_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

std::string CountProblem(const CommandEntry& e, std::size_t got) {
  std::string wanted;
  if (e.min_operands == e.max_operands) {
    wanted = Plural(e.min_operands, "argument");
  } else if (e.max_operands == SIZE_MAX) {
    wanted = "at least " + Plural(e.min_operands, "argument");
  } else if (e.min_operands == 0) {
    wanted = "at most " + Plural(e.max_operands, "argument");
  } else {
    wanted = std::to_string(e.min_operands) + " to " + Plural(e.max_operands, "argument");
  }
  return "expected " + wanted + ", got " + std::to_string(got);
}

// Checks a whole number against an option's range; the message names the option.
CLI::Validator RangeCheck(const OptionSpec& o) {
  const std::string problem = std::string(o.name) + " takes a number from " + std::to_string(o.min) + " to " +
                              std::to_string(o.max);
  return CLI::Validator(
      [o, problem](std::string& text) -> std::string {
        long value = 0;
        std::size_t used = 0;
        try {
          value = std::stol(text, &used);
        } catch (const std::exception&) {
          return problem;
        }
        return used == text.size() && value >= o.min && value <= o.max ? std::string() : problem;
      },
      "", "range");
}

// Where the parsed words go: one set per command, so that only the command
// given fills its own.
struct Parsed {
  std::vector<std::string> operands;
  std::map<std::string, bool, std::less<>> flags;
  std::map<std::string, std::vector<std::string>, std::less<>> values;
  bool help = false;
};

void AddOption(CLI::App& app, const OptionSpec& o, Parsed& into) {
  const std::string name(o.name);
  if (o.value_name.empty()) {
    app.add_flag(name, into.flags[name], std::string(o.help));
    return;
  }
  CLI::Option* option =
      app.add_option(name, into.values[name], std::string(o.help))
          ->type_size(o.values)
          ->type_name(std::string(o.value_name))
          ->multi_option_policy(o.repeats ? CLI::MultiOptionPolicy::TakeAll : CLI::MultiOptionPolicy::TakeLast);
  if (o.max > 0) option->check(RangeCheck(o));
}

struct CommandLine {
  CLI::App app{"", std::string(kProgram)};
  Parsed global;
  std::vector<Parsed> commands;
  std::vector<CLI::App*> subcommands;
  CLI::App* help = nullptr;
  std::vector<std::string> help_topic;
  bool version = false;

  CommandLine() {
    app.set_help_flag();
    app.require_subcommand(0, 1);
    for (const OptionSpec& o : kGlobalOptions) AddOption(app, o, global);
    app.add_flag("-h,--help", global.help);
    app.add_flag("--version", version);
    commands.resize(Commands().size());
    for (std::size_t i = 0; i < Commands().size(); ++i) {
      const CommandEntry& e = Commands()[i];
      CLI::App* sub = app.add_subcommand(std::string(e.name), std::string(e.summary));
      sub->set_help_flag();
      sub->add_flag("-h,--help", commands[i].help);
      sub->add_option("operands", commands[i].operands);
      for (const OptionSpec& o : e.options) AddOption(*sub, o, commands[i]);
      subcommands.push_back(sub);
    }
    help = app.add_subcommand("help", "describe the commands");
    help->set_help_flag();
    help->add_option("command", help_topic);
  }

  // The command given, as its index in Commands(); nothing for none or help.
  std::optional<std::size_t> chosen() const {
    for (std::size_t i = 0; i < subcommands.size(); ++i) {
      if (subcommands[i]->parsed()) return i;
    }
    return std::nullopt;
  }
};

// One line naming what is wrong with the command line, from the parser's
// own report.
std::string DescribeParseError(const CLI::ParseError& e, const CommandLine& line, const CommandEntry* command) {
  std::string what = e.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    std::vector<std::string> extras = command != nullptr ? line.subcommands[*line.chosen()]->remaining()
                                                         : line.app.remaining();
    if (extras.empty()) return what;
    const std::string& first = extras.front();
    if (first.starts_with("-")) return "unknown option " + first;
    if (command == nullptr) return "unknown command '" + first + "'";
    return "unexpected argument '" + first + "'";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    const std::string name = what.substr(0, what.find(':'));
    std::vector<OptionSpec> options(kGlobalOptions.begin(), kGlobalOptions.end());
    if (command != nullptr) options.insert(options.end(), command->options.begin(), command->options.end());
    for (const OptionSpec& o : options) {
      if (o.name == name) return name + " needs " + std::string(o.value_name);
    }
  }
  if (dynamic_cast<const CLI::ValidationError*>(&e) != nullptr) {
    // The range checks' own words, without the parser's "NAME: " before them.
    if (std::size_t colon = what.find(": "); colon != std::string::npos) return what.substr(colon + 2);
  }
  return what;
}

void UsageLine(std::ostream& err, const CommandEntry* command, const std::string& problem) {
  err << kProgram << ": ";
  if (command != nullptr) err << command->name << ": ";
  err << problem << "; see " << kProgram << " help";
  if (command != nullptr) err << ' ' << command->name;
  err << '\n';
}

constexpr int kUsageStatus = 2;

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  auto line = std::make_unique<CommandLine>();
  const CommandEntry* command = nullptr;
  // Words after "--" are operands even when they start with '-' (a file
  // named "-x.jpg"); the parser is given only the words before it.
  auto mark = std::find(args.begin(), args.end(), "--");
  try {
    // CLI11 takes the words last to first.
    std::vector<std::string> reversed(std::make_reverse_iterator(mark), args.rend());
    line->app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (std::optional<std::size_t> i = line->chosen()) command = &Commands()[*i];
    if (command != nullptr && line->commands[*line->chosen()].help) {
      PrintCommandHelp(out, *command);
      return 0;
    }
    // A global option's problem is not the command's.
    const std::string what = e.what();
    const bool global = std::ranges::any_of(
        kGlobalOptions, [&](const OptionSpec& o) { return what.starts_with(std::string(o.name) + ":"); });
    UsageLine(err, global ? nullptr : command, DescribeParseError(e, *line, command));
    return kUsageStatus;
  }
  if (line->version) {
    out << kProgram << ' ' << NORVO_VERSION << '\n';
    return 0;
  }
  if (line->global.help || line->help->parsed()) {
    if (line->help_topic.empty()) {
      PrintOverview(out);
      return 0;
    }
    const CommandEntry* topic = FindCommand(line->help_topic.front());
    if (topic == nullptr || line->help_topic.size() > 1) {
      UsageLine(err, nullptr, "no command '" + line->help_topic.front() + "'");
      return kUsageStatus;
    }
    PrintCommandHelp(out, *topic);
    return 0;
  }
  std::optional<std::size_t> chosen = line->chosen();
  if (!chosen) {
    UsageLine(err, nullptr, "no command given");
    return kUsageStatus;
  }
  command = &Commands()[*chosen];
  Parsed& parsed = line->commands[*chosen];
  if (mark != args.end()) parsed.operands.insert(parsed.operands.end(), mark + 1, args.end());
  if (parsed.help) {
    PrintCommandHelp(out, *command);
    return 0;
  }
  if (parsed.operands.size() < command->min_operands || parsed.operands.size() > command->max_operands) {
    UsageLine(err, command, CountProblem(*command, parsed.operands.size()));
    return kUsageStatus;
  }
  Invocation inv;
  inv.command = command->name;
  inv.operands = std::move(parsed.operands);
  inv.flags = std::move(parsed.flags);
  inv.values = std::move(parsed.values);
  inv.json = inv.flag(kJsonOption.name);
  Invocation globals;
  globals.values = std::move(line->global.values);
  inv.password = globals.value("--password");
  // Without --wait, the wait the user chose in the preferences.
  if (globals.value("--wait")) inv.wait_ms = globals.number("--wait", 0) * 1000;
  line.reset();

  // ScratchFiles go to the folder the user chose in the settings, as the
  // desktop program's do; whatever killed runs left behind (ScratchFiles,
  // temporary copies of photos) goes first.
  {
    const app::SettingsStore settings = app::SettingsStore::Open();
    app::SetScratchFolder(app::ChooseScratchFolder(settings));
    // The names the user gave the colour labels are what search finds.
    std::vector<std::string> label_names;
    for (const app::Label& label : app::LoadLabels(settings)) label_names.push_back(label.name);
    metadata::SetColourLabelNames(label_names);
    // The engine's, sorting's and the import code's settings, as at start-up.
    app::ApplyPreferences(app::LoadPreferences(settings, std::nullopt).preferences);
  }
  app::SweepLeftovers();
  Result result;
  try {
    result = command->run(inv, out);
  } catch (const UsageError& usage) {
    UsageLine(err, command, usage.text);
    return kUsageStatus;
  }
  if (!result) return 0;
  if (!result->message.empty()) err << result->message << ' ';
  err << "(error " << result->code << ")\n";
  return 1;
}

}  // namespace norvo::cli
