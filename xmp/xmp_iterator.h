// SPDX-License-Identifier: GPL-3.0-or-later
// Walks the nodes of an XmpPacket in document order: schema nodes, then each
// property with its array items, struct fields and qualifiers beneath it.
#pragma once

#include <exempi/xmp.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "xmp/xmp_packet.h"
#include "xmp/xmp_status.h"

namespace norvo::xmp {

// Exempi marks schema nodes with this option bit (its header names the test
// macro but not the bit).
inline constexpr std::uint32_t kSchemaNodeBit = 0x80000000u;

struct PropertyNode {
  std::string schema;  // namespace URI
  std::string path;    // full path with prefixes, "dc:subject[2]"; empty for a schema node
  std::string value;   // empty for composite nodes
  std::uint32_t options = 0;

  bool isSchema() const { return (options & kSchemaNodeBit) != 0; }
  bool isArray() const { return (options & XMP_PROP_VALUE_IS_ARRAY) != 0; }
  bool isStruct() const { return (options & XMP_PROP_VALUE_IS_STRUCT) != 0; }
  bool isQualifier() const { return (options & XMP_PROP_IS_QUALIFIER) != 0; }
  // A property directly below its schema: no struct, array or qualifier step.
  bool isTopLevel() const;
};

class PropertyIterator {
 public:
  // An empty `ns` walks every schema; a `path` (with `ns`) walks only that
  // property's subtree. `options` are Exempi's XMP_ITER_* bits.
  explicit PropertyIterator(const XmpPacket& packet, std::string_view ns = {}, std::string_view path = {},
                            std::uint32_t options = XMP_ITER_PROPERTIES);
  ~PropertyIterator();
  PropertyIterator(PropertyIterator&& other) noexcept;
  PropertyIterator& operator=(PropertyIterator&& other) noexcept;
  PropertyIterator(const PropertyIterator&) = delete;
  PropertyIterator& operator=(const PropertyIterator&) = delete;

  // Why the iterator could not be made (an empty packet, an unknown schema).
  Status status() const { return status_; }

  // The next node; absent at the end.
  Result<PropertyNode> next();
  // Leaves out what lies below the node last returned.
  void skipSubtree();
  // Leaves out the rest of the node last returned's siblings, and what lies below it.
  void skipSiblings();

 private:
  XmpIteratorPtr iter_ = nullptr;
  Status status_;
};

}  // namespace norvo::xmp
