// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/field_format.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "metadata/string_table.h"
#include "platform/byte_io.h"
#include "platform/dates.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {
namespace {

constexpr int kDefaultResolution = 72;
constexpr double kCentimetresPerInch = 2.54;
constexpr double kPointsPerInch = 72.0;
constexpr double kPicasPerInch = 6.0;
constexpr std::uint64_t kBytesPerKilobyte = 1024;
constexpr int kByteSizeUnitCount = 5;
constexpr int kIsoAuto = 255;
constexpr int kTenthsPerSecond = 10;
constexpr int kPatternDepth = 4;
constexpr std::int64_t kLastListIndex = 99;  // %x inside %c inside ... never nests deeper

// The EXIF flash values with names of their own, in the order of their
// strings from 52802 on.
constexpr int kFlashValues[] = {1, 5, 7, 9, 13, 15, 16, 24, 25, 29, 31, 32, 65, 69, 71, 73, 77, 79, 89, 93, 95};

// Rotation codes, as 16-bit numbers whose high byte is the first character,
// in the order of their names from string 53002 on.
constexpr std::uint16_t Code(char a, char b) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(a) << 8) | static_cast<unsigned char>(b));
}
constexpr std::uint16_t kOrientationCodes[] = {Code('H', 'V'), Code('C', 'F'), Code('C', 'W'), Code('H', ' '),
                                               Code('V', ' '), Code('W', ' '), Code('W', 'F')};
constexpr int kFirstOrientationName = 53002;
constexpr int kDefaultOrientationName = 53009;

// Civil date and time of a 1904-based local date-time.
struct CivilTime {
  int year, month, day;  // month 1..12
  int hour, minute, second;
  int weekday;  // 0 Sunday
  int yearday;  // 1..366
};

CivilTime ToCivil(std::uint32_t date_time) {
  const CivilDateTime c = CivilFromDateTime(date_time);
  return {static_cast<int>(c.date.year), c.date.month, c.date.day, c.hour, c.minute, c.second, c.weekday, c.yearday};
}

void AppendPadded(std::string& out, int value, int width, char pad) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out.push_back(pad);
  out += digits;
}

// Expands a strftime-style pattern with the conventions' names. Directives
// it does not know are copied as they stand.
void ExpandPattern(std::string_view pattern, const CivilTime& t, const FormatConventions& c, int depth,
                   std::string& out) {
  if (depth > kPatternDepth) return;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 >= pattern.size()) {
      out.push_back(pattern[i]);
      continue;
    }
    char d = pattern[++i];
    if ((d == 'E' || d == 'O') && i + 1 < pattern.size()) d = pattern[++i];  // era and digit modifiers
    int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    switch (d) {
      case 'a': out += c.short_days[static_cast<std::size_t>(t.weekday)]; break;
      case 'A': out += c.days[static_cast<std::size_t>(t.weekday)]; break;
      case 'b':
      case 'h': out += c.short_months[static_cast<std::size_t>(t.month - 1)]; break;
      case 'B': out += c.months[static_cast<std::size_t>(t.month - 1)]; break;
      case 'C': AppendPadded(out, t.year / 100, 2, '0'); break;
      case 'd': AppendPadded(out, t.day, 2, '0'); break;
      case 'e': AppendPadded(out, t.day, 2, ' '); break;
      case 'H': AppendPadded(out, t.hour, 2, '0'); break;
      case 'k': AppendPadded(out, t.hour, 2, ' '); break;
      case 'I': AppendPadded(out, hour12, 2, '0'); break;
      case 'l': AppendPadded(out, hour12, 2, ' '); break;
      case 'j': AppendPadded(out, t.yearday, 3, '0'); break;
      case 'm': AppendPadded(out, t.month, 2, '0'); break;
      case 'M': AppendPadded(out, t.minute, 2, '0'); break;
      case 'S': AppendPadded(out, t.second, 2, '0'); break;
      case 'y': AppendPadded(out, t.year % 100, 2, '0'); break;
      case 'Y':
      case 'G': out += std::to_string(t.year); break;
      case 'u': out += std::to_string(t.weekday == 0 ? 7 : t.weekday); break;
      case 'w': out += std::to_string(t.weekday); break;
      case 'p': out += t.hour < 12 ? c.am : c.pm; break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '%': out.push_back('%'); break;
      case 'D': ExpandPattern("%m/%d/%y", t, c, depth + 1, out); break;
      case 'F': ExpandPattern("%Y-%m-%d", t, c, depth + 1, out); break;
      case 'T': ExpandPattern("%H:%M:%S", t, c, depth + 1, out); break;
      case 'R': ExpandPattern("%H:%M", t, c, depth + 1, out); break;
      case 'r': ExpandPattern(c.time_format_ampm, t, c, depth + 1, out); break;
      case 'x': ExpandPattern(c.date_format, t, c, depth + 1, out); break;
      case 'X': ExpandPattern(c.time_format, t, c, depth + 1, out); break;
      case 'c':
        ExpandPattern(c.date_format, t, c, depth + 1, out);
        out += c.date_time_separator;
        ExpandPattern(c.time_format, t, c, depth + 1, out);
        break;
      case 'Z':
      case 'z': break;  // dates are local time without a zone
      default:
        out.push_back('%');
        out.push_back(d);
        break;
    }
  }
}

// Text from the C library in the locale's character set, as engine text.
std::string FromLocaleText(const char* text, bool utf8) {
  if (text == nullptr) return {};
  return utf8 ? Utf8ToWindows1252(text) : std::string(text);
}

std::string WithSeparator(std::string text, const FormatConventions& c) {
  std::size_t point = text.find('.');
  if (point != std::string::npos) text.replace(point, 1, c.decimal_separator);
  return text;
}

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string Unit(int unit) { return std::string(StringText(kUnitStringBase + unit)); }

// A side in the user's document unit: pixels stay whole; the other units go
// through the item's resolution with up to two decimals.
std::string ConvertedSize(std::int64_t pixels, std::int64_t resolution, std::uint8_t document_unit,
                          const FormatConventions& c) {
  if (document_unit <= document_units::kPixels || document_unit > document_units::kPicas) return Decimal(pixels);
  double inches = static_cast<double>(pixels) / static_cast<double>(resolution > 0 ? resolution : kDefaultResolution);
  double converted = inches;
  switch (document_unit) {
    case document_units::kCentimetres: converted = inches * kCentimetresPerInch; break;
    case document_units::kPoints: converted = inches * kPointsPerInch; break;
    case document_units::kPicas: converted = inches * kPicasPerInch; break;
    default: break;
  }
  return FormatDecimal(converted, 2, true, c);
}

std::uint8_t DocumentUnit(const FormatContext& context) {
  std::uint8_t u = context.document_unit;
  return u >= document_units::kPixels && u <= document_units::kPicas ? u : document_units::kPixels;
}

std::uint8_t ResolutionUnit(const FormatContext& context) {
  return context.resolution_unit == resolution_units::kPerCentimetre ? resolution_units::kPerCentimetre
                                                                     : resolution_units::kPerInch;
}

// The unit name of the document unit and of the resolution unit.
constexpr int kDocumentUnitOffset = 8;
constexpr int kResolutionUnitOffset = 6;

bool IsZero(const FieldValue& value, ValueType type) {
  switch (type) {
    case ValueType::kByte:
    case ValueType::kInt16:
    case ValueType::kInt32: return value.number == 0;
    case ValueType::kRational: return value.number == 0 || value.denominator == 0;
    default: return false;
  }
}

// The number as the value type keeps it: a byte and a 16-bit number are
// their low bits (unsigned); a 32-bit number as the caller holds it.
std::int64_t Normalised(const FieldValue& value, ValueType type) {
  switch (type) {
    case ValueType::kByte: return value.number & 0xFF;
    case ValueType::kInt16: return value.number & 0xFFFF;
    default: return value.number;
  }
}

double Quotient(const FieldValue& v) { return static_cast<double>(v.number) / static_cast<double>(v.denominator); }

std::string FormatByDisplay(const FieldDefinition& f, const FieldValue& value, ValueType type, bool with_units,
                            const FormatContext& context) {
  const FormatConventions& c = context.conventions;
  const std::int64_t n = Normalised(value, type);
  switch (f.display) {
    case Display::kNone: return {};
    case Display::kText: return value.utf8 ? Utf8ToWindows1252(value.text) : value.text;
    case Display::kByteChoice: return ChoiceName(f.choice_list, n & 0xFF);
    case Display::kByteSize: return FormatByteSize(static_cast<std::uint64_t>(n < 0 ? 0 : n), c);
    case Display::kByteRate:
      return FormatByteSize(static_cast<std::uint64_t>(n < 0 ? 0 : n), c) + Unit(units::kPerSecond);
    case Display::kTypeCode: return FourCCToString(static_cast<std::uint32_t>(n));
    case Display::kDateTime: return n == 0 ? std::string() : FormatDateTime(static_cast<std::uint32_t>(n), c);
    case Display::kDateOnly: return n == 0 ? std::string() : FormatDate(static_cast<std::uint32_t>(n), c);
    case Display::kOrientationCode: return OrientationName(static_cast<std::uint16_t>(n));
    case Display::kDigit: return n >= 0 && n <= 9 ? std::string(1, static_cast<char>('0' + n)) : Decimal(n);
    case Display::kInteger: return Decimal(n);
    case Display::kDimensions: {
      if (n == 0) return "-";
      std::uint8_t unit = DocumentUnit(context);
      std::string text = ConvertedSize(n, value.resolution, unit, c) + " x " +
                         ConvertedSize(value.height, value.resolution, unit, c);
      if (with_units) text += " " + Unit(unit + kDocumentUnitOffset);
      return text;
    }
    case Display::kWidth:
    case Display::kHeight: {
      std::uint8_t unit = DocumentUnit(context);
      std::string text = ConvertedSize(n, value.resolution, unit, c);
      if (with_units) text += " " + Unit(unit + kDocumentUnitOffset);
      return text;
    }
    case Display::kResolution: {
      std::uint8_t unit = ResolutionUnit(context);
      std::string text = unit == resolution_units::kPerCentimetre
                             ? FormatDecimal(static_cast<double>(n) / kCentimetresPerInch, 2, true, c)
                             : Decimal(n);
      if (with_units) text += " " + Unit(unit + kResolutionUnitOffset);
      return text;
    }
    case Display::kDuration: return FormatDuration(n, c);
    case Display::kShortChoice:
    case Display::kExifChoice: return ChoiceName(f.choice_list, n);
    case Display::kFrameRate: return FormatDecimal(static_cast<double>(n) / 1000.0, 2, true, c);
    case Display::kQuality:
      return n < 0 || n > kLastListIndex ? std::string()
                                         : std::string(ListText(strings::kQualityNames, static_cast<int>(n)));
    case Display::kColonPair16: {
      auto v = static_cast<std::uint32_t>(n);
      return Decimal(v >> 16) + ":" + Decimal(v & 0xFFFFu);
    }
    case Display::kExifVersion: {
      auto v = static_cast<std::uint32_t>(n);
      int digits[4];
      for (int i = 0; i < 4; ++i) {
        int ch = static_cast<int>((v >> (24 - 8 * i)) & 0xFFu);
        if (ch < '0' || ch > '9') return {};
        digits[i] = ch - '0';
      }
      return FormatDecimal((digits[0] * 100 + digits[1] * 10 + digits[2]) * 0.1, 1, false, c);
    }
    case Display::kShutterSpeed: {
      if (value.number <= 0 || value.denominator <= 0) return {};
      if (value.number < value.denominator) {
        return "1/" + Decimal(std::llround(static_cast<double>(value.denominator) /
                                           static_cast<double>(value.number)));
      }
      return FormatDecimal(Quotient(value), 1, true, c);
    }
    case Display::kAperture:
      return value.denominator == 0 ? std::string() : "f" + FormatDecimal(Quotient(value), 1, false, c);
    case Display::kExposureBias: {
      if (value.denominator == 0) return {};
      double q = Quotient(value);
      std::string text = FormatDecimal(q, 1, false, c);
      return text[0] == '-' ? text : "+" + text;
    }
    case Display::kFocalLength:
      return value.denominator == 0 ? std::string() : FormatDecimal(Quotient(value), 1, false, c);
    case Display::kDistance:
      return value.denominator == 0 ? std::string() : FormatDecimal(Quotient(value), 2, false, c);
    case Display::kShortInteger: return Decimal(static_cast<std::int16_t>(n));
    case Display::kIsoSpeed: return n == kIsoAuto ? std::string(StringText(strings::kAutoText)) : Decimal(n);
    case Display::kColonPair32: return Decimal(value.number) + ":" + Decimal(value.denominator);
    case Display::kFlash: return FlashText(n);
    case Display::kChapter: {
      std::string name = value.utf8 ? Utf8ToWindows1252(value.text) : value.text;
      return name + " @ " + FormatDuration(value.number, c);
    }
  }
  return {};
}

// Display formats whose text carries its unit already, or takes it from the
// display settings: the field's own unit is not appended to them.
bool CarriesOwnUnit(Display d) {
  switch (d) {
    case Display::kByteSize:
    case Display::kByteRate:
    case Display::kDimensions:
    case Display::kWidth:
    case Display::kHeight:
    case Display::kResolution: return true;
    default: return false;
  }
}

}  // namespace

FormatConventions FormatConventions::Posix() { return FormatConventions{}; }

FormatConventions FormatConventions::Json() {
  FormatConventions c;
  c.date_format = "%Y-%m-%d";
  c.time_format = "%H:%M:%S";
  c.date_time_separator = "T";
  return c;
}

bool ConventionsForLocale(const char* name, FormatConventions& out) {
  out = FormatConventions::Posix();
  locale_t loc = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return false;
  const char* codeset = nl_langinfo_l(CODESET, loc);
  bool utf8 = codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  auto text = [&](nl_item item) { return FromLocaleText(nl_langinfo_l(item, loc), utf8); };
  auto keep = [](std::string& field, std::string value) {
    if (!value.empty()) field = std::move(value);
  };
  keep(out.decimal_separator, text(RADIXCHAR));
  keep(out.date_format, text(D_FMT));
  keep(out.time_format, text(T_FMT));
  keep(out.time_format_ampm, text(T_FMT_AMPM));
  out.am = text(AM_STR);
  out.pm = text(PM_STR);
  static constexpr nl_item kMonths[] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                        MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  static constexpr nl_item kShortMonths[] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                             ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static constexpr nl_item kDays[] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static constexpr nl_item kShortDays[] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
  for (std::size_t i = 0; i < 12; ++i) {
    keep(out.months[i], text(kMonths[i]));
    keep(out.short_months[i], text(kShortMonths[i]));
  }
  for (std::size_t i = 0; i < 7; ++i) {
    keep(out.days[i], text(kDays[i]));
    keep(out.short_days[i], text(kShortDays[i]));
  }
  freelocale(loc);
  return true;
}

const FormatConventions& UserConventions() {
  static const FormatConventions conventions = [] {
    FormatConventions c;
    ConventionsForLocale("", c);
    return c;
  }();
  return conventions;
}

FieldValue FieldValue::Number(std::int64_t v) {
  FieldValue f;
  f.number = v;
  return f;
}

FieldValue FieldValue::Rational(std::int64_t numerator, std::int64_t denominator) {
  FieldValue f;
  f.number = numerator;
  f.denominator = denominator;
  return f;
}

FieldValue FieldValue::Text(std::string text, bool utf8) {
  FieldValue f;
  f.text = std::move(text);
  f.utf8 = utf8;
  return f;
}

FieldValue FieldValue::Size(std::int64_t width, std::int64_t height, std::int64_t resolution) {
  FieldValue f;
  f.number = width;
  f.height = height;
  f.resolution = resolution;
  return f;
}

FieldValue FieldValue::Chapter(std::string name, std::int64_t start_tenths) {
  FieldValue f;
  f.text = std::move(name);
  f.number = start_tenths;
  return f;
}

std::string FormatFieldValue(const FieldValue& value, ValueType type, FieldId id, bool with_units,
                             const FormatContext& context) {
  if (type == ValueType::kNone) return {};
  const FieldDefinition* f = FindField(id);
  if (f == nullptr) return {};
  if (f->shows_zero == 0 && IsZero(value, type)) return {};
  std::string text = FormatByDisplay(*f, value, type, with_units, context);
  if (with_units && f->unit != units::kNone && f->choice_list == 0 && !text.empty() &&
      !CarriesOwnUnit(f->display)) {
    text += " " + Unit(f->unit);
  }
  return text;
}

std::string FormatFieldValue(const FieldValue& value, ValueType type, FieldId id, bool with_units) {
  // Built once: list views format thousands of values per redraw.
  static const FormatContext context = [] {
    FormatContext c;
    c.conventions = UserConventions();
    return c;
  }();
  return FormatFieldValue(value, type, id, with_units, context);
}

std::string FormatFieldValueJson(const FieldValue& value, ValueType type, FieldId id, bool with_units) {
  static const FormatContext context = [] {
    FormatContext c;
    c.conventions = FormatConventions::Json();
    return c;
  }();
  return Windows1252ToUtf8(FormatFieldValue(value, type, id, with_units, context));
}

std::string FormatDateTime(std::uint32_t date_time, const FormatConventions& conventions) {
  CivilTime t = ToCivil(date_time);
  std::string out;
  ExpandPattern(conventions.date_format, t, conventions, 0, out);
  out += conventions.date_time_separator;
  ExpandPattern(conventions.time_format, t, conventions, 0, out);
  return out;
}

std::string FormatDate(std::uint32_t date_time, const FormatConventions& conventions) {
  std::string out;
  ExpandPattern(conventions.date_format, ToCivil(date_time), conventions, 0, out);
  return out;
}

std::string FormatDuration(std::int64_t tenths, const FormatConventions& conventions) {
  bool negative = tenths < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenths) : static_cast<std::uint64_t>(tenths);
  std::uint64_t seconds = magnitude / kTenthsPerSecond;
  std::uint64_t tenth = magnitude % kTenthsPerSecond;
  std::string out = negative ? "-" : "";
  out += std::to_string(seconds / 3600) + ":";
  AppendPadded(out, static_cast<int>(seconds / 60 % 60), 2, '0');
  out += ":";
  AppendPadded(out, static_cast<int>(seconds % 60), 2, '0');
  if (tenth != 0) out += conventions.decimal_separator + std::to_string(tenth);
  return out;
}

std::string FormatByteSize(std::uint64_t bytes, const FormatConventions& conventions) {
  if (bytes < kBytesPerKilobyte) return std::to_string(bytes) + " " + std::string(ListText(strings::kByteSizeUnits, 1));
  double scaled = static_cast<double>(bytes);
  int unit = 1;
  while (scaled >= static_cast<double>(kBytesPerKilobyte) && unit < kByteSizeUnitCount) {
    scaled /= static_cast<double>(kBytesPerKilobyte);
    ++unit;
  }
  return FormatDecimal(scaled, 1, true, conventions) + " " + std::string(ListText(strings::kByteSizeUnits, unit));
}

std::string OrientationName(std::uint16_t code) {
  int number = kDefaultOrientationName;
  for (std::size_t i = 0; i < std::size(kOrientationCodes); ++i) {
    if (kOrientationCodes[i] == code) number = kFirstOrientationName + static_cast<int>(i);
  }
  return std::string(StringText(number));
}

std::string FlashText(std::int64_t value) {
  if (value == 0) return std::string(StringText(strings::kFlashOff));
  int number = strings::kFlashOn;
  for (std::size_t p = 0; p < std::size(kFlashValues); ++p) {
    if (kFlashValues[p] == value) number = strings::kFlashOn + static_cast<int>(p);
  }
  return std::string(StringText(number));
}

std::string FormatDecimal(double value, int decimals, bool trim, const FormatConventions& conventions) {
  if (!std::isfinite(value)) return {};
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return {};
  std::string text(buffer, result.ptr);
  if (trim && text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return WithSeparator(std::move(text), conventions);
}

}  // namespace norvo::metadata
