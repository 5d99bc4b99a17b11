// SPDX-License-Identifier: GPL-3.0-or-later
// The item scan over the real test photos: facts, thumbnails and metadata,
// the worker pool's ordering and cancellation, damaged copies, and the
// thumbnails' likeness to a careful full-size reduction compared with
// vipsthumbnail's.
#include "media/item_scan.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/thumbnail.h"
#include "imaging/transform.h"
#include "media/import_test_support.h"
#include "media/media_type_registry.h"
#include "media/movie_test_files.h"
#include "media/platform_components.h"
#include "metadata/annotation_block.h"
#include "platform/dates.h"

namespace norvo::media {
namespace {

namespace fs = std::filesystem;
using testing::ImportTestBase;

const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";
constexpr int kBox = 250;

std::vector<fs::path> TestPhotos() {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(kPhotos)) {
    if (e.is_regular_file()) out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ItemScanTest : public ImportTestBase {
 protected:
  // The registry of this machine's libraries, not the base's small one.
  void SetUp() override {
    ImportTestBase::SetUp();
    ASSERT_EQ(InitMediaTypes(FindPlatformComponents()), err::kNone);
  }

  // Copies of every test photo in the media folder, imported as pending items.
  std::vector<std::uint32_t> ImportPhotos(int copies) {
    int n = 0;
    for (int c = 0; c < copies; ++c) {
      for (const fs::path& p : TestPhotos()) {
        fs::copy_file(p, At("p" + std::to_string(n++) + p.extension().string()));
      }
    }
    EXPECT_EQ(Import({At("")}), err::kNone);
    return PendingItems(*catalog_);
  }

  catalog::ItemRecord Record(std::uint32_t id) {
    catalog::ItemRecord r;
    EXPECT_EQ(catalog::GetItemRecord(*catalog_, catalog_->cellOf(id), catalog::kWholeRecord, r), err::kNone);
    return r;
  }
};

TEST_F(ItemScanTest, EveryTestPhotoGivesFactsAThumbnailAndItsMetadata) {
  for (const fs::path& p : TestPhotos()) {
    SCOPED_TRACE(p.filename().string());
    ScanResult r;
    ASSERT_EQ(ScanFile(p.string(), 0, ScanOptions{}, &r), err::kNone);
    EXPECT_NE(r.type_code, 0u);
    EXPECT_GT(r.facts.width, 0);
    EXPECT_GT(r.facts.height, 0);
    EXPECT_EQ(r.file_size, fs::file_size(p));
    imaging::PixelBuffer thumb;
    ASSERT_EQ(imaging::DecodeStoredThumbnail(r.thumbnail, &thumb), err::kNone);
    // Fitted into the box, never enlarged; a quarter turn swaps the sides.
    bool turned = r.rotation == imaging::kRotateClockwise || r.rotation == imaging::kRotateCounterClockwise ||
                  r.rotation == imaging::kTranspose || r.rotation == imaging::kTransverse;
    int long_side = std::max(r.facts.width, r.facts.height);
    EXPECT_EQ(std::max(thumb.width(), thumb.height()), std::min(long_side, kBox));
    EXPECT_EQ(thumb.width() >= thumb.height(), (r.facts.width >= r.facts.height) != turned);
    if (p.extension() == ".jpg" && p.filename() != "image00971.jpg") {
      EXPECT_FALSE(r.metadata.empty());
    }
  }
}

TEST_F(ItemScanTest, DamagedCopiesGiveAnErrorOrAValidPictureNeverACrash) {
  int errors = 0;
  int scanned = 0;
  for (const fs::path& p : TestPhotos()) {
    const std::string whole = Slurp(p);
    std::vector<std::string> damaged;
    for (int cut = 1; cut <= 10; ++cut) damaged.push_back(whole.substr(0, whole.size() * static_cast<std::size_t>(cut) / 11));
    for (int at = 1; at <= 3; ++at) {
      std::string zeroed = whole;
      std::size_t from = zeroed.size() * static_cast<std::size_t>(at) / 4;
      std::fill_n(zeroed.begin() + static_cast<std::ptrdiff_t>(from), std::min<std::size_t>(512, zeroed.size() - from), '\0');
      damaged.push_back(zeroed);
    }
    for (std::size_t i = 0; i < damaged.size(); ++i) {
      const std::string path = At("damaged" + p.extension().string());
      std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged[i];
      ScanResult r;
      ErrorCode e = ScanFile(path, 0, ScanOptions{}, &r);
      if (e != err::kNone) {
        ++errors;
        EXPECT_TRUE(r.thumbnail.empty()) << p.filename() << " variant " << i;
        continue;
      }
      ++scanned;
      imaging::PixelBuffer thumb;
      EXPECT_EQ(imaging::DecodeStoredThumbnail(r.thumbnail, &thumb), err::kNone) << p.filename() << " variant " << i;
    }
  }
  EXPECT_GT(errors, 0);
  EXPECT_GT(scanned, 0);
}

TEST_F(ItemScanTest, PoolAppliesEveryResultInCatalogOrder) {
  std::vector<std::uint32_t> ids = ImportPhotos(2);
  ASSERT_GE(ids.size(), 30u);
  std::vector<int> seen;
  ScanSummary summary;
  ASSERT_EQ(ScanItems(*catalog_, ids, 2, ScanOptions{},
                      [&](ProgressPhase phase, int done, int) {
                        if (phase == ProgressPhase::kStep) seen.push_back(done);
                        return 0;
                      },
                      &summary),
            err::kNone);
  EXPECT_EQ(summary.scanned, static_cast<int>(ids.size()));
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<int>(i) + 1);
  EXPECT_TRUE(PendingItems(*catalog_).empty());
  // Each item got the facts of its own file, whichever thread read it.
  for (std::uint32_t id : ids) {
    catalog::ItemRecord record = Record(id);
    std::string path;
    ASSERT_EQ(catalog::LocateItemFile(*catalog_, catalog_->cellOf(id), path), err::kNone);
    ScanResult alone;
    ASSERT_EQ(ScanFile(path, 0, ScanOptions{}, &alone), err::kNone);
    EXPECT_EQ(record.width, static_cast<std::uint32_t>(alone.facts.width)) << path;
    EXPECT_EQ(record.thumbnail, alone.thumbnail) << path;
    EXPECT_EQ(record.orientation, alone.rotation) << path;
  }
}

TEST_F(ItemScanTest, CancellingKeepsWhatWasAppliedAndLeavesTheRestPending) {
  std::vector<std::uint32_t> ids = ImportPhotos(1);
  ScanSummary summary;
  EXPECT_EQ(ScanItems(*catalog_, ids, 2, ScanOptions{},
                      [](ProgressPhase phase, int done, int) {
                        return phase == ProgressPhase::kStep && done == 5 ? err::kUserCancelled : err::kNone;
                      },
                      &summary),
            err::kUserCancelled);
  EXPECT_EQ(summary.scanned, 5);
  EXPECT_EQ(PendingItems(*catalog_), std::vector<std::uint32_t>(ids.begin() + 5, ids.end()));
}

TEST_F(ItemScanTest, RescanKeepsTheUsersAnnotationsAndFillsTheRest) {
  fs::copy_file(kPhotos / "BlueSquare.jpg", At("blue.jpg"));
  ASSERT_EQ(Import({At("blue.jpg")}), err::kNone);
  const std::uint32_t id = catalog_->cells[0].item_id;
  ASSERT_EQ(ScanItem(*catalog_, 1, ScanOptions{}), err::kNone);
  catalog::ItemRecord record = Record(id);
  EXPECT_EQ(metadata::CountAnnotations(0x219, record.annotations), 5);  // the file's keywords
  // The user replaces the keywords and drops the caption; a rebuild keeps
  // the keywords and brings the file's caption back.
  metadata::RemoveAnnotations(0x219, record.annotations);
  metadata::RemoveAnnotations(0x278, record.annotations);
  metadata::SetAnnotationText(0x219, 0, "mine", record.annotations, metadata::SetMode::kAppend);
  ASSERT_EQ(catalog::ReplaceItemParts(*catalog_, 1, record, catalog::parts::kAnnotations), err::kNone);
  ASSERT_EQ(ScanItem(*catalog_, 1, ScanOptions{}), err::kNone);
  record = Record(id);
  std::vector<metadata::AnnotationValue> keywords = metadata::GetAnnotations(0x219, record.annotations);
  ASSERT_EQ(keywords.size(), 1u);
  EXPECT_EQ(keywords[0].text(), "mine");
  EXPECT_EQ(metadata::CountAnnotations(0x278, record.annotations), 1);
}

// A copy (or a camera download dated to its capture) is born after the
// date it carries as modified: the scan takes the earlier date as Created,
// since Linux cannot set a birth time. A file born first keeps its birth.
TEST_F(ItemScanTest, CreatedIsTheEarlierOfBirthAndModification) {
  const fs::path copy = At("copy.jpg");
  fs::copy_file(kPhotos / "Canon_40D.jpg", copy);
  const std::time_t capture = 1'000'000'000;  // 2001-09-09
  const timespec times[2] = {{capture, 0}, {capture, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, copy.c_str(), times, 0), 0);
  ScanResult r;
  ASSERT_EQ(ScanFile(copy.string(), 0, ScanOptions{}, &r), err::kNone);
  EXPECT_EQ(r.created, DateTimeFromUnix(capture));
  EXPECT_EQ(r.modified, DateTimeFromUnix(capture));

  // Modified after birth: Created stays at or before the modification.
  const std::time_t later = std::time(nullptr) + 3600;
  const timespec future[2] = {{later, 0}, {later, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, copy.c_str(), future, 0), 0);
  ASSERT_EQ(ScanFile(copy.string(), 0, ScanOptions{}, &r), err::kNone);
  EXPECT_EQ(r.modified, DateTimeFromUnix(later));
  EXPECT_LE(r.created, r.modified);
}

TEST_F(ItemScanTest, MissingFileAndTypeWithoutReader) {
  ScanResult r;
  EXPECT_EQ(ScanFile(At("none.jpg"), 0, ScanOptions{}, &r), err::kFileNotFound);
  Write("notes.xyz", 100);
  EXPECT_EQ(ScanFile(At("notes.xyz"), 0, ScanOptions{}, &r), err::kNoReaderForFormat);
  EXPECT_TRUE(r.thumbnail.empty());
}

TEST_F(ItemScanTest, MoviesGetTheirFactsAndAPosterAndSoundsNoPicture) {
  testing::TestMovie movie;
  movie.container = "mp4";
  movie.video = testing::TestVideo{.codec = AV_CODEC_ID_MPEG4, .width = 320, .height = 240};
  movie.audio = testing::TestAudio{.codec = AV_CODEC_ID_MP2};
  std::string message;
  ASSERT_TRUE(testing::WriteTestMovie(At("clip.mp4"), movie, &message)) << message;
  testing::TestMovie sound;
  sound.container = "wav";
  sound.audio = testing::TestAudio{.codec = AV_CODEC_ID_PCM_S16LE, .sample_rate = 22050, .channels = 1};
  ASSERT_TRUE(testing::WriteTestMovie(At("tone.wav"), sound, &message)) << message;

  ASSERT_EQ(Import({At("")}), err::kNone);
  std::vector<std::uint32_t> ids = PendingItems(*catalog_);
  ASSERT_EQ(ids.size(), 2u);
  ScanSummary summary;
  ASSERT_EQ(ScanItems(*catalog_, ids, 2, ScanOptions{}, {}, &summary), err::kNone);
  ASSERT_EQ(summary.scanned, 2) << (summary.failures.empty() ? 0 : summary.failures[0].second.value());
  catalog::ItemRecord clip = Record(ids[0]);
  catalog::ItemRecord tone = Record(ids[1]);
  if (catalog::ItemFileNameUtf8(clip) != "clip.mp4") std::swap(clip, tone);
  EXPECT_EQ(clip.width, 320u);
  EXPECT_EQ(clip.height, 240u);
  EXPECT_EQ(clip.duration, 60u);  // 60 frames at 10 per second, in tenths
  EXPECT_EQ(clip.tracks, 2u);
  EXPECT_EQ(clip.audio_rate, 44100u);
  imaging::PixelBuffer poster;
  ASSERT_EQ(imaging::DecodeStoredThumbnail(clip.thumbnail, &poster), err::kNone);
  EXPECT_EQ(poster.width(), 250);
  EXPECT_FALSE(clip.metadata.empty());  // the track list
  EXPECT_EQ(tone.audio_rate, 22050u);
  EXPECT_EQ(tone.audio_channels, 1u);
  EXPECT_EQ(tone.tracks, 1u);
  EXPECT_TRUE(tone.thumbnail.empty());
}

// Mean structural similarity of two pictures' luminance over 8 x 8 windows.
double Ssim(const imaging::PixelBuffer& a, const imaging::PixelBuffer& b) {
  auto luma = [](const imaging::PixelBuffer& p, int x, int y) {
    std::uint32_t v = p.pixel(x, y);
    return 0.299 * ((v >> 16) & 0xFF) + 0.587 * ((v >> 8) & 0xFF) + 0.114 * (v & 0xFF);
  };
  const double c1 = 6.5025, c2 = 58.5225;
  double total = 0;
  int windows = 0;
  for (int y = 0; y + 8 <= a.height(); y += 4) {
    for (int x = 0; x + 8 <= a.width(); x += 4) {
      double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
      for (int i = 0; i < 64; ++i) {
        const double la = luma(a, x + i % 8, y + i / 8), lb = luma(b, x + i % 8, y + i / 8);
        sa += la;
        sb += lb;
        saa += la * la;
        sbb += lb * lb;
        sab += la * lb;
      }
      const double ma = sa / 64, mb = sb / 64;
      const double va = (saa - 64 * ma * ma) / 63, vb = (sbb - 64 * mb * mb) / 63, cov = (sab - 64 * ma * mb) / 63;
      total += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++windows;
    }
  }
  return windows == 0 ? 0 : total / windows;
}

TEST_F(ItemScanTest, ThumbnailsAreAsFaithfulAsVipsthumbnails) {
  if (std::system("vipsthumbnail --vips-version >/dev/null 2>&1") != 0) GTEST_SKIP() << "vipsthumbnail missing";
  int compared = 0;
  for (const fs::path& p : TestPhotos()) {
    if (p.extension() != ".jpg" || p.parent_path().filename() == "orientation") continue;
    SCOPED_TRACE(p.filename().string());
    ScanResult r;
    ScanOptions options;
    options.apply_rotation = false;
    options.thumbnail_size = 128;
    ASSERT_EQ(ScanFile(p.string(), 0, options, &r), err::kNone);
    if (std::max(r.facts.width, r.facts.height) < 256) continue;  // barely reduced: nothing to judge
    imaging::PixelBuffer ours;
    ASSERT_EQ(imaging::DecodeStoredThumbnail(r.thumbnail, &ours), err::kNone);
    // The reference: the whole picture decoded at full size, reduced by an
    // area average to the same size.
    imaging::DecodedImage full;
    ASSERT_EQ(imaging::ReadStillImage(p.string(), 0, 0, &full), err::kNone);
    imaging::PixelBuffer reference;
    ASSERT_EQ(imaging::Downscale(full.picture, ours.width(), ours.height(), &reference), err::kNone);
    const std::string vips_out = At("vips.jpg");
    std::string command = "vipsthumbnail '" + p.string() + "' --size " + std::to_string(ours.width()) + "x" +
                          std::to_string(ours.height()) + "! --no-rotate -o '" + vips_out + "[Q=75]' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    imaging::DecodedImage vips;
    ASSERT_EQ(imaging::ReadStillImage(vips_out, 0, 0, &vips), err::kNone);
    ASSERT_EQ(vips.picture.width(), ours.width());
    double ours_ssim = Ssim(ours, reference);
    double vips_ssim = Ssim(vips.picture, reference);
    std::printf("%-28s ours %.4f  vipsthumbnail %.4f\n", p.filename().c_str(), ours_ssim, vips_ssim);
    EXPECT_GE(ours_ssim, vips_ssim - 0.005);
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
}  // namespace norvo::media
