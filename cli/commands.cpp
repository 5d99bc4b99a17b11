// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands.h"

#include <charconv>
#include <cstdint>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "app/settings_store.h"
#include "app/startup.h"

#include "cli/command_table.h"
#include "metadata/custom_fields.h"

namespace norvo::cli {
namespace {

const std::vector<CommandEntry>& Commands() {
  static const std::vector<CommandEntry> commands = [] {
    std::vector<CommandEntry> all;
    for (auto group : {CatalogCommands, FindCommands, MediaTypeCommands, MetadataCommands, ScanCommands, SettingsCommands, StartupCommands}) {
      auto entries = group();
      all.insert(all.end(), entries.begin(), entries.end());
    }
    return all;
  }();
  return commands;
}

std::string Usage() {
  std::string text = "usage: norvo-cli [--password TEXT] [--wait SECONDS] COMMAND ARGS...\n\ncommands:\n";
  for (const CommandEntry& e : Commands()) {
    text += "  ";
    text += e.usage;
    text += '\n';
  }
  text +=
      "\n--password gives the password of a protected catalog; with `new` it\n"
      "protects the new catalog. --wait sets how long a command waits for another\n"
      "program that is changing the same catalog (default 30 seconds).\n"
      "Commands that change a catalog save it in place; when one of them fails,\n"
      "the catalog file stays as it was, even if the program is killed or the\n"
      "disk fills up.\n";
  return text;
}

Invocation Parse(const std::vector<std::string>& args, const CommandEntry** entry) {
  Invocation inv;
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); ++i) {
    if (args[i] == "--password") {
      if (i + 1 >= args.size()) throw UsageError{"--password needs a value"};
      inv.password = args[++i];
    } else if (args[i] == "--wait") {
      if (i + 1 >= args.size()) throw UsageError{"--wait needs a number of seconds"};
      const std::string& text = args[++i];
      int seconds = -1;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
      if (ec != std::errc() || end != text.data() + text.size() || seconds < 0 || seconds > 86400) {
        throw UsageError{"--wait takes a number of seconds from 0 to 86400"};
      }
      inv.wait_ms = seconds * 1000;
    } else {
      throw UsageError{"unknown option " + args[i]};
    }
  }
  if (i >= args.size()) throw UsageError{"no command given"};
  inv.command = args[i++];
  *entry = nullptr;
  for (const CommandEntry& e : Commands()) {
    if (e.name == inv.command) *entry = &e;
  }
  if (*entry == nullptr) throw UsageError{"unknown command '" + inv.command + "'"};
  for (; i < args.size(); ++i) {
    if ((*entry)->takes_json && args[i] == "--json") {
      inv.json = true;
    } else {
      inv.operands.push_back(args[i]);
    }
  }
  // Where JSON is the only output form, asking for it explicitly leaves room
  // for a text form later without breaking scripts.
  if ((*entry)->needs_json && !inv.json) throw UsageError{inv.command + " needs --json"};
  if (inv.operands.size() < (*entry)->min_operands || inv.operands.size() > (*entry)->max_operands) {
    throw UsageError{"wrong number of arguments for '" + inv.command + "'"};
  }
  return inv;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << Usage();
    return 0;
  }
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
  }
  app::SweepLeftovers();
  Result result;
  try {
    const CommandEntry* entry = nullptr;
    Invocation inv = Parse(args, &entry);
    result = entry->run(inv, out);
  } catch (const UsageError& usage) {
    err << "norvo-cli: " << usage.text << "\n\n" << Usage();
    return 1;
  }
  if (!result) return 0;
  if (!result->message.empty()) err << result->message << ' ';
  err << "(error " << result->code << ")\n";
  return 1;
}

}  // namespace norvo::cli
