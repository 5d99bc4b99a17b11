// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/catalog_file.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "platform/alias.h"
#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::catalog {
namespace {

constexpr std::uint32_t kTagSign = FourCC("SIGN");
constexpr std::uint32_t kTagFolderTree = FourCC("FSM!");
constexpr std::uint32_t kTagCells = FourCC("CELL");
constexpr std::uint32_t kTagCustomFields = FourCC("USFL");
constexpr std::uint32_t kTagRanks = FourCC("RANK");
constexpr std::uint32_t kTagTotals = FourCC("TOTL");
constexpr std::uint32_t kTagImportOptions = FourCC("IMPF");
constexpr std::uint32_t kTagFonts = FourCC("FONT");
constexpr std::uint32_t kTagSettings = kSettingsChunkTag;
static_assert(kSettingsChunkTag == FourCC("PREF"));
constexpr std::uint32_t kTagSavedBy = FourCC("SVar");
constexpr std::uint32_t kTagMediaBytes = FourCC("MBWd");
constexpr std::uint32_t kTagHidden = FourCC("HIDN");
constexpr std::uint32_t kTagCatalogSets = FourCC("CSET");
constexpr std::uint32_t kTagGroupIndexes = FourCC("CS00");
constexpr std::uint32_t kTagTrueNames = FourCC("UTF8");

constexpr std::size_t kPasswordChunkSize = 256;
constexpr std::size_t kTotalsChunkSize = 20;
constexpr std::size_t kFontsChunkSize = kFontEntrySize * kFontCount;
constexpr std::size_t kCustomFieldNameChunkEntry = kCustomFieldNameSize;
// A directory larger than this is not one this program wrote or can use.
constexpr std::int64_t kMaxDirectoryBytes = 256ll << 20;

// The raw per-catalog blocks, in the order they are written.
struct RawBlock {
  std::uint32_t tag;
  std::vector<std::uint8_t> Catalog::*member;
  bool written;
};
constexpr RawBlock kRawBlocks[] = {
    {FourCC("PRNT"), &Catalog::print_settings, true}, {FourCC("VCSF"), &Catalog::vcsf, true},
    {FourCC("FLDR"), &Catalog::fldr, true},           {FourCC("CPTF"), &Catalog::cptf, true},
    {FourCC("HFld"), &Catalog::hfld, true},           {FourCC("CSET"), &Catalog::cset, true},
    {FourCC("CS00"), &Catalog::cs00, true},           {FourCC("MSOP"), &Catalog::msop, true},
    {FourCC("MSVI"), &Catalog::msvi, true},           {FourCC("OpMs"), &Catalog::opms, false},
    {FourCC("VsMs"), &Catalog::vsms, false},
    {FourCC("NSSO"), &Catalog::slide_show_options, true}, {FourCC("NPRL"), &Catalog::print_layout, true},
    {FourCC("NCAM"), &Catalog::camera_import, true},
};

std::span<const std::uint8_t> AsBytes(const std::string& s) {
  return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// Reads a length-prefixed Mac Roman string of a fixed width as Windows-1252.
std::string ReadPString(std::span<const std::uint8_t> field) {
  if (field.empty()) return {};
  std::size_t n = std::min<std::size_t>(field[0], field.size() - 1);
  std::string text(reinterpret_cast<const char*>(field.data() + 1), n);
  ConvertText(text, TextDirection::kMacToWindows);
  return text;
}

void WritePString(ByteWriter& w, const std::string& text, std::size_t width) {
  std::string mac = text.substr(0, std::min(text.size(), width - 1));
  ConvertText(mac, TextDirection::kWindowsToMac);
  w.u8(static_cast<std::uint8_t>(mac.size()));
  w.bytes(AsBytes(mac));
  w.zeros(width - 1 - mac.size());
}

void ConvertImportText(ImportOptions& options, TextDirection direction) {
  auto field = std::span(options.bytes).subspan(kImportNameTextOffset, kImportNameTextWidth);
  std::size_t n = std::min<std::size_t>(field[0], kImportNameTextWidth - 1);
  ConvertText(field.subspan(1, n), direction);
}

void ConvertFontName(std::array<std::uint8_t, 512>& name, TextDirection direction) {
  auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
  ConvertText(std::span(name.begin(), end), direction);
}

CatalogCell DecodeCell(ByteReader& r) {
  CatalogCell cell;
  cell.offset = r.u32be();
  cell.item_id = r.u32be();
  std::uint32_t low = r.u8();
  std::uint32_t first = MacRomanToWindows1252(r.u8());
  std::uint32_t second = MacRomanToWindows1252(r.u8());
  std::uint32_t high = r.u8();
  cell.flags = low | (first << 8) | (second << 16) | (high << 24);
  return cell;
}

void EncodeCell(ByteWriter& w, const CatalogCell& cell) {
  w.u32be(cell.offset);
  w.u32be(cell.item_id);
  w.u8(static_cast<std::uint8_t>(cell.flags));
  w.u8(Windows1252ToMacRoman(static_cast<std::uint8_t>(cell.flags >> 8)));
  w.u8(Windows1252ToMacRoman(static_cast<std::uint8_t>(cell.flags >> 16)));
  w.u8(static_cast<std::uint8_t>((cell.flags & ~cell_flags::kHidden) >> 24));
}

std::string TagName(std::uint32_t tag) {
  std::string s = FourCCToString(tag);
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  }
  return s;
}

// What the directory loop found.
struct DirectoryState {
  bool cells_read = false;
  bool totals_read = false;
  bool media_bytes_read = false;
  bool fonts_read = false;
  bool folder_tree_present = false;
  bool folder_tree_parsed = false;
  std::vector<std::uint32_t> hidden_ids;  // "HIDN", applied once the ids are repaired
  std::vector<TrueName> true_names;        // "UTF8", applied once every chunk is read
};

// Handles one chunk. Returns false for a chunk that was skipped.
ErrorCode TakeChunk(Catalog& catalog, std::uint32_t tag, std::span<const std::uint8_t> data, DirectoryState& st,
                    bool* taken) {
  ByteReader r(data);
  const std::size_t n = data.size();
  *taken = true;
  if (tag == kTagSign) {
    if (n > kPasswordChunkSize) return err::kUnreadableCatalog;
    catalog.password = ReadPString(data);
  } else if (tag == kTagFolderTree) {
    st.folder_tree_present = true;
    st.folder_tree_parsed = FolderTree::Parse(data, catalog.folders);
  } else if (tag == kTagCells) {
    if (n > kCellSize * kMaxCatalogItems) return err::kUnreadableCatalog;
    catalog.cells.clear();
    for (std::size_t i = 0; i < n / kCellSize; ++i) catalog.cells.push_back(DecodeCell(r));
    st.cells_read = true;
  } else if (tag == kTagCustomFields) {
    catalog.custom_field_names.clear();
    for (std::size_t i = 0; i < n / kCustomFieldNameChunkEntry; ++i) {
      catalog.custom_field_names.push_back(ReadPString(r.bytes(kCustomFieldNameChunkEntry)));
    }
  } else if (tag == kTagRanks) {
    catalog.ranks.clear();
    for (std::size_t i = 0; i < n / kRankEntrySize; ++i) {
      RankEntry e;
      e.a = r.u32be();
      e.b = r.u32be();
      e.c = r.u32be();
      r.read(e.raw);
      catalog.ranks.push_back(e);
    }
  } else if (tag == kTagTotals && n == kTotalsChunkSize) {
    auto& t = catalog.totals;
    t.item_count = r.i32be();
    t.labelled_count = r.i32be();
    r.skip(4);  // reserved slots: always 0 once loaded
    t.reserved_slots = 0;
    t.total_record_bytes = r.i32be();
    t.total_media_bytes = r.i32be();
    st.totals_read = true;
  } else if (tag == kTagImportOptions && n == kImportOptionsSize) {
    r.read(catalog.import_options.bytes);
    ConvertImportText(catalog.import_options, TextDirection::kMacToWindows);
  } else if (tag == kTagFonts && n == kFontsChunkSize && !st.fonts_read) {
    std::array<CatalogFont, kFontCount> fonts{};
    for (auto& font : fonts) {
      font.number = r.u16be();
      r.skip(2);  // the same number, little-endian
      r.read(font.name);
      ConvertFontName(font.name, TextDirection::kMacToWindows);
    }
    catalog.fonts = fonts;
    st.fonts_read = true;
  } else if (tag == kTagSettings && n == kSettingsSize) {
    r.read(catalog.settings.bytes);
  } else if (tag == kTagSavedBy && n == 4) {
    catalog.saved_by = r.u32be();
  } else if (tag == kTagHidden && n % 4 == 0) {
    for (std::size_t i = 0; i < n / 4; ++i) st.hidden_ids.push_back(r.u32be());
  } else if (tag == kTagTrueNames) {
    // A damaged chunk gives what could be read; the rest of the names show
    // in their 8-bit renderings.
    *taken = DecodeTrueNames(data, st.true_names);
  } else if (tag == kTagMediaBytes && n == 8) {
    catalog.media_bytes = r.u64be();
    st.media_bytes_read = true;
  } else {
    *taken = false;
    for (const auto& block : kRawBlocks) {
      if (block.tag == tag) {
        catalog.*block.member = std::vector<std::uint8_t>(data.begin(), data.end());
        *taken = true;
      }
    }
  }
  return err::kNone;
}

// Recovery when the directory is missing or incomplete: walk the record area
// from byte 8, one record after another, for as many records as the header
// counts and the file holds.
ErrorCode SequentialScan(Catalog& catalog, std::uint32_t header_count, std::int64_t file_length) {
  catalog.report.sequential_scan = true;
  catalog.cells.clear();
  catalog.totals = CatalogTotals{};
  catalog.totals.total_record_bytes = static_cast<std::int32_t>(std::min<std::int64_t>(file_length, 0x7FFFFFFF));
  catalog.media_bytes = 0;
  std::int64_t pos = kHeaderSize;
  for (std::uint32_t i = 1; i <= header_count; ++i) {
    ItemRecord fixed;
    if (ReadFixedPart(catalog.file, pos, NameText::kConverted, fixed) != err::kNone) break;
    std::uint64_t size = fixed.storedSize();
    if (size > static_cast<std::uint64_t>(file_length - pos)) break;  // cut off inside this record
    CatalogCell cell;
    cell.offset = static_cast<std::uint32_t>(pos);
    cell.item_id = i;
    cell.flags = InitialsFromDisplayName(fixed.display_name.text());
    catalog.cells.push_back(cell);
    catalog.totals.item_count += 1;
    catalog.totals.total_media_bytes =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(catalog.totals.total_media_bytes) + fixed.file_size);
    catalog.media_bytes += fixed.file_size;
    pos += static_cast<std::int64_t>(size);
  }
  catalog.directory_offset = static_cast<std::uint32_t>(std::min<std::int64_t>(file_length, 0xFFFFFFFF));
  // New records go right after the last one found; whatever followed it is
  // no longer referenced.
  catalog.record_area_end = static_cast<std::uint32_t>(pos);
  return err::kNone;
}

ErrorCode RecomputeMediaBytes(Catalog& catalog, const ProgressCallback& progress) {
  catalog.report.media_total_recomputed = true;
  catalog.media_bytes = 0;
  const int count = catalog.totals.item_count;
  for (int i = 0; i < count; ++i) {
    if (progress) {
      if (int answer = progress(ProgressPhase::kStep, i + 1, count); answer != 0) {
        return answer < 0 && answer >= -32768 ? static_cast<ErrorCode>(answer) : err::kUserCancelled;
      }
    }
    ItemRecord fixed;
    if (ReadFixedPart(catalog.file, catalog.cells[static_cast<std::size_t>(i)].offset, NameText::kAsStored,
                      fixed) ==
        err::kNone) {
      catalog.media_bytes += fixed.file_size;
    }
  }
  return err::kNone;
}

// Names arrive in their 8-bit renderings (Windows-1252 in memory); they
// become UTF-8 here, taking their true forms where the "UTF8" chunk has them.
void ApplyTrueNames(Catalog& catalog, const std::vector<TrueName>& names) {
  std::map<std::uint32_t, std::string> custom;
  for (const TrueName& n : names) {
    switch (n.kind) {
      case TrueNameKind::kFileName: catalog.item_true_names[n.key].file_name = n.utf8; break;
      case TrueNameKind::kDisplayName: catalog.item_true_names[n.key].display_name = n.utf8; break;
      case TrueNameKind::kCustomField: custom[n.key] = n.utf8; break;
      case TrueNameKind::kGroupName: catalog.loaded_group_names.push_back(n); break;
    }
  }
  for (std::size_t i = 0; i < catalog.custom_field_names.size(); ++i) {
    std::string& name = catalog.custom_field_names[i];
    auto true_name = custom.find(static_cast<std::uint32_t>(i));
    name = NameFromField(name, true_name == custom.end() ? std::string() : true_name->second);
  }
}

// Reads the chunk directory; falls back to the sequential scan as needed.
ErrorCode ReadDirectory(Catalog& catalog, std::uint32_t header_count, std::int64_t length,
                        const ProgressCallback& progress, DirectoryState& st) {
  catalog.media_bytes = 0;
  catalog.saved_by = kUnknownSavedBy;
  ChunkDirectory directory;
  if (ErrorCode e = ReadChunkDirectory(catalog.file, length, directory); e != err::kNone) return e;
  catalog.directory_offset = static_cast<std::uint32_t>(directory.offset);
  catalog.record_area_end = static_cast<std::uint32_t>(directory.offset);

  ChunkWalker walk(directory);
  for (DirectoryChunk chunk; walk.next(chunk);) {
    bool taken = false;
    if (ErrorCode e = TakeChunk(catalog, chunk.tag, chunk.data, st, &taken); e != err::kNone) return e;
    if (!taken) {
      catalog.report.skipped_chunks.push_back(TagName(chunk.tag) + " (" + std::to_string(chunk.data.size()) +
                                              " bytes)");
    }
  }
  // A directory cut off before its end tag still gives what it held.
  const ErrorCode loop_error = walk.complete() ? err::kNone : err::kEndOfFile;

  if ((!st.cells_read && catalog.totals.item_count > 0) || !st.totals_read) {
    return SequentialScan(catalog, header_count, length);
  }
  // The cell table is the truth about which items there are.
  catalog.totals.item_count = static_cast<std::int32_t>(st.cells_read ? catalog.cells.size() : 0);
  if (!st.cells_read) catalog.cells.clear();
  if (!st.media_bytes_read) return RecomputeMediaBytes(catalog, progress);
  return loop_error;
}

// Enters in the folder tree the items it does not know (or all, when the
// stored tree was unusable), from their aliases; drops entries of ItemIds
// that no cell holds. A tree that matches the cells costs one lookup per cell.
void CompleteFolderTree(Catalog& catalog, const std::vector<std::uint32_t>& renumbered, bool rebuild_all) {
  bool changed = rebuild_all;
  std::size_t known = 0;
  for (int i = 0; i < catalog.totals.item_count; ++i) {
    const CatalogCell& cell = catalog.cells[static_cast<std::size_t>(i)];
    bool is_renumbered = std::binary_search(renumbered.begin(), renumbered.end(), cell.item_id);  // ascending
    if (!rebuild_all && !is_renumbered && catalog.folders.contains(cell.item_id)) {
      ++known;
      continue;
    }
    ItemRecord fixed;
    AliasInfo alias;
    if (ReadFixedPart(catalog.file, cell.offset, NameText::kAsStored, fixed) != err::kNone) continue;
    if (!ParseAlias(fixed.aliasBytes(), alias) || alias.minimal) continue;
    catalog.folders.assign(cell.item_id, ParentFolder(alias.text));
    ++known;
    changed = true;
  }
  if (catalog.folders.itemCount() > known) {
    FolderTree pruned;
    for (int i = 0; i < catalog.totals.item_count; ++i) {
      std::uint32_t id = catalog.cells[static_cast<std::size_t>(i)].item_id;
      if (auto folder = catalog.folders.folderOf(id)) pruned.assign(id, *folder);
    }
    catalog.folders = std::move(pruned);
    changed = true;
  }
  if (changed) catalog.report.folder_tree_rebuilt = true;
}

}  // namespace

ErrorCode ReadChunkDirectory(const File& file, std::int64_t length, ChunkDirectory& out) {
  std::array<std::uint8_t, 4> offset_bytes{};
  if (length < 4 || file.readAt(length - 4, offset_bytes) != err::kNone) return err::kUnreadableCatalog;
  const std::int64_t d = ByteReader(offset_bytes).u32be();
  if (d < static_cast<std::int64_t>(kHeaderSize) || d > length - static_cast<std::int64_t>(kTrailerSize) ||
      length - d > kMaxDirectoryBytes) {
    return err::kUnreadableCatalog;
  }
  out.offset = d;
  out.bytes.assign(static_cast<std::size_t>(length - 4 - d), 0);
  if (file.readAt(d, out.bytes) != err::kNone) return err::kUnreadableCatalog;
  return err::kNone;
}

ChunkWalker::ChunkWalker(const ChunkDirectory& directory) : directory_(directory) {}

bool ChunkWalker::next(DirectoryChunk& chunk) {
  ByteReader r(directory_.bytes);
  r.seek(at_);
  const std::uint32_t tag = r.u32be();
  if (!r.ok()) return false;
  if (tag == kFileMagic) {
    complete_ = true;
    return false;
  }
  const std::uint32_t length = r.u32be();
  const std::size_t data_at = r.position();
  auto data = r.bytes(length);
  if (!r.ok()) return false;
  chunk = DirectoryChunk{tag, data, directory_.offset + static_cast<std::int64_t>(data_at)};
  at_ = r.position();
  return true;
}

std::array<std::uint8_t, kHeaderSize> BuildHeader(std::uint32_t item_count) {
  ByteWriter w(kHeaderSize);
  w.u32be(item_count);
  w.u32be(kFileMagic);
  std::array<std::uint8_t, kHeaderSize> out{};
  std::copy(w.buffer().begin(), w.buffer().end(), out.begin());
  return out;
}

int RepairItemIds(Catalog& catalog, std::vector<std::uint32_t>* renumbered_ids) {
  auto& t = catalog.totals;
  t.labelled_count = 0;
  std::uint32_t highest = 0;
  for (int i = 0; i < t.item_count; ++i) {
    CatalogCell& cell = catalog.cells[static_cast<std::size_t>(i)];
    cell.flags &= ~cell_flags::kClearedOnLoad;
    if (cell.label() > kMaxLabel) {
      cell.flags &= ~cell_flags::kLabelMask;
      catalog.report.cleared_labels += 1;
    }
    if (cell.label() != 0) t.labelled_count += 1;
    highest = std::max(highest, cell.item_id);
  }
  // ItemIds are small and dense in practice: a bitmap finds repeats in one
  // pass; a hash set serves the rare catalog with huge ids.
  std::vector<std::uint64_t> bitmap;
  std::unordered_set<std::uint32_t> seen_large;
  const bool use_bitmap = highest < (1u << 24);
  if (use_bitmap) bitmap.assign(static_cast<std::size_t>(highest / 64) + 1 + (t.item_count / 64) + 1, 0);
  auto first_sighting = [&](std::uint32_t id) {
    if (!use_bitmap) return seen_large.insert(id).second;
    if (static_cast<std::size_t>(id / 64) >= bitmap.size()) bitmap.resize(static_cast<std::size_t>(id / 64) + 1, 0);
    std::uint64_t& word = bitmap[id / 64];
    const std::uint64_t bit = std::uint64_t{1} << (id % 64);
    if ((word & bit) != 0) return false;
    word |= bit;
    return true;
  };
  int renumbered = 0;
  for (int i = 0; i < t.item_count; ++i) {
    CatalogCell& cell = catalog.cells[static_cast<std::size_t>(i)];
    if (cell.item_id != 0 && first_sighting(cell.item_id)) continue;
    cell.item_id = ++highest;
    first_sighting(cell.item_id);
    if (renumbered_ids) renumbered_ids->push_back(cell.item_id);
    ++renumbered;
  }
  catalog.next_item_id = highest + 1;
  if (renumbered > 0) catalog.markChanged();
  catalog.report.renumbered_item_ids += renumbered;
  return renumbered;
}

ErrorCode OpenCatalogFile(Catalog& catalog, const FileSpec& file, const PasswordCallback& password,
                          const ProgressCallback& progress) {
  if (file.empty()) return err::kParam;
  if (progress) progress(ProgressPhase::kStart, 0, 1);
  auto finish = [&](ErrorCode e) {
    if (progress) progress(ProgressPhase::kEnd, catalog.totals.item_count, catalog.totals.item_count);
    if (e != err::kNone) catalog.file.close();
    return e;
  };
  if (ErrorCode e = catalog.file.open(file, Permission::kRead); e != err::kNone) return finish(e);
  std::array<std::uint8_t, kHeaderSize> header{};
  if (ErrorCode e = catalog.file.readAt(0, header); e != err::kNone) return finish(e);
  ByteReader hr(header);
  const std::uint32_t header_count = hr.u32be();
  if (hr.u32be() != kFileMagic || header_count > static_cast<std::uint32_t>(kMaxCatalogItems)) {
    return finish(err::kUnreadableCatalog);
  }
  std::int64_t length = 0;
  if (ErrorCode e = catalog.file.endOfFile(&length); e != err::kNone) return finish(e);

  // The cell table of the file is replaced, not added to.
  catalog.cells.clear();
  catalog.totals = CatalogTotals{};
  DirectoryState st;
  ErrorCode result = err::kNone;
  std::array<std::uint8_t, 4> end_tag{};
  bool has_trailer = length >= static_cast<std::int64_t>(kHeaderSize + kTrailerSize) &&
                     catalog.file.readAt(length - 8, end_tag) == err::kNone &&
                     ByteReader(end_tag).u32be() == kFileMagic;
  if (has_trailer) {
    result = ReadDirectory(catalog, header_count, length, progress, st);
  } else {
    result = SequentialScan(catalog, header_count, length);
  }
  if (result != err::kNone) return finish(result);

  if (!catalog.password.empty()) {
    if (!password) return finish(err::kParam);
    auto answer = password();
    if (!answer) return finish(err::kUserCancelled);
    if (CompareText(*answer, catalog.password, false) != 0) return finish(err::kWrongPassword);
  }

  catalog.file_spec = file;
  catalog.saved_item_count = header_count;
  catalog.display_name = LeafName(file.path);
  std::vector<std::uint32_t> renumbered;
  RepairItemIds(catalog, &renumbered);
  if (!st.hidden_ids.empty()) {
    std::sort(st.hidden_ids.begin(), st.hidden_ids.end());
    for (int i = 0; i < catalog.totals.item_count; ++i) {
      CatalogCell& cell = catalog.cells[static_cast<std::size_t>(i)];
      if (std::binary_search(st.hidden_ids.begin(), st.hidden_ids.end(), cell.item_id)) {
        cell.flags |= cell_flags::kHidden;
      }
    }
  }
  ApplyTrueNames(catalog, st.true_names);
  bool rebuild_all = catalog.totals.item_count > 0 && (!st.folder_tree_present || !st.folder_tree_parsed);
  if (rebuild_all) catalog.folders.clear();
  CompleteFolderTree(catalog, renumbered, rebuild_all);
  return finish(err::kNone);
}

std::vector<std::uint8_t> BuildCatalogDirectory(const Catalog& catalog, std::uint32_t directory_offset) {
  ByteWriter w(64 * 1024 + catalog.cells.size() * (kCellSize + 8));
  auto chunk = [&w](std::uint32_t tag, std::span<const std::uint8_t> data) {
    if (data.empty()) return;
    w.u32be(tag);
    w.u32be(static_cast<std::uint32_t>(data.size()));
    w.bytes(data);
  };
  auto built = [&chunk](std::uint32_t tag, const ByteWriter& data) { chunk(tag, data.buffer()); };
  // Names the 8-bit fields cannot hold, gathered on the way ("UTF8").
  std::vector<TrueName> true_names;

  if (!catalog.password.empty()) {
    ByteWriter sign;
    WritePString(sign, catalog.password, kPasswordChunkSize);
    built(kTagSign, sign);
  }
  chunk(kTagFolderTree, catalog.folders.serialize());
  {
    ByteWriter cells(catalog.cells.size() * kCellSize);
    for (int i = 0; i < catalog.totals.item_count; ++i) EncodeCell(cells, catalog.cells[static_cast<std::size_t>(i)]);
    built(kTagCells, cells);
  }
  {
    ByteWriter names;
    for (std::size_t i = 0; i < catalog.custom_field_names.size(); ++i) {
      bool exact = false;
      const std::string& name = catalog.custom_field_names[i];
      WritePString(names, RenderEightBit(name, kCustomFieldNameSize - 1, &exact), kCustomFieldNameSize);
      if (!exact) true_names.push_back({TrueNameKind::kCustomField, static_cast<std::uint32_t>(i), name});
    }
    built(kTagCustomFields, names);
  }
  {
    ByteWriter ranks;
    for (const auto& e : catalog.ranks) {
      ranks.u32be(e.a);
      ranks.u32be(e.b);
      ranks.u32be(e.c);
      ranks.bytes(e.raw);
    }
    built(kTagRanks, ranks);
  }
  for (const auto& block : kRawBlocks) {
    if (!block.written) continue;
    if (catalog.group_indexes && (block.tag == kTagCatalogSets || block.tag == kTagGroupIndexes)) {
      // Indexes in use are written from memory: the catalog sets alone in
      // the older chunk, every index in the newer one.
      const GroupIndexes& indexes = *catalog.group_indexes;
      if (block.tag == kTagCatalogSets) {
        auto sets = indexes.find(kCatalogSetSlot);
        if (sets != indexes.end()) chunk(block.tag, EncodeGroupIndex(sets->second));
      } else {
        chunk(block.tag, EncodeGroupIndexes(indexes));
      }
      continue;
    }
    chunk(block.tag, catalog.*block.member);
  }
  {
    ByteWriter hidden;
    for (int i = 0; i < catalog.totals.item_count; ++i) {
      const CatalogCell& cell = catalog.cells[static_cast<std::size_t>(i)];
      if (cell.hidden()) hidden.u32be(cell.item_id);
    }
    built(kTagHidden, hidden);
  }
  {
    ByteWriter totals;
    const auto& t = catalog.totals;
    totals.u32be(static_cast<std::uint32_t>(t.item_count));
    totals.u32be(static_cast<std::uint32_t>(t.labelled_count));
    totals.u32be(0);
    totals.u32be(static_cast<std::uint32_t>(t.total_record_bytes));
    totals.u32be(static_cast<std::uint32_t>(t.total_media_bytes));
    built(kTagTotals, totals);
  }
  {
    ImportOptions options = catalog.import_options;
    ConvertImportText(options, TextDirection::kWindowsToMac);
    chunk(kTagImportOptions, options.bytes);
  }
  if (catalog.fonts) {
    ByteWriter fonts(kFontsChunkSize);
    for (const auto& font : *catalog.fonts) {
      fonts.u16be(font.number);
      fonts.u16le(font.number);
      auto name = font.name;
      ConvertFontName(name, TextDirection::kWindowsToMac);
      fonts.bytes(name);
    }
    built(kTagFonts, fonts);
  }
  chunk(kTagSettings, catalog.settings.bytes);
  {
    ByteWriter saved_by;
    saved_by.u32be(kProductCode);
    built(kTagSavedBy, saved_by);
  }
  {
    ByteWriter media;
    media.u64be(catalog.media_bytes);
    built(kTagMediaBytes, media);
  }
  for (int i = 0; i < catalog.totals.item_count; ++i) {
    const std::uint32_t id = catalog.cells[static_cast<std::size_t>(i)].item_id;
    auto names = catalog.item_true_names.find(id);
    if (names == catalog.item_true_names.end()) continue;
    if (!names->second.file_name.empty()) true_names.push_back({TrueNameKind::kFileName, id, names->second.file_name});
    if (!names->second.display_name.empty()) {
      true_names.push_back({TrueNameKind::kDisplayName, id, names->second.display_name});
    }
  }
  if (catalog.group_indexes) {
    for (TrueName& n : GroupTrueNames(*catalog.group_indexes)) true_names.push_back(std::move(n));
  } else {
    true_names.insert(true_names.end(), catalog.loaded_group_names.begin(), catalog.loaded_group_names.end());
  }
  if (!true_names.empty()) chunk(kTagTrueNames, EncodeTrueNames(true_names));
  w.u32be(kFileMagic);
  w.u32be(directory_offset);
  return w.take();
}

ErrorCode WriteCatalogDirectory(const Catalog& catalog, File& destination, std::uint32_t* directory_offset) {
  std::int64_t d = 0;
  if (ErrorCode e = destination.position(&d); e != err::kNone) return e;
  if (d > 0xFFFFFFFFll) return err::kDiskFull;
  auto bytes = BuildCatalogDirectory(catalog, static_cast<std::uint32_t>(d));
  if (ErrorCode e = destination.write(bytes); e != err::kNone) return e;
  if (ErrorCode e = destination.setEndOfFile(d + static_cast<std::int64_t>(bytes.size())); e != err::kNone) return e;
  if (directory_offset) *directory_offset = static_cast<std::uint32_t>(d);
  return err::kNone;
}

}  // namespace norvo::catalog
