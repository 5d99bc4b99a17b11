// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/jpeg_markers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "metadata/exif_reader.h"
#include "metadata/flashpix_audio.h"
#include "metadata/list_keys.h"
#include "metadata/tiff_builder_test_support.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;

class JpegBuilder {
 public:
  JpegBuilder() {
    w_.u16be(kMarkerStartOfImage);
  }
  JpegBuilder& segment(std::uint16_t marker, const std::string& head, const Bytes& tail = {}) {
    w_.u16be(marker);
    w_.u16be(static_cast<std::uint16_t>(2 + head.size() + tail.size()));
    w_.bytes(std::span(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()));
    w_.bytes(tail);
    return *this;
  }
  JpegBuilder& bytes(const Bytes& b) {
    w_.bytes(b);
    return *this;
  }
  JpegBuilder& scan() { return segment(kMarkerStartOfScan, ""); }
  Bytes take() { return w_.take(); }

 private:
  ByteWriter w_;
};

// Records the furthest byte read, to show that image data is left alone.
class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(const Bytes& b) : inner_(b), size_(static_cast<std::int64_t>(b.size())) {}
  std::int64_t size() const override { return size_; }
  ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const override {
    furthest = std::max(furthest, offset + static_cast<std::int64_t>(out.size()));
    return inner_.readAt(offset, out);
  }
  mutable std::int64_t furthest = 0;

 private:
  MemorySource inner_;
  std::int64_t size_;
};

ErrorCode ReadSegments(const Bytes& jpeg, JpegSegments* out) { return ReadJpegSegments(MemorySource(jpeg), out); }

ImageMetadata ReadMetadata(const Bytes& jpeg) {
  ImageMetadata m;
  EXPECT_EQ(ReadJpegMetadata(MemorySource(jpeg), false, &m), err::kNone);
  return m;
}

std::string Icc(int chunk, int count) {
  std::string s("ICC_PROFILE");
  s.push_back('\0');
  s.push_back(static_cast<char>(chunk));
  s.push_back(static_cast<char>(count));
  return s;
}

TEST(JpegMarkers, CollectsEverySegmentKindBeforeTheScan) {
  std::string xmp_head = std::string(kXmpNamespace) + '\0';
  Bytes after_scan{0x12, 0x34, 0xFF, 0x00, 0x56};
  JpegBuilder b;
  b.segment(0xFFE0, "JFIF")
      .segment(kMarkerApp1, std::string("Exif\0\0", 6), Bytes{'M', 'M', 0, 42, 0, 0, 0, 8})
      .segment(kMarkerApp1, xmp_head, Bytes{'<', 'x', '/', '>'})
      .segment(kMarkerApp2, Icc(1, 2), Bytes{1, 2, 3})
      .segment(kMarkerApp13, "Photoshop 3.0", Bytes{0})
      .segment(kMarkerApp2, Icc(2, 2), Bytes{4, 5})
      .segment(kMarkerComment, std::string("a comment\0", 10))
      .segment(kMarkerStartOfScan, "scan", {})
      .bytes(after_scan)
      .segment(kMarkerComment, "after the scan");
  Bytes jpeg = b.take();
  CountingSource source(jpeg);
  JpegSegments s;
  ASSERT_EQ(ReadJpegSegments(source, &s), err::kNone);
  ASSERT_EQ(s.exif.size(), 1u);
  EXPECT_EQ(s.exif[0], (Bytes{'M', 'M', 0, 42, 0, 0, 0, 8}));
  ASSERT_EQ(s.xmp.size(), 1u);
  EXPECT_EQ(s.xmp[0], (Bytes{'<', 'x', '/', '>'}));
  EXPECT_EQ(s.icc_profile, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_TRUE(s.flashpix.empty());
  EXPECT_EQ(s.image_resources.size(), 14u);
  EXPECT_EQ(s.comments, std::vector<std::string>{"a comment"});
  // Nothing past the start-of-scan marker was read.
  auto scan = std::search(jpeg.begin(), jpeg.end(), after_scan.begin(), after_scan.end()) - jpeg.begin();
  EXPECT_LE(source.furthest, scan);
}

TEST(JpegMarkers, TheFirstApp2SegmentDecides) {
  // FlashPix first: a later ICC segment is taken as FlashPix data.
  JpegSegments f;
  ASSERT_EQ(ReadSegments(JpegBuilder().segment(kMarkerApp2, "FPXR", Bytes{9}).segment(kMarkerApp2, Icc(1, 1), Bytes{1})
                             .scan().take(), &f),
            err::kNone);
  ASSERT_EQ(f.flashpix.size(), 2u);
  EXPECT_EQ(f.flashpix[0].size() + f.flashpix[1].size(), 5u + 15u);
  EXPECT_TRUE(f.icc_profile.empty());
  // Neither: every APP2 segment is ignored.
  JpegSegments n;
  ASSERT_EQ(ReadSegments(JpegBuilder().segment(kMarkerApp2, "MPF", Bytes{9}).segment(kMarkerApp2, Icc(1, 1), Bytes{1})
                             .scan().take(), &n),
            err::kNone);
  EXPECT_TRUE(n.icc_profile.empty());
  EXPECT_TRUE(n.flashpix.empty());
}

TEST(JpegMarkers, XmpNeedsTheExactNamespace) {
  JpegSegments s;
  ASSERT_EQ(ReadSegments(JpegBuilder()
                             .segment(kMarkerApp1, std::string("http://ns.adobe.com/xap/1.1/") + '\0', Bytes{'x'})
                             // Shorter than the namespace: compared over its size.
                             .segment(kMarkerApp1, "http://ns.ado")
                             .scan().take(), &s),
            err::kNone);
  EXPECT_TRUE(s.xmp.empty());
}

TEST(JpegMarkers, ReadErrorsAndBadStarts) {
  Bytes png{0x89, 'P', 'N', 'G'};
  JpegSegments s;
  EXPECT_EQ(ReadSegments(png, &s), err::kBadJpeg);
  ImageMetadata m;
  EXPECT_EQ(ReadJpegMetadata(MemorySource(png), false, &m), err::kBadJpeg);
  EXPECT_TRUE(m.list.empty());

  // A segment whose length runs past the end: the walk ends with err::kEndOfFile, the
  // profile and image resources collected so far are dropped, the comment
  // stays.
  Bytes jpeg =
      JpegBuilder().segment(kMarkerApp2, Icc(1, 1), Bytes{1}).segment(kMarkerApp13, "8BIM")
          .segment(kMarkerComment, "kept").take();
  jpeg.insert(jpeg.end(), {0xFF, 0xE1, 0x10, 0x00, 'E', 'x'});
  JpegSegments t;
  EXPECT_EQ(ReadSegments(jpeg, &t), err::kEndOfFile);
  EXPECT_TRUE(t.icc_profile.empty());
  EXPECT_TRUE(t.image_resources.empty());
  EXPECT_EQ(t.comments, std::vector<std::string>{"kept"});

  // A length below 2 is a damaged segment; a non-marker byte ends the walk.
  EXPECT_EQ(ReadSegments(Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x01}, &t), err::kEndOfFile);
  EXPECT_EQ(ReadSegments(Bytes{0xFF, 0xD8, 0x00, 0xFE, 0x00, 0x01}, &t), err::kNone);
}

TEST(JpegMarkers, CommentAndXmpReachTheMetadataList) {
  ImageMetadata m = ReadMetadata(JpegBuilder()
                                     .segment(kMarkerComment, "first")
                                     .segment(kMarkerApp1, std::string(kXmpNamespace) + '\0', Bytes{'<', '/', '>'})
                                     .segment(kMarkerComment, "second")
                                     .scan().take());
  std::string text;
  ASSERT_EQ(m.list.getText(kKeyComment, 2, &text), err::kNone);
  EXPECT_EQ(text, "second");
  EXPECT_EQ(*m.list.find(kKeyXmp, 1), (Bytes{'<', '/', '>'}));
}

// Fault: a photo with an EXIF resolution of 300 and no JFIF header was
// listed at 72 dpi.
TEST(JpegResolution, JfifDensityElseExif) {
  testing::TiffBuilder b(Endian::kLittle);
  int main = b.addIfd();
  b.rationals(main, 0x11a, {{300, 1}});
  b.rationals(main, 0x11b, {{300, 1}});
  b.shorts(main, 0x128, {2});
  const Bytes tiff = b.build();
  auto jfif = [](std::uint8_t unit, std::uint8_t density) {
    return std::string{'J', 'F', 'I', 'F', 0, 1, 2, static_cast<char>(unit), 0, static_cast<char>(density),
                       0, static_cast<char>(density), 0, 0};
  };
  struct Case {
    const char* name;
    std::string before, after;  // the JFIF segment's data, if any
    std::int32_t want;
  };
  const Case cases[] = {
      {"no JFIF segment", "", "", 300},
      {"JFIF in dots per inch", jfif(1, 96), "", 96},
      {"JFIF in dots per centimetre", jfif(2, 38), "", 97},
      {"JFIF with only an aspect ratio", jfif(0, 1), "", 300},
      {"JFIF after the EXIF", "", jfif(1, 96), 96},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegBuilder jpeg;
    if (!c.before.empty()) jpeg.segment(0xFFE0, c.before);
    jpeg.segment(kMarkerApp1, std::string("Exif\0\0", 6), tiff);
    if (!c.after.empty()) jpeg.segment(0xFFE0, c.after);
    EXPECT_EQ(ReadMetadata(jpeg.scan().take()).resolution, c.want);
  }
}

// A FlashPix contents list of a storage and the audio stream, its name in
// UTF-16 of either byte order.
Bytes FlashPixContents(std::uint32_t audio_size, bool little_endian_names) {
  ByteWriter w;
  w.u8(0);
  w.u8(0);  // version
  w.u8(1);  // contents list
  w.u16be(2);
  auto name = [&](std::string_view text) {
    for (char c : text) {
      little_endian_names ? w.u16le(static_cast<std::uint8_t>(c)) : w.u16be(static_cast<std::uint8_t>(c));
    }
    w.u16be(0);
  };
  w.u32be(0xFFFFFFFF);  // the root storage, with its class id
  w.u8(0);
  name("/");
  w.zeros(16);
  w.u32be(audio_size);
  w.u8(0);
  name("/Audio Stream");
  return w.take();
}

Bytes FlashPixData(std::uint16_t index, std::uint32_t offset, const Bytes& data) {
  ByteWriter w;
  w.u8(0);
  w.u8(0);
  w.u8(2);  // stream data
  w.u16be(index);
  w.u32be(offset);
  w.bytes(data);
  return w.take();
}

TEST(FlashPixAudio, TheVoiceAnnotationIsPutTogetherFromItsSegments) {
  Bytes wav = {'R', 'I', 'F', 'F', 28, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 1, 2, 3, 4, 5, 6, 7, 8};
  const auto size = static_cast<std::uint32_t>(wav.size());
  const Bytes first(wav.begin(), wav.begin() + 10);
  const Bytes second(wav.begin() + 10, wav.end());
  // The contents list, then pieces as {entity, offset, data}.
  auto jpeg = [&](std::uint32_t declared, bool little,
                  std::initializer_list<std::tuple<std::uint16_t, std::uint32_t, Bytes>> pieces) {
    JpegBuilder b;
    b.segment(kMarkerApp2, "FPXR", FlashPixContents(declared, little));
    for (const auto& [entity, offset, data] : pieces) {
      b.segment(kMarkerApp2, "FPXR", FlashPixData(entity, offset, data));
    }
    return b.scan().take();
  };
  for (bool little : {false, true}) {
    SCOPED_TRACE(little ? "UTF-16LE names" : "UTF-16BE names");
    // The pieces may come in any order.
    EXPECT_EQ(ReadMetadata(jpeg(size, little, {{1, 10, second}, {1, 0, first}})).recording, wav);
  }
  // A piece missing, or a piece for another entity, leaves no recording; so
  // does a declared size beyond the limit.
  EXPECT_TRUE(ReadMetadata(jpeg(size, false, {{1, 0, first}, {0, 10, second}})).recording.empty());
  EXPECT_TRUE(ReadMetadata(jpeg(kMaxFlashPixAudio + 1, false, {{1, 0, first}})).recording.empty());

  // exiftool reads the same sound from such a file (names in UTF-16LE, the
  // pieces in order, as cameras write them).
  if (std::system("exiftool -ver >/dev/null 2>&1") != 0) GTEST_SKIP() << "exiftool is not installed";
  const Bytes file = jpeg(size, true, {{1, 0, first}, {1, 10, second}});
  const std::string path = ::testing::TempDir() + "/norvo-flashpix-audio.jpg";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
  std::string sound;
  if (FILE* pipe = popen(("exiftool -b -AudioStream '" + path + "' 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) sound.append(buffer, n);
    pclose(pipe);
  }
  std::remove(path.c_str());
  EXPECT_EQ(sound, std::string(wav.begin(), wav.end()));
}

}  // namespace
}  // namespace norvo::metadata
