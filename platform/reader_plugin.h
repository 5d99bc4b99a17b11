// SPDX-License-Identifier: GPL-3.0-or-later
// The entry point of a plug-in. The readers built on large libraries
// (FFmpeg for movies, Poppler for PDF pages, libheif, LibRaw) and the
// FFmpeg encoder live in shared modules that the program opens with dlopen
// the first time a file of theirs is read or written, so that commands which
// never touch media (every catalog command, a copy of files) do not map and
// initialise those libraries and their hundred-odd dependencies at start-up.
//
// A module exports one C function, norvo_reader_plugin_v1, returning a table
// of function pointers: the family it serves, the components (importers) its
// library can read, and the read or write functions of its family. Unused
// entries are null.
//
// Why the modules carry their own copies of the few engine sources they
// need (pixel buffer, fitted sizes, text encoding, error mapping) instead of
// linking the static engine libraries or taking symbols from the executable:
// - linking the static libraries would give each module a second set of the
//   engine's globals (type registry, settings, test hooks) that silently
//   disagrees with the program's;
// - taking symbols from the executable (--export-dynamic) would make every
//   program that reads media export its whole symbol table, and a module
//   would fail to load in a program that happens not to pull in a routine
//   it needs.
// The shared sources are pure functions without state, compiled into the
// module with hidden visibility, so nothing leaks either way. The objects
// passed through the table (pixel buffers, facts, strings, vectors) are the
// engine's own C++ types: a module is always built from the same tree and
// by the same compiler as the program, and `layout` lets the program refuse
// a module whose types were laid out differently. Memory crosses the boundary
// only through those types, whose allocations all go through the one shared
// C++ runtime.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Raised when the table's shape changes.
inline constexpr std::uint32_t kNorvoReaderPluginAbi = 2;

// One component a module's library can read, as the type registry takes it.
struct NorvoPluginComponent {
  std::uint32_t type;          // still-image or movie importer
  std::uint32_t subtype;       // format or file-extension code
  std::uint32_t manufacturer;
  std::uint32_t flags;
  const char* name;            // Windows-1252
};

// Features a family reports besides its components.
inline constexpr std::uint32_t kNorvoFeatureVideoPlayback = 1u << 0;  // Windows Media, AVI and MPEG play
inline constexpr std::uint32_t kNorvoFeaturePdfDocuments = 1u << 1;   // first pages of PDF files

using NorvoComponentSink = void (*)(void* context, const NorvoPluginComponent* component);

// Random access to a file the program reads, for a library that parses only
// the parts it needs: `read_at` fills `length` bytes at `offset` and returns
// 0, or returns 1 when they are not all there.
struct NorvoByteSource {
  void* context;
  std::uint64_t size;
  int (*read_at)(void* context, std::uint64_t offset, void* buffer, std::size_t length);
};

// One metadata block of a file: its item type ("Exif", "mime", or "colr"
// for a colour profile), its content type (a MIME type, or "prof" / "rICC"
// for a profile; may be empty) and its bytes, valid during the call.
using NorvoBlockSink = void (*)(void* context, const char* item_type, const char* content_type,
                                const std::uint8_t* bytes, std::size_t size);

// Asked often during a long write with the done fraction (0 to 1); 0 stops it.
using NorvoKeepGoing = int (*)(void* context, double done_fraction);

struct NorvoReaderPlugin {
  std::uint32_t abi;     // kNorvoReaderPluginAbi
  std::uint32_t layout;  // the family's layout stamp (see reader_plugins.h)
  const char* family;    // "movies", "documents", "heif", "raw"
  const char* library;   // the library it wraps and its version, for messages

  // Hands every component to `sink` and returns the feature bits.
  std::uint32_t (*describe)(void* context, NorvoComponentSink sink);

  // Still images: a whole file in memory, the format code, the thumbnail box
  // (0: full size); `decoded` is a norvo::imaging::DecodedImage*.
  std::int16_t (*read_still_image)(const std::uint8_t* bytes, std::size_t size, std::uint32_t format, int box,
                                   void* decoded);

  // Movies: `limits` a const norvo::media::MovieReadLimits*, `facts` a
  // norvo::media::MovieFacts*, `poster` a norvo::imaging::PixelBuffer* or
  // null. The file by path, or held in memory with its name (may be empty).
  std::int16_t (*read_movie_file)(const char* path, int box, const void* limits, void* facts, void* poster);
  std::int16_t (*read_movie_bytes)(const std::uint8_t* bytes, std::size_t size, const char* name, int box,
                                   const void* limits, void* facts, void* poster);

  // Documents: the first page of a PDF file; `facts` a
  // norvo::media::DocumentFacts*, `picture` a norvo::imaging::PixelBuffer* or
  // null.
  std::int16_t (*read_pdf)(const char* path, int box, void* facts, void* picture);

  // HEIF metadata: each metadata item of the primary image, then its colour
  // profile, to `sink`; blocks larger than `max_block` bytes are left out.
  // Only the boxes needed are read, never the coded picture. err::kNoReaderForFormat when the
  // library cannot start, err::kBadJpeg for a file it cannot parse.
  std::int16_t (*read_heif_metadata)(const NorvoByteSource* source, std::size_t max_block, void* context,
                                     NorvoBlockSink sink);

  // The encoder (output/media_encoder.h says what each does). `formats` a
  // std::vector<norvo::output::AvFormat>*, `settings` a const
  // norvo::output::AvEncodeSettings*, `log_text` a std::string* or null,
  // `choices` a std::vector<norvo::output::AvCodecChoice>*, `rates` a
  // std::vector<int>*; `keep_going` may be null.
  void (*encodable_formats)(void* formats);
  std::int16_t (*encode_media)(const char* source, const char* destination, const char* extension,
                               const void* settings, void* context, NorvoKeepGoing keep_going, void* log_text);
  void (*codec_choices)(const char* extension, int video, void* choices);
  void (*encoder_sample_rates)(const char* encoder, void* rates);
  int (*encoder_max_channels)(const char* encoder);
};

// The one symbol a module exports.
using NorvoReaderPluginEntry = const NorvoReaderPlugin* (*)();
inline constexpr const char* kNorvoReaderPluginSymbol = "norvo_reader_plugin_v1";

}  // extern "C"
