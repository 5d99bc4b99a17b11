// SPDX-License-Identifier: GPL-3.0-or-later
// Layout stamps of the media reader plug-ins: the sizes of the types their
// tables pass, so that the program refuses a module built from other sources.
#pragma once

#include "platform/reader_plugins.h"
#include "media/document_reader.h"
#include "media/movie_reader.h"

namespace norvo::media {

inline constexpr std::uint32_t kMovieLayout =
    plugins::LayoutStamp({sizeof(MovieFacts), sizeof(MovieTrack), sizeof(MovieChapter), sizeof(MovieTag),
                          sizeof(MovieReadLimits), sizeof(imaging::PixelBuffer), sizeof(std::string), 1});
inline constexpr std::uint32_t kDocumentLayout =
    plugins::LayoutStamp({sizeof(DocumentFacts), sizeof(imaging::PixelBuffer), 1});

}  // namespace norvo::media
