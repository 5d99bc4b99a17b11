// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/import_options.h"

#include <charconv>
#include <cstdio>

#include "catalog/catalog.h"
#include "platform/byte_io.h"
#include "platform/dates.h"
#include "platform/text_encoding.h"

namespace norvo::media {
namespace {

// Reads the table's fields from the block's stored bytes.
struct FieldReader {
  FixedBytes in;
  void u8(std::size_t offset, std::uint8_t& v) {
    auto s = in.slice(offset, 1);
    v = s.empty() ? 0 : s[0];
  }
  void u32(std::size_t offset, std::uint32_t& v) { v = in.getU32be(offset); }
  template <std::size_t N>
  void text(std::size_t offset, std::array<std::uint8_t, N>& v) {
    auto s = in.slice(offset, N);
    if (s.size() == N) std::copy(s.begin(), s.end(), v.begin());
  }
};

// Writes the table's fields into the block, nothing else.
struct FieldWriter {
  FixedBytes out;
  void u8(std::size_t offset, const std::uint8_t& v) {
    auto s = out.slice(offset, 1);
    if (!s.empty()) s[0] = v;
  }
  void u32(std::size_t offset, const std::uint32_t& v) { out.setU32be(offset, v); }
  template <std::size_t N>
  void text(std::size_t offset, const std::array<std::uint8_t, N>& v) {
    auto s = out.slice(offset, N);
    if (s.size() == N) std::copy(v.begin(), v.end(), s.begin());
  }
};

struct FilterKey {
  const char* name;
  const char* value_key;
  ImportFilter filter;
};
constexpr FilterKey kFilterKeys[] = {
    {"name", "text", ImportFilter::kName},     {"created", "date", ImportFilter::kCreated},
    {"modified", "date", ImportFilter::kModified}, {"size", "kb", ImportFilter::kSize},
    {"level", "level", ImportFilter::kLevel},  {"type", "code", ImportFilter::kType},
};

bool ParseUnsigned(std::string_view text, std::uint32_t& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseBool(const std::string& text, bool& out) {
  if (text == "true" || text == "1") {
    out = true;
  } else if (text == "false" || text == "0") {
    out = false;
  } else {
    return false;
  }
  return true;
}

std::string FourCharacters(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
  return Windows1252ToUtf8(text);
}

std::optional<std::uint32_t> CodeFromText(const std::string& utf8) {
  std::string text = Utf8ToWindows1252(utf8);
  if (text.size() > 4) return std::nullopt;
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < 4; ++i) code = (code << 8) | static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
  return code;
}

bool ValidOperator(ImportFilter f, int op) {
  return op >= 1 && op <= kOperatorCount[static_cast<std::size_t>(f)];
}


}  // namespace

void ImportSettings::enable(ImportFilter f, bool on) {
  const std::uint32_t bit = MaskBit(static_cast<int>(f));
  enabled_filters = on ? (enabled_filters | bit) : (enabled_filters & ~bit);
}

ImportSettings ImportSettings::Defaults() { return ReadImportSettings(catalog::ImportOptions::Defaults()); }

ImportSettings ReadImportSettings(const catalog::ImportOptions& block) {
  catalog::ImportOptions copy = block;  // FixedBytes wants mutable bytes
  FieldReader reader{FixedBytes(copy.bytes)};
  ImportSettings s;
  VisitImportFields(s, reader);
  return s;
}

void WriteImportSettings(const ImportSettings& settings, catalog::ImportOptions& block) {
  FieldWriter writer{FixedBytes(block.bytes)};
  VisitImportFields(settings, writer);
}

ImportSettings GetImportSettings(const catalog::Catalog& catalog) {
  return ReadImportSettings(catalog.import_options);
}

void SetImportSettings(catalog::Catalog& catalog, const ImportSettings& settings) {
  catalog::ImportOptions block = catalog.import_options;
  WriteImportSettings(settings, block);
  if (block.bytes == catalog.import_options.bytes) return;
  catalog.import_options = block;
  catalog.markChanged();
}

std::int32_t ImportDayKey(std::uint32_t date_time) {
  const CivilDate d = CivilFromDateTime(date_time).date;
  return static_cast<std::int32_t>(d.year) * 365 + d.month * 31 + d.day;
}

std::string FormatImportDate(std::uint32_t date_time) {
  const CivilDateTime c = CivilFromDateTime(date_time);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", static_cast<int>(c.date.year), c.date.month,
                c.date.day, c.hour, c.minute, c.second);
  return text;
}

std::optional<std::uint32_t> ParseImportDate(const std::string& text) {
  // YYYY-MM-DD, optionally followed by T or a space and HH:MM:SS.
  if (text.size() != 10 && text.size() != 19) return std::nullopt;
  std::uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  const std::string_view t(text);
  if (t[4] != '-' || t[7] != '-' || !ParseUnsigned(t.substr(0, 4), year) || !ParseUnsigned(t.substr(5, 2), month) ||
      !ParseUnsigned(t.substr(8, 2), day)) {
    return std::nullopt;
  }
  if (text.size() == 19) {
    if ((t[10] != 'T' && t[10] != ' ') || t[13] != ':' || t[16] != ':' || !ParseUnsigned(t.substr(11, 2), hour) ||
        !ParseUnsigned(t.substr(14, 2), minute) || !ParseUnsigned(t.substr(17, 2), second)) {
      return std::nullopt;
    }
  }
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const CivilDate date{year, static_cast<int>(month), static_cast<int>(day)};
  // A day past the month's end would roll over into the next month.
  if (CivilFromDays(DaysFromCivil(date.year, date.month, date.day)).day != date.day) return std::nullopt;
  const std::int64_t value =
      SecondsSince1904(date, static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second));
  if (value < 0 || value > 0xFFFFFFFFll) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

ImportOptionsView ImportOptionsToView(const ImportSettings& s) {
  ImportOptionsView v;
  for (int c = 0; c < kMediaClassCount; ++c) {
    if (IsBitInMask(s.class_mask, c)) v.class_mask.emplace_back(MediaClassName(static_cast<MediaClass>(c)));
  }
  v.ignore_shortcuts = s.ignore_shortcuts != 0;
  v.ignore_invisible = s.ignore_invisible != 0;
  v.name = {s.enabled(ImportFilter::kName), s.op(ImportFilter::kName), Windows1252ToUtf8(s.name_text.text())};
  v.created = {s.enabled(ImportFilter::kCreated), s.op(ImportFilter::kCreated), FormatImportDate(s.created)};
  v.modified = {s.enabled(ImportFilter::kModified), s.op(ImportFilter::kModified), FormatImportDate(s.modified)};
  v.size = {s.enabled(ImportFilter::kSize), s.op(ImportFilter::kSize), s.size_kb};
  v.level = {s.enabled(ImportFilter::kLevel), s.op(ImportFilter::kLevel), s.level};
  v.type = {s.enabled(ImportFilter::kType), s.op(ImportFilter::kType), FourCharacters(s.type)};
  return v;
}

ErrorCode ImportOptionsFromView(const ImportOptionsView& v, ImportSettings& settings) {
  ImportSettings s = settings;
  // Only the eight class bits are the view's; the rest of the mask stays.
  for (int c = 0; c < kMediaClassCount; ++c) s.class_mask &= ~MaskBit(c);
  for (const std::string& name : v.class_mask) {
    int found = -1;
    for (int c = 0; c < kMediaClassCount; ++c) {
      if (MediaClassName(static_cast<MediaClass>(c)) == name) found = c;
    }
    if (found < 0) return err::kParam;
    s.class_mask |= MaskBit(found);
  }
  s.ignore_shortcuts = v.ignore_shortcuts ? 1 : 0;
  s.ignore_invisible = v.ignore_invisible ? 1 : 0;

  const std::pair<ImportFilter, std::pair<bool, int>> filters[] = {
      {ImportFilter::kName, {v.name.enabled, v.name.op}},         {ImportFilter::kCreated, {v.created.enabled, v.created.op}},
      {ImportFilter::kModified, {v.modified.enabled, v.modified.op}}, {ImportFilter::kSize, {v.size.enabled, v.size.op}},
      {ImportFilter::kLevel, {v.level.enabled, v.level.op}},       {ImportFilter::kType, {v.type.enabled, v.type.op}},
  };
  for (const auto& [filter, state] : filters) {
    if (!ValidOperator(filter, state.second)) return err::kParam;
    s.enable(filter, state.first);
    s.setOp(filter, static_cast<std::uint8_t>(state.second));
  }

  bool lossless = true;
  const std::string name_text = Utf8ToWindows1252(v.name.text, &lossless);
  if (!lossless || name_text.size() > kMaxImportNameText) return err::kParam;
  s.name_text.set(name_text);
  auto created = ParseImportDate(v.created.date);
  auto modified = ParseImportDate(v.modified.date);
  auto type = CodeFromText(v.type.code);
  if (!created || !modified || !type) return err::kParam;
  s.created = *created;
  s.modified = *modified;
  s.size_kb = v.size.value;
  s.level = v.level.value;
  s.type = *type;
  settings = s;
  return err::kNone;
}

std::vector<std::pair<std::string, std::string>> ImportOptionsToKeyValues(const ImportOptionsView& v) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string classes;
  for (const std::string& c : v.class_mask) classes += (classes.empty() ? "" : ",") + c;
  out.emplace_back("class_mask", classes);
  out.emplace_back("ignore_shortcuts", v.ignore_shortcuts ? "true" : "false");
  out.emplace_back("ignore_invisible", v.ignore_invisible ? "true" : "false");
  auto add = [&out](const char* filter, const char* value_key, bool enabled, int op, std::string value) {
    const std::string prefix = std::string("filters.") + filter + ".";
    out.emplace_back(prefix + "enabled", enabled ? "true" : "false");
    out.emplace_back(prefix + "op", std::to_string(op));
    out.emplace_back(prefix + value_key, std::move(value));
  };
  add("name", "text", v.name.enabled, v.name.op, v.name.text);
  add("created", "date", v.created.enabled, v.created.op, v.created.date);
  add("modified", "date", v.modified.enabled, v.modified.op, v.modified.date);
  add("size", "kb", v.size.enabled, v.size.op, std::to_string(v.size.value));
  add("level", "level", v.level.enabled, v.level.op, std::to_string(v.level.value));
  add("type", "code", v.type.enabled, v.type.op, v.type.code);
  return out;
}

ErrorCode SetImportOptionsKey(ImportOptionsView& v, const std::string& key, const std::string& value) {
  if (key == "class_mask") {
    std::vector<std::string> classes;
    std::size_t start = 0;
    while (start <= value.size() && !value.empty()) {
      std::size_t comma = value.find(',', start);
      if (comma == std::string::npos) comma = value.size();
      classes.push_back(value.substr(start, comma - start));
      start = comma + 1;
    }
    v.class_mask = std::move(classes);
    return err::kNone;
  }
  if (key == "ignore_shortcuts") return ParseBool(value, v.ignore_shortcuts) ? err::kNone : err::kParam;
  if (key == "ignore_invisible") return ParseBool(value, v.ignore_invisible) ? err::kNone : err::kParam;

  for (const FilterKey& f : kFilterKeys) {
    const std::string prefix = std::string("filters.") + f.name + ".";
    if (key.rfind(prefix, 0) != 0) continue;
    const std::string field = key.substr(prefix.size());
    bool* enabled = nullptr;
    int* op = nullptr;
    switch (f.filter) {
      case ImportFilter::kName: enabled = &v.name.enabled, op = &v.name.op; break;
      case ImportFilter::kCreated: enabled = &v.created.enabled, op = &v.created.op; break;
      case ImportFilter::kModified: enabled = &v.modified.enabled, op = &v.modified.op; break;
      case ImportFilter::kSize: enabled = &v.size.enabled, op = &v.size.op; break;
      case ImportFilter::kLevel: enabled = &v.level.enabled, op = &v.level.op; break;
      case ImportFilter::kType: enabled = &v.type.enabled, op = &v.type.op; break;
    }
    if (field == "enabled") return ParseBool(value, *enabled) ? err::kNone : err::kParam;
    if (field == "op") {
      std::uint32_t n = 0;
      if (!ParseUnsigned(value, n) || !ValidOperator(f.filter, static_cast<int>(n))) return err::kParam;
      *op = static_cast<int>(n);
      return err::kNone;
    }
    if (field != f.value_key) return err::kParam;
    switch (f.filter) {
      case ImportFilter::kName: v.name.text = value; return err::kNone;
      case ImportFilter::kCreated: v.created.date = value; return err::kNone;
      case ImportFilter::kModified: v.modified.date = value; return err::kNone;
      case ImportFilter::kSize: return ParseUnsigned(value, v.size.value) ? err::kNone : err::kParam;
      case ImportFilter::kLevel: return ParseUnsigned(value, v.level.value) ? err::kNone : err::kParam;
      case ImportFilter::kType: v.type.code = value; return err::kNone;
    }
  }
  return err::kParam;
}


}  // namespace norvo::media
