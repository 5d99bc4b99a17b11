// SPDX-License-Identifier: GPL-3.0-or-later
// The writer of each output format, as image_writer.cpp dispatches to them.
// Each takes options already checked (resolution in range, blocks within
// their limits) and a picture that is not empty, and reports in *dropped
// what was asked for and its format cannot hold.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/image_writer.h"

namespace norvo::imaging::writers {

ErrorCode WriteJpeg(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                    std::uint32_t* dropped);
ErrorCode WritePng(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                   std::uint32_t* dropped);
ErrorCode WriteTiff(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                    std::uint32_t* dropped);
ErrorCode WriteWebp(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                    std::uint32_t* dropped);
// `av1`: AVIF; else HEIC (HEVC).
ErrorCode WriteHeif(const PixelBuffer& picture, const ImageWriteOptions& options, bool av1,
                    std::vector<std::uint8_t>* out, std::uint32_t* dropped);
ErrorCode WriteGif(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                   std::uint32_t* dropped);
ErrorCode WriteBmp(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                   std::uint32_t* dropped);

// Whether libheif has an encoder for HEVC (false) or AV1 (true).
bool HeifEncoderAvailable(bool av1);

// The picture's rows as packed R,G,B (or R,G,B,A when `alpha`) bytes.
std::vector<std::uint8_t> PackedRgb(const PixelBuffer& picture, bool alpha);

}  // namespace norvo::imaging::writers
