// SPDX-License-Identifier: GPL-3.0-or-later
// The movie and sound encoder on short movies made with the `ffmpeg`
// command, its outputs checked with `ffprobe` (container, codecs, size,
// rates, duration within one frame of the source).
#include "output/media_encoder.h"

#include "platform/reader_plugins.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace norvo::output {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kFrame = 1.0 / 25;  // the test movies' frame time

std::string Quoted(const fs::path& p) {
  std::string out = "'";
  for (char c : p.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// ffprobe's description of a file, or null when it cannot read it.
json Probe(const fs::path& file) {
  std::string command = "ffprobe -v error -show_format -show_streams -of json " + Quoted(file) + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return nullptr;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  if (::pclose(pipe) != 0) return nullptr;
  return json::parse(text, nullptr, false);
}

const json* StreamOf(const json& probe, const std::string& type) {
  for (const json& s : probe["streams"]) {
    if (s.value("codec_type", "") == type) return &s;
  }
  return nullptr;
}

double Duration(const json& probe) { return std::stod(probe["format"].value("duration", "0")); }
double StreamDuration(const json& stream) { return std::stod(stream.value("duration", "0")); }

class MediaEncoderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(fs::temp_directory_path() / ("norvo-encoder-test-" + std::to_string(::getpid())));
    fs::create_directories(*dir_);
    const std::string pictures = "-f lavfi -i testsrc2=size=160x120:rate=25 ";
    const std::string sound = "-f lavfi -i sine=frequency=440:sample_rate=44100 ";
    ok_ = RunQuietly("ffmpeg -y " + pictures + sound + "-t 2 -ac 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p "
              "-c:a aac " + Quoted(Movie())) &&
          RunQuietly("ffmpeg -y " + pictures + "-t 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p " + Quoted(Silent())) &&
          RunQuietly("ffmpeg -y " + sound + "-t 1.5 -ar 48000 -ac 1 -c:a pcm_s24le " + Quoted(Tone())) &&
          RunQuietly("ffmpeg -y -f lavfi -i testsrc2=size=96x64:rate=30000/1001 -frames:v 60 -c:v libx264 "
                     "-preset ultrafast " + Quoted(Ntsc())) &&
          RunQuietly("ffmpeg -y -f lavfi -i testsrc2=size=96x64:rate=25 -t 1 -c:v libx264 -preset ultrafast "
                     "-metadata title=Harbour " + Quoted(Out("upright.mp4"))) &&
          // (ffmpeg turns a movie by its display matrix only when copying)
          RunQuietly("ffmpeg -y -i " + Quoted(Out("upright.mp4")) + " -c copy -metadata:s:v:0 rotate=90 " +
                     Quoted(Turned()));
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*dir_, ignored);
    delete dir_;
  }
  void SetUp() override {
    if (!ok_) GTEST_SKIP() << "ffmpeg could not make the test movies";
  }

  static fs::path Movie() { return *dir_ / "picture and sound.mp4"; }  // 160 x 120, 25 fps, stereo 44.1 kHz, 2 s
  static fs::path Silent() { return *dir_ / "pictures only.mp4"; }
  static fs::path Tone() { return *dir_ / "tone.wav"; }               // mono 48 kHz 24-bit, 1.5 s
  static fs::path Ntsc() { return *dir_ / "ntsc.mkv"; }  // 60 frames at 29.97, time stamps in milliseconds
  static fs::path Turned() { return *dir_ / "turned.mp4"; }  // shown turned a quarter, titled "Harbour"
  static fs::path Out(const std::string& name) { return *dir_ / name; }

  static ErrorCode Encode(const fs::path& source, const fs::path& destination, const std::string& extension,
                          const AvEncodeSettings& settings = {}, std::string* log = nullptr) {
    std::string ignored;
    return EncodeMedia(source.string(), destination.string(), extension, settings, {}, log ? log : &ignored);
  }

  static fs::path* dir_;
  static bool ok_;
};

fs::path* MediaEncoderTest::dir_ = nullptr;
bool MediaEncoderTest::ok_ = false;

TEST_F(MediaEncoderTest, ListsTheUsualContainersMoviesFirst) {
  const std::vector<AvFormat> formats = EncodableAvFormats();
  auto first_sound = std::find_if(formats.begin(), formats.end(), [](const AvFormat& f) { return !f.video; });
  EXPECT_TRUE(std::none_of(first_sound, formats.end(), [](const AvFormat& f) { return f.video; }));
  for (auto [ext, video] : {std::pair{"mp4", true}, {"mov", true}, {"webm", true}, {"wav", false}, {"aif", false},
                            {"mp3", false}, {"flac", false}, {"opus", false}}) {
    auto f = std::find_if(formats.begin(), formats.end(), [&](const AvFormat& f) { return f.extension == ext; });
    ASSERT_NE(f, formats.end()) << ext;
    EXPECT_EQ(f->video, video) << ext;
  }
  EXPECT_EQ(std::find_if(formats.begin(), formats.end(), [](const AvFormat& f) { return f.extension == "mp4"; })->name,
            "MPEG-4 (H.264, AAC)");
}

// Every format with default settings: the container and codecs ffprobe
// finds, the size kept, and the length within one frame of the source's.
TEST_F(MediaEncoderTest, EachFormatWithDefaults) {
  struct Case {
    const char* extension;
    const char* container;  // one of ffprobe's format names
    const char* video;      // ffprobe's codec name, or null for none
    const char* audio;
    double slack = 0;       // beyond one frame
  };
  // Matroska has no edit list to hide the AAC encoder's 1024 samples of
  // priming, so its sound runs that much longer (the ffmpeg command's does too).
  const double priming = 1024.0 / 44100;
  // ffprobe times an MP3 by its frames, counting LAME's delay and padding
  // and the header frame: up to two frames more (so is the ffmpeg command's).
  const double mp3_frames = 2 * 1152.0 / 44100;
  const Case cases[] = {
      {"mp4", "mp4", "h264", "aac"},        {"mov", "mov", "h264", "aac"},
      {"mkv", "matroska", "h264", "aac", priming}, {"webm", "webm", "vp9", "opus"},
      {"wav", "wav", nullptr, "pcm_s16le"}, {"aif", "aiff", nullptr, "pcm_s16be"},
      {"mp3", "mp3", nullptr, "mp3", mp3_frames},     {"m4a", "m4a", nullptr, "aac"},
      {"flac", "flac", nullptr, "flac"},    {"opus", "ogg", nullptr, "opus"},
  };
  const json source = Probe(Movie());
  ASSERT_FALSE(source.is_null());
  const double source_length = Duration(source);
  const double source_sound = StreamDuration(*StreamOf(source, "audio"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension);
    const fs::path out = Out(std::string("out.") + c.extension);
    std::string log;
    ASSERT_EQ(Encode(Movie(), out, c.extension, {}, &log), err::kNone) << log;
    const json probe = Probe(out);
    ASSERT_FALSE(probe.is_null());
    EXPECT_NE(probe["format"].value("format_name", "").find(c.container), std::string::npos)
        << probe["format"].value("format_name", "");
    const json* video = StreamOf(probe, "video");
    const json* audio = StreamOf(probe, "audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->value("codec_name", ""), c.audio);
    EXPECT_EQ(audio->value("channels", 0), 2);
    if (c.video) {
      ASSERT_NE(video, nullptr);
      EXPECT_EQ(video->value("codec_name", ""), c.video);
      EXPECT_EQ(video->value("width", 0), 160);
      EXPECT_EQ(video->value("height", 0), 120);
      EXPECT_EQ(video->value("r_frame_rate", ""), "25/1");
      EXPECT_NEAR(Duration(probe), source_length, kFrame + c.slack);
    } else {
      EXPECT_EQ(video, nullptr) << "a sound format holds no pictures";
      EXPECT_NEAR(Duration(probe), source_sound, kFrame + c.slack);
    }
    fs::remove(out);
  }
}

TEST_F(MediaEncoderTest, SettingsChangeSizeRateAndSound) {
  struct Case {
    const char* name;
    AvEncodeSettings settings;
    int width, height;
    const char* frame_rate;
    int audio_rate, channels;
    const char* video_codec;
    const char* audio_codec;
  };
  auto with = [](auto change) {
    AvEncodeSettings s;
    change(s);
    return s;
  };
  const Case cases[] = {
      {"width only keeps the aspect", with([](auto& s) { s.width = 80; }), 80, 60, "25/1", 44100, 2, "h264", "aac"},
      {"height only keeps the aspect", with([](auto& s) { s.height = 90; }), 120, 90, "25/1", 44100, 2, "h264", "aac"},
      {"odd sizes round down to even", with([](auto& s) { s.width = 81; s.height = 61; }), 80, 60, "25/1", 44100, 2,
       "h264", "aac"},
      {"fewer frames a second", with([](auto& s) { s.frame_rate = 10; }), 160, 120, "10/1", 44100, 2, "h264", "aac"},
      {"more frames a second", with([](auto& s) { s.frame_rate = 50; }), 160, 120, "50/1", 44100, 2, "h264", "aac"},
      {"mono at 22.05 kHz", with([](auto& s) { s.audio_rate = 22050; s.channels = 1; }), 160, 120, "25/1", 22050, 1,
       "h264", "aac"},
      {"other codecs by name", with([](auto& s) { s.video_codec = "mpeg4"; s.audio_codec = "libmp3lame"; }), 160, 120,
       "25/1", 44100, 2, "mpeg4", "mp3"},
  };
  const double source_length = Duration(Probe(Movie()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = Out("settings.mp4");
    std::string log;
    ASSERT_EQ(Encode(Movie(), out, "mp4", c.settings, &log), err::kNone) << log;
    const json probe = Probe(out);
    ASSERT_FALSE(probe.is_null());
    const json* video = StreamOf(probe, "video");
    const json* audio = StreamOf(probe, "audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->value("codec_name", ""), c.video_codec);
    EXPECT_EQ(video->value("width", 0), c.width);
    EXPECT_EQ(video->value("height", 0), c.height);
    EXPECT_EQ(video->value("r_frame_rate", ""), c.frame_rate);
    EXPECT_EQ(audio->value("codec_name", ""), c.audio_codec);
    EXPECT_EQ(audio->value("sample_rate", ""), std::to_string(c.audio_rate));
    EXPECT_EQ(audio->value("channels", 0), c.channels);
    // The frame count follows the rate: 2 seconds of it.
    const double rate = c.settings.frame_rate > 0 ? c.settings.frame_rate : 25;
    EXPECT_NEAR(std::stod(video->value("nb_frames", "0")), 2 * rate, 1);
    // The pictures last as long as the source's (the sound's edit list in
    // MP4 follows the picture rate, so the file can be a little longer).
    EXPECT_NEAR(StreamDuration(*video), source_length, 1 / rate);
    fs::remove(out);
  }
}

// Millisecond time stamps at 29.97 frames a second are never whole slots
// of the output rate: no frame may be repeated or dropped for it.
TEST_F(MediaEncoderTest, RoundedTimeStampsKeepEveryFrame) {
  ASSERT_EQ(Encode(Ntsc(), Out("ntsc.mp4"), "mp4"), err::kNone);
  const json probe = Probe(Out("ntsc.mp4"));
  ASSERT_FALSE(probe.is_null());
  const json* video = StreamOf(probe, "video");
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->value("r_frame_rate", ""), "30000/1001");
  EXPECT_EQ(video->value("nb_frames", ""), "60");
  EXPECT_NEAR(StreamDuration(*video), 60 * 1001 / 30000.0, 1001 / 30000.0);
}

// What the source says of itself goes along: a camera movie's turn, its
// title, a 24-bit sound's depth where the format keeps it.
TEST_F(MediaEncoderTest, KeepsTurnTitleAndDepth) {
  ASSERT_EQ(Encode(Turned(), Out("turned.mov"), "mov"), err::kNone);
  json probe = Probe(Out("turned.mov"));
  ASSERT_FALSE(probe.is_null());
  EXPECT_EQ(probe["format"]["tags"].value("title", ""), "Harbour");
  const json* video = StreamOf(probe, "video");
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->value("width", 0), 96) << "the pictures are stored as they were, with the turn beside them";
  int rotation = 0;
  for (const json& side : video->value("side_data_list", json::array())) rotation = side.value("rotation", rotation);
  EXPECT_EQ(std::abs(rotation), 90);

  ASSERT_EQ(Encode(Tone(), Out("deep.flac"), "flac"), err::kNone);
  probe = Probe(Out("deep.flac"));
  ASSERT_NE(StreamOf(probe, "audio"), nullptr);
  EXPECT_EQ(StreamOf(probe, "audio")->value("bits_per_raw_sample", ""), "24");
  EXPECT_EQ(StreamOf(probe, "audio")->value("sample_rate", ""), "48000");
}

TEST_F(MediaEncoderTest, LowerQualityMakesASmallerFile) {
  AvEncodeSettings fine;
  fine.quality = 12;
  AvEncodeSettings coarse;
  coarse.quality = 40;
  ASSERT_EQ(Encode(Movie(), Out("fine.mp4"), "mp4", fine), err::kNone);
  ASSERT_EQ(Encode(Movie(), Out("coarse.mp4"), "mp4", coarse), err::kNone);
  EXPECT_LT(fs::file_size(Out("coarse.mp4")) * 2, fs::file_size(Out("fine.mp4")));
}

// Sound formats need a sound track; movie formats take a sound alone.
TEST_F(MediaEncoderTest, SoundAndPicturesAlone) {
  for (const char* ext : {"wav", "mp3", "opus"}) {
    SCOPED_TRACE(ext);
    const fs::path out = Out(std::string("none.") + ext);
    std::string log;
    EXPECT_EQ(Encode(Silent(), out, ext, {}, &log), err::kNoSound);
    EXPECT_FALSE(fs::exists(out)) << "nothing is written";
    EXPECT_FALSE(log.empty());
  }
  // Pictures without sound to a movie format: pictures only.
  ASSERT_EQ(Encode(Silent(), Out("silent.mov"), "mov"), err::kNone);
  json probe = Probe(Out("silent.mov"));
  EXPECT_NE(StreamOf(probe, "video"), nullptr);
  EXPECT_EQ(StreamOf(probe, "audio"), nullptr);
  // A sound to a movie format: the sound only, at its own rate and channels.
  ASSERT_EQ(Encode(Tone(), Out("tone.mp4"), "mp4"), err::kNone);
  probe = Probe(Out("tone.mp4"));
  EXPECT_EQ(StreamOf(probe, "video"), nullptr);
  ASSERT_NE(StreamOf(probe, "audio"), nullptr);
  EXPECT_EQ(StreamOf(probe, "audio")->value("sample_rate", ""), "48000");
  EXPECT_EQ(StreamOf(probe, "audio")->value("channels", 0), 1);
  EXPECT_NEAR(Duration(probe), 1.5, kFrame);
  // Opus takes 48 kHz and below only: 44.1 kHz goes up to 48 kHz.
  ASSERT_EQ(Encode(Movie(), Out("up.opus"), "opus"), err::kNone);
  probe = Probe(Out("up.opus"));
  ASSERT_NE(StreamOf(probe, "audio"), nullptr);
  EXPECT_EQ(StreamOf(probe, "audio")->value("sample_rate", ""), "48000");
  // MP3 takes two channels at most: six become two.
  AvEncodeSettings six;
  six.channels = 6;
  ASSERT_EQ(Encode(Tone(), Out("six.mp3"), "mp3", six), err::kNone);
  probe = Probe(Out("six.mp3"));
  ASSERT_NE(StreamOf(probe, "audio"), nullptr);
  EXPECT_EQ(StreamOf(probe, "audio")->value("channels", 0), 2);
}

TEST_F(MediaEncoderTest, CancelRemovesThePartialFile) {
  const fs::path out = Out("cancelled.mp4");
  std::vector<double> seen;
  auto stop_midway = [&](double done) {
    seen.push_back(done);
    return done < 0.4;
  };
  std::string log;
  EXPECT_EQ(EncodeMedia(Movie().string(), out.string(), "mp4", {}, stop_midway, &log), err::kUserCancelled);
  EXPECT_FALSE(fs::exists(out));
  ASSERT_FALSE(seen.empty());
  EXPECT_GE(seen.back(), 0.4);
  EXPECT_LT(seen.back(), 1.0) << "it stopped midway";

  // Uncancelled: fractions rise from 0 to 1 and end at 1.
  seen.clear();
  auto record = [&](double done) {
    seen.push_back(done);
    return true;
  };
  ASSERT_EQ(EncodeMedia(Movie().string(), out.string(), "mp4", {}, record, &log), err::kNone);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GE(seen.front(), 0.0);
  EXPECT_EQ(seen.back(), 1.0);
}

TEST_F(MediaEncoderTest, FailuresLeaveNoFile) {
  struct Case {
    const char* name;
    fs::path source;
    const char* extension;
    AvEncodeSettings settings;
    ErrorCode want;
  };
  const fs::path text = Out("not a movie.mp4");
  std::ofstream(text) << "plain text, not a movie at all\n";
  // A playlist that would have the encoder read another file.
  const fs::path playlist = Out("list.ffconcat");
  fs::copy_file(Movie(), Out("clip.mp4"), fs::copy_options::overwrite_existing);
  std::ofstream(playlist) << "ffconcat version 1.0\nfile clip.mp4\n";
  AvEncodeSettings h264_in_webm;
  h264_in_webm.video_codec = "libx264";
  AvEncodeSettings picture_codec_for_sound;
  picture_codec_for_sound.audio_codec = "libx264";
  AvEncodeSettings no_such_codec;
  no_such_codec.video_codec = "no-such-encoder";
  const Case cases[] = {
      {"unknown extension", Movie(), "xyz", {}, err::kParam},
      {"missing source", Out("gone.mp4"), "mp4", {}, err::kFileNotFound},
      {"not a movie", text, "mp4", {}, err::kNoMovieData},
      {"playlist of another file", playlist, "mp4", {}, err::kNoMovieData},
      {"codec the container cannot hold", Movie(), "webm", h264_in_webm, err::kParam},
      {"picture codec for sound", Movie(), "wav", picture_codec_for_sound, err::kParam},
      {"unknown codec", Movie(), "mp4", no_such_codec, err::kParam},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = Out("failed.out");
    std::string log;
    EXPECT_EQ(Encode(c.source, out, c.extension, c.settings, &log), c.want);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(log.empty());
    EXPECT_EQ(log.find('\n'), std::string::npos) << "one line";
  }
  // Without the encoder's module nothing is listed or written, and the
  // loader's reason is the log line.
  const fs::path empty = Out("no-plugins");
  fs::create_directory(empty);
  ::setenv(plugins::kPluginDirVariable, empty.c_str(), 1);
  plugins::ResetReaderPluginsForTest();
  std::string log;
  EXPECT_EQ(Encode(Movie(), Out("failed.out"), "mp4", {}, &log), err::kNoReaderForFormat);
  EXPECT_TRUE(EncodableAvFormats().empty());
  EXPECT_TRUE(AvCodecChoices("mp4", true).empty());
  EXPECT_NE(MediaEncoderError().find("norvo-encoder.so"), std::string::npos) << MediaEncoderError();
  ::unsetenv(plugins::kPluginDirVariable);
  plugins::ResetReaderPluginsForTest();
  EXPECT_FALSE(fs::exists(Out("failed.out")));
  EXPECT_NE(log.find("norvo-encoder.so"), std::string::npos) << log;
  EXPECT_FALSE(EncodableAvFormats().empty());
}

// Names are file names, never protocols or patterns: a colon, a percent
// sign and non-Latin letters go through as they are.
TEST_F(MediaEncoderTest, AwkwardNames) {
  const fs::path source = Out("clip: %d 映画.mp4");
  fs::copy_file(Movie(), source, fs::copy_options::overwrite_existing);
  const fs::path out = Out("~Norvo Temporary File");  // no extension: the container comes from the argument
  ASSERT_EQ(Encode(source, out, "MOV"), err::kNone);
  const json probe = Probe(out);
  ASSERT_FALSE(probe.is_null());
  EXPECT_NE(probe["format"].value("format_name", "").find("mov"), std::string::npos);
  fs::remove(out);
}

TEST(AvCodecChoicesTest, UsualFirstAndOnlyWhatTheContainerHolds) {
  std::vector<AvCodecChoice> mp4 = AvCodecChoices("mp4", true);
  ASSERT_FALSE(mp4.empty());
  EXPECT_EQ(mp4.front().encoder, "libx264");
  std::vector<AvCodecChoice> webm = AvCodecChoices("webm", true);
  ASSERT_FALSE(webm.empty());
  EXPECT_EQ(webm.front().encoder, "libvpx-vp9");
  for (const AvCodecChoice& c : webm) EXPECT_NE(c.encoder, "libx264") << "WebM holds no H.264";
  EXPECT_TRUE(AvCodecChoices("wav", true).empty());
  std::vector<AvCodecChoice> wav = AvCodecChoices("wav", false);
  ASSERT_FALSE(wav.empty());
  EXPECT_EQ(wav.front().encoder, "pcm_s16le");
  EXPECT_TRUE(AvCodecChoices("xyz", false).empty());
  std::vector<int> opus_rates = AvEncoderSampleRates("libopus");
  EXPECT_NE(std::find(opus_rates.begin(), opus_rates.end(), 48000), opus_rates.end());
  EXPECT_EQ(std::find(opus_rates.begin(), opus_rates.end(), 44100), opus_rates.end());
  EXPECT_EQ(AvEncoderMaxChannels("libmp3lame"), 2);
}

}  // namespace
}  // namespace norvo::output
