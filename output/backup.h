// SPDX-License-Identifier: GPL-3.0-or-later
// Backup: the items' files copied to a removable disk or into a staging
// folder for a disc, optionally with a copy of the catalog, the reader
// program and an "autorun.inf" that starts it.
//
// The run, in order:
// 1. With the catalog included, a catalog with unsaved changes is refused.
// 2. The items taking part: every item, or the visible (not hidden) ones
//    only. Hidden items are not shown for the run: their flags stay.
// 3. Preparing: every item's file is found and its size summed; a missing
//    file stops the run before anything is copied.
// 4. Each file is copied into the destination root, or, keeping the folder
//    structure, into its folder's path below the mount point of the disk it
//    is on (/media/card/DCIM/100 goes to DCIM/100 on the card's mount point,
//    /home/ann/Photos to home/ann/Photos on the root file system). With
//    reset paths the item is pointed at its copy as soon as it has landed.
// 5. With the catalog included: a copy of the catalog file under its own
//    name (the open catalog keeps its file; with reset paths the copy is
//    given the new paths too), the reader folder as "readers" when one is
//    installed (when not, a warning), and "autorun.inf".
//
// Choices made here:
// - A file of the same name already in the destination with the same size
//   and modification time counts as backed up already (a second run onto
//   the same disk copies only what changed); any other file of that name is
//   never replaced, and the run stops (kItemsNotAdded).
// - Staging for a disc may use hard links instead of copies where the
//   staging folder is on the file's own file system: the image writer only
//   reads them, and no byte is copied twice.
// - A failed run leaves what was copied; a partial copy never stays.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "platform/error_codes.h"
#include "platform/file_spec.h"
#include "platform/progress.h"

namespace norvo::output {

// The two steps the progress names: "Preparing files for backup..." and
// "Transferring files to backup destination...".
enum class BackupStage : std::uint8_t { kPreparing, kTransferring };

// Which of the run's messages a failure reads as (app::BackupFailureMessage).
enum class BackupFailure : std::uint8_t {
  kNone = 0,
  kNotSaved = 1,             // the catalog has unsaved changes and is to be included
  kFilesMissing = 2,         // some items' files are not on any mounted disk
  kDestinationNotFound = 3,  // the destination is not an existing folder
  kItemsNotAdded = 4,        // a copy was refused: disk full, write refused, name taken
  kIoError = 5,              // any other failure
};

// How the files reach the destination.
enum class BackupStaging : std::uint8_t {
  kCopy,               // real copies, for a disk that leaves the machine
  kLinkWhereSameDisk,  // hard links where possible: a staging folder for an image
};

struct BackupOptions {
  std::string destination;  // the target root: an existing folder
  bool visible_only = false;     // "&Only visible media files"
  bool reset_paths = false;      // "&Reset paths"
  bool keep_folders = false;     // "&Keep folder structure"
  bool include_catalog = false;  // "&Include media catalog"
  // The installed reader: a folder holding "win/NorvoReader.exe".
  std::optional<std::string> reader_folder;
  // A fresh ScratchFile for opening the catalog copy (reset paths with the
  // catalog included).
  FileSpec copy_scratch;
  BackupStaging staging = BackupStaging::kCopy;
};

struct BackupFile {
  std::uint32_t item_id = 0;
  std::string source;
  std::string target;
  std::uint64_t size = 0;
  bool already_there = false;  // the same file was in the destination
};

struct BackupReport {
  BackupFailure failure = BackupFailure::kNone;
  std::vector<BackupFile> files;        // in catalog order; those copied so far on failure
  std::vector<std::uint32_t> missing;   // items whose files were not found
  std::uint64_t total_bytes = 0;        // of all files taking part
  std::string catalog_copy;             // the catalog copy's path, when made
  bool reader_copied = false;
  std::vector<std::string> warnings;    // things left out that do not fail the run
};

// (stage, phase, done, total); a non-zero answer stops the run
// (err::kUserCancelled, no message).
using BackupProgress = std::function<int(BackupStage stage, ProgressPhase phase, int done, int total)>;

// The backup run. Returns 0, the error that stopped it (the report says
// which message it reads as), or err::kUserCancelled.
ErrorCode RunBackup(catalog::Catalog& catalog, const BackupOptions& options, const BackupProgress& progress,
                    BackupReport* report);

// "Run Catalog": the verb the autorun file offers.
inline constexpr std::string_view kRunCatalogVerb = "Run Catalog";
inline constexpr std::string_view kAutorunFileName = "autorun.inf";
inline constexpr std::string_view kReadersFolder = "readers";
// The reader program inside the reader folder.
inline constexpr std::string_view kReaderProgram = "win/NorvoReader.exe";

// The bytes of "autorun.inf" (CR LF line ends) for a catalog called
// `catalog_name` whose copy is the file `catalog_file_name`, both UTF-8;
// written in Windows-1252 where that holds them.
std::string AutorunText(std::string_view catalog_name, std::string_view catalog_file_name);
// The catalog's name: its file's name without the ".nrk" extension.
std::string CatalogName(const std::string& catalog_path);

// The folder a file goes to below the destination root when the folder
// structure is kept: the path of `folder` (absolute) below the mount point
// of its file system, "" for the mount point itself.
std::string PathBelowMountPoint(const std::string& folder);

// The installed reader folder: "Norvo/Readers" in the first of `roots`
// (the program's data folders) that holds kReaderProgram.
std::optional<std::string> FindReaderFolder(const std::vector<std::string>& roots);

}  // namespace norvo::output
