// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/test_environment.h"
#include "app/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/catalog_document.h"

namespace norvo::app {
namespace {

namespace fs = std::filesystem;

// Every test runs with its own XDG folders, home and temporary folder.
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.emplace("startup");
    root_ = env_->root();
    std::string suffix = std::to_string(::getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    options_.names = InstanceNames{"norvo-test-lock-" + suffix, "norvo-test-msg-" + suffix, "norvo-test-chan-" + suffix};
    options_.single_instance = false;
    options_.args = {"norvo"};
  }
  void TearDown() override {
    SetScratchFolder("");
    CmdLineMap::removeNamedObjects(options_.names.channel);
    env_.reset();
  }
  void touch(const std::string& path) { std::ofstream(path) << "x"; }

  std::string root_;
  StartupOptions options_;
  std::optional<testing::IsolatedEnvironment> env_;
};

TEST(SystemCheck, RefusesKernelsWithoutOpenFileDescriptionLocks) {
  EXPECT_NE(CheckSystem(SystemVersion{3, 14}), "");
  EXPECT_NE(CheckSystem(SystemVersion{2, 99}).find("Linux 3.15"), std::string::npos);
  EXPECT_EQ(CheckSystem(SystemVersion{3, 15}), "");
  EXPECT_EQ(CheckSystem(SystemVersion{6, 1}), "");
  EXPECT_EQ(CheckSystem(std::nullopt), "");
}

TEST_F(StartupTest, RecentListKeepsTenNewestFirstAndSkipsEmptyValues) {
  SettingsStore store = SettingsStore::Open();
  RecentFiles recent;
  for (int i = 1; i <= 12; ++i) recent.add("/c/" + std::to_string(i) + ".nrk");
  recent.add("/c/5.nrk");  // moves to the top
  ASSERT_EQ(recent.paths().size(), kMaxRecentFiles);
  EXPECT_EQ(recent.paths()[0], "/c/5.nrk");
  EXPECT_EQ(recent.paths()[1], "/c/12.nrk");
  EXPECT_EQ(recent.paths().back(), "/c/3.nrk");  // 1 and 2 fell off
  ASSERT_EQ(recent.store(store), err::kNone);

  ASSERT_EQ(store.putString(kRecentFilesKey, "Recent2", ""), err::kNone);  // an empty slot is passed over
  RecentFiles loaded;
  loaded.load(store);
  ASSERT_EQ(loaded.paths().size(), kMaxRecentFiles - 1);
  EXPECT_EQ(loaded.paths()[1], "/c/11.nrk");

  RecentFiles shorter;
  shorter.add("/only.nrk");
  ASSERT_EQ(shorter.store(store), err::kNone);  // the names past its end go
  loaded.load(store);
  EXPECT_EQ(loaded.paths(), std::vector<std::string>{"/only.nrk"});
}

TEST_F(StartupTest, FirstRunStampsSettingsAndLaterRunsKeepThem) {
  StartupState first = InitInstance(options_);
  ASSERT_EQ(first.outcome, StartupOutcome::kRun) << first.failure;
  EXPECT_TRUE(first.first_run);
  EXPECT_NE(first.preferences.preferences.firstRun(), 0u);
  EXPECT_EQ(first.scratch_folder, root_ + "/tmp");
  EXPECT_EQ(ScratchFolder(), root_ + "/tmp");
  EXPECT_EQ(first.request.kind, CommandLineRequest::Kind::kNothing);
  EXPECT_FALSE(first.reopen_catalog.has_value());
  EXPECT_EQ(first.importer_folders.size(), 3u);
  EXPECT_EQ(first.importer_folders[1], root_ + "/data/Norvo/Importers");
  EXPECT_EQ(first.labels[0].name, "Red");
  const std::uint32_t stamp = first.preferences.preferences.firstRun();
  first.settings.reset();

  StartupState second = InitInstance(options_);
  ASSERT_EQ(second.outcome, StartupOutcome::kRun);
  EXPECT_FALSE(second.first_run);
  EXPECT_EQ(second.preferences.preferences.firstRun(), stamp);
}

TEST_F(StartupTest, UpdateAddressComesFromTheSettingsWhenSet) {
  SettingsStore store = SettingsStore::Open();
  EXPECT_EQ(ConfiguredUpdateUrl(store), std::string(kDefaultUpdateUrl));
  ASSERT_EQ(store.putString(kUpdateUrlKey, kUpdateUrlValue, "http://127.0.0.1:9/u.txt"), err::kNone);
  EXPECT_EQ(ConfiguredUpdateUrl(store), "http://127.0.0.1:9/u.txt");
}

TEST_F(StartupTest, StoredScratchFolderIsUsedOnlyWhileItExists) {
  std::string chosen = root_ + "/scratch";
  fs::create_directories(chosen);
  {
    SettingsStore store = SettingsStore::Open();
    ASSERT_EQ(store.putString(kScratchFolderKey, "", chosen), err::kNone);
  }
  EXPECT_EQ(InitInstance(options_).scratch_folder, chosen);
  fs::remove(chosen);
  EXPECT_EQ(InitInstance(options_).scratch_folder, root_ + "/tmp");
}

TEST_F(StartupTest, CommandLineAndStartupChoiceDecideWhatOpens) {
  std::string catalog = root_ + "/My Photos.NRK";
  touch(catalog);
  {
    SettingsStore store = SettingsStore::Open();
    ASSERT_EQ(store.putString(kLastCatalogKey, "", catalog), err::kNone);
    LoadedPreferences prefs = LoadPreferences(store, std::nullopt);
    prefs.preferences.setU8(pref::kStartupChoice, kStartupReopenLastCatalog);
    ASSERT_EQ(SavePreferences(store, prefs.preferences, prefs.recover), err::kNone);
  }
  StartupState s = InitInstance(options_);
  EXPECT_EQ(s.last_catalog, catalog);
  EXPECT_EQ(s.reopen_catalog, catalog);

  options_.args = SplitCommandLine("norvo \"" + catalog + "\" ignored.jpg");
  s = InitInstance(options_);
  EXPECT_EQ(s.request.kind, CommandLineRequest::Kind::kOpenCatalog);
  EXPECT_EQ(s.request.paths, std::vector<std::string>{catalog});
  EXPECT_FALSE(s.reopen_catalog.has_value());  // that very catalog opens once

  // Fault: the last catalog was reopened only when the command line was
  // empty; it reopens beside what the command line asks.
  options_.args = {"norvo", root_ + "/other.nrk"};
  touch(root_ + "/other.nrk");
  s = InitInstance(options_);
  EXPECT_EQ(s.request.kind, CommandLineRequest::Kind::kOpenCatalog);
  EXPECT_EQ(s.reopen_catalog, catalog);

  options_.args = {"norvo", root_ + "/a.jpg", root_ + "/folder"};
  s = InitInstance(options_);
  EXPECT_EQ(s.request.kind, CommandLineRequest::Kind::kAddFiles);
  EXPECT_EQ(s.request.paths.size(), 2u);

  fs::remove(catalog);  // a last catalog that is gone is not reopened
  options_.args = {"norvo"};
  EXPECT_FALSE(InitInstance(options_).reopen_catalog.has_value());
}

// Fault: "LastCatalog", the recent list and the label names were read at
// start and never written back.
TEST_F(StartupTest, WhatTheProgramLeftIsThereAtTheNextStart) {
  StartupState s = InitInstance(options_);
  ASSERT_EQ(s.outcome, StartupOutcome::kRun) << s.failure;
  s.last_catalog = root_ + "/last.nrk";
  s.recent.add(root_ + "/a.nrk");
  s.recent.add(root_ + "/b.nrk");
  s.labels[0].name = "Urgent";  // label 1
  ASSERT_EQ(ExitInstance(s), err::kNone);
  StartupState next = InitInstance(options_);
  EXPECT_EQ(next.last_catalog, root_ + "/last.nrk");
  EXPECT_EQ(next.recent.paths(), (std::vector<std::string>{root_ + "/b.nrk", root_ + "/a.nrk"}));
  EXPECT_EQ(next.labels[0].name, "Urgent");
}

TEST_F(StartupTest, ASecondLaunchHandsItsCatalogToTheFirstAndEnds) {
  options_.single_instance = true;
  StartupState first = InitInstance(options_);
  ASSERT_EQ(first.outcome, StartupOutcome::kRun) << first.failure;
  ASSERT_TRUE(first.instance);

  std::string received;
  std::thread running([&] {
    for (int i = 0; i < 50 && received.empty(); ++i) {
      first.instance->poll(100, [&](const std::string& text) { received = text; });
    }
  });
  StartupOptions later = options_;
  later.args = {"norvo", root_ + "/Shared.nrk"};
  touch(root_ + "/Shared.nrk");
  StartupState second = InitInstance(later);
  running.join();
  EXPECT_EQ(second.outcome, StartupOutcome::kHandedOver);
  EXPECT_FALSE(second.settings);  // it ended before loading anything
  CommandLineRequest request = ClassifyCommandLine(SplitCommandLine(received));
  EXPECT_EQ(request.kind, CommandLineRequest::Kind::kOpenCatalog);
  EXPECT_EQ(request.paths, std::vector<std::string>{root_ + "/Shared.nrk"});
}

}  // namespace
}  // namespace norvo::app
