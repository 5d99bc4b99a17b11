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

struct Options : bench::RunOptions {
  int quality = 75;  // vipsthumbnail's own JPEG quality
};

Options ParseOptions(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, {"--runs", "--photos", "--dir", "--quality"}, {"--keep"},
                        "convert_bench [--runs N] [--photos N] [--dir DIR] [--keep] [--quality Q]");
  Options o{bench::ReadRunOptions(args, "--photos", 3, 400, 2)};
  o.quality = args.number("--quality", o.quality, 1);
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
    bench::RequirePrograms({"vips", "vipsthumbnail"});
    if (media::InitMediaTypes(media::FindPlatformComponents()) != err::kNone) throw std::runtime_error("no readers");
    const fs::path dir = bench::WorkFolder(options.base_dir, "norvo-convert-bench");
    fs::create_directories(dir / "out");
    bench::ScannedPhotos scanned = bench::MakeScannedPhotos(dir, options.count);
    const std::vector<std::string>& photos = scanned.files;
    catalog::Catalog* c = scanned.catalog.get();

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
                options.count, options.quality, options.runs);
    std::printf("%-40s %9.0f  %6.1f photos/s\n", "norvo convert", mine, options.count * 1000.0 / mine);
    std::printf("%-40s %9.0f  %6.1f photos/s\n", "vipsthumbnail --size 1600", theirs,
                options.count * 1000.0 / theirs);
    std::printf("%-40s %9.2f x  >=1.5 %s\n", "throughput ratio", ratio, ratio >= 1.5 ? "PASS" : "MISS");
    scanned.catalog.reset();
    if (!options.keep) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "convert_bench: %s\n", e.what());
    return 1;
  }
}
