// SPDX-License-Identifier: GPL-3.0-or-later
// Camera-sized JPEGs for the benchmarks that scan photos: the test photos
// are small, so a few are enlarged with vips and given a little noise, so
// that they compress like camera files (1.5 to 3.5 MB, EXIF kept), and the
// wanted number of files is made as copies of them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace norvo::bench {

namespace fs = std::filesystem;

inline void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// A camera-sized JPEG from a small test photo: enlarged, noise added.
inline void MakeLargePhoto(const fs::path& source, double scale, const fs::path& out, const fs::path& work) {
  const std::string w = work.string();
  Shell("vips resize '" + source.string() + "' '" + w + "/r.v' " + std::to_string(scale));
  std::string size = "$(vipsheader -f width '" + w + "/r.v') $(vipsheader -f height '" + w + "/r.v')";
  Shell("vips gaussnoise '" + w + "/n.v' " + size + " --sigma 6 --mean 0");
  Shell("vips bandjoin '" + w + "/n.v " + w + "/n.v " + w + "/n.v' '" + w + "/n3.v'");
  Shell("vips add '" + w + "/r.v' '" + w + "/n3.v' '" + w + "/s.v'");
  Shell("vips cast '" + w + "/s.v' '" + out.string() + "[Q=92]' uchar");
  fs::remove(work / "r.v");
  fs::remove(work / "n.v");
  fs::remove(work / "n3.v");
  fs::remove(work / "s.v");
}

inline std::vector<std::string> MakePhotos(const fs::path& dir, int count) {
  const fs::path photos = fs::path(NORVO_TESTDATA_DIR) / "photos";
  struct Base {
    const char* name;
    double scale;
  };
  const Base bases[] = {{"DSCN0010.jpg", 4.0}, {"DSCN0010.jpg", 5.0}, {"image00971.jpg", 5.5},
                        {"orientation/landscape_6.jpg", 5.0}};
  fs::create_directories(dir / "bases");
  std::vector<fs::path> made;
  for (std::size_t i = 0; i < std::size(bases); ++i) {
    fs::path out = dir / "bases" / ("base" + std::to_string(i) + ".jpg");
    if (!fs::exists(out)) MakeLargePhoto(photos / bases[i].name, bases[i].scale, out, dir / "bases");
    made.push_back(out);
  }
  fs::create_directories(dir / "photos");
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
    fs::path to = dir / "photos" / name;
    fs::copy_file(made[static_cast<std::size_t>(i) % made.size()], to, fs::copy_options::overwrite_existing);
    files.push_back(to.string());
  }
  return files;
}

}  // namespace norvo::bench
