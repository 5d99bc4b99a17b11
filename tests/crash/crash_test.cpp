// SPDX-License-Identifier: GPL-3.0-or-later
// Stops every norvo-cli command that saves at each write-like call it makes,
// in three ways: killed just before the call (kill -9, a crash), killed in
// the middle of a data write (a power cut tearing it), or refused by a full
// disk from that call on. Afterwards the catalog is opened with the engine in
// this process, and what it holds must be exactly what it held before the
// command or exactly what the command leaves when nothing goes wrong; a
// refused command must say so (exit status 1) and leave the catalog as it
// was. The calls are counted and cut by the preloaded fault library
// (fault_shim.cpp); a normal run counts them first.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/catalog_document.h"
#include "catalog/catalog.h"
#include "catalog/group_index.h"
#include "catalog/item_record.h"
#include "tests/crash/crash_harness.h"

namespace {

using namespace norvo;
using namespace norvo::crash_testing;

constexpr char kPassword[] = "harbour";

// --- the calls a command makes ----------------------------------------------

struct Call {
  std::string kind;    // pwrite, rename, ...
  std::string effect;  // data, allocate, shrink, flush or name
  std::uint64_t bytes = 0;
  std::string path;
};

struct Trace {
  std::vector<Call> calls;  // calls[n - 1] is call n
  bool complete = false;    // the run ended normally and wrote its count
};

Trace ReadTrace(const fs::path& file) {
  Trace trace;
  std::istringstream in(ReadFileBytes(file));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string first;
    fields >> first;
    if (first == "count") {
      std::size_t count = 0;
      fields >> count;
      trace.complete = count == trace.calls.size();
      continue;
    }
    Call call;
    fields >> call.kind >> call.effect >> call.bytes;
    std::getline(fields >> std::ws, call.path);
    trace.calls.push_back(call);
  }
  return trace;
}

// What must match between two runs for their calls to line up: the kind of
// each call. Names (process ids, random temporary names) and sizes (a
// process id written as text) may differ.
std::string Shape(const Call& call) { return call.kind + " " + call.effect; }

std::string Describe(const Call& call) {
  std::string what = call.kind;
  if (call.effect == "data") what += " of " + std::to_string(call.bytes) + " bytes";
  if (call.kind.starts_with("ftruncate")) what += " to " + std::to_string(call.bytes) + " bytes";
  return what + " (" + fs::path(call.path).filename().string() + ")";
}

// --- what a catalog holds -----------------------------------------------------

// What a run left behind, as named entries in a fixed order. Two dumps are
// compared entry by entry, so a failure can say what differs.
struct State {
  std::vector<std::pair<std::string, std::string>> entries;

  void add(std::string key, std::string value) { entries.emplace_back(std::move(key), std::move(value)); }
  bool operator==(const State&) const = default;
};

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string Shown(const std::string& value) {
  bool text = value.size() <= 240 && std::all_of(value.begin(), value.end(), [](char c) {
                return c >= 0x20 && c < 0x7F;
              });
  return text ? "\"" + value + "\"" : std::to_string(value.size()) + " bytes";
}

// The entries of `found` that differ from `expected`, one line each.
std::vector<std::string> Differences(const State& expected, const State& found) {
  std::map<std::string, std::string> want(expected.entries.begin(), expected.entries.end());
  std::map<std::string, std::string> got(found.entries.begin(), found.entries.end());
  std::vector<std::string> lines;
  for (const auto& [key, value] : expected.entries) {
    auto it = got.find(key);
    if (it == got.end()) {
      lines.push_back(key + ": missing (was " + Shown(value) + ")");
    } else if (it->second != value) {
      const std::string& now = it->second;
      std::size_t at = std::mismatch(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(std::min(value.size(), now.size())),
                                     now.begin())
                           .first -
                       value.begin();
      std::string line = key + ": " + Shown(now) + " instead of " + Shown(value);
      if (Shown(now).front() == '"' && Shown(value).front() == '"') {
        // the texts say it
      } else if (now.size() == value.size()) {
        // Records and blocks: the byte ranges that differ, so the fields can be told.
        line += ", bytes differ at";
        int ranges = 0;
        for (std::size_t i = at; i < now.size() && ranges < 6;) {
          if (now[i] == value[i]) {
            ++i;
            continue;
          }
          std::size_t end = i;
          while (end + 1 < now.size() && now[end + 1] != value[end + 1]) ++end;
          line += " " + Hex(i) + (end > i ? "-" + Hex(end) : "");
          ++ranges;
          i = end + 1;
        }
      } else {
        line += ", first difference at byte " + Hex(at);
      }
      lines.push_back(line);
    }
  }
  for (const auto& [key, value] : found.entries) {
    if (want.find(key) == want.end()) lines.push_back(key + ": unexpected (" + Shown(value) + ")");
  }
  return lines;
}

// Fields of the fixed part that two runs of one command fill differently,
// blanked before records are compared. Found by running every command twice
// on the same catalog and comparing the dumps byte for byte; the test does so
// on each run again, so a field that starts to vary shows up there:
// - 0x140, the time the scan took (the scan stamps it on every item it
//   reads, so it differs from run to run). Nothing else differs: the dates
//   of items are those of their files, which the tests never touch.
constexpr std::pair<std::size_t, std::size_t> kRunDependentFields[] = {{0x140, 4}};

std::string Bytes(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

template <class Block>
std::string BlockBytes(const Block& block) {
  return std::string(block.bytes.begin(), block.bytes.end());
}

std::string GroupIndexText(const catalog::GroupIndex& index) {
  std::ostringstream text;
  for (const catalog::GroupEntry& e : index) {
    text << e.name << " panel " << int(e.panel) << " level " << int(e.level) << " container " << int(e.container)
         << " touched " << int(e.touched) << " reserved " << int(e.reserved[0]) << int(e.reserved[1])
         << int(e.reserved[2]) << int(e.reserved[3]) << " ids";
    for (std::uint32_t id : e.ids) text << ' ' << id;
    text << '\n';
  }
  return text.str();
}

// Opens the catalog with the engine (as the next program to open it would,
// so whatever recovery the engine does on open happens here) and dumps
// everything it keeps. Entries are named after `name`.
void DumpCatalog(const fs::path& path, const std::string& name, State& state) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) {
    state.add(name, "no such file");
    return;
  }
  app::CatalogDocument doc;
  app::DocumentResult opened = doc.open(path.string(), std::string(kPassword));
  if (!opened.ok()) {
    state.add(name, "cannot be opened: error " + std::to_string(opened.code) + " " + opened.message);
    return;
  }
  const catalog::Catalog& c = *doc;
  const std::string at = name + ": ";
  const catalog::OpenReport& report = c.report;
  std::ostringstream repairs;
  repairs << "sequential scan " << report.sequential_scan << ", media total recomputed "
          << report.media_total_recomputed << ", folder tree rebuilt " << report.folder_tree_rebuilt
          << ", renumbered ids " << report.renumbered_item_ids << ", cleared labels " << report.cleared_labels;
  for (const std::string& chunk : report.skipped_chunks) repairs << ", skipped " << chunk;
  state.add(at + "repairs on open", repairs.str());
  state.add(at + "password", c.password);
  const catalog::CatalogTotals& t = c.totals;
  state.add(at + "totals", "items " + std::to_string(t.item_count) + ", labelled " + std::to_string(t.labelled_count) +
                               ", reserved " + std::to_string(t.reserved_slots) + ", record bytes " +
                               std::to_string(t.total_record_bytes) + ", media bytes " +
                               std::to_string(t.total_media_bytes) + " / " + std::to_string(c.media_bytes));
  state.add(at + "next ItemId", std::to_string(c.next_item_id));
  state.add(at + "saved by", Hex(c.saved_by));
  state.add(at + "settings", BlockBytes(c.settings));
  state.add(at + "import options", BlockBytes(c.import_options));
  std::string names;
  for (const std::string& n : c.custom_field_names) names += n + '\n';
  state.add(at + "custom field names", names);
  std::string ranks;
  for (const catalog::RankEntry& r : c.ranks) {
    ranks += std::to_string(r.a) + " " + std::to_string(r.b) + " " + std::to_string(r.c) + " " +
             std::string(r.raw.begin(), r.raw.end()) + "\n";
  }
  state.add(at + "ranks", ranks);
  std::string fonts = "none";
  if (c.fonts) {
    fonts.clear();
    for (const catalog::CatalogFont& f : *c.fonts) fonts += std::to_string(f.number) + std::string(f.name.begin(), f.name.end());
  }
  state.add(at + "fonts", fonts);
  const std::pair<const char*, const std::vector<std::uint8_t>*> tables[] = {
      {"PRNT", &c.print_settings}, {"VCSF", &c.vcsf}, {"FLDR", &c.fldr}, {"CPTF", &c.cptf}, {"HFLD", &c.hfld},
      {"MSOP", &c.msop},           {"MSVI", &c.msvi}, {"OPMS", &c.opms}, {"VSMS", &c.vsms},
      {"NSSO", &c.slide_show_options}, {"NPRL", &c.print_layout}, {"NCAM", &c.camera_import}};
  for (const auto& [tag, bytes] : tables) state.add(at + "table " + tag, Bytes(*bytes));
  for (const auto& [slot, index] : catalog::GroupIndexesOf(c)) {
    state.add(at + "group index " + std::to_string(slot), GroupIndexText(index));
  }
  state.add(at + "folder tree", Bytes(c.folders.serialize()));

  std::string order;
  for (int cell = 1; cell <= c.itemCount(); ++cell) {
    order += std::to_string(c.cells[static_cast<std::size_t>(cell - 1)].item_id) + " ";
  }
  state.add(at + "items in order", order);
  for (int cell = 1; cell <= c.itemCount(); ++cell) {
    const catalog::CatalogCell& cc = c.cells[static_cast<std::size_t>(cell - 1)];
    const std::string item = at + "item " + std::to_string(cc.item_id) + " ";
    state.add(item + "flags", "label " + std::to_string(cc.label()) + ", hidden " + std::to_string(cc.hidden()) +
                                  ", pending " + std::to_string(cc.pending()) + ", initials " +
                                  Hex(cc.flags & catalog::cell_flags::kInitialsMask));
    state.add(item + "path", catalog::ItemPath(c, cell).value_or("(none)"));
    catalog::ItemRecord record;
    const catalog::RecordRead as_stored{.convert_text = false};
    if (ErrorCode e = catalog::GetItemRecord(c, cell, as_stored, record); e != err::kNone) {
      state.add(item + "record", "cannot be read: error " + std::to_string(e));
      continue;
    }
    std::array<std::uint8_t, catalog::kFixedPartSize> fixed{};
    catalog::EncodeFixedPart(record, catalog::NameText::kAsStored, fixed);
    for (auto [offset, width] : kRunDependentFields) std::fill_n(fixed.begin() + offset, width, 0);
    state.add(item + "fixed part", std::string(fixed.begin(), fixed.end()));
    const char* part_names[] = {"thumbnail", "annotations", "url", "metadata", "recording"};
    for (catalog::ItemPart part : catalog::kFilePartOrder) {
      state.add(item + part_names[static_cast<int>(part)], Bytes(record.part(part)));
    }
  }
  doc.close(catalog::CloseSettings::kLeave);
}

// --- the fixture ----------------------------------------------------------------

// The photos of the fixture's media folder, imported and scanned (ItemIds 1-7
// in this order); then a pending item (8) is added.
const std::vector<std::pair<std::string, std::string>> kScannedPhotos = {
    {"Canon_40D.jpg", "canon.jpg"},   {"Nikon_D70.jpg", "nikon.jpg"},         {"DSCN0010.jpg", "coolpix.jpg"},
    {"Kodak_CX7530.jpg", "kodak.jpg"}, {"Pentax_K10D.jpg", "pentax.jpg"},     {"Olympus_C8080WZ.jpg", "olympus.jpg"},
    {"Konica_Minolta_DiMAGE_Z3.jpg", "konica.jpg"}};

// A catalog of scanned items with labels, a hidden item, annotations, a kept
// keyword index and catalog sets, and a pending item; beside it the files
// the commands add or import, and a photo to annotate. Made once per run of
// the test program, with norvo-cli itself.
class Fixture {
 public:
  static Fixture& Get() {
    static Fixture fixture;
    return fixture;
  }
  const fs::path& dir() const { return dir_; }
  const std::string& problem() const { return problem_; }
  std::string catalog() const { return (dir_ / "test.nrk").string(); }

 private:
  Fixture() : dir_(root_.path() / "fixture") {
    fs::create_directories(dir_ / "media");
    fs::create_directories(dir_ / "extra");
    fs::create_directories(dir_ / "incoming");
    CopyPhoto("BlueSquare.jpg", dir_ / "extra" / "pending.jpg");
    CopyPhoto("long_description.jpg", dir_ / "extra" / "new1.jpg");
    CopyPhoto("Canon_40D.jpg", dir_ / "extra" / "new2.jpg");
    CopyPhoto("image00971.jpg", dir_ / "incoming" / "harbour.jpg");
    CopyPhoto("Nikon_D70.jpg", dir_ / "incoming" / "quay.jpg");
    CopyPhoto("Canon_40D.jpg", dir_ / "photo.jpg");
    std::vector<std::string> import = {"import", catalog()};
    for (const auto& [source, name] : kScannedPhotos) {
      CopyPhoto(source, dir_ / "media" / name);
      import.push_back((dir_ / "media" / name).string());
    }
    import.insert(import.end(), {"--jobs", "1"});
    const std::string cat = catalog();
    const std::vector<std::vector<std::string>> steps = {
        {"new", cat},
        import,
        {"add", cat, (dir_ / "extra" / "pending.jpg").string()},
        {"label", cat, "1", "Red"},
        {"label", cat, "3", "7"},
        {"annotate-item", cat, "1", "Keywords=snow, Alps", "Author=Jane Doe"},
        {"annotate-item", cat, "4", "Caption=Harbour wall", "Keywords=sea"},
        {"groups", cat, "Keywords", "--json"},
        {"set", cat, "new", "Trips", "--container"},
        {"set", cat, "new", "Alps", "--parent", "Trips"},
        {"set", cat, "new", "Loose"},
        {"set", cat, "add", "Alps", "2", "3"},
        {"set", cat, "add", "Loose", "5"},
        {"hide", cat, "5", "6"},
    };
    const fs::path home = root_.path() / "home";
    for (std::vector<std::string> step : steps) {
      step.insert(step.begin(), {"--password", kPassword});
      ResetHome(home);
      CliRun run = RunCli(step, CliEnvironment(home, {}));
      if (run.status != 0) {
        problem_ = "making the fixture, '" + step[2] + "' failed: " + run.describe();
        return;
      }
    }
  }

  TempFolder root_;
  fs::path dir_;
  std::string problem_;
};

// --- the commands -------------------------------------------------------------

struct Scenario {
  std::string test_name;
  // The command line after the global options; "@" stands for the folder
  // the command works in (a fresh copy of the fixture's catalog and photo)
  // and "%" for the fixture's folder (files that are only read).
  std::vector<std::string> args;
  bool catalog_command = true;        // given the catalog's password
  std::vector<std::string> catalogs;  // catalog files of the work folder to dump
  std::vector<std::string> files;     // other files of the work folder, dumped byte for byte
  // What the same user runs next (after the dump), with the same home as
  // the run that was stopped; after it, nothing the stopped run made may be
  // left in the work folder. Empty: check the work folder's catalog.
  std::vector<std::string> next_run = {};
};

// Names the command in GoogleTest's messages.
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.test_name; }

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> all = {
      {"Add", {"add", "@/test.nrk", "%/extra/new1.jpg", "%/extra/new2.jpg"}, true, {"test.nrk"}, {}},
      // Item 2 is in a catalog set, item 5 is hidden and in another.
      {"Remove", {"remove", "@/test.nrk", "2", "5"}, true, {"test.nrk"}, {}},
      {"Label", {"label", "@/test.nrk", "4", "Green"}, true, {"test.nrk"}, {}},
      // The keyword index is kept, so its groups change too.
      {"AnnotateItem", {"annotate-item", "@/test.nrk", "3", "Keywords=ice, Alps", "Caption=Glacier"}, true,
       {"test.nrk"}, {}},
      // Two new photos, and the pending item is scanned.
      {"Import", {"import", "@/test.nrk", "%/incoming", "--jobs", "1"}, true, {"test.nrk"}, {}},
      {"Sort", {"sort", "@/test.nrk", "File Name", "--descending"}, true, {"test.nrk"}, {}},
      {"SetNew", {"set", "@/test.nrk", "new", "Beach", "--parent", "Trips"}, true, {"test.nrk"}, {}},
      {"SetAdd", {"set", "@/test.nrk", "add", "Loose", "1", "7"}, true, {"test.nrk"}, {}},
      {"Hide", {"hide", "@/test.nrk", "1", "7"}, true, {"test.nrk"}, {}},
      // The copy must appear whole or not at all; the original stays as it is.
      {"SaveAs", {"save-as", "@/test.nrk", "@/copy.nrk"}, true, {"test.nrk", "copy.nrk"}, {}},
      // The next run annotates the photo again.
      {"Annotate", {"annotate", "@/photo.jpg", "Caption=Harbour at dawn", "Keywords=boats, quay"}, false, {},
       {"photo.jpg"}, {"annotate", "@/photo.jpg", "Caption=Harbour at dawn", "Keywords=boats, quay"}},
  };
  return all;
}

enum class Fault { kKill, kTorn, kEnospc };
constexpr const char* kFaultNames[] = {"kill", "torn", "enospc"};

struct Trial {
  Fault fault;
  std::size_t n;  // the call, from 1
};

struct Outcome {
  Trial trial;
  std::string failure;  // empty: the catalog came through
};

// One worker's folders: the work folder the command changes, the home of
// its runs, and its trace.
struct Slot {
  fs::path root;
  fs::path work() const { return root / "work"; }
  fs::path home() const { return root / "home"; }
  fs::path trace() const { return root / "trace"; }
};

// The points this run of the program tried, for the summary at the end.
std::atomic<std::size_t> g_points_tried{0};

class CrashTest : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    if (!Fixture::Get().problem().empty()) GTEST_FAIL() << Fixture::Get().problem();
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
    for (unsigned i = 0; i < workers; ++i) slots_.push_back({root_.path() / ("slot" + std::to_string(i))});
    // The engine in this process keeps its files in the test's folder too.
    fs::create_directories(root_.path() / "engine" / "scratch");
    app::SetScratchFolder((root_.path() / "engine" / "scratch").string());
    ::setenv("XDG_DATA_HOME", (root_.path() / "engine" / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_.path() / "engine" / "config").c_str(), 1);
  }

  const Scenario& scenario() const { return GetParam(); }

  std::vector<std::string> Args(const Slot& slot, const std::vector<std::string>& command) const {
    std::vector<std::string> args;
    if (scenario().catalog_command) args = {"--password", kPassword};
    for (std::string a : command) {
      if (a.starts_with("@")) a = slot.work().string() + a.substr(1);
      if (a.starts_with("%")) a = Fixture::Get().dir().string() + a.substr(1);
      args.push_back(a);
    }
    return args;
  }

  // A fresh work folder: the fixture's catalog and photo, nothing else.
  void ResetWork(const Slot& slot) const {
    std::error_code ec;
    fs::remove_all(slot.work(), ec);
    fs::create_directories(slot.work());
    fs::copy_file(Fixture::Get().dir() / "test.nrk", slot.work() / "test.nrk");
    fs::copy_file(Fixture::Get().dir() / "photo.jpg", slot.work() / "photo.jpg");
  }

  // Runs the command in the slot, from a fresh home; with faults, through
  // the fault library.
  CliRun Run(const Slot& slot, std::vector<std::string> fault_env) const {
    ResetHome(slot.home());
    if (!fault_env.empty()) fault_env.push_back("LD_PRELOAD=" NORVO_FAULT_SHIM_PATH);
    return RunCli(Args(slot, scenario().args), CliEnvironment(slot.home(), fault_env));
  }
  // The user's next run, in the home the last run left.
  CliRun RunNext(const Slot& slot) const {
    std::vector<std::string> next = scenario().next_run;
    if (next.empty()) next = {"check", "@/" + scenario().catalogs.front()};
    return RunCli(Args(slot, next), CliEnvironment(slot.home(), {}));
  }

  State Dump(const Slot& slot) const {
    State state;
    for (const std::string& name : scenario().catalogs) DumpCatalog(slot.work() / name, name, state);
    for (const std::string& name : scenario().files) {
      std::error_code ec;
      state.add(name, fs::exists(slot.work() / name, ec) ? ReadFileBytes(slot.work() / name) : "no such file");
    }
    return state;
  }

  // Files that nothing may leave once the next run is over: in the work
  // folder, temporaries, journals and LockFiles (their names begin with
  // "."); in the scratch folder, ScratchFiles of runs that are gone.
  std::string Leftovers(const Slot& slot) const {
    std::string found;
    for (const auto& e : fs::directory_iterator(slot.work())) {
      std::string name = e.path().filename().string();
      if (name.starts_with(".")) found += (found.empty() ? "" : ", ") + name;
    }
    for (const auto& e : fs::directory_iterator(slot.home() / "scratch")) {
      found += (found.empty() ? "scratch folder: " : ", scratch folder: ") + e.path().filename().string();
    }
    return found;
  }

  // A normal run, counted: its calls and the state it leaves.
  bool CountedRun(const Slot& slot, Trace* trace, State* after) const {
    ResetWork(slot);
    CliRun run = Run(slot, {"NORVO_FAULT_MODE=count", "NORVO_FAULT_COUNT_FILE=" + slot.trace().string()});
    EXPECT_EQ(run.status, 0) << "the command without faults: " << run.describe();
    *trace = ReadTrace(slot.trace());
    EXPECT_TRUE(trace->complete) << "the counted run did not report its count";
    std::lock_guard lock(engine_mutex_);
    *after = Dump(slot);
    return run.status == 0 && trace->complete;
  }

  // Runs the command with the fault, then checks what it left.
  std::string Check(const Slot& slot, const Trial& trial, const State& before, const State& after) const {
    ResetWork(slot);
    const std::string env_mode = std::string("NORVO_FAULT_MODE=") + kFaultNames[static_cast<int>(trial.fault)];
    CliRun run = Run(slot, {env_mode, "NORVO_FAULT_AT=" + std::to_string(trial.n)});
    if (run.timed_out) return "the command hung: " + run.describe();
    if (trial.fault != Fault::kEnospc && !run.killed()) {
      return "the run was not stopped at that call (" + run.describe() + "): the command makes other calls than "
             "its counted run did";
    }
    if (trial.fault == Fault::kEnospc && run.status != 0 && run.status != 1) {
      return "on a full disk the command ended with " + run.describe() + " instead of reporting an error";
    }
    if (trial.fault == Fault::kEnospc && run.status == 1 && run.err.find("(error ") == std::string::npos) {
      return "the command failed without naming the error: " + run.describe();
    }

    State state;
    {
      std::lock_guard lock(engine_mutex_);
      state = Dump(slot);
    }
    std::string failure;
    const std::string what = scenario().catalogs.empty() ? "the file" : "the catalog";
    auto explain = [](const char* name, const std::vector<std::string>& lines) {
      std::string text = std::string("\n      against ") + name + ":";
      for (std::size_t i = 0; i < lines.size() && i < 4; ++i) text += "\n        " + lines[i];
      if (lines.size() > 4) text += "\n        ... " + std::to_string(lines.size() - 4) + " more";
      return text;
    };
    if (trial.fault == Fault::kEnospc && run.status == 1 && state != before) {
      failure = "the command failed (exit 1) but " + what + " is not as it was" +
                (state == after ? std::string(": the change was saved all the same")
                                : explain("before", Differences(before, state)));
    } else if (trial.fault == Fault::kEnospc && run.status == 0 && state != after) {
      failure = "the command reported success but its change is not all there" +
                explain("after", Differences(after, state));
    } else if (state != before && state != after) {
      failure = what + " is neither as before nor as after the command" +
                explain("before", Differences(before, state)) + explain("after", Differences(after, state));
    }
    // What the stopped run left is for the next run to clear away; when it
    // left nothing, the dump has shown all there is to see.
    if (Leftovers(slot).empty()) return failure;
    CliRun next = RunNext(slot);
    if (next.status != 0 && failure.empty()) failure = "the next run failed: " + next.describe();
    if (std::string left = Leftovers(slot); !left.empty()) {
      failure += std::string(failure.empty() ? "" : "; also ") + "left behind after the next run: " + left;
    }
    return failure;
  }

  TempFolder root_;
  std::vector<Slot> slots_;
  mutable std::mutex engine_mutex_;  // the engine in this process, one dump at a time
};

TEST_P(CrashTest, CatalogIsBeforeOrAfterAtEveryCall) {
  const Slot& first = slots_.front();
  // What the work folder holds before the command, seen from every slot: the
  // dumps must not depend on the folder the catalog is in.
  State before;
  for (const Slot& slot : slots_) {
    ResetWork(slot);
    State state = Dump(slot);
    if (&slot == &first) before = state;
    ASSERT_EQ(Differences(before, state), std::vector<std::string>{}) << "the dump depends on the work folder";
  }

  Trace trace, trace_again;
  State after, after_again;
  ASSERT_TRUE(CountedRun(first, &trace, &after));
  ASSERT_NE(before, after) << "the command changed nothing, so there is nothing to check";
  // A second normal run must make the same calls and leave the same state,
  // or the fault runs could not be compared with the first.
  ASSERT_TRUE(CountedRun(slots_.back(), &trace_again, &after_again));
  std::vector<std::string> shapes, shapes_again;
  for (const Call& c : trace.calls) shapes.push_back(Shape(c));
  for (const Call& c : trace_again.calls) shapes_again.push_back(Shape(c));
  ASSERT_EQ(shapes, shapes_again) << "two runs of the command made different calls";
  ASSERT_EQ(Differences(after, after_again), std::vector<std::string>{})
      << "two runs of the command left different states; a field that legitimately varies needs a mask";

  // Every call can be cut by a kill; a tear needs a data write; a full disk
  // refuses data writes, allocations and flushes, so a point between two of
  // those would repeat the next one.
  std::vector<Trial> trials;
  for (std::size_t n = 1; n <= trace.calls.size(); ++n) {
    const Call& call = trace.calls[n - 1];
    trials.push_back({Fault::kKill, n});
    if (call.effect == "data") trials.push_back({Fault::kTorn, n});
    if (call.effect != "shrink" && call.effect != "name") trials.push_back({Fault::kEnospc, n});
  }

  std::vector<Outcome> outcomes(trials.size());
  std::atomic<std::size_t> next{0};
  auto work = [&](const Slot& slot) {
    for (std::size_t i = next++; i < trials.size(); i = next++) {
      outcomes[i] = {trials[i], Check(slot, trials[i], before, after)};
    }
  };
  std::vector<std::thread> workers;
  for (const Slot& slot : slots_) workers.emplace_back(work, std::cref(slot));
  for (std::thread& w : workers) w.join();

  // "set new" and "set add" are told apart by their action.
  const std::vector<std::string>& args = scenario().args;
  const std::string command = args.front() == "set" ? "set " + args[2] : args.front();
  std::size_t tried[3] = {}, failed[3] = {};
  std::string report[3];
  for (const Outcome& o : outcomes) {
    int f = static_cast<int>(o.trial.fault);
    ++tried[f];
    if (o.failure.empty()) continue;
    if (++failed[f] <= 8) {
      report[f] += "\n  " + std::string(kFaultNames[f]) + " at call " + std::to_string(o.trial.n) + " of " +
                   std::to_string(trace.calls.size()) + ", " + Describe(trace.calls[o.trial.n - 1]) + ": " + o.failure;
    }
  }
  for (int f = 0; f < 3; ++f) {
    if (failed[f] > 8) report[f] += "\n  ... and " + std::to_string(failed[f] - 8) + " more";
    EXPECT_EQ(failed[f], 0u) << command << ", " << kFaultNames[f] << ": " << failed[f] << " of " << tried[f]
                             << " points fail" << report[f];
  }
  g_points_tried += trials.size();
  std::cout << "[ crash    ] " << command << ": " << trace.calls.size() << " calls; kill " << tried[0] << " points ("
            << failed[0] << " fail), torn " << tried[1] << " (" << failed[1] << " fail), enospc " << tried[2] << " ("
            << failed[2] << " fail)\n";
  RecordProperty("calls", static_cast<int>(trace.calls.size()));
  RecordProperty("kill_points", static_cast<int>(tried[0]));
  RecordProperty("torn_points", static_cast<int>(tried[1]));
  RecordProperty("enospc_points", static_cast<int>(tried[2]));
}

INSTANTIATE_TEST_SUITE_P(SavingCommands, CrashTest, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.test_name; });

// The total over the commands this run of the program went through.
// (GoogleTest takes ownership of the environment.)
class PointTotal : public ::testing::Environment {
 public:
  void TearDown() override {
    if (g_points_tried > 0) std::cout << "[ crash    ] fault points tried in all: " << g_points_tried << "\n";
  }
};
const auto* const kPointTotal = ::testing::AddGlobalTestEnvironment(new PointTotal);

}  // namespace
