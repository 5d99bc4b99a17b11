// SPDX-License-Identifier: GPL-3.0-or-later
// What the gallery carries inside the program: the two page templates
// (plain ASCII, CR LF line ends) and the eight 32 x 32 icons that stand in
// for items without a picture, one per media class.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace norvo::output {

// The index page: a thumbnail table in table mode.
std::string_view BuiltInIndexTemplate();
// The media page of one item.
std::string_view BuiltInMediaTemplate();

// The icon of media class `media_class` (0 to 7; any other class, and class
// 0, share the generic icon) as GIF bytes, and its file name "iconN.gif".
std::span<const std::uint8_t> ClassIconGif(int media_class);
int ClassIconNumber(int media_class);
inline constexpr int kIconSide = 32;

}  // namespace norvo::output
