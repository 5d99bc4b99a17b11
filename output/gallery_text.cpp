// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gallery_text.h"

#include <unicode/ucnv.h>

#include <array>
#include <cstdio>
#include <memory>

#include "platform/text_encoding.h"

namespace norvo::output {
namespace {

// The named entities of Windows-1252 bytes 0x80-0xFF; "" drops the byte.
constexpr std::array<const char*, 128> kHighEntities = {
    "&euro;",   "",         "&sbquo;",  "&fnof;",   "&bdquo;",  "&hellip;", "&dagger;", "&Dagger;",  // 0x80
    "&circ;",   "&permil;", "&Scaron;", "&lsaquo;", "&OElig;",  "",         "&#142;",   "",          // 0x88
    "",         "&lsquo;",  "&rsquo;",  "&ldquo;",  "&rdquo;",  "&bull;",   "&ndash;",  "&mdash;",   // 0x90
    "&tilde;",  "&trade;",  "&scaron;", "&rsaquo;", "&oelig;",  "",         "&#158;",   "&Yuml;",    // 0x98
    "&nbsp;",   "&iexcl;",  "&cent;",   "&pound;",  "&curren;", "&yen;",    "&brvbar;", "&sect;",    // 0xA0
    "&uml;",    "&copy;",   "&ordf;",   "&laquo;",  "&not;",    "&shy;",    "&reg;",    "&macr;",    // 0xA8
    "&deg;",    "&plusmn;", "&sup2;",   "&sup3;",   "&acute;",  "&micro;",  "&para;",   "&middot;",  // 0xB0
    "&cedil;",  "&sup1;",   "&ordm;",   "&raquo;",  "&frac14;", "&frac12;", "&frac34;", "&iquest;",  // 0xB8
    "&Agrave;", "&Aacute;", "&Acirc;",  "&Atilde;", "&Auml;",   "&Aring;",  "&AElig;",  "&Ccedil;",  // 0xC0
    "&Egrave;", "&Eacute;", "&Ecirc;",  "&Euml;",   "&Igrave;", "&Iacute;", "&Icirc;",  "&Iuml;",    // 0xC8
    "&ETH;",    "&Ntilde;", "&Ograve;", "&Oacute;", "&Ocirc;",  "&Otilde;", "&Ouml;",   "&times;",   // 0xD0
    "&Oslash;", "&Ugrave;", "&Uacute;", "&Ucirc;",  "&Uuml;",   "&Yacute;", "&THORN;",  "&szlig;",   // 0xD8
    "&agrave;", "&aacute;", "&acirc;",  "&atilde;", "&auml;",   "&aring;",  "&aelig;",  "&ccedil;",  // 0xE0
    "&egrave;", "&eacute;", "&ecirc;",  "&euml;",   "&igrave;", "&iacute;", "&icirc;",  "&iuml;",    // 0xE8
    "&eth;",    "&ntilde;", "&ograve;", "&oacute;", "&ocirc;",  "&otilde;", "&ouml;",   "&divide;",  // 0xF0
    "&oslash;", "&ugrave;", "&uacute;", "&ucirc;",  "&uuml;",   "&yacute;", "&thorn;",  "&yuml;",    // 0xF8
};

// One character of UTF-8 text: its code point and byte length; a byte that
// does not start a well-formed sequence is returned alone with `valid` false.
struct Utf8Char {
  char32_t code = 0;
  std::size_t length = 1;
  bool valid = false;
};

Utf8Char NextChar(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  if (b0 < 0x80) return {b0, 1, true};
  std::size_t n = 0;
  char32_t code = 0, min = 0;
  if ((b0 & 0xE0) == 0xC0) n = 2, code = b0 & 0x1F, min = 0x80;
  else if ((b0 & 0xF0) == 0xE0) n = 3, code = b0 & 0x0F, min = 0x800;
  else if ((b0 & 0xF8) == 0xF0) n = 4, code = b0 & 0x07, min = 0x10000;
  else return {b0, 1, false};
  if (n > s.size() - i) return {b0, 1, false};
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<std::uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return {b0, 1, false};
    code = (code << 6) | (b & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {b0, 1, false};
  return {code, n, true};
}

// The escaped form of one Windows-1252 byte.
void AppendByte(std::uint8_t c, bool raw, std::string& piece) {
  if (c < 0x20) {
    if (c == '\n' || c == '\r') piece += "<br />";
    return;
  }
  if (c >= 0x80) {
    piece += kHighEntities[c - 0x80];
    return;
  }
  if (!raw) {
    switch (c) {
      case '"': piece += "&quot;"; return;
      case '&': piece += "&amp;"; return;
      case '<': piece += "&lt;"; return;
      case '>': piece += "&gt;"; return;
      default: break;
    }
  }
  piece.push_back(static_cast<char>(c));
}

// The Windows-1252 byte of a character, or -1 when the code page lacks it.
int Windows1252ByteOf(std::string_view character) {
  bool lossless = true;
  std::string b = Utf8ToWindows1252(character, &lossless);
  if (!lossless || b.size() != 1) return -1;
  return static_cast<std::uint8_t>(b[0]);
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// The Shift-JIS pair of a character, when Shift-JIS holds it as a pair the
// pages copy (lead 0x81-0x9F or 0xE0-0xEF, trail 0x40-0x7E or 0x80-0xFC,
// and not lead 0xEF with trail 0x9F-0xFC).
bool ShiftJisPair(char32_t code, std::string& pair) {
  thread_local std::unique_ptr<UConverter, ConverterCloser> converter = [] {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* c = ucnv_open("Shift_JIS", &status);
    if (U_FAILURE(status)) return std::unique_ptr<UConverter, ConverterCloser>();
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(c, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    return std::unique_ptr<UConverter, ConverterCloser>(c);
  }();
  if (!converter) return false;
  UChar units[2];
  int32_t count = 0;
  if (code >= 0x10000) {
    units[0] = static_cast<UChar>(0xD7C0 + (code >> 10));
    units[1] = static_cast<UChar>(0xDC00 | (code & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<UChar>(code);
    count = 1;
  }
  char bytes[8];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_resetFromUnicode(converter.get());
  int32_t n = ucnv_fromUChars(converter.get(), bytes, sizeof bytes, units, count, &status);
  if (U_FAILURE(status) || n != 2) return false;
  const auto lead = static_cast<std::uint8_t>(bytes[0]), trail = static_cast<std::uint8_t>(bytes[1]);
  const bool lead_ok = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF);
  const bool trail_ok = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
  if (!lead_ok || !trail_ok || (lead >= 0xEF && trail >= 0x9F)) return false;
  pair.assign(bytes, 2);
  return true;
}

}  // namespace

void AppendEscaped(std::string_view utf8, const EscapeOptions& options, std::string& out) {
  std::size_t written = 0;
  std::string piece;
  for (std::size_t i = 0; i < utf8.size();) {
    const Utf8Char ch = NextChar(utf8, i);
    piece.clear();
    if (!ch.valid) {
      AppendByte(static_cast<std::uint8_t>(ch.code), options.raw, piece);
    } else if (ch.code < 0x80) {
      AppendByte(static_cast<std::uint8_t>(ch.code), options.raw, piece);
    } else if (options.encoding == PageEncoding::kJapanese && ShiftJisPair(ch.code, piece)) {
      // the pair as it is
    } else if (int b = Windows1252ByteOf(utf8.substr(i, ch.length)); b >= 0) {
      AppendByte(static_cast<std::uint8_t>(b), options.raw, piece);
    } else {
      piece = "&#" + std::to_string(static_cast<std::uint32_t>(ch.code)) + ";";
    }
    if (piece.size() > kMaxEscapedBytes - written) break;
    out += piece;
    written += piece.size();
    i += ch.length;
  }
}

std::string Escaped(std::string_view utf8, const EscapeOptions& options) {
  std::string out;
  AppendEscaped(utf8, options, out);
  return out;
}

char MapFileNameByte(std::uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return static_cast<char>(c);
  switch (c) {
    case '(': case ')': case '-': case '.': case '<': case '>': case '[': case ']': case '|': case '}':
      return static_cast<char>(c);
    default: break;
  }
  // 0x80-0xA7 in code page 437 order; '_' where the page has no plain letter.
  static constexpr char kFolded[] = "CueaaaaceeeiiiAAEeEooouu_OU__Y_faiounNao";
  static_assert(sizeof kFolded - 1 == 0xA8 - 0x80);
  if (c >= 0x80 && c < 0xA8) return kFolded[c - 0x80];
  return '_';
}

std::string MapFileName(std::string_view utf8) {
  std::string name = Utf8ToWindows1252(utf8);
  for (char& c : name) c = MapFileNameByte(static_cast<std::uint8_t>(c));
  return name;
}

namespace {
std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}
}  // namespace

std::string NameSet::unique(const std::string& candidate) {
  std::string name = candidate;
  if (used_.contains(LowerAscii(name))) {
    std::size_t dot = candidate.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = candidate.size();
    const std::string base = candidate.substr(0, dot), extension = candidate.substr(dot);
    for (int n = 1;; ++n) {
      name = base + "_" + std::to_string(n) + extension;
      if (!used_.contains(LowerAscii(name))) break;
    }
  }
  used_.insert(LowerAscii(name));
  return name;
}

void NameSet::add(const std::string& name) { used_.insert(LowerAscii(name)); }

bool NameSet::contains(std::string_view name) const { return used_.contains(LowerAscii(name)); }

std::string FormatGallerySize(std::uint64_t bytes, std::string_view decimal_separator) {
  constexpr std::uint64_t kKb = 1024, kMb = kKb * 1024, kGb = kMb * 1024;
  if (bytes < kKb) return std::to_string(bytes) + " bytes";
  const char* unit = "GB";
  double value = static_cast<double>(bytes) / static_cast<double>(kGb);
  if (bytes < kMb) {
    unit = "KB", value = static_cast<double>(bytes) / static_cast<double>(kKb);
  } else if (bytes < kGb) {
    unit = "MB", value = static_cast<double>(bytes) / static_cast<double>(kMb);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string out(text);
  if (std::size_t dot = out.find('.'); dot != std::string::npos) out.replace(dot, 1, decimal_separator);
  return out + " " + unit;
}

std::string FoldTokenName(std::string_view utf8) {
  // U+00C0-U+00FF without their marks; '_' for the few that are no letter.
  static constexpr char kLatin1Base[] = "aaaaaaaceeeeiiiidnooooo_ouuuuyts" "aaaaaaaceeeeiiiidnooooo_ouuuuyty";
  static_assert(sizeof kLatin1Base - 1 == 64);
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const Utf8Char ch = NextChar(utf8, i);
    if (ch.valid && ch.code >= 0xC0 && ch.code <= 0xFF) {
      out.push_back(kLatin1Base[ch.code - 0xC0]);
    } else if (ch.valid && ch.code < 0x80) {
      char c = static_cast<char>(ch.code);
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    } else {
      out.append(utf8.substr(i, ch.length));
    }
    i += ch.length;
  }
  return out;
}

}  // namespace norvo::output
