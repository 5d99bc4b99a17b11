// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/xmp_iterator.h"

#include <utility>

#include "xmp/xmp_string.h"
#include "xmp/xmp_toolkit.h"

namespace norvo::xmp {

bool PropertyNode::isTopLevel() const {
  return !isSchema() && !path.empty() && path.find_first_of("/[") == std::string::npos;
}

PropertyIterator::PropertyIterator(const XmpPacket& packet, std::string_view ns, std::string_view path,
                                   std::uint32_t options) {
  if (!EnsureToolkit() || !packet.valid()) {
    status_ = Status(xmp_error::kNotInitialised);
    return;
  }
  std::string ns_text(ns);
  std::string path_text(path);
  ToolkitCall call;
  iter_ = xmp_iterator_new(packet.native(), ns.empty() ? nullptr : ns_text.c_str(),
                           path.empty() ? nullptr : path_text.c_str(), static_cast<XmpIterOptions>(options));
  if (iter_ == nullptr) status_ = call.failure();
}

PropertyIterator::~PropertyIterator() {
  if (iter_ != nullptr) xmp_iterator_free(iter_);
}

PropertyIterator::PropertyIterator(PropertyIterator&& other) noexcept
    : iter_(std::exchange(other.iter_, nullptr)), status_(other.status_) {}

PropertyIterator& PropertyIterator::operator=(PropertyIterator&& other) noexcept {
  if (this != &other) {
    if (iter_ != nullptr) xmp_iterator_free(iter_);
    iter_ = std::exchange(other.iter_, nullptr);
    status_ = other.status_;
  }
  return *this;
}

Result<PropertyNode> PropertyIterator::next() {
  if (iter_ == nullptr) return status_;
  XmpString schema;
  XmpString path;
  XmpString value;
  std::uint32_t options = 0;
  ToolkitCall call;
  if (!xmp_iterator_next(iter_, schema.get(), path.get(), value.get(), &options)) return Result<PropertyNode>();
  PropertyNode node;
  node.schema = schema.str();
  node.path = path.str();
  node.value = value.str();
  node.options = options;
  return node;
}

void PropertyIterator::skipSubtree() {
  ToolkitCall call;
  if (iter_ != nullptr) xmp_iterator_skip(iter_, XMP_ITER_SKIPSUBTREE);
}

void PropertyIterator::skipSiblings() {
  ToolkitCall call;
  if (iter_ != nullptr) xmp_iterator_skip(iter_, XMP_ITER_SKIPSIBLINGS);
}

}  // namespace norvo::xmp
