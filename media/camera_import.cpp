// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/camera_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <utility>

#include "catalog/catalog.h"
#include "fields/groups.h"
#include "media/import.h"
#include "metadata/image_file_reader.h"
#include "metadata/image_metadata.h"
#include "metadata/list_keys.h"
#include "metadata/stored_values.h"
#include "metadata/tiff_tags.h"
#include "platform/byte_io.h"
#include "platform/dates.h"
#include "platform/file_ops.h"
#include "platform/file_spec.h"

namespace norvo::media {
namespace {

// --- the stored form -------------------------------------------------------

constexpr std::uint16_t kFormatVersion = 1;
namespace flag {
constexpr std::uint16_t kLock = 1u << 0;
constexpr std::uint16_t kSkipSameName = 1u << 1;
constexpr std::uint16_t kDeleteFromCamera = 1u << 2;
constexpr std::uint16_t kSetCaptureDate = 1u << 3;
}  // namespace flag
// A path longer than this is not one (PATH_MAX); a stamp of 255 characters
// takes at most four bytes each.
constexpr std::uint32_t kMaxStoredPath = 4096;
constexpr std::uint16_t kMaxStoredStamp = kMaxCameraStampLength * 4;

// The flags and the bits they are stored in.
struct FlagField {
  bool CameraImportOptions::*member;
  std::uint16_t bit;
};
constexpr FlagField kFlags[] = {
    {&CameraImportOptions::lock, flag::kLock},
    {&CameraImportOptions::skip_same_name, flag::kSkipSameName},
    {&CameraImportOptions::delete_from_camera, flag::kDeleteFromCamera},
    {&CameraImportOptions::set_capture_date, flag::kSetCaptureDate},
};

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A name a camera gives that can be a file name here.
bool UsableName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos && name.size() <= 255;
}

// Removes the temporary file unless it was given its name.
class TemporaryGuard {
 public:
  explicit TemporaryGuard(std::string path) : path_(std::move(path)) {}
  ~TemporaryGuard() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;
  void release() { path_.clear(); }

 private:
  std::string path_;
};

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  // Closes now and says whether the close reported a failed write.
  ErrorCode close() {
    const int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0 ? err::kNone : ErrorFromErrno(errno);
  }

 private:
  int fd_;
};

// Creates a new hidden file beside the one it will become,
// ".NAME.norvo-XXXXXX", with the permissions a new file gets (0666 less the
// umask), for writing.
ErrorCode CreateTemporary(const std::string& folder, const std::string& name, std::string* path, int* fd) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr std::size_t kRandomLength = 6;
  std::string prefix = "." + name + ".norvo-";
  if (prefix.size() + kRandomLength > 255) prefix = ".norvo-";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = folder + "/" + prefix;
    for (std::size_t i = 0; i < kRandomLength; ++i) candidate += kLetters[random() % (sizeof kLetters - 1)];
    const int opened = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (opened >= 0) {
      *path = std::move(candidate);
      *fd = opened;
      return err::kNone;
    }
    if (errno != EEXIST) return ErrorFromErrno(errno);
  }
  return err::kDuplicateName;
}

// Flushes a folder's entries, so that a renamed file's name is on the disk.
ErrorCode SyncFolder(const std::string& folder) {
  FdGuard fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  if (::fsync(fd.get()) != 0) return ErrorFromErrno(errno);
  return err::kNone;
}

// Flushes every file of the folder's file system (one syncfs for a run).
ErrorCode SyncFileSystem(const std::string& folder) {
  FdGuard fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  if (::syncfs(fd.get()) != 0) return ErrorFromErrno(errno);
  return err::kNone;
}

// A local date and time as seconds since 1970; false when out of range.
bool UnixFromLocal(int year, int month, int day, int hour, int minute, int second, std::int64_t* out) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  errno = 0;
  const std::time_t v = std::mktime(&t);
  if (v == static_cast<std::time_t>(-1) && errno != 0) return false;
  *out = static_cast<std::int64_t>(v);
  return true;
}

// "YYYY:MM:DD HH:MM:SS" (or with '-' in the date) taken apart.
bool ParseExifDate(std::string_view text, int parts[6]) {
  constexpr std::size_t kOffsets[6] = {0, 5, 8, 11, 14, 17};
  constexpr std::size_t kWidths[6] = {4, 2, 2, 2, 2, 2};
  if (text.size() < 19) return false;
  for (int p = 0; p < 6; ++p) {
    int v = 0;
    for (std::size_t i = kOffsets[p]; i < kOffsets[p] + kWidths[p]; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    parts[p] = v;
  }
  return parts[1] >= 1 && parts[1] <= 12 && parts[2] >= 1 && parts[2] <= 31 && parts[3] <= 23 && parts[4] <= 59 &&
         parts[5] <= 60;
}

constexpr int kEarliestCaptureYear = 1900;

}  // namespace

// --- options ---------------------------------------------------------------

std::vector<std::uint8_t> EncodeCameraImportOptions(const CameraImportOptions& options) {
  ByteWriter w;
  w.u16be(kFormatVersion);
  std::uint16_t flags = 0;
  for (const FlagField& f : kFlags) {
    if (options.*f.member) flags |= f.bit;
  }
  w.u16be(flags);
  const std::string_view destination =
      std::string_view(options.destination).substr(0, std::min<std::size_t>(options.destination.size(), kMaxStoredPath));
  w.u32be(static_cast<std::uint32_t>(destination.size()));
  w.bytes(AsBytes(destination));
  for (const std::string& stamp : options.stamps) {
    const std::string text = TrimStamp(stamp);
    w.u16be(static_cast<std::uint16_t>(text.size()));
    w.bytes(AsBytes(text));
  }
  return w.take();
}

ErrorCode DecodeCameraImportOptions(std::span<const std::uint8_t> bytes, CameraImportOptions* out) {
  ByteReader r(bytes);
  CameraImportOptions o;
  const std::uint16_t version = r.u16be();
  const std::uint16_t flags = r.u16be();
  if (!r.ok() || version < kFormatVersion) return err::kUnreadableCatalog;
  for (const FlagField& f : kFlags) o.*f.member = (flags & f.bit) != 0;
  const std::uint32_t path_length = r.u32be();
  if (!r.ok() || path_length > kMaxStoredPath) return err::kUnreadableCatalog;
  auto path = r.bytes(path_length);
  o.destination.assign(path.begin(), path.end());
  for (std::string& stamp : o.stamps) {
    const std::uint16_t length = r.u16be();
    if (!r.ok() || length > kMaxStoredStamp) return err::kUnreadableCatalog;
    auto text = r.bytes(length);
    stamp.assign(text.begin(), text.end());
  }
  // A later version may append fields; what this one knows is read.
  if (!r.ok()) return err::kUnreadableCatalog;
  *out = std::move(o);
  return err::kNone;
}

std::string TrimStamp(std::string_view text) {
  std::size_t characters = 0, i = 0;
  while (i < text.size() && characters < kMaxCameraStampLength) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    i = std::min(text.size(), i + length);
    ++characters;
  }
  return std::string(text.substr(0, i));
}

std::string UserPicturesFolder() {
  const char* home_env = std::getenv("HOME");
  const std::string home = home_env != nullptr ? home_env : "";
  const char* config_env = std::getenv("XDG_CONFIG_HOME");
  const std::string config =
      config_env != nullptr && config_env[0] == '/' ? std::string(config_env) : home + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    // XDG_PICTURES_DIR="$HOME/Pictures"
    constexpr std::string_view kKey = "XDG_PICTURES_DIR=\"";
    if (!line.starts_with(kKey)) continue;
    const std::size_t end = line.find('"', kKey.size());
    if (end == std::string::npos) break;
    std::string value = line.substr(kKey.size(), end - kKey.size());
    if (value.starts_with("$HOME")) value = home + value.substr(5);
    if (value.starts_with('/')) return value;
    break;
  }
  return home + "/Pictures";
}

CameraImportOptions CatalogCameraImportOptions(const catalog::Catalog& catalog, CameraImportOptions fallback) {
  CameraImportOptions stored;
  if (!catalog.camera_import.empty() &&
      DecodeCameraImportOptions(catalog.camera_import, &stored) == err::kNone && !stored.destination.empty()) {
    return stored;
  }
  if (fallback.destination.empty()) fallback.destination = UserPicturesFolder();
  return fallback;
}

void SetCatalogCameraImportOptions(catalog::Catalog& catalog, const CameraImportOptions& options) {
  std::vector<std::uint8_t> bytes = EncodeCameraImportOptions(options);
  if (bytes == catalog.camera_import) return;
  catalog.camera_import = std::move(bytes);
  catalog.markChanged();
}

// --- one file --------------------------------------------------------------

std::string UniqueFileName(const std::string& name, const std::function<bool(const std::string&)>& taken, int from) {
  if (!taken(name)) return name;
  // "IMG_0001.JPG" -> "IMG_0001-2.JPG"; a name without an extension, or a
  // dot file, gets the number at its end.
  const std::size_t dot = name.rfind('.');
  const bool has_extension = dot != std::string::npos && dot > 0;
  const std::string stem = has_extension ? name.substr(0, dot) : name;
  const std::string extension = has_extension ? name.substr(dot) : std::string();
  for (int n = from;; ++n) {
    std::string candidate = stem + "-" + std::to_string(n) + extension;
    if (!taken(candidate)) return candidate;
  }
}

bool CaptureDateOf(const std::string& path, std::int64_t camera_time, std::int64_t* unix_time,
                   std::uint32_t* date_time) {
  FileSpec spec;
  metadata::ImageMetadata md;
  if (MakeFileSpec(path, spec) == err::kNone && metadata::ReadImageMetadata(spec, false, &md) == err::kNone) {
    const std::string text = metadata::GetPlainText(md.list, metadata::ExifKey(metadata::kTagDateTimeOriginal));
    int p[6] = {};
    if (ParseExifDate(text, p)) {
      if (p[0] < kEarliestCaptureYear) return false;
      if (!UnixFromLocal(p[0], p[1], p[2], p[3], p[4], p[5], unix_time)) return false;
      *date_time = DateTimeFromUnix(static_cast<std::time_t>(*unix_time));
      return true;
    }
  }
  if (camera_time == 0) return false;
  const auto t = static_cast<std::time_t>(camera_time);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr || local.tm_year + 1900 < kEarliestCaptureYear) return false;
  *unix_time = camera_time;
  *date_time = DateTimeFromUnix(t);
  return true;
}

ErrorCode DownloadCameraFile(CameraConnection& camera, const CameraFileEntry& entry,
                             const CameraImportOptions& options, DownloadResult* result) {
  *result = DownloadResult{};
  result->source = entry;
  auto fail = [&](ErrorCode e) {
    result->status = DownloadStatus::kFailed;
    result->error = e;
    return e;
  };
  if (!UsableName(entry.name)) return fail(err::kBadName);
  if (!IsFolder(options.destination)) return fail(err::kFolderNotFound);
  const std::string folder = options.destination.ends_with('/') && options.destination.size() > 1
                                 ? options.destination.substr(0, options.destination.size() - 1)
                                 : options.destination;
  auto in_folder = [&](const std::string& name) { return folder + "/" + name; };
  auto taken = [&](const std::string& name) { return Exists(in_folder(name)); };

  result->target = in_folder(entry.name);
  if (options.skip_same_name && Exists(result->target)) {
    result->status = DownloadStatus::kSkipped;
    return err::kNone;
  }

  // The bytes arrive under a hidden temporary name beside their final one.
  std::string temporary;
  int created = -1;
  if (ErrorCode e = CreateTemporary(folder, entry.name, &temporary, &created); e != err::kNone) return fail(e);
  TemporaryGuard remove_temporary(temporary);
  FdGuard fd(created);
  if (ErrorCode e = camera.download(entry.folder, entry.name, fd.get()); e != err::kNone) return fail(e);

  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fail(ErrorFromErrno(errno));
  if (entry.size_known && static_cast<std::uint64_t>(st.st_size) != entry.size) return fail(err::kIo);
  // Before the camera's file is deleted the copy must be on the disk. Else
  // its writing only starts here, without waiting, and one flush of the
  // file system before the catalog is saved (FlushDownloadedFiles) finds
  // little left to do.
  if (options.delete_from_camera) {
    if (::fsync(fd.get()) != 0) return fail(ErrorFromErrno(errno));
  } else {
    (void)::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);  // a hint; the flush checks
  }
  if (ErrorCode e = fd.close(); e != err::kNone) return fail(e);

  // Date and lock go on before the file has its name: it appears finished.
  if (options.set_capture_date) {
    std::int64_t when = 0;
    std::uint32_t date = 0;
    if (CaptureDateOf(temporary, entry.modified, &when, &date)) {
      const struct timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
      if (::utimensat(AT_FDCWD, temporary.c_str(), times, 0) != 0) return fail(ErrorFromErrno(errno));
      result->capture_date = date;
    }
  }
  if (options.lock && ::chmod(temporary.c_str(), st.st_mode & 07555 & ~static_cast<mode_t>(0222)) != 0) {
    return fail(ErrorFromErrno(errno));
  }

  // Never over an existing file: a name taken meanwhile is skipped or
  // numbered as the options say.
  std::string name = options.skip_same_name ? entry.name : UniqueFileName(entry.name, taken);
  for (int attempt = 0;; ++attempt) {
    result->target = in_folder(name);
    ErrorCode e = RenameNoReplace(temporary, result->target);
    if (e == err::kNone) break;
    if (e != err::kDuplicateName || attempt > 1000) return fail(e);
    if (options.skip_same_name) {
      result->status = DownloadStatus::kSkipped;
      return err::kNone;
    }
    name = UniqueFileName(entry.name, taken);
  }
  remove_temporary.release();
  result->status = DownloadStatus::kDownloaded;

  if (options.delete_from_camera) {
    ErrorCode e = SyncFolder(folder);
    if (e == err::kNone) e = camera.deleteFile(entry.folder, entry.name);
    result->deleted_on_camera = e == err::kNone;
    result->delete_error = e;
  }
  return err::kNone;
}

ErrorCode ImportDownloadedFile(catalog::Catalog& catalog, const DownloadResult& download,
                               const CameraImportOptions& options, std::uint32_t* item_id, ImportSession* session) {
  *item_id = 0;
  if (download.status != DownloadStatus::kDownloaded) return err::kNone;
  const std::uint32_t new_id = catalog.next_item_id;
  int added = 0;
  if (session != nullptr) {
    EntryInfo entry;
    if (ErrorCode e = GetEntryInfo(download.target, entry); e != err::kNone) return e;
    const int before = session->counters().added_this_call;
    std::uint8_t status = walk_status::kGoOn;
    session->classify(entry, status, 0);
    if (ErrorCode e = session->stopReason(); e != err::kNone) return e;
    added = session->counters().added_this_call - before;
  } else {
    FileSpec spec;
    if (ErrorCode e = MakeFileSpec(download.target, spec); e != err::kNone) return e;
    if (ErrorCode e = ImportFiles(catalog, {spec}, {}, &added); e != err::kNone) return e;
  }
  if (added == 0) return err::kNone;
  const int cell = catalog.cellOf(new_id) != 0 ? catalog.cellOf(new_id) : catalog.itemCount();
  *item_id = catalog.cells[static_cast<std::size_t>(cell - 1)].item_id;

  // Dating and stamping are no scan: the new item still waits for one.
  auto keep_pending = [&catalog, cell] {
    catalog.cells[static_cast<std::size_t>(cell - 1)].flags |= catalog::cell_flags::kPending;
  };
  if (download.capture_date != 0) {
    ErrorCode e = SetItemCreated(catalog, *item_id, download.capture_date);
    keep_pending();
    if (e != err::kNone) return e;
  }
  std::vector<fields::AnnotationEdit> edits;
  for (std::size_t i = 0; i < kCameraStampCount; ++i) {
    std::string text = TrimStamp(options.stamps[i]);
    if (!text.empty()) edits.push_back({kCameraStampFields[i].field, {std::move(text)}});
  }
  if (edits.empty()) return err::kNone;
  ErrorCode e = fields::EditItemAnnotations(catalog, cell, edits);
  keep_pending();
  return e;
}

ErrorCode SetItemCreated(catalog::Catalog& catalog, std::uint32_t item_id, std::uint32_t date_time) {
  const int cell = catalog.cellOf(item_id);
  if (cell == 0) return err::kParam;
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(catalog, cell, catalog::kWithoutOptionalParts, record); e != err::kNone) {
    return e;
  }
  if (record.created == date_time) return err::kNone;
  record.created = date_time;
  return catalog::ReplaceItemParts(catalog, cell, record, 0);
}

// --- a whole camera ----------------------------------------------------------

bool DownloadCameraItem(catalog::Catalog& catalog, CameraConnection& camera, const CameraFileEntry& entry,
                        const CameraImportOptions& options, const TransferFailureQuestion& on_failure,
                        CameraImportOutcome* outcome, ImportSession* session) {
  *outcome = CameraImportOutcome{};
  const ErrorCode e = DownloadCameraFile(camera, entry, options, &outcome->download);
  if (e == err::kBadName || e == err::kUserCancelled || e == err::kFolderNotFound) return false;
  if (e != err::kNone) return on_failure && on_failure(outcome->download);
  outcome->import_error = ImportDownloadedFile(catalog, outcome->download, options, &outcome->item_id, session);
  return outcome->import_error != err::kCatalogFull && outcome->import_error != err::kDiskFull;
}

std::string CameraRoot(const CameraInfo& camera) {
  return camera.model == kMassStorageModel ? "/DCIM" : "/";
}

ErrorCode ImportFromCamera(catalog::Catalog& catalog, CameraConnection& camera, const CameraImportOptions& options,
                           const CameraImportProgress& progress, const TransferFailureQuestion& on_failure,
                           std::vector<CameraImportOutcome>* outcomes) {
  outcomes->clear();
  if (!IsFolder(options.destination)) return err::kFolderNotFound;
  std::vector<CameraFileEntry> files;
  if (ErrorCode e = camera.listFiles(CameraRoot(camera.info()), &files); e != err::kNone) return e;
  SetCatalogCameraImportOptions(catalog, options);
  const int total = static_cast<int>(files.size());
  ImportSession session(catalog, {});
  ErrorCode result = err::kNone;
  if (progress && progress(ProgressPhase::kStart, 0, total) != 0) result = err::kUserCancelled;
  for (int i = 0; i < total && result == err::kNone; ++i) {
    CameraImportOutcome outcome;
    const bool go_on = DownloadCameraItem(catalog, camera, files[static_cast<std::size_t>(i)], options, on_failure,
                                          &outcome, &session);
    outcomes->push_back(outcome);
    if (!go_on) {
      const ErrorCode why = outcome.download.error != err::kNone ? outcome.download.error : outcome.import_error;
      // A failure the user chose not to go on from ends the run quietly.
      const bool answered = outcome.download.status == DownloadStatus::kFailed && why != err::kBadName &&
                            why != err::kUserCancelled && why != err::kFolderNotFound;
      result = answered ? err::kNone : why;
      break;
    }
    if (progress && progress(ProgressPhase::kStep, i + 1, total) != 0) result = err::kUserCancelled;
  }
  if (progress) (void)progress(ProgressPhase::kEnd, static_cast<int>(outcomes->size()), total);  // the end is only reported
  return result;
}

ErrorCode FlushDownloadedFiles(const std::string& destination) { return SyncFileSystem(destination); }

}  // namespace norvo::media
