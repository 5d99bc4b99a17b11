// SPDX-License-Identifier: GPL-3.0-or-later
// Colour profiles: which profile an image file chose (an embedded ICC
// profile, or sRGB or Adobe RGB named by its EXIF colour space), and the
// name shown for it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace norvo::metadata {

enum class ProfileChoice : std::uint8_t { kNone, kEmbedded, kSrgb, kAdobeRgb };

// The description tag of an ICC profile ('desc' or 'mluc'), "" when none.
std::string IccProfileDescription(std::span<const std::uint8_t> profile);

// The colour profile's name: the embedded profile's description, else the
// name of the profile the EXIF colour space chose; "" when none.
std::string ColourProfileName(ProfileChoice choice, std::span<const std::uint8_t> embedded);

}  // namespace norvo::metadata
