// SPDX-License-Identifier: GPL-3.0-or-later
// The media type registry: the one process-wide table of the type codes the
// program accepts ('JPEG', 'MooV', 'WMV ' ...), with each type's kind name,
// media class and handler. It is filled once at start-up, before any other
// thread exists, and only read afterwards, without locks. Codes are unique
// and the first registration of a code wins, so the order of InitMediaTypes
// decides which reader serves a code offered by several.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "catalog/item_record.h"
#include "media/media_types.h"
#include "media/platform_components.h"
#include "platform/error_codes.h"

namespace norvo::media {

using KindName = catalog::PStringField<kKindNameWidth>;

struct MediaTypeRow {
  std::uint32_t code = 0;
  MediaClass media_class = MediaClass::Image;
  MediaHandler handler = MediaHandler::GraphicsImporter;
  KindName kind_name;  // Windows-1252
};

// Adds one row; returns the new row count, or 0 when the table is full, the
// code's first character is '.', or the code is already registered. A null
// `kind_name` names the row after the code's four characters; a longer name
// is cut to 63 characters.
int RegisterMediaType(std::uint32_t code, MediaHandler handler, const char* kind_name,
                      std::size_t kind_name_length, MediaClass media_class);

// Empties the registry and the graphics-importer list (closing any open
// importer instance).
void ClearMediaTypes();

// Clears and fills the registry from the platform's components: video
// playback types, movie importers, still-image importers and their aliases,
// document types, in that order. Returns kMediaFrameworkMissing, leaving the
// registry as it was, when there are neither still-image nor movie importers.
ErrorCode InitMediaTypes(const PlatformComponents& components);

// The registered codes in registration order.
std::span<const std::uint32_t> GetMediaTypeTable();
// The rows themselves, in registration order.
std::span<const MediaTypeRow> GetMediaTypeRows();

// Class of a registered code; Image (0) when the code is not registered.
// The row of a type: the one registered under exactly this code, else the
// first whose code is equal ignoring case (codes stored by older versions,
// in the case of a file's extension). Null when none is.
const MediaTypeRow* FindMediaTypeRow(std::uint32_t code);

MediaClass GetMediaClass(std::uint32_t code);
// Handler of a registered code; GraphicsImporter (1) when it is not registered.
MediaHandler GetMediaHandler(std::uint32_t code);
// True and the kind name (Windows-1252, valid until the registry is cleared),
// or false and an empty name when the code is not registered.
bool GetKindName(std::uint32_t code, std::string_view& kind_name);
// True when at least one row has this class.
bool IsMediaClassPresent(MediaClass media_class);

// What the code's handler can do (an unregistered code has handler 1). Any
// out pointer may be null.
void GetMediaCapabilities(std::uint32_t code, bool* plays, bool* has_still_picture, bool* has_preview,
                          bool* is_graphics_image);

// True when Photoshop ('8BPS'), TIFF and BMP are all registered; start-up
// warns when they are not.
bool HasEssentialImporters();

}  // namespace norvo::media
