// SPDX-License-Identifier: GPL-3.0-or-later
// The web gallery's text rules: escaping catalog text for the pages, the
// file-name map that makes every generated name safe ASCII, unique names
// within one export, and sizes written for people.
//
// Catalog text is UTF-8. Escaping writes pure ASCII (plus Shift-JIS pairs
// for the Japanese encoding): a character Windows-1252 holds follows the
// byte table (named entities for 0x80-0xFF, control bytes dropped, line ends
// as "<br />", the four HTML specials), any other character becomes a
// numeric character reference "&#N;", so the page reads right under either
// declared charset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

namespace norvo::output {

// Longest escaped text one value produces.
inline constexpr std::size_t kMaxEscapedBytes = 10000;

enum class PageEncoding { kWestern, kJapanese };

struct EscapeOptions {
  PageEncoding encoding = PageEncoding::kWestern;
  // The four specials (" & < >) are copied unchanged (raw captions).
  bool raw = false;
};

// Appends the escaped form of `utf8` to `out`, at most kMaxEscapedBytes
// bytes of it (never cutting an entity or a character). Bytes that are not
// UTF-8 are read as Windows-1252.
void AppendEscaped(std::string_view utf8, const EscapeOptions& options, std::string& out);
std::string Escaped(std::string_view utf8, const EscapeOptions& options = {});

// The file-name map applied to one Windows-1252 byte: A-Z to lower case;
// a-z, 0-9 and ( ) - . < > [ ] | } kept; 0x80-0xA7 folded to unaccented
// letters; every other byte '_'.
char MapFileNameByte(std::uint8_t byte);
// A UTF-8 name as a generated file name: converted to Windows-1252 (a
// character without a byte becomes '_'), then every byte mapped. The result
// holds no '/' and no NUL.
std::string MapFileName(std::string_view utf8);

// Names already given within one export, compared without regard to case.
class NameSet {
 public:
  // `candidate` itself when unused, else base + "_" + n + extension for the
  // first n from 1 that is unused (split at the last '.'; a name without one,
  // or with a leading '.' only, is all base). The result is recorded.
  std::string unique(const std::string& candidate);
  // Records a name as used (an icon shared by many items).
  void add(const std::string& name);
  bool contains(std::string_view name) const;

 private:
  std::unordered_set<std::string> used_;  // lower case
};

// "N bytes", "x.y KB", "x.y MB" or "x.y GB" (1 KB = 1024 bytes), with the
// given decimal separator.
std::string FormatGallerySize(std::uint64_t bytes, std::string_view decimal_separator = ".");

// A token name folded for lookup: ASCII letters to lower case, Latin
// letters with diacritics to their base letter.
std::string FoldTokenName(std::string_view utf8);

}  // namespace norvo::output
