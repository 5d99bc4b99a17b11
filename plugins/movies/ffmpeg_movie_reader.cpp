// SPDX-License-Identifier: GPL-3.0-or-later
// The movie plug-in: facts and poster frames of movie and sound files read
// with FFmpeg (see media/movie_reader.h for what is read and how), and the
// list of container formats this FFmpeg can import.
#include "media/movie_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>

#include "imaging/image_reader.h"
#include "platform/reader_plugin.h"
#include "imaging/transform.h"
#include "media/platform_components.h"
#include "media/reader_plugin_layouts.h"
#include "metadata/list_keys.h"
#include "plugins/ffmpeg_owners.h"
#include "platform/text_encoding.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace norvo::media {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIoBufferSize = 64 * 1024;
// Resolution of every video stream: container formats carry none, and the
// pictures are meant for screens.
constexpr std::int32_t kVideoResolution = imaging::kDefaultResolution;
constexpr std::uint32_t kColourRgb = imaging::kColourRgb;
constexpr std::uint32_t kColourGrey = imaging::kColourGrey;
// Depth given to MPEG video tracks.
constexpr std::int32_t kMpegDepth = 32;
// Depths above this carry a grey flag: 34, 36, 40 are grey 2, 4, 8 bits.
constexpr std::int32_t kGreyDepthFlag = 32;
// Sample size of compressed sound, which decodes to 16-bit samples.
constexpr std::int32_t kCompressedSampleSize = 16;

// --- the file the reader reads ---------------------------------------------------

// Either a file descriptor read with pread or bytes in memory, with the
// deadline that interrupts the demuxer.
struct Source {
  int fd = -1;
  std::span<const std::uint8_t> bytes;
  std::int64_t size = 0;
  std::int64_t position = 0;
  Clock::time_point deadline;
  bool timed_out = false;

  ~Source() {
    if (fd >= 0) ::close(fd);
  }
};

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
  auto* s = static_cast<Source*>(opaque);
  if (size <= 0) return 0;
  if (s->position >= s->size) return AVERROR_EOF;
  const std::int64_t want = std::min<std::int64_t>(size, s->size - s->position);
  std::int64_t got = 0;
  if (s->fd >= 0) {
    ssize_t n = 0;
    do {
      n = ::pread(s->fd, buffer, static_cast<std::size_t>(want), s->position);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return AVERROR(EIO);
    got = n;
  } else {
    std::memcpy(buffer, s->bytes.data() + s->position, static_cast<std::size_t>(want));
    got = want;
  }
  if (got == 0) return AVERROR_EOF;
  s->position += got;
  return static_cast<int>(got);
}

std::int64_t SeekSource(void* opaque, std::int64_t offset, int whence) {
  auto* s = static_cast<Source*>(opaque);
  if (whence & AVSEEK_SIZE) return s->size;
  whence &= ~AVSEEK_FORCE;
  std::int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = s->position;
  } else if (whence == SEEK_END) {
    base = s->size;
  } else if (whence != SEEK_SET) {
    return AVERROR(EINVAL);
  }
  if ((offset > 0 && base > INT64_MAX - offset)) return AVERROR(EINVAL);
  const std::int64_t target = base + offset;
  if (target < 0) return AVERROR(EINVAL);
  s->position = target;
  return target;
}

int Interrupt(void* opaque) {
  auto* s = static_cast<Source*>(opaque);
  if (!s->timed_out && Clock::now() >= s->deadline) s->timed_out = true;
  return s->timed_out ? 1 : 0;
}

// The reader reads the one file it was given: playlists, external data
// references and image sequences may not open other files or URLs.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

// --- owners of the FFmpeg objects -------------------------------------------------

struct IoContextFree {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct FormatClose {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using IoPtr = std::unique_ptr<AVIOContext, IoContextFree>;
using FormatPtr = std::unique_ptr<AVFormatContext, FormatClose>;
using ffmpeg::CodecPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::ScalerPtr;

// --- small conversions ------------------------------------------------------------

std::uint32_t ClampU32(std::int64_t v) {
  if (v <= 0) return 0;
  return v > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(v);
}
std::int32_t ClampI32(std::int64_t v) {
  if (v <= 0) return 0;
  return v > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(v);
}

bool IsPrintableTag(std::uint32_t tag) {
  for (int i = 0; i < 4; ++i) {
    const unsigned c = (tag >> (8 * i)) & 0xFF;
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// A container's codec tag (first character in the low byte) as a
// four-character code (first character in the high byte).
std::uint32_t TagToCode(std::uint32_t tag) {
  return ((tag & 0xFF) << 24) | (((tag >> 8) & 0xFF) << 16) | (((tag >> 16) & 0xFF) << 8) | (tag >> 24);
}

struct CodecCode {
  AVCodecID id;
  std::uint32_t code;
};
// Codes for streams whose container names their codec by a number (WAV,
// AVI sound) or not at all (Matroska, MPEG streams): the codes a movie file
// would give them.
constexpr CodecCode kCodecCodes[] = {
    {AV_CODEC_ID_PCM_S16LE, FourCC("sowt")},     {AV_CODEC_ID_PCM_S16BE, FourCC("twos")},
    {AV_CODEC_ID_PCM_U8, FourCC("raw ")},        {AV_CODEC_ID_PCM_S8, FourCC("twos")},
    {AV_CODEC_ID_PCM_S24LE, FourCC("in24")},     {AV_CODEC_ID_PCM_S24BE, FourCC("in24")},
    {AV_CODEC_ID_PCM_S32LE, FourCC("in32")},     {AV_CODEC_ID_PCM_S32BE, FourCC("in32")},
    {AV_CODEC_ID_PCM_F32LE, FourCC("fl32")},     {AV_CODEC_ID_PCM_F32BE, FourCC("fl32")},
    {AV_CODEC_ID_PCM_F64LE, FourCC("fl64")},     {AV_CODEC_ID_PCM_F64BE, FourCC("fl64")},
    {AV_CODEC_ID_PCM_MULAW, FourCC("ulaw")},     {AV_CODEC_ID_PCM_ALAW, FourCC("alaw")},
    {AV_CODEC_ID_ADPCM_IMA_QT, FourCC("ima4")},  {AV_CODEC_ID_MP1, FourCC(".mp1")},
    {AV_CODEC_ID_MP2, FourCC(".mp2")},           {AV_CODEC_ID_MP3, FourCC(".mp3")},
    {AV_CODEC_ID_AAC, FourCC("mp4a")},           {AV_CODEC_ID_AC3, FourCC("ac-3")},
    {AV_CODEC_ID_EAC3, FourCC("ec-3")},          {AV_CODEC_ID_ALAC, FourCC("alac")},
    {AV_CODEC_ID_FLAC, FourCC("fLaC")},          {AV_CODEC_ID_OPUS, FourCC("Opus")},
    {AV_CODEC_ID_VORBIS, FourCC("vorb")},        {AV_CODEC_ID_H264, FourCC("avc1")},
    {AV_CODEC_ID_HEVC, FourCC("hvc1")},          {AV_CODEC_ID_MPEG4, FourCC("mp4v")},
    {AV_CODEC_ID_MJPEG, FourCC("mjpa")},         {AV_CODEC_ID_MPEG1VIDEO, FourCC("m1v ")},
    {AV_CODEC_ID_MPEG2VIDEO, FourCC("m2v1")},    {AV_CODEC_ID_PNG, FourCC("png ")},
    {AV_CODEC_ID_GIF, FourCC("gif ")},           {AV_CODEC_ID_RAWVIDEO, FourCC("raw ")},
    {AV_CODEC_ID_VP8, FourCC("vp08")},           {AV_CODEC_ID_VP9, FourCC("vp09")},
    {AV_CODEC_ID_AV1, FourCC("av01")},           {AV_CODEC_ID_THEORA, FourCC("theo")},
};

std::uint32_t FormatCode(const AVCodecParameters& par) {
  if (par.codec_tag != 0 && IsPrintableTag(par.codec_tag)) return TagToCode(par.codec_tag);
  for (const CodecCode& c : kCodecCodes) {
    if (c.id == par.codec_id) return c.code;
  }
  // Otherwise the first four characters of the codec's short name.
  const char* name = avcodec_get_name(par.codec_id);
  std::uint32_t code = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = (name && std::strlen(name) > static_cast<std::size_t>(i)) ? name[i] : ' ';
    code = (code << 8) | static_cast<std::uint8_t>(c);
  }
  return code;
}

// The four characters of a code without trailing zero bytes.
std::string CodeText(std::uint32_t code) {
  std::string text = FourCCToString(code);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text.substr(0, kMaxSoundFormatText);
}

// The codec's name as a track shows it: the long name when it fits,
// else the short one; a few long names have a usual short form.
std::string CodecName(AVCodecID id) {
  if (id == AV_CODEC_ID_H264) return "H.264";
  if (id == AV_CODEC_ID_HEVC) return "HEVC";
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  if (d && d->long_name && std::strlen(d->long_name) < kMaxMovieCompressorName) return d->long_name;
  if (d && d->name) return std::string(d->name).substr(0, kMaxMovieCompressorName);
  return {};
}

bool IsMpegVideo(AVCodecID id) { return id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO; }
bool IsMpegAudio(AVCodecID id) { return id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3; }

// MPEG program and transport streams: picture and sound come multiplexed.
bool IsMpegSystemStream(const AVFormatContext& f) {
  const char* n = f.iformat ? f.iformat->name : "";
  return std::strcmp(n, "mpeg") == 0 || std::strcmp(n, "mpegts") == 0 || std::strcmp(n, "mpegtsraw") == 0 ||
         std::strcmp(n, "vob") == 0;
}

bool IsPcm(AVCodecID id) { return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT; }

double FramesPerSecond(const AVStream& st) {
  for (AVRational r : {st.avg_frame_rate, st.r_frame_rate}) {
    if (r.num > 0 && r.den > 0) {
      const double fps = av_q2d(r);
      if (fps > 0 && fps < 1e6) return fps;
    }
  }
  return 0;
}

// Bits per pixel of a video stream, as an image description gives them:
// the container's own depth when it keeps one, else what the pixel format
// holds (24 for colour, 32 with alpha, the grey depth for grey).
std::int32_t VideoDepth(const AVCodecParameters& par, bool* grey) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par.format));
  *grey = d && d->nb_components <= 2 && !(d->flags & AV_PIX_FMT_FLAG_PAL);
  std::int32_t depth = par.bits_per_coded_sample;
  if (depth > 0 && depth <= 64) {
    if (depth > kGreyDepthFlag) {
      depth -= kGreyDepthFlag;
      *grey = true;
    }
    return depth;
  }
  if (!d) return 24;
  if (*grey) return d->comp[0].depth;
  if (d->flags & AV_PIX_FMT_FLAG_PAL) return 8;
  return (d->flags & AV_PIX_FMT_FLAG_ALPHA) ? 32 : 24;
}

// A spatial quality value (0 .. 0x400) for a video stream: lossless codecs
// are 0x400; others by the bits their data rate spends on a pixel, intra-only
// codecs needing more bits for the same quality. -1 when the stream's data
// rate or frame rate is unknown.
std::int32_t SpatialQuality(const AVStream& st) {
  const AVCodecParameters& par = *st.codecpar;
  const AVCodecDescriptor* d = avcodec_descriptor_get(par.codec_id);
  if (d && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY)) return 0x400;
  const double fps = FramesPerSecond(st);
  if (par.bit_rate <= 0 || fps <= 0 || par.width <= 0 || par.height <= 0) return -1;
  double bpp = static_cast<double>(par.bit_rate) / (fps * par.width * par.height);
  if (d && (d->props & AV_CODEC_PROP_INTRA_ONLY)) bpp /= 5.0;
  if (bpp >= 1.5) return 0x3FF;
  if (bpp >= 0.4) return 0x300;
  if (bpp >= 0.12) return 0x200;
  if (bpp >= 0.04) return 0x100;
  return 0;
}

// The turn a stream's display matrix asks for, as a rotation code.
std::uint16_t StreamRotation(const AVStream& st) {
  std::size_t size = 0;
  const std::uint8_t* m = av_stream_get_side_data(&st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!m || size < 9 * sizeof(std::int32_t)) return 0;
  std::int32_t matrix[9];
  std::memcpy(matrix, m, sizeof matrix);  // side data is not aligned for int32
  const double angle = av_display_rotation_get(matrix);
  if (std::isnan(angle)) return 0;
  // The matrix turns counter-clockwise by `angle`; display turns clockwise.
  long turn = std::lround(-angle) % 360;
  if (turn < 0) turn += 360;
  switch (turn) {
    case 90: return imaging::kRotateClockwise;
    case 180: return imaging::kRotate180;
    case 270: return imaging::kRotateCounterClockwise;
    default: return 0;
  }
}

// The displayed width of a stream: its pixel aspect ratio applied.
std::int32_t DisplayWidth(const AVStream& st) {
  const AVCodecParameters& par = *st.codecpar;
  AVRational sar = st.sample_aspect_ratio.num > 0 ? st.sample_aspect_ratio : par.sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0 || sar.num == sar.den) return par.width;
  const std::int64_t w = av_rescale(par.width, sar.num, sar.den);
  return w >= 1 && w <= imaging::kMaxSide ? static_cast<std::int32_t>(w) : par.width;
}

bool IsCoverArt(const AVStream& st) { return (st.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0; }

std::string Utf8Text(const char* text) { return Utf8ToWindows1252(text ? text : ""); }

// --- facts ------------------------------------------------------------------------

struct TagName {
  const char* ffmpeg_key;
  std::uint32_t key;
};
constexpr TagName kTagNames[] = {
    {"title", metadata::kKeyName},         {"artist", metadata::kKeyArtist},
    {"comment", metadata::kKeyComment},    {"copyright", metadata::kKeyCopyright},
    {"composer", metadata::kKeyAuthor},    {"encoder", metadata::kKeySoftware},
};

void ReadTags(const AVDictionary* dict, MovieFacts* facts) {
  for (const TagName& t : kTagNames) {
    const AVDictionaryEntry* e = av_dict_get(dict, t.ffmpeg_key, nullptr, 0);
    if (e && e->value && *e->value) facts->tags.push_back({t.key, Utf8Text(e->value)});
  }
}

void TakeName(MovieFacts* facts, std::string_view name) {
  if (facts->compressor.empty() && !name.empty() && name.size() < kMaxMovieCompressorName) {
    facts->compressor = std::string(name);
  }
}

// Takes the depth (and the colour space with it) when it is larger.
void TakeDepth(MovieFacts* facts, std::int32_t depth, std::uint32_t colour_space) {
  if (depth > facts->depth) {
    facts->depth = depth;
    facts->colour_space = colour_space;
  }
}

void ReadVideoTrack(const AVFormatContext& fmt, const AVStream& st, bool muxed_sound, MovieTrack* track,
                    MovieFacts* facts) {
  const AVCodecParameters& par = *st.codecpar;
  bool grey = false;
  track->depth = VideoDepth(par, &grey);
  track->width = DisplayWidth(st);
  track->height = par.height;
  track->frame_rate = ClampU32(std::llround(FramesPerSecond(st) * 1000.0));
  if (IsMpegVideo(par.codec_id)) {
    TakeDepth(facts, kMpegDepth, kColourRgb);
    facts->resolution = std::max(facts->resolution, kVideoResolution);
    TakeName(facts, IsMpegSystemStream(fmt) && muxed_sound ? kMpegMuxedName : kMpegVideoName);
    return;
  }
  // A stream without a picture size has no usable description.
  if (par.width <= 0 || par.height <= 0) return;
  facts->resolution = std::max(facts->resolution, kVideoResolution);
  TakeDepth(facts, track->depth, grey ? kColourGrey : kColourRgb);
  const std::int32_t quality = SpatialQuality(st);
  if (quality >= 0) facts->quality_level = std::max(facts->quality_level, QualityLevel(static_cast<std::uint32_t>(quality)));
  TakeName(facts, track->name);
  if (par.codec_id == AV_CODEC_ID_GIF && st.nb_frames > 0) facts->image_count = ClampI32(st.nb_frames);
}

void ReadSoundTrack(const AVStream& st, MovieTrack* track, MovieFacts* facts) {
  const AVCodecParameters& par = *st.codecpar;
  track->channels = std::max(par.ch_layout.nb_channels, 0);
  const std::int64_t rate = std::max(par.sample_rate, 0);
  track->sample_rate = rate >= 0x10000 ? UINT32_MAX : static_cast<std::uint32_t>(rate << 16);
  if (IsPcm(par.codec_id)) {
    track->sample_size = par.bits_per_raw_sample > 0 ? par.bits_per_raw_sample : av_get_bits_per_sample(par.codec_id);
  } else {
    track->sample_size = par.bits_per_raw_sample > 0 ? par.bits_per_raw_sample : kCompressedSampleSize;
  }
  facts->channels = std::max(facts->channels, track->channels);
  if (track->sample_rate > facts->sample_rate) facts->sample_rate = track->sample_rate;
  facts->sample_rate_hz = std::max(facts->sample_rate_hz, static_cast<std::uint32_t>(rate));
  facts->sample_size = std::max(facts->sample_size, track->sample_size);
  if (facts->sound_format.empty()) facts->sound_format = CodeText(track->format);
  if (IsMpegAudio(par.codec_id)) TakeName(facts, kMpegAudioName);
}

// The video stream the poster and the movie's size come from: the largest
// picture, cover art left out. -1 when there is none.
int PosterStream(const AVFormatContext& fmt) {
  int best = -1;
  std::int64_t best_area = -1;
  for (unsigned i = 0; i < fmt.nb_streams; ++i) {
    const AVStream& st = *fmt.streams[i];
    if (st.codecpar->codec_type != AVMEDIA_TYPE_VIDEO || IsCoverArt(st)) continue;
    const std::int64_t area = std::int64_t{std::max(st.codecpar->width, 0)} * std::max(st.codecpar->height, 0);
    if (area > best_area) {
      best = static_cast<int>(i);
      best_area = area;
    }
  }
  return best;
}

std::int32_t MovieDuration(const AVFormatContext& fmt) {
  if (fmt.duration != AV_NOPTS_VALUE && fmt.duration > 0) return DurationInTenths(fmt.duration, 1, AV_TIME_BASE);
  std::int32_t longest = 0;
  for (unsigned i = 0; i < fmt.nb_streams; ++i) {
    const AVStream& st = *fmt.streams[i];
    if (st.duration != AV_NOPTS_VALUE) {
      longest = std::max(longest, DurationInTenths(st.duration, st.time_base.num, st.time_base.den));
    }
  }
  return longest;
}

void ReadFacts(const AVFormatContext& fmt, std::int64_t file_size, MovieFacts* facts) {
  bool has_sound = false;
  for (unsigned i = 0; i < fmt.nb_streams; ++i) {
    if (fmt.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) has_sound = true;
  }
  facts->duration = MovieDuration(fmt);
  for (unsigned i = 0; i < fmt.nb_streams; ++i) {
    const AVStream& st = *fmt.streams[i];
    if (IsCoverArt(st)) continue;
    const AVCodecParameters& par = *st.codecpar;
    MovieTrack track;
    track.format = FormatCode(par);
    track.name = CodecName(par.codec_id);
    if (st.duration != AV_NOPTS_VALUE) track.duration = DurationInTenths(st.duration, st.time_base.num, st.time_base.den);
    track.data_rate = ClampU32(par.bit_rate / 8);
    switch (par.codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        track.kind = kTrackVideo;
        ReadVideoTrack(fmt, st, has_sound, &track, facts);
        break;
      case AVMEDIA_TYPE_AUDIO:
        track.kind = kTrackSound;
        ReadSoundTrack(st, &track, facts);
        break;
      case AVMEDIA_TYPE_SUBTITLE: track.kind = kTrackText; break;
      default: track.kind = kTrackData; break;
    }
    facts->tracks.push_back(std::move(track));
  }
  facts->track_count = static_cast<std::int32_t>(facts->tracks.size());

  const int video = PosterStream(fmt);
  if (video >= 0) {
    const AVStream& st = *fmt.streams[video];
    facts->rotation = StreamRotation(st);
    facts->width = std::max(DisplayWidth(st), 0);
    facts->height = std::max(st.codecpar->height, 0);
    if (facts->rotation == imaging::kRotateClockwise || facts->rotation == imaging::kRotateCounterClockwise) {
      std::swap(facts->width, facts->height);
    }
    facts->frame_rate = ClampU32(std::llround(FramesPerSecond(st) * 1000.0));
  }

  if (fmt.bit_rate > 0) {
    facts->data_rate = ClampU32(fmt.bit_rate / 8);
  } else if (facts->duration > 0 && file_size > 0) {
    facts->data_rate = ClampU32(file_size * 10 / facts->duration);
  }

  for (unsigned i = 0; i < fmt.nb_chapters; ++i) {
    const AVChapter& c = *fmt.chapters[i];
    MovieChapter chapter;
    chapter.start = DurationInTenths(std::max<std::int64_t>(c.start, 0), c.time_base.num, c.time_base.den);
    const AVDictionaryEntry* title = av_dict_get(c.metadata, "title", nullptr, 0);
    if (title) chapter.title = Utf8Text(title->value);
    facts->chapters.push_back(std::move(chapter));
  }

  if (facts->track_count == 1 && facts->tracks[0].kind == kTrackSound) {
    ReadTags(fmt.metadata, facts);
    if (facts->tags.empty()) {
      for (unsigned i = 0; i < fmt.nb_streams; ++i) {
        if (!IsCoverArt(*fmt.streams[i])) ReadTags(fmt.streams[i]->metadata, facts);
      }
    }
  }
}

// --- the poster -------------------------------------------------------------------

// FFmpeg's errors as the reader reports them. Its ENOMEM mostly means sizes
// read from damaged data that no allocation could satisfy, so it counts as
// damage like the rest.
ErrorCode ErrorOf(int av_error, const Source& source, ErrorCode otherwise) {
  if (source.timed_out || av_error == AVERROR_EXIT) return err::kBadMovieData;
  return otherwise;
}

// Pixel formats FFmpeg keeps only for their range: the plain format with
// full range instead, which libswscale takes without complaint.
AVPixelFormat PlainFormat(AVPixelFormat f, bool* full_range) {
  switch (f) {
    case AV_PIX_FMT_YUVJ420P: *full_range = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *full_range = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *full_range = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *full_range = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *full_range = true; return AV_PIX_FMT_YUV411P;
    default: return f;
  }
}

// Scales a decoded frame to its displayed size fitted into `box` (the full
// displayed size for 0, reduced to the pixel limit) as ARGB.
ErrorCode ScaleFrame(const AVFrame& frame, std::int32_t display_width, int box, imaging::PixelBuffer* out) {
  if (frame.width <= 0 || frame.height <= 0 || display_width <= 0) return err::kBadMovieData;
  int width = 0;
  int height = 0;
  imaging::FittedSize(display_width, frame.height, box, &width, &height);
  const double pixels = static_cast<double>(width) * height;
  if (pixels > static_cast<double>(imaging::kMaxPixels) || width > imaging::kMaxSide || height > imaging::kMaxSide) {
    const double scale = std::min({std::sqrt(static_cast<double>(imaging::kMaxPixels) / pixels),
                                   static_cast<double>(imaging::kMaxSide) / width,
                                   static_cast<double>(imaging::kMaxSide) / height});
    width = std::max(1, static_cast<int>(width * scale));
    height = std::max(1, static_cast<int>(height * scale));
  }
  bool full_range = frame.color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat source_format = PlainFormat(static_cast<AVPixelFormat>(frame.format), &full_range);
  if (!sws_isSupportedInput(source_format)) return err::kBadMovieData;
  const bool reduce = width <= frame.width && height <= frame.height;
  ScalerPtr scaler(sws_getContext(frame.width, frame.height, source_format, width, height, AV_PIX_FMT_ARGB,
                                  reduce ? SWS_AREA : SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!scaler) return err::kBadMovieData;
  const int colorspace = frame.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame.colorspace;
  sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(colorspace), full_range ? 1 : 0,
                           sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
  ErrorCode e = out->allocate(width, height);
  if (e != err::kNone) return e;
  std::uint8_t* planes[4] = {out->row(0), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(out->stride()), 0, 0, 0};
  if (sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) != height) {
    *out = imaging::PixelBuffer();
    return err::kBadMovieData;
  }
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(source_format);
  out->setHasAlpha(d && (d->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)));
  return err::kNone;
}

// The next packet, counted against the budget: 1 with a packet, 0 at the
// end of the file or the budget, or a negative FFmpeg error that ends the
// read (interrupted, out of memory). Damaged packets are passed over.
int NextPacket(AVFormatContext* fmt, int* packet_budget, AVPacket* packet) {
  while (*packet_budget > 0) {
    --*packet_budget;
    const int r = av_read_frame(fmt, packet);
    if (r >= 0) return 1;
    if (r == AVERROR_EOF || (fmt->pb && fmt->pb->eof_reached)) return 0;
    if (r == AVERROR_EXIT || r == AVERROR(ENOMEM)) return r;
  }
  return 0;
}

// Sends packets of stream `index` to the decoder until it gives one frame,
// then drains it. Returns 1 with a frame, 0 without, or a negative error.
int DecodeFirstFrame(AVFormatContext* fmt, AVCodecContext* codec, int index, int* packet_budget, AVFrame* frame) {
  PacketPtr packet(av_packet_alloc());
  if (!packet) return AVERROR(ENOMEM);
  bool sent_any = false;
  int r = 0;
  while ((r = NextPacket(fmt, packet_budget, packet.get())) > 0) {
    const bool ours = packet->stream_index == index;
    const int sent = ours ? avcodec_send_packet(codec, packet.get()) : -1;
    av_packet_unref(packet.get());
    if (sent < 0 && sent != AVERROR(EAGAIN)) continue;  // another stream, or a damaged packet
    sent_any = true;
    if (avcodec_receive_frame(codec, frame) == 0) return 1;
  }
  if (r < 0) return r;
  // Frames the decoder still holds.
  if (sent_any && avcodec_send_packet(codec, nullptr) >= 0 && avcodec_receive_frame(codec, frame) == 0) return 1;
  return 0;
}

// Decodes the keyframe of stream `index` nearest at or before `target` (in
// the stream's time base), reading on from where a seek left the demuxer:
// seeks land on some keyframe before the target, not always the last one,
// so later keyframes up to the target replace it. A keyframe decodes on its
// own; draining the decoder gives its picture.
int DecodeKeyframe(AVFormatContext* fmt, AVCodecContext* codec, int index, std::int64_t target, int* packet_budget,
                   AVFrame* frame) {
  PacketPtr packet(av_packet_alloc());
  PacketPtr best(av_packet_alloc());
  if (!packet || !best) return AVERROR(ENOMEM);
  bool have_best = false;
  int r = 0;
  while ((r = NextPacket(fmt, packet_budget, packet.get())) > 0) {
    if (packet->stream_index != index || !(packet->flags & AV_PKT_FLAG_KEY)) {
      av_packet_unref(packet.get());
      continue;
    }
    const std::int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    const bool beyond = time != AV_NOPTS_VALUE && time > target;
    if (beyond && have_best) break;
    av_packet_unref(best.get());
    av_packet_move_ref(best.get(), packet.get());
    have_best = true;
    if (time != AV_NOPTS_VALUE && time >= target) break;
  }
  if (r < 0) return r;
  if (!have_best) return 0;
  const int sent = avcodec_send_packet(codec, best.get());
  if (sent < 0 && sent != AVERROR(EAGAIN)) return 0;
  if (avcodec_receive_frame(codec, frame) == 0) return 1;
  if (avcodec_send_packet(codec, nullptr) >= 0 && avcodec_receive_frame(codec, frame) == 0) return 1;
  return 0;
}

bool SeekTo(AVFormatContext* fmt, int index, std::int64_t timestamp) {
  return av_seek_frame(fmt, index, timestamp, AVSEEK_FLAG_BACKWARD) >= 0;
}

ErrorCode ReadPoster(AVFormatContext* fmt, const Source& source, const MovieReadLimits& limits, int box,
                     MovieFacts* facts, imaging::PixelBuffer* poster) {
  const int index = PosterStream(*fmt);
  if (index < 0) return err::kNone;  // sound only
  AVStream* st = fmt->streams[index];
  const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
  if (!decoder) return err::kNoReaderForFormat;
  CodecPtr codec(avcodec_alloc_context3(decoder));
  if (!codec) return err::kOutOfMemory;
  if (avcodec_parameters_to_context(codec.get(), st->codecpar) < 0) return err::kBadMovieData;
  codec->thread_count = 1;  // the scan runs one file per worker thread already
  codec->max_pixels = imaging::kMaxPixels;
  codec->pkt_timebase = st->time_base;
  int r = avcodec_open2(codec.get(), decoder, nullptr);
  if (r < 0) return ErrorOf(r, source, err::kBadMovieData);

  const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  FramePtr frame(av_frame_alloc());
  if (!frame) return err::kOutOfMemory;
  int budget = limits.packet_budget;
  r = 0;
  bool moved = false;
  if (facts->duration > 0 && st->time_base.num > 0 && st->time_base.den > 0) {
    // 10 % of the duration, in the stream's time base.
    const std::int64_t target =
        start + av_rescale(facts->duration, st->time_base.den, std::int64_t{st->time_base.num} * 100);
    if (SeekTo(fmt, index, target)) {
      moved = true;
      r = DecodeKeyframe(fmt, codec.get(), index, target, &budget, frame.get());
    }
  }
  if (r == 0 && !source.timed_out) {
    // No seek, or nothing decodable after it: the first frame from the start
    // (where the demuxer still is when it did not seek).
    bool at_start = true;
    if (moved) {
      avcodec_flush_buffers(codec.get());
      at_start = SeekTo(fmt, index, start) || avformat_seek_file(fmt, -1, INT64_MIN, 0, INT64_MAX, 0) >= 0;
    }
    if (at_start) {
      budget = limits.packet_budget;
      r = DecodeFirstFrame(fmt, codec.get(), index, &budget, frame.get());
    }
  }
  if (r < 0) return ErrorOf(r, source, err::kBadMovieData);
  if (r == 0) return err::kBadMovieData;

  const std::int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : start;
  facts->poster_time = DurationInTenths(std::max<std::int64_t>(pts - start, 0), st->time_base.num, st->time_base.den);
  // The frame's own size may differ from the stream's; its aspect is the
  // stream's.
  std::int32_t display_width = frame->width;
  const std::int32_t stream_width = std::max(st->codecpar->width, 1);
  if (st->codecpar->width > 0 && DisplayWidth(*st) != st->codecpar->width) {
    display_width = ClampI32(av_rescale(frame->width, DisplayWidth(*st), stream_width));
  }
  return ScaleFrame(*frame, display_width, box, poster);
}

// The frames of a GIF animation, counted by their packets within the budget.
void CountGifFrames(AVFormatContext* fmt, const MovieReadLimits& limits, MovieFacts* facts) {
  const int index = PosterStream(*fmt);
  if (index < 0 || fmt->streams[index]->codecpar->codec_id != AV_CODEC_ID_GIF) return;
  if (fmt->streams[index]->nb_frames > 0) return;
  if (avformat_seek_file(fmt, -1, INT64_MIN, 0, INT64_MAX, 0) < 0 && !SeekTo(fmt, index, 0)) return;
  PacketPtr packet(av_packet_alloc());
  if (!packet) return;
  std::int32_t frames = 0;
  for (int budget = limits.packet_budget; budget > 0; --budget) {
    if (av_read_frame(fmt, packet.get()) < 0) break;
    if (packet->stream_index == index) ++frames;
    av_packet_unref(packet.get());
  }
  if (frames > 0) facts->image_count = frames;
}

ErrorCode ReadFrom(Source* source, const std::string& url, int box, const MovieReadLimits& limits,
                   MovieFacts* facts, imaging::PixelBuffer* poster) {
  *facts = MovieFacts();
  if (poster) *poster = imaging::PixelBuffer();
  source->deadline = Clock::now() + std::chrono::milliseconds(std::max(limits.time_budget_ms, 1));

  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
  if (!buffer) return err::kOutOfMemory;
  IoPtr io(avio_alloc_context(buffer, kIoBufferSize, 0, source, ReadPacket, nullptr, SeekSource));
  if (!io) {
    av_free(buffer);
    return err::kOutOfMemory;
  }
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return err::kOutOfMemory;
  raw->pb = io.get();
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  raw->interrupt_callback = {Interrupt, source};
  raw->io_open = RefuseNestedOpen;
  int r = avformat_open_input(&raw, url.c_str(), nullptr, nullptr);  // frees `raw` on failure
  if (r < 0) return ErrorOf(r, *source, err::kNoMovieData);
  FormatPtr fmt(raw);
  r = avformat_find_stream_info(fmt.get(), nullptr);
  if (source->timed_out) return err::kBadMovieData;
  if (r < 0 && fmt->nb_streams == 0) return ErrorOf(r, *source, err::kNoMovieData);

  ReadFacts(*fmt, source->size, facts);
  bool any_media = false;
  for (const MovieTrack& t : facts->tracks) any_media = any_media || t.kind == kTrackVideo || t.kind == kTrackSound;
  if (!any_media) return err::kNoMovieData;

  ErrorCode e = err::kNone;
  if (poster) e = ReadPoster(fmt.get(), *source, limits, box, facts, poster);
  CountGifFrames(fmt.get(), limits, facts);
  if (source->timed_out) e = err::kBadMovieData;
  if (e != err::kNone && poster) *poster = imaging::PixelBuffer();  // no picture with an error
  return e;
}

// --- reading ---------------------------------------------------------------------

ErrorCode ReadMovieFile(const std::string& path, int box, const MovieReadLimits& limits, MovieFacts* facts,
                        imaging::PixelBuffer* poster) {
  *facts = MovieFacts();
  if (poster) *poster = imaging::PixelBuffer();
  Source source;
  source.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (source.fd < 0) return ErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(source.fd, &st) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return err::kFileNotFound;
  if (!S_ISREG(st.st_mode)) return err::kNoMovieData;
  source.size = st.st_size;
  return ReadFrom(&source, path, box, limits, facts, poster);
}

ErrorCode ReadMovieBytes(std::span<const std::uint8_t> bytes, std::string_view name, int box,
                         const MovieReadLimits& limits, MovieFacts* facts, imaging::PixelBuffer* poster) {
  Source source;
  source.bytes = bytes;
  source.size = static_cast<std::int64_t>(bytes.size());
  return ReadFrom(&source, std::string(name), box, limits, facts, poster);
}


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

// --- the plug-in's table -------------------------------------------------------------

std::uint32_t Describe(void* context, NorvoComponentSink sink) {
  for (const PlatformComponent& c : FindMovieImporters()) {
    const NorvoPluginComponent out{c.type, c.subtype, c.manufacturer, c.flags, c.name.c_str()};
    sink(context, &out);
  }
  return CanPlayVideoFiles() ? kNorvoFeatureVideoPlayback : 0;
}

std::int16_t ReadFile(const char* path, int box, const void* limits, void* facts, void* poster) {
  return ReadMovieFile(path, box, *static_cast<const MovieReadLimits*>(limits), static_cast<MovieFacts*>(facts),
                       static_cast<imaging::PixelBuffer*>(poster));
}

std::int16_t ReadBytes(const std::uint8_t* bytes, std::size_t size, const char* name, int box, const void* limits,
                       void* facts, void* poster) {
  return ReadMovieBytes(std::span(bytes, size), name ? name : "", box, *static_cast<const MovieReadLimits*>(limits),
                        static_cast<MovieFacts*>(facts), static_cast<imaging::PixelBuffer*>(poster));
}

const NorvoReaderPlugin kPlugin = {
    kNorvoReaderPluginAbi, kMovieLayout, "movies", LIBAVFORMAT_IDENT, Describe, nullptr, ReadFile, ReadBytes, nullptr,
    nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,  // no encoder
};

}  // namespace
}  // namespace norvo::media

extern "C" __attribute__((visibility("default"))) const NorvoReaderPlugin* norvo_reader_plugin_v1() {
  return &norvo::media::kPlugin;
}
