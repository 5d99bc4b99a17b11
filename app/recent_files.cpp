// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/recent_files.h"

#include <algorithm>

namespace norvo::app {
namespace {

std::string ValueName(std::size_t index) { return "Recent" + std::to_string(index + 1); }

}  // namespace

void RecentFiles::add(const std::string& path) {
  if (path.empty()) return;
  remove(path);
  paths_.insert(paths_.begin(), path);
  if (paths_.size() > kMaxRecentFiles) paths_.resize(kMaxRecentFiles);
}

void RecentFiles::remove(const std::string& path) {
  paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
}

void RecentFiles::load(const SettingsStore& store) {
  paths_.clear();
  for (std::size_t i = 0; i < kMaxRecentFiles; ++i) {
    auto value = store.getString(kRecentFilesKey, ValueName(i));
    if (value && !value->empty() && std::find(paths_.begin(), paths_.end(), *value) == paths_.end()) {
      paths_.push_back(*value);
    }
  }
}

ErrorCode RecentFiles::store(SettingsStore& store) const {
  ErrorCode result = err::kNone;
  for (std::size_t i = 0; i < kMaxRecentFiles; ++i) {
    ErrorCode e = i < paths_.size() ? store.putString(kRecentFilesKey, ValueName(i), paths_[i])
                                    : store.deleteValue(kRecentFilesKey, ValueName(i));
    if (e != err::kNone && e != err::kFileNotFound && result == err::kNone) result = e;
  }
  return result;
}

}  // namespace norvo::app
