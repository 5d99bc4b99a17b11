// SPDX-License-Identifier: GPL-3.0-or-later
// Everything the metadata readers take from one image file, whatever its
// format: the metadata list and the facts kept beside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/icc_profile.h"
#include "metadata/metadata_list.h"

namespace norvo::metadata {

struct ImageMetadata {
  MetadataList list;
  std::uint16_t orientation = 0;  // 1 to 8, or 0
  std::uint32_t camera = 0;       // camera code of the Make text
  ProfileChoice profile = ProfileChoice::kNone;
  std::vector<std::uint8_t> icc_profile;  // the embedded profile, when there is one
  std::vector<std::uint8_t> thumbnail;    // the EXIF thumbnail (JPEG), when asked and present
  std::vector<std::uint8_t> recording;    // the FlashPix voice annotation (RIFF WAVE), when there is one
  std::vector<std::uint8_t> image_resources;  // the Photoshop image-resource block (APP13)
  // Whole pixels per inch the file declares: the format's own field when it
  // has one with a unit (JFIF density, PNG pHYs), else IFD0's XResolution
  // and YResolution with ResolutionUnit; 0 when it declares none.
  std::int32_t resolution = 0;
};

// The name of the colour profile the file chose; "" when none.
inline std::string ColourProfileName(const ImageMetadata& metadata) {
  return ColourProfileName(metadata.profile, metadata.icc_profile);
}

}  // namespace norvo::metadata
