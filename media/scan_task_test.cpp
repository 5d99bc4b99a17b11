// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/scan_task.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "media/import_test_support.h"
#include "media/media_type_registry.h"
#include "media/platform_components.h"

namespace norvo::media {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ScanTaskTest : public testing::ImportTestBase {
 protected:
  void SetUp() override {
    ImportTestBase::SetUp();
    ASSERT_EQ(InitMediaTypes(FindPlatformComponents()), err::kNone);
    const fs::path photos = fs::path(NORVO_TESTDATA_DIR) / "photos";
    for (const char* name : {"BlueSquare.jpg", "Canon_40D.jpg", "Nikon_D70.jpg", "Pentax_K10D.jpg"}) {
      fs::copy_file(photos / name, At(name));
    }
    ASSERT_EQ(Import({At("")}), err::kNone);
    ids_ = PendingItems(*catalog_);
    ASSERT_EQ(ids_.size(), 4u);
  }

  // A clock the test moves by hand.
  ScanTask::Clock::time_point now_{};
  std::vector<std::uint32_t> ids_;
  std::vector<std::tuple<int, int, int>> calls_;
  ScanProgress Record(int cancel_at = -1) {
    return [this, cancel_at](ProgressPhase phase, int done, int total) {
      calls_.emplace_back(static_cast<int>(phase), done, total);
      return phase == ProgressPhase::kStep && done == cancel_at ? err::kUserCancelled : err::kNone;
    };
  }
};

TEST_F(ScanTaskTest, OneItemPerTickWithPhasesAndRhythm) {
  bool busy = false;
  // Each reading of the clock moves it on by `step`: a tick reads it before
  // and after its scan, so a scan seems to take one step.
  std::chrono::milliseconds step = 10ms;
  ScanTask task(*catalog_, ids_, ScanOptions{}, Record(), [&] { return busy; }, [&] {
    auto t = now_;
    now_ += step;
    return t;
  });
  auto due = task.start();
  ASSERT_TRUE(due.has_value());
  // A busy tick is passed over: nothing scanned, the next comes one interval later.
  busy = true;
  auto next = task.tick();
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(*next - *due, ScanTask::kTickInterval);
  EXPECT_EQ(PendingItems(*catalog_).size(), 4u);
  busy = false;
  // A quick tick keeps the rhythm; a slow one re-arms from its end.
  now_ = *next;
  auto after_quick = task.tick();
  ASSERT_TRUE(after_quick.has_value());
  EXPECT_EQ(*after_quick - *next, ScanTask::kTickInterval);
  step = 400ms;
  now_ = *after_quick;
  auto after_slow = task.tick();
  ASSERT_TRUE(after_slow.has_value());
  EXPECT_EQ(*after_slow - (*after_quick + step), ScanTask::kTickInterval);
  // Removing an item meanwhile passes it over.
  ASSERT_EQ(catalog::RemoveItem(*catalog_, catalog_->cellOf(ids_[2])), err::kNone);
  EXPECT_TRUE(task.tick().has_value());
  EXPECT_FALSE(task.tick().has_value());
  EXPECT_TRUE(task.finished());
  EXPECT_EQ(task.summary().scanned, 3);
  EXPECT_EQ(task.summary().skipped, 1);
  EXPECT_TRUE(PendingItems(*catalog_).empty());
  const std::vector<std::tuple<int, int, int>> expected = {{0, 0, 4}, {1, 1, 4}, {1, 2, 4},
                                                           {1, 3, 4}, {1, 4, 4}, {2, 4, 4}};
  EXPECT_EQ(calls_, expected);
}

TEST_F(ScanTaskTest, CancellingEndsWithPhaseTwoAndKeepsWhatWasScanned) {
  ScanTask at_start(*catalog_, ids_, ScanOptions{}, [this](ProgressPhase phase, int done, int total) {
    calls_.emplace_back(static_cast<int>(phase), done, total);
    return phase == ProgressPhase::kStart ? err::kUserCancelled : err::kNone;
  });
  EXPECT_FALSE(at_start.start().has_value());
  EXPECT_TRUE(at_start.finished());
  calls_.clear();

  ScanTask task(*catalog_, ids_, ScanOptions{}, Record(3));
  ASSERT_TRUE(task.start().has_value());
  EXPECT_TRUE(task.tick().has_value());
  EXPECT_TRUE(task.tick().has_value());
  EXPECT_FALSE(task.tick().has_value());  // cancelled when item 3 is taken
  EXPECT_EQ(PendingItems(*catalog_).size(), 2u);
  EXPECT_EQ(calls_.back(), std::make_tuple(2, 4, 4));
}

}  // namespace
}  // namespace norvo::media
