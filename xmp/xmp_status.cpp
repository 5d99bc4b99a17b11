// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/xmp_status.h"

#include <exempi/xmp.h>

#include <iostream>

namespace norvo::xmp {
namespace {

std::recursive_mutex& ErrorStreamLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace

Status Status::FromLastCall(int fallback, std::string message) {
  int code = xmp_get_error();
  return Status(code != xmp_error::kNone ? code : fallback, std::move(message));
}

ToolkitCall::ToolkitCall() : lock_(ErrorStreamLock()), saved_(std::cerr.rdbuf(&buffer_)) {}

ToolkitCall::~ToolkitCall() { std::cerr.rdbuf(saved_); }

std::string ToolkitCall::messages() const {
  std::string out;
  std::istringstream lines(buffer_.str());
  for (std::string line; std::getline(lines, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    if (!out.empty()) out += "; ";
    out += line;
  }
  return out;
}

Status ToolkitCall::failure(int fallback) const { return Status::FromLastCall(fallback, messages()); }

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
