// SPDX-License-Identifier: GPL-3.0-or-later
// The 8.3 short name of a long file name: the first six usable letters of the
// base name upper-cased, "~1", and the first three letters of the extension.
#pragma once

#include <string>

#include "platform/error_codes.h"

namespace norvo {

// `name` is Windows-1252. err::kBadName when no short name can be formed (no usable
// character in the base name).
ErrorCode ShortName(const std::string& name, std::string& out);

}  // namespace norvo
