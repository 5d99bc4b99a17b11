// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gallery_render.h"

#include <algorithm>
#include <cmath>

#include "imaging/image_reader.h"
#include "imaging/transform.h"
#include "media/item_scan.h"
#include "media/media_type_registry.h"
#include "metadata/iptc_records.h"
#include "metadata/jpeg_annotation_writer.h"

namespace norvo::output {
namespace {

using imaging::BoxScaling;

// The long side a picture of long x short needs so that scaling it into the
// box gives its full result; `enlarges` says whether that needs more than
// the media's own size.
long NeededLongSide(int width, int height, int box_width, int box_height, BoxScaling mode) {
  const double w = width, h = height;
  const double fit = std::min(box_width / w, box_height / h);
  const double fill = std::max(box_width / w, box_height / h);
  double scale = 1.0;
  switch (mode) {
    case BoxScaling::kNatural: scale = 1.0; break;
    case BoxScaling::kFit: scale = std::min(1.0, fit); break;
    case BoxScaling::kFill: scale = fill; break;
  }
  return static_cast<long>(std::ceil(scale * std::max(w, h))) + 1;
}

ErrorCode Encode(imaging::PixelBuffer& picture, const RenderOptions& options, RenderedPicture* out) {
  if (options.frame) imaging::DrawFrame(&picture);
  if (ErrorCode e = imaging::EncodeJpeg(picture, options.jpeg, &out->jpeg); e != err::kNone) {
    out->jpeg.clear();
    return e;
  }
  out->width = picture.width();
  out->height = picture.height();
  return err::kNone;
}

// The item's annotations as IPTC (and XMP) inside the media JPEG.
void EmbedIptc(const RenderJob& job, RenderedPicture* media) {
  if (job.annotations.empty() || media->jpeg.empty()) return;
  metadata::EmbeddedAnnotations annotations;
  annotations.block = job.annotations;
  annotations.label = job.label;
  annotations.iptc_fields = metadata::kIptcAnnotationFields;
  std::vector<std::uint8_t> with;
  // A picture the writer cannot annotate keeps its plain form.
  if (metadata::EmbedAnnotationsInJpeg(media->jpeg, annotations, &with) == err::kNone) media->jpeg.swap(with);
}

}  // namespace

int DecodeBox(int width, int height, const RenderOptions& options) {
  if (width <= 0 || height <= 0) return 0;
  const long own = std::max(width, height);
  long need = NeededLongSide(width, height, options.thumbnail_size, options.thumbnail_size, options.thumbnail_scaling);
  if (options.make_media) {
    if (options.media_scaling == BoxScaling::kNatural) return 0;
    need = std::max(need, NeededLongSide(width, height, options.box_width, options.box_height, options.media_scaling));
  }
  return need >= own ? 0 : static_cast<int>(need);
}

void RenderItem(const RenderJob& job, const RenderOptions& options, RenderResult* out) {
  *out = RenderResult{};
  if (job.path.empty()) {
    out->error = err::kFileNotFound;
    return;
  }
  // The upright size decides the box a non-square rendition needs.
  int width = job.width, height = job.height;
  const std::uint16_t r = job.rotation;
  if (r == imaging::kTranspose || r == imaging::kRotateClockwise || r == imaging::kTransverse ||
      r == imaging::kRotateCounterClockwise) {
    std::swap(width, height);
  }
  const int box = DecodeBox(width, height, options);

  imaging::PixelBuffer picture;
  if (media::GetMediaHandler(job.type_code) == media::MediaHandler::GraphicsImporter) {
    imaging::DecodedImage decoded;
    const std::uint32_t format = imaging::FindStillImageReader(job.type_code) != nullptr ? job.type_code : 0;
    if (ErrorCode e = imaging::ReadStillImage(job.path, format, box, &decoded); e != err::kNone) {
      out->error = e;
      return;
    }
    picture = std::move(decoded.picture);
    if (r != 0) {
      if (ErrorCode e = imaging::Rotate(&picture, r); e != err::kNone) {
        out->error = e;
        return;
      }
    }
  } else if (ErrorCode e = media::MakePreview(job.path, job.type_code, box, r, &picture); e != err::kNone) {
    out->error = e;
    return;
  }
  if (picture.empty()) {
    out->error = err::kNoReaderForType;
    return;
  }
  if (picture.hasAlpha()) imaging::FlattenOnWhite(&picture);

  imaging::PixelBuffer thumbnail;
  ErrorCode e = imaging::ScaleIntoBox(picture, options.thumbnail_size, options.thumbnail_size,
                                      options.thumbnail_scaling, &thumbnail);
  if (e == err::kNone) e = Encode(thumbnail, options, &out->thumbnail);
  if (e != err::kNone) out->error = e;
  if (!options.make_media) return;

  imaging::PixelBuffer media;
  e = imaging::ScaleIntoBox(picture, options.box_width, options.box_height, options.media_scaling, &media);
  if (e == err::kNone) {
    picture = imaging::PixelBuffer();  // the decode is no longer needed
    if (options.watermark != nullptr && !options.watermark->empty()) {
      imaging::CompositeWatermark(&media, *options.watermark, options.watermark_position);
    }
    e = Encode(media, options, &out->media);
  }
  if (e != err::kNone) {
    out->error = e;
    return;
  }
  if (options.embed_iptc) EmbedIptc(job, &out->media);
}

}  // namespace norvo::output
