// SPDX-License-Identifier: GPL-3.0-or-later
// rename_bench: a full catalog (8000 items) of small files in a temporary
// folder, all renamed in the numbered mode and the catalog saved, against a
// shell loop of `mv -n` renaming as many files with the same names. Ours is
// timed twice: the engine in this process (open, rename, save, close) and
// `norvo-cli rename` with every ItemId on its command line. Each run
// renames the files to the other of two name stems, so every run does the
// whole job; the times are medians, and the ratio is the shell loop's time
// over ours (above 1: ours renames more files a second). The shell loop
// starts one mv per file and takes minutes on a busy machine.
//
//   rename_bench [--runs N] [--items N] [--dir DIR] [--keep]
//     --items N  files and items (at most 8000)
//     --dir DIR  make the work folder in DIR instead of $TMPDIR or /tmp
//     --keep     leave the work folder in place

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "catalog/catalog.h"
#include "catalog/save.h"
#include "output/batch_rename.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::Check;
using bench::Spec;

// `count` files of a few bytes, IMG_00001.JPG on, in `folder`.
void MakeFiles(const std::string& folder, int count) {
  fs::create_directories(folder);
  for (int n = 1; n <= count; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/IMG_%05d.JPG", n);
    std::ofstream(folder + name, std::ios::binary) << "photo " << n;
  }
}

// The catalog of every file in `folder`, in name order, saved at `path`.
void MakeCatalog(const std::string& folder, const std::string& path, const std::string& scratch) {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  std::unique_ptr<catalog::Catalog> c;
  Check(catalog::CreateCatalog(nullptr, Spec(scratch), {}, {}, c), "create");
  for (const std::string& f : files) Check(catalog::AddPendingItem(*c, Spec(f)), "add " + f);
  FileSpec file = Spec(path);
  Check(catalog::SaveCatalog(*c, &file, {}), "save");
  catalog::CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
}

// Opens the catalog, renames every item to STEM + number and saves it.
double TimeEngine(const std::string& path, const std::string& scratch, const std::string& stem, int items) {
  const auto start = Clock::now();
  std::unique_ptr<catalog::Catalog> c;
  FileSpec file = Spec(path);
  catalog::OpenOptions options;
  options.exclusive = true;
  Check(catalog::CreateCatalog(&file, Spec(scratch), {}, {}, c, options), "open");
  std::vector<std::uint32_t> ids;
  for (const catalog::CatalogCell& cell : c->cells) ids.push_back(cell.item_id);
  output::RenameSettings s;
  s.mode = output::RenameMode::kIncremental;
  s.base_text = stem;
  output::StartNumbering(s, 1, static_cast<int>(ids.size()));
  std::vector<output::RenameOutcome> outcomes;
  Check(output::BatchRename(*c, ids, s, output::RenameRun::kForReal, {}, &outcomes), "rename");
  Check(catalog::SaveCatalog(*c, nullptr, {}), "save");
  catalog::CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);
  const double ms = MsSince(start);
  int renamed = 0;
  for (const auto& o : outcomes) renamed += o.status == output::RenameStatus::kRenamed ? 1 : 0;
  if (renamed != items) throw std::runtime_error("the engine renamed " + std::to_string(renamed) + " files");
  return ms;
}

double TimeCli(const std::string& cli, const std::string& path, const std::string& stem, int items) {
  std::vector<std::string> args = {cli, "rename", path};
  for (int id = 1; id <= items; ++id) args.push_back(std::to_string(id));
  for (const char* a : {"--mode", "number", "--base"}) args.emplace_back(a);
  args.push_back(stem);
  return bench::TimeCommand(args);
}

// A shell loop of `mv -n` over the files in `folder`, to STEM + a padded
// number with the old extension, as the numbered mode names them.
double TimeShellLoop(const std::string& folder, const std::string& stem) {
  const std::string script =
      "cd \"$1\" && i=1 && for f in *; do printf -v n '%s%04d' \"$2\" \"$i\"; mv -n -- \"$f\" \"$n.${f##*.}\"; "
      "i=$((i+1)); done";
  return bench::TimeCommand({"bash", "-c", script, "bash", folder, stem});
}

int CountFiles(const std::string& folder, const std::string& stem) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(folder)) n += e.path().filename().string().starts_with(stem) ? 1 : 0;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    bench::BenchArgs args(argc, argv, {"--runs", "--items", "--dir"}, {"--keep"},
                          "rename_bench [--runs N] [--items N] [--dir DIR] [--keep]");
    const int runs = args.number("--runs", 3, 1);
    const int items = std::min(args.number("--items", catalog::kMaxCatalogItems, 1), catalog::kMaxCatalogItems);
    std::string base = args.text("--dir");
    if (base.empty()) base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string pattern = base + "/norvo-rename-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a work folder in " + base);
    const std::string dir = pattern;
    // norvo-cli keeps its settings, scratch files and runtime files here.
    for (const char* sub : {"/xdg", "/tmp"}) fs::create_directories(dir + sub);
    fs::permissions(dir + "/xdg", fs::perms::owner_all);
    ::setenv("XDG_CONFIG_HOME", (dir + "/xdg/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir + "/xdg/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir + "/xdg").c_str(), 1);
    ::setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
    const std::string cli = (fs::path(argv[0]).parent_path() / ".." / "cli" / "norvo-cli").lexically_normal();

    const std::string engine_files = dir + "/engine", cli_files = dir + "/cli", shell_files = dir + "/shell";
    const std::string engine_catalog = dir + "/engine.nrk", cli_catalog = dir + "/cli.nrk";
    MakeFiles(engine_files, items);
    MakeFiles(cli_files, items);
    MakeFiles(shell_files, items);
    MakeCatalog(engine_files, engine_catalog, dir + "/tmp/build-scratch-1");
    MakeCatalog(cli_files, cli_catalog, dir + "/tmp/build-scratch-2");

    std::vector<double> engine, via_cli, shell;
    for (int run = 0; run < runs; ++run) {
      const std::string stem = run % 2 == 0 ? "Trip" : "Walk";
      engine.push_back(TimeEngine(engine_catalog, dir + "/tmp/scratch", stem, items));
      via_cli.push_back(TimeCli(cli, cli_catalog, stem, items));
      shell.push_back(TimeShellLoop(shell_files, stem));
      for (const std::string& folder : {engine_files, cli_files, shell_files}) {
        if (CountFiles(folder, stem) != items) throw std::runtime_error("not every file in " + folder + " was renamed");
      }
    }
    const double e = Median(engine), c = Median(via_cli), s = Median(shell);
    std::printf("rename_bench: %d files and items, median of %d runs\n", items, runs);
    std::printf("  engine: open, rename all, save   %9.1f ms  (%8.0f files/s)\n", e, items / e * 1000);
    std::printf("  norvo-cli rename (all ids)       %9.1f ms  (%8.0f files/s)\n", c, items / c * 1000);
    std::printf("  shell loop of mv -n              %9.1f ms  (%8.0f files/s)\n", s, items / s * 1000);
    std::printf("  throughput against the shell loop: engine %.1fx, norvo-cli %.1fx (goal: at least 1.0x)\n", s / e,
                s / c);
    if (args.flag("--keep")) {
      std::printf("work folder kept: %s\n", dir.c_str());
    } else {
      fs::remove_all(dir);
    }
    return 0;
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "rename_bench: %s\n", ex.what());
    return 1;
  }
}
