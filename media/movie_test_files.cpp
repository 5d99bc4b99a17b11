// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/movie_test_files.h"

#include <cmath>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace norvo::media::testing {
namespace {

struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct OutputFree {
  void operator()(AVFormatContext* f) const {
    if (f->pb) avio_closep(&f->pb);
    avformat_free_context(f);
  }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;

std::string Message(const char* what, int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return std::string(what) + ": " + text;
}

struct Output {
  CodecPtr codec;
  AVStream* stream = nullptr;
  std::int64_t next = 0;  // next pts in the codec's time base
  bool done = false;
};

// Sends `frame` (null: flush) and writes what comes out.
int Encode(AVFormatContext* out, Output& o, AVFrame* frame) {
  int r = avcodec_send_frame(o.codec.get(), frame);
  if (r < 0) return r;
  PacketPtr packet(av_packet_alloc());
  for (;;) {
    r = avcodec_receive_packet(o.codec.get(), packet.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
    if (r < 0) return r;
    av_packet_rescale_ts(packet.get(), o.codec->time_base, o.stream->time_base);
    packet->stream_index = o.stream->index;
    r = av_interleaved_write_frame(out, packet.get());
    if (r < 0) return r;
  }
}

AVPixelFormat PickPixelFormat(const AVCodec* codec, int wanted) {
  if (wanted >= 0) return static_cast<AVPixelFormat>(wanted);
  for (const AVPixelFormat* f = codec->pix_fmts; f && *f != AV_PIX_FMT_NONE; ++f) {
    if (sws_isSupportedOutput(*f)) return *f;
  }
  return AV_PIX_FMT_YUV420P;
}

void PaintFrame(const TestVideo& v, int index, AVFrame* rgb) {
  const std::uint32_t top = GopColour(index / v.gop);
  for (int y = 0; y < v.height; ++y) {
    std::uint8_t* row = rgb->data[0] + static_cast<std::ptrdiff_t>(y) * rgb->linesize[0];
    const std::uint32_t c = y < v.height / 2 ? top : kBottomColour;
    for (int x = 0; x < v.width; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(c >> 16);
      row[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(c);
    }
  }
}

void PutSample(AVFrame* frame, AVSampleFormat format, int channel, int index, double value) {
  const bool planar = av_sample_fmt_is_planar(format);
  const int channels = frame->ch_layout.nb_channels;
  const int slot = planar ? index : index * channels + channel;
  std::uint8_t* base = frame->data[planar ? channel : 0];
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: base[slot] = static_cast<std::uint8_t>(128 + value * 100); break;
    case AV_SAMPLE_FMT_S16: reinterpret_cast<std::int16_t*>(base)[slot] = static_cast<std::int16_t>(value * 20000); break;
    case AV_SAMPLE_FMT_S32: reinterpret_cast<std::int32_t*>(base)[slot] = static_cast<std::int32_t>(value * 1e9); break;
    case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(base)[slot] = static_cast<float>(value * 0.6); break;
    case AV_SAMPLE_FMT_DBL: reinterpret_cast<double*>(base)[slot] = value * 0.6; break;
    default: break;
  }
}

}  // namespace

std::uint32_t GopColour(int gop_index) {
  static constexpr std::uint32_t kColours[] = {0xE00000, 0x00D000, 0xE0E000, 0x00E0E0, 0xE000E0, 0x808080};
  return kColours[static_cast<unsigned>(gop_index) % (sizeof kColours / sizeof kColours[0])];
}

bool WriteTestMovie(const std::string& path, const TestMovie& movie, std::string* message) {
  AVFormatContext* raw = nullptr;
  int r = avformat_alloc_output_context2(&raw, nullptr, movie.container.c_str(), path.c_str());
  if (r < 0 || !raw) {
    *message = Message("muxer", r);
    return false;
  }
  OutputPtr out(raw);
  Output video;
  Output audio;
  const bool global_header = out->oformat->flags & AVFMT_GLOBALHEADER;

  if (movie.video) {
    const TestVideo& v = *movie.video;
    const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(v.codec));
    if (!codec) {
      *message = "no video encoder";
      return false;
    }
    video.codec.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = video.codec.get();
    c->width = v.width;
    c->height = v.height;
    c->time_base = {1, v.fps};
    c->framerate = {v.fps, 1};
    c->gop_size = v.gop;
    c->max_b_frames = v.max_b_frames;
    c->pix_fmt = PickPixelFormat(codec, v.pixel_format);
    if (v.bit_rate > 0) c->bit_rate = v.bit_rate;
    if (v.sar_num > 0) c->sample_aspect_ratio = {v.sar_num, v.sar_den};
    if (c->pix_fmt == AV_PIX_FMT_YUVJ420P || codec->id == AV_CODEC_ID_MJPEG) c->color_range = AVCOL_RANGE_JPEG;
    c->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    if (global_header) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    r = avcodec_open2(c, codec, nullptr);
    if (r < 0) {
      *message = Message("video encoder", r);
      return false;
    }
    video.stream = avformat_new_stream(out.get(), nullptr);
    avcodec_parameters_from_context(video.stream->codecpar, c);
    video.stream->time_base = c->time_base;
    video.stream->avg_frame_rate = c->framerate;
    if (v.sar_num > 0) video.stream->sample_aspect_ratio = c->sample_aspect_ratio;
    if (v.rotation != 0) {
      auto* matrix = reinterpret_cast<std::int32_t*>(
          av_stream_new_side_data(video.stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
      av_display_rotation_set(matrix, v.rotation);
    }
  }
  if (movie.audio) {
    const TestAudio& a = *movie.audio;
    const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(a.codec));
    if (!codec) {
      *message = "no audio encoder";
      return false;
    }
    audio.codec.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = audio.codec.get();
    c->sample_rate = a.sample_rate;
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&c->ch_layout, a.channels);
    c->time_base = {1, a.sample_rate};
    if (a.bit_rate > 0) c->bit_rate = a.bit_rate;
    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (global_header) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    r = avcodec_open2(c, codec, nullptr);
    if (r < 0) {
      *message = Message("audio encoder", r);
      return false;
    }
    audio.stream = avformat_new_stream(out.get(), nullptr);
    avcodec_parameters_from_context(audio.stream->codecpar, c);
    audio.stream->time_base = c->time_base;
  }

  double total = 0;
  if (movie.video) total = static_cast<double>(movie.video->frames) / movie.video->fps;
  if (movie.audio) total = std::max(total, movie.audio->seconds);
  for (std::size_t i = 0; i < movie.chapters.size(); ++i) {
    auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    chapter->id = static_cast<std::int64_t>(i + 1);
    chapter->time_base = {1, 1000};
    chapter->start = std::llround(movie.chapters[i].first * 1000);
    chapter->end = std::llround((i + 1 < movie.chapters.size() ? movie.chapters[i + 1].first : total) * 1000);
    av_dict_set(&chapter->metadata, "title", movie.chapters[i].second.c_str(), 0);
    int count = static_cast<int>(out->nb_chapters);
    av_dynarray_add(&out->chapters, &count, chapter);
    out->nb_chapters = static_cast<unsigned>(count);
  }
  for (const auto& [key, value] : movie.tags) av_dict_set(&out->metadata, key.c_str(), value.c_str(), 0);

  r = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (r < 0) {
    *message = Message("open", r);
    return false;
  }
  r = avformat_write_header(out.get(), nullptr);
  if (r < 0) {
    *message = Message("header", r);
    return false;
  }

  FramePtr rgb;
  FramePtr picture;
  ScalerPtr scaler;
  if (movie.video) {
    AVCodecContext* c = video.codec.get();
    rgb.reset(av_frame_alloc());
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = c->width;
    rgb->height = c->height;
    picture.reset(av_frame_alloc());
    picture->format = c->pix_fmt;
    picture->width = c->width;
    picture->height = c->height;
    if (av_frame_get_buffer(rgb.get(), 0) < 0 || av_frame_get_buffer(picture.get(), 0) < 0) {
      *message = "frame buffers";
      return false;
    }
    scaler.reset(sws_getContext(c->width, c->height, AV_PIX_FMT_RGB24, c->width, c->height, c->pix_fmt, SWS_POINT,
                                nullptr, nullptr, nullptr));
    if (!scaler) {
      *message = "no conversion to the encoder's pixel format";
      return false;
    }
  }
  const std::int64_t audio_samples =
      movie.audio ? std::llround(movie.audio->seconds * movie.audio->sample_rate) : 0;
  video.done = !movie.video;
  audio.done = !movie.audio;
  while (!video.done || !audio.done) {
    const bool take_video =
        !video.done && (audio.done || av_compare_ts(video.next, video.codec->time_base, audio.next,
                                                    audio.codec->time_base) <= 0);
    if (take_video) {
      if (video.next >= movie.video->frames) {
        r = Encode(out.get(), video, nullptr);
        video.done = true;
      } else {
        av_frame_make_writable(picture.get());
        PaintFrame(*movie.video, static_cast<int>(video.next), rgb.get());
        sws_scale(scaler.get(), rgb->data, rgb->linesize, 0, rgb->height, picture->data, picture->linesize);
        picture->pts = video.next++;
        r = Encode(out.get(), video, picture.get());
      }
    } else {
      AVCodecContext* c = audio.codec.get();
      if (audio.next >= audio_samples) {
        r = Encode(out.get(), audio, nullptr);
        audio.done = true;
      } else {
        // Whole encoder frames; the last one may be short when the encoder
        // takes frames of any size (PCM).
        const bool any_size = c->frame_size <= 0 || (c->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        const int per_frame = c->frame_size > 0 ? c->frame_size : 1024;
        const int count = any_size ? static_cast<int>(std::min<std::int64_t>(per_frame, audio_samples - audio.next))
                                   : per_frame;
        FramePtr frame(av_frame_alloc());
        frame->format = c->sample_fmt;
        frame->nb_samples = count;
        frame->sample_rate = c->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0) {
          *message = "sound buffer";
          return false;
        }
        for (int i = 0; i < count; ++i) {
          const double t = static_cast<double>(audio.next + i) / c->sample_rate;
          for (int ch = 0; ch < c->ch_layout.nb_channels; ++ch) {
            PutSample(frame.get(), c->sample_fmt, ch, i, std::sin(2 * M_PI * (440.0 + 110 * ch) * t));
          }
        }
        frame->pts = audio.next;
        audio.next += count;
        r = Encode(out.get(), audio, frame.get());
      }
    }
    if (r < 0) {
      *message = Message("encode", r);
      return false;
    }
  }
  r = av_write_trailer(out.get());
  if (r < 0) {
    *message = Message("trailer", r);
    return false;
  }
  return true;
}

}  // namespace norvo::media::testing
