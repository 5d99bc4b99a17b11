// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/document_reader.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "imaging/image_reader.h"
#include "platform/reader_plugins.h"
#include "imaging/transform.h"
#include "media/reader_plugin_layouts.h"
#include "platform/byte_io.h"


extern char** environ;

namespace norvo::media {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPdfSignatureWindow = 1024;
constexpr int kPageResolution = 72;

// Whether the file's first bytes hold "%PDF".
bool LooksLikePdf(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::array<char, kPdfSignatureWindow> head{};
  ssize_t n = 0;
  do {
    n = ::read(fd, head.data(), head.size());
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return false;
  return std::string_view(head.data(), static_cast<std::size_t>(n)).find("%PDF") != std::string_view::npos;
}

// err::kFileNotFound and the other errors of a file that cannot be read; 0 for a readable
// regular file.
ErrorCode CheckFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return err::kFileNotFound;
  if (::access(path.c_str(), R_OK) != 0) return ErrorFromErrno(errno);
  return err::kNone;
}

// Fits `picture` into `box` when it is larger.
ErrorCode FitPicture(int box, imaging::PixelBuffer* picture) {
  if (box <= 0 || picture->empty()) return err::kNone;
  int width = 0;
  int height = 0;
  imaging::FittedSize(picture->width(), picture->height(), box, &width, &height);
  if (width == picture->width() && height == picture->height()) return err::kNone;
  imaging::PixelBuffer reduced;
  ErrorCode e = imaging::Downscale(*picture, width, height, &reduced);
  if (e != err::kNone) return e;
  reduced.setHasAlpha(picture->hasAlpha());
  *picture = std::move(reduced);
  return err::kNone;
}

// --- PDF --------------------------------------------------------------------------

// --- LibreOffice ------------------------------------------------------------------

// A private folder for one conversion, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/norvo-office-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data())) path_ = name.data();
  }
  ~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs `argv` with no input and no output in a process group of its own and
// waits for it at most `timeout_ms`; a run that outlasts it is killed with
// its group. True when it ended by itself with status 0.
bool RunProgram(const std::vector<std::string>& argv, int timeout_ms) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  for (int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return false;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 1));
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(-pid, SIGKILL);  // the group this run started
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The one PNG file a conversion wrote into `folder`, or "".
std::string ConvertedPage(const std::string& folder) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const fs::path& p = entry.path();
    if (entry.is_regular_file(ec) && p.extension() == ".png") return p.string();
  }
  return {};
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

int DocumentPreviewSize(std::uint32_t extension_code) {
  switch (extension_code) {
    case FourCC("PDF "): return 600;
    case FourCC("DOC "):
    case FourCC("DOT "): return 1123;
    case FourCC("XLS "):
    case FourCC("XLT "): return 347;
    case FourCC("PPT "):
    case FourCC("POT "): return 815;
    default: return 800;
  }
}

std::string FindOfficeProgram() {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  for (const char* name : {"soffice", "libreoffice"}) {
    std::string_view rest(path);
    while (true) {
      const std::size_t colon = rest.find(':');
      std::string folder(rest.substr(0, colon));
      if (!folder.empty()) {
        std::string candidate = folder + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return {};
}

bool HavePdfReader() {
  return (plugins::DescribeReaderPlugin(plugins::kDocumentsFamily).features & kNorvoFeaturePdfDocuments) != 0;
}

ErrorCode ReadPdfDocument(const std::string& path, int box, DocumentFacts* facts, imaging::PixelBuffer* picture) {
  *facts = DocumentFacts();
  if (picture) *picture = imaging::PixelBuffer();
  ErrorCode e = CheckFile(path);
  if (e != err::kNone) return e;
  // Without the PDF plug-in there is no page picture, as in a build without
  // Poppler.
  const NorvoReaderPlugin* plugin = plugins::ReaderPlugin(plugins::kDocumentsFamily, kDocumentLayout);
  if (plugin == nullptr || plugin->read_pdf == nullptr) return err::kNoDocumentPicture;
  return plugin->read_pdf(path.c_str(), box, facts, picture);
}

ErrorCode ReadOfficeDocument(const std::string& path, int box, const OfficeConverter& converter,
                             DocumentFacts* facts, imaging::PixelBuffer* picture) {
  *facts = DocumentFacts();
  if (picture) *picture = imaging::PixelBuffer();
  ErrorCode e = CheckFile(path);
  if (e != err::kNone) return e;
  const std::string program = converter.program.empty() ? FindOfficeProgram() : converter.program;
  if (program.empty()) return err::kNoDocumentPicture;
  ScratchFolder scratch;
  if (scratch.path().empty()) return err::kNoDocumentPicture;
  std::error_code ec;
  const std::string file = fs::absolute(path, ec).string();
  if (ec) return err::kNoDocumentPicture;
  // A profile of its own lets conversions run side by side and keeps them
  // away from the user's running LibreOffice.
  const std::vector<std::string> argv = {program,
                                         "--headless",
                                         "--norestore",
                                         "--nologo",
                                         "--nolockcheck",
                                         "-env:UserInstallation=file://" + scratch.path() + "/profile",
                                         "--convert-to",
                                         "png",
                                         "--outdir",
                                         scratch.path(),
                                         file};
  if (!RunProgram(argv, converter.timeout_ms)) return err::kNoDocumentPicture;
  const std::string page = ConvertedPage(scratch.path());
  if (page.empty()) return err::kNoDocumentPicture;

  imaging::DecodedImage decoded;
  e = imaging::ReadStillImage(page, imaging::kFormatPng, 0, &decoded);
  if (e == err::kOutOfMemory) return e;
  if (e != err::kNone || decoded.picture.empty()) return err::kNoDocumentPicture;
  facts->width = decoded.facts.width;
  facts->height = decoded.facts.height;
  facts->resolution = decoded.facts.resolution;
  facts->colour_space = imaging::kColourRgb;
  if (!picture) return err::kNone;
  e = FitPicture(box, &decoded.picture);
  if (e != err::kNone) return e;
  *picture = std::move(decoded.picture);
  return err::kNone;
}

ErrorCode ReadDocument(const std::string& path, int box, DocumentFacts* facts, imaging::PixelBuffer* picture) {
  ErrorCode e = CheckFile(path);
  if (e != err::kNone) {
    *facts = DocumentFacts();
    if (picture) *picture = imaging::PixelBuffer();
    return e;
  }
  if (LooksLikePdf(path)) return ReadPdfDocument(path, box, facts, picture);
  return ReadOfficeDocument(path, box, OfficeConverter{}, facts, picture);
}

}  // namespace norvo::media
