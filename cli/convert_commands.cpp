// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli convert: images, movies and sounds of a catalog written in
// another format, into a folder or in place of the originals.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/long_run.h"
#include "cli/output.h"
#include "imaging/image_writer.h"
#include "output/conversion.h"
#include "output/conversion_options.h"
#include "output/media_encoder.h"

namespace norvo::cli {
namespace {

using output::ReplaceAnswer;
using output::ConversionKind;
using output::LogKind;

// The extensions this machine can write for a kind.
std::vector<std::string> Writable(ConversionKind kind) {
  std::vector<std::string> list;
  if (kind == ConversionKind::kImage) {
    for (const imaging::ImageWriterFormat& f : imaging::ImageWriterFormats()) {
      if (f.available) list.emplace_back(f.extension);
    }
  } else {
    for (const output::AvFormat& f : output::EncodableAvFormats()) {
      if (f.video == (kind == ConversionKind::kMovie)) list.push_back(f.extension);
    }
  }
  return list;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
  return text;
}

ConversionKind KindOf(const Invocation& inv) {
  const std::string kind = inv.value("--kind").value_or("");
  if (kind == "image") return ConversionKind::kImage;
  if (kind == "movie") return ConversionKind::kMovie;
  if (kind == "sound") return ConversionKind::kSound;
  throw UsageError{"give --kind image, movie or sound"};
}

// "WxH", each from 1 to the largest picture side.
void ParseSize(const std::string& text, std::uint32_t* width, std::uint32_t* height) {
  const std::size_t x = text.find_first_of("xX");
  auto number = [&](std::string_view part, std::uint32_t* out) {
    const char* end = part.data() + part.size();
    auto [ptr, ec] = std::from_chars(part.data(), end, *out);
    return ec == std::errc() && ptr == end && *out >= 1 && *out <= static_cast<std::uint32_t>(imaging::kMaxSide);
  };
  if (x == std::string::npos || !number(std::string_view(text).substr(0, x), width) ||
      !number(std::string_view(text).substr(x + 1), height)) {
    throw UsageError{"--size takes WIDTHxHEIGHT in pixels, e.g. 1600x1600"};
  }
}

std::vector<std::uint32_t> ParseIds(const Invocation& inv, const catalog::Catalog& c, Result* failure) {
  std::vector<std::uint32_t> ids;
  auto it = inv.values.find("--ids");
  if (it == inv.values.end()) return ids;
  for (const std::string& list : it->second) {
    std::size_t start = 0;
    while (start <= list.size()) {
      const std::size_t comma = std::min(list.find(',', start), list.size());
      int cell = 0;
      if (Result r = FindCell(c, list.substr(start, comma - start), &cell)) {
        *failure = r;
        return {};
      }
      ids.push_back(c.cells[static_cast<std::size_t>(cell - 1)].item_id);
      start = comma + 1;
    }
  }
  return ids;
}

std::string_view KindName(LogKind kind) {
  switch (kind) {
    case LogKind::kConverted: return "converted";
    case LogKind::kWarning: return "warning";
    case LogKind::kSkipped: return "skipped";
    case LogKind::kFailed: return "failed";
  }
  return "failed";
}

std::string Leaf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Result CmdConvert(const Invocation& inv, std::ostream& out) {
  const ConversionKind kind = KindOf(inv);
  const bool replace = inv.flag("--replace");
  const std::optional<std::string> destination = inv.value("--dest");
  if (replace == destination.has_value()) throw UsageError{"give either --dest DIR or --replace"};
  std::string extension = inv.value("--format").value_or("");
  for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
  if (kind == ConversionKind::kImage) {
    if (const imaging::ImageWriterFormat* f = imaging::FindImageWriter(extension)) extension = f->extension;
  }
  const std::vector<std::string> writable = Writable(kind);
  if (writable.empty() && kind != ConversionKind::kImage) {
    throw UsageError{"movies and sounds cannot be converted here: " + output::MediaEncoderError()};
  }
  if (std::find(writable.begin(), writable.end(), extension) == writable.end()) {
    throw UsageError{"--format takes one of " + Joined(writable) + " for --kind " + inv.value("--kind").value()};
  }
  if (kind != ConversionKind::kImage) {
    for (const char* image_only : {"--size", "--dpi"}) {
      if (inv.value(image_only)) throw UsageError{std::string(image_only) + " goes with --kind image"};
    }
    for (const char* image_only : {"--keep-profile", "--keep-metadata"}) {
      if (inv.flag(image_only)) throw UsageError{std::string(image_only) + " goes with --kind image"};
    }
  }

  output::ConversionRequest request;
  request.options = output::DefaultConversionOptions(kind);
  request.options.output_format = output::FormatForExtension(extension);
  request.extension = extension;
  if (kind == ConversionKind::kImage) {
    request.options.preserve_profiles = inv.flag("--keep-profile") ? 1 : 0;
    request.options.preserve_metadata = inv.flag("--keep-metadata") ? 1 : 0;
    request.options.scale_to_fit = 0;
    if (std::optional<std::string> size = inv.value("--size")) {
      request.options.scale_to_fit = 1;
      ParseSize(*size, &request.options.box_width, &request.options.box_height);
    }
    request.options.custom_resolution = inv.value("--dpi") ? 1 : 0;
    if (inv.value("--dpi")) request.options.resolution = static_cast<std::uint32_t>(inv.number("--dpi", 72));
  }
  // The writer's own settings (quality, codecs) are the ones the desktop
  // program's "Settings..." stored.
  const app::SettingsStore store = app::SettingsStore::Open();
  const std::vector<std::uint8_t> writer =
      app::GetSetting(store, output::kConversionSettingsCode, output::WriterSettingsIndex(kind))
          .value_or(std::vector<std::uint8_t>());
  if (kind == ConversionKind::kImage) request.image_settings = output::ParseImageWriterSettings(writer);
  else request.av_settings = output::ParseAvWriterSettings(writer);

  const std::string clash = inv.value("--on-clash").value_or("skip");
  ReplaceAnswer answer = ReplaceAnswer::kSkip;
  if (clash == "replace") answer = ReplaceAnswer::kReplace;
  else if (clash == "replace-all") answer = ReplaceAnswer::kReplaceAll;
  else if (clash != "skip") throw UsageError{"--on-clash takes replace, skip or replace-all"};
  request.ask = [answer](const std::string&, const std::string&) { return answer; };
  if (destination) request.destination = *destination;

  if (Result r = InitMediaRegistry()) return r;
  Session s;
  if (Result r = s.open(inv.operands[0], inv, replace ? Intent::kChange : Intent::kView)) return r;
  Result bad_id;
  request.item_ids = ParseIds(inv, s.catalog(), &bad_id);
  if (bad_id) return bad_id;

  InterruptScope interrupt;
  ProgressLine line;
  request.progress = [&](ProgressPhase phase, int done, int total, std::string_view text) {
    if (phase == ProgressPhase::kStep) {
      line.show(std::string(text) + " " + std::to_string(done) + " of " + std::to_string(total));
    }
    return InterruptScope::Requested() ? 1 : 0;
  };
  const output::ConversionOutcome outcome = output::RunConversion(s.catalog(), request);
  line.done();
  // Items pointed at their new files are saved even after a cancel: the old
  // files of those items are gone.
  if (outcome.catalog_changed) {
    if (Result r = s.save()) return r;
  }
  if (outcome.result == err::kFolderNotFound) {
    return FailWith(outcome.result, "The destination folder '" + request.destination + "' does not exist.");
  }
  if (outcome.result != err::kNone && outcome.result != err::kUserCancelled) {
    return FailWith(outcome.result, app::Activity::kOther);
  }

  Json items = Json::array();
  for (const output::ConversionLogEntry& e : outcome.log) {
    Json item = Json::object();
    item["id"] = e.item_id;
    item["result"] = KindName(e.kind);
    item["error"] = e.error == err::kNone ? Json(nullptr) : Json(e.error);
    item["source"] = e.source.empty() ? Json(nullptr) : Json(e.source);
    item["output"] = e.output.empty() ? Json(nullptr) : Json(e.output);
    item["text"] = e.text;
    items.push_back(item);
  }
  if (inv.json) {
    Json all = Json::object();
    all["converted"] = outcome.converted;
    all["skipped"] = outcome.skipped;
    all["failed"] = outcome.failed;
    all["cancelled"] = outcome.result == err::kUserCancelled;
    all["items"] = items;
    PrintJson(out, all);
    return std::nullopt;
  }
  auto file = [](const Json& item) {
    const Json& name = item["output"].is_null() ? item["source"] : item["output"];
    return name.is_null() ? std::string() : Leaf(name.get<std::string>());
  };
  PrintTable(out, items, {MemberColumn("ID", "id", true), MemberColumn("RESULT", "result"), {"FILE", false, file},
                          MemberColumn("MESSAGE", "text")});
  out << outcome.converted << " converted, " << outcome.skipped << " skipped, " << outcome.failed << " failed"
      << (outcome.result == err::kUserCancelled ? " (cancelled)" : "") << "\n";
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> ConvertCommands() {
  using groups::kOutput;
  return {
      {"convert", kOutput, "CATALOG", 1, 1,
       {{"--kind", "KIND", "image, movie or sound"},
        {"--format", "EXT", "the new files' extension: jpg, png, tif, webp, heic, avif, gif, bmp; mp4, mov, webm ...; "
                            "wav, aif, mp3, flac, opus ..."},
        {"--dest", "DIR", "write the new files into this folder"},
        {"--replace", "", "write each new file beside its source, point the item at it and delete the old file"},
        {"--ids", "ID,...", "only these items (may be repeated)", 1, true},
        {"--size", "WxH", "image: scale each picture to fit inside this box"},
        {"--dpi", "N", "image: the new files' resolution (default: each item's own)", 1, false, 1, 65535},
        {"--keep-profile", "", "image: carry each picture's colour profile over"},
        {"--keep-metadata", "", "image: carry the EXIF metadata (with GPS) over, its orientation set upright"},
        {"--on-clash", "ANSWER", "when a file of the new name exists: skip (default), replace or replace-all"},
        kJsonOption},
       "write items' files in another format",
       "Converts the files of the catalog's items (all of them, or those of --ids, in catalog order) of --kind "
       "image, movie or sound into the format of --format. Pictures are written as the catalog shows them "
       "(turned upright), scaled to fit --size when given, with the resolution of --dpi or the item's own; "
       "--keep-profile and --keep-metadata carry the colour profile and the EXIF metadata over where the format "
       "holds them. Movies and sounds are encoded with the settings the desktop program stored. Each new file "
       "is written under a temporary name and renamed once complete. With --dest the new files go into that "
       "folder; with --replace each goes beside its source, the item is pointed at it, the old file is deleted "
       "and the catalog is saved. A file of the new name is never written over unless --on-clash says so "
       "(the source itself, converted onto its own name, is). Prints each item's result (converted, warning, "
       "skipped or failed), its file and a message.",
       CmdConvert},
  };
}

}  // namespace norvo::cli
