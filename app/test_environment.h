// SPDX-License-Identifier: GPL-3.0-or-later
// For tests: a temporary folder with the XDG folders, HOME and TMPDIR
// pointed into it, so that settings, runtime objects and scratch files never
// touch the real ones. Everything is put back, and the folder removed, when
// the environment goes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace norvo::app::testing {

class IsolatedEnvironment {
 public:
  explicit IsolatedEnvironment(const std::string& tag) {
    namespace fs = std::filesystem;
    std::string templ = (fs::temp_directory_path() / ("norvo-" + tag + "-XXXXXX")).string();
    if (::mkdtemp(templ.data()) == nullptr) {
      ADD_FAILURE() << "no temporary folder";
      return;
    }
    root_ = templ;
    for (const char* leaf : {"/config", "/xdg", "/run", "/home", "/data", "/tmp"}) fs::create_directories(root_ + leaf);
    fs::permissions(root_ + "/run", fs::perms::owner_all);
    for (auto [name, leaf] : {std::pair{"XDG_CONFIG_HOME", "/config"}, std::pair{"XDG_CONFIG_DIRS", "/xdg"},
                              std::pair{"XDG_RUNTIME_DIR", "/run"}, std::pair{"HOME", "/home"},
                              std::pair{"XDG_DATA_HOME", "/data"}, std::pair{"TMPDIR", "/tmp"}}) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(name, (root_ + leaf).c_str(), 1);
    }
  }
  ~IsolatedEnvironment() {
    for (const auto& [name, old] : saved_) old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str());
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  IsolatedEnvironment(const IsolatedEnvironment&) = delete;
  IsolatedEnvironment& operator=(const IsolatedEnvironment&) = delete;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace norvo::app::testing
