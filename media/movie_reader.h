// SPDX-License-Identifier: GPL-3.0-or-later
// The movie reader: facts and a poster picture of movie and sound files,
// read with FFmpeg (libavformat demuxes, libavcodec decodes one frame,
// libswscale scales it into the picture). It serves both movie handlers of
// the type registry (the movie importers' types and the Windows Media, AVI
// and MPEG playback types). The FFmpeg side lives in the movie plug-in
// (norvo-movies.so), opened on the first read; without it every read is
// err::kNoReaderForFormat.
//
// Facts are gathered per stream ("track") and each keeps the largest value
// over the tracks, so a movie with several video tracks reports the best
// resolution, depth and quality among them; the compressor name comes from
// the first track that names one. MPEG tracks are named as the catalog
// always named them: "MPEG Video" (MPEG-1/2 video), "MPEG Audio" (MPEG-1/2
// layer 1-3 sound) and "MPEG AV" (the video of an MPEG program or transport
// stream, where picture and sound come multiplexed).
//
// The poster is one frame of the largest video stream: the keyframe at or
// before 10 % of the duration, decoded and scaled straight to the size that
// fits the box. Sound-only files have no poster (cover art is not one).
//
// Every call is independent: no global state, no catalog, safe on any thread
// (one file per call). Damaged or hostile files end in an error code, never
// a crash; the reader's I/O is interrupted once its time budget is spent and
// the demuxing for the poster stops after a packet budget. Nested resources
// (playlists, external data references) are never opened: the reader reads
// the one file it was given.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/pixel_buffer.h"
#include "metadata/metadata_list.h"
#include "platform/byte_io.h"
#include "platform/error_codes.h"

namespace norvo::media {

// Track kinds, as four-character codes.
inline constexpr std::uint32_t kTrackVideo = FourCC("vide");
inline constexpr std::uint32_t kTrackSound = FourCC("soun");
inline constexpr std::uint32_t kTrackText = FourCC("text");  // subtitles
inline constexpr std::uint32_t kTrackData = FourCC("data");  // anything else

// Longest codec or compressor name kept; longest sound format text.
inline constexpr std::size_t kMaxMovieCompressorName = 31;
inline constexpr std::size_t kMaxSoundFormatText = 4;

// The compressor names of MPEG tracks.
inline constexpr std::string_view kMpegVideoName = "MPEG Video";
inline constexpr std::string_view kMpegAudioName = "MPEG Audio";
inline constexpr std::string_view kMpegMuxedName = "MPEG AV";

// Quality levels (the record's spatial quality field): 1 minimum .. 6
// lossless, 0 unknown.
inline constexpr std::int32_t kQualityLossless = 6;

// One track of a movie: what the metadata list keeps under 'TRCK'.
struct MovieTrack {
  std::uint32_t kind = kTrackData;
  std::uint32_t format = 0;       // four-character codec code
  std::int32_t duration = 0;      // tenths of a second, 0 unknown
  std::uint32_t data_rate = 0;    // bytes per second, 0 unknown
  std::int32_t width = 0;         // video: displayed size
  std::int32_t height = 0;
  std::int32_t depth = 0;         // video: bits per pixel
  std::uint32_t frame_rate = 0;   // video: frames per second x 1000
  std::int32_t channels = 0;      // sound
  std::uint32_t sample_rate = 0;  // sound: 16.16 fixed point
  std::int32_t sample_size = 0;   // sound: bits per sample
  std::string name;               // codec name, Windows-1252, <= kMaxMovieCompressorName
  bool operator==(const MovieTrack&) const = default;
};

// One chapter: what the metadata list keeps under 'CHAP'.
struct MovieChapter {
  std::int32_t start = 0;  // tenths of a second
  std::string title;       // Windows-1252
  bool operator==(const MovieChapter&) const = default;
};

// A metadata text of the file (title, artist ...), keyed as the metadata
// list keys texts ('©nam', '©ART' ...); Windows-1252.
struct MovieTag {
  std::uint32_t key = 0;
  std::string text;
};

struct MovieFacts {
  // The displayed size of the largest video stream: pixel aspect applied,
  // and sides swapped when the stream asks for a quarter turn. 0 without
  // video.
  std::int32_t width = 0;
  std::int32_t height = 0;
  // The turn the video asks for on display (a rotation code: 'W ', 'HV',
  // 'CW'), 0 for none. The poster is NOT turned: the scan turns it.
  std::uint16_t rotation = 0;
  std::int32_t duration = 0;      // tenths of a second
  std::int32_t track_count = 0;   // streams, cover art not counted
  std::int32_t depth = 0;         // bits per pixel
  std::int32_t resolution = 0;    // pixels per inch, 0 without video
  std::uint32_t colour_space = 0; // 'RGB ' or 'GRAY'
  std::int32_t quality_level = 0; // 1..6, 0 unknown
  std::int32_t channels = 0;
  std::uint32_t sample_rate = 0;     // 16.16 fixed point, saturated at 0xFFFFFFFF
  std::uint32_t sample_rate_hz = 0;  // the same in whole hertz, without the 16-bit limit
  std::int32_t sample_size = 0;      // bits
  std::string sound_format;          // <= 4 characters ('sowt', 'mp4a', '.mp3' ...)
  std::uint32_t data_rate = 0;       // bytes per second of the whole file
  std::uint32_t frame_rate = 0;      // frames per second x 1000
  std::int32_t poster_time = 0;      // tenths of a second where the poster was taken
  std::string compressor;            // Windows-1252, <= kMaxMovieCompressorName
  std::int32_t image_count = 1;      // frames of a GIF animation, else 1
  std::vector<MovieTrack> tracks;
  std::vector<MovieChapter> chapters;
  std::vector<MovieTag> tags;        // only for files of one sound track
};

// Limits of one read. The defaults suit a scan; tests and the fuzz target
// pass smaller ones.
struct MovieReadLimits {
  int time_budget_ms = 20000;   // the I/O is interrupted after this long
  int packet_budget = 3000;     // packets demuxed for the poster (and GIF frame count)
};

// Reads the movie or sound file at `path` (UTF-8). `box` is the thumbnail
// size the poster is for (0: full size, at most imaging::kMaxPixels); with a
// null `poster` no frame is decoded. Facts are filled as far as they were
// read, even when an error is returned.
// Errors: err::kFileNotFound and the other file errors; err::kNoMovieData no container format fits, or
// the file has no picture or sound stream; err::kBadMovieData the video cannot be decoded
// or the budget ran out; err::kNoReaderForFormat no decoder for the video's codec; err::kOutOfMemory.
ErrorCode ReadMovie(const std::string& path, int box, MovieFacts* facts, imaging::PixelBuffer* poster);
ErrorCode ReadMovie(const std::string& path, int box, const MovieReadLimits& limits, MovieFacts* facts,
                    imaging::PixelBuffer* poster);
// The same over a file held in memory; `name` (may be empty) is the file
// name, whose extension helps to recognise formats without a signature.
ErrorCode ReadMovie(std::span<const std::uint8_t> bytes, std::string_view name, int box,
                    const MovieReadLimits& limits, MovieFacts* facts, imaging::PixelBuffer* poster);

// A duration of `count` units of num/den seconds in tenths of a second
// (integer division; 0 when den or num is not positive or count is
// negative; at most INT32_MAX). A time scale of 600 is num 1, den 600.
std::int32_t DurationInTenths(std::int64_t count, std::int64_t num, std::int64_t den);

// The quality level (1..6) of a spatial quality value (0, 0x100, 0x200,
// 0x300, 0x3FF, 0x400); 0 for any other value.
std::int32_t QualityLevel(std::uint32_t spatial_quality);

// Stored forms of the metadata list's track and chapter items (see
// movie_metadata_format.md). Decoding refuses (err::kParam) items too short for
// their fixed part or their text.
std::vector<std::uint8_t> EncodeTrackItem(const MovieTrack& track);
ErrorCode DecodeTrackItem(std::span<const std::uint8_t> bytes, MovieTrack* out);
std::vector<std::uint8_t> EncodeChapterItem(const MovieChapter& chapter);
ErrorCode DecodeChapterItem(std::span<const std::uint8_t> bytes, MovieChapter* out);

// Puts the facts' tracks, chapters and tags into `list`, replacing any
// items it held under those keys.
void AddMovieMetadata(const MovieFacts& facts, metadata::MetadataList* list);

}  // namespace norvo::media
