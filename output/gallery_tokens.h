// SPDX-License-Identifier: GPL-3.0-or-later
// The gallery templates' token language: every "(Norvo:Name)" in a template
// is replaced by text from the catalog, the item or the page. The table
// holds the 117 names, each with a code and whether it is an item token
// (expanded once per item; item tokens mark the repeating part of an index
// page) or a page token (expanded once per page). Item tokens whose code is
// a field id (file fields, IPTC, custom, camera, EXIF and GPS fields) are
// field tokens: they show the item's values of that field.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace norvo::output {

inline constexpr std::string_view kTokenOpen = "(Norvo:";
// Longest token text taken; a longer one ends the expansion of a page.
inline constexpr std::size_t kMaxTokenLength = 251;
inline constexpr std::size_t kGalleryTokenCount = 117;

constexpr std::uint32_t TokenCode(const char (&c)[5]) {
  return (std::uint32_t{static_cast<std::uint8_t>(c[0])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(c[1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(c[2])} << 8) | std::uint32_t{static_cast<std::uint8_t>(c[3])};
}

// Codes of the tokens that are not fields ('N' first, a letter no field id
// starts with).
namespace tokens {
inline constexpr std::uint32_t kCatalog = TokenCode("NCat");
inline constexpr std::uint32_t kCatalogComment = TokenCode("NCmt");
inline constexpr std::uint32_t kGoIndex = TokenCode("NGoI");
inline constexpr std::uint32_t kGoPrevious = TokenCode("NGoP");
inline constexpr std::uint32_t kGoNext = TokenCode("NGoN");
inline constexpr std::uint32_t kIndex = TokenCode("NIdx");
inline constexpr std::uint32_t kMedia = TokenCode("NMed");
inline constexpr std::uint32_t kPreloadNext = TokenCode("NPlN");
inline constexpr std::uint32_t kPreloadPrevious = TokenCode("NPlP");
inline constexpr std::uint32_t kRunning = TokenCode("NRun");
inline constexpr std::uint32_t kTotal = TokenCode("NTot");
inline constexpr std::uint32_t kDate = TokenCode("NDat");
inline constexpr std::uint32_t kTime = TokenCode("NTim");
inline constexpr std::uint32_t kWordIndex = TokenCode("NWdI");
inline constexpr std::uint32_t kWordNext = TokenCode("NWdN");
inline constexpr std::uint32_t kWordPrevious = TokenCode("NWdP");
inline constexpr std::uint32_t kHtmlCharset = TokenCode("NChs");
inline constexpr std::uint32_t kPreview = TokenCode("NPrv");
inline constexpr std::uint32_t kPreviewScale = TokenCode("NPSc");
inline constexpr std::uint32_t kPreviewSize = TokenCode("NPSz");
inline constexpr std::uint32_t kPreviewWidth = TokenCode("NPWd");
inline constexpr std::uint32_t kPreviewHeight = TokenCode("NPHt");
inline constexpr std::uint32_t kPreviewNext = TokenCode("NPNx");
inline constexpr std::uint32_t kPreviewPrevious = TokenCode("NPPv");
inline constexpr std::uint32_t kFields = TokenCode("NFld");
inline constexpr std::uint32_t kIptcFields = TokenCode("NIpF");
inline constexpr std::uint32_t kExifFields = TokenCode("NExF");
inline constexpr std::uint32_t kPreviewFile = TokenCode("NPvF");
inline constexpr std::uint32_t kSourceFile = TokenCode("NScF");
inline constexpr std::uint32_t kMediaFile = TokenCode("NMdF");
inline constexpr std::uint32_t kOriginalFile = TokenCode("NOrF");
inline constexpr std::uint32_t kPreviewUrl = TokenCode("NPvU");
inline constexpr std::uint32_t kSourceUrl = TokenCode("NScU");
inline constexpr std::uint32_t kMediaUrl = TokenCode("NMdU");
inline constexpr std::uint32_t kOriginalUrl = TokenCode("NOrU");
inline constexpr std::uint32_t kOriginalSize = TokenCode("NOrS");
inline constexpr std::uint32_t kOriginalWidth = TokenCode("NOrW");
inline constexpr std::uint32_t kOriginalHeight = TokenCode("NOrH");
inline constexpr std::uint32_t kBackgroundColor = TokenCode("NBgC");
inline constexpr std::uint32_t kLinkColor = TokenCode("NLkC");
inline constexpr std::uint32_t kTextColor = TokenCode("NTxC");
inline constexpr std::uint32_t kTextBackColor = TokenCode("NTbC");
}  // namespace tokens

struct GalleryToken {
  bool per_item;
  std::uint32_t code;
  std::string_view name;
};

// The table, in the order it is searched.
std::span<const GalleryToken> GalleryTokens();
// The token named `name` (case and diacritics ignored: "goNext" is GoNext),
// or nullptr.
const GalleryToken* FindGalleryToken(std::string_view name);
// Whether the token shows a field's values (its code is the field id).
bool IsFieldToken(const GalleryToken& token);

}  // namespace norvo::output
