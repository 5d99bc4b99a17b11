// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli's camera commands against a folder that
// libgphoto2's directory driver shows as a camera; exiftool reads the
// photos' capture dates, gphoto2 lists what the camera still holds.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

const std::vector<std::string> kSources = {"Canon_40D.jpg", "DSCN0010.jpg", "Nikon_D70.jpg"};

class CameraCliTest : public CliHarness {
 protected:
  void SetUp() override {
    CliHarness::SetUp();
    card_ = dir_ / "card" / "DCIM" / "100TEST";
    fs::create_directories(card_);
    for (const std::string& name : kSources) fs::copy_file(kPhotos / name, card_ / name);
    fs::create_directory(dir_ / "dest");
    port_ = "disk:" + (dir_ / "card").string();
    Ok({"new", catalog_});
  }
  void TearDown() override {
    unsetenv("NORVO_CAMERA_PORT");
    CliHarness::TearDown();
  }
  std::vector<std::string> Import(const std::vector<std::string>& extra) {
    return Plus({"camera", "import", catalog_, "--port", port_, "--dest", (dir_ / "dest").string()}, extra);
  }
  std::vector<long long> Find(const std::string& field, const std::string& value) {
    return Numbers(JsonOf({"find", catalog_, "--where", field, "is", value}));
  }

  fs::path card_;
  std::string port_;
};

TEST_F(CameraCliTest, ListShowsTheCameraOfTheEnvironment) {
  const Json before = JsonOf({"camera", "list"});
  setenv("NORVO_CAMERA_PORT", port_.c_str(), 1);
  const Json cameras = JsonOf({"camera", "list"});
  ASSERT_EQ(cameras.size(), before.size() + 1);
  EXPECT_EQ(cameras.back()["model"], "Mass storage");
  EXPECT_EQ(cameras.back()["port"], port_);
  EXPECT_NE(Ok({"camera", "list"}).find(port_), std::string::npos);
  if (before.empty()) {
    // The camera of the environment is the one an import takes by default.
    Json report = JsonOf({"camera", "import", catalog_, "--dest", (dir_ / "dest").string(), "--no-scan"});
    EXPECT_EQ(report["camera"]["port"], port_);
    EXPECT_EQ(report["added"], 3);
    unsetenv("NORVO_CAMERA_PORT");
    EXPECT_EQ(Ok({"camera", "list"}), "No camera connected.\n");
    Fails({"camera", "import", catalog_, "--dest", (dir_ / "dest").string()}, 1, "No camera connected.");
  }
}

TEST_F(CameraCliTest, ImportCopiesScansAndStampsOnlyTheNewItems) {
  // An item already in the catalog gets no stamps.
  Ok({"add", catalog_, Photo("Pentax_K10D.jpg", "mine.jpg")});
  Json report = JsonOf(Import({"--author", "Ann Example", "--copyright", "© 2026 Ann", "--instructions",
                               "No crops"}));
  EXPECT_EQ(report["added"], 3);
  EXPECT_EQ(report["scanned"], 3);
  ASSERT_EQ(report["files"].size(), 3u);
  std::vector<long long> new_ids;
  for (const Json& f : report["files"]) {
    EXPECT_EQ(f["result"], "downloaded");
    EXPECT_EQ(ReadAll(f["target"].get<std::string>()), ReadAll(kPhotos / f["name"].get<std::string>()));
    new_ids.push_back(f["id"].get<long long>());
  }
  EXPECT_EQ(Find("Author", "Ann Example"), new_ids);
  EXPECT_EQ(Find("Copyright", "© 2026 Ann"), new_ids);
  EXPECT_EQ(Find("Instructions", "No crops"), new_ids);
  EXPECT_TRUE(Find("Credit", "Ann Example").empty());

  // The items are scanned: the list knows their sizes.
  const Json items = List(catalog_);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[1]["width"], 100);

  // Skip: a second import adds nothing and leaves the copies as they are.
  fs::permissions(dir_ / "dest" / "DSCN0010.jpg", fs::perms::owner_write, fs::perm_options::add);
  std::ofstream(dir_ / "dest" / "DSCN0010.jpg", std::ios::trunc) << "edited";
  report = JsonOf(Import({"--skip-same"}));
  EXPECT_EQ(report["added"], 0);
  for (const Json& f : report["files"]) EXPECT_EQ(f["result"], "skipped");
  EXPECT_EQ(ReadAll(dir_ / "dest" / "DSCN0010.jpg"), "edited");

  // Without it, both files are kept.
  report = JsonOf(Import({"--no-scan"}));
  EXPECT_EQ(report["added"], 3);
  EXPECT_EQ(ReadAll(dir_ / "dest" / "DSCN0010.jpg"), "edited");
  EXPECT_EQ(ReadAll(dir_ / "dest" / "DSCN0010-2.jpg"), ReadAll(kPhotos / "DSCN0010.jpg"));
  EXPECT_EQ(List(catalog_).size(), 7u);
}

TEST_F(CameraCliTest, DeleteLockAndCaptureDate) {
  Json report = JsonOf(Import({"--delete", "--lock", "--set-date", "--no-scan"}));
  EXPECT_EQ(report["added"], 3);
  for (const Json& f : report["files"]) EXPECT_TRUE(f["deleted"].get<bool>());
  EXPECT_TRUE(fs::is_empty(card_));
  // gphoto2 sees the camera empty too.
  EXPECT_EQ(CaptureCommand("gphoto2 --port '" + port_ + "' --camera 'Directory Browse' -L").find(".jpg"),
            std::string::npos);
  for (const std::string& name : kSources) {
    const fs::path copy = dir_ / "dest" / name;
    EXPECT_EQ(ReadAll(copy), ReadAll(kPhotos / name));
    EXPECT_EQ(fs::status(copy).permissions() & (fs::perms::owner_write | fs::perms::group_write |
                                                 fs::perms::others_write),
              fs::perms::none);
    // The modification date is the capture date, read as local time.
    std::string date = CaptureCommand("exiftool -s3 -DateTimeOriginal '" + (kPhotos / name).string() + "'");
    std::tm t{};
    ASSERT_NE(strptime(date.c_str(), "%Y:%m:%d %H:%M:%S", &t), nullptr) << date;
    t.tm_isdst = -1;
    struct stat st {};
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, std::mktime(&t)) << name;
  }
  // The options are the catalog's next time: --dest may be left out.
  fs::copy_file(kPhotos / "Pentax_K10D.jpg", card_ / "Pentax_K10D.jpg");
  report = JsonOf({"camera", "import", catalog_, "--port", port_, "--no-scan"});
  EXPECT_EQ(report["destination"], (dir_ / "dest").string());
  EXPECT_TRUE(fs::exists(dir_ / "dest" / "Pentax_K10D.jpg"));
}

TEST_F(CameraCliTest, AFailedTransferIsReportedAndTheRestGoOn) {
  // A file the camera lists but cannot read: a socket.
  const std::string broken = (card_ / "BROKEN.JPG").string();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(broken.size(), sizeof address.sun_path);
  broken.copy(address.sun_path, broken.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);

  const Json report =
      Json::parse(Fails(Import({"--delete", "--no-scan", "--json"}), 1, "1 file couldn't be transferred").out);
  EXPECT_EQ(report["added"], 3);
  int failed = 0;
  for (const Json& f : report["files"]) {
    if (f["name"] == "BROKEN.JPG") {
      ++failed;
      EXPECT_EQ(f["result"], "failed");
      EXPECT_FALSE(f["deleted"].get<bool>());
      EXPECT_TRUE(f["target"].is_null());
      EXPECT_FALSE(f["error"].is_null());
    } else {
      EXPECT_TRUE(f["deleted"].get<bool>());
    }
  }
  EXPECT_EQ(failed, 1);
  // Only the unreadable file is left on the camera, and nothing of it in DEST.
  EXPECT_EQ(std::distance(fs::directory_iterator(card_), fs::directory_iterator()), 1);
  EXPECT_TRUE(fs::is_socket(broken));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "dest"), fs::directory_iterator()), 3);
  EXPECT_EQ(List(catalog_).size(), 3u);
}

TEST_F(CameraCliTest, Refusals) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"camera"}, {"camera", "erase"}, {"camera", "import"}, {"camera", "list", "extra"},
           Import({"--author", std::string(256, 'a')})}) {
    Fails(args, 2);
  }
  Fails({"camera", "import", catalog_, "--port", port_, "--dest", (dir_ / "nowhere").string()}, 1, "couldn't be found");
  Fails({"camera", "import", catalog_, "--port", "disk:" + (dir_ / "nocard").string(), "--dest",
         (dir_ / "dest").string()}, 1);
  // Nothing was taken from the camera by the failed runs.
  EXPECT_EQ(List(catalog_).size(), 0u);
  EXPECT_EQ(std::distance(fs::directory_iterator(card_), fs::directory_iterator()), 3);
}

}  // namespace
