// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the movie reader over a file held in memory. The first byte picks
// the file name's extension (which helps FFmpeg recognise formats without a
// signature), the box and whether a poster is decoded; the rest is the file.
// The facts must stay within their limits, a poster within its box, an error
// must come without a picture, and the track and chapter items must read
// back as they were written.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "media/movie_reader.h"
#include "metadata/list_keys.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace norvo::media;
  if (size < 1) return 0;
  static constexpr std::array<const char*, 16> kNames = {
      "",           "movie.mp4", "movie.mov", "movie.avi", "movie.mpg", "movie.ts",  "movie.mkv", "movie.wmv",
      "sound.mp3",  "sound.wav", "sound.m4a", "anim.gif",  "video.m1v", "sound.aif", "movie.flv", "sound.ogg"};
  const std::uint8_t selector = data[0];
  const char* name = kNames[selector & 0x0F];
  const int box = (selector & 0x10) != 0 ? 0 : 96;
  const bool want_poster = (selector & 0x20) == 0;
  std::span<const std::uint8_t> bytes(data + 1, size - 1);

  MovieFacts facts;
  norvo::imaging::PixelBuffer poster;
  const MovieReadLimits limits{3000, 200};
  const norvo::ErrorCode e = ReadMovie(bytes, name, box, limits, &facts, want_poster ? &poster : nullptr);
  if (facts.track_count != static_cast<int>(facts.tracks.size()) || facts.duration < 0 || facts.width < 0 ||
      facts.height < 0 || facts.compressor.size() > kMaxMovieCompressorName ||
      facts.sound_format.size() > kMaxSoundFormatText || facts.quality_level < 0 || facts.quality_level > 6) {
    std::abort();
  }
  if (e != norvo::err::kNone && !poster.empty()) std::abort();
  if (!poster.empty() && box > 0 && (poster.width() > box || poster.height() > box)) std::abort();

  norvo::metadata::MetadataList list;
  AddMovieMetadata(facts, &list);
  for (int i = 1; i <= list.count(norvo::metadata::kKeyTracks); ++i) {
    MovieTrack track;
    const MovieTrack& original = facts.tracks[static_cast<std::size_t>(i - 1)];
    if (DecodeTrackItem(*list.find(norvo::metadata::kKeyTracks, i), &track) != norvo::err::kNone ||
        track.kind != original.kind || track.format != original.format ||
        track.name != original.name.substr(0, kMaxMovieCompressorName)) {
      std::abort();
    }
  }
  for (int i = 1; i <= list.count(norvo::metadata::kKeyChapters); ++i) {
    MovieChapter chapter;
    if (DecodeChapterItem(*list.find(norvo::metadata::kKeyChapters, i), &chapter) != norvo::err::kNone ||
        chapter.start != facts.chapters[static_cast<std::size_t>(i - 1)].start) {
      std::abort();
    }
  }
  // The item decoders also take the input as it stands.
  MovieTrack track;
  (void)DecodeTrackItem(bytes, &track);  // any result: crashes are the test
  MovieChapter chapter;
  (void)DecodeChapterItem(bytes, &chapter);
  return 0;
}
