// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/conversion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "imaging/box_scale.h"
#include "imaging/image_reader.h"
#include "imaging/image_writer.h"
#include "imaging/transform.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/type_recognition.h"
#include "metadata/byte_source.h"
#include "metadata/exif_reader.h"
#include "metadata/image_containers.h"
#include "metadata/jpeg_markers.h"
#include "platform/byte_io.h"
#include "platform/file.h"
#include "platform/file_ops.h"
#include "platform/file_replace.h"
#include "platform/file_spec.h"

#include "output/media_encoder.h"

namespace norvo::output {
namespace {

using media::MediaClass;

constexpr std::uint32_t kCreator = FourCC("NRWi");
constexpr std::size_t kMaxContainerChunks = 100000;
// Items prepared ahead of the one being written, per worker: enough to keep
// the workers busy while the calling thread writes, few enough that large
// pictures do not pile up in memory.
constexpr std::size_t kLookaheadPerWorker = 2;

constexpr char kMissingText[] = "The media file could not be found.";
constexpr char kUnsupportedText[] = "This kind of item cannot be converted to this format.";
constexpr char kSkippedText[] = "Skipped: a file of that name is already there.";
constexpr char kRenderText[] = "The picture could not be made from the media file.";
constexpr char kScaleText[] = "The picture could not be scaled.";
constexpr char kEncodeText[] = "The new file could not be encoded.";
constexpr char kWriteText[] = "The new file could not be written.";
constexpr char kRepointText[] = "The new file was written, but the item could not be pointed at it.";
constexpr char kDeleteText[] = "The item now uses the new file, but the old file could not be deleted.";
constexpr char kNoSoundText[] = "The movie has no sound track.";
constexpr char kCancelledText[] = "Cancelled.";

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
std::string LeafOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Join(const std::string& folder, const std::string& leaf) {
  return folder.empty() || folder.back() == '/' ? folder + leaf : folder + "/" + leaf;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}
// Whether two paths name the same file on disk.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The EXIF block of a PNG (eXIf) or WebP (EXIF chunk) file, as a TIFF
// structure; empty when there is none.
std::vector<std::uint8_t> StripExifPrefix(std::span<const std::uint8_t> data) {
  if (data.size() >= metadata::kExifHeaderSize && data[0] == 'E' && data[1] == 'x' && data[2] == 'i' &&
      data[3] == 'f' && data[4] == 0 && data[5] == 0) {
    data = data.subspan(metadata::kExifHeaderSize);
  }
  return {data.begin(), data.end()};
}

std::vector<std::uint8_t> ContainerExif(std::span<const std::uint8_t> bytes) {
  if (metadata::IsPngHeader(bytes)) {
    ByteReader r(bytes);
    r.seek(8);
    for (std::size_t n = 0; n < kMaxContainerChunks && r.ok() && !r.atEnd(); ++n) {
      const std::uint32_t length = r.u32be();
      const std::uint32_t type = r.u32be();
      std::span<const std::uint8_t> data = r.bytes(length);
      r.skip(4);  // CRC
      if (!r.ok()) break;
      if (type == FourCC("eXIf")) return StripExifPrefix(data);
      if (type == FourCC("IEND")) break;
    }
  } else if (metadata::IsWebpHeader(bytes)) {
    ByteReader r(bytes);
    r.seek(12);
    for (std::size_t n = 0; n < kMaxContainerChunks && r.ok() && !r.atEnd(); ++n) {
      const std::uint32_t type = r.u32be();
      const std::uint32_t length = r.u32le();
      std::span<const std::uint8_t> data = r.bytes(length);
      if (!r.ok()) break;
      if (length % 2 != 0 && !r.atEnd()) r.skip(1);
      if (type == FourCC("EXIF")) return StripExifPrefix(data);
    }
  }
  return {};
}

// What a worker needs to make one item's new file, and what it made.
struct ImageJob {
  // Read from the catalog on the calling thread.
  std::uint32_t item_id = 0;
  int cell = 0;
  std::string path;  // empty: missing
  std::uint32_t type_code = 0;
  bool supported = true;
  std::uint16_t rotation = 0;
  int width = 0, height = 0;  // as recorded
  int resolution = 0;         // dpi for the new file
  // Made by the worker.
  bool done = false;
  ErrorCode error = err::kNone;
  const char* failure_text = nullptr;
  std::vector<std::uint8_t> bytes;
  std::uint32_t dropped = 0;
  int out_width = 0, out_height = 0;
};

struct ImagePlan {
  const imaging::ImageWriterFormat* format = nullptr;
  bool scale_to_fit = false;
  int box_width = 0, box_height = 0;
  bool keep_profile = false;
  bool keep_metadata = false;
  int quality = imaging::kDefaultWriterQuality;
};

// Readers asked for a box decode at least twice its fitted size (the JPEG
// reader picks its DCT scale so, for thumbnails that are then reduced with
// care). A conversion needs the picture only as large as its result, so it
// asks for half the side it needs: the decode then just covers the result.
constexpr int kReaderOversample = 2;

// The box a reader is asked for so that its picture still covers the scaled
// result (0: full size).
int DecodeBox(const ImageJob& job, const ImagePlan& plan) {
  if (!plan.scale_to_fit || job.width <= 0 || job.height <= 0) return 0;
  double w = job.width, h = job.height;
  const std::uint16_t r = job.rotation;
  if (r == imaging::kTranspose || r == imaging::kRotateClockwise || r == imaging::kTransverse ||
      r == imaging::kRotateCounterClockwise) {
    std::swap(w, h);
  }
  const double scale = std::min({1.0, plan.box_width / w, plan.box_height / h});
  const long need = static_cast<long>(std::ceil(scale * std::max(w, h)));
  if (need >= static_cast<long>(std::max(w, h))) return 0;
  return static_cast<int>((need + kReaderOversample - 1) / kReaderOversample);
}

void Fail(ImageJob* job, ErrorCode e, const char* text) {
  job->error = e == err::kNone ? err::kParam : e;
  job->failure_text = text;
  job->bytes.clear();
}

// The source's profile and EXIF, as the plan asks.
void SourceMetadata(std::span<const std::uint8_t> bytes, const ImagePlan& plan, std::vector<std::uint8_t>* profile,
                    std::vector<std::uint8_t>* exif) {
  if (!plan.keep_profile && !plan.keep_metadata) return;
  const metadata::MemorySource source(bytes);
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
    metadata::JpegSegments segments;
    // A walk cut short keeps what it read before; only the blocks matter here.
    (void)metadata::ReadJpegSegments(source, &segments);
    *profile = std::move(segments.icc_profile);
    if (!segments.exif.empty()) *exif = std::move(segments.exif.front());
    return;
  }
  metadata::ImageMetadata m;
  ErrorCode e = err::kNoReaderForFormat;
  if (metadata::IsPngHeader(bytes)) e = metadata::ReadPngMetadata(source, false, &m);
  else if (metadata::IsWebpHeader(bytes)) e = metadata::ReadWebpMetadata(source, false, &m);
  else if (metadata::IsHeifHeader(bytes)) e = metadata::ReadHeifMetadata(source, false, &m);
  else if (bytes.size() >= 4 && (bytes[0] == 'I' || bytes[0] == 'M')) e = metadata::ReadTiffMetadata(source, false, &m);
  if (e == err::kNone || e == err::kEndOfFile) *profile = std::move(m.icc_profile);
  *exif = ContainerExif(bytes);
}

// Decodes, turns, scales and encodes one item. Touches no catalog.
void PrepareImage(const ImagePlan& plan, ImageJob* job) {
  std::vector<std::uint8_t> bytes;
  if (ErrorCode e = ReadWholeFile(job->path, &bytes); e != err::kNone) return Fail(job, e, kRenderText);
  imaging::PixelBuffer picture;
  bool rgb = true;
  const int box = DecodeBox(*job, plan);
  if (media::GetMediaHandler(job->type_code) == media::MediaHandler::GraphicsImporter) {
    imaging::DecodedImage decoded;
    const std::uint32_t format = imaging::FindStillImageReader(job->type_code) != nullptr ? job->type_code : 0;
    if (ErrorCode e = imaging::ReadStillImage(bytes, format, box, &decoded); e != err::kNone) {
      return Fail(job, e, kRenderText);
    }
    rgb = decoded.facts.colour_space == imaging::kColourRgb;
    picture = std::move(decoded.picture);
    if (job->rotation != 0) {
      if (ErrorCode e = imaging::Rotate(&picture, job->rotation); e != err::kNone) return Fail(job, e, kRenderText);
    }
  } else if (ErrorCode e = media::MakePreview(job->path, job->type_code, 0, job->rotation, &picture);
             e != err::kNone) {
    return Fail(job, e, kRenderText);
  }
  if (picture.empty()) return Fail(job, err::kNoReaderForType, kRenderText);

  if (plan.scale_to_fit) {
    imaging::PixelBuffer scaled;
    if (ErrorCode e =
            imaging::ScaleIntoBox(picture, plan.box_width, plan.box_height, imaging::BoxScaling::kFit, &scaled);
        e != err::kNone) {
      return Fail(job, e, kScaleText);
    }
    scaled.setHasAlpha(picture.hasAlpha());
    picture = std::move(scaled);
  }

  std::vector<std::uint8_t> profile, exif, upright;
  SourceMetadata(bytes, plan, &profile, &exif);
  bytes = {};
  imaging::ImageWriteOptions options;
  options.dots_per_inch = job->resolution;
  options.quality = plan.quality;
  if (plan.keep_profile && rgb) options.icc_profile = profile;
  // EXIF that cannot be read as a TIFF structure is left behind.
  const imaging::UprightFacts facts{.dots_per_inch = job->resolution, .width = picture.width(),
                                    .height = picture.height()};
  if (plan.keep_metadata && !exif.empty() && imaging::UprightExif(exif, facts, &upright) == err::kNone) {
    options.exif = upright;
  }
  if (ErrorCode e = imaging::EncodeImage(*plan.format, picture, options, &job->bytes, &job->dropped);
      e != err::kNone) {
    return Fail(job, e, kEncodeText);
  }
  job->out_width = picture.width();
  job->out_height = picture.height();
}

// Writes `bytes` under the temporary name in `folder`; the path on success.
// A failure leaves no file behind.
ErrorCode WriteTemporary(const std::string& folder, std::uint32_t type, std::span<const std::uint8_t> bytes,
                         std::string* temporary) {
  *temporary = Join(folder, std::string(kConversionTemporaryName));
  FileSpec spec;
  ErrorCode e = MakeFileSpec(*temporary, spec);
  if (e == err::kNone) {
    // Left by a run that was killed: it holds nothing anyone asked for.
    if (ErrorCode d = DeleteFile(spec); d != err::kNone) return d;
  } else if (!FileSpecFilled(e)) {
    return e;
  }
  if (ErrorCode c = CreateFile(spec, kCreator, type); c != err::kNone) return c;
  File file;
  e = file.open(spec, Permission::kReadWrite);
  if (e == err::kNone) e = file.write(bytes);
  if (e == err::kNone) e = file.flush();
  file.close();
  if (e != err::kNone) (void)DeleteFile(spec);  // the write's error is the one to report
  return e;
}

// Renames the temporary into place: over an existing file only when the
// user said so (or it is the source itself), else never over one.
ErrorCode PutInPlace(const std::string& temporary, const std::string& target, bool replace) {
  ErrorCode e = err::kNone;
  if (replace) {
    if (::rename(temporary.c_str(), target.c_str()) != 0) e = ErrorFromErrno(errno);
  } else {
    e = RenameNoReplace(temporary, target);
  }
  if (e != err::kNone) (void)::unlink(temporary.c_str());  // the rename's error is the one to report
  return e;
}

class Run {
 public:
  Run(catalog::Catalog& catalog, const ConversionRequest& request) : catalog_(catalog), request_(request) {}
  ConversionOutcome run();

 private:
  std::vector<std::uint32_t> itemIds() const;
  ConversionOutcome finish(ErrorCode result);
  void log(std::uint32_t id, LogKind kind, ErrorCode e, std::string text, const std::string& source,
           const std::string& output = {});
  bool progress(ProgressPhase phase, int done, const std::string& name);
  // Where the item's new file goes, and whether the question lets it be
  // written; false: skipped (logged).
  bool decideTarget(std::uint32_t id, const std::string& source, std::string* target, bool* replace);
  // After the new file is in place: the item follows it, the old file goes.
  void followNewFile(std::uint32_t id, int cell, const std::string& source, const std::string& target,
                     std::uint32_t dropped, int width, int height, int resolution, std::size_t file_size);
  ErrorCode runImages(const std::vector<std::uint32_t>& ids);
  ErrorCode runMovies(const std::vector<std::uint32_t>& ids);
  void gatherImage(std::uint32_t id, ImageJob* job);
  void applyImage(ImageJob& job);

  catalog::Catalog& catalog_;
  const ConversionRequest& request_;
  ConversionOutcome outcome_;
  std::string extension_;
  std::uint32_t file_type_ = 0;
  ImagePlan plan_;
  bool replace_all_ = false;
  int total_ = 0;
};

// The items of the run in catalog order; ids the catalog does not hold are left out.
std::vector<std::uint32_t> Run::itemIds() const {
  std::vector<std::uint32_t> ids;
  for (int cell = 1; cell <= catalog_.itemCount(); ++cell) {
    const std::uint32_t id = catalog_.cells[static_cast<std::size_t>(cell - 1)].item_id;
    if (request_.item_ids.empty() ||
        std::find(request_.item_ids.begin(), request_.item_ids.end(), id) != request_.item_ids.end()) {
      ids.push_back(id);
    }
  }
  return ids;
}

ConversionOutcome Run::finish(ErrorCode result) {
  outcome_.result = result;
  if (request_.progress) (void)request_.progress(ProgressPhase::kEnd, total_, total_, kConvertingText);
  return std::move(outcome_);
}

void Run::log(std::uint32_t id, LogKind kind, ErrorCode e, std::string text, const std::string& source,
              const std::string& output) {
  switch (kind) {
    case LogKind::kConverted:
    case LogKind::kWarning: ++outcome_.converted; break;
    case LogKind::kSkipped: ++outcome_.skipped; break;
    case LogKind::kFailed: ++outcome_.failed; break;
  }
  outcome_.log.push_back({id, kind, e, std::move(text), source, output});
}

bool Run::progress(ProgressPhase phase, int done, const std::string& name) {
  if (!request_.progress) return true;
  const std::string text = name.empty() ? std::string(kConvertingText) : std::string(kConvertingText) + " " + name;
  return request_.progress(phase, done, total_, text) == 0;
}

bool Run::decideTarget(std::uint32_t id, const std::string& source, std::string* target, bool* replace) {
  const std::string folder = request_.destination.empty() ? FolderOf(source) : request_.destination;
  const std::string name = ConvertedName(LeafOf(source), extension_);
  *target = Join(folder, name);
  *replace = false;
  if (!Exists(*target)) return true;
  if (SameFile(*target, source)) {
    *replace = true;  // the source converted onto itself is written over without a question
    return true;
  }
  ReplaceAnswer answer = ReplaceAnswer::kReplace;
  if (!replace_all_) answer = request_.ask ? request_.ask(name, folder) : ReplaceAnswer::kSkip;
  if (answer == ReplaceAnswer::kReplaceAll) replace_all_ = true;
  if (answer == ReplaceAnswer::kSkip) {
    log(id, LogKind::kSkipped, err::kDuplicateName, kSkippedText, source, *target);
    return false;
  }
  *replace = true;
  return true;
}

void Run::followNewFile(std::uint32_t id, int cell, const std::string& source, const std::string& target,
                        std::uint32_t dropped, int width, int height, int resolution, std::size_t file_size) {
  std::string warning;
  if (dropped & imaging::kHoldsProfile) warning += " The format cannot keep the colour profile.";
  if (dropped & imaging::kHoldsExif) warning += " The format cannot keep the EXIF metadata.";
  if (!request_.destination.empty()) {
    log(id, warning.empty() ? LogKind::kConverted : LogKind::kWarning, err::kNone,
        "Converted to " + LeafOf(target) + "." + warning, source, target);
    return;
  }
  const bool same = source == target || SameFile(source, target);
  if (!same) {
    if (ErrorCode e = catalog::RepointItem(catalog_, cell, target); e != err::kNone) {
      log(id, LogKind::kFailed, e, kRepointText, source, target);
      return;
    }
  }
  outcome_.catalog_changed = true;
  // The item's facts now describe the new file, which is written upright.
  catalog::ItemRecord record;
  if (catalog::GetItemRecord(catalog_, cell, catalog::kWholeRecord, record) == err::kNone) {
    FileSpec spec;
    if (MakeFileSpec(target, spec) == err::kNone) {
      if (std::uint32_t type = media::RecognizeMediaFile(spec, 0); type != 0) record.type_code = type;
    }
    if (width > 0 && height > 0) {
      record.width = static_cast<std::uint32_t>(width);
      record.height = static_cast<std::uint32_t>(height);
      record.orientation = 0;
    }
    if (resolution > 0) record.resolution = static_cast<std::uint32_t>(resolution);
    record.file_size = static_cast<std::uint32_t>(file_size);
    if (ErrorCode e = catalog::ReplaceItemParts(catalog_, cell, record, 0); e != err::kNone) {
      warning += " The item's facts could not be brought up to date.";
    }
  }
  if (!same) {
    FileSpec old;
    if (MakeFileSpec(source, old) == err::kNone) {
      if (ErrorCode e = DeleteFile(old); e != err::kNone) {
        log(id, LogKind::kWarning, e, kDeleteText, source, target);
        return;
      }
    }
  }
  log(id, warning.empty() ? LogKind::kConverted : LogKind::kWarning, err::kNone,
      "Converted to " + LeafOf(target) + "." + warning, source, target);
}

void Run::gatherImage(std::uint32_t id, ImageJob* job) {
  job->item_id = id;
  job->cell = catalog_.cellOf(id);
  catalog::ItemRecord record;
  if (job->cell == 0 ||
      catalog::GetItemRecord(catalog_, job->cell, catalog::kWithoutOptionalParts, record) != err::kNone) {
    job->supported = false;
    return;
  }
  job->type_code = record.type_code;
  const MediaClass c = media::GetMediaClass(record.type_code);
  job->supported = c == MediaClass::Image || c == MediaClass::Video || c == MediaClass::Illustration ||
                   c == MediaClass::DTP;
  job->rotation = record.orientation;
  job->width = static_cast<int>(record.width);
  job->height = static_cast<int>(record.height);
  const ConversionOptions& o = request_.options;
  job->resolution = o.custom_resolution != 0 && o.resolution > 0 ? static_cast<int>(o.resolution)
                    : record.resolution > 0                      ? static_cast<int>(record.resolution)
                                                                 : imaging::kDefaultResolution;
  std::string path;
  if (catalog::FindItemFile(catalog_, job->cell, path) == err::kNone) job->path = path;
}

void Run::applyImage(ImageJob& job) {
  const std::string source = job.path.empty() ? ItemPath(catalog_, job.cell).value_or("") : job.path;
  if (job.path.empty()) return log(job.item_id, LogKind::kFailed, err::kFileNotFound, kMissingText, source);
  if (!job.supported) return log(job.item_id, LogKind::kFailed, err::kNoReaderForType, kUnsupportedText, source);
  if (job.error != err::kNone) return log(job.item_id, LogKind::kFailed, job.error, job.failure_text, source);
  std::string target;
  bool replace = false;
  if (!decideTarget(job.item_id, source, &target, &replace)) return;
  std::string temporary;
  if (ErrorCode e = WriteTemporary(FolderOf(target), file_type_, job.bytes, &temporary); e != err::kNone) {
    return log(job.item_id, LogKind::kFailed, e, kWriteText, source);
  }
  if (ErrorCode e = PutInPlace(temporary, target, replace); e != err::kNone) {
    if (e == err::kDuplicateName) return log(job.item_id, LogKind::kSkipped, e, kSkippedText, source, target);
    return log(job.item_id, LogKind::kFailed, e, kWriteText, source);
  }
  followNewFile(job.item_id, job.cell, source, target, job.dropped, job.out_width, job.out_height, job.resolution,
                job.bytes.size());
}

ErrorCode Run::runImages(const std::vector<std::uint32_t>& ids) {
  const ConversionOptions& o = request_.options;
  plan_.scale_to_fit = o.scale_to_fit != 0;
  plan_.box_width = static_cast<int>(std::clamp<std::uint32_t>(o.box_width, 1, imaging::kMaxSide));
  plan_.box_height = static_cast<int>(std::clamp<std::uint32_t>(o.box_height, 1, imaging::kMaxSide));
  plan_.keep_profile = o.preserve_profiles != 0;
  plan_.keep_metadata = o.preserve_metadata != 0;
  plan_.quality = request_.image_settings.quality;

  std::vector<ImageJob> jobs(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) gatherImage(ids[i], &jobs[i]);

  int workers = request_.jobs > 0 ? request_.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  workers = std::clamp(workers, 1, std::max(1, static_cast<int>(jobs.size())));
  const std::size_t window = kLookaheadPerWorker * static_cast<std::size_t>(workers);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0, applied = 0;
  bool stop = false;
  auto worker = [&] {
    for (;;) {
      std::size_t i = 0;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || next >= jobs.size() || next < applied + window; });
        if (stop || next >= jobs.size()) return;
        i = next++;
      }
      ImageJob& job = jobs[i];
      if (!job.path.empty() && job.supported) PrepareImage(plan_, &job);
      {
        std::lock_guard lock(mutex);
        job.done = true;
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < workers && !jobs.empty(); ++t) pool.emplace_back(worker);
  auto stop_pool = [&] {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    for (std::thread& t : pool) t.join();
  };

  ErrorCode result = err::kNone;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return jobs[i].done; });
    }
    applyImage(jobs[i]);
    jobs[i].bytes = {};
    {
      std::lock_guard lock(mutex);
      applied = i + 1;
    }
    changed.notify_all();
    if (!progress(ProgressPhase::kStep, static_cast<int>(i) + 1, LeafOf(jobs[i].path))) {
      result = err::kUserCancelled;
      break;
    }
  }
  stop_pool();
  return result;
}

ErrorCode Run::runMovies(const std::vector<std::uint32_t>& ids) {
  bool found = false;
  for (const AvFormat& f : EncodableAvFormats()) found = found || f.extension == extension_;
  if (!found) return err::kParam;
  const AvEncodeSettings& settings = request_.av_settings;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::uint32_t id = ids[i];
    const int cell = catalog_.cellOf(id);
    catalog::ItemRecord record;
    std::string path;
    const bool readable =
        cell != 0 && catalog::GetItemRecord(catalog_, cell, catalog::kWithoutOptionalParts, record) == err::kNone;
    const std::string recorded = readable ? ItemPath(catalog_, cell).value_or("") : "";
    const MediaClass c = readable ? media::GetMediaClass(record.type_code) : MediaClass::Text;
    if (!readable || catalog::FindItemFile(catalog_, cell, path) != err::kNone) {
      log(id, LogKind::kFailed, err::kFileNotFound, kMissingText, recorded);
    } else if (c != MediaClass::Audio && c != MediaClass::Video) {
      log(id, LogKind::kFailed, err::kNoReaderForType, kUnsupportedText, path);
    } else {
      std::string target;
      bool replace = false;
      if (decideTarget(id, path, &target, &replace)) {
        const std::string temporary = Join(FolderOf(target), std::string(kConversionTemporaryName));
        (void)::unlink(temporary.c_str());  // one left by a killed run, if any
        bool cancelled = false;
        const int done = static_cast<int>(i);
        std::string text;
        ErrorCode e = EncodeMedia(
            path, temporary, extension_, settings,
            [&](double) {
              cancelled = cancelled || !progress(ProgressPhase::kStep, done, LeafOf(path));
              return !cancelled;
            },
            &text);
        if (cancelled) e = err::kUserCancelled;
        if (e == err::kNone) e = PutInPlace(temporary, target, replace);
        else (void)::unlink(temporary.c_str());  // nothing half-written stays
        if (e == err::kUserCancelled) {
          log(id, LogKind::kFailed, e, kCancelledText, path);
          return e;
        }
        if (e == err::kNone) {
          struct stat st {};
          const std::size_t size = ::stat(target.c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
          followNewFile(id, cell, path, target, 0, 0, 0, 0, size);
        } else if (e == err::kNoSound) {
          log(id, LogKind::kFailed, e, kNoSoundText, path);
        } else {
          log(id, LogKind::kFailed, e, text.empty() ? std::string(kWriteText) : text, path);
        }
      }
    }
    if (!progress(ProgressPhase::kStep, static_cast<int>(i) + 1, LeafOf(path))) return err::kUserCancelled;
  }
  return err::kNone;
}

ConversionOutcome Run::run() {
  const ConversionKind kind = request_.options.kind();
  extension_ = request_.extension.empty() ? ExtensionForFormat(request_.options.output_format) : request_.extension;
  for (char& ch : extension_) ch = AsciiLower(ch);
  if (!extension_.empty() && extension_.front() == '.') extension_.erase(0, 1);
  if (!request_.destination.empty() && !IsFolder(request_.destination)) return finish(err::kFolderNotFound);
  const std::vector<std::uint32_t> ids = itemIds();
  total_ = static_cast<int>(ids.size());
  if (kind == ConversionKind::kImage) {
    plan_.format = imaging::FindImageWriter(extension_);
    if (plan_.format == nullptr || !plan_.format->available) return finish(err::kParam);
    file_type_ = plan_.format->code;
  } else {
    file_type_ = FormatForExtension(extension_);
  }
  if (!progress(ProgressPhase::kStart, 0, "")) return finish(err::kUserCancelled);
  return finish(kind == ConversionKind::kImage ? runImages(ids) : runMovies(ids));
}

}  // namespace

std::string ReplaceQuestionText(const std::string& file_name, const std::string& folder) {
  return "Replace file?\nFile '" + file_name + "' already exists in the destination folder '" + folder + "'.";
}

std::string ConvertedName(const std::string& file_name, std::string_view extension) {
  const std::size_t dot = file_name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? file_name : file_name.substr(0, dot);
  return stem + "." + std::string(extension);
}

ConversionOutcome RunConversion(catalog::Catalog& catalog, const ConversionRequest& request) {
  return Run(catalog, request).run();
}

}  // namespace norvo::output
