// SPDX-License-Identifier: GPL-3.0-or-later
#include "fields/record_stream.h"

#include <algorithm>

#include "platform/text_encoding.h"

namespace norvo::fields {
namespace {

// Read-ahead windows fit the processor cache: the copy out of the page cache
// is the cost of a walk.
constexpr std::size_t kWindowSize = 1u << 17;

// A length with the top bit set marks an absent part, as a zero does.
bool Absent(std::uint32_t length) { return length == 0 || (length & 0x80000000u) != 0; }

// The bytes of one file, read ahead in windows: one read serves the records
// of many items, thumbnails included, which costs less than reading each
// item's parts on their own.
class Window {
 public:
  // The `n` bytes at `pos` of `file`; empty (and *e set) when the file is
  // shorter or cannot be read.
  std::span<const std::uint8_t> get(const File& file, std::int64_t pos, std::size_t n, ErrorCode* e) {
    if (&file != file_) {
      file_ = &file;
      start_ = 0;
      bytes_.clear();
      length_ = 0;
      if (ErrorCode r = file.endOfFile(&length_); r != err::kNone) {
        *e = r;
        return {};
      }
    }
    if (pos < 0 || pos > length_ || static_cast<std::int64_t>(n) > length_ - pos) {
      *e = err::kEndOfFile;
      return {};
    }
    if (pos < start_ || pos + static_cast<std::int64_t>(n) > start_ + static_cast<std::int64_t>(bytes_.size())) {
      std::size_t size = static_cast<std::size_t>(
          std::min<std::int64_t>(length_ - pos, static_cast<std::int64_t>(std::max(n, kWindowSize))));
      bytes_.resize(size);
      start_ = pos;
      if (ErrorCode r = file.readAt(pos, bytes_); r != err::kNone) {
        bytes_.clear();
        *e = r;
        return {};
      }
    }
    return std::span<const std::uint8_t>(bytes_).subspan(static_cast<std::size_t>(pos - start_), n);
  }

 private:
  const File* file_ = nullptr;
  std::int64_t length_ = 0;
  std::int64_t start_ = 0;
  std::vector<std::uint8_t> bytes_;
};

ErrorCode ReadRecord(Window& window, const File& file, std::int64_t offset, RecordParts parts,
                     catalog::ItemRecord& record) {
  ErrorCode e = err::kNone;
  auto fixed = window.get(file, offset, catalog::kFixedPartSize, &e);
  if (fixed.empty()) return e;
  catalog::DecodeFixedPart(fixed.first<catalog::kFixedPartSize>(), catalog::NameText::kConverted, record);
  for (catalog::ItemPart p : catalog::kFilePartOrder) record.part(p).clear();
  record.has_optional_parts = false;
  if (parts == RecordParts::kFixed) return err::kNone;
  std::int64_t pos = offset + static_cast<std::int64_t>(catalog::kFixedPartSize);
  for (catalog::ItemPart p : catalog::kFilePartOrder) {
    std::uint32_t n = record.partLength(p);
    if (Absent(n)) continue;
    if (p != catalog::ItemPart::kThumbnail && p != catalog::ItemPart::kRecording) {
      auto bytes = window.get(file, pos, n, &e);
      if (bytes.size() != n) return e;
      record.part(p).assign(bytes.begin(), bytes.end());
    }
    pos += n;
  }
  record.annotations.resize(catalog::ConvertAnnotations(record.annotations, TextDirection::kMacToWindows));
  ConvertText(record.url, TextDirection::kMacToWindows);
  return err::kNone;
}

}  // namespace

void ForEachItemRecord(const catalog::Catalog& catalog, RecordParts parts, const std::vector<int>& cells,
                       const RecordVisitor& visit) {
  struct Place {
    bool scratch;
    std::uint32_t offset;
    int cell;
  };
  std::vector<Place> places;
  auto add = [&](int cell) {
    if (cell < 1 || cell > catalog.itemCount()) return;
    const catalog::CatalogCell& c = catalog.cells[static_cast<std::size_t>(cell - 1)];
    places.push_back({c.inScratch(), c.offset, cell});
  };
  if (cells.empty()) {
    places.reserve(static_cast<std::size_t>(catalog.itemCount()));
    for (int cell = 1; cell <= catalog.itemCount(); ++cell) add(cell);
  } else {
    for (int cell : cells) add(cell);
  }
  std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
    return a.scratch != b.scratch ? !a.scratch : a.offset < b.offset;
  });
  Window window;
  catalog::ItemRecord record;
  for (const Place& place : places) {
    const File& file = place.scratch ? catalog.scratch : catalog.file;
    ErrorCode e = file.isOpen() ? ReadRecord(window, file, place.offset, parts, record) : err::kBadFileNumber;
    // The names' true forms, as GetItemRecord hands them out.
    record.true_file_name.clear();
    record.true_display_name.clear();
    const std::uint32_t id = catalog.cells[static_cast<std::size_t>(place.cell - 1)].item_id;
    if (auto names = catalog.item_true_names.find(id); names != catalog.item_true_names.end()) {
      record.true_file_name = names->second.file_name;
      record.true_display_name = names->second.display_name;
    }
    if (!visit(place.cell, e, record)) return;
  }
}

}  // namespace norvo::fields
