// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/xmp_status.h"

#include <exempi/xmp.h>

namespace norvo::xmp {

Status Status::FromLastCall(int fallback) {
  int code = xmp_get_error();
  return Status(code != xmp_error::kNone ? code : fallback);
}

std::string_view Status::name() const {
  switch (code_) {
    case xmp_error::kNone: return "no error";
    case xmp_error::kBadParam: return "bad parameter";
    case xmp_error::kBadSchema: return "unregistered namespace";
    case xmp_error::kBadXPath: return "bad property path";
    case xmp_error::kBadOptions: return "bad options";
    case xmp_error::kBadIndex: return "bad array index";
    case xmp_error::kBadParse: return "parse failure";
    case xmp_error::kBadSerialize: return "serialisation failure";
    case xmp_error::kBadXml: return "malformed XML";
    case xmp_error::kBadRdf: return "malformed RDF";
    case xmp_error::kBadXmp: return "malformed XMP";
    case xmp_error::kFailed: return "refused by the toolkit";
    case xmp_error::kNotInitialised: return "toolkit not initialised";
    case xmp_error::kEmptyPacket: return "empty packet";
    default: return "XMP toolkit error";
  }
}

}  // namespace norvo::xmp
