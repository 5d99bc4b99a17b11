// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the batch rename.
#include "cli/command_table.h"

namespace norvo::cli {

std::vector<CommandEntry> RenameCommands() { return {}; }

}  // namespace norvo::cli
