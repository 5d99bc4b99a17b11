// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF through libtiff, reading from the file's bytes already in memory
// (handed to libtiff as its "mapped" view, so it copies nothing). libtiff's
// warnings and errors go to handlers of this open only: warnings are dropped,
// an error makes the read fail with err::kBadJpeg.
#include <cstdarg>
#include <cstring>
#include <memory>

#include <tiffio.h>

#include "imaging/readers.h"
#include "platform/byte_io.h"

namespace norvo::imaging {
namespace {

// A Canon raw file in TIFF form has this u32 at byte offset 8.
constexpr std::uint32_t kCanonRawMarker = 0xBAB0ACBB;
// Largest single allocation libtiff may make for one open.
constexpr tmsize_t kMaxTiffAllocation = 256 * 1024 * 1024;

struct MemoryFile {
  std::span<const std::uint8_t> bytes;
  toff_t position = 0;
  bool failed = false;  // libtiff reported an error
};

tmsize_t ReadProc(thandle_t handle, void* out, tmsize_t count) {
  auto* f = static_cast<MemoryFile*>(handle);
  if (count <= 0 || f->position >= f->bytes.size()) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), f->bytes.size() - f->position);
  std::memcpy(out, f->bytes.data() + f->position, n);
  f->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(handle);
  toff_t base = 0;
  if (whence == SEEK_CUR) base = f->position;
  if (whence == SEEK_END) base = f->bytes.size();
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  f->position = base + offset;
  return f->position;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }

int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* f = static_cast<MemoryFile*>(handle);
  *base = const_cast<std::uint8_t*>(f->bytes.data());
  *size = f->bytes.size();
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char*, va_list) {
  static_cast<MemoryFile*>(user)->failed = true;
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsFree {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

bool IsCanonRaw(std::span<const std::uint8_t> bytes) {
  const bool little = ByteReader(bytes).u16be() == 0x4949;  // "II"
  OrderedByteReader r(bytes, little ? Endian::kLittle : Endian::kBig);
  r.seek(8);
  const std::uint32_t v = r.u32();
  return r.ok() && v == kCanonRawMarker;
}

class TiffFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    if (IsCanonRaw(bytes)) return CameraRawReader().read(bytes, box, out);
    MemoryFile file{bytes};
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return err::kOutOfMemory;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &file);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("image", "rm", &file, ReadProc, WriteProc, SeekProc,
                                                              CloseProc, SizeProc, MapProc, UnmapProc, options.get()));
    if (!tiff || file.failed) return kBadImageData;
    TIFF* t = tiff.get();

    ImageFacts& facts = out->facts;
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISBLACK, unit = RESUNIT_INCH;
    float res_x = 0, res_y = 0;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height)) {
      return kBadImageData;
    }
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &res_x);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &res_y);
    facts.width = static_cast<std::int32_t>(std::min<std::uint32_t>(width, INT32_MAX));
    facts.height = static_cast<std::int32_t>(std::min<std::uint32_t>(height, INT32_MAX));
    facts.depth = bits * samples;
    facts.resolution = WholePixelsPerInch(res_x, res_y, unit);
    switch (photometric) {
      case PHOTOMETRIC_MINISWHITE:
      case PHOTOMETRIC_MINISBLACK: facts.colour_space = kColourGrey; break;
      case PHOTOMETRIC_SEPARATED: facts.colour_space = kColourCmyk; break;
      default: facts.colour_space = kColourRgb; break;
    }
    facts.compressor = "TIFF";
    const tdir_t directories = TIFFNumberOfDirectories(t);
    facts.image_count = directories >= 1 && directories <= kMaxImageCount ? static_cast<int>(directories) : 1;
    TIFFSetDirectory(t, 0);

    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return kBadImageData;
    if (!PlausiblePictureSize(width, height, bytes.size())) return kBadImageData;
    char message[1024] = {};
    if (!TIFFRGBAImageOK(t, message)) return kBadImageData;
    PixelBuffer& picture = out->picture;
    ErrorCode e = picture.allocate(static_cast<int>(width), static_cast<int>(height));
    if (e != err::kNone) return e;
    TIFFRGBAImage image;
    if (!TIFFRGBAImageBegin(&image, t, 0, message)) return kBadImageData;
    image.req_orientation = ORIENTATION_TOPLEFT;
    // The rows are packed, so the picture is one raster of 32-bit values,
    // each with red in its low byte and alpha in its high byte.
    const int got = TIFFRGBAImageGet(&image, reinterpret_cast<std::uint32_t*>(picture.row(0)), width, height);
    const bool has_alpha = image.alpha != 0;
    TIFFRGBAImageEnd(&image);
    if (!got || file.failed) return kBadImageData;
    for (int y = 0; y < picture.height(); ++y) {
      std::uint8_t* p = picture.row(y);
      for (int x = 0; x < picture.width(); ++x, p += kBytesPerPixel) {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        p[0] = static_cast<std::uint8_t>(v >> 24);
        p[1] = static_cast<std::uint8_t>(v);
        p[2] = static_cast<std::uint8_t>(v >> 8);
        p[3] = static_cast<std::uint8_t>(v >> 16);
      }
    }
    picture.setHasAlpha(has_alpha);
    return err::kNone;
  }
};

}  // namespace

const StillImageReader& TiffReader() {
  static const TiffFileReader reader;
  return reader;
}

}  // namespace norvo::imaging
