// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/backup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fields/find_sort.h"
#include "output/catalog_folder_test_support.h"
#include "output/disc_image.h"
#include "output/transfer.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) { return testing::ReadFile(path); }
void Write(const std::string& path, const std::string& bytes) { testing::WriteFile(path, bytes); }

// Every file below `root` (relative path -> bytes); folders as "name/".
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    tree[e.is_directory() ? rel + "/" : rel] = e.is_directory() ? "" : Read(e.path().string());
  }
  return tree;
}

// Hidden names anywhere below `root`: what a partial copy would leave.
std::vector<std::string> HiddenNames(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.path().filename().string()[0] == '.') names.push_back(e.path().string());
  }
  return names;
}

class BackupTest : public testing::CatalogFolderTest {
 protected:
  void SetUp() override {
    CatalogFolderTest::SetUp();
    media_ = dir_ + "/media";
    dest_ = dir_ + "/stick";
    fs::create_directories(media_ + "/2004/summer");
    fs::create_directory(dest_);
    catalog_path_ = dir_ + "/Trips.nrk";
  }

  static std::string Content(const std::string& rel) { return "bytes of " + rel + std::string(5000, '#'); }
  // Files at these paths below the media folder, as items; then the
  // catalog saved as Trips.nrk.
  std::vector<std::uint32_t> AddFilesAndSave(const std::vector<std::string>& rels) {
    std::vector<std::uint32_t> ids;
    for (const std::string& rel : rels) {
      Write(media_ + "/" + rel, Content(rel));
      std::uint32_t id = 0;
      EXPECT_EQ(catalog::AddPendingItem(*catalog_, Spec(media_ + "/" + rel), &id), err::kNone);
      ids.push_back(id);
    }
    Save();
    return ids;
  }
  void Save() {
    FileSpec file = Spec(catalog_path_);
    ASSERT_EQ(catalog::SaveCatalog(*catalog_, &file, {}), err::kNone);
  }
  BackupOptions Options() const {
    BackupOptions o;
    o.destination = dest_;
    o.copy_scratch = Spec(dir_ + "/scratch/copy");
    return o;
  }
  std::string PathOf(const catalog::Catalog& c, std::uint32_t id) const {
    return catalog::ItemPath(c, c.cellOf(id)).value_or("(none)");
  }
  // Where a file of the media folder goes when the folder structure is kept.
  std::string Kept(const std::string& rel) const {
    return dest_ + "/" + PathBelowMountPoint(ParentFolder(media_ + "/" + rel)) + "/" + LeafName(rel);
  }

  std::string media_, dest_, catalog_path_;
  BackupReport report_;
};

TEST(BackupTexts, AutorunFileIsSevenCrLfLines) {
  EXPECT_EQ(AutorunText("Trips", "Trips.nrk"),
            "[autorun]\r\n"
            "icon = \\readers\\win\\NorvoReader.exe,1\r\n"
            "label = Trips\r\n"
            "open = \\readers\\win\\NorvoReader.exe Trips.nrk\r\n"
            "shell\\verb\\command = \\readers\\win\\NorvoReader.exe Trips.nrk\r\n"
            "shell\\verb = Run Catalog\r\n"
            "shell = Run Catalog\r\n");
  // Windows-1252 where it holds the name; UTF-8 where it does not.
  const std::string cafe = AutorunText("Caf\xC3\xA9", "Caf\xC3\xA9.nrk");
  EXPECT_NE(cafe.find("label = Caf\xE9\r\n"), std::string::npos);
  const std::string shashin = AutorunText("\xE5\x86\x99\xE7\x9C\x9F", "\xE5\x86\x99\xE7\x9C\x9F.nrk");
  EXPECT_NE(shashin.find("label = \xE5\x86\x99\xE7\x9C\x9F\r\n"), std::string::npos);
}

TEST(BackupTexts, CatalogNameDropsTheExtensionOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"/x/Trips.nrk", "Trips"}, {"/x/a.NRK", "a"}, {"/x/.nrk", ".nrk"}, {"/x/b.nrk.bak", "b.nrk.bak"}, {"/x/c", "c"}};
  for (auto [path, name] : cases) EXPECT_EQ(CatalogName(path), name) << path;
}

TEST(BackupTexts, DiscLabelsHoldOnlyWhatIso9660AndJolietShow) {
  const std::pair<std::string, std::string> cases[] = {
      {"Trips", "TRIPS"},
      {"Trips 2004-summer", "TRIPS_2004_SUMME"},
      {"\xE5\x86\x99\xE7\x9C\x9F photos", "___PHOTOS"},
      {"", "NORVO_BACKUP"},
      {"...", "NORVO_BACKUP"},
  };
  for (const auto& [name, want] : cases) EXPECT_EQ(DiscVolumeLabel(name), want) << name;
  EXPECT_LE(DiscVolumeLabel(std::string(100, 'a')).size(), kMaxJolietVolumeLabel);
}

TEST(BackupTexts, DeviceListingGivesEachDrive) {
  const std::string listing =
      "Beginning to scan for devices ...\n"
      "Full drive scan done\n"
      "-----------------------------------------------------------------------------\n"
      "0  -dev '/dev/sr0' rwrw-- :  'HL-DT-ST' 'DVDRAM GH24NSD1' \n"
      "1  -dev '/dev/sr1' rwrw-- :  'ASUS' 'BW-16D1HT'\n"
      "-----------------------------------------------------------------------------\n";
  const auto drives = ParseDeviceList(listing);
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].device, "/dev/sr0");
  EXPECT_EQ(drives[0].vendor, "HL-DT-ST");
  EXPECT_EQ(drives[0].model, "DVDRAM GH24NSD1");
  EXPECT_EQ(drives[1].device, "/dev/sr1");
  EXPECT_TRUE(ParseDeviceList("xorriso : SORRY : No drives found\n").empty());
}

TEST_F(BackupTest, PathBelowMountPointIsThePathOnItsOwnDisk) {
  struct stat root {}, here {};
  ASSERT_EQ(::stat("/", &root), 0);
  ASSERT_EQ(::stat(dir_.c_str(), &here), 0);
  if (root.st_dev == here.st_dev) {
    EXPECT_EQ(PathBelowMountPoint(media_ + "/2004"), media_.substr(1) + "/2004");
  }
  EXPECT_EQ(PathBelowMountPoint("/"), "");
  if (::access("/dev/shm", W_OK) == 0) {
    struct stat shm {};
    ASSERT_EQ(::stat("/dev/shm", &shm), 0);
    if (shm.st_dev != root.st_dev) {
      std::string pattern = "/dev/shm/norvo-mount-XXXXXX";
      ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
      fs::create_directory(pattern + "/DCIM");
      EXPECT_EQ(PathBelowMountPoint(pattern + "/DCIM"), LeafName(pattern) + "/DCIM");
      EXPECT_EQ(PathBelowMountPoint("/dev/shm"), "");
      fs::remove_all(pattern);
    }
  }
}

TEST_F(BackupTest, FullBackupCarriesFilesCatalogReaderAndAutorunAndTheCopyFindsItsFiles) {
  const auto ids = AddFilesAndSave({"a.jpg", "2004/b.jpg", "2004/summer/c.mov"});
  Write(dir_ + "/share/Norvo/Readers/win/NorvoReader.exe", "MZ reader");
  Write(dir_ + "/share/Norvo/Readers/win/help.txt", "help");
  BackupOptions o = Options();
  o.reset_paths = true;
  o.keep_folders = true;
  o.include_catalog = true;
  o.reader_folder = FindReaderFolder({dir_ + "/nothing", dir_ + "/share"});
  ASSERT_TRUE(o.reader_folder);
  std::vector<std::pair<BackupStage, ProgressPhase>> phases;
  auto progress = [&](BackupStage stage, ProgressPhase phase, int, int total) {
    EXPECT_EQ(total, 3);
    phases.emplace_back(stage, phase);
    return 0;
  };
  ASSERT_EQ(RunBackup(*catalog_, o, progress, &report_), err::kNone);
  EXPECT_EQ(report_.failure, BackupFailure::kNone);
  EXPECT_EQ(report_.total_bytes,
            Content("a.jpg").size() + Content("2004/b.jpg").size() + Content("2004/summer/c.mov").size());
  EXPECT_EQ(phases.front(), std::pair(BackupStage::kPreparing, ProgressPhase::kStart));
  EXPECT_EQ(phases.back(), std::pair(BackupStage::kTransferring, ProgressPhase::kEnd));

  for (const std::string rel : {"a.jpg", "2004/b.jpg", "2004/summer/c.mov"}) {
    EXPECT_EQ(Read(Kept(rel)), Content(rel)) << rel;
    EXPECT_EQ(Read(media_ + "/" + rel), Content(rel)) << "the original stays: " << rel;
  }
  // The open catalog follows its items to the copies and keeps its own file.
  EXPECT_EQ(catalog_->file_spec.path, catalog_path_);
  EXPECT_EQ(PathOf(*catalog_, ids[1]), Kept("2004/b.jpg"));
  EXPECT_EQ(Read(dest_ + "/readers/win/NorvoReader.exe"), "MZ reader");
  EXPECT_EQ(Read(dest_ + "/readers/win/help.txt"), "help");
  EXPECT_EQ(Read(dest_ + "/autorun.inf"), AutorunText("Trips", "Trips.nrk"));
  EXPECT_TRUE(report_.warnings.empty());
  EXPECT_TRUE(HiddenNames(dest_).empty());

  // The copy opens on its own and points at the backed-up files.
  ASSERT_EQ(report_.catalog_copy, dest_ + "/Trips.nrk");
  auto copy = OpenFile(report_.catalog_copy);
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->itemCount(), 3);
  for (std::uint32_t id : ids) {
    std::string found;
    bool elsewhere = true;
    ASSERT_EQ(catalog::FindItemFile(*copy, copy->cellOf(id), found, &elsewhere), err::kNone);
    EXPECT_FALSE(elsewhere);
    EXPECT_TRUE(found.starts_with(dest_ + "/")) << found;
  }
  catalog::CloseCatalog(std::move(copy), catalog::CloseSettings::kLeave);
}

TEST_F(BackupTest, WithoutResetPathsTheCopyIsTheSavedFileAndFindsFilesBesideIt) {
  const auto ids = AddFilesAndSave({"a.jpg", "b.jpg"});
  BackupOptions o = Options();
  o.include_catalog = true;
  ASSERT_EQ(RunBackup(*catalog_, o, {}, &report_), err::kNone);
  EXPECT_EQ(Read(dest_ + "/Trips.nrk"), Read(catalog_path_));
  EXPECT_EQ(PathOf(*catalog_, ids[0]), media_ + "/a.jpg");
  EXPECT_FALSE(catalog_->changed());
  // No reader installed: a warning, and the rest is done.
  ASSERT_EQ(report_.warnings.size(), 1u);
  EXPECT_FALSE(report_.reader_copied);
  EXPECT_FALSE(fs::exists(dest_ + "/readers"));
  EXPECT_TRUE(fs::exists(dest_ + "/autorun.inf"));

  // With the originals gone, the copy finds its files beside itself.
  fs::remove_all(media_);
  auto copy = OpenFile(dest_ + "/Trips.nrk");
  ASSERT_TRUE(copy);
  std::string found;
  ASSERT_EQ(catalog::FindItemFile(*copy, copy->cellOf(ids[1]), found), err::kNone);
  EXPECT_EQ(found, dest_ + "/b.jpg");
  catalog::CloseCatalog(std::move(copy), catalog::CloseSettings::kLeave);
}

TEST_F(BackupTest, AllOrVisibleItemsAndHiddenFlagsStay) {
  const auto ids = AddFilesAndSave({"shown.jpg", "hidden.jpg"});
  ASSERT_EQ(fields::SetItemHidden(*catalog_, catalog_->cellOf(ids[1]), true), err::kNone);
  BackupOptions o = Options();
  o.visible_only = true;
  ASSERT_EQ(RunBackup(*catalog_, o, {}, &report_), err::kNone);
  EXPECT_EQ(Tree(dest_), (std::map<std::string, std::string>{{"shown.jpg", Content("shown.jpg")}}));
  o.visible_only = false;
  ASSERT_EQ(RunBackup(*catalog_, o, {}, &report_), err::kNone);
  EXPECT_TRUE(fs::exists(dest_ + "/hidden.jpg"));
  ASSERT_EQ(report_.files.size(), 2u);
  EXPECT_TRUE(report_.files[0].already_there);  // the second run found it done
  EXPECT_TRUE(catalog_->cells[static_cast<std::size_t>(catalog_->cellOf(ids[1]) - 1)].hidden());
}

TEST_F(BackupTest, RefusalsComeBeforeAnythingIsCopied) {
  const auto ids = AddFilesAndSave({"a.jpg", "b.jpg", "c.jpg"});
  // A catalog with unsaved changes cannot be included.
  ASSERT_EQ(catalog::SetItemLabel(*catalog_, 1, 3), err::kNone);
  BackupOptions o = Options();
  o.include_catalog = true;
  EXPECT_NE(RunBackup(*catalog_, o, {}, &report_), err::kNone);
  EXPECT_EQ(report_.failure, BackupFailure::kNotSaved);
  Save();
  // Missing files stop the run and are named.
  fs::remove(media_ + "/b.jpg");
  EXPECT_EQ(RunBackup(*catalog_, o, {}, &report_), err::kFileNotFound);
  EXPECT_EQ(report_.failure, BackupFailure::kFilesMissing);
  EXPECT_EQ(report_.missing, std::vector<std::uint32_t>{ids[1]});
  EXPECT_TRUE(fs::is_empty(dest_));
  // A destination that is not there.
  o.destination = dir_ + "/no-such-disk";
  EXPECT_EQ(RunBackup(*catalog_, o, {}, &report_), err::kFolderNotFound);
  EXPECT_EQ(report_.failure, BackupFailure::kDestinationNotFound);
  // Too little room for the files.
  Write(media_ + "/b.jpg", Content("b.jpg"));
  o.destination = dest_;
  faults::SetFreeBytes(100);
  EXPECT_EQ(RunBackup(*catalog_, o, {}, &report_), err::kDiskFull);
  EXPECT_EQ(report_.failure, BackupFailure::kItemsNotAdded);
  EXPECT_TRUE(fs::is_empty(dest_));
}

TEST_F(BackupTest, AnotherFileOfTheNameIsNeverReplaced) {
  AddFilesAndSave({"a.jpg", "2004/a.jpg"});
  // Without the folder structure both files would be "a.jpg".
  EXPECT_EQ(RunBackup(*catalog_, Options(), {}, &report_), err::kDuplicateName);
  EXPECT_EQ(report_.failure, BackupFailure::kItemsNotAdded);
  EXPECT_EQ(Read(dest_ + "/a.jpg"), Content("a.jpg"));
  ASSERT_EQ(report_.files.size(), 1u);  // what was copied is reported and stays
}

// A disk that fills up at any write of a backup loses nothing: the
// originals stay, every item points at a whole file, no partial file stays.
TEST_F(BackupTest, FullDiskAtAnyWriteLeavesNoPartialFileAndItemsOnWholeFiles) {
  const std::vector<std::string> rels = {"a.jpg", "2004/b.jpg", "2004/summer/c.jpg"};
  const auto ids = AddFilesAndSave(rels);
  const std::string saved = Read(catalog_path_);
  bool finished = false;
  int failed_runs = 0;
  for (std::uint64_t n = 1; n <= 300 && !finished; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    fs::remove_all(dest_);
    fs::create_directory(dest_);
    catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);
    catalog_ = OpenFile(catalog_path_);
    ASSERT_TRUE(catalog_);
    BackupOptions o = Options();
    o.reset_paths = true;
    o.keep_folders = true;
    o.include_catalog = true;
    faults::FailNthWrite(n, err::kDiskFull);
    const ErrorCode e = RunBackup(*catalog_, o, {}, &report_);
    faults::Reset();
    finished = e == err::kNone;
    if (!finished) {
      EXPECT_NE(report_.failure, BackupFailure::kNone);
      ++failed_runs;
    }
    for (std::size_t i = 0; i < rels.size(); ++i) {
      EXPECT_EQ(Read(media_ + "/" + rels[i]), Content(rels[i]));
      EXPECT_EQ(Read(PathOf(*catalog_, ids[i])), Content(rels[i]));
    }
    EXPECT_TRUE(HiddenNames(dest_).empty());
    EXPECT_EQ(Read(catalog_path_), saved);  // the open catalog's file is not touched
  }
  EXPECT_TRUE(finished);
  EXPECT_GT(failed_runs, 5);  // the files, the catalog copy and its save each failed once
}

// --- discs -------------------------------------------------------------------

bool Have(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST_F(BackupTest, IsoImageReadBackMatchesTheStagingTreeByteForByte) {
  if (!Have("xorriso") || !Have("osirrox")) GTEST_SKIP() << "xorriso is not installed";
  const std::string long_name = "a rather long file name that Joliet must keep whole, 2004.jpg";
  AddFilesAndSave({"a.jpg", "2004/" + long_name, "2004/summer/Caf\xC3\xA9.mov"});
  BackupOptions o = Options();
  o.keep_folders = true;
  o.include_catalog = true;
  o.staging = BackupStaging::kLinkWhereSameDisk;
  ASSERT_EQ(RunBackup(*catalog_, o, {}, &report_), err::kNone);
  const std::string image = dir_ + "/backup.iso";
  std::vector<int> percents;
  std::string messages;
  ASSERT_EQ(WriteDiscImage(dest_, image, "Trips", [&](int p) { if (p >= 0) percents.push_back(p); return 0; },
                           &messages),
            err::kNone)
      << messages;
  EXPECT_EQ(WriteDiscImage(dest_, image, "Trips", {}), err::kDuplicateName);

  const std::string out = dir_ + "/read-back";
  const std::string command = "osirrox -indev '" + image + "' -extract / '" + out + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto staged = Tree(dest_);
  const auto read_back = Tree(out);
  EXPECT_EQ(read_back, staged);
  EXPECT_TRUE(staged.contains(Kept("2004/" + long_name).substr(dest_.size() + 1)));

  // The primary volume descriptor carries the label.
  const std::string bytes = Read(image);
  ASSERT_GT(bytes.size(), 0x8000u + 72);
  EXPECT_EQ(bytes.substr(0x8000 + 40, 5), "TRIPS");
  // Joliet: a supplementary descriptor follows the primary one.
  EXPECT_EQ(bytes[0x8800], 2);
  EXPECT_EQ(bytes.substr(0x8801, 5), "CD001");
  fs::permissions(out, fs::perms::owner_all, fs::perm_options::add);

  // A burn goes through the same writer to a drive; xorriso's "stdio:"
  // pseudo-drive (a file that acts as a blank disc) stands in for one.
  const std::string disc = dir_ + "/drive.img";
  messages.clear();
  ASSERT_EQ(BurnDisc(dest_, "stdio:" + disc, "Trips", {}, &messages), err::kNone) << messages;
  const std::string burned = dir_ + "/burned";
  ASSERT_EQ(std::system(("osirrox -indev '" + disc + "' -extract / '" + burned + "' >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(Tree(burned), staged);
  EXPECT_EQ(Read(disc).substr(0x8000 + 40, 5), "TRIPS");
  fs::permissions(burned, fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(BurnDisc(dest_, "", "Trips", {}), err::kNoSuchVolume);
  EXPECT_EQ(BurnDisc(dir_ + "/no such folder", "stdio:" + disc, "Trips", {}), err::kFolderNotFound);
}

}  // namespace
}  // namespace norvo::output
