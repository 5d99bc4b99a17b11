// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/slide_show_options.h"

#include <algorithm>

#include "catalog/catalog.h"
#include "platform/byte_io.h"
#include "platform/record_fields.h"

namespace norvo::output {
namespace {

using FieldReader = RecordFieldReader<Endian::kBig>;
using FieldWriter = RecordFieldWriter<Endian::kBig>;

// The codes in combo order.
constexpr Transition kTransitions[kTransitionCount] = {
    Transition::kNone,           Transition::kRandom,           Transition::kBarnHorizontal,
    Transition::kBarnVertical,   Transition::kBlindsHorizontal, Transition::kBlindsVertical,
    Transition::kIrisCircle,     Transition::kIrisSquare,       Transition::kSlideLeftToRight,
    Transition::kSlideTopToBottom, Transition::kCrossFade,      Transition::kRadial,
};
constexpr MediaScaling kScalings[kScalingCount] = {
    MediaScaling::kActualSize,   MediaScaling::kScaleToFit,    MediaScaling::kFitWidth,
    MediaScaling::kFitHeight,    MediaScaling::kPinSmallerSide, MediaScaling::kPinLargerSide,
    MediaScaling::kTile,         MediaScaling::kPercent25,     MediaScaling::kPercent50,
    MediaScaling::kPercent100,   MediaScaling::kPercent200,    MediaScaling::kPercent400,
    MediaScaling::kPercent800,   MediaScaling::kPercent1600,
};

template <class Code, std::size_t N>
int PositionOf(const Code (&table)[N], std::uint8_t code) {
  for (std::size_t i = 0; i < N; ++i) {
    if (static_cast<std::uint8_t>(table[i]) == code) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace

// The stored codes leave a gap after "Random": position + 1, and one more
// from "Barn horizontal" on.
std::uint8_t TransitionCodeAt(int position) {
  position = std::clamp(position, 0, kTransitionCount - 1);
  int code = position + 1;
  if (code > 2) code += 1;
  return static_cast<std::uint8_t>(code);
}

int TransitionPosition(std::uint8_t code) { return PositionOf(kTransitions, code); }

// Gaps after "Scale to Fit" and after "Tile": position + 1, one more for
// 3..7, two more above 7.
std::uint8_t ScalingCodeAt(int position) {
  position = std::clamp(position, 0, kScalingCount - 1);
  int code = position + 1;
  if (code >= 3 && code <= 7) {
    code += 1;
  } else if (code > 7) {
    code += 2;
  }
  return static_cast<std::uint8_t>(code);
}

int ScalingPosition(std::uint8_t code) { return PositionOf(kScalings, code); }

Transition TransitionFromCode(std::uint8_t code) { return kTransitions[TransitionPosition(code)]; }

MediaScaling ScalingFromCode(std::uint8_t code) { return kScalings[ScalingPosition(code)]; }

std::optional<double> ScalingZoom(MediaScaling scaling) {
  switch (scaling) {
    case MediaScaling::kPercent25: return 0.25;
    case MediaScaling::kPercent50: return 0.5;
    case MediaScaling::kPercent100: return 1.0;
    case MediaScaling::kPercent200: return 2.0;
    case MediaScaling::kPercent400: return 4.0;
    case MediaScaling::kPercent800: return 8.0;
    case MediaScaling::kPercent1600: return 16.0;
    default: return std::nullopt;
  }
}

int SlideShowOptions::secondsPerSlide() const {
  return seconds == 0 || seconds > kMaxSecondsPerSlide ? kDefaultSecondsPerSlide : seconds;
}

ErrorCode ParseSlideShowOptions(std::span<const std::uint8_t> bytes, SlideShowOptions* out) {
  *out = SlideShowOptions{};
  if (bytes.size() != kSlideShowOptionsSize) return err::kParam;
  ByteReader reader(bytes);
  FieldReader fields{reader};
  SlideShowOptions read;
  VisitSlideShowOptions(read, fields);
  if (!reader.ok()) return err::kParam;
  *out = read;
  return err::kNone;
}

std::vector<std::uint8_t> SerializeSlideShowOptions(const SlideShowOptions& options) {
  ByteWriter writer(kSlideShowOptionsSize);
  FieldWriter fields{writer};
  VisitSlideShowOptions(options, fields);
  return writer.take();
}

SlideShowOptions LoadSlideShowPreferences(std::span<const std::uint8_t> block, std::size_t offset) {
  SlideShowOptions options;
  if (offset > block.size() || block.size() - offset < kSlideShowOptionsSize) return options;
  const std::span<const std::uint8_t> record = block.subspan(offset, kSlideShowOptionsSize);
  if (std::all_of(record.begin(), record.end(), [](std::uint8_t b) { return b == 0; })) return options;
  (void)ParseSlideShowOptions(record, &options);
  return options;
}

ErrorCode StoreSlideShowPreferences(std::span<std::uint8_t> block, std::size_t offset,
                                    const SlideShowOptions& options) {
  if (offset > block.size() || block.size() - offset < kSlideShowOptionsSize) return err::kParam;
  const std::vector<std::uint8_t> bytes = SerializeSlideShowOptions(options);
  std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
  return err::kNone;
}

std::optional<SlideShowOptions> CatalogSlideShowOptions(std::span<const std::uint8_t> chunk) {
  SlideShowOptions options;
  if (ParseSlideShowOptions(chunk, &options) != err::kNone) return std::nullopt;
  return options;
}

SlideShowOptions EffectiveSlideShowOptions(std::span<const std::uint8_t> catalog_chunk,
                                           std::span<const std::uint8_t> preferences_block,
                                           std::size_t preferences_offset) {
  if (std::optional<SlideShowOptions> own = CatalogSlideShowOptions(catalog_chunk)) return *own;
  return LoadSlideShowPreferences(preferences_block, preferences_offset);
}

void SetCatalogSlideShowOptions(catalog::Catalog& catalog, const SlideShowOptions& options) {
  catalog.slide_show_options = SerializeSlideShowOptions(options);
  catalog.markChanged();
}

}  // namespace norvo::output
