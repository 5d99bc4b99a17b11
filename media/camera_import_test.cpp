// SPDX-License-Identifier: GPL-3.0-or-later
// Camera import through the real libgphoto2, without hardware: its
// directory driver over a "disk:" port shows a folder with DCIM/100TEST
// as a camera. exiftool reads the capture dates the photos hold.
#include "media/camera_import.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "catalog/catalog.h"
#include "media/import_test_support.h"
#include "metadata/exif_dates.h"
#include "metadata/item_fields.h"
#include "platform/dates.h"
#include "platform/test_shell.h"

namespace norvo::media {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";
const std::vector<std::string> kCameraPhotos = {"BlueSquare.jpg", "Canon_40D.jpg", "DSCN0010.jpg"};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every file of a folder (name -> bytes), dot files included.
std::map<std::string, std::string> Files(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out[e.path().filename().string()] = ReadAll(e.path());
  return out;
}

// The capture date exiftool reads in a file ("" when it has none).
std::string ExifDate(const fs::path& file) {
  return norvo::testing::ExiftoolTags(file.string(), {"DateTimeOriginal"})["DateTimeOriginal"];
}

// A Unix socket's file: the camera lists it, but it cannot be read.
bool MakeSocket(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (fd < 0 || text.size() >= sizeof address.sun_path) return false;
  text.copy(address.sun_path, text.size());
  const bool made = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return made;
}

class CameraImportTest : public testing::ImportTestBase {
 protected:
  void SetUp() override {
    ImportTestBase::SetUp();
    card_ = fs::path(camera_dir_.path()) / "DCIM" / "100TEST";
    fs::create_directories(card_);
    for (const std::string& name : kCameraPhotos) fs::copy_file(kPhotos / name, card_ / name);
    dest_ = fs::path(dest_dir_.path());
    options_.destination = dest_.string();
  }

  std::unique_ptr<CameraConnection> Connect() {
    std::unique_ptr<CameraConnection> camera;
    CameraProblem problem = CameraProblem::kNone;
    EXPECT_EQ(CameraConnection::Open({std::string(kMassStorageModel), "disk:" + camera_dir_.path()}, &camera,
                                     &problem),
              err::kNone);
    EXPECT_EQ(problem, CameraProblem::kNone);
    return camera;
  }

  ErrorCode Run(std::vector<CameraImportOutcome>* outcomes = nullptr, const TransferFailureQuestion& ask = {}) {
    std::vector<CameraImportOutcome> ignored;
    auto camera = Connect();
    if (!camera) return err::kIo;
    return ImportFromCamera(*catalog_, *camera, options_, {}, ask, outcomes != nullptr ? outcomes : &ignored);
  }

  metadata::ItemFields FieldsOf(std::uint32_t item_id) {
    metadata::ItemFields f;
    EXPECT_EQ(f.read(*catalog_, catalog_->cellOf(item_id)), err::kNone);
    return f;
  }

  TempDir camera_dir_, dest_dir_;
  fs::path card_, dest_;
  CameraImportOptions options_;
};

TEST(CameraImportOptionsTest, StoredFormRoundTripsAndRefusesCutRecords) {
  CameraImportOptions o;
  o.destination = "/home/me/Bilder/Kamera é";
  o.lock = true;
  o.set_capture_date = true;
  o.stamps = {"Ann", "", "Studio ✓", "© 2024", "", "Do not crop"};
  const std::vector<std::uint8_t> bytes = EncodeCameraImportOptions(o);
  CameraImportOptions back;
  ASSERT_EQ(DecodeCameraImportOptions(bytes, &back), err::kNone);
  EXPECT_EQ(back, o);
  // The flags sit in their own bits.
  EXPECT_EQ(bytes[2] * 256 + bytes[3], 0x0009);

  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    EXPECT_NE(DecodeCameraImportOptions(std::span(bytes).first(cut), &back), err::kNone) << cut;
  }
  // A longer record of a later version is read as far as this one knows it.
  std::vector<std::uint8_t> later = bytes;
  later[1] = 2;
  later.push_back(0x55);
  ASSERT_EQ(DecodeCameraImportOptions(later, &back), err::kNone);
  EXPECT_EQ(back, o);
}

TEST(CameraImportOptionsTest, StampsAreCutAtWholeCharacters) {
  std::string long_text;
  for (int i = 0; i < 300; ++i) long_text += "é";
  const std::string cut = TrimStamp(long_text);
  EXPECT_EQ(cut.size(), kMaxCameraStampLength * 2);
  EXPECT_EQ(TrimStamp("short"), "short");

  CameraImportOptions o;
  o.stamps[0] = long_text;
  CameraImportOptions back;
  ASSERT_EQ(DecodeCameraImportOptions(EncodeCameraImportOptions(o), &back), err::kNone);
  EXPECT_EQ(back.stamps[0], cut);
}

TEST(CameraImportOptionsTest, StampFieldsAreTheAnnotationsOfTheirLabels) {
  for (const CameraStampField& f : kCameraStampFields) {
    const std::string_view label = f.label.substr(0, f.label.size() - 1);  // without the colon
    EXPECT_EQ(metadata::FieldLabel(nullptr, f.field), label) << std::hex << f.field;
  }
}

TEST(CameraImportNamesTest, UniqueNamesNumberTheStem) {
  std::vector<std::string> taken = {"IMG_1.JPG", "IMG_1-2.JPG", "notes", ".hidden"};
  auto is_taken = [&](const std::string& n) { return std::find(taken.begin(), taken.end(), n) != taken.end(); };
  EXPECT_EQ(UniqueFileName("IMG_2.JPG", is_taken), "IMG_2.JPG");
  EXPECT_EQ(UniqueFileName("IMG_1.JPG", is_taken), "IMG_1-3.JPG");
  EXPECT_EQ(UniqueFileName("notes", is_taken), "notes-2");
  EXPECT_EQ(UniqueFileName(".hidden", is_taken), ".hidden-2");
}

TEST(CameraImportNamesTest, PicturesFolderFromUserDirs) {
  TempDir config;
  const std::string old_config = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  const std::string old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  setenv("HOME", "/home/tester", 1);
  EXPECT_EQ(UserPicturesFolder(), "/home/tester/Pictures");
  std::ofstream(config.path() + "/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                   << "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                   << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  EXPECT_EQ(UserPicturesFolder(), "/home/tester/Bilder");
  setenv("XDG_CONFIG_HOME", old_config.c_str(), 1);
  if (old_config.empty()) unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", old_home.c_str(), 1);
}

TEST(CameraListTest, MountedVolumesWithDcimAreMassStorageCameras) {
  TempDir root;
  const std::string card = root.path() + "/CARD 1";
  fs::create_directories(card + "/DCIM");
  fs::create_directories(root.path() + "/USBDISK");
  const std::string escaped = root.path() + "/CARD\\0401";
  const std::string mountinfo =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "40 22 8:17 / " + escaped + " rw,nosuid shared:30 - vfat /dev/sdb1 rw,uid=1000\n"
      "41 22 8:33 / " + root.path() + "/USBDISK rw shared:31 - vfat /dev/sdc1 rw\n"
      "42 22 0:5 / " + card + " rw - proc proc rw\n"
      "43 22 8:17 / " + escaped + " rw,nosuid shared:30 - vfat /dev/sdb1 rw,uid=1000\n";
  const std::vector<CameraInfo> cameras = MassStorageCameras(mountinfo);
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0].model, kMassStorageModel);
  EXPECT_EQ(cameras[0].port, "disk:" + card);
}

TEST_F(CameraImportTest, EveryPictureIsCopiedWholeImportedAndStamped) {
  // An item that was there before the download keeps its annotations.
  Write("old.jpg", 10);
  ASSERT_EQ(Import({"old.jpg"}), err::kNone);
  const std::uint32_t old_id = catalog_->cells[0].item_id;
  options_.stamps = {"Ann Author", "Credit line", "", "© Ann", "Final", "Keep dry"};

  std::vector<CameraImportOutcome> outcomes;
  ASSERT_EQ(Run(&outcomes), err::kNone);
  ASSERT_EQ(outcomes.size(), kCameraPhotos.size());
  EXPECT_EQ(catalog_->itemCount(), 1 + static_cast<int>(kCameraPhotos.size()));
  std::map<std::string, std::string> expected;
  for (const std::string& name : kCameraPhotos) expected[name] = ReadAll(kPhotos / name);
  EXPECT_EQ(Files(dest_), expected);  // no temporary left behind
  EXPECT_EQ(Files(card_), expected);  // nothing deleted when not asked

  for (const CameraImportOutcome& o : outcomes) {
    ASSERT_NE(o.item_id, 0u) << o.download.source.name;
    // Stamped, and still waiting for its scan.
    EXPECT_TRUE(catalog_->cells[static_cast<std::size_t>(catalog_->cellOf(o.item_id) - 1)].pending());
    metadata::ItemFields f = FieldsOf(o.item_id);
    EXPECT_EQ(catalog::ItemPath(*catalog_, f.cellNumber()), o.download.target);
    // A new file's permissions, not the temporary file's private ones.
    struct stat st {};
    ASSERT_EQ(::stat(o.download.target.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    for (std::size_t i = 0; i < kCameraStampCount; ++i) {
      EXPECT_EQ(f.text(kCameraStampFields[i].field), options_.stamps[i]) << kCameraStampFields[i].label;
    }
  }
  EXPECT_EQ(FieldsOf(old_id).text(kCameraStampFields[0].field), "");

  // The catalog keeps what was used, for the next time.
  EXPECT_TRUE(catalog_->changed());
  EXPECT_EQ(CatalogCameraImportOptions(*catalog_), options_);
}

TEST_F(CameraImportTest, SameNamesAreSkippedOrKeptBesideEachOther) {
  // A file of the camera's name already in the destination, with other bytes.
  std::ofstream(dest_ / "Canon_40D.jpg") << "mine";
  options_.skip_same_name = true;
  std::vector<CameraImportOutcome> outcomes;
  ASSERT_EQ(Run(&outcomes), err::kNone);
  EXPECT_EQ(ReadAll(dest_ / "Canon_40D.jpg"), "mine");
  EXPECT_EQ(catalog_->itemCount(), 2);
  // A second run with the option adds nothing.
  ASSERT_EQ(Run(&outcomes), err::kNone);
  EXPECT_EQ(catalog_->itemCount(), 2);
  for (const CameraImportOutcome& o : outcomes) EXPECT_EQ(o.download.status, DownloadStatus::kSkipped);
  EXPECT_EQ(Files(dest_).size(), 3u);

  // Without it, both files are kept under different names.
  options_.skip_same_name = false;
  ASSERT_EQ(Run(&outcomes), err::kNone);
  EXPECT_EQ(ReadAll(dest_ / "Canon_40D.jpg"), "mine");
  EXPECT_EQ(ReadAll(dest_ / "Canon_40D-2.jpg"), ReadAll(kPhotos / "Canon_40D.jpg"));
  EXPECT_EQ(ReadAll(dest_ / "BlueSquare-2.jpg"), ReadAll(kPhotos / "BlueSquare.jpg"));
  EXPECT_EQ(Files(dest_).size(), 6u);
  EXPECT_EQ(catalog_->itemCount(), 5);
}

TEST_F(CameraImportTest, DeleteOnlyAfterAVerifiedDownload) {
  options_.delete_from_camera = true;
  auto camera = Connect();
  ASSERT_TRUE(camera);
  std::vector<CameraFileEntry> files;
  ASSERT_EQ(camera->listFiles(CameraRoot(camera->info()), &files), err::kNone);
  ASSERT_EQ(files.size(), kCameraPhotos.size());
  EXPECT_EQ(files[0].folder, "/DCIM/100TEST");
  EXPECT_EQ(files[1].size, fs::file_size(kPhotos / files[1].name));

  // A transfer whose byte count disagrees with the camera's is a failure:
  // nothing is kept and the camera keeps its file.
  CameraFileEntry wrong = files[1];
  wrong.size += 1;
  int asked = 0;
  CameraImportOutcome outcome;
  EXPECT_FALSE(DownloadCameraItem(*catalog_, *camera, wrong, options_,
                                  [&](const DownloadResult& r) {
                                    ++asked;
                                    EXPECT_EQ(r.error, err::kIo);
                                    return false;
                                  },
                                  &outcome));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(outcome.download.status, DownloadStatus::kFailed);
  EXPECT_FALSE(outcome.download.deleted_on_camera);
  EXPECT_TRUE(fs::exists(card_ / wrong.name));
  EXPECT_TRUE(Files(dest_).empty());
  EXPECT_EQ(catalog_->itemCount(), 0);

  // A file the camera no longer has, answered "go on".
  CameraFileEntry gone = files[0];
  gone.name = "IMG_9999.JPG";
  EXPECT_TRUE(DownloadCameraItem(*catalog_, *camera, gone, options_, [](const DownloadResult&) { return true; },
                                 &outcome));
  EXPECT_NE(outcome.download.error, err::kNone);
  EXPECT_TRUE(Files(dest_).empty());

  // A name that cannot be a file name stops the download.
  CameraFileEntry bad = files[0];
  bad.name = "../escape.jpg";
  EXPECT_FALSE(DownloadCameraItem(*catalog_, *camera, bad, options_, [](const DownloadResult&) { return true; },
                                  &outcome));
  EXPECT_EQ(outcome.download.error, err::kBadName);

  // The real run, with a file the camera lists but cannot read (a socket):
  // its failure is asked about and the others land, then leave the camera.
  camera.reset();
  ASSERT_TRUE(MakeSocket(card_ / "BROKEN.JPG"));
  std::vector<CameraImportOutcome> outcomes;
  std::vector<std::string> failed;
  ASSERT_EQ(Run(&outcomes,
                [&](const DownloadResult& r) {
                  failed.push_back(r.source.name);
                  return true;
                }),
            err::kNone);
  EXPECT_EQ(failed, std::vector<std::string>{"BROKEN.JPG"});
  ASSERT_EQ(outcomes.size(), kCameraPhotos.size() + 1);
  for (const CameraImportOutcome& o : outcomes) {
    EXPECT_EQ(o.download.deleted_on_camera, o.download.source.name != "BROKEN.JPG") << o.download.source.name;
  }
  EXPECT_EQ(Files(card_).size(), 1u);
  EXPECT_TRUE(fs::is_socket(card_ / "BROKEN.JPG"));
  EXPECT_EQ(Files(dest_).size(), kCameraPhotos.size());
  EXPECT_EQ(ReadAll(dest_ / "DSCN0010.jpg"), ReadAll(kPhotos / "DSCN0010.jpg"));
}

TEST_F(CameraImportTest, LockAndCaptureDate) {
  // One picture without EXIF date: the camera's file time stands in.
  const std::time_t camera_time = 1'300'000'000;
  const struct utimbuf times{camera_time, camera_time};
  ASSERT_EQ(::utime((card_ / "BlueSquare.jpg").c_str(), &times), 0);
  ASSERT_TRUE(ExifDate(card_ / "BlueSquare.jpg").empty());
  options_.lock = true;
  options_.set_capture_date = true;
  std::vector<CameraImportOutcome> outcomes;
  ASSERT_EQ(Run(&outcomes), err::kNone);
  ASSERT_EQ(outcomes.size(), 3u);
  for (const CameraImportOutcome& o : outcomes) {
    const fs::path file = o.download.target;
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all & (fs::perms::owner_write | fs::perms::group_write |
                                                                   fs::perms::others_write),
              fs::perms::none)
        << file;
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const std::string exif_date = ExifDate(card_ / file.filename());
    const std::uint32_t expected = exif_date.empty() ? DateTimeFromUnix(camera_time)
                                                     : metadata::CaptureDateFromExif(exif_date);
    EXPECT_EQ(DateTimeFromUnix(st.st_mtime), expected) << file;
    EXPECT_EQ(o.download.capture_date, expected);
    catalog::ItemRecord record;
    ASSERT_EQ(catalog::GetItemRecord(*catalog_, catalog_->cellOf(o.item_id), catalog::kWithoutOptionalParts, record),
              err::kNone);
    EXPECT_EQ(record.created, expected) << file;
    EXPECT_TRUE(catalog_->cells[static_cast<std::size_t>(catalog_->cellOf(o.item_id) - 1)].pending());
  }
}

TEST_F(CameraImportTest, CaptureDateBefore1900KeepsTheFilesOwnDate) {
  const fs::path old = card_ / "Canon_40D.jpg";
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -DateTimeOriginal='1899:12:31 23:00:00' '" + old.string() +
                         "'")
                            .c_str()),
            0);
  ASSERT_EQ(ExifDate(old), "1899:12:31 23:00:00");
  options_.set_capture_date = true;
  std::vector<CameraImportOutcome> outcomes;
  ASSERT_EQ(Run(&outcomes), err::kNone);
  for (const CameraImportOutcome& o : outcomes) {
    if (o.download.source.name != "Canon_40D.jpg") continue;
    EXPECT_EQ(o.download.capture_date, 0u);
    struct stat st {};
    ASSERT_EQ(::stat(o.download.target.c_str(), &st), 0);
    EXPECT_GT(st.st_mtime, 0);  // the download's own time, not one before 1970
  }
}

}  // namespace
}  // namespace norvo::media
