// SPDX-License-Identifier: GPL-3.0-or-later
// Sample movies and sounds for the movie reader tests, written with FFmpeg's
// own encoders and muxers. Every frame of a video is two bands: the top half
// has the colour of its group of pictures (GopColour), the bottom half is
// kBottomColour, so a test can tell which keyframe a picture came from and
// whether it came out the right way up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace norvo::media::testing {

struct TestVideo {
  int codec = 0;             // an AVCodecID
  int width = 64;
  int height = 48;
  int fps = 10;
  int frames = 60;
  int gop = 4;               // a keyframe every `gop` frames
  int max_b_frames = 0;
  int pixel_format = -1;     // an AVPixelFormat; -1: the encoder's first
  std::int64_t bit_rate = 0; // 0: the encoder's default
  int sar_num = 0;           // pixel aspect ratio, 0: square
  int sar_den = 0;
  int rotation = 0;          // degrees of the display matrix, 0: none
};

struct TestAudio {
  int codec = 0;             // an AVCodecID
  int sample_rate = 44100;
  int channels = 2;
  double seconds = 6.0;
  std::int64_t bit_rate = 0;
};

struct TestMovie {
  std::string container;     // a muxer name: "mp4", "mov", "avi", "matroska", "mpeg", "wav" ...
  std::optional<TestVideo> video;
  std::optional<TestAudio> audio;
  std::vector<std::pair<double, std::string>> chapters;  // start in seconds, title
  std::vector<std::pair<std::string, std::string>> tags; // file-level metadata
};

// The top band's colour of the frames of group `gop_index`, 0x00RRGGBB.
std::uint32_t GopColour(int gop_index);
inline constexpr std::uint32_t kBottomColour = 0x0000C0;

// Writes the file; false and a message when FFmpeg refuses.
bool WriteTestMovie(const std::string& path, const TestMovie& movie, std::string* message);

}  // namespace norvo::media::testing
