// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of file metadata: what a file's EXIF, IPTC and XMP say
// (metadata), and annotations written into files (annotate).
#include "cli/command_table.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/json_writer.h"
#include "metadata/annotation_block.h"
#include "metadata/annotation_import.h"
#include "metadata/embedded_annotations.h"
#include "metadata/exif_reader.h"
#include "metadata/field_format.h"
#include "metadata/field_table.h"
#include "metadata/iptc_records.h"
#include "metadata/metadata_fields.h"
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
void WriteAnnotations(JsonWriter& w, std::span<const std::uint8_t> block) {
  w.beginObject();
  for (int i = 1; i <= md::FieldCount(); ++i) {
    md::FieldId id = md::FieldIdAt(i);
    if (md::FieldSourceOf(id) != md::FieldSource::kAnnotation && id != md::kLabelField) continue;
    std::vector<md::AnnotationValue> values = md::GetAnnotations(id, block);
    if (values.empty()) continue;
    w.key(LabelUtf8(id));
    w.beginArray();
    for (const md::AnnotationValue& v : values) w.string(v.utf8());
    w.endArray();
  }
  w.endObject();
}

Result OpenFileSpec(const std::string& path, FileSpec* spec) {
  ErrorCode e = MakeFileSpec(path, *spec);
  if (e == err::kFileNotFound) return FailWith(e, "'" + path + "' does not exist.");
  if (e != err::kNone) return FailWith(e, "'" + path + "': " + app::MessageForError(e, app::Activity::kOther));
  return std::nullopt;
}

Result CmdMetadata(const Invocation& inv, std::ostream& out) {
  JsonWriter w;
  w.beginArray();
  for (const std::string& path : inv.operands) {
    FileSpec spec;
    if (Result r = OpenFileSpec(path, &spec)) return r;
    md::ImageMetadata m;
    ErrorCode e = md::ReadImageMetadata(spec, false, &m);
    w.beginObject();
    w.key("file").string(path);
    if (e != err::kNone) {
      w.key("error").string(app::MessageForError(e, app::Activity::kOther) + " (error " + std::to_string(e) + ")");
    }
    w.key("orientation").number(static_cast<int>(m.orientation));
    std::string profile = md::ColourProfileName(m);
    if (profile.empty()) {
      w.key("color_profile").null();
    } else {
      w.key("color_profile").string(Windows1252ToUtf8(profile));
    }
    w.key("fields").beginObject();
    for (const md::MetadataField& f : md::MetadataFieldsOf(m.list)) {
      std::string text = md::FormatFieldValueJson(f.value, md::FieldValueType(f.id), f.id, true);
      if (!text.empty()) w.key(LabelUtf8(f.id)).string(text);
    }
    w.endObject();
    w.key("annotations");
    WriteAnnotations(w, md::AnnotationsFromMetadata(m.list, m.image_resources));
    w.key("items").beginArray();
    for (std::uint32_t key = m.list.nextKey(0); key != 0; key = m.list.nextKey(key)) w.string(KeyText(key));
    w.endArray();
    w.endObject();
  }
  w.endArray();
  out << w.text() << '\n';
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
  if (ErrorCode e = md::WriteAnnotationsIntoFile(spec.path, annotations); e != err::kNone) {
    return FailWith(e, "The annotations could not be written into '" + path +
                           "': " + app::MessageForError(e, app::Activity::kOther));
  }
  if (inv.json) {
    md::ImageMetadata written;
    md::ReadImageMetadata(spec, false, &written);
    JsonWriter w;
    w.beginObject();
    w.key("file").string(path);
    w.key("annotations");
    WriteAnnotations(w, md::AnnotationsFromMetadata(written.list, written.image_resources));
    w.endObject();
    out << w.text() << '\n';
  }
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> MetadataCommands() {
  return {
      {"metadata", 1, SIZE_MAX, true, true, CmdMetadata,
       "metadata FILE... --json   EXIF facts, annotations and metadata items of image files"},
      {"annotate", 2, SIZE_MAX, true, false, CmdAnnotate,
       "annotate FILE LABEL=VALUE...  write annotations into a JPEG, TIFF or Photoshop file"},
  };
}

}  // namespace norvo::cli
