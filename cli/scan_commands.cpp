// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands that bring files into a catalog and read them: import,
// scan, rebuild, thumbnail, preview and import-options.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/json_reader.h"
#include "cli/json_writer.h"
#include "imaging/jpeg_codec.h"
#include "imaging/thumbnail.h"
#include "imaging/transform.h"
#include "media/import.h"
#include "media/import_options.h"
#include "media/item_scan.h"
#include "metadata/annotation_sync.h"
#include "metadata/embedded_annotations.h"
#include "metadata/exif_reader.h"
#include "metadata/field_table.h"
#include "metadata/iptc_records.h"
#include "platform/file_replace.h"
#include "platform/file_spec.h"

namespace norvo::cli {
namespace {

// JPEG quality of files the commands write (thumbnails, previews).
constexpr int kOutputJpegQuality = 90;

// Ctrl-C stops an import or scan at the next file; what was done is saved.
std::atomic<bool> interrupted{false};
extern "C" void OnInterrupt(int) { interrupted.store(true); }

class InterruptScope {
 public:
  InterruptScope() { previous_ = std::signal(SIGINT, OnInterrupt); }
  ~InterruptScope() { std::signal(SIGINT, previous_); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  void (*previous_)(int) = SIG_DFL;
};

// A progress line on standard error, rewritten in place, when it is a terminal.
class ProgressLine {
 public:
  ProgressLine() : shown_(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() { done(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void show(const std::string& text) {
    if (!shown_) return;
    std::fprintf(stderr, "\r%-72.72s", text.c_str());
    std::fflush(stderr);
    dirty_ = true;
  }
  void done() {
    if (shown_ && dirty_) std::fputc('\n', stderr);
    dirty_ = false;
  }

 private:
  bool shown_;
  bool dirty_ = false;
};

int ParseJobs(std::vector<std::string>& operands) {
  std::optional<std::string> text = TakeOption(operands, "--jobs");
  if (!text) return 0;
  int jobs = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), jobs);
  if (ec != std::errc() || end != text->data() + text->size() || jobs < 1 || jobs > 256) {
    throw UsageError{"--jobs takes a number from 1 to 256"};
  }
  return jobs;
}

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

// Scans the items on the pool and reports progress; the catalog is not saved.
Result RunScan(Session& s, std::span<const std::uint32_t> ids, int jobs, ScanReport* report, bool rebuild = false) {
  media::ScanOptions options;
  options.thumbnail_size = media::CatalogThumbnailSize(s.catalog());
  options.rebuild = rebuild;
  ProgressLine line;
  ErrorCode e = media::ScanItems(
      s.catalog(), ids, jobs, options,
      [&](int phase, int done, int total) {
        if (phase == 1) line.show("Scanning " + std::to_string(done) + " of " + std::to_string(total));
        return interrupted.load() ? err::kUserCancelled : 0;
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
    JsonWriter w;
    w.beginObject();
    if (with_added) w.key("added").number(r.added);
    w.key("scanned").number(r.summary.scanned);
    w.key("failed").beginArray();
    for (const auto& [id, code] : r.summary.failures) {
      w.beginObject();
      w.key("id").number(id);
      w.key("error").number(static_cast<int>(code));
      w.key("message").string(app::MessageForError(code, app::Activity::kOther));
      w.endObject();
    }
    w.endArray();
    w.key("cancelled").boolean(r.cancelled);
    w.endObject();
    out << w.text() << '\n';
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
  std::vector<std::string> operands = inv.operands;
  const bool no_scan = TakeFlag(operands, "--no-scan");
  const int jobs = ParseJobs(operands);
  if (operands.size() < 2) throw UsageError{"import needs a catalog and at least one file or folder"};
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
        [&](int, const media::ImportCounters& c, std::string_view) {
          line.show("Importing: " + std::to_string(c.items_added) + " added, " + std::to_string(c.files_scanned) +
                    " files looked at");
          return interrupted.load() ? err::kUserCancelled : 0;
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
  std::vector<std::string> operands = inv.operands;
  const int jobs = ParseJobs(operands);
  if (operands.size() != 1) throw UsageError{"scan takes one catalog"};
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
  std::vector<std::string> operands = inv.operands;
  const int jobs = ParseJobs(operands);
  if (operands.size() < 2) throw UsageError{"rebuild needs a catalog and at least one item id"};
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
  if (ErrorCode e = catalog::GetItemRecord(s.catalog(), cell, true, true, record); e != err::kNone) {
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
  std::vector<std::string> operands = inv.operands;
  int size = 0;
  if (std::optional<std::string> text = TakeOption(operands, "--size")) {
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), size);
    if (ec != std::errc() || end != text->data() + text->size() || size < 1 || size > 16384) {
      throw UsageError{"--size takes a number of pixels from 1 to 16384"};
    }
  }
  if (operands.size() != 2) throw UsageError{"preview takes a file and an output file"};
  if (Result r = InitMediaRegistry()) return r;
  FileSpec spec;
  ErrorCode e = MakeFileSpec(operands[0], spec);
  if (e == err::kNone) e = CheckRegularFile(spec.path);
  if (e != err::kNone) return FailWith(e, "'" + operands[0] + "': " + app::MessageForError(e, app::Activity::kOther));
  // Previews show the picture upright, as the file's orientation asks.
  metadata::ImageMetadata m;
  metadata::ReadImageMetadata(spec, false, &m);
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

// Writes catalog items' annotations into their files: embedded (IPTC and
// XMP, in every format `annotate` writes), or with --iim as a raw IIM file
// beside each media file ("NAME.iim"). A field written so is no longer the
// user's alone: a later rebuild reads it from the file.
Result CmdSync(const Invocation& inv, std::ostream& out) {
  std::vector<std::string> operands = inv.operands;
  const bool iim = TakeFlag(operands, "--iim");
  if (operands.size() < 2) throw UsageError{"sync needs a catalog and at least one item id"};
  Session s;
  if (Result r = s.open(operands[0], inv, Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  std::vector<int> cells;
  for (std::size_t i = 1; i < operands.size(); ++i) {
    int cell = 0;
    if (Result r = FindCell(c, operands[i], &cell)) return r;
    cells.push_back(cell);
  }
  struct Outcome {
    std::uint32_t id;
    std::string file;
    ErrorCode error;
  };
  std::vector<Outcome> outcomes;
  for (int cell : cells) {
    const catalog::CatalogCell cc = c.cells[static_cast<std::size_t>(cell - 1)];
    Outcome o{cc.item_id, {}, err::kNone};
    catalog::ItemRecord record;
    o.error = catalog::GetItemRecord(c, cell, true, true, record);
    if (o.error == err::kNone) o.error = catalog::LocateItemFile(c, cell, o.file);
    if (o.error == err::kNone) {
      metadata::EmbeddedAnnotations annotations{.block = record.annotations,
                                                .label = static_cast<std::uint8_t>(cc.label()),
                                                .iptc_fields = metadata::kIptcAnnotationFields,
                                                .max_length = [](metadata::FieldId id) { return metadata::FieldMaxLength(id); }};
      if (iim) {
        const std::vector<std::uint8_t> records = metadata::EmbeddedIimRecords(annotations);
        o.file += ".iim";
        if (!FileExists(o.file)) o.error = CreateFile(FileSpec{0, 0, LeafName(o.file), o.file}, 0, 0);
        if (o.error == err::kNone) o.error = ReplaceFileSafely(o.file, records);
      } else {
        o.error = metadata::WriteAnnotationsIntoFile(o.file, annotations);
      }
    }
    if (o.error == err::kNone) {
      // Re-read: locating the file may have repointed the item.
      const int now = c.cellOf(cc.item_id);
      catalog::ItemRecord written;
      if (catalog::GetItemRecord(c, now, true, true, written) == err::kNone && !metadata::UnsyncedUserFields(written).empty()) {
        const bool pending = c.cells[static_cast<std::size_t>(now - 1)].pending();
        metadata::ClearUnsyncedUserFields(written);
        if (ErrorCode e = catalog::ReplaceItemParts(c, now, written, catalog::parts::kMetadata); e != err::kNone) {
          return FailWith(e, app::Activity::kOther);
        }
        if (pending) c.cells[static_cast<std::size_t>(now - 1)].flags |= catalog::cell_flags::kPending;
      }
    }
    outcomes.push_back(o);
  }
  if (c.changed()) {
    if (Result r = s.save()) return r;
  }
  int failed = 0;
  JsonWriter w;
  w.beginArray();
  for (const Outcome& o : outcomes) {
    failed += o.error != err::kNone ? 1 : 0;
    if (inv.json) {
      w.beginObject();
      w.key("id").number(o.id);
      w.key("file").string(o.file);
      if (o.error != err::kNone) {
        w.key("error").number(o.error);
        w.key("message").string(app::MessageForError(o.error, app::Activity::kOther));
      }
      w.endObject();
    } else if (o.error != err::kNone) {
      out << o.id << ": " << app::MessageForError(o.error, app::Activity::kOther) << " (error " << o.error << ")\n";
    } else {
      out << o.id << ": " << o.file << '\n';
    }
  }
  w.endArray();
  if (inv.json) out << w.text() << '\n';
  if (failed > 0) {
    const Outcome& first = *std::find_if(outcomes.begin(), outcomes.end(), [](const Outcome& o) { return o.error != err::kNone; });
    return FailWith(first.error, std::to_string(failed) + " of " + std::to_string(outcomes.size()) +
                                     " items could not be written into their files.");
  }
  return std::nullopt;
}

void WriteImportOptions(const media::ImportOptionsView& v, std::ostream& out) {
  JsonWriter w;
  w.beginObject();
  w.key("class_mask").beginArray();
  for (const std::string& c : v.class_mask) w.string(c);
  w.endArray();
  w.key("ignore_shortcuts").boolean(v.ignore_shortcuts);
  w.key("ignore_invisible").boolean(v.ignore_invisible);
  w.key("filters").beginObject();
  auto head = [&](const char* name, bool enabled, int op) {
    w.key(name).beginObject();
    w.key("enabled").boolean(enabled);
    w.key("op").number(op);
  };
  head("name", v.name.enabled, v.name.op);
  w.key("text").string(v.name.text);
  w.endObject();
  head("created", v.created.enabled, v.created.op);
  w.key("date").string(v.created.date);
  w.endObject();
  head("modified", v.modified.enabled, v.modified.op);
  w.key("date").string(v.modified.date);
  w.endObject();
  head("size", v.size.enabled, v.size.op);
  w.key("kb").number(v.size.value);
  w.endObject();
  head("level", v.level.enabled, v.level.op);
  w.key("level").number(v.level.value);
  w.endObject();
  head("type", v.type.enabled, v.type.op);
  w.key("code").string(v.type.code);
  w.endObject();
  w.endObject();
  w.endObject();
  out << w.text() << '\n';
}

Result CmdImportOptions(const Invocation& inv, std::ostream& out) {
  std::vector<std::string> operands = inv.operands;
  std::optional<std::string> set_json = TakeOption(operands, "--set-json");
  if (operands.size() != 1) throw UsageError{"import-options takes one catalog"};
  if (!set_json && !inv.json) throw UsageError{"import-options needs --json or --set-json JSON"};
  Session s;
  if (Result r = s.open(operands[0], inv, set_json ? Intent::kChange : Intent::kView)) return r;
  media::ImportSettings settings = media::GetImportSettings(s.catalog());
  if (set_json) {
    std::string why;
    std::optional<KeyValues> pairs = FlattenJson(*set_json, &why);
    if (!pairs) return FailWith(err::kParam, "--set-json is not JSON: " + why + ".");
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
  }
  if (inv.json) WriteImportOptions(media::ImportOptionsToView(settings), out);
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> ScanCommands() {
  return {
      {"import", 2, SIZE_MAX, true, false, CmdImport,
       "import CATALOG PATH... [--no-scan] [--jobs N] [--json]  add files and folders, scan them, save"},
      {"scan", 1, 3, true, false, CmdScan, "scan CATALOG [--jobs N] [--json]  scan the items not scanned yet"},
      {"rebuild", 2, SIZE_MAX, true, false, CmdRebuild, "rebuild CATALOG ID... [--json]  scan items again"},
      {"sync", 2, SIZE_MAX, true, false, CmdSync,
       "sync CATALOG ID... [--iim] [--json]  write items' annotations into their files (--iim: a NAME.iim file)"},
      {"thumbnail", 3, 3, false, false, CmdThumbnail, "thumbnail CATALOG ID OUT.jpg  the stored thumbnail as JPEG"},
      {"preview", 2, 4, false, false, CmdPreview, "preview FILE OUT.jpg [--size N]  a preview of a media file"},
      {"import-options", 1, 3, true, false, CmdImportOptions,
       "import-options CATALOG --json | --set-json JSON  the catalog's import filters"},
  };
}

}  // namespace norvo::cli
