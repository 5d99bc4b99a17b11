// SPDX-License-Identifier: GPL-3.0-or-later
// ASCII case: only 'a'..'z' and 'A'..'Z' change, every other byte (and so
// every byte of a multi-byte or 8-bit character) stays as it is.
#pragma once

#include <cstdint>

namespace norvo {

constexpr std::uint8_t AsciiUpper(std::uint8_t c) {
  return c >= 'a' && c <= 'z' ? static_cast<std::uint8_t>(c - ('a' - 'A')) : c;
}
constexpr std::uint8_t AsciiLower(std::uint8_t c) {
  return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c + ('a' - 'A')) : c;
}
constexpr char AsciiUpper(char c) { return static_cast<char>(AsciiUpper(static_cast<std::uint8_t>(c))); }
constexpr char AsciiLower(char c) { return static_cast<char>(AsciiLower(static_cast<std::uint8_t>(c))); }

}  // namespace norvo
