// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/metadata_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MetadataList, ItemsOfOneKeyAreIndexedFromOneInTheOrderAdded) {
  MetadataList list;
  list.add(0x829a, Bytes{1});
  list.add(FourCC("XMP "), Bytes{2});
  list.add(0x829a, Bytes{3});
  EXPECT_EQ(list.count(0x829a), 2);
  EXPECT_EQ(*list.find(0x829a, 1), Bytes{1});
  EXPECT_EQ(*list.find(0x829a, 2), Bytes{3});
  EXPECT_EQ(list.find(0x829a, 3), nullptr);
  EXPECT_EQ(list.find(0x829a, 0), nullptr);
  Bytes out;
  EXPECT_EQ(list.get(0x1234, 1, &out), kItemNotFound);

  EXPECT_EQ(list.remove(0x829a, 1), err::kNone);
  EXPECT_EQ(*list.find(0x829a, 1), Bytes{3});
  EXPECT_EQ(list.remove(0x829a, 2), kItemNotFound);
  list.removeAll(0x829a);
  EXPECT_EQ(list.count(0x829a), 0);
  EXPECT_EQ(list.itemCount(), 1u);
}

TEST(MetadataList, KeysFollowFirstAppearanceAndReplaceKeepsTheKeysPlace) {
  MetadataList list;
  EXPECT_EQ(list.nextKey(0), 0u);
  for (auto [key, value] : {std::pair{30u, 1}, {10u, 2}, {30u, 3}, {20u, 4}}) {
    list.add(key, Bytes{static_cast<std::uint8_t>(value)});
  }
  auto keys = [&] {
    std::vector<std::uint32_t> out;
    for (std::uint32_t k = list.nextKey(0); k != 0; k = list.nextKey(k)) out.push_back(k);
    return out;
  };
  EXPECT_EQ(keys(), (std::vector<std::uint32_t>{30, 10, 20}));
  EXPECT_EQ(list.nextKey(99), 0u);
  list.replace(30, Bytes{9});
  EXPECT_EQ(list.count(30), 1);
  EXPECT_EQ(*list.find(30, 1), Bytes{9});
  EXPECT_EQ(keys(), (std::vector<std::uint32_t>{30, 10, 20}));
  list.replace(7, Bytes{5});
  EXPECT_EQ(list.count(7), 1);
}

TEST(MetadataList, TextItems) {
  MetadataList list;
  const std::uint32_t key = 0xA96D616B;
  list.addText(key, "Canon");
  list.addText(key, "");
  std::string text;
  ASSERT_EQ(list.getText(key, 1, &text), err::kNone);
  EXPECT_EQ(text, "Canon");
  ASSERT_EQ(list.getText(key, 2, &text), err::kNone);
  EXPECT_EQ(text, "");
  // Length and language code come before the text.
  EXPECT_EQ(*list.find(key, 1), (Bytes{0, 5, 0, 0, 'C', 'a', 'n', 'o', 'n'}));
  EXPECT_EQ(list.getText(key, 3, &text), kItemNotFound);
  // An item whose length claims more than it holds is not a text.
  list.add(5, Bytes{0, 9, 0, 0, 'a'});
  EXPECT_EQ(list.getText(5, 1, &text), err::kParam);
  // Texts beyond 65535 bytes are cut to fit the length.
  list.replaceText(key, std::string(70000, 'x'));
  ASSERT_EQ(list.getText(key, 1, &text), err::kNone);
  EXPECT_EQ(text.size(), 65535u);
}

TEST(MetadataList, StoredFormRoundTripsAndIsAtoms) {
  MetadataList list;
  list.add(0x65789003, Bytes{'2', '0', '0', '8'});
  list.addText(0xA9636D74, "hi");
  list.add(0x65789003, Bytes{});
  Bytes stored = list.serialize();
  EXPECT_EQ(stored, (Bytes{0, 0, 0, 12, 0x65, 0x78, 0x90, 0x03, '2', '0', '0', '8',  //
                           0, 0, 0, 8,  0x65, 0x78, 0x90, 0x03,                      //
                           0, 0, 0, 14, 0xA9, 0x63, 0x6D, 0x74, 0, 2, 0, 0, 'h', 'i'}));
  MetadataList back;
  ASSERT_EQ(MetadataList::parse(stored, &back), err::kNone);
  EXPECT_EQ(back, list);
  EXPECT_EQ(back.serialize(), stored);

  MetadataList empty;
  ASSERT_EQ(MetadataList::parse({}, &empty), err::kNone);
  EXPECT_TRUE(empty.empty());
}

TEST(MetadataList, DamagedStoredFormsAreRefused) {
  MetadataList list;
  list.add(1, Bytes{1});
  Bytes good = list.serialize();
  std::vector<Bytes> bad = {
      Bytes{0, 0, 0, 7, 0, 0, 0, 1},             // size below the header
      Bytes{0, 0, 0, 20, 0, 0, 0, 1, 1, 2},      // size past the end
      Bytes{0, 0, 0, 8, 0, 0},                   // header cut short
      Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}  // huge size
  };
  for (const Bytes& b : bad) {
    MetadataList out = list;
    EXPECT_EQ(MetadataList::parse(b, &out), err::kUnreadableCatalog);
    EXPECT_TRUE(out.empty());
  }
  // Items of one key stored apart are brought together, in order.
  ByteWriter w;
  for (auto [key, value] : {std::pair{1u, 1}, {2u, 2}, {1u, 3}}) {
    w.u32be(9);
    w.u32be(key);
    w.u8(static_cast<std::uint8_t>(value));
  }
  MetadataList grouped;
  ASSERT_EQ(MetadataList::parse(w.buffer(), &grouped), err::kNone);
  EXPECT_EQ(*grouped.find(1, 2), Bytes{3});
  EXPECT_EQ(grouped.nextKey(1), 2u);
}

}  // namespace
}  // namespace norvo::metadata
