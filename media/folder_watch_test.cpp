// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/folder_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "catalog/catalog.h"
#include "media/import_test_support.h"

namespace norvo::media {
namespace {

using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

TEST(WatchPacer, PauseFollowsTheAverageStepTime) {
  WatchPacer p;
  EXPECT_DOUBLE_EQ(p.pause(), 0.001);
  // Slow steps double the pause up to 0.1 s.
  std::vector<double> pauses;
  for (int i = 0; i < 9; ++i) pauses.push_back(p.step(0.05));
  EXPECT_DOUBLE_EQ(pauses[0], 0.002);
  EXPECT_DOUBLE_EQ(pauses[5], 0.064);
  EXPECT_DOUBLE_EQ(pauses[6], 0.1);
  EXPECT_DOUBLE_EQ(pauses[8], 0.1);
  // Instant steps scale the average by 0.3: about 0.015 (still slow), then
  // 0.0045 (steady).
  const double slow = p.average();
  EXPECT_NEAR(slow, 0.05, 1e-5);
  EXPECT_DOUBLE_EQ(p.step(0), 0.1);
  EXPECT_NEAR(p.average(), 0.3 * slow, 1e-12);
  EXPECT_DOUBLE_EQ(p.step(0), 0.1);
  EXPECT_NEAR(p.average(), 0.09 * slow, 1e-12);
  // Below 0.2 ms it shrinks by 0.1 ms a step, to no less than 0.5 ms.
  p.step(0);
  p.step(0);  // average 0.0004: still steady
  EXPECT_DOUBLE_EQ(p.pause(), 0.1);
  EXPECT_NEAR(p.step(0), 0.0999, 1e-12);
  for (int i = 0; i < 2000; ++i) p.step(0);
  EXPECT_DOUBLE_EQ(p.pause(), 0.0005);

  EXPECT_EQ(WatchCheckDelay(WatchRate::kEveryFiveMinutes, true), 100ms);
  EXPECT_EQ(WatchCheckDelay(WatchRate::kContinuous, false), 100ms);
  EXPECT_EQ(WatchCheckDelay(WatchRate::kEveryMinute, false), 60s);
  EXPECT_EQ(WatchCheckDelay(WatchRate::kEveryFiveMinutes, false), 300s);
}

class FolderWatchTest : public testing::ImportTestBase {
 protected:
  // Waits (at most a few seconds) for the watcher's next complete listing.
  static std::optional<WatchListing> Listing(FolderWatcher& w) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (auto listing = w.take()) return listing;
      std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
  }
  // "name=code" for each entry, sorted.
  static Strings Described(const std::vector<WatchedEntry>& entries) {
    Strings out;
    for (const WatchedEntry& e : entries) {
      out.push_back(LeafName(e.path) + "=" + (e.code == 0 ? "0" : FourCCToString(e.code)));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  Strings Relative(const Strings& paths) const {
    Strings out;
    for (const std::string& p : paths) out.push_back(p.substr(root_.size() + 1));
    return out;
  }
};

TEST_F(FolderWatchTest, ListsAndClassifiesEveryEntry) {
  Write("a.jpg");
  Write("b.JPG");
  Write("empty.jpg", 0);
  Write("notes.txt");  // Text: not in the default class mask
  Write(".dot.jpg");
  Write("sub/inner.jpg");
  MakeFolder(".cache");
  Link(At("sub"), "folder-link");
  Link(At("a.jpg"), "file-link");
  ImportSettings options = Settings();
  options.ignore_invisible = 1;
  options.enable(ImportFilter::kName, true);
  options.setOp(ImportFilter::kName, name_op::kDoesNotContain);
  options.name_text.set("JPG");

  FolderWatcher watcher(root_ + "/", options);
  auto listing = Listing(watcher);
  ASSERT_TRUE(listing);
  EXPECT_TRUE(listing->available);
  EXPECT_EQ(Described(listing->files), (Strings{".dot.jpg=0", "a.jpg=JPEG", "b.JPG=0", "empty.jpg=0",
                                                "file-link=JPEG", "folder-link=0", "notes.txt=0"}));
  EXPECT_EQ(Described(listing->folders), (Strings{".cache=0", "sub=fldr"}));
  const auto link = std::find_if(listing->files.begin(), listing->files.end(),
                                 [](const WatchedEntry& e) { return e.path.ends_with("file-link"); });
  ASSERT_NE(link, listing->files.end());
  EXPECT_EQ(link->catalog_path, At("a.jpg"));
  EXPECT_GE(watcher.pause(), WatchPacer::kShortestPause);
  EXPECT_LE(watcher.pause(), WatchPacer::kLongestPause);

  FolderWatcher missing(At("no-such-folder"), options);
  listing = Listing(missing);
  ASSERT_TRUE(listing);
  EXPECT_FALSE(listing->available);
  EXPECT_TRUE(CompareWithCatalog(*catalog_, At("no-such-folder"), *listing).empty());
}

TEST_F(FolderWatchTest, StopsPromptlyInTheMiddleOfALongListing) {
  for (int i = 0; i < 300; ++i) Write("f" + std::to_string(i) + ".jpg");
  ImportSettings options = Settings();
  FolderWatcher watcher(root_, options);
  std::this_thread::sleep_for(10ms);
  watcher.stop();
  // A stopped watcher never finishes its listing.
  EXPECT_FALSE(watcher.take().has_value());
  watcher.stop();  // stopping twice is harmless
}

TEST_F(FolderWatchTest, DifferencesWithTheCatalog) {
  Write("kept.jpg");
  Write("Doomed.jpg");
  Write("old/inside.jpg");
  Write("nested/deeper/x.jpg");
  ASSERT_EQ(Import({root_}), err::kNone);
  ASSERT_EQ(catalog_->itemCount(), 4);

  std::filesystem::remove(At("Doomed.jpg"));
  Write("new.jpg");
  Write("DOOMED.JPG.txt");  // not media: neither new nor does it keep the item
  Write("new-folder/y.jpg");
  MakeFolder("Temporary Internet Files");
  FolderWatcher watcher(root_, Settings());
  auto listing = Listing(watcher);
  ASSERT_TRUE(listing);
  FolderDifferences d = CompareWithCatalog(*catalog_, root_, *listing);
  EXPECT_EQ(Relative(d.new_files), (Strings{"new.jpg"}));
  EXPECT_EQ(Relative(d.new_folders), (Strings{"new-folder"}));
  ASSERT_EQ(d.gone_items.size(), 1u);
  EXPECT_EQ(catalog::ItemPath(*catalog_, catalog_->cellOf(d.gone_items[0])), At("Doomed.jpg"));

  // Taking a listing starts the next one; the one after a change sees it.
  // A file renamed only in case is the same file to the catalog.
  std::filesystem::rename(At("kept.jpg"), At("KEPT.jpg"));
  Listing(watcher);  // may have been under way during the change
  listing = Listing(watcher);
  ASSERT_TRUE(listing);
  d = CompareWithCatalog(*catalog_, root_ + "/", *listing);
  EXPECT_EQ(Relative(d.new_files), (Strings{"new.jpg"}));
  EXPECT_EQ(d.gone_items.size(), 1u);

  int added = 0;
  EXPECT_EQ(SynchronizeFolder(*catalog_, d, {}, &added), err::kNone);
  EXPECT_EQ(added, 2);
  listing = Listing(watcher);
  ASSERT_TRUE(listing);
  d = CompareWithCatalog(*catalog_, root_, *listing);
  EXPECT_TRUE(d.new_files.empty());
  EXPECT_TRUE(d.new_folders.empty());
}

TEST_F(FolderWatchTest, WatchSetReportsAndImportsAtItsRate) {
  Write("a/one.jpg");
  Write("b/one.jpg");
  ASSERT_EQ(Import({At("a"), At("b")}), err::kNone);
  Write("a/two.jpg");
  Write("b/two.jpg");

  FolderWatchSet set(*catalog_);
  const auto start = std::chrono::steady_clock::now();
  set.watch(At("a"), WatchRate::kEveryMinute, false, start);
  set.watch(At("b") + "/", WatchRate::kEveryMinute, true, start);
  set.watch(At("b"), WatchRate::kEveryMinute, true, start);  // replaces the watcher
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(set.nextDue(), start + 100ms);
  EXPECT_TRUE(set.poll(start + 99ms).empty());  // not due yet

  // Poll as the timer would until both listings are in.
  std::vector<FolderWatchSet::Report> reports;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  const auto due = start + 100ms;
  while (reports.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    for (auto& r : set.poll(due)) reports.push_back(std::move(r));
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(reports.size(), 2u);
  std::sort(reports.begin(), reports.end(), [](const auto& x, const auto& y) { return x.folder < y.folder; });
  EXPECT_EQ(reports[0].folder, At("a"));
  EXPECT_EQ(Relative(reports[0].differences.new_files), (Strings{"a/two.jpg"}));
  EXPECT_FALSE(reports[0].synchronized);
  EXPECT_TRUE(reports[1].synchronized);
  EXPECT_EQ(reports[1].added, 1);
  EXPECT_EQ(Items(), (Strings{"a/one.jpg", "b/one.jpg", "b/two.jpg"}));
  // The next check of a folder comes a minute after its last.
  EXPECT_EQ(set.nextDue(), due + 60s);
  EXPECT_TRUE(set.poll(due + 59s).empty());

  set.unwatch(At("a"));
  EXPECT_EQ(set.size(), 1u);
  set.stopAll();
  EXPECT_FALSE(set.nextDue().has_value());
}

}  // namespace
}  // namespace norvo::media
