// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "catalog/test_support.h"
#include "platform/fault_injection.h"

namespace norvo::catalog {
namespace {

using testing::SampleRecord;
using testing::Spec;
using testing::TempDir;

class CatalogModelTest : public ::testing::Test {
 protected:
  void TearDown() override { faults::Reset(); }
  TempDir dir_;
};

TEST_F(CatalogModelTest, AddsUpToCapacityAndRefusesTheNextItem) {
  auto c = testing::Open(dir_, "");
  ItemRecord small;
  small.display_name.set("x");
  small.file_size = 1;
  for (int i = 0; i < kMaxCatalogItems; ++i) ASSERT_EQ(AddItem(*c, small, ""), err::kNone) << i;
  EXPECT_EQ(c->itemCount(), kMaxCatalogItems);
  std::int64_t scratch_before = c->scratch_end;
  EXPECT_EQ(AddItem(*c, small, ""), err::kCatalogFull);
  EXPECT_EQ(c->itemCount(), kMaxCatalogItems);
  EXPECT_EQ(c->scratch_end, scratch_before);
  EXPECT_EQ(c->totals.total_media_bytes, kMaxCatalogItems);
  EXPECT_EQ(GetMaxItems(*c), kMaxCatalogItems);
}

TEST_F(CatalogModelTest, AddUpdatesCellTotalsAndNotifiesInOrder) {
  auto c = testing::Open(dir_, "");
  std::vector<std::pair<Notification, std::uint32_t>> seen;
  c->notify = [&](Notification n, std::uint32_t id) { seen.emplace_back(n, id); };
  ItemRecord r = SampleRecord(3);
  std::uint32_t id = 0;
  ASSERT_EQ(AddItem(*c, r, "/media/a", &id), err::kNone);
  EXPECT_EQ(id, 1u);
  const CatalogCell& cell = c->cells[0];
  EXPECT_EQ(cell.flags & 0xFF000000u, cell_flags::kAdded | cell_flags::kInScratch);
  EXPECT_EQ((cell.flags >> 8) & 0xFFFF, static_cast<std::uint32_t>('P' | ('h' << 8)));
  EXPECT_EQ(c->totals.total_record_bytes, static_cast<std::int32_t>(r.storedSize()));
  EXPECT_EQ(c->media_bytes, r.file_size);
  EXPECT_EQ(c->scratch_end, static_cast<std::int64_t>(r.storedSize() + kScratchSlack));
  EXPECT_EQ(c->folders.folderOf(1), "/media/a");
  EXPECT_TRUE(c->changed());
  std::vector<std::pair<Notification, std::uint32_t>> want = {{Notification::kItemAdded, 1},
                                                               {Notification::kCatalogChanged, 1}};
  EXPECT_EQ(seen, want);
  testing::ExpectItems(*c, {3});
}

TEST_F(CatalogModelTest, AFailedAppendChangesNothing) {
  auto c = testing::Open(dir_, "");
  ASSERT_EQ(AddItem(*c, SampleRecord(1), ""), err::kNone);
  CatalogTotals before = c->totals;
  faults::FailNthWrite(1, err::kIo);
  EXPECT_EQ(AddItem(*c, SampleRecord(2), ""), err::kDiskFull);
  EXPECT_EQ(c->itemCount(), 1);
  EXPECT_EQ(c->totals.total_record_bytes, before.total_record_bytes);
  EXPECT_EQ(c->next_item_id, 2u);

  Catalog no_scratch;
  EXPECT_EQ(AddItem(no_scratch, SampleRecord(1), ""), err::kPermission);
}

TEST_F(CatalogModelTest, ItemIdsAreNotReusedWhileOpenAndRestartAfterReopen) {
  auto c = testing::Open(dir_, "");
  for (std::uint32_t s = 1; s <= 3; ++s) ASSERT_EQ(AddItem(*c, SampleRecord(s), ""), err::kNone);
  ASSERT_EQ(RemoveItem(*c, 3), err::kNone);  // ItemId 3
  std::uint32_t id = 0;
  ASSERT_EQ(AddItem(*c, SampleRecord(4), "", &id), err::kNone);
  EXPECT_EQ(id, 4u);
  ASSERT_EQ(RemoveItem(*c, 3), err::kNone);  // ItemId 4, the highest
  FileSpec out = Spec(dir_.file("ids.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  c = testing::Open(dir_, out.path);
  EXPECT_EQ(c->next_item_id, 3u);
}

TEST_F(CatalogModelTest, RemoveKeepsTotalsAndLowersTheRecordAreaEnd) {
  std::string path = dir_.file("rm.nrk");
  testing::MakeCatalogFile(dir_, path, 3);
  auto c = testing::Open(dir_, path);
  // Fault: a label above 9 was refused; it takes the label off instead.
  ASSERT_EQ(SetItemLabel(*c, 2, 5), err::kNone);
  ASSERT_EQ(SetItemLabel(*c, 2, 12), err::kNone);
  EXPECT_EQ(c->cells[1].label(), 0);
  EXPECT_EQ(c->totals.labelled_count, 0);
  ASSERT_EQ(SetItemLabel(*c, 2, 5), err::kNone);
  EXPECT_EQ(c->totals.labelled_count, 1);
  const std::uint32_t second_offset = c->cells[1].offset;
  const auto bytes_before = c->totals.total_record_bytes;
  std::vector<Notification> seen;
  c->notify = [&](Notification n, std::uint32_t) { seen.push_back(n); };

  EXPECT_EQ(RemoveItem(*c, 0), err::kParam);
  EXPECT_EQ(RemoveItem(*c, 4), err::kParam);
  ASSERT_EQ(RemoveItem(*c, 2), err::kNone);
  EXPECT_EQ(c->totals.labelled_count, 0);
  EXPECT_EQ(c->record_area_end, second_offset);
  EXPECT_EQ(c->totals.total_record_bytes, bytes_before - static_cast<std::int32_t>(SampleRecord(2).storedSize()));
  EXPECT_EQ(c->media_bytes, SampleRecord(1).file_size + SampleRecord(3).file_size);
  EXPECT_EQ(seen, (std::vector<Notification>{Notification::kItemRemoved, Notification::kCatalogChanged}));
  testing::ExpectItems(*c, {1, 3});

  ASSERT_EQ(RemoveItem(*c, 1), err::kNone);
  ASSERT_EQ(RemoveItem(*c, 1), err::kNone);  // the last item zeroes the totals
  EXPECT_EQ(c->totals.total_record_bytes, 0);
  EXPECT_EQ(c->media_bytes, 0u);
  EXPECT_EQ(SetItemLabel(*c, 1, 1), err::kParam);
}

TEST_F(CatalogModelTest, ReplaceRewritesInPlaceWhenTheSlackAllowsElseAppends) {
  auto c = testing::Open(dir_, "");
  ASSERT_EQ(AddPendingItem(*c, Spec(std::string(NORVO_TESTDATA_DIR) + "/photos/Canon_40D.jpg")), err::kNone);
  EXPECT_TRUE(c->cells[0].pending());
  const std::uint32_t first_offset = c->cells[0].offset;

  ItemRecord scanned;
  ASSERT_EQ(GetItemRecord(*c, 1, kWholeRecord, scanned), err::kNone);
  scanned.file_size = 7958;
  scanned.width = 100;
  scanned.thumbnail.assign(5000, 1);
  scanned.url = {'u'};
  ASSERT_EQ(ReplaceItemParts(*c, 1, scanned, parts::kThumbnail), err::kNone);
  EXPECT_EQ(c->cells[0].offset, first_offset);  // fits in the slack
  EXPECT_FALSE(c->cells[0].pending());
  EXPECT_EQ(c->media_bytes, 7958u);
  ItemRecord got;
  ASSERT_EQ(GetItemRecord(*c, 1, kWholeRecord, got), err::kNone);
  EXPECT_EQ(got.width, 100u);
  EXPECT_EQ(got.thumbnail.size(), 5000u);
  EXPECT_TRUE(got.url.empty());  // not supplied: kept as it was
  EXPECT_EQ(got.slack, kScratchSlack - 5000);

  scanned.thumbnail.assign(20000, 2);
  ASSERT_EQ(ReplaceItemParts(*c, 1, scanned, parts::kAll), err::kNone);
  EXPECT_GT(c->cells[0].offset, first_offset);  // grew past the slack
  ASSERT_EQ(GetItemRecord(*c, 1, kWholeRecord, got), err::kNone);
  EXPECT_EQ(got.thumbnail.size(), 20000u);
  EXPECT_EQ(got.url, std::vector<std::uint8_t>{'u'});
  EXPECT_EQ(got.slack, kScratchSlack);
  EXPECT_EQ(c->totals.total_record_bytes, static_cast<std::int32_t>(got.storedSize()));
}

TEST_F(CatalogModelTest, DisplayNamesOfSixtyFourCharactersBecomeShortNames) {
  std::string long63 = std::string(59, 'a') + ".jpg";
  std::string long64 = "Holiday " + std::string(51, 'b') + ".jpeg";
  ASSERT_EQ(long63.size(), 63u);
  ASSERT_EQ(long64.size(), 64u);
  testing::WriteAll(dir_.file(long63), {1});
  testing::WriteAll(dir_.file(long64), {1});
  auto c = testing::Open(dir_, "");
  ASSERT_EQ(AddPendingItem(*c, Spec(dir_.file(long63))), err::kNone);
  ASSERT_EQ(AddPendingItem(*c, Spec(dir_.file(long64))), err::kNone);
  ItemRecord a, b;
  ASSERT_EQ(GetItemRecord(*c, 1, kWithoutOptionalParts, a), err::kNone);
  ASSERT_EQ(GetItemRecord(*c, 2, kWithoutOptionalParts, b), err::kNone);
  EXPECT_EQ(a.display_name.text(), long63);
  EXPECT_EQ(b.display_name.text(), "HOLIDA~1.JPE");
  EXPECT_EQ(b.file_name.text(), long64);
  EXPECT_EQ(AddPendingItem(*c, Spec(dir_.file("absent.jpg"))), err::kFileNotFound);
}

}  // namespace
}  // namespace norvo::catalog
