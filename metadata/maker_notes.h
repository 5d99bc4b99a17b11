// SPDX-License-Identifier: GPL-3.0-or-later
// Camera makers' private blocks (maker notes): the camera code taken from the
// Make text, where each maker's note directory starts, and the rules that turn
// Nikon, Canon and Pentax note values into the EXIF-style values of the photo
// fields.
#pragma once

#include <cstdint>
#include <string_view>

#include "metadata/byte_source.h"
#include "metadata/metadata_list.h"
#include "metadata/tiff_ifd.h"
#include "metadata/tiff_tags.h"
#include "platform/byte_io.h"

namespace norvo::metadata {

inline constexpr std::uint32_t kCameraAsahi = FourCC("Asah");
inline constexpr std::uint32_t kCameraPentax = FourCC("PNTX");
inline constexpr std::uint32_t kCameraNikon = FourCC("NIKN");
inline constexpr std::uint32_t kCameraCanon = FourCC("CANN");
inline constexpr std::uint32_t kCameraKodak = FourCC("KODK");
inline constexpr std::uint32_t kCameraOlympus = FourCC("OLYM");
inline constexpr std::uint32_t kCameraMinolta = FourCC("MLTA");

// The camera code of a Make text (trailing NULs ignored); 0 when the maker
// has no rules here or the text has fewer than 5 characters.
std::uint32_t CameraCodeFromMake(std::string_view make);

// Where a maker note's directory lies and how to read it, by walk.camera:
// the EXIF reader's tag store answers the IFD walk with this. `note_offset`
// is the MakerNote value's offset (relative to walk.base).
MakerNotePlace PlaceMakerNote(const ByteSource& source, const IfdWalk& walk, std::uint32_t note_offset);

// Nikon note tags 0x2 to 0x95.
void ApplyNikonRules(MetadataList& list, const TagValue& value);
// Canon note tag 1 (camera settings) and tag 4 (shot information).
void ApplyCanonRules(MetadataList& list, const TagValue& value);
// Pentax and Asahi note tags: ISO (0x14), white balance (0x19), lens (0x3f).
void ApplyPentaxRules(MetadataList& list, const TagValue& value);

// Nikon's fixed-width texts, compared as the note writes them: the value up
// to its NUL, padded with spaces, against the word padded to `width`.
bool NikonTextIs(std::span<const std::uint8_t> value, std::string_view word, std::size_t width);

}  // namespace norvo::metadata
