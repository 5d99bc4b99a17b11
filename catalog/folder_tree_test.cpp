// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/folder_tree.h"

#include <gtest/gtest.h>

#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

TEST(FolderTree, RoundTripsFoldersAndItemsIncludingHugeIds) {
  FolderTree tree;
  tree.assign(3, "/home/ann/Pictures/2024");
  tree.assign(1, "/home/ann/Pictures/2024");
  tree.assign(0x7FFFFFF0, "/mnt/disk/raw");  // beyond the dense table
  tree.assign(2, "/mnt/disk");
  tree.assign(9, "/tmp/gone");
  tree.remove(9);  // its folder is not written any more
  tree.assign(2, "/mnt/disk/raw");  // moved
  EXPECT_EQ(tree.itemCount(), 4u);
  EXPECT_EQ(tree.folderCount(), 2u);

  auto bytes = tree.serialize();
  FolderTree back;
  ASSERT_TRUE(FolderTree::Parse(bytes, back));
  EXPECT_EQ(back.folderOf(1), "/home/ann/Pictures/2024");
  EXPECT_EQ(back.folderOf(2), "/mnt/disk/raw");
  EXPECT_EQ(back.folderOf(0x7FFFFFF0), "/mnt/disk/raw");
  EXPECT_FALSE(back.folderOf(9).has_value());
  EXPECT_EQ(back.itemCount(), 4u);
  EXPECT_EQ(back.serialize(), bytes);  // equal trees, equal bytes
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "NFT1");
  // root, home, ann, Pictures, 2024, mnt, disk, raw: "tmp" was dropped.
  EXPECT_EQ(ByteReader(std::span(bytes).subspan(4, 4)).u32be(), 8u);
}

// A tree of a root holding item 100 and one child folder holding `ids`.
std::vector<std::uint8_t> OneFolder(std::uint32_t child_parent, const std::string& name,
                                    std::vector<std::uint32_t> ids) {
  ByteWriter w;
  w.tag("NFT1");
  w.u32be(2);
  w.u32be(0xFFFFFFFF);
  w.u16be(6);
  for (char c : std::string("<root>")) w.u8(static_cast<std::uint8_t>(c));
  w.u32be(1);
  w.u32be(100);
  w.u32be(child_parent);
  w.u16be(static_cast<std::uint16_t>(name.size()));
  for (char c : name) w.u8(static_cast<std::uint8_t>(c));
  w.u32be(static_cast<std::uint32_t>(ids.size()));
  for (auto id : ids) w.u32be(id);
  return w.take();
}

TEST(FolderTree, RefusesMalformedTreesWithoutTouchingTheTarget) {
  FolderTree target;
  target.assign(5, "/keep");
  EXPECT_TRUE(FolderTree::Parse(OneFolder(0, "a", {4, 7}), target));
  EXPECT_EQ(target.folderOf(4), "/a");
  EXPECT_EQ(target.folderOf(100), "/");
  EXPECT_FALSE(target.folderOf(5).has_value());  // replaced whole

  target.assign(5, "/keep");
  EXPECT_FALSE(FolderTree::Parse(OneFolder(0, "a", {7, 7}), target));   // id repeated
  EXPECT_FALSE(FolderTree::Parse(OneFolder(0, "a", {4, 100}), target)); // in two folders
  EXPECT_FALSE(FolderTree::Parse(OneFolder(1, "a", {4, 7}), target));   // parent not before child
  EXPECT_FALSE(FolderTree::Parse(OneFolder(0, "a/b", {4, 7}), target)); // "/" in a name
  EXPECT_FALSE(FolderTree::Parse(OneFolder(0, "a", {0, 7}), target));   // ItemId 0
  auto cut = OneFolder(0, "a", {4, 7});
  cut.resize(cut.size() - 2);
  EXPECT_FALSE(FolderTree::Parse(cut, target));
  auto huge = OneFolder(0, "a", {4, 7});
  FixedBytes(huge).setU32be(4, 0x40000000);  // node count far beyond the bytes
  EXPECT_FALSE(FolderTree::Parse(huge, target));
  EXPECT_FALSE(FolderTree::Parse({}, target));
  EXPECT_EQ(target.folderOf(5), "/keep");
}

}  // namespace
}  // namespace norvo::catalog
