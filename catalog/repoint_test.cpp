// SPDX-License-Identifier: GPL-3.0-or-later
// Pointing an item at its file's new name or place: everything that follows
// from the name changes with it, nothing else does, and the change is saved.
#include <gtest/gtest.h>

#include <filesystem>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "catalog/test_support.h"
#include "platform/fault_injection.h"

namespace norvo::catalog {
namespace {

using testing::Spec;
using testing::TempDir;

class RepointTest : public ::testing::Test {
 protected:
  void TearDown() override { faults::Reset(); }

  // A scanned item (facts, thumbnail, label) for a real file.
  std::uint32_t AddScanned(Catalog& c, const std::string& path) {
    ItemRecord record;
    EXPECT_EQ(MakeRecordForFile(Spec(path), record), err::kNone);
    record.file_size = 1234;
    record.width = 640;
    record.thumbnail = std::vector<std::uint8_t>(500, 0x5A);
    record.syncPartLengths();
    std::uint32_t id = 0;
    EXPECT_EQ(AddItem(c, record, ParentFolder(path), &id), err::kNone);
    EXPECT_EQ(SetItemLabel(c, c.cellOf(id), 3), err::kNone);
    return id;
  }

  TempDir dir_;
};

TEST_F(RepointTest, ARenamedFileIsFoundUnderItsNewNameBeforeAndAfterSaving) {
  std::filesystem::create_directories(dir_.file("a"));
  std::filesystem::create_directories(dir_.file("b"));
  testing::WriteAll(dir_.file("a/IMG_0001.JPG"), {1, 2, 3});
  testing::WriteAll(dir_.file("a/raw.cr2"), {4});
  const std::string catalog_path = dir_.file("cat.nrk");
  auto c = testing::Open(dir_, "");
  const std::uint32_t scanned = AddScanned(*c, dir_.file("a/IMG_0001.JPG"));
  std::uint32_t pending = 0;
  ASSERT_EQ(AddPendingItem(*c, Spec(dir_.file("a/raw.cr2")), &pending), err::kNone);
  FileSpec file = Spec(catalog_path);
  ASSERT_EQ(SaveCatalog(*c, &file, {}), err::kNone);

  // Greek and Japanese names, which the 8-bit name fields cannot hold; one
  // file also moves to another folder.
  const std::string greek = dir_.file("a/\xCE\x98\xCE\xAC\xCE\xBB\xCE\xB1\xCF\x83\xCF\x83\xCE\xB1.jpg");  // Θάλασσα.jpg
  const std::string japanese = dir_.file("b/\xE5\x86\x99\xE7\x9C\x9F.cr2");                               // 写真.cr2
  std::filesystem::rename(dir_.file("a/IMG_0001.JPG"), greek);
  std::filesystem::rename(dir_.file("a/raw.cr2"), japanese);

  // Whoever hears of the change finds the item at its new path already.
  std::vector<std::optional<std::string>> heard;
  c->notify = [&](Notification n, std::uint32_t id) {
    if (n == Notification::kCatalogChanged) heard.push_back(ItemPath(*c, c->cellOf(id)));
  };
  const std::uint32_t initials_before = c->cells[0].flags & cell_flags::kInitialsMask;
  ASSERT_EQ(RepointItem(*c, c->cellOf(scanned), greek), err::kNone);
  ASSERT_EQ(RepointItem(*c, c->cellOf(pending), japanese), err::kNone);
  EXPECT_EQ(heard, (std::vector<std::optional<std::string>>{greek, japanese}));
  c->notify = {};
  EXPECT_TRUE(c->changed());

  auto check = [&](Catalog& cat) {
    const int a = cat.cellOf(scanned), b = cat.cellOf(pending);
    std::string path;
    EXPECT_EQ(LocateItemFile(cat, a, path), err::kNone);
    EXPECT_EQ(path, greek);
    EXPECT_EQ(LocateItemFile(cat, b, path), err::kNone);
    EXPECT_EQ(path, japanese);
    ItemRecord record;
    ASSERT_EQ(GetItemRecord(cat, a, kWholeRecord, record), err::kNone);
    EXPECT_EQ(ItemFileNameUtf8(record), LeafName(greek));
    EXPECT_EQ(record.true_display_name, LeafName(greek));
    // What the name does not decide stays: facts, thumbnail, label, scan state.
    EXPECT_EQ(record.file_size, 1234u);
    EXPECT_EQ(record.width, 640u);
    EXPECT_EQ(record.thumbnail, std::vector<std::uint8_t>(500, 0x5A));
    EXPECT_EQ(cat.cells[static_cast<std::size_t>(a - 1)].label(), 3);
    EXPECT_FALSE(cat.cells[static_cast<std::size_t>(a - 1)].pending());
    EXPECT_TRUE(cat.cells[static_cast<std::size_t>(b - 1)].pending());
    // The initials follow the new display name.
    const std::uint32_t initials = cat.cells[static_cast<std::size_t>(a - 1)].flags & cell_flags::kInitialsMask;
    EXPECT_EQ(initials, InitialsFromDisplayName(record.display_name.text()));
    EXPECT_NE(initials, initials_before);
    EXPECT_EQ(cat.folders.folderOf(cat.cells[static_cast<std::size_t>(b - 1)].item_id), dir_.file("b"));
  };
  check(*c);
  ASSERT_EQ(SaveCatalog(*c, nullptr, {}), err::kNone);
  CloseCatalog(std::move(c), CloseSettings::kLeave);

  c = testing::Open(dir_, catalog_path);
  ASSERT_NE(c, nullptr);
  check(*c);
  EXPECT_FALSE(c->changed());  // found where recorded: nothing to repoint
}

TEST_F(RepointTest, AFailedRepointLeavesTheItemAsItWas) {
  testing::WriteAll(dir_.file("a.jpg"), {1});
  auto c = testing::Open(dir_, "");
  const std::uint32_t id = AddScanned(*c, dir_.file("a.jpg"));
  const int cell = c->cellOf(id);
  ItemRecord before;
  ASSERT_EQ(GetItemRecord(*c, cell, kWholeRecord, before), err::kNone);
  const CatalogCell cell_before = c->cells[0];

  EXPECT_EQ(RepointItem(*c, cell, dir_.file("missing.jpg")), err::kFileNotFound);
  testing::WriteAll(dir_.file("sub-b.jpg"), {2});
  faults::FailNthWrite(1, err::kDiskFull);
  EXPECT_NE(RepointItem(*c, cell, dir_.file("sub-b.jpg")), err::kNone);
  faults::Reset();
  EXPECT_EQ(RepointItem(*c, 0, dir_.file("a.jpg")), err::kParam);
  EXPECT_EQ(RepointItem(*c, 2, dir_.file("a.jpg")), err::kParam);

  ItemRecord after;
  ASSERT_EQ(GetItemRecord(*c, cell, kWholeRecord, after), err::kNone);
  EXPECT_EQ(after.fileName(), before.fileName());
  EXPECT_EQ(after.display_name.text(), before.display_name.text());
  EXPECT_EQ(after.alias, before.alias);
  EXPECT_EQ(after.thumbnail, before.thumbnail);
  EXPECT_EQ(c->cells[0].flags, cell_before.flags);
  EXPECT_EQ(ItemPath(*c, cell), dir_.file("a.jpg"));
}

// Finding a file beside a moved catalog changes nothing until it is located.
TEST_F(RepointTest, FindingLooksWithoutChangingLocatingRepoints) {
  const std::string old_home = dir_.file("old");
  std::filesystem::create_directories(old_home + "/shots");
  testing::WriteAll(old_home + "/shots/a.jpg", {1});
  testing::WriteAll(old_home + "/shots/b.jpg", {2});
  auto c = testing::Open(dir_, "");
  ASSERT_EQ(AddPendingItem(*c, Spec(old_home + "/shots/a.jpg")), err::kNone);
  ASSERT_EQ(AddPendingItem(*c, Spec(old_home + "/shots/b.jpg")), err::kNone);
  FileSpec out = Spec(old_home + "/cat.nrk");
  ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
  std::string path;
  EXPECT_EQ(LocateItemFile(*c, 1, path), err::kNone);
  EXPECT_EQ(path, old_home + "/shots/a.jpg");
  CloseCatalog(std::move(c), CloseSettings::kLeave);
  // The catalog and its folder move together; b.jpg is lost on the way.
  const std::string new_home = dir_.file("new");
  std::filesystem::rename(old_home, new_home);
  std::filesystem::remove(new_home + "/shots/b.jpg");

  c = testing::Open(dir_, new_home + "/cat.nrk");
  bool elsewhere = false;
  ASSERT_EQ(FindItemFile(*c, 1, path, &elsewhere), err::kNone);
  EXPECT_EQ(path, new_home + "/shots/a.jpg");
  EXPECT_TRUE(elsewhere);
  EXPECT_FALSE(c->changed());
  EXPECT_EQ(ItemPath(*c, 1), old_home + "/shots/a.jpg");

  ASSERT_EQ(LocateItemFile(*c, 1, path), err::kNone);
  EXPECT_EQ(ItemPath(*c, 1), new_home + "/shots/a.jpg");
  EXPECT_TRUE(c->cells[0].pending());  // still to be scanned
  EXPECT_TRUE(c->changed());
  ASSERT_EQ(FindItemFile(*c, 1, path, &elsewhere), err::kNone);
  EXPECT_FALSE(elsewhere);
  EXPECT_EQ(LocateItemFile(*c, 2, path), err::kFileNotFound);
  EXPECT_EQ(FindItemFile(*c, 3, path, &elsewhere), err::kParam);
}

}  // namespace
}  // namespace norvo::catalog
