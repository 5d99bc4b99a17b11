#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the command-line tool, makes a small media folder and catalogs it:
# a new catalog, the folder imported and scanned (facts, thumbnails,
# metadata), a thumbnail written out, annotations written into a copy of a
# photo, then the catalog's summary and item list as JSON.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target norvo-cli

cli=build/cli/norvo-cli
demo=build/demo
media=$demo/media
catalog=$demo/demo.nrk

rm -rf "$media"
mkdir -p "$media"

# A 2x2 colour picture as binary PPM.
printf 'P6\n2 2\n255\n\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff\xff\xff' > "$media/squares.ppm"
# A 2x2 24-bit BMP: 14-byte file header, 40-byte info header, two rows of
# 2 pixels (6 bytes) padded to 8, stored bottom row first.
{
  printf 'BM\x46\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00'
  printf '\x28\x00\x00\x00\x02\x00\x00\x00\x02\x00\x00\x00\x01\x00\x18\x00'
  printf '\x00\x00\x00\x00\x10\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\xff\x00\x00\x00\xff\x00\x00\x00'
  printf '\x00\x00\xff\xff\xff\xff\x00\x00'
} > "$media/squares.bmp"
printf 'Norvo Media demo folder.\nEvery file here was added to demo.nrk.\n' > "$media/readme.txt"
printf '# Notes\n\n- made by scripts/demo.sh\n' > "$media/notes.md"

photos=../shared/testdata/photos
if [ -d "$photos" ]; then
  cp -r "$photos"/. "$media/"
  chmod -R u+w "$media"
fi
# A short movie and a sound, when the ffmpeg tool is there.
if command -v ffmpeg > /dev/null; then
  ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=10 -f lavfi -i sine=frequency=440 \
    -t 3 -c:v mpeg4 -c:a mp2 "$media/clip.mp4"
  ffmpeg -loglevel error -y -f lavfi -i sine=frequency=660 -t 2 "$media/tone.wav"
fi

rm -f "$catalog"
"$cli" new "$catalog"
"$cli" import "$catalog" "$media"
"$cli" check "$catalog"
if [ -e "$media/DSCN0010.jpg" ]; then
  "$cli" annotate "$media/DSCN0010.jpg" "Keywords=demo; tree" "Caption=Written by the demo"
  "$cli" metadata "$media/DSCN0010.jpg"
fi
"$cli" thumbnail "$catalog" 1 "$demo/thumbnail-1.jpg"
echo "thumbnail of item 1: $demo/thumbnail-1.jpg"
"$cli" info "$catalog"
"$cli" list "$catalog"
