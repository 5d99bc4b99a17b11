// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the catalog tests: temporary folders, records with
// recognisable content, and catalogs opened the way the program opens them.
#pragma once

#include <gtest/gtest.h>

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

// Edits of every kind on a catalog of SampleRecord(1..4): a removal in the
// middle, a changed record, a new one and a label on the first item. The
// items become kEditedSeeds.
void EditEveryWay(Catalog& catalog, const std::string& folder);
inline const std::vector<std::uint32_t> kEditedSeeds = {1, 30, 4, 5};

// Write-like operations of opening, editing and saving a catalog of four
// items, in place or to another file, counted on a catalog of its own.
std::uint64_t WritesOfAnEditedSave(bool to_another_file);

// A saved catalog of SampleRecord(1..4) at path_; injected faults are reset
// after each test.
class SavedCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::unique_ptr<Catalog> OpenAndEdit();

  TempDir dir_;
  std::string path_;
};

}  // namespace norvo::catalog::testing
