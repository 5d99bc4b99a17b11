// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the web gallery.
#include "cli/command_table.h"

namespace norvo::cli {

std::vector<CommandEntry> GalleryCommands() { return {}; }

}  // namespace norvo::cli
