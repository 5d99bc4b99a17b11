// SPDX-License-Identifier: GPL-3.0-or-later
// The reader of each format, for the registration table and for readers that
// hand on to another (a camera raw file's embedded JPEG preview, a TIFF that
// is a Canon raw file).
#pragma once

#include "imaging/image_reader.h"

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

}  // namespace norvo::imaging
