// SPDX-License-Identifier: GPL-3.0-or-later
#include "print/print_options.h"

#include <algorithm>
#include <cmath>

#include "app/settings_store.h"
#include "platform/text_encoding.h"

namespace norvo::print {
namespace {

constexpr std::uint16_t kFormatVersion = 1;

// A length kept in hundredths of its unit.
std::uint32_t Hundredths(double value) {
  // Beyond every field's range, yet inside 32 bits: out-of-range values are
  // found by the range check rather than wrapped.
  return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 1e7) * 100));
}
double FromHundredths(std::uint32_t value) { return value / 100.0; }

// One fixed field of the chunk: its width in bytes, how it is read from and
// put into the options, and the stored values that are valid. The table's
// order is the order of the bytes (print_format.md).
struct Field {
  int width;  // 1, 2 or 4 bytes, big-endian
  std::uint32_t min, max;
  std::uint32_t (*get)(const PrintOptions&);
  void (*set)(PrintOptions&, std::uint32_t);
  bool (*valid)(std::uint32_t) = nullptr;  // beyond min and max
};

const Field kFields[] = {
    {1, 0, 2, [](const PrintOptions& o) { return std::uint32_t{static_cast<std::uint8_t>(o.layout)}; },
     [](PrintOptions& o, std::uint32_t v) { o.layout = static_cast<PrintLayout>(v); }},
    {1, 0, 3, [](const PrintOptions& o) { return std::uint32_t{static_cast<std::uint8_t>(o.range)}; },
     [](PrintOptions& o, std::uint32_t v) { o.range = static_cast<PrintRange>(v); }},
    {1, 1, 16, [](const PrintOptions& o) { return std::uint32_t{o.scaling}; },
     [](PrintOptions& o, std::uint32_t v) { o.scaling = static_cast<std::uint8_t>(v); }, IsScalingCode},
    {1, 0, print_flags::kAll, [](const PrintOptions& o) { return o.flags & print_flags::kAll; },
     [](PrintOptions& o, std::uint32_t v) { o.flags = v; }},
    {2, 1, kMaxRepeatCount, [](const PrintOptions& o) { return static_cast<std::uint32_t>(o.repeat_count); },
     [](PrintOptions& o, std::uint32_t v) { o.repeat_count = static_cast<int>(v); }},
    {2, 0, 2000, [](const PrintOptions& o) { return Hundredths(o.margin_top); },
     [](PrintOptions& o, std::uint32_t v) { o.margin_top = FromHundredths(v); }},
    {2, 0, 2000, [](const PrintOptions& o) { return Hundredths(o.margin_bottom); },
     [](PrintOptions& o, std::uint32_t v) { o.margin_bottom = FromHundredths(v); }},
    {2, 0, 2000, [](const PrintOptions& o) { return Hundredths(o.margin_left); },
     [](PrintOptions& o, std::uint32_t v) { o.margin_left = FromHundredths(v); }},
    {2, 0, 2000, [](const PrintOptions& o) { return Hundredths(o.margin_right); },
     [](PrintOptions& o, std::uint32_t v) { o.margin_right = FromHundredths(v); }},
    {1, 0, 1, [](const PrintOptions& o) { return std::uint32_t{o.mirror_margins}; },
     [](PrintOptions& o, std::uint32_t v) { o.mirror_margins = v != 0; }},
    {1, 0, 2, [](const PrintOptions& o) { return std::uint32_t{static_cast<std::uint8_t>(o.grid)}; },
     [](PrintOptions& o, std::uint32_t v) { o.grid = static_cast<GridMode>(v); }},
    {1, 1, kMaxGridCells, [](const PrintOptions& o) { return static_cast<std::uint32_t>(o.columns); },
     [](PrintOptions& o, std::uint32_t v) { o.columns = static_cast<int>(v); }},
    {1, 1, kMaxGridCells, [](const PrintOptions& o) { return static_cast<std::uint32_t>(o.rows); },
     [](PrintOptions& o, std::uint32_t v) { o.rows = static_cast<int>(v); }},
    {4, 1, 1000000, [](const PrintOptions& o) { return Hundredths(o.cell_width); },
     [](PrintOptions& o, std::uint32_t v) { o.cell_width = FromHundredths(v); }},
    {4, 1, 1000000, [](const PrintOptions& o) { return Hundredths(o.cell_height); },
     [](PrintOptions& o, std::uint32_t v) { o.cell_height = FromHundredths(v); }},
    {1, 0, 4, [](const PrintOptions& o) { return std::uint32_t{static_cast<std::uint8_t>(o.unit)}; },
     [](PrintOptions& o, std::uint32_t v) { o.unit = static_cast<GridUnit>(v); }},
    {4, 1000, 200000, [](const PrintOptions& o) { return Hundredths(o.paper_width_mm); },
     [](PrintOptions& o, std::uint32_t v) { o.paper_width_mm = FromHundredths(v); }},
    {4, 1000, 200000, [](const PrintOptions& o) { return Hundredths(o.paper_height_mm); },
     [](PrintOptions& o, std::uint32_t v) { o.paper_height_mm = FromHundredths(v); }},
    {1, 0, 1, [](const PrintOptions& o) { return std::uint32_t{o.landscape}; },
     [](PrintOptions& o, std::uint32_t v) { o.landscape = v != 0; }},
};

void Put(ByteWriter& w, int width, std::uint32_t v) {
  if (width == 1) w.u8(static_cast<std::uint8_t>(v));
  if (width == 2) w.u16be(static_cast<std::uint16_t>(v));
  if (width == 4) w.u32be(v);
}

std::uint32_t Get(ByteReader& r, int width) {
  if (width == 1) return r.u8();
  if (width == 2) return r.u16be();
  return r.u32be();
}

bool InRange(const Field& f, std::uint32_t v) { return v >= f.min && v <= f.max && (!f.valid || f.valid(v)); }

}  // namespace

bool IsScalingCode(std::uint32_t code) {
  return std::ranges::any_of(kScalings, [code](const ScalingEntry& e) { return e.code == code; });
}

int ScalingPercent(std::uint8_t code) {
  if (code < scaling::k25 || code > scaling::k1600) return 0;
  return 25 << (code - scaling::k25);
}

double PointsPerUnit(GridUnit unit) {
  switch (unit) {
    case GridUnit::kPixels: return 72.0 / 96.0;
    case GridUnit::kInches: return 72.0;
    case GridUnit::kCentimeters: return 72.0 / 2.54;
    case GridUnit::kPoints: return 1.0;
    case GridUnit::kPicas: return 12.0;
  }
  return 1.0;
}

std::vector<std::uint8_t> EncodePrintOptions(const PrintOptions& options) {
  ByteWriter w(64);
  w.u16be(kFormatVersion);
  const PrintOptions defaults;
  for (const Field& f : kFields) {
    const std::uint32_t v = f.get(options);
    Put(w, f.width, InRange(f, v) ? v : f.get(defaults));
  }
  for (const std::string& line : options.lines) {
    const std::size_t n = std::min(line.size(), kMaxHeaderLineBytes);
    w.u16be(static_cast<std::uint16_t>(n));
    w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), n));
  }
  return w.take();
}

ErrorCode DecodePrintOptions(std::span<const std::uint8_t> bytes, PrintOptions* out) {
  ByteReader r(bytes);
  if (r.u16be() != kFormatVersion || !r.ok()) return err::kParam;
  PrintOptions o;
  for (const Field& f : kFields) {
    const std::uint32_t v = Get(r, f.width);
    if (InRange(f, v)) f.set(o, v);
  }
  for (std::string& line : o.lines) {
    const std::uint16_t n = r.u16be();
    std::span<const std::uint8_t> text = r.bytes(n);
    if (!r.ok()) return err::kParam;
    line.assign(reinterpret_cast<const char*>(text.data()), text.size());
    if (line.size() > kMaxHeaderLineBytes || !IsWellFormedUtf8(line)) return err::kParam;
  }
  if (!r.ok()) return err::kParam;
  *out = std::move(o);
  return err::kNone;
}

PrintOptions LoadPrintOptions(const catalog::Catalog& catalog, const app::SettingsStore* store) {
  PrintOptions o;
  if (!catalog.print_layout.empty() && DecodePrintOptions(catalog.print_layout, &o) == err::kNone) return o;
  if (store != nullptr) {
    if (std::optional<app::Bytes> b = app::GetSetting(*store, kPrintOptionsCode, kPrintOptionsIndex)) {
      if (DecodePrintOptions(*b, &o) == err::kNone) return o;
    }
  }
  return PrintOptions{};
}

ErrorCode StorePrintOptions(catalog::Catalog& catalog, app::SettingsStore* store, const PrintOptions& options) {
  std::vector<std::uint8_t> bytes = EncodePrintOptions(options);
  if (bytes != catalog.print_layout) {
    catalog.print_layout = bytes;
    catalog.markChanged();
  }
  if (store == nullptr) return err::kNone;
  return app::PutSetting(*store, kPrintOptionsCode, kPrintOptionsIndex, std::span<const std::uint8_t>(bytes));
}

}  // namespace norvo::print
