// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gallery_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "media/media_type_registry.h"
#include "metadata/item_fields.h"
#include "output/gallery_movie.h"
#include "output/gallery_pages.h"
#include "output/gallery_render.h"
#include "output/gallery_settings.h"
#include "output/gallery_templates.h"
#include "output/gallery_text.h"
#include "platform/byte_io.h"
#include "platform/dates.h"
#include "platform/file_ops.h"
#include "platform/text_encoding.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;

constexpr char kTemplatesFolder[] = "Norvo/Plug-ins/HTML Templates";
constexpr std::size_t kPageNameLength = 26;    // characters of the file name a page name keeps
constexpr std::size_t kMaxBaseNameBytes = 200;  // room for "_N" and an extension within a file name
constexpr std::size_t kMaxAssetName = 63;

bool IsGifType(std::uint32_t t) { return t == FourCC("GIF ") || t == FourCC("GIFf") || t == FourCC("gif "); }
bool IsWindowsMediaType(std::uint32_t t) {
  for (std::uint32_t c : {FourCC("ASF "), FourCC("WMV "), FourCC("WM  "), FourCC("AVI "), FourCC("MPEG"), FourCC("MPE "),
                          FourCC("MPG "), FourCC("M1V "), FourCC("MP2 "), FourCC("MP2V"), FourCC("MPV2")}) {
    if (t == c) return true;
  }
  return false;
}
bool IsQuickTimeType(std::uint32_t t) { return t == FourCC("MOV ") || t == FourCC("mov ") || t == FourCC("MooV"); }

// Writes a generated file. The name is the last component and never a
// link: an existing symbolic link there is refused rather than followed.
ErrorCode WriteGenerated(const std::string& path, std::span<const std::uint8_t> bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return ErrorFromErrno(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const ErrorCode e = ErrorFromErrno(errno);
      ::close(fd);
      return e;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) return ErrorFromErrno(errno);
  return err::kNone;
}

ErrorCode WriteText(const std::string& path, std::string_view text) {
  return WriteGenerated(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Makes a folder; one that is already there (and no link) is fine.
ErrorCode MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return err::kNone;
  if (errno != EEXIST) return ErrorFromErrno(errno);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return err::kNotAFile;
  return err::kNone;
}

// The name's Windows-1252 bytes with every byte mapped.
std::string MapBytes(std::string bytes) {
  for (char& c : bytes) c = MapFileNameByte(static_cast<std::uint8_t>(c));
  return bytes;
}

// The file name with its extension replaced (or `extension` added).
std::string WithExtension(const std::string& name, std::string_view extension) {
  std::size_t dot = name.rfind('.');
  std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  if (base.size() > kMaxBaseNameBytes) base.resize(kMaxBaseNameBytes);
  return base + "." + std::string(extension);
}

// Whether the name ends in a three-letter extension.
bool HasThreeLetterExtension(const std::string& name) { return name.size() >= 4 && name[name.size() - 4] == '.'; }

std::string LeafWithoutCatalogExtension(const std::string& name) {
  if (name.size() > 4 && (name.ends_with(".nrk") || name.ends_with(".NRK"))) return name.substr(0, name.size() - 4);
  return name;
}

// The item's field values, read from the catalog on the calling thread.
class CatalogFields : public GalleryFieldSource {
 public:
  explicit CatalogFields(const catalog::Catalog& catalog) : catalog_(catalog) {}
  std::vector<std::string> texts(int item, metadata::FieldId id) override {
    if (item != cached_) {
      cached_ = item;
      ok_ = fields_.read(catalog_, item) == err::kNone;
    }
    if (!ok_) return {};
    return fields_.texts(id);
  }
  std::string label(metadata::FieldId id) override { return metadata::FieldLabel(&catalog_, id); }

 private:
  const catalog::Catalog& catalog_;
  metadata::ItemFields fields_;
  int cached_ = 0;
  bool ok_ = false;
};

// One item as the export prepares it.
struct Work {
  RenderJob job;
  bool missing = false;
  int media_class = 0;
  std::uint32_t type_code = 0;
  std::string file_name;  // UTF-8
  std::uint32_t file_size = 0;
  int width = 0, height = 0;
  RenderResult result;
  bool done = false;
};

class Export {
 public:
  Export(catalog::Catalog& catalog, const GalleryRequest& request) : catalog_(catalog), request_(request) {}

  GalleryOutcome run();

 private:
  bool progress(ProgressPhase phase, int done, std::string_view text) {
    if (!request_.progress) return true;
    return request_.progress(phase, done, 2 * site_.count(), text) == 0;
  }
  GalleryOutcome finish(GalleryResult result) {
    outcome_.result = result;
    if (request_.progress) request_.progress(ProgressPhase::kEnd, 2 * site_.count(), 2 * site_.count(), "");
    return outcome_;
  }
  std::string destination(std::string_view relative) const { return dest_ + "/" + std::string(relative); }

  void gather(std::vector<Work>* work);
  // Writes item `i`'s files and fills its GalleryItem; false on a write
  // failure of the destination.
  bool apply(Work& w, GalleryItem& item);
  ErrorCode icon(int media_class, const std::string& folder, GalleryItem& item, bool media);
  void pageNames();
  void copyAssets(std::string_view page_text);

  catalog::Catalog& catalog_;
  const GalleryRequest& request_;
  GallerySite site_;
  RenderOptions render_;
  std::string dest_;
  std::optional<std::string> template_folder_;
  NameSet thumbnail_names_, media_names_, page_names_;
  std::vector<std::string> work_names_;  // each item's file name, for its page name
  GalleryOutcome outcome_;
};

void Export::gather(std::vector<Work>* work) {
  const int count = catalog_.itemCount();
  work->resize(static_cast<std::size_t>(count));
  for (int cell = 1; cell <= count; ++cell) {
    Work& w = (*work)[static_cast<std::size_t>(cell - 1)];
    catalog::ItemRecord record;
    if (catalog::GetItemRecord(catalog_, cell, catalog::kWithoutOptionalParts, record) != err::kNone) {
      w.missing = true;
      continue;
    }
    w.type_code = record.type_code;
    w.media_class = static_cast<int>(media::GetMediaClass(record.type_code));
    w.file_name = catalog::ItemFileNameUtf8(record);
    w.file_size = record.file_size;
    w.width = static_cast<int>(std::min<std::uint32_t>(record.width, 0x7FFF));
    w.height = static_cast<int>(std::min<std::uint32_t>(record.height, 0x7FFF));
    w.job.type_code = record.type_code;
    w.job.width = w.width;
    w.job.height = w.height;
    w.job.rotation = record.orientation;
    if (render_.embed_iptc) {
      w.job.annotations = std::move(record.annotations);
      w.job.label = static_cast<std::uint8_t>(catalog_.cells[static_cast<std::size_t>(cell - 1)].label());
    }
    std::string path;
    if (catalog::LocateItemFile(catalog_, cell, path) != err::kNone) {
      w.missing = true;
    } else {
      w.job.path = path;
    }
  }
}

ErrorCode Export::icon(int media_class, const std::string& folder, GalleryItem& item, bool media) {
  const int number = ClassIconNumber(media_class);
  const std::string name = "icon" + std::to_string(number) + ".gif";
  const std::string path = destination(folder + "/" + name);
  if (!IsFile(path)) {
    if (ErrorCode e = WriteGenerated(path, ClassIconGif(media_class)); e != err::kNone) return e;
  }
  if (media) {
    item.media_kind = MediaKind::kImage;
    item.media_name = name;
    item.media_width = item.media_height = kIconSide;
    item.media_bytes = 0;
  } else {
    item.thumbnail_name = name;
    item.thumbnail_width = item.thumbnail_height = kIconSide;
    item.thumbnail_bytes = 0;
  }
  return err::kNone;
}

bool Export::apply(Work& w, GalleryItem& item) {
  const bool movie_or_sound =
      w.media_class == static_cast<int>(media::MediaClass::Audio) ||
      w.media_class == static_cast<int>(media::MediaClass::Video);
  item.original_bytes = w.file_size;
  item.original_width = w.width;
  item.original_height = w.height;
  item.sound = w.media_class == static_cast<int>(media::MediaClass::Audio);
  const std::string base = MapFileName(WithExtension(w.file_name, "jpg"));

  // Thumbnail.
  if (!w.result.thumbnail.jpeg.empty()) {
    item.thumbnail_name = thumbnail_names_.unique(base);
    if (WriteGenerated(destination("preview/" + item.thumbnail_name), w.result.thumbnail.jpeg) != err::kNone) {
      return false;
    }
    item.thumbnail_bytes = static_cast<std::uint32_t>(w.result.thumbnail.jpeg.size());
    item.thumbnail_width = w.result.thumbnail.width;
    item.thumbnail_height = w.result.thumbnail.height;
  } else if (icon(w.media_class, "preview", item, false) != err::kNone) {
    return false;
  }

  // Media.
  if (movie_or_sound) {
    std::string name = w.file_name;
    MediaKind kind = MediaKind::kMovie;
    if (IsGifType(w.type_code)) {
      kind = MediaKind::kImage;
      name = WithExtension(name, "gif");
    } else if (IsWindowsMediaType(w.type_code)) {
      kind = MediaKind::kWindowsMedia;
    } else if (!HasThreeLetterExtension(name)) {
      name += ".mov";
    }
    item.media_name = media_names_.unique(MapFileName(name));
    const std::string to = destination("source/image/" + item.media_name);
    ErrorCode e = w.missing ? err::kFileNotFound : err::kNone;
    if (e == err::kNone && !IsFile(to)) {
      e = IsQuickTimeType(w.type_code) ? WriteFlattenedMovie(w.job.path, to)
                                       : CopyFileKeepingAttributes(w.job.path, to, CopyDurability::kCached);
    }
    if (e == err::kNone) {
      item.media_kind = kind;
      struct stat st {};
      item.media_bytes = ::stat(to.c_str(), &st) == 0 ? static_cast<std::uint32_t>(st.st_size) : w.file_size;
      item.media_width = w.width > 0 && w.height > 0 ? w.width : 320;
      item.media_height = w.width > 0 && w.height > 0 ? w.height : 0;
      if (kind == MediaKind::kMovie && site_.settings.movie_controller != 0) item.media_height += 16;
    } else {
      w.missing = true;
      if (icon(w.media_class, "source/image", item, true) != err::kNone) return false;
    }
    return true;
  }
  if (!w.result.media.jpeg.empty()) {
    // The thumbnail's name, unless a movie already took it.
    item.media_name = item.thumbnail_name.ends_with(".jpg") && !media_names_.contains(item.thumbnail_name)
                          ? item.thumbnail_name
                          : media_names_.unique(base);
    media_names_.add(item.media_name);
    if (WriteGenerated(destination("source/image/" + item.media_name), w.result.media.jpeg) != err::kNone) {
      return false;
    }
    item.media_kind = MediaKind::kImage;
    item.media_bytes = static_cast<std::uint32_t>(w.result.media.jpeg.size());
    item.media_width = w.result.media.width;
    item.media_height = w.result.media.height;
    return true;
  }
  w.missing = true;
  return icon(w.media_class, "source/image", item, true) == err::kNone;
}

void Export::pageNames() {
  const std::string extension = site_.extension();
  for (int i = 1; i <= site_.count(); ++i) {
    GalleryItem& item = site_.items[static_cast<std::size_t>(i - 1)];
    if (site_.settings.numbered_page_names == 1) {
      item.page_name = page_names_.unique(std::to_string(i) + extension);
      continue;
    }
    std::string name = Utf8ToWindows1252(work_names_[static_cast<std::size_t>(i - 1)]);
    if (HasThreeLetterExtension(name)) name.resize(name.size() - 4);
    if (name.size() > kPageNameLength) name.resize(kPageNameLength);
    while (!name.empty() && name.back() == '.') name.pop_back();
    item.page_name = page_names_.unique(MapBytes(name + extension));
  }
}

void Export::copyAssets(std::string_view page_text) {
  if (!CopyPageAssets(page_text, template_folder_, dest_)) outcome_.assets_failed = true;
}

GalleryOutcome Export::run() {
  // 1. Settings, template folder, what the pictures need.
  if (ParseGallerySettings(request_.settings_record, &site_.settings) != err::kNone) {
    return finish(GalleryResult::kBadSettings);
  }
  GallerySettings& s = site_.settings;
  const std::string template_name = request_.template_name.empty() ? s.templateName() : request_.template_name;
  if (!template_name.empty()) {
    template_folder_ = FindGalleryTemplate(
        template_name, request_.template_roots.empty() ? GalleryTemplateRoots() : request_.template_roots);
    if (!template_folder_) {
      s.template_kind = 1;
      s.setTemplateName("");
    }
  }
  site_.title = request_.title.empty() ? LeafWithoutCatalogExtension(catalog_.display_name) : request_.title;
  site_.comment = request_.comment;
  site_.now = request_.clock ? request_.clock() : CurrentDateTime();
  site_.conventions = request_.conventions ? *request_.conventions : metadata::UserConventions();

  render_.thumbnail_size = s.thumbnail_size;
  render_.thumbnail_scaling = imaging::BoxScalingFromCode(s.thumbnail_scaling);
  render_.box_width = s.media_box_width;
  render_.box_height = s.media_box_height;
  render_.media_scaling = imaging::BoxScalingFromCode(s.media_scaling);
  render_.frame = s.frame_images != 0;
  if (s.watermark != 0) {
    render_.watermark = request_.watermark;
    render_.watermark_position = request_.watermark_position;
  }
  render_.jpeg.quality_code = s.jpeg_quality_code;
  render_.jpeg.target_bytes = s.jpeg_quality_code == 7 ? s.target_jpeg_kb * 1024 : 0;
  render_.jpeg.dots_per_inch = 72;
  render_.embed_iptc = s.embed_iptc != 0;

  // 3. The folders.
  if (request_.destination.empty()) return finish(GalleryResult::kWriteFailed);
  dest_ = request_.destination;
  while (dest_.size() > 1 && dest_.back() == '/') dest_.pop_back();
  for (const char* folder : {"", "source", "preview", "source/image"}) {
    if (MakeFolder(*folder == '\0' ? dest_ : destination(folder)) != err::kNone) {
      return finish(GalleryResult::kWriteFailed);
    }
  }

  // 4-5. Every item: pictures on the pool, files written here in order.
  std::vector<Work> work;
  gather(&work);
  const int count = static_cast<int>(work.size());
  site_.items.resize(work.size());
  outcome_.items = count;
  if (!progress(ProgressPhase::kStart, 0, kBuildingMediaText)) return finish(GalleryResult::kCancelled);

  int jobs = request_.jobs > 0 ? request_.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  jobs = std::clamp(jobs, 1, std::max(1, count));
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  auto worker = [&] {
    for (;;) {
      const std::size_t i = next.fetch_add(1);
      if (i >= work.size() || stop.load()) return;
      Work& w = work[i];
      RenderOptions options = render_;
      options.make_media = w.media_class != static_cast<int>(media::MediaClass::Audio) &&
                           w.media_class != static_cast<int>(media::MediaClass::Video);
      if (!w.missing) RenderItem(w.job, options, &w.result);
      {
        std::lock_guard lock(mutex);
        w.done = true;
      }
      finished.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < jobs && count > 0; ++t) pool.emplace_back(worker);
  auto stop_pool = [&] {
    stop.store(true);
    for (std::thread& t : pool) t.join();
    pool.clear();
  };

  work_names_.resize(work.size());
  for (std::size_t i = 0; i < work.size(); ++i) {
    {
      std::unique_lock lock(mutex);
      finished.wait(lock, [&] { return work[i].done; });
    }
    Work& w = work[i];
    work_names_[i] = w.file_name;
    if (!apply(w, site_.items[i])) {
      stop_pool();
      return finish(GalleryResult::kWriteFailed);
    }
    if (w.missing) ++outcome_.missing;
    w.result = RenderResult{};  // release the pictures early
    if (!progress(ProgressPhase::kStep, static_cast<int>(i) + 1, kBuildingMediaText)) {
      stop_pool();
      return finish(GalleryResult::kCancelled);
    }
  }
  stop_pool();

  // 6. Page names.
  pageNames();

  // 7. Media pages.
  CatalogFields fields(catalog_);
  site_.fields = &fields;
  for (int i = 1; i <= count; ++i) {
    const std::string page = BuildMediaPage(site_, BuiltInMediaTemplate(), i);
    if (WriteText(destination("source/" + site_.items[static_cast<std::size_t>(i - 1)].page_name), page) !=
        err::kNone) {
      return finish(GalleryResult::kWriteFailed);
    }
    ++outcome_.media_pages;
    if (i == 1) copyAssets(page);
    if (!progress(ProgressPhase::kStep, count + i, kBuildingSourcesText)) return finish(GalleryResult::kCancelled);
  }

  // 8. Index pages.
  const int pages = std::max(1, site_.pages());
  for (int p = 1; p <= pages; ++p) {
    std::string page;
    if (!BuildIndexPage(site_, BuiltInIndexTemplate(), p, &page)) return finish(GalleryResult::kBadTemplate);
    const std::string path = destination(site_.indexPageName(p));
    if (WriteText(path, page) != err::kNone) return finish(GalleryResult::kWriteFailed);
    ++outcome_.pages;
    if (p == 1) {
      outcome_.index_path = path;
      copyAssets(page);
    }
  }

  // 9.
  return finish(outcome_.missing > 0 || outcome_.assets_failed ? GalleryResult::kMissingFiles
                                                                : GalleryResult::kDone);
}

}  // namespace

bool CopyPageAssets(std::string_view page_text, const std::optional<std::string>& template_folder,
                    const std::string& destination) {
  constexpr std::string_view kMarker = "\"assets/";
  bool ok = true;
  for (std::size_t at = page_text.find(kMarker); at != std::string_view::npos;
       at = page_text.find(kMarker, at + kMarker.size())) {
    const std::size_t begin = at + kMarker.size();
    const std::size_t end = page_text.find('"', begin);
    if (end == std::string_view::npos) break;
    const std::string name(page_text.substr(begin, std::min(end - begin, kMaxAssetName)));
    const bool plain = !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
                       name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
    if (!plain || !template_folder || MakeFolder(destination + "/assets") != err::kNone) {
      ok = false;
      continue;
    }
    const std::string to = destination + "/assets/" + name;
    if (IsFile(to)) continue;
    if (CopyFileKeepingAttributes(*template_folder + "/assets/" + name, to, CopyDurability::kCached) !=
        err::kNone) {
      ok = false;
    }
  }
  return ok;
}

GalleryOutcome RunGallery(catalog::Catalog& catalog, const GalleryRequest& request) {
  Export run(catalog, request);
  return run.run();
}

std::vector<std::string> GalleryTemplateRoots() {
  std::vector<std::string> roots;
  const char* home = std::getenv("HOME");
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home != nullptr && *data_home == '/') {
    roots.emplace_back(data_home);
  } else if (home != nullptr && *home != '\0') {
    roots.push_back(std::string(home) + "/.local/share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = dirs != nullptr && *dirs != '\0' ? dirs : "/usr/local/share:/usr/share";
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    std::string entry = list.substr(start, colon - start);
    if (!entry.empty() && entry[0] == '/') roots.push_back(entry);
    start = colon + 1;
  }
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) roots.push_back((self.parent_path().parent_path() / "share").string());
  return roots;
}

std::optional<std::string> FindGalleryTemplate(std::string_view name, const std::vector<std::string>& roots) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  for (const std::string& root : roots) {
    const std::string folder = root + "/" + kTemplatesFolder + "/" + std::string(name);
    if (IsFile(folder + "/index.html") || IsFile(folder + "/index.xml")) return folder;
  }
  return std::nullopt;
}

}  // namespace norvo::output
