// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/reader_plugins.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/plugin_module.h"
#include "platform/file_replace.h"

#ifndef NORVO_PLUGIN_INSTALL_DIR
#define NORVO_PLUGIN_INSTALL_DIR "../lib/norvo/plugins"
#endif

namespace norvo::plugins {
namespace {

constexpr std::string_view kListHeader = "norvo-plugin-components 1";

struct FamilyState {
  bool tried = false;
  const NorvoReaderPlugin* plugin = nullptr;
  std::string error;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, FamilyState, std::less<>> families;
};

Registry& Plugins() {
  static Registry registry;
  return registry;
}

// The first folder holding the family's module, or "".
std::string ModulePath(std::string_view family) {
  for (const std::string& folder : ReaderPluginFolders()) {
    std::string path = folder + "/" + PluginFileName(family);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  return {};
}

std::uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

void AddComponent(void* context, const NorvoPluginComponent* c) {
  auto* d = static_cast<PluginDescription*>(context);
  d->components.push_back(PluginComponentInfo{c->type, c->subtype, c->manufacturer, c->flags, c->name ? c->name : ""});
}

// Reads one unsigned hexadecimal field and the blank after it.
bool HexField(std::string_view* line, std::uint64_t* value) {
  std::size_t n = 0;
  std::uint64_t v = 0;
  while (n < line->size() && n < 16) {
    const char c = (*line)[n];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) break;
    v = v * 16 + static_cast<std::uint64_t>(digit);
    ++n;
  }
  if (n == 0) return false;
  line->remove_prefix(n);
  if (!line->empty()) {
    if (line->front() != ' ') return false;
    line->remove_prefix(1);
  }
  *value = v;
  return true;
}

bool HexField32(std::string_view* line, std::uint32_t* value) {
  std::uint64_t v = 0;
  if (!HexField(line, &v) || v > 0xFFFFFFFFu) return false;
  *value = static_cast<std::uint32_t>(v);
  return true;
}

bool TakeWord(std::string_view* line, std::string_view word) {
  if (line->substr(0, word.size()) != word) return false;
  line->remove_prefix(word.size());
  if (line->empty() || line->front() != ' ') return false;
  line->remove_prefix(1);
  return true;
}

}  // namespace

std::string PluginFileName(std::string_view family) { return "norvo-" + std::string(family) + ".so"; }

std::string PluginComponentsFileName(std::string_view family) {
  return "norvo-" + std::string(family) + ".components";
}

std::vector<std::string> ReaderPluginFolders() {
  const char* forced = std::getenv(kPluginDirVariable);
  if (forced != nullptr && *forced != '\0') return {forced};
  const std::string exe = ExecutableFolder();
  if (exe.empty()) return {};
  return {exe + "/../plugins", exe + "/" + NORVO_PLUGIN_INSTALL_DIR};
}

ErrorCode OpenReaderPlugin(const std::string& path, std::string_view family, std::uint32_t layout,
                           const NorvoReaderPlugin** out, std::string* error) {
  *out = nullptr;
  PluginModule module;
  if (ErrorCode e = PluginModule::Open(path, &module, error); e != err::kNone) return e;
  void* entry = module.symbol(kNorvoReaderPluginSymbol, error);
  if (entry == nullptr) return err::kNoReaderForFormat;
  // dlsym hands back an object pointer; POSIX guarantees it converts to the
  // function it names.
  NorvoReaderPluginEntry get = nullptr;
  static_assert(sizeof get == sizeof entry);
  std::memcpy(&get, &entry, sizeof get);
  const NorvoReaderPlugin* table = get();
  auto refuse = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return err::kNoReaderForFormat;
  };
  if (table == nullptr) return refuse("no reader table");
  if (table->abi != kNorvoReaderPluginAbi) return refuse("reader table of another version");
  if (table->family == nullptr || family != table->family) return refuse("not a module of the " + std::string(family) + " readers");
  if (layout != 0 && table->layout != layout) return refuse("built from other sources than this program");
  *out = table;
  return err::kNone;
}

const NorvoReaderPlugin* ReaderPlugin(std::string_view family, std::uint32_t layout) {
  Registry& r = Plugins();
  std::lock_guard lock(r.mutex);
  auto it = r.families.find(family);
  if (it == r.families.end()) it = r.families.emplace(std::string(family), FamilyState{}).first;
  FamilyState& state = it->second;
  if (!state.tried) {
    state.tried = true;
    const std::string path = ModulePath(family);
    if (path.empty()) {
      state.error = "no " + PluginFileName(family) + " in the plug-in folders";
    } else {
      // A failure leaves state.plugin null and its words in state.error,
      // which ReaderPluginError hands to whoever asks why.
      (void)OpenReaderPlugin(path, family, 0, &state.plugin, &state.error);
    }
  }
  if (state.plugin != nullptr && layout != 0 && state.plugin->layout != layout) {
    state.error = PluginFileName(family) + ": built from other sources than this program";
    return nullptr;
  }
  return state.plugin;
}

std::string ReaderPluginError(std::string_view family) {
  Registry& r = Plugins();
  std::lock_guard lock(r.mutex);
  auto it = r.families.find(family);
  return it == r.families.end() ? std::string() : it->second.error;
}

void ResetReaderPluginsForTest() {
  Registry& r = Plugins();
  std::lock_guard lock(r.mutex);
  r.families.clear();
}

PluginDescription DescribeOpenPlugin(const NorvoReaderPlugin& plugin) {
  PluginDescription d;
  d.found = true;
  if (plugin.describe != nullptr) d.features = plugin.describe(&d, AddComponent);
  return d;
}

PluginDescription DescribeReaderPlugin(std::string_view family) {
  const std::string path = ModulePath(family);
  if (path.empty()) return {};
  const std::string list_path = path.substr(0, path.rfind('/') + 1) + PluginComponentsFileName(family);
  std::vector<std::uint8_t> bytes;
  PluginDescription d;
  if (ReadWholeFile(list_path, &bytes) == err::kNone &&
      ParsePluginDescription(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                             FileSize(path), &d)) {
    return d;
  }
  const NorvoReaderPlugin* plugin = ReaderPlugin(family, 0);
  if (plugin == nullptr) return PluginDescription{true, 0, {}};
  return DescribeOpenPlugin(*plugin);
}

std::string FormatPluginDescription(const PluginDescription& description, std::uint64_t module_size) {
  std::string text(kListHeader);
  char line[64];
  std::snprintf(line, sizeof line, "\nsize %" PRIx64 "\nfeatures %" PRIx32 "\n", module_size, description.features);
  text += line;
  for (const PluginComponentInfo& c : description.components) {
    std::snprintf(line, sizeof line, "component %" PRIx32 " %" PRIx32 " %" PRIx32 " %" PRIx32 " ", c.type,
                  c.subtype, c.manufacturer, c.flags);
    text += line;
    // Names are single lines; a line break would end the entry early.
    for (char ch : c.name) text += (ch == '\n' || ch == '\r') ? ' ' : ch;
    text += '\n';
  }
  return text;
}

bool ParsePluginDescription(std::string_view text, std::uint64_t module_size, PluginDescription* out) {
  PluginDescription d;
  d.found = true;
  bool have_size = false;
  bool have_features = false;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;  // a list cut short
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (first) {
      if (line != kListHeader) return false;
      first = false;
      continue;
    }
    std::uint64_t value = 0;
    if (TakeWord(&line, "size")) {
      if (!HexField(&line, &value) || !line.empty() || value != module_size) return false;
      have_size = true;
    } else if (TakeWord(&line, "features")) {
      if (!HexField32(&line, &d.features) || !line.empty()) return false;
      have_features = true;
    } else if (TakeWord(&line, "component")) {
      PluginComponentInfo c;
      if (!HexField32(&line, &c.type) || !HexField32(&line, &c.subtype) || !HexField32(&line, &c.manufacturer) ||
          !HexField32(&line, &c.flags)) {
        return false;
      }
      c.name = std::string(line);
      d.components.push_back(std::move(c));
    } else {
      return false;
    }
  }
  if (first || !have_size || !have_features) return false;
  *out = std::move(d);
  return true;
}

void PreloadReaderPlugins() {
  for (std::string_view family : kPluginFamilies) ReaderPlugin(family, 0);
}

namespace {
// Measuring what start-up cost when every reader library was linked in:
// with NORVO_PRELOAD_PLUGINS=1 every module is opened before main.
const bool kPreloaded = [] {
  const char* preload = std::getenv(kPreloadPluginsVariable);
  if (preload != nullptr && std::string_view(preload) == "1") PreloadReaderPlugins();
  return true;
}();
}  // namespace

}  // namespace norvo::plugins
