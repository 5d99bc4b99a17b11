// SPDX-License-Identifier: GPL-3.0-or-later
#include "print/print_options.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings_store.h"
#include "print/print_test_support.h"

namespace norvo::print {
namespace {

PrintOptions Unusual() {
  PrintOptions o;
  o.layout = PrintLayout::kMediaSheet;
  o.range = PrintRange::kEvenPages;
  o.scaling = 15;  // 800%
  o.flags = print_flags::kHiResThumbnails | print_flags::kCropMarks | print_flags::kRepeatMedia;
  o.repeat_count = 7;
  o.margin_top = 0.25;
  o.margin_bottom = 2.54;
  o.margin_left = 3.1;
  o.margin_right = 0;
  o.mirror_margins = true;
  o.grid = GridMode::kSize;
  o.columns = 9;
  o.rows = 11;
  o.cell_width = 1.75;
  o.cell_height = 320;
  o.unit = GridUnit::kPicas;
  o.paper_width_mm = 215.9;
  o.paper_height_mm = 279.4;
  o.landscape = true;
  o.lines = {"Über &c", "", "&d&i&t", "Page &p of &n"};
  return o;
}

TEST(PrintOptionsChunk, EveryFieldSurvivesEncodeAndDecode) {
  const PrintOptions o = Unusual();
  PrintOptions back;
  ASSERT_EQ(DecodePrintOptions(EncodePrintOptions(o), &back), err::kNone);
  EXPECT_EQ(back, o);
  // And the defaults, which differ from the unusual set in every field.
  ASSERT_EQ(DecodePrintOptions(EncodePrintOptions(PrintOptions{}), &back), err::kNone);
  EXPECT_EQ(back, PrintOptions{});
}

// Bytes laid out by hand as print_format.md describes them.
TEST(PrintOptionsChunk, ReadsTheDocumentedLayout) {
  const std::vector<std::uint8_t> bytes = {
      0x00, 0x01,              // version
      0x00,                    // Content List
      0x01,                    // Current Page
      0x07,                    // Pin Larger Side
      0x91,                    // label row, view fields, Repeat media
      0x00, 0x05,              // repeat 5 times
      0x00, 0x64, 0x00, 0xC8,  // top 1 cm, bottom 2 cm
      0x01, 0x2C, 0x00, 0x00,  // left 3 cm, right 0
      0x01,                    // mirror
      0x01, 0x06, 0x08,        // cells, 6 x 8
      0x00, 0x00, 0x00, 0x96,  // cell width 1.5
      0x00, 0x00, 0x01, 0x2C,  // cell height 3
      0x03,                    // points
      0x00, 0x00, 0x54, 0x56,  // 215.9 mm
      0x00, 0x00, 0x6D, 0x24,  // 279.4 mm
      0x00,                    // portrait
      0x00, 0x02, 'h', 'i',    // header 1
      0x00, 0x00,              // header 2
      0x00, 0x03, '&', '&', 'x',  // footer 1
      0x00, 0x00,              // footer 2
  };
  PrintOptions o;
  ASSERT_EQ(DecodePrintOptions(bytes, &o), err::kNone);
  EXPECT_EQ(o.layout, PrintLayout::kContentList);
  EXPECT_EQ(o.range, PrintRange::kCurrentPage);
  EXPECT_EQ(o.scaling, scaling::kPinLargerSide);
  EXPECT_EQ(o.flags, print_flags::kLabelRow | print_flags::kViewFields | print_flags::kRepeatMedia);
  EXPECT_EQ(o.repeat_count, 5);
  EXPECT_EQ(o.margin_top, 1.0);
  EXPECT_EQ(o.margin_bottom, 2.0);
  EXPECT_EQ(o.margin_left, 3.0);
  EXPECT_EQ(o.margin_right, 0.0);
  EXPECT_TRUE(o.mirror_margins);
  EXPECT_EQ(o.grid, GridMode::kCells);
  EXPECT_EQ(o.columns, 6);
  EXPECT_EQ(o.rows, 8);
  EXPECT_EQ(o.cell_width, 1.5);
  EXPECT_EQ(o.cell_height, 3.0);
  EXPECT_EQ(o.unit, GridUnit::kPoints);
  EXPECT_EQ(o.paper_width_mm, 215.9);
  EXPECT_EQ(o.paper_height_mm, 279.4);
  EXPECT_FALSE(o.landscape);
  EXPECT_EQ(o.lines, (std::array<std::string, kHeaderLineCount>{"hi", "", "&&x", ""}));
  EXPECT_EQ(EncodePrintOptions(o), bytes);
}

TEST(PrintOptionsChunk, CutOrForeignBytesAreRefusedAndLeaveTheOptions) {
  const std::vector<std::uint8_t> bytes = EncodePrintOptions(Unusual());
  PrintOptions kept;
  kept.repeat_count = 42;
  const PrintOptions before = kept;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_EQ(DecodePrintOptions(std::span(bytes).first(n), &kept), err::kParam) << n << " bytes";
  }
  std::vector<std::uint8_t> later = bytes;
  later[1] = 2;  // a version this code does not know
  EXPECT_EQ(DecodePrintOptions(later, &kept), err::kParam);
  std::vector<std::uint8_t> broken = EncodePrintOptions(PrintOptions{});
  broken.back() = 0xFF;  // the last line's last byte is no longer UTF-8
  EXPECT_EQ(DecodePrintOptions(broken, &kept), err::kParam);
  EXPECT_EQ(kept, before);
}

TEST(PrintOptionsChunk, ValuesOutOfRangeReadAsTheirDefaults) {
  std::vector<std::uint8_t> bytes = EncodePrintOptions(Unusual());
  bytes[2] = 9;   // layout
  bytes[4] = 3;   // scaling: 3 and 9 are unused codes
  bytes[6] = 0;   // repeat count 0
  bytes[7] = 0;
  PrintOptions back;
  ASSERT_EQ(DecodePrintOptions(bytes, &back), err::kNone);
  const PrintOptions defaults;
  EXPECT_EQ(back.layout, defaults.layout);
  EXPECT_EQ(back.scaling, defaults.scaling);
  EXPECT_EQ(back.repeat_count, defaults.repeat_count);
  EXPECT_EQ(back.range, PrintRange::kEvenPages);  // its neighbours are read as they are
  bytes[4] = 9;
  ASSERT_EQ(DecodePrintOptions(bytes, &back), err::kNone);
  EXPECT_EQ(back.scaling, defaults.scaling);
}

TEST(PrintOptionsChunk, ScalingCodesAreTheSlideShowsOnes) {
  std::vector<int> codes;
  for (const ScalingEntry& e : kScalings) codes.push_back(e.code);
  EXPECT_EQ(codes, (std::vector<int>{1, 2, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16}));
  EXPECT_FALSE(IsScalingCode(3));
  EXPECT_FALSE(IsScalingCode(9));
  EXPECT_EQ(ScalingPercent(10), 25);
  EXPECT_EQ(ScalingPercent(12), 100);
  EXPECT_EQ(ScalingPercent(16), 1600);
  EXPECT_EQ(ScalingPercent(8), 0);
}

class PrintOptionsStoreTest : public testing::PrintCatalogTest {
 protected:
  app::SettingsStore Store() {
    app::StorePaths paths;
    paths.user = (dir_ / "settings.db").string();
    return app::SettingsStore::Open(paths);
  }
};

TEST_F(PrintOptionsStoreTest, CatalogChunkComesBeforeTheProgramDefault) {
  app::SettingsStore store = Store();
  EXPECT_EQ(LoadPrintOptions(*catalog_, &store), PrintOptions{});

  PrintOptions program;
  program.layout = PrintLayout::kContentList;
  ASSERT_EQ(app::PutSetting(store, kPrintOptionsCode, kPrintOptionsIndex,
                            std::span<const std::uint8_t>(EncodePrintOptions(program))),
            err::kNone);
  EXPECT_EQ(LoadPrintOptions(*catalog_, &store), program);

  const PrintOptions own = Unusual();
  catalog_->print_layout = EncodePrintOptions(own);
  EXPECT_EQ(LoadPrintOptions(*catalog_, &store), own);
  // A chunk that cannot be read gives way to the program's default.
  catalog_->print_layout = {0, 1, 2};
  EXPECT_EQ(LoadPrintOptions(*catalog_, &store), program);
}

TEST_F(PrintOptionsStoreTest, StoringMarksTheCatalogChangedOnlyWhenTheOptionsDiffer) {
  app::SettingsStore store = Store();
  ASSERT_FALSE(catalog_->changed());
  ASSERT_EQ(StorePrintOptions(*catalog_, &store, Unusual()), err::kNone);
  EXPECT_TRUE(catalog_->changed());
  EXPECT_EQ(catalog_->print_layout, EncodePrintOptions(Unusual()));
  std::optional<app::Bytes> kept = app::GetSetting(store, kPrintOptionsCode, kPrintOptionsIndex);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(*kept, EncodePrintOptions(Unusual()));

  catalog_->modification_stamp = 0;  // as a save leaves it
  ASSERT_EQ(StorePrintOptions(*catalog_, nullptr, Unusual()), err::kNone);
  EXPECT_FALSE(catalog_->changed());
}

// The options go into the catalog file and come back from it; the "PRNT"
// chunk of another program is not touched by them.
TEST_F(PrintOptionsStoreTest, OptionsSurviveASaveAndReopen) {
  catalog_->print_settings = {0x50, 0x52, 0x4E, 0x54, 1, 2, 3};
  ASSERT_EQ(StorePrintOptions(*catalog_, nullptr, Unusual()), err::kNone);
  const FileSpec file = Spec((dir_ / "saved.nrk").string());
  ASSERT_EQ(catalog::SaveCatalog(*catalog_, &file, {}), err::kNone);
  catalog::CloseCatalog(std::move(catalog_), catalog::CloseSettings::kLeave);

  std::unique_ptr<catalog::Catalog> reopened;
  ASSERT_EQ(catalog::CreateCatalog(&file, Spec((dir_ / "scratch2").string()), {}, {}, reopened), err::kNone);
  EXPECT_EQ(LoadPrintOptions(*reopened, nullptr), Unusual());
  EXPECT_EQ(reopened->print_settings, (std::vector<std::uint8_t>{0x50, 0x52, 0x4E, 0x54, 1, 2, 3}));
  catalog::CloseCatalog(std::move(reopened), catalog::CloseSettings::kLeave);
}

}  // namespace
}  // namespace norvo::print
