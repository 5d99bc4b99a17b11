// SPDX-License-Identifier: GPL-3.0-or-later
// Names in any script through a save and an open: item names, custom field
// names and group names keep their true UTF-8 form, while the 8-bit fields
// hold what a reader that knows only the format can show.
#include "catalog/true_names.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "catalog/catalog_file.h"
#include "catalog/group_index.h"
#include "catalog/test_support.h"
#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

using testing::ReadAll;
using testing::SampleRecord;
using testing::Spec;
using testing::TempDir;

// Names a user may give, one per script, with their best 8-bit renderings.
struct Sample {
  const char* utf8;
  const char* rendering;  // Windows-1252 in memory
  bool exact;
};
const Sample kNames[] = {
    {"Москва.jpg", "______.jpg", false},                                        // Cyrillic
    {"Ακρόπολη.tif", "________.tif", false},                                   // Greek
    {"東京タワー.jpg", "_____.jpg", false},                                   // Japanese
    {"القاهرة.png", "_______.png", false},                                     // Arabic
    {"party 🎉.heic", "party _.heic", false},                                  // emoji
    {"Cafe\xCC\x81 cre\xCC\x80me.jpg", "Cafe_ cre_me.jpg", false},             // combining marks
    {"Caf\xC3\xA9 \xE2\x82\xAC.jpg", "Caf\xE9 \x80.jpg", true},               // Windows-1252 holds it
};

// Removes one chunk from a catalog file, as a reader that knows only the
// format would never have written it.
std::vector<std::uint8_t> WithoutChunk(std::vector<std::uint8_t> bytes, const char tag[4]) {
  const std::size_t d = ByteReader(std::span<const std::uint8_t>(bytes).last(4)).u32be();
  for (std::size_t pos = d; pos + 8 <= bytes.size() - 8;) {
    ByteReader head(std::span<const std::uint8_t>(bytes).subspan(pos, 8));
    const bool match = std::equal(tag, tag + 4, bytes.begin() + static_cast<std::ptrdiff_t>(pos));
    head.skip(4);
    const std::size_t length = head.u32be();
    if (match) {
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                  bytes.begin() + static_cast<std::ptrdiff_t>(pos + 8 + length));
      break;
    }
    pos += 8 + length;
  }
  return bytes;
}

TEST(TrueNames, RenderingsAndTheFieldTheyGuard) {
  for (const Sample& s : kNames) {
    SCOPED_TRACE(s.utf8);
    bool exact = !s.exact;
    EXPECT_EQ(RenderEightBit(s.utf8, 255, &exact), s.rendering);
    EXPECT_EQ(exact, s.exact);
    ItemRecord r;
    r.setFileName(s.utf8);
    EXPECT_EQ(r.file_name.text(), s.rendering);
    EXPECT_EQ(r.fileName(), s.utf8);
    EXPECT_EQ(r.true_file_name.empty(), s.exact);
  }
  // A field changed by another program since: its true name no longer counts.
  EXPECT_EQ(NameFromField("other.jpg", "Москва.jpg"), "other.jpg");
  // A name longer than the field keeps its whole form.
  ItemRecord r;
  const std::string long_name(70, 'x');
  r.setDisplayName(long_name);
  EXPECT_EQ(r.display_name.text().size(), 63u);
  EXPECT_EQ(r.displayName(), long_name);
}

TEST(TrueNames, DamagedChunksKeepWhatCanBeRead) {
  std::vector<TrueName> names = {{TrueNameKind::kFileName, 7, "Москва.jpg"},
                                 {TrueNameKind::kGroupName, (3u << 16) | 2, "東京"}};
  auto bytes = EncodeTrueNames(names);
  std::vector<TrueName> back;
  ASSERT_TRUE(DecodeTrueNames(bytes, back));
  EXPECT_EQ(back, names);
  bytes.resize(bytes.size() - 2);
  EXPECT_FALSE(DecodeTrueNames(bytes, back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], names[0]);
  EXPECT_FALSE(DecodeTrueNames(std::vector<std::uint8_t>{9}, back));  // a later version
}

TEST(TrueNames, EveryKindOfNameSurvivesASaveAndAnOpen) {
  TempDir dir;
  auto c = testing::Open(dir, "");
  ASSERT_TRUE(c);
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    ItemRecord r = SampleRecord(static_cast<std::uint32_t>(i + 1));
    r.setFileName(kNames[i].utf8);
    r.setDisplayName(kNames[i].utf8);
    ASSERT_EQ(AddItem(*c, r, dir.path()), err::kNone);
  }
  c->custom_field_names = {"Ort", "Город", "場所"};
  GroupIndex sets_made;
  for (const char* name : {"Отпуск 2024", "Holiday", "休暇"}) {
    GroupEntry e;
    e.name = name;
    sets_made.push_back(e);
  }
  GroupIndexesOf(*c)[kCatalogSetSlot] = sets_made;
  // A name replaced in the ScratchFile keeps its true form too.
  ItemRecord changed;
  ASSERT_EQ(GetItemRecord(*c, 1, kWholeRecord, changed), err::kNone);
  EXPECT_EQ(changed.fileName(), kNames[0].utf8);
  changed.setDisplayName("Красная площадь");
  ASSERT_EQ(ReplaceItemParts(*c, 1, changed, 0), err::kNone);

  const std::string path = dir.file("names.nrk");
  FileSpec spec = Spec(path);
  ASSERT_EQ(SaveCatalog(*c, &spec, {}), err::kNone);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);

  c = testing::Open(dir, path);
  ASSERT_TRUE(c);
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    ItemRecord r;
    ASSERT_EQ(GetItemRecord(*c, static_cast<int>(i + 1), kWithoutOptionalParts, r), err::kNone);
    EXPECT_EQ(r.fileName(), kNames[i].utf8);
    EXPECT_EQ(r.displayName(), i == 0 ? "Красная площадь" : kNames[i].utf8);
  }
  EXPECT_EQ(c->custom_field_names, (std::vector<std::string>{"Ort", "Город", "場所"}));
  const GroupIndex& sets = GroupIndexesOf(*c).at(kCatalogSetSlot);
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].name, "Отпуск 2024");
  EXPECT_EQ(sets[2].name, "休暇");
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);

  // A reader that knows only the format sees the same items under their
  // 8-bit renderings (here: the chunk taken out).
  testing::WriteAll(path, WithoutChunk(ReadAll(path), "UTF8"));
  c = testing::Open(dir, path);
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->report.skipped_chunks.empty());
  EXPECT_EQ(c->itemCount(), static_cast<int>(std::size(kNames)));
  ItemRecord r;
  ASSERT_EQ(GetItemRecord(*c, 3, kWithoutOptionalParts, r), err::kNone);
  EXPECT_EQ(r.fileName(), "_____.jpg");
  EXPECT_EQ(c->custom_field_names[1], "_____");
  EXPECT_EQ(GroupIndexesOf(*c).at(kCatalogSetSlot)[1].name, "Holiday");
}

}  // namespace
}  // namespace norvo::catalog
