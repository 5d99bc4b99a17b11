// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF writer (libtiff): 8-bit RGB (with unassociated alpha when the
// picture has it), LZW with horizontal differencing, resolution in inches
// and the ICC profile tag. The file is built in memory.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/format_writers.h"

namespace norvo::imaging::writers {
namespace {

struct MemoryFile {
  std::vector<std::uint8_t>* bytes;
  toff_t position = 0;
  bool failed = false;
};

tmsize_t ReadProc(thandle_t handle, void* out, tmsize_t count) {
  auto* f = static_cast<MemoryFile*>(handle);
  if (count <= 0 || f->position >= f->bytes->size()) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), f->bytes->size() - f->position);
  std::memcpy(out, f->bytes->data() + f->position, n);
  f->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t count) {
  auto* f = static_cast<MemoryFile*>(handle);
  if (count < 0) return -1;
  const std::size_t n = static_cast<std::size_t>(count);
  if (f->position + n > f->bytes->size()) f->bytes->resize(f->position + n);
  std::memcpy(f->bytes->data() + f->position, data, n);
  f->position += n;
  return count;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(handle);
  toff_t base = 0;
  if (whence == SEEK_CUR) base = f->position;
  if (whence == SEEK_END) base = f->bytes->size();
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  f->position = base + offset;
  return f->position;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes->size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char*, va_list) {
  static_cast<MemoryFile*>(user)->failed = true;
  return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsFree {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

}  // namespace

ErrorCode WriteTiff(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                    std::uint32_t*) {
  out->clear();
  MemoryFile file{out};
  std::unique_ptr<TIFFOpenOptions, OptionsFree> open_options(TIFFOpenOptionsAlloc());
  if (!open_options) return err::kOutOfMemory;
  TIFFOpenOptionsSetErrorHandlerExtR(open_options.get(), OnError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(open_options.get(), OnWarning, &file);
  TIFF* t = TIFFClientOpenExt("image", "wm", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                              UnmapProc, open_options.get());
  if (t == nullptr) return err::kBadJpeg;
  const bool alpha = picture.hasAlpha();
  const std::uint16_t channels = alpha ? 4 : 3;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(picture.width()));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(picture.height()));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, channels);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  if (alpha) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(options.dots_per_inch));
  TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(options.dots_per_inch));
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (!options.icc_profile.empty()) {
    TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(options.icc_profile.size()),
                 options.icc_profile.data());
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  const std::size_t width = static_cast<std::size_t>(picture.width());
  std::vector<std::uint8_t> row(width * channels);
  bool ok = !file.failed;
  for (int y = 0; y < picture.height() && ok; ++y) {
    const std::uint8_t* from = picture.row(y);
    std::uint8_t* to = row.data();
    for (std::size_t x = 0; x < width; ++x, from += 4) {
      *to++ = from[1];
      *to++ = from[2];
      *to++ = from[3];
      if (alpha) *to++ = from[0];
    }
    ok = TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
  }
  ok = ok && TIFFFlush(t) == 1;
  TIFFClose(t);
  if (!ok || file.failed) {
    out->clear();
    return err::kBadJpeg;
  }
  return err::kNone;
}

}  // namespace norvo::imaging::writers
