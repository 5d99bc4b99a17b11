// SPDX-License-Identifier: GPL-3.0-or-later
// The document layer over the catalog engine, shared by the desktop program
// and norvo-cli: where ScratchFiles live, opening, saving and closing with
// the user-facing messages.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/messages.h"
#include "catalog/catalog.h"
#include "catalog/save.h"

namespace norvo::app {

// The system's temporary folder: $TMPDIR, else /tmp.
std::string SystemTemporaryFolder();
// The folder for ScratchFiles: the one start-up chose, else the temporary folder.
std::string ScratchFolder();
void SetScratchFolder(const std::string& folder);
// A fresh ScratchFile name in the scratch folder, unique in this process.
FileSpec NewScratchSpec();

// What processes that were killed left behind: ScratchFiles in the scratch
// and temporary folders whose process is gone (no lock held on them and no
// process of their number), and the claimed temporary files beside users'
// files (owned_temporaries.h). Run at every start. Returns how many files
// were removed.
int SweepLeftovers();


class CatalogDocument {
 public:
  CatalogDocument() = default;
  ~CatalogDocument();
  CatalogDocument(const CatalogDocument&) = delete;
  CatalogDocument& operator=(const CatalogDocument&) = delete;

  // An untitled, empty catalog.
  DocumentResult createUntitled();
  // Opens a catalog file; `password` answers the password question.
  // `options` say whether it is opened to change it (see catalog::OpenOptions).
  DocumentResult open(const std::string& path, std::optional<std::string> password,
                      const catalog::ProgressCallback& progress = {}, const catalog::OpenOptions& options = {});
  // Saves in place (an untitled catalog: err::kParam, the caller asks for a name).
  DocumentResult save(const catalog::ProgressCallback& progress = {});
  // Creates `path` as a catalog file (type and creator codes) and saves to it.
  DocumentResult saveAs(const std::string& path, const catalog::ProgressCallback& progress = {});
  // Closes, writing settings back as a normal close does.
  void close(catalog::CloseSettings settings = catalog::CloseSettings::kWriteBack);

  catalog::Catalog* get() const { return catalog_.get(); }
  catalog::Catalog& operator*() const { return *catalog_; }
  catalog::Catalog* operator->() const { return catalog_.get(); }

 private:
  std::unique_ptr<catalog::Catalog> catalog_;
};

}  // namespace norvo::app
