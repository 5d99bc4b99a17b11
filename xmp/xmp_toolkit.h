// SPDX-License-Identifier: GPL-3.0-or-later
// Process-wide set-up of the XMP toolkit (Exempi) and its namespace registry.
// Exempi must be initialised once before any other call and terminated once
// after the last object is freed. EnsureToolkit() does the first on first use
// (thread-safe) and arranges the second for process exit; every wrapper type
// calls it before touching Exempi, so callers never have to.
#pragma once

#include <string>
#include <string_view>

#include "xmp/xmp_status.h"

namespace norvo::xmp {

// Standard namespace URIs used across the program.
inline constexpr std::string_view kNsXmpBasic = "http://ns.adobe.com/xap/1.0/";
inline constexpr std::string_view kNsXmpRights = "http://ns.adobe.com/xap/1.0/rights/";
inline constexpr std::string_view kNsDublinCore = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view kNsPhotoshop = "http://ns.adobe.com/photoshop/1.0/";
inline constexpr std::string_view kNsIptcCore = "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/";
inline constexpr std::string_view kNsExif = "http://ns.adobe.com/exif/1.0/";
inline constexpr std::string_view kNsTiff = "http://ns.adobe.com/tiff/1.0/";

// True when the toolkit is ready; false when xmp_init failed (then every
// wrapper call reports xmp_error::kNotInitialised).
bool EnsureToolkit();

// Registers `uri` with a suggested prefix (without the colon). Registering a
// URI twice is harmless. `registered_prefix`, when given, receives the prefix
// the toolkit actually uses, without the colon.
Status RegisterNamespace(std::string_view uri, std::string_view prefix, std::string* registered_prefix = nullptr);
// The prefix (without the colon) registered for `uri`; absent when none.
Result<std::string> NamespacePrefix(std::string_view uri);
// The URI registered for `prefix` (without the colon); absent when none.
Result<std::string> NamespaceUri(std::string_view prefix);

}  // namespace norvo::xmp
