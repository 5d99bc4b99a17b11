// SPDX-License-Identifier: GPL-3.0-or-later
// The camera raw plug-in: camera raw files through LibRaw. A thumbnail always comes from the preview
// the camera embedded (JPEG, decoded at a reduced scale, or a bitmap), never
// from demosaicing the sensor data; a full-size preview without an embedded
// one falls back to a half-size development.
//
// A damaged raw file can send LibRaw's parsers round a loop of millions of
// seeks and reads (a truncated Phase One file took over a minute). Every
// read therefore goes through a stream that knows the time budget and, once
// it is spent, throws the cancellation LibRaw itself catches; the progress
// callback stops a development the same way.
#include <array>
#include <chrono>
#include <memory>

#include <libraw/libraw.h>

#include <span>

#include "imaging/jpeg_codec.h"
#include "imaging/readers.h"
#include "media/platform_components.h"

namespace norvo::imaging {
namespace {

// Memory LibRaw may use for the sensor data of a half-size development.
constexpr unsigned kMaxRawMemoryMb = 1024;

// Time one raw file may take, from opening to the last pixel.
constexpr auto kRawTimeBudget = std::chrono::seconds(5);
// Reads between two looks at the clock: a read costs nanoseconds.
constexpr unsigned kReadsPerClockCheck = 4096;

void IgnoreDataError(void*, const char*, int) {}

using Deadline = std::chrono::steady_clock::time_point;

// LibRaw's buffer stream with a deadline. Throwing LibRaw's own exception
// code is how its readers report a cancelled read; the library catches it
// at the edge of open, unpack and unpack_thumb and returns an error.
class BudgetedStream final : public LibRaw_buffer_datastream {
 public:
  BudgetedStream(std::span<const std::uint8_t> bytes, Deadline deadline)
      : LibRaw_buffer_datastream(const_cast<std::uint8_t*>(bytes.data()), bytes.size()), deadline_(deadline) {}

  int read(void* ptr, size_t size, size_t count) override {
    check();
    return LibRaw_buffer_datastream::read(ptr, size, count);
  }
  int seek(INT64 offset, int whence) override {
    check();
    return LibRaw_buffer_datastream::seek(offset, whence);
  }
  char* gets(char* s, int size) override {
    check();
    return LibRaw_buffer_datastream::gets(s, size);
  }
  int scanf_one(const char* format, void* value) override {
    check();
    return LibRaw_buffer_datastream::scanf_one(format, value);
  }
  int get_char() override {
    check();
    return LibRaw_buffer_datastream::get_char();
  }

 private:
  void check() {
    if (++calls_ % kReadsPerClockCheck == 0 && std::chrono::steady_clock::now() > deadline_) {
      throw LIBRAW_EXCEPTION_CANCELLED_BY_CALLBACK;
    }
  }

  Deadline deadline_;
  unsigned calls_ = 0;
};

int StopAfterDeadline(void* data, LibRaw_progress, int, int) {
  return std::chrono::steady_clock::now() > *static_cast<const Deadline*>(data) ? 1 : 0;
}

struct ProcessedFree {
  void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};
using Processed = std::unique_ptr<libraw_processed_image_t, ProcessedFree>;

ErrorCode FromBitmap(const libraw_processed_image_t* image, PixelBuffer* picture) {
  if (image == nullptr || image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 ||
      (image->colors != 3 && image->colors != 1)) {
    return kBadImageData;
  }
  const int w = image->width;
  const int h = image->height;
  const std::size_t channels = image->colors;
  if (w <= 0 || h <= 0 || std::size_t{image->data_size} < static_cast<std::size_t>(w) * h * channels) {
    return kBadImageData;
  }
  ErrorCode e = picture->allocate(w, h);
  if (e != err::kNone) return e;
  const std::uint8_t* s = image->data;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* d = picture->row(y);
    for (int x = 0; x < w; ++x, s += channels, d += kBytesPerPixel) {
      d[0] = 255;
      d[1] = s[0];
      d[2] = s[channels == 3 ? 1 : 0];
      d[3] = s[channels == 3 ? 2 : 0];
    }
  }
  return err::kNone;
}

class CameraRawFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    Deadline deadline = std::chrono::steady_clock::now() + kRawTimeBudget;
    // Declared before LibRaw, which reads through it until it is destroyed.
    BudgetedStream stream(bytes, deadline);
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    raw->set_dataerror_handler(IgnoreDataError, nullptr);
    raw->set_progress_handler(StopAfterDeadline, &deadline);
    raw->imgdata.params.max_raw_memory_mb = kMaxRawMemoryMb;
    if (raw->open_datastream(&stream) != LIBRAW_SUCCESS) return kBadImageData;
    ImageFacts& facts = out->facts;
    facts.width = raw->imgdata.sizes.width;
    facts.height = raw->imgdata.sizes.height;
    facts.depth = 24;
    facts.colour_space = kColourRgb;
    facts.compressor = CompressorName(std::string(raw->imgdata.idata.make) + " Raw");
    if (facts.width <= 0 || facts.height <= 0) return kBadImageData;

    if (raw->unpack_thumb() == LIBRAW_SUCCESS) {
      const libraw_thumbnail_t& thumb = raw->imgdata.thumbnail;
      if (thumb.tformat == LIBRAW_THUMBNAIL_JPEG && thumb.thumb != nullptr) {
        DecodedImage preview;
        ErrorCode e = DecodeJpeg(std::span(reinterpret_cast<const std::uint8_t*>(thumb.thumb), thumb.tlength), box,
                                 &preview);
        if (e == err::kNone) {
          out->picture = std::move(preview.picture);
          return err::kNone;
        }
      } else if (thumb.tformat == LIBRAW_THUMBNAIL_BITMAP) {
        int code = 0;
        Processed image(raw->dcraw_make_mem_thumb(&code));
        if (image && FromBitmap(image.get(), &out->picture) == err::kNone) return err::kNone;
      }
    }
    if (box > 0) return kBadImageData;  // no usable embedded preview
    raw->imgdata.params.half_size = 1;
    raw->imgdata.params.use_camera_wb = 1;
    if (raw->unpack() != LIBRAW_SUCCESS || raw->dcraw_process() != LIBRAW_SUCCESS) return kBadImageData;
    int code = 0;
    Processed image(raw->dcraw_make_mem_image(&code));
    return FromBitmap(image.get(), &out->picture);
  }
};

// --- what this LibRaw reads ---------------------------------------------------------

struct RawFormat {
  std::uint32_t subtype;
  const char* name;
  std::uint32_t extension;
  int min_version;            // LibRaw version that first reads it; 0: any
  unsigned needed_capability;  // LIBRAW_CAPS_ bit it needs; 0: none
};

constexpr int kLibRawCr3Version = LIBRAW_MAKE_VERSION(0, 20, 0);

constexpr std::array<RawFormat, 24> kRawFormats = {{
    {FourCC("CR2 "), "Canon CR2 Raw", FourCC("cr2 "), 0, 0},
    {FourCC("CR3 "), "Canon CR3 Raw", FourCC("cr3 "), kLibRawCr3Version, 0},
    {FourCC("CRW "), "Canon CRW Raw", FourCC("crw "), 0, 0},
    {FourCC("NEF "), "Nikon NEF Raw", FourCC("nef "), 0, 0},
    {FourCC("NRW "), "Nikon NRW Raw", FourCC("nrw "), 0, 0},
    {FourCC("ARW "), "Sony ARW Raw", FourCC("arw "), 0, 0},
    {FourCC("SR2 "), "Sony SR2 Raw", FourCC("sr2 "), 0, 0},
    {FourCC("SRF "), "Sony SRF Raw", FourCC("srf "), 0, 0},
    {FourCC("DNG "), "Digital Negative", FourCC("dng "), 0, 0},
    {FourCC("ORF "), "Olympus ORF Raw", FourCC("orf "), 0, 0},
    {FourCC("RAF "), "Fujifilm RAF Raw", FourCC("raf "), 0, 0},
    {FourCC("RW2 "), "Panasonic RW2 Raw", FourCC("rw2 "), 0, 0},
    {FourCC("RWL "), "Leica RWL Raw", FourCC("rwl "), 0, 0},
    {FourCC("PEF "), "Pentax PEF Raw", FourCC("pef "), 0, 0},
    {FourCC("SRW "), "Samsung SRW Raw", FourCC("srw "), 0, 0},
    {FourCC("MRW "), "Minolta MRW Raw", FourCC("mrw "), 0, 0},
    {FourCC("DCR "), "Kodak DCR Raw", FourCC("dcr "), 0, 0},
    {FourCC("KDC "), "Kodak KDC Raw", FourCC("kdc "), 0, 0},
    {FourCC("3FR "), "Hasselblad 3FR Raw", FourCC("3fr "), 0, 0},
    {FourCC("IIQ "), "Phase One IIQ Raw", FourCC("iiq "), 0, 0},
    {FourCC("ERF "), "Epson ERF Raw", FourCC("erf "), 0, 0},
    {FourCC("MEF "), "Mamiya MEF Raw", FourCC("mef "), 0, 0},
    {FourCC("MOS "), "Leaf MOS Raw", FourCC("mos "), 0, 0},
    {FourCC("X3F "), "Sigma X3F Raw", FourCC("x3f "), 0, LIBRAW_CAPS_X3FTOOLS},
}};

// One importer per raw format this LibRaw reads, under the format's code
// and under its file extension.
std::uint32_t Describe(void* context, NorvoComponentSink sink) {
  constexpr std::uint32_t kRawMaker = FourCC("lraw");
  const int version = libraw_versionNumber();
  const unsigned capabilities = libraw_capabilities();
  for (const RawFormat& f : kRawFormats) {
    if (version < f.min_version) continue;
    if ((capabilities & f.needed_capability) != f.needed_capability) continue;
    for (std::uint32_t code : {f.subtype, f.extension}) {
      const NorvoPluginComponent c{media::kStillImageImporterType, code, kRawMaker, 0, f.name};
      sink(context, &c);
    }
  }
  return 0;
}

std::int16_t Read(const std::uint8_t* bytes, std::size_t size, std::uint32_t, int box, void* decoded) {
  static const CameraRawFileReader reader;
  return reader.read(std::span(bytes, size), box, static_cast<DecodedImage*>(decoded));
}

const NorvoReaderPlugin kPlugin = {
    kNorvoReaderPluginAbi, kStillImageLayout, "raw", "LibRaw " LIBRAW_VERSION_STR, Describe, Read,
    nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,  // no encoder
};

}  // namespace
}  // namespace norvo::imaging

extern "C" __attribute__((visibility("default"))) const NorvoReaderPlugin* norvo_reader_plugin_v1() {
  return &norvo::imaging::kPlugin;
}
