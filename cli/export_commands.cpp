// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the delimited text export.
#include "cli/command_table.h"

namespace norvo::cli {

std::vector<CommandEntry> ExportCommands() { return {}; }

}  // namespace norvo::cli
