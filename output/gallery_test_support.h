// SPDX-License-Identifier: GPL-3.0-or-later
// What the gallery tests share: golden pages compared byte for byte. Run a
// test with NORVO_UPDATE_GOLDEN=1 to write the files afresh (then read the
// difference before committing it).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace norvo::output::testing {

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void ExpectGolden(const std::string& name, std::string_view actual) {
  const std::filesystem::path path = std::filesystem::path(NORVO_GOLDEN_DIR) / name;
  if (const char* update = std::getenv("NORVO_UPDATE_GOLDEN"); update != nullptr && *update == '1') {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(std::filesystem::exists(path)) << path << " is missing; run with NORVO_UPDATE_GOLDEN=1";
  EXPECT_EQ(ReadText(path), actual) << "differs from " << path;
}

}  // namespace norvo::output::testing
