// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the metadata tests: UTF-8 values in blocks, the test
// photos, their metadata as our reader finds it, their segments, and
// exiftool as the outside reader to compare with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/annotation_block.h"
#include "metadata/image_file_reader.h"
#include "platform/file_spec.h"

namespace norvo::metadata::testing {

// Stores a UTF-8 text as the annotation editor does: Windows-1252 when
// nothing is lost, else raw UTF-8.
inline void SetUtf8(FieldId id, int index, std::string_view utf8, AnnotationBlock& block, SetMode mode) {
  BlockText t = BlockTextFromUtf8(utf8);
  SetAnnotationText(id, index, t.bytes, block, mode, t.marker);
}

// Every value of a field, as UTF-8, or as the block stores it.
inline std::vector<std::string> Utf8Values(FieldId id, std::span<const std::uint8_t> block) {
  std::vector<std::string> out;
  for (const AnnotationValue& v : GetAnnotations(id, block)) out.push_back(v.utf8());
  return out;
}
inline std::vector<std::string> Texts(FieldId id, std::span<const std::uint8_t> block) {
  std::vector<std::string> out;
  for (const AnnotationValue& v : GetAnnotations(id, block)) out.push_back(v.text());
  return out;
}

// List values joined by "|", as exiftool prints them.
inline std::string Joined(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values) out += (out.empty() ? "" : "|") + v;
  return out;
}

inline std::string PhotoPath(const std::string& name) { return std::string(NORVO_TESTDATA_DIR) + "/photos/" + name; }

// A file's metadata as the catalog reads it; `want` is the reader's result.
inline ImageMetadata ReadImageFile(const std::string& path, bool want_thumbnail = false, ErrorCode want = err::kNone) {
  FileSpec spec;
  ImageMetadata m;
  EXPECT_EQ(MakeFileSpec(path, spec), err::kNone) << path;
  EXPECT_EQ(ReadImageMetadata(spec, want_thumbnail, &m), want) << path;
  return m;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The data of the first segment with `marker` whose data starts with `prefix`
// (the prefix removed), walking the markers before the start of scan.
inline std::vector<std::uint8_t> JpegSegment(const std::vector<std::uint8_t>& jpeg, std::uint8_t marker,
                                             std::string_view prefix) {
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    if (length < 2 || at + 2 + length > jpeg.size()) break;
    auto data = jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4);
    std::size_t size = length - 2;
    if (jpeg[at + 1] == marker && size >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data)) {
      return std::vector<std::uint8_t>(data + static_cast<std::ptrdiff_t>(prefix.size()),
                                       data + static_cast<std::ptrdiff_t>(size));
    }
    at += 2 + length;
  }
  return {};
}

inline constexpr std::string_view kXmpSegmentPrefix{"http://ns.adobe.com/xap/1.0/\0", 29};

inline bool HaveExiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

// exiftool's reading of one tag, list values joined by "|".
inline std::string Exiftool(const std::string& tag, const std::string& path) {
  std::string command = "exiftool -s3 -sep '|' -charset iptc=cp1252 '-" + tag + "' '" + path + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) out += buffer;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Several tags in one run (exiftool starts slowly), duplicates included:
// "Group1:Tag" (IPTC, XMP-dc, IFD0, ExifIFD, GPS, ExifTool ...) to its value,
// list values joined by "|". Tags the file does not have are missing from
// the map. `options` go to exiftool as they are: the character set IPTC
// records without a 1:90 declaration are taken to be, or -n for numbers.
inline std::map<std::string, std::string> ExiftoolTagsWith(const std::string& path,
                                                           const std::vector<std::string>& tags,
                                                           const std::string& options) {
  std::string command = "exiftool -a -G1 -s -s -sep '|' " + options;
  for (const std::string& t : tags) command += " '-" + t + "'";
  command += " '" + path + "' 2>/dev/null";
  std::map<std::string, std::string> values;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return values;
  std::string line;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
    line += buffer;
    if (line.empty() || line.back() != '\n') continue;
    line.pop_back();
    // "[Group] Tag: value"
    std::size_t close = line.find(']');
    std::size_t colon = line.find(": ", close == std::string::npos ? 0 : close);
    if (line.size() > 1 && line[0] == '[' && close != std::string::npos && colon != std::string::npos) {
      std::string group = line.substr(1, close - 1);
      std::size_t name = line.find_first_not_of(' ', close + 1);
      values[group + ":" + line.substr(name, colon - name)] = line.substr(colon + 2);
    }
    line.clear();
  }
  return values;
}

inline std::map<std::string, std::string> ExiftoolTags(const std::string& path, const std::vector<std::string>& tags,
                                                       const std::string& iptc_charset = "cp1252") {
  return ExiftoolTagsWith(path, tags, "-charset iptc=" + iptc_charset);
}

// Values as numbers (exiftool's -n).
inline std::map<std::string, std::string> ExiftoolNumbers(const std::string& path,
                                                          const std::vector<std::string>& tags) {
  return ExiftoolTagsWith(path, tags, "-n");
}

}  // namespace norvo::metadata::testing
