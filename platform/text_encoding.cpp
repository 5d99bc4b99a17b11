// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_encoding.h"

#include <array>
#include <cstdio>
#include <vector>

#include "platform/ascii.h"

namespace norvo {
namespace {

// Unicode of Mac Roman 0x80-0xFF.
constexpr std::array<char16_t, 128> kMacRoman = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

// Unicode of Windows-1252 0x80-0x9F; the five undefined codes stand for the
// C1 control of the same number. 0xA0-0xFF are Latin-1.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t Windows1252ToUnicode(std::uint8_t c) {
  if (c >= 0x80 && c < 0xA0) return kWindows1252High[c - 0x80];
  return c;
}

// The Mac Roman characters that Windows-1252 lacks, and the code each takes.
constexpr std::array<std::array<std::uint8_t, 2>, 25> kUnmatched = {{
    {0xAD, 0x81}, {0xB0, 0x8A}, {0xB2, 0x8D}, {0xB3, 0x8E}, {0xB6, 0x8F}, {0xB7, 0x90}, {0xB8, 0x9A},
    {0xB9, 0x9D}, {0xBA, 0x9E}, {0xBD, 0xA4}, {0xC3, 0xA6}, {0xC5, 0xAD}, {0xC6, 0xB2}, {0xD7, 0xB3},
    {0xDA, 0xB9}, {0xDE, 0xBC}, {0xDF, 0xBD}, {0xF0, 0xBE}, {0xF5, 0xD0}, {0xF9, 0xD7}, {0xFA, 0xDD},
    {0xFB, 0xDE}, {0xFD, 0xF0}, {0xFE, 0xFD}, {0xFF, 0xFE}}};

struct Tables {
  std::array<std::uint8_t, 256> mac_to_win{};
  std::array<std::uint8_t, 256> win_to_mac{};
};

constexpr Tables BuildTables() {
  Tables t{};
  for (int c = 0; c < 0x80; ++c) t.mac_to_win[c] = static_cast<std::uint8_t>(c);
  for (int c = 0x80; c < 0x100; ++c) {
    char16_t u = kMacRoman[c - 0x80];
    int found = -1;
    for (int w = 0x80; w < 0x100 && found < 0; ++w) {
      if (Windows1252ToUnicode(static_cast<std::uint8_t>(w)) == u) found = w;
    }
    for (const auto& pair : kUnmatched) {
      if (pair[0] == c) found = pair[1];
    }
    t.mac_to_win[c] = static_cast<std::uint8_t>(found < 0 ? 0 : found);
  }
  for (int c = 0; c < 0x100; ++c) t.win_to_mac[t.mac_to_win[c]] = static_cast<std::uint8_t>(c);
  return t;
}

constexpr Tables kTables = BuildTables();

constexpr char16_t kReplacement = 0xFFFD;
// Bytes that are not UTF-8 are carried as lone low surrogates U+DC80..U+DCFF.
constexpr char16_t kEscapeBase = 0xDC00;

void AppendUtf8(std::string& out, char32_t u) {
  if (u < 0x80) {
    out.push_back(static_cast<char>(u));
  } else if (u < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (u >> 6)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  } else if (u < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (u >> 12)));
    out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (u >> 18)));
    out.push_back(static_cast<char>(0x80 | ((u >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at text[i]; returns its length, 0 when malformed.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t* out) {
  auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  std::uint8_t lead = b(i);
  std::size_t n = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (n == 0 || n > text.size() - i) return 0;
  char32_t u = n == 1 ? lead : n == 2 ? (lead & 0x1F) : n == 3 ? (lead & 0x0F) : (lead & 0x07);
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    u = (u << 6) | (b(i + k) & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (u < kMin[n] || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return 0;
  *out = u;
  return n;
}

// Code points that belong with the character before them: the combining
// marks of the common scripts (Latin, Greek, Cyrillic, Hebrew, Arabic,
// Devanagari, Thai, kana voicing, decomposed Hangul), joiners, variation
// selectors, skin tone modifiers and emoji tags.
constexpr std::array<std::array<char32_t, 2>, 34> kJoinsPrevious = {{
    {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5},   {0x05C7, 0x05C7},   {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC},   {0x06DF, 0x06E4},   {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0903},
    {0x093A, 0x093C},   {0x093E, 0x094F},   {0x0951, 0x0957}, {0x0962, 0x0963}, {0x0E31, 0x0E31},
    {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},   {0x1160, 0x11FF}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
    {0x200C, 0x200D},   {0x20D0, 0x20FF},   {0x302A, 0x302F}, {0x3099, 0x309A}, {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F},   {0x1F3FB, 0x1F3FF}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
}};
constexpr char32_t kZeroWidthJoiner = 0x200D;
constexpr char32_t kNotUtf8 = 0xFFFFFFFF;  // a byte that does not begin a UTF-8 sequence

bool JoinsPrevious(char32_t u) {
  for (const auto& range : kJoinsPrevious) {
    if (u >= range[0] && u <= range[1]) return true;
  }
  return false;
}

bool IsRegionalIndicator(char32_t u) { return u >= 0x1F1E6 && u <= 0x1F1FF; }

}  // namespace

std::uint8_t MacRomanToWindows1252(std::uint8_t c) { return kTables.mac_to_win[c]; }
std::uint8_t Windows1252ToMacRoman(std::uint8_t c) { return kTables.win_to_mac[c]; }

void ConvertText(std::span<std::uint8_t> text, TextDirection direction) {
  const auto& table = direction == TextDirection::kMacToWindows ? kTables.mac_to_win : kTables.win_to_mac;
  for (auto& c : text) c = table[c];
}

void ConvertText(std::string& text, TextDirection direction) {
  ConvertText(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), text.size()), direction);
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) AppendUtf8(out, Windows1252ToUnicode(static_cast<std::uint8_t>(ch)));
  return out;
}

std::string Utf8ToWindows1252(std::string_view text, bool* lossless) {
  std::string out;
  out.reserve(text.size());
  bool exact = true;
  for (std::size_t i = 0; i < text.size();) {
    char32_t u = 0;
    std::size_t n = DecodeUtf8(text, i, &u);
    if (n == 0) {  // not UTF-8: keep the byte as a Windows-1252 character
      out.push_back(text[i]);
      ++i;
      continue;
    }
    i += n;
    int code = -1;
    if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
      code = static_cast<int>(u);
    } else {
      for (int w = 0x80; w < 0xA0; ++w) {
        if (kWindows1252High[w - 0x80] == u) code = w;
      }
    }
    if (code < 0) {
      exact = false;
      code = '_';
    }
    out.push_back(static_cast<char>(code));
  }
  if (lossless) *lossless = exact;
  return out;
}

std::string LenientUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t u = 0;
    std::size_t n = DecodeUtf8(text, i, &u);
    if (n == 0) {
      AppendUtf8(out, Windows1252ToUnicode(static_cast<std::uint8_t>(text[i])));
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t u = 0;
    std::size_t n = DecodeUtf8(text, i, &u);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::size_t Utf8CutLength(std::string_view utf8, std::size_t max_bytes) {
  if (utf8.size() <= max_bytes) return utf8.size();
  struct CodePoint {
    std::size_t at;
    char32_t u;
  };
  auto decode = [&](std::size_t i, CodePoint* cp) {
    char32_t u = 0;
    std::size_t n = DecodeUtf8(utf8, i, &u);
    *cp = {i, n == 0 ? kNotUtf8 : u};
    return n == 0 ? 1 : n;
  };
  // The code points that fit, and the first one that does not.
  std::vector<CodePoint> kept;
  CodePoint next{};
  for (std::size_t i = 0;;) {
    std::size_t n = decode(i, &next);
    if (n > max_bytes - i) break;
    kept.push_back(next);
    i += n;
  }
  // May the text be cut before kept[k] (or before `next` when k is the end)?
  auto breaks_before = [&](std::size_t k) {
    char32_t after = k < kept.size() ? kept[k].u : next.u;
    char32_t before = kept[k - 1].u;
    if (JoinsPrevious(after) || before == kZeroWidthJoiner) return false;
    if (IsRegionalIndicator(after) && IsRegionalIndicator(before)) {
      std::size_t run = 0;  // regional indicators pair up from the start of their run
      for (std::size_t j = k; j > 0 && IsRegionalIndicator(kept[j - 1].u); --j) ++run;
      return run % 2 == 0;
    }
    return true;
  };
  std::size_t k = kept.size();
  while (k > 0 && !breaks_before(k)) --k;
  if (k == 0) return 0;
  return k < kept.size() ? kept[k].at : next.at;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(text, i, &c);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<std::uint8_t>(text[i])));
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit - 0xD800) << 10) | (text[i + 1] - 0xDC00)));
      ++i;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      out.push_back(static_cast<char>(unit - kEscapeBase));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);  // a surrogate no writer of ours produces
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::uint8_t UpperWindows1252(std::uint8_t c) {
  if (c < 0x80) return AsciiUpper(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<std::uint8_t>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

int CompareText(std::string_view a, std::string_view b, bool case_sensitive) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t x = static_cast<std::uint8_t>(a[i]);
    std::uint8_t y = static_cast<std::uint8_t>(b[i]);
    if (!case_sensitive) {
      x = UpperWindows1252(x);
      y = UpperWindows1252(y);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int ComparePString(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, bool case_sensitive) {
  auto body = [](std::span<const std::uint8_t> s) {
    if (s.empty()) return std::string_view{};
    std::size_t n = s[0];
    if (n > s.size() - 1) n = s.size() - 1;
    return std::string_view(reinterpret_cast<const char*>(s.data() + 1), n);
  };
  return CompareText(body(a), body(b), case_sensitive);
}

std::string JsonEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  for (std::size_t i = 0; i < utf8.size();) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {  // copy valid sequences, replace bytes that are not UTF-8
      char32_t u = 0;
      std::size_t n = DecodeUtf8(utf8, i, &u);
      if (n == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(utf8.substr(i, n));
        i += n;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

}  // namespace norvo
