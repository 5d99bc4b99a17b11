// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/catalog_document.h"

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "app/engine_preferences.h"
#include "catalog/catalog_file.h"
#include "catalog/limits.h"
#include "catalog/rollback_journal.h"
#include "platform/byte_io.h"
#include "platform/file_lock.h"
#include "platform/owned_temporaries.h"
#include "platform/text_encoding.h"

namespace norvo::app {

namespace {
std::mutex g_scratch_mutex;
std::string g_scratch_folder;  // chosen at start-up; empty: the temporary folder
}  // namespace

std::string SystemTemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && tmp[0] != '\0') return tmp;
  return "/tmp";
}

std::string ScratchFolder() {
  std::lock_guard lock(g_scratch_mutex);
  return g_scratch_folder.empty() ? SystemTemporaryFolder() : g_scratch_folder;
}

void SetScratchFolder(const std::string& folder) {
  std::lock_guard lock(g_scratch_mutex);
  g_scratch_folder = folder;
}

namespace {

constexpr char kScratchPrefix[] = "Norvo Scratch ";
constexpr char kScratchSuffix[] = ".tmp";

// The process number in a ScratchFile name "Norvo Scratch PID-N.tmp"; 0 when
// the name is not one.
long ScratchOwner(const std::string& name) {
  const std::string prefix = kScratchPrefix;
  const std::string suffix = kScratchSuffix;
  if (!name.starts_with(prefix) || !name.ends_with(suffix)) return 0;
  const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const std::size_t dash = middle.find('-');
  if (dash == std::string::npos || dash == 0) return 0;
  long pid = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (middle[i] < '0' || middle[i] > '9' || pid > 100000000) return 0;
    pid = pid * 10 + (middle[i] - '0');
  }
  return pid;
}

int SweepScratchFolder(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::string> abandoned;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const long owner = ScratchOwner(name);
    if (owner == 0 || owner == ::getpid()) continue;
    const std::string path = JoinPath(folder, name);
    // A live ScratchFile is locked by its Catalog; the number check also
    // spares those of older versions that did not lock them.
    if (!AnyLockHeld(path) && !ProcessExists(owner)) abandoned.push_back(path);
  }
  ::closedir(dir);
  int removed = 0;
  for (const std::string& path : abandoned) removed += ::unlink(path.c_str()) == 0 ? 1 : 0;
  return removed;
}

// The open's message, told by what the file holds where the code alone
// would mislead: a photo opened as a catalog is not "too large".
std::string OpenFailureMessage(const std::string& path, ErrorCode e, bool to_change) {
  const std::string name = LeafName(path);
  if (e == err::kUnreadableCatalog) {
    File f;
    std::array<std::uint8_t, catalog::kHeaderSize> header{};
    FileSpec spec;
    if (MakeFileSpec(path, spec) == err::kNone && f.open(spec, Permission::kRead) == err::kNone &&
        f.readAt(0, header) == err::kNone) {
      ByteReader r(header);
      const std::uint32_t count = r.u32be();
      if (r.u32be() != catalog::kFileMagic) return NotACatalogMessage(name);
      if (count <= static_cast<std::uint32_t>(catalog::kMaxCatalogItems)) return DamagedCatalogMessage(name);
      return MessageForError(e, Activity::kOpenCatalog);
    }
    return NotACatalogMessage(name);  // shorter than a header
  }
  if (e == err::kWritePermission && catalog::InspectJournal(path) == catalog::JournalState::kHot) {
    return UnrepairableCatalogMessage(name);
  }
  if (e == err::kWritePermission && !to_change) return MessageForError(e, Activity::kOpenCatalog);
  if (e == err::kDiskFull && !to_change) return MessageForError(e, Activity::kOther);  // the scratch folder is full
  return MessageForCatalogError(e, Activity::kOpenCatalog, name);
}

std::string SaveFailureMessage(const catalog::Catalog& c, ErrorCode e, Activity activity) {
  return MessageForCatalogError(e, activity, c.display_name);
}

}  // namespace

int SweepLeftovers() {
  int removed = SweepScratchFolder(ScratchFolder());
  if (ScratchFolder() != SystemTemporaryFolder()) removed += SweepScratchFolder(SystemTemporaryFolder());
  return removed + SweepAbandonedTemporaries();
}

FileSpec NewScratchSpec() {
  static std::atomic<unsigned> counter{0};
  std::string name = kScratchPrefix + std::to_string(::getpid()) + "-" + std::to_string(++counter) + kScratchSuffix;
  FileSpec spec;
  // The file does not exist yet (err::kFileNotFound): the FileSpec is filled in
  // all the same, and a failure to create the file shows when it is made.
  (void)MakeFileSpec(JoinPath(ScratchFolder(), name), spec);
  return spec;
}

CatalogDocument::~CatalogDocument() { close(); }

DocumentResult CatalogDocument::createUntitled() {
  close();
  ErrorCode e = catalog::CreateCatalog(nullptr, NewScratchSpec(), {}, {}, catalog_);
  // A new catalog imports as the user last set the import options.
  if (e == err::kNone) catalog_->import_options = ImportPreferencesInUse().default_import_options;
  return {e, MessageForError(e, Activity::kOther)};
}

DocumentResult CatalogDocument::open(const std::string& path, std::optional<std::string> password,
                                     const catalog::ProgressCallback& progress, const catalog::OpenOptions& options) {
  close();
  FileSpec spec;
  ErrorCode e = MakeFileSpec(path, spec);
  if (e == err::kNone) {
    // Without a password to give, a protected catalog's question is
    // answered with "cancel" (err::kUserCancelled), which the caller can explain.
    std::optional<std::string> answer;
    if (password) answer = Utf8ToWindows1252(*password);
    catalog::PasswordCallback ask = [answer] { return answer; };
    e = catalog::CreateCatalog(&spec, NewScratchSpec(), ask, progress, catalog_, options);
  }
  return {e, OpenFailureMessage(path, e, options.exclusive)};
}

DocumentResult CatalogDocument::save(const catalog::ProgressCallback& progress) {
  if (!catalog_) return {err::kParam, MessageForError(err::kParam, Activity::kOther)};
  ErrorCode e = catalog::SaveCatalog(*catalog_, nullptr, progress);
  return {e, SaveFailureMessage(*catalog_, e, catalog_->titled() ? Activity::kSaveCatalog : Activity::kSaveUntitledCatalog)};
}

DocumentResult CatalogDocument::saveAs(const std::string& path, const catalog::ProgressCallback& progress) {
  if (!catalog_) return {err::kParam, MessageForError(err::kParam, Activity::kOther)};
  Activity activity = catalog_->titled() ? Activity::kSaveCatalog : Activity::kSaveUntitledCatalog;
  FileSpec spec;
  ErrorCode e = MakeFileSpec(path, spec);
  // The catalog file is made by the save itself, under a temporary name that
  // becomes `path` only when it is complete.
  if (e == err::kFileNotFound) e = err::kNone;
  if (e == err::kNone) e = catalog::SaveCatalog(*catalog_, &spec, progress);
  return {e, SaveFailureMessage(*catalog_, e, activity)};
}

void CatalogDocument::close(catalog::CloseSettings settings) {
  if (catalog_) catalog::CloseCatalog(std::move(catalog_), settings);
}

}  // namespace norvo::app
