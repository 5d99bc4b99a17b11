// SPDX-License-Identifier: GPL-3.0-or-later
// Transfer to Folder: the files of chosen items are copied or moved into one
// folder, and in two of the three modes the items are pointed at the new
// files, each as soon as its file has landed. A stop or a failure midway
// therefore leaves the catalog right for every file already handled.
//
// Nothing is lost on the way:
// - a move on one file system is a rename, which keeps the inode and never
//   replaces a file the user has not agreed to replace;
// - a move across file systems is a copy (under a temporary name, flushed),
//   a byte-for-byte check of the copy against the original, and only then
//   the deletion of the original;
// - a copy appears whole or not at all: a full disk or a failed write
//   removes the partial copy and keeps the original.
//
// The file helpers below the transfer are shared with the backup.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "platform/error_codes.h"
#include "platform/file_ops.h"
#include "platform/progress.h"

namespace norvo::output {

// The stored byte of the preferences (app::pref::kTransferMode).
enum class TransferMode : std::uint8_t {
  kCopy = 0,       // "Copy files and reset paths"
  kMove = 1,       // "Move files, reset paths and delete originals"
  kDuplicate = 2,  // "Duplicate files"
};
// The mode a stored byte stands for; a byte out of range reads as the copy.
TransferMode TransferModeFromByte(std::uint8_t stored);
// Whether the mode points the items at their new files.
bool RepointsItems(TransferMode mode);

// What the replace question shows of each file.
struct FileFacts {
  std::string path;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // seconds since 1970, UTC
  std::uint32_t width = 0;    // 0 when not known
  std::uint32_t height = 0;
};
// The facts the file system gives (dimensions stay 0); err::kFileNotFound
// when nothing is there.
ErrorCode ReadFileFacts(const std::string& path, FileFacts* out);

// The answers to "replace the file of that name?". They hold for the rest
// of the run: replace all asks no more, stop ends the pass.
enum class ClashAnswer : std::uint8_t { kReplace, kSkip, kReplaceAll, kStop };
// Asked with the file in the destination and the file that would replace it.
using ClashQuestion = std::function<ClashAnswer(const FileFacts& existing, const FileFacts& incoming)>;

enum class TransferStatus : std::uint8_t {
  kMoved,    // the file is in the destination and no longer where it was
  kCopied,   // the file is in the destination and still where it was
  kSkipped,  // nothing done: missing file, already in the destination, name
             // taken and not replaced (the error says which)
  kStopped,  // the clash whose answer was "stop": nothing done, pass ended
  kFailed,   // the error that ended the pass; the file is where it was
};

struct TransferOutcome {
  std::uint32_t item_id = 0;
  std::string source;  // the file's path before; empty when not found
  std::string target;  // the path in the destination; empty when skipped early
  TransferStatus status = TransferStatus::kSkipped;
  bool replaced = false;  // an existing file of the name was replaced
  ErrorCode error = err::kNone;
};

struct TransferRequest {
  TransferMode mode = TransferMode::kCopy;
  std::string destination;  // an existing folder
  // Asked for each name clash; without one a clash is skipped.
  ClashQuestion on_clash;
};

// kStart (0, count), kStep (n, count) after item n, kEnd; a non-zero answer
// stops before the next item (err::kUserCancelled, or the answer when it is
// a negative code).
using TransferProgress = std::function<int(ProgressPhase phase, int done, int total)>;

// Transfers the files of the items with these ids (catalog order; an id given
// twice counts once, one not in the catalog is skipped with err::kParam) and
// fills `outcomes`, one per item handled. A missing file and a taken name
// skip their item; any other failure ends the pass with its error, as does
// a cancel (err::kUserCancelled). A "stop" answer ends the pass with 0.
// Before returning, the copies are flushed to their disk (one syncfs), so
// that a catalog saved afterwards never points at a file still in the cache.
// err::kFolderNotFound when the destination is not a folder,
// err::kWritePermission for a catalog open for viewing in a mode that
// changes it.
ErrorCode TransferItems(catalog::Catalog& catalog, std::span<const std::uint32_t> item_ids,
                        const TransferRequest& request, const TransferProgress& progress,
                        std::vector<TransferOutcome>* outcomes);

// --- the file helpers --------------------------------------------------------

// Whether a copy may take the place of an existing file of its name.
enum class Placement : bool { kNewName, kReplace };

// Copies `from` to `to` with its times and permissions (CopyFileKeepingAttributes).
// kNewName: an existing `to` is err::kDuplicateName. kReplace: the copy is
// made under a temporary name beside `to` and then renamed over it, so `to`
// is at every moment either the old file or the whole new one.
ErrorCode CopyFileTo(const std::string& from, const std::string& to, Placement placement,
                     CopyDurability durability);

// err::kNone when the two files have the same size and bytes, err::kIo when
// they differ, or the error of reading them.
ErrorCode CompareFiles(const std::string& a, const std::string& b);

// How a move was made.
enum class MoveKind : std::uint8_t { kRenamed, kCopiedAcross };

// Moves `from` to `to`: a rename on one file system (never over an
// existing `to` unless kReplace); across file systems a flushed copy,
// checked against the original byte for byte, then the original deleted.
// Any failure leaves `from` as it was and no partial copy behind.
// `before_delete` (when given) runs once the checked copy is in place and
// before the original goes: a non-zero result removes the copy again and is
// returned (the transfer points the item at the copy there).
ErrorCode MoveFile(const std::string& from, const std::string& to, Placement placement, MoveKind* kind,
                   const std::function<ErrorCode()>& before_delete = {});

// Whether two paths are on the same file system (by st_dev); false when
// either cannot be looked at.
bool SameFileSystem(const std::string& a, const std::string& b);

}  // namespace norvo::output
