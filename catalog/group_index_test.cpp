// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/group_index.h"

#include <gtest/gtest.h>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "catalog/test_support.h"
#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

using testing::SampleRecord;
using testing::Spec;
using testing::TempDir;

GroupEntry Entry(std::string name, std::vector<std::uint32_t> ids, std::uint8_t level = 0,
                 std::uint8_t container = 0) {
  GroupEntry e;
  e.name = std::move(name);
  e.ids = std::move(ids);
  e.level = level;
  e.container = container;
  return e;
}

TEST(GroupIndexFormat, EntriesRoundTripFieldByFieldWithTheirStoredSizes) {
  GroupIndex index = {Entry("Caf\xC3\xA9", {7, 0x01020304}), Entry("empty", {}, 2, 1)};  // "Café" in UTF-8
  index[0].panel = 1;
  index[0].touched = 1;
  index[0].reserved = {9, 8, 7, 6};
  auto bytes = EncodeGroupIndex(index);
  ASSERT_EQ(bytes.size(), (268u + 8u) + 272u);
  // Name in Mac Roman (0xE9 is 0x8E there), counts and ids big-endian.
  EXPECT_EQ(bytes[0], 4);
  EXPECT_EQ(bytes[4], 0x8E);
  EXPECT_EQ(bytes[256], 1);
  EXPECT_EQ(bytes[259], 1);
  EXPECT_EQ(bytes[260], 9);
  EXPECT_EQ(ByteReader(std::span(bytes).subspan(264, 4)).u32be(), 2u);
  EXPECT_EQ(ByteReader(std::span(bytes).subspan(272, 4)).u32be(), 0x01020304u);
  EXPECT_EQ(bytes[276 + 257], 2);  // level of the second entry
  EXPECT_EQ(bytes[276 + 258], 1);  // its container flag

  GroupIndex back;
  EXPECT_TRUE(DecodeGroupIndex(bytes, back));
  EXPECT_EQ(back, index);
}

TEST(GroupIndexFormat, ACutEntryEndsTheIndexAndKeepsTheOnesBefore) {
  GroupIndex index = {Entry("a", {1}), Entry("b", {2, 3, 4})};
  auto bytes = EncodeGroupIndex(index);
  bytes.resize(bytes.size() - 4);
  GroupIndex back;
  EXPECT_FALSE(DecodeGroupIndex(bytes, back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], index[0]);
  // A count far beyond the bytes left is not believed.
  bytes = EncodeGroupIndex({Entry("a", {1})});
  FixedBytes(bytes).setU32be(264, 0x40000000);
  EXPECT_FALSE(DecodeGroupIndex(bytes, back));
  EXPECT_TRUE(back.empty());
}

TEST(GroupIndexFormat, TheChunkSkipsUnknownAndRepeatedSlots) {
  GroupIndex labels = {Entry("1", {5})};
  GroupIndex other = {Entry("x", {6})};
  ByteWriter w;
  auto put = [&w](std::uint32_t slot, const GroupIndex& index) {
    auto bytes = EncodeGroupIndex(index);
    w.u32be(slot);
    w.u32be(static_cast<std::uint32_t>(bytes.size()));
    w.bytes(bytes);
  };
  put(50, other);
  put(0, labels);
  put(0, other);  // already loaded
  put(44, other);
  put(16, other);
  GroupIndexes out;
  DecodeGroupIndexes(w.buffer(), out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.at(0), labels);
  EXPECT_EQ(out.at(16), other);
  // Written back: slots ascending, and read back equal.
  GroupIndexes again;
  DecodeGroupIndexes(EncodeGroupIndexes(out), again);
  EXPECT_EQ(again, out);
}

class GroupStorageTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(GroupStorageTest, IndexesAndHiddenItemsSurviveASaveAndAReopen) {
  std::string path = dir_.file("c.nrk");
  {
    auto c = testing::Open(dir_, "");
    std::uint32_t ids[3];
    for (int i = 0; i < 3; ++i) ASSERT_EQ(AddItem(*c, SampleRecord(static_cast<std::uint32_t>(i + 1)), "", &ids[i]), 0);
    GroupIndexes& indexes = GroupIndexesOf(*c);
    indexes[kCatalogSetSlot] = {Entry("Trips", {ids[0], ids[2]}, 0, 1), Entry("Alps", {ids[2]}, 1)};
    indexes[16] = {Entry("snow", {ids[1]})};
    c->cells[1].flags |= cell_flags::kHidden;
    FileSpec out = Spec(path);
    ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
    CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  }
  auto c = testing::Open(dir_, path);
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->cells[0].hidden());
  EXPECT_TRUE(c->cells[1].hidden());
  EXPECT_FALSE(c->cells[2].hidden());
  // The sets went into the older chunk as well.
  EXPECT_FALSE(c->cset.empty());
  const GroupIndexes& indexes = GroupIndexesOf(*c);
  ASSERT_EQ(indexes.size(), 2u);
  EXPECT_EQ(indexes.at(kCatalogSetSlot).size(), 2u);
  EXPECT_EQ(indexes.at(kCatalogSetSlot)[1].name, "Alps");
  EXPECT_EQ(indexes.at(kCatalogSetSlot)[0].container, 1);
  EXPECT_EQ(indexes.at(16)[0].ids, std::vector<std::uint32_t>{c->cells[1].item_id});
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
}

TEST_F(GroupStorageTest, TheOlderSetChunkServesOnlyWhenTheNewerHasNoSets) {
  auto c = testing::Open(dir_, "");
  c->cset = EncodeGroupIndex({Entry("old", {1})});
  GroupIndexes newer;
  newer[kCatalogSetSlot] = {Entry("new", {2})};
  c->cs00 = EncodeGroupIndexes(newer);
  EXPECT_EQ(GroupIndexesOf(*c).at(kCatalogSetSlot)[0].name, "new");

  c->group_indexes.reset();
  c->cs00.clear();
  EXPECT_EQ(GroupIndexesOf(*c).at(kCatalogSetSlot)[0].name, "old");
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
}

TEST_F(GroupStorageTest, RemovingAnItemTakesItOutOfEveryIndex) {
  auto c = testing::Open(dir_, "");
  std::uint32_t a = 0, b = 0;
  ASSERT_EQ(AddItem(*c, SampleRecord(1), "", &a), err::kNone);
  ASSERT_EQ(AddItem(*c, SampleRecord(2), "", &b), err::kNone);
  GroupIndexes& indexes = GroupIndexesOf(*c);
  indexes[kCatalogSetSlot] = {Entry("only a", {a})};
  indexes[16] = {Entry("shared", {a, b}), Entry("mine", {a})};
  ASSERT_EQ(RemoveItem(*c, 1), err::kNone);
  ASSERT_EQ(indexes.at(16).size(), 1u);  // a value group without items goes
  EXPECT_EQ(indexes.at(16)[0].ids, std::vector<std::uint32_t>{b});
  ASSERT_EQ(indexes.at(kCatalogSetSlot).size(), 1u);  // a set stays
  EXPECT_TRUE(indexes.at(kCatalogSetSlot)[0].ids.empty());
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
}

}  // namespace
}  // namespace norvo::catalog
