// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/type_recognition.h"

#include <array>
#include <string>

#include "media/media_type_registry.h"
#include "platform/byte_io.h"
#include "platform/file.h"

namespace norvo::media {
namespace {

constexpr std::size_t kMaxExtensionLength = 4;

struct Alias {
  std::uint32_t from;
  std::uint32_t to;
};

constexpr std::array<Alias, 13> kAliases = {{
    {FourCC("FAX "), FourCC("TIFF")},
    {FourCC("DCBa"), FourCC("TIFF")},
    {FourCC("CRI "), FourCC("TIFF")},
    {FourCC("TIF "), FourCC("TIFF")},
    {FourCC("DCOM"), FourCC("DICM")},
    {FourCC("DCM "), FourCC("DICM")},
    {FourCC("DIC "), FourCC("DICM")},
    {FourCC("EXIF"), FourCC("JPEG")},
    {FourCC("JPE "), FourCC("JPEG")},
    {FourCC("JPG "), FourCC("JPEG")},
    {FourCC("Expn"), FourCC("PICT")},
    {FourCC("GIF "), FourCC("GIFf")},
    {FourCC("MOV "), FourCC("MooV")},
}};

// Codes whose files may hold something else than their name says.
constexpr std::array<std::uint32_t, 3> kSniffedCodes = {FourCC("AI  "), FourCC("TEXT"), FourCC("TXT ")};

struct Marker {
  std::string_view text;
  std::uint32_t code;
  MediaClass media_class;
};

// Looked for in this order; see Sniff().
constexpr std::array<Marker, 5> kMarkers = {{
    {"<HTML>", FourCC("HTML"), MediaClass::HTML},
    {"<html>", FourCC("HTML"), MediaClass::HTML},
    {"%!PS-", FourCC("EPSF"), MediaClass::Illustration},
    {"%PDF-", FourCC("PDF "), MediaClass::DTP},
    {"{QTtext}", FourCC("MooV"), MediaClass::Video},
}};

// Reads the start of the file and looks for the markers in the text up to the
// first zero byte. After each hit the text is cut at the hit, so a later
// marker counts only in front of it: the marker that occurs first wins.
std::uint32_t Sniff(std::uint32_t code, const FileSpec& file, MediaClass* media_class) {
  std::array<char, kSniffLength> buffer{};
  std::int64_t count = static_cast<std::int64_t>(buffer.size());
  File f;
  if (f.open(file, Permission::kRead) != err::kNone) return code;
  // A short file reads what it has (err::kEndOfFile); `count` says how much.
  (void)f.read(&count, buffer.data());
  f.close();
  if (count < static_cast<std::int64_t>(kMinSniffLength)) return code;

  std::string_view text(buffer.data(), static_cast<std::size_t>(count));
  text = text.substr(0, text.find('\0'));
  for (const Marker& m : kMarkers) {
    std::size_t hit = text.find(m.text);
    if (hit == std::string_view::npos) continue;
    code = m.code;
    if (media_class) *media_class = m.media_class;
    text = text.substr(0, hit);
  }
  return code;
}

// "Icon" and a carriage return: the file that holds a folder's custom icon.
constexpr std::string_view kFolderIconName = "Icon\r";
constexpr std::string_view kFontSuitcaseExtension = ".dfont";

}  // namespace

std::uint32_t TypeCodeFromName(std::string_view name) {
  if (name.empty() || name.back() == '.') return 0;
  std::size_t length = 0;
  for (std::size_t n = 1; n <= kMaxExtensionLength; ++n) {
    if (name.size() >= n + 1 && name[name.size() - n - 1] == '.') {
      length = n;
      break;
    }
  }
  if (length == 0) return 0;
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < kMaxExtensionLength; ++i) {
    std::uint8_t c = i < length ? static_cast<std::uint8_t>(name[name.size() - length + i]) : ' ';
    code = (code << 8) | c;
  }
  return FourCCUpperCase(code);
}

std::uint32_t NormalizeMediaType(std::uint32_t code, const FileSpec& file, MediaClass* media_class) {
  for (const Alias& a : kAliases) {
    if (a.from == code) return a.to;
  }
  for (std::uint32_t sniffed : kSniffedCodes) {
    if (sniffed == code) return Sniff(code, file, media_class);
  }
  return code;
}

std::uint32_t RecognizeMediaFile(const FileSpec& file, ClassMask class_mask, MediaClass* recognised_class) {
  std::string_view name = file.name;
  if (name == kFolderIconName) return 0;
  std::uint32_t code = 0;
  if (name.size() > kFontSuitcaseExtension.size() && name.ends_with(kFontSuitcaseExtension)) {
    code = FourCC("DFNT");
  } else {
    code = TypeCodeFromName(name);
    if (code == FourCC("MSK ")) return 0;  // never catalogued
  }
  if (code == 0) return 0;

  // Registered codes may be in lower or mixed case ('jpg ', 'MooV'); the
  // extension code is upper case. The first row that matches counts.
  const MediaTypeRow* match = nullptr;
  for (const MediaTypeRow& row : GetMediaTypeRows()) {
    if (FourCCUpperCase(row.code) == code) {
      match = &row;
      break;
    }
  }
  if (match == nullptr) return 0;

  MediaClass media_class = match->media_class;
  const std::uint32_t extension_code = code;
  code = NormalizeMediaType(code, file, &media_class);
  if (!ClassMaskAccepts(class_mask, media_class)) return 0;
  if (recognised_class) *recognised_class = media_class;
  // The registry's own spelling of the code, so that every later query of
  // the registry (handler, class, kind, capabilities) finds its row exactly:
  // the row that matched the extension, or the row of the code it folds to.
  if (code == extension_code) return match->code;
  if (const MediaTypeRow* row = FindMediaTypeRow(code)) return row->code;
  return code;
}

}  // namespace norvo::media
