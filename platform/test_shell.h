// SPDX-License-Identifier: GPL-3.0-or-later
// For tests and benchmarks: the standard output of a shell command, as the
// peer tools (exiftool, ffprobe, pdfinfo, gphoto2 ...) print it. Empty when
// the command cannot be started; its standard error is dropped.
#pragma once

#include <cstdio>
#include <string>

namespace norvo::testing {

inline std::string CaptureCommand(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

}  // namespace norvo::testing
