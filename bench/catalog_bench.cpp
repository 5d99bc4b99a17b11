// SPDX-License-Identifier: GPL-3.0-or-later
// catalog_bench: builds a full catalog (8000 items, thumbnails of 4-12 KB) in
// a temporary folder and times opening and saving it next to commands doing
// comparable file work: `cat` for opening, `cp` (and `sync`) for save-as,
// save-as for saving in place. It also reports the memory an open catalog
// takes, and how long `norvo-cli info` takes to start on a small catalog:
// as built (the media reader plug-ins left until a file needs them) against
// the same program with every plug-in opened at start, which is what every
// command paid when FFmpeg, Poppler, libheif and LibRaw were linked in.
// Every time is the median of warm-cache runs.
//
//   catalog_bench [--runs N] [--dir DIR] [--keep] [--old-cli PATH]
//     --dir DIR       make the work folder in DIR instead of $TMPDIR or /tmp
//     --keep          leave the work folder (and its catalog) in place
//     --old-cli PATH  also time another norvo-cli (an older build) starting

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "catalog/catalog.h"
#include "catalog/save.h"

using namespace norvo;
using namespace norvo::catalog;
namespace fs = std::filesystem;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::Check;
using bench::Spec;
using bench::TimeCommand;
using Samples = std::map<std::string, std::vector<double>>;
using Probe = std::function<void(Samples&)>;

constexpr int kItems = kMaxCatalogItems;
constexpr int kWarmUpRounds = 2;
constexpr std::uint32_t kSeed = 20240611;

// Start-up is a few tens of milliseconds: more runs for a steady median.
constexpr int kMinStartupRuns = 40;

struct Options {
  int runs = 15;
  std::string base_dir;
  bool keep = false;
  std::string cli;      // the norvo-cli built beside this benchmark
  std::string old_cli;  // another build to compare with, or ""
};




long RssKiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::vector<std::uint8_t> RandomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() >> 24);
  return out;
}

// A photo-like record: names, sizes, dates, a caption, a few metadata bytes
// and an incompressible thumbnail of 4-12 KB (8 KB on average).
ItemRecord MakeRecord(std::mt19937& rng, int n) {
  ItemRecord r;
  char name[32];
  std::snprintf(name, sizeof name, "IMG_%04d.JPG", n);
  r.file_name.set(name);
  r.display_name.set(name);
  r.type_code = 0x4A504547;  // 'JPEG'
  r.file_size = std::uniform_int_distribution<std::uint32_t>(1'500'000, 6'000'000)(rng);
  r.width = 4000;
  r.height = 3000;
  r.resolution = 72;
  r.depth = 24;
  r.created = r.modified = 3'900'000'000u + static_cast<std::uint32_t>(n) * 60;
  r.thumbnail = RandomBytes(rng, std::uniform_int_distribution<std::size_t>(4096, 12288)(rng));
  const std::string caption = "Holiday photo " + std::to_string(n);
  r.annotations = {0x1C, 2, 120, 0, static_cast<std::uint8_t>(caption.size())};
  r.annotations.insert(r.annotations.end(), caption.begin(), caption.end());
  r.metadata = RandomBytes(rng, 24);
  r.syncPartLengths();
  return r;
}

// Runs every probe once per round, side by side, so that any drift of the
// machine touches them all alike; the first rounds only warm the caches.
Samples RunRounds(int runs, const std::vector<Probe>& probes) {
  Samples kept, dropped;
  for (int round = 0; round < kWarmUpRounds + runs; ++round) {
    for (const auto& probe : probes) probe(round < kWarmUpRounds ? dropped : kept);
  }
  return kept;
}

struct Row {
  std::string what;
  double value;
  std::string peer;
  double peer_value;
  double goal;  // largest passing ratio; 0 for figures without a goal
};

class Bench {
 public:
  explicit Bench(std::string dir) : dir_(std::move(dir)) {}
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::unique_ptr<Catalog> open(const std::string& file) {
    std::unique_ptr<Catalog> catalog;
    FileSpec location = file.empty() ? FileSpec{} : Spec(file);
    Check(CreateCatalog(file.empty() ? nullptr : &location, Spec(path("scratch")), {}, {}, catalog), "open " + file);
    return catalog;
  }

  // Gives one item a new thumbnail of the same size.
  void changeThumbnail(Catalog& catalog, int cell) {
    ItemRecord r;
    Check(GetItemRecord(catalog, cell, kWholeRecord, r), "read item");
    r.thumbnail = RandomBytes(rng_, r.thumbnail.size());
    Check(ReplaceItemParts(catalog, cell, r, parts::kThumbnail), "replace thumbnail");
  }

  // A fresh copy of `from`, flushed, so that a later save's fdatasync only
  // pays for what that save wrote.
  void freshCopy(const std::string& from, const std::string& to) {
    fs::remove(to);
    fs::copy_file(from, to);
    int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) throw std::runtime_error("fsync " + to);
    ::close(fd);
  }

  // Opens `file`, changes item `cell` (none when 0) and times saving it as a
  // new file `dest`.
  double timeSaveAs(const std::string& file, int cell, const std::string& dest) {
    auto catalog = open(file);
    if (cell > 0) changeThumbnail(*catalog, cell);
    fs::remove(dest);
    FileSpec target = Spec(dest);
    auto start = Clock::now();
    Check(SaveCatalog(*catalog, &target, {}), "save as");
    double ms = MsSince(start);
    CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
    fs::remove(dest);
    return ms;
  }

  std::mt19937& rng() { return rng_; }

 private:
  std::string dir_;
  std::mt19937 rng_{kSeed};
};

void PrintTable(const std::vector<Row>& rows) {
  std::printf("\n%-38s %11s  %-30s %11s  %8s  %-7s %s\n", "measurement", "norvo", "peer", "peer", "ratio",
              "goal", "result");
  for (const auto& r : rows) {
    const double ratio = r.value / r.peer_value;
    std::printf("%-38s %11.3f  %-30s %11.3f  %8.4f  ", r.what.c_str(), r.value, r.peer.c_str(), r.peer_value, ratio);
    if (r.goal > 0) {
      std::printf("<=%-5.3g %s\n", r.goal, ratio <= r.goal ? "PASS" : "MISS");
    } else {
      std::printf("%-7s %s\n", "-", "info");
    }
  }
  std::printf("(times in ms, medians; memory in KiB)\n");
}

// Builds the catalog: kItems photo-like items in 32 folders, saved as `file`.
void BuildCatalog(Bench& b, const std::string& file) {
  auto catalog = b.open("");
  for (int n = 1; n <= kItems; ++n) {
    const std::string folder = "/home/user/Pictures/2024/Roll " + std::to_string((n - 1) / 250 + 1);
    Check(AddItem(*catalog, MakeRecord(b.rng(), n), folder), "add item");
  }
  FileSpec dest = Spec(file);
  Check(SaveCatalog(*catalog, &dest, {}), "save new catalog");
  CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
}

// The catalog keeps its cells in memory; the records stay on disk.
void MeasureMemory(Bench& b, const std::string& file, double file_bytes, std::vector<Row>& table) {
  malloc_trim(0);
  const long rss_before = RssKiB();
  const std::size_t heap_before = mallinfo2().uordblks;
  auto catalog = b.open(file);
  const long rss_after = RssKiB();
  const std::size_t heap_after = mallinfo2().uordblks;
  const std::size_t model = sizeof(Catalog) + catalog->cells.capacity() * kCellSize;
  std::printf("memory: VmRSS %ld KiB before open, %ld KiB after, +%ld KiB; heap in use +%.1f KiB\n", rss_before,
              rss_after, rss_after - rss_before, (static_cast<double>(heap_after) - heap_before) / 1024);
  std::printf("        sizeof(Catalog) %zu B + %zu cells x %zu B = %.1f KiB, against a %.0f KiB file\n",
              sizeof(Catalog), catalog->cells.capacity(), kCellSize, model / 1024.0, file_bytes / 1024);
  CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
  table.push_back({"memory: VmRSS growth on open (KiB)", static_cast<double>(rss_after - rss_before),
                   "file size (KiB)", file_bytes / 1024, 0});
}

// Opening (and closing) against reading the whole file once.
void MeasureOpen(Bench& b, const std::string& file, int runs, std::vector<Row>& table) {
  Samples s = RunRounds(runs, {
      [&](Samples& out) {
        auto t0 = Clock::now();
        auto catalog = b.open(file);
        const double open_ms = MsSince(t0);
        auto t1 = Clock::now();
        CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
        const double close_ms = MsSince(t1);
        out["open"].push_back(open_ms);
        out["close"].push_back(close_ms);
        out["open+close"].push_back(open_ms + close_ms);
      },
      [&](Samples& out) { out["cat"].push_back(TimeCommand({"cat", file})); },
      [&](Samples& out) { out["true"].push_back(TimeCommand({"true"})); },
  });
  std::printf("open: %.3f ms, close %.3f ms, open+close %.3f ms; cat %.3f ms (starting any process: %.3f ms)\n",
              Median(s["open"]), Median(s["close"]), Median(s["open+close"]), Median(s["cat"]), Median(s["true"]));
  table.push_back({"open + close", Median(s["open+close"]), "cat FILE > /dev/null", Median(s["cat"]), 0.05});
  table.push_back({"open alone", Median(s["open"]), "cat FILE > /dev/null", Median(s["cat"]), 0.05});
}

// Runs `args` with the variable set (or unset when `value` is null) in the
// environment the child gets.
double TimeWithVariable(const std::vector<std::string>& args, const char* name, const char* value) {
  const char* old = std::getenv(name);
  const std::string saved = old ? old : "";
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
  const double ms = TimeCommand(args);
  if (old) {
    ::setenv(name, saved.c_str(), 1);
  } else {
    ::unsetenv(name);
  }
  return ms;
}

// `norvo-cli info` on an empty catalog: almost all of it is starting the
// process (mapping and initialising its libraries).
void MeasureStartup(Bench& b, const Options& opt, std::vector<Row>& table) {
  const std::string small = b.path("small.nrk");
  TimeCommand({opt.cli, "new", small});
  constexpr const char* kPreload = "NORVO_PRELOAD_PLUGINS";
  std::vector<Probe> probes = {
      [&](Samples& out) { out["info"].push_back(TimeWithVariable({opt.cli, "info", small, "--json"}, kPreload, nullptr)); },
      [&](Samples& out) {
        out["preloaded"].push_back(TimeWithVariable({opt.cli, "info", small, "--json"}, kPreload, "1"));
      },
      [&](Samples& out) { out["true"].push_back(TimeCommand({"true"})); },
  };
  if (!opt.old_cli.empty()) {
    probes.push_back([&](Samples& out) { out["old"].push_back(TimeCommand({opt.old_cli, "info", small, "--json"})); });
  }
  Samples s = RunRounds(std::max(opt.runs, kMinStartupRuns), probes);
  const double after = Median(s["info"]);
  const double before = Median(s["preloaded"]);
  std::printf("start-up (norvo-cli info, empty catalog): before %.1f ms (every reader plug-in opened at start), "
              "after %.1f ms; %.1fx faster (starting any process: %.1f ms)\n",
              before, after, before / after, Median(s["true"]));
  table.push_back({"norvo-cli info start-up", after, "same, plug-ins opened at start", before, 1.0 / 3});
  if (!opt.old_cli.empty()) {
    std::printf("start-up of %s: %.1f ms; %.1fx faster\n", opt.old_cli.c_str(), Median(s["old"]),
                Median(s["old"]) / after);
    table.push_back({"norvo-cli info start-up", after, "--old-cli info", Median(s["old"]), 1.0 / 3});
  }
}

// Saving in place after changing one item, against save-as of the same change.
void MeasureSaveInPlace(Bench& b, const std::string& file, int cell, const std::string& where, int runs,
                        std::vector<Row>& table) {
  const std::string work = b.path("work.nrk");
  const std::string copy = b.path("copy.nrk");
  Samples s = RunRounds(runs, {
      [&](Samples& out) {
        b.freshCopy(file, work);
        auto catalog = b.open(work);
        b.changeThumbnail(*catalog, cell);
        auto t0 = Clock::now();
        Check(SaveCatalog(*catalog, nullptr, {}), "save in place");
        out["in place"].push_back(MsSince(t0));
        CloseCatalog(std::move(catalog), catalog::CloseSettings::kLeave);
      },
      [&](Samples& out) { out["save-as"].push_back(b.timeSaveAs(file, cell, copy)); },
  });
  std::printf("save, %s item changed: in place %.3f ms, save-as %.3f ms\n", where.c_str(), Median(s["in place"]),
              Median(s["save-as"]));
  table.push_back({"save in place, " + where + " item changed", Median(s["in place"]), "save-as, same change",
                   Median(s["save-as"]), 0.10});
}

// Save-as against copying the file; the save ends with an fdatasync, hence
// the second peer, which flushes the copy the same way.
void MeasureSaveAs(Bench& b, const std::string& file, int runs, std::vector<Row>& table) {
  const std::string copy = b.path("copy.nrk");
  Samples s = RunRounds(runs, {
      [&](Samples& out) { out["save-as"].push_back(b.timeSaveAs(file, 0, copy)); },
      [&](Samples& out) {
        const double cp = TimeCommand({"cp", file, copy});
        const double sync = TimeCommand({"sync", copy});
        out["cp"].push_back(cp);
        out["cp+sync"].push_back(cp + sync);
        fs::remove(copy);
      },
  });
  std::printf("save-as: %.3f ms; cp %.3f ms, cp + sync %.3f ms\n", Median(s["save-as"]), Median(s["cp"]),
              Median(s["cp+sync"]));
  table.push_back({"save-as (unchanged catalog)", Median(s["save-as"]), "cp FILE DEST", Median(s["cp"]), 1.5});
  table.push_back({"save-as (unchanged catalog)", Median(s["save-as"]), "cp FILE DEST && sync DEST",
                   Median(s["cp+sync"]), 1.5});
}

void Run(Bench& b, const Options& opt) {
  const std::string file = b.path("photos.nrk");
  const auto start = Clock::now();
  BuildCatalog(b, file);
  const auto file_bytes = static_cast<double>(fs::file_size(file));
  std::printf("catalog: %d items, %.1f MiB, built and saved in %.0f ms; %d runs per figure\n\n", kItems,
              file_bytes / 1048576, MsSince(start), opt.runs);

  std::vector<Row> table;
  MeasureMemory(b, file, file_bytes, table);
  MeasureOpen(b, file, opt.runs, table);
  MeasureSaveInPlace(b, file, kItems, "last", opt.runs, table);
  MeasureSaveInPlace(b, file, kItems / 2, "middle", opt.runs, table);
  MeasureSaveAs(b, file, opt.runs, table);
  MeasureStartup(b, opt, table);
  PrintTable(table);
}

Options ParseOptions(int argc, char** argv) {
  Options opt;
  const char* tmp = std::getenv("TMPDIR");
  opt.base_dir = tmp && *tmp ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--keep") {
      opt.keep = true;
    } else if (arg == "--dir" && i + 1 < argc) {
      opt.base_dir = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      opt.runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--old-cli" && i + 1 < argc) {
      opt.old_cli = argv[++i];
    } else {
      throw std::invalid_argument("usage: catalog_bench [--runs N] [--dir DIR] [--keep] [--old-cli PATH]");
    }
  }
  opt.cli = (fs::path(argv[0]).parent_path() / ".." / "cli" / "norvo-cli").lexically_normal();
  return opt;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  try {
    opt = ParseOptions(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  std::string templ = opt.base_dir + "/norvo-bench-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) {
    std::perror(templ.c_str());
    return 1;
  }
  int rc = 0;
  try {
    Bench bench(templ);
    Run(bench, opt);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "catalog_bench: %s\n", e.what());
    rc = 1;
  }
  if (opt.keep) {
    std::printf("work folder kept: %s\n", templ.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(templ, ec);
  }
  return rc;
}
