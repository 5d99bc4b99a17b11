// SPDX-License-Identifier: GPL-3.0-or-later
// Every text conversion of the system lives here. Engine text is Windows-1252;
// catalog files store Mac Roman; paths, the GUI, JSON and HTML use UTF-8.
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
