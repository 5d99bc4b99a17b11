// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the media type registry (types, recognize).
#include "cli/command_table.h"

namespace norvo::cli {

std::vector<CommandEntry> MediaTypeCommands() { return {}; }

}  // namespace norvo::cli
