// SPDX-License-Identifier: GPL-3.0-or-later
// search_bench: builds a full catalog (8000 photo-like items with captions,
// keywords, people, places, credits, camera texts and thumbnails) and times,
// on the open catalog, a quick search for a word and a sort by file name,
// next to `grep -c WORD CATALOG` over the same file. Every time is the median
// of warm-cache runs; the ratios are printed with their goals. With
// --scripts every third item is named and annotated in other scripts
// (Cyrillic, Greek, Japanese, Arabic, accented Latin), which the search folds
// and the sort collates through ICU rather than the ASCII table.
//
//   search_bench [--runs N] [--dir DIR] [--keep] [--word WORD] [--scripts]

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "catalog/catalog.h"
#include "catalog/save.h"
#include "fields/find_sort.h"
#include "metadata/annotation_block.h"
#include "metadata/field_table.h"
#include "metadata/metadata_list.h"

using namespace norvo;
using namespace norvo::catalog;
namespace fs = std::filesystem;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::Check;
using bench::Spec;

constexpr int kItems = kMaxCatalogItems;
constexpr int kWarmUpRounds = 2;
constexpr std::uint32_t kSeed = 20240612;

template <class T>
const T& Pick(std::mt19937& rng, const std::vector<T>& from) {
  return from[rng() % from.size()];
}

const std::vector<std::string> kWords = {"harbour", "sunset", "mountain", "family", "birthday", "beach", "snow",
                                         "city", "market", "garden", "portrait", "bridge", "river", "forest",
                                         "festival", "wedding", "train", "museum", "lake", "castle"};
const std::vector<std::string> kPeople = {"Anna Berg", "Tom Lee", "Maria Rossi", "Jan Novak", "Sara Kim",
                                          "Luis Ortega", "Emma Stone", "Ken Ito"};
const std::vector<std::string> kCities = {"Lisbon", "Oslo", "Kyoto", "Denver", "Porto", "Graz", "Quebec", "Perth"};
const std::vector<std::string> kCameras = {"Canon EOS 5D", "NIKON D750", "FUJIFILM X-T3", "SONY ILCE-7M3"};
// Words and name stems in other scripts, for --scripts.
const std::vector<std::string> kScriptWords = {"\u041c\u043e\u0441\u043a\u0432\u0430", "\u6771\u4eac\u30bf\u30ef\u30fc",
                                               "\u0391\u03b8\u03ae\u03bd\u03b1", "Z\u00fcrich",
                                               "\u0627\u0644\u0642\u0627\u0647\u0631\u0629", "Caf\u00e9 cr\u00e8me",
                                               "\u0421\u0435\u043c\u044c\u044f", "\u304a\u307e\u3064\u308a"};
const std::vector<std::string> kScriptStems = {"\u0424\u043e\u0442\u043e", "\u5199\u771f",
                                               "\u0395\u03b9\u03ba\u03cc\u03bd\u03b1", "\u00c9t\u00e9",
                                               "\u0635\u0648\u0631\u0629"};

std::vector<std::uint8_t> RandomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() >> 24);
  return out;
}

// A scanned photo as the catalog keeps it: names, facts, an incompressible
// thumbnail of 4-12 KB, annotations and a metadata list with camera texts.
// With `scripts` every third item has a name and words in other scripts.
ItemRecord MakeRecord(std::mt19937& rng, int n, bool scripts) {
  ItemRecord r;
  const bool other_script = scripts && n % 3 == 0;
  char number[16];
  std::snprintf(number, sizeof number, "_%05u.JPG", static_cast<unsigned>(rng() % 100000));
  const std::string name = (other_script ? Pick(rng, kScriptStems) : std::string("DSC")) + number;
  r.setFileName(name);
  r.setDisplayName(name);
  r.type_code = FourCC("JPEG");
  r.file_size = std::uniform_int_distribution<std::uint32_t>(1'500'000, 6'000'000)(rng);
  r.width = 6000;
  r.height = 4000;
  r.resolution = 300;
  r.depth = 24;
  r.created = r.modified = 3'900'000'000u + static_cast<std::uint32_t>(n) * 60;
  r.thumbnail = RandomBytes(rng, std::uniform_int_distribution<std::size_t>(4096, 12288)(rng));
  // Values stored as the annotation editor stores them: 8-bit when they fit.
  auto note = [&r](metadata::FieldId field, const std::string& utf8) {
    metadata::BlockText value = metadata::BlockTextFromUtf8(utf8);
    metadata::SetAnnotationText(field, 0, value.bytes, r.annotations, metadata::SetMode::kAppend, value.marker);
  };
  const std::vector<std::string>& words = other_script ? kScriptWords : kWords;
  const std::string city = other_script ? Pick(rng, kScriptWords) : Pick(rng, kCities);
  std::string caption = "A " + Pick(rng, words) + " in " + city + " with " + Pick(rng, kPeople) + ", " +
                        Pick(rng, words) + " and " + Pick(rng, kWords);
  note(0x278, caption);
  for (int k = 0; k < 4; ++k) note(0x219, Pick(rng, words));
  note(0x276, Pick(rng, kPeople));
  note(0x25a, city);
  note(0x265, "Somewhere");
  note(0x250, Pick(rng, kPeople));
  note(0x274, "(c) 2024 Norvo Users");
  metadata::MetadataList list;
  const std::string& camera = Pick(rng, kCameras);
  list.addText(metadata::field_ids::kMaker, camera.substr(0, camera.find(' ')));
  list.addText(metadata::field_ids::kModel, camera);
  list.addText(metadata::field_ids::kSoftware, "Ver.1.10");
  r.metadata = list.serialize();
  r.syncPartLengths();
  return r;
}

// Times `grep -c WORD FILE` with its output going to a file: GNU grep stops
// at the first match when its output is /dev/null, which would time a
// different job.
double TimeGrepCount(const std::string& word, const std::string& file, const std::string& out_path) {
  std::vector<std::string> args = {"grep", "-c", word, file};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  int status = 0;
  const auto start = Clock::now();
  int rc = posix_spawnp(&pid, "grep", &actions, nullptr, argv.data(), environ);
  if (rc == 0) ::waitpid(pid, &status, 0);
  const double ms = MsSince(start);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) throw std::runtime_error("grep failed");
  return ms;
}

struct Options {
  int runs = 15;
  std::string base_dir;
  bool keep = false;
  std::string word = "harbour";
  bool scripts = false;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      o.runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--dir" && i + 1 < argc) {
      o.base_dir = argv[++i];
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--word" && i + 1 < argc) {
      o.word = argv[++i];
    } else if (a == "--scripts") {
      o.scripts = true;
    } else {
      throw std::runtime_error("usage: search_bench [--runs N] [--dir DIR] [--keep] [--word WORD] [--scripts]");
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options options = ParseOptions(argc, argv);
    std::string base = options.base_dir;
    if (base.empty()) base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string pattern = base + "/norvo-search-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a work folder in " + base);
    const std::string dir = pattern;
    const std::string file = dir + "/search.nrk";

    std::mt19937 rng(kSeed);
    {
      std::unique_ptr<Catalog> c;
      Check(CreateCatalog(nullptr, Spec(dir + "/build-scratch"), {}, {}, c), "create");
      for (int n = 1; n <= kItems; ++n) {
        std::string folder = "/home/user/Pictures/2024/Roll " + std::to_string((n - 1) / 250 + 1);
        Check(AddItem(*c, MakeRecord(rng, n, options.scripts), folder), "add item");
      }
      FileSpec out = Spec(file);
      Check(SaveCatalog(*c, &out, {}), "save");
      CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
    }
    std::unique_ptr<Catalog> c;
    FileSpec location = Spec(file);
    Check(CreateCatalog(&location, Spec(dir + "/scratch"), {}, {}, c), "open");
    const std::vector<CatalogCell> shuffled = [&] {
      std::vector<CatalogCell> cells(c->cells.begin(), c->cells.begin() + c->itemCount());
      std::shuffle(cells.begin(), cells.end(), rng);
      return cells;
    }();

    std::vector<double> search_ms, grep_ms, sort_ms;
    std::size_t found = 0;
    for (int round = 0; round < kWarmUpRounds + options.runs; ++round) {
      const bool keep = round >= kWarmUpRounds;
      auto start = Clock::now();
      found = fields::QuickSearch(*c, options.word).size();
      double search = MsSince(start);
      double grep = TimeGrepCount(options.word, file, dir + "/grep-count");
      std::copy(shuffled.begin(), shuffled.end(), c->cells.begin());
      start = Clock::now();
      Check(fields::SortItems(*c, metadata::field_ids::kFileName, false, false), "sort");
      double sort = MsSince(start);
      if (keep) {
        search_ms.push_back(search);
        grep_ms.push_back(grep);
        sort_ms.push_back(sort);
      }
    }
    CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);

    const double search = Median(search_ms), grep = Median(grep_ms), sort = Median(sort_ms);
    std::printf("catalog: %d items, %.1f MB; \"%s\" found in %zu items (grep counts %s lines)\n", kItems,
                static_cast<double>(fs::file_size(file)) / 1e6, options.word.c_str(), found,
                [&] {
                  std::ifstream in(dir + "/grep-count");
                  std::string n;
                  std::getline(in, n);
                  return n;
                }().c_str());
    std::printf("\n%-34s %10s  %-26s %10s  %7s  %-6s %s\n", "measurement", "norvo", "peer", "peer", "ratio", "goal",
                "result");
    auto row = [](const char* what, double mine, const char* peer, double theirs, double goal) {
      double ratio = mine / theirs;
      std::printf("%-34s %10.3f  %-26s %10.3f  %7.3f  <=%-4.3g %s\n", what, mine, peer, theirs, ratio, goal,
                  ratio <= goal ? "PASS" : "MISS");
    };
    row("quick search (open catalog)", search, "grep -c WORD CATALOG", grep, 2.0);
    row("sort by file name (shuffled)", sort, "that quick search", search, 1.0);
    std::printf("(times in ms, medians of %d warm runs)\n", options.runs);
    if (options.keep) {
      std::printf("kept: %s\n", dir.c_str());
    } else {
      fs::remove_all(dir);
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "search_bench: %s\n", e.what());
    return 1;
  }
}
