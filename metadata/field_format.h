// SPDX-License-Identifier: GPL-3.0-or-later
// Display text of a field value (FormatFieldValue), by the field's display
// format in the field table. Dates, times and the decimal separator follow
// the user's locale; every formatter takes those conventions explicitly, so
// the same value reads the same in tests and JSON output whatever the
// environment says. Output text is Windows-1252 (engine text).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "metadata/field_table.h"

namespace norvo::metadata {

// How the user's locale writes dates, times and decimal numbers. Date and
// time layouts are strftime-style patterns; names are Windows-1252.
struct FormatConventions {
  std::string decimal_separator = ".";
  std::string date_format = "%m/%d/%y";
  std::string time_format = "%H:%M:%S";
  std::string time_format_ampm = "%I:%M:%S %p";  // what %r stands for
  std::string date_time_separator = " ";
  std::string am = "AM";
  std::string pm = "PM";
  std::array<std::string, 12> months = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
  std::array<std::string, 12> short_months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 7> days = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  std::array<std::string, 7> short_days = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

  // The POSIX "C" locale's conventions.
  static FormatConventions Posix();
  // The fixed form for JSON: ISO 8601 dates ("2024-03-05T14:07:09") and ".".
  static FormatConventions Json();
};

// The conventions of locale `name` ("" takes the locale from the environment:
// LC_ALL, LC_TIME / LC_NUMERIC, LANG). False, and the POSIX conventions,
// when the system does not know the locale.
bool ConventionsForLocale(const char* name, FormatConventions& out);
// The environment's conventions, read once.
const FormatConventions& UserConventions();

// Units the user chose for image sizes and resolutions.
namespace document_units {
inline constexpr std::uint8_t kPixels = 1;
inline constexpr std::uint8_t kInches = 2;
inline constexpr std::uint8_t kCentimetres = 3;
inline constexpr std::uint8_t kPoints = 4;
inline constexpr std::uint8_t kPicas = 5;
}  // namespace document_units
namespace resolution_units {
inline constexpr std::uint8_t kPerInch = 1;
inline constexpr std::uint8_t kPerCentimetre = 2;
}  // namespace resolution_units

struct FormatContext {
  FormatConventions conventions;
  std::uint8_t document_unit = document_units::kPixels;  // unit name: string 51100 + unit + 8
  std::uint8_t resolution_unit = resolution_units::kPerInch;  // unit name: string 51100 + unit + 6
};

// One value of a field. Numbers (byte, int16, int32) are in `number`; a
// rational is `number` over `denominator`; texts in `text` (Windows-1252, or
// UTF-8 when `utf8` is set: an annotation entry with marker 0x1D). Sizes
// (Dimensions, Width, Height) carry the item's height and resolution too; a
// chapter is its name in `text` and its start in `number` (tenths of a
// second, as durations are kept).
struct FieldValue {
  std::int64_t number = 0;
  std::int64_t denominator = 0;
  std::int64_t height = 0;
  std::int64_t resolution = 0;  // pixels per inch; 0 counts as 72
  std::string text;
  bool utf8 = false;

  static FieldValue Number(std::int64_t v);
  static FieldValue Rational(std::int64_t numerator, std::int64_t denominator);
  static FieldValue Text(std::string text, bool utf8 = false);
  static FieldValue Size(std::int64_t width, std::int64_t height, std::int64_t resolution);
  static FieldValue Chapter(std::string name, std::int64_t start_tenths);
};

// The display text of `value` of field `id` read as `type`. A type of 0 or an
// unknown id gives "". With `with_units` the field's unit follows the text.
std::string FormatFieldValue(const FieldValue& value, ValueType type, FieldId id, bool with_units,
                             const FormatContext& context);
// The same in the user's conventions, pixels and pixels per inch.
std::string FormatFieldValue(const FieldValue& value, ValueType type, FieldId id, bool with_units);
// The same in the fixed JSON conventions, as UTF-8.
std::string FormatFieldValueJson(const FieldValue& value, ValueType type, FieldId id, bool with_units);

// The pieces, for callers that show values outside the field table.
std::string FormatDateTime(std::uint32_t date_time, const FormatConventions& conventions);
std::string FormatDate(std::uint32_t date_time, const FormatConventions& conventions);
std::string FormatDuration(std::int64_t tenths, const FormatConventions& conventions);
std::string FormatByteSize(std::uint64_t bytes, const FormatConventions& conventions);
// The name of a rotation code ("HV" and the rest); "Default" for others.
std::string OrientationName(std::uint16_t code);
// The text of an EXIF flash value.
std::string FlashText(std::int64_t value);
// A number with `decimals` places, trailing zeros and point removed when
// `trim` is set, written with the conventions' separator.
std::string FormatDecimal(double value, int decimals, bool trim, const FormatConventions& conventions);

}  // namespace norvo::metadata
