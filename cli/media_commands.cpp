// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the media type registry (types, recognize).
#include "cli/command_table.h"

#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/output.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"
#include "media/type_recognition.h"
#include "platform/byte_io.h"
#include "platform/file_spec.h"
#include "platform/text_encoding.h"

namespace norvo::cli {

Result InitMediaRegistry() {
  ErrorCode e = media::InitMediaTypes(media::FindPlatformComponents());
  if (e != err::kNone) {
    return FailWith(e, "No still-image or movie reader is available, so no media type can be recognised.");
  }
  return std::nullopt;
}

namespace {

std::string CodeText(std::uint32_t code) { return Windows1252ToUtf8(FourCCToString(code)); }

Result CmdTypes(const Invocation& inv, std::ostream& out) {
  if (Result r = InitMediaRegistry()) return r;
  Json types = Json::array();
  for (const media::MediaTypeRow& row : media::GetMediaTypeRows()) {
    types.push_back({{"code", CodeText(row.code)},
                     {"kind", Windows1252ToUtf8(row.kind_name.text())},
                     {"class", media::MediaClassName(row.media_class)},
                     {"handler", static_cast<int>(row.handler)}});
  }
  if (inv.json) {
    PrintJson(out, types);
  } else {
    PrintTable(out, types,
               {MemberColumn("CODE", "code"), MemberColumn("CLASS", "class"), MemberColumn("HANDLER", "handler", true),
                MemberColumn("KIND", "kind")});
  }
  return std::nullopt;
}

Result CmdRecognize(const Invocation& inv, std::ostream& out) {
  if (Result r = InitMediaRegistry()) return r;
  Json files = Json::array();
  for (const std::string& path : inv.operands) {
    FileSpec file;
    ErrorCode e = MakeFileSpec(path, file);
    if (e == err::kFileNotFound) return FailWith(e, "'" + path + "' does not exist.");
    if (e != err::kNone) return FailWith(e, "'" + path + "': " + app::MessageForError(e, app::Activity::kOther));
    // A folder is never a media file, whatever its name.
    std::error_code ec;
    media::MediaClass media_class = media::MediaClass::Image;
    std::uint32_t code =
        std::filesystem::is_directory(file.path, ec) ? 0 : media::RecognizeMediaFile(file, 0, &media_class);
    Json& entry = files.emplace_back(Json{{"file", path}, {"code", nullptr}, {"class", nullptr}});
    if (code != 0) {
      entry["code"] = CodeText(code);
      entry["class"] = media::MediaClassName(media_class);
    }
  }
  if (inv.json) {
    PrintJson(out, files);
  } else {
    // A file no type claims shows "-".
    auto known = [](const char* key) {
      return [key](const Json& f) { return f[key].is_null() ? std::string("-") : f[key].get<std::string>(); };
    };
    PrintTable(out, files,
               {{"CODE", false, known("code")}, {"CLASS", false, known("class")}, MemberColumn("FILE", "file")});
  }
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> MediaTypeCommands() {
  using groups::kMediaTypes;
  return {
      {"types", kMediaTypes, "", 0, 0, {kJsonOption}, "the media types this machine can read",
       "Lists the media types the libraries on this machine can read: the four-character type code, the "
       "media class, the reader that handles it and the kind's name.",
       CmdTypes},
      {"recognize", kMediaTypes, "FILE...", 1, SIZE_MAX, {kJsonOption},
       "the type code and class each file is catalogued under",
       "Shows the type code and media class each file would be catalogued under, from its contents and "
       "name; \"-\" for a file no media type claims.",
       CmdRecognize},
  };
}

}  // namespace norvo::cli
