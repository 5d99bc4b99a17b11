// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gallery_settings.h"

#include <algorithm>

#include "platform/byte_io.h"
#include "platform/record_fields.h"

namespace norvo::output {
namespace {

constexpr std::int16_t kMinThumbnail = 16, kMaxThumbnail = 512, kDefaultThumbnail = 96;
constexpr std::int16_t kMinBox = 16, kMaxBox = 16000;
constexpr std::int32_t kDefaultTable = 4;
constexpr std::int32_t kDefaultTargetKb = 100;

// Reads each field at its offset.
struct FieldReader : RecordFieldReader<Endian::kLittle> {
  void colour(std::size_t o, RgbColour& c) {
    at(o);
    c.red = get16();
    c.green = get16();
    c.blue = get16();
  }
};

// Writes the fields one after the other; the table is in offset order and
// leaves no gap, which `at` checks as it goes.
struct FieldWriter : RecordFieldWriter<Endian::kLittle> {
  void colour(std::size_t o, const RgbColour& c) {
    at(o);
    put16(c.red);
    put16(c.green);
    put16(c.blue);
  }
};

}  // namespace

std::string GallerySettings::templateName() const {
  std::size_t n = std::min<std::size_t>(template_name[0], kTemplateNameWidth - 1);
  return std::string(reinterpret_cast<const char*>(template_name.data() + 1), n);
}

void GallerySettings::setTemplateName(std::string_view name) {
  template_name.fill(0);
  std::size_t n = std::min(name.size(), kTemplateNameWidth - 1);
  template_name[0] = static_cast<std::uint8_t>(n);
  std::copy_n(name.begin(), n, template_name.begin() + 1);
}

std::string_view GallerySettings::extension() const {
  switch (extension_code) {
    case 2: return "html";
    case 3: return "shtml";
    case 4: return "php";
    case 5: return "asp";
    case 6: return "xml";
    default: return "htm";
  }
}

void ValidateGallerySettings(GallerySettings* s) {
  if (s->columns < 1) s->columns = kDefaultTable;
  if (s->rows < 1) s->rows = kDefaultTable;
  if (s->thumbnail_size < kMinThumbnail || s->thumbnail_size > kMaxThumbnail) s->thumbnail_size = kDefaultThumbnail;
  if (s->media_box_width < kMinBox || s->media_box_width > kMaxBox) s->media_box_width = 640;
  if (s->media_box_height < kMinBox || s->media_box_height > kMaxBox) s->media_box_height = 480;
  if (s->thumbnail_scaling != 2 && s->thumbnail_scaling != 3) s->thumbnail_scaling = 2;
  if (s->media_scaling < 1 || s->media_scaling > 3) s->media_scaling = 2;
  if (s->target_jpeg_kb < 1) s->target_jpeg_kb = kDefaultTargetKb;
}

ErrorCode ParseGallerySettings(std::span<const std::uint8_t> bytes, GallerySettings* out) {
  *out = GallerySettings{};
  if (bytes.size() < 4) return bytes.empty() ? err::kNone : err::kParam;
  ByteReader version(bytes);
  if (version.u32le() != kGallerySettingsVersion) return err::kNone;  // another version: the defaults
  if (bytes.size() != kGallerySettingsSize) return err::kParam;
  ByteReader r(bytes);
  GallerySettings s;
  FieldReader reader{{r}};
  VisitGallerySettings(s, reader);
  if (!r.ok()) return err::kParam;
  ValidateGallerySettings(&s);
  *out = s;
  return err::kNone;
}

std::vector<std::uint8_t> SerializeGallerySettings(const GallerySettings& settings) {
  ByteWriter w(kGallerySettingsSize);
  FieldWriter writer{{w}};
  VisitGallerySettings(settings, writer);
  std::vector<std::uint8_t> bytes = w.take();
  if (!writer.ok) bytes.clear();  // the table itself is wrong: the tests catch it
  bytes.resize(kGallerySettingsSize, 0);
  return bytes;
}

void ApplyLayoutCodes(GallerySettings* settings, int thumbnail_code, int media_code) {
  thumbnail_code = std::clamp(thumbnail_code, 1, 4);
  settings->thumbnail_size_code = static_cast<std::uint8_t>(thumbnail_code);
  settings->thumbnail_size = static_cast<std::int16_t>(32 * (thumbnail_code + 1));
  settings->media_size_code = static_cast<std::uint8_t>(std::max(media_code, 1));
  switch (media_code) {
    case 1: settings->media_box_width = 320, settings->media_box_height = 240; break;
    case 2: settings->media_box_width = 480, settings->media_box_height = 360; break;
    case 3: settings->media_box_width = 640, settings->media_box_height = 480; break;
    default: settings->media_box_width = 800, settings->media_box_height = 600; break;
  }
  settings->numbered_page_names = 0;
}

}  // namespace norvo::output
