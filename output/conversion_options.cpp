// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/conversion_options.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/image_writer.h"
#include "platform/ascii.h"
#include "platform/file.h"
#include "platform/file_ops.h"
#include "platform/file_replace.h"
#include "platform/file_spec.h"
#include "platform/record_fields.h"

namespace norvo::output {
namespace {

using FieldReader = RecordFieldReader<Endian::kLittle>;
using FieldWriter = RecordFieldWriter<Endian::kLittle>;

constexpr std::uint32_t kPresetMagic = FourCC("NRPS");
constexpr std::uint32_t kCreator = FourCC("NRWi");

// Formats of movies and sounds by code; images come from the writers' table.
struct AvCode {
  std::uint32_t code;
  std::string_view extension;
};
constexpr AvCode kAvCodes[] = {
    {FourCC("MooV"), "mov"}, {FourCC("mpg4"), "mp4"},  {FourCC("WEBM"), "webm"}, {FourCC("AIFF"), "aif"},
    {FourCC("WAVE"), "wav"}, {FourCC("MP3 "), "mp3"},  {FourCC("FLAC"), "flac"}, {FourCC("Opus"), "opus"},
    {FourCC("MKV "), "mkv"}, {FourCC("M4A "), "m4a"},
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  if (!lower.empty() && lower.front() == '.') lower.erase(0, 1);
  return lower;
}

// A small tagged record: a version word, then fields in order.
constexpr std::uint32_t kImageWriterVersion = 1;
constexpr std::uint32_t kAvWriterVersion = 1;
constexpr std::size_t kMaxCodecName = 63;

void Text(ByteWriter& w, const std::string& text) {
  const std::size_t n = std::min(text.size(), kMaxCodecName);
  w.u8(static_cast<std::uint8_t>(n));
  w.bytes({reinterpret_cast<const std::uint8_t*>(text.data()), n});
}
std::string Text(ByteReader& r) {
  const std::size_t n = std::min<std::size_t>(r.u8(), kMaxCodecName);
  std::span<const std::uint8_t> bytes = r.bytes(n);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

int OptionsIndex(ConversionKind kind) {
  switch (kind) {
    case ConversionKind::kImage: return 3;
    case ConversionKind::kMovie: return 5;
    case ConversionKind::kSound: return 7;
  }
  return 3;
}
int WriterSettingsIndex(ConversionKind kind) { return OptionsIndex(kind) + 1; }

std::uint32_t PresetFileType(ConversionKind kind) {
  switch (kind) {
    case ConversionKind::kImage: return FourCC("IMGC");
    case ConversionKind::kMovie: return FourCC("MOVC");
    case ConversionKind::kSound: return FourCC("SNDC");
  }
  return FourCC("IMGC");
}

std::string ConversionOptions::formatName() const {
  const std::size_t n = std::min<std::size_t>(format_name[0], kFormatNameWidth - 1);
  return std::string(reinterpret_cast<const char*>(format_name.data() + 1), n);
}

void ConversionOptions::setFormatName(std::string_view name) {
  format_name.fill(0);
  const std::size_t n = std::min(name.size(), kFormatNameWidth - 1);
  format_name[0] = static_cast<std::uint8_t>(n);
  std::copy_n(name.begin(), n, format_name.begin() + 1);
}

ConversionOptions DefaultConversionOptions(ConversionKind kind) {
  if (kind == ConversionKind::kImage) return ConversionOptions{};
  ConversionOptions o;
  ByteWriter zeros;
  zeros.zeros(kConversionOptionsSize);
  ByteReader r(zeros.buffer());
  FieldReader reader{r};
  VisitConversionOptions(o, reader);
  o.media_kind = static_cast<std::uint32_t>(kind);
  o.output_format = kind == ConversionKind::kMovie ? FourCC("MooV") : FourCC("AIFF");
  return o;
}

ErrorCode ParseConversionOptions(std::span<const std::uint8_t> bytes, ConversionKind kind, ConversionOptions* out) {
  *out = DefaultConversionOptions(kind);
  if (bytes.empty()) return err::kNone;
  if (bytes.size() != kConversionOptionsSize) return err::kParam;
  ConversionOptions o;
  ByteReader r(bytes);
  FieldReader reader{r};
  VisitConversionOptions(o, reader);
  if (!r.ok() || o.kind() != kind) return err::kParam;
  *out = o;
  return err::kNone;
}

std::vector<std::uint8_t> SerializeConversionOptions(const ConversionOptions& options) {
  ByteWriter w(kConversionOptionsSize);
  FieldWriter writer{w};
  VisitConversionOptions(options, writer);
  std::vector<std::uint8_t> bytes = w.take();
  if (!writer.ok) bytes.clear();  // the table itself is wrong: the tests catch it
  bytes.resize(kConversionOptionsSize, 0);
  return bytes;
}

std::string ExtensionForFormat(std::uint32_t code) {
  for (const imaging::ImageWriterFormat& f : imaging::ImageWriterFormats()) {
    if (f.code == code) return std::string(f.extension);
  }
  for (const AvCode& a : kAvCodes) {
    if (a.code == code) return std::string(a.extension);
  }
  return {};
}

std::uint32_t FormatForExtension(std::string_view extension) {
  const std::string lower = Lower(extension);
  if (const imaging::ImageWriterFormat* f = imaging::FindImageWriter(lower)) return f->code;
  for (const AvCode& a : kAvCodes) {
    if (a.extension == lower) return a.code;
  }
  if (lower == "aiff") return FourCC("AIFF");
  return 0;
}

ImageWriterSettings ParseImageWriterSettings(std::span<const std::uint8_t> bytes) {
  ImageWriterSettings s;
  ByteReader r(bytes);
  const std::uint32_t version = r.u32le();
  const std::uint32_t quality = r.u32le();
  if (r.ok() && version == kImageWriterVersion && quality >= 1 && quality <= 100) {
    s.quality = static_cast<int>(quality);
  }
  return s;
}

std::vector<std::uint8_t> SerializeImageWriterSettings(const ImageWriterSettings& settings) {
  ByteWriter w;
  w.u32le(kImageWriterVersion);
  w.u32le(static_cast<std::uint32_t>(std::clamp(settings.quality, 1, 100)));
  return w.take();
}

AvWriterSettings ParseAvWriterSettings(std::span<const std::uint8_t> bytes) {
  AvWriterSettings s;
  ByteReader r(bytes);
  if (r.u32le() != kAvWriterVersion) return s;
  AvWriterSettings read;
  read.quality = static_cast<int>(r.u32le());
  read.width = static_cast<int>(r.u32le());
  read.height = static_cast<int>(r.u32le());
  read.frame_rate = std::bit_cast<double>(r.u64be());
  read.audio_rate = static_cast<int>(r.u32le());
  read.channels = static_cast<int>(r.u32le());
  read.video_codec = Text(r);
  read.audio_codec = Text(r);
  const bool sane = read.quality >= 0 && read.width >= 0 && read.height >= 0 && read.audio_rate >= 0 &&
                    read.channels >= 0 && read.frame_rate >= 0 && read.frame_rate < 1000;
  return r.ok() && sane ? read : s;
}

std::vector<std::uint8_t> SerializeAvWriterSettings(const AvWriterSettings& settings) {
  ByteWriter w;
  w.u32le(kAvWriterVersion);
  w.u32le(static_cast<std::uint32_t>(settings.quality));
  w.u32le(static_cast<std::uint32_t>(settings.width));
  w.u32le(static_cast<std::uint32_t>(settings.height));
  w.u64be(std::bit_cast<std::uint64_t>(settings.frame_rate));
  w.u32le(static_cast<std::uint32_t>(settings.audio_rate));
  w.u32le(static_cast<std::uint32_t>(settings.channels));
  Text(w, settings.video_codec);
  Text(w, settings.audio_codec);
  return w.take();
}

std::vector<std::uint8_t> SerializePreset(ConversionKind kind, std::span<const PresetRecord> records) {
  ByteWriter w;
  w.u32be(kPresetMagic);
  w.u32be(PresetFileType(kind));
  const std::size_t count = std::min(records.size(), kMaxPresetRecords);
  w.u32be(static_cast<std::uint32_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const PresetRecord& rec = records[i];
    const std::size_t n = std::min(rec.bytes.size(), kMaxPresetRecordBytes);
    w.u32be(rec.code);
    w.u32be(static_cast<std::uint32_t>(rec.index));
    w.u32be(static_cast<std::uint32_t>(n));
    w.bytes(std::span(rec.bytes).first(n));
  }
  return w.take();
}

ErrorCode ParsePreset(std::span<const std::uint8_t> bytes, ConversionKind kind, std::vector<PresetRecord>* out) {
  out->clear();
  ByteReader r(bytes);
  if (r.u32be() != kPresetMagic || r.u32be() != PresetFileType(kind)) return err::kParam;
  const std::uint32_t count = r.u32be();
  if (!r.ok() || count > kMaxPresetRecords) return err::kParam;
  std::vector<PresetRecord> records;
  for (std::uint32_t i = 0; i < count; ++i) {
    PresetRecord rec;
    rec.code = r.u32be();
    rec.index = static_cast<std::int32_t>(r.u32be());
    const std::uint32_t n = r.u32be();
    if (!r.ok() || n > kMaxPresetRecordBytes) return err::kParam;
    std::span<const std::uint8_t> data = r.bytes(n);
    if (!r.ok()) return err::kParam;
    rec.bytes.assign(data.begin(), data.end());
    records.push_back(std::move(rec));
  }
  *out = std::move(records);
  return err::kNone;
}

std::optional<std::vector<std::uint8_t>> PresetSetting(std::span<const PresetRecord> records, std::int32_t index) {
  for (const PresetRecord& rec : records) {
    if (rec.code == kConversionSettingsCode && rec.index == index) return rec.bytes;
  }
  return std::nullopt;
}

ErrorCode SavePresetFile(const std::string& path, ConversionKind kind, std::span<const PresetRecord> records) {
  FileSpec spec;
  if (ErrorCode e = MakeFileSpec(path, spec); e == err::kNone) return err::kDuplicateName;
  else if (!FileSpecFilled(e)) return e;
  if (ErrorCode e = CreateFile(spec, kCreator, PresetFileType(kind)); e != err::kNone) return e;
  const std::vector<std::uint8_t> bytes = SerializePreset(kind, records);
  // The file exists (empty) now; replacing it writes the bytes whole or not at all.
  if (ErrorCode e = ReplaceFileSafely(spec.path, bytes); e != err::kNone) {
    (void)DeleteFile(spec);  // the empty file is not a preset; the write's error is the one to report
    return e;
  }
  return err::kNone;
}

ErrorCode LoadPresetFile(const std::string& path, ConversionKind kind, std::vector<PresetRecord>* out) {
  std::vector<std::uint8_t> bytes;
  if (ErrorCode e = ReadWholeFile(path, &bytes); e != err::kNone) return e;
  return ParsePreset(bytes, kind, out);
}

}  // namespace norvo::output
