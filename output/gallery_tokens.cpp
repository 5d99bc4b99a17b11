// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gallery_tokens.h"

#include <array>
#include <string>
#include <unordered_map>

#include "metadata/field_table.h"
#include "output/gallery_text.h"

namespace norvo::output {
namespace {

using namespace tokens;
namespace ids = metadata::field_ids;

constexpr std::uint32_t Iptc(std::uint32_t dataset) { return ids::kAnnotationBase + dataset; }
constexpr std::uint32_t Exif(std::uint32_t tag) { return ids::kExifBase + tag; }

constexpr std::array<GalleryToken, kGalleryTokenCount> kTokens = {{
    // Page tokens.
    {false, kCatalog, "Catalog"},
    {false, kCatalogComment, "CatalogComment"},
    {false, kGoIndex, "GoIndex"},
    {false, kGoPrevious, "GoPrevious"},
    {false, kGoNext, "GoNext"},
    {false, kIndex, "Index"},
    {false, kMedia, "Media"},
    {false, kPreloadNext, "PreloadNext"},
    {false, kPreloadPrevious, "PreloadPrevious"},
    {false, kRunning, "Running"},
    {false, kTotal, "Total"},
    {false, kDate, "Date"},
    {false, kTime, "Time"},
    {false, kWordIndex, "WordIndex"},
    {false, kWordNext, "WordNext"},
    {false, kWordPrevious, "WordPrevious"},
    {false, kHtmlCharset, "HTMLCharset"},
    // Item tokens that write markup.
    {true, kPreview, "Preview"},
    {true, kPreviewScale, "PreviewScale"},
    {true, kPreviewSize, "PreviewSize"},
    {true, kPreviewWidth, "PreviewWidth"},
    {true, kPreviewHeight, "PreviewHeight"},
    {true, kPreviewNext, "PreviewNext"},
    {true, kPreviewPrevious, "PreviewPrevious"},
    {true, kFields, "Fields"},
    {true, kIptcFields, "IPTCFields"},
    {true, kExifFields, "EXIFFields"},
    // File fields (field numbers).
    {true, ids::kFileName, "Filename"},
    {true, ids::kFileSize, "FileSize"},
    {true, ids::kWidth, "Width"},
    {true, ids::kHeight, "Height"},
    {true, ids::kDimensions, "Dimensions"},
    {true, 0x10, "Duration"},
    {true, 0xb, "Created"},
    {true, 0xc, "Modified"},
    {true, 0xa, "Added"},
    {true, 0x21, "Annotated"},
    {true, ids::kMediaType, "MediaType"},
    {true, ids::kOrientation, "Orientation"},
    // IPTC fields: 0x200 + the record-2 dataset.
    {true, Iptc(120), "Caption"},
    {true, Iptc(122), "Writer"},
    {true, Iptc(55), "EventDate"},
    {true, Iptc(105), "Headline"},
    {true, Iptc(40), "Instructions"},
    {true, Iptc(25), "Keywords"},
    {true, Iptc(20), "Categories"},
    {true, Iptc(15), "Classification"},
    {true, Iptc(80), "Author"},
    {true, Iptc(85), "AuthorTitle"},
    {true, Iptc(110), "Credit"},
    {true, Iptc(115), "Source"},
    {true, Iptc(5), "Product"},
    {true, Iptc(90), "City"},
    {true, Iptc(95), "State"},
    {true, Iptc(101), "Country"},
    {true, Iptc(103), "Transmission"},
    {true, Iptc(116), "Copyright"},
    {true, Iptc(10), "Label"},
    {true, Iptc(22), "Event"},
    {true, Iptc(92), "Location"},
    {true, Iptc(118), "People"},
    {true, Iptc(7), "Status"},
    {true, ids::kUrl, "URL"},
    // Custom fields.
    {true, 0x301, "Field_1"},
    {true, 0x302, "Field_2"},
    {true, 0x303, "Field_3"},
    {true, 0x304, "Field_4"},
    {true, 0x305, "Field_5"},
    {true, 0x306, "Field_6"},
    {true, 0x307, "Field_7"},
    {true, 0x308, "Field_8"},
    {true, 0x309, "Field_9"},
    {true, 0x30a, "Field_10"},
    {true, 0x30b, "Field_11"},
    {true, 0x30c, "Field_12"},
    {true, 0x30d, "Field_13"},
    {true, 0x30e, "Field_14"},
    {true, 0x30f, "Field_15"},
    {true, 0x310, "Field_16"},
    // Camera fields (metadata texts).
    {true, ids::kMaker, "Maker"},
    {true, ids::kModel, "Model"},
    {true, ids::kSoftware, "Software"},
    {true, ids::kFormat, "Format"},
    // EXIF fields: "ex" + the tag.
    {true, Exif(0x9000), "ExifVersion"},
    {true, Exif(0xA000), "FlashPixVersion"},
    {true, Exif(0x9003), "CaptureDate"},
    {true, Exif(0x829D), "Aperture"},
    {true, Exif(0x829A), "ShutterSpeed"},
    {true, Exif(0x9204), "ExposureBias"},
    {true, Exif(0x8822), "ExposureProgram"},
    {true, Exif(0x920A), "FocalLength"},
    {true, Exif(0x9206), "FocusDistance"},
    {true, Exif(0xA217), "Sensing"},
    {true, Exif(0x9208), "LightSource"},
    {true, Exif(0x9209), "Flash"},
    {true, Exif(0x9207), "MeteringMode"},
    {true, Exif(0x8827), "ISOSpeed"},
    {true, Exif(0x9102), "Ratio"},
    {true, Exif(0xB002), "Lens"},
    // GPS fields.
    {true, ids::kLatitude, "Latitude"},
    {true, ids::kLongitude, "Longitude"},
    {true, ids::kAltitude, "Altitude"},
    // Files and colours. The colours are page tokens: templates use them
    // in the page's head and body tag, before the repeating part.
    {true, kPreviewFile, "PreviewFile"},
    {true, kSourceFile, "SourceFile"},
    {true, kMediaFile, "MediaFile"},
    {true, kOriginalFile, "OriginalFile"},
    {true, kPreviewUrl, "PreviewURL"},
    {true, kSourceUrl, "SourceURL"},
    {true, kMediaUrl, "MediaURL"},
    {true, kOriginalUrl, "OriginalURL"},
    {true, kOriginalSize, "OriginalSize"},
    {true, kOriginalWidth, "OriginalWidth"},
    {true, kOriginalHeight, "OriginalHeight"},
    {false, kBackgroundColor, "BackgroundColor"},
    {false, kLinkColor, "LinkColor"},
    {false, kTextColor, "TextColor"},
    {false, kTextBackColor, "TextBackColor"},
}};

}  // namespace

std::span<const GalleryToken> GalleryTokens() { return kTokens; }

const GalleryToken* FindGalleryToken(std::string_view name) {
  static const std::unordered_map<std::string, const GalleryToken*> by_name = [] {
    std::unordered_map<std::string, const GalleryToken*> m;
    // Searched in table order: the first of two equal folded names wins.
    for (const GalleryToken& t : kTokens) m.emplace(FoldTokenName(t.name), &t);
    return m;
  }();
  auto it = by_name.find(FoldTokenName(name));
  return it == by_name.end() ? nullptr : it->second;
}

bool IsFieldToken(const GalleryToken& token) {
  // Every item token whose code is not one of the 'N' codes is a field id.
  return token.per_item && (token.code >> 24) != 'N';
}

}  // namespace norvo::output
