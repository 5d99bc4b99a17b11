// SPDX-License-Identifier: GPL-3.0-or-later
// gallery_bench: the web gallery of 400 camera JPEGs against thumbnail
// makers and gallery makers.
//
// Photos: 400 camera JPEGs of 4 to 9 megapixels (bench/camera_photos.h),
// imported and scanned into a catalog first (not timed). Then, warm cache,
// both cores, each timed `--runs` times (median):
//   ours    RunGallery with 96-pixel thumbnails and 640 x 480 renditions
//           (every file decoded once, on 2 workers), pages included
//   vips    `vipsthumbnail -s 96` and `vipsthumbnail -s 640x480` over all
//           files, VIPS_CONCURRENCY=2: the two pictures per photo without
//           any page; their times are added
//   fgallery, llgal   whole gallery makers, when installed (information only)
// Goal: at least 1.5 x the throughput of the two vipsthumbnail runs.
//
//   gallery_bench [--runs N] [--photos N] [--dir DIR] [--keep] [--no-llgal]

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
#include "output/gallery_export.h"
#include "output/gallery_settings.h"
#include "platform/file_spec.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::Shell;

struct Options : bench::RunOptions {
  bool llgal = true;  // one thread: minutes for 400 photos
};

Options ParseOptions(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, {"--runs", "--photos", "--dir"}, {"--keep", "--no-llgal"},
                        "gallery_bench [--runs N] [--photos N] [--dir DIR] [--keep] [--no-llgal]");
  Options o{bench::ReadRunOptions(args, "--photos", 3, 400, 2)};
  o.llgal = !args.flag("--no-llgal");
  return o;
}

double TimeGallery(catalog::Catalog& c, const fs::path& out) {
  fs::remove_all(out);
  const std::vector<std::uint8_t> settings = output::SerializeGallerySettings(output::GallerySettings{});
  output::GalleryRequest request;
  request.settings_record = settings;
  request.destination = out.string();
  request.jobs = 2;
  const auto start = Clock::now();
  const output::GalleryOutcome outcome = output::RunGallery(c, request);
  const double ms = MsSince(start);
  if (outcome.result != output::GalleryResult::kDone) {
    throw std::runtime_error("gallery result " + std::to_string(static_cast<int>(outcome.result)));
  }
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    bench::RequirePrograms({"vips", "vipsthumbnail"});
    if (media::InitMediaTypes(media::FindPlatformComponents()) != err::kNone) throw std::runtime_error("no readers");
    const fs::path dir = bench::WorkFolder(options.base_dir, "norvo-gallery-bench");
    fs::create_directories(dir / "out");
    bench::ScannedPhotos scanned = bench::MakeScannedPhotos(dir, options.count);
    const std::vector<std::string>& photos = scanned.files;
    catalog::Catalog* c = scanned.catalog.get();

    // Warm the cache once, then the runs.
    (void)TimeGallery(*c, dir / "out" / "norvo");
    std::vector<double> ours, vips_small, vips_large, fgallery, llgal;
    const bool have_fgallery = bench::HaveProgram("fgallery") && bench::HaveProgram("exiftran");
    const bool have_llgal = options.llgal && bench::HaveProgram("llgal");
    ::setenv("VIPS_CONCURRENCY", "2", 1);
    for (int run = 0; run < options.runs; ++run) {
      ours.push_back(TimeGallery(*c, dir / "out" / "norvo"));
      fs::remove_all(dir / "out" / "vips");
      fs::create_directories(dir / "out" / "vips");
      const std::string out = (dir / "out" / "vips").string();
      vips_small.push_back(bench::TimeShell("vipsthumbnail -s 96 -o '" + out + "/%s_t.jpg'" + bench::ShellWords(photos)));
      vips_large.push_back(bench::TimeShell("vipsthumbnail -s 640x480 -o '" + out + "/%s_m.jpg'" + bench::ShellWords(photos)));
      if (have_fgallery && run == 0) {  // minutes for 400 photos: once
        fs::remove_all(dir / "out" / "fgallery");
        fgallery.push_back(bench::TimeShell("fgallery -j 2 -s -d -k --no-sRGB --max-full 640x480 '" + (dir / "photos").string() +
                                     "' '" + (dir / "out" / "fgallery").string() + "'"));
      }
      if (have_llgal && run == 0) {  // one thread and slow: once
        fs::remove_all(dir / "photos" / ".llgal");
        fs::remove(dir / "photos" / "index.html");
        llgal.push_back(bench::TimeShell("cd '" + (dir / "photos").string() + "' && llgal --tx 96 --ty 96 --sx 640 --sy 480"));
        fs::remove_all(dir / "photos" / ".llgal");
        fs::remove(dir / "photos" / "index.html");
        for (const auto& e : fs::directory_iterator(dir / "photos")) {
          if (e.path().extension() == ".html") fs::remove(e.path());
        }
      }
    }
    const double mine = Median(ours), small = Median(vips_small), large = Median(vips_large);
    const double ratio = (small + large) / mine;
    std::printf("\n%d photos, 96 px thumbnails and 640 x 480 renditions, 2 threads, median of %d runs (ms)\n",
                options.count, options.runs);
    std::printf("%-40s %9.0f\n", "norvo gallery (pictures and pages)", mine);
    std::printf("%-40s %9.0f\n", "vipsthumbnail -s 96", small);
    std::printf("%-40s %9.0f\n", "vipsthumbnail -s 640x480", large);
    std::printf("%-40s %9.0f  %5.2f x  >=1.5 %s\n", "both vipsthumbnail runs", small + large, ratio,
                ratio >= 1.5 ? "PASS" : "MISS");
    if (have_fgallery) {
      std::printf("%-40s %9.0f  %5.2f x  info\n", "fgallery -j 2 (one run)", Median(fgallery),
                  Median(fgallery) / mine);
    } else {
      std::printf("%-40s %9s\n", "fgallery", "not installed");
    }
    if (have_llgal) {
      std::printf("%-40s %9.0f  %5.2f x  info\n", "llgal (one thread, one run)", Median(llgal), Median(llgal) / mine);
    } else {
      std::printf("%-40s %9s\n", "llgal", options.llgal ? "not installed" : "not run");
    }
    scanned.catalog.reset();
    if (!options.keep) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gallery_bench: %s\n", e.what());
    return 1;
  }
}
