// SPDX-License-Identifier: GPL-3.0-or-later
// Every text conversion of the system lives here. Engine text is UTF-8;
// the annotation block keeps Windows-1252 where that can hold the text,
// catalog files store Mac Roman, IPTC records without a character set
// declaration are Windows-1252.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvo {

enum class TextDirection : std::uint8_t { kMacToWindows, kWindowsToMac };

// The one-to-one Mac Roman <-> Windows-1252 table, applied in place.
void ConvertText(std::span<std::uint8_t> text, TextDirection direction);
void ConvertText(std::string& text, TextDirection direction);
std::uint8_t MacRomanToWindows1252(std::uint8_t c);
std::uint8_t Windows1252ToMacRoman(std::uint8_t c);

// Windows-1252 to UTF-8; the five undefined codes map to U+0081 etc.
std::string Windows1252ToUtf8(std::string_view text);
// UTF-8 to Windows-1252; characters outside the code page become '_' and
// *lossless (when given) turns false. Malformed UTF-8 bytes are taken as
// Windows-1252 bytes as they stand.
std::string Utf8ToWindows1252(std::string_view text, bool* lossless = nullptr);

// The text as well-formed UTF-8: well-formed sequences stay as they are,
// every other byte is read as Windows-1252 (Latin-1 where Windows-1252
// leaves a code undefined), as Utf8ToWindows1252 takes such bytes.
std::string LenientUtf8(std::string_view text);
// Whether text is well-formed UTF-8 throughout.
bool IsWellFormedUtf8(std::string_view text);

// The length of the longest start of UTF-8 text that holds at most
// `max_bytes` bytes and does not break a character: the cut falls between
// two code points, never before a combining mark, variation selector, skin
// tone modifier or emoji tag (they stay with the character they follow),
// never after a zero-width joiner and never inside a flag's pair of regional
// indicators. Bytes that are not UTF-8 count as characters of their own.
std::size_t Utf8CutLength(std::string_view utf8, std::size_t max_bytes);

// UTF-8 <-> UTF-16. Bytes that are not UTF-8 (Linux file names may hold
// any) travel as the lone surrogates U+DC80..U+DCFF and come back as the
// same bytes, so every name survives the round trip.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Upper-case in Windows-1252, for comparisons that ignore case.
std::uint8_t UpperWindows1252(std::uint8_t c);

// Compares two length-prefixed strings (length byte, then text), as the
// classic string service does: <0, 0, >0. `case_sensitive` false folds case.
int ComparePString(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                   bool case_sensitive);
// The same on plain byte strings.
int CompareText(std::string_view a, std::string_view b, bool case_sensitive);

// Escapes UTF-8 text for a JSON string literal (without the quotes).
std::string JsonEscape(std::string_view utf8);

}  // namespace norvo
