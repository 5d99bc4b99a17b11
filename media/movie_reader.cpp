// SPDX-License-Identifier: GPL-3.0-or-later
// The movie reader's side in the program: reads are handed to the movie
// plug-in (FFmpeg), opened on the first read; the stored forms of the facts
// are the program's own.
#include "media/movie_reader.h"

#include <algorithm>

#include "platform/reader_plugins.h"
#include "media/reader_plugin_layouts.h"
#include "metadata/list_keys.h"

namespace norvo::media {
namespace {

const NorvoReaderPlugin* MoviePlugin() { return plugins::ReaderPlugin(plugins::kMoviesFamily, kMovieLayout); }

}  // namespace

ErrorCode ReadMovie(const std::string& path, int box, MovieFacts* facts, imaging::PixelBuffer* poster) {
  return ReadMovie(path, box, MovieReadLimits{}, facts, poster);
}

ErrorCode ReadMovie(const std::string& path, int box, const MovieReadLimits& limits, MovieFacts* facts,
                    imaging::PixelBuffer* poster) {
  *facts = MovieFacts();
  if (poster) *poster = imaging::PixelBuffer();
  const NorvoReaderPlugin* plugin = MoviePlugin();
  if (plugin == nullptr || plugin->read_movie_file == nullptr) return err::kNoReaderForFormat;
  return plugin->read_movie_file(path.c_str(), box, &limits, facts, poster);
}

ErrorCode ReadMovie(std::span<const std::uint8_t> bytes, std::string_view name, int box,
                    const MovieReadLimits& limits, MovieFacts* facts, imaging::PixelBuffer* poster) {
  *facts = MovieFacts();
  if (poster) *poster = imaging::PixelBuffer();
  const NorvoReaderPlugin* plugin = MoviePlugin();
  if (plugin == nullptr || plugin->read_movie_bytes == nullptr) return err::kNoReaderForFormat;
  const std::string name_text(name);
  return plugin->read_movie_bytes(bytes.data(), bytes.size(), name_text.c_str(), box, &limits, facts, poster);
}

// --- stored forms of the track and chapter items ------------------------------------

namespace {
constexpr std::size_t kTrackFixedSize = 44;
constexpr std::size_t kChapterFixedSize = 8;
}  // namespace

std::vector<std::uint8_t> EncodeTrackItem(const MovieTrack& track) {
  ByteWriter w(kTrackFixedSize + 1 + kMaxMovieCompressorName);
  w.u32be(track.kind);
  w.u32be(track.format);
  w.u32be(static_cast<std::uint32_t>(track.duration));
  w.u32be(track.data_rate);
  w.u32be(static_cast<std::uint32_t>(track.width));
  w.u32be(static_cast<std::uint32_t>(track.height));
  w.u32be(static_cast<std::uint32_t>(track.depth));
  w.u32be(track.frame_rate);
  w.u32be(static_cast<std::uint32_t>(track.channels));
  w.u32be(track.sample_rate);
  w.u32be(static_cast<std::uint32_t>(track.sample_size));
  const std::size_t n = std::min(track.name.size(), kMaxMovieCompressorName);
  w.u8(static_cast<std::uint8_t>(n));
  w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(track.name.data()), n));
  return w.take();
}

ErrorCode DecodeTrackItem(std::span<const std::uint8_t> bytes, MovieTrack* out) {
  ByteReader r(bytes);
  MovieTrack t;
  t.kind = r.u32be();
  t.format = r.u32be();
  t.duration = r.i32be();
  t.data_rate = r.u32be();
  t.width = r.i32be();
  t.height = r.i32be();
  t.depth = r.i32be();
  t.frame_rate = r.u32be();
  t.channels = r.i32be();
  t.sample_rate = r.u32be();
  t.sample_size = r.i32be();
  const std::size_t n = r.u8();
  std::span<const std::uint8_t> name = r.bytes(n);
  if (!r.ok()) return err::kParam;
  t.name.assign(name.begin(), name.end());
  *out = std::move(t);
  return err::kNone;
}

std::vector<std::uint8_t> EncodeChapterItem(const MovieChapter& chapter) {
  ByteWriter w(kChapterFixedSize + chapter.title.size());
  const std::size_t n = std::min<std::size_t>(chapter.title.size(), 0xFFFF);
  w.u32be(static_cast<std::uint32_t>(chapter.start));
  w.u16be(static_cast<std::uint16_t>(n));
  w.u16be(metadata::kDefaultLanguage);
  w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(chapter.title.data()), n));
  return w.take();
}

ErrorCode DecodeChapterItem(std::span<const std::uint8_t> bytes, MovieChapter* out) {
  ByteReader r(bytes);
  MovieChapter c;
  c.start = r.i32be();
  const std::size_t n = r.u16be();
  r.u16be();  // language
  std::span<const std::uint8_t> title = r.bytes(n);
  if (!r.ok()) return err::kParam;
  c.title.assign(title.begin(), title.end());
  *out = std::move(c);
  return err::kNone;
}

void AddMovieMetadata(const MovieFacts& facts, metadata::MetadataList* list) {
  list->removeAll(metadata::kKeyTracks);
  list->removeAll(metadata::kKeyChapters);
  for (const MovieTrack& t : facts.tracks) list->add(metadata::kKeyTracks, EncodeTrackItem(t));
  for (const MovieChapter& c : facts.chapters) list->add(metadata::kKeyChapters, EncodeChapterItem(c));
  for (const MovieTag& tag : facts.tags) list->removeAll(tag.key);
  for (const MovieTag& tag : facts.tags) list->addText(tag.key, tag.text);
}

}  // namespace norvo::media
