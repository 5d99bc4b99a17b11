// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/platform_components.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string_view>

#include "platform/file_spec.h"

#include "platform/reader_plugins.h"

namespace norvo::media {
namespace {

// Manufacturer codes of the still-image importers: who reads the format.
constexpr std::uint32_t kJpegMaker = FourCC("ljpg");   // libjpeg-turbo
constexpr std::uint32_t kPngMaker = FourCC("lpng");    // libpng
constexpr std::uint32_t kTiffMaker = FourCC("ltif");   // libtiff
constexpr std::uint32_t kOwnMaker = FourCC("nrvo");    // readers of this program
constexpr std::uint32_t kWebpMaker = FourCC("lwbp");   // libwebp
constexpr std::uint32_t kGifMaker = FourCC("lgif");    // giflib
// HEIF ('lhif'), camera raw ('lraw') and the movie formats ('ffmp', and the
// sound and music codes that decide a sound's class) come from the plug-ins.

constexpr std::size_t kMaxExtensions = 4;
using Extensions = std::array<std::uint32_t, kMaxExtensions>;  // 0 ends the list

// What a platform component says about itself; the extensions come as
// components of their own.
struct ComponentFormat {
  std::uint32_t subtype;
  std::uint32_t manufacturer;
  std::string_view name;
  Extensions extensions;
};

void AddComponents(std::vector<PlatformComponent>& list, std::uint32_t type, std::uint32_t flags,
                   const ComponentFormat& f) {
  list.push_back(PlatformComponent{type, f.subtype, f.manufacturer, flags, std::string(f.name)});
  for (std::uint32_t extension : f.extensions) {
    if (extension != 0) list.push_back(PlatformComponent{type, extension, f.manufacturer, flags, std::string(f.name)});
  }
}

// --- still images -----------------------------------------------------------------

// Read by libraries linked into the program (or by its own readers), so they
// are always present. GIF is listed as the platform lists it, but its codes
// are among those the registry leaves to the movie importers (animation).
constexpr std::array<ComponentFormat, 7> kLinkedStillImageFormats = {{
    {FourCC("JPEG"), kJpegMaker, "JFIF", {FourCC("jpg "), FourCC("jpeg"), FourCC("jpe "), FourCC("jfif")}},
    {FourCC("PNGf"), kPngMaker, "PNG", {FourCC("png ")}},
    {FourCC("TIFF"), kTiffMaker, "TIFF", {FourCC("tif "), FourCC("tiff")}},
    {FourCC("BMP "), kOwnMaker, "BMP", {FourCC("bmp "), FourCC("dib ")}},
    {FourCC("8BPS"), kOwnMaker, "Photoshop", {FourCC("psd ")}},
    {FourCC("WEBP"), kWebpMaker, "WebP", {FourCC("webp")}},
    {FourCC("GIFf"), kGifMaker, "GIF", {FourCC("GIF ")}},
}};

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
  for (const ComponentFormat& f : kLinkedStillImageFormats) {
    AddComponents(components.still_image_importers, kStillImageImporterType, 0, f);
  }
  AddPluginComponents(components.still_image_importers, plugins::DescribeReaderPlugin(plugins::kHeifFamily));
  AddPluginComponents(components.still_image_importers, plugins::DescribeReaderPlugin(plugins::kRawFamily));
  const plugins::PluginDescription movies = plugins::DescribeReaderPlugin(plugins::kMoviesFamily);
  AddPluginComponents(components.movie_importers, movies);
  components.video_playback = (movies.features & kNorvoFeatureVideoPlayback) != 0;
  components.pdf_documents =
      (plugins::DescribeReaderPlugin(plugins::kDocumentsFamily).features & kNorvoFeaturePdfDocuments) != 0;
  components.office_documents = ProgramOnPath("soffice") || ProgramOnPath("libreoffice");
  return components;
}

}  // namespace norvo::media
