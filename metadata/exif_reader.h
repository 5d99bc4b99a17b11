// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the EXIF of JPEG and TIFF files, and of EXIF blocks that other
// containers carry, into an ImageMetadata: the IFD walk's values go to a tag
// store that keeps the named texts, XMP and IPTC under their list keys, the
// photo fields' values in their stored form (with the camera makers' note
// rules), everything else under its bare tag number; and the orientation,
// camera, colour profile, resolution and EXIF thumbnail beside the list.
// A JPEG's other segments (XMP, comments, ICC profile, FlashPix audio,
// Photoshop resources) are read on the same pass.
#pragma once

#include <cstdint>
#include <span>

#include "metadata/byte_source.h"
#include "metadata/image_metadata.h"
#include "platform/error_codes.h"

namespace norvo::metadata {

// Reads a JPEG file's segments and EXIF; stops at the start of scan.
ErrorCode ReadJpegMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out);
// Reads a TIFF file's directories, either byte order.
ErrorCode ReadTiffMetadata(const ByteSource& source, bool want_thumbnail, ImageMetadata* out);
// Reads an EXIF block as other containers carry it (a PNG eXIf chunk, a WebP
// EXIF chunk, a HEIF Exif item): a TIFF structure, which some writers open
// with JPEG's "Exif\0\0" anyway. The orientation, camera, colour profile
// choice, resolution and thumbnail go to `out` as a JPEG's EXIF would.
ErrorCode ReadExifBlock(std::span<const std::uint8_t> block, bool want_thumbnail, ImageMetadata* out);

}  // namespace norvo::metadata
