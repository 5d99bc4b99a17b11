// SPDX-License-Identifier: GPL-3.0-or-later
// av_convert_bench: movie conversion to MP4 (H.264 + AAC) against the
// `ffmpeg` command at the same settings.
//
// The movies are the scan benchmark's: ten-second 1280 x 720 H.264 + AAC
// files made with ffmpeg (one made, the rest copies). Each is converted by
//   ours   EncodeMedia(..., "mp4", quality 23) in this process
//   peer   ffmpeg -i SRC -c:v libx264 -crf 23 -preset medium -c:a aac DST
// one file at a time, both with FFmpeg's default threads (all cores), the
// two taking turns file by file (and the first of each pair alternating) so
// that other work on the machine weighs on both alike. The files are read
// once beforehand (warm cache). Goal: ours within 1.1 x the peer's time.
//
//   av_convert_bench [--runs N] [--movies N] [--dir DIR] [--keep]

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "output/media_encoder.h"

using namespace norvo;
namespace fs = std::filesystem;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;
using bench::TimeCommand;

bench::RunOptions ParseOptions(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, {"--runs", "--movies", "--dir"}, {"--keep"},
                        "av_convert_bench [--runs N] [--movies N] [--dir DIR] [--keep]");
  return bench::ReadRunOptions(args, "--movies", 3, 12, 1);
}

// As the scan benchmark makes its movies.
std::vector<std::string> MakeMovies(const fs::path& dir, int count) {
  fs::create_directories(dir / "movies");
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    fs::path out = dir / "movies" / ("clip_" + std::to_string(i) + ".mp4");
    if (i == 0) {
      TimeCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30", "-f",
                   "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "10", "-c:v", "libx264", "-preset",
                   "veryfast", "-g", "60", "-c:a", "aac", out.string()});
    } else {
      fs::copy_file(files.front(), out, fs::copy_options::overwrite_existing);
    }
    files.push_back(out.string());
  }
  return files;
}

void ReadThrough(const std::vector<std::string>& files) {
  std::vector<char> buffer(1 << 20);
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
    }
  }
}

double Ours(const std::string& source, const std::string& destination) {
  output::AvEncodeSettings settings;  // quality 23, the source's size, rate and channels
  std::string log;
  const auto start = Clock::now();
  ErrorCode e = output::EncodeMedia(source, destination, "mp4", settings, {}, &log);
  const double ms = MsSince(start);
  if (e != err::kNone) throw std::runtime_error("EncodeMedia failed (" + std::to_string(e.value()) + "): " + log);
  return ms;
}

double Peer(const std::string& source, const std::string& destination) {
  return TimeCommand({"ffmpeg", "-loglevel", "error", "-y", "-i", source, "-c:v", "libx264", "-crf", "23", "-preset",
                      "medium", "-c:a", "aac", "-f", "mp4", destination});
}

// ffprobe's count of pictures and the picture codec of a file, as one text.
std::string Describe(const std::string& file) {
  std::string command = "ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                        "stream=codec_name,width,height,nb_read_packets -of csv=p=0 '" + file + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "?";
  char line[256] = {};
  std::string text = std::fgets(line, sizeof line, pipe) ? line : "?";
  ::pclose(pipe);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    bench::RunOptions options = ParseOptions(argc, argv);
    for (const char* program : {"ffmpeg", "ffprobe"}) {
      if (!bench::HaveProgram(program)) throw std::runtime_error(std::string(program) + " is not installed");
    }
    fs::path dir = options.base_dir.empty() ? fs::temp_directory_path() / ("norvo-av-bench-" + std::to_string(::getpid()))
                                            : fs::path(options.base_dir);
    std::printf("making %d movies in %s ...\n", options.count, dir.c_str());
    std::vector<std::string> movies = MakeMovies(dir, options.count);
    fs::create_directories(dir / "out");
    ReadThrough(movies);

    std::map<std::string, std::vector<double>> s;
    for (int run = 0; run < options.runs; ++run) {
      double ours = 0, peer = 0;
      for (std::size_t i = 0; i < movies.size(); ++i) {
        const std::string our_out = (dir / "out" / ("ours_" + std::to_string(i) + ".mp4")).string();
        const std::string peer_out = (dir / "out" / ("peer_" + std::to_string(i) + ".mp4")).string();
        if ((i + run) % 2 == 0) {
          ours += Ours(movies[i], our_out);
          peer += Peer(movies[i], peer_out);
        } else {
          peer += Peer(movies[i], peer_out);
          ours += Ours(movies[i], our_out);
        }
      }
      std::printf("run %d: ours %.0f ms, ffmpeg %.0f ms, ratio %.3f\n", run + 1, ours, peer, ours / peer);
      s["ours"].push_back(ours);
      s["peer"].push_back(peer);
    }
    const std::string our_first = (dir / "out" / "ours_0.mp4").string();
    const std::string peer_first = (dir / "out" / "peer_0.mp4").string();
    std::printf("\noutputs (codec,width,height,frames): ours %s, %ju bytes; ffmpeg %s, %ju bytes\n",
                Describe(our_first).c_str(), static_cast<std::uintmax_t>(fs::file_size(our_first)),
                Describe(peer_first).c_str(), static_cast<std::uintmax_t>(fs::file_size(peer_first)));
    const double ours = Median(s["ours"]);
    const double peer = Median(s["peer"]);
    const double ratio = ours / peer;  // time of ours / time of the peer
    std::printf("%-34s %9s  %9s  %7s\n", "", "ours ms", "ffmpeg ms", "ratio");
    std::printf("%-34s %9.0f  %9.0f  %7.3f  <=1.1 %s\n",
                ("mp4/H.264 crf 23 medium, " + std::to_string(options.count) + " movies").c_str(), ours, peer, ratio,
                ratio <= 1.1 ? "PASS" : "MISS");
    if (!options.keep) fs::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "av_convert_bench: %s\n", e.what());
    return 1;
  }
}
