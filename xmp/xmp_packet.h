// SPDX-License-Identifier: GPL-3.0-or-later
// XmpPacket: one XMP property tree (an Exempi XMP object) with the operations
// the metadata layer needs: parse, get/set/remove simple properties and dates,
// read and append array items (bag, seq, alt, language alternatives), merge
// another tree in, and serialise, also into an exact byte length so that a
// packet can be rewritten in place inside a file.
//
// Paths follow the toolkit's syntax relative to a schema namespace: "City",
// "Keywords[2]", "UsageTerms[?xml:lang='x-default']". Two conveniences:
// - a struct field step without a prefix takes the schema's own prefix, so
//   "CreatorContactInfo/CiAdrCity" works in the IPTC Core namespace;
// - a path ending in a language selector ("/*[@xml:lang='x-default']" or
//   "[?xml:lang='x-default']") is set and removed as a language alternative,
//   so the alt array is created when it does not yet exist.
//
// An XmpPacket is not shared between threads.
#pragma once

#include <exempi/xmp.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xmp/xmp_status.h"

namespace norvo::xmp {

enum class ArrayForm : std::uint8_t {
  kBag,      // unordered
  kSeq,      // ordered
  kAlt,      // alternatives
  kAltText,  // language alternatives (items carry xml:lang)
};

using DateTime = XmpDateTime;

struct SerializeOptions {
  bool omit_wrapper = false;     // no <?xpacket?> processing instructions
  bool read_only = false;        // trailer says end="r"
  bool compact = false;          // attributes for simple properties
  bool omit_formatting = false;  // no line breaks or indentation at all
  // Padding bytes before the trailer; 0 lets the toolkit choose (2 KB).
  std::uint32_t padding = 0;
  // When not 0, the whole packet is exactly this many bytes: the padding
  // absorbs the difference, and a tree that does not fit fails with
  // xmp_error::kBadSerialize. Needs the packet wrapper.
  std::uint32_t exact_length = 0;
};

class XmpPacket {
 public:
  // An empty tree.
  XmpPacket();
  ~XmpPacket();
  XmpPacket(XmpPacket&& other) noexcept;
  XmpPacket& operator=(XmpPacket&& other) noexcept;
  XmpPacket(const XmpPacket&) = delete;
  XmpPacket& operator=(const XmpPacket&) = delete;

  // Parses a serialised packet (UTF-8 RDF/XML, with or without the wrapper).
  static Result<XmpPacket> Parse(std::string_view text);
  // A deep copy.
  Result<XmpPacket> clone() const;

  // False only when the toolkit could not be started.
  bool valid() const { return xmp_ != nullptr; }

  // Simple properties. A struct or array has no simple value: absent.
  Result<std::string> get(std::string_view ns, std::string_view path) const;
  Status set(std::string_view ns, std::string_view path, std::string_view value);
  // Removing a property that is not there succeeds.
  Status remove(std::string_view ns, std::string_view path);
  bool has(std::string_view ns, std::string_view path) const;

  Result<DateTime> getDate(std::string_view ns, std::string_view path) const;
  Status setDate(std::string_view ns, std::string_view path, const DateTime& date);

  // The simple items of an array in order; absent when there is no array.
  Result<std::vector<std::string>> arrayItems(std::string_view ns, std::string_view path) const;
  // Appends, creating the array with `form` when it does not exist.
  Status appendArrayItem(std::string_view ns, std::string_view path, ArrayForm form, std::string_view value);
  // Replaces item `index` (from 1); index count + 1 appends.
  Status setArrayItem(std::string_view ns, std::string_view path, int index, std::string_view value);

  // Language alternatives; "x-default" is the default item.
  Result<std::string> getLocalizedText(std::string_view ns, std::string_view path,
                                       std::string_view lang = "x-default") const;
  Status setLocalizedText(std::string_view ns, std::string_view path, std::string_view lang, std::string_view value);
  Status removeLocalizedText(std::string_view ns, std::string_view path, std::string_view lang);

  // Copies every top-level property of `later` into this tree; a property
  // present in both is replaced as a whole by the later one.
  Status merge(const XmpPacket& later);

  Result<std::string> serialize(const SerializeOptions& options = {}) const;

  // The Exempi object, for the iterator.
  XmpPtr native() const { return xmp_; }

 private:
  explicit XmpPacket(XmpPtr adopted) : xmp_(adopted) {}
  XmpPtr xmp_ = nullptr;
};

// A path that ends in a language selector, split into the array path and the
// language: "UsageTerms/*[@xml:lang='x-default']" -> {"UsageTerms", "x-default"}.
struct LanguageSelector {
  std::string array_path;
  std::string lang;
};
bool SplitLanguageSelector(std::string_view path, LanguageSelector* out);

// Gives every unprefixed struct-field step after the first the prefix `prefix`.
std::string QualifyFieldSteps(std::string_view path, std::string_view prefix);

}  // namespace norvo::xmp
