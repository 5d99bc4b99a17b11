#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints a contact sheet through a real CUPS queue: norvo-cli print --printer
# sends the pages to a cups-pdf queue, and the PDF that cups-pdf writes is
# read back with pdfinfo and pdfimages. Starts cupsd when it is not running
# (and stops it afterwards), adds the queue NorvoPDF when it is missing (and
# removes it afterwards). Exit status 77 (skipped) when CUPS, cups-pdf or
# Poppler's tools are missing or cupsd cannot be started.
#
# usage: print_cups_test.sh NORVO_CLI TESTDATA_DIR
set -u
cli=$1
photos=$2/photos
queue=NorvoPDF

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

for tool in cupsd lpadmin lpinfo lpstat lp pdfinfo pdfimages; do
  command -v "$tool" >/dev/null 2>&1 || PATH=$PATH:/usr/sbin command -v "$tool" >/dev/null 2>&1 ||
    skip "$tool is not installed (Debian: cups, printer-driver-cups-pdf, poppler-utils)"
done
export PATH=$PATH:/usr/sbin
[ -e /usr/lib/cups/backend/cups-pdf ] || skip "the cups-pdf backend is not installed (printer-driver-cups-pdf)"

work=$(mktemp -d "${TMPDIR:-/tmp}/norvo-cups-XXXXXX")
cupsd_pid=
added_queue=
out_file=
cleanup() {
  [ -n "$out_file" ] && rm -f "$out_file"
  [ -n "$added_queue" ] && lpadmin -x "$queue" 2>/dev/null
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The scheduler: the running one, else one started here in the foreground,
# so that it can be stopped by its own process id.
if ! lpstat -r 2>/dev/null | grep -q "is running"; then
  [ "$(id -u)" = 0 ] || skip "cupsd is not running, and only root can start it"
  cupsd -f >"$work/cupsd.log" 2>&1 &
  cupsd_pid=$!
  for _ in $(seq 50); do
    lpstat -r 2>/dev/null | grep -q "is running" && break
    kill -0 "$cupsd_pid" 2>/dev/null || break
    sleep 0.2
  done
  lpstat -r 2>/dev/null | grep -q "is running" || skip "cupsd could not be started: $(tail -3 "$work/cupsd.log")"
fi

if ! lpstat -p "$queue" >/dev/null 2>&1; then
  model=$(lpinfo -m 2>/dev/null | grep -i 'cups-pdf' | head -1 | cut -d' ' -f1)
  [ -n "$model" ] || skip "lpinfo -m lists no cups-pdf model"
  lpadmin -p "$queue" -E -v cups-pdf:/ -m "$model" 2>"$work/lpadmin.log" ||
    skip "lpadmin could not add the queue: $(cat "$work/lpadmin.log")"
  added_queue=1
fi

# Where cups-pdf writes: the Out setting of its configuration, with ${HOME}
# the home of the user the job runs for.
home=$(getent passwd "$(id -un)" | cut -d: -f6)
out_dir=$(sed -n 's/^[[:space:]]*Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf 2>/dev/null | tail -1)
[ -n "$out_dir" ] || out_dir='${HOME}/PDF'
out_dir=${out_dir//\$\{HOME\}/$home}

# A catalog of four photos, with a name no other job has.
export TMPDIR=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/data
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
name=norvocups$$
catalog=$work/$name.nrk
"$cli" new "$catalog" >/dev/null || fail "new"
"$cli" add "$catalog" "$photos/DSCN0010.jpg" "$photos/Canon_40D.jpg" "$photos/Nikon_D70.jpg" \
  "$photos/Pentax_K10D.jpg" "$photos/Kodak_CX7530.jpg" >/dev/null || fail "add"
"$cli" scan "$catalog" >/dev/null || fail "scan"

started=$(date +%s)
result=$("$cli" print "$catalog" --printer "$queue" --layout contact --grid 2x2 --header "Page &p of &n" --json) ||
  fail "norvo-cli print --printer failed"
job=$(echo "$result" | sed -n 's/.*request id is \([^ ]*\).*/\1/p')
[ -n "$job" ] || fail "no job id in: $result"
echo "sent $job"

# The job completes, then cups-pdf's file appears, named after the title.
for _ in $(seq 120); do
  lpstat -W completed -o "$queue" 2>/dev/null | grep -q "^$job " && break
  sleep 0.5
done
lpstat -W completed -o "$queue" 2>/dev/null | grep -q "^$job " || fail "job $job did not complete: $(lpstat -o "$queue")"
for _ in $(seq 60); do
  out_file=$(find "$out_dir" -maxdepth 1 -name "$name*.pdf" -newermt "@$((started - 1))" 2>/dev/null | head -1)
  [ -n "$out_file" ] && break
  sleep 0.5
done
[ -n "$out_file" ] || fail "cups-pdf wrote no $name*.pdf into $out_dir"
echo "cups-pdf wrote $out_file"

pages=$(pdfinfo "$out_file" | sed -n 's/^Pages:[[:space:]]*//p')
[ "$pages" = 2 ] || fail "expected 2 pages, got '$pages'"
# cups-pdf's Ghostscript turns the text into Type 3 glyphs that carry no
# characters, so the pictures are what is counted: four cells, then one.
per_page=$(pdfimages -list "$out_file" 2>/dev/null | awk 'NR > 2 && $3 == "image" { n[$1]++ } END { print n[1] + 0, n[2] + 0 }')
[ "$per_page" = "4 1" ] || fail "expected 4 and 1 pictures on the pages, got '$per_page'"
echo "PASS"
