// SPDX-License-Identifier: GPL-3.0-or-later
// A shared module opened with dlopen. Modules stay loaded until the process
// ends: the media libraries they bring register codecs, threads and atexit
// handlers that do not survive being unloaded, so the handle is never closed.
#pragma once

#include <string>

#include "platform/error_codes.h"

namespace norvo::plugins {

class PluginModule {
 public:
  // Opens the module at `path` with every symbol bound now (a module with a
  // missing dependency fails here, not at its first call). A bare file name
  // (a system library's soname, "libcurl.so.4") is searched for as the
  // dynamic loader searches. On failure the result is err::kFileNotFound for a path that is
  // not there, else err::kNoReaderForFormat, and `error` holds the loader's own text (dlerror).
  static ErrorCode Open(const std::string& path, PluginModule* out, std::string* error);

  bool isOpen() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null (with `error` set).
  void* symbol(const char* name, std::string* error) const;

 private:
  void* handle_ = nullptr;
};

// The folder of the running executable (from /proc/self/exe), or "".
std::string ExecutableFolder();

}  // namespace norvo::plugins
