// SPDX-License-Identifier: GPL-3.0-or-later
// The faults a reliability probe found in norvo-cli, each run as a user
// would meet it: catalogs held by another process or left locked by killed
// ones, catalogs that can only be viewed, FIFOs named like photos, damaged
// cells, files that are not catalogs, leftovers of killed runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/catalog_document.h"
#include "platform/byte_io.h"
#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo;
using namespace norvo::cli_testing;

class SharingCliTest : public CliHarness {
 protected:
  void SetUp() override {
    CliHarness::SetUp();
    NewCatalog({Photo("Canon_40D.jpg", "Canon_40D.jpg"), Photo("Nikon_D70.jpg", "Nikon_D70.jpg"),
                Photo("DSCN0010.jpg", "DSCN0010.jpg")});
  }
  int Items() { return static_cast<int>(List(catalog_).size()); }
};

// Fault: a killed opener left an empty LockFile in every slot, and every
// later open failed with err::kPermission for good.
TEST_F(SharingCliTest, LockFilesOfKilledRunsNeverLockTheCatalogOut) {
  for (int slot = 0; slot < 10; ++slot) {
    std::ofstream(dir_ / (".test.nrk_" + std::to_string(slot))) << (slot % 2 == 0 ? "" : "NORVO LOCK");
  }
  EXPECT_EQ(Items(), 3);
  Ok({"label", catalog_, "1", "Red"});
  EXPECT_EQ(List(catalog_)[0]["label"], 1);
}

// Fault: two commands started together both succeeded and one change was
// lost. A changer now waits for the other; with no time to wait it fails
// and says why, and nothing is lost in either case.
TEST_F(SharingCliTest, AChangerWaitsForAnotherAndNeverLosesAnUpdate) {
  app::CatalogDocument other;
  catalog::OpenOptions change;
  change.exclusive = true;
  ASSERT_TRUE(other.open(catalog_, std::nullopt, {}, change).ok());
  Fails({"--wait", "0", "label", catalog_, "2", "Blue"}, 1, "is in use by another program");
  Fails({"--wait", "0", "list", catalog_}, 1);  // a viewer must not read a catalog in the middle of a change
  ASSERT_EQ(catalog::SetItemLabel(*other, 1, 4), err::kNone);
  ASSERT_TRUE(other.save().ok());
  other.close(catalog::CloseSettings::kLeave);
  Ok({"label", catalog_, "2", "Blue"});
  Json list = List(catalog_);
  EXPECT_EQ(list[0]["label"], 4);
  EXPECT_EQ(list[1]["label"], 3);
}

// Fault: a catalog on read-only media could not even be listed.
TEST_F(SharingCliTest, AProtectedCatalogIsViewedButNotChanged) {
  const std::string before = ReadAll(catalog_);
  fs::permissions(catalog_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(Items(), 3);
  EXPECT_EQ(Ok({"find", catalog_, "Canon"}), "1\n");
  Fails({"label", catalog_, "1", "Red"}, 1, "can't be changed");
  Ok({"save-as", catalog_, (dir_ / "mine.nrk").string()});
  EXPECT_EQ(ReadAll(catalog_), before);
  fs::permissions(catalog_, fs::perms::owner_write, fs::perm_options::add);
}

// Fault: a FIFO named like a photo or a catalog blocked these forever.
TEST_F(SharingCliTest, FifosAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo((dir_ / "f.jpg").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((dir_ / "f.nrk").c_str(), 0644), 0);
  const std::string fifo = (dir_ / "f.jpg").string();
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"preview", fifo, (dir_ / "out.jpg").string()},
           {"annotate", fifo, "Keywords=x"},
           {"list", (dir_ / "f.nrk").string()},
           {"add", catalog_, fifo}}) {
    Fails(args, 1, "(error -1302)");
  }
  EXPECT_NE(JsonOf({"metadata", fifo})[0]["error"].get<std::string>().find("-1302"), std::string::npos);
  EXPECT_TRUE(Ok({"metadata", fifo}).starts_with("Error       : "));
  fs::remove(dir_ / "f.jpg");
  fs::remove(dir_ / "f.nrk");
}

// Fault: a photo opened as a catalog was reported as a catalog with too many
// items; a protected photo was rewritten by annotate.
TEST_F(SharingCliTest, MessagesNameTheRealCause) {
  Fails({"list", (dir_ / "Canon_40D.jpg").string()}, 1, "'Canon_40D.jpg' is not a Norvo Media catalog.");
  Fails({"list", (dir_ / "none.nrk").string()}, 1, "The catalog 'none.nrk' was not found.");

  const fs::path locked = dir_ / "Nikon_D70.jpg";
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string before = ReadAll(locked);
  Fails({"annotate", locked.string(), "Keywords=x"}, 1, "(error -45)");
  EXPECT_EQ(ReadAll(locked), before);
  fs::permissions(locked, fs::perms::owner_write, fs::perm_options::add);
}

// Fault: `check` passed a catalog whose cell pointed outside the file while
// `list` failed for every item.
TEST_F(SharingCliTest, CheckFindsAnUnreadableCellAndRepairsIt) {
  const std::string text = ReadAll(catalog_);
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  ByteReader tail(std::span<const std::uint8_t>(bytes).last(4));
  std::size_t pos = tail.u32be();
  bool patched = false;
  while (!patched && pos + 8 <= bytes.size() - 8) {
    ByteReader head(std::span<const std::uint8_t>(bytes).subspan(pos, 8));
    const std::uint32_t tag = head.u32be();
    const std::uint32_t length = head.u32be();
    if (tag == FourCC("CELL")) {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos + 8 + 12), 4, 0xFF);  // the second cell's offset
      patched = true;
    }
    pos += 8 + length;
  }
  ASSERT_TRUE(patched);
  std::ofstream(catalog_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
  const CliResult check = Fails({"check", catalog_}, 1);
  EXPECT_NE(check.out.find("problem: item 2 (position 2): its record at offset 4294967295"), std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("repair: the item is removed"), std::string::npos);
  Ok({"check", catalog_, "--repair"});
  EXPECT_EQ(Items(), 2);
  Ok({"check", catalog_});
}

// Fault: killed runs left ScratchFiles of megabytes in the temporary folder
// and copies of photos beside them, and nothing removed them.
TEST_F(SharingCliTest, LeftoversOfKilledRunsGoAtTheNextStart) {
  // A process number that cannot exist (above the kernel's limit).
  const std::string dead = "4194399";
  const fs::path scratch = dir_ / "scratch" / ("Norvo Scratch " + dead + "-1.tmp");
  std::ofstream(scratch) << "records";
  const fs::path copy = dir_ / ".Canon_40D.jpg.norvo-a1B2c3";
  fs::copy_file(dir_ / "Canon_40D.jpg", copy);
  const fs::path claims = dir_ / "xdg" / "data" / "Norvo" / "Temporaries";
  fs::create_directories(claims);
  std::ofstream(claims / (dead + "-1")) << copy.string();
  // A ScratchFile whose process lives (this test's) stays.
  const fs::path live = dir_ / "scratch" / ("Norvo Scratch " + std::to_string(::getpid()) + "-1.tmp");
  std::ofstream(live) << "records";

  Ok({"info", catalog_});
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_TRUE(fs::is_empty(claims));
  EXPECT_TRUE(fs::exists(live));
  fs::remove(live);
}

}  // namespace
