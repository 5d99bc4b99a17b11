// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/plugin_module.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace norvo::plugins {
namespace {

// dlerror's text is per thread but is cleared by the next dl* call; the
// pair (call, dlerror) is made atomic so that two threads loading at once
// cannot read each other's message.
std::mutex& LoaderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string LastLoaderError() {
  const char* text = ::dlerror();
  return text ? std::string(text) : std::string("unknown loader error");
}

}  // namespace

ErrorCode PluginModule::Open(const std::string& path, PluginModule* out, std::string* error) {
  *out = PluginModule();
  struct stat st {};
  if (path.find('/') != std::string::npos && ::stat(path.c_str(), &st) != 0) {
    const ErrorCode e = ErrorFromErrno(errno);
    if (error) *error = path + ": no such module";
    return e;
  }
  std::lock_guard lock(LoaderMutex());
  // RTLD_LOCAL: a module's library symbols stay its own, so two modules (or
  // the program) bringing different helpers of one name cannot cross.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error) *error = LastLoaderError();
    return err::kNoReaderForFormat;
  }
  out->handle_ = handle;
  return err::kNone;
}

void* PluginModule::symbol(const char* name, std::string* error) const {
  if (handle_ == nullptr) {
    if (error) *error = "module not open";
    return nullptr;
  }
  std::lock_guard lock(LoaderMutex());
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  if (address == nullptr && error) *error = LastLoaderError();
  return address;
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  std::string path(buffer.data(), static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace norvo::plugins
