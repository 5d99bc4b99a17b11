// SPDX-License-Identifier: GPL-3.0-or-later
// The stored preferences reach the code that acts on them: a block saved in
// the settings store, loaded and applied as start-up does, changes how
// catalogs are created, saved, opened and sorted.
#include "app/engine_preferences.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/catalog_document.h"
#include "app/test_environment.h"
#include "catalog/rollback_journal.h"

namespace norvo::app {
namespace {

class EnginePreferencesTest : public ::testing::Test {
 protected:
  // Stores `block` and applies what loading it gives, as start-up does.
  static void StoreAndApply(const PreferencesBlock& block) {
    SettingsStore store = SettingsStore::Open();
    ASSERT_EQ(SavePreferences(store, block, {}), err::kNone);
    ApplyPreferences(LoadPreferences(SettingsStore::Open(), std::nullopt).preferences);
  }
  void TearDown() override { ApplyPreferences(PreferencesBlock::Defaults()); }

  std::string Catalog(const std::string& name) const { return env_.root() + "/" + name; }

  testing::IsolatedEnvironment env_{"engine-prefs"};
};

TEST_F(EnginePreferencesTest, OutOfRangeBytesAreReadAsTheirResetValues) {
  PreferencesBlock block = PreferencesBlock::Defaults();
  block.setU8(pref::kBusyWait, 9);
  block.setU8(pref::kJournalKeeping, 7);
  block.setU8(pref::kSortStrength, 0);
  block.setI32(pref::kScanJobs, 100000);
  block.setI32(pref::kSaveReserve, 4096);  // 4 MB: valid
  StoreAndApply(block);
  const catalog::EngineSettings& s = catalog::GetEngineSettings();
  EXPECT_EQ(s.busy_wait_ms, 30000);
  EXPECT_EQ(s.journal, catalog::JournalKeeping::kUntilClose);
  EXPECT_EQ(s.save_reserve_bytes, 4096 * 1024);
  EXPECT_EQ(ImportPreferencesInUse().scan_jobs, 0);
  // Below the engine's minimum, the minimum stands.
  block.setI32(pref::kSaveReserve, 1);
  EXPECT_EQ(EngineSettingsFrom(block).save_reserve_bytes, catalog::kSaveHeadroom);
}

// The import options set on one catalog become what the next new catalog
// starts from, across a restart.
TEST_F(EnginePreferencesTest, NewCatalogsStartFromTheStoredImportOptions) {
  ApplyPreferences(PreferencesBlock::Defaults());
  CatalogDocument doc;
  ASSERT_TRUE(doc.createUntitled().ok());
  EXPECT_EQ(doc->import_options.bytes, catalog::ImportOptions::Defaults().bytes);

  catalog::ImportOptions chosen = catalog::ImportOptions::Defaults();
  chosen.setNumber(4, 0x80000000u);  // one class only
  chosen.setNumber(100, 2048);       // size filter value
  SettingsStore store = SettingsStore::Open();
  ASSERT_EQ(SetDefaultImportOptions(store, chosen), err::kNone);
  ApplyPreferences(PreferencesBlock::Defaults());  // forget, then load as a new run does
  ApplyPreferences(LoadPreferences(SettingsStore::Open(), std::nullopt).preferences);
  ASSERT_TRUE(doc.createUntitled().ok());
  EXPECT_EQ(doc->import_options.bytes, chosen.bytes);
  doc.close(catalog::CloseSettings::kLeave);
}

// With journal keeping 2 nothing stays beside the catalog between saves;
// with 1 the emptied journal stays until the catalog closes.
TEST_F(EnginePreferencesTest, JournalKeepingDecidesWhatStaysBesideTheCatalog) {
  for (std::uint8_t keeping : {1, 2}) {
    SCOPED_TRACE(static_cast<int>(keeping));
    PreferencesBlock block = PreferencesBlock::Defaults();
    block.setU8(pref::kJournalKeeping, keeping);
    StoreAndApply(block);
    const std::string path = Catalog("keep" + std::to_string(keeping) + ".nrk");
    CatalogDocument doc;
    ASSERT_TRUE(doc.createUntitled().ok());
    ASSERT_TRUE(doc.saveAs(path).ok());
    doc.close(catalog::CloseSettings::kLeave);
    ASSERT_TRUE(doc.open(path, std::nullopt, {}, catalog::OpenOptions{.exclusive = true}).ok());
    doc->markChanged();
    ASSERT_TRUE(doc.save().ok());
    EXPECT_EQ(std::filesystem::exists(catalog::JournalPath(path)), keeping == 1);
    doc.close(catalog::CloseSettings::kLeave);
    EXPECT_FALSE(std::filesystem::exists(catalog::JournalPath(path)));
  }
}

// An open that names no wait of its own waits as long as the engine says.
TEST_F(EnginePreferencesTest, OpeningWaitsAsLongAsTheEngineSays) {
  const std::string path = Catalog("busy.nrk");
  CatalogDocument holder;
  ASSERT_TRUE(holder.createUntitled().ok());
  ASSERT_TRUE(holder.saveAs(path).ok());
  holder.close(catalog::CloseSettings::kLeave);
  ASSERT_TRUE(holder.open(path, std::nullopt, {}, catalog::OpenOptions{.exclusive = true}).ok());
  catalog::EngineSettings quick;
  quick.busy_wait_ms = 100;
  catalog::SetEngineSettings(quick);
  CatalogDocument second;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(second.open(path, std::nullopt).code, err::kOpenForWriting);
  // Well under the 30 s of the built-in setting: the engine's value was used.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  holder.close(catalog::CloseSettings::kLeave);
}

TEST_F(EnginePreferencesTest, SortStrengthDecidesWhatOrderTellsApart) {
  const std::pair<std::uint8_t, std::array<bool, 2>> cases[] = {
      // strength byte, {"resume" equals "Résumé", "a" equals "A"}
      {1, {true, true}},
      {2, {false, true}},
      {3, {false, false}},
  };
  for (const auto& [byte, equal] : cases) {
    SCOPED_TRACE(static_cast<int>(byte));
    PreferencesBlock block = PreferencesBlock::Defaults();
    block.setU8(pref::kSortStrength, byte);
    StoreAndApply(block);
    EXPECT_EQ(UserCollator(false).compare("resume", "R\u00E9sum\u00E9") == 0, equal[0]);
    EXPECT_EQ(UserCollator(true).compare("a", "A") == 0, equal[1]);
  }
}

}  // namespace
}  // namespace norvo::app
