// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands that bring files into a catalog and read them: import,
// scan, rebuild, thumbnail, preview and import-options.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/engine_preferences.h"
#include "app/settings_store.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/long_run.h"
#include "cli/output.h"
#include "imaging/jpeg_codec.h"
#include "imaging/thumbnail.h"
#include "imaging/transform.h"
#include "media/import.h"
#include "media/import_options.h"
#include "media/item_scan.h"
#include "metadata/image_file_reader.h"
#include "platform/file_spec.h"

namespace norvo::cli {
namespace {

// JPEG quality of files the commands write (thumbnails, previews).
constexpr int kOutputJpegQuality = 90;

Result WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return FailWith(err::kIo, "'" + path + "' could not be written.");
  return std::nullopt;
}

struct ScanReport {
  int added = 0;
  media::ScanSummary summary;
  bool cancelled = false;
};

// --jobs, else the number of scanning threads set in the preferences (0:
// one per processor).
int ScanJobs(const Invocation& inv) { return inv.number("--jobs", app::ImportPreferencesInUse().scan_jobs); }

// Scans the items on the pool and reports progress; the catalog is not saved.
Result RunScan(Session& s, std::span<const std::uint32_t> ids, int jobs, ScanReport* report, bool rebuild = false) {
  media::ScanOptions options;
  options.thumbnail_size = media::CatalogThumbnailSize(s.catalog());
  options.rebuild = rebuild;
  ProgressLine line;
  ErrorCode e = media::ScanItems(
      s.catalog(), ids, jobs, options,
      [&](ProgressPhase phase, int done, int total) {
        if (phase == ProgressPhase::kStep) line.show("Scanning " + std::to_string(done) + " of " + std::to_string(total));
        return InterruptScope::Requested() ? err::kUserCancelled : err::kNone;
      },
      &report->summary);
  if (e == err::kUserCancelled) {
    report->cancelled = true;
  } else if (e != err::kNone) {
    return FailWith(e, app::Activity::kOther);
  }
  return std::nullopt;
}

void PrintReport(const Invocation& inv, const ScanReport& r, bool with_added, std::ostream& out) {
  if (inv.json) {
    Json report = Json::object();
    if (with_added) report["added"] = r.added;
    report["scanned"] = r.summary.scanned;
    Json& failed = report["failed"] = Json::array();
    for (const auto& [id, code] : r.summary.failures) {
      failed.push_back({{"id", id},
                        {"error", static_cast<int>(code)},
                        {"message", app::MessageForError(code, app::Activity::kOther)}});
    }
    report["cancelled"] = r.cancelled;
    PrintJson(out, report);
    return;
  }
  if (with_added) out << r.added << " added, ";
  out << r.summary.scanned << " scanned, " << r.summary.failed << " could not be read";
  if (r.cancelled) out << " (stopped; what was done is saved)";
  out << '\n';
  for (const auto& [id, code] : r.summary.failures) {
    out << "  item " << id << ": " << app::MessageForError(code, app::Activity::kOther) << " (error " << code << ")\n";
  }
}

Result CmdImport(const Invocation& inv, std::ostream& out) {
  const std::vector<std::string>& operands = inv.operands;
  const bool no_scan = inv.flag("--no-scan");
  const int jobs = ScanJobs(inv);
  if (Result r = InitMediaRegistry()) return r;
  std::vector<FileSpec> files;
  for (std::size_t i = 1; i < operands.size(); ++i) {
    FileSpec spec;
    ErrorCode e = MakeFileSpec(operands[i], spec);
    if (e == err::kNone && !FileExists(spec.path)) e = err::kFileNotFound;
    if (e != err::kNone) {
      return FailWith(e, "'" + operands[i] + "': " + app::MessageForError(e, app::Activity::kOther));
    }
    files.push_back(spec);
  }
  Session s;
  if (Result r = s.open(operands[0], inv, Intent::kChange)) return r;
  InterruptScope interrupt;
  ScanReport report;
  {
    ProgressLine line;
    ErrorCode e = media::ImportFiles(
        s.catalog(), files,
        [&](ProgressPhase, const media::ImportCounters& c, std::string_view) {
          line.show("Importing: " + std::to_string(c.items_added) + " added, " + std::to_string(c.files_scanned) +
                    " files looked at");
          return InterruptScope::Requested() ? err::kUserCancelled : err::kNone;
        },
        &report.added);
    if (e == err::kUserCancelled) {
      report.cancelled = true;
    } else if (e != err::kNone) {
      // The items added before the failure stay; they are saved below.
      out << app::MessageForError(e, app::Activity::kOther) << " (error " << e << ")\n";
    }
  }
  if (!no_scan && !report.cancelled) {
    std::vector<std::uint32_t> pending = media::PendingItems(s.catalog());
    if (Result r = RunScan(s, pending, jobs, &report)) return r;
  }
  if (Result r = s.save()) return r;
  PrintReport(inv, report, true, out);
  return std::nullopt;
}

Result CmdScan(const Invocation& inv, std::ostream& out) {
  const std::vector<std::string>& operands = inv.operands;
  const int jobs = ScanJobs(inv);
  if (Result r = InitMediaRegistry()) return r;
  Session s;
  if (Result r = s.open(operands[0], inv, Intent::kChange)) return r;
  InterruptScope interrupt;
  ScanReport report;
  std::vector<std::uint32_t> to_scan = media::ItemsToScan(s.catalog());
  if (Result r = RunScan(s, to_scan, jobs, &report)) return r;
  if (s.catalog().changed()) {
    if (Result r = s.save()) return r;
  }
  PrintReport(inv, report, false, out);
  return std::nullopt;
}

Result CmdRebuild(const Invocation& inv, std::ostream& out) {
  const std::vector<std::string>& operands = inv.operands;
  const int jobs = ScanJobs(inv);
  if (Result r = InitMediaRegistry()) return r;
  Session s;
  if (Result r = s.open(operands[0], inv, Intent::kChange)) return r;
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 1; i < operands.size(); ++i) {
    int cell = 0;
    if (Result r = FindCell(s.catalog(), operands[i], &cell)) return r;
    ids.push_back(s.catalog().cells[static_cast<std::size_t>(cell - 1)].item_id);
  }
  InterruptScope interrupt;
  ScanReport report;
  if (Result r = RunScan(s, ids, jobs, &report, true)) return r;
  if (s.catalog().changed()) {
    if (Result r = s.save()) return r;
  }
  PrintReport(inv, report, false, out);
  return report.summary.failed > 0 ? FailWith(report.summary.failures.front().second, app::Activity::kOther)
                                   : std::nullopt;
}

Result CmdThumbnail(const Invocation& inv, std::ostream&) {
  Session s;
  if (Result r = s.open(inv.operands[0], inv, Intent::kView)) return r;
  int cell = 0;
  if (Result r = FindCell(s.catalog(), inv.operands[1], &cell)) return r;
  catalog::ItemRecord record;
  if (ErrorCode e = catalog::GetItemRecord(s.catalog(), cell, catalog::kWholeRecord, record); e != err::kNone) {
    return FailWith(e, app::Activity::kOther);
  }
  if (record.thumbnail.empty()) {
    return FailWith(err::kParam, "Item " + inv.operands[1] + " has no thumbnail (is it scanned?).");
  }
  const std::vector<std::uint8_t>& stored = record.thumbnail;
  if (stored.size() >= 2 && stored[0] == 0xFF && stored[1] == 0xD8) return WriteFile(inv.operands[2], stored);
  imaging::PixelBuffer picture;
  if (ErrorCode e = imaging::DecodeStoredThumbnail(stored, &picture); e != err::kNone) {
    return FailWith(e, "The thumbnail of item " + inv.operands[1] + " is damaged.");
  }
  std::vector<std::uint8_t> jpeg;
  if (ErrorCode e = imaging::EncodeJpeg(picture, kOutputJpegQuality, &jpeg); e != err::kNone) {
    return FailWith(e, app::Activity::kOther);
  }
  return WriteFile(inv.operands[2], jpeg);
}

Result CmdPreview(const Invocation& inv, std::ostream&) {
  const std::vector<std::string>& operands = inv.operands;
  const int size = inv.number("--size", 0);
  if (Result r = InitMediaRegistry()) return r;
  FileSpec spec;
  ErrorCode e = MakeFileSpec(operands[0], spec);
  if (e == err::kNone) e = CheckRegularFile(spec.path);
  if (e != err::kNone) return FailWith(e, "'" + operands[0] + "': " + app::MessageForError(e, app::Activity::kOther));
  // Previews show the picture upright, as the file's orientation asks.
  // A file whose metadata cannot be read keeps the stored picture's own
  // orientation (upright as stored): the preview is still made.
  metadata::ImageMetadata m;
  (void)metadata::ReadImageMetadata(spec, false, &m);
  imaging::PixelBuffer picture;
  e = media::MakePreview(spec.path, 0, size, imaging::RotationForOrientation(m.orientation), &picture);
  if (e != err::kNone) {
    return FailWith(e, "No preview of '" + operands[0] + "': " + app::MessageForError(e, app::Activity::kOther));
  }
  std::vector<std::uint8_t> jpeg;
  if (ErrorCode j = imaging::EncodeJpeg(picture, kOutputJpegQuality, &jpeg); j != err::kNone) {
    return FailWith(j, app::Activity::kOther);
  }
  return WriteFile(operands[1], jpeg);
}

Json ImportOptionsJson(const media::ImportOptionsView& v) {
  auto filter = [](bool enabled, int op, const char* key, Json value) {
    return Json{{"enabled", enabled}, {"op", op}, {key, std::move(value)}};
  };
  Json filters = Json::object();
  filters["name"] = filter(v.name.enabled, v.name.op, "text", v.name.text);
  filters["created"] = filter(v.created.enabled, v.created.op, "date", v.created.date);
  filters["modified"] = filter(v.modified.enabled, v.modified.op, "date", v.modified.date);
  filters["size"] = filter(v.size.enabled, v.size.op, "kb", v.size.value);
  filters["level"] = filter(v.level.enabled, v.level.op, "level", v.level.value);
  filters["type"] = filter(v.type.enabled, v.type.op, "code", v.type.code);
  Json options = Json::object();
  options["class_mask"] = v.class_mask;
  options["ignore_shortcuts"] = v.ignore_shortcuts;
  options["ignore_invisible"] = v.ignore_invisible;
  options["filters"] = std::move(filters);
  return options;
}

// The members of a JSON object as key/value pairs in document order: nested
// object members are joined with '.', an array of plain values becomes its
// values joined by ',', strings are their text and numbers and booleans keep
// their JSON text.
//
//   {"filters": {"size": {"enabled": true, "kb": 200}}, "class_mask": ["Image"]}
//   -> filters.size.enabled=true, filters.size.kb=200, class_mask=Image
using KeyValues = std::vector<std::pair<std::string, std::string>>;

constexpr int kMaxJsonDepth = 32;

bool Flatten(const Json& object, const std::string& prefix, int depth, KeyValues* out, std::string* why) {
  if (depth > kMaxJsonDepth) {
    *why = "it nests too deep";
    return false;
  }
  auto plain = [](const Json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); };
  for (const auto& [key, value] : object.items()) {
    const std::string name = prefix.empty() ? key : prefix + "." + key;
    if (value.is_object()) {
      if (!Flatten(value, name, depth + 1, out, why)) return false;
    } else if (value.is_array()) {
      std::string joined;
      for (const Json& item : value) {
        if (item.is_structured()) {
          *why = "the array '" + name + "' may hold only plain values";
          return false;
        }
        joined += (joined.empty() ? "" : ",") + plain(item);
      }
      out->emplace_back(name, joined);
    } else {
      out->emplace_back(name, plain(value));
    }
  }
  return true;
}

std::optional<KeyValues> FlattenJson(const std::string& text, std::string* why) {
  Json document;
  try {
    document = Json::parse(text);
  } catch (const Json::parse_error& e) {
    // The library's words, without its "[json.exception.parse_error.101] ".
    const std::string what = e.what();
    *why = what.substr(what.find("] ") == std::string::npos ? 0 : what.find("] ") + 2);
    return std::nullopt;
  }
  if (!document.is_object()) {
    *why = "not a JSON object";
    return std::nullopt;
  }
  KeyValues pairs;
  if (!Flatten(document, "", 0, &pairs, why)) return std::nullopt;
  return pairs;
}

Result CmdImportOptions(const Invocation& inv, std::ostream& out) {
  const std::vector<std::string>& operands = inv.operands;
  const std::optional<std::string> set_json = inv.value("--set-json");
  Session s;
  if (Result r = s.open(operands[0], inv, set_json ? Intent::kChange : Intent::kView)) return r;
  media::ImportSettings settings = media::GetImportSettings(s.catalog());
  if (set_json) {
    std::string why;
    std::optional<KeyValues> pairs = FlattenJson(*set_json, &why);
    if (!pairs) return FailWith(err::kParam, "--set-json: " + why + ".");
    media::ImportOptionsView view = media::ImportOptionsToView(settings);
    for (const auto& [key, value] : *pairs) {
      if (media::SetImportOptionsKey(view, key, value) != err::kNone) {
        return FailWith(err::kParam, "'" + key + "' cannot be set to '" + value + "'.");
      }
    }
    if (media::ImportOptionsFromView(view, settings) != err::kNone) {
      return FailWith(err::kParam, "The import options given are not valid.");
    }
    media::SetImportSettings(s.catalog(), settings);
    if (s.catalog().changed()) {
      if (Result r = s.save()) return r;
    }
    // As in the desktop program's options pages, the options set become the
    // ones new catalogs start from. The catalog is saved already; a store
    // that cannot be written loses only this default.
    app::SettingsStore store = app::SettingsStore::Open();
    (void)app::SetDefaultImportOptions(store, s.catalog().import_options);
  }
  // Setting prints nothing unless JSON is asked for; showing prints them.
  if (inv.json || !set_json) PrintObject(out, ImportOptionsJson(media::ImportOptionsToView(settings)), inv.json);
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> ScanCommands() {
  using groups::kImport;
  const OptionSpec jobs{"--jobs", "N", "scan on N threads (default: one per processor)", 1, false, 1, 256};
  return {
      {"import", kImport, "CATALOG PATH...", 2, SIZE_MAX,
       {{"--no-scan", "", "add the files as pending items without scanning them"}, jobs, kJsonOption},
       "add files and folders, scan them, save",
       "Adds files, and the files in folders and their subfolders, that pass the catalog's import filters, "
       "scans the new items (facts, thumbnail, metadata) and saves. Ctrl-C stops at the next file; what was "
       "done is saved. Prints how many items were added, scanned and could not be read.",
       CmdImport},
      {"scan", kImport, "CATALOG", 1, 1, {jobs, kJsonOption}, "scan the items not scanned yet",
       "Scans the pending items and the items whose files changed since their last scan, and saves. Files "
       "that could not be read are tried again only once they change.",
       CmdScan},
      {"rebuild", kImport, "CATALOG ID...", 2, SIZE_MAX, {jobs, kJsonOption}, "scan items again",
       "Scans the items with these ItemIds again, reading their files afresh; annotations the user typed in "
       "the catalog and never wrote into the file are kept. Fails when a file could not be read.",
       CmdRebuild},
      {"thumbnail", kImport, "CATALOG ID OUT.jpg", 3, 3, {}, "the stored thumbnail as JPEG",
       "Writes an item's stored thumbnail to OUT.jpg as a JPEG file.", CmdThumbnail},
      {"preview", kImport, "FILE OUT.jpg", 2, 2,
       {{"--size", "N", "fit the preview in N by N pixels", 1, false, 1, 16384}}, "a preview of a media file",
       "Writes a preview of a media file (a photo, a movie's frame, a document's page) to OUT.jpg, upright "
       "as the file's orientation asks, and no larger than --size when it is given.",
       CmdPreview},
      {"import-options", kImport, "CATALOG", 1, 1,
       {{"--set-json", "JSON", "change the options named in a JSON object"}, kJsonOption},
       "the catalog's import filters",
       "Shows the catalog's import options: the media classes taken, whether shortcuts and invisible files "
       "are ignored, and the name, date, size, folder level and type filters. --set-json changes those it "
       "names, with the keys shown (for example {\"filters\": {\"size\": {\"enabled\": true, \"kb\": 100}}}), "
       "and saves.",
       CmdImportOptions},
  };
}

}  // namespace norvo::cli
