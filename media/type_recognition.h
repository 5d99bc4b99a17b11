// SPDX-License-Identifier: GPL-3.0-or-later
// Recognition of media files on disk: the type code of a file from its name's
// extension, the aliases that several extensions share ('JPG ' is 'JPEG'),
// a look inside text-like files (an HTML page or a PDF saved as .txt) and the
// class filter of the import options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "media/class_mask.h"
#include "media/media_types.h"
#include "platform/file_spec.h"

namespace norvo::media {

// How much of a text-like file is read to find out what it really holds.
inline constexpr std::size_t kSniffLength = 1023;
// Fewer bytes than this are not looked at.
inline constexpr std::size_t kMinSniffLength = 7;

// The extension code of a file name (Windows-1252): the one to four
// characters after the last '.' among the name's last five characters,
// letters upper-cased, padded with spaces: "photo.jpg" gives 'JPG ',
// "scan.tiff" 'TIFF'. 0 for an empty name, a name ending in '.', or no '.'
// in that window ("movie.mpeg4").
std::uint32_t TypeCodeFromName(std::string_view name);

// The canonical code of an extension code: aliases are folded ('TIF ' to
// 'TIFF', 'MOV ' to 'MooV' ...), and for 'AI  ', 'TEXT' and 'TXT ' the file's
// first bytes decide (HTML, PostScript, PDF or a QuickTime text movie).
// *media_class is written only when the file's content decided the code.
std::uint32_t NormalizeMediaType(std::uint32_t code, const FileSpec& file, MediaClass* media_class);

// The type code under which the file is to be catalogued, or 0 when it is not
// a media file of a registered type, or its class is not in `class_mask`
// (a zero mask accepts every class). *media_class, when given, receives the
// class the file was recognised under (after sniffing its content).
std::uint32_t RecognizeMediaFile(const FileSpec& file, ClassMask class_mask, MediaClass* media_class = nullptr);

}  // namespace norvo::media
