#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Shows that check_gallery.mjs passes a sound gallery and catches each fault
# it is there for: a hand-made gallery (fake_gallery.mjs) is checked once as
# it should be and once with each fault, and the checker must name the fault.
#
# Usage: checker_selftest.sh [TESTDATA_DIR]
# Exit status 0 passed, 1 failed, 77 skipped (no chromium, Node.js or
# playwright-core).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
testdata="${1:-$here/../../../shared/testdata}"
chromium="${NORVO_CHROMIUM:-/usr/bin/chromium}"
readonly kSkip=77

[ -x "$chromium" ] || { echo "checker_selftest: SKIP: no Chromium at $chromium"; exit "$kSkip"; }
command -v node >/dev/null 2>&1 || { echo "checker_selftest: SKIP: no Node.js"; exit "$kSkip"; }
[ -f "$here/node_modules/playwright-core/package.json" ] ||
  { echo "checker_selftest: SKIP: no playwright-core in $here/node_modules"; exit "$kSkip"; }
picture="$testdata/photos/Canon_40D.jpg"
[ -f "$picture" ] || { echo "checker_selftest: FAIL: no $picture" >&2; exit 1; }

scratch="$(mktemp -d "${TMPDIR:-/tmp}/norvo-checker-selftest.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
work="$scratch/work"
mkdir -p "$work"

# fault|what the checker must say|...
cases=(
  ""
  "bad-next|\"next\" from source/photo_2.htm leads to source/photo_5.htm, want source/photo_3.htm"
  "raw-caption|a dialog opened: alert \"1\"|no page shows the text \"<script>alert(1)</script>\""
  "missing-image|image \"image/missing.jpg\" does not load"
  "empty-image|image \"image/photo_2.jpg\" does not load"
  "wrong-size|image \"image/photo_4.jpg\" is 100 x 68 but the page shows it at 640 x 480"
  "link-outside|href=\"../elsewhere.htm\" points outside the gallery folder"
  "write-outside|a file was written outside the gallery: $work/..evil.jpg"
  "lost-index|index page index2.htm is not reached from the page list|the index pages show 4 thumbnails linking to media pages, want 6"
)

failures=0
for entry in "${cases[@]}"; do
  IFS='|' read -r -a wants <<<"$entry"
  fault="${wants[0]:-}"
  rm -rf "$work" && mkdir -p "$work"
  node "$here/check_gallery.mjs" snapshot "$scratch/snapshot.json" "$work"
  node "$here/fake_gallery.mjs" "$work/site" "$picture" "$fault"
  status=0
  output="$(node "$here/check_gallery.mjs" check "$work/site" --snapshot "$scratch/snapshot.json" --items 6 \
              --expect-text '<script>alert(1)</script>' 2>&1)" || status=$?
  if [ -z "$fault" ]; then
    if [ "$status" -ne 0 ]; then
      echo "checker_selftest: FAIL: the sound gallery was refused (status $status):" >&2
      echo "$output" >&2
      failures=$((failures + 1))
    fi
    continue
  fi
  for want in "${wants[@]:1}"; do
    if [ "$status" -ne 1 ] || ! grep -qF -- "$want" <<<"$output"; then
      echo "checker_selftest: FAIL: fault $fault: want status 1 and \"$want\", got status $status:" >&2
      echo "$output" >&2
      failures=$((failures + 1))
    fi
  done
done
if [ "$failures" -ne 0 ]; then
  echo "checker_selftest: $failures of ${#cases[@]} cases failed" >&2
  exit 1
fi
echo "checker_selftest: ${#cases[@]} cases passed"
