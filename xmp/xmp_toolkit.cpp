// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/xmp_toolkit.h"

#include <exempi/xmp.h>

#include "xmp/xmp_string.h"

namespace norvo::xmp {
namespace {

// A function-local static: constructed once under the compiler's guard and
// destroyed at exit after every object that was built later. Wrapper objects
// call EnsureToolkit() in their constructors, so any of them, even a static
// one, finishes construction after this and is freed before xmp_terminate.
struct Toolkit {
  bool ready;
  Toolkit() : ready(xmp_init()) {}
  ~Toolkit() {
    if (ready) xmp_terminate();
  }
  Toolkit(const Toolkit&) = delete;
  Toolkit& operator=(const Toolkit&) = delete;
};

std::string WithoutColon(std::string_view prefix) {
  if (!prefix.empty() && prefix.back() == ':') prefix.remove_suffix(1);
  return std::string(prefix);
}

}  // namespace

bool EnsureToolkit() {
  static Toolkit toolkit;
  return toolkit.ready;
}

Status RegisterNamespace(std::string_view uri, std::string_view prefix, std::string* registered_prefix) {
  if (!EnsureToolkit()) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  if (uri.empty() || prefix.empty()) return Status(xmp_error::kBadParam);
  XmpString actual;
  std::string uri_text(uri);
  std::string prefix_text = WithoutColon(prefix);
  // Exempi answers false when the URI was already known under the suggested
  // prefix; only an error number means a real failure.
  bool registered = xmp_register_namespace(uri_text.c_str(), prefix_text.c_str(), actual.get());
  if (!registered && xmp_get_error() != xmp_error::kNone) return call.failure();
  if (registered_prefix != nullptr) {
    *registered_prefix = actual.view().empty() ? prefix_text : WithoutColon(actual.view());
  }
  return Status();
}

Result<std::string> NamespacePrefix(std::string_view uri) {
  if (!EnsureToolkit()) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  XmpString prefix;
  std::string uri_text(uri);
  if (!xmp_namespace_prefix(uri_text.c_str(), prefix.get())) return call.failure(xmp_error::kNone);
  return WithoutColon(prefix.view());
}

Result<std::string> NamespaceUri(std::string_view prefix) {
  if (!EnsureToolkit()) return Status(xmp_error::kNotInitialised);
  ToolkitCall call;
  XmpString uri;
  std::string prefix_text = WithoutColon(prefix);
  if (!xmp_prefix_namespace_uri(prefix_text.c_str(), uri.get())) return call.failure(xmp_error::kNone);
  return uri.str();
}

}  // namespace norvo::xmp
