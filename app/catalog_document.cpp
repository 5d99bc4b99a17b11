// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/catalog_document.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "catalog/limits.h"
#include "platform/byte_io.h"
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

FileSpec NewScratchSpec() {
  static std::atomic<unsigned> counter{0};
  std::string name = "Norvo Scratch " + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
  FileSpec spec;
  MakeFileSpec(JoinPath(ScratchFolder(), name), spec);
  return spec;
}

CatalogDocument::~CatalogDocument() { close(); }

DocumentResult CatalogDocument::createUntitled() {
  close();
  ErrorCode e = catalog::CreateCatalog(nullptr, NewScratchSpec(), {}, {}, catalog_);
  return {e, MessageForError(e, Activity::kOther)};
}

DocumentResult CatalogDocument::open(const std::string& path, std::optional<std::string> password,
                                     const catalog::ProgressCallback& progress) {
  close();
  FileSpec spec;
  ErrorCode e = MakeFileSpec(path, spec);
  if (e == err::kNone) {
    // Without a password to give, a protected catalog's question is
    // answered with "cancel" (-128), which the caller can explain.
    std::optional<std::string> answer;
    if (password) answer = Utf8ToWindows1252(*password);
    catalog::PasswordCallback ask = [answer] { return answer; };
    e = catalog::CreateCatalog(&spec, NewScratchSpec(), ask, progress, catalog_);
  }
  return {e, MessageForError(e, Activity::kOpenCatalog)};
}

DocumentResult CatalogDocument::save(const catalog::ProgressCallback& progress) {
  if (!catalog_) return {err::kParam, MessageForError(err::kParam, Activity::kOther)};
  ErrorCode e = catalog::SaveCatalog(*catalog_, nullptr, progress);
  return {e, MessageForError(e, catalog_->titled() ? Activity::kSaveCatalog : Activity::kSaveUntitledCatalog)};
}

DocumentResult CatalogDocument::saveAs(const std::string& path, const catalog::ProgressCallback& progress) {
  if (!catalog_) return {err::kParam, MessageForError(err::kParam, Activity::kOther)};
  Activity activity = catalog_->titled() ? Activity::kSaveCatalog : Activity::kSaveUntitledCatalog;
  FileSpec spec;
  ErrorCode e = MakeFileSpec(path, spec);
  if (e == err::kFileNotFound) {
    e = CreateFile(spec, FourCC(catalog::kCatalogCreator), FourCC(catalog::kCatalogFileType));
  }
  if (e == err::kNone) e = catalog::SaveCatalog(*catalog_, &spec, progress);
  return {e, MessageForError(e, activity)};
}

void CatalogDocument::close(bool write_back_settings) {
  if (catalog_) catalog::CloseCatalog(std::move(catalog_), write_back_settings);
}

}  // namespace norvo::app
