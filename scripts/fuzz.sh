#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [SECONDS] [TARGET]   (default: 600 seconds, every target)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-600}
only=${2:-}

bash scripts/setup.sh fuzz
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNORVO_FUZZ=ON -DNORVO_TESTS=OFF -DNORVO_BENCH=OFF
cmake --build build-fuzz

# Seeds: catalogs written by the engine; start-up inputs written here.
./build-fuzz/fuzz/make_catalog_seeds build-fuzz/corpus/seeds
mkdir -p build-fuzz/corpus/catalog build-fuzz/corpus/settings
printf '# builds\nNorvoMediaLin 16500 16000 2.1 beta\n' > build-fuzz/corpus/settings/reply
printf 'norvo "/a b/c.NRK" d.jpg' > build-fuzz/corpus/settings/cmdline
printf '<html><body>%%PDF-1.4 {QTtext}' > build-fuzz/corpus/settings/sniff

# ASan returning freed memory to the system (madvise) can stall a run for
# seconds on a busy machine and be reported as a timeout; keep it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_release_to_os_interval_ms=-1}
# The readers that live in plug-ins are opened before the run starts, so
# their code is instrumented and counted from the first input.
export NORVO_PRELOAD_PLUGINS=1

run() {
  local target=$1; shift
  if [ -z "$only" ] || [ "$only" = "$target" ]; then
    "./build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 "$@"
  fi
}
run catalog_open_fuzz -max_len=65536 build-fuzz/corpus/catalog build-fuzz/corpus/seeds
run settings_inputs_fuzz -max_len=8192 build-fuzz/corpus/settings
# The sample photos seed the metadata readers.
mkdir -p build-fuzz/corpus/exif build-fuzz/corpus/annotation
cp ../shared/testdata/photos/*.jpg ../shared/testdata/photos/*.tiff build-fuzz/corpus/exif/ 2>/dev/null || true
run exif_fuzz -max_len=200000 build-fuzz/corpus/exif fuzz/regressions/exif
run annotation_fuzz -max_len=65536 build-fuzz/corpus/annotation build-fuzz/corpus/exif fuzz/regressions/annotation
mkdir -p build-fuzz/corpus/image
cp ../shared/testdata/photos/*.jpg ../shared/testdata/photos/*.tiff build-fuzz/corpus/image/ 2>/dev/null || true
run image_reader_fuzz -max_len=300000 build-fuzz/corpus/image fuzz/regressions/image
mkdir -p build-fuzz/corpus/movie build-fuzz/corpus/movie-seeds
./build-fuzz/fuzz/make_movie_seeds build-fuzz/corpus/movie-seeds
run movie_reader_fuzz -max_len=65536 build-fuzz/corpus/movie build-fuzz/corpus/movie-seeds
