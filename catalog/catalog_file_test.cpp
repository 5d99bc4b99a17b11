// SPDX-License-Identifier: GPL-3.0-or-later
// Opening catalog files built byte by byte here (not by the engine's writer),
// and what the engine writes back.
#include "catalog/catalog_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "catalog/test_support.h"
#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

using testing::ReadAll;
using testing::Spec;
using testing::TempDir;
using testing::WriteAll;
using Bytes = std::vector<std::uint8_t>;

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A stored record: names (already Mac Roman), file size and a thumbnail.
Bytes HandRecord(const std::string& name, const std::string& display, std::uint32_t file_size, std::size_t thumb) {
  Bytes r(kFixedPartSize, 0);
  r[0] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), r.begin() + 1);
  r[0x100] = static_cast<std::uint8_t>(display.size());
  std::copy(display.begin(), display.end(), r.begin() + 0x101);
  FixedBytes f(r);
  f.setU32be(0x160, file_size);
  f.setU32be(0x3F4, static_cast<std::uint32_t>(thumb));
  r.insert(r.end(), thumb, 0xA5);
  return r;
}

struct Chunk {
  std::string tag;
  Bytes data;
};

Bytes Cell(std::uint32_t offset, std::uint32_t id, std::uint8_t label, const std::string& initials, std::uint8_t hi) {
  ByteWriter w;
  w.u32be(offset);
  w.u32be(id);
  w.u8(label);
  w.u8(static_cast<std::uint8_t>(initials[0]));
  w.u8(static_cast<std::uint8_t>(initials[1]));
  w.u8(hi);
  return w.take();
}

Bytes Numbers(std::initializer_list<std::uint32_t> values) {
  ByteWriter w;
  for (auto v : values) w.u32be(v);
  return w.take();
}

Bytes EmptyFolderTree() {
  ByteWriter w;
  w.tag("NFT1");
  w.u32be(1);
  w.u32be(0xFFFFFFFF);
  w.u16be(6);
  w.bytes(Str("<root>"));
  w.u32be(0);
  return w.take();
}

Bytes HandFile(std::uint32_t header_count, const std::vector<Bytes>& records, const std::vector<Chunk>& chunks,
               bool trailer = true) {
  ByteWriter w;
  w.u32be(header_count);
  w.tag("025i");
  for (const auto& r : records) w.bytes(r);
  auto d = static_cast<std::uint32_t>(w.size());
  for (const auto& c : chunks) {
    w.bytes(Str(c.tag));
    w.u32be(static_cast<std::uint32_t>(c.data.size()));
    w.bytes(c.data);
  }
  if (trailer) {
    w.tag("025i");
    w.u32be(d);
  }
  return w.take();
}

class CatalogFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<Catalog> OpenBytes(const Bytes& bytes, ErrorCode* e = nullptr, const PasswordCallback& pw = {}) {
    std::string path = dir_.file("c" + std::to_string(++n_) + ".nrk");
    WriteAll(path, bytes);
    return testing::Open(dir_, path, e, pw);
  }
  TempDir dir_;
  int n_ = 0;
};

// Two items as another program could have written them, every table present.
struct TwoItemFile {
  Bytes rec1 = HandRecord("Caf\x8E.jpg", "Caf\x8E", 1500, 40);  // Mac Roman e-acute
  Bytes rec2 = HandRecord("b.png", "b", 2500, 0);
  std::vector<Chunk> chunks;
  Bytes bytes;
  TwoItemFile() {
    auto total = static_cast<std::uint32_t>(rec1.size() + rec2.size());
    Bytes cells = Cell(8, 5, 3, "Ca", 0x01);
    Bytes cell2 = Cell(static_cast<std::uint32_t>(8 + rec1.size()), 9, 0, "b\0", 0x00);
    cells.insert(cells.end(), cell2.begin(), cell2.end());
    Bytes settings(1024, 0);
    settings[0] = 0x12;
    settings[1023] = 0x34;
    Bytes import(116, 0);
    import[0x1C] = 1;
    import[0x1D] = 0x8E;
    import[0x6C] = 'J';
    Bytes fonts;
    for (int i = 0; i < 4; ++i) {
      Bytes entry(516, 0);
      entry[1] = static_cast<std::uint8_t>(i + 1);
      entry[2] = static_cast<std::uint8_t>(i + 1);
      std::string name = "Font\x8E";
      std::copy(name.begin(), name.end(), entry.begin() + 4);
      fonts.insert(fonts.end(), entry.begin(), entry.end());
    }
    Bytes field(256, 0);
    field[0] = 3;
    field[1] = 'I';
    field[2] = 'S';
    field[3] = 'O';
    Bytes rank = Numbers({1, 2, 3});
    rank.insert(rank.end(), {9, 8, 7, 6});
    ByteWriter media;
    media.u64be(4000);
    chunks = {{"FSM!", EmptyFolderTree()},       {"CELL", cells},
              {"USFL", field},                   {"RANK", rank},
              {"PRNT", Str("print")},            {"CS00", Str("groups")},
              {"NSSO", Bytes(40, 7)},            {"NCAM", Str("camera")},
              {"TOTL", Numbers({2, 1, 0, total, 4000})},
              {"IMPF", import},                  {"FONT", fonts},
              {"PREF", settings},                {"SVar", Numbers({kProductCode})},
              {"MBWd", media.take()}};
    bytes = HandFile(2, {rec1, rec2}, chunks);
  }
};

TEST_F(CatalogFileTest, ReadsEveryTableOfAHandBuiltFileAndWritesItBackByteForByte) {
  TwoItemFile f;
  std::vector<Chunk> with_unknown = f.chunks;
  with_unknown.insert(with_unknown.begin() + 3, {"ZZZZ", Str("unknown")});
  auto c = OpenBytes(HandFile(2, {f.rec1, f.rec2}, with_unknown));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->itemCount(), 2);
  EXPECT_EQ(c->cells[0].item_id, 5u);
  EXPECT_EQ(c->cells[0].label(), 3);
  EXPECT_EQ((c->cells[0].flags >> 8) & 0xFF, static_cast<std::uint32_t>('C'));
  EXPECT_EQ(c->cells[0].flags & cell_flags::kAdded, cell_flags::kAdded);
  EXPECT_EQ(c->next_item_id, 10u);
  EXPECT_EQ(c->totals.labelled_count, 1);
  EXPECT_EQ(c->media_bytes, 4000u);
  EXPECT_EQ(c->import_options.bytes[0x1D], 0xE9);  // converted to Windows-1252
  ASSERT_TRUE(c->fonts.has_value());
  EXPECT_EQ((*c->fonts)[0].name[4], 0xE9);
  ASSERT_EQ(c->custom_field_names.size(), 1u);
  EXPECT_EQ(c->custom_field_names[0], "ISO");
  EXPECT_EQ(c->slide_show_options, Bytes(40, 7));
  EXPECT_EQ(c->camera_import, Str("camera"));
  ASSERT_EQ(c->report.skipped_chunks.size(), 1u);
  EXPECT_EQ(c->report.skipped_chunks[0], "ZZZZ (7 bytes)");
  EXPECT_FALSE(c->changed());

  ItemRecord r;
  ASSERT_EQ(GetItemRecord(*c, 1, kWholeRecord, r), err::kNone);
  EXPECT_EQ(r.file_name.text(), "Caf\xE9.jpg");

  // Written back byte for byte: every table was kept, converted back to Mac
  // Roman where it holds names; the unknown chunk is not written back.
  FileSpec copy = Spec(dir_.file("copy.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &copy, {}), err::kNone);
  EXPECT_EQ(ReadAll(copy.path), f.bytes);
}

TEST_F(CatalogFileTest, ACutOffFileOpensThroughTheSequentialScan) {
  TwoItemFile f;
  Bytes whole = f.bytes;
  // Directory gone: both records found, numbered 1..N, no labels.
  Bytes no_directory(whole.begin(), whole.begin() + 8 + f.rec1.size() + f.rec2.size());
  auto c = OpenBytes(no_directory);
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->report.sequential_scan);
  ASSERT_EQ(c->itemCount(), 2);
  EXPECT_EQ(c->cells[0].item_id, 1u);
  EXPECT_EQ(c->cells[1].item_id, 2u);
  EXPECT_EQ(c->cells[0].label(), 0);
  EXPECT_EQ(c->media_bytes, 4000u);
  EXPECT_EQ(c->next_item_id, 3u);

  // Cut inside the first record's thumbnail: only whole records count.
  Bytes cut(whole.begin(), whole.begin() + 8 + 1024 + 10);
  c = OpenBytes(cut);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->itemCount(), 0);

  // A recovered catalog saves into a file that opens normally.
  c = OpenBytes(no_directory);
  FileSpec out = Spec(dir_.file("recovered.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  c = testing::Open(dir_, out.path);
  EXPECT_FALSE(c->report.sequential_scan);
  EXPECT_EQ(c->itemCount(), 2);
}

TEST_F(CatalogFileTest, MissingTotalsForceTheScanAndWrongLengthsAreSkipped) {
  TwoItemFile f;
  std::vector<Chunk> chunks;
  for (const auto& c : f.chunks) {
    if (c.tag != "TOTL") chunks.push_back(c);
  }
  auto c = OpenBytes(HandFile(2, {f.rec1, f.rec2}, chunks));
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->report.sequential_scan);
  EXPECT_EQ(c->cells[0].item_id, 1u);  // the CELL chunk's ids are not used

  for (std::size_t size : {1023u, 1025u}) {
    chunks = f.chunks;
    for (auto& ch : chunks) {
      if (ch.tag == "PREF") ch.data.assign(size, 0xEE);
    }
    c = OpenBytes(HandFile(2, {f.rec1, f.rec2}, chunks));
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->report.sequential_scan);
    EXPECT_EQ(c->settings.bytes, CatalogSettings::Defaults().bytes) << size;
    EXPECT_EQ(c->report.skipped_chunks.back(), "PREF (" + std::to_string(size) + " bytes)");
  }
}

TEST_F(CatalogFileTest, ZeroAndRepeatedItemIdsAreRenumberedAndHighLabelsCleared) {
  Bytes rec = HandRecord("a", "a", 1, 0);
  Bytes cells;
  std::uint32_t ids[] = {4, 4, 0};
  std::uint8_t labels[] = {12, 2, 0};
  for (int i = 0; i < 3; ++i) {
    Bytes cell = Cell(static_cast<std::uint32_t>(8 + 1024 * i), ids[i], labels[i], "a\0", 0xFC);
    cells.insert(cells.end(), cell.begin(), cell.end());
  }
  auto c = OpenBytes(HandFile(3, {rec, rec, rec}, {{"CELL", cells}, {"TOTL", Numbers({3, 2, 0, 3072, 3})}}));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->cells[0].item_id, 4u);
  EXPECT_EQ(c->cells[1].item_id, 5u);
  EXPECT_EQ(c->cells[2].item_id, 6u);
  EXPECT_EQ(c->next_item_id, 7u);
  EXPECT_EQ(c->report.renumbered_item_ids, 2);
  EXPECT_TRUE(c->changed());
  EXPECT_EQ(c->cells[0].label(), 0);
  EXPECT_EQ(c->totals.labelled_count, 1);
  EXPECT_EQ(c->cells[0].flags & cell_flags::kClearedOnLoad, 0u);
  EXPECT_TRUE(c->report.media_total_recomputed);  // no "MBWd"
  EXPECT_EQ(c->media_bytes, 3u);
}

TEST_F(CatalogFileTest, EmptyCatalogWritesNoCellChunk) {
  auto c = testing::Open(dir_, "");
  FileSpec out = Spec(dir_.file("empty.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
  Bytes bytes = ReadAll(out.path);
  EXPECT_EQ(std::search(bytes.begin(), bytes.end(), std::begin("CELL"), std::end("CELL") - 1), bytes.end());
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  c = testing::Open(dir_, out.path);
  EXPECT_EQ(c->itemCount(), 0);
  EXPECT_FALSE(c->report.sequential_scan);
}

TEST_F(CatalogFileTest, MacRomanF0SurvivesAReadAndAWrite) {
  Bytes rec = HandRecord("x\xF0y", "\xF0y", 1, 0);
  auto c = OpenBytes(HandFile(1, {rec}, {}));  // no directory: scanned
  ASSERT_TRUE(c);
  ItemRecord r;
  ASSERT_EQ(GetItemRecord(*c, 1, kWholeRecord, r), err::kNone);
  EXPECT_EQ(r.file_name.text(), "x\xBEy");
  EXPECT_EQ((c->cells[0].flags >> 8) & 0xFF, 0xBEu);
  FileSpec out = Spec(dir_.file("f0.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
  Bytes bytes = ReadAll(out.path);
  EXPECT_EQ(bytes[8 + 2], 0xF0);
  auto cell = std::search(bytes.begin(), bytes.end(), std::begin("CELL"), std::end("CELL") - 1);
  ASSERT_NE(cell, bytes.end());
  EXPECT_EQ(*(cell + 8 + 9), 0xF0);  // the cell's first initial
}

TEST_F(CatalogFileTest, PasswordIsAskedAndComparedIgnoringCase) {
  auto c = testing::Open(dir_, "");
  c->password = "Secret\xE9";
  FileSpec out = Spec(dir_.file("locked.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);

  ErrorCode e = err::kNone;
  c = testing::Open(dir_, out.path, &e);
  EXPECT_EQ(e, err::kParam);  // no one to ask
  c = testing::Open(dir_, out.path, &e, [] { return std::optional<std::string>("wrong"); });
  EXPECT_EQ(e, err::kWrongPassword);
  EXPECT_FALSE(c);
  c = testing::Open(dir_, out.path, &e, [] { return std::optional<std::string>(); });
  EXPECT_EQ(e, err::kUserCancelled);
  c = testing::Open(dir_, out.path, &e, [] { return std::optional<std::string>("SECRET\xC9"); });
  ASSERT_EQ(e, err::kNone);
  EXPECT_EQ(c->password, "Secret\xE9");
}

TEST_F(CatalogFileTest, FilesThatAreNotCatalogsAreRefused) {
  const Bytes good = TwoItemFile().bytes;
  auto changed = [&good](std::size_t at, std::uint32_t value) {
    Bytes b = good;
    FixedBytes(b).setU32be(at, value);
    return b;
  };
  const Bytes no_totals = Numbers({0, 0, 0, 0, 0});
  const struct {
    const char* name;
    Bytes bytes;
    ErrorCode want;
  } cases[] = {
      {"foreign magic", changed(4, FourCC("X25i")), err::kUnreadableCatalog},
      {"too many items", changed(0, kMaxCatalogItems + 1), err::kUnreadableCatalog},
      {"directory beyond the end", changed(good.size() - 4, 0x7FFFFFF0), err::kUnreadableCatalog},
      {"overlong signature", HandFile(0, {}, {{"SIGN", Bytes(257, 1)}, {"TOTL", no_totals}}), err::kUnreadableCatalog},
      {"more cells than items allowed",
       HandFile(0, {}, {{"CELL", Bytes(12 * (kMaxCatalogItems + 1), 0)}, {"TOTL", no_totals}}),
       err::kUnreadableCatalog},
      {"shorter than a header", Str("short"), err::kEndOfFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorCode e = err::kNone;
    EXPECT_FALSE(OpenBytes(c.bytes, &e));
    EXPECT_EQ(e, c.want);
  }
  // Every failed open leaves no lock behind.
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find("_0"), std::string::npos) << entry.path();
  }
}

TEST_F(CatalogFileTest, UnreadableFolderTreeIsRebuiltFromTheItemsAliases) {
  std::string media = dir_.file("m\xC3\xA9");  // "mé", UTF-8
  std::filesystem::create_directory(media);
  WriteAll(media + "/one.jpg", Str("1"));
  WriteAll(media + "/two.jpg", Str("22"));
  auto c = testing::Open(dir_, "");
  ASSERT_EQ(AddPendingItem(*c, Spec(media + "/one.jpg")), err::kNone);
  ASSERT_EQ(AddPendingItem(*c, Spec(media + "/two.jpg")), err::kNone);
  FileSpec out = Spec(dir_.file("tree.nrk"));
  ASSERT_EQ(SaveCatalog(*c, &out, {}), err::kNone);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);

  Bytes bytes = ReadAll(out.path);
  auto tree = std::search(bytes.begin(), bytes.end(), std::begin("NFT1"), std::end("NFT1") - 1);
  ASSERT_NE(tree, bytes.end());
  std::fill(tree, tree + 12, 0x5A);  // another program's layout
  WriteAll(out.path, bytes);

  c = testing::Open(dir_, out.path);
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->report.folder_tree_rebuilt);
  EXPECT_EQ(ItemPath(*c, 2), media + "/two.jpg");
  EXPECT_TRUE(c->cells[1].pending());
}

TEST_F(CatalogFileTest, ChunkWalkerFindsEachChunkWhereTheFileHoldsItAndTellsACutDirectory) {
  const Bytes record = HandRecord("a.jpg", "a", 10, 0);
  const Bytes settings(1024, 0x5A);
  const std::string path = dir_.file("walk.nrk");
  WriteAll(path, HandFile(1, {record}, {{"ABCD", Str("xyz")}, {"PREF", settings}}));
  File f;
  ASSERT_EQ(f.open(Spec(path), Permission::kRead), err::kNone);
  std::int64_t length = 0;
  ASSERT_EQ(f.endOfFile(&length), err::kNone);
  ChunkDirectory directory;
  ASSERT_EQ(ReadChunkDirectory(f, length, directory), err::kNone);
  EXPECT_EQ(directory.offset, static_cast<std::int64_t>(8 + record.size()));

  struct Case {
    const char* name;
    std::size_t keep;  // directory bytes kept
    std::vector<std::string> tags;
    bool complete;
  };
  const std::size_t whole = directory.bytes.size();
  const Case cases[] = {
      {"whole", whole, {"ABCD", "PREF"}, true},
      {"without the end tag", whole - 4, {"ABCD", "PREF"}, false},
      {"cut inside the second chunk's data", whole - 10, {"ABCD"}, false},
      {"cut inside the first chunk's head", 6, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChunkDirectory cut = directory;
    cut.bytes.resize(c.keep);
    ChunkWalker walk(cut);
    std::vector<std::string> tags;
    for (DirectoryChunk chunk; walk.next(chunk);) {
      tags.push_back(FourCCToString(chunk.tag));
      // The offset is the file's: its bytes there are the chunk's data.
      Bytes at(chunk.data.size());
      ASSERT_EQ(f.readAt(chunk.file_offset, at), err::kNone);
      EXPECT_TRUE(std::equal(at.begin(), at.end(), chunk.data.begin()));
    }
    EXPECT_EQ(tags, c.tags);
    EXPECT_EQ(walk.complete(), c.complete);
  }

  // A directory offset that points into the header, or past the end, is refused.
  for (std::uint32_t offset : {4u, static_cast<std::uint32_t>(length)}) {
    Bytes bytes = ReadAll(path);
    FixedBytes(bytes).setU32be(bytes.size() - 4, offset);
    WriteAll(path, bytes);
    File g;
    ASSERT_EQ(g.open(Spec(path), Permission::kRead), err::kNone);
    EXPECT_EQ(ReadChunkDirectory(g, length, directory), err::kUnreadableCatalog) << offset;
  }
}

TEST_F(CatalogFileTest, MediaTotalRecomputationReportsProgressAndCanBeStopped) {
  TwoItemFile f;
  std::vector<Chunk> chunks(f.chunks.begin(), f.chunks.end() - 1);  // without "MBWd"
  std::string path = dir_.file("nombwd.nrk");
  WriteAll(path, HandFile(2, {f.rec1, f.rec2}, chunks));
  std::vector<std::array<int, 3>> calls;
  auto progress = [&](ProgressPhase phase, int done, int total) {
    calls.push_back({static_cast<int>(phase), done, total});
    return 0;
  };
  std::unique_ptr<Catalog> c;
  FileSpec file = Spec(path);
  ASSERT_EQ(CreateCatalog(&file, Spec(dir_.file("s1")), {}, progress, c), err::kNone);
  EXPECT_EQ(c->media_bytes, 4000u);
  std::vector<std::array<int, 3>> want = {{0, 0, 1}, {1, 1, 2}, {1, 2, 2}, {2, 2, 2}};
  EXPECT_EQ(calls, want);
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);

  auto stop = [](ProgressPhase phase, int, int) { return phase == ProgressPhase::kStep ? -128 : 0; };
  EXPECT_EQ(CreateCatalog(&file, Spec(dir_.file("s2")), {}, stop, c), err::kUserCancelled);
}

}  // namespace
}  // namespace norvo::catalog
