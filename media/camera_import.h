// SPDX-License-Identifier: GPL-3.0-or-later
// Import from a camera: each file of a connected camera is copied into a
// destination folder and the copy imported into the catalog as a single file
// with the catalog's import options, with the user's six annotation texts
// stamped on the items it adds.
//
// One file goes through two steps so that the copy can run off the thread
// that owns the catalog:
// - DownloadCameraFile (any thread, no catalog): the bytes arrive under a
//   temporary name in the destination (".NAME.norvo-XXXXXX"), their count is
//   checked against the camera's, and the file then takes its name without
//   replacing anything. Only after that, when asked, is the file deleted on
//   the camera; a download that failed never deletes it. Then the lock and
//   the capture date are applied.
// - ImportDownloadedFile (the catalog's thread): the import and the stamps.
// DownloadCameraItem runs both for one file, ImportFromCamera for a camera.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "media/gphoto_camera.h"
#include "metadata/field_table.h"
#include "platform/error_codes.h"
#include "platform/progress.h"

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::media {

class ImportSession;

// The annotation texts, in the order of the dialog's page and the stored form.
inline constexpr std::size_t kCameraStampCount = 6;
inline constexpr std::size_t kMaxCameraStampLength = 255;  // characters

struct CameraStampField {
  metadata::FieldId field;
  std::string_view label;   // the dialog's label
  std::string_view option;  // norvo-cli's option
};
inline constexpr std::array<CameraStampField, kCameraStampCount> kCameraStampFields = {{
    {0x250, "Author:", "--author"},            // IPTC By-line
    {0x26e, "Credit:", "--credit"},            // IPTC Credit
    {0x273, "Source:", "--source"},            // IPTC Source
    {0x274, "Copyright:", "--copyright"},      // IPTC Copyright Notice
    {0x207, "Status:", "--status"},            // IPTC Edit Status
    {0x228, "Instructions:", "--instructions"},  // IPTC Special Instructions
}};

struct CameraImportOptions {
  std::string destination;  // UTF-8 path of an existing folder
  bool lock = false;               // "Lock downloaded files"
  bool skip_same_name = false;     // "Skip files with same name"
  bool delete_from_camera = false; // "Delete items from camera after downloading"
  bool set_capture_date = false;   // "Set file creation date to capture date"
  std::array<std::string, kCameraStampCount> stamps;  // UTF-8, in kCameraStampFields order
  bool operator==(const CameraImportOptions&) const = default;
};

// The stored form ("NCAM" chunk and the program default; camera_import_format.md).
std::vector<std::uint8_t> EncodeCameraImportOptions(const CameraImportOptions& options);
// err::kUnreadableCatalog for bytes that are not such a record.
ErrorCode DecodeCameraImportOptions(std::span<const std::uint8_t> bytes, CameraImportOptions* out);

// The user's pictures folder: XDG_PICTURES_DIR of $XDG_CONFIG_HOME/user-dirs.dirs
// (else ~/.config/user-dirs.dirs), else $HOME/Pictures.
std::string UserPicturesFolder();
// The options the catalog keeps; `fallback` (with its destination, or the
// pictures folder when that is empty) when it keeps none or they cannot be read.
CameraImportOptions CatalogCameraImportOptions(const catalog::Catalog& catalog, CameraImportOptions fallback = {});
// Keeps the options in the catalog; marks it changed when they differ from
// what it kept.
void SetCatalogCameraImportOptions(catalog::Catalog& catalog, const CameraImportOptions& options);

// A text cut to kMaxCameraStampLength characters (whole UTF-8 sequences).
std::string TrimStamp(std::string_view text);

// --- one file -------------------------------------------------------------

enum class DownloadStatus : std::uint8_t {
  kDownloaded,  // the file is in the destination under `target`
  kSkipped,     // a file of its name was there and the options say skip
  kFailed,      // nothing was kept; the camera's file is untouched
};

struct DownloadResult {
  CameraFileEntry source;
  std::string target;  // the path the file took (or would have taken)
  DownloadStatus status = DownloadStatus::kFailed;
  ErrorCode error = err::kNone;  // why it failed
  bool deleted_on_camera = false;
  ErrorCode delete_error = err::kNone;  // a delete asked for that the camera refused
  // The capture date set as the file's time, seconds since 1904 local time;
  // 0 when none was set.
  std::uint32_t capture_date = 0;
};

// The first name of the form "NAME.EXT", "NAME-2.EXT", "NAME-3.EXT", ... that
// `taken` says is free.
std::string UniqueFileName(const std::string& name, const std::function<bool(const std::string&)>& taken, int from = 2);

// Copies one camera file into options.destination as described above.
// Returns 0 when the file was downloaded or skipped, else the error (also in
// result->error): err::kBadName for a name that cannot be a file name,
// err::kIo for a size that does not match the camera's, err::kUserCancelled.
ErrorCode DownloadCameraFile(CameraConnection& camera, const CameraFileEntry& entry,
                             const CameraImportOptions& options, DownloadResult* result);

// The capture date of a picture file for its time: EXIF DateTimeOriginal,
// else `camera_time` (seconds since 1970, 0: none). False when neither gives
// a date in 1900 or later: the file keeps its own date. *unix_time is the
// moment, *date_time the catalog date (0 when it cannot hold it).
bool CaptureDateOf(const std::string& path, std::int64_t camera_time, std::int64_t* unix_time,
                   std::uint32_t* date_time);

// Imports a downloaded file as a single file with the catalog's import
// options. When an item was added: its Created field takes the capture date
// and the non-empty stamps are applied to it alone. *item_id is 0 when the
// import options passed the file over or the catalog had it already.
// A run imports through one `session` (made for the catalog before the
// first file): a session of its own would look at every item's path for
// each file.
ErrorCode ImportDownloadedFile(catalog::Catalog& catalog, const DownloadResult& download,
                               const CameraImportOptions& options, std::uint32_t* item_id,
                               ImportSession* session = nullptr);

// Sets the item's Created field. A scan takes that field from the file
// system (which has no settable creation time here), so the capture date
// of an item scanned after its download is set again this way.
ErrorCode SetItemCreated(catalog::Catalog& catalog, std::uint32_t item_id, std::uint32_t date_time);

// --- a whole camera -------------------------------------------------------

// Asked after a failed transfer ("Error transferring file. Do you want to
// continue?"); true goes on with the next file.
using TransferFailureQuestion = std::function<bool(const DownloadResult& failed)>;
// kStart (0, total), kStep (done, total) after each file, kEnd; a non-zero
// answer stops before the next file (err::kUserCancelled).
using CameraImportProgress = std::function<int(ProgressPhase phase, int done, int total)>;

struct CameraImportOutcome {
  DownloadResult download;
  std::uint32_t item_id = 0;  // the item added; 0 none
  ErrorCode import_error = err::kNone;
};

// Both steps for one file; false when the download is to stop (a failure
// the caller did not want to go on from, or a catalog that is full).
bool DownloadCameraItem(catalog::Catalog& catalog, CameraConnection& camera, const CameraFileEntry& entry,
                        const CameraImportOptions& options, const TransferFailureQuestion& on_failure,
                        CameraImportOutcome* outcome, ImportSession* session = nullptr);

// The folder a camera's walk starts in: DCIM for a mass-storage volume, the
// top of a camera's own tree.
std::string CameraRoot(const CameraInfo& camera);

// Writes the downloaded files out to the destination's disk (one syncfs):
// called before a catalog that points at them is saved. A download that
// deletes on the camera has flushed each file already.
ErrorCode FlushDownloadedFiles(const std::string& destination);

// Imports every file of the camera (CameraRoot walked, folder by folder).
// Returns 0 when all were handled or the answer to a failure was to stop,
// err::kUserCancelled on a cancel, err::kFolderNotFound when the destination
// is not a folder, the error of listing the camera, or the error that ended
// the run. The catalog keeps the options (SetCatalogCameraImportOptions).
ErrorCode ImportFromCamera(catalog::Catalog& catalog, CameraConnection& camera, const CameraImportOptions& options,
                           const CameraImportProgress& progress, const TransferFailureQuestion& on_failure,
                           std::vector<CameraImportOutcome>* outcomes);

}  // namespace norvo::media
