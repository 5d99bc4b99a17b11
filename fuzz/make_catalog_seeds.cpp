// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a seed corpus for the catalog fuzzer with the engine's own writer:
// empty, small, labelled, password-protected, with tables, and cut short.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "platform/byte_io.h"

namespace {

using namespace norvo;
using namespace norvo::catalog;

FileSpec Spec(const std::string& path) {
  FileSpec spec;
  (void)MakeFileSpec(path, spec);  // the seed paths are fixed absolute paths
  return spec;
}

ItemRecord Record(int i) {
  ItemRecord r;
  r.file_name.set("file " + std::to_string(i) + " \xE9.jpg");
  r.display_name.set("File " + std::to_string(i));
  r.file_size = 1000u * static_cast<unsigned>(i);
  r.type_code = FourCC("JPEG");
  r.thumbnail.assign(static_cast<std::size_t>(20 + i), static_cast<std::uint8_t>(i));
  r.annotations = {0x1C, 2, 120, 0, 3, 'a', 0xE9, 'b', 0x1D, 2, 1, 0, 1, 7};
  r.url = {'h', 't', 't', 'p'};
  r.metadata.assign(9, 0x42);
  if (i % 2 == 0) r.recording.assign(4, 1);
  r.syncPartLengths();
  return r;
}

bool Write(const std::string& folder, const std::string& name, int items, bool password, bool tables) {
  std::unique_ptr<Catalog> c;
  if (CreateCatalog(nullptr, Spec(folder + "/.scratch"), {}, {}, c) != err::kNone) return false;
  for (int i = 1; i <= items; ++i) {
    if (AddItem(*c, Record(i), "/media/photos/set " + std::to_string(i % 3)) != err::kNone) return false;
    if (SetItemLabel(*c, i, i % 10) != err::kNone) return false;
  }
  if (password) c->password = "pw";
  if (tables) {
    c->custom_field_names = {"Lens", "ISO"};
    c->ranks.push_back(RankEntry{1, 2, 3, {4, 5, 6, 7}});
    c->print_settings = {1, 2, 3};
    c->cs00 = {0, 1, 0, 2, 9, 9};
    c->fonts.emplace();
    (*c->fonts)[0].number = 3;
    (*c->fonts)[0].name[0] = 'A';
  }
  FileSpec out = Spec(folder + "/" + name);
  std::filesystem::remove(out.path);
  ErrorCode e = SaveCatalog(*c, &out, {});
  CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  return e == err::kNone;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_catalog_seeds FOLDER\n";
    return 1;
  }
  std::string folder = argv[1];
  std::filesystem::create_directories(folder);
  bool ok = Write(folder, "empty.nrk", 0, false, false) && Write(folder, "three.nrk", 3, false, false) &&
            Write(folder, "tables.nrk", 5, false, true) && Write(folder, "password.nrk", 2, true, false);
  if (ok) {
    // The same catalog cut short, so that the recovery scan has seeds too.
    auto size = std::filesystem::file_size(folder + "/three.nrk");
    std::filesystem::copy_file(folder + "/three.nrk", folder + "/cut.nrk",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(folder + "/cut.nrk", size - 40);
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind(".", 0) == 0) std::filesystem::remove(entry.path());
  }
  if (!ok) std::cerr << "make_catalog_seeds: could not write the seeds\n";
  return ok ? 0 : 1;
}
