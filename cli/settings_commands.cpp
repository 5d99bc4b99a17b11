// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the settings store (settings, prefs).
#include "cli/command_table.h"

namespace norvo::cli {

std::vector<CommandEntry> SettingsCommands() { return {}; }

}  // namespace norvo::cli
