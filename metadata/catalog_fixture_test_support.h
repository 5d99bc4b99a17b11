// SPDX-License-Identifier: GPL-3.0-or-later
// A catalog of hand-made items for the find, sort and group tests: each item
// is added through the catalog API with the annotations and facts a test
// names, in a temporary folder removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "metadata/annotation_block.h"

namespace norvo::metadata::testing {

struct ItemSpec {
  ItemSpec(std::string name, std::vector<std::pair<FieldId, std::string>> notes = {}, std::uint32_t size = 0,
           std::uint32_t modified_date = 0, std::uint32_t type = 0)
      : file_name(std::move(name)), annotations(std::move(notes)), file_size(size), modified(modified_date),
        type_code(type) {}

  std::string file_name;                                     // UTF-8
  std::vector<std::pair<FieldId, std::string>> annotations;  // UTF-8, in block order
  std::uint32_t file_size = 0;
  std::uint32_t modified = 0;
  std::uint32_t type_code = 0;
};

class CatalogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string pattern = base + "/norvo-find-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (auto& c : open_) catalog::CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  FileSpec Spec(const std::string& name) const {
    FileSpec spec;
    EXPECT_TRUE(FileSpecFilled(MakeFileSpec(dir_ + "/" + name, spec))) << name;
    return spec;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  catalog::Catalog& Open(const std::string& file = "") {
    std::unique_ptr<catalog::Catalog> c;
    FileSpec spec = file.empty() ? FileSpec{} : Spec(file);
    EXPECT_EQ(catalog::CreateCatalog(file.empty() ? nullptr : &spec,
                                     Spec("scratch" + std::to_string(serial_++)), {}, {}, c),
              err::kNone);
    open_.push_back(std::move(c));
    return *open_.back();
  }
  void Close(catalog::Catalog& c) {
    for (auto& p : open_) {
      if (p.get() == &c) catalog::CloseCatalog(std::move(p), catalog::CloseSettings::kLeave);
    }
  }

  static std::uint32_t Add(catalog::Catalog& c, const ItemSpec& spec) {
    catalog::ItemRecord r;
    r.setFileName(spec.file_name);
    r.setDisplayName(spec.file_name);
    r.file_size = spec.file_size;
    r.modified = spec.modified;
    r.type_code = spec.type_code;
    // As the annotation editor stores them: 8-bit when nothing is lost.
    for (const auto& [field, text] : spec.annotations) {
      BlockText value = BlockTextFromUtf8(text);
      SetAnnotationText(field, 0, value.bytes, r.annotations, SetMode::kAppend, value.marker);
    }
    std::uint32_t id = 0;
    EXPECT_EQ(catalog::AddItem(c, r, "", &id), err::kNone);
    return id;
  }
  static std::vector<std::uint32_t> Ids(const catalog::Catalog& c) {
    std::vector<std::uint32_t> out;
    for (int i = 0; i < c.itemCount(); ++i) out.push_back(c.cells[static_cast<std::size_t>(i)].item_id);
    return out;
  }

  std::string dir_;
  std::vector<std::unique_ptr<catalog::Catalog>> open_;
  int serial_ = 0;
};

}  // namespace norvo::metadata::testing
