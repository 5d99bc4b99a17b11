// SPDX-License-Identifier: GPL-3.0-or-later
// Camera import of 400 camera-sized JPEGs from libgphoto2's directory
// camera (a folder with DCIM/100TEST over a "disk:" port), against what a
// user would otherwise run: `gphoto2 --get-all-files` of the same camera
// into a folder, then `norvo-cli import` of that folder (which scans too).
//
// Ours: `norvo-cli camera import` (download under temporary names, size
// check, rename, import, scan, save). It flushes the copies to the disk
// before the catalog that points at them is saved; gphoto2 does not, so the
// peer is timed with a `sync` after gphoto2 as well as without it. The two
// take turns at going first; a first round warms the caches. A last pair
// leaves the scan out, to show the download and import alone.
//
//   ./camera_bench [--runs N] [--photos N] [--dir DIR] [--keep]
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/camera_photos.h"

namespace fs = std::filesystem;
using namespace norvo;
using bench::Median;
using bench::TimeCommand;
using bench::TimeShell;

namespace {

int CountFiles(const fs::path& folder) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

void PrintRow(const char* what, double ours, const char* peer, double peer_ms, double goal) {
  const double ratio = peer_ms / ours;  // how many times faster ours is
  std::printf("%-30s %8.0f  %-52s %8.0f  %5.2f x  ", what, ours, peer, peer_ms, ratio);
  if (goal > 0) {
    std::printf(">=%-4.2g %s\n", goal, ratio >= goal ? "PASS" : "MISS");
  } else {
    std::printf("info\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    bench::BenchArgs args(argc, argv, {"--runs", "--photos", "--dir"}, {"--keep"},
                          "camera_bench [--runs N] [--photos N] [--dir DIR] [--keep]");
    const int runs = args.number("--runs", 3, 1);
    const int count = args.number("--photos", 400, 1);
    for (const char* program : {"gphoto2", "vips", "sync"}) {
      if (!bench::HaveProgram(program)) throw std::runtime_error(std::string(program) + " is missing: run scripts/setup.sh");
    }
    const fs::path base = args.text("--dir").empty() ? fs::temp_directory_path() : fs::path(args.text("--dir"));
    const fs::path dir = base / ("norvo-camera-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::printf("making %d photos in %s ...\n", count, dir.c_str());
    bench::MakePhotos(dir, count);
    const fs::path card = dir / "card";
    fs::create_directories(card / "DCIM");
    fs::rename(dir / "photos", card / "DCIM" / "100TEST");
    const std::string port = "disk:" + card.string();
    const std::string cli = (fs::path(argv[0]).parent_path() / ".." / "cli" / "norvo-cli").lexically_normal();

    // Each side gets a fresh folder and a fresh catalog every round.
    auto fresh = [&](const std::string& name) {
      fs::remove_all(dir / name);
      fs::create_directories(dir / name / "files");
      fs::remove(dir / (name + ".nrk"));
      TimeCommand({cli, "new", (dir / (name + ".nrk")).string()});
      // What an earlier run left in the cache is written out now, untimed,
      // so that no run's flush pays for another's files.
      ::sync();
    };
    auto ours = [&](bool scan) {
      fresh("ours");
      std::vector<std::string> command = {cli,    "camera",       "import", (dir / "ours.nrk").string(),
                                          "--port", port,         "--model", "Mass storage",
                                          "--dest", (dir / "ours" / "files").string()};
      if (!scan) command.push_back("--no-scan");
      const double ms = TimeCommand(command);
      if (CountFiles(dir / "ours" / "files") != count) throw std::runtime_error("ours: not every photo arrived");
      return ms;
    };
    auto peer = [&](bool flush, bool scan, double* download_ms) {
      fresh("peer");
      const std::string files = (dir / "peer" / "files").string();
      double ms = TimeShell("gphoto2 --quiet --port '" + port + "' --camera 'Directory Browse' --get-all-files " +
                            "--filename '" + files + "/%f.%C'" + (flush ? " && sync" : ""));
      *download_ms = ms;
      std::vector<std::string> command = {cli, "import", (dir / "peer.nrk").string(), files};
      if (!scan) command.push_back("--no-scan");
      ms += TimeCommand(command);
      if (CountFiles(dir / "peer" / "files") != count) throw std::runtime_error("peer: not every photo arrived");
      return ms;
    };

    std::map<std::string, std::vector<double>> s;
    for (int round = -1; round < runs; ++round) {  // round -1 warms the caches
      double o = 0, p = 0, p_nosync = 0, download = 0, download_nosync = 0, o_noscan = 0, p_noscan = 0, ignored = 0;
      if (round % 2 == 0) {
        o = ours(true);
        p = peer(true, true, &download);
        p_nosync = peer(false, true, &download_nosync);
        o_noscan = ours(false);
        p_noscan = peer(true, false, &ignored);
      } else {
        p = peer(true, true, &download);
        p_nosync = peer(false, true, &download_nosync);
        o = ours(true);
        p_noscan = peer(true, false, &ignored);
        o_noscan = ours(false);
      }
      if (round < 0) continue;
      s["ours"].push_back(o);
      s["peer"].push_back(p);
      s["peer nosync"].push_back(p_nosync);
      s["gphoto2"].push_back(download);
      s["gphoto2 nosync"].push_back(download_nosync);
      s["ours noscan"].push_back(o_noscan);
      s["peer noscan"].push_back(p_noscan);
    }
    std::printf("\n%d camera JPEGs from the directory camera, %d runs, medians in ms\n", count, runs);
    std::printf("\n%-30s %8s  %-52s %8s  %7s  %s\n", "ours", "ms", "peer", "ms", "speed", "goal");
    PrintRow("norvo-cli camera import", Median(s["ours"]), "gphoto2 --get-all-files, sync, norvo-cli import",
             Median(s["peer"]), 1.0);
    PrintRow("norvo-cli camera import", Median(s["ours"]), "gphoto2 --get-all-files, norvo-cli import (no sync)",
             Median(s["peer nosync"]), 0);
    PrintRow("... --no-scan", Median(s["ours noscan"]), "gphoto2 --get-all-files, sync, norvo-cli import --no-scan",
             Median(s["peer noscan"]), 0);
    std::printf("(of the peer: gphoto2 with sync %.0f ms, without %.0f ms)\n", Median(s["gphoto2"]),
                Median(s["gphoto2 nosync"]));
    if (!args.flag("--keep")) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "camera_bench: %s\n", e.what());
    return 1;
  }
}
