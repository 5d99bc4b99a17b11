// SPDX-License-Identifier: GPL-3.0-or-later
// libjpeg reports errors by calling a function that must not return; ours
// jumps back to the routine that started the work. The routines that run
// between setjmp and a possible longjmp keep only trivially destructible
// locals, so that the jump skips no destructor.
#include "imaging/jpeg_codec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "imaging/readers.h"

namespace norvo::imaging {
namespace {

// Memory libjpeg may take for one image (coefficients of progressive files).
constexpr long kMaxJpegMemory = 512L * 1024 * 1024;
// Scans a progressive file may have; damaged files can claim thousands.
constexpr int kMaxScans = 500;
constexpr int kDctDenominator = 8;
// A thumbnail is decoded at the smallest DCT scale that gives at least
// twice its size, then area-averaged: reducing straight from a decode just
// covering the box loses detail and aliases (measured against a full decode
// reduced with care, it falls behind vipsthumbnail's likeness).
constexpr int kThumbnailOversample = 2;
constexpr int kRowsPerRead = 16;

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  bool ended_early = false;  // the data stopped before the image did
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(manager->jump, 1);
}

// Warnings are not shown; a premature end stops the decoding loop.
void NoteMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->ended_early = true;
  }
}

void NoOutput(j_common_ptr) {}

void InstallErrorManager(ErrorManager* manager) {
  jpeg_std_error(&manager->base);
  manager->base.error_exit = JumpBack;
  manager->base.emit_message = NoteMessage;
  manager->base.output_message = NoOutput;
}

struct Progress {
  jpeg_progress_mgr base;
};

void CheckScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) JumpBack(cinfo);
  }
}

std::uint8_t Ink(unsigned colour, unsigned black, bool inverted) {
  // Adobe files store the inks inverted (255 = no ink).
  if (inverted) return static_cast<std::uint8_t>((colour * black + 127) / 255);
  return static_cast<std::uint8_t>(((255 - colour) * (255 - black) + 127) / 255);
}

// Header facts, scale choice and the scanline loop. Only trivial locals.
ErrorCode DecodeAfterHeader(jpeg_decompress_struct* cinfo, ErrorManager* errors, int box, DecodedImage* out) {
  ImageFacts& facts = out->facts;
  facts.width = static_cast<std::int32_t>(cinfo->image_width);
  facts.height = static_cast<std::int32_t>(cinfo->image_height);
  facts.depth = cinfo->num_components == 3 ? 24 : 8;
  facts.image_count = 1;
  facts.compressor = "Photo * JPEG";
  facts.resolution = WholePixelsPerInch(cinfo->X_density, cinfo->Y_density,
                                        cinfo->density_unit == 1 ? 2 : cinfo->density_unit == 2 ? 3 : 1);
  switch (cinfo->out_color_space) {
    case JCS_CMYK: facts.colour_space = kColourCmyk; break;
    case JCS_GRAYSCALE: facts.colour_space = kColourGrey; break;
    default: facts.colour_space = kColourRgb; break;
  }

  const bool cmyk = cinfo->out_color_space == JCS_CMYK;
  if (!cmyk) cinfo->out_color_space = JCS_EXT_ARGB;
  cinfo->scale_num = kDctDenominator;
  cinfo->scale_denom = kDctDenominator;
  if (box > 0) {
    int fw = 0, fh = 0;
    FittedSize(facts.width, facts.height, box, &fw, &fh);
    const std::int64_t w = facts.width;
    const std::int64_t h = facts.height;
    for (int num = 1; num <= kDctDenominator; ++num) {
      const std::int64_t sw = (w * num + kDctDenominator - 1) / kDctDenominator;
      const std::int64_t sh = (h * num + kDctDenominator - 1) / kDctDenominator;
      if (sw >= kThumbnailOversample * fw && sh >= kThumbnailOversample * fh) {
        cinfo->scale_num = static_cast<unsigned>(num);
        break;
      }
    }
    cinfo->dct_method = JDCT_IFAST;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->do_block_smoothing = FALSE;
  }
  jpeg_calc_output_dimensions(cinfo);
  if (static_cast<std::int64_t>(cinfo->output_width) * cinfo->output_height > kMaxPixels) return err::kOutOfMemory;
  PixelBuffer& picture = out->picture;
  ErrorCode e = picture.allocate(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height));
  if (e != err::kNone) return e;

  jpeg_start_decompress(cinfo);
  if (cinfo->output_components != 4 || static_cast<int>(cinfo->output_width) != picture.width() ||
      static_cast<int>(cinfo->output_height) != picture.height()) {
    return kBadImageData;
  }
  JSAMPROW rows[kRowsPerRead];
  while (cinfo->output_scanline < cinfo->output_height && !errors->ended_early) {
    const int first = static_cast<int>(cinfo->output_scanline);
    const int count = std::min<int>(kRowsPerRead, picture.height() - first);
    for (int i = 0; i < count; ++i) rows[i] = picture.row(first + i);
    if (jpeg_read_scanlines(cinfo, rows, static_cast<JDIMENSION>(count)) == 0) break;
  }
  const int decoded = static_cast<int>(cinfo->output_scanline);
  if (cmyk) {
    const bool inverted = cinfo->saw_Adobe_marker;
    for (int y = 0; y < decoded; ++y) {
      std::uint8_t* p = picture.row(y);
      for (int x = 0; x < picture.width(); ++x, p += kBytesPerPixel) {
        const unsigned c = p[0], m = p[1], yl = p[2], k = p[3];
        p[0] = 255;
        p[1] = Ink(c, k, inverted);
        p[2] = Ink(m, k, inverted);
        p[3] = Ink(yl, k, inverted);
      }
    }
  }
  // Data that stops before the image does is a damaged file: a picture of
  // what was there, the rest made up, is not shown as its thumbnail.
  if (errors->ended_early || decoded < picture.height()) return kBadImageData;
  return err::kNone;
}

// Fills a std::vector as libjpeg writes.
struct VectorDestination {
  jpeg_destination_mgr base;
  std::vector<std::uint8_t>* out;
};

constexpr std::size_t kDestinationChunk = 16384;

void InitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  d->out->resize(kDestinationChunk);
  d->base.next_output_byte = d->out->data();
  d->base.free_in_buffer = d->out->size();
}

boolean GrowDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  const std::size_t used = d->out->size();
  d->out->resize(used * 2);
  d->base.next_output_byte = d->out->data() + used;
  d->base.free_in_buffer = d->out->size() - used;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  d->out->resize(d->out->size() - d->base.free_in_buffer);
}

void EncodeRows(jpeg_compress_struct* cinfo, const PixelBuffer& picture, int quality, int dots_per_inch) {
  cinfo->image_width = static_cast<JDIMENSION>(picture.width());
  cinfo->image_height = static_cast<JDIMENSION>(picture.height());
  cinfo->input_components = 4;
  cinfo->in_color_space = JCS_EXT_ARGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  cinfo->dct_method = JDCT_IFAST;
  cinfo->write_JFIF_header = TRUE;
  cinfo->density_unit = 1;  // dots per inch
  cinfo->X_density = static_cast<UINT16>(dots_per_inch);
  cinfo->Y_density = static_cast<UINT16>(dots_per_inch);
  jpeg_start_compress(cinfo, TRUE);
  JSAMPROW rows[kRowsPerRead];
  while (cinfo->next_scanline < cinfo->image_height) {
    const int first = static_cast<int>(cinfo->next_scanline);
    const int count = std::min<int>(kRowsPerRead, picture.height() - first);
    for (int i = 0; i < count; ++i) rows[i] = const_cast<JSAMPROW>(picture.row(first + i));
    jpeg_write_scanlines(cinfo, rows, static_cast<JDIMENSION>(count));
  }
  jpeg_finish_compress(cinfo);
}

class JpegFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    return DecodeJpeg(bytes, box, out);
  }
};

}  // namespace

// Whether a sequential Huffman-coded file is long enough for the blocks its
// header declares: every 8 x 8 block costs at least two bits (a DC code and
// an end-of-block code). A few kilobytes claiming a picture of a billion
// pixels would otherwise be decoded in full, all of it made up.
bool HasRoomForItsBlocks(const jpeg_decompress_struct& cinfo, std::size_t file_size) {
  constexpr std::uint64_t kBlocksPerByte = 4;
  constexpr std::uint64_t kSlack = 8;
  if (cinfo.progressive_mode || cinfo.arith_code) return true;  // end-of-band runs make blocks nearly free
  const std::uint64_t blocks = ((std::uint64_t{cinfo.image_width} + 7) / 8) * ((std::uint64_t{cinfo.image_height} + 7) / 8);
  return blocks <= std::uint64_t{file_size} * kBlocksPerByte * kSlack;
}

ErrorCode DecodeJpeg(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) {
  *out = DecodedImage();
  if (bytes.size() < 4) return kBadImageData;
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  Progress progress;
  std::memset(&cinfo, 0, sizeof cinfo);
  InstallErrorManager(&errors);
  cinfo.err = &errors.base;
  ErrorCode result = kBadImageData;
  if (setjmp(errors.jump) == 0) {
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxJpegMemory;
    progress.base.progress_monitor = CheckScans;
    cinfo.progress = &progress.base;
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    out->facts.width = static_cast<std::int32_t>(cinfo.image_width);  // kept should the data fail
    out->facts.height = static_cast<std::int32_t>(cinfo.image_height);
    result = HasRoomForItsBlocks(cinfo, bytes.size()) ? DecodeAfterHeader(&cinfo, &errors, box, out) : kBadImageData;
  } else {
    result = kBadImageData;
  }
  jpeg_destroy_decompress(&cinfo);
  if (result != err::kNone) out->picture = PixelBuffer();
  return result;
}

namespace {

// One encode at a fixed quality and density.
ErrorCode EncodeOnce(const PixelBuffer& picture, int quality, int dots_per_inch, std::vector<std::uint8_t>* out) {
  out->clear();
  if (picture.empty()) return err::kParam;
  jpeg_compress_struct cinfo;
  ErrorManager errors;
  VectorDestination destination;
  std::memset(&cinfo, 0, sizeof cinfo);
  InstallErrorManager(&errors);
  cinfo.err = &errors.base;
  destination.out = out;
  destination.base.init_destination = InitDestination;
  destination.base.empty_output_buffer = GrowDestination;
  destination.base.term_destination = TermDestination;
  ErrorCode result = kBadImageData;
  if (setjmp(errors.jump) == 0) {
    jpeg_create_compress(&cinfo);
    cinfo.dest = &destination.base;
    EncodeRows(&cinfo, picture, std::clamp(quality, 1, 100), dots_per_inch);
    result = err::kNone;
  }
  jpeg_destroy_compress(&cinfo);
  if (result != err::kNone) out->clear();
  return result;
}

// The quality levels of codes 1 to 5 on a 0..0x400 scale.
constexpr int kQualityScale = 0x400;
constexpr int kQualityLevels[] = {0x000, 0x100, 0x200, 0x300, 0x3FF};
// A stream at least this share (in tenths) of the target ends the search.
constexpr std::size_t kTargetGoodTenths = 9;

}  // namespace

ErrorCode EncodeJpeg(const PixelBuffer& picture, int quality, std::vector<std::uint8_t>* out) {
  return EncodeOnce(picture, quality, kDefaultResolution, out);
}

int JpegQualityForCode(int code) {
  if (code < kJpegQualityLeast || code > kJpegQualityBest) code = kJpegQualityMedium;
  const int level = kQualityLevels[code - kJpegQualityLeast];
  return std::max(1, level * 100 / kQualityScale);
}

ErrorCode EncodeJpeg(const PixelBuffer& picture, const JpegWriteOptions& options, std::vector<std::uint8_t>* out,
                     int* quality_used) {
  const int dpi = options.dots_per_inch >= 1 && options.dots_per_inch <= 0xFFFF ? options.dots_per_inch
                                                                                : kDefaultResolution;
  int quality = JpegQualityForCode(options.quality_code);
  if (quality_used != nullptr) *quality_used = quality;
  ErrorCode e = EncodeOnce(picture, quality, dpi, out);
  if (e != err::kNone || options.quality_code != kJpegQualityTargetSize || options.target_bytes <= 0) return e;
  const std::size_t target = static_cast<std::size_t>(options.target_bytes);
  if (out->size() <= target) return err::kNone;

  // Bisection below medium: `low`..`high` are the qualities not yet ruled
  // out; `best` is the highest tried that fits.
  std::vector<std::uint8_t> trial;
  std::vector<std::uint8_t> smallest;  // the stream at quality 1, should nothing fit
  int best = 0;
  int low = 1;
  int high = quality - 1;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    e = EncodeOnce(picture, mid, dpi, &trial);
    if (e != err::kNone) {
      out->clear();
      return e;
    }
    if (trial.size() <= target) {
      best = mid;
      std::swap(*out, trial);
      if (out->size() * 10 >= target * kTargetGoodTenths) break;
      low = mid + 1;
    } else {
      if (mid == 1) std::swap(smallest, trial);
      high = mid - 1;
    }
  }
  if (best == 0) {
    // Nothing fits: give the smallest stream there is.
    if (smallest.empty()) {
      e = EncodeOnce(picture, 1, dpi, &smallest);
      if (e != err::kNone) {
        out->clear();
        return e;
      }
    }
    std::swap(*out, smallest);
    best = 1;
  }
  if (quality_used != nullptr) *quality_used = best;
  return err::kNone;
}

const StillImageReader& JpegReader() {
  static const JpegFileReader reader;
  return reader;
}

}  // namespace norvo::imaging
