// SPDX-License-Identifier: GPL-3.0-or-later
// scan_bench: import and scan throughput against the thumbnail makers.
//
// Photos: 400 camera JPEGs of 4 to 9 megapixels. The test photos are small,
// so the set is made from them with vips: enlarged 4 to 6 times, with a
// little noise so they compress like camera files (1.5 to 3.5 MB), EXIF kept.
// Each is copied under 100 names. Then, warm cache, both cores:
//   ours      ImportFiles + ScanItems (2 workers) into a new catalog at its
//             default thumbnail size, in this process; and `norvo-cli import`
//   vips      one `vipsthumbnail -s SIZE` over all files, VIPS_CONCURRENCY=2
//   djpeg     `djpeg -scale 1/8 -dct fast` per file, two processes at a time
// Goals: at least 1.5 x vips's throughput and 0.8 x djpeg's.
//
// Movies: 12 ten-second 1280 x 720 H.264 files (made with ffmpeg), ours
// against `ffmpegthumbnailer -s SIZE` per file, two at a time.
//
//   scan_bench [--runs N] [--photos N] [--dir DIR] [--keep]

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/camera_photos.h"
#include "catalog/catalog.h"
#include "media/import.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "platform/file_spec.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

using bench::MakePhotos;
using bench::Shell;

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::TimeCommand;

struct Options {
  int runs = 3;
  int photos = 400;
  int movies = 12;
  std::string base_dir;
  bool keep = false;
};

Options ParseOptions(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, {"--runs", "--photos", "--movies", "--dir"}, {"--keep"},
                        "scan_bench [--runs N] [--photos N] [--movies N] [--dir DIR] [--keep]");
  Options o;
  o.runs = args.number("--runs", o.runs, 1);
  o.photos = args.number("--photos", o.photos, 2);
  o.movies = args.number("--movies", o.movies, 0);
  o.base_dir = args.text("--dir");
  o.keep = args.flag("--keep");
  return o;
}

std::vector<std::string> MakeMovies(const fs::path& dir, int count) {
  fs::create_directories(dir / "movies");
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    fs::path out = dir / "movies" / ("clip_" + std::to_string(i) + ".mp4");
    if (i == 0) {
      Shell("ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=30 -f lavfi -i "
            "sine=frequency=440:sample_rate=48000 -t 10 -c:v libx264 -preset veryfast -g 60 -c:a aac '" +
            out.string() + "'");
    } else {
      fs::copy_file(files.front(), out, fs::copy_options::overwrite_existing);
    }
    files.push_back(out.string());
  }
  return files;
}

// Imports `folder` into a new catalog and scans it; returns the time.
double ImportAndScan(const fs::path& folder, const fs::path& scratch, int* scanned) {
  std::unique_ptr<catalog::Catalog> c;
  FileSpec scratch_spec;
  if (!FileSpecFilled(MakeFileSpec(scratch.string(), scratch_spec))) throw std::runtime_error("scratch spec");
  if (catalog::CreateCatalog(nullptr, scratch_spec, {}, {}, c) != err::kNone) throw std::runtime_error("catalog");
  FileSpec spec;
  if (MakeFileSpec(folder.string(), spec) != err::kNone) throw std::runtime_error("folder spec");
  const auto start = Clock::now();
  int added = 0;
  if (media::ImportFiles(*c, {spec}, {}, &added) != err::kNone) throw std::runtime_error("import failed");
  media::ScanOptions options;
  options.thumbnail_size = media::CatalogThumbnailSize(*c);
  media::ScanSummary summary;
  std::vector<std::uint32_t> pending = media::PendingItems(*c);
  if (media::ScanItems(*c, pending, 2, options, {}, &summary) != err::kNone) throw std::runtime_error("scan failed");
  const double ms = MsSince(start);
  *scanned = summary.scanned;
  return ms;
}

// Runs one command per file, `parallel` at a time, as `xargs -P` would.
double TimePerFile(const std::string& command_prefix, const std::vector<std::string>& files, int parallel) {
  fs::path list = fs::temp_directory_path() / ("norvo-bench-list-" + std::to_string(::getpid()));
  {
    FILE* f = std::fopen(list.c_str(), "w");
    for (const auto& file : files) std::fprintf(f, "%s\n", file.c_str());
    std::fclose(f);
  }
  std::string command = "xargs -d '\\n' -P " + std::to_string(parallel) + " -n 1 " + command_prefix + " < '" +
                        list.string() + "' > /dev/null 2>&1";
  const auto start = Clock::now();
  int rc = std::system(command.c_str());
  const double ms = MsSince(start);
  fs::remove(list);
  if (rc != 0) throw std::runtime_error("failed: " + command);
  return ms;
}

void PrintRow(const char* what, double ours, const char* peer, double peer_ms, double goal) {
  const double ratio = peer_ms / ours;  // throughput of ours / throughput of the peer
  std::printf("%-24s %9.0f  %-44s %9.0f  %6.2f x  ", what, ours, peer, peer_ms, ratio);
  if (goal > 0) {
    std::printf(">=%-4.2g %s\n", goal, ratio >= goal ? "PASS" : "MISS");
  } else {
    std::printf("%-6s info\n", "-");
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options options = ParseOptions(argc, argv);
    for (const char* program : {"vips", "vipsthumbnail", "djpeg", "ffmpeg", "ffmpegthumbnailer", "xargs"}) {
      if (!bench::HaveProgram(program)) throw std::runtime_error(std::string(program) + " is missing: run scripts/setup.sh");
    }
    if (media::InitMediaTypes(media::FindPlatformComponents()) != err::kNone) throw std::runtime_error("no readers");
    fs::path base = options.base_dir.empty() ? fs::temp_directory_path() : fs::path(options.base_dir);
    fs::path dir = base / ("norvo-scan-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "out");
    std::printf("making %d photos and %d movies in %s ...\n", options.photos, options.movies, dir.c_str());
    std::vector<std::string> photos = MakePhotos(dir, options.photos);
    std::vector<std::string> movies = MakeMovies(dir, options.movies);
    const int size = media::kDefaultThumbnailSize;
    const std::string cli = (fs::path(argv[0]).parent_path() / ".." / "cli" / "norvo-cli").lexically_normal();

    std::map<std::string, std::vector<double>> s;
    int scanned = 0;
    for (int round = -1; round < options.runs; ++round) {  // round -1 warms the cache
      double ours = ImportAndScan(dir / "photos", dir / "scratch", &scanned);
      fs::remove(dir / "scratch");
      fs::remove(dir / "bench.nrk");
      TimeCommand({cli, "new", (dir / "bench.nrk").string()});
      double cli_ms = TimeCommand({cli, "import", (dir / "bench.nrk").string(), (dir / "photos").string()});
      fs::remove(dir / "bench.nrk");
      ::setenv("VIPS_CONCURRENCY", "2", 1);
      std::vector<std::string> vips = {"vipsthumbnail", "-s", std::to_string(size), "-o",
                                       (dir / "out").string() + "/%s.jpg"};
      vips.insert(vips.end(), photos.begin(), photos.end());
      double vips_ms = TimeCommand(vips);
      double djpeg_ms = TimePerFile("djpeg -scale 1/8 -dct fast -outfile /dev/null", photos, 2);
      int movies_scanned = 0;
      double movie_ours =
          options.movies > 0 ? ImportAndScan(dir / "movies", dir / "scratch-movies", &movies_scanned) : 0;
      if (movies_scanned != options.movies || scanned != options.photos) {
        throw std::runtime_error("not every file was scanned: " + std::to_string(scanned) + " photos, " +
                                 std::to_string(movies_scanned) + " movies");
      }
      double movie_peer = options.movies > 0
                              ? TimePerFile("ffmpegthumbnailer -s " + std::to_string(size) + " -o /dev/null -i",
                                            movies, 2)
                              : 0;
      fs::remove(dir / "scratch-movies");
      if (round < 0) continue;
      s["ours"].push_back(ours);
      s["cli"].push_back(cli_ms);
      s["vips"].push_back(vips_ms);
      s["djpeg"].push_back(djpeg_ms);
      s["movie ours"].push_back(movie_ours);
      s["movie peer"].push_back(movie_peer);
    }
    const double ours = Median(s["ours"]);
    std::printf("\n%zu photos (4.4 to 7.7 megapixels), thumbnail size %d, %d runs, medians in ms\n", photos.size(),
                size, options.runs);
    std::printf("ours: %.0f ms = %.1f photos/s, %.2f ms per photo per core\n", ours,
                1000.0 * static_cast<double>(photos.size()) / ours, 2 * ours / static_cast<double>(photos.size()));
    std::printf("\n%-24s %9s  %-44s %9s  %8s  %s\n", "ours", "ms", "peer", "ms", "speed", "goal");
    PrintRow("import + scan", ours, "vipsthumbnail -s 250 (VIPS_CONCURRENCY=2)", Median(s["vips"]), 1.5);
    PrintRow("import + scan", ours, "djpeg -scale 1/8 -dct fast, 2 processes", Median(s["djpeg"]), 0.8);
    PrintRow("norvo-cli import (+save)", Median(s["cli"]), "vipsthumbnail -s 250 (VIPS_CONCURRENCY=2)",
             Median(s["vips"]), 0);
    if (options.movies > 0) {
      PrintRow("movies: import + scan", Median(s["movie ours"]), "ffmpegthumbnailer -s 250, 2 processes",
               Median(s["movie peer"]), 0);
    }
    std::printf("(camera raw files: none in the test data, not measured)\n");
    if (!options.keep) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scan_bench: %s\n", e.what());
    return 1;
  }
}
