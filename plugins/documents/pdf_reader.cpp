// SPDX-License-Identifier: GPL-3.0-or-later
// The document plug-in: the page count and a picture of the first page of a
// PDF file, through Poppler. The program has checked that the file is there
// and readable.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <poppler-version.h>

#include "imaging/image_reader.h"
#include "platform/reader_plugin.h"
#include "media/document_reader.h"
#include "media/reader_plugin_layouts.h"

namespace norvo::media {
namespace {

constexpr int kPageResolution = 72;

void QuietPoppler() {
  static std::once_flag once;
  std::call_once(once, [] { poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr); });
}

// Copies Poppler's 32-bit pixels (0xAARRGGBB in host order) as A, R, G, B.
ErrorCode CopyPage(const poppler::image& page, imaging::PixelBuffer* out) {
  if (!page.is_valid() || page.format() != poppler::image::format_argb32) return err::kNoDocumentPicture;
  ErrorCode e = out->allocate(page.width(), page.height());
  if (e != err::kNone) return e;
  const char* data = page.const_data();
  for (int y = 0; y < page.height(); ++y) {
    const char* in = data + static_cast<std::ptrdiff_t>(y) * page.bytes_per_row();
    std::uint8_t* o = out->row(y);
    for (int x = 0; x < page.width(); ++x, in += 4, o += 4) {
      std::uint32_t v = 0;
      std::memcpy(&v, in, sizeof v);
      o[0] = static_cast<std::uint8_t>(v >> 24);
      o[1] = static_cast<std::uint8_t>(v >> 16);
      o[2] = static_cast<std::uint8_t>(v >> 8);
      o[3] = static_cast<std::uint8_t>(v);
    }
  }
  return err::kNone;
}

ErrorCode ReadPdf(const std::string& path, int box, DocumentFacts* facts, imaging::PixelBuffer* picture) {
  *facts = DocumentFacts();
  if (picture) *picture = imaging::PixelBuffer();
  QuietPoppler();
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
  if (!doc || doc->is_locked() || doc->pages() <= 0) return err::kNoDocumentPicture;
  facts->pages = doc->pages();
  facts->colour_space = imaging::kColourRgb;
  std::unique_ptr<poppler::page> page(doc->create_page(0));
  if (!page) return err::kNoDocumentPicture;
  const poppler::rectf rect = page->page_rect(poppler::crop_box);
  double width_pt = std::abs(rect.width());
  double height_pt = std::abs(rect.height());
  const poppler::page::orientation_enum turn = page->orientation();
  if (turn == poppler::page::landscape || turn == poppler::page::seascape) std::swap(width_pt, height_pt);
  if (!(width_pt >= 1.0) || !(height_pt >= 1.0) || width_pt > 1e6 || height_pt > 1e6) return err::kNoDocumentPicture;
  facts->width = static_cast<std::int32_t>(std::ceil(width_pt));
  facts->height = static_cast<std::int32_t>(std::ceil(height_pt));
  facts->resolution = kPageResolution;
  if (!picture) return err::kNone;

  // Pixels per point: the page fills the box, or is drawn at 72 dpi, in
  // both cases within the pixel limits.
  double scale = box > 0 ? box / std::max(width_pt, height_pt) : 1.0;
  const double limit = std::min({std::sqrt(static_cast<double>(imaging::kMaxPixels) / (width_pt * height_pt)),
                                 imaging::kMaxSide / width_pt, imaging::kMaxSide / height_pt});
  scale = std::min(scale, limit);
  const int width = std::clamp(static_cast<int>(std::lround(width_pt * scale)), 1, box > 0 ? box : imaging::kMaxSide);
  const int height = std::clamp(static_cast<int>(std::lround(height_pt * scale)), 1, box > 0 ? box : imaging::kMaxSide);
  poppler::page_renderer renderer;
  if (!poppler::page_renderer::can_render()) return err::kNoDocumentPicture;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  renderer.set_image_format(poppler::image::format_argb32);
  const double dpi = kPageResolution * scale;
  poppler::image rendered = renderer.render_page(page.get(), dpi, dpi, 0, 0, width, height);
  ErrorCode e = CopyPage(rendered, picture);
  if (e != err::kNone) *picture = imaging::PixelBuffer();
  return e;
}

std::uint32_t Describe(void*, NorvoComponentSink) {
  return poppler::version_string().empty() ? 0 : kNorvoFeaturePdfDocuments;
}

std::int16_t Read(const char* path, int box, void* facts, void* picture) {
  return ReadPdf(path, box, static_cast<DocumentFacts*>(facts), static_cast<imaging::PixelBuffer*>(picture));
}

const NorvoReaderPlugin kPlugin = {
    kNorvoReaderPluginAbi, kDocumentLayout, "documents", "Poppler " POPPLER_VERSION, Describe, nullptr, nullptr,
    nullptr, Read, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,  // no encoder
};

}  // namespace
}  // namespace norvo::media

extern "C" __attribute__((visibility("default"))) const NorvoReaderPlugin* norvo_reader_plugin_v1() {
  return &norvo::media::kPlugin;
}
