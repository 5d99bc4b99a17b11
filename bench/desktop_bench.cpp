// SPDX-License-Identifier: GPL-3.0-or-later
// desktop_bench: the desktop program's figures, on the offscreen platform.
//
//   1. Open to first screen: an 8000-item catalog with real thumbnails is
//      opened in a catalog window and the first screen of thumbnails is
//      decoded and painted; against `norvo-cli info` on the same catalog.
//   2. Scrolling the thumbnail view from top to bottom page by page: the
//      longest the interface thread is busy at once (a stall), against one
//      60 Hz frame (16.7 ms). Thumbnails are decoded off that thread.
//   3. Scanning 400 camera JPEGs in a catalog window (worker pool, results
//      applied on the interface thread) against `norvo-cli import` of the
//      same files: the program's speed as a share of the command line's.
//   4. Resident memory with the 8000-item catalog open in the thumbnail
//      view after the scroll, and the thumbnail cache's bound.
//
//   ./desktop_bench [--runs N] [--dir DIR] [--photos N]
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QEventLoop>
#include <QScrollBar>
#include <QTimer>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/catalog_document.h"
#include "app/preferences.h"
#include "bench/bench_support.h"
#include "bench/camera_photos.h"
#include "catalog/save.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "views/catalog_model.h"
#include "views/catalog_window.h"
#include "views/qt_support.h"
#include "views/scan_runner.h"
#include "views/thumbnail_cache.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

struct Options {
  int runs = 3;
  int photos = 400;
  fs::path dir;
  bool only_scan = false;
  bool hidden = false;  // scan without showing the window (to see what painting costs)
  fs::path memory_of;   // --memory CATALOG: only the scroll and the memory figure
};

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

std::string Cli() { return (fs::path(NORVO_BUILD_DIR) / "cli" / "norvo-cli").string(); }

// An 8000-item catalog with real thumbnails: the test photos imported and
// scanned, then their records repeated until the catalog is full.
void MakeFullCatalog(const fs::path& path) {
  if (fs::exists(path)) return;
  const fs::path photos = fs::path(NORVO_TESTDATA_DIR) / "photos";
  bench::TimeCommand({Cli(), "new", path.string()});
  bench::TimeCommand({Cli(), "import", path.string(), photos.string()});
  app::CatalogDocument doc;
  if (!doc.open(path.string(), std::nullopt).ok()) throw std::runtime_error("open " + path.string());
  catalog::Catalog& c = *doc;
  const int seeds = c.itemCount();
  std::vector<catalog::ItemRecord> records(static_cast<std::size_t>(seeds));
  for (int i = 0; i < seeds; ++i) {
    if (catalog::GetItemRecord(c, i + 1, catalog::kWholeRecord, records[static_cast<std::size_t>(i)]) != err::kNone) {
      throw std::runtime_error("read record");
    }
  }
  for (int i = 0; c.itemCount() < catalog::GetMaxItems(c); ++i) {
    if (catalog::AddItem(c, records[static_cast<std::size_t>(i % seeds)], photos.string()) != err::kNone) {
      throw std::runtime_error("add item");
    }
  }
  if (!doc.save().ok()) throw std::runtime_error("save");
}

std::unique_ptr<views::CatalogWindow> OpenWindow(const fs::path& path, const app::Labels* labels) {
  auto doc = std::make_unique<app::CatalogDocument>();
  if (!doc->open(path.string(), std::nullopt).ok()) throw std::runtime_error("open " + path.string());
  auto w = std::make_unique<views::CatalogWindow>(std::move(doc), labels);
  w->resize(1280, 800);
  return w;
}

// Open, show, decode the thumbnails on screen, paint: the first screen.
double OpenToFirstScreen(const fs::path& path, const app::Labels* labels) {
  const auto start = bench::Clock::now();
  auto w = OpenWindow(path, labels);
  w->setView(views::ViewKind::kThumbnails);
  w->show();
  QApplication::processEvents();
  w->thumbnails()->waitForDone();
  (void)w->thumbnailView()->viewport()->grab();  // paints what the screen shows
  return bench::MsSince(start);
}

// 2. Scrolling the thumbnail view page by page; 4. memory after it. Run in
// a process of its own (--memory), so that making the catalog and the
// figures before it do not count in the program's memory.
int ScrollAndMemory(const fs::path& full, const app::Labels* labels) {
  auto w = OpenWindow(full, labels);
  w->setView(views::ViewKind::kThumbnails);
  w->show();
  QApplication::processEvents();
  QScrollBar* bar = w->thumbnailView()->verticalScrollBar();
  double worst = 0;
  int pages = 0;
  const int decodes_before = w->thumbnails()->decodes();
  while (bar->value() < bar->maximum()) {
    bar->setValue(bar->value() + bar->pageStep());
    // One turn of the event loop as the screen would get it: the scroll,
    // the layout, the reads of the records shown, the paint.
    QElapsedTimer t;
    t.start();
    QApplication::processEvents();
    (void)w->thumbnailView()->viewport()->grab();
    worst = std::max(worst, t.nsecsElapsed() / 1e6);
    ++pages;
    // Arriving thumbnails are taken in their own turns, also timed.
    for (int k = 0; k < 3; ++k) {
      t.restart();
      QApplication::processEvents();
      worst = std::max(worst, t.nsecsElapsed() / 1e6);
    }
  }
  w->thumbnails()->waitForDone();
  {
    // The idle moment after which the cache gives memory back.
    QEventLoop idle;
    QTimer::singleShot(2000, &idle, &QEventLoop::quit);
    idle.exec();
  }
  std::printf("scroll 8000 thumbnails top to bottom, %d pages: worst interface-thread stall %.2f ms (frame 16.7 ms), "
              "%d thumbnails decoded off the interface thread\n",
              pages, worst, w->thumbnails()->decodes() - decodes_before);
  const long resident = ResidentKb();
  // What the heap holds for reuse but no longer uses goes back to the
  // system here, to tell live memory from the allocator's reserve.
  malloc_trim(0);
  std::printf("resident memory with the catalog open in the thumbnail view: %.1f MB (%.1f MB once the allocator "
              "returns its free memory); thumbnail cache %.1f of at most %.1f MB; %d records read\n",
              resident / 1024.0, ResidentKb() / 1024.0, w->thumbnails()->bytes() / 1048576.0,
              w->thumbnails()->byteLimit() / 1048576.0, w->model()->recordReads());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  views::InitResources();
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) o.runs = std::atoi(argv[++i]);
    if (a == "--photos" && i + 1 < argc) o.photos = std::atoi(argv[++i]);
    if (a == "--dir" && i + 1 < argc) o.dir = argv[++i];
    if (a == "--only-scan") o.only_scan = true;
    if (a == "--hidden") o.hidden = true;
    if (a == "--memory" && i + 1 < argc) o.memory_of = argv[++i];
  }
  if (o.dir.empty()) o.dir = fs::temp_directory_path() / "norvo-desktop-bench";
  fs::create_directories(o.dir);
  app::SetScratchFolder(o.dir.string());
  if (media::InitMediaTypes(media::FindPlatformComponents()) != err::kNone) return 1;
  const app::Labels labels = app::DefaultLabels();
  if (!o.memory_of.empty()) return ScrollAndMemory(o.memory_of, &labels);
  const fs::path full = o.dir / "full.nrk";
  if (!o.only_scan) {
  MakeFullCatalog(full);

  // 1. Open to the first screen.
  std::vector<double> open_ms, info_ms;
  for (int r = 0; r < o.runs; ++r) {
    open_ms.push_back(OpenToFirstScreen(full, &labels));
    info_ms.push_back(bench::TimeCommand({Cli(), "info", full.string()}));
  }
  const double open = bench::Median(open_ms);
  const double info = bench::Median(info_ms);
  std::printf("open 8000 items to first screen painted: %.1f ms; norvo-cli info: %.1f ms; ratio %.2f\n", open, info,
              open / info);

  // 2 and 4 in a process of their own.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string command = "'" + self + "' --memory '" + full.string() + "' --dir '" + o.dir.string() + "'";
  std::fflush(stdout);
  if (std::system(command.c_str()) != 0) std::printf("the scroll and memory run failed\n");
  }

  // 3. Scanning camera JPEGs: the program against the command line.
  const std::vector<std::string> photos = bench::MakePhotos(o.dir, o.photos);
  const fs::path folder = o.dir / "photos";
  std::vector<double> gui_ms, cli_ms;
  for (int r = 0; r < o.runs; ++r) {
    const fs::path cli_catalog = o.dir / "cli-scan.nrk";
    fs::remove(cli_catalog);
    bench::TimeCommand({Cli(), "new", cli_catalog.string()});
    cli_ms.push_back(bench::TimeCommand({Cli(), "import", cli_catalog.string(), folder.string()}));

    auto doc = std::make_unique<app::CatalogDocument>();
    if (!doc->createUntitled().ok()) return 1;
    views::CatalogWindow w(std::move(doc), &labels);
    w.resize(1280, 800);
    if (!o.hidden) w.show();
    QApplication::processEvents();
    const auto start = bench::Clock::now();
    w.importPaths({views::Q(folder.string())});
    w.scanner()->waitForIdle();
    gui_ms.push_back(bench::MsSince(start));
    if (w.scanner()->summary().scanned != o.photos) {
      std::printf("the program scanned %d of %d photos\n", w.scanner()->summary().scanned, o.photos);
    }
  }
  const double gui = bench::Median(gui_ms);
  const double cli = bench::Median(cli_ms);
  std::printf("scan %d camera JPEGs: program %.0f ms, norvo-cli import %.0f ms; program speed / command line %.2f "
              "(goal at least 0.9)\n",
              o.photos, gui, cli, cli / gui);
  return 0;
}
