// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the start-up (update-check).
#include "cli/command_table.h"

namespace norvo::cli {

std::vector<CommandEntry> StartupCommands() { return {}; }

}  // namespace norvo::cli
