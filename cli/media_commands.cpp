// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the media type registry (types, recognize).
#include "cli/command_table.h"

#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/json_writer.h"
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

Result CmdTypes(const Invocation&, std::ostream& out) {
  if (Result r = InitMediaRegistry()) return r;
  JsonWriter w;
  w.beginArray();
  for (const media::MediaTypeRow& row : media::GetMediaTypeRows()) {
    w.beginObject();
    w.key("code").string(CodeText(row.code));
    w.key("kind").string(Windows1252ToUtf8(row.kind_name.text()));
    w.key("class").string(media::MediaClassName(row.media_class));
    w.key("handler").number(static_cast<int>(row.handler));
    w.endObject();
  }
  w.endArray();
  out << w.text() << '\n';
  return std::nullopt;
}

Result CmdRecognize(const Invocation& inv, std::ostream& out) {
  if (Result r = InitMediaRegistry()) return r;
  JsonWriter w;
  w.beginArray();
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
    w.beginObject();
    w.key("file").string(path);
    if (code == 0) {
      w.key("code").null();
      w.key("class").null();
    } else {
      w.key("code").string(CodeText(code));
      w.key("class").string(media::MediaClassName(media_class));
    }
    w.endObject();
  }
  w.endArray();
  out << w.text() << '\n';
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> MediaTypeCommands() {
  return {
      {"types", 0, 0, true, true, CmdTypes, "types --json              the media types this machine can read"},
      {"recognize", 1, SIZE_MAX, true, true, CmdRecognize,
       "recognize FILE... --json  the type code and class each file is catalogued under"},
  };
}

}  // namespace norvo::cli
