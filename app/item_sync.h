// SPDX-License-Identifier: GPL-3.0-or-later
// Writing one catalog item's annotations into its media file, as `sync` and
// the desktop program's info panel do: embedded (IPTC and XMP, in every
// format that carries them), or as a raw IIM file beside the media file
// ("NAME.iim"). A field written so is no longer one the user typed and never
// wrote: the item's record forgets it.
#pragma once

#include <string>

#include "catalog/catalog.h"
#include "platform/error_codes.h"

namespace norvo::app {

enum class SyncForm { kEmbedded, kIimFile };

// `file` receives the file written; `why` the XMP toolkit's own words when it
// refused. The catalog is changed (not saved) when the record forgets fields.
ErrorCode SyncItemIntoFile(catalog::Catalog& catalog, int cell, SyncForm form, std::string* file, std::string* why);

}  // namespace norvo::app
