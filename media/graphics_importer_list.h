// SPDX-License-Identifier: GPL-3.0-or-later
// The graphics-importer list: one entry per still-image importer component
// taken at start-up (at most kMaxGraphicsImporters), filled together with the
// type registry. An entry's importer instance is opened on first use by the
// image reader and kept until the list is closed at shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "media/platform_components.h"

namespace norvo::media {

// An open still-image importer. The readers derive their own state from it;
// the list only owns and closes them.
class GraphicsImporterInstance {
 public:
  virtual ~GraphicsImporterInstance() = default;
};

struct GraphicsImporterEntry {
  PlatformComponent component;
  std::uint32_t subtype = 0;
  std::unique_ptr<GraphicsImporterInstance> instance;  // none until first use
};

// Appends an entry for `component`; returns the new entry count, or 0 when
// the list is full.
int AppendGraphicsImporter(const PlatformComponent& component);

std::span<GraphicsImporterEntry> GetGraphicsImporterList();

// The first entry of a subtype, or null.
GraphicsImporterEntry* FindGraphicsImporter(std::uint32_t subtype);

// Closes every open instance and empties the list.
void CloseGraphicsImporterList();

}  // namespace norvo::media
