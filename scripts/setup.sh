#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build and test tools on Debian 12. Does nothing when everything
# is already there; installs only what is missing otherwise (needs root).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# Compilers, build tools and test framework. `setup.sh fuzz` adds clang and
# its runtime libraries, which build the fuzzing targets.
PACKAGES="cmake ninja-build g++ ccache pkg-config libgtest-dev"
# Libraries the program links: settings database, HTTP, Unicode text
# (case folding, normalisation, collation), checksums (zlib), the command
# line's argument parser and JSON (header-only), and the media readers
# (movies, still images, camera raw, PDF).
PACKAGES="$PACKAGES libsqlite3-dev libcurl4-openssl-dev libicu-dev zlib1g-dev"
PACKAGES="$PACKAGES libcli11-dev nlohmann-json3-dev"
PACKAGES="$PACKAGES libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev"
PACKAGES="$PACKAGES libjpeg62-turbo-dev libpng-dev libtiff-dev libwebp-dev libheif-dev libgif-dev libraw-dev"
PACKAGES="$PACKAGES libpoppler-cpp-dev libexempi-dev"
# Peers the tests and benchmarks compare against: metadata readers, the
# thumbnail makers and decoders, and the movie tools.
PACKAGES="$PACKAGES libimage-exiftool-perl exiv2"
PACKAGES="$PACKAGES libvips-tools libjpeg-turbo-progs ffmpeg ffmpegthumbnailer"
# Disc backups: ISO images and burning (xorriso; osirrox reads images back in the tests).
PACKAGES="$PACKAGES xorriso"
# Cameras: libgphoto2 (and libudev, which tells the desktop program of a camera
# plugged in or out); gphoto2 is the camera tests' and benchmark's peer.
PACKAGES="$PACKAGES libgphoto2-dev libudev-dev gphoto2"
# Printing: a CUPS scheduler and the cups-pdf queue the print test prints
# through; Poppler's tools read the PDFs back.
PACKAGES="$PACKAGES cups printer-driver-cups-pdf poppler-utils"
# The desktop program (Qt 6 Widgets, multimedia, SVG icons, the platform and
# image format plugins) and what its tests need: a virtual X display, window
# screenshots, simulated input and window inspection, and the tools that
# register the catalog file type and the menu entry.
PACKAGES="$PACKAGES qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev"
PACKAGES="$PACKAGES qt6-qpa-plugins qt6-image-formats-plugins libgl-dev"
PACKAGES="$PACKAGES xvfb xauth imagemagick xdotool x11-utils shared-mime-info desktop-file-utils"
# Playing movies and sounds in the media view: GStreamer, which Qt Multimedia uses.
PACKAGES="$PACKAGES gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav"
# The browser that opens generated web galleries in the browser test, and
# the SQLite shell that test stores its gallery settings with.
PACKAGES="$PACKAGES chromium sqlite3"
# Node.js and npm drive it; a Node.js already on the machine is used as it is.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  PACKAGES="$PACKAGES nodejs npm"
fi
if [ "${1:-}" = fuzz ]; then
  PACKAGES="$PACKAGES clang libclang-rt-14-dev"
fi

export DEBIAN_FRONTEND=noninteractive

# The browser test's driver, the version pinned in tests/browser (its own
# browser download is never run: the test uses Debian's chromium).
install_browser_driver() {
  local dir=tests/browser
  local want
  want=$(sed -n 's/.*"playwright-core": *"\([^"]*\)".*/\1/p' "$dir/package.json")
  if [ -f "$dir/node_modules/playwright-core/package.json" ] &&
     grep -q "\"version\": *\"$want\"" "$dir/node_modules/playwright-core/package.json"; then
    return 0
  fi
  if ! command -v npm >/dev/null 2>&1; then
    echo "setup.sh: npm is missing; the browser test will be skipped" >&2
    return 0
  fi
  echo "setup.sh: installing playwright-core $want into $dir"
  (cd "$dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts)
}

missing=()
for package in $PACKAGES; do
  # Read whole, not through a pipe: grep -q stopping early would fail the
  # pipe under pipefail and count an installed package as missing.
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  if [ "$status" != "install ok installed" ]; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  install_browser_driver
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: missing packages: ${missing[*]}" >&2
  echo "setup.sh: run as root to install them, or: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "setup.sh: installing ${missing[*]}"
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
install_browser_driver
