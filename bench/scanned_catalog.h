// SPDX-License-Identifier: GPL-3.0-or-later
// For benchmarks of what is made from a catalog (gallery, conversion): an
// untitled catalog holding a folder's files, imported and scanned on two
// threads at the catalog's thumbnail size, ready to be read.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "bench/camera_photos.h"
#include "catalog/catalog.h"
#include "media/import.h"
#include "media/item_scan.h"
#include "platform/file_spec.h"

namespace norvo::bench {

inline std::unique_ptr<catalog::Catalog> ScannedCatalogOf(const std::filesystem::path& folder,
                                                          const std::filesystem::path& scratch) {
  std::unique_ptr<catalog::Catalog> c;
  FileSpec scratch_spec;
  if (!FileSpecFilled(MakeFileSpec(scratch.string(), scratch_spec))) throw std::runtime_error("scratch spec");
  if (catalog::CreateCatalog(nullptr, scratch_spec, {}, {}, c) != err::kNone) throw std::runtime_error("catalog");
  FileSpec spec;
  if (MakeFileSpec(folder.string(), spec) != err::kNone) throw std::runtime_error("folder spec");
  int added = 0;
  if (media::ImportFiles(*c, {spec}, {}, &added) != err::kNone) throw std::runtime_error("import failed");
  media::ScanOptions options;
  options.thumbnail_size = media::CatalogThumbnailSize(*c);
  const std::vector<std::uint32_t> pending = media::PendingItems(*c);
  if (media::ScanItems(*c, pending, 2, options, {}, nullptr) != err::kNone) throw std::runtime_error("scan failed");
  return c;
}

// `count` camera-sized photos made in `dir`/photos and the scanned catalog
// of them.
struct ScannedPhotos {
  std::vector<std::string> files;
  std::unique_ptr<catalog::Catalog> catalog;
};
inline ScannedPhotos MakeScannedPhotos(const std::filesystem::path& dir, int count) {
  std::printf("making %d photos in %s ...\n", count, dir.c_str());
  std::fflush(stdout);
  ScannedPhotos out;
  out.files = MakePhotos(dir, count);
  out.catalog = ScannedCatalogOf(dir / "photos", dir / "scratch.tmp");
  if (out.catalog->itemCount() != count) throw std::runtime_error("not every photo was imported");
  return out;
}

}  // namespace norvo::bench
