// SPDX-License-Identifier: GPL-3.0-or-later
// convert_bench: image conversion of 400 camera JPEGs to 1600-pixel JPEGs
// with their EXIF kept, against vipsthumbnail.
//
// Photos: 400 camera JPEGs of 4 to 9 megapixels (bench/camera_photos.h),
// imported and scanned into a catalog first (not timed). Then, warm cache,
// both cores, each timed `--runs` times (median):
//   ours    RunConversion to jpg, scaled to fit 1600 x 1600, EXIF and
//           colour profile kept, 2 workers, into an empty folder
//   vips    `vipsthumbnail --size 1600` over the same files, metadata kept
//           (its default), VIPS_CONCURRENCY=2
// Goal: at least 1.5 x the throughput of vipsthumbnail.
//
//   convert_bench [--runs N] [--photos N] [--dir DIR] [--keep] [--quality Q]

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/camera_photos.h"
#include "bench/scanned_catalog.h"
#include "catalog/catalog.h"
#include "media/import.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "output/conversion.h"
#include "platform/file_spec.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::Shell;

struct Options {
  int runs = 3;
  int photos = 400;
  int quality = 75;  // vipsthumbnail's own JPEG quality
  std::string base_dir;
  bool keep = false;
};

Options ParseOptions(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, {"--runs", "--photos", "--dir", "--quality"}, {"--keep"},
                        "convert_bench [--runs N] [--photos N] [--dir DIR] [--keep] [--quality Q]");
  Options o;
  o.runs = args.number("--runs", o.runs, 1);
  o.photos = args.number("--photos", o.photos, 2);
  o.quality = args.number("--quality", o.quality, 1);
  o.base_dir = args.text("--dir");
  o.keep = args.flag("--keep");
  return o;
}

double TimeConversion(catalog::Catalog& c, const fs::path& out, int quality) {
  fs::remove_all(out);
  fs::create_directories(out);
  output::ConversionRequest request;
  request.extension = "jpg";
  request.options.scale_to_fit = 1;
  request.options.box_width = 1600;
  request.options.box_height = 1600;
  request.image_settings.quality = quality;
  request.destination = out.string();
  request.jobs = 2;
  const auto start = Clock::now();
  const output::ConversionOutcome outcome = output::RunConversion(c, request);
  const double ms = MsSince(start);
  if (outcome.result != err::kNone || outcome.converted != c.itemCount()) {
    throw std::runtime_error("conversion result " + std::to_string(outcome.result) + ", " +
                             std::to_string(outcome.converted) + " converted");
  }
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    for (const char* program : {"vips", "vipsthumbnail"}) {
      if (!bench::HaveProgram(program)) throw std::runtime_error(std::string(program) + " is missing: run scripts/setup.sh");
    }
    if (media::InitMediaTypes(media::FindPlatformComponents()) != err::kNone) throw std::runtime_error("no readers");
    const fs::path base = options.base_dir.empty() ? fs::temp_directory_path() : fs::path(options.base_dir);
    const fs::path dir = base / ("norvo-convert-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "out");
    std::printf("making %d photos in %s ...\n", options.photos, dir.c_str());
    std::fflush(stdout);
    const std::vector<std::string> photos = bench::MakePhotos(dir, options.photos);
    std::unique_ptr<catalog::Catalog> c = bench::ScannedCatalogOf(dir / "photos", dir / "scratch.tmp");
    if (c->itemCount() != options.photos) throw std::runtime_error("not every photo was imported");

    const std::string files = bench::ShellWords(photos);
    const fs::path vips_out = dir / "out" / "vips";
    ::setenv("VIPS_CONCURRENCY", "2", 1);
    // Warm the cache once, then the runs.
    (void)TimeConversion(*c, dir / "out" / "norvo", options.quality);
    std::vector<double> ours, vips;
    for (int run = 0; run < options.runs; ++run) {
      ours.push_back(TimeConversion(*c, dir / "out" / "norvo", options.quality));
      fs::remove_all(vips_out);
      fs::create_directories(vips_out);
      vips.push_back(bench::TimeShell("vipsthumbnail --size 1600 -o '" + vips_out.string() + "/%s.jpg[Q=" +
                               std::to_string(options.quality) + "]'" + files));
    }
    const double mine = Median(ours), theirs = Median(vips);
    const double ratio = theirs / mine;
    std::printf("\n%d photos to 1600-pixel JPEGs (quality %d, EXIF kept), 2 threads, median of %d runs (ms)\n",
                options.photos, options.quality, options.runs);
    std::printf("%-40s %9.0f  %6.1f photos/s\n", "norvo convert", mine, options.photos * 1000.0 / mine);
    std::printf("%-40s %9.0f  %6.1f photos/s\n", "vipsthumbnail --size 1600", theirs,
                options.photos * 1000.0 / theirs);
    std::printf("%-40s %9.2f x  >=1.5 %s\n", "throughput ratio", ratio, ratio >= 1.5 ? "PASS" : "MISS");
    c.reset();
    if (!options.keep) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "convert_bench: %s\n", e.what());
    return 1;
  }
}
