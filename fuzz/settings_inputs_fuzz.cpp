// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes what start-up reads from outside the program: the update server's
// reply, a command line handed over by another process, a stored
// preferences block and labels, and the first bytes of a file that type
// recognition sniffs.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/preferences.h"
#include "app/update_check.h"
#include "media/type_recognition.h"
#include "platform/byte_io.h"

namespace {

std::string SniffPath() {
  static std::string path = [] {
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    return base + "/norvo-fuzz-sniff-" + std::to_string(::getpid()) + ".txt";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace norvo;
  std::string_view text(reinterpret_cast<const char*>(data), size);

  app::ParseUpdateReply(text);
  auto args = app::SplitCommandLine(text);
  app::ClassifyCommandLine(args);
  app::LabelsFromBytes(std::span(data, size));

  app::PreferencesBlock block;
  auto bytes = block.bytes();
  std::copy_n(data, std::min(size, bytes.size()), bytes.begin());
  app::ValidatePreferences(block, app::ScreenSize{static_cast<int>(size % 4000), static_cast<int>(size % 3000)});
  block.listEntries();

  {
    std::ofstream out(SniffPath(), std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  FileSpec spec;
  (void)MakeFileSpec(SniffPath(), spec);  // a fixed absolute path
  media::MediaClass media_class{};
  media::NormalizeMediaType(FourCC("TXT "), spec, &media_class);
  return 0;
}
