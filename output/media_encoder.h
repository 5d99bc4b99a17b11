// SPDX-License-Identifier: GPL-3.0-or-later
// Movies and sounds written in another container and codec through FFmpeg
// (libavformat, libavcodec, libswscale, libswresample), in the "encoder"
// plug-in opened on first use (platform/reader_plugins.h): the source is
// demuxed and decoded, its pictures scaled or converted only when the
// encoder needs another size or pixel format, its sound resampled only when
// the encoder needs another rate, layout or sample format, and both encoded
// and muxed into the destination.
//
// Choices made here:
// - `quality` is on the H.264 constant-rate-factor scale (0 best, 51 worst,
//   23 the usual); other encoders get the same point of their own scale.
// - A width or height of 0 keeps the source's; when only one is given the
//   other follows the source's aspect. Sizes are rounded down to what the
//   pixel format allows (even for 4:2:0).
// - The output frame rate is constant: frames are dropped or repeated to
//   fill it, from their time stamps (at most kMaxRepeatedFrames at a gap).
// - Decoders and encoders use as many threads as FFmpeg chooses for the
//   machine, as the `ffmpeg` command does.
// - The source is opened through its own file only: playlists and other
//   formats that would open further files or addresses are refused.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::output {

// A container the linked FFmpeg can write, with the usual codecs named:
// extension "mp4", name "MPEG-4 (H.264, AAC)", video true.
struct AvFormat {
  std::string extension;
  std::string name;
  bool video = false;  // false: a sound format (audio only)
};

// What the linked FFmpeg can write, movies first then sounds, most common
// first within each. Empty when the encoder plug-in cannot be loaded.
std::vector<AvFormat> EncodableAvFormats();

// Why the encoder plug-in cannot be loaded, or "" when it can.
std::string MediaEncoderError();

struct AvEncodeSettings {
  int quality = 23;        // H.264 CRF scale: 0 best ... 51 worst
  int width = 0;           // 0: the source's
  int height = 0;          // 0: the source's
  double frame_rate = 0;   // frames a second, 0: the source's
  int audio_rate = 0;      // samples a second, 0: the source's (or the nearest the encoder takes)
  int channels = 0;        // 0: the source's (or the nearest the encoder takes)
  std::string video_codec; // an FFmpeg encoder name ("libx264"), empty: the container's usual
  std::string audio_codec; // an FFmpeg encoder name ("aac"), empty: the container's usual
};

// Encodes `source` into `destination` (a temporary name the caller renames)
// in the container of `extension` (mp4, mov, mkv, webm; wav, aif, mp3, m4a,
// flac, opus). Zero or empty settings take the source's own size, rate and
// channels and the container's usual codecs (H.264 + AAC for mp4/mov,
// VP9 or VP8 + Opus or Vorbis for webm, PCM for wav/aif, LAME MP3, FLAC,
// Opus). Sound formats write the audio only; a source without an audio
// track for a sound format is err::kNoSound and writes nothing. A movie
// format with a source without pictures writes the sound alone.
// `keep_going` (may be empty) is called often with the done fraction
// (0 to 1); false cancels (err::kUserCancelled) and the partial destination
// is removed, as it is on every failure. `log_text` (may be null) gets a
// one-line reason on failure.
// Other results: err::kFileNotFound (no source), err::kNoMovieData (no
// picture or sound stream, or not a movie), err::kBadMovieData (nothing could
// be decoded), err::kParam (an unknown extension, or a codec the container
// or this FFmpeg cannot write), write errors as err::kDiskFull,
// err::kPermission, err::kIo.
ErrorCode EncodeMedia(const std::string& source, const std::string& destination, const std::string& extension,
                      const AvEncodeSettings& settings, const std::function<bool(double done_fraction)>& keep_going,
                      std::string* log_text);

// --- for the settings dialog ---------------------------------------------------

// An encoder the container of an extension can hold: encoder "libx264",
// name "H.264 (libx264)".
struct AvCodecChoice {
  std::string encoder;
  std::string name;
};
// The video (`video` true) or audio encoders of this FFmpeg that the
// container of `extension` can hold, the container's usual one first.
// Empty for an unknown extension, and for video in a sound format.
std::vector<AvCodecChoice> AvCodecChoices(const std::string& extension, bool video);

// The sample rates an audio encoder takes (empty: any), and its largest
// channel count (0: no limit known).
std::vector<int> AvEncoderSampleRates(const std::string& encoder);
int AvEncoderMaxChannels(const std::string& encoder);

}  // namespace norvo::output
