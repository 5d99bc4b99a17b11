// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/alias.h"
#include "platform/byte_io.h"
#include "platform/dates.h"
#include "platform/fault_injection.h"
#include "platform/file_spec.h"

namespace norvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t n) {  // no short period, so a shifted copy cannot match by chance
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return b;
}
Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) { return Bytes(b.begin() + from, b.begin() + to); }
std::int64_t Pos(const File& f) {
  std::int64_t v = -1;
  EXPECT_EQ(f.position(&v), err::kNone);
  return v;
}
std::int64_t Length(const File& f) {
  std::int64_t v = -1;
  EXPECT_EQ(f.endOfFile(&v), err::kNone);
  return v;
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/norvo-file-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    faults::Reset();
    std::filesystem::remove_all(dir_);
  }
  FileSpec Spec(const std::string& leaf) {
    FileSpec spec;
    EXPECT_TRUE(FileSpecFilled(MakeFileSpec(JoinPath(dir_, leaf), spec))) << leaf;
    return spec;
  }
  FileSpec Make(const std::string& leaf, const Bytes& data) {
    FileSpec spec = Spec(leaf);
    File f;
    EXPECT_EQ(CreateFile(spec, 0, 0), err::kNone);
    EXPECT_EQ(f.open(spec, Permission::kReadWrite), err::kNone);
    EXPECT_EQ(f.write(data), err::kNone);
    return spec;
  }
  Bytes Contents(const FileSpec& spec) {
    File f;
    EXPECT_EQ(f.open(spec, Permission::kRead), err::kNone);
    Bytes out(static_cast<std::size_t>(Length(f)));
    EXPECT_EQ(f.readExact(out), err::kNone);
    return out;
  }
  std::string dir_;
};

TEST_F(FileTest, ReadsAndPositionsStopAtTheEnds) {
  const Bytes data = Pattern(32);
  File f;
  ASSERT_EQ(f.open(Make("a", data), Permission::kRead), err::kNone);
  Bytes four(4);
  ASSERT_EQ(f.setPosition(SeekMode::kFromEnd, -8), err::kNone);
  ASSERT_EQ(f.readExact(four), err::kNone);
  EXPECT_EQ(four, Slice(data, 24, 28));
  ASSERT_EQ(f.setPosition(SeekMode::kFromCurrent, -3), err::kNone);
  EXPECT_EQ(Pos(f), 25);
  EXPECT_EQ(f.setPosition(SeekMode::kFromCurrent, -26), err::kBadPosition);
  EXPECT_EQ(f.setPosition(SeekMode::kFromStart, 33), err::kEndOfFile);
  EXPECT_EQ(Pos(f), 32);

  // Reading past the end reads what is there.
  ASSERT_EQ(f.setPosition(SeekMode::kFromStart, 22), err::kNone);
  Bytes buf(16, 0xAA);
  std::int64_t count = 16;
  EXPECT_EQ(f.read(&count, buf.data()), err::kEndOfFile);
  EXPECT_EQ(count, 10);
  EXPECT_EQ(Slice(buf, 0, 10), Slice(data, 22, 32));
  EXPECT_EQ(Pos(f), 32);
  EXPECT_EQ(f.readAt(2, four), err::kNone);
  EXPECT_EQ(four, Slice(data, 2, 6));
  EXPECT_EQ(f.readAt(30, four), err::kEndOfFile);
  EXPECT_EQ(f.readAt(-1, four), err::kBadPosition);
  EXPECT_EQ(Pos(f), 32);  // readAt leaves the position alone
  EXPECT_EQ(f.write(four), err::kPermission);
}

TEST_F(FileTest, SetEndOfFileGrowsWithZerosAndTruncates) {
  const Bytes data = Pattern(8);
  FileSpec spec = Make("a", data);
  File f, reader;
  ASSERT_EQ(f.open(spec, Permission::kReadWrite), err::kNone);
  ASSERT_EQ(f.setEndOfFile(5000), err::kNone);
  EXPECT_EQ(Length(f), 5000);
  Bytes expected(5000, 0);
  std::copy(data.begin(), data.end(), expected.begin());
  EXPECT_EQ(Contents(spec), expected);
  ASSERT_EQ(f.setPosition(SeekMode::kFromEnd, 0), err::kNone);
  ASSERT_EQ(f.setEndOfFile(3), err::kNone);
  EXPECT_EQ(Pos(f), 3);  // the position follows a truncation
  EXPECT_EQ(Contents(spec), Slice(data, 0, 3));
  EXPECT_EQ(f.setEndOfFile(-1), err::kParam);
  ASSERT_EQ(reader.open(spec, Permission::kRead), err::kNone);
  EXPECT_EQ(reader.setEndOfFile(100), err::kPermission);
}

TEST_F(FileTest, OneWriterManyReadersAndDeleteOfOpenFile) {
  FileSpec spec = Make("a", Pattern(4));
  File writer, second, r1, r2;
  ASSERT_EQ(writer.open(spec, Permission::kReadWrite), err::kNone);
  EXPECT_EQ(second.open(spec, Permission::kReadWrite), err::kOpenForWriting);
  EXPECT_EQ(r1.open(spec, Permission::kRead), err::kNone);
  EXPECT_EQ(r2.open(spec, Permission::kRead), err::kNone);
  EXPECT_EQ(DeleteFile(spec), err::kFileBusy);
  writer.close();
  EXPECT_EQ(second.open(spec, Permission::kReadWrite), err::kNone);  // the slot is free again
  second.close();
  r1.close();
  EXPECT_EQ(DeleteFile(spec), err::kFileBusy);  // r2 still holds it
  r2.close();
  EXPECT_EQ(DeleteFile(spec), err::kNone);
  EXPECT_EQ(DeleteFile(spec), err::kFileNotFound);
}

TEST_F(FileTest, CreateRefusesExistingFileAndKeepsItsCodes) {
  Make("probe", {});
  if (::setxattr(JoinPath(dir_, "probe").c_str(), "user.norvo.probe", "x", 1, 0) != 0) {
    GTEST_SKIP() << "no user extended attributes under " << dir_;
  }
  FileSpec spec = Spec("coded");
  ASSERT_EQ(CreateFile(spec, FourCC("NRVO"), FourCC("NRKC")), err::kNone);
  EXPECT_EQ(CreateFile(spec, FourCC("XXXX"), FourCC("YYYY")), err::kDuplicateName);
  std::uint32_t type = 0, creator = 0;
  GetFileTypeAndCreator(spec, &type, &creator);
  EXPECT_EQ(FourCCToString(type), "NRKC");
  EXPECT_EQ(FourCCToString(creator), "NRVO");
}

TEST_F(FileTest, FaultsFailTheNthWrite) {
  FileSpec spec = Make("a", {});
  File f;
  ASSERT_EQ(f.open(spec, Permission::kReadWrite), err::kNone);
  const Bytes one = {1};
  const auto before = faults::WriteCount();
  faults::FailNthWrite(3, err::kDiskFull);
  EXPECT_EQ(f.write(one), err::kNone);
  EXPECT_EQ(f.setEndOfFile(1), err::kNone);  // counts as a write
  EXPECT_EQ(f.write(one), err::kDiskFull);
  EXPECT_EQ(Pos(f), 1);  // a failed write does not move the position
  for (int i = 0; i < 5; ++i) EXPECT_EQ(f.write(one), err::kNone);
  EXPECT_EQ(faults::WriteCount() - before, 8u);
  EXPECT_EQ(Contents(spec), Bytes(6, 1));
}

TEST_F(FileTest, CopyBetweenFilesAndDownWithinOne) {
  const Bytes data = Pattern(300);
  FileSpec dst_spec = Make("dst", Bytes(4, 0xEE));
  File src, dst;
  ASSERT_EQ(src.open(Make("src", data), Permission::kRead), err::kNone);
  ASSERT_EQ(dst.open(dst_spec, Permission::kReadWrite), err::kNone);
  ASSERT_EQ(dst.setPosition(SeekMode::kFromStart, 2), err::kNone);
  ASSERT_EQ(dst.copyFrom(src, 50, 200), err::kNone);
  EXPECT_EQ(Pos(dst), 202);
  Bytes expected(202, 0xEE);
  std::copy(data.begin() + 50, data.begin() + 250, expected.begin() + 2);
  EXPECT_EQ(Contents(dst_spec), expected);
  EXPECT_EQ(dst.copyFrom(src, 250, 51), err::kEndOfFile);
  EXPECT_EQ(src.copyFrom(dst, 0, 1), err::kPermission);

  // More than one copy block, moved by less than a block so that source and
  // target overlap; through the writing handle and through a second reader.
  const std::size_t size = (5u << 19) + 123, shift = 1001;
  const Bytes big = Pattern(size);
  for (bool same_handle : {true, false}) {
    SCOPED_TRACE(same_handle ? "same handle" : "separate reader");
    FileSpec spec = Make(same_handle ? "same" : "two", big);
    File f, reader;
    ASSERT_EQ(f.open(spec, Permission::kReadWrite), err::kNone);
    ASSERT_EQ(reader.open(spec, Permission::kRead), err::kNone);
    ASSERT_EQ(f.copyFrom(same_handle ? f : reader, shift, size - shift), err::kNone);
    ASSERT_EQ(f.setEndOfFile(size - shift), err::kNone);
    EXPECT_TRUE(Contents(spec) == Slice(big, shift, size));
  }
}

// Fault: `add ../d.nrk ../../media/a.jpg` stored ".../sub/../../media/a.jpg",
// and the item read as missing once "sub" was removed.
TEST_F(FileTest, FileSpecsHoldAnAbsoluteNormalPathAndAWindows1252Name) {
  const std::string path = JoinPath(dir_, "Caf\xC3\xA9 \xE2\x82\xAC.txt");  // "Café €.txt"
  FileSpec spec;
  EXPECT_EQ(MakeFileSpec(path, spec), err::kFileNotFound);
  EXPECT_EQ(spec.path, path);  // filled anyway, ready for CreateFile
  EXPECT_EQ(spec.name, "Caf\xE9 \x80.txt");
  ASSERT_EQ(CreateFile(spec, 0, 0), err::kNone);
  EXPECT_EQ(MakeFileSpec(path, spec), err::kNone);
  EXPECT_EQ(MakeFileSpec("", spec), err::kBadName);
  EXPECT_EQ(MakeFileSpec(JoinPath(dir_, std::string(300, 'n')), spec), err::kFileNotFound);
  EXPECT_EQ(spec.name.size(), kMaxPStringLength);

  const std::string sub = JoinPath(dir_, "sub");
  ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(sub);
  (void)MakeFileSpec("../media/./a.jpg", spec);
  EXPECT_EQ(spec.path, JoinPath(dir_, "media/a.jpg"));
  (void)MakeFileSpec("./x.jpg", spec);
  EXPECT_EQ(spec.path, JoinPath(sub, "x.jpg"));
  (void)MakeFileSpec("x.jpg", spec);
  EXPECT_EQ(spec.path, JoinPath(sub, "x.jpg"));
  std::filesystem::current_path(cwd);
  (void)MakeFileSpec(dir_ + "//sub///y.jpg/", spec);
  EXPECT_EQ(spec.path, JoinPath(sub, "y.jpg"));
  EXPECT_EQ(LexicallyNormalPath("/a/../../b"), "/b");
  EXPECT_EQ(LexicallyNormalPath("/"), "/");
}

TEST_F(FileTest, AliasRoundTripAndDamage) {
  FileSpec spec = Make("photo.jpg", Pattern(3));
  struct stat st {};
  ASSERT_EQ(::stat(spec.path.c_str(), &st), 0);
  const std::function<void(Bytes&)> damages[] = {
      [](Bytes& b) { b.pop_back(); },                 // truncated
      [](Bytes& b) { b[0] ^= 0x20; },                 // foreign magic
      [](Bytes& b) { b[8] = 2; },                     // unknown kind
      [](Bytes& b) { b[7] += 1; b.push_back(0); },  // size field disagrees with the text length
  };
  for (AliasForm form : {AliasForm::kFull, AliasForm::kMinimal}) {
    const bool minimal = form == AliasForm::kMinimal;
    Bytes bytes;
    AliasInfo info;
    ASSERT_EQ(MakeAlias(spec, form, bytes), err::kNone);
    ASSERT_TRUE(ParseAlias(bytes, info));
    EXPECT_EQ(info.minimal, minimal);
    EXPECT_EQ(info.text, minimal ? std::string("photo.jpg") : spec.path);
    EXPECT_EQ(info.inode, static_cast<std::uint64_t>(st.st_ino));
    EXPECT_EQ(info.device, static_cast<std::uint64_t>(st.st_dev));
    EXPECT_EQ(UnixFromDateTime(info.modified), st.st_mtime);
    for (const auto& damage : damages) {
      Bytes damaged = bytes;
      damage(damaged);
      EXPECT_FALSE(ParseAlias(damaged, info));
    }
  }
  Bytes out;
  EXPECT_EQ(MakeAlias(Spec("missing"), AliasForm::kFull, out), err::kFileNotFound);
}

TEST(Dates, EpochOffsetLocalTimeAndRoundTrip) {
  const char* old_tz = std::getenv("TZ");
  const std::optional<std::string> saved = old_tz ? std::optional<std::string>(old_tz) : std::nullopt;
  auto zone = [](const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  };
  const std::int64_t epoch = (66 * 365 + 17) * std::int64_t{86400};  // 1904 to 1970, 17 leap years
  zone("UTC");
  EXPECT_EQ(DateTimeFromUnix(0), epoch);
  EXPECT_EQ(DateTimeFromUnix(-epoch - 1), 0u);                     // before 1904
  EXPECT_EQ(DateTimeFromUnix(std::time_t{1} << 33), 0xFFFFFFFFu);  // after 2040
  zone("NRV-1");  // one hour east of Greenwich
  EXPECT_EQ(DateTimeFromUnix(0), epoch + 3600);
  for (const char* tz : {"UTC", "NRV-1", "NRV+5"}) {
    zone(tz);
    for (std::time_t t : {std::time_t{0}, std::time_t{951782400}, std::time_t{1700000000}}) {
      EXPECT_EQ(UnixFromDateTime(DateTimeFromUnix(t)), t) << tz << " " << t;
    }
  }
  saved ? setenv("TZ", saved->c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace norvo
