// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-plugin-components FAMILY MODULE OUT: opens a reader plug-in module,
// asks what it reads and writes the component list the program reads at
// start-up instead of opening the module.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/reader_plugins.h"

int main(int argc, char** argv) {
  using namespace norvo::plugins;
  if (argc != 4) {
    std::fprintf(stderr, "usage: norvo-plugin-components FAMILY MODULE OUT\n");
    return 2;
  }
  const NorvoReaderPlugin* plugin = nullptr;
  std::string error;
  if (OpenReaderPlugin(argv[2], argv[1], 0, &plugin, &error) != norvo::err::kNone) {
    std::fprintf(stderr, "norvo-plugin-components: %s\n", error.c_str());
    return 1;
  }
  struct stat st {};
  if (::stat(argv[2], &st) != 0) return 1;
  const std::string text = FormatPluginDescription(DescribeOpenPlugin(*plugin), static_cast<std::uint64_t>(st.st_size));
  const std::string temporary = std::string(argv[3]) + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) return 1;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written || std::rename(temporary.c_str(), argv[3]) != 0) {
    std::fprintf(stderr, "norvo-plugin-components: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
