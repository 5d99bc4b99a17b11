// SPDX-License-Identifier: GPL-3.0-or-later
// print_bench: a contact sheet of 400 camera JPEGs printed to PDF against
// rendering the same thumbnails with vipsthumbnail.
//
// Photos: 400 camera JPEGs of 4 to 9 megapixels (bench/camera_photos.h),
// imported and scanned into a catalog first (not timed). Then, warm cache,
// each timed `--runs` times (median):
//   stored   PrintToPdf of a 5 x 6 contact sheet (14 pages) from the
//            thumbnails stored in the catalog, with file names and fields
//   vips     `vipsthumbnail -s SIZE` over all files, SIZE the catalog's
//            thumbnail size, VIPS_CONCURRENCY=2: the same thumbnails made
//            from the files, without any page
//   hi-res   the same sheet with "Hi-Res thumbnails" (each file read to its
//            cell at 200 dpi, a page's files on two threads), against
//            `vipsthumbnail -s` that size (information)
// The figure is the ratio of vipsthumbnail's time to the print's.
//
//   print_bench [--runs N] [--photos N] [--dir DIR] [--keep]

#include <QGuiApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/camera_photos.h"
#include "bench/scanned_catalog.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "print/page_composer.h"
#include "print/print_to_pdf.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;

bench::RunOptions ParseOptions(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, {"--runs", "--photos", "--dir"}, {"--keep"},
                        "print_bench [--runs N] [--photos N] [--dir DIR] [--keep]");
  return bench::ReadRunOptions(args, "--photos", 3, 400, 2);
}

print::PrintJob SheetOf(const catalog::Catalog& c, bool hi_res) {
  print::PrintJob job;
  job.catalog = &c;
  for (int cell = 1; cell <= c.itemCount(); ++cell) job.cells.push_back(cell);
  job.options.layout = print::PrintLayout::kContactSheet;
  job.options.grid = print::GridMode::kCells;
  job.options.columns = 5;
  job.options.rows = 6;
  job.options.set(print::print_flags::kHiResThumbnails, hi_res);
  job.catalog_title = "Bench";
  return job;
}

double TimePrint(const print::PrintJob& job, const fs::path& pdf) {
  const auto start = Clock::now();
  bench::Check(print::PrintToPdf(job, pdf.string()), "printing");
  return MsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const bench::RunOptions options = ParseOptions(argc, argv);
    bench::RequirePrograms({"vipsthumbnail"});
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (media::InitMediaTypes(media::FindPlatformComponents()) != err::kNone) throw std::runtime_error("no readers");
    const fs::path dir = bench::WorkFolder(options.base_dir, "norvo-print-bench");
    fs::create_directories(dir / "out");
    bench::ScannedPhotos scanned = bench::MakeScannedPhotos(dir, options.count);
    const std::vector<std::string>& photos = scanned.files;
    catalog::Catalog* c = scanned.catalog.get();

    const int thumbnail = media::CatalogThumbnailSize(*c);
    const print::PrintJob stored = SheetOf(*c, false), hi_res = SheetOf(*c, true);
    const print::PageComposer composer(stored);
    const QSizeF cell = composer.geometry().cell;
    const int hi_res_side = static_cast<int>(std::max(cell.width(), cell.height()) * 200 / 72);
    const fs::path pdf = dir / "out" / "sheet.pdf";
    const std::string vips_out = (dir / "out").string();

    (void)TimePrint(stored, pdf);  // warm the cache
    ::setenv("VIPS_CONCURRENCY", "2", 1);
    std::vector<double> ours, vips, ours_hi, vips_hi;
    for (int run = 0; run < options.runs; ++run) {
      ours.push_back(TimePrint(stored, pdf));
      vips.push_back(bench::TimeShell("vipsthumbnail -s " + std::to_string(thumbnail) + " -o '" + vips_out +
                                      "/%s_t.jpg'" + bench::ShellWords(photos)));
      if (run == 0) {  // the files decoded again: once
        ours_hi.push_back(TimePrint(hi_res, pdf));
        vips_hi.push_back(bench::TimeShell("vipsthumbnail -s " + std::to_string(hi_res_side) + " -o '" + vips_out +
                                           "/%s_h.jpg'" + bench::ShellWords(photos)));
      }
    }
    const double mine = Median(ours), peer = Median(vips);
    std::printf("\n%d photos, contact sheet 5 x 6 on A4 (%d pages), median of %d runs (ms)\n", options.count,
                composer.pageCount(), options.runs);
    std::printf("%-46s %9.0f\n", "norvo print to PDF, stored thumbnails", mine);
    std::printf("%-46s %9.0f  %6.2f x\n", ("vipsthumbnail -s " + std::to_string(thumbnail)).c_str(), peer,
                peer / mine);
    std::printf("%-46s %9.0f\n", "norvo print to PDF, Hi-Res thumbnails (1 run)", Median(ours_hi));
    std::printf("%-46s %9.0f  %6.2f x  info\n",
                ("vipsthumbnail -s " + std::to_string(hi_res_side) + " (1 run)").c_str(), Median(vips_hi),
                Median(vips_hi) / Median(ours_hi));
    scanned.catalog.reset();
    if (!options.keep) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "print_bench: %s\n", e.what());
    return 1;
  }
}
