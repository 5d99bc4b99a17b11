// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/xmp_packet.h"

#include <cctype>
#include <utility>

#include "xmp/xmp_iterator.h"
#include "xmp/xmp_string.h"
#include "xmp/xmp_toolkit.h"

namespace norvo::xmp {
namespace {

std::uint32_t ArrayOptions(ArrayForm form) {
  switch (form) {
    case ArrayForm::kBag: return XMP_PROP_VALUE_IS_ARRAY;
    case ArrayForm::kSeq: return XMP_PROP_VALUE_IS_ARRAY | XMP_PROP_ARRAY_IS_ORDERED;
    case ArrayForm::kAlt: return XMP_PROP_VALUE_IS_ARRAY | XMP_PROP_ARRAY_IS_ORDERED | XMP_PROP_ARRAY_IS_ALT;
    case ArrayForm::kAltText: break;
  }
  return XMP_PROP_VALUE_IS_ARRAY | XMP_PROP_ARRAY_IS_ORDERED | XMP_PROP_ARRAY_IS_ALT | XMP_PROP_ARRAY_IS_ALTTEXT;
}

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// `path` with its unprefixed struct-field steps given the schema's prefix.
std::string Qualified(std::string_view ns, std::string_view path) {
  if (path.find('/') == std::string_view::npos) return std::string(path);
  Result<std::string> prefix = NamespacePrefix(ns);
  if (!prefix.has_value()) return std::string(path);  // the toolkit will name the problem
  return QualifyFieldSteps(path, *prefix.value);
}

}  // namespace

bool SplitLanguageSelector(std::string_view path, LanguageSelector* out) {
  if (path.size() < 2 || path.back() != ']') return false;
  std::size_t open = path.rfind('[');
  if (open == std::string_view::npos || open == 0) return false;
  std::string_view selector = path.substr(open + 1, path.size() - open - 2);
  if (selector.empty() || (selector[0] != '@' && selector[0] != '?')) return false;
  selector.remove_prefix(1);
  constexpr std::string_view kLangIs = "xml:lang=";
  if (selector.substr(0, kLangIs.size()) != kLangIs) return false;
  selector.remove_prefix(kLangIs.size());
  if (selector.size() < 2 || (selector.front() != '\'' && selector.front() != '"') ||
      selector.back() != selector.front()) {
    return false;
  }
  std::string_view array = path.substr(0, open);
  if (array.size() >= 2 && array.substr(array.size() - 2) == "/*") array.remove_suffix(2);
  if (array.empty()) return false;
  out->array_path = std::string(array);
  out->lang = std::string(selector.substr(1, selector.size() - 2));
  return true;
}

std::string QualifyFieldSteps(std::string_view path, std::string_view prefix) {
  std::string out;
  out.reserve(path.size() + 16);
  int depth = 0;  // inside [...] a '/' is part of a selector, not a step boundary
  bool step_start = false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (step_start && depth == 0 && IsNameStart(c)) {
      std::size_t end = path.find_first_of("/[", i);
      std::string_view name = path.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
      if (name.find(':') == std::string_view::npos) {
        out.append(prefix);
        out.push_back(':');
      }
    }
    step_start = false;
    if (c == '[') ++depth;
    if (c == ']' && depth > 0) --depth;
    if (c == '/' && depth == 0) step_start = true;
    out.push_back(c);
  }
  return out;
}

XmpPacket::XmpPacket() {
  if (EnsureToolkit()) xmp_ = xmp_new_empty();
}

XmpPacket::~XmpPacket() {
  if (xmp_ != nullptr) xmp_free(xmp_);
}

XmpPacket::XmpPacket(XmpPacket&& other) noexcept : xmp_(std::exchange(other.xmp_, nullptr)) {}

XmpPacket& XmpPacket::operator=(XmpPacket&& other) noexcept {
  if (this != &other) {
    if (xmp_ != nullptr) xmp_free(xmp_);
    xmp_ = std::exchange(other.xmp_, nullptr);
  }
  return *this;
}

Result<XmpPacket> XmpPacket::Parse(std::string_view text) {
  if (!EnsureToolkit()) return Status(xmp_error::kNotInitialised);
  if (text.empty()) return Status(xmp_error::kEmptyPacket);
  ToolkitCall call;
  XmpPtr parsed = xmp_new(text.data(), text.size());
  if (parsed == nullptr) return call.failure(xmp_error::kBadParse);
  return XmpPacket(parsed);
}

Result<XmpPacket> XmpPacket::clone() const {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  XmpPtr copy = xmp_copy(xmp_);
  if (copy == nullptr) return call.failure();
  return XmpPacket(copy);
}

Result<std::string> XmpPacket::get(std::string_view ns, std::string_view path) const {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  XmpString value;
  std::uint32_t bits = 0;
  if (!xmp_get_property(xmp_, ns_text.c_str(), full.c_str(), value.get(), &bits)) return call.failure(xmp_error::kNone);
  if ((bits & XMP_PROP_COMPOSITE_MASK) != 0) return Result<std::string>();
  return value.str();
}

Status XmpPacket::set(std::string_view ns, std::string_view path, std::string_view value) {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  LanguageSelector selector;
  if (SplitLanguageSelector(path, &selector)) return setLocalizedText(ns, selector.array_path, selector.lang, value);
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  std::string value_text(value);
  if (!xmp_set_property(xmp_, ns_text.c_str(), full.c_str(), value_text.c_str(), 0)) return call.failure();
  return Status();
}

Status XmpPacket::remove(std::string_view ns, std::string_view path) {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  LanguageSelector selector;
  if (SplitLanguageSelector(path, &selector)) return removeLocalizedText(ns, selector.array_path, selector.lang);
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  if (!xmp_delete_property(xmp_, ns_text.c_str(), full.c_str())) return call.failure(xmp_error::kNone);
  return Status();
}

bool XmpPacket::has(std::string_view ns, std::string_view path) const {
  if (xmp_ == nullptr) return false;
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  return xmp_has_property(xmp_, ns_text.c_str(), full.c_str());
}

Result<DateTime> XmpPacket::getDate(std::string_view ns, std::string_view path) const {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  DateTime date{};
  if (!xmp_get_property_date(xmp_, ns_text.c_str(), full.c_str(), &date, nullptr)) return call.failure(xmp_error::kNone);
  return date;
}

Status XmpPacket::setDate(std::string_view ns, std::string_view path, const DateTime& date) {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  if (!xmp_set_property_date(xmp_, ns_text.c_str(), full.c_str(), &date, 0)) return call.failure();
  return Status();
}

Result<std::vector<std::string>> XmpPacket::arrayItems(std::string_view ns, std::string_view path) const {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  XmpString value;
  std::uint32_t bits = 0;
  if (!xmp_get_property(xmp_, ns_text.c_str(), full.c_str(), value.get(), &bits)) return call.failure(xmp_error::kNone);
  if ((bits & XMP_PROP_VALUE_IS_ARRAY) == 0) return Result<std::vector<std::string>>();
  std::vector<std::string> items;
  for (std::int32_t index = 1;; ++index) {
    if (!xmp_get_array_item(xmp_, ns_text.c_str(), full.c_str(), index, value.get(), &bits)) break;
    items.push_back((bits & XMP_PROP_COMPOSITE_MASK) == 0 ? value.str() : std::string());
  }
  return items;
}

Status XmpPacket::appendArrayItem(std::string_view ns, std::string_view path, ArrayForm form,
                                  std::string_view value) {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  std::string value_text(value);
  if (!xmp_append_array_item(xmp_, ns_text.c_str(), full.c_str(), ArrayOptions(form), value_text.c_str(), 0)) {
    return call.failure();
  }
  return Status();
}

Status XmpPacket::setArrayItem(std::string_view ns, std::string_view path, int index, std::string_view value) {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  std::string value_text(value);
  if (!xmp_set_array_item(xmp_, ns_text.c_str(), full.c_str(), index, value_text.c_str(), 0)) {
    return call.failure();
  }
  return Status();
}

Result<std::string> XmpPacket::getLocalizedText(std::string_view ns, std::string_view path,
                                                std::string_view lang) const {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  std::string lang_text(lang);
  XmpString actual_lang;
  XmpString value;
  if (!xmp_get_localized_text(xmp_, ns_text.c_str(), full.c_str(), "", lang_text.c_str(), actual_lang.get(),
                              value.get(), nullptr)) {
    return call.failure(xmp_error::kNone);
  }
  return value.str();
}

Status XmpPacket::setLocalizedText(std::string_view ns, std::string_view path, std::string_view lang,
                                   std::string_view value) {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  std::string lang_text(lang);
  std::string value_text(value);
  if (!xmp_set_localized_text(xmp_, ns_text.c_str(), full.c_str(), "", lang_text.c_str(), value_text.c_str(), 0)) {
    return call.failure();
  }
  return Status();
}

Status XmpPacket::removeLocalizedText(std::string_view ns, std::string_view path, std::string_view lang) {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::string ns_text(ns);
  std::string full = Qualified(ns, path);
  std::string lang_text(lang);
  if (!xmp_delete_localized_text(xmp_, ns_text.c_str(), full.c_str(), "", lang_text.c_str())) return call.failure(xmp_error::kNone);
  return Status();
}

Status XmpPacket::merge(const XmpPacket& later) {
  if (xmp_ == nullptr || !later.valid()) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  PropertyIterator nodes(later);
  if (!nodes.status().ok()) return nodes.status();
  // Nodes come parent first, so each container exists before its children.
  for (Result<PropertyNode> node = nodes.next(); node.has_value(); node = nodes.next()) {
    if (node.value->isSchema()) continue;
    const char* schema = node.value->schema.c_str();
    const char* path = node.value->path.c_str();
    if (node.value->isTopLevel()) xmp_delete_property(xmp_, schema, path);
    std::uint32_t form = node.value->options & XMP_PROP_COMPOSITE_MASK;
    std::uint32_t bits = form | (node.value->options & XMP_PROP_VALUE_IS_URI);
    const char* value = form != 0 ? "" : node.value->value.c_str();
    if (!xmp_set_property(xmp_, schema, path, value, bits)) return call.failure();
  }
  return Status();
}

Result<std::string> XmpPacket::serialize(const SerializeOptions& options) const {
  if (xmp_ == nullptr) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  std::uint32_t bits = XMP_SERIAL_ENCODEUTF8;
  if (options.omit_wrapper) bits |= XMP_SERIAL_OMITPACKETWRAPPER;
  if (options.read_only) bits |= XMP_SERIAL_READONLYPACKET;
  if (options.compact) bits |= XMP_SERIAL_USECOMPACTFORMAT;
  if (options.omit_formatting) bits |= XMP_SERIAL_OMITALLFORMATTING;
  std::uint32_t padding = options.padding;
  if (options.exact_length != 0) {
    if (options.omit_wrapper) return Status(xmp_error::kBadOptions);
    bits |= XMP_SERIAL_EXACTPACKETLENGTH;
    padding = options.exact_length;
  }
  XmpString out;
  if (!xmp_serialize(xmp_, out.get(), bits, padding)) return call.failure(xmp_error::kBadSerialize);
  if (options.exact_length != 0 && out.view().size() != options.exact_length) {
    return Status(xmp_error::kBadSerialize);
  }
  return out.str();
}

}  // namespace norvo::xmp
