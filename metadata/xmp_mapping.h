// SPDX-License-Identifier: GPL-3.0-or-later
// Mapping between the annotation block and a file's embedded metadata: the
// XMP property table, the metadata text items, and the order in which a new
// item's block is made from a file (IPTC first, then metadata text items,
// then XMP last, so XMP wins for single values and adds to lists).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/annotation_block.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

// The program's own schema.
inline constexpr std::string_view kNsGalvorin = "http://ns.norvo-media.org/galvorin/1.0/";
inline constexpr std::string_view kGalvorinPrefix = "galvorin";

// The failure text of a rewrite asked for without a packet.
inline constexpr std::string_view kBadPacketText = "hData is a bad handle";

enum class XmpValueKind : std::uint8_t {
  kNone,  // the entry is not read (or not written)
  kText,  // a simple property
  kDate,  // a date property <-> CCYYMMDD
  kBag,   // an unordered array, one item per value
};

struct XmpFieldMapping {
  FieldId id;
  XmpValueKind reader;
  XmpValueKind writer;
  std::string_view ns;
  std::string_view path;
};

// The 41 entries in the order they are applied.
std::span<const XmpFieldMapping> XmpFieldTable();

// Applies XMP packets (UTF-8 text) to the block: later packets are merged
// into the first, then each table entry with a reader, in order: a text
// replaces the field's first value (an empty text removes it), a date is
// stored as CCYYMMDD, bag items not yet in the block are appended (an item
// whose value the block holds cut short, as the field's IIM record keeps a
// long value, takes that entry's place instead). Texts that Windows-1252 can
// hold are stored as text entries, others as raw UTF-8.
// A packet that cannot be parsed is skipped; when none can be, the result is
// err::kXmpUnreadable and the block is unchanged.
ErrorCode ReadXmpIntoAnnotations(std::span<const std::string_view> packets, AnnotationBlock& block);

// Rewrites an existing packet in place from the block: each table entry with
// a writer sets or removes its property, then the tree is serialised into
// exactly the old packet's byte size and empty list items are blanked out.
// Properties outside the table are kept. An empty packet fails with err::kParam
// and kBadPacketText in *failure; nothing changes on any failure.
ErrorCode WriteAnnotationsIntoXmp(std::span<std::uint8_t> packet, std::span<const std::uint8_t> block,
                                  std::string* failure = nullptr);

// The packet rewritten from the block as above, but serialised to the size
// the tree needs with `padding` bytes of padding before the trailer: for a
// packet whose own padding cannot absorb the change.
ErrorCode RewriteXmpWithPadding(std::span<const std::uint8_t> packet, std::span<const std::uint8_t> block,
                                std::uint32_t padding, std::vector<std::uint8_t>* out,
                                std::string* failure = nullptr);

// Turns every empty list item that is followed by another item (white space
// between them allowed) into spaces of the same length; returns the count.
int BlankEmptyListItems(std::span<std::uint8_t> packet);

// A metadata text item of a file (key, UTF-8 text).
struct MetadataText {
  std::uint32_t code = 0;
  std::string text;
};

struct MetadataTextMapping {
  std::uint32_t code;
  FieldId id;
  bool list;     // the text holds several values
  bool written;  // the code used when annotations are written back as text
};
std::span<const MetadataTextMapping> MetadataTextTable();

// The field a metadata text code feeds, or 0.
FieldId FieldForMetadataText(std::uint32_t code);

// What a file offers for a new item's annotations.
struct FileMetadata {
  std::span<const std::uint8_t> iptc = {};     // IIM records, as found
  std::span<const MetadataText> texts = {};    // metadata text items
  std::span<const std::string_view> xmp = {};  // XMP packets, in file order
};

// Builds the block of a new item: the IPTC records as they are, then each
// text item whose code maps to a field (single values cleaned and added only
// when the field is still empty; list texts split and every value appended;
// the event date brought to CCYYMMDD), then the XMP packets.
AnnotationBlock MergeFileMetadata(const FileMetadata& file);

// The block's values as the metadata texts that are written back, list
// values joined so that SplitListText gives them back.
std::vector<MetadataText> AnnotationsToMetadataTexts(std::span<const std::uint8_t> block);

}  // namespace norvo::metadata
