// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion options: one 160-byte little-endian record per media kind,
// kept in the coded store under 'EXPO' (images at index 3, movies at 5,
// sounds at 7), each followed at the next index by the writer's own
// settings (quality; for movies and sounds the encoder's sizes, rates and
// codecs). One field table (VisitConversionOptions) drives both the reader
// and the writer and covers every byte, so a record read and written again
// comes back byte for byte.
//
//   offset  width  field
//   0       u32    media kind: 4 images, 2 movies, 1 sounds
//   4       u32    output format code ('JPEG', 'PNGf' ...; movies 'MooV', sounds 'AIFF')
//   8       u8     preserve colour profiles
//   9       2 x u8 kept as stored
//   11      u8     preserve EXIF/GPS metadata (the writer is given the source's EXIF)
//   12      4 x u8 kept as stored (12 is 1 by default)
//   16      124    output format name, length byte first
//   140     u16    quality or percentage, kept as stored
//   142     u8     kept as stored
//   143     u8     scale to fit the box (0: natural bounds)
//   144     u32    box width in pixels
//   148     u32    box height in pixels
//   152     u32    custom resolution (0: the image's own)
//   156     u32    resolution in dpi
//
// A preset file holds the same records: "NRPS", its kind's file type
// ('IMGC', 'MOVC' or 'SNDC'), a count, then each record as code, index,
// length and bytes (header and entry fields big-endian).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "output/media_encoder.h"
#include "platform/byte_io.h"
#include "platform/error_codes.h"

namespace norvo::output {

inline constexpr std::size_t kConversionOptionsSize = 160;
inline constexpr std::uint32_t kConversionSettingsCode = 0x4558504F;  // 'EXPO'
inline constexpr std::size_t kFormatNameWidth = 124;

enum class ConversionKind : std::uint32_t { kSound = 1, kMovie = 2, kImage = 4 };

// The coded-store index of a kind's options record; its writer settings sit
// at the next index.
int OptionsIndex(ConversionKind kind);
int WriterSettingsIndex(ConversionKind kind);
// The preset file type of a kind: 'IMGC', 'MOVC', 'SNDC'.
std::uint32_t PresetFileType(ConversionKind kind);

struct ConversionOptions {
  std::uint32_t media_kind = static_cast<std::uint32_t>(ConversionKind::kImage);
  std::uint32_t output_format = FourCC("JPEG");
  std::uint8_t preserve_profiles = 1;
  std::array<std::uint8_t, 2> flags_9{1, 1};
  std::uint8_t preserve_metadata = 1;
  std::array<std::uint8_t, 4> flags_12{1, 0, 0, 0};
  std::array<std::uint8_t, kFormatNameWidth> format_name{};  // length-prefixed
  std::uint16_t quality = 100;
  std::uint8_t byte_142 = 0;
  std::uint8_t scale_to_fit = 0;
  std::uint32_t box_width = 640;
  std::uint32_t box_height = 480;
  std::uint32_t custom_resolution = 0;
  std::uint32_t resolution = 72;

  ConversionKind kind() const { return static_cast<ConversionKind>(media_kind); }
  std::string formatName() const;
  void setFormatName(std::string_view name);  // cut to 123 bytes
};

// The defaults of a kind: the image record above; movies and sounds have
// only the kind and the format ('MooV', 'AIFF') set and the rest zero.
ConversionOptions DefaultConversionOptions(ConversionKind kind);

// The one table of the record, in offset order, covering all 160 bytes.
template <class Options, class Visitor>
void VisitConversionOptions(Options& o, Visitor& v) {
  v.u32(0, o.media_kind);
  v.u32(4, o.output_format);
  v.u8(8, o.preserve_profiles);
  v.raw(9, o.flags_9);
  v.u8(11, o.preserve_metadata);
  v.raw(12, o.flags_12);
  v.raw(16, o.format_name);
  v.u16(140, o.quality);
  v.u8(142, o.byte_142);
  v.u8(143, o.scale_to_fit);
  v.u32(144, o.box_width);
  v.u32(148, o.box_height);
  v.u32(152, o.custom_resolution);
  v.u32(156, o.resolution);
}

// Reads a stored record of `kind`. Absent (empty) bytes give the kind's
// defaults; a record that is not 160 bytes long, or holds another kind, is
// err::kParam and *out holds the defaults.
ErrorCode ParseConversionOptions(std::span<const std::uint8_t> bytes, ConversionKind kind, ConversionOptions* out);
std::vector<std::uint8_t> SerializeConversionOptions(const ConversionOptions& options);

// The output file's extension for a format code ("jpg", "png" ... "mov",
// "aif"); empty for a code that is not known.
std::string ExtensionForFormat(std::uint32_t code);
// The format code of an extension (case ignored); 0 when not known.
std::uint32_t FormatForExtension(std::string_view extension);

// The writer settings of images: the quality of the lossy writers.
struct ImageWriterSettings {
  int quality = 85;  // 1 to 100
};
// Absent or damaged bytes give the defaults.
ImageWriterSettings ParseImageWriterSettings(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> SerializeImageWriterSettings(const ImageWriterSettings& settings);

// The writer settings of movies and sounds are what the encoder takes (0 or
// empty: the encoder's choice), stored in the settings store by these two.
using AvWriterSettings = AvEncodeSettings;
AvWriterSettings ParseAvWriterSettings(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> SerializeAvWriterSettings(const AvWriterSettings& settings);

// One record of a preset file.
struct PresetRecord {
  std::uint32_t code = kConversionSettingsCode;
  std::int32_t index = 0;
  std::vector<std::uint8_t> bytes;
};
inline constexpr std::size_t kMaxPresetRecords = 64;
inline constexpr std::size_t kMaxPresetRecordBytes = 1u << 20;

// The bytes of a preset file of `kind`.
std::vector<std::uint8_t> SerializePreset(ConversionKind kind, std::span<const PresetRecord> records);
// Reads a preset file's bytes: err::kParam when it is not a preset of
// `kind`, is cut short or exceeds the limits above.
ErrorCode ParsePreset(std::span<const std::uint8_t> bytes, ConversionKind kind, std::vector<PresetRecord>* out);
// The record stored at `index` under 'EXPO', or nothing.
std::optional<std::vector<std::uint8_t>> PresetSetting(std::span<const PresetRecord> records, std::int32_t index);

// Writes a preset file (a new file; an existing one is err::kDuplicateName)
// and reads one.
ErrorCode SavePresetFile(const std::string& path, ConversionKind kind, std::span<const PresetRecord> records);
ErrorCode LoadPresetFile(const std::string& path, ConversionKind kind, std::vector<PresetRecord>* out);

}  // namespace norvo::output
