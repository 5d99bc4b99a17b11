// SPDX-License-Identifier: GPL-3.0-or-later
// The print options: which layout, which pages, how media are scaled, the
// option check boxes, margins, the cell grid, the paper and the four header
// and footer lines. A catalog keeps its own in its "NPRL" chunk
// (Catalog::print_layout); the program-wide default is the same bytes in the
// settings store under 'PRNO' index 1. The byte layout is in print_format.md.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "platform/byte_io.h"
#include "platform/error_codes.h"

namespace norvo::app {
class SettingsStore;
}

namespace norvo::print {

// The "Print:" combo, in its order.
enum class PrintLayout : std::uint8_t { kContentList = 0, kContactSheet = 1, kMediaSheet = 2 };
inline constexpr std::array<std::string_view, 3> kLayoutNames = {"Content List", "Contact Sheet", "Media Sheet"};

// The "Range:" combo, in its order. "Define in Print Box" prints the pages
// the print dialog asks for (every page when it asks for none).
enum class PrintRange : std::uint8_t { kDefineInPrintBox = 0, kCurrentPage = 1, kOddPages = 2, kEvenPages = 3 };
inline constexpr std::array<std::string_view, 4> kRangeNames = {"Define in Print Box", "Current Page", "Odd Pages",
                                                                "Even Pages"};

// The "Scaling:" combo: each entry and the code stored for it (the slide
// show's codes; 3 and 9 are unused).
struct ScalingEntry {
  std::string_view name;
  std::uint8_t code;
};
namespace scaling {
inline constexpr std::uint8_t kActualSize = 1;
inline constexpr std::uint8_t kScaleToFit = 2;
inline constexpr std::uint8_t kFitWidth = 4;
inline constexpr std::uint8_t kFitHeight = 5;
inline constexpr std::uint8_t kPinSmallerSide = 6;
inline constexpr std::uint8_t kPinLargerSide = 7;
inline constexpr std::uint8_t kTile = 8;
inline constexpr std::uint8_t k25 = 10;
inline constexpr std::uint8_t k1600 = 16;
}  // namespace scaling
inline constexpr std::array<ScalingEntry, 14> kScalings = {{{"Actual Size", 1},
                                                            {"Scale to Fit", 2},
                                                            {"Fit Width", 4},
                                                            {"Fit Height", 5},
                                                            {"Pin Smaller Side", 6},
                                                            {"Pin Larger Side", 7},
                                                            {"Tile", 8},
                                                            {"25%", 10},
                                                            {"50%", 11},
                                                            {"100%", 12},
                                                            {"200%", 13},
                                                            {"400%", 14},
                                                            {"800%", 15},
                                                            {"1600%", 16}}};
bool IsScalingCode(std::uint32_t code);
// The percentage of a fixed-size code (25% ... 1600%); 0 for the others.
int ScalingPercent(std::uint8_t code);

// The option check boxes, as bits of PrintOptions::flags.
namespace print_flags {
inline constexpr std::uint32_t kLabelRow = 1u << 0;         // "Print label row"
inline constexpr std::uint32_t kHiResThumbnails = 1u << 1;  // "Hi-Res thumbnails"
inline constexpr std::uint32_t kMarginBetween = 1u << 2;    // "Margin between"
inline constexpr std::uint32_t kItemIcons = 1u << 3;        // "Print item icons"
inline constexpr std::uint32_t kViewFields = 1u << 4;       // "Print view fields"
inline constexpr std::uint32_t kCropMarks = 1u << 5;        // "Corner crop marks"
inline constexpr std::uint32_t kViewColors = 1u << 6;       // "Use view colors"
inline constexpr std::uint32_t kRepeatMedia = 1u << 7;      // "Repeat media"
inline constexpr std::uint32_t kAll = 0xFFu;
}  // namespace print_flags
struct FlagEntry {
  std::string_view name;
  std::uint32_t bit;
};
inline constexpr std::array<FlagEntry, 8> kFlagNames = {{{"Print label row", print_flags::kLabelRow},
                                                         {"Hi-Res thumbnails", print_flags::kHiResThumbnails},
                                                         {"Margin between", print_flags::kMarginBetween},
                                                         {"Print item icons", print_flags::kItemIcons},
                                                         {"Print view fields", print_flags::kViewFields},
                                                         {"Corner crop marks", print_flags::kCropMarks},
                                                         {"Use view colors", print_flags::kViewColors},
                                                         {"Repeat media", print_flags::kRepeatMedia}}};

// The "Grid" dialog: the view's own grid, a number of cells, or a cell size.
enum class GridMode : std::uint8_t { kDefaultForView = 0, kCells = 1, kSize = 2 };
enum class GridUnit : std::uint8_t { kPixels = 0, kInches = 1, kCentimeters = 2, kPoints = 3, kPicas = 4 };
inline constexpr std::array<std::string_view, 5> kUnitNames = {"Pixels", "Inches", "Centimeters", "Points", "Picas"};
// Points (1/72 inch) in one unit; a pixel is taken at 96 per inch.
double PointsPerUnit(GridUnit unit);

inline constexpr int kHeaderLineCount = 4;  // two header lines, then two footer lines
inline constexpr int kMaxRepeatCount = 99;
inline constexpr int kMaxGridCells = 20;      // columns or rows
inline constexpr double kMaxMarginCm = 20.0;
inline constexpr double kMaxCellSize = 10000.0;  // in any unit
inline constexpr std::size_t kMaxHeaderLineBytes = 1000;

struct PrintOptions {
  PrintLayout layout = PrintLayout::kContactSheet;
  PrintRange range = PrintRange::kDefineInPrintBox;
  std::uint8_t scaling = scaling::kScaleToFit;
  std::uint32_t flags = print_flags::kLabelRow | print_flags::kMarginBetween | print_flags::kViewFields;
  int repeat_count = 1;  // "Repeat media": each medium this many times
  // "Print Margins", in centimetres. With mirror margins, the left and
  // right margins swap on even pages (the inside edge of a bound book).
  double margin_top = 1.5, margin_bottom = 1.5, margin_left = 1.5, margin_right = 1.5;
  bool mirror_margins = false;
  GridMode grid = GridMode::kDefaultForView;
  int columns = 4, rows = 5;
  double cell_width = 4.0, cell_height = 4.0;
  GridUnit unit = GridUnit::kCentimeters;
  // The paper ("Page Setup..."), in millimetres, and its orientation.
  double paper_width_mm = 210.0, paper_height_mm = 297.0;
  bool landscape = false;
  std::array<std::string, kHeaderLineCount> lines = {"&c", "", "", "Page &p of &n"};

  bool has(std::uint32_t flag) const { return (flags & flag) != 0; }
  void set(std::uint32_t flag, bool on) { flags = on ? flags | flag : flags & ~flag; }
  bool operator==(const PrintOptions&) const = default;
};

// The chunk's bytes (print_format.md).
std::vector<std::uint8_t> EncodePrintOptions(const PrintOptions& options);
// Reads the bytes. A value out of its range is replaced by its default (a
// later version's codes read as the default); bytes cut short, an unknown
// version or lines that are not UTF-8 are err::kParam, and `out` is left as it
// was.
ErrorCode DecodePrintOptions(std::span<const std::uint8_t> bytes, PrintOptions* out);

// The settings store's code for the program-wide default.
inline constexpr std::uint32_t kPrintOptionsCode = FourCC("PRNO");
inline constexpr std::int32_t kPrintOptionsIndex = 1;

// The options in force for a catalog: its own chunk, else the program-wide
// default from `store` (when given), else the built-in defaults.
PrintOptions LoadPrintOptions(const catalog::Catalog& catalog, const app::SettingsStore* store);
// Keeps the options in the catalog's chunk (marking it changed when they
// differ from what it held) and, when `store` is given, as the program-wide
// default.
ErrorCode StorePrintOptions(catalog::Catalog& catalog, app::SettingsStore* store, const PrintOptions& options);

}  // namespace norvo::print
