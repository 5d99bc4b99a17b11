// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/conversion_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file_replace.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Marks the bytes each field of the table covers.
struct Coverage {
  std::array<int, kConversionOptionsSize> hits{};
  void mark(std::size_t o, std::size_t n) {
    for (std::size_t i = o; i < o + n && i < hits.size(); ++i) ++hits[i];
  }
  void u8(std::size_t o, const std::uint8_t&) { mark(o, 1); }
  void u16(std::size_t o, const std::uint16_t&) { mark(o, 2); }
  void u32(std::size_t o, const std::uint32_t&) { mark(o, 4); }
  template <std::size_t N>
  void raw(std::size_t o, const std::array<std::uint8_t, N>&) {
    mark(o, N);
  }
};

TEST(ConversionOptions, TheTableCoversEveryByteOnce) {
  const ConversionOptions o;
  Coverage c;
  VisitConversionOptions(o, c);
  for (std::size_t i = 0; i < kConversionOptionsSize; ++i) EXPECT_EQ(c.hits[i], 1) << "byte " << i;
}

TEST(ConversionOptions, ImageDefaultsAreStoredAtTheirOffsets) {
  const Bytes b = SerializeConversionOptions(DefaultConversionOptions(ConversionKind::kImage));
  ASSERT_EQ(b.size(), kConversionOptionsSize);
  ByteReader r(b);
  EXPECT_EQ(r.u32le(), 4u);
  EXPECT_EQ(r.u32le(), FourCC("JPEG"));
  for (std::size_t at : {8, 9, 10, 11, 12}) EXPECT_EQ(b[at], 1) << at;
  for (std::size_t at : {13, 14, 15, 16, 142, 143}) EXPECT_EQ(b[at], 0) << at;
  r.seek(140);
  EXPECT_EQ(r.u16le(), 100);
  r.seek(144);
  EXPECT_EQ(r.u32le(), 640u);
  EXPECT_EQ(r.u32le(), 480u);
  EXPECT_EQ(r.u32le(), 0u);
  EXPECT_EQ(r.u32le(), 72u);
}

TEST(ConversionOptions, MovieAndSoundDefaultsHoldOnlyKindAndFormat) {
  struct Case {
    ConversionKind kind;
    std::uint32_t kind_value;
    std::uint32_t format;
  };
  for (const Case& c : {Case{ConversionKind::kMovie, 2, FourCC("MooV")}, Case{ConversionKind::kSound, 1, FourCC("AIFF")}}) {
    const Bytes b = SerializeConversionOptions(DefaultConversionOptions(c.kind));
    ByteReader r(b);
    EXPECT_EQ(r.u32le(), c.kind_value);
    EXPECT_EQ(r.u32le(), c.format);
    for (std::size_t i = 8; i < b.size(); ++i) EXPECT_EQ(b[i], 0) << i;
  }
}

TEST(ConversionOptions, StoredRecordsComeBackByteForByte) {
  ConversionOptions o;
  o.output_format = FourCC("PNGf");
  o.setFormatName("PNG");
  o.flags_9 = {7, 8};
  o.flags_12 = {9, 10, 11, 12};
  o.byte_142 = 0x42;
  o.scale_to_fit = 1;
  o.box_width = 1600;
  o.box_height = 1200;
  o.custom_resolution = 1;
  o.resolution = 300;
  const Bytes stored = SerializeConversionOptions(o);
  ConversionOptions back;
  ASSERT_EQ(ParseConversionOptions(stored, ConversionKind::kImage, &back), err::kNone);
  EXPECT_EQ(back.formatName(), "PNG");
  EXPECT_EQ(back.box_width, 1600u);
  EXPECT_EQ(SerializeConversionOptions(back), stored);
  o.setFormatName(std::string(300, 'x'));  // cut to its field
  EXPECT_EQ(o.formatName().size(), kFormatNameWidth - 1);
}

TEST(ConversionOptions, MissingOrWrongRecordsGiveTheDefaults) {
  ConversionOptions o;
  EXPECT_EQ(ParseConversionOptions({}, ConversionKind::kSound, &o), err::kNone);
  EXPECT_EQ(o.output_format, FourCC("AIFF"));
  Bytes stored = SerializeConversionOptions(DefaultConversionOptions(ConversionKind::kImage));
  stored.pop_back();
  o.box_width = 1;
  EXPECT_EQ(ParseConversionOptions(stored, ConversionKind::kImage, &o), err::kParam);
  EXPECT_EQ(o.box_width, 640u);
  // An image record where a movie record is expected.
  stored = SerializeConversionOptions(DefaultConversionOptions(ConversionKind::kImage));
  EXPECT_EQ(ParseConversionOptions(stored, ConversionKind::kMovie, &o), err::kParam);
  EXPECT_EQ(o.output_format, FourCC("MooV"));
}

TEST(ConversionOptions, ExtensionsAndFormatCodesMapBothWays) {
  const struct {
    const char* extension;
    std::uint32_t code;
  } cases[] = {{"jpg", FourCC("JPEG")}, {"png", FourCC("PNGf")}, {"mov", FourCC("MooV")}, {"wav", FourCC("WAVE")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    EXPECT_EQ(FormatForExtension(c.extension), c.code);
    EXPECT_EQ(ExtensionForFormat(c.code), c.extension);
  }
  EXPECT_EQ(FormatForExtension(".JPEG"), FourCC("JPEG"));
  EXPECT_EQ(FormatForExtension("doc"), 0u);
  EXPECT_EQ(ExtensionForFormat(FourCC("????")), "");
}

TEST(ConversionOptions, WriterSettingsRoundTripAndRejectNonsense) {
  EXPECT_EQ(ParseImageWriterSettings(SerializeImageWriterSettings({42})).quality, 42);
  EXPECT_EQ(ParseImageWriterSettings({}).quality, 85);
  Bytes bad = SerializeImageWriterSettings({42});
  bad[4] = 0;  // quality 0
  EXPECT_EQ(ParseImageWriterSettings(bad).quality, 85);

  AvWriterSettings av;
  av.quality = 30;
  av.width = 1280;
  av.height = 720;
  av.frame_rate = 29.97;
  av.audio_rate = 48000;
  av.channels = 2;
  av.video_codec = "libx264";
  av.audio_codec = "aac";
  const AvWriterSettings back = ParseAvWriterSettings(SerializeAvWriterSettings(av));
  EXPECT_EQ(back.width, 1280);
  EXPECT_DOUBLE_EQ(back.frame_rate, 29.97);
  EXPECT_EQ(back.video_codec, "libx264");
  EXPECT_EQ(back.audio_codec, "aac");
  Bytes cut = SerializeAvWriterSettings(av);
  cut.resize(cut.size() - 2);
  EXPECT_EQ(ParseAvWriterSettings(cut).video_codec, "");  // the defaults
}

class PresetFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "norvo-preset-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(PresetFile, HoldsTheRecordsOfItsKindOnly) {
  ConversionOptions o;
  o.scale_to_fit = 1;
  const std::vector<PresetRecord> records = {
      {kConversionSettingsCode, OptionsIndex(ConversionKind::kImage), SerializeConversionOptions(o)},
      {kConversionSettingsCode, WriterSettingsIndex(ConversionKind::kImage), SerializeImageWriterSettings({60})}};
  const std::string path = (dir_ / "Web.preset").string();
  ASSERT_EQ(SavePresetFile(path, ConversionKind::kImage, records), err::kNone);
  EXPECT_EQ(SavePresetFile(path, ConversionKind::kImage, records), err::kDuplicateName);  // never replaced
  std::vector<PresetRecord> back;
  ASSERT_EQ(LoadPresetFile(path, ConversionKind::kImage, &back), err::kNone);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(PresetSetting(back, 3), records[0].bytes);
  EXPECT_EQ(ParseImageWriterSettings(*PresetSetting(back, 4)).quality, 60);
  EXPECT_FALSE(PresetSetting(back, 5).has_value());
  EXPECT_EQ(LoadPresetFile(path, ConversionKind::kMovie, &back), err::kParam);
  EXPECT_EQ(LoadPresetFile((dir_ / "none").string(), ConversionKind::kImage, &back), err::kFileNotFound);

  Bytes bytes;
  ASSERT_EQ(ReadWholeFile(path, &bytes), err::kNone);
  for (std::size_t cut : {std::size_t{3}, std::size_t{11}, bytes.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(ParsePreset(std::span(bytes).first(cut), ConversionKind::kImage, &back), err::kParam);
  }
  Bytes many = bytes;
  FixedBytes(many).setU32be(8, static_cast<std::uint32_t>(kMaxPresetRecords + 1));
  EXPECT_EQ(ParsePreset(many, ConversionKind::kImage, &back), err::kParam);
}

}  // namespace
}  // namespace norvo::output
