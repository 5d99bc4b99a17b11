// SPDX-License-Identifier: GPL-3.0-or-later
// The web gallery's settings: one 628-byte little-endian record, kept by the
// settings store as the binary value "HTMLSettings" (key "Preferences").
// One field table (VisitGallerySettings) drives both the reader and the
// writer and covers every byte of the record, reserved bytes included, so a
// record read and written again comes back byte for byte. The layout is in
// gallery_format.md.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::output {

inline constexpr std::size_t kGallerySettingsSize = 628;
inline constexpr std::uint32_t kGallerySettingsVersion = 0x00020001;
// Where the program keeps the record in the settings store.
inline constexpr std::string_view kGallerySettingsKey = "Preferences";
inline constexpr std::string_view kGallerySettingsValue = "HTMLSettings";
inline constexpr std::size_t kTemplateNameWidth = 64;  // length byte + up to 63 characters

struct RgbColour {
  std::uint16_t red = 0, green = 0, blue = 0;
};

struct GallerySettings {
  std::uint32_t version = kGallerySettingsVersion;
  std::uint8_t numbered_page_names = 0;
  std::uint8_t embed_iptc = 0;
  std::uint8_t extension_code = 0;  // 1 htm, 2 html, 3 shtml, 4 php, 5 asp, 6 xml; else htm
  std::uint8_t media_size_code = 1;
  std::int16_t thumbnail_size = 96;
  std::uint8_t thumbnail_size_code = 2;
  std::uint8_t jpeg_quality_code = 0;  // 1..5, 7 target size; else medium
  std::uint8_t raw_captions = 0;
  std::uint8_t text_encoding = 1;  // 2 Japanese (Shift-JIS); else Western
  std::uint8_t include_file_names = 0;
  std::uint8_t include_media_info = 0;
  std::uint32_t template_kind = 1;
  std::array<std::uint8_t, kTemplateNameWidth> template_name{};  // length-prefixed
  std::int32_t columns = 4;
  std::int32_t rows = 4;
  std::uint8_t frame_images = 0;
  std::uint8_t watermark = 0;
  std::uint8_t thumbnail_scaling = 2;  // 2 fit, 3 fill
  std::uint8_t media_scaling = 2;      // 1 natural, 2 fit, 3 fill
  std::int16_t media_box_width = 640;
  std::int16_t media_box_height = 480;
  RgbColour background{0xFFFF, 0xFFFF, 0xFFFF};
  RgbColour link{0x0000, 0x0000, 0xFFFF};
  RgbColour text{0x0000, 0x0000, 0x0000};
  RgbColour text_background{0xEEEE, 0xEEEE, 0xEEEE};
  std::uint8_t kept = 1;  // written and preserved, not read by the export
  std::uint8_t movie_auto_play = 1;
  std::uint8_t movie_loop = 0;
  std::uint8_t movie_controller = 1;
  std::int32_t target_jpeg_kb = 100;
  std::uint32_t reserved_132 = 0;
  std::array<std::uint8_t, 492> reserved_136{};

  // The template folder's name (the length-prefixed field as text).
  std::string templateName() const;
  void setTemplateName(std::string_view name);  // cut to 63 bytes
  // The page-name extension without its dot ("htm", "html", ...).
  std::string_view extension() const;
  bool japanese() const { return text_encoding == 2; }
};

// The one table of the record: each field with its offset and width, in
// offset order, covering all 628 bytes.
template <class Settings, class Visitor>
void VisitGallerySettings(Settings& s, Visitor& v) {
  v.u32(0, s.version);
  v.u8(4, s.numbered_page_names);
  v.u8(5, s.embed_iptc);
  v.u8(6, s.extension_code);
  v.u8(7, s.media_size_code);
  v.i16(8, s.thumbnail_size);
  v.u8(10, s.thumbnail_size_code);
  v.u8(11, s.jpeg_quality_code);
  v.u8(12, s.raw_captions);
  v.u8(13, s.text_encoding);
  v.u8(14, s.include_file_names);
  v.u8(15, s.include_media_info);
  v.u32(16, s.template_kind);
  v.raw(20, s.template_name);
  v.i32(84, s.columns);
  v.i32(88, s.rows);
  v.u8(92, s.frame_images);
  v.u8(93, s.watermark);
  v.u8(94, s.thumbnail_scaling);
  v.u8(95, s.media_scaling);
  v.i16(96, s.media_box_width);
  v.i16(98, s.media_box_height);
  v.colour(100, s.background);
  v.colour(106, s.link);
  v.colour(112, s.text);
  v.colour(118, s.text_background);
  v.u8(124, s.kept);
  v.u8(125, s.movie_auto_play);
  v.u8(126, s.movie_loop);
  v.u8(127, s.movie_controller);
  v.i32(128, s.target_jpeg_kb);
  v.u32(132, s.reserved_132);
  v.raw(136, s.reserved_136);
}

// Applies the range checks every load applies: columns and rows below 1
// become 4, a thumbnail size outside 16..512 becomes 96, box sides outside
// 16..16000 become 640 and 480, scaling codes outside their sets become 2
// (fit), a target size below 1 becomes 100.
void ValidateGallerySettings(GallerySettings* settings);

// Reads a stored record. Absent (empty) bytes, or a record whose first word
// is not kGallerySettingsVersion, give the defaults. A record of the right
// version but not 628 bytes long is err::kParam (and *out holds the
// defaults). The range checks are applied.
ErrorCode ParseGallerySettings(std::span<const std::uint8_t> bytes, GallerySettings* out);
// The 628 stored bytes.
std::vector<std::uint8_t> SerializeGallerySettings(const GallerySettings& settings);

// What the options sheet's Layout page stores when accepted: the thumbnail
// size 32 x (code + 1), the media box of the media code (1: 320 x 240,
// 2: 480 x 360, 3: 640 x 480, else 800 x 600), and page names by file name.
void ApplyLayoutCodes(GallerySettings* settings, int thumbnail_code, int media_code);

}  // namespace norvo::output
