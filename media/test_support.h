// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the media tests: temporary files, codes given as text and
// hand-made platform components.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "platform/file_spec.h"

namespace norvo::media::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  // Writes `content` to a file of that name in the folder and locates it.
  FileSpec write(const std::string& name, std::string_view content) const;

 private:
  std::string path_;
};

FileSpec FileAt(const std::string& path);  // the file need not exist

// "JPEG" -> 'JPEG' (padded with spaces), and back; 0 reads "0".
std::uint32_t CodeOf(std::string_view four);
std::string CodeText(std::uint32_t code);
// The registered kind name, or "(unregistered)".
std::string KindOf(std::string_view code);

int Register(std::string_view code, MediaHandler handler, std::string_view name, MediaClass media_class);

PlatformComponent StillImporter(std::string_view subtype, std::string name);
PlatformComponent MovieImporter(std::string_view subtype, std::string name, std::uint32_t manufacturer = 0,
                                std::uint32_t flags = kFileMovieImporterFlags);

}  // namespace norvo::media::testing
