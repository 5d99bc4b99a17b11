// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "output/gallery_movie.h"
#include "platform/byte_io.h"
#include "platform/file_replace.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes Atom(const char (&type)[5], const Bytes& body) {
  ByteWriter w;
  w.u32be(static_cast<std::uint32_t>(body.size() + 8));
  w.tag(type);
  w.bytes(body);
  return w.take();
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A chunk offset table (stco, or co64 when `wide`) of the given offsets.
Bytes Offsets(const std::vector<std::uint64_t>& offsets, bool wide) {
  ByteWriter w;
  w.u32be(0);
  w.u32be(static_cast<std::uint32_t>(offsets.size()));
  for (std::uint64_t o : offsets) {
    if (wide) {
      w.u64be(o);
    } else {
      w.u32be(static_cast<std::uint32_t>(o));
    }
  }
  return wide ? Atom("co64", w.take()) : Atom("stco", w.take());
}

Bytes Index(const Bytes& table) {
  return Atom("moov", Join({Atom("mvhd", Bytes(100, 0)),
                            Atom("trak", Atom("mdia", Atom("minf", Atom("stbl", Join({Atom("stsd", Bytes(16, 1)),
                                                                                           table})))))}));
}

// The chunk offsets of the file's first table.
std::vector<std::uint64_t> ReadOffsets(const Bytes& file) {
  for (std::size_t at = 0; at + 8 <= file.size(); ++at) {
    const bool narrow = std::equal(file.begin() + at, file.begin() + at + 4, "stco");
    const bool wide = std::equal(file.begin() + at, file.begin() + at + 4, "co64");
    if (!narrow && !wide) continue;
    ByteReader r(std::span<const std::uint8_t>(file).subspan(at + 8));
    const std::uint32_t count = r.u32be();
    std::vector<std::uint64_t> out;
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(wide ? r.u64be() : r.u32be());
    return out;
  }
  return {};
}

class GalleryMovie : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "norvo-movie-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  Bytes Read(const std::string& path) {
    Bytes bytes;
    EXPECT_EQ(ReadWholeFile(path, &bytes), err::kNone);
    return bytes;
  }
  fs::path dir_;
};

TEST_F(GalleryMovie, IndexMovesToTheFrontAndOffsetsStillFindTheirChunks) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "co64" : "stco");
    const Bytes ftyp = Atom("ftyp", {'q', 't', ' ', ' ', 0, 0, 0, 0});
    const Bytes media = Atom("mdat", {'A', 'A', 'A', 'B', 'B', 'C', 'C', 'C', 'C'});
    const Bytes spare = Atom("free", Bytes(5, 0));
    const std::uint64_t data = ftyp.size() + spare.size() + 8;  // where the chunks start
    const std::vector<std::uint64_t> offsets = {data, data + 3, data + 5};
    const Bytes file = Join({ftyp, spare, media, Index(Offsets(offsets, wide))});
    const std::string from = Write(wide ? "wide.mov" : "narrow.mov", file);
    const std::string to = (dir_ / (wide ? "wide_out.mov" : "narrow_out.mov")).string();
    ASSERT_EQ(WriteFlattenedMovie(from, to), err::kNone);
    const Bytes out = Read(to);
    ASSERT_EQ(out.size(), file.size());
    EXPECT_TRUE(std::equal(out.begin() + 4, out.begin() + 8, "ftyp"));
    EXPECT_TRUE(std::equal(out.begin() + static_cast<std::ptrdiff_t>(ftyp.size()) + 4,
                           out.begin() + static_cast<std::ptrdiff_t>(ftyp.size()) + 8, "moov"));
    const std::vector<std::uint64_t> moved = ReadOffsets(out);
    ASSERT_EQ(moved.size(), 3u);
    const char want[] = {'A', 'B', 'C'};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(out[moved[i]], want[i]) << i;
  }
}

TEST_F(GalleryMovie, MoviesThatNeedNoChangeOrCannotBePatchedAreCopied) {
  const Bytes ftyp = Atom("ftyp", {'q', 't', ' ', ' ', 0, 0, 0, 0});
  const Bytes media = Atom("mdat", {1, 2, 3});
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"index already first", Join({ftyp, Index(Offsets({ftyp.size() + 500}, false)), media})},
      {"compressed index", Join({ftyp, media, Atom("moov", Atom("cmov", Bytes(20, 0)))})},
      {"offset past 32 bits", Join({ftyp, media, Index(Offsets({0xFFFFFFF0u}, false))})},
      {"atom larger than the file", Join({ftyp, media, Bytes{0, 0, 0x10, 0, 'm', 'o', 'o', 'v'}})},
      {"not a movie", Bytes{'h', 'e', 'l', 'l', 'o'}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FastStartPlan plan;
    const std::string from = Write("in" + std::to_string(n) + ".mov", c.file);
    EXPECT_NE(PlanFastStartFile(from, &plan), err::kNone);
    const std::string to = (dir_ / ("out" + std::to_string(n++) + ".mov")).string();
    ASSERT_EQ(WriteFlattenedMovie(from, to), err::kNone);
    EXPECT_EQ(Read(to), c.file);
  }
}

TEST_F(GalleryMovie, AnExistingTargetIsNeverOverwritten) {
  const Bytes ftyp = Atom("ftyp", {'q', 't', ' ', ' ', 0, 0, 0, 0});
  const Bytes media = Atom("mdat", {1, 2, 3});
  const std::string from = Write("a.mov", Join({ftyp, media, Index(Offsets({ftyp.size() + 8}, false))}));
  const std::string to = Write("taken.mov", {'x'});
  EXPECT_NE(WriteFlattenedMovie(from, to), err::kNone);
  EXPECT_EQ(Read(to), Bytes{'x'});
}

}  // namespace
}  // namespace norvo::output
