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

#include "platform/byte_io.h"

namespace norvo::output {

inline constexpr std::string_view kTokenOpen = "(Norvo:";
// Longest token text taken; a longer one ends the expansion of a page.
inline constexpr std::size_t kMaxTokenLength = 251;
inline constexpr std::size_t kGalleryTokenCount = 117;

// Codes of the tokens that are not fields ('N' first, a letter no field id
// starts with).
namespace tokens {
inline constexpr std::uint32_t kCatalog = FourCC("NCat");
inline constexpr std::uint32_t kCatalogComment = FourCC("NCmt");
inline constexpr std::uint32_t kGoIndex = FourCC("NGoI");
inline constexpr std::uint32_t kGoPrevious = FourCC("NGoP");
inline constexpr std::uint32_t kGoNext = FourCC("NGoN");
inline constexpr std::uint32_t kIndex = FourCC("NIdx");
inline constexpr std::uint32_t kMedia = FourCC("NMed");
inline constexpr std::uint32_t kPreloadNext = FourCC("NPlN");
inline constexpr std::uint32_t kPreloadPrevious = FourCC("NPlP");
inline constexpr std::uint32_t kRunning = FourCC("NRun");
inline constexpr std::uint32_t kTotal = FourCC("NTot");
inline constexpr std::uint32_t kDate = FourCC("NDat");
inline constexpr std::uint32_t kTime = FourCC("NTim");
inline constexpr std::uint32_t kWordIndex = FourCC("NWdI");
inline constexpr std::uint32_t kWordNext = FourCC("NWdN");
inline constexpr std::uint32_t kWordPrevious = FourCC("NWdP");
inline constexpr std::uint32_t kHtmlCharset = FourCC("NChs");
inline constexpr std::uint32_t kPreview = FourCC("NPrv");
inline constexpr std::uint32_t kPreviewScale = FourCC("NPSc");
inline constexpr std::uint32_t kPreviewSize = FourCC("NPSz");
inline constexpr std::uint32_t kPreviewWidth = FourCC("NPWd");
inline constexpr std::uint32_t kPreviewHeight = FourCC("NPHt");
inline constexpr std::uint32_t kPreviewNext = FourCC("NPNx");
inline constexpr std::uint32_t kPreviewPrevious = FourCC("NPPv");
inline constexpr std::uint32_t kFields = FourCC("NFld");
inline constexpr std::uint32_t kIptcFields = FourCC("NIpF");
inline constexpr std::uint32_t kExifFields = FourCC("NExF");
inline constexpr std::uint32_t kPreviewFile = FourCC("NPvF");
inline constexpr std::uint32_t kSourceFile = FourCC("NScF");
inline constexpr std::uint32_t kMediaFile = FourCC("NMdF");
inline constexpr std::uint32_t kOriginalFile = FourCC("NOrF");
inline constexpr std::uint32_t kPreviewUrl = FourCC("NPvU");
inline constexpr std::uint32_t kSourceUrl = FourCC("NScU");
inline constexpr std::uint32_t kMediaUrl = FourCC("NMdU");
inline constexpr std::uint32_t kOriginalUrl = FourCC("NOrU");
inline constexpr std::uint32_t kOriginalSize = FourCC("NOrS");
inline constexpr std::uint32_t kOriginalWidth = FourCC("NOrW");
inline constexpr std::uint32_t kOriginalHeight = FourCC("NOrH");
inline constexpr std::uint32_t kBackgroundColor = FourCC("NBgC");
inline constexpr std::uint32_t kLinkColor = FourCC("NLkC");
inline constexpr std::uint32_t kTextColor = FourCC("NTxC");
inline constexpr std::uint32_t kTextBackColor = FourCC("NTbC");
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
