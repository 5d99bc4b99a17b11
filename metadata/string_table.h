// SPDX-License-Identifier: GPL-3.0-or-later
// The program's numbered texts: field labels, units, value names, colour
// label names and the messages of the field layer. A text is numbered
// list x 100 + index (index from 1); a number that no list holds, or an index
// past its list's end, gives an empty text. Texts are Windows-1252.
#pragma once

#include <string_view>

namespace norvo::metadata {

// String lists and single strings other code refers to by name.
namespace strings {
inline constexpr int kFieldLabels = 510;       // 51001..51095
inline constexpr int kUnits = 511;             // 51101..51116
inline constexpr int kByteSizeUnits = 513;     // 51301 bytes .. 51305 TB
inline constexpr int kSections = 516;          // 51600 + section
inline constexpr int kChoiceListBase = 520;    // choice list n is list 520 + n
inline constexpr int kQualityNames = 526;      // 52600 + quality level
inline constexpr int kOrientationNames = 530;  // 53002..53009
inline constexpr int kColourLabels = 133;      // 13301 None .. 13310 Gray
inline constexpr int kMessages = 130;

inline constexpr int kAutoText = 52201;   // "Auto" (light source 0, ISO 255)
inline constexpr int kFlashOff = 52801;   // "OFF"
inline constexpr int kFlashOn = 52802;    // "ON", first of the flash value names
inline constexpr int kRemoveCustomFieldQuestion = 13022;
inline constexpr int kCustomFieldNameTaken = 13059;
inline constexpr int kTooManyCustomFields = 13060;
}  // namespace strings

// The text of string `number`; empty when there is none.
std::string_view StringText(int number);
// The text at `index` (from 1) of `list`.
std::string_view ListText(int list, int index);
// The highest index of `list` that holds a text; 0 for an unknown list.
int ListLength(int list);

}  // namespace norvo::metadata
