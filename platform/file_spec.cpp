// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_spec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/text_encoding.h"

namespace norvo {

std::string ParentFolder(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LeafName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& leaf) {
  if (folder.empty()) return leaf;
  if (folder.back() == '/') return folder + leaf;
  return folder + "/" + leaf;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

ErrorCode CheckRegularFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return ErrorFromErrno(errno);
  return S_ISREG(st.st_mode) ? err::kNone : err::kNotAFile;
}

std::string LexicallyNormalPath(const std::string& absolute) {
  std::string normal = std::filesystem::path(absolute).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal.empty() ? std::string("/") : normal;
}

ErrorCode MakeFileSpec(const std::string& path, FileSpec& out) {
  out = FileSpec{};
  if (path.empty()) return err::kBadName;
  std::string absolute = path;
  if (path.front() != '/') {
    std::string cwd(4096, '\0');
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return ErrorFromErrno(errno);
    cwd.resize(cwd.find('\0'));
    absolute = JoinPath(cwd, path);
  }
  // Stored paths are lexically normal: "./x.jpg" and "x.jpg" name one file,
  // and "sub/../a.jpg" does not depend on "sub" staying there.
  absolute = LexicallyNormalPath(absolute);
  out.path = absolute;
  std::string name = Utf8ToWindows1252(LeafName(absolute));
  if (name.size() > kMaxPStringLength) name.resize(kMaxPStringLength);
  out.name = name;
  struct stat folder_stat {};
  if (::stat(ParentFolder(absolute).c_str(), &folder_stat) == 0) {
    out.volume = static_cast<std::int16_t>(folder_stat.st_dev & 0x7FFF);
    out.folder = static_cast<std::int32_t>(folder_stat.st_ino & 0x7FFFFFFF);
  } else {
    return err::kFolderNotFound == ErrorFromErrno(errno) ? err::kFolderNotFound : err::kFileNotFound;
  }
  return FileExists(absolute) ? err::kNone : err::kFileNotFound;
}

}  // namespace norvo
