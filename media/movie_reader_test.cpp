// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/movie_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <thread>

#include "imaging/transform.h"
#include "imaging/test_pictures.h"
#include "media/movie_test_files.h"
#include "media/test_support.h"
#include "metadata/list_keys.h"
#include "platform/byte_io.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace norvo::media {
namespace {

using imaging::testing::SizeOf;
using testing::GopColour;
using testing::kBottomColour;
using testing::TestAudio;
using testing::TestMovie;
using testing::TestVideo;

// Limits small enough that a damaged file cannot hold a test up for long.
constexpr MovieReadLimits kTestLimits{5000, 600};

// Channel-wise distance of two colours (alpha ignored).
int ColourDistance(std::uint32_t a, std::uint32_t b) {
  int d = 0;
  for (int shift : {16, 8, 0}) d = std::max(d, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
  return d;
}

::testing::AssertionResult ColourNear(std::uint32_t actual, std::uint32_t expected, int tolerance = 40) {
  if (ColourDistance(actual, expected) <= tolerance) return ::testing::AssertionSuccess();
  char text[64];
  std::snprintf(text, sizeof text, "%06X is not near %06X", actual & 0xFFFFFF, expected & 0xFFFFFF);
  return ::testing::AssertionFailure() << text;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A WAV file laid out byte by byte: the RIFF header, a 'fmt ' chunk for
// integer PCM and a 'data' chunk of silence.
std::vector<std::uint8_t> HandMadeWav(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits, double seconds) {
  const std::uint32_t frame = channels * bits / 8u;
  const auto data_size = static_cast<std::uint32_t>(rate * seconds) * frame;
  ByteWriter w;
  w.tag("RIFF");
  w.u32le(36 + data_size);
  w.tag("WAVE");
  w.tag("fmt ");
  w.u32le(16);
  w.u16le(1);  // integer PCM
  w.u16le(channels);
  w.u32le(rate);
  w.u32le(rate * frame);
  w.u16le(static_cast<std::uint16_t>(frame));
  w.u16le(bits);
  w.tag("data");
  w.u32le(data_size);
  w.zeros(data_size);
  if (bits == 8) {  // unsigned: silence is 128
    std::vector<std::uint8_t> bytes = w.take();
    std::fill(bytes.begin() + 44, bytes.end(), 128);
    return bytes;
  }
  return w.take();
}

// The sample files, written once for all tests.
class MovieReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    av_log_set_level(AV_LOG_QUIET);
    dir_ = new testing::TempDir();
    files_ = new std::map<std::string, std::string>();
    auto mpeg4 = [](TestVideo v = {}) {
      v.codec = AV_CODEC_ID_MPEG4;
      return v;
    };
    Make("mp4", "movie.mp4", {"mp4", mpeg4(), TestAudio{AV_CODEC_ID_AAC, 44100, 2}, {}, {}});
    Make("avi", "movie.avi", {"avi", TestVideo{.codec = AV_CODEC_ID_MJPEG, .pixel_format = AV_PIX_FMT_YUVJ420P},
                              TestAudio{AV_CODEC_ID_PCM_S16LE, 22050, 1}, {}, {}});
    Make("mov", "lossless.mov",
         {"mov", TestVideo{.codec = AV_CODEC_ID_PNG, .frames = 20, .pixel_format = AV_PIX_FMT_RGBA}, {}, {}, {}});
    // A quarter turn clockwise, as phones record upright video.
    Make("turned", "turned.mp4", {"mp4", mpeg4({.rotation = 90}), {}, {}, {}});
    Make("wide", "wide.mp4", {"mp4", mpeg4({.sar_num = 2, .sar_den = 1}), {}, {}, {}});
    Make("bframes", "bframes.mp4", {"mp4", mpeg4({.gop = 8, .max_b_frames = 2}), {}, {}, {}});
    if (avcodec_find_encoder(AV_CODEC_ID_H264)) {
      Make("h264", "h264.mp4",
           {"mp4", TestVideo{.codec = AV_CODEC_ID_H264, .max_b_frames = 2, .pixel_format = AV_PIX_FMT_YUV420P},
            TestAudio{AV_CODEC_ID_AAC, 48000, 2}, {}, {}});
    }
    Make("mkv", "chapters.mkv",
         {"matroska", mpeg4(), {}, {{0.0, "Intro"}, {2.0, "Middle"}, {4.5, "Schlu\xC3\x9F"}}, {}});
    const TestVideo mpeg1{.codec = AV_CODEC_ID_MPEG1VIDEO, .fps = 25, .frames = 100, .gop = 10};
    Make("mpeg", "program.mpg", {"mpeg", mpeg1, TestAudio{AV_CODEC_ID_MP2, 44100, 2}, {}, {}});
    TestVideo m1v = mpeg1;
    m1v.frames = 50;
    Make("m1v", "video.m1v", {"mpeg1video", m1v, {}, {}, {}});
    Make("mp2", "sound.mp2", {"mp2", {}, TestAudio{AV_CODEC_ID_MP2, 48000, 2}, {}, {}});
    Make("gif", "animation.gif", {"gif", TestVideo{.codec = AV_CODEC_ID_GIF, .frames = 12}, {}, {}, {}});
    Make("m4a", "song.m4a",
         {"ipod", {}, TestAudio{AV_CODEC_ID_AAC, 32000, 1}, {}, {{"title", "Caf\xC3\xA9 Song"}, {"artist", "Somebody"}}});
    for (auto [key, wav] : {std::pair{"wav8", HandMadeWav(8000, 1, 8, 2.5)}, {"wav24", HandMadeWav(96000, 2, 24, 0.5)}}) {
      WriteBytes(Path(std::string(key) + ".wav"), wav);
      (*files_)[key] = Path(std::string(key) + ".wav");
    }
  }

  static void TearDownTestSuite() {
    delete files_;
    delete dir_;
  }

  static std::string Path(const std::string& name) { return dir_->path() + "/" + name; }

  static void Make(const std::string& key, const std::string& name, const TestMovie& movie) {
    std::string message;
    if (testing::WriteTestMovie(Path(name), movie, &message)) {
      (*files_)[key] = Path(name);
    } else {
      ADD_FAILURE() << name << ": " << message;
    }
  }

  static const std::string& File(const std::string& key) { return (*files_)[key]; }

  static ErrorCode Read(const std::string& key, int box, MovieFacts* facts, imaging::PixelBuffer* poster) {
    return ReadMovie(File(key), box, kTestLimits, facts, poster);
  }

  static testing::TempDir* dir_;
  static std::map<std::string, std::string>* files_;
};

testing::TempDir* MovieReaderTest::dir_ = nullptr;
std::map<std::string, std::string>* MovieReaderTest::files_ = nullptr;

TEST(MovieDurationTest, TenthsOfASecondFromAnyTimeScale) {
  EXPECT_EQ(DurationInTenths(1500, 1, 600), 25);        // time scale 600
  EXPECT_EQ(DurationInTenths(25000000, 1, 10000000), 25);  // 100 ns units
  EXPECT_EQ(DurationInTenths(1599, 1, 600), 26);        // cut, not rounded: 26.65
  EXPECT_EQ(DurationInTenths(1, 1001, 30000), 0);
  EXPECT_EQ(DurationInTenths(1500, 1, 0), 0);
  EXPECT_EQ(DurationInTenths(1500, 0, 600), 0);
  EXPECT_EQ(DurationInTenths(-5, 1, 600), 0);
  EXPECT_EQ(DurationInTenths(INT64_MAX, 1, 1), INT32_MAX);
}

TEST(MovieItemsTest, TrackItemRoundTripAndLayout) {
  MovieTrack t;
  t.kind = kTrackSound;
  t.format = FourCC("sowt");
  t.duration = 1234;
  t.data_rate = 176400;
  t.channels = 2;
  t.sample_rate = 44100u << 16;
  t.sample_size = 16;
  t.name = "PCM signed 16-bit little-endian";  // 31 characters: kept whole
  const std::vector<std::uint8_t> bytes = EncodeTrackItem(t);
  ASSERT_EQ(bytes.size(), 44u + 1 + 31);
  ByteReader r(bytes);
  EXPECT_EQ(r.u32be(), FourCC("soun"));
  EXPECT_EQ(r.u32be(), FourCC("sowt"));
  EXPECT_EQ(r.u32be(), 1234u);
  r.seek(36);
  EXPECT_EQ(r.u32be(), 44100u << 16);
  r.seek(44);
  EXPECT_EQ(r.u8(), 31);
  MovieTrack back;
  ASSERT_EQ(DecodeTrackItem(bytes, &back), err::kNone);
  EXPECT_EQ(back, t);

  t.name = std::string(40, 'x');  // longer names are cut to 31
  ASSERT_EQ(DecodeTrackItem(EncodeTrackItem(t), &back), err::kNone);
  EXPECT_EQ(back.name, std::string(31, 'x'));

  // Too short for the fixed part, or for the name it announces.
  std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 40);
  EXPECT_EQ(DecodeTrackItem(cut, &back), err::kParam);
  cut.assign(bytes.begin(), bytes.end() - 1);
  EXPECT_EQ(DecodeTrackItem(cut, &back), err::kParam);
}

TEST(MovieItemsTest, ChapterItemsAndTheMetadataList) {
  MovieChapter c{650, "Intro"};
  const std::vector<std::uint8_t> bytes = EncodeChapterItem(c);
  ASSERT_EQ(bytes.size(), 8u + 5);
  EXPECT_EQ(bytes[3], 650 & 0xFF);
  EXPECT_EQ(bytes[5], 5);  // text length, then language 0, then the text
  EXPECT_EQ(bytes[8], 'I');
  MovieChapter back;
  ASSERT_EQ(DecodeChapterItem(bytes, &back), err::kNone);
  EXPECT_EQ(back, c);
  EXPECT_EQ(DecodeChapterItem(std::span(bytes).first(12), &back), err::kParam);

  metadata::MetadataList list;
  list.add(metadata::kKeyChapters, std::vector<std::uint8_t>{1, 2, 3});  // an older scan's item
  list.addText(metadata::kKeyName, "old title");
  MovieFacts facts;
  facts.tracks = {MovieTrack{}, MovieTrack{}};
  facts.tracks[1].kind = kTrackSound;
  facts.chapters = {{0, "A"}, {200, "B"}};
  facts.tags = {{metadata::kKeyName, "new title"}};
  AddMovieMetadata(facts, &list);
  ASSERT_EQ(list.count(metadata::kKeyTracks), 2);
  ASSERT_EQ(list.count(metadata::kKeyChapters), 2);
  ASSERT_EQ(DecodeChapterItem(*list.find(metadata::kKeyChapters, 2), &back), err::kNone);
  EXPECT_EQ(back, (MovieChapter{200, "B"}));
  MovieTrack track;
  ASSERT_EQ(DecodeTrackItem(*list.find(metadata::kKeyTracks, 2), &track), err::kNone);
  EXPECT_EQ(track.kind, kTrackSound);
  std::string title;
  ASSERT_EQ(list.count(metadata::kKeyName), 1);
  ASSERT_EQ(list.getText(metadata::kKeyName, 1, &title), err::kNone);
  EXPECT_EQ(title, "new title");
}

// What each sample says of its streams; -1 and null are not checked.
TEST_F(MovieReaderTest, EverySampleGivesItsStreamFacts) {
  const struct {
    const char* key;
    const char* compressor;
    const char* sound_format;
    int track_count;
    int channels;
    std::uint32_t sample_rate_hz;
    int sample_size;
    int depth;
    const char* video_format;  // the first track's code
  } cases[] = {
      {"mp4", "MPEG-4 part 2", "mp4a", 2, 2, 44100, 16, 24, "mp4v"},
      {"h264", "H.264", "mp4a", 2, 2, 48000, 16, 24, "avc1"},
      // WAVE format 1 names no four characters.
      {"avi", "Motion JPEG", "sowt", 2, 1, 22050, 16, 24, "MJPG"},
      {"mov", "png", "", 1, 0, 0, -1, 32, nullptr},  // the long name is too long
      {"mpeg", "MPEG AV", ".mp2", 2, 2, 44100, -1, 32, nullptr},
      {"m1v", "MPEG Video", "", 1, 0, 0, -1, 32, nullptr},
      {"mp2", "MPEG Audio", ".mp2", 1, 2, 48000, -1, 0, nullptr},
      {"m4a", "", "mp4a", 1, 1, 32000, 16, 0, nullptr},
      {"wav8", "", "raw ", 1, 1, 8000, 8, 0, nullptr},
      {"wav24", "", "in24", 1, 2, 96000, 24, 0, nullptr},
      {"gif", nullptr, "", 1, 0, 0, -1, -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    if (File(c.key).empty()) continue;  // no H.264 encoder
    MovieFacts f;
    ASSERT_EQ(Read(c.key, 0, &f, nullptr), err::kNone);
    if (c.compressor) {
      EXPECT_EQ(f.compressor, c.compressor);
    }
    EXPECT_EQ(f.sound_format, c.sound_format);
    EXPECT_EQ(f.track_count, c.track_count);
    EXPECT_EQ(f.channels, c.channels);
    EXPECT_EQ(f.sample_rate_hz, c.sample_rate_hz);
    if (c.sample_size >= 0) {
      EXPECT_EQ(f.sample_size, c.sample_size);
    }
    if (c.depth >= 0) {
      EXPECT_EQ(f.depth, c.depth);
    }
    if (c.depth == 0) {  // sound only
      EXPECT_EQ(f.width, 0);
    }
    if (c.video_format) {
      EXPECT_EQ(FourCCToString(f.tracks[0].format), c.video_format);
    }
  }
}

// Posters: which keyframe, fitted into the box without enlarging, the right
// way up. The top band's colour names the group of pictures it came from.
TEST_F(MovieReaderTest, PostersComeFromTheRightKeyframeFittedToTheBox) {
  const struct {
    const char* key;
    int box;
    int width, height;                // the facts: the displayed size
    int poster_width, poster_height;  // as stored: a turn is left to the scan
    int poster_time;                  // -1: not checked
    int top_gop;                      // -1: not checked
    bool bottom;                      // the bottom band checked
    int tolerance;
  } cases[] = {
      // 10 % of 6 s is 0.6 s; the keyframe before it is frame 4, the first of
      // the second group of pictures.
      {"mp4", 0, 64, 48, 64, 48, 4, 1, true, 40},
      {"mp4", 32, 64, 48, 32, 24, -1, 1, true, 40},
      {"mp4", 200, 64, 48, 64, 48, -1, -1, false, 40},
      // B-frames: the decoder holds frames back; 0.6 s still lands in the
      // first group of eight frames.
      {"bframes", 0, 64, 48, 64, 48, 0, 0, false, 40},
      {"h264", 0, 64, 48, 64, 48, 4, 1, true, 40},
      {"avi", 0, 64, 48, 64, 48, -1, 1, true, 24},  // full-range pictures keep their colours
      {"turned", 0, 48, 64, 64, 48, -1, 1, false, 40},
      {"wide", 0, 128, 48, 128, 48, -1, -1, false, 40},
      {"wide", 64, 128, 48, 64, 24, -1, -1, false, 40},
      // 10 % of 4 s: the keyframe at 0.4 s starts the second group of ten.
      {"mpeg", 0, 64, 48, 64, 48, -1, 1, false, 40},
      {"m1v", 0, 64, 48, 64, 48, -1, -1, false, 40},
      {"gif", 0, 64, 48, 64, 48, -1, -1, true, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " in " + std::to_string(c.box));
    if (File(c.key).empty()) continue;  // no H.264 encoder
    MovieFacts f;
    imaging::PixelBuffer poster;
    ASSERT_EQ(Read(c.key, c.box, &f, &poster), err::kNone);
    EXPECT_EQ(f.width, c.width);
    EXPECT_EQ(f.height, c.height);
    ASSERT_EQ(SizeOf(poster), std::pair(c.poster_width, c.poster_height));
    if (c.poster_time >= 0) {
      EXPECT_EQ(f.poster_time, c.poster_time);
    }
    const int x = poster.width() / 2;
    if (c.top_gop >= 0) {
      EXPECT_TRUE(ColourNear(poster.pixel(x, poster.height() / 6), GopColour(c.top_gop), c.tolerance));
    }
    if (c.bottom) {
      EXPECT_TRUE(ColourNear(poster.pixel(x, poster.height() * 5 / 6), kBottomColour, c.tolerance));
    }
  }
  for (const char* key : {"mp2", "m4a", "wav8"}) {  // sound only: no picture, no error
    MovieFacts f;
    imaging::PixelBuffer poster;
    ASSERT_EQ(Read(key, 0, &f, &poster), err::kNone) << key;
    EXPECT_TRUE(poster.empty()) << key;
  }
}

TEST_F(MovieReaderTest, Mpeg4FactsBeyondTheStreams) {
  MovieFacts f;
  imaging::PixelBuffer poster;
  ASSERT_EQ(Read("mp4", 0, &f, &poster), err::kNone);
  EXPECT_GE(f.duration, 59);
  EXPECT_LE(f.duration, 62);
  EXPECT_EQ(f.resolution, 72);
  EXPECT_EQ(f.colour_space, FourCC("RGB "));
  EXPECT_EQ(f.sample_rate, 44100u << 16);
  EXPECT_EQ(f.frame_rate, 10000u);
  EXPECT_GE(f.quality_level, 1);
  EXPECT_LE(f.quality_level, 5);  // a lossy codec
  EXPECT_EQ(f.rotation, 0);
  EXPECT_TRUE(f.tags.empty());  // tags are read for sound files only
  // The file's bytes over its duration, within what the container adds.
  const double bytes_per_second = ReadBytes(File("mp4")).size() * 10.0 / f.duration;
  EXPECT_NEAR(f.data_rate, bytes_per_second, bytes_per_second * 0.2);
  ASSERT_EQ(f.tracks.size(), 2u);
  EXPECT_EQ(f.tracks[0].kind, kTrackVideo);
  EXPECT_EQ(f.tracks[0].width, 64);
  EXPECT_EQ(f.tracks[0].frame_rate, 10000u);
  EXPECT_EQ(f.tracks[1].kind, kTrackSound);
  EXPECT_EQ(f.tracks[1].format, FourCC("mp4a"));
  EXPECT_EQ(f.tracks[1].channels, 2);
  EXPECT_EQ(poster.pixel(5, 5) >> 24, 0xFFu);
  EXPECT_FALSE(poster.hasAlpha());

  // No poster asked for: the same facts, no decoding.
  MovieFacts without;
  ASSERT_EQ(Read("mp4", 0, &without, nullptr), err::kNone);
  EXPECT_EQ(without.duration, f.duration);
  EXPECT_EQ(without.poster_time, 0);

  ASSERT_EQ(Read("turned", 0, &f, nullptr), err::kNone);
  EXPECT_EQ(f.rotation, imaging::kRotateClockwise);
  ASSERT_EQ(Read("mpeg", 0, &f, nullptr), err::kNone);
  EXPECT_EQ(f.frame_rate, 25000u);
  ASSERT_EQ(Read("avi", 0, &f, nullptr), err::kNone);
  EXPECT_GE(f.duration, 59);
}


TEST_F(MovieReaderTest, SoundFilesWithTheirTagsAndRates) {
  MovieFacts f;
  ASSERT_EQ(Read("m4a", 0, &f, nullptr), err::kNone);
  std::map<std::uint32_t, std::string> tags;
  for (const MovieTag& t : f.tags) tags[t.key] = t.text;
  EXPECT_EQ(tags[metadata::kKeyName], "Caf\xE9 Song");  // Windows-1252
  EXPECT_EQ(tags[metadata::kKeyArtist], "Somebody");

  ASSERT_EQ(Read("wav8", 0, &f, nullptr), err::kNone);
  EXPECT_EQ(f.duration, 25);
  EXPECT_EQ(f.sample_rate, 8000u << 16);
  EXPECT_EQ(f.tracks[0].data_rate, 8000u);
  EXPECT_EQ(f.data_rate, (8000u * 5 / 2 + 44) * 2 / 5);  // the whole file, header included
  // 96 kHz does not fit 16.16: the fixed-point rate stays at its largest.
  ASSERT_EQ(Read("wav24", 0, &f, nullptr), err::kNone);
  EXPECT_EQ(f.duration, 5);
  EXPECT_EQ(f.sample_rate, 0xFFFFFFFFu);
}

TEST_F(MovieReaderTest, LosslessAlphaChaptersAndGifFrames) {
  MovieFacts f;
  imaging::PixelBuffer poster;
  ASSERT_EQ(Read("mov", 0, &f, &poster), err::kNone);
  EXPECT_EQ(f.quality_level, kQualityLossless);
  EXPECT_TRUE(poster.hasAlpha());
  EXPECT_EQ(poster.pixel(10, 10), 0xFF000000u | GopColour(0));  // lossless: exact
  ASSERT_EQ(Read("mkv", 0, &f, nullptr), err::kNone);
  EXPECT_EQ(f.chapters, (std::vector<MovieChapter>{{0, "Intro"}, {20, "Middle"}, {45, "Schlu\xDF"}}));
  ASSERT_EQ(Read("gif", 0, &f, nullptr), err::kNone);
  EXPECT_EQ(f.image_count, 12);
}

TEST_F(MovieReaderTest, FilesThatAreNoMovies) {
  MovieFacts f;
  imaging::PixelBuffer poster;
  EXPECT_EQ(ReadMovie(Path("missing.mp4"), 0, &f, &poster), err::kFileNotFound);
  EXPECT_EQ(ReadMovie(dir_->path(), 0, &f, &poster), err::kFileNotFound);
  WriteBytes(Path("empty.mp4"), {});
  EXPECT_EQ(ReadMovie(Path("empty.mp4"), 0, &f, &poster), err::kNoMovieData);
  const std::string text = "This is a plain text file, not a movie at all.\n";
  WriteBytes(Path("text.mov"), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  EXPECT_EQ(ReadMovie(Path("text.mov"), 0, &f, &poster), err::kNoMovieData);
  EXPECT_TRUE(poster.empty());
}

TEST_F(MovieReaderTest, BudgetRunsOutWithFactsKept) {
  MovieFacts f;
  imaging::PixelBuffer poster;
  EXPECT_EQ(ReadMovie(File("mp4"), 0, MovieReadLimits{5000, 0}, &f, &poster), err::kBadMovieData);
  EXPECT_TRUE(poster.empty());
  EXPECT_EQ(f.width, 64);
  EXPECT_GE(f.duration, 59);
}

TEST_F(MovieReaderTest, MemoryAndFileGiveTheSameFacts) {
  for (const char* key : {"mp4", "avi", "mpeg", "wav8"}) {
    const std::vector<std::uint8_t> bytes = ReadBytes(File(key));
    MovieFacts from_file;
    MovieFacts from_memory;
    imaging::PixelBuffer a;
    imaging::PixelBuffer b;
    ASSERT_EQ(Read(key, 48, &from_file, &a), err::kNone) << key;
    ASSERT_EQ(ReadMovie(bytes, File(key), 48, kTestLimits, &from_memory, &b), err::kNone) << key;
    EXPECT_EQ(from_memory.duration, from_file.duration) << key;
    EXPECT_EQ(from_memory.tracks, from_file.tracks) << key;
    EXPECT_EQ(from_memory.data_rate, from_file.data_rate) << key;
    ASSERT_EQ(a.width(), b.width()) << key;
    EXPECT_TRUE(std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin())) << key;
  }
}

TEST_F(MovieReaderTest, ThreadsReadSideBySide) {
  const std::vector<std::string> keys = {"mp4", "avi", "mov", "mpeg", "mkv", "wav8"};
  std::map<std::string, MovieFacts> expected;
  for (const std::string& key : keys) {
    imaging::PixelBuffer poster;
    ASSERT_EQ(Read(key, 32, &expected[key], &poster), err::kNone) << key;
  }
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (const std::string& key : keys) {
          MovieFacts f;
          imaging::PixelBuffer poster;
          if (Read(key, 32, &f, &poster) != err::kNone || f.tracks != expected[key].tracks ||
              f.poster_time != expected[key].poster_time) {
            ++mismatches[t];
          }
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

// Damaged copies of every sample: cut short, zeroed in places, bytes
// flipped. Each must give an error or sane facts, within its budget.
TEST_F(MovieReaderTest, DamagedFilesGiveErrorsOrSaneFacts) {
  std::mt19937 random(20240605);
  int read = 0;
  for (const auto& [key, path] : *files_) {
    const std::vector<std::uint8_t> original = ReadBytes(path);
    std::vector<std::vector<std::uint8_t>> damaged;
    for (int percent : {1, 10, 50, 90, 99}) {
      damaged.emplace_back(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(original.size() * percent / 100));
    }
    std::vector<std::uint8_t> zeroed = original;
    std::fill(zeroed.begin() + zeroed.size() / 3, zeroed.begin() + 2 * zeroed.size() / 3, 0);
    damaged.push_back(zeroed);
    zeroed = original;
    std::fill(zeroed.begin() + std::min<std::size_t>(zeroed.size(), 8), zeroed.begin() + std::min<std::size_t>(zeroed.size(), 1024), 0);
    damaged.push_back(zeroed);
    for (int copy = 0; copy < 4; ++copy) {
      std::vector<std::uint8_t> flipped = original;
      for (int i = 0; i < 40; ++i) flipped[random() % flipped.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
      damaged.push_back(std::move(flipped));
    }
    for (const std::vector<std::uint8_t>& bytes : damaged) {
      MovieFacts f;
      imaging::PixelBuffer poster;
      const ErrorCode e = ReadMovie(bytes, path, 40, kTestLimits, &f, &poster);
      ++read;
      EXPECT_TRUE(e == err::kNone || e == err::kNoMovieData || e == err::kBadMovieData ||
                  e == err::kNoReaderForFormat)
          << key << " gave " << e;
      EXPECT_GE(f.duration, 0);
      EXPECT_GE(f.width, 0);
      EXPECT_EQ(f.track_count, static_cast<int>(f.tracks.size()));
      EXPECT_LE(f.compressor.size(), kMaxMovieCompressorName);
      EXPECT_LE(f.sound_format.size(), kMaxSoundFormatText);
      if (!poster.empty()) {
        EXPECT_LE(poster.width(), 40) << key;
        EXPECT_LE(poster.height(), 40) << key;
      }
    }
  }
  EXPECT_GT(read, 100);
}

}  // namespace
}  // namespace norvo::media
