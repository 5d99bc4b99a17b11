// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/item_scan.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "fields/groups.h"
#include "imaging/thumbnail.h"
#include "imaging/transform.h"
#include "media/document_reader.h"
#include "media/media_type_registry.h"
#include "metadata/annotation_sync.h"
#include "media/movie_reader.h"
#include "media/type_recognition.h"
#include "metadata/annotation_import.h"
#include "metadata/image_file_reader.h"
#include "platform/dates.h"
#include "platform/file_spec.h"

namespace norvo::media {
namespace {

constexpr std::size_t kThumbnailSizeOffset = 16;
constexpr std::size_t kPascalFieldWidth = 32;

thread_local std::string current_scan_file;

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
ScanHook& Hook() {
  static ScanHook hook;
  return hook;
}

void CallHook(std::uint32_t item_id) {
  ScanHook hook;
  {
    std::lock_guard lock(HookMutex());
    hook = Hook();
  }
  if (hook) hook(item_id);
}

// Sets the calling thread's current scan file for as long as it lives.
class CurrentFileScope {
 public:
  explicit CurrentFileScope(const std::string& path) { current_scan_file = path; }
  ~CurrentFileScope() { current_scan_file.clear(); }
  CurrentFileScope(const CurrentFileScope&) = delete;
  CurrentFileScope& operator=(const CurrentFileScope&) = delete;
};

// Size and dates of the file; the creation date is the birth time where the
// file system keeps one, else the modification time. A birth time later than
// the modification time is a copy's (or a download's whose date was set to
// the capture date: Linux cannot set a birth time), so the earlier date is
// the file's creation.
ErrorCode FileFacts(const std::string& path, ScanResult* out) {
  struct statx st {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
    return ErrorFromErrno(errno);
  }
  if (!S_ISREG(st.stx_mode)) return err::kNotAFile;
  out->file_size = static_cast<std::uint32_t>(st.stx_size);
  out->modified = DateTimeFromUnix(static_cast<std::time_t>(st.stx_mtime.tv_sec));
  const bool born_earlier = (st.stx_mask & STATX_BTIME) != 0 && st.stx_btime.tv_sec < st.stx_mtime.tv_sec;
  out->created = born_earlier ? DateTimeFromUnix(static_cast<std::time_t>(st.stx_btime.tv_sec)) : out->modified;
  return err::kNone;
}

// The format code the still-image readers know the type by; 0 lets them
// recognise the file by its first bytes.
std::uint32_t StillImageFormat(std::uint32_t type_code) {
  return imaging::FindStillImageReader(type_code) != nullptr ? type_code : 0;
}

void SetPascal(std::array<std::uint8_t, kPascalFieldWidth>& field, std::string_view text) {
  field.fill(0);
  std::size_t n = std::min(text.size(), kPascalFieldWidth - 1);
  field[0] = static_cast<std::uint8_t>(n);
  std::copy_n(text.begin(), n, field.begin() + 1);
}

// The stored thumbnail of a reader's picture; `media_width` x `media_height`
// (0: the picture's own) decide the reduction.
void StoreThumbnail(const imaging::PixelBuffer& picture, int media_width, int media_height, const ScanOptions& options,
                    ScanResult* out) {
  if (!options.make_thumbnail || picture.empty()) return;
  imaging::StoredThumbnail stored;
  imaging::ColourSummary summary;
  if (imaging::MakeThumbnailPicture(options.thumbnail_size, picture, media_width, media_height, out->rotation, &stored,
                                    &summary) == err::kNone) {
    out->thumbnail = std::move(stored.bytes);
    out->sample_colour = (std::uint32_t{summary.red} << 16) | (std::uint32_t{summary.green} << 8) | summary.blue;
  }
}

// Movie and sound files (both movie handlers): the facts of their streams, a
// poster frame for video, and their tracks, chapters and texts as metadata.
ErrorCode ScanMovie(const std::string& path, const ScanOptions& options, ScanResult* out) {
  MovieFacts movie;
  imaging::PixelBuffer poster;
  ErrorCode e = ReadMovie(path, options.make_thumbnail ? options.thumbnail_size : 0, &movie,
                          options.make_thumbnail ? &poster : nullptr);
  if (e != err::kNone) return e;
  out->facts.width = movie.width;
  out->facts.height = movie.height;
  out->facts.depth = movie.depth;
  out->facts.resolution = movie.resolution;
  out->facts.colour_space = movie.colour_space;
  out->facts.compressor = movie.compressor;
  out->facts.image_count = movie.image_count;
  out->duration = static_cast<std::uint32_t>(std::max(0, movie.duration));
  out->tracks = static_cast<std::uint32_t>(std::max(0, movie.track_count));
  out->audio_channels = static_cast<std::uint32_t>(std::max(0, movie.channels));
  // The record keeps whole hertz, the unit the Audio Rate field shows.
  out->audio_rate = movie.sample_rate_hz;
  out->audio_bit_size = static_cast<std::uint32_t>(std::max(0, movie.sample_size));
  out->data_rate = movie.data_rate;
  out->frame_rate = movie.frame_rate;
  out->spatial_quality = static_cast<std::uint32_t>(std::max(0, movie.quality_level));
  if (options.apply_rotation) out->rotation = movie.rotation;
  AddMovieMetadata(movie, &out->metadata);
  out->annotations = metadata::AnnotationsFromMetadata(out->metadata, {});
  StoreThumbnail(poster, 0, 0, options, out);
  return err::kNone;
}

// PDF and office documents: page count and a picture of the first page.
ErrorCode ScanDocument(const std::string& path, const ScanOptions& options, ScanResult* out) {
  DocumentFacts document;
  imaging::PixelBuffer page;
  ErrorCode e = ReadDocument(path, options.make_thumbnail ? options.thumbnail_size : 0, &document, &page);
  if (e != err::kNone) return e;
  out->facts.width = document.width;
  out->facts.height = document.height;
  out->facts.resolution = document.resolution;
  out->facts.depth = document.depth;
  out->facts.colour_space = document.colour_space;
  out->pages = static_cast<std::uint32_t>(std::max(0, document.pages));
  StoreThumbnail(page, 0, 0, options, out);
  return err::kNone;
}

// Graphics importer path: metadata (for JPEG, TIFF and Photoshop files,
// camera raw files in TIFF form included), then the picture.
ErrorCode ScanStillImage(const std::string& path, const FileSpec& spec, const ScanOptions& options,
                         ScanResult* out) {
  metadata::ImageMetadata m;
  if (metadata::ReadImageMetadata(spec, false, &m) == err::kNone || !m.list.empty()) {
    if (options.apply_rotation) out->rotation = imaging::RotationForOrientation(m.orientation);
    out->colour_profile = metadata::ColourProfileName(m);
    out->annotations = metadata::AnnotationsFromMetadata(m.list, m.image_resources);
    out->metadata = std::move(m.list);
    out->recording = std::move(m.recording);
  }
  imaging::DecodedImage decoded;
  int box = options.make_thumbnail ? options.thumbnail_size : 0;
  ErrorCode e = imaging::ReadStillImage(path, StillImageFormat(out->type_code), box, &decoded);
  out->facts = decoded.facts;  // on failure: what the header told, such as the picture's size
  if (e != err::kNone) return e;
  if (m.resolution > 0) out->facts.resolution = m.resolution;  // EXIF's when the format's header sets none
  StoreThumbnail(decoded.picture, decoded.facts.width, decoded.facts.height, options, out);
  return err::kNone;
}

// The file's annotations fill the fields the item does not have yet.
void MergeFileAnnotations(std::span<const std::uint8_t> from_file, metadata::AnnotationBlock& item) {
  if (item.empty()) {
    item.assign(from_file.begin(), from_file.end());
    return;
  }
  // One walk over each block (a file may carry thousands of entries): the
  // entries of fields the item lacks are appended as they are stored.
  metadata::TrimAnnotationBlock(item);
  std::set<metadata::FieldId> present;
  for (const metadata::AnnotationEntry& e : metadata::AnnotationEntries(item)) present.insert(e.id());
  for (const metadata::AnnotationEntry& e : metadata::AnnotationEntries(from_file)) {
    if (present.contains(e.id())) continue;
    auto first = from_file.begin() + static_cast<std::ptrdiff_t>(e.offset);
    item.insert(item.end(), first, first + static_cast<std::ptrdiff_t>(e.size()));
  }
}

}  // namespace

int CatalogThumbnailSize(const catalog::Catalog& catalog) {
  auto size = static_cast<int>(catalog.settings.number(kThumbnailSizeOffset));
  return size >= kMinThumbnailSize && size <= kMaxThumbnailSize ? size : kDefaultThumbnailSize;
}

ErrorCode SetCatalogThumbnailSize(catalog::Catalog& catalog, int size) {
  if (size < kMinThumbnailSize || size > kMaxThumbnailSize) return err::kParam;
  if (CatalogThumbnailSize(catalog) == size) return err::kNone;
  catalog.settings.setNumber(kThumbnailSizeOffset, static_cast<std::uint32_t>(size));
  catalog.markChanged();
  return err::kNone;
}

const std::string& CurrentScanFile() { return current_scan_file; }

void SetScanHook(ScanHook hook) {
  std::lock_guard lock(HookMutex());
  Hook() = std::move(hook);
}

ErrorCode ScanFile(const std::string& path, std::uint32_t type_code, const ScanOptions& options, ScanResult* out) {
  *out = ScanResult{};
  if (ErrorCode e = FileFacts(path, out); e != err::kNone) return e;
  FileSpec spec;
  if (ErrorCode e = MakeFileSpec(path, spec); e != err::kNone) return e;
  MediaClass media_class = MediaClass::Image;
  out->type_code = type_code == 0 ? RecognizeMediaFile(spec, 0, &media_class)
                                  : NormalizeMediaType(type_code, spec, &media_class);
  // A code stored by an older version in another case takes the registry's.
  if (const MediaTypeRow* row = FindMediaTypeRow(out->type_code)) out->type_code = row->code;
  if (out->type_code == 0) return err::kNoReaderForFormat;
  CurrentFileScope scope(path);
  switch (GetMediaHandler(out->type_code)) {
    case MediaHandler::GraphicsImporter:
      return ScanStillImage(path, spec, options, out);
    case MediaHandler::MovieImporter:
    case MediaHandler::DirectShow:
      return ScanMovie(path, options, out);
    case MediaHandler::ShellDocument:
      return ScanDocument(path, options, out);
    default:
      return err::kNoReaderForFormat;
  }
}

ErrorCode ApplyScanResult(catalog::Catalog& catalog, int cell, const ScanResult& result, bool rebuild) {
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(catalog, cell, catalog::kWholeRecord, record); e != err::kNone) return e;
  record.scan_time = CurrentDateTime();
  record.type_code = result.type_code;
  record.file_size = result.file_size;
  record.created = result.created;
  record.modified = result.modified;
  record.width = static_cast<std::uint32_t>(result.facts.width);
  record.height = static_cast<std::uint32_t>(result.facts.height);
  record.resolution = static_cast<std::uint32_t>(result.facts.resolution);
  record.depth = static_cast<std::uint32_t>(result.facts.depth);
  record.colour_space = result.facts.colour_space;
  record.sample_colour = result.sample_colour;
  record.orientation = result.rotation;
  record.pages = result.pages != 0 ? result.pages : static_cast<std::uint32_t>(std::max(1, result.facts.image_count));
  record.duration = result.duration;
  record.tracks = result.tracks;
  record.audio_channels = result.audio_channels;
  record.audio_rate = result.audio_rate;
  record.audio_bit_size = result.audio_bit_size;
  record.data_rate = result.data_rate;
  record.frame_rate = result.frame_rate;
  record.spatial_quality = result.spatial_quality;
  SetPascal(record.encoding_name, result.facts.compressor);
  SetPascal(record.colour_profile_name, result.colour_profile);
  record.thumbnail = result.thumbnail;
  unsigned parts = catalog::parts::kThumbnail | catalog::parts::kMetadata | catalog::parts::kAnnotations;
  // A recording the user made stays; the file's own fills an empty part.
  if (!result.recording.empty() && record.recording.empty()) {
    record.recording = result.recording;
    parts |= catalog::parts::kRecording;
  }
  // Fields the user typed and never wrote into the file keep the user's
  // values (and stay named); the file's list replaces the rest.
  const std::vector<metadata::FieldId> typed = metadata::UnsyncedUserFields(record);
  record.metadata = result.metadata.serialize();
  metadata::AddUnsyncedUserFields(record, typed);
  if (rebuild) {
    // What another program changed, removed or cleared follows the file.
    record.annotations = metadata::RebuiltAnnotations(result.annotations, record.annotations, typed);
  } else {
    MergeFileAnnotations(result.annotations, record.annotations);
  }
  if (ErrorCode e = catalog::ReplaceItemParts(catalog, cell, record, parts); e != err::kNone) {
    return e;
  }
  // The group indexes the catalog keeps file the item under its new facts
  // and annotations.
  return fields::UpdateGroupsForItem(catalog, cell, true);
}

ErrorCode ScanItem(catalog::Catalog& catalog, int cell, const ScanOptions& options) {
  if (cell < 1 || cell > catalog.itemCount()) return err::kParam;
  const std::uint32_t id = catalog.cells[static_cast<std::size_t>(cell - 1)].item_id;
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(catalog, cell, catalog::kWithoutOptionalParts, record); e != err::kNone) {
    return e;
  }
  std::string path;
  if (ErrorCode e = catalog::LocateItemFile(catalog, cell, path); e != err::kNone) return e;
  CallHook(id);
  ScanResult result;
  ErrorCode e = ScanFile(path, record.type_code, options, &result);
  if (e == err::kNone) e = ApplyScanResult(catalog, cell, result);
  CallHook(0);
  return e;
}

ErrorCode ApplyFailedScan(catalog::Catalog& catalog, int cell, const ScanResult& partial, ErrorCode error) {
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(catalog, cell, catalog::kWholeRecord, record); e != err::kNone) return e;
  record.scan_time = CurrentDateTime();
  if (partial.type_code != 0) record.type_code = partial.type_code;
  record.file_size = partial.file_size;
  record.created = partial.created;
  record.modified = partial.modified;
  if (partial.facts.width > 0 && partial.facts.height > 0) {
    record.width = static_cast<std::uint32_t>(partial.facts.width);
    record.height = static_cast<std::uint32_t>(partial.facts.height);
  }
  metadata::MetadataList list;
  // An unreadable list is replaced by one that holds the error.
  if (metadata::MetadataList::parse(record.metadata, &list) != err::kNone) list.clear();
  const std::array<std::uint8_t, 2> code = {static_cast<std::uint8_t>(static_cast<std::uint16_t>(error) >> 8),
                                            static_cast<std::uint8_t>(static_cast<std::uint16_t>(error) & 0xFF)};
  list.replace(kScanErrorKey, code);
  record.metadata = list.serialize();
  // Written like any scan: the item is no longer pending, its annotations
  // and thumbnail stay as they were.
  return catalog::ReplaceItemParts(catalog, cell, record, catalog::parts::kMetadata);
}

ErrorCode ScanErrorOf(const catalog::ItemRecord& record) {
  metadata::MetadataList list;
  if (metadata::MetadataList::parse(record.metadata, &list) != err::kNone) return err::kNone;
  const std::vector<std::uint8_t>* code = list.find(kScanErrorKey, 1);
  if (code == nullptr || code->size() != 2) return err::kNone;
  return static_cast<ErrorCode>(static_cast<std::uint16_t>(((*code)[0] << 8) | (*code)[1]));
}

std::vector<std::uint32_t> ItemsToScan(catalog::Catalog& catalog) {
  std::vector<std::uint32_t> ids;
  for (int cell = 1; cell <= catalog.itemCount(); ++cell) {
    const catalog::CatalogCell& c = catalog.cells[static_cast<std::size_t>(cell - 1)];
    if (c.pending()) {
      ids.push_back(c.item_id);
      continue;
    }
    // A file that failed its scan is tried again only once it has changed.
    catalog::ItemRecord record;
    if (catalog::GetItemRecord(catalog, cell, catalog::kWithoutOptionalParts, record) != err::kNone ||
        ScanErrorOf(record) == err::kNone) {
      continue;
    }
    std::string path;
    ScanResult now;
    if (catalog::LocateItemFile(catalog, cell, path) != err::kNone || FileFacts(path, &now) != err::kNone) continue;
    if (now.file_size != record.file_size || now.modified != record.modified) ids.push_back(c.item_id);
  }
  return ids;
}

std::vector<std::uint32_t> PendingItems(const catalog::Catalog& catalog) {
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < catalog.itemCount(); ++i) {
    const catalog::CatalogCell& c = catalog.cells[static_cast<std::size_t>(i)];
    if (c.pending()) ids.push_back(c.item_id);
  }
  return ids;
}

namespace {

// One file handed to the pool, and what came back.
struct Job {
  std::uint32_t item_id = 0;
  std::string path;
  std::uint32_t type_code = 0;
  ErrorCode error = err::kNone;
  ScanResult result;
  bool done = false;
};

}  // namespace

ErrorCode ScanTarget(catalog::Catalog& catalog, std::uint32_t item_id, std::string* path, std::uint32_t* type_code) {
  const int cell = catalog.cellOf(item_id);
  catalog::ItemRecord record;
  if (cell == 0 || catalog::GetItemRecord(catalog, cell, catalog::kWithoutOptionalParts, record) != err::kNone) {
    return err::kParam;
  }
  *type_code = record.type_code;
  return catalog::LocateItemFile(catalog, cell, *path);
}

ErrorCode ApplyScanOutcome(catalog::Catalog& catalog, std::uint32_t item_id, ErrorCode scan_error,
                           const ScanResult& result, bool rebuild, ScanOutcome* outcome) {
  const int cell = catalog.cellOf(item_id);
  if (cell == 0) {
    *outcome = ScanOutcome::kSkipped;
    return err::kNone;
  }
  if (scan_error != err::kNone) {
    *outcome = ScanOutcome::kFailed;
    // A file that is there but cannot be read is recorded as such, with
    // what could be learned; a missing one leaves the item pending.
    if (scan_error == err::kFileNotFound || scan_error == err::kParam || scan_error == err::kFolderNotFound) {
      return err::kNone;
    }
    return ApplyFailedScan(catalog, cell, result, scan_error);
  }
  CallHook(item_id);
  const ErrorCode e = ApplyScanResult(catalog, cell, result, rebuild);
  CallHook(0);
  *outcome = ScanOutcome::kScanned;
  return e;
}

ErrorCode ScanItems(catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids, int jobs,
                    const ScanOptions& options, const ScanProgress& progress, ScanSummary* summary) {
  ScanSummary local;
  ScanSummary& s = summary != nullptr ? *summary : local;
  const int total = static_cast<int>(item_ids.size());
  if (progress && progress(ProgressPhase::kStart, 0, total) != 0) return err::kUserCancelled;

  // Paths and types are looked up here, on the catalog's thread.
  std::vector<Job> work(item_ids.size());
  for (std::size_t i = 0; i < item_ids.size(); ++i) {
    Job& j = work[i];
    j.item_id = item_ids[i];
    if (ErrorCode e = ScanTarget(catalog, j.item_id, &j.path, &j.type_code); e != err::kNone) {
      j.error = e;
      j.done = true;
    }
  }

  if (jobs <= 0) jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  jobs = std::min(jobs, std::max(1, total));
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  auto worker = [&] {
    for (;;) {
      std::size_t i = next.fetch_add(1);
      if (i >= work.size() || stop.load()) return;
      Job& j = work[i];
      if (!j.done) j.error = ScanFile(j.path, j.type_code, options, &j.result);
      {
        std::lock_guard lock(mutex);
        j.done = true;
      }
      finished.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < jobs; ++t) pool.emplace_back(worker);

  ErrorCode result = err::kNone;
  for (std::size_t i = 0; i < work.size(); ++i) {
    {
      std::unique_lock lock(mutex);
      finished.wait(lock, [&] { return work[i].done; });
    }
    Job& j = work[i];
    ScanOutcome outcome = ScanOutcome::kSkipped;
    if (ErrorCode e = ApplyScanOutcome(catalog, j.item_id, j.error, j.result, options.rebuild, &outcome);
        e != err::kNone) {
      // The catalog itself failed (scratch file full, ...): stop here.
      result = e;
      break;
    }
    switch (outcome) {
      case ScanOutcome::kScanned: ++s.scanned; break;
      case ScanOutcome::kSkipped: ++s.skipped; break;
      case ScanOutcome::kFailed:
        ++s.failed;
        s.failures.emplace_back(j.item_id, j.error);
        break;
    }
    j.result = ScanResult{};  // release the thumbnail and metadata early
    if (progress && progress(ProgressPhase::kStep, static_cast<int>(i) + 1, total) != 0) {
      result = err::kUserCancelled;
      break;
    }
  }
  stop.store(true);
  for (std::thread& t : pool) t.join();
  if (progress) progress(ProgressPhase::kEnd, total, total);
  return result;
}

namespace {

// A reader's picture fitted into `box` (0: as it is) and turned.
ErrorCode FinishPreview(imaging::PixelBuffer picture, int box, std::uint16_t rotation, imaging::PixelBuffer* out,
                        int media_width = 0, int media_height = 0) {
  if (box > 0) {
    imaging::ThumbnailImage fitted;
    if (ErrorCode e = imaging::MakeThumbnailImage(box, picture, media_width, media_height, rotation, &fitted);
        e != err::kNone) {
      return e;
    }
    *out = std::move(fitted.picture);
    return err::kNone;
  }
  if (rotation != 0) {
    if (ErrorCode e = imaging::Rotate(&picture, rotation); e != err::kNone) return e;
  }
  *out = std::move(picture);
  return err::kNone;
}

}  // namespace

ErrorCode MakePreview(const std::string& path, std::uint32_t type_code, int box, std::uint16_t rotation,
                      imaging::PixelBuffer* out) {
  FileSpec spec;
  if (ErrorCode e = MakeFileSpec(path, spec); e != err::kNone) return e;
  if (ErrorCode e = CheckRegularFile(path); e != err::kNone) return e;
  MediaClass media_class = MediaClass::Image;
  std::uint32_t type = type_code == 0 ? RecognizeMediaFile(spec, 0, &media_class)
                                      : NormalizeMediaType(type_code, spec, &media_class);
  CurrentFileScope scope(path);
  switch (GetMediaHandler(type)) {
    case MediaHandler::GraphicsImporter: {
      imaging::DecodedImage decoded;
      if (ErrorCode e = imaging::ReadStillImage(path, StillImageFormat(type), box, &decoded); e != err::kNone) {
        return e;
      }
      return FinishPreview(std::move(decoded.picture), box, rotation, out, decoded.facts.width, decoded.facts.height);
    }
    case MediaHandler::MovieImporter:
    case MediaHandler::DirectShow: {
      MovieFacts movie;
      imaging::PixelBuffer poster;
      if (ErrorCode e = ReadMovie(path, box, &movie, &poster); e != err::kNone) return e;
      if (poster.empty()) return err::kNoReaderForType;  // sound: nothing to show
      return FinishPreview(std::move(poster), box, rotation, out);
    }
    case MediaHandler::ShellDocument: {
      DocumentFacts document;
      imaging::PixelBuffer page;
      if (ErrorCode e = ReadDocument(path, box, &document, &page); e != err::kNone) return e;
      return FinishPreview(std::move(page), box, rotation, out);
    }
    default:
      return err::kNoReaderForType;
  }
}

}  // namespace norvo::media
