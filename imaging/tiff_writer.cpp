// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF writer (libtiff): 8-bit RGB (with unassociated alpha when the
// picture has it), LZW with horizontal differencing, resolution in inches,
// the ICC profile tag and the camera's EXIF. The file is built in memory.
//
// EXIF travels as TIFF structures of its own. The EXIF block is itself a
// TIFF structure whose offsets count from its header, maker notes' private
// offsets included, so it becomes the start of the new file unchanged:
// libtiff's file follows it, its IFD0 and strip offsets moved by where it
// landed, and a new IFD0 at the end joins libtiff's entries with the EXIF
// and GPS pointers and the camera's IFD0 texts (Make, Model, DateTime ...).
// The file is written in the EXIF block's byte order so nothing needs
// swapping.
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <map>
#include <memory>

#include "imaging/format_writers.h"
#include "platform/byte_io.h"

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

constexpr std::uint16_t kTagExifIfd = 0x8769;
constexpr std::uint16_t kTagGpsIfd = 0x8825;
constexpr std::size_t kMaxEntries = 1000;
// IFD0 entries of the camera's EXIF that describe the shot, not the pixels.
constexpr std::uint16_t kCarriedIfd0Tags[] = {0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x8298};

std::size_t TypeSize(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// A TIFF structure in one byte order, read and patched in place.
class Ifds {
 public:
  Ifds(std::vector<std::uint8_t>& bytes, Endian order) : bytes_(bytes), order_(order) {}
  std::uint16_t u16(std::size_t at) const {
    OrderedByteReader r(bytes_, order_);
    r.seek(at);
    const std::uint16_t v = r.u16();
    return r.ok() ? v : 0;
  }
  std::uint32_t u32(std::size_t at) const {
    OrderedByteReader r(bytes_, order_);
    r.seek(at);
    const std::uint32_t v = r.u32();
    return r.ok() ? v : 0;
  }
  void put32(std::size_t at, std::uint32_t v) {
    FixedBytes w(bytes_);
    order_ == Endian::kLittle ? w.setU32le(at, v) : w.setU32be(at, v);
    ok_ = ok_ && w.ok();
  }
  bool ok() const { return ok_; }
  // Entries of the IFD at `ifd` whose 12 bytes lie inside; 0 when it does not.
  std::size_t entries(std::size_t ifd) const {
    if (ifd >= bytes_.size() || bytes_.size() - ifd < 2) return 0;
    const std::size_t n = u16(ifd);
    if (n > kMaxEntries || (bytes_.size() - ifd - 2) / 12 < n) return 0;
    return n;
  }
  // The entry of `tag` in the IFD at `ifd`, as its 12 bytes.
  std::array<std::uint8_t, 12> raw(std::size_t entry) const {
    std::array<std::uint8_t, 12> bytes{};
    if (entry <= bytes_.size() && bytes_.size() - entry >= 12) {
      std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(entry), 12, bytes.begin());
    }
    return bytes;
  }

 private:
  std::vector<std::uint8_t>& bytes_;
  Endian order_;
  bool ok_ = true;
};

constexpr std::uint16_t kTagStripOffsets = 0x0111;
constexpr std::uint16_t kTypeLong = 4;

// Puts the EXIF block `exif` in front of the finished TIFF in `tiff` (same
// byte order). False, with `tiff` unchanged, when either structure cannot be
// followed or the file would outgrow 4 GB.
bool AttachExif(std::vector<std::uint8_t>& tiff, std::span<const std::uint8_t> exif, Endian order) {
  std::vector<std::uint8_t> joined(exif.begin(), exif.end());
  if (joined.size() % 2 != 0) joined.push_back(0);
  const std::size_t delta = joined.size();
  if (tiff.size() > std::numeric_limits<std::uint32_t>::max() - delta - 12 * kMaxEntries) return false;
  joined.insert(joined.end(), tiff.begin(), tiff.end());
  Ifds file(joined, order);
  const std::uint32_t exif_ifd0 = file.u32(4);
  const std::size_t exif_entries = file.entries(exif_ifd0);
  const std::size_t ifd0 = delta + file.u32(delta + 4);
  const std::size_t n = file.entries(ifd0);
  if (exif_entries == 0 || n == 0) return false;
  const auto moved = static_cast<std::uint32_t>(delta);

  // libtiff's IFD0, moved: values kept outside their entries, and the strip
  // offsets themselves, count from its own header.
  std::map<std::uint16_t, std::array<std::uint8_t, 12>> entries;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t entry = ifd0 + 2 + i * 12;
    const std::uint16_t tag = file.u16(entry);
    const std::uint16_t type = file.u16(entry + 2);
    const std::size_t size = TypeSize(type);
    const std::uint32_t count = file.u32(entry + 4);
    const std::uint32_t value = file.u32(entry + 8);
    const bool outside = size != 0 && count > 4 / size;
    if (tag == kTagStripOffsets) {
      if (type != kTypeLong) return false;
      if (!outside) {
        file.put32(entry + 8, value + moved);
      } else {
        for (std::uint32_t k = 0; k < count && file.ok(); ++k) {
          const std::size_t at = delta + value + std::size_t{k} * 4;
          file.put32(at, file.u32(at) + moved);
        }
      }
    }
    if (outside) file.put32(entry + 8, value + moved);
    entries[tag] = file.raw(entry);
  }
  // The camera's pointers and texts, whose offsets already count from the
  // file's start; libtiff's entry wins a tie.
  for (std::size_t i = 0; i < exif_entries; ++i) {
    const std::size_t entry = exif_ifd0 + 2 + i * 12;
    const std::uint16_t tag = file.u16(entry);
    const bool carried = tag == kTagExifIfd || tag == kTagGpsIfd ||
                         std::find(std::begin(kCarriedIfd0Tags), std::end(kCarriedIfd0Tags), tag) !=
                             std::end(kCarriedIfd0Tags);
    if (carried && entries.count(tag) == 0) entries[tag] = file.raw(entry);
  }
  const std::uint32_t next = file.u32(ifd0 + 2 + n * 12);
  if (!file.ok()) return false;
  const auto new_ifd0 = static_cast<std::uint32_t>(joined.size());
  ByteWriter w;
  const auto put16 = [&](std::uint16_t v) { order == Endian::kLittle ? w.u16le(v) : w.u16be(v); };
  const auto put32 = [&](std::uint32_t v) { order == Endian::kLittle ? w.u32le(v) : w.u32be(v); };
  put16(static_cast<std::uint16_t>(entries.size()));
  for (const auto& [tag, raw] : entries) w.bytes(raw);
  put32(next == 0 ? 0 : next + moved);
  const std::vector<std::uint8_t> directory = w.take();
  joined.insert(joined.end(), directory.begin(), directory.end());
  // The camera's own IFD0 and its preview IFD are no longer reached.
  file.put32(4, new_ifd0);
  if (!file.ok()) return false;
  tiff = std::move(joined);
  return true;
}

}  // namespace

ErrorCode WriteTiff(const PixelBuffer& picture, const ImageWriteOptions& options, std::vector<std::uint8_t>* out,
                    std::uint32_t* dropped) {
  out->clear();
  MemoryFile file{out};
  std::unique_ptr<TIFFOpenOptions, OptionsFree> open_options(TIFFOpenOptionsAlloc());
  if (!open_options) return err::kOutOfMemory;
  TIFFOpenOptionsSetErrorHandlerExtR(open_options.get(), OnError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(open_options.get(), OnWarning, &file);
  // Written in the EXIF's byte order ("b" big-endian, "l" little-endian).
  const Endian order = !options.exif.empty() && options.exif[0] == 'M' ? Endian::kBig : Endian::kLittle;
  TIFF* t = TIFFClientOpenExt("image", order == Endian::kBig ? "wmb" : "wml", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
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
  if (!options.exif.empty() && !AttachExif(*out, options.exif, order)) *dropped |= kHoldsExif;
  return err::kNone;
}

}  // namespace norvo::imaging::writers
