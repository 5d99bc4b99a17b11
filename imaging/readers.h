// SPDX-License-Identifier: GPL-3.0-or-later
// The reader of each format, for the format table and for readers that
// hand on to another (a camera raw file's embedded JPEG preview, a TIFF that
// is a Canon raw file).
#pragma once

#include <string>

#include "imaging/image_reader.h"
#include "platform/reader_plugins.h"

namespace norvo::imaging {

const StillImageReader& JpegReader();
const StillImageReader& TiffReader();
const StillImageReader& PngReader();
const StillImageReader& BmpReader();
const StillImageReader& PhotoshopReader();
const StillImageReader& WebpReader();
const StillImageReader& HeifReader();
const StillImageReader& GifReader();
const StillImageReader& CameraRawReader();

// The layout stamp of the still-image plug-ins' tables (HEIF, camera raw).
inline constexpr std::uint32_t kStillImageLayout =
    plugins::LayoutStamp({sizeof(DecodedImage), sizeof(ImageFacts), sizeof(PixelBuffer), sizeof(std::string), 1});

}  // namespace norvo::imaging
