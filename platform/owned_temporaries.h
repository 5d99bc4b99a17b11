// SPDX-License-Identifier: GPL-3.0-or-later
// Temporary files that a process makes beside users' files (the new copy of
// a photo whose annotations are being written, a catalog saved under a
// temporary name before it is renamed into place). While one exists, a small
// claim in the application-data folder names it and is locked by the process
// that made it. If that process is killed, the claim stays, unlocked; the
// next start of either program sweeps such claims and removes the files
// they name, so no copy of a photo is left behind. A released claim's file
// is emptied and kept for the thread's next claim, so a run of thousands of
// temporaries does not create and remove a claim file for each.
#pragma once

#include <string>

#include "platform/error_codes.h"

namespace norvo {

// $XDG_DATA_HOME/Norvo/Temporaries (else ~/.local/share/Norvo/Temporaries).
std::string TemporaryClaimFolder();

// A claim on one temporary file. Make it before creating the file; drop it
// (destroy it) once the file is renamed into place or removed.
class TemporaryClaim {
 public:
  TemporaryClaim() = default;
  ~TemporaryClaim() { release(); }
  TemporaryClaim(const TemporaryClaim&) = delete;
  TemporaryClaim& operator=(const TemporaryClaim&) = delete;

  // Records `temporary_path` (absolute). A claim that cannot be written (a
  // read-only home) is not an error: the work goes on without one.
  void claim(const std::string& temporary_path);
  void release();

 private:
  int fd_ = -1;
  std::string claim_path_;
};

// Removes the temporary files of claims whose process no longer runs, and
// those claims. Only files whose names have the temporary-name form of this
// program (".NAME.norvo-XXXXXX") are removed. Returns how many files went.
int SweepAbandonedTemporaries();

// The temporary name form used beside `path`: ".LEAF.norvo-XXXXXX" in its
// folder, the X's to be replaced.
std::string TemporaryNameBeside(const std::string& path);

// Creates a new, empty file under a temporary name beside `target` (mode
// `mode`, less the umask) and claims it before it exists, so that no crash
// can leave it unclaimed. Returns its open descriptor (read-write) and its
// path, or -1 with *error set.
int CreateClaimedTemporary(const std::string& target, unsigned mode, TemporaryClaim& claim, std::string* path,
                           ErrorCode* error);
// Whether a leaf name has that form.
bool IsTemporaryName(const std::string& leaf);

}  // namespace norvo
