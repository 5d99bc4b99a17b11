// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/fault_injection.h"
#include "platform/text_encoding.h"

namespace norvo::catalog::testing {

TempDir::TempDir() {
  std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  std::string templ = base + "/norvo-test-XXXXXX";
  char* made = ::mkdtemp(templ.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

FileSpec Spec(const std::string& path) {
  FileSpec spec;
  EXPECT_TRUE(FileSpecFilled(MakeFileSpec(path, spec))) << path;
  return spec;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ItemRecord SampleRecord(std::uint32_t seed, std::size_t thumbnail_size) {
  ItemRecord r;
  r.file_name.set("photo " + std::to_string(seed) + " \xE9t\xE9.jpg");  // "été" in Windows-1252
  r.display_name.set("Photo " + std::to_string(seed));
  r.type_code = 0x4A504547;  // 'JPEG'
  r.file_size = 1000 + seed;
  r.width = 640 + seed;
  r.height = 480 + seed;
  r.depth = 24;
  r.created = 3000000000u + seed;
  r.raw_144[0] = static_cast<std::uint8_t>(seed);
  r.thumbnail.assign(thumbnail_size, static_cast<std::uint8_t>(seed));
  // One text data set (2:120 caption) and one raw data set.
  std::string caption = "caption \xE9 " + std::to_string(seed);
  r.annotations = {0x1C, 2, 120, 0, static_cast<std::uint8_t>(caption.size())};
  r.annotations.insert(r.annotations.end(), caption.begin(), caption.end());
  r.annotations.insert(r.annotations.end(), {0x1D, 2, 0, 0, 2, 0xAB, static_cast<std::uint8_t>(seed)});
  std::string url = "http://example.test/" + std::to_string(seed);
  r.url.assign(url.begin(), url.end());
  r.metadata.assign(17, static_cast<std::uint8_t>(seed * 3));
  if (seed % 2 == 0) r.recording.assign(5, 0x55);
  r.syncPartLengths();
  return r;
}

std::unique_ptr<Catalog> Open(const TempDir& dir, const std::string& path, ErrorCode* result,
                              const PasswordCallback& password) {
  static int counter = 0;
  std::unique_ptr<Catalog> catalog;
  FileSpec file = path.empty() ? FileSpec{} : Spec(path);
  ErrorCode e = CreateCatalog(path.empty() ? nullptr : &file, Spec(dir.file("scratch" + std::to_string(++counter))),
                              password, {}, catalog);
  if (result) {
    *result = e;
  } else {
    EXPECT_EQ(e, err::kNone) << path;
  }
  return catalog;
}

void MakeCatalogFile(const TempDir& dir, const std::string& path, int count) {
  auto catalog = Open(dir, "");
  ASSERT_TRUE(catalog);
  for (int i = 1; i <= count; ++i) {
    ASSERT_EQ(AddItem(*catalog, SampleRecord(static_cast<std::uint32_t>(i)), dir.path()), err::kNone);
  }
  FileSpec dest = Spec(path);
  ASSERT_EQ(SaveCatalog(*catalog, &dest, {}), err::kNone);
  CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
}

void ExpectItems(const Catalog& catalog, const std::vector<std::uint32_t>& seeds) {
  ASSERT_EQ(catalog.itemCount(), static_cast<int>(seeds.size()));
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    ItemRecord got;
    ASSERT_EQ(GetItemRecord(catalog, static_cast<int>(i) + 1, kWholeRecord, got), err::kNone) << "cell " << i + 1;
    ItemRecord want = SampleRecord(seeds[i]);
    EXPECT_EQ(got.file_name.text(), want.file_name.text());
    EXPECT_EQ(got.display_name.text(), want.display_name.text());
    EXPECT_EQ(got.file_size, want.file_size);
    EXPECT_EQ(got.created, want.created);
    EXPECT_EQ(got.thumbnail, want.thumbnail);
    EXPECT_EQ(got.annotations, want.annotations);
    EXPECT_EQ(got.url, want.url);
    EXPECT_EQ(got.metadata, want.metadata);
    EXPECT_EQ(got.recording, want.recording);
    EXPECT_EQ(got.slack, catalog.cells[i].inScratch() ? got.slack : 0u);
  }
}

void EditEveryWay(Catalog& c, const std::string& folder) {
  EXPECT_EQ(RemoveItem(c, 2), err::kNone);
  EXPECT_EQ(ReplaceItemParts(c, 2, SampleRecord(30), parts::kAll), err::kNone);  // the item of seed 3
  EXPECT_EQ(AddItem(c, SampleRecord(5), folder), err::kNone);
  EXPECT_EQ(SetItemLabel(c, 1, 3), err::kNone);
}

std::uint64_t WritesOfAnEditedSave(bool to_another_file) {
  TempDir dir;
  const std::string path = dir.file("cat.nrk");
  MakeCatalogFile(dir, path, 4);
  faults::Reset();
  auto c = Open(dir, path);
  EditEveryWay(*c, dir.path());
  FileSpec to = Spec(dir.file("copy.nrk"));
  EXPECT_EQ(SaveCatalog(*c, to_another_file ? &to : nullptr, {}), err::kNone);
  const std::uint64_t n = faults::WriteCount();
  faults::Reset();
  return n;
}

void SavedCatalogTest::SetUp() {
  path_ = dir_.file("cat.nrk");
  MakeCatalogFile(dir_, path_, 4);
}

void SavedCatalogTest::TearDown() { faults::Reset(); }

std::unique_ptr<Catalog> SavedCatalogTest::OpenAndEdit() {
  auto c = Open(dir_, path_);
  if (c) EditEveryWay(*c, dir_.path());
  return c;
}

}  // namespace norvo::catalog::testing
