// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/import_test_support.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "media/media_type_registry.h"

namespace norvo::media::testing {

void ImportTestBase::SetUp() {
  root_ = std::filesystem::canonical(media_.path()).string();
  outside_root_ = std::filesystem::canonical(outside_.path()).string();
  ClearMediaTypes();
  Register("JPEG", MediaHandler::GraphicsImporter, "JPEG", MediaClass::Image);
  Register("jpg ", MediaHandler::GraphicsImporter, "JPEG", MediaClass::Image);
  Register("TIFF", MediaHandler::GraphicsImporter, "TIFF", MediaClass::Image);
  Register("MP3 ", MediaHandler::MovieImporter, "MP3", MediaClass::Audio);
  Register("TXT ", MediaHandler::MovieImporter, "Text", MediaClass::Text);
  ErrorCode e = catalog::CreateCatalog(nullptr, FileAt(JoinPath(scratch_.path(), "scratch")), {}, {}, catalog_);
  ASSERT_EQ(e, err::kNone);
}

void ImportTestBase::TearDown() {
  catalog_.reset();
  ClearMediaTypes();
}

void ImportTestBase::Write(const std::string& relative, std::size_t size) const {
  const std::string path = At(relative);
  std::filesystem::create_directories(ParentFolder(path));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size, 'x');
}

void ImportTestBase::MakeFolder(const std::string& relative) const { std::filesystem::create_directories(At(relative)); }

void ImportTestBase::Link(const std::string& target, const std::string& relative) const {
  const std::string path = At(relative);
  std::filesystem::create_directories(ParentFolder(path));
  ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

ErrorCode ImportTestBase::Import(const std::vector<std::string>& paths, const ImportProgress& progress, int* added,
                                 ImportCounters* counters) {
  std::vector<FileSpec> specs;
  for (const std::string& p : paths) specs.push_back(FileAt(p.starts_with('/') ? p : At(p)));
  return ImportFiles(*catalog_, specs, progress, added, counters);
}

std::vector<std::string> ImportTestBase::Items() const {
  std::vector<std::string> out;
  const std::string prefix = root_ + "/";
  for (int cell = 1; cell <= catalog_->itemCount(); ++cell) {
    std::string path = catalog::ItemPath(*catalog_, cell).value_or("(no path)");
    out.push_back(path.starts_with(prefix) ? path.substr(prefix.size()) : path);
  }
  return out;
}

std::vector<bool> ImportTestBase::PendingFlags() const {
  std::vector<bool> out;
  for (int cell = 1; cell <= catalog_->itemCount(); ++cell) {
    out.push_back(catalog_->cells[static_cast<std::size_t>(cell - 1)].pending());
  }
  return out;
}

}  // namespace norvo::media::testing
