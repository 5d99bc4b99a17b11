// SPDX-License-Identifier: GPL-3.0-or-later
// metadata_bench: reads the metadata of 660 JPEG and TIFF files (copies of
// the test photos under other names) and compares the time with `exiv2 -pa`
// and `exiftool -fast -j` over the same files, each in one process, warm
// cache. Our side is timed twice: in this process (read, field texts,
// merged annotations) and as `norvo-cli metadata FILES --json`, one process
// like the peers. The goal is judged on the in-process time; the norvo-cli
// column shows what a user's command costs, start-up (loading every media
// library the program links) included. Every time is the median of the runs.
//
//   metadata_bench [--runs N] [--files N] [--dir DIR] [--keep]

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "metadata/annotation_import.h"
#include "metadata/image_file_reader.h"
#include "metadata/field_format.h"
#include "metadata/metadata_fields.h"
#include "platform/file_spec.h"

using namespace norvo;
namespace fs = std::filesystem;
namespace md = norvo::metadata;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::TimeCommand;

bench::RunOptions ParseOptions(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, {"--runs", "--files", "--dir"}, {"--keep"},
                        "metadata_bench [--runs N] [--files N] [--dir DIR] [--keep]");
  return bench::ReadRunOptions(args, "--files", 7, 660, 1);
}

// Copies of every JPEG and TIFF test photo, round-robin, under new names.
std::vector<std::string> MakeFiles(const fs::path& dir, int count) {
  std::vector<fs::path> sources;
  const fs::path photos = fs::path(NORVO_TESTDATA_DIR) / "photos";
  for (const auto& e : fs::recursive_directory_iterator(photos)) {
    std::string ext = e.path().extension().string();
    if (e.is_regular_file() && (ext == ".jpg" || ext == ".tiff")) sources.push_back(e.path());
  }
  std::sort(sources.begin(), sources.end());
  if (sources.empty()) throw std::runtime_error("no test photos in " + photos.string());
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    const fs::path& from = sources[static_cast<std::size_t>(i) % sources.size()];
    char name[32];
    std::snprintf(name, sizeof name, "photo_%04d", i);
    fs::path to = dir / (name + from.extension().string());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    files.push_back(to.string());
  }
  return files;
}

// What `norvo-cli metadata` does for each file, without the JSON text.
std::size_t ReadAll(const std::vector<std::string>& files) {
  std::size_t produced = 0;
  for (const std::string& path : files) {
    FileSpec spec;
    if (MakeFileSpec(path, spec) != err::kNone) throw std::runtime_error("cannot find " + path);
    md::ImageMetadata m;
    if (md::ReadImageMetadata(spec, false, &m) != err::kNone) throw std::runtime_error("cannot read " + path);
    for (const md::MetadataField& f : md::MetadataFieldsOf(m.list)) {
      produced += md::FormatFieldValueJson(f.value, md::FieldValueType(f.id), f.id, true).size();
    }
    produced += md::AnnotationsFromMetadata(m.list, m.image_resources).size();
    produced += md::ColourProfileName(m).size();
  }
  return produced;
}

struct Row {
  std::string peer;
  double peer_ms;
  double goal;  // the peer must take at least this many times our time
};

}  // namespace

int main(int argc, char** argv) {
  try {
    bench::RunOptions options = ParseOptions(argc, argv);
    fs::path base = options.base_dir.empty() ? fs::temp_directory_path() : fs::path(options.base_dir);
    fs::path dir = base / ("norvo-metadata-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::vector<std::string> files = MakeFiles(dir, options.count);
    const std::string cli = (fs::path(argv[0]).parent_path() / ".." / "cli" / "norvo-cli").lexically_normal();

    std::vector<std::string> cli_args = {cli, "metadata"};
    cli_args.insert(cli_args.end(), files.begin(), files.end());
    cli_args.push_back("--json");
    std::vector<std::string> exiv2_args = {"exiv2", "-pa"};
    exiv2_args.insert(exiv2_args.end(), files.begin(), files.end());
    std::vector<std::string> exiftool_args = {"exiftool", "-fast", "-j"};
    exiftool_args.insert(exiftool_args.end(), files.begin(), files.end());
    const bool have_exiv2 = bench::HaveProgram("exiv2");
    const bool have_exiftool = bench::HaveProgram("exiftool");

    std::map<std::string, std::vector<double>> s;
    std::size_t produced = 0;
    for (int round = -1; round < options.runs; ++round) {  // round -1 warms the cache
      auto start = Clock::now();
      produced = ReadAll(files);
      double in_process = MsSince(start);
      double cli_ms = TimeCommand(cli_args);
      // exiv2 exits with a failure for files without EXIF; its time counts all the same.
      double exiv2_ms = have_exiv2 ? TimeCommand(exiv2_args, false, true) : 0;
      double exiftool_ms = have_exiftool && (round < 2 || options.runs <= 3) ? TimeCommand(exiftool_args, false, true) : 0;
      if (round < 0) continue;
      s["ours"].push_back(in_process);
      s["cli"].push_back(cli_ms);
      if (have_exiv2) s["exiv2"].push_back(exiv2_ms);
      if (have_exiftool && exiftool_ms > 0) s["exiftool"].push_back(exiftool_ms);
    }
    const double ours = Median(s["ours"]);
    const double cli_ms = Median(s["cli"]);
    std::printf("%zu files, %d runs; in process %.1f ms (%.3f ms per file, %zu bytes of text), norvo-cli %.1f ms\n",
                files.size(), options.runs, ours, ours / static_cast<double>(files.size()), produced, cli_ms);
    std::vector<Row> rows;
    if (have_exiv2) rows.push_back({"exiv2 -pa", Median(s["exiv2"]), 3});
    if (have_exiftool) rows.push_back({"exiftool -fast -j", Median(s["exiftool"]), 30});
    std::printf("\n%-20s %10s  %16s %8s  %16s %8s  %s\n", "peer", "peer ms", "x in-process", "goal", "x norvo-cli",
                "goal", "result");
    for (const Row& r : rows) {
      double x_in = r.peer_ms / ours;
      double x_cli = r.peer_ms / cli_ms;
      std::printf("%-20s %10.1f  %16.1f %8s  %16.1f %8s  %s\n", r.peer.c_str(), r.peer_ms, x_in,
                  (">=" + std::to_string(static_cast<int>(r.goal))).c_str(), x_cli,
                  (">=" + std::to_string(static_cast<int>(r.goal))).c_str(), x_in >= r.goal ? "PASS" : "MISS");
    }
    if (!have_exiv2 || !have_exiftool) std::printf("(a peer is not installed: run scripts/setup.sh)\n");
    if (!options.keep) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "metadata_bench: %s\n", e.what());
    return 1;
  }
}
