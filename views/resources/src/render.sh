#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Redraws the pictures in views/resources from the sources here: the toolbar
# strips (make_toolbar.py, Python's standard library only), the item class
# icons (class-*.svg) and the application icon sizes (../norvo.svg). Needs
# rsvg-convert (Debian: librsvg2-bin). The results are committed, so a build
# never runs this.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$(dirname "$src")"

python3 "$src/make_toolbar.py" "$out"
for class in image movie sound document unknown; do
  rsvg-convert -w 64 -h 64 "$src/class-$class.svg" -o "$out/class-$class.png"
  rsvg-convert -w 128 -h 128 "$src/class-$class.svg" -o "$out/class-$class@2x.png"
done
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$out/norvo.svg" -o "$out/norvo-$size.png"
done
