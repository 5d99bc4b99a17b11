// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/platform_components.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string_view>

#include "imaging/image_reader.h"
#include "platform/file_spec.h"
#include "platform/reader_plugins.h"

namespace norvo::media {
namespace {

// What a platform component says about itself; the extensions come as
// components of their own.
void AddComponents(std::vector<PlatformComponent>& list, std::uint32_t type, std::uint32_t flags,
                   const imaging::StillImageFormat& f) {
  list.push_back(PlatformComponent{type, f.code, f.maker, flags, std::string(f.name)});
  for (std::uint32_t extension : f.extensions) {
    if (extension != 0) list.push_back(PlatformComponent{type, extension, f.maker, flags, std::string(f.name)});
  }
}

// The components a plug-in family reports, as the registry takes them.
void AddPluginComponents(std::vector<PlatformComponent>& list, const plugins::PluginDescription& family) {
  for (const plugins::PluginComponentInfo& c : family.components) {
    list.push_back(PlatformComponent{c.type, c.subtype, c.manufacturer, c.flags, c.name});
  }
}

// --- documents ----------------------------------------------------------------------

// An executable regular file of that name in a folder of $PATH. Empty PATH
// entries (the current folder) are not searched.
bool ProgramOnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string_view folders = path;
  while (true) {
    std::size_t colon = folders.find(':');
    std::string_view folder = folders.substr(0, colon);
    if (!folder.empty()) {
      std::string candidate = JoinPath(std::string(folder), std::string(program));
      struct stat st {};
      if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
        return true;
      }
    }
    if (colon == std::string_view::npos) return false;
    folders.remove_prefix(colon + 1);
  }
}

}  // namespace

PlatformComponents FindPlatformComponents() {
  PlatformComponents components;
  // The plug-ins' parts come from the lists written beside their modules;
  // no module is opened here.
  // Still images: the linked readers' formats are always present; the
  // plug-in readers' come after them.
  const auto formats = imaging::StillImageFormats();
  for (const imaging::StillImageFormat& f : formats) {
    if (f.plugin.empty()) AddComponents(components.still_image_importers, kStillImageImporterType, 0, f);
  }
  for (const imaging::StillImageFormat& f : formats) {
    if (!f.plugin.empty()) {
      AddPluginComponents(components.still_image_importers, plugins::DescribeReaderPlugin(f.plugin));
    }
  }
  const plugins::PluginDescription movies = plugins::DescribeReaderPlugin(plugins::kMoviesFamily);
  AddPluginComponents(components.movie_importers, movies);
  components.video_playback = (movies.features & kNorvoFeatureVideoPlayback) != 0;
  components.pdf_documents =
      (plugins::DescribeReaderPlugin(plugins::kDocumentsFamily).features & kNorvoFeaturePdfDocuments) != 0;
  components.office_documents = ProgramOnPath("soffice") || ProgramOnPath("libreoffice");
  return components;
}

}  // namespace norvo::media
