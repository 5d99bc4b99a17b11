// SPDX-License-Identifier: GPL-3.0-or-later
// Layout stamp of the encoder plug-in: the sizes of the types its table
// passes, so that the program refuses a module built from other sources.
#pragma once

#include "platform/reader_plugins.h"
#include "output/media_encoder.h"

namespace norvo::output {

inline constexpr std::uint32_t kEncoderLayout =
    plugins::LayoutStamp({sizeof(AvFormat), sizeof(AvEncodeSettings), sizeof(AvCodecChoice), sizeof(std::string),
                          sizeof(std::vector<int>), 2});

}  // namespace norvo::output
