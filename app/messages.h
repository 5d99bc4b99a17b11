// SPDX-License-Identifier: GPL-3.0-or-later
// The one table from error code to the user's message text, shared by the
// desktop program and norvo-cli. Texts hold placeholders "^0", "^1", "^2".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::app {

// What the user was doing when the error came: the same code reads
// differently for an open and a save.
enum class Activity { kOpenCatalog, kSaveCatalog, kSaveUntitledCatalog, kOther };

// A code with the words the user reads for it: what the document layer
// returns and what the command line prints.
struct DocumentResult {
  ErrorCode code = err::kNone;
  std::string message;  // empty when nothing is to be said
  bool ok() const { return code == err::kNone; }
};

// The message for `code`; empty when nothing is to be said (0, or err::kUserCancelled).
std::string MessageForError(ErrorCode code, Activity activity);
// Replaces ^0, ^1, ^2 with the arguments.
std::string FormatMessage(std::string_view text, const std::vector<std::string>& args);

// The message for an error in opening or saving the catalog file named
// `catalog_name` (its leaf name) where its cause is known better than the
// code alone says: a catalog in use by another process, one that can only be
// viewed, one whose interrupted save cannot be repaired on a read-only disk.
// Other codes read as MessageForError.
std::string MessageForCatalogError(ErrorCode code, Activity activity, const std::string& catalog_name);
// A catalog left with an unfinished save on a disk that cannot be written.
std::string UnrepairableCatalogMessage(const std::string& catalog_name);
// A file given as a catalog that does not begin like one.
std::string NotACatalogMessage(const std::string& file_name);
// A catalog whose header is sound but whose directory cannot be read.
std::string DamagedCatalogMessage(const std::string& catalog_name);

// Texts of the catalog commands.
// The "Import" dialog for a file that could not be read: the kind's name,
// the file's name and the error's text; the hint under it.
std::string ImportProblemMessage(const std::string& kind_name, const std::string& file_name, ErrorCode error);
std::string ImportProblemHint(const std::string& file_name);
std::string NoMissingFilesMessage();
std::string MissingFilesMessage(const std::string& catalog_name, int count);
std::string RevertQuestion(const std::string& catalog_name);

// What the web gallery export reports for its result (1 to 5; output::GalleryResult);
// empty for 0 (done) and 2 (cancelled).
std::string GalleryResultMessage(int result);
// What the backup run reports for its failure (output::BackupFailure, as its
// number); empty for none.
std::string BackupFailureMessage(int failure);

// Texts of Import From Camera.
namespace camera_text {
inline constexpr std::string_view kTitle = "Import From Camera";
inline constexpr std::string_view kNoCamera = "No camera connected.";
inline constexpr std::string_view kDownloading = "Downloading images from camera...";
inline constexpr std::string_view kTransferFailed = "Error transferring file. Do you want to continue?";
inline constexpr std::string_view kDeleteQuestion =
    "Are you sure you want to delete the original photos on the camera?\nThis can't be undone.";
inline constexpr std::string_view kIoError = "The command couldn't be completed, because an I/O error occurred.";
}  // namespace camera_text
// Why a camera could not be used (media::CameraProblem, as its number), for
// the camera of `model`; empty for none.
std::string CameraProblemMessage(int problem, const std::string& model);

// Texts of printing.
namespace print_text {
inline constexpr std::string_view kServicesProblem =
    "There was a problem starting printing services.\nPlease make sure you have selected a printer.";
inline constexpr std::string_view kPrinterError = "Printer error ";  // then what the printer said
inline constexpr std::string_view kPage = "Page ";                  // "Page 2 of 5" while printing
inline constexpr std::string_view kOf = " of ";
}  // namespace print_text

}  // namespace norvo::app
