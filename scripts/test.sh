#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything and runs all tests.
#   scripts/test.sh              optimised build with debug info, in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build, in build-asan/
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_dir=build
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "${1:-}" in
  "") ;;
  --sanitize)
    build_dir=build-asan
    cmake_args+=(-DNORVO_SANITIZE=ON -DNORVO_BENCH=OFF)
    ;;
  *)
    echo "usage: $0 [--sanitize]" >&2
    exit 2
    ;;
esac

bash scripts/setup.sh
# Paths below this folder count as relative for ccache: a clone elsewhere
# reuses what an earlier build cached.
export CCACHE_BASEDIR="$PWD"
cmake -S . -B "$build_dir" -G Ninja "${cmake_args[@]}"
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j2
