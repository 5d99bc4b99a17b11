// SPDX-License-Identifier: GPL-3.0-or-later
// Writes seeds for movie_reader_fuzz into the folder given: small movies and
// sounds of the usual containers, each behind the selector byte that names
// its extension in the fuzz target.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/movie_test_files.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

using norvo::media::testing::TestAudio;
using norvo::media::testing::TestMovie;
using norvo::media::testing::TestVideo;

namespace {

TestVideo SmallVideo(AVCodecID codec) {
  TestVideo v;
  v.codec = codec;
  v.width = 16;
  v.height = 16;
  v.frames = 8;
  v.gop = 4;
  return v;
}

TestAudio ShortSound(AVCodecID codec) {
  TestAudio a;
  a.codec = codec;
  a.sample_rate = 8000;
  a.channels = 1;
  a.seconds = 0.3;
  return a;
}

struct Seed {
  int selector;  // index of the extension in the fuzz target's list
  const char* name;
  TestMovie movie;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_movie_seeds FOLDER\n");
    return 2;
  }
  av_log_set_level(AV_LOG_QUIET);
  const std::string folder = argv[1];
  std::vector<Seed> seeds = {
      {1, "mp4", {"mp4", SmallVideo(AV_CODEC_ID_MPEG4), ShortSound(AV_CODEC_ID_AAC), {}, {}}},
      {2, "mov", {"mov", SmallVideo(AV_CODEC_ID_PNG), std::nullopt, {}, {}}},
      {3, "avi", {"avi", SmallVideo(AV_CODEC_ID_MJPEG), ShortSound(AV_CODEC_ID_PCM_S16LE), {}, {}}},
      {4, "mpg", {"mpeg", SmallVideo(AV_CODEC_ID_MPEG1VIDEO), ShortSound(AV_CODEC_ID_MP2), {}, {}}},
      {5, "ts", {"mpegts", SmallVideo(AV_CODEC_ID_MPEG2VIDEO), std::nullopt, {}, {}}},
      {6, "mkv", {"matroska", SmallVideo(AV_CODEC_ID_MPEG4), std::nullopt, {{0.0, "A"}, {0.4, "B"}}, {}}},
      {7, "wmv", {"asf", SmallVideo(AV_CODEC_ID_MSMPEG4V3), std::nullopt, {}, {}}},
      {9, "wav", {"wav", std::nullopt, ShortSound(AV_CODEC_ID_PCM_U8), {}, {}}},
      {10, "m4a", {"ipod", std::nullopt, ShortSound(AV_CODEC_ID_AAC), {}, {{"title", "t"}}}},
      {11, "gif", {"gif", SmallVideo(AV_CODEC_ID_GIF), std::nullopt, {}, {}}},
  };
  seeds[3].movie.audio->sample_rate = 32000;  // MP2 has no 8 kHz
  int written = 0;
  for (const Seed& s : seeds) {
    const std::string temp = folder + "/seed." + s.name;
    std::string message;
    if (!norvo::media::testing::WriteTestMovie(temp, s.movie, &message)) {
      std::fprintf(stderr, "%s: %s\n", s.name, message.c_str());
      continue;
    }
    std::ifstream in(temp, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    std::remove(temp.c_str());
    std::ofstream out(folder + "/" + s.name, std::ios::binary | std::ios::trunc);
    out.put(static_cast<char>(s.selector));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ++written;
  }
  std::printf("%d movie seeds in %s\n", written, folder.c_str());
  return written > 0 ? 0 : 1;
}
