// SPDX-License-Identifier: GPL-3.0-or-later
// The vocabulary of the media type registry: the media classes a type belongs
// to, the readers (handlers) that serve a type, and the fixed limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/error_codes.h"

namespace norvo::media {

// What kind of media a type is. Stored as one byte (import options, kind
// lists), so the values are fixed.
enum class MediaClass : std::uint8_t {
  Image = 0,
  Audio = 1,
  Video = 2,
  Illustration = 3,
  DTP = 4,
  Font = 5,
  Text = 6,
  HTML = 7,
};
inline constexpr int kMediaClassCount = 8;

// Which reader makes a type's thumbnail and preview. Any other value is
// refused by the preview dispatcher.
enum class MediaHandler : std::uint8_t {
  GraphicsImporter = 1,  // still-image importers
  MovieImporter = 2,     // movie and sound importers
  DirectShow = 3,        // video playback (Windows Media, AVI, MPEG)
  ShellDocument = 7,     // page pictures of PDF and office documents
};

inline constexpr int kMaxMediaTypes = 255;         // rows of the registry (not 256)
inline constexpr std::size_t kKindNameWidth = 64;  // length byte + text
inline constexpr std::size_t kMaxKindNameLength = kKindNameWidth - 1;
inline constexpr int kMaxGraphicsImporters = 200;

// Start-up found neither still-image nor movie importers: the program cannot
// show any media and does not start. Kept here until the engine's error
// table names it.
inline constexpr ErrorCode kMediaFrameworkMissing = -8970;

// The enumerator's name ("Image", "DTP" ...), as JSON output shows it; "" for
// a value outside the eight classes.
std::string_view MediaClassName(MediaClass media_class);
// The labels the user interface shows: "Image" / "Images", "Video" /
// "Animations, Movies" ...; "" for a value outside the eight classes.
std::string_view MediaClassShortLabel(MediaClass media_class);
std::string_view MediaClassLongLabel(MediaClass media_class);

}  // namespace norvo::media
