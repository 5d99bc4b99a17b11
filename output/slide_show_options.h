// SPDX-License-Identifier: GPL-3.0-or-later
// The slide show options: one 40-byte record (transition, media scaling,
// seconds per slide, background colour and five flags) kept twice, as the
// program's default in the preferences block and as a catalog's own in its
// "NSSO" chunk. The byte layout is in slide_show_format.md; one field table
// (VisitSlideShowOptions) drives the reader and the writer and covers every
// byte, so a record read and written again comes back byte for byte.
//
// The record keeps the codes as stored; the accessors say what a code means
// (a stored 0 is "None" / "Actual Size", a duration of 0 or above 60 is 4).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::output {

inline constexpr std::size_t kSlideShowOptionsSize = 40;

// Transition codes, as stored. Code 3 is never stored.
enum class Transition : std::uint8_t {
  kNone = 1,
  kRandom = 2,
  kBarnHorizontal = 4,
  kBarnVertical = 5,
  kBlindsHorizontal = 6,
  kBlindsVertical = 7,
  kIrisCircle = 8,
  kIrisSquare = 9,
  kSlideLeftToRight = 10,
  kSlideTopToBottom = 11,
  kCrossFade = 12,
  kRadial = 13,
};
inline constexpr int kTransitionCount = 12;

// Media scaling codes, as stored. Codes 3 and 9 are never stored.
enum class MediaScaling : std::uint8_t {
  kActualSize = 1,
  kScaleToFit = 2,
  kFitWidth = 4,
  kFitHeight = 5,
  kPinSmallerSide = 6,
  kPinLargerSide = 7,
  kTile = 8,
  kPercent25 = 10,
  kPercent50 = 11,
  kPercent100 = 12,
  kPercent200 = 13,
  kPercent400 = 14,
  kPercent800 = 15,
  kPercent1600 = 16,
};
inline constexpr int kScalingCount = 14;

// Combo positions (from 0, in the order the dialog lists them) and codes.
// A code that is not one of the table's selects position 0.
std::uint8_t TransitionCodeAt(int position);
int TransitionPosition(std::uint8_t code);
std::uint8_t ScalingCodeAt(int position);
int ScalingPosition(std::uint8_t code);

// What a stored code means: 0 and codes outside the table read as None /
// Actual Size.
Transition TransitionFromCode(std::uint8_t code);
MediaScaling ScalingFromCode(std::uint8_t code);
// The zoom factor of a percentage code (25% .. 1600%); nothing for the
// other scalings.
std::optional<double> ScalingZoom(MediaScaling scaling);

inline constexpr std::uint8_t kMaxSecondsPerSlide = 60;
inline constexpr std::uint8_t kDefaultSecondsPerSlide = 4;

struct SlideShowOptions {
  std::uint8_t transition_code = static_cast<std::uint8_t>(Transition::kCrossFade);
  std::uint8_t scaling_code = static_cast<std::uint8_t>(MediaScaling::kScaleToFit);
  std::uint8_t seconds = kDefaultSecondsPerSlide;
  std::uint8_t byte_3 = 0;  // kept as stored
  std::uint16_t red = 0;    // background colour, 16-bit components
  std::uint16_t green = 0;
  std::uint16_t blue = 0;
  std::uint8_t interactive = 1;
  std::uint8_t continuous = 0;
  std::uint8_t random = 0;
  std::uint8_t media_info = 0;
  std::uint8_t controller = 1;
  std::array<std::uint8_t, 25> reserved{};  // kept as stored

  Transition transition() const { return TransitionFromCode(transition_code); }
  MediaScaling scaling() const { return ScalingFromCode(scaling_code); }
  // 1..60: a stored 0 or anything above 60 is 4.
  int secondsPerSlide() const;
  void setTransition(Transition t) { transition_code = static_cast<std::uint8_t>(t); }
  void setScaling(MediaScaling s) { scaling_code = static_cast<std::uint8_t>(s); }

  bool operator==(const SlideShowOptions&) const = default;
};

// The one table of the record, in offset order, covering all 40 bytes.
template <class Options, class Visitor>
void VisitSlideShowOptions(Options& o, Visitor& v) {
  v.u8(0, o.transition_code);
  v.u8(1, o.scaling_code);
  v.u8(2, o.seconds);
  v.u8(3, o.byte_3);
  v.u16(4, o.red);
  v.u16(6, o.green);
  v.u16(8, o.blue);
  v.u8(10, o.interactive);
  v.u8(11, o.continuous);
  v.u8(12, o.random);
  v.u8(13, o.media_info);
  v.u8(14, o.controller);
  v.raw(15, o.reserved);
}

// Reads a stored record. A record that is not 40 bytes long is err::kParam
// and *out holds the defaults.
ErrorCode ParseSlideShowOptions(std::span<const std::uint8_t> bytes, SlideShowOptions* out);
std::vector<std::uint8_t> SerializeSlideShowOptions(const SlideShowOptions& options);

// The program's default record, kept in the preferences block `block` at
// `offset` (app::pref::kSlideShowOptions). A record of all zero bytes was
// never set and gives the defaults.
SlideShowOptions LoadSlideShowPreferences(std::span<const std::uint8_t> block, std::size_t offset);
// err::kParam when the record does not fit in the block.
ErrorCode StoreSlideShowPreferences(std::span<std::uint8_t> block, std::size_t offset,
                                    const SlideShowOptions& options);

// A catalog's own record ("NSSO"): nothing when the catalog has none (or a
// chunk of the wrong size, which is not taken).
std::optional<SlideShowOptions> CatalogSlideShowOptions(std::span<const std::uint8_t> chunk);

// The record a slide show uses: the catalog's own when it has one, else the
// program's default.
SlideShowOptions EffectiveSlideShowOptions(std::span<const std::uint8_t> catalog_chunk,
                                           std::span<const std::uint8_t> preferences_block,
                                           std::size_t preferences_offset);

}  // namespace norvo::output

namespace norvo::catalog {
struct Catalog;
}

namespace norvo::output {
// Puts the record into the catalog's chunk and marks the catalog changed.
void SetCatalogSlideShowOptions(catalog::Catalog& catalog, const SlideShowOptions& options);
}  // namespace norvo::output
