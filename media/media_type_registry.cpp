// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/media_type_registry.h"

#include <algorithm>
#include <array>

#include "imaging/image_reader.h"
#include "media/graphics_importer_list.h"
#include "platform/byte_io.h"

namespace norvo::media {
namespace {

// The registry. A fixed array, so that nothing is allocated after start-up
// and the codes can be handed out as one span.
struct Registry {
  std::array<MediaTypeRow, kMaxMediaTypes> rows;
  std::array<std::uint32_t, kMaxMediaTypes> codes{};
  int count = 0;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// The row registered under exactly this code.
const MediaTypeRow* FindExactRow(std::uint32_t code) {
  const Registry& r = TheRegistry();
  for (int i = 0; i < r.count; ++i) {
    if (r.codes[static_cast<std::size_t>(i)] == code) return &r.rows[static_cast<std::size_t>(i)];
  }
  return nullptr;
}

const MediaTypeRow* FindRow(std::uint32_t code) { return FindMediaTypeRow(code); }

int Register(std::uint32_t code, MediaHandler handler, std::string_view kind_name, MediaClass media_class) {
  return RegisterMediaType(code, handler, kind_name.data(), kind_name.size(), media_class);
}

template <std::size_t N>
bool IsOneOf(std::uint32_t code, const std::array<std::uint32_t, N>& codes) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// --- video playback -----------------------------------------------------------

struct FixedType {
  std::uint32_t code;
  std::string_view kind_name;
  MediaClass media_class;
};

constexpr std::string_view kMpegVideoFile = "Mpeg Video File";

constexpr std::array<FixedType, 12> kVideoPlaybackTypes = {{
    {FourCC("ASF "), "Windows Media File", MediaClass::Video},
    {FourCC("WMV "), "Windows Media Video File", MediaClass::Video},
    {FourCC("WM  "), "Windows Media Audio/Video File", MediaClass::Video},
    {FourCC("WMA "), "Windows Media Audio File", MediaClass::Audio},
    {FourCC("AVI "), "Video File", MediaClass::Video},
    {FourCC("MPEG"), kMpegVideoFile, MediaClass::Video},
    {FourCC("MPE "), kMpegVideoFile, MediaClass::Video},
    {FourCC("MPG "), kMpegVideoFile, MediaClass::Video},
    {FourCC("M1V "), kMpegVideoFile, MediaClass::Video},
    {FourCC("MP2 "), kMpegVideoFile, MediaClass::Video},
    {FourCC("MP2V"), kMpegVideoFile, MediaClass::Video},
    {FourCC("MPV2"), kMpegVideoFile, MediaClass::Video},
}};

void RegisterVideoPlaybackTypes() {
  for (const FixedType& t : kVideoPlaybackTypes) Register(t.code, MediaHandler::DirectShow, t.kind_name, t.media_class);
}

// --- movie importers ------------------------------------------------------------

// Formats served elsewhere or not media files at all (still images, text,
// HTML, PDF, skins).
constexpr std::array<std::uint32_t, 10> kSkippedMovieSubtypes = {
    FourCC("grip"), FourCC("QHT "), FourCC("QHTM"), FourCC("qhtm"), FourCC("QTPF"),
    FourCC("SKIN"), FourCC("TEXT"), FourCC("TXT "), FourCC("PDF "), FourCC("utxt"),
};
constexpr std::string_view kSkippedMovieImporterName = "SMIL";
constexpr std::string_view kImporterSuffix = " Importer";
constexpr std::string_view kMp3NamePrefix = "MPEG Layer-3";

MediaClass MovieImporterClass(const PlatformComponent& c) {
  if (c.manufacturer == kMusicManufacturer) {
    // Karaoke files carry lyrics to show, so they count as video.
    return c.subtype == FourCC("KAR ") ? MediaClass::Video : MediaClass::Audio;
  }
  if (c.manufacturer == kSoundManufacturer) return MediaClass::Audio;
  return MediaClass::Video;
}

void RegisterMovieImporterTypes(const std::vector<PlatformComponent>& importers) {
  constexpr auto kHandler = MediaHandler::MovieImporter;
  Register(FourCC("MOV "), kHandler, "QuickTime Movie", MediaClass::Video);
  Register(FourCC("MooV"), kHandler, "QuickTime Movie", MediaClass::Video);
  Register(FourCC("sfil"), kHandler, "System Sound", MediaClass::Audio);

  bool mpeg_seen = false;
  bool mp3_seen = false;
  for (const PlatformComponent& c : importers) {
    if (c.type != kMovieImporterType) continue;
    if ((c.flags & kFileMovieImporterFlags) != kFileMovieImporterFlags) continue;
    if (c.name == kSkippedMovieImporterName || IsOneOf(c.subtype, kSkippedMovieSubtypes) ||
        c.manufacturer == kStreamingManufacturer) {
      continue;
    }
    MediaClass media_class = MovieImporterClass(c);
    std::string_view name = c.name;
    if (c.subtype == FourCC("MPEG")) {
      if (!mpeg_seen) Register(FourCC("MPG "), kHandler, "MPEG", media_class);
      mpeg_seen = true;
      Register(c.subtype, kHandler, "MPEG", media_class);
    } else if (name.starts_with(kMp3NamePrefix)) {
      if (!mp3_seen) Register(FourCC("MP3 "), kHandler, "MP3", media_class);
      mp3_seen = true;
      Register(c.subtype, kHandler, "MP3", media_class);
    } else {
      if (c.subtype == FourCC("DICM")) Register(FourCC("DIC "), kHandler, name, media_class);
      if (name.size() > kImporterSuffix.size() && name.ends_with(kImporterSuffix)) {
        name.remove_suffix(kImporterSuffix.size());
      }
      Register(c.subtype, kHandler, name, media_class);
    }
  }
}

// --- still-image importers ------------------------------------------------------

// The generic importer is no format; PDF goes to the document reader.
constexpr std::array<std::uint32_t, 2> kSkippedStillImageSubtypes = {FourCC("grip"), FourCC("PDF ")};

// Animated formats (GIF) go to the movie importers: their format codes and
// extension codes are not taken as still images.
bool AnimatedStillImageCode(std::uint32_t code) {
  if (code == 0) return false;
  for (const imaging::StillImageFormat& f : imaging::StillImageFormats()) {
    if ((f.supports & imaging::kSupportsAnimation) == 0) continue;
    if (f.code == code || std::find(f.extensions.begin(), f.extensions.end(), code) != f.extensions.end()) return true;
  }
  return false;
}
constexpr std::string_view kJfifName = "JFIF";
constexpr std::string_view kJpegKindName = "JPEG";

constexpr std::array<FixedType, 7> kStillImageAliases = {{
    {FourCC("DCBa"), "TIFF", MediaClass::Image},
    {FourCC("FAX "), "TIFF", MediaClass::Image},
    {FourCC("RICH"), "TIFF", MediaClass::Image},
    {FourCC("EXIF"), kJpegKindName, MediaClass::Image},
    {FourCC("JPE "), kJpegKindName, MediaClass::Image},
    {FourCC("Expn"), "JacqCAD", MediaClass::Image},
    {FourCC("CRI "), "GE Medical CRI", MediaClass::Image},
}};

void RegisterStillImageTypes(const std::vector<PlatformComponent>& importers) {
  for (const PlatformComponent& c : importers) {
    if (c.type != kStillImageImporterType || IsOneOf(c.subtype, kSkippedStillImageSubtypes) ||
        AnimatedStillImageCode(c.subtype)) {
      continue;
    }
    std::string_view kind_name = c.name == kJfifName ? kJpegKindName : std::string_view(c.name);
    Register(c.subtype, MediaHandler::GraphicsImporter, kind_name, MediaClass::Image);
    // The walk ends when the list is full.
    int entries = AppendGraphicsImporter(c);
    if (entries == 0 || entries >= kMaxGraphicsImporters) break;
  }
  for (const FixedType& t : kStillImageAliases) {
    Register(t.code, MediaHandler::GraphicsImporter, t.kind_name, t.media_class);
  }
}

// --- documents --------------------------------------------------------------------

constexpr std::array<FixedType, 6> kOfficeTypes = {{
    {FourCC("DOC "), "Word Document", MediaClass::Image},
    {FourCC("DOT "), "Word Template", MediaClass::Image},
    {FourCC("XLS "), "Excel Worksheet", MediaClass::Image},
    {FourCC("XLT "), "Excel Template", MediaClass::Image},
    {FourCC("PPT "), "PowerPoint Presentation", MediaClass::Image},
    {FourCC("POT "), "PowerPoint Template", MediaClass::Image},
}};
constexpr FixedType kPdfType = {FourCC("PDF "), "Adobe Acrobat Document", MediaClass::Image};

void RegisterDocumentTypes(const PlatformComponents& components) {
  if (components.office_documents) {
    for (const FixedType& t : kOfficeTypes) Register(t.code, MediaHandler::ShellDocument, t.kind_name, t.media_class);
  }
  if (components.pdf_documents) {
    Register(kPdfType.code, MediaHandler::ShellDocument, kPdfType.kind_name, kPdfType.media_class);
  }
}

}  // namespace

int RegisterMediaType(std::uint32_t code, MediaHandler handler, const char* kind_name, std::size_t kind_name_length,
                      MediaClass media_class) {
  Registry& r = TheRegistry();
  if (r.count >= kMaxMediaTypes) return 0;
  if ((code >> 24) == '.') return 0;
  if (FindExactRow(code) != nullptr) return 0;
  auto index = static_cast<std::size_t>(r.count);
  MediaTypeRow& row = r.rows[index];
  row.code = code;
  row.media_class = media_class;
  row.handler = handler;
  if (kind_name != nullptr) {
    row.kind_name.set(std::string_view(kind_name, std::min(kind_name_length, kMaxKindNameLength)));
  } else {
    row.kind_name.set(FourCCToString(code));
  }
  r.codes[index] = code;
  return ++r.count;
}

void ClearMediaTypes() {
  Registry& r = TheRegistry();
  r.count = 0;
  CloseGraphicsImporterList();
}

ErrorCode InitMediaTypes(const PlatformComponents& components) {
  // Without any importer nothing could be shown; the program does not start.
  if (components.still_image_importers.empty() && components.movie_importers.empty()) {
    return kMediaFrameworkMissing;
  }
  ClearMediaTypes();
  // Playback types come first so that the MPEG codes stay with playback even
  // when a movie importer offers them too.
  if (components.video_playback) RegisterVideoPlaybackTypes();
  RegisterMovieImporterTypes(components.movie_importers);
  RegisterStillImageTypes(components.still_image_importers);
  RegisterDocumentTypes(components);
  // Panorama (VR) movies have no counterpart on this platform, so there is
  // no VR availability to find out here.
  return err::kNone;
}

std::span<const std::uint32_t> GetMediaTypeTable() {
  const Registry& r = TheRegistry();
  return std::span(r.codes).first(static_cast<std::size_t>(r.count));
}

std::span<const MediaTypeRow> GetMediaTypeRows() {
  const Registry& r = TheRegistry();
  return std::span(r.rows).first(static_cast<std::size_t>(r.count));
}

const MediaTypeRow* FindMediaTypeRow(std::uint32_t code) {
  if (const MediaTypeRow* exact = FindExactRow(code)) return exact;
  const Registry& r = TheRegistry();
  const std::uint32_t upper = FourCCUpperCase(code);
  for (int i = 0; i < r.count; ++i) {
    if (FourCCUpperCase(r.codes[static_cast<std::size_t>(i)]) == upper) return &r.rows[static_cast<std::size_t>(i)];
  }
  return nullptr;
}

MediaClass GetMediaClass(std::uint32_t code) {
  const MediaTypeRow* row = FindRow(code);
  return row ? row->media_class : MediaClass::Image;
}

MediaHandler GetMediaHandler(std::uint32_t code) {
  const MediaTypeRow* row = FindRow(code);
  return row ? row->handler : MediaHandler::GraphicsImporter;
}

bool GetKindName(std::uint32_t code, std::string_view& kind_name) {
  const MediaTypeRow* row = FindRow(code);
  if (row == nullptr) {
    kind_name = {};
    return false;
  }
  kind_name = std::string_view(reinterpret_cast<const char*>(row->kind_name.bytes.data() + 1), row->kind_name.length());
  return true;
}

bool IsMediaClassPresent(MediaClass media_class) {
  for (const MediaTypeRow& row : GetMediaTypeRows()) {
    if (row.media_class == media_class) return true;
  }
  return false;
}

void GetMediaCapabilities(std::uint32_t code, bool* plays, bool* has_still_picture, bool* has_preview,
                          bool* is_graphics_image) {
  const MediaHandler h = GetMediaHandler(code);
  const bool graphics = h == MediaHandler::GraphicsImporter;
  const bool movie = h == MediaHandler::MovieImporter;
  const bool playback = h == MediaHandler::DirectShow;
  const bool document = h == MediaHandler::ShellDocument;
  if (plays) *plays = movie || playback;
  if (has_still_picture) *has_still_picture = graphics || movie || document;
  if (has_preview) *has_preview = graphics || movie || playback || document;
  if (is_graphics_image) *is_graphics_image = graphics;
}

bool HasEssentialImporters() {
  return FindExactRow(FourCC("8BPS")) != nullptr && FindExactRow(FourCC("TIFF")) != nullptr &&
         FindExactRow(FourCC("BMP ")) != nullptr;
}

}  // namespace norvo::media
