// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/messages.h"

#include "catalog/limits.h"

namespace norvo::app {
namespace {

struct MessageEntry {
  ErrorCode code;
  Activity activity;
  const char* text;
};

constexpr char kReadError[] = "The command couldn't be completed, because an error occurred while reading the catalog.";
constexpr char kSaveError[] = "Couldn't save catalog file.\nTry saving it to a another location.";
constexpr char kCreateError[] =
    "Couldn't create catalog file.\nThe destination file is currently open elsewhere. Try saving it to a another "
    "location.";
constexpr char kGenericError[] = "The command couldn't be completed, because an error occurred.";

constexpr MessageEntry kMessages[] = {
    {err::kUnreadableCatalog, Activity::kOpenCatalog,
     "Can't open catalog!\nThis version can display catalogs with a maximum of ^0 media files. Use Norvo Galvorin "
     "to open this catalog."},
    {err::kOutOfMemory, Activity::kOpenCatalog,
     "The command couldn't be completed, because there is not enough memory available."},
    {err::kOutOfMemory, Activity::kOther,
     "The command couldn't be completed, because there is not enough memory available."},
    {err::kWriteFailedDuringSave, Activity::kSaveCatalog,
     "The catalog couldn't be saved, because an unrecoverable error occurred. This file may be corrupt."},
    {err::kWriteFailedDuringSave, Activity::kSaveUntitledCatalog,
     "The catalog couldn't be saved, because an unrecoverable error occurred. This file may be corrupt."},
    // What reading a media file reports.
    {err::kFileNotFound, Activity::kOther, "File not found"},
    {err::kBadJpeg, Activity::kOther, "Invalid media data"},
    {err::kNoReaderForType, Activity::kOther, "Can't find media importer"},
    {err::kNoReaderForFormat, Activity::kOther, "No importer found for file media"},
    {err::kDiskFull, Activity::kOther, "Disk full"},
    {err::kPermission, Activity::kOther, "Permission error (on file open)"},
    {err::kFolderNotFound, Activity::kOther, "Folder not found"},
    {err::kNoSuchVolume, Activity::kOther, "Volume not mounted"},
    {err::kBadName, Activity::kOther, "Bad filename"},
    {err::kNotAFile, Activity::kOther, "Not a file (a folder, device or pipe)"},
    {err::kNotAFile, Activity::kOpenCatalog, "The catalog couldn't be opened, because it is not a file."},
    {err::kFileLocked, Activity::kOther, "The file is locked: its permissions don't allow changes"},
    {err::kWritePermission, Activity::kOther, "The file, its folder or its disk can't be written"},
    {err::kNoMovieData, Activity::kOther, "No movie data found"},
    {err::kNoSound, Activity::kOther, "The movie has no sound track"},
    {err::kDuplicateName, Activity::kOther, "A file of that name already exists"},
};

// Texts about one catalog; ^0 is its name.
constexpr MessageEntry kCatalogMessages[] = {
    {err::kFileNotFound, Activity::kOpenCatalog, "The catalog '^0' was not found."},
    {err::kOpenForWriting, Activity::kOpenCatalog,
     "The catalog '^0' is in use by another program. Try again when it has finished with it."},
    {err::kDiskFull, Activity::kOpenCatalog,
     "The catalog '^0' can't be changed, because its disk is full. It can still be opened for viewing."},
    {err::kWritePermission, Activity::kOpenCatalog,
     "The catalog '^0' can't be changed, because its file, folder or disk can't be written. It can still be "
     "opened for viewing."},
    {err::kOpenForWriting, Activity::kSaveCatalog,
     "The catalog '^0' couldn't be saved, because it is open in another window or program. Close it there, then "
     "save again."},
    {err::kWritePermission, Activity::kSaveCatalog,
     "The catalog '^0' was opened for viewing only, because its file, folder or disk can't be written. Use Save "
     "As to keep the changes in another place."},
    {err::kDiskFull, Activity::kSaveCatalog,
     "The catalog '^0' couldn't be saved, because the disk is full. The file is as it was at the last save."},
};

constexpr char kUnrepairableText[] =
    "The catalog '^0' was being saved when its program stopped, and it can't be repaired now, because its file, "
    "folder or disk can't be written. Open it where it can be written and it will be as it was before that save.";

}  // namespace

std::string FormatMessage(std::string_view text, const std::vector<std::string>& args) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '^' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '2') {
      std::size_t index = static_cast<std::size_t>(text[i + 1] - '0');
      if (index < args.size()) out += args[index];
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string MessageForError(ErrorCode code, Activity activity) {
  if (code == err::kNone || code == err::kUserCancelled) return {};
  for (const auto& entry : kMessages) {
    if (entry.code == code && entry.activity == activity) {
      return FormatMessage(entry.text, {std::to_string(catalog::kMaxCatalogItems)});
    }
  }
  switch (activity) {
    case Activity::kOpenCatalog: return kReadError;
    case Activity::kSaveCatalog: return kSaveError;
    case Activity::kSaveUntitledCatalog: return kCreateError;
    case Activity::kOther: break;
  }
  return kGenericError;
}

std::string MessageForCatalogError(ErrorCode code, Activity activity, const std::string& catalog_name) {
  for (const auto& entry : kCatalogMessages) {
    if (entry.code == code && entry.activity == activity) return FormatMessage(entry.text, {catalog_name});
  }
  return MessageForError(code, activity);
}

std::string UnrepairableCatalogMessage(const std::string& catalog_name) {
  return FormatMessage(kUnrepairableText, {catalog_name});
}

std::string NotACatalogMessage(const std::string& file_name) {
  return FormatMessage("'^0' is not a Norvo Media catalog.", {file_name});
}

std::string DamagedCatalogMessage(const std::string& catalog_name) {
  return FormatMessage("The catalog '^0' is damaged: its table of contents can't be read.", {catalog_name});
}

std::string ImportProblemMessage(const std::string& kind_name, const std::string& file_name, ErrorCode error) {
  return FormatMessage("There was a problem importing the ^0 file:\n    '^1'\n    ^2",
                       {kind_name, file_name, MessageForError(error, Activity::kOther)});
}

std::string ImportProblemHint(const std::string& file_name) {
  return FormatMessage("Saving '^1' again with the creator application may fix this problem.", {"", file_name});
}

std::string NoMissingFilesMessage() { return "There are no missing files in this catalog."; }

std::string MissingFilesMessage(const std::string& catalog_name, int count) {
  return FormatMessage("Catalog '^0' contains ^1 ^2 not found in mounted volumes.\n",
                       {catalog_name, std::to_string(count), count == 1 ? "file" : "files"});
}

std::string RevertQuestion(const std::string& catalog_name) {
  return FormatMessage("Do you want to discard all changes in catalog '^0'?\n", {catalog_name});
}

std::string GalleryResultMessage(int result) {
  switch (result) {
    case 1:
      return "HTML Export couldn't be completed because of missing files.\nSome thumbnails, media, or other web "
             "graphics files may be missing or can't be rendered.";
    case 3:
      return "HTML Export couldn't be completed because an invalid parameter was chosen.\nReview your settings and "
             "try again.";
    case 4:
      return "HTML Export couldn't be completed because of a problem creating files or folders.\nChoose a different "
             "destination folder and try again.";
    case 5:
      return "HTML Export couldn't be completed because of a problem with the template.\nMake sure you are using "
             "valid templates and try again.";
    default: return {};
  }
}

std::string BackupFailureMessage(int failure) {
  switch (failure) {
    case 1: return "The command couldn't be completed.\nThe catalog has not been saved.";
    case 2:
      return "The command couldn't be completed, because the catalog contains files not found in mounted volumes.";
    case 3: return "The command couldn't be completed, because the destination couldn't be found.";
    case 4: return "The command couldn't be completed, because the items couldn't be added to the destination.";
    case 5: return "The command couldn't be completed, because an I/O error occurred.";
    default: return {};
  }
}

std::string CameraProblemMessage(int problem, const std::string& model) {
  switch (problem) {
    case 1: return std::string(camera_text::kNoCamera);
    case 2:
      return FormatMessage(
          "The camera \"^0\" is in use by another program. The desktop's file manager mounts cameras when they "
          "are connected: unmount the camera there (or with the command gio mount -s gphoto2) and try again.",
          {model});
    case 3: return FormatMessage("The camera \"^0\" isn't supported on this computer.", {model});
    case 4: return std::string(camera_text::kIoError);
    default: return {};
  }
}

}  // namespace norvo::app
