// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/graphics_importer_list.h"

#include <vector>

#include "media/media_types.h"

namespace norvo::media {
namespace {

// Written only on the start-up thread, like the registry.
std::vector<GraphicsImporterEntry>& Entries() {
  static std::vector<GraphicsImporterEntry> entries;
  return entries;
}

}  // namespace

int AppendGraphicsImporter(const PlatformComponent& component) {
  std::vector<GraphicsImporterEntry>& entries = Entries();
  if (entries.size() >= static_cast<std::size_t>(kMaxGraphicsImporters)) return 0;
  // Reserved in full so that entries never move once a reader holds one.
  if (entries.capacity() < static_cast<std::size_t>(kMaxGraphicsImporters)) entries.reserve(kMaxGraphicsImporters);
  entries.push_back(GraphicsImporterEntry{component, component.subtype, nullptr});
  return static_cast<int>(entries.size());
}

std::span<GraphicsImporterEntry> GetGraphicsImporterList() { return Entries(); }

GraphicsImporterEntry* FindGraphicsImporter(std::uint32_t subtype) {
  for (GraphicsImporterEntry& entry : Entries()) {
    if (entry.subtype == subtype) return &entry;
  }
  return nullptr;
}

void CloseGraphicsImporterList() {
  std::vector<GraphicsImporterEntry>& entries = Entries();
  for (GraphicsImporterEntry& entry : entries) entry.instance.reset();
  entries.clear();
}

}  // namespace norvo::media
