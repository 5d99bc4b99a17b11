#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the desktop program on the demo catalog: runs scripts/demo.sh (which
# sets up the machine, builds the command line and makes build/demo/demo.nrk
# from a folder of photos), builds `norvo` and opens the catalog in it.
# Without a display (no $DISPLAY or $WAYLAND_DISPLAY) it runs on a virtual X
# server and saves a screenshot to build/demo/norvo.png instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/demo.sh > /dev/null
export CCACHE_BASEDIR="$PWD"
cmake --build build --target norvo
catalog=build/demo/demo.nrk

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/views/norvo "$catalog"
fi
xvfb-run -a -s "-screen 0 1400x900x24" bash -c '
  build/views/norvo "$1" & pid=$!
  sleep 5
  import -window root build/demo/norvo.png
  kill $pid' _ "$catalog"
echo "No display: the window was drawn on a virtual screen, see build/demo/norvo.png"
