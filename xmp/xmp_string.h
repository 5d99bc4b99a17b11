// SPDX-License-Identifier: GPL-3.0-or-later
// Owns one of Exempi's string buffers (the out-parameter of most calls).
#pragma once

#include <exempi/xmp.h>

#include <string>
#include <string_view>

namespace norvo::xmp {

class XmpString {
 public:
  XmpString() : ptr_(xmp_string_new()) {}
  ~XmpString() {
    if (ptr_ != nullptr) xmp_string_free(ptr_);
  }
  XmpString(const XmpString&) = delete;
  XmpString& operator=(const XmpString&) = delete;

  XmpStringPtr get() const { return ptr_; }
  std::string_view view() const {
    if (ptr_ == nullptr) return {};
    const char* text = xmp_string_cstr(ptr_);
    return text != nullptr ? std::string_view(text, xmp_string_len(ptr_)) : std::string_view();
  }
  std::string str() const { return std::string(view()); }

 private:
  XmpStringPtr ptr_;
};

}  // namespace norvo::xmp
