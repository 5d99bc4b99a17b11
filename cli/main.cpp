// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli: the command-line twin of the desktop program.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = norvo::cli::Run(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
