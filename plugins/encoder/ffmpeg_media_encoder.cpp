// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder plug-in: movies and sounds written through FFmpeg
// (output/media_encoder.h says what it does). It lives in its own module so
// that only the programs that encode map FFmpeg and its hundred-odd
// libraries, and only when they first encode.
#include "output/media_encoder.h"
#include "output/encoder_plugin_layout.h"
#include "plugins/ffmpeg_owners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/byte_io.h"

namespace norvo::output {
namespace {

// --- the containers ------------------------------------------------------------

struct Container {
  const char* extension;
  const char* muxer;
  bool video;
  std::vector<const char*> video_encoders;  // the usual ones, first available wins
  std::vector<const char*> audio_encoders;
};

const std::vector<Container>& Containers() {
  static const std::vector<Container> table = {
      {"mp4", "mp4", true, {"libx264"}, {"aac"}},
      {"mov", "mov", true, {"libx264"}, {"aac"}},
      {"mkv", "matroska", true, {"libx264"}, {"aac"}},
      {"webm", "webm", true, {"libvpx-vp9", "libvpx"}, {"libopus", "libvorbis"}},
      {"wav", "wav", false, {}, {"pcm_s16le"}},
      {"aif", "aiff", false, {}, {"pcm_s16be"}},
      {"mp3", "mp3", false, {}, {"libmp3lame"}},
      {"m4a", "ipod", false, {}, {"aac"}},
      {"flac", "flac", false, {}, {"flac"}},
      {"opus", "opus", false, {}, {"libopus", "opus"}},
  };
  return table;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

const Container* FindContainer(std::string_view extension) {
  std::string ext = Lower(extension);
  if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
  if (ext == "aiff") ext = "aif";
  if (ext == "qt") ext = "mov";
  for (const Container& c : Containers()) {
    if (ext == c.extension) return &c;
  }
  return nullptr;
}

// Encoders flagged experimental (FFmpeg's own Opus) need the lower
// compliance level to open.
bool Experimental(const AVCodec* codec) { return (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) != 0; }

const AVCodec* FindEncoder(const std::string& name) {
  if (name.empty()) return nullptr;
  if (const AVCodec* c = avcodec_find_encoder_by_name(name.c_str())) return c;
  // A codec name ("h264") stands for its default encoder.
  if (const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(name.c_str())) return avcodec_find_encoder(d->id);
  return nullptr;
}

// Whether the container can hold the codec: its own default codecs, or
// those its codec table lists (the MP3 muxer's table names only pictures).
bool MuxerTakes(const AVOutputFormat* muxer, const AVCodec* codec) {
  if (!muxer || !codec) return false;
  if (codec->id == muxer->audio_codec || codec->id == muxer->video_codec) return true;
  return avformat_query_codec(muxer, codec->id, FF_COMPLIANCE_NORMAL) == 1;
}

const AVCodec* UsualEncoder(const Container& c, bool video) {
  const AVOutputFormat* muxer = av_guess_format(c.muxer, nullptr, nullptr);
  for (const char* name : video ? c.video_encoders : c.audio_encoders) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (MuxerTakes(muxer, codec)) return codec;
  }
  return nullptr;
}

std::string ShortCodecName(const AVCodec* codec) {
  switch (codec->id) {
    case AV_CODEC_ID_H264: return "H.264";
    case AV_CODEC_ID_HEVC: return "H.265";
    case AV_CODEC_ID_VP8: return "VP8";
    case AV_CODEC_ID_VP9: return "VP9";
    case AV_CODEC_ID_AV1: return "AV1";
    case AV_CODEC_ID_AAC: return "AAC";
    case AV_CODEC_ID_OPUS: return "Opus";
    case AV_CODEC_ID_VORBIS: return "Vorbis";
    case AV_CODEC_ID_MP3: return "MP3";
    case AV_CODEC_ID_FLAC: return "FLAC";
    default: break;
  }
  if (const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id)) {
    if (std::string_view(d->name).starts_with("pcm_")) return "PCM";
    return d->long_name ? d->long_name : d->name;
  }
  return codec->name;
}

std::string FormatName(const Container& c, const AVCodec* video, const AVCodec* audio) {
  std::string_view ext = c.extension;
  std::string title = ext == "mp4"    ? "MPEG-4"
                      : ext == "mov"  ? "QuickTime"
                      : ext == "mkv"  ? "Matroska"
                      : ext == "webm" ? "WebM"
                      : ext == "wav"  ? "WAVE"
                      : ext == "aif"  ? "AIFF"
                      : ext == "mp3"  ? "MP3"
                      : ext == "m4a"  ? "MPEG-4 Audio"
                      : ext == "flac" ? "FLAC"
                                      : "Opus";
  std::string inner;
  if (video) inner = ShortCodecName(video);
  if (audio) {
    std::string a = ShortCodecName(audio);
    if (a == title) return title;  // "MP3", "FLAC", "Opus" say it already
    inner += inner.empty() ? a : ", " + a;
  }
  return inner.empty() ? title : title + " (" + inner + ")";
}

// --- FFmpeg's objects, owned ---------------------------------------------------

using ffmpeg::CodecPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::ScalerPtr;

struct SwrFree {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoFree {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct DictFree {
  void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFree>;

// The source: its own file opened by us, and no other (see RefuseOpen).
struct Input {
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  ~Input() {
    avformat_close_input(&format);
    avio_closep(&io);
  }
};

// The destination; removed on destruction unless kept.
struct Output {
  AVFormatContext* format = nullptr;
  std::string path;
  bool opened = false;
  bool keep = false;
  ~Output() {
    if (format) {
      if (opened) avio_closep(&format->pb);
      avformat_free_context(format);
    }
    if (opened && !keep) (void)::unlink(path.c_str());  // a partial file is never left; nothing more to do if it fails
  }
};

// Formats that would open further files (playlists, concatenations,
// image sequences by pattern) are refused: only the source itself is read.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

std::string AvText(int av_error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(av_error, text, sizeof text);
  return text;
}

// FFmpeg's errno-based errors to ours; others become `fallback`.
ErrorCode FromAv(int av_error, ErrorCode fallback) {
  if (av_error == AVERROR_EXIT) return err::kUserCancelled;
  if (av_error < 0 && av_error > -4096) return ErrorFromErrno(-av_error);
  return fallback;
}

constexpr int kMaxRepeatedFrames = 600;   // frames repeated to fill one gap in the time stamps
constexpr int kMaxDecodeErrors = 1000;    // damaged packets skipped before the source is given up
constexpr int kCallbackPackets = 32;      // packets between progress calls at the least
constexpr int kPcmChunkSamples = 4096;    // samples a frame for encoders that take any size

// --- the encoder -----------------------------------------------------------------

class Encoder {
 public:
  Encoder(const std::function<bool(double)>& keep_going, std::string* log_text)
      : keep_going_(keep_going), log_(log_text) {}

  ErrorCode Run(const std::string& source, const std::string& destination, const Container& container,
                const AvEncodeSettings& settings);

 private:
  struct VideoPath {
    int index = -1;
    AVStream* in = nullptr;
    AVStream* out = nullptr;
    CodecPtr dec;
    CodecPtr enc;
    ScalerPtr sws;
    int sws_width = 0, sws_height = 0, sws_format = -1;
    FramePtr scaled;
    std::int64_t next_index = 0;  // the next output frame, in the encoder's time base
    std::int64_t source_frame = 0;  // a source frame's time at its usual rate, in its time base
    bool started = false;
  };
  struct AudioPath {
    int index = -1;
    AVStream* in = nullptr;
    AVStream* out = nullptr;
    CodecPtr dec;
    CodecPtr enc;
    SwrPtr swr;
    AVChannelLayout swr_layout{};
    int swr_rate = 0, swr_format = -1;
    FifoPtr fifo;
    std::vector<std::uint8_t*> planes;  // conversion buffer, one pointer a plane
    std::uint8_t* buffer = nullptr;
    int buffer_samples = 0;
    int chunk = 0;                 // samples a frame sent to the encoder
    std::int64_t next_pts = 0;     // in samples
    bool started = false;
    ~AudioPath() {
      av_freep(&buffer);
      av_channel_layout_uninit(&swr_layout);
    }
  };

  ErrorCode Fail(ErrorCode code, const std::string& why) {
    if (log_ && log_->empty()) *log_ = why;
    return code;
  }
  ErrorCode FailAv(int av_error, ErrorCode fallback, const std::string& what) {
    return Fail(FromAv(av_error, fallback), what + ": " + AvText(av_error));
  }

  ErrorCode OpenSource(const std::string& source);
  ErrorCode OpenDecoder(AVStream* stream, CodecPtr* dec, const std::string& what);
  ErrorCode SetUpVideo(const AVCodec* codec, const AvEncodeSettings& settings);
  ErrorCode SetUpAudio(const AVCodec* codec, const AvEncodeSettings& settings);
  ErrorCode OpenEncoder(AVCodecContext* enc, const AVCodec* codec, AVDictionary** options, const std::string& what);
  ErrorCode Transcode();
  ErrorCode DecodePacket(AVCodecContext* dec, const AVPacket* packet, bool video);
  ErrorCode VideoFrame(AVFrame* frame);
  ErrorCode AudioFrame(const AVFrame* frame);
  ErrorCode DrainFifo(bool final);
  ErrorCode Encode(AVCodecContext* enc, AVStream* out, const AVFrame* frame);
  bool Progress(const AVPacket* packet);

  const std::function<bool(double)>& keep_going_;
  std::string* log_;
  Input input_;
  Output output_;
  VideoPath video_;
  AudioPath audio_;
  FramePtr frame_;
  PacketPtr in_packet_;  // read from the source
  PacketPtr packet_;     // made by an encoder
  std::int64_t start_time_ = 0;  // AV_TIME_BASE units
  double duration_ = 0;          // seconds, 0 unknown
  std::int64_t file_size_ = 0;
  double reported_ = -1;
  int packets_since_call_ = 0;
  int decode_errors_ = 0;
  std::int64_t frames_decoded_ = 0;
};

ErrorCode Encoder::OpenSource(const std::string& source) {
  if (::access(source.c_str(), F_OK) != 0) return Fail(ErrorFromErrno(errno), "cannot open the source: " + source);
  // "file:" keeps names with a colon from being taken for a protocol.
  int r = avio_open2(&input_.io, ("file:" + source).c_str(), AVIO_FLAG_READ, nullptr, nullptr);
  if (r < 0) return FailAv(r, err::kIo, "cannot open the source");
  input_.format = avformat_alloc_context();
  if (!input_.format) return Fail(err::kOutOfMemory, "out of memory");
  input_.format->pb = input_.io;
  input_.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  input_.format->io_open = RefuseOpen;
  // Demuxers that open their files through a context of their own (the
  // concatenation) inherit the protocol list but not io_open: no protocol.
  input_.format->protocol_whitelist = av_strdup("none");
  if (!input_.format->protocol_whitelist) return Fail(err::kOutOfMemory, "out of memory");
  r = avformat_open_input(&input_.format, source.c_str(), nullptr, nullptr);  // the name only hints  // frees the context on failure
  // The file itself is open: any refusal now (a format that would read
  // other files included) means it is not a movie to read here.
  if (r < 0) return Fail(r == AVERROR(ENOMEM) ? err::kOutOfMemory : err::kNoMovieData,
                         "not a movie or sound file: " + AvText(r));
  r = avformat_find_stream_info(input_.format, nullptr);
  if (r < 0) return FailAv(r, err::kNoMovieData, "cannot read the streams");
  file_size_ = std::max<std::int64_t>(avio_size(input_.io), 0);
  start_time_ = input_.format->start_time != AV_NOPTS_VALUE ? input_.format->start_time : 0;
  if (input_.format->duration > 0) duration_ = static_cast<double>(input_.format->duration) / AV_TIME_BASE;

  // The largest picture stream that is not a cover picture, and the sound
  // stream FFmpeg thinks best.
  std::int64_t best_area = 0;
  for (unsigned i = 0; i < input_.format->nb_streams; ++i) {
    AVStream* s = input_.format->streams[i];
    const AVCodecParameters* p = s->codecpar;
    if (p->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    if (p->width <= 0 || p->height <= 0 || !avcodec_find_decoder(p->codec_id)) continue;
    const std::int64_t area = std::int64_t{p->width} * p->height;
    if (area > best_area) {
      best_area = area;
      video_.index = static_cast<int>(i);
    }
  }
  const int a = av_find_best_stream(input_.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (a >= 0 && avcodec_find_decoder(input_.format->streams[a]->codecpar->codec_id) &&
      input_.format->streams[a]->codecpar->ch_layout.nb_channels > 0) {
    audio_.index = a;
  }
  if (video_.index >= 0) video_.in = input_.format->streams[video_.index];
  if (audio_.index >= 0) audio_.in = input_.format->streams[audio_.index];
  return err::kNone;
}

ErrorCode Encoder::OpenDecoder(AVStream* stream, CodecPtr* dec, const std::string& what) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return Fail(err::kNoMovieData, "no decoder for the " + what);
  dec->reset(avcodec_alloc_context3(codec));
  if (!*dec) return Fail(err::kOutOfMemory, "out of memory");
  int r = avcodec_parameters_to_context(dec->get(), stream->codecpar);
  if (r < 0) return FailAv(r, err::kBadMovieData, "cannot set up the " + what + " decoder");
  (*dec)->pkt_timebase = stream->time_base;
  (*dec)->thread_count = 0;  // as many as FFmpeg picks for this machine
  r = avcodec_open2(dec->get(), codec, nullptr);
  if (r < 0) return FailAv(r, err::kBadMovieData, "cannot open the " + what + " decoder");
  return err::kNone;
}

// Rounds a size down to the chroma alignment of `format`, at least one block.
int AlignDown(int value, int log2) {
  const int step = 1 << log2;
  return std::max(step, value / step * step);
}

ErrorCode Encoder::SetUpVideo(const AVCodec* codec, const AvEncodeSettings& settings) {
  ErrorCode e = OpenDecoder(video_.in, &video_.dec, "picture");
  if (e != err::kNone) return e;
  const AVCodecContext& dec = *video_.dec;

  video_.enc.reset(avcodec_alloc_context3(codec));
  if (!video_.enc) return Fail(err::kOutOfMemory, "out of memory");
  AVCodecContext& enc = *video_.enc;

  // Pixel format: the source's when the encoder takes it, else the closest.
  // (A decoder that tells its format only with the first picture is taken
  // to give the commonest one; other pictures are converted.)
  const AVPixelFormat source_format = dec.pix_fmt != AV_PIX_FMT_NONE ? dec.pix_fmt : AV_PIX_FMT_YUV420P;
  AVPixelFormat format = source_format;
  if (codec->pix_fmts) {
    bool taken = false;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) taken = taken || *p == format;
    if (!taken) format = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, source_format, 0, nullptr);
  }
  if (format == AV_PIX_FMT_NONE) return Fail(err::kParam, "the encoder takes no pixel format the source can give");
  enc.pix_fmt = format;

  // Size: as asked, the missing side following the source's aspect.
  const int src_w = dec.width, src_h = dec.height;
  if (src_w <= 0 || src_h <= 0) return Fail(err::kBadMovieData, "the pictures have no size");
  int w = settings.width > 0 ? settings.width : 0;
  int h = settings.height > 0 ? settings.height : 0;
  if (w == 0 && h == 0) {
    w = src_w;
    h = src_h;
  } else if (w == 0) {
    w = static_cast<int>(std::lround(static_cast<double>(h) * src_w / src_h));
  } else if (h == 0) {
    h = static_cast<int>(std::lround(static_cast<double>(w) * src_h / src_w));
  }
  constexpr int kMaxSide = 16384;
  w = std::clamp(w, 1, kMaxSide);
  h = std::clamp(h, 1, kMaxSide);
  if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format)) {
    w = AlignDown(w, d->log2_chroma_w);
    h = AlignDown(h, d->log2_chroma_h);
  }
  enc.width = w;
  enc.height = h;
  enc.sample_aspect_ratio = dec.sample_aspect_ratio;

  // Frame rate: as asked, else the source's, else 25.
  AVRational rate = settings.frame_rate > 0 ? av_d2q(settings.frame_rate, 1001000)
                                            : av_guess_frame_rate(input_.format, video_.in, nullptr);
  if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000) rate = {25, 1};
  if (codec->supported_framerates) {
    rate = codec->supported_framerates[av_find_nearest_q_idx(rate, codec->supported_framerates)];
  }
  enc.framerate = rate;
  enc.time_base = av_inv_q(rate);
  const AVRational source_rate = av_guess_frame_rate(input_.format, video_.in, nullptr);
  if (source_rate.num > 0 && source_rate.den > 0) {
    video_.source_frame = av_rescale_q(1, av_inv_q(source_rate), video_.in->time_base);
  }
  // Colour description as the source gives it.
  enc.color_range = dec.color_range;
  enc.color_primaries = dec.color_primaries;
  enc.color_trc = dec.color_trc;
  enc.colorspace = dec.colorspace;
  enc.chroma_sample_location = dec.chroma_sample_location;
  enc.thread_count = 0;

  // Quality on the H.264 CRF scale, moved to the encoder's own.
  const int q = std::clamp(settings.quality, 0, 51);
  AVDictionary* options = nullptr;
  std::unique_ptr<AVDictionary*, void (*)(AVDictionary**)> options_owner(&options, av_dict_free);
  const std::string_view name = codec->name;
  if (name == "libx264" || name == "libx265") {
    av_dict_set_int(&options, "crf", q, 0);
  } else if (name == "libvpx-vp9" || name == "libaom-av1") {
    av_dict_set_int(&options, "crf", std::lround(q * 63.0 / 51.0), 0);
    enc.bit_rate = 0;
    av_dict_set(&options, "row-mt", "1", 0);
    av_dict_set(&options, "cpu-used", name == "libaom-av1" ? "6" : "4", 0);
    if (name == "libvpx-vp9") av_dict_set(&options, "deadline", "good", 0);
  } else if (name == "libvpx") {
    av_dict_set_int(&options, "crf", std::clamp<long>(std::lround(q * 63.0 / 51.0), 4, 63), 0);
    // VP8 takes the quality only under a ceiling of bits: a generous one.
    enc.bit_rate = std::int64_t{w} * h * 4;
    av_dict_set(&options, "cpu-used", "4", 0);
  } else {
    // Quantiser-driven encoders (MPEG-4 part 2, ProRes ...): 2 best ... 31.
    enc.flags |= AV_CODEC_FLAG_QSCALE;
    enc.global_quality = FF_QP2LAMBDA * static_cast<int>(std::lround(2 + q * 29.0 / 51.0));
  }
  return OpenEncoder(&enc, codec, &options, "picture");
}

// The channel layout the encoder takes that is nearest to `wanted`.
void ChooseLayout(const AVCodec* codec, int wanted_channels, const AVChannelLayout& source, AVChannelLayout* out) {
  AVChannelLayout want{};
  if (wanted_channels > 0 && wanted_channels != source.nb_channels) {
    av_channel_layout_default(&want, wanted_channels);
  } else if (source.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&want, source.nb_channels);
  } else {
    (void)av_channel_layout_copy(&want, &source);  // a failure leaves it empty, handled below
  }
  if (want.nb_channels <= 0) av_channel_layout_default(&want, 2);
  if (codec->ch_layouts && codec->ch_layouts[0].nb_channels > 0) {
    // The same layout; else one with as many channels; else the widest
    // with fewer; else the narrowest.
    const AVChannelLayout* same_count = nullptr;
    const AVChannelLayout* fewer = nullptr;
    const AVChannelLayout* narrowest = nullptr;
    const AVChannelLayout* exact = nullptr;
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels > 0 && !exact; ++l) {
      if (av_channel_layout_compare(l, &want) == 0) exact = l;
      if (l->nb_channels == want.nb_channels && !same_count) same_count = l;
      if (l->nb_channels < want.nb_channels && (!fewer || l->nb_channels > fewer->nb_channels)) fewer = l;
      if (!narrowest || l->nb_channels < narrowest->nb_channels) narrowest = l;
    }
    const AVChannelLayout* best = exact ? exact : same_count ? same_count : fewer ? fewer : narrowest;
    av_channel_layout_uninit(&want);
    (void)av_channel_layout_copy(out, best);  // a layout of the codec's own table: nothing to allocate
    return;
  }
  *out = want;  // moved: `want` owns nothing beyond a custom map, which is handed over
}

int ChooseRate(const AVCodec* codec, int wanted) {
  if (!codec->supported_samplerates) return wanted;
  int above = 0, below = 0;
  for (const int* r = codec->supported_samplerates; *r != 0; ++r) {
    if (*r == wanted) return wanted;
    if (*r > wanted && (above == 0 || *r < above)) above = *r;
    if (*r < wanted && *r > below) below = *r;
  }
  return above != 0 ? above : below;
}

AVSampleFormat ChooseSampleFormat(const AVCodec* codec, AVSampleFormat source) {
  if (!codec->sample_fmts) return source;
  const AVSampleFormat packed = av_get_packed_sample_fmt(source);
  const AVSampleFormat planar = av_get_planar_sample_fmt(source);
  for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (*f == source) return *f;
  }
  for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (*f == packed || *f == planar) return *f;
  }
  // No match: the first one at least as deep as the source, else the first.
  const int bytes = av_get_bytes_per_sample(source);
  for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (av_get_bytes_per_sample(*f) >= bytes) return *f;
  }
  return codec->sample_fmts[0];
}

ErrorCode Encoder::SetUpAudio(const AVCodec* codec, const AvEncodeSettings& settings) {
  ErrorCode e = OpenDecoder(audio_.in, &audio_.dec, "sound");
  if (e != err::kNone) return e;
  const AVCodecContext& dec = *audio_.dec;
  audio_.enc.reset(avcodec_alloc_context3(codec));
  if (!audio_.enc) return Fail(err::kOutOfMemory, "out of memory");
  AVCodecContext& enc = *audio_.enc;

  const int source_rate = dec.sample_rate > 0 ? dec.sample_rate : 44100;
  enc.sample_rate = ChooseRate(codec, settings.audio_rate > 0 ? std::min(settings.audio_rate, 768000) : source_rate);
  if (enc.sample_rate <= 0) return Fail(err::kParam, "the sound encoder takes no sample rate");
  ChooseLayout(codec, std::min(settings.channels, 64), dec.ch_layout, &enc.ch_layout);
  if (enc.ch_layout.nb_channels <= 0) return Fail(err::kParam, "the sound encoder takes no channel layout");
  enc.sample_fmt = ChooseSampleFormat(codec, dec.sample_fmt);
  // A 24-bit source stays 24-bit where the encoder can tell (FLAC).
  enc.bits_per_raw_sample = std::min(dec.bits_per_raw_sample, av_get_bytes_per_sample(enc.sample_fmt) * 8);
  enc.time_base = {1, enc.sample_rate};
  enc.thread_count = 0;
  AVDictionary* options = nullptr;
  std::unique_ptr<AVDictionary*, void (*)(AVDictionary**)> options_owner(&options, av_dict_free);
  e = OpenEncoder(&enc, codec, &options, "sound");
  if (e != err::kNone) return e;

  audio_.chunk = enc.frame_size > 0 ? enc.frame_size : kPcmChunkSamples;
  audio_.fifo.reset(av_audio_fifo_alloc(enc.sample_fmt, enc.ch_layout.nb_channels, audio_.chunk * 2));
  if (!audio_.fifo) return Fail(err::kOutOfMemory, "out of memory");
  return err::kNone;
}

ErrorCode Encoder::OpenEncoder(AVCodecContext* enc, const AVCodec* codec, AVDictionary** options,
                               const std::string& what) {
  if (output_.format->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (Experimental(codec)) enc->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
  int r = avcodec_open2(enc, codec, options);
  if (r < 0) return FailAv(r, err::kParam, "cannot open the " + what + " encoder " + codec->name);
  AVStream* out = avformat_new_stream(output_.format, nullptr);
  if (!out) return Fail(err::kOutOfMemory, "out of memory");
  r = avcodec_parameters_from_context(out->codecpar, enc);
  if (r < 0) return FailAv(r, err::kParam, "cannot describe the " + what + " stream");
  out->time_base = enc->time_base;
  if (codec->type == AVMEDIA_TYPE_VIDEO) {
    video_.out = out;
    out->avg_frame_rate = enc->framerate;
    out->sample_aspect_ratio = enc->sample_aspect_ratio;
    // A turned camera movie stays turned: its display matrix goes along.
    size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(video_.in, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix && size > 0) {
      if (std::uint8_t* copy = av_stream_new_side_data(out, AV_PKT_DATA_DISPLAYMATRIX, size)) {
        std::memcpy(copy, matrix, size);
      }
    }
    (void)av_dict_copy(&out->metadata, video_.in->metadata, 0);  // language and handler names only; not vital
  } else {
    audio_.out = out;
    (void)av_dict_copy(&out->metadata, audio_.in->metadata, 0);  // as above
  }
  return err::kNone;
}

bool Encoder::Progress(const AVPacket* packet) {
  if (!keep_going_) return true;
  double done = reported_;
  if (duration_ > 0 && packet && packet->pts != AV_NOPTS_VALUE) {
    const AVStream* s = input_.format->streams[packet->stream_index];
    const double t = packet->pts * av_q2d(s->time_base) - static_cast<double>(start_time_) / AV_TIME_BASE;
    done = std::max(done, t / duration_);
  } else if (file_size_ > 0) {
    done = std::max(done, static_cast<double>(avio_tell(input_.io)) / static_cast<double>(file_size_));
  }
  done = std::clamp(done, 0.0, 1.0);
  if (++packets_since_call_ < kCallbackPackets && done < reported_ + 0.005) return true;
  packets_since_call_ = 0;
  reported_ = done;
  return keep_going_(done);
}

ErrorCode Encoder::Encode(AVCodecContext* enc, AVStream* out, const AVFrame* frame) {
  int r = avcodec_send_frame(enc, frame);
  if (r < 0 && r != AVERROR_EOF) return FailAv(r, err::kIo, "the encoder refused a frame");
  for (;;) {
    r = avcodec_receive_packet(enc, packet_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return err::kNone;
    if (r < 0) return FailAv(r, err::kIo, "the encoder failed");
    av_packet_rescale_ts(packet_.get(), enc->time_base, out->time_base);
    packet_->stream_index = out->index;
    r = av_interleaved_write_frame(output_.format, packet_.get());  // takes the packet's data
    if (r < 0) return FailAv(r, err::kIo, "cannot write the destination");
  }
}

ErrorCode Encoder::VideoFrame(AVFrame* frame) {
  AVCodecContext& enc = *video_.enc;
  // The frame is shown from its time stamp for its duration; it fills the
  // output slots (of the constant output rate) whose times round into that
  // span. Slots before it that no frame filled (a gap) get it too.
  std::int64_t ts = frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = frame->pts;
  std::int64_t first, end;
  if (ts == AV_NOPTS_VALUE) {
    first = video_.next_index;
    end = first + 1;
  } else {
    ts -= av_rescale_q(start_time_, AV_TIME_BASE_Q, video_.in->time_base);
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    std::int64_t duration = frame->duration > 0 ? frame->duration : video_.source_frame;
#else
    std::int64_t duration = frame->pkt_duration > 0 ? frame->pkt_duration : video_.source_frame;
#endif
    if (duration <= 0) duration = 1;
    const auto nearest = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    first = av_rescale_q_rnd(ts, video_.in->time_base, enc.time_base, nearest);
    end = av_rescale_q_rnd(ts + duration, video_.in->time_base, enc.time_base, nearest);
  }
  if (!video_.started) {
    video_.next_index = std::max<std::int64_t>(first, 0);
    end = std::max(end, video_.next_index + 1);  // the first frame is always shown
    video_.started = true;
  }
  if (end <= video_.next_index) return err::kNone;  // a frame too many for the rate: dropped
  const std::int64_t copies = std::min<std::int64_t>(end - video_.next_index, kMaxRepeatedFrames);

  AVFrame* send = frame;
  if (frame->width != enc.width || frame->height != enc.height || frame->format != enc.pix_fmt) {
    if (!video_.sws || video_.sws_width != frame->width || video_.sws_height != frame->height ||
        video_.sws_format != frame->format) {
      video_.sws.reset(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                      enc.width, enc.height, enc.pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
      if (!video_.sws) return Fail(err::kParam, "cannot convert the pictures to the encoder's format");
      video_.sws_width = frame->width;
      video_.sws_height = frame->height;
      video_.sws_format = frame->format;
    }
    if (!video_.scaled) {
      video_.scaled.reset(av_frame_alloc());
      if (!video_.scaled) return Fail(err::kOutOfMemory, "out of memory");
      video_.scaled->format = enc.pix_fmt;
      video_.scaled->width = enc.width;
      video_.scaled->height = enc.height;
      if (av_frame_get_buffer(video_.scaled.get(), 0) < 0) return Fail(err::kOutOfMemory, "out of memory");
    }
    // The encoder may still hold the last picture: write into a fresh
    // buffer then, never under it.
    if (av_frame_make_writable(video_.scaled.get()) < 0) return Fail(err::kOutOfMemory, "out of memory");
    sws_scale(video_.sws.get(), frame->data, frame->linesize, 0, frame->height, video_.scaled->data,
              video_.scaled->linesize);
    (void)av_frame_copy_props(video_.scaled.get(), frame);  // side data only; the picture is complete without
    send = video_.scaled.get();
  }
  send->pict_type = AV_PICTURE_TYPE_NONE;  // the encoder picks its own key frames
  for (std::int64_t i = 0; i < copies; ++i) {
    send->pts = video_.next_index++;
    ErrorCode e = Encode(&enc, video_.out, send);
    if (e != err::kNone) return e;
  }
  return err::kNone;
}

ErrorCode Encoder::DrainFifo(bool final) {
  AVCodecContext& enc = *audio_.enc;
  for (int guard = 0; guard < (1 << 24); ++guard) {
    const int available = av_audio_fifo_size(audio_.fifo.get());
    if (available <= 0 || (!final && available < audio_.chunk)) return err::kNone;
    int n = std::min(available, audio_.chunk);
    // A short last frame only for encoders that take one; others get silence after it.
    const bool short_ok = (enc.codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) ||
                          enc.frame_size == 0;
    FramePtr out(av_frame_alloc());
    if (!out) return Fail(err::kOutOfMemory, "out of memory");
    out->nb_samples = n < audio_.chunk && !short_ok ? audio_.chunk : n;
    out->format = enc.sample_fmt;
    out->sample_rate = enc.sample_rate;
    if (av_channel_layout_copy(&out->ch_layout, &enc.ch_layout) < 0 || av_frame_get_buffer(out.get(), 0) < 0) {
      return Fail(err::kOutOfMemory, "out of memory");
    }
    if (out->nb_samples > n) {
      av_samples_set_silence(out->extended_data, 0, out->nb_samples, enc.ch_layout.nb_channels, enc.sample_fmt);
    }
    if (av_audio_fifo_read(audio_.fifo.get(), reinterpret_cast<void**>(out->extended_data), n) != n) {
      return Fail(err::kIo, "the sound buffer lost samples");
    }
    out->pts = audio_.next_pts;
    audio_.next_pts += out->nb_samples;
    ErrorCode e = Encode(&enc, audio_.out, out.get());
    if (e != err::kNone) return e;
  }
  return err::kNone;
}

ErrorCode Encoder::AudioFrame(const AVFrame* frame) {
  AVCodecContext& enc = *audio_.enc;
  if (!audio_.started) {
    // The sound starts where its first samples are, relative to the movie.
    std::int64_t ts = frame ? frame->best_effort_timestamp : AV_NOPTS_VALUE;
    if (ts != AV_NOPTS_VALUE) {
      ts -= av_rescale_q(start_time_, AV_TIME_BASE_Q, audio_.in->time_base);
      audio_.next_pts = std::max<std::int64_t>(0, av_rescale_q(ts, audio_.in->time_base, enc.time_base));
    }
    audio_.started = true;
  }
  const int in_rate = frame ? frame->sample_rate : audio_.swr_rate;
  const AVSampleFormat in_format = frame ? static_cast<AVSampleFormat>(frame->format)
                                         : static_cast<AVSampleFormat>(audio_.swr_format);
  if (frame && (!audio_.swr || in_rate != audio_.swr_rate || in_format != audio_.swr_format ||
                av_channel_layout_compare(&frame->ch_layout, &audio_.swr_layout) != 0)) {
    if (audio_.swr) {
      ErrorCode e = AudioFrame(nullptr);  // what the old resampler still holds
      if (e != err::kNone) return e;
    }
    AVChannelLayout in_layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&in_layout, frame->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&in_layout, &frame->ch_layout) < 0) {
      return Fail(err::kOutOfMemory, "out of memory");
    }
    SwrContext* raw = nullptr;
    int r = swr_alloc_set_opts2(&raw, &enc.ch_layout, enc.sample_fmt, enc.sample_rate, &in_layout, in_format,
                                in_rate, 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    audio_.swr.reset(raw);
    if (r >= 0) r = swr_init(raw);
    if (r < 0) return FailAv(r, err::kParam, "cannot convert the sound to the encoder's format");
    av_channel_layout_uninit(&audio_.swr_layout);
    if (av_channel_layout_copy(&audio_.swr_layout, &frame->ch_layout) < 0) return Fail(err::kOutOfMemory, "out of memory");
    audio_.swr_rate = in_rate;
    audio_.swr_format = in_format;
  }
  if (!audio_.swr) return err::kNone;
  const int in_samples = frame ? frame->nb_samples : 0;
  const int room = swr_get_out_samples(audio_.swr.get(), in_samples);
  if (room < 0) return Fail(err::kBadMovieData, "the sound cannot be resampled");
  if (room > audio_.buffer_samples) {
    av_freep(&audio_.buffer);
    const int channels = enc.ch_layout.nb_channels;
    audio_.planes.assign(static_cast<std::size_t>(channels), nullptr);
    if (av_samples_alloc(audio_.planes.data(), nullptr, channels, room, enc.sample_fmt, 0) < 0) {
      audio_.buffer_samples = 0;
      return Fail(err::kOutOfMemory, "out of memory");
    }
    audio_.buffer = audio_.planes[0];
    audio_.buffer_samples = room;
  }
  const int got = swr_convert(audio_.swr.get(), audio_.planes.data(), audio_.buffer_samples,
                              frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, in_samples);
  if (got < 0) return FailAv(got, err::kBadMovieData, "the sound cannot be resampled");
  if (got > 0 && av_audio_fifo_write(audio_.fifo.get(), reinterpret_cast<void**>(audio_.planes.data()), got) != got) {
    return Fail(err::kOutOfMemory, "out of memory");
  }
  return DrainFifo(false);
}

ErrorCode Encoder::DecodePacket(AVCodecContext* dec, const AVPacket* packet, bool video) {
  int r = avcodec_send_packet(dec, packet);
  if (r < 0 && r != AVERROR_EOF) {
    if (r == AVERROR(ENOMEM)) return Fail(err::kOutOfMemory, "out of memory");
    if (++decode_errors_ > kMaxDecodeErrors) return FailAv(r, err::kBadMovieData, "too much damaged data");
    return err::kNone;  // a damaged packet is skipped, as players do
  }
  for (;;) {
    r = avcodec_receive_frame(dec, frame_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return err::kNone;
    if (r < 0) {
      if (r == AVERROR(ENOMEM)) return Fail(err::kOutOfMemory, "out of memory");
      if (++decode_errors_ > kMaxDecodeErrors) return FailAv(r, err::kBadMovieData, "too much damaged data");
      continue;
    }
    ++frames_decoded_;
    ErrorCode e = video ? VideoFrame(frame_.get()) : AudioFrame(frame_.get());
    av_frame_unref(frame_.get());
    if (e != err::kNone) return e;
  }
}

ErrorCode Encoder::Transcode() {
  for (;;) {
    int r = av_read_frame(input_.format, in_packet_.get());
    if (r == AVERROR_EOF) break;
    if (r < 0) {
      if (r == AVERROR(ENOMEM)) return Fail(err::kOutOfMemory, "out of memory");
      if (input_.io->eof_reached || ++decode_errors_ > kMaxDecodeErrors) break;  // read what could be read
      continue;
    }
    AVPacket* in = in_packet_.get();
    if (!Progress(in)) {
      av_packet_unref(in);
      return Fail(err::kUserCancelled, "cancelled");
    }
    ErrorCode e = err::kNone;
    if (in->stream_index == video_.index && video_.enc) {
      e = DecodePacket(video_.dec.get(), in, true);
    } else if (in->stream_index == audio_.index && audio_.enc) {
      e = DecodePacket(audio_.dec.get(), in, false);
    }
    av_packet_unref(in);
    if (e != err::kNone) return e;
  }
  // Whatever the decoders, the resampler and the encoders still hold.
  if (video_.enc) {
    ErrorCode e = DecodePacket(video_.dec.get(), nullptr, true);
    if (e == err::kNone) e = Encode(video_.enc.get(), video_.out, nullptr);
    if (e != err::kNone) return e;
  }
  if (audio_.enc) {
    ErrorCode e = DecodePacket(audio_.dec.get(), nullptr, false);
    if (e == err::kNone && audio_.swr) e = AudioFrame(nullptr);
    if (e == err::kNone) e = DrainFifo(true);
    if (e == err::kNone) e = Encode(audio_.enc.get(), audio_.out, nullptr);
    if (e != err::kNone) return e;
  }
  if (frames_decoded_ == 0) return Fail(err::kBadMovieData, "nothing in the source could be decoded");
  return err::kNone;
}

ErrorCode Encoder::Run(const std::string& source, const std::string& destination, const Container& container,
                       const AvEncodeSettings& settings) {
  ErrorCode e = OpenSource(source);
  if (e != err::kNone) return e;
  if (!container.video && audio_.index < 0) return Fail(err::kNoSound, "no sound");
  if (audio_.index < 0 && video_.index < 0) return Fail(err::kNoMovieData, "no picture or sound in the source");

  const AVOutputFormat* muxer = av_guess_format(container.muxer, nullptr, nullptr);
  if (!muxer) return Fail(err::kParam, std::string("this FFmpeg cannot write ") + container.extension);
  const AVCodec* video_codec = nullptr;
  if (container.video && video_.index >= 0) {
    video_codec = settings.video_codec.empty() ? UsualEncoder(container, true) : FindEncoder(settings.video_codec);
    if (!video_codec || video_codec->type != AVMEDIA_TYPE_VIDEO || !MuxerTakes(muxer, video_codec)) {
      return Fail(err::kParam, "no picture encoder " + settings.video_codec + " for " + container.extension);
    }
  }
  const AVCodec* audio_codec = nullptr;
  if (audio_.index >= 0) {
    audio_codec = settings.audio_codec.empty() ? UsualEncoder(container, false) : FindEncoder(settings.audio_codec);
    if (!audio_codec || audio_codec->type != AVMEDIA_TYPE_AUDIO || !MuxerTakes(muxer, audio_codec)) {
      return Fail(err::kParam, "no sound encoder " + settings.audio_codec + " for " + container.extension);
    }
  }
  if (!video_codec) video_.index = -1;

  int r = avformat_alloc_output_context2(&output_.format, muxer, nullptr, destination.c_str());
  if (r < 0 || !output_.format) return FailAv(r, err::kOutOfMemory, "cannot set up the destination");
  output_.path = destination;
  if (video_codec) {
    e = SetUpVideo(video_codec, settings);
    if (e != err::kNone) return e;
  }
  if (audio_codec) {
    e = SetUpAudio(audio_codec, settings);
    if (e != err::kNone) return e;
  }
  (void)av_dict_copy(&output_.format->metadata, input_.format->metadata, 0);  // titles and such; not vital
  // What described the source's own making does not describe this file.
  for (const char* key : {"encoder", "major_brand", "minor_version", "compatible_brands"}) {
    (void)av_dict_set(&output_.format->metadata, key, nullptr, 0);  // removing cannot fail
  }

  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  in_packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_ || !in_packet_) return Fail(err::kOutOfMemory, "out of memory");

  r = avio_open2(&output_.format->pb, ("file:" + destination).c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
  if (r < 0) return FailAv(r, err::kIo, "cannot create the destination");
  output_.opened = true;
  r = avformat_write_header(output_.format, nullptr);
  if (r < 0) return FailAv(r, err::kIo, "cannot write the destination");
  e = Transcode();
  if (e != err::kNone) return e;
  r = av_write_trailer(output_.format);
  if (r < 0) return FailAv(r, err::kIo, "cannot finish the destination");
  avio_flush(output_.format->pb);
  if (output_.format->pb->error < 0) return FailAv(output_.format->pb->error, err::kIo, "cannot write the destination");
  r = avio_closep(&output_.format->pb);
  if (r < 0) return FailAv(r, err::kIo, "cannot finish the destination");
  output_.keep = true;
  if (keep_going_) (void)keep_going_(1.0);  // the work is done: a cancel now changes nothing
  return err::kNone;
}

// FFmpeg's own messages go to standard error; below errors they only
// clutter the output of the programs, so they are quietened once unless the
// program chose a level itself.
void QuietenFfmpegOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
  });
}

// --- the plug-in's table -------------------------------------------------------------

void ListFormats(void* formats_out) {
  auto& out = *static_cast<std::vector<AvFormat>*>(formats_out);
  out.clear();
  for (const Container& c : Containers()) {
    if (!av_guess_format(c.muxer, nullptr, nullptr)) continue;
    const AVCodec* audio = UsualEncoder(c, false);
    const AVCodec* video = c.video ? UsualEncoder(c, true) : nullptr;
    if (c.video ? !video : !audio) continue;
    out.push_back({c.extension, FormatName(c, video, audio), c.video});
  }
}

std::int16_t Encode(const char* source_path, const char* destination_path, const char* extension_text,
                    const void* settings_in, void* context, NorvoKeepGoing keep_going_fn, void* log_out) {
  const std::string source = source_path ? source_path : "";
  const std::string destination = destination_path ? destination_path : "";
  const std::string extension = extension_text ? extension_text : "";
  const AvEncodeSettings& settings = *static_cast<const AvEncodeSettings*>(settings_in);
  auto* log_text = static_cast<std::string*>(log_out);
  std::function<bool(double)> keep_going;
  if (keep_going_fn) keep_going = [=](double done) { return keep_going_fn(context, done) != 0; };
  if (log_text) log_text->clear();
  QuietenFfmpegOnce();
  const Container* container = FindContainer(extension);
  if (!container) {
    if (log_text) *log_text = "no movie or sound format for the extension \"" + extension + "\"";
    return err::kParam;
  }
  if (destination.empty()) {
    if (log_text) *log_text = "no destination";
    return err::kParam;
  }
  Encoder encoder(keep_going, log_text);
  return encoder.Run(source, destination, *container, settings);
}

void ListCodecs(const char* extension, int video_wanted, void* choices_out) {
  auto& out = *static_cast<std::vector<AvCodecChoice>*>(choices_out);
  out.clear();
  const bool video = video_wanted != 0;
  const Container* c = FindContainer(extension ? extension : "");
  if (!c || (video && !c->video)) return;
  const AVOutputFormat* muxer = av_guess_format(c->muxer, nullptr, nullptr);
  if (!muxer) return;
  auto add = [&](const AVCodec* codec) {
    for (const AvCodecChoice& have : out) {
      if (have.encoder == codec->name) return;
    }
    std::string name = ShortCodecName(codec);
    if (Lower(name) != codec->name) name += std::string(" (") + codec->name + ")";  // "AAC", not "AAC (aac)"
    out.push_back({codec->name, name});
  };
  if (const AVCodec* usual = UsualEncoder(*c, video)) add(usual);
  for (const char* name : video ? c->video_encoders : c->audio_encoders) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (MuxerTakes(muxer, codec)) add(codec);
  }
  void* opaque = nullptr;
  constexpr int kMaxCodecs = 4096;
  for (int i = 0; i < kMaxCodecs; ++i) {
    const AVCodec* codec = av_codec_iterate(&opaque);
    if (!codec) break;
    if (!av_codec_is_encoder(codec) || codec->type != (video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO)) continue;
    // Hardware encoders need devices this program does not set up, and
    // experimental ones are offered only when they are the usual choice.
    if (codec->capabilities & (AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_EXPERIMENTAL)) continue;
    if (codec->capabilities & AV_CODEC_CAP_HYBRID) continue;
    if (!MuxerTakes(muxer, codec)) continue;
    add(codec);
  }
}

void ListSampleRates(const char* encoder, void* rates_out) {
  auto& out = *static_cast<std::vector<int>*>(rates_out);
  out.clear();
  const AVCodec* codec = FindEncoder(encoder ? encoder : "");
  if (!codec || !codec->supported_samplerates) return;
  for (const int* r = codec->supported_samplerates; *r != 0 && out.size() < 64; ++r) out.push_back(*r);
  std::sort(out.begin(), out.end());
}

int MaxChannels(const char* encoder) {
  const AVCodec* codec = FindEncoder(encoder ? encoder : "");
  if (!codec || !codec->ch_layouts) return 0;
  int most = 0;
  for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels > 0; ++l) most = std::max(most, l->nb_channels);
  return most;
}

const NorvoReaderPlugin kPlugin = {
    kNorvoReaderPluginAbi, kEncoderLayout, "encoder", LIBAVCODEC_IDENT, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, ListFormats, Encode, ListCodecs, ListSampleRates, MaxChannels,
};

}  // namespace
}  // namespace norvo::output

extern "C" __attribute__((visibility("default"))) const NorvoReaderPlugin* norvo_reader_plugin_v1() {
  return &norvo::output::kPlugin;
}
