// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/rollback_journal.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/byte_io.h"
#include "platform/file_lock.h"
#include "platform/file_spec.h"

namespace norvo::catalog {
namespace {

constexpr std::array<std::uint8_t, 8> kJournalMagic = {'N', 'R', 'K', 'J', 'R', 'N', 'L', '1'};
constexpr std::int64_t kJournalHeaderSize = 32;
constexpr std::int64_t kRangeHeaderSize = 16;
constexpr std::int64_t kCopyBlock = 1 << 20;
// Far more ranges than any write makes; a count above it is damage.
constexpr std::uint32_t kMaxRanges = 1u << 20;

std::uint32_t Crc(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(::crc32(crc, bytes.data(), static_cast<uInt>(bytes.size())));
}

FileSpec SpecOf(const std::string& path) {
  FileSpec spec;
  (void)MakeFileSpec(path, spec);  // err::kFileNotFound for a file yet to be made is expected
  return spec;
}

struct JournalHeader {
  std::uint32_t range_count = 0;
  std::uint32_t crc = 0;
  std::int64_t original_length = 0;
};

std::array<std::uint8_t, kJournalHeaderSize> EncodeHeader(const JournalHeader& h) {
  ByteWriter w(kJournalHeaderSize);
  w.bytes(kJournalMagic);
  w.u32be(h.range_count);
  w.u32be(h.crc);
  w.u64be(static_cast<std::uint64_t>(h.original_length));
  w.zeros(8);
  std::array<std::uint8_t, kJournalHeaderSize> out{};
  std::copy(w.buffer().begin(), w.buffer().end(), out.begin());
  return out;
}

// The CRC's start: the header bytes that follow it.
std::uint32_t HeaderCrc(std::int64_t original_length) {
  ByteWriter w(16);
  w.u64be(static_cast<std::uint64_t>(original_length));
  w.zeros(8);
  return Crc(0, w.buffer());
}

std::array<std::uint8_t, kRangeHeaderSize> EncodeRange(std::int64_t offset, std::int64_t length) {
  ByteWriter w(kRangeHeaderSize);
  w.u64be(static_cast<std::uint64_t>(offset));
  w.u64be(static_cast<std::uint64_t>(length));
  std::array<std::uint8_t, kRangeHeaderSize> out{};
  std::copy(w.buffer().begin(), w.buffer().end(), out.begin());
  return out;
}

// Walks a journal's ranges, checking every bound and, over the whole file,
// the CRC. With `apply`, writes each range into `catalog` as it goes (only
// call it so after a walk without it has passed).
ErrorCode WalkJournal(const File& journal, File* apply, JournalHeader* header_out) {
  std::int64_t size = 0;
  if (ErrorCode e = journal.endOfFile(&size); e != err::kNone) return e;
  if (size < kJournalHeaderSize) return err::kUnreadableCatalog;
  std::array<std::uint8_t, kJournalHeaderSize> head{};
  if (ErrorCode e = journal.readAt(0, head); e != err::kNone) return e;
  if (!std::equal(kJournalMagic.begin(), kJournalMagic.end(), head.begin())) return err::kUnreadableCatalog;
  ByteReader r(std::span<const std::uint8_t>(head).subspan(kJournalMagic.size()));
  JournalHeader h;
  h.range_count = r.u32be();
  h.crc = r.u32be();
  h.original_length = static_cast<std::int64_t>(r.u64be());
  if (h.range_count > kMaxRanges || h.original_length < 0) return err::kUnreadableCatalog;

  std::uint32_t crc = HeaderCrc(h.original_length);
  std::int64_t pos = kJournalHeaderSize;
  std::vector<std::uint8_t> block;
  for (std::uint32_t i = 0; i < h.range_count; ++i) {
    std::array<std::uint8_t, kRangeHeaderSize> range{};
    if (kRangeHeaderSize > size - pos) return err::kUnreadableCatalog;
    if (ErrorCode e = journal.readAt(pos, range); e != err::kNone) return e;
    crc = Crc(crc, range);
    pos += kRangeHeaderSize;
    ByteReader rr(range);
    const auto offset = static_cast<std::int64_t>(rr.u64be());
    const auto length = static_cast<std::int64_t>(rr.u64be());
    if (offset < 0 || length < 0 || length > size - pos || offset > h.original_length ||
        length > h.original_length - offset) {
      return err::kUnreadableCatalog;
    }
    for (std::int64_t done = 0; done < length;) {
      block.resize(static_cast<std::size_t>(std::min(kCopyBlock, length - done)));
      if (ErrorCode e = journal.readAt(pos + done, block); e != err::kNone) return e;
      crc = Crc(crc, block);
      if (apply != nullptr) {
        if (ErrorCode e = apply->writeAt(offset + done, block); e != err::kNone) return e;
      }
      done += static_cast<std::int64_t>(block.size());
    }
    pos += length;
  }
  if (crc != h.crc) return err::kUnreadableCatalog;
  if (header_out) *header_out = h;
  return err::kNone;
}

// Plays a verified journal back into `catalog` (open for writing) and cuts
// it to its old length. The journal itself is left for the caller.
ErrorCode PlayBack(const std::string& journal_path, File& catalog) {
  File journal;
  if (ErrorCode e = journal.open(SpecOf(journal_path), Permission::kRead); e != err::kNone) return e;
  JournalHeader h;
  if (ErrorCode e = WalkJournal(journal, nullptr, &h); e != err::kNone) return e;
  if (ErrorCode e = WalkJournal(journal, &catalog, nullptr); e != err::kNone) return e;
  if (ErrorCode e = catalog.setEndOfFile(h.original_length); e != err::kNone) return e;
  return catalog.flush();
}

// Deletes a journal that is not hot. The folder is not flushed: a journal
// that comes back after a power cut is still not hot.
ErrorCode RemoveJournal(const std::string& journal_path) {
  ErrorCode e = DeleteFile(SpecOf(journal_path));
  return e == err::kFileNotFound ? err::kNone : e;
}

}  // namespace

std::string JournalPath(const std::string& catalog_path) {
  return JoinPath(ParentFolder(catalog_path), "." + LeafName(catalog_path) + "-journal");
}

ErrorCode RollbackJournal::begin(const std::string& catalog_path, const File& catalog,
                                 std::span<const ByteRange> ranges) {
  const std::string path = JournalPath(catalog_path);
  // A hot journal here means an earlier write could not be undone: the
  // file is not in a state to be written over again.
  if (InspectJournal(catalog_path) == JournalState::kHot) return err::kWriteFailedDuringSave;
  std::int64_t length = 0;
  if (ErrorCode e = catalog.endOfFile(&length); e != err::kNone) return e;

  // The journal file stays between saves (emptied, not deleted), so that
  // only its first save pays for making its name durable.
  const FileSpec spec = SpecOf(path);
  const bool created = !FileExists(path);
  if (created) {
    if (ErrorCode e = CreateFile(spec, 0, 0); e != err::kNone) return e;
  }
  ErrorCode e = file_.open(spec, Permission::kReadWrite);
  if (e == err::kNone) e = file_.setEndOfFile(0);
  std::uint32_t crc = HeaderCrc(length);
  std::uint32_t count = 0;
  std::int64_t pos = kJournalHeaderSize;
  std::vector<std::uint8_t> block;
  for (const ByteRange& range : ranges) {
    if (e != err::kNone) break;
    if (range.offset < 0 || range.offset >= length || range.length <= 0) continue;
    const std::int64_t n = std::min(range.length, length - range.offset);
    const auto head = EncodeRange(range.offset, n);
    crc = Crc(crc, head);
    e = file_.writeAt(pos, head);
    pos += kRangeHeaderSize;
    for (std::int64_t done = 0; e == err::kNone && done < n;) {
      block.resize(static_cast<std::size_t>(std::min(kCopyBlock, n - done)));
      e = catalog.readAt(range.offset + done, block);
      if (e == err::kNone) e = file_.writeAt(pos, block);
      crc = Crc(crc, block);
      pos += static_cast<std::int64_t>(block.size());
      done += static_cast<std::int64_t>(block.size());
    }
    ++count;
  }
  // The header goes last and one flush makes it all durable. A journal cut
  // short by a crash before the flush returns fails its CRC and counts as
  // cold, and the catalog was not touched before that return.
  if (e == err::kNone) e = file_.writeAt(0, EncodeHeader({count, crc, length}));
  if (e == err::kNone) e = file_.flush();
  if (e == err::kNone && created) e = FlushFolder(ParentFolder(path));
  if (e != err::kNone) {
    // The first error is the one to report; an emptied journal is cold.
    if (file_.isOpen()) (void)file_.setEndOfFile(0);
    file_.close();
    if (created) (void)RemoveJournal(path);
    return e;
  }
  path_ = path;
  return err::kNone;
}

ErrorCode RollbackJournal::commit() {
  if (!active()) return err::kNone;
  // Emptying the journal is the commit. It is not flushed: a power cut right
  // after it may bring the journal back and the next open then puts the old
  // state back, which is still one whole state.
  if (ErrorCode e = file_.setEndOfFile(0); e != err::kNone) return e;
  file_.close();
  path_.clear();
  return err::kNone;
}

ErrorCode RollbackJournal::rollback(File& catalog) {
  if (!active()) return err::kNone;
  if (ErrorCode e = PlayBack(path_, catalog); e != err::kNone) return e;
  if (ErrorCode e = file_.setEndOfFile(0); e != err::kNone) return e;
  file_.close();
  path_.clear();
  return err::kNone;
}

ErrorCode DiscardIdleJournal(const std::string& catalog_path) {
  if (InspectJournal(catalog_path) != JournalState::kCold) return err::kNone;
  return RemoveJournal(JournalPath(catalog_path));
}

JournalState InspectJournal(const std::string& catalog_path) {
  const std::string path = JournalPath(catalog_path);
  if (!FileExists(path)) return JournalState::kNone;
  File journal;
  if (journal.open(SpecOf(path), Permission::kRead) != err::kNone) return JournalState::kCold;
  return WalkJournal(journal, nullptr, nullptr) == err::kNone ? JournalState::kHot : JournalState::kCold;
}

ErrorCode RecoverCatalogFile(const std::string& catalog_path, bool* rolled_back) {
  if (rolled_back) *rolled_back = false;
  const std::string path = JournalPath(catalog_path);
  switch (InspectJournal(catalog_path)) {
    case JournalState::kNone: return err::kNone;
    case JournalState::kCold: return RemoveJournal(path);
    case JournalState::kHot: break;
  }
  File catalog;
  if (ErrorCode e = catalog.open(SpecOf(catalog_path), Permission::kReadWrite); e != err::kNone) {
    return e == err::kPermission ? err::kWritePermission : e;
  }
  if (ErrorCode e = PlayBack(path, catalog); e != err::kNone) return e;
  catalog.close();
  if (rolled_back) *rolled_back = true;
  return RemoveJournal(path);
}

}  // namespace norvo::catalog
