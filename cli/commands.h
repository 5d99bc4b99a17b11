// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of norvo-cli. Run() takes the arguments after the program
// name and returns the exit status: 0 on success; 1 when the command fails,
// with the message and "(error N)" written to `err`; 2 when the command line
// is wrong, with one line naming the problem.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace norvo::cli {

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace norvo::cli
