// SPDX-License-Identifier: GPL-3.0-or-later
// The platform's media components: which still-image and movie importers
// this machine has, and whether video playback and document page pictures
// are available. The type registry is filled from these lists; they are
// built once at start-up from what the linked libraries (libjpeg, libpng,
// libtiff, libwebp, giflib), the reader plug-ins (libheif, LibRaw, FFmpeg,
// Poppler: from the component lists written beside their modules, without
// opening them) and an installed LibreOffice actually support.
//
// Each importer is described the way a component manager would: a component
// type, a subtype code naming the format, a manufacturer code and a name.
// As with platform importers, one format comes as several components: one
// under the format's own code and one per usual file extension, in lower
// case ('jpg ', 'tif ', 'mp4 '), so that files are found by their extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_io.h"

namespace norvo::media {

// Component types.
inline constexpr std::uint32_t kStillImageImporterType = FourCC("grip");
inline constexpr std::uint32_t kMovieImporterType = FourCC("eat ");

// Movie importer flags. The registry takes only movie importers that have
// all three of can-import-files, can-import-in-place and has-a-MIME-list.
inline constexpr std::uint32_t kCanImportFiles = 0x0002;
inline constexpr std::uint32_t kCanImportInPlace = 0x0800;
inline constexpr std::uint32_t kHasMimeList = 0x4000;
inline constexpr std::uint32_t kFileMovieImporterFlags = kCanImportFiles | kCanImportInPlace | kHasMimeList;

// Manufacturer codes that decide a movie importer's class.
inline constexpr std::uint32_t kSoundManufacturer = FourCC("soun");
inline constexpr std::uint32_t kMusicManufacturer = FourCC("musi");
inline constexpr std::uint32_t kStreamingManufacturer = FourCC("strm");

struct PlatformComponent {
  std::uint32_t type = 0;          // kStillImageImporterType or kMovieImporterType
  std::uint32_t subtype = 0;       // the format or file-extension code
  std::uint32_t manufacturer = 0;
  std::uint32_t flags = 0;
  std::string name;                // Windows-1252, at most 255 bytes
};

struct PlatformComponents {
  std::vector<PlatformComponent> still_image_importers;
  std::vector<PlatformComponent> movie_importers;
  // Windows Media, AVI and MPEG files can be played (demuxers and decoders
  // for all three are present).
  bool video_playback = false;
  // Page pictures of PDF files (Poppler).
  bool pdf_documents = false;
  // Page pictures of office documents (LibreOffice, run headless).
  bool office_documents = false;
};

// Asks the linked libraries and the plug-ins' lists what they can read and
// builds the lists. Office
// documents count as available when `soffice` or `libreoffice` is an
// executable file in a folder of $PATH.
PlatformComponents FindPlatformComponents();

}  // namespace norvo::media
