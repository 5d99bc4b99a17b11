#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs the catalog fuzzer.
#   scripts/fuzz.sh [SECONDS]   (default 600)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-600}

bash scripts/setup.sh fuzz
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNORVO_FUZZ=ON -DNORVO_TESTS=OFF -DNORVO_BENCH=OFF
cmake --build build-fuzz --target catalog_open_fuzz make_catalog_seeds
mkdir -p build-fuzz/corpus/catalog
./build-fuzz/fuzz/make_catalog_seeds build-fuzz/corpus/seeds
./build-fuzz/fuzz/catalog_open_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 build-fuzz/corpus/catalog build-fuzz/corpus/seeds
