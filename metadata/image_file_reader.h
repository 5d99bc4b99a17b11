// SPDX-License-Identifier: GPL-3.0-or-later
// Reading an image file's metadata with the reader its first bytes call for.
#pragma once

#include "metadata/image_metadata.h"
#include "platform/error_codes.h"
#include "platform/file_spec.h"

namespace norvo::metadata {

// Opens the file and reads it as JPEG, TIFF, Photoshop, PNG, WebP or HEIF;
// anything else is err::kNoReaderForFormat.
ErrorCode ReadImageMetadata(const FileSpec& spec, bool want_thumbnail, ImageMetadata* out);

}  // namespace norvo::metadata
