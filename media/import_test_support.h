// SPDX-License-Identifier: GPL-3.0-or-later
// A fixture for the import and folder-watching tests: a registry with a few
// types of several classes, a real folder to import from and an untitled
// catalog with its scratch file in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "media/import.h"
#include "media/import_options.h"
#include "media/test_support.h"

namespace norvo::media::testing {

class ImportTestBase : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Absolute path of a path relative to the media folder.
  std::string At(const std::string& relative) const { return JoinPath(root_, relative); }
  // Absolute path of a path relative to the folder outside it.
  std::string Outside(const std::string& relative) const { return JoinPath(outside_root_, relative); }
  // A file of `size` bytes (folders on the way are made).
  void Write(const std::string& relative, std::size_t size = 100) const;
  void MakeFolder(const std::string& relative) const;
  void Link(const std::string& target, const std::string& relative) const;

  // Imports the given paths (relative to the media folder, or absolute).
  ErrorCode Import(const std::vector<std::string>& paths, const ImportProgress& progress = {}, int* added = nullptr,
                   ImportCounters* counters = nullptr);
  // Each item's path, relative to the media folder when it lies inside, in
  // catalog order.
  std::vector<std::string> Items() const;
  std::vector<bool> PendingFlags() const;

  ImportSettings Settings() const { return GetImportSettings(*catalog_); }
  void Apply(const ImportSettings& s) { SetImportSettings(*catalog_, s); }

  TempDir media_;
  TempDir outside_;  // for link targets outside the imported folder
  TempDir scratch_;
  std::unique_ptr<catalog::Catalog> catalog_;
  std::string root_;          // the media folder's canonical path
  std::string outside_root_;  // the outside folder's canonical path
};

}  // namespace norvo::media::testing
