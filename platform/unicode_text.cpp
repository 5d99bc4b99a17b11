// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/unicode_text.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/ascii.h"
#include "platform/text_encoding.h"

namespace norvo {
namespace {

constexpr std::array<char, 128> kAsciiFold = [] {
  std::array<char, 128> t{};
  for (int c = 0; c < 128; ++c) t[static_cast<std::size_t>(c)] = AsciiLower(static_cast<char>(c));
  return t;
}();

bool IsAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

// ICU's NFKC_Casefold normaliser, or nullptr when ICU has no data for it (the
// folding then covers ASCII alone).
const icu::Normalizer2* Folder() {
  static const icu::Normalizer2* folder = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFKCCasefoldInstance(status);
    return U_SUCCESS(status) ? n : nullptr;
  }();
  return folder;
}

// Appends the search form of a stretch of UTF-8 through ICU.
void FoldThroughIcu(std::string_view utf8, std::string& out) {
  const icu::Normalizer2* folder = Folder();
  if (folder != nullptr) {
    const std::size_t before = out.size();
    UErrorCode status = U_ZERO_ERROR;
    icu::StringByteSink<std::string> sink(&out);
    folder->normalizeUTF8(0, icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())), sink, nullptr,
                          status);
    if (U_SUCCESS(status)) return;
    out.resize(before);
  }
  out.append(utf8);
}

// Appends ASCII text folded through the table.
void FoldAscii(std::string_view ascii, std::string& out) {
  const std::size_t at = out.size();
  out.resize(at + ascii.size());
  for (std::size_t i = 0; i < ascii.size(); ++i) out[at + i] = kAsciiFold[static_cast<unsigned char>(ascii[i])];
}

// Walks `text` as ASCII stretches and other stretches. `other` gets each
// other stretch together with the ASCII character before it, when there is
// one; that character's folded form has then been taken off `out` again.
template <class Other>
void FoldStretches(std::string_view text, std::string& out, Other other) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t ascii_start = i;
    while (i < text.size() && IsAscii(text[i])) ++i;
    FoldAscii(text.substr(ascii_start, i - ascii_start), out);
    if (i == text.size()) break;
    std::size_t from = i;
    if (i > ascii_start) {
      // The ASCII character before the stretch goes to ICU with it: a
      // combining mark opening the stretch composes with it (e + U+0301).
      --from;
      out.pop_back();
    }
    while (i < text.size() && !IsAscii(text[i])) ++i;
    other(text.substr(from, i - from));
  }
}

// Collation: ICU's locale id from a POSIX one.
std::string LocaleFromPosix(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return {};
  return std::string(name);
}

}  // namespace

// --- search form --------------------------------------------------------------

void AppendSearchForm(std::string_view utf8, std::string& out) {
  FoldStretches(utf8, out, [&out](std::string_view stretch) { FoldThroughIcu(stretch, out); });
}

std::string SearchForm(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  AppendSearchForm(utf8, out);
  return out;
}

void AppendSearchFormWindows1252(std::string_view text, std::string& out) {
  FoldStretches(text, out, [&out](std::string_view stretch) { FoldThroughIcu(Windows1252ToUtf8(stretch), out); });
}

bool SameSearchForm(std::string_view a, std::string_view b) {
  // Texts that are equal byte for byte need no folding.
  if (a == b) return true;
  thread_local std::string fa, fb;
  fa.clear();
  fb.clear();
  AppendSearchForm(a, fa);
  AppendSearchForm(b, fb);
  return fa == fb;
}

// --- collation -----------------------------------------------------------------

std::string CollationLocaleOf(std::string_view posix_locale) { return LocaleFromPosix(posix_locale); }

std::string CollationLocaleFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return CollationLocaleOf(value);
  }
  return {};
}

struct TextCollator::Handle {
  UCollator* collator = nullptr;
  ~Handle() {
    if (collator != nullptr) ucol_close(collator);
  }
};

TextCollator::TextCollator(std::string_view locale, bool natural, SortStrength strength)
    : handle_(std::make_unique<Handle>()) {
  UErrorCode status = U_ZERO_ERROR;
  const std::string id = locale.empty() ? std::string("root") : std::string(locale);
  UCollator* c = ucol_open(id.c_str(), &status);
  if (U_FAILURE(status)) {
    if (c != nullptr) ucol_close(c);
    return;
  }
  ucol_setStrength(c, strength == SortStrength::kLetters  ? UCOL_PRIMARY
                     : strength == SortStrength::kCase   ? UCOL_TERTIARY
                                                         : UCOL_SECONDARY);
  ucol_setAttribute(c, UCOL_NUMERIC_COLLATION, natural ? UCOL_ON : UCOL_OFF, &status);
  handle_->collator = c;
}

TextCollator::~TextCollator() = default;
TextCollator::TextCollator(TextCollator&&) noexcept = default;
TextCollator& TextCollator::operator=(TextCollator&&) noexcept = default;

int TextCollator::compare(std::string_view a, std::string_view b) const {
  if (handle_ == nullptr || handle_->collator == nullptr) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult r = ucol_strcollUTF8(handle_->collator, a.data(), static_cast<std::int32_t>(a.size()), b.data(),
                                        static_cast<std::int32_t>(b.size()), &status);
  if (U_FAILURE(status)) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

void TextCollator::sortKey(std::string_view utf8, std::string& out) const {
  if (handle_ == nullptr || handle_->collator == nullptr) {
    out.assign(utf8);
    return;
  }
  // The UTF-16 form ICU's key maker reads, in a buffer kept between calls.
  thread_local std::u16string utf16;
  utf16.resize(std::max<std::size_t>(utf8.size(), 1));
  std::int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(utf16.data(), static_cast<std::int32_t>(utf16.size()), &length, utf8.data(),
                       static_cast<std::int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) {
    out.assign(utf8);
    return;
  }
  if (out.size() < 64) out.resize(64);
  for (;;) {
    std::int32_t needed = ucol_getSortKey(handle_->collator, utf16.data(), length,
                                          reinterpret_cast<std::uint8_t*>(out.data()),
                                          static_cast<std::int32_t>(out.size()));
    if (needed <= 0) {
      out.clear();
      return;
    }
    if (static_cast<std::size_t>(needed) <= out.size()) {
      out.resize(static_cast<std::size_t>(needed) - 1);  // without the closing 0 byte
      return;
    }
    out.resize(static_cast<std::size_t>(needed));
  }
}

std::string TextCollator::actualLocale() const {
  if (handle_ == nullptr || handle_->collator == nullptr) return {};
  UErrorCode status = U_ZERO_ERROR;
  const char* name = ucol_getLocaleByType(handle_->collator, ULOC_ACTUAL_LOCALE, &status);
  return U_SUCCESS(status) && name != nullptr ? std::string(name) : std::string();
}

namespace {

std::atomic<SortStrength> g_user_strength{SortStrength::kAccents};

template <SortStrength kStrength>
const TextCollator& UserCollatorAt(bool natural) {
  static const TextCollator plain(CollationLocaleFromEnvironment(), false, kStrength);
  static const TextCollator numeric(CollationLocaleFromEnvironment(), true, kStrength);
  return natural ? numeric : plain;
}

}  // namespace

const TextCollator& UserCollator(bool natural) {
  switch (g_user_strength.load(std::memory_order_relaxed)) {
    case SortStrength::kLetters: return UserCollatorAt<SortStrength::kLetters>(natural);
    case SortStrength::kCase: return UserCollatorAt<SortStrength::kCase>(natural);
    case SortStrength::kAccents: break;
  }
  return UserCollatorAt<SortStrength::kAccents>(natural);
}

void SetUserSortStrength(SortStrength strength) {
  if (strength != SortStrength::kLetters && strength != SortStrength::kCase) strength = SortStrength::kAccents;
  g_user_strength.store(strength, std::memory_order_relaxed);
}

// --- names ---------------------------------------------------------------------

int CompareNames(std::string_view a, std::string_view b) {
  if (a == b) return 0;
  thread_local std::string fa, fb;
  fa.clear();
  fb.clear();
  AppendSearchForm(a, fa);
  AppendSearchForm(b, fb);
  if (fa == fb) return 0;
  if (int r = UserCollator(false).compare(fa, fb); r != 0) return r;
  return fa < fb ? -1 : 1;
}

// --- characters ----------------------------------------------------------------

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  const auto* s = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const auto length = static_cast<std::int32_t>(utf8.size());
  for (std::int32_t i = 0; i < length; ++count) {
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    (void)c;  // only the step matters
  }
  return count;
}

std::string_view FirstCharacters(std::string_view utf8, std::size_t count) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const auto length = static_cast<std::int32_t>(utf8.size());
  std::int32_t i = 0;
  for (std::size_t n = 0; n < count && i < length; ++n) {
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    (void)c;
  }
  return utf8.substr(0, static_cast<std::size_t>(i));
}

std::string_view FirstBytes(std::string_view utf8, std::size_t max_bytes) {
  if (utf8.size() <= max_bytes) return utf8;
  const auto* s = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const auto length = static_cast<std::int32_t>(utf8.size());
  std::int32_t i = 0;
  while (i < length) {
    std::int32_t next = i;
    UChar32 c = 0;
    U8_NEXT(s, next, length, c);
    (void)c;
    if (static_cast<std::size_t>(next) > max_bytes) break;
    i = next;
  }
  return utf8.substr(0, static_cast<std::size_t>(i));
}

}  // namespace norvo
