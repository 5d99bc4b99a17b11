// SPDX-License-Identifier: GPL-3.0-or-later
// The item scan: reads one media file with the reader its type's handler
// names, makes the stored thumbnail, collects the file's metadata and merges
// it into annotations, and writes all of it into the item's record, clearing
// the item's not-yet-scanned bit.
//
// The scan is split in two so that files can be read on worker threads while
// the catalog engine stays single-threaded:
//   ScanFile         reads a file into a ScanResult; touches no catalog and
//                    no shared state, so any thread may call it;
//   ApplyScanResult  writes a result into the item's record; the catalog's
//                    owning thread calls it.
// ScanItem does both for one item; ScanItems runs ScanFile on a pool of
// worker threads and applies the results in catalog order.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "imaging/image_reader.h"
#include "imaging/pixel_buffer.h"
#include "metadata/annotation_block.h"
#include "metadata/metadata_list.h"
#include "platform/error_codes.h"
#include "platform/progress.h"

namespace norvo::media {

// The side of the square thumbnail box when a catalog sets none. A catalog
// keeps its own in the number at byte 16 of its settings block.
inline constexpr int kDefaultThumbnailSize = 250;
inline constexpr int kMinThumbnailSize = 16;
inline constexpr int kMaxThumbnailSize = 1024;
int CatalogThumbnailSize(const catalog::Catalog& catalog);
// Sets the box for the catalog's next scans (kept in its settings block);
// err::kParam outside kMinThumbnailSize to kMaxThumbnailSize.
ErrorCode SetCatalogThumbnailSize(catalog::Catalog& catalog, int size);

struct ScanOptions {
  int thumbnail_size = kDefaultThumbnailSize;
  bool apply_rotation = true;  // turn the thumbnail as the file's orientation asks
  bool make_thumbnail = true;
  // A rebuild: the file's annotations replace the item's, unless the item
  // holds annotations the user typed and never wrote into the file
  // (metadata/annotation_sync.h). A first scan only fills empty fields.
  bool rebuild = false;
};

// What a scan learns about one file.
struct ScanResult {
  std::uint32_t type_code = 0;   // the normalised type
  std::uint16_t rotation = 0;    // two-character code of the turn the file asks for, 0 none
  imaging::ImageFacts facts;     // size, resolution, depth, colour space, compressor, image count
  std::uint32_t file_size = 0;   // low 32 bits, as the record keeps it
  std::uint32_t created = 0;     // seconds since 1904, local time
  std::uint32_t modified = 0;
  std::uint32_t duration = 0;    // tenths of a second
  std::uint32_t tracks = 0;
  std::uint32_t pages = 0;
  std::uint32_t audio_channels = 0;
  std::uint32_t audio_rate = 0;
  std::uint32_t audio_bit_size = 0;
  std::uint32_t data_rate = 0;
  std::uint32_t frame_rate = 0;
  std::uint32_t spatial_quality = 0;
  std::uint32_t sample_colour = 0;  // the thumbnail's mean colour, 0x00RRGGBB
  std::string colour_profile;       // Windows-1252
  std::vector<std::uint8_t> thumbnail;  // the stored form; empty when the reader gave no picture
  std::vector<std::uint8_t> recording;  // a voice annotation the file carries (RIFF WAVE)
  metadata::MetadataList metadata;
  metadata::AnnotationBlock annotations;
};

// Reads the file at `path` (UTF-8) of type `type_code` (0: recognise it).
// Missing file err::kFileNotFound; a type without a reader err::kNoReaderForFormat; a reader's own error is
// passed back unchanged and the result then holds no thumbnail.
ErrorCode ScanFile(const std::string& path, std::uint32_t type_code, const ScanOptions& options, ScanResult* out);

// Writes `result` into the record of `cell` (facts, thumbnail, metadata and
// annotations parts) and clears its not-yet-scanned bit. Annotations the
// user already gave the item are kept and the file's only fill fields that
// are empty; for a rebuild, the file's replace them unless the user's were
// never written into the file.
ErrorCode ApplyScanResult(catalog::Catalog& catalog, int cell, const ScanResult& result, bool rebuild = false);

// The metadata list key under which a scan that could not read an item's
// file keeps the error (2 bytes, big-endian); a later successful scan
// replaces the list and so takes it away.
inline constexpr std::uint32_t kScanErrorKey = 0x6E457272;  // 'nErr'

// Records a scan that failed with `error`: what `partial` learned (type,
// size, dates, the picture's size when its header could be read), the
// error, and the item no longer pending. Annotations and thumbnail stay.
ErrorCode ApplyFailedScan(catalog::Catalog& catalog, int cell, const ScanResult& partial, ErrorCode error);
// The error a failed scan recorded for the item; 0 when none.
ErrorCode ScanErrorOf(const catalog::ItemRecord& record);

// What a scan of one item needs, looked up on the catalog's thread: the
// path of its file and its type. err::kParam when the item is gone or its
// record cannot be read; the errors of LocateItemFile when the file is not
// where the catalog says.
ErrorCode ScanTarget(catalog::Catalog& catalog, std::uint32_t item_id, std::string* path, std::uint32_t* type_code);

// What became of one item's scan, as ScanItems counts it.
enum class ScanOutcome { kScanned, kFailed, kSkipped };
// Applies what ScanFile gave for the item (on the catalog's thread): the
// result when `scan_error` is 0; else the failure is recorded with what could
// be learned, except for a missing file, which leaves the item pending.
// Returns the catalog's own error (scratch file full ...), which should stop
// the scan; *outcome says how the item counts.
ErrorCode ApplyScanOutcome(catalog::Catalog& catalog, std::uint32_t item_id, ErrorCode scan_error,
                           const ScanResult& result, bool rebuild, ScanOutcome* outcome);

// Scans the item of `cell`: locates its file, ScanFile, ApplyScanResult.
// When the file cannot be read the item stays as it is and keeps its
// not-yet-scanned bit.
ErrorCode ScanItem(catalog::Catalog& catalog, int cell, const ScanOptions& options);

struct ScanSummary {
  int scanned = 0;
  int failed = 0;   // files that could not be read: recorded with their error (missing ones stay pending)
  int skipped = 0;  // items removed or already scanned by the time their turn came
  std::vector<std::pair<std::uint32_t, ErrorCode>> failures;  // item id, error
};

// Progress: kStart (0, count) before the first item, kStep (n, count) as
// item n is applied, kEnd (count, count) at the end; a non-zero answer
// cancels (err::kUserCancelled), keeping what was applied.
using ScanProgress = std::function<int(ProgressPhase phase, int done, int total)>;

// Scans the items with the given ids on `jobs` worker threads (0: one per
// core), one file per thread, and applies each result on the calling thread
// in the order of `item_ids`.
ErrorCode ScanItems(catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids, int jobs,
                    const ScanOptions& options, const ScanProgress& progress, ScanSummary* summary);

// The ids of the catalog's not-yet-scanned items, in catalog order.
std::vector<std::uint32_t> PendingItems(const catalog::Catalog& catalog);
// What a scan of the catalog takes on: the pending items, and the items whose
// last scan failed and whose file has changed since (size or modification
// date), in catalog order. A failed file is not tried again until then, or
// until the user rebuilds it.
std::vector<std::uint32_t> ItemsToScan(catalog::Catalog& catalog);

// A preview picture of a file: the same readers at full size (box 0) or
// fitted into `box`, turned by `rotation` when it is not 0. err::kFileNotFound when the file
// is missing, err::kNoReaderForType when its type has no reader.
ErrorCode MakePreview(const std::string& path, std::uint32_t type_code, int box, std::uint16_t rotation,
                      imaging::PixelBuffer* out);

// The file the calling thread is scanning (UTF-8), for error reports; empty
// between scans.
const std::string& CurrentScanFile();

// Called with the item's id before its file is read and with 0 after, so that
// an interface can show what is being scanned. Set from the owning thread.
using ScanHook = std::function<void(std::uint32_t item_id)>;
void SetScanHook(ScanHook hook);

}  // namespace norvo::media
