// SPDX-License-Identifier: GPL-3.0-or-later
// GIF files through giflib: the first frame drawn on the logical screen, with
// its transparent colour (from the graphic control block before it) left
// transparent. Later frames are never read.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <gif_lib.h>

#include "imaging/readers.h"

namespace norvo::imaging {
namespace {

constexpr int kGraphicControlBlock = 0xF9;
constexpr int kNoTransparency = -1;

struct MemoryInput {
  std::span<const std::uint8_t> bytes;
  std::size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
  auto* input = static_cast<MemoryInput*>(gif->UserData);
  if (count <= 0) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), input->bytes.size() - input->position);
  std::memcpy(out, input->bytes.data() + input->position, n);
  input->position += n;
  return static_cast<int>(n);
}

struct GifClose {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

// Draws the frame whose descriptor was just read.
ErrorCode DrawFrame(GifFileType* gif, int transparent, PixelBuffer* picture) {
  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (map == nullptr || map->Colors == nullptr || frame.Width <= 0 || frame.Height <= 0 ||
      frame.Width > kMaxSide || frame.Height > kMaxSide) {
    return kBadImageData;
  }
  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
  // Interlaced frames come in four passes over the rows.
  static constexpr int kPassStart[] = {0, 4, 2, 1};
  static constexpr int kPassStep[] = {8, 8, 4, 2};
  const int passes = frame.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = frame.Interlace ? kPassStart[pass] : 0;
    const int step = frame.Interlace ? kPassStep[pass] : 1;
    for (int row = start; row < frame.Height; row += step) {
      if (DGifGetLine(gif, line.data(), frame.Width) != GIF_OK) return kBadImageData;
      const int y = frame.Top + row;
      if (y < 0 || y >= picture->height()) continue;
      for (int x = 0; x < frame.Width; ++x) {
        const int px = frame.Left + x;
        const int index = line[static_cast<std::size_t>(x)];
        if (px < 0 || px >= picture->width() || index == transparent || index >= map->ColorCount) continue;
        const GifColorType& c = map->Colors[index];
        picture->setPixel(px, y, Argb(255, c.Red, c.Green, c.Blue));
      }
    }
  }
  return err::kNone;
}

class GifFileReader final : public StillImageReader {
 public:
  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    (void)box;
    MemoryInput input{bytes};
    int error = 0;
    std::unique_ptr<GifFileType, GifClose> gif(DGifOpen(&input, ReadFromMemory, &error));
    if (!gif) return kBadImageData;
    ImageFacts& facts = out->facts;
    facts.width = gif->SWidth;
    facts.height = gif->SHeight;
    facts.depth = gif->SColorMap != nullptr ? gif->SColorMap->BitsPerPixel : 8;
    facts.colour_space = kColourRgb;
    facts.compressor = "GIF";
    if (gif->SWidth <= 0 || gif->SHeight <= 0 || gif->SWidth > kMaxSide || gif->SHeight > kMaxSide ||
        !PlausiblePictureSize(static_cast<std::uint64_t>(gif->SWidth), static_cast<std::uint64_t>(gif->SHeight),
                              bytes.size())) {
      return kBadImageData;
    }
    int transparent = kNoTransparency;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    do {
      if (DGifGetRecordType(gif.get(), &record) != GIF_OK) return kBadImageData;
      if (record == IMAGE_DESC_RECORD_TYPE) {
        if (DGifGetImageDesc(gif.get()) != GIF_OK) return kBadImageData;
        PixelBuffer& picture = out->picture;
        ErrorCode e = picture.allocate(gif->SWidth, gif->SHeight);
        if (e != err::kNone) return e;
        picture.fill(Argb(0, 255, 255, 255));
        picture.setHasAlpha(true);
        e = DrawFrame(gif.get(), transparent, &picture);
        if (e != err::kNone) out->picture = PixelBuffer();
        return e;
      }
      if (record == EXTENSION_RECORD_TYPE) {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) return kBadImageData;
        if (code == kGraphicControlBlock && block != nullptr && block[0] >= 4) {
          transparent = (block[1] & 1) ? block[4] : kNoTransparency;
        }
        while (block != nullptr) {
          if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) return kBadImageData;
        }
      }
    } while (record != TERMINATE_RECORD_TYPE);
    return kBadImageData;  // no frame at all
  }
};

}  // namespace

const StillImageReader& GifReader() {
  static const GifFileReader reader;
  return reader;
}

}  // namespace norvo::imaging
