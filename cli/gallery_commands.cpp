// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the web gallery.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/messages.h"
#include "app/settings_store.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/long_run.h"
#include "cli/output.h"
#include "output/gallery_export.h"
#include "output/gallery_settings.h"

namespace norvo::cli {
namespace {

// The engine code the failure line names for each result.
ErrorCode CodeOfResult(output::GalleryResult result) {
  switch (result) {
    case output::GalleryResult::kDone: return err::kNone;
    case output::GalleryResult::kMissingFiles: return err::kFileNotFound;
    case output::GalleryResult::kCancelled: return err::kUserCancelled;
    case output::GalleryResult::kBadSettings: return err::kParam;
    case output::GalleryResult::kWriteFailed: return err::kWritePermission;
    case output::GalleryResult::kBadTemplate: return err::kParam;
  }
  return err::kParam;
}

Result CmdGallery(const Invocation& inv, std::ostream& out) {
  const std::string& catalog_path = inv.operands[0];
  const std::string& destination = inv.operands[1];
  if (Result r = InitMediaRegistry()) return r;
  const app::SettingsStore store = app::SettingsStore::Open();
  const std::vector<std::uint8_t> settings =
      store.getBinary(output::kGallerySettingsKey, output::kGallerySettingsValue).value_or(std::vector<std::uint8_t>());

  Session s;
  if (Result r = s.open(catalog_path, inv, Intent::kView)) return r;
  InterruptScope interrupt;
  ProgressLine line;
  output::GalleryRequest request;
  request.settings_record = settings;
  request.template_name = inv.value("--template").value_or("");
  request.destination = destination;
  request.progress = [&](ProgressPhase phase, int done, int total, std::string_view text) {
    if (phase == ProgressPhase::kStep) {
      line.show(std::string(text) + " " + std::to_string(done) + " of " + std::to_string(total));
    }
    return InterruptScope::Requested() ? 1 : 0;
  };
  const output::GalleryOutcome outcome = output::RunGallery(s.catalog(), request);
  line.done();

  std::error_code ec;
  const std::string index_path =
      outcome.index_path.empty() ? std::string() : std::filesystem::absolute(outcome.index_path, ec).string();
  const int result = static_cast<int>(outcome.result);
  const std::string message = app::GalleryResultMessage(result);
  if (inv.json) {
    Json report = Json::object();
    report["result"] = result;
    report["message"] = message;
    report["index"] = index_path.empty() ? Json() : Json(index_path);
    report["items"] = outcome.items;
    report["missing"] = outcome.missing;
    report["media_pages"] = outcome.media_pages;
    report["index_pages"] = outcome.pages;
    PrintJson(out, report);
  } else if (!outcome.index_path.empty()) {
    out << index_path << '\n';
  }
  if (outcome.result == output::GalleryResult::kDone) return std::nullopt;
  if (outcome.result == output::GalleryResult::kCancelled) {
    return FailWith(err::kUserCancelled, "The gallery was stopped; the files written so far stay in " + destination + ".");
  }
  return FailWith(CodeOfResult(outcome.result), message);
}

}  // namespace

std::vector<CommandEntry> GalleryCommands() {
  return {
      {"gallery", groups::kOutput, "CATALOG DEST", 2, 2,
       {{"--template", "NAME", "copy the assets of the HTML template folder NAME"}, kJsonOption},
       "make a web gallery of the catalog",
       "Writes a static web site of every item into the folder DEST (made when missing): index pages of "
       "thumbnails (index.htm, index2.htm ...), one page per item in DEST/source, thumbnails in DEST/preview "
       "and a picture of each item (or the movie or sound itself) in DEST/source/image. Uses the stored HTML "
       "settings (defaults when there are none). Prints the first index page's path; with --json the result "
       "(0 done, 1 some files missing, 2 stopped, 3 bad settings, 4 files could not be written, 5 template "
       "problem), its message, the index path and the counts. Ctrl-C stops at the next item or page.",
       CmdGallery},
  };
}

}  // namespace norvo::cli
