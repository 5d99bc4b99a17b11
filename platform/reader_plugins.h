// SPDX-License-Identifier: GPL-3.0-or-later
// The plug-ins of this program: which families there are, where their
// modules are found, opening a family's module on first use, and what each
// family can read without opening it.
//
// The loader is generic: a family is a name and its table's entries are
// plain functions, so any layer can open the plug-in it needs (the image
// readers, the movie and PDF readers, HEIF metadata, the movie and sound
// encoder).
//
// A family's module is "norvo-<family>.so". Folders searched, in order:
// $NORVO_PLUGIN_DIR alone when it is set; else "plugins" beside the folder of
// the executable (the build tree: build/cli/norvo-cli finds build/plugins),
// then the installed folder <libdir>/norvo/plugins, found relative to the
// executable's <bindir>.
//
// Beside each module the build writes "norvo-<family>.components": the
// components and features the module reported, with the module's size. The
// type registry is filled from that list at start-up, so start-up opens no
// module; a list that is missing or belongs to another build of the module
// is replaced by asking the module itself.
//
// A module that is missing, cannot be loaded or has the wrong table is
// reported as err::kNoReaderForFormat (no reader for the format) by every read of its family;
// the loader's text is kept for the message (ReaderPluginError).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reader_plugin.h"
#include "platform/error_codes.h"

namespace norvo::plugins {

inline constexpr std::string_view kMoviesFamily = "movies";        // FFmpeg
inline constexpr std::string_view kDocumentsFamily = "documents";  // Poppler
inline constexpr std::string_view kHeifFamily = "heif";            // libheif
inline constexpr std::string_view kRawFamily = "raw";              // LibRaw
inline constexpr std::string_view kEncoderFamily = "encoder";      // FFmpeg, writing
inline constexpr std::array<std::string_view, 5> kPluginFamilies = {kMoviesFamily, kDocumentsFamily, kHeifFamily,
                                                                    kRawFamily, kEncoderFamily};

// Environment variables: a folder that replaces the search; "1" to open
// every module at start (what start-up cost before the readers were plug-ins).
inline constexpr const char* kPluginDirVariable = "NORVO_PLUGIN_DIR";
inline constexpr const char* kPreloadPluginsVariable = "NORVO_PRELOAD_PLUGINS";

// A stamp of the sizes of the C++ types a family passes through its table.
constexpr std::uint32_t LayoutStamp(std::initializer_list<std::size_t> sizes) {
  std::uint32_t h = 2166136261u;
  for (std::size_t s : sizes) {
    h ^= static_cast<std::uint32_t>(s);
    h *= 16777619u;
  }
  return h;
}

std::string PluginFileName(std::string_view family);
std::string PluginComponentsFileName(std::string_view family);

std::vector<std::string> ReaderPluginFolders();

// Opens the module at `path` and checks its table: the ABI, the family it
// claims and (when not 0) the layout stamp. err::kFileNotFound for a missing file, err::kNoReaderForFormat
// for anything else, with the reason in `error`.
ErrorCode OpenReaderPlugin(const std::string& path, std::string_view family, std::uint32_t layout,
                           const NorvoReaderPlugin** out, std::string* error);

// The family's plug-in, opened the first time it is asked for and kept for
// the process; null when it cannot be had (the reason: ReaderPluginError).
// Thread-safe.
const NorvoReaderPlugin* ReaderPlugin(std::string_view family, std::uint32_t layout);
std::string ReaderPluginError(std::string_view family);

// Forgets which families were opened or failed, so that a test can point
// NORVO_PLUGIN_DIR elsewhere. Opened modules stay mapped.
void ResetReaderPluginsForTest();

struct PluginComponentInfo {
  std::uint32_t type = 0;
  std::uint32_t subtype = 0;
  std::uint32_t manufacturer = 0;
  std::uint32_t flags = 0;
  std::string name;
  bool operator==(const PluginComponentInfo&) const = default;
};

struct PluginDescription {
  bool found = false;  // a module of the family is there
  std::uint32_t features = 0;
  std::vector<PluginComponentInfo> components;
};

// What the family can read: from its component list, else from its module.
PluginDescription DescribeReaderPlugin(std::string_view family);

// What an open module reports.
PluginDescription DescribeOpenPlugin(const NorvoReaderPlugin& plugin);

// The component list's text, and reading it back. Parsing fails (false)
// on a malformed list and on one written for a module of another size.
std::string FormatPluginDescription(const PluginDescription& description, std::uint64_t module_size);
bool ParsePluginDescription(std::string_view text, std::uint64_t module_size, PluginDescription* out);

// Opens every family's module now; what start-up did before the readers
// were plug-ins. Called at start-up when NORVO_PRELOAD_PLUGINS is "1".
void PreloadReaderPlugins();

}  // namespace norvo::plugins
