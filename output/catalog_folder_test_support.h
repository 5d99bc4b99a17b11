// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests that copy, move or rename catalogued files share: a
// temporary folder holding an untitled catalog, and files read and written
// whole.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "platform/fault_injection.h"
#include "platform/file_spec.h"

namespace norvo::output::testing {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Writes `bytes` to `path`, making its folders first.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// A fresh folder (its real path) with an untitled catalog whose scratch
// files go to scratch/; injected faults are reset and all of it removed
// after each test.
class CatalogFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = TempRoot() + "/norvo-output-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = std::filesystem::canonical(pattern).string();
    std::filesystem::create_directory(dir_ + "/scratch");
    OpenEmpty();
  }
  void TearDown() override {
    faults::Reset();
    if (catalog_) catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);
    std::filesystem::remove_all(dir_);
  }

  static FileSpec Spec(const std::string& path) {
    FileSpec spec;
    EXPECT_TRUE(FileSpecFilled(MakeFileSpec(path, spec))) << path;
    return spec;
  }
  std::string NextScratch() { return dir_ + "/scratch/s" + std::to_string(++scratch_count_); }
  void OpenEmpty() {
    if (catalog_) catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);
    ASSERT_EQ(catalog::CreateCatalog(nullptr, Spec(NextScratch()), {}, {}, catalog_), err::kNone);
  }
  // A catalog file opened beside the test's own catalog; null on failure.
  std::unique_ptr<catalog::Catalog> OpenFile(const std::string& path) {
    FileSpec file = Spec(path);
    std::unique_ptr<catalog::Catalog> c;
    EXPECT_EQ(catalog::CreateCatalog(&file, Spec(NextScratch()), {}, {}, c), err::kNone) << path;
    return c;
  }
  // Saves the test's catalog as `path`, closes it and opens the file again.
  void SaveAndReopen(const std::string& path) {
    FileSpec file = Spec(path);
    ASSERT_EQ(catalog::SaveCatalog(*catalog_, &file, {}), err::kNone);
    catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);
    catalog_ = OpenFile(path);
    ASSERT_TRUE(catalog_);
  }

  std::string dir_;
  int scratch_count_ = 0;
  std::unique_ptr<catalog::Catalog> catalog_;
};

}  // namespace norvo::output::testing
