// SPDX-License-Identifier: GPL-3.0-or-later
// The recent-catalog list: up to ten paths, most recent first, kept in the
// settings as "RecentFiles" with the values "Recent1" (newest) to "Recent10".
#pragma once

#include <string>
#include <vector>

#include "app/settings_store.h"

namespace norvo::app {

inline constexpr std::size_t kMaxRecentFiles = 10;
inline constexpr char kRecentFilesKey[] = "RecentFiles";

class RecentFiles {
 public:
  // Puts `path` at the top; an entry already in the list moves up, and the
  // list keeps its ten newest.
  void add(const std::string& path);
  void remove(const std::string& path);
  const std::vector<std::string>& paths() const { return paths_; }

  // Empty values are skipped.
  void load(const SettingsStore& store);
  // Writes "Recent1".."RecentN" and deletes the names past the list's end.
  ErrorCode store(SettingsStore& store) const;

 private:
  std::vector<std::string> paths_;
};

}  // namespace norvo::app
