// SPDX-License-Identifier: GPL-3.0-or-later
// ItemRecord: one media item as stored, a 1024-byte fixed part followed by up
// to five variable parts (Thumbnail, Annotations, Url, Metadata, Recording).
// The fixed part's layout is the one table in VisitFixedFields(); the reader
// and the writer both walk it, so they cannot drift apart. See nrk_format.md.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/limits.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/text_encoding.h"

namespace norvo::catalog {

// A length-prefixed string kept in its full stored width, so that bytes after
// the text survive a read and a write unchanged.
template <std::size_t Width>
struct PStringField {
  std::array<std::uint8_t, Width> bytes{};

  std::size_t length() const { return bytes[0] < Width ? bytes[0] : Width - 1; }
  std::string text() const { return std::string(reinterpret_cast<const char*>(bytes.data() + 1), length()); }
  // Sets the text, cut to Width - 1 bytes; the rest of the field is cleared.
  void set(std::string_view value) {
    bytes.fill(0);
    std::size_t n = value.size() < Width - 1 ? value.size() : Width - 1;
    bytes[0] = static_cast<std::uint8_t>(n);
    for (std::size_t i = 0; i < n; ++i) bytes[1 + i] = static_cast<std::uint8_t>(value[i]);
  }
  std::span<std::uint8_t> textBytes() { return std::span(bytes).subspan(1, length()); }
};

enum class ItemPart : std::uint8_t { kThumbnail, kAnnotations, kUrl, kMetadata, kRecording };
inline constexpr int kPartCount = 5;

struct ItemRecord {
  // The names' 8-bit fields as stored (Windows-1252 in memory). Read and set
  // names through fileName(), displayName() and their setters, in UTF-8.
  PStringField<256> file_name;
  PStringField<64> display_name;
  std::uint32_t scan_time = 0;
  std::array<std::uint8_t, 8> raw_144{};
  std::uint32_t type_code = 0;
  std::uint32_t number_150 = 0;
  std::uint32_t number_154 = 0;
  std::array<std::uint8_t, 8> raw_158{};
  std::uint32_t file_size = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t resolution = 0;
  std::uint32_t sample_colour = 0;
  std::uint32_t depth = 0;
  std::uint32_t number_178 = 0;
  std::uint16_t alias_created_size = 0;
  std::uint16_t alias_kept_size = 0;
  std::array<std::uint8_t, 444> alias{};
  std::uint16_t number_33c = 0;
  std::uint16_t orientation = 0;
  std::uint32_t archived = 0;
  std::uint32_t created = 0;
  std::uint32_t modified = 0;
  std::uint32_t pages = 0;
  std::uint32_t poster_frame = 0;
  std::uint32_t tracks = 0;
  std::uint32_t duration = 0;
  std::uint32_t audio_channels = 0;
  std::uint32_t audio_rate = 0;
  std::uint32_t audio_bit_size = 0;
  std::uint32_t annotated = 0;
  std::uint32_t data_rate = 0;
  std::uint32_t frame_rate = 0;
  std::uint32_t spatial_quality = 0;
  std::array<std::uint8_t, 32> raw_378{};
  std::uint32_t colour_space = 0;
  std::uint32_t compression = 0;
  std::array<std::uint8_t, 32> encoding_name{};
  std::array<std::uint8_t, 32> colour_profile_name{};
  std::uint32_t characters = 0;
  std::uint32_t paragraphs = 0;
  std::uint32_t slack = 0;
  // Part lengths as stored; WriteItemRecord sets them from the part buffers.
  std::uint32_t recording_length = 0;
  std::uint32_t metadata_length = 0;
  std::uint32_t thumbnail_length = 0;
  std::uint32_t annotations_length = 0;
  std::uint32_t url_length = 0;

  // The variable parts. Thumbnail and Recording stay empty when the record was
  // read without its optional parts (has_optional_parts false).
  std::vector<std::uint8_t> thumbnail;
  std::vector<std::uint8_t> annotations;
  std::vector<std::uint8_t> url;
  std::vector<std::uint8_t> metadata;
  std::vector<std::uint8_t> recording;
  bool has_optional_parts = true;

  // The names' true UTF-8 forms when their 8-bit fields cannot hold them
  // whole, else empty. The catalog keeps them beside the record, in its
  // "UTF8" chunk (true_names.h).
  std::string true_file_name;
  std::string true_display_name;

  // The names in UTF-8.
  std::string fileName() const;
  std::string displayName() const;
  // Set a name from UTF-8: the 8-bit field takes its best rendering, cut to
  // the field, and the true form is kept when the rendering is not exact.
  void setFileName(std::string_view utf8);
  void setDisplayName(std::string_view utf8);

  std::vector<std::uint8_t>& part(ItemPart which);
  const std::vector<std::uint8_t>& part(ItemPart which) const;
  std::uint32_t& partLength(ItemPart which);
  std::uint32_t partLength(ItemPart which) const;

  // 1024 plus the five stored part lengths.
  std::uint64_t storedSize() const;
  // Copies the part buffers' sizes into the length fields.
  void syncPartLengths();
  std::span<const std::uint8_t> aliasBytes() const;
};

// The parts in the order they follow the fixed part in a file.
inline constexpr std::array<ItemPart, kPartCount> kFilePartOrder = {
    ItemPart::kThumbnail, ItemPart::kAnnotations, ItemPart::kUrl, ItemPart::kMetadata, ItemPart::kRecording};

// The one table of the fixed part: each field with its offset and width.
template <class Record, class Visitor>
void VisitFixedFields(Record& r, Visitor& v) {
  v.text(0x000, r.file_name.bytes);
  v.text(0x100, r.display_name.bytes);
  v.u32(0x140, r.scan_time);
  v.raw(0x144, r.raw_144);
  v.u32(0x14C, r.type_code);
  v.u32(0x150, r.number_150);
  v.u32(0x154, r.number_154);
  v.raw(0x158, r.raw_158);
  v.u32(0x160, r.file_size);
  v.u32(0x164, r.width);
  v.u32(0x168, r.height);
  v.u32(0x16C, r.resolution);
  v.u32(0x170, r.sample_colour);
  v.u32(0x174, r.depth);
  v.u32(0x178, r.number_178);
  v.u16(0x17C, r.alias_created_size);
  v.u16(0x17E, r.alias_kept_size);
  v.raw(0x180, r.alias);
  v.u16(0x33C, r.number_33c);
  v.u16(0x33E, r.orientation);
  v.u32(0x340, r.archived);
  v.u32(0x344, r.created);
  v.u32(0x348, r.modified);
  v.u32(0x34C, r.pages);
  v.u32(0x350, r.poster_frame);
  v.u32(0x354, r.tracks);
  v.u32(0x358, r.duration);
  v.u32(0x35C, r.audio_channels);
  v.u32(0x360, r.audio_rate);
  v.u32(0x364, r.audio_bit_size);
  v.u32(0x368, r.annotated);
  v.u32(0x36C, r.data_rate);
  v.u32(0x370, r.frame_rate);
  v.u32(0x374, r.spatial_quality);
  v.raw(0x378, r.raw_378);
  v.u32(0x398, r.colour_space);
  v.u32(0x39C, r.compression);
  v.raw(0x3A0, r.encoding_name);
  v.raw(0x3C0, r.colour_profile_name);
  v.u32(0x3E0, r.characters);
  v.u32(0x3E4, r.paragraphs);
  v.u32(0x3E8, r.slack);
  v.u32(0x3EC, r.recording_length);
  v.u32(0x3F0, r.metadata_length);
  v.u32(0x3F4, r.thumbnail_length);
  v.u32(0x3F8, r.annotations_length);
  v.u32(0x3FC, r.url_length);
}

// Whether the names of a fixed part are converted between the file's Mac
// Roman and Windows-1252 (memory).
enum class NameText { kAsStored, kConverted };

// Fixed part <-> its 1024 stored bytes, the two names converted or not.
void DecodeFixedPart(std::span<const std::uint8_t, kFixedPartSize> bytes, NameText names, ItemRecord& out);
void EncodeFixedPart(const ItemRecord& record, NameText names, std::span<std::uint8_t, kFixedPartSize> out);

// Converts the text data sets (marker 0x1C) of an annotation stream in place.
// Returns the length of the well-formed prefix: the stream ends at the first
// entry whose marker is neither 0x1C nor 0x1D, or that runs past the end.
std::size_t ConvertAnnotations(std::span<std::uint8_t> stream, TextDirection direction);

// How a record is read: whether the optional parts (Thumbnail, Recording)
// come too, and whether its texts are converted from the file's Mac Roman to
// Windows-1252.
struct RecordRead {
  bool optional_parts = true;
  bool convert_text = true;
};
// Every part, texts converted: what showing or editing an item needs.
inline constexpr RecordRead kWholeRecord{};
// Every part but the Thumbnail and Recording, texts converted.
inline constexpr RecordRead kWithoutOptionalParts{.optional_parts = false};

// Reads the record at `offset`. Part lengths that run past the end of the
// file are an error (err::kEndOfFile), checked before anything is allocated.
ErrorCode ReadItemRecord(const File& file, std::int64_t offset, RecordRead read, ItemRecord& out);
// Reads only the five part lengths and returns the stored size (1024 plus the
// parts): what a save needs to copy a record it does not look into.
ErrorCode ReadStoredSize(const File& file, std::int64_t offset, std::uint64_t* size);
// Reads only the fixed part (the file size, the part lengths, the names).
ErrorCode ReadFixedPart(const File& file, std::int64_t offset, NameText names, ItemRecord& out);

// Whether a written record is followed by its slack's worth of zero bytes.
enum class SlackBytes { kCounted, kWritten };

// Writes the record at `offset`: its part lengths are taken from its buffers
// (it must carry its optional parts), its slack field is set to `slack`, and
// with SlackBytes::kWritten that many zero bytes follow it (growth room in a
// ScratchFile). Returns the stored size (1024 plus the parts).
ErrorCode WriteItemRecord(const ItemRecord& record, File& file, std::int64_t offset, std::uint32_t slack,
                          SlackBytes pad, std::uint32_t* stored_size);

}  // namespace norvo::catalog
