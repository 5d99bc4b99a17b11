// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of file metadata: what a file's EXIF, IPTC and XMP say
// (metadata), and annotations written into files (annotate, and sync from
// a catalog).
#include "cli/command_table.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/catalog_session.h"
#include "cli/output.h"
#include "metadata/annotation_block.h"
#include "metadata/annotation_import.h"
#include "app/item_sync.h"
#include "metadata/annotation_sync.h"
#include "metadata/embedded_annotations.h"
#include "metadata/image_file_reader.h"
#include "metadata/field_format.h"
#include "metadata/field_table.h"
#include "metadata/iptc_records.h"
#include "metadata/metadata_fields.h"
#include "platform/file_replace.h"
#include "platform/file_spec.h"
#include "platform/text_encoding.h"

namespace norvo::cli {
namespace {

namespace md = norvo::metadata;

// A metadata list key as text: four printable characters as they are, the
// metadata text keys as "©" and three characters, anything else in hex.
std::string KeyText(std::uint32_t key) {
  std::string text;
  bool printable = true;
  for (int shift = 24; shift >= 0; shift -= 8) {
    auto c = static_cast<unsigned char>(key >> shift);
    if (shift == 24 && c == 0xA9) {
      text += "\xC2\xA9";
      continue;
    }
    printable = printable && c >= 0x20 && c < 0x7F;
    text += static_cast<char>(c);
  }
  if (printable) return text;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(key));
  return hex;
}

std::string LabelUtf8(md::FieldId id) { return Windows1252ToUtf8(md::FieldLabel(nullptr, id)); }

// Annotation field labels to their values, in field-table order.
Json AnnotationsJson(std::span<const std::uint8_t> block) {
  Json annotations = Json::object();
  for (int i = 1; i <= md::FieldCount(); ++i) {
    md::FieldId id = md::FieldIdAt(i);
    if (md::FieldSourceOf(id) != md::FieldSource::kAnnotation && id != md::kLabelField) continue;
    std::vector<md::AnnotationValue> values = md::GetAnnotations(id, block);
    if (values.empty()) continue;
    Json& list = annotations[LabelUtf8(id)] = Json::array();
    for (const md::AnnotationValue& v : values) list.push_back(v.utf8());
  }
  return annotations;
}

Result OpenFileSpec(const std::string& path, FileSpec* spec) {
  ErrorCode e = MakeFileSpec(path, *spec);
  if (e == err::kFileNotFound) return FailWith(e, "'" + path + "' does not exist.");
  if (e != err::kNone) return FailWith(e, "'" + path + "': " + app::MessageForError(e, app::Activity::kOther));
  return std::nullopt;
}

// A file's listing as exiftool prints one: `Label   : value` lines, labels
// padded to one width.
void PrintMetadataText(std::ostream& out, const Json& file) {
  std::vector<std::pair<std::string, std::string>> lines;
  if (file.contains("error")) lines.emplace_back("Error", file["error"].get<std::string>());
  lines.emplace_back("Orientation", PlainText(file["orientation"]));
  if (!file["color_profile"].is_null()) lines.emplace_back("Color Profile", file["color_profile"].get<std::string>());
  for (const auto& [label, value] : file["fields"].items()) lines.emplace_back(label, value.get<std::string>());
  for (const auto& [label, values] : file["annotations"].items()) lines.emplace_back(label, PlainText(values));
  if (!file["items"].empty()) {
    std::string keys;
    for (const Json& key : file["items"]) keys += (keys.empty() ? "" : " ") + key.get<std::string>();
    lines.emplace_back("Metadata Items", keys);
  }
  PrintAligned(out, lines, " : ");
}

Result CmdMetadata(const Invocation& inv, std::ostream& out) {
  Json files = Json::array();
  for (const std::string& path : inv.operands) {
    FileSpec spec;
    if (Result r = OpenFileSpec(path, &spec)) return r;
    md::ImageMetadata m;
    ErrorCode e = md::ReadImageMetadata(spec, false, &m);
    Json& file = files.emplace_back(Json{{"file", path}});
    if (e != err::kNone) {
      file["error"] = app::MessageForError(e, app::Activity::kOther) + " (error " + std::to_string(e) + ")";
    }
    file["orientation"] = static_cast<int>(m.orientation);
    std::string profile = md::ColourProfileName(m);
    file["color_profile"] = profile.empty() ? Json(nullptr) : Json(Windows1252ToUtf8(profile));
    Json& fields = file["fields"] = Json::object();
    for (const md::MetadataField& f : md::MetadataFieldsOf(m.list)) {
      std::string text = md::FormatFieldValueJson(f.value, md::FieldValueType(f.id), f.id, true);
      if (!text.empty()) fields[LabelUtf8(f.id)] = text;
    }
    file["annotations"] = AnnotationsJson(md::AnnotationsFromMetadata(m.list, m.image_resources));
    Json& items = file["items"] = Json::array();
    for (std::uint32_t key = m.list.nextKey(0); key != 0; key = m.list.nextKey(key)) items.push_back(KeyText(key));
  }
  if (inv.json) {
    PrintJson(out, files);
    return std::nullopt;
  }
  for (const Json& file : files) {
    if (files.size() > 1) out << "======== " << file["file"].get<std::string>() << '\n';
    PrintMetadataText(out, file);
  }
  return std::nullopt;
}

// One LABEL=VALUE of the command line applied to the block.
Result ApplyAssignment(std::string_view assignment, md::AnnotationBlock& block, std::uint8_t* label) {
  std::size_t equals = assignment.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return FailWith(err::kParam, "'" + std::string(assignment) + "' is not LABEL=VALUE.");
  }
  std::string name(assignment.substr(0, equals));
  std::string_view value = assignment.substr(equals + 1);
  md::FieldId id = md::FindFieldByLabel(nullptr, name);
  bool carried = false;
  for (md::FieldId f : md::kIptcAnnotationFields) carried = carried || f == id;
  if (!carried) return FailWith(err::kParam, "'" + name + "' is not an annotation field that files carry.");

  if (id == md::kLabelField) {
    if (value.empty()) {
      *label = 0;
    } else if (value.size() == 1 && value[0] >= '0' && value[0] <= '9') {
      *label = static_cast<std::uint8_t>(value[0] - '0');
    } else {
      return FailWith(err::kParam, "A label is a digit from 0 to 9, not '" + std::string(value) + "'.");
    }
    md::RemoveAnnotations(id, block);
    return std::nullopt;
  }
  if (id == md::kEventDateField && !value.empty()) {
    std::optional<std::string> date = md::NormaliseDateText(value);
    if (!date) return FailWith(err::kParam, "'" + std::string(value) + "' is not a date such as 2024-03-05.");
    md::SetAnnotationText(id, 1, *date, block, md::SetMode::kReplace);
    return std::nullopt;
  }
  if (md::IsListField(id)) {
    md::RemoveAnnotations(id, block);
    for (const std::string& item : md::SplitListText(value)) {
      md::BlockText text = md::BlockTextFromUtf8(item);
      md::SetAnnotationText(id, 0, text.bytes, block, md::SetMode::kAppend, text.marker);
    }
    return std::nullopt;
  }
  md::BlockText text = md::BlockTextFromUtf8(value);
  if (text.bytes.empty()) {
    md::RemoveAnnotations(id, block);
  } else {
    md::SetAnnotationText(id, 1, text.bytes, block, md::SetMode::kReplace, text.marker);
  }
  return std::nullopt;
}

Result CmdAnnotate(const Invocation& inv, std::ostream& out) {
  const std::string& path = inv.operands[0];
  FileSpec spec;
  if (Result r = OpenFileSpec(path, &spec)) return r;
  md::ImageMetadata m;
  if (ErrorCode e = md::ReadImageMetadata(spec, false, &m); e != err::kNone) {
    return FailWith(e, "'" + path + "' cannot carry annotations: " + app::MessageForError(e, app::Activity::kOther));
  }
  // The annotations the file has now, its IPTC, texts and XMP merged, are the
  // starting point: fields not named on the command line keep their values.
  md::AnnotationBlock block = md::AnnotationsFromMetadata(m.list, m.image_resources);
  std::uint8_t label = 0;
  if (auto v = md::GetAnnotation(md::kLabelField, 1, block); v && v->bytes.size() == 1 && v->bytes[0] >= '0' &&
                                                              v->bytes[0] <= '9') {
    label = static_cast<std::uint8_t>(v->bytes[0] - '0');
  }
  md::RemoveAnnotations(md::kLabelField, block);
  for (std::size_t i = 1; i < inv.operands.size(); ++i) {
    if (Result r = ApplyAssignment(inv.operands[i], block, &label)) return r;
  }
  md::EmbeddedAnnotations annotations{.block = block,
                                      .label = label,
                                      .iptc_fields = md::kIptcAnnotationFields,
                                      .max_length = [](md::FieldId id) { return md::FieldMaxLength(id); }};
  std::string why;  // the XMP toolkit's own words, when it refused
  if (ErrorCode e = md::WriteAnnotationsIntoFile(spec.path, annotations, &why); e != err::kNone) {
    return FailWith(e, "The annotations could not be written into '" + path +
                           "': " + app::MessageForError(e, app::Activity::kOther) + (why.empty() ? "" : " (" + why + ")"));
  }
  if (inv.json) {
    md::ImageMetadata written;
    if (ErrorCode e = md::ReadImageMetadata(spec, false, &written); e != err::kNone) {
      return FailWith(e, "The annotations were written into '" + path + "' but could not be read back: " +
                             app::MessageForError(e, app::Activity::kOther));
    }
    PrintJson(out, Json{{"file", path},
                        {"annotations", AnnotationsJson(md::AnnotationsFromMetadata(written.list,
                                                                                    written.image_resources))}});
  }
  return std::nullopt;
}

// Writes catalog items' annotations into their files: embedded (IPTC and
// XMP, in every format `annotate` writes), or with --iim as a raw IIM file
// beside each media file ("NAME.iim"). A field written so is no longer the
// user's alone: a later rebuild reads it from the file.
Result CmdSync(const Invocation& inv, std::ostream& out) {
  const std::vector<std::string>& operands = inv.operands;
  const bool iim = inv.flag("--iim");
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
    std::string why = {};  // the XMP toolkit's own words, when it refused
  };
  std::vector<Outcome> outcomes;
  for (int cell : cells) {
    const catalog::CatalogCell cc = c.cells[static_cast<std::size_t>(cell - 1)];
    Outcome o{cc.item_id, {}, err::kNone};
    o.error = app::SyncItemIntoFile(c, cell, iim ? app::SyncForm::kIimFile : app::SyncForm::kEmbedded, &o.file, &o.why);
    outcomes.push_back(o);
  }
  if (c.changed()) {
    if (Result r = s.save()) return r;
  }
  int failed = 0;
  Json written = Json::array();
  for (const Outcome& o : outcomes) {
    failed += o.error != err::kNone ? 1 : 0;
    if (inv.json) {
      Json& entry = written.emplace_back(Json{{"id", o.id}, {"file", o.file}});
      if (o.error != err::kNone) {
        entry["error"] = o.error;
        entry["message"] = app::MessageForError(o.error, app::Activity::kOther);
        if (!o.why.empty()) entry["detail"] = o.why;
      }
    } else if (o.error != err::kNone) {
      out << o.id << ": " << app::MessageForError(o.error, app::Activity::kOther)
          << (o.why.empty() ? "" : " (" + o.why + ")") << " (error " << o.error << ")\n";
    } else {
      out << o.id << ": " << o.file << '\n';
    }
  }
  if (inv.json) PrintJson(out, written);
  if (failed > 0) {
    const Outcome& first = *std::find_if(outcomes.begin(), outcomes.end(), [](const Outcome& o) { return o.error != err::kNone; });
    return FailWith(first.error, std::to_string(failed) + " of " + std::to_string(outcomes.size()) +
                                     " items could not be written into their files.");
  }
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> MetadataCommands() {
  using groups::kMetadata;
  return {
      {"metadata", kMetadata, "FILE...", 1, SIZE_MAX, {kJsonOption},
       "EXIF facts, annotations and metadata items of image files",
       "Shows what image files say about themselves: orientation, colour profile, the EXIF facts by field "
       "label, the annotations their IPTC, texts and XMP hold (merged as a scan merges them), and the keys "
       "of their metadata items. With several files, a line `======== FILE` comes before each.",
       CmdMetadata},
      {"annotate", kMetadata, "FILE LABEL=VALUE...", 2, SIZE_MAX, {kJsonOption},
       "write annotations into a JPEG, TIFF or Photoshop file",
       "Writes annotations into a JPEG, TIFF or Photoshop file, as IPTC and XMP. Each LABEL=VALUE names an "
       "annotation field by its label (Caption, Keywords, Author, City, Event Date, Labels ...); an empty "
       "VALUE clears the field; fields not named keep their values. With --json, prints the annotations the "
       "file holds afterwards.",
       CmdAnnotate},
      {"sync", kMetadata, "CATALOG ID...", 2, SIZE_MAX,
       {{"--iim", "", "write a raw IIM file NAME.iim beside each file instead"}, kJsonOption},
       "write items' annotations into their files",
       "Writes the catalog annotations of the items with these ItemIds into their files, as IPTC and XMP "
       "(or, with --iim, into a NAME.iim file beside each). A field written so follows the file from then "
       "on. Prints each item's file, or why it could not be written.",
       CmdSync},
  };
}

}  // namespace norvo::cli
