// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli print: the catalog's items laid out as a content list, a contact
// sheet or media sheets, written to a PDF file or sent to a CUPS printer.
// Pages are composed by norvo_print on Qt's offscreen platform, so no display
// is needed. A printer gets the same PDF through `lp -d NAME`: CUPS takes PDF
// directly, and the command stays clear of Qt's print dialogs and widgets.
#include <QByteArray>
#include <QGuiApplication>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/preferences.h"
#include "app/settings_store.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/long_run.h"
#include "cli/output.h"
#include "print/print_options.h"
#include "print/print_to_pdf.h"

extern char** environ;

namespace norvo::cli {
namespace {

using print::PrintLayout;
using print::PrintRange;

// The one QGuiApplication of the process, made on first use: offscreen
// unless the user chose another platform.
void EnsureGuiApplication() {
  if (QGuiApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "norvo-cli";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

std::size_t Pick(const Invocation& inv, std::string_view option, const std::vector<std::string_view>& choices) {
  const std::optional<std::string> text = inv.value(option);
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (text == choices[i]) return i;
  }
  std::string list;
  for (std::string_view c : choices) list += (list.empty() ? "" : ", ") + std::string(c);
  throw UsageError{"give " + std::string(option) + " " + list};
}

// "4x5": columns and rows.
void ParseGrid(const std::string& text, print::PrintOptions* o) {
  const std::size_t x = text.find_first_of("xX");
  int columns = 0, rows = 0;
  try {
    std::size_t used = 0;
    if (x != std::string::npos) {
      columns = std::stoi(text.substr(0, x), &used);
      if (used != x) columns = 0;
      rows = std::stoi(text.substr(x + 1), &used);
      if (used != text.size() - x - 1) rows = 0;
    }
  } catch (const std::exception&) {
    columns = rows = 0;
  }
  if (columns < 1 || rows < 1 || columns > print::kMaxGridCells || rows > print::kMaxGridCells) {
    throw UsageError{"--grid takes COLUMNSxROWS, each from 1 to " + std::to_string(print::kMaxGridCells)};
  }
  o->grid = print::GridMode::kCells;
  o->columns = columns;
  o->rows = rows;
}

// "3-7", "3-" or "5": the pages a print dialog's range would give.
void ParsePages(const std::string& text, print::PrintJob* job) {
  const std::size_t dash = text.find('-');
  auto number = [](const std::string& part) {
    if (part.empty() || part.size() > 6 || part.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(part);
  };
  const int first = number(text.substr(0, dash));
  const int last = dash == std::string::npos ? first : text.size() == dash + 1 ? 0 : number(text.substr(dash + 1));
  if (first < 1 || last < 0 || (last > 0 && last < first)) {
    throw UsageError{"--pages takes FIRST-LAST, FIRST- or one page number, from 1"};
  }
  job->first_page = first;
  job->last_page = last;
}

// Sends a file to a CUPS queue under the job title `title`; the job's line
// from lp, or the failure.
Result SendToPrinter(const std::string& printer, const std::string& title, const std::string& file, std::string* job) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return FailWith(err::kIo, std::string(app::print_text::kServicesProblem));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::vector<std::string> args = {"lp", "-d", printer, "-t", title.empty() ? "Norvo Media" : title, "--", file};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "lp", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  std::string said;
  char buffer[512];
  ssize_t n = 0;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) said.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  if (rc == 0) ::waitpid(pid, &status, 0);
  while (!said.empty() && said.back() == '\n') said.pop_back();
  if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string message(app::print_text::kServicesProblem);
    if (!said.empty()) message += "\n" + std::string(app::print_text::kPrinterError) + said;
    return FailWith(err::kIo, message);
  }
  *job = said;
  return std::nullopt;
}

Result CmdPrint(const Invocation& inv, std::ostream& out) {
  const std::optional<std::string> pdf = inv.value("--pdf");
  const std::optional<std::string> printer = inv.value("--printer");
  if (!pdf && !printer) throw UsageError{"give --pdf FILE or --printer NAME"};
  if ((pdf && pdf->empty()) || (printer && printer->empty())) throw UsageError{"--pdf and --printer take a name"};

  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kView)) return r;
  const catalog::Catalog& c = s.catalog();
  const app::SettingsStore settings = app::SettingsStore::Open();

  print::PrintJob job;
  job.catalog = &c;
  // The catalog's own options, else the program-wide default; the command
  // line changes them for this run only.
  job.options = print::LoadPrintOptions(c, &settings);
  print::PrintOptions& o = job.options;
  if (inv.value("--layout")) {
    o.layout = static_cast<PrintLayout>(Pick(inv, "--layout", {"list", "contact", "media"}));
  }
  if (inv.value("--range")) {
    constexpr PrintRange kRanges[] = {PrintRange::kDefineInPrintBox, PrintRange::kOddPages, PrintRange::kEvenPages};
    o.range = kRanges[Pick(inv, "--range", {"all", "odd", "even"})];
  } else if (o.range == PrintRange::kCurrentPage) {
    o.range = PrintRange::kDefineInPrintBox;  // no page is current here
  }
  if (std::optional<std::string> grid = inv.value("--grid")) ParseGrid(*grid, &o);
  if (std::optional<std::string> pages = inv.value("--pages")) {
    if (o.range != PrintRange::kDefineInPrintBox) throw UsageError{"--pages goes with --range all"};
    ParsePages(*pages, &job);
  }
  if (std::optional<std::string> header = inv.value("--header")) {
    o.lines[0] = *header;
    o.lines[1].clear();
  }
  if (std::optional<std::string> footer = inv.value("--footer")) {
    o.lines[2] = *footer;
    o.lines[3].clear();
  }
  if (inv.value("--scaling")) {
    std::vector<std::string_view> names;
    for (const print::ScalingEntry& e : print::kScalings) names.push_back(e.name);
    o.scaling = print::kScalings[Pick(inv, "--scaling", names)].code;
  }
  if (inv.value("--repeat")) {
    o.repeat_count = inv.number("--repeat", 1);
    o.set(print::print_flags::kRepeatMedia, o.repeat_count > 1);
  }
  if (inv.flag("--hi-res")) o.set(print::print_flags::kHiResThumbnails, true);
  if (inv.flag("--crop-marks")) o.set(print::print_flags::kCropMarks, true);
  if (inv.flag("--icons")) o.set(print::print_flags::kItemIcons, true);
  if (inv.flag("--colors")) o.set(print::print_flags::kViewColors, true);
  job.labels = app::LoadLabels(settings);
  job.catalog_title = c.display_name;

  if (std::optional<std::string> ids = inv.value("--ids")) {
    for (std::size_t start = 0; start <= ids->size();) {
      std::size_t comma = ids->find(',', start);
      if (comma == std::string::npos) comma = ids->size();
      int cell = 0;
      if (Result r = FindCell(c, ids->substr(start, comma - start), &cell)) return r;
      job.cells.push_back(cell);
      start = comma + 1;
    }
  } else {
    for (int cell = 1; cell <= c.itemCount(); ++cell) {
      if (!c.cells[static_cast<std::size_t>(cell - 1)].hidden()) job.cells.push_back(cell);
    }
  }
  if (job.cells.empty()) return FailWith(err::kParam, "There is nothing to print: the catalog shows no items.");

  EnsureGuiApplication();
  const print::PageComposer composer(job);
  const std::vector<int> pages = composer.pagesToPrint();
  if (pages.empty()) {
    return FailWith(err::kParam, "The range chosen holds no page of the " + std::to_string(composer.pageCount()) +
                                     " the items fill.");
  }

  // A printer is sent a PDF made in the temporary folder.
  std::string target;
  if (pdf) {
    FileSpec spec;
    (void)MakeFileSpec(*pdf, spec);  // the file is new
    target = spec.path.empty() ? *pdf : spec.path;
  } else {
    const char* tmp = std::getenv("TMPDIR");
    target = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/norvo-print-" +
             std::to_string(::getpid()) + ".pdf";
  }

  InterruptScope interrupt;
  ProgressLine line;
  print::PdfCallbacks callbacks;
  callbacks.progress = [&](int done, int total) {
    line.show(std::string(app::print_text::kPage) + std::to_string(done) + std::string(app::print_text::kOf) +
              std::to_string(total));
  };
  callbacks.cancelled = [] { return InterruptScope::Requested(); };
  const ErrorCode e = print::PrintToPdf(job, target, callbacks);
  line.done();
  if (e == err::kFolderNotFound) return FailWith(e, "The folder of '" + *pdf + "' couldn't be found.");
  if (e != err::kNone) return FailWith(e, app::Activity::kOther);

  std::string lp_job;
  if (printer) {
    Result r = SendToPrinter(*printer, job.catalog_title, target, &lp_job);
    std::error_code ec;
    if (!pdf) std::filesystem::remove(target, ec);
    if (r) return r;
  }

  Json result = Json::object();
  result["pdf"] = pdf ? Json(target) : Json(nullptr);
  result["printer"] = printer ? Json(*printer) : Json(nullptr);
  result["job"] = lp_job.empty() ? Json(nullptr) : Json(lp_job);
  result["layout"] = std::string(print::kLayoutNames[static_cast<std::size_t>(o.layout)]);
  result["items"] = job.cells.size();
  result["pages"] = composer.pageCount();
  result["printed"] = inv.json ? Json(pages) : Json(pages.size());
  PrintObject(out, result, inv.json);
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> PrintCommands() {
  using groups::kOutput;
  return {
      {"print", kOutput, "CATALOG", 1, 1,
       {{"--pdf", "FILE", "write the pages to this PDF file"},
        {"--printer", "NAME", "send the pages to this CUPS printer (with lp)"},
        {"--layout", "LAYOUT", "list, contact or media (content list, contact sheet, media sheet)"},
        {"--grid", "CxR", "cells across and down, e.g. 4x5"},
        {"--range", "RANGE", "all, odd or even pages (default all)"},
        {"--pages", "FIRST-LAST", "with --range all: only these pages (FIRST- to the end)"},
        {"--header", "TEXT", "the header line (tokens && &i &d &t &p &n &c)"},
        {"--footer", "TEXT", "the footer line (same tokens)"},
        {"--scaling", "NAME", "how media sheets scale: \"Scale to Fit\", \"Actual Size\", \"50%\", ..."},
        {"--repeat", "N", "print each medium N times on media sheets", 1, false, 1, print::kMaxRepeatCount},
        {"--ids", "ID,...", "the items to print (default: every item shown)"},
        {"--hi-res", "", "read the media files instead of the stored thumbnails"},
        {"--crop-marks", "", "mark the corners of each picture"},
        {"--icons", "", "a small badge with each item's type"},
        {"--colors", "", "tint items with their label colours"},
        kJsonOption},
       "print items as a content list, contact sheet or media sheets",
       "Lays out the items shown (or those of --ids) in catalog order and writes the pages to the PDF file of "
       "--pdf, or sends them to the CUPS printer of --printer, or both. The catalog's own print options apply "
       "(else the default kept in the settings); the options given change them for this run only. Header and "
       "footer tokens: && an ampersand, &i the next tab stop (left, centre, right), &d the date, &t the time, "
       "&p the page number, &n the number of pages, &c the catalog's title. No display is needed. Prints the "
       "file, the printer and its job, the layout, the number of items and pages and how many were printed "
       "(their numbers with --json).",
       CmdPrint},
  };
}

}  // namespace norvo::cli
