// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the catalog tests: temporary folders, records with
// recognisable content, and catalogs opened the way the program opens them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/save.h"

namespace norvo::catalog::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

FileSpec Spec(const std::string& path);
std::vector<std::uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A record whose fields and parts all derive from `seed`.
ItemRecord SampleRecord(std::uint32_t seed, std::size_t thumbnail_size = 300);

// Creates a catalog (untitled when `path` is empty) with a scratch file in `dir`.
std::unique_ptr<Catalog> Open(const TempDir& dir, const std::string& path, ErrorCode* result = nullptr,
                              const PasswordCallback& password = {});
// A saved catalog file at `path` holding SampleRecord(1..count).
void MakeCatalogFile(const TempDir& dir, const std::string& path, int count);

// Expects every item's record to equal SampleRecord(seed) for seeds in order.
void ExpectItems(const Catalog& catalog, const std::vector<std::uint32_t>& seeds);

}  // namespace norvo::catalog::testing
