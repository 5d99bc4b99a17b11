#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end test of the web gallery in a real browser: catalogs copies of the
# test photos under awkward names (spaces, accents, Greek, leading dots,
# quotes, markup, a case-only twin), gives one of them a caption holding a
# script, makes three galleries with norvo-cli (default settings; names,
# captions, frames, fill and a target JPEG size; numbered .html pages on
# 3 x 2 index pages with a photo gone) and has check_gallery.mjs open each
# in headless Chromium. The settings store, the temporary folder and the
# home folder all live in the work folder, and the checker compares a walk
# of it from before each gallery was made with one from after.
# NORVO_KEEP_GALLERY_TEST=1 keeps the work folder for a look afterwards.
#
# Usage: gallery_browser_test.sh NORVO_CLI [TESTDATA_DIR]
# Exit status 0 passed, 1 failed, 77 skipped (no chromium, Node.js,
# playwright-core or sqlite3: scripts/setup.sh installs them).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cli="$(realpath "${1:?usage: gallery_browser_test.sh NORVO_CLI [TESTDATA_DIR]}")"
testdata="${2:-$here/../../../shared/testdata}"
chromium="${NORVO_CHROMIUM:-/usr/bin/chromium}"
readonly kSkip=77
readonly kCaption='<script>alert(1)</script>'

skip() {
  echo "gallery_browser_test: SKIP: $*"
  exit "$kSkip"
}
fail() {
  echo "gallery_browser_test: FAIL: $*" >&2
  exit 1
}

[ -x "$chromium" ] || skip "no Chromium at $chromium"
command -v node >/dev/null 2>&1 || skip "no Node.js"
[ -f "$here/node_modules/playwright-core/package.json" ] || skip "no playwright-core in $here/node_modules"
command -v sqlite3 >/dev/null 2>&1 || skip "no sqlite3, which stores the gallery settings"
[ -d "$testdata/photos" ] || fail "no test photos in $testdata/photos"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/norvo-gallery-browser.XXXXXX")"
[ -n "${NORVO_KEEP_GALLERY_TEST:-}" ] || trap 'rm -rf "$scratch"' EXIT
# Everything the programs may touch lies in $work; the checker's snapshot
# lies beside it, out of the walk.
work="$scratch/work"
snapshot="$scratch/snapshot.json"
mkdir -p "$work/home" "$work/config" "$work/data" "$work/cache" "$work/tmp" "$work/photos"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache" TMPDIR="$work/tmp"

# Copies under names that a careless gallery would turn into broken links,
# markup or files outside its folder. Twenty-one items: two index pages of
# the default 4 x 4.
photos="$testdata/photos"
copy() { cp "$photos/$1" "$work/photos/$2" && chmod u+w "$work/photos/$2"; }
copy Canon_40D.jpg 'Summer beach 2023.jpg'
copy Nikon_D70.jpg 'Café Paris.jpg'
copy Kodak_CX7530.jpg 'Ακρόπολη της Αθήνας.jpg'
copy Konica_Minolta_DiMAGE_Z3.jpg '..evil.jpg'
copy Olympus_C8080WZ.jpg '..%2f..%2fescape.jpg'
copy Pentax_K10D.jpg "it's \"quoted\".jpg"
copy DSCN0010.jpg '<b>bold<b>.jpg'
copy BlueSquare.jpg 'Beach.JPG'
# Its case-only twin sits in a subfolder: import keeps one name per folder
# regardless of case.
mkdir -p "$work/photos/more"
copy long_description.jpg 'more/beach.jpg'
copy Arbitro.tiff 'Scan & 100% done #1.tiff'
copy Canon_40D.jpg 'a name much longer than twenty-six characters, with commas.jpg'
copy Nikon_D70.jpg "caption.jpg"
copy Kodak_CX7530.jpg '?question*star.jpg'
for i in 1 2 3 4 5 6 7 8; do
  copy "orientation/landscape_$i.jpg" "Ünïcödé landscape $i.jpg"
done
items=21
[ "$(find "$work/photos" -type f | wc -l)" -eq "$items" ] || fail "expected $items photo copies"

"$cli" annotate "$work/photos/caption.jpg" "Caption=$kCaption" >/dev/null || fail "annotate failed"

catalog="$work/photos.nrk"
"$cli" new "$catalog" >/dev/null || fail "new failed"
"$cli" import "$catalog" "$work/photos" --jobs 2 >/dev/null || fail "import failed"
listed="$("$cli" list "$catalog" --json | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>console.log(JSON.parse(s).length))')"
[ "$listed" -eq "$items" ] || fail "the catalog holds $listed items, want $items"

# The settings store exists before the first snapshot, so that opening it is
# no change.
"$cli" prefs >/dev/null || fail "prefs failed"
store="$XDG_CONFIG_HOME/Norvo/Media2/settings.db"
[ -f "$store" ] || fail "no settings store at $store"

# Stores a gallery settings record: the defaults, with the changes given as
# offset=byte pairs.
store_gallery_settings() {
  local hex
  hex="$(node - "$@" <<'JS'
const r = Buffer.alloc(628);
r.writeUInt32LE(0x00020001, 0);
r[7] = 1; r.writeInt16LE(96, 8); r[10] = 2; r[13] = 1; r.writeUInt32LE(1, 16);
r.writeInt32LE(4, 84); r.writeInt32LE(4, 88); r[94] = 2; r[95] = 2;
r.writeInt16LE(640, 96); r.writeInt16LE(480, 98);
[[100, 0xFFFF, 0xFFFF, 0xFFFF], [106, 0, 0, 0xFFFF], [112, 0, 0, 0], [118, 0xEEEE, 0xEEEE, 0xEEEE]]
  .forEach(([at, ...rgb]) => rgb.forEach((v, i) => r.writeUInt16LE(v, at + 2 * i)));
r[124] = 1; r[125] = 1; r[127] = 1; r.writeInt32LE(100, 128);
for (const pair of process.argv.slice(2)) {
  const [at, value] = pair.split('=').map(Number);
  if (at === 128) r.writeInt32LE(value, 128); else r[at] = value;
}
process.stdout.write(r.toString('hex'));
JS
)"
  sqlite3 "$store" "INSERT OR REPLACE INTO settings(key_path, value_name, value_type, data)
                    VALUES('Preferences', 'HTMLSettings', 1, X'$hex');" || fail "could not store the gallery settings"
}

# Makes the gallery into $work/NAME with the stored settings, wants the
# export result RESULT (0 done, 1 some files missing) and checks the site.
# Further arguments go to the checker.
check_gallery() {
  local name="$1" want="$2"
  shift 2
  local dest="$work/$name"
  node "$here/check_gallery.mjs" snapshot "$snapshot" "$work"
  local status=0
  "$cli" gallery "$catalog" "$dest" --json >"$scratch/$name.json" 2>"$scratch/$name.err" || status=$?
  gallery_fail() {
    cat "$scratch/$name.err" >&2
    fail "norvo-cli gallery ($name): $*"
  }
  local result
  result="$(node -e 'console.log(JSON.parse(require("fs").readFileSync(process.argv[1], "utf8")).result)' \
              "$scratch/$name.json")" || gallery_fail "no result printed (status $status)"
  [ "$result" = "$want" ] || gallery_fail "result $result, want $want"
  # Done is exit status 0; any other result is a failure, status 1.
  [ "$status" -eq "$(( want == 0 ? 0 : 1 ))" ] || gallery_fail "exit status $status for result $result"
  node "$here/check_gallery.mjs" check "$dest" --snapshot "$snapshot" --items "$items" "$@" ||
    fail "the gallery in $dest ($name) fails the browser checks"
  rm -f "$scratch/$name.json" "$scratch/$name.err"
}

# The defaults: no names or captions on the pages.
check_gallery defaults 0
# File names on the index pages, six fields with the caption on the media
# pages, frames, thumbnails and pictures filling their boxes, and JPEGs
# written down to a target size of 20 KB.
store_gallery_settings 14=1 15=1 92=1 94=3 95=3 11=7 128=20
check_gallery captions 0 --expect-text "$kCaption" --expect-text '<b>bold<b>' --expect-text 'Café Paris' \
  --expect-text "it's \"quoted\"" --expect-text 'Ακρόπολη της Αθήνας' --expect-text 'Ünïcödé landscape 8' \
  --expect-text 'Scan & 100% done #1'
# Pages named by item number with the extension "html", three by two
# thumbnails (four index pages), and a photo gone since the import: its
# thumbnail and picture are the image icon and the result says files are
# missing.
rm "$work/photos/Summer beach 2023.jpg"
store_gallery_settings 4=1 6=2 84=3 88=2 15=1
check_gallery numbered 1 --index index.html --expect-text 'Summer beach 2023.jpg'
echo "gallery_browser_test: passed"
