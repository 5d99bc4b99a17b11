// SPDX-License-Identifier: GPL-3.0-or-later
// For tests and benchmarks: the standard output of a shell command, as the
// peer tools (exiftool, ffprobe, pdfinfo, gphoto2 ...) print it. Empty when
// the command cannot be started; its standard error is dropped.
#pragma once

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

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

// exiftool's numeric values of `tags` in `file` ("-s -n": "Name : value"
// lines), by tag name; a tag the file lacks is absent.
inline std::map<std::string, std::string> ExiftoolTags(const std::string& file, const std::vector<std::string>& tags) {
  std::string command = "exiftool -s -n";
  for (const std::string& t : tags) command += " -" + t;
  std::istringstream lines(CaptureCommand(command + " '" + file + "'"));
  std::map<std::string, std::string> found;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(" : ");
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    found[name] = line.substr(colon + 3);
  }
  return found;
}

}  // namespace norvo::testing
