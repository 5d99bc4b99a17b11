// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes opening a catalog file and everything a user can then do with it:
// read every record with its parts and text conversion, find every item's
// path, and save the catalog to another file and open that again.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "catalog/catalog.h"
#include "catalog/save.h"

namespace {

std::string WorkFolder() {
  static std::string folder = [] {
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string templ = base + "/norvo-fuzz-XXXXXX";
    char* made = ::mkdtemp(templ.data());
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

norvo::FileSpec Spec(const std::string& name) {
  norvo::FileSpec spec;
  (void)norvo::MakeFileSpec(WorkFolder() + "/" + name, spec);  // a fixed absolute path
  return spec;
}

void Exercise(const norvo::FileSpec& file, bool save_copy) {
  using namespace norvo::catalog;
  std::unique_ptr<Catalog> catalog;
  auto password = [] { return std::optional<std::string>("pw"); };
  int calls = 0;
  auto progress = [&calls](norvo::ProgressPhase, int, int) { return ++calls > 100000 ? -128 : 0; };
  if (CreateCatalog(&file, Spec("scratch"), password, progress, catalog) != norvo::err::kNone) return;
  for (int cell = 1; cell <= catalog->itemCount(); ++cell) {
    ItemRecord record;
    (void)GetItemRecord(*catalog, cell, kWholeRecord, record);  // any result: crashes are the test
    ItemPath(*catalog, cell);
    ItemFileNameUtf8(record);
  }
  if (save_copy) {
    norvo::FileSpec copy = Spec("copy.nrk");
    (void)norvo::DeleteFile(copy);  // there may be none yet
    if (SaveCatalog(*catalog, &copy, {}) == norvo::err::kNone) {
      CloseCatalog(std::move(catalog), CloseSettings::kLeave);
      Exercise(copy, false);  // what we wrote must open again
      return;
    }
  }
  CloseCatalog(std::move(catalog), CloseSettings::kLeave);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  norvo::FileSpec input = Spec("input.nrk");
  {
    std::ofstream out(input.path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  Exercise(input, true);
  return 0;
}
