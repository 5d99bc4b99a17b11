// SPDX-License-Identifier: GPL-3.0-or-later
// What the print tests share: a QGuiApplication on the offscreen platform
// (fonts for the page composer), a temporary folder, a catalog of the test
// photos, scanned, and the Poppler tools' reading of a PDF.
#pragma once

#include <gtest/gtest.h>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "platform/file_spec.h"
#include "platform/test_shell.h"

namespace norvo::print::testing {

namespace fs = std::filesystem;
const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";

inline void EnsureGuiApplication() {
  if (QGuiApplication::instance() != nullptr) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "print_test";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

inline std::string Capture(const std::string& command) { return norvo::testing::CaptureCommand(command); }

inline bool HavePoppler() { return std::system("command -v pdfinfo pdftotext pdfimages >/dev/null 2>&1") == 0; }

inline int PdfPages(const std::string& pdf) {
  const std::string info = Capture("pdfinfo '" + pdf + "'");
  const std::size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// The number of images `pdfimages -list` shows on each page (index 0: page 1).
inline std::vector<int> ImagesPerPage(const std::string& pdf, int pages) {
  std::vector<int> counts(static_cast<std::size_t>(pages));
  const std::string list = Capture("pdfimages -list '" + pdf + "'");
  std::size_t line_start = 0;
  while (line_start < list.size()) {
    std::size_t end = list.find('\n', line_start);
    if (end == std::string::npos) end = list.size();
    const std::string line = list.substr(line_start, end - line_start);
    int page = 0;
    char type[16] = {};
    if (std::sscanf(line.c_str(), "%d %*d %15s", &page, type) == 2 && std::string(type) == "image" && page >= 1 &&
        page <= pages) {
      ++counts[static_cast<std::size_t>(page - 1)];
    }
    line_start = end + 1;
  }
  return counts;
}

class PrintCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGuiApplication();
    ASSERT_EQ(media::InitMediaTypes(media::FindPlatformComponents()), err::kNone);
    std::string pattern = (fs::temp_directory_path() / "norvo-print-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ASSERT_EQ(catalog::CreateCatalog(nullptr, Spec((dir_ / "scratch").string()), {}, {}, catalog_), err::kNone);
  }
  void TearDown() override {
    if (catalog_) catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);
    fs::remove_all(dir_);
  }
  static FileSpec Spec(const std::string& path) {
    FileSpec spec;
    EXPECT_TRUE(FileSpecFilled(MakeFileSpec(path, spec)));
    return spec;
  }
  // The test photos (each `copies` times, under numbered names) added and
  // scanned; their cells in order.
  std::vector<int> AddPhotos(const std::vector<std::string>& photos, int copies = 1) {
    fs::create_directories(dir_ / "files");
    for (int c = 0; c < copies; ++c) {
      for (const std::string& p : photos) {
        const fs::path to = dir_ / "files" / (std::to_string(c) + "_" + p);
        fs::copy_file(kPhotos / p, to);
        EXPECT_EQ(catalog::AddPendingItem(*catalog_, Spec(to.string())), err::kNone);
      }
    }
    const std::vector<std::uint32_t> pending = media::PendingItems(*catalog_);
    EXPECT_EQ(media::ScanItems(*catalog_, pending, 2, {}, {}, nullptr), err::kNone);
    std::vector<int> cells;
    for (int cell = 1; cell <= catalog_->itemCount(); ++cell) cells.push_back(cell);
    return cells;
  }

  fs::path dir_;
  std::unique_ptr<catalog::Catalog> catalog_;
};

}  // namespace norvo::print::testing
