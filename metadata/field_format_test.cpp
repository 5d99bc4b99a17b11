// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/field_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "platform/dates.h"

namespace norvo::metadata {
namespace {

using VT = ValueType;
constexpr FieldId kShutter = 0x6578829a;
constexpr FieldId kAperture = 0x6578829d;
constexpr FieldId kBias = 0x65789204;
constexpr FieldId kFocal = 0x6578920a;
constexpr FieldId kDistance = 0x65789206;
constexpr FieldId kIso = 0x65788827;
constexpr FieldId kFlash = 0x65789209;
constexpr FieldId kLight = 0x65789208;
constexpr FieldId kMetering = 0x65789207;
constexpr FieldId kProgram = 0x65788822;
constexpr FieldId kSensing = 0x6578a217;
constexpr FieldId kNoise = 0x6578b001;
constexpr FieldId kExifVersion = 0x65789000;
constexpr FieldId kCapture = 0x65789003;

FormatContext Context(FormatConventions c = FormatConventions::Posix()) {
  FormatContext context;
  context.conventions = std::move(c);
  return context;
}

FormatConventions Comma() {
  FormatConventions c;
  c.decimal_separator = ",";
  c.date_format = "%d.%m.%Y";
  c.time_format = "%H:%M";
  return c;
}

std::string Show(FieldId id, const FieldValue& v, bool units = false, const FormatContext& context = Context()) {
  return FormatFieldValue(v, FieldValueType(id), id, units, context);
}
std::string Num(FieldId id, std::int64_t n, bool units = false) { return Show(id, FieldValue::Number(n), units); }
std::string Rat(FieldId id, std::int64_t n, std::int64_t d, bool units = false) {
  return Show(id, FieldValue::Rational(n, d), units);
}

// 1904-based local date-time of a calendar time, through the C library.
std::uint32_t DateTimeOf(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<std::uint32_t>(timegm(&tm) + kSecondsFrom1904To1970);
}

// Fields that hide zero are checked over every field below; these show it,
// or have no value type or no definition.
TEST(FieldFormatTest, ZeroValuesThatShowAndValuesWithoutAField) {
  EXPECT_EQ(Num(0x20a, 0), "0");  // labels show zero
  EXPECT_EQ(Show(0x41, FieldValue::Size(0, 480, 72)), "-");
  EXPECT_EQ(FormatFieldValue(FieldValue::Number(5), VT::kNone, 0x5, false, Context()), "");
  EXPECT_EQ(FormatFieldValue(FieldValue::Number(5), VT::kInt32, 0x2f2, false, Context()), "");
}

TEST(FieldFormatTest, NumbersRationalsAndChoices) {
  struct Case {
    FieldId id;
    std::int64_t n, d;  // d 0: a number
    bool units;
    const char* want;
  };
  const Case cases[] = {
      {kShutter, 10, 2500, false, "1/250"},   {kShutter, 2, 1, false, "2"},
      {kShutter, 10, 2500, true, "1/250 sec"}, {kAperture, 8, 1, false, "f8.0"},
      {kBias, -2, 3, false, "-0.7"},           {kBias, 1, 3, false, "+0.3"},
      {kFocal, 50, 1, true, "50.0 mm"},        {kDistance, 3, 2, true, "1.50 m"},
      {0x65789102, 4, 1, true, "4:1 bits/pixel"},
      {kIso, 255, 0, false, "Auto"},           {kIso, 400, 0, false, "400"},
      {kExifVersion, 0x30323331, 0, false, "2.3"}, {kExifVersion, 0x41424344, 0, false, ""},
      {kFlash, 0x18, 0, false, "OFF - Auto mode"}, {kFlash, 32, 0, false, "No flash function"},
      {kFlash, 95, 0, false, "ON - Auto mode, red-eye reduction, return detected"},
      {kNoise, 1, 0, false, "ON"},             {kLight, 0, 0, false, "Auto"},
      {kLight, 24, 0, false, "ISO studio tungsten"}, {kLight, 255, 0, false, ""},
      {kMetering, 6, 0, false, "Partial"},     {kProgram, 19, 0, false, "M-DEP"},
      {kProgram, 27, 0, false, "Panoramic Mode"}, {kSensing, 8, 0, false, "Color sequential linear sensor"},
      {0x11, 0, 0, false, ""},                 {0x11, 2, 0, true, "Stereo"},
      {0x5, 512, 0, false, "512 bytes"},       {0x5, 1536, 0, true, "1.5 KB"},  // the scaled unit is there
      {0x5, 3221225472, 0, false, "3 GB"},     {0x22, 2048, 0, false, "2 KB/sec"},
      {0x23, 23976, 0, false, "23.98"},        {0x4, FourCC("JPEG"), 0, false, "JPEG"},
      {0x16, 0x00020001, 0, false, "2:1"},     {0x12, 44100, 0, true, "44100 Hz"},
      {0x45, 0x5746, 0, false, "90\xB0 CW + flipped"}, {0x45, 0, 0, false, "Default"},
      {0x10, 25, 0, false, "0:00:02.5"},       {0x10, 37230, 0, false, "1:02:03"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.id << std::dec << " " << c.n);
    EXPECT_EQ(c.d == 0 ? Num(c.id, c.n, c.units) : Rat(c.id, c.n, c.d, c.units), c.want);
  }
  FormatContext comma = Context(Comma());
  EXPECT_EQ(Show(kAperture, FieldValue::Rational(28, 10), false, comma), "f2,8");
  EXPECT_EQ(Show(kExifVersion, FieldValue::Number(0x30323130), false, comma), "2,1");
  EXPECT_EQ(Show(0x23, FieldValue::Number(29970), true, comma), "29,97 FPS");
}

TEST(FieldFormatTest, DimensionsFollowTheDocumentUnits) {
  FormatContext c = Context();
  EXPECT_EQ(Show(0x41, FieldValue::Size(640, 480, 72), false, c), "640 x 480");
  EXPECT_EQ(Show(0x41, FieldValue::Size(640, 480, 72), true, c), "640 x 480 pixels");
  EXPECT_EQ(Show(0x6, FieldValue::Size(640, 480, 72), true, c), "640 pixels");
  c.document_unit = document_units::kInches;
  EXPECT_EQ(Show(0x41, FieldValue::Size(144, 108, 72), true, c), "2 x 1.5 inches");
  EXPECT_EQ(Show(0x41, FieldValue::Size(144, 108, 0), false, c), "2 x 1.5");  // no resolution: 72
  c.document_unit = document_units::kCentimetres;
  EXPECT_EQ(Show(0x7, FieldValue::Size(300, 300, 300), true, c), "2.54 cm");
  c.document_unit = document_units::kPicas;
  EXPECT_EQ(Show(0x6, FieldValue::Size(72, 72, 72), true, c), "6 picas");
  c.resolution_unit = resolution_units::kPerCentimetre;
  EXPECT_EQ(Show(0x8, FieldValue::Number(254), true, c), "100 pixels/cm");
  c.resolution_unit = resolution_units::kPerInch;
  EXPECT_EQ(Show(0x8, FieldValue::Number(300), true, c), "300 pixels/inch");
  EXPECT_EQ(Show(0x8, FieldValue::Number(300), false, c), "300");
}

TEST(FieldFormatTest, TextsAndChapters) {
  EXPECT_EQ(Show(0x278, FieldValue::Text("caf\xE9")), "caf\xE9");
  EXPECT_EQ(Show(0x278, FieldValue::Text("caf\xC3\xA9", true)), "caf\xE9");
  EXPECT_EQ(Show(FourCC("CHAP"), FieldValue::Chapter("Intro", 650)), "Intro @ 0:01:05");
  EXPECT_EQ(Show(FourCC("TRCK"), FieldValue::Text("x")), "");
}

TEST(FieldFormatTest, DatesFollowTheConventions) {
  std::uint32_t t = DateTimeOf(2024, 3, 5, 14, 7, 9);
  EXPECT_EQ(Num(0xb, t), "03/05/24 14:07:09");
  EXPECT_EQ(Show(0xb, FieldValue::Number(t), false, Context(Comma())), "05.03.2024 14:07");
  EXPECT_EQ(Show(0x237, FieldValue::Number(t), false, Context(Comma())), "05.03.2024");
  EXPECT_EQ(FormatFieldValueJson(FieldValue::Number(t), VT::kInt32, kCapture, false), "2024-03-05T14:07:09");
  FormatConventions us;
  us.date_format = "%a %e %b %Y";
  us.time_format = "%r";
  EXPECT_EQ(FormatDateTime(t, us), "Tue  5 Mar 2024 02:07:09 PM");
  EXPECT_EQ(FormatDateTime(DateTimeOf(1904, 1, 1, 0, 0, 0), us), "Fri  1 Jan 1904 12:00:00 AM");
}

// The calendar arithmetic against the C library's, over the whole range of
// 32-bit 1904-based dates (leap days, centuries, the end of the range).
TEST(FieldFormatTest, CalendarMatchesTheCLibrary) {
  FormatConventions iso = FormatConventions::Json();
  iso.date_format = "%Y-%m-%d %j %u";
  for (std::uint64_t v = 0; v <= 0xFFFFFFFFull; v += 86400ull * 37 + 3601) {
    auto dt = static_cast<std::uint32_t>(v);
    std::time_t unix_time = static_cast<std::time_t>(dt) - kSecondsFrom1904To1970;
    std::tm tm{};
    gmtime_r(&unix_time, &tm);
    char want[64];
    std::strftime(want, sizeof want, "%Y-%m-%d %j %uT%H:%M:%S", &tm);
    ASSERT_EQ(FormatDateTime(dt, iso), want) << dt;
  }
  EXPECT_EQ(FormatDate(DateTimeOf(2000, 2, 29, 12, 0, 0), FormatConventions::Json()), "2000-02-29");
  EXPECT_EQ(FormatDateTime(0xFFFFFFFFu, FormatConventions::Json()), "2040-02-06T06:28:15");
}

// Every field over values at the edges of their types: a field that hides
// zero shows nothing for 0, and units only ever follow the bare text.
TEST(FieldFormatTest, EveryFieldKeepsTheZeroAndUnitRulesAtTheEdges) {
  const std::int64_t numbers[] = {0, 1, -1, 9, 10, 255, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF,
                                  -0x80000000ll, INT64_MAX, INT64_MIN};
  FormatContext inches = Context(Comma());
  inches.document_unit = document_units::kInches;
  inches.resolution_unit = resolution_units::kPerCentimetre;
  for (int i = 1; i <= FieldCount(); ++i) {
    FieldId id = FieldIdAt(i);
    VT type = FieldValueType(id);
    for (std::int64_t a : numbers) {
      for (std::int64_t b : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-3}, std::int64_t{7}, INT64_MAX}) {
        FieldValue v = type == VT::kRational ? FieldValue::Rational(a, b) : FieldValue::Size(a, b, b);
        for (const FormatContext& c : {Context(), inches}) {
          std::string bare = FormatFieldValue(v, type, id, false, c);
          std::string with_units = FormatFieldValue(v, type, id, true, c);
          SCOPED_TRACE(testing::Message() << std::hex << id << " " << a << "/" << b);
          EXPECT_EQ(with_units.substr(0, bare.size()), bare);
          bool zero = a == 0 || (type == VT::kRational && b == 0);
          bool numeric = type == VT::kByte || type == VT::kInt16 || type == VT::kInt32 || type == VT::kRational;
          if (zero && numeric && !FieldShowsZero(id)) {
            EXPECT_EQ(with_units, "");
          }
        }
      }
    }
  }
}

TEST(FieldFormatTest, LocalesFromTheSystem) {
  FormatConventions c;
  EXPECT_TRUE(ConventionsForLocale("C", c));
  EXPECT_EQ(c.decimal_separator, ".");
  EXPECT_EQ(c.date_format, "%m/%d/%y");
  EXPECT_EQ(c.months[11], "December");
  c.decimal_separator = ",";
  EXPECT_FALSE(ConventionsForLocale("xx_NOWHERE.bogus", c));
  EXPECT_EQ(c.decimal_separator, ".");
  EXPECT_EQ(FormatFieldValueJson(FieldValue::Number(0x4856), VT::kInt16, 0x45, false), "180\xC2\xB0");
}

}  // namespace
}  // namespace norvo::metadata
