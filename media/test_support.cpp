// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/byte_io.h"

namespace norvo::media::testing {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base ? base : "/tmp") + "/norvo-media-test-XXXXXX";
  char* made = ::mkdtemp(templ.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

FileSpec TempDir::write(const std::string& name, std::string_view content) const {
  std::string path = JoinPath(path_, name);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(content.data(), std::ssize(content));
  return FileAt(path);
}

FileSpec FileAt(const std::string& path) {
  FileSpec file;
  EXPECT_TRUE(FileSpecFilled(MakeFileSpec(path, file))) << path;
  return file;
}

std::uint32_t CodeOf(std::string_view four) {
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < 4; ++i) code = (code << 8) | static_cast<std::uint8_t>(i < four.size() ? four[i] : ' ');
  return code;
}

std::string CodeText(std::uint32_t code) { return code == 0 ? std::string("0") : FourCCToString(code); }

std::string KindOf(std::string_view code) {
  std::string_view name = "(stale)";
  if (!GetKindName(CodeOf(code), name)) return name.empty() ? "(unregistered)" : "(name not cleared)";
  return std::string(name);
}

int Register(std::string_view code, MediaHandler handler, std::string_view name, MediaClass media_class) {
  return RegisterMediaType(CodeOf(code), handler, name.data(), name.size(), media_class);
}

PlatformComponent StillImporter(std::string_view subtype, std::string name) {
  return PlatformComponent{kStillImageImporterType, CodeOf(subtype), FourCC("test"), 0, std::move(name)};
}

PlatformComponent MovieImporter(std::string_view subtype, std::string name, std::uint32_t manufacturer,
                                std::uint32_t flags) {
  return PlatformComponent{kMovieImporterType, CodeOf(subtype), manufacturer == 0 ? FourCC("test") : manufacturer,
                           flags, std::move(name)};
}

}  // namespace norvo::media::testing
