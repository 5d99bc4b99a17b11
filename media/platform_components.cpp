// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/platform_components.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string_view>

#include "platform/file_spec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <libheif/heif.h>
#include <libraw.h>
#ifdef NORVO_HAVE_POPPLER
#include <poppler-version.h>
#endif

namespace norvo::media {
namespace {

// Manufacturer codes of the still-image importers: who reads the format.
constexpr std::uint32_t kJpegMaker = FourCC("ljpg");   // libjpeg-turbo
constexpr std::uint32_t kPngMaker = FourCC("lpng");    // libpng
constexpr std::uint32_t kTiffMaker = FourCC("ltif");   // libtiff
constexpr std::uint32_t kOwnMaker = FourCC("nrvo");    // readers of this program
constexpr std::uint32_t kWebpMaker = FourCC("lwbp");   // libwebp
constexpr std::uint32_t kHeifMaker = FourCC("lhif");   // libheif
constexpr std::uint32_t kGifMaker = FourCC("lgif");    // giflib
constexpr std::uint32_t kRawMaker = FourCC("lraw");    // LibRaw
// Movie importers of moving pictures. Sound formats carry the sound
// manufacturer code and music formats the music code: that decides their class.
constexpr std::uint32_t kFfmpegMaker = FourCC("ffmp");

constexpr std::size_t kMaxExtensions = 4;
using Extensions = std::array<std::uint32_t, kMaxExtensions>;  // 0 ends the list

// What a platform component says about itself; the extensions come as
// components of their own.
struct ComponentFormat {
  std::uint32_t subtype;
  std::uint32_t manufacturer;
  std::string_view name;
  Extensions extensions;
};

void AddComponents(std::vector<PlatformComponent>& list, std::uint32_t type, std::uint32_t flags,
                   const ComponentFormat& f) {
  list.push_back(PlatformComponent{type, f.subtype, f.manufacturer, flags, std::string(f.name)});
  for (std::uint32_t extension : f.extensions) {
    if (extension != 0) list.push_back(PlatformComponent{type, extension, f.manufacturer, flags, std::string(f.name)});
  }
}

// --- still images -----------------------------------------------------------------

// Read by libraries linked into the program (or by its own readers), so they
// are always present. GIF is listed as the platform lists it, but its codes
// are among those the registry leaves to the movie importers (animation).
constexpr std::array<ComponentFormat, 7> kLinkedStillImageFormats = {{
    {FourCC("JPEG"), kJpegMaker, "JFIF", {FourCC("jpg "), FourCC("jpeg"), FourCC("jpe "), FourCC("jfif")}},
    {FourCC("PNGf"), kPngMaker, "PNG", {FourCC("png ")}},
    {FourCC("TIFF"), kTiffMaker, "TIFF", {FourCC("tif "), FourCC("tiff")}},
    {FourCC("BMP "), kOwnMaker, "BMP", {FourCC("bmp "), FourCC("dib ")}},
    {FourCC("8BPS"), kOwnMaker, "Photoshop", {FourCC("psd ")}},
    {FourCC("WEBP"), kWebpMaker, "WebP", {FourCC("webp")}},
    {FourCC("GIFf"), kGifMaker, "GIF", {FourCC("GIF ")}},
}};

constexpr ComponentFormat kHeifFormat = {
    FourCC("HEIF"), kHeifMaker, "HEIF", {FourCC("heic"), FourCC("heif"), FourCC("hif ")}};

// HEIF files are HEVC pictures; libheif may be built without that decoder.
bool HeifDecoderPresent() {
  heif_error e = heif_init(nullptr);
  if (e.code != heif_error_Ok) return false;
  bool present = heif_have_decoder_for_format(heif_compression_HEVC) != 0;
  heif_deinit();
  return present;
}

struct RawFormat {
  std::uint32_t subtype;
  std::string_view name;
  std::uint32_t extension;
  int min_version;            // LibRaw version that first reads it; 0: any
  unsigned needed_capability;  // LIBRAW_CAPS_ bit it needs; 0: none
};

constexpr int kLibRawCr3Version = LIBRAW_MAKE_VERSION(0, 20, 0);

constexpr std::array<RawFormat, 24> kRawFormats = {{
    {FourCC("CR2 "), "Canon CR2 Raw", FourCC("cr2 "), 0, 0},
    {FourCC("CR3 "), "Canon CR3 Raw", FourCC("cr3 "), kLibRawCr3Version, 0},
    {FourCC("CRW "), "Canon CRW Raw", FourCC("crw "), 0, 0},
    {FourCC("NEF "), "Nikon NEF Raw", FourCC("nef "), 0, 0},
    {FourCC("NRW "), "Nikon NRW Raw", FourCC("nrw "), 0, 0},
    {FourCC("ARW "), "Sony ARW Raw", FourCC("arw "), 0, 0},
    {FourCC("SR2 "), "Sony SR2 Raw", FourCC("sr2 "), 0, 0},
    {FourCC("SRF "), "Sony SRF Raw", FourCC("srf "), 0, 0},
    {FourCC("DNG "), "Digital Negative", FourCC("dng "), 0, 0},
    {FourCC("ORF "), "Olympus ORF Raw", FourCC("orf "), 0, 0},
    {FourCC("RAF "), "Fujifilm RAF Raw", FourCC("raf "), 0, 0},
    {FourCC("RW2 "), "Panasonic RW2 Raw", FourCC("rw2 "), 0, 0},
    {FourCC("RWL "), "Leica RWL Raw", FourCC("rwl "), 0, 0},
    {FourCC("PEF "), "Pentax PEF Raw", FourCC("pef "), 0, 0},
    {FourCC("SRW "), "Samsung SRW Raw", FourCC("srw "), 0, 0},
    {FourCC("MRW "), "Minolta MRW Raw", FourCC("mrw "), 0, 0},
    {FourCC("DCR "), "Kodak DCR Raw", FourCC("dcr "), 0, 0},
    {FourCC("KDC "), "Kodak KDC Raw", FourCC("kdc "), 0, 0},
    {FourCC("3FR "), "Hasselblad 3FR Raw", FourCC("3fr "), 0, 0},
    {FourCC("IIQ "), "Phase One IIQ Raw", FourCC("iiq "), 0, 0},
    {FourCC("ERF "), "Epson ERF Raw", FourCC("erf "), 0, 0},
    {FourCC("MEF "), "Mamiya MEF Raw", FourCC("mef "), 0, 0},
    {FourCC("MOS "), "Leaf MOS Raw", FourCC("mos "), 0, 0},
    {FourCC("X3F "), "Sigma X3F Raw", FourCC("x3f "), 0, LIBRAW_CAPS_X3FTOOLS},
}};

void AddStillImage(std::vector<PlatformComponent>& list, const ComponentFormat& f) {
  AddComponents(list, kStillImageImporterType, 0, f);
}

std::vector<PlatformComponent> FindStillImageImporters() {
  std::vector<PlatformComponent> list;
  for (const ComponentFormat& f : kLinkedStillImageFormats) AddStillImage(list, f);
  if (HeifDecoderPresent()) AddStillImage(list, kHeifFormat);

  const int raw_version = libraw_versionNumber();
  const unsigned raw_capabilities = libraw_capabilities();
  for (const RawFormat& f : kRawFormats) {
    if (raw_version < f.min_version) continue;
    if ((raw_capabilities & f.needed_capability) != f.needed_capability) continue;
    AddStillImage(list, ComponentFormat{f.subtype, kRawMaker, f.name, {f.extension}});
  }
  return list;
}

// --- movies and sound ---------------------------------------------------------------

constexpr std::size_t kMaxDecoders = 4;
using Decoders = std::array<AVCodecID, kMaxDecoders>;  // AV_CODEC_ID_NONE ends the list

struct MovieFormat {
  std::string_view demuxer;  // FFmpeg's short name
  Decoders decoders;         // one of them must be present
  ComponentFormat component;
};

constexpr std::array<MovieFormat, 17> kMovieFormats = {{
    {"mov", {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4, AV_CODEC_ID_HEVC, AV_CODEC_ID_MJPEG}, {FourCC("MooV"), kFfmpegMaker,
     "QuickTime Movie Importer", {FourCC("mov "), FourCC("qt  ")}}},
    {"mov", {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4, AV_CODEC_ID_HEVC}, {FourCC("mpg4"), kFfmpegMaker,
     "MPEG-4 Movie Importer", {FourCC("mp4 "), FourCC("m4v ")}}},
    {"mov", {AV_CODEC_ID_H263, AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4}, {FourCC("3gpp"), kFfmpegMaker,
     "3GPP Movie Importer", {FourCC("3gp "), FourCC("3g2 ")}}},
    {"mov", {AV_CODEC_ID_AAC, AV_CODEC_ID_ALAC}, {FourCC("M4A "), kSoundManufacturer, "MPEG-4 Audio Importer",
     {FourCC("m4a "), FourCC("m4b ")}}},
    {"avi", {AV_CODEC_ID_MPEG4, AV_CODEC_ID_MSMPEG4V3, AV_CODEC_ID_MJPEG, AV_CODEC_ID_H264}, {FourCC("VfW "),
     kFfmpegMaker, "AVI Importer", {FourCC("avi ")}}},
    {"matroska", {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_VP8, AV_CODEC_ID_VP9}, {FourCC("MKV "), kFfmpegMaker,
     "Matroska Video Importer", {FourCC("mkv ")}}},
    {"matroska", {AV_CODEC_ID_VP8, AV_CODEC_ID_VP9, AV_CODEC_ID_AV1}, {FourCC("WebM"), kFfmpegMaker,
     "WebM Video Importer", {FourCC("webm")}}},
    {"matroska", {AV_CODEC_ID_VORBIS, AV_CODEC_ID_OPUS, AV_CODEC_ID_FLAC, AV_CODEC_ID_AAC}, {FourCC("MKA "),
     kSoundManufacturer, "Matroska Audio Importer", {FourCC("mka ")}}},
    {"mpeg", {AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO}, {FourCC("MPEG"), kFfmpegMaker, "MPEG Importer",
     {FourCC("mpg "), FourCC("mpeg"), FourCC("m1v "), FourCC("vob ")}}},
    {"mpegts", {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_H264, AV_CODEC_ID_HEVC}, {FourCC("MPTS"), kFfmpegMaker,
     "MPEG Transport Stream Importer", {FourCC("mts "), FourCC("m2ts")}}},
    {"mp3", {AV_CODEC_ID_MP3}, {FourCC("MP3 "), kSoundManufacturer, "MPEG Layer-3 Audio Importer",
     {FourCC("mp3 ")}}},
    {"wav", {AV_CODEC_ID_PCM_S16LE}, {FourCC("WAVE"), kSoundManufacturer, "WAVE Audio Importer", {FourCC("wav ")}}},
    {"aiff", {AV_CODEC_ID_PCM_S16BE}, {FourCC("AIFF"), kSoundManufacturer, "AIFF Audio Importer",
     {FourCC("aif "), FourCC("aiff"), FourCC("aifc")}}},
    {"flac", {AV_CODEC_ID_FLAC}, {FourCC("FLAC"), kSoundManufacturer, "FLAC Audio Importer", {FourCC("flac")}}},
    {"ogg", {AV_CODEC_ID_VORBIS, AV_CODEC_ID_OPUS, AV_CODEC_ID_FLAC}, {FourCC("OggS"), kSoundManufacturer,
     "Ogg Audio Importer", {FourCC("ogg "), FourCC("oga "), FourCC("opus")}}},
    {"aac", {AV_CODEC_ID_AAC}, {FourCC("AAC "), kSoundManufacturer, "AAC Audio Importer", {FourCC("aac ")}}},
    {"gif", {AV_CODEC_ID_GIF}, {FourCC("GIF "), kFfmpegMaker, "GIF Animation Importer", {FourCC("gif ")}}},
}};

// MIDI files are synthesised rather than decoded, so a demuxer that takes the
// extension is all that is needed.
constexpr std::string_view kMidiExtension = "mid";
constexpr ComponentFormat kMidiFormat = {
    FourCC("Midi"), kMusicManufacturer, "MIDI Importer", {FourCC("mid "), FourCC("midi"), FourCC("smf ")}};
constexpr ComponentFormat kKaraokeFormat = {FourCC("KAR "), kMusicManufacturer, "Karaoke Importer", {FourCC("kar ")}};

bool HasDemuxer(std::string_view name) { return av_find_input_format(std::string(name).c_str()) != nullptr; }

bool HasAnyDecoder(const Decoders& decoders) {
  bool any_listed = false;
  for (AVCodecID id : decoders) {
    if (id == AV_CODEC_ID_NONE) continue;
    any_listed = true;
    if (avcodec_find_decoder(id) != nullptr) return true;
  }
  return !any_listed;
}

// A demuxer whose extension list (comma-separated) names `extension`.
bool HasDemuxerForExtension(std::string_view extension) {
  void* state = nullptr;
  while (const AVInputFormat* f = av_demuxer_iterate(&state)) {
    if (f->extensions == nullptr) continue;
    std::string_view list = f->extensions;
    while (!list.empty()) {
      std::size_t comma = list.find(',');
      if (list.substr(0, comma) == extension) return true;
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
    }
  }
  return false;
}

std::vector<PlatformComponent> FindMovieImporters() {
  std::vector<PlatformComponent> list;
  for (const MovieFormat& f : kMovieFormats) {
    if (!HasDemuxer(f.demuxer) || !HasAnyDecoder(f.decoders)) continue;
    AddComponents(list, kMovieImporterType, kFileMovieImporterFlags, f.component);
  }
  if (HasDemuxer("midi") || HasDemuxerForExtension(kMidiExtension)) {
    AddComponents(list, kMovieImporterType, kFileMovieImporterFlags, kMidiFormat);
    AddComponents(list, kMovieImporterType, kFileMovieImporterFlags, kKaraokeFormat);
  }
  return list;
}

// Windows Media, AVI and MPEG files, each with a usual codec.
bool CanPlayVideoFiles() {
  return HasDemuxer("asf") && HasAnyDecoder({AV_CODEC_ID_WMV1, AV_CODEC_ID_WMV2, AV_CODEC_ID_WMV3}) &&
         HasAnyDecoder({AV_CODEC_ID_WMAV1, AV_CODEC_ID_WMAV2}) && HasDemuxer("avi") &&
         HasAnyDecoder({AV_CODEC_ID_MPEG4, AV_CODEC_ID_MSMPEG4V3, AV_CODEC_ID_MJPEG}) && HasDemuxer("mpeg") &&
         HasAnyDecoder({AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO});
}

// --- documents ----------------------------------------------------------------------

bool PdfReaderLinked() {
#ifdef NORVO_HAVE_POPPLER
  return !poppler::version_string().empty();
#else
  return false;
#endif
}

// An executable regular file of that name in a folder of $PATH. Empty PATH
// entries (the current folder) are not searched.
bool ProgramOnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string_view folders = path;
  while (true) {
    std::size_t colon = folders.find(':');
    std::string_view folder = folders.substr(0, colon);
    if (!folder.empty()) {
      std::string candidate = JoinPath(std::string(folder), std::string(program));
      struct stat st {};
      if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
        return true;
      }
    }
    if (colon == std::string_view::npos) return false;
    folders.remove_prefix(colon + 1);
  }
}

}  // namespace

PlatformComponents FindPlatformComponents() {
  PlatformComponents components;
  components.still_image_importers = FindStillImageImporters();
  components.movie_importers = FindMovieImporters();
  components.video_playback = CanPlayVideoFiles();
  components.pdf_documents = PdfReaderLinked();
  components.office_documents = ProgramOnPath("soffice") || ProgramOnPath("libreoffice");
  return components;
}

}  // namespace norvo::media
